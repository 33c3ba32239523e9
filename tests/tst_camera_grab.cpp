// Start and Stop of grabbing through the window, and the statistics line.
#include <QtTest>

#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>

#include "tst_camera_fixture.h"
#include "workthread.h"

namespace {

QLabel *statisticsLabel(MainWindow &window)
{
    return window.findChild<QLabel *>(QStringLiteral("dataitemLabel"));
}

const char *oneCamera(const char *extra)
{
    static QByteArray text;
    text = QByteArray("[cam]\n"
                      "transport = GigE\n"
                      "serial = C1\n"
                      "width = 64\nlines_per_frame = 16\npixel_format = Mono8\nline_rate = 4000\n")
        + extra;
    return text.constData();
}

} // namespace

class CameraGrabTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void statisticsLineShowsTheFrameInfoToTheCharacter();
    void startGrabsAndReportsEveryFrameInTheStatusLine();
    void startBeginsAStitchSessionWithAnEmptyBatch();
    void startActionPairFollowsTheCheckedState_data();
    void startActionPairFollowsTheCheckedState();
    void refusedStartOfGrabbingLeavesNothingRunningAndSaysNothing();
    void unreadablePayloadSizeGrabsWithoutAnyFrame();
    void stopWhileTheFetchWaitsReturnsPromptly();
    void stopDiscardsTheUnfinishedBatch();
    void closeWhileGrabbingStopsTheThreadAndReleasesTheCamera();
    void vanishedCameraStopsTheRunAndSaysSo();
    void destroyingTheWindowWhileGrabbingReleasesTheCamera();

private:
    std::unique_ptr<CameraWindow> m_fixture;
};

void CameraGrabTest::init()
{
    mvsim::reset();
    QVERIFY(installCameras(oneCamera("")));
    m_fixture = std::make_unique<CameraWindow>();
    QVERIFY(m_fixture->make());
}

void CameraGrabTest::cleanup()
{
    m_fixture.reset();
    mvsim::reset();
}

void CameraGrabTest::statisticsLineShowsTheFrameInfoToTheCharacter()
{
    MainWindow &window = *m_fixture->window;
    QVERIFY(QMetaObject::invokeMethod(&window, "onFrameInfoUpdated", Q_ARG(uint, 5), Q_ARG(int, 4096),
                                      Q_ARG(int, 1), Q_ARG(qlonglong, 123456), Q_ARG(qlonglong, 1000),
                                      Q_ARG(int, 0), Q_ARG(int, 77), Q_ARG(double, 0.5)));
    QCOMPARE(statisticsLabel(window)->text(),
             QStringLiteral(
                 "FrameCount: [5] | W*H: 4096x1 | TS: 123456 us | Interval: 1000 us | GrabOne: 0.500 ms "
                 "| Lost: 0 "));
}

void CameraGrabTest::startGrabsAndReportsEveryFrameInTheStatusLine()
{
    MainWindow &window = *m_fixture->window;
    QVERIFY(m_fixture->openEntry(0));
    QVERIFY(m_fixture->start());
    QVERIFY(window.m_workThread->isRunning());
    const QRegularExpression line(QStringLiteral(
        R"(^FrameCount: \[(\d+)\] \| W\*H: 64x16 \| TS: \d+ us \| Interval: -?\d+ us \| GrabOne: \d+\.\d{3} ms \| Lost: \d+ $)"));
    QTRY_VERIFY(line.match(statisticsLabel(window)->text()).hasMatch());
    QTRY_VERIFY(line.match(statisticsLabel(window)->text()).captured(1).toInt() >= 3);
    {
        QMutexLocker frameLock(&window.m_frameMutex);
        QCOMPARE(window.m_lastFrameInfo.nWidth, 64u);
        QCOMPARE(window.m_lastFrameBufferSize, 64u * 16u);
        QVERIFY(window.m_lastFrameBuffer);
    }
    m_fixture->stop();
    QVERIFY(!window.m_isGrabbing);
    QVERIFY(!window.m_workThread->isRunning());
    QVERIFY(window.m_isOpen);
    QVERIFY(m_fixture->boxes.isEmpty());
}

