// The main window's frame and life: size, toolbar, icons, wiring order, start and shutdown.
#include "tst_camera_fixture.h"
#include "ui_mainwindow.h"

#include "stitchworker.h"
#include "terminationsignals.h"
#include "workthread.h"

#include <QPointer>
#include <QSettings>
#include <QToolBar>
#include <QToolButton>

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
    void argumentFreeSlotRunsBeforeTheCheckedSlot();
    void deviceSearchRunsOneSecondAfterStart();
    void closingWhileGrabbingWritesSettingsAndDestroyingStopsEverything();
    void terminationSignalIsDeliveredInTheGuiThreadOnce_data();
    void terminationSignalIsDeliveredInTheGuiThreadOnce();
};

void TestShell::windowStartsAtItsMinimumSizeAndCannotShrink()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Corvista"));
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

    // The toolbar button paints the icon of the action's state, and back again.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget *button = window.ui->mainToolBar->widgetForAction(action);
    const QImage unchecked = button->grab().toImage();
    action->setChecked(true);
    QVERIFY(button->grab().toImage() != unchecked);
    action->setChecked(false);
    QCOMPARE(button->grab().toImage(), unchecked);
}

namespace {

// Two slots for one checkable action, declared in the window's order and wired by name by the same form.
class SlotOrderProbe : public QMainWindow
{
    Q_OBJECT
public:
    QStringList calls;
    Ui::MainWindow form;
    SlotOrderProbe() { form.setupUi(this); }
private slots:
    void on_actionCameraOpen_triggered() { calls << QStringLiteral("plain"); }
    void on_actionCameraOpen_triggered(bool checked) { calls << QStringLiteral("checked:%1").arg(checked); }
};

} // namespace

// By-name wiring connects slots in method-index order and a signal calls them in connection order:
// the window must declare the argument-free slot first, and Qt must keep that order.
void TestShell::argumentFreeSlotRunsBeforeTheCheckedSlot()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    for (const QByteArray action : {"on_actionCameraOpen_triggered", "on_actionCameraStart_triggered"}) {
        const int plain = meta.indexOfSlot(action + "()");
        QVERIFY2(plain >= 0 && plain < meta.indexOfSlot(action + "(bool)"), action.constData());
    }
    SlotOrderProbe probe;
    probe.form.actionCameraOpen->trigger();
    probe.form.actionCameraOpen->trigger();
    QCOMPARE(probe.calls, (QStringList{"plain", "checked:1", "plain", "checked:0"}));
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
    const auto hasDefaultAction = [signalNumber] {
        struct sigaction current = {};
        ::sigaction(signalNumber, nullptr, &current);
        return current.sa_handler == SIG_DFL;
    };
    {
        TerminationSignals termination;
        QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
        // Without the handler this would end the test program.
        QCOMPARE(std::raise(signalNumber), 0);
        QVERIFY(requested.wait(2000));
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.at(0).at(0).toInt(), signalNumber);
        // A second signal of that kind ends the process at once.
        QVERIFY(hasDefaultAction());
    }
    TerminationSignals again;
    QVERIFY(again.isActive());
    QVERIFY(!hasDefaultAction());
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
