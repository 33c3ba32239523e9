// The main window's frame and life: size, toolbar, icons, wiring order, about box, start and shutdown.
#include "tst_camera_fixture.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "buildinfo.h"
#include "stitchworker.h"
#include "terminationsignals.h"
#include "workthread.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QToolBar>

#include <csignal>

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

    void windowStartsAtItsMinimumSizeAndCannotShrink();
    void toolbarShowsTenActionsAndSixSeparatorsInOrder();
    void actionsForProgramUseAppearOnNoToolbarAndNoMenu();
    void checkableActionShowsItsOtherIconWhenChecked_data();
    void checkableActionShowsItsOtherIconWhenChecked();
    void argumentFreeSlotIsDeclaredBeforeTheCheckedSlot();
    void buildLineJoinsDateAndTimeWithoutBlank_data();
    void buildLineJoinsDateAndTimeWithoutBlank();
    void aboutBoxShowsLogoProductAndThisBuild();
    void aboutActionShowsTheSameModelessInstanceEachTime();
    void deviceSearchRunsOneSecondAfterStart();
    void closingWhileGrabbingWritesSettingsAndDestroyingStopsEverything();
    void terminationSignalIsDeliveredInTheGuiThreadOnce_data();
    void terminationSignalIsDeliveredInTheGuiThreadOnce();
};

void TestShell::windowStartsAtItsMinimumSizeAndCannotShrink()
{
    MainWindow window;
    QCOMPARE(window.size(), QSize(1280, 640));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(800, 400);
    QTest::qWait(20);
    QCOMPARE(window.size(), QSize(1280, 640));
}

void TestShell::toolbarShowsTenActionsAndSixSeparatorsInOrder()
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

void TestShell::actionsForProgramUseAppearOnNoToolbarAndNoMenu()
{
    MainWindow window;
    for (const char *name :
         {"actionCameraStop", "actionCameraClose", "actionStitchStart", "actionStitchStop"}) {
        QAction *action = windowAction(window, name);
        // An action added to a toolbar, menu or widget lists that widget here.
        QVERIFY2(action && action->associatedWidgets().isEmpty(), name);
    }
}

void TestShell::checkableActionShowsItsOtherIconWhenChecked_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("offImage");
    QTest::addColumn<QString>("onImage");
    QTest::newRow("open") << "actionCameraOpen"
                          << ":/res/Open.png"
                          << ":/res/Close.png";
    QTest::newRow("start") << "actionCameraStart"
                           << ":/res/play.png"
                           << ":/res/pause.png";
}

void TestShell::checkableActionShowsItsOtherIconWhenChecked()
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
void TestShell::argumentFreeSlotIsDeclaredBeforeTheCheckedSlot()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    for (const QByteArray action : {"on_actionCameraOpen_triggered", "on_actionCameraStart_triggered"}) {
        const int plain = meta.indexOfSlot(action + "()");
        QVERIFY2(plain >= 0 && plain < meta.indexOfSlot(action + "(bool)"), action.constData());
    }
}

void TestShell::buildLineJoinsDateAndTimeWithoutBlank_data()
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

void TestShell::buildLineJoinsDateAndTimeWithoutBlank()
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

void TestShell::aboutBoxShowsLogoProductAndThisBuild()
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

void TestShell::aboutActionShowsTheSameModelessInstanceEachTime()
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

void TestShell::deviceSearchRunsOneSecondAfterStart()
{
    MessageBoxRecorder boxes;
    MainWindow window;
    window.show();
    QTest::qWait(800);
    QCOMPARE(window.ui->cbSearchDevices->count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(window.ui->cbSearchDevices->count(), 2, 5000);
    QVERIFY(boxes.isEmpty());
}

void TestShell::closingWhileGrabbingWritesSettingsAndDestroyingStopsEverything()
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
    // Closing only writes the settings: the camera grabs on until the window is destroyed.
    QCOMPARE(
        QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).value("UI/StitchDirection").toInt(),
        3);
    QVERIFY(window.m_workThread->isRunning());

    QPointer<StitchWorker> worker = window.m_stitchWorker;
    QPointer<QThread> stitchThread = window.m_stitchThread;
    QVERIFY(worker && stitchThread && stitchThread->isRunning());
    fixture.window.reset();
    QVERIFY(!stitchThread);
    QVERIFY(!worker);
    QVERIFY(deviceIsFree(device));
    QVERIFY(fixture.boxes.isEmpty());
}

void TestShell::terminationSignalIsDeliveredInTheGuiThreadOnce_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl+C") << int(SIGINT);
    QTest::newRow("stop request") << int(SIGTERM);
    QTest::newRow("terminal gone") << int(SIGHUP);
}

void TestShell::terminationSignalIsDeliveredInTheGuiThreadOnce()
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

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
