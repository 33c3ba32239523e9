// The about box and the build stamp it prints.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "buildinfo.h"
#include "scratchdirectory.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <memory>

class TestAbout : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void compilerDateTextIsReadWithTwoDigitDay_data();
    void compilerDateTextIsReadWithTwoDigitDay();
    void unreadableDateTextGivesNoDate_data();
    void unreadableDateTextGivesNoDate();
    void buildLineJoinsDateAndTimeWithoutBlank_data();
    void buildLineJoinsDateAndTimeWithoutBlank();
    void buildStampOfThisProgramIsValid();
    void boxShowsLogoProductAndBuildLine();
    void aboutActionShowsTheSameInstanceEachTime();
    void closeButtonHidesButKeepsTheBox();
    void aboutBoxIsNotModal();
};

void TestAbout::compilerDateTextIsReadWithTwoDigitDay_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("expected");
    QTest::newRow("one-digit day padded by a blank") << "Apr  5 2026" << QDate(2026, 4, 5);
    QTest::newRow("first of the month") << "Jan  1 2027" << QDate(2027, 1, 1);
    QTest::newRow("two-digit day") << "Apr 28 2026" << QDate(2026, 4, 28);
    QTest::newRow("end of year") << "Dec 31 1999" << QDate(1999, 12, 31);
    QTest::newRow("september") << "Sep  9 2030" << QDate(2030, 9, 9);
}

void TestAbout::compilerDateTextIsReadWithTwoDigitDay()
{
    QFETCH(QString, text);
    QFETCH(QDate, expected);
    // Month names must stay English whatever locale the user runs.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QDate date = BuildInfo::parseBuildDate(text);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(date, expected);
}

void TestAbout::unreadableDateTextGivesNoDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("numeric month") << "04 28 2026";
    QTest::newRow("no such day") << "Feb 30 2026";
}

void TestAbout::unreadableDateTextGivesNoDate()
{
    QFETCH(QString, text);
    QVERIFY(!BuildInfo::parseBuildDate(text).isValid());
}

void TestAbout::buildLineJoinsDateAndTimeWithoutBlank_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("line");
    QTest::newRow("example") << "Apr 28 2026"
                             << "11:18:39"
                             << "Build:20260428111839";
    QTest::newRow("one-digit day") << "Apr  5 2026"
                                   << "11:18:39"
                                   << "Build:20260405111839";
    QTest::newRow("midnight") << "Jan  1 2027"
                              << "00:00:00"
                              << "Build:20270101000000";
    QTest::newRow("evening") << "Nov 30 2025"
                             << "23:59:07"
                             << "Build:20251130235907";
}

void TestAbout::buildLineJoinsDateAndTimeWithoutBlank()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, line);
    QCOMPARE(BuildInfo::buildLine(BuildInfo::parseBuildDate(date), BuildInfo::parseBuildTime(time)), line);
}

void TestAbout::buildStampOfThisProgramIsValid()
{
    QVERIFY(BuildInfo::buildDate().isValid());
    QVERIFY(BuildInfo::buildTime().isValid());
    QVERIFY(BuildInfo::buildDate() <= QDate::currentDate());
    QVERIFY(BuildInfo::buildDate().year() >= 2024);
}

void TestAbout::boxShowsLogoProductAndBuildLine()
{
    AboutDialog box;
    const QLabel *logo = box.findChild<QLabel *>(QStringLiteral("lbLog"));
    const QLabel *product = box.findChild<QLabel *>(QStringLiteral("label_2"));
    const QLabel *owner = box.findChild<QLabel *>(QStringLiteral("label"));
    const QLabel *build = box.findChild<QLabel *>(QStringLiteral("lblBuild"));
    const QPushButton *close = box.findChild<QPushButton *>(QStringLiteral("btnClose"));
    QVERIFY(logo && product && owner && build && close);

    QCOMPARE(box.windowTitle(), QStringLiteral("About"));
    QCOMPARE(box.size(), QSize(373, 205));
    // The form's text step empties the logo label after the pixmap was set;
    // the box must put the logo back.
    QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(108, 97));
    QCOMPARE(logo->minimumSize(), QSize(100, 100));
    QCOMPARE(logo->maximumSize(), QSize(100, 100));
    QCOMPARE(product->text(), QStringLiteral("Corvista V1.0"));
    QVERIFY(!owner->text().isEmpty());
    QCOMPARE(build->text(), BuildInfo::buildLine(BuildInfo::buildDate(), BuildInfo::buildTime()));
    QVERIFY(QRegularExpression(QStringLiteral("^Build:\\d{14}$")).match(build->text()).hasMatch());
    QCOMPARE(close->text(), QStringLiteral("Close"));
}

void TestAbout::aboutActionShowsTheSameInstanceEachTime()
{
    MainWindow window;
    QCOMPARE(window.findChildren<AboutDialog *>().size(), 1);
    AboutDialog *box = window.m_aboutDialog;
    QVERIFY(box);
    QVERIFY(box->isHidden());
    QCOMPARE(box->parent(), &window);

    window.ui->actionAbout->trigger();
    QVERIFY(box->isVisible());
    const QString line = box->findChild<QLabel *>(QStringLiteral("lblBuild"))->text();

    window.ui->actionAbout->trigger();
    QVERIFY(box->isVisible());
    QCOMPARE(window.findChildren<AboutDialog *>().size(), 1);
    QCOMPARE(window.m_aboutDialog, box);

    // The window's close box, then About again: the same box, the same line.
    QVERIFY(box->close());
    QVERIFY(!box->isVisible());
    window.ui->actionAbout->trigger();
    QVERIFY(box->isVisible());
    QCOMPARE(window.m_aboutDialog, box);
    QCOMPARE(box->findChild<QLabel *>(QStringLiteral("lblBuild"))->text(), line);
}

void TestAbout::closeButtonHidesButKeepsTheBox()
{
    MainWindow window;
    window.ui->actionAbout->trigger();
    AboutDialog *box = window.m_aboutDialog;
    QVERIFY(box->isVisible());
    QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("btnClose")), Qt::LeftButton);
    QVERIFY(!box->isVisible());
    QCOMPARE(window.findChildren<AboutDialog *>().size(), 1);
    window.ui->actionAbout->trigger();
    QVERIFY(box->isVisible());
}

void TestAbout::aboutBoxIsNotModal()
{
    MainWindow window;
    window.ui->actionAbout->trigger();
    QVERIFY(!window.m_aboutDialog->isModal());
    QCOMPARE(window.m_aboutDialog->windowModality(), Qt::NonModal);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
