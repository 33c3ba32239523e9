// The window's life: the first search after start, and the order of shutdown.
#include "tst_camera_fixture.h"
#include "ui_mainwindow.h"

#include "stitchworker.h"
#include "workthread.h"

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QThread>

class TestShellLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void init() { mvsim::reset(); }

    void deviceSearchRunsOneSecondAfterStart();
    void startWithoutCamerasShowsTheWindowAndReportsNothingFatal();
    void closingWhileGrabbingWritesSettingsAndShutdownStopsEverything();
    void closingWithNothingOpenWritesSettingsAndStopsTheStitchThread();
};

void TestShellLifecycle::deviceSearchRunsOneSecondAfterStart()
{
    ScratchDirectory scratch;
    MessageBoxRecorder boxes;
    MainWindow window;
    window.show();
    QVERIFY(window.ui->cbSearchDevices->count() == 0);
    // The timer cannot fire early: 800 ms after start nothing was searched.
    QTest::qWait(800);
    QCOMPARE(window.ui->cbSearchDevices->count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(window.ui->cbSearchDevices->count() == 2, 5000);
    QVERIFY(window.m_deviceListValid);
    QVERIFY(boxes.isEmpty());
}

void TestShellLifecycle::startWithoutCamerasShowsTheWindowAndReportsNothingFatal()
{
    ScratchDirectory scratch;
    MessageBoxRecorder boxes;
    qputenv("CORVISTA_CAMERAS", "none");
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(1300);
        QVERIFY(window.isVisible());
        QCOMPARE(window.ui->cbSearchDevices->count(), 0);
        QVERIFY(!window.m_deviceListValid);
        QVERIFY(window.m_stitchThread->isRunning());
        // Whatever the search said, it did not end the program.
        for (const MessageBoxRecorder::Record &box : boxes.records())
            QVERIFY(box.kind != QMessageBox::Critical);
    }
    qputenv("CORVISTA_CAMERAS", "simulator");
}

void TestShellLifecycle::closingWhileGrabbingWritesSettingsAndShutdownStopsEverything()
{
    CameraWindow fixture;
    QVERIFY(fixture.make());
    MainWindow &window = *fixture.window;
    QVERIFY(fixture.openEntry(0));
    QVERIFY(fixture.start());
    QTRY_VERIFY(!window.ui->dataitemLabel->text().isEmpty());

    window.m_stitchDirection = 3;
    QVERIFY(window.close());
    // Closing only writes the settings: the camera still grabs until the
    // window is destroyed.
    QVERIFY(QFile::exists(QStringLiteral("setting.ini")));
    QCOMPARE(
        QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).value("UI/StitchDirection").toInt(),
        3);
    QVERIFY(window.m_workThread->isRunning());
    QVERIFY(window.m_isGrabbing);

    QPointer<StitchWorker> worker = window.m_stitchWorker;
    QPointer<QThread> stitchThread = window.m_stitchThread;
    QVERIFY(worker);
    fixture.window.reset();
    QVERIFY(!stitchThread);
    QVERIFY(!worker);
}

void TestShellLifecycle::closingWithNothingOpenWritesSettingsAndStopsTheStitchThread()
{
    ScratchDirectory scratch;
    MessageBoxRecorder boxes;
    auto window = std::make_unique<MainWindow>();
    QPointer<StitchWorker> worker = window->m_stitchWorker;
    QVERIFY(window->close());
    QVERIFY(QFile::exists(QStringLiteral("setting.ini")));
    QVERIFY(window->m_stitchThread->isRunning());
    window.reset();
    QVERIFY(!worker);
    QVERIFY(boxes.isEmpty());
}

QTEST_MAIN(TestShellLifecycle)
#include "tst_shell_lifecycle.moc"
