// The about box and the build stamp it prints.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "buildinfo.h"
#include "scratchdirectory.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void buildLineJoinsDateAndTimeWithoutBlank_data();
    void buildLineJoinsDateAndTimeWithoutBlank();
    void boxShowsLogoProductAndThisBuild();
    void aboutActionShowsTheSameModelessInstanceEachTime();
};

void TestAbout::buildLineJoinsDateAndTimeWithoutBlank_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("line"); // empty: the date cannot be read
    QTest::newRow("two-digit day") << "Apr 28 2026"
                                   << "11:18:39"
                                   << "Build:20260428111839";
    QTest::newRow("one-digit day padded by a blank") << "Apr  5 2026"
                                                     << "11:18:39"
                                                     << "Build:20260405111839";
    QTest::newRow("midnight") << "Jan  1 2027"
                              << "00:00:00"
                              << "Build:20270101000000";
    QTest::newRow("numeric month") << "04 28 2026"
                                   << "11:18:39"
                                   << "";
    QTest::newRow("no such day") << "Feb 30 2026"
                                 << "11:18:39"
                                 << "";
}

void TestAbout::buildLineJoinsDateAndTimeWithoutBlank()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, line);
    // Month names must stay English whatever locale the user runs.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QDate parsed = BuildInfo::parseBuildDate(date);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(parsed.isValid(), !line.isEmpty());
    if (parsed.isValid())
        QCOMPARE(BuildInfo::buildLine(parsed, BuildInfo::parseBuildTime(time)), line);
}

void TestAbout::boxShowsLogoProductAndThisBuild()
{
    AboutDialog box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About"));
    // The form's text step empties the logo label after the pixmap was set; the box must put it back.
    QCOMPARE(box.findChild<QLabel *>("lbLog")->pixmap(Qt::ReturnByValue).size(), QSize(108, 97));
    QCOMPARE(box.findChild<QLabel *>("label_2")->text(), QStringLiteral("Corvista V1.0"));
    QVERIFY(BuildInfo::buildDate().isValid() && BuildInfo::buildDate() <= QDate::currentDate());
    QCOMPARE(box.findChild<QLabel *>("lblBuild")->text(),
             BuildInfo::buildLine(BuildInfo::buildDate(), BuildInfo::buildTime()));
}

void TestAbout::aboutActionShowsTheSameModelessInstanceEachTime()
{
    ScratchDirectory scratch;
    MainWindow window;
    AboutDialog *box = window.m_aboutDialog;
    QVERIFY(box && box->isHidden());
    window.ui->actionAbout->trigger();
    window.ui->actionAbout->trigger();
    QVERIFY(box->isVisible());
    QVERIFY(!box->isModal());
    QTest::mouseClick(box->findChild<QPushButton *>("btnClose"), Qt::LeftButton);
    QVERIFY(!box->isVisible());
    window.ui->actionAbout->trigger();
    QVERIFY(box->isVisible());
    QCOMPARE(window.m_aboutDialog, box);
    QCOMPARE(window.findChildren<AboutDialog *>().size(), 1);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
