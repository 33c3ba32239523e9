// Start and Stop of grabbing through the window, and the statistics line.
#include <QtTest>

#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>

#include "tst_camera_fixture.h"
#include "workthread.h"

class CameraGrabTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(makeWindow("")); }
    void cleanup();

    void startGrabsAndReportsEveryFrameInTheStatusLine();
    void startActionPairFollowsTheCheckedState_data();
    void startActionPairFollowsTheCheckedState();
    void refusedStartOfGrabbingLeavesNothingRunningAndSaysNothing();
    void stopWhileTheFetchWaitsReturnsPromptly();
    void closeWhileGrabbingStopsTheThreadAndReleasesTheCamera();
    void vanishedCameraStopsTheRunAndSaysSo();

private:
    // A window on one camera, 64 x 16 Mono8 unless `camera` says otherwise.
    bool makeWindow(const QByteArray &camera)
    {
        m_fixture.reset();
        mvsim::reset();
        const QByteArray ini = "[cam]\ntransport = GigE\nserial = C1\nwidth = 64\nlines_per_frame = 16\n"
                               "pixel_format = Mono8\nline_rate = 4000\n"
            + camera;
        m_fixture = std::make_unique<CameraWindow>();
        return installCameras(ini.toStdString()) && m_fixture->make() && m_fixture->openEntry(0);
    }
    QString statistics() { return m_fixture->window->findChild<QLabel *>("dataitemLabel")->text(); }

    std::unique_ptr<CameraWindow> m_fixture;
};

void CameraGrabTest::cleanup()
{
    m_fixture.reset();
    mvsim::reset();
}

void CameraGrabTest::startGrabsAndReportsEveryFrameInTheStatusLine()
{
    MainWindow &window = *m_fixture->window;
    QVERIFY(m_fixture->start());
    QVERIFY(window.m_workThread->isRunning());
    QVERIFY(window.m_stitchActive);
    const QRegularExpression line(
        QStringLiteral(R"(^FrameCount: \[(\d+)\] \| W\*H: 64x16 \| TS: \d+ us \| )"
                       R"(Interval: -?\d+ us \| GrabOne: \d+\.\d{3} ms \| Lost: \d+ $)"));
    QTRY_VERIFY(line.match(statistics()).captured(1).toInt() >= 3);
    m_fixture->stop();
    QVERIFY(!window.m_isGrabbing);
    QVERIFY(!window.m_stitchActive);
    QVERIFY(!window.m_workThread->isRunning());
    QVERIFY(window.m_isOpen);
    QVERIFY(m_fixture->boxes.isEmpty());
}

void CameraGrabTest::startActionPairFollowsTheCheckedState_data()
{
    QTest::addColumn<bool>("leavesChecked");
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("grabbingAfter");
    QTest::addColumn<bool>("startedOnTheWay");
    QTest::addColumn<bool>("imagesCleared");
    QTest::newRow("checked, open: grabbing starts") << true << "open" << true << true << true;
    QTest::newRow("checked, no camera: images cleared only") << true << "closed" << false << false << true;
    QTest::newRow("unchecked, grabbing: stopped") << false << "grabbing" << false << false << false;
    QTest::newRow("unchecked, open: started and stopped again") << false << "open" << false << true << false;
}

void CameraGrabTest::startActionPairFollowsTheCheckedState()
{
    QFETCH(bool, leavesChecked);
    QFETCH(QString, before);
    QFETCH(bool, grabbingAfter);
    QFETCH(bool, startedOnTheWay);
    QFETCH(bool, imagesCleared);
    MainWindow &window = *m_fixture->window;
    if (before == "closed")
        windowAction(window, "actionCameraClose")->trigger();
    if (before == "grabbing")
        QVERIFY(m_fixture->start());
    // Start clears the latest frame record; a frame grabbed meanwhile overwrites the marker too.
    {
        QMutexLocker frameLock(&window.m_frameMutex);
        window.m_lastFrameInfo.nWidth = 999;
    }
    window.m_lastBatchFrames = {QImage(4, 4, QImage::Format_Grayscale8)};

    QAction *start = windowAction(window, "actionCameraStart");
    start->setChecked(!leavesChecked);
    start->trigger();
    QCOMPARE(start->isChecked(), leavesChecked);
    QCOMPARE(window.m_isGrabbing, grabbingAfter);
    QCOMPARE(window.m_workThread->isRunning(), grabbingAfter);
    if (before != "grabbing") {
        QMutexLocker frameLock(&window.m_frameMutex);
        QCOMPARE(window.m_lastFrameInfo.nWidth != 999, startedOnTheWay);
    }
    QCOMPARE(window.m_lastBatchFrames.isEmpty(), imagesCleared);
    QVERIFY(m_fixture->boxes.isEmpty());
}

