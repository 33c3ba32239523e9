// The shared test helpers behave as the other tests rely on.
#include "messageboxrecorder.h"
#include "scratchdirectory.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

class TestShellSupport : public QObject
{
    Q_OBJECT

private slots:
    void recorderClosesModalBoxesAndRecordsThem_data();
    void recorderClosesModalBoxesAndRecordsThem();
    void recorderAnswersWithTheChosenButton();
    void recorderSeesBoxesOpenedLaterFromTheEventLoop();
    void recorderRecordsNothingWhenNoBoxAppears();
    void scratchDirectoryIsEmptyCurrentAndRestored();
};

void TestShellSupport::recorderClosesModalBoxesAndRecordsThem_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("warning") << int(QMessageBox::Warning);
    QTest::newRow("critical") << int(QMessageBox::Critical);
    QTest::newRow("information") << int(QMessageBox::Information);
}

void TestShellSupport::recorderClosesModalBoxesAndRecordsThem()
{
    QFETCH(int, kind);
    MessageBoxRecorder boxes;
    const QString title = QStringLiteral("Title %1").arg(kind);
    const QString text = QStringLiteral("说明 %1").arg(kind);
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    switch (QMessageBox::Icon(kind)) {
    case QMessageBox::Warning:
        answer = QMessageBox::warning(nullptr, title, text);
        break;
    case QMessageBox::Critical:
        answer = QMessageBox::critical(nullptr, title, text);
        break;
    default:
        answer = QMessageBox::information(nullptr, title, text);
        break;
    }
    QCOMPARE(answer, QMessageBox::Ok);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, title);
    QCOMPARE(boxes.last().text, text);
    QCOMPARE(int(boxes.last().kind), kind);
}

void TestShellSupport::recorderAnswersWithTheChosenButton()
{
    MessageBoxRecorder boxes;
    boxes.setAnswer(QMessageBox::No);
    const auto answer = QMessageBox::question(nullptr, QStringLiteral("Q"), QStringLiteral("Go on?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    QCOMPARE(answer, QMessageBox::No);
    QCOMPARE(boxes.last().kind, QMessageBox::Question);
}

void TestShellSupport::recorderSeesBoxesOpenedLaterFromTheEventLoop()
{
    MessageBoxRecorder boxes;
    QTimer::singleShot(50,
                       [] { QMessageBox::warning(nullptr, QStringLiteral("A"), QStringLiteral("first")); });
    QTimer::singleShot(100,
                       [] { QMessageBox::critical(nullptr, QStringLiteral("B"), QStringLiteral("second")); });
    QVERIFY(boxes.waitForCount(2));
    QCOMPARE(boxes.texts(), (QStringList{"first", "second"}));
    QCOMPARE(boxes.records().at(0).kind, QMessageBox::Warning);
    QCOMPARE(boxes.records().at(1).kind, QMessageBox::Critical);
    boxes.clear();
    QVERIFY(boxes.isEmpty());
}

void TestShellSupport::recorderRecordsNothingWhenNoBoxAppears()
{
    MessageBoxRecorder boxes;
    QVERIFY(!boxes.waitForCount(1, 100));
    QVERIFY(boxes.isEmpty());
    QCOMPARE(boxes.last().kind, QMessageBox::NoIcon);
}

void TestShellSupport::scratchDirectoryIsEmptyCurrentAndRestored()
{
    const QString before = QDir::currentPath();
    QString inside;
    {
        ScratchDirectory scratch;
        QVERIFY(scratch.isValid());
        inside = QDir::currentPath();
        QCOMPARE(QDir(inside).canonicalPath(), QDir(scratch.path()).canonicalPath());
        QVERIFY(QDir(inside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        QFile file(QStringLiteral("setting.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFile::exists(scratch.filePath(QStringLiteral("setting.ini"))));
    }
    QCOMPARE(QDir::currentPath(), before);
    QVERIFY(!QDir(inside).exists());
}

QTEST_MAIN(TestShellSupport)
#include "tst_shell_support.moc"