void CameraGrabTest::startBeginsAStitchSessionWithAnEmptyBatch()
{
    MainWindow &window = *m_fixture->window;
    QVERIFY(m_fixture->openEntry(0));
    window.m_batchFrames.append(QImage(4, 4, QImage::Format_Grayscale8));
    window.m_expectedFrameSizeKnown = true;
    QVERIFY(m_fixture->start());
    QVERIFY(window.m_batchFrames.isEmpty());
    QVERIFY(!window.m_expectedFrameSizeKnown);
    QVERIFY(window.m_stitchActive);
    QVERIFY(window.m_workThread->reportChanges());
    QVERIFY(!windowAction(window, "actionStitchStart")->isEnabled());
    QVERIFY(windowAction(window, "actionStitchStop")->isEnabled());
    m_fixture->stop();
    QVERIFY(!window.m_stitchActive);
    QVERIFY(!window.m_workThread->reportChanges());
    QVERIFY(windowAction(window, "actionStitchStart")->isEnabled());
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
    if (before != "closed")
        QVERIFY(m_fixture->openEntry(0));
    if (before == "grabbing")
        QVERIFY(m_fixture->start());
    // Start clears the latest frame record; a frame grabbed meanwhile overwrites
    // the marker too. Nothing else in the pair touches it.
    {
        QMutexLocker frameLock(&window.m_frameMutex);
        window.m_lastFrameInfo.nWidth = 999;
    }
    window.m_lastBatchFrames = {QImage(4, 4, QImage::Format_Grayscale8)};

    QAction *start = windowAction(window, "actionCameraStart");
    QVERIFY(start->isCheckable());
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
    MainWindow &window = *m_fixture->window;
    QVERIFY(m_fixture->openEntry(0));
    mvsim::setFault("MV_CC_StartGrabbing", int(MV_E_RESOURCE));
    QVERIFY(!m_fixture->start());
    QVERIFY(!window.m_workThread->isRunning());
    QVERIFY(!window.m_stitchActive);
    QTest::qWait(100);
    QVERIFY(m_fixture->boxes.isEmpty());
    mvsim::clearFaults();
    QVERIFY(m_fixture->start());
    QTRY_VERIFY(!statisticsLabel(window)->text().isEmpty());
}

void CameraGrabTest::unreadablePayloadSizeGrabsWithoutAnyFrame()
{
    m_fixture.reset();
    QVERIFY(installCameras(oneCamera("missing_features = PayloadSize\n")));
    m_fixture = std::make_unique<CameraWindow>();
    QVERIFY(m_fixture->make());
    MainWindow &window = *m_fixture->window;
    QSignalSpy frames(window.m_workThread, &WorkThread::frameInfoUpdated);
    QVERIFY(m_fixture->openEntry(0));
    QVERIFY(m_fixture->start());
    QTRY_VERIFY(!window.m_workThread->isRunning());
    QTest::qWait(200);
    QVERIFY(window.m_isGrabbing);
    QCOMPARE(frames.count(), 0);
    QVERIFY(statisticsLabel(window)->text().isEmpty());
    QVERIFY(m_fixture->boxes.isEmpty());
}

void CameraGrabTest::stopWhileTheFetchWaitsReturnsPromptly()
{
    m_fixture.reset();
    // 60000 lines at 10 lines per second: no frame comes while the test runs.
    QVERIFY(installCameras("[slow]\ntransport = USB3\nserial = S1\nwidth = 16\nlines_per_frame = 60000\n"
                           "pixel_format = Mono8\nline_rate = 10\n"));
    m_fixture = std::make_unique<CameraWindow>();
    QVERIFY(m_fixture->make());
    MainWindow &window = *m_fixture->window;
    QVERIFY(m_fixture->openEntry(0));
    QVERIFY(m_fixture->start());
    QTest::qWait(100);
    QVERIFY(window.m_workThread->isRunning());
    // The fetch waits up to a second; left to time out, Stop would take about 900 ms more.
    QElapsedTimer stopping;
    stopping.start();
    m_fixture->stop();
    QVERIFY2(stopping.elapsed() < 500, qPrintable(QString::number(stopping.elapsed())));
    QVERIFY(!window.m_workThread->isRunning());
    QVERIFY(!window.m_isGrabbing);
}