void CameraGrabTest::refusedStartOfGrabbingLeavesNothingRunningAndSaysNothing()
{
    mvsim::setFault("MV_CC_StartGrabbing", int(MV_E_RESOURCE));
    QVERIFY(!m_fixture->start());
    QVERIFY(!m_fixture->window->m_workThread->isRunning());
    QVERIFY(!m_fixture->window->m_stitchActive);
    QTest::qWait(100);
    QVERIFY(m_fixture->boxes.isEmpty());
    mvsim::clearFaults();
    QVERIFY(m_fixture->start());
    QTRY_VERIFY(!statistics().isEmpty());
}

void CameraGrabTest::stopWhileTheFetchWaitsReturnsPromptly()
{
    // 60000 lines at 10 lines per second: no frame comes while the test runs.
    QVERIFY(makeWindow("lines_per_frame = 60000\nline_rate = 10\n"));
    QVERIFY(m_fixture->start());
    QTest::qWait(100);
    QVERIFY(m_fixture->window->m_workThread->isRunning());
    // The fetch waits up to a second; left to time out, Stop would take about 900 ms more.
    QElapsedTimer stopping;
    stopping.start();
    m_fixture->stop();
    QVERIFY2(stopping.elapsed() < 500, qPrintable(QString::number(stopping.elapsed())));
    QVERIFY(!m_fixture->window->m_workThread->isRunning());
    QVERIFY(!m_fixture->window->m_isGrabbing);
}

void CameraGrabTest::closeWhileGrabbingStopsTheThreadAndReleasesTheCamera()
{
    MainWindow &window = *m_fixture->window;
    const MV_CC_DEVICE_INFO device = window.m_deviceInfo;
    QVERIFY(m_fixture->start());
    QTRY_VERIFY(!statistics().isEmpty());
    windowAction(window, "actionCameraClose")->trigger();
    QVERIFY(!window.m_workThread->isRunning());
    QVERIFY(!window.m_handle);
    QVERIFY(!window.m_isGrabbing);
    QVERIFY(!window.m_stitchActive);
    QVERIFY(!window.m_lastFrameBuffer);
    QTest::qWait(50);
    QVERIFY(window.m_livePixmapItem->pixmap().isNull());
    QVERIFY(deviceIsFree(device));
    QVERIFY(m_fixture->boxes.isEmpty());
}

void CameraGrabTest::vanishedCameraStopsTheRunAndSaysSo()
{
    QVERIFY(makeWindow("vanish_after_frames = 5\n"));
    MainWindow &window = *m_fixture->window;
    QVERIFY(m_fixture->start());
    QVERIFY(m_fixture->boxes.waitForCount(1));
    QCOMPARE(boxSummary(m_fixture->boxes),
             QStringLiteral("Device|Camera disconnected!|%1").arg(QMessageBox::Warning));
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Camera disconnected"));
    QVERIFY(!window.m_isGrabbing);
    QVERIFY(!window.m_stitchActive);
    QVERIFY(!window.m_workThread->isRunning());
    windowAction(window, "actionCameraClose")->trigger();
    QVERIFY(!window.m_handle);
    QCOMPARE(m_fixture->boxes.count(), 1);
}

QTEST_MAIN(CameraGrabTest)
#include "tst_camera_grab.moc"
