// The main window's frame and life: size, toolbar, icons, wiring order, settings, about box, shutdown.
#include "camerawindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "appsettings.h"
#include "buildinfo.h"
#include "stitchworker.h"
#include "terminationsignals.h"
#include "workthread.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QToolBar>

#include <csignal>

namespace {

// Written by hand so that the raw texts reach the file unconverted; keys are "Group/Key".
void writeIni(const QMap<QString, QString> &values)
{
    QByteArray text;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char('/'));
        text += "[" + parts.at(0).toUtf8() + "]\n" + parts.at(1).toUtf8() + "=" + it.value().toUtf8() + "\n";
    }
    QFile file(QStringLiteral("setting.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init()
    {
        mvsim::reset();
        m_scratch = std::make_unique<ScratchDirectory>();
    }
    void cleanup() { m_scratch.reset(); }

    void windowStartsAtItsMinimumSizeAndCannotShrink()
    {
        MainWindow window;
        QCOMPARE(window.size(), QSize(1280, 640));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.resize(800, 400);
        QTest::qWait(20);
        QCOMPARE(window.size(), QSize(1280, 640));
    }

    void toolbarShowsTenActionsAndSixSeparatorsInOrder()
    {
        MainWindow window;
        QStringList order;
        for (QAction *action : window.ui->mainToolBar->actions())
            order << (action->isSeparator() ? QStringLiteral("|") : action->objectName());
        QCOMPARE(order.join(' '),
                 QStringLiteral("actionCameraSearch | actionCameraOpen actionCameraStart | actionSetting"
                                " | actionSave_Image | action_ZoomInt action_ZoomOut action_FullScreen"
                                " | actionClearImages | actionAbout"));
    }

    void actionsForProgramUseAppearOnNoToolbarAndNoMenu()
    {
        MainWindow window;
        for (const char *name :
             {"actionCameraStop", "actionCameraClose", "actionStitchStart", "actionStitchStop"}) {
            QAction *action = windowAction(window, name);
            // An action added to a toolbar, menu or widget lists that widget here.
            QVERIFY2(action && action->associatedWidgets().isEmpty(), name);
        }
    }

    void checkableActionShowsItsOtherIconWhenChecked_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("offImage");
        QTest::addColumn<QString>("onImage");
        QTest::newRow("open") << QString("actionCameraOpen") << QString(":/res/Open.png")
                              << QString(":/res/Close.png");
        QTest::newRow("start") << QString("actionCameraStart") << QString(":/res/play.png")
                               << QString(":/res/pause.png");
    }
    void checkableActionShowsItsOtherIconWhenChecked()
    {
        QFETCH(QString, name);
        QFETCH(QString, offImage);
        QFETCH(QString, onImage);
        MainWindow window;
        QAction *action = windowAction(window, name.toLatin1().constData());
        QVERIFY(action && action->isCheckable());
        const QSize size(48, 48);
        const QImage expectedOff = QIcon(offImage).pixmap(size).toImage();
        QVERIFY(!expectedOff.isNull());
        QCOMPARE(action->icon().pixmap(size, QIcon::Normal, QIcon::Off).toImage(), expectedOff);
        QCOMPARE(action->icon().pixmap(size, QIcon::Normal, QIcon::On).toImage(),
                 QIcon(onImage).pixmap(size).toImage());
    }

    // By-name wiring connects slots in method-index order, and a signal calls them in connection order.
    void argumentFreeSlotIsDeclaredBeforeTheCheckedSlot()
    {
        const QMetaObject &meta = MainWindow::staticMetaObject;
        for (const QByteArray action : {"on_actionCameraOpen_triggered", "on_actionCameraStart_triggered"}) {
            const int plain = meta.indexOfSlot(action + "()");
            QVERIFY2(plain >= 0 && plain < meta.indexOfSlot(action + "(bool)"), action.constData());
        }
    }

    void firstStartUsesTheDefaultsAndWritesNothing()
    {
        MainWindow window;
        QCOMPARE(window.m_imageFormat, QStringLiteral("JPG"));
        QCOMPARE(window.m_jpgQuality, 95);
        QCOMPARE(window.m_pngQuality, 8);
        QCOMPARE(window.m_maxStitchCount, 30);
        QCOMPARE(window.m_stitchDirection, 1);
        QCOMPARE(window.m_gvRotationAngle, 0);
        QCOMPARE(QDir(window.m_saveDir).canonicalPath(), QDir::current().canonicalPath());
        QVERIFY(window.m_partialStitch);
        QVERIFY(window.m_saveStitchImage);
        QVERIFY(window.ui->gv->isHidden());
        QVERIFY(!QFile::exists(QStringLiteral("setting.ini")));
    }

    void closingWritesTheSevenWindowKeysWhichTheNextStartReads()
    {
        writeIni({{"File/PartialStitch", "false"}, {"Camera/LineRate", "4200"}});
        {
            MainWindow window;
            window.m_gvRotationAngle = 270;
            window.m_stitchDirection = 3;
            window.m_saveDir = QStringLiteral("/tmp/out");
            window.m_imageFormat = QStringLiteral("TIF");
            window.m_jpgQuality = 77;
            window.m_pngQuality = 3;
            window.m_maxStitchCount = 12;
            window.m_partialStitch = true;
            QVERIFY(window.close());
        }
        QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
        QStringList written;
        for (const QString &key : settings.allKeys())
            written << key + "=" + settings.value(key).toString();
        written.sort();
        QCOMPARE(written,
                 (QStringList{"Camera/LineRate=4200", "File/Format=TIF", "File/JpgQuality=77",
                              "File/PartialStitch=false", "File/PngQuality=3", "File/SaveDir=/tmp/out",
                              "Stitch/MaxStitchCount=12", "UI/GvRotationAngle=270", "UI/StitchDirection=3"}));
        MainWindow next;
        QCOMPARE(QStringList({next.m_imageFormat, next.m_saveDir}), QStringList({"TIF", "/tmp/out"}));
        QCOMPARE(QList<int>({next.m_gvRotationAngle, next.m_stitchDirection, next.m_jpgQuality,
                             next.m_pngQuality, next.m_maxStitchCount}),
                 QList<int>({270, 3, 77, 3, 12}));
        QVERIFY(!next.m_partialStitch);
    }

    void storedNumbersAreReadWithTheirFallbacks_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("storedText");
        QTest::addColumn<int>("expected");
        const auto row = [](const char *key, const char *text, int expected) {
            QTest::newRow(qPrintable(QStringLiteral("%1=%2").arg(key, text)))
                << QString(key) << QString(text) << expected;
        };
        row("Stitch/MaxStitchCount", "0", 1);
        row("Stitch/MaxStitchCount", "-4", 1);
        row("Stitch/MaxStitchCount", "many", 1);
        row("Stitch/MaxStitchCount", "5000", 5000);
        row("UI/GvRotationAngle", "upright", 0);
        row("UI/StitchDirection", "right", 0);
        row("File/JpgQuality", "high", 0);
        row("File/PngQuality", "9x", 0);
    }
    void storedNumbersAreReadWithTheirFallbacks()
    {
        QFETCH(QString, key);
        QFETCH(QString, storedText);
        QFETCH(int, expected);
        writeIni({{key, storedText}});
        MainWindow window;
        const QMap<QString, int> read{{"Stitch/MaxStitchCount", window.m_maxStitchCount},
                                      {"UI/GvRotationAngle", window.m_gvRotationAngle},
                                      {"UI/StitchDirection", window.m_stitchDirection},
                                      {"File/JpgQuality", window.m_jpgQuality},
                                      {"File/PngQuality", window.m_pngQuality}};
        QCOMPARE(read.value(key, -1), expected);
    }

    void fileWithoutFormatGivesJpg()
    {
        writeIni({{"File/JpgQuality", "80"}});
        MainWindow window;
        QCOMPARE(window.m_imageFormat, QStringLiteral("JPG"));
        QCOMPARE(window.m_jpgQuality, 80);
        // The dialog's own default for the same file differs on purpose.
        QCOMPARE(AppSettings::stringValue(AppSettings::kFormat, AppSettings::kDefaultFormatDialog),
                 QStringLiteral("BMP"));
    }

    void buildLineJoinsDateAndTimeWithoutBlank_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("line"); // empty: the date cannot be read
        const auto row = [](const char *tag, const char *date, const char *time, const char *line) {
            QTest::newRow(tag) << QString(date) << QString(time) << QString(line);
        };
        row("two-digit day", "Apr 28 2026", "11:18:39", "Build:20260428111839");
        row("one-digit day padded by a blank", "Apr  5 2026", "11:18:39", "Build:20260405111839");
        row("midnight", "Jan  1 2027", "00:00:00", "Build:20270101000000");
        row("numeric month", "04 28 2026", "11:18:39", "");
        row("no such day", "Feb 30 2026", "11:18:39", "");
    }
    void buildLineJoinsDateAndTimeWithoutBlank()
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

    void aboutBoxShowsLogoProductAndThisBuild()
    {
        AboutDialog box;
        // The form's text step empties the logo label after the pixmap was set; the box must put it back.
        // The 108 x 97 logo is scaled to show whole in its fixed 100 x 100 label.
        QLabel *logo = box.findChild<QLabel *>("lbLog");
        QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(100, 89));
        QCOMPARE(logo->size(), QSize(100, 100));
        QCOMPARE(box.findChild<QLabel *>("label_2")->text(), QStringLiteral("Corvista V1.0"));
        QCOMPARE(box.findChild<QLabel *>("lblBuild")->text(),
                 BuildInfo::buildLine(BuildInfo::buildDate(), BuildInfo::buildTime()));
    }

    void aboutActionShowsTheSameModelessInstanceEachTime()
    {
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

    void deviceSearchRunsOneSecondAfterStart()
    {
        MessageBoxRecorder boxes;
        MainWindow window;
        window.show();
        QTest::qWait(800);
        QCOMPARE(window.ui->cbSearchDevices->count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(window.ui->cbSearchDevices->count(), 2, 5000);
        QVERIFY(boxes.isEmpty());
    }

    void closingWhileGrabbingWritesSettingsAndDestroyingStopsEverything()
    {
        CameraWindow fixture;
        QVERIFY(fixture.make());
        MainWindow &window = *fixture.window;
        QVERIFY(fixture.openEntry(0));
        const MV_CC_DEVICE_INFO device = window.m_deviceInfo;
        QVERIFY(fixture.start());
        QTRY_VERIFY(!window.ui->dataitemLabel->text().isEmpty());
        window.m_stitchDirection = 3;
        QVERIFY(window.close());
        // Closing writes the settings and ends grabbing at once, not after the event loop.
        QCOMPARE(QSettings("setting.ini", QSettings::IniFormat).value("UI/StitchDirection"), QVariant("3"));
        QVERIFY(!window.m_workThread->isRunning());
        QVERIFY(!window.m_isGrabbing && !window.m_isOpen && !window.m_stitchActive);
        QVERIFY(deviceIsFree(device));

        QPointer<StitchWorker> worker = window.m_stitchWorker;
        QPointer<QThread> stitchThread = window.m_stitchThread;
        QVERIFY(worker && stitchThread && stitchThread->isRunning());
        fixture.window.reset();
        QVERIFY(!stitchThread && !worker);
        QVERIFY(deviceIsFree(device));
        QVERIFY(fixture.boxes.isEmpty());
    }

    void terminationSignalIsDeliveredInTheGuiThreadOnce_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("stop request") << int(SIGTERM);
        QTest::newRow("terminal gone") << int(SIGHUP);
    }
    void terminationSignalIsDeliveredInTheGuiThreadOnce()
    {
        QFETCH(int, signalNumber);
        TerminationSignals termination;
        QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
        // Without the handler this would end the test program.
        QCOMPARE(std::raise(signalNumber), 0);
        QVERIFY(requested.wait(2000));
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.at(0).at(0).toInt(), signalNumber);
        // A second signal of that kind ends the process at once.
        struct sigaction current = {};
        ::sigaction(signalNumber, nullptr, &current);
        QVERIFY(current.sa_handler == SIG_DFL);
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