void CameraGrabTest::stopDiscardsTheUnfinishedBatch()
{
    MainWindow &window = *m_fixture->window;
    window.m_maxStitchCount = 1000000;
    QVERIFY(m_fixture->openEntry(0));
    QVERIFY(m_fixture->start());
    QTRY_VERIFY(window.m_batchFrames.size() >= 2);
    m_fixture->stop();
    QVERIFY(window.m_batchFrames.isEmpty());
    QCOMPARE(window.m_batchCounter, 0);
    // Frames still queued from the ended run do not start a new batch.
    QTest::qWait(50);
    QVERIFY(window.m_batchFrames.isEmpty());
}

void CameraGrabTest::closeWhileGrabbingStopsTheThreadAndReleasesTheCamera()
{
    MainWindow &window = *m_fixture->window;
    QVERIFY(m_fixture->openEntry(0));
    const MV_CC_DEVICE_INFO device = window.m_deviceInfo;
    QVERIFY(m_fixture->start());
    QTRY_VERIFY(!statisticsLabel(window)->text().isEmpty());
    windowAction(window, "actionCameraClose")->trigger();
    QVERIFY(!window.m_workThread->isRunning());
    QVERIFY(!window.m_handle);
    QVERIFY(!window.m_isOpen);
    QVERIFY(!window.m_isGrabbing);
    QVERIFY(!window.m_stitchActive);
    QVERIFY(!window.m_lastFrameBuffer);
    QCOMPARE(window.m_lastFrameBufferSize, 0u);
    QTest::qWait(50);
    QVERIFY(window.m_livePixmapItem->pixmap().isNull());
    QVERIFY(deviceIsFree(device));
    QVERIFY(m_fixture->boxes.isEmpty());
}

void CameraGrabTest::vanishedCameraStopsTheRunAndSaysSo()
{
    m_fixture.reset();
    QVERIFY(installCameras(oneCamera("vanish_after_frames = 5\n")));
    m_fixture = std::make_unique<CameraWindow>();
    QVERIFY(m_fixture->make());
    MainWindow &window = *m_fixture->window;
    QVERIFY(m_fixture->openEntry(0));
    QVERIFY(m_fixture->start());
    QVERIFY(m_fixture->boxes.waitForCount(1));
    QCOMPARE(m_fixture->boxes.last().title, QStringLiteral("Device"));
    QCOMPARE(m_fixture->boxes.last().text, QStringLiteral("Camera disconnected!"));
    QCOMPARE(m_fixture->boxes.last().kind, QMessageBox::Warning);
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Camera disconnected"));
    QVERIFY(!window.m_isGrabbing);
    QVERIFY(!window.m_stitchActive);
    QVERIFY(!window.m_workThread->isRunning());
    QVERIFY(window.m_isOpen);
    m_fixture->close();
    QVERIFY(!window.m_handle);
    QCOMPARE(m_fixture->boxes.count(), 1);
}

void CameraGrabTest::destroyingTheWindowWhileGrabbingReleasesTheCamera()
{
    QVERIFY(m_fixture->openEntry(0));
    const MV_CC_DEVICE_INFO device = m_fixture->window->m_deviceInfo;
    QVERIFY(m_fixture->start());
    QTRY_VERIFY(!statisticsLabel(*m_fixture->window)->text().isEmpty());
    QVERIFY(!deviceIsFree(device));
    m_fixture->window.reset();
    QVERIFY(deviceIsFree(device));
}

QTEST_MAIN(CameraGrabTest)
#include "tst_camera_grab.moc"
