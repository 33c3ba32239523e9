// The grab loop on its own, fed by simulated cameras.
#include <QtTest>

#include <cstring>

#include "framestatistics.h"
#include "tst_camera_fixture.h"
#include "workthread.h"

namespace {

struct FrameInfo {
    uint framecount;
    int width;
    int height;
    qlonglong timestamp;
    qlonglong interval;
    int lost;
    int total;
};

/*
 * Collects what the loop reports, in the GUI thread (the signals arrive
 * queued, as they do in the window), and the order in which it came.
 */
class LoopRecorder : public QObject
{
    Q_OBJECT

public:
    explicit LoopRecorder(WorkThread *thread)
    {
        connect(thread, &WorkThread::frameInfoUpdated, this, &LoopRecorder::onInfo);
        connect(thread, &WorkThread::frameGrabbed, this, &LoopRecorder::onGrabbed);
        connect(thread, &WorkThread::changeDetected, this, &LoopRecorder::onChanged);
        connect(thread, &WorkThread::cameraLost, this, [this] { events += 'L'; });
    }

    QList<FrameInfo> infos;
    QList<QImage> images;
    QList<QImage> changed;
    QList<qlonglong> changedTimestamps;
    QString events; // I info, G grabbed, C changed, L lost

public slots:
    void onInfo(uint framecount, int width, int height, qlonglong timestamp, qlonglong interval, int lost,
                int total, double)
    {
        infos.append({framecount, width, height, timestamp, interval, lost, total});
        events += 'I';
    }
    void onGrabbed(QImage image)
    {
        images.append(image);
        events += 'G';
    }
    void onChanged(QImage a, QImage b, qlonglong ta, qlonglong tb)
    {
        if (a == b && ta == tb && a.constBits() == b.constBits()) {
            changed.append(a);
            changedTimestamps.append(ta);
        }
        events += 'C';
    }
};

QByteArray camera(const char *transport, const char *format, const char *extra = "")
{
    return QByteArray("[cam]\ntransport = ") + transport + "\nserial = W1\nwidth = 64\nlines_per_frame = 16\n"
        + "pixel_format = " + format + "\nline_rate = 8000\n" + extra;
}

// The line numbers stamped into the rows of a grabbed image.
QList<quint32> stamps(const QImage &image)
{
    QList<quint32> result;
    const unsigned int bytesPerPixel = image.format() == QImage::Format_Grayscale8 ? 1 : 3;
    for (int y = 0; y < image.height(); ++y)
        result.append(mvsim::lineStamp(image.constScanLine(y), bytesPerPixel));
    return result;
}

} // namespace

class WorkThreadTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstFrameHasIntervalZeroAndTotalOne();
    void framesBecomeImagesByPixelFormat_data();
    void framesBecomeImagesByPixelFormat();
    void latestRawFrameIsKeptForTheSnapshot();
    void stitchFeedFollowsEveryImageWithTheSameFrameTwice();
    void withoutTheStitchFeedNoChangeIsReported();
    void clearingTheRunningFlagTurnsTheStitchFeedOff();
    void incompleteFramesKeepTheirOwnHeight();
    void framesLostWhileTheLoopStallsAreReported_data();
    void framesLostWhileTheLoopStallsAreReported();
    void refusedFrameDoesNotStopGrabbing();
    void vanishedCameraEndsTheLoopAndSaysSo();

private:
    bool startLoop(const QByteArray &ini, bool reportChanges = false);
    void stopLoop();

    std::unique_ptr<CameraWindow> m_fixture;
    std::unique_ptr<WorkThread> m_thread;
    std::unique_ptr<LoopRecorder> m_recorder;
};

void WorkThreadTest::init()
{
    mvsim::reset();
    m_fixture = std::make_unique<CameraWindow>();
    // The loop gets its own handle; the window's search does not touch it.
    QVERIFY(m_fixture->make(false));
}

void WorkThreadTest::cleanup()
{
    stopLoop();
    m_recorder.reset();
    m_thread.reset();
    m_fixture.reset();
    mvsim::reset();
}

/* Opens the only camera of `ini` for the window and starts a loop of its own on it. */
bool WorkThreadTest::startLoop(const QByteArray &ini, bool reportChanges)
{
    if (!installCameras(ini.toStdString()))
        return false;
    MainWindow &window = *m_fixture->window;
    MV_CC_DEVICE_INFO_LIST list;
    std::memset(&list, 0, sizeof list);
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK || list.nDeviceNum != 1)
        return false;
    window.m_deviceInfo = *list.pDeviceInfo[0];
    if (MV_CC_CreateHandle(&window.m_handle, &window.m_deviceInfo) != MV_OK)
        return false;
    if (MV_CC_OpenDevice(window.m_handle, MV_ACCESS_Exclusive, 0) != MV_OK)
        return false;
    m_thread = std::make_unique<WorkThread>(&window);
    m_recorder = std::make_unique<LoopRecorder>(m_thread.get());
    m_thread->setRunning(true);
    m_thread->setReportChanges(reportChanges);
    m_thread->start();
    return MV_CC_StartGrabbing(window.m_handle) == MV_OK;
}

void WorkThreadTest::stopLoop()
{
    if (!m_fixture || !m_fixture->window)
        return;
    MainWindow &window = *m_fixture->window;
    if (m_thread) {
        m_thread->setRunning(false);
        if (window.m_handle)
            MV_CC_StopGrabbing(window.m_handle);
        m_thread->wait();
    }
    if (window.m_handle) {
        MV_CC_CloseDevice(window.m_handle);
        MV_CC_DestroyHandle(window.m_handle);
        window.m_handle = nullptr;
    }
    // Deliver what the loop queued before it ended.
    QCoreApplication::processEvents();
}

void WorkThreadTest::firstFrameHasIntervalZeroAndTotalOne()
{
    QVERIFY(startLoop(camera("GigE", "Mono8")));
    QTRY_VERIFY(m_recorder->infos.size() >= 4);
    stopLoop();
    const QList<FrameInfo> &infos = m_recorder->infos;
    QCOMPARE(infos.first().interval, 0LL);
    QCOMPARE(infos.first().total, 1);
    for (int i = 1; i < infos.size(); ++i) {
        QCOMPARE(infos[i].total, i + 1);
        QCOMPARE(infos[i].interval, infos[i].timestamp - infos[i - 1].timestamp);
        QVERIFY(infos[i].interval > 0);
        QVERIFY(infos[i].framecount >= infos[i - 1].framecount);
    }
    QVERIFY(infos.last().framecount >= uint(infos.size()));
    QCOMPARE(infos.first().width, 64);
    QCOMPARE(infos.first().height, 16);
}

void WorkThreadTest::framesBecomeImagesByPixelFormat_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("conversionFails");
    QTest::addColumn<int>("imageFormat"); // QImage::Format_Invalid: no image
    QTest::newRow("Mono8 converted") << QByteArray("Mono8") << false << int(QImage::Format_RGB888);
    QTest::newRow("Mono8 shown as gray when conversion fails")
        << QByteArray("Mono8") << true << int(QImage::Format_Grayscale8);
    QTest::newRow("RGB8 converted") << QByteArray("RGB8") << false << int(QImage::Format_RGB888);
    QTest::newRow("RGB8 without conversion has no image")
        << QByteArray("RGB8") << true << int(QImage::Format_Invalid);
    QTest::newRow("BayerRG8 converted") << QByteArray("BayerRG8") << false << int(QImage::Format_RGB888);
    QTest::newRow("BayerRG8 shows its mosaic when conversion fails")
        << QByteArray("BayerRG8") << true << int(QImage::Format_Grayscale8);
}

void WorkThreadTest::framesBecomeImagesByPixelFormat()
{
    QFETCH(QByteArray, format);
    QFETCH(bool, conversionFails);
    QFETCH(int, imageFormat);
    const char *fault = conversionFails ? "fault.MV_CC_ConvertPixelType = 0x8000000F\n" : "";
    QVERIFY(startLoop(camera("USB3", format.constData(), fault)));
    QTRY_VERIFY(m_recorder->infos.size() >= 5);
    stopLoop();
    if (imageFormat == QImage::Format_Invalid) {
        QCOMPARE(m_recorder->images.size(), 0);
        QVERIFY(!m_recorder->events.contains('G'));
        return;
    }
    QCOMPARE(m_recorder->images.size(), m_recorder->infos.size());
    QCOMPARE(m_recorder->events, QString(m_recorder->infos.size(), QChar('I')).replace("I", "IG"));
    for (const QImage &image : qAsConst(m_recorder->images)) {
        QCOMPARE(int(image.format()), imageFormat);
        QCOMPARE(image.size(), QSize(64, 16));
    }
    if (format == "BayerRG8" && !conversionFails)
        return; // the demosaic blends the stamp pixels with their neighbours
    // Every image holds its own frame: stamps run on without repeat across images.
    QList<quint32> lines;
    for (const QImage &image : qAsConst(m_recorder->images))
        lines += stamps(image);
    for (int i = 1; i < lines.size(); ++i)
        QVERIFY2(lines[i] > lines[i - 1],
                 qPrintable(QStringLiteral("line %1 after %2").arg(lines[i]).arg(lines[i - 1])));
    for (int i = 1; i < 16; ++i)
        QCOMPARE(lines[i], lines[i - 1] + 1);
}

void WorkThreadTest::latestRawFrameIsKeptForTheSnapshot()
{
    QVERIFY(startLoop(camera("GigE", "Mono8")));
    QTRY_VERIFY(m_recorder->images.size() >= 3);
    stopLoop();
    MainWindow &window = *m_fixture->window;
    QMutexLocker frameLock(&window.m_frameMutex);
    const QImage last = m_recorder->images.last();
    QCOMPARE(window.m_lastFrameBufferSize, 64u * 16u);
    QCOMPARE(window.m_lastFrameInfo.nFrameLen, 64u * 16u);
    QCOMPARE(window.m_lastFrameInfo.enPixelType, PixelType_Gvsp_Mono8);
    QCOMPARE(qlonglong(frameTimestamp(window.m_lastFrameInfo.nDevTimeStampHigh,
                                      window.m_lastFrameInfo.nDevTimeStampLow)),
             m_recorder->infos.last().timestamp);
    for (int y : {0, 15})
        for (int x = 0; x < 64; ++x)
            QCOMPARE(qRed(last.pixel(x, y)), int(window.m_lastFrameBuffer[size_t(y * 64 + x)]));
}

void WorkThreadTest::stitchFeedFollowsEveryImageWithTheSameFrameTwice()
{
    QVERIFY(startLoop(camera("GigE", "Mono8"), true));
    QTRY_VERIFY(m_recorder->changed.size() >= 4);
    stopLoop();
    const int frames = m_recorder->infos.size();
    QCOMPARE(m_recorder->events, QString(frames, QChar('I')).replace("I", "IGC"));
    QCOMPARE(m_recorder->changed.size(), frames);
    for (int i = 0; i < frames; ++i) {
        QCOMPARE(m_recorder->changed[i], m_recorder->images[i]);
        QCOMPARE(m_recorder->changedTimestamps[i], m_recorder->infos[i].timestamp);
    }
}

void WorkThreadTest::withoutTheStitchFeedNoChangeIsReported()
{
    QVERIFY(startLoop(camera("GigE", "Mono8"), false));
    QTRY_VERIFY(m_recorder->images.size() >= 4);
    stopLoop();
    QVERIFY(!m_recorder->events.contains('C'));
}

void WorkThreadTest::clearingTheRunningFlagTurnsTheStitchFeedOff()
{
    WorkThread thread(m_fixture->window.get());
    thread.setRunning(true);
    thread.setReportChanges(true);
    QVERIFY(thread.isRunningFlag());
    thread.setRunning(true);
    QVERIFY(thread.reportChanges());
    thread.setRunning(false);
    QVERIFY(!thread.isRunningFlag());
    QVERIFY(!thread.reportChanges());
}

void WorkThreadTest::incompleteFramesKeepTheirOwnHeight()
{
    // Objects of 40 lines in frames of 16: two full frames and one of 8 lines per object.
    QVERIFY(startLoop(camera("GigE", "Mono8", "object_lines = 40\ngap_lines = 24\n")));
    QTRY_VERIFY(m_recorder->infos.size() >= 10);
    stopLoop();
    // Grabbing may begin anywhere in an object, so only the sizes are fixed, not where the cycle starts.
    QCOMPARE(m_recorder->images.size(), m_recorder->infos.size());
    int incomplete = 0;
    for (int i = 0; i < m_recorder->infos.size(); ++i) {
        const int height = m_recorder->infos[i].height;
        QVERIFY2(height == 16 || height == 8, qPrintable(QString::number(height)));
        QCOMPARE(m_recorder->images[i].size(), QSize(64, height));
        incomplete += height == 8 ? 1 : 0;
    }
    QVERIFY(incomplete >= 2);
}

void WorkThreadTest::framesLostWhileTheLoopStallsAreReported_data()
{
    QTest::addColumn<QByteArray>("transport");
    QTest::newRow("GigE network statistics") << QByteArray("GigE");
    QTest::newRow("USB3 match statistics") << QByteArray("USB3");
}

void WorkThreadTest::framesLostWhileTheLoopStallsAreReported()
{
    QFETCH(QByteArray, transport);
    QVERIFY(startLoop(camera(transport.constData(), "Mono8", "buffer_count = 1\n")));
    QTRY_VERIFY(m_recorder->infos.size() >= 2);
    const int lostBefore = m_recorder->infos.last().lost;
    {
        // Holding the frame lock stalls the loop, as a slow snapshot would;
        // the camera keeps one frame and drops the rest.
        QMutexLocker frameLock(&m_fixture->window->m_frameMutex);
        QTest::qSleep(300);
    }
    const int before = m_recorder->infos.size();
    QTRY_VERIFY(m_recorder->infos.size() >= before + 3);
    stopLoop();
    // 300 ms at 500 frames per second: far more than a few frames must be missing.
    QVERIFY(m_recorder->infos.last().lost > lostBefore + 20);
    QVERIFY(m_recorder->infos.last().framecount >= uint(m_recorder->infos.size()));
}

void WorkThreadTest::refusedFrameDoesNotStopGrabbing()
{
    QVERIFY(startLoop(camera("GigE", "Mono8")));
    mvsim::setFault("MV_CC_GetOneFrameTimeout", int(MV_E_BUFOVER), std::string(), 2);
    QTRY_VERIFY(m_recorder->images.size() >= 3);
    QVERIFY(m_thread->isRunning());
}

void WorkThreadTest::vanishedCameraEndsTheLoopAndSaysSo()
{
    QVERIFY(startLoop(camera("GigE", "Mono8", "vanish_after_frames = 3\n")));
    QTRY_VERIFY(m_recorder->events.endsWith('L'));
    QVERIFY(m_thread->wait(5000));
    QVERIFY(!m_thread->isRunningFlag());
    QCoreApplication::processEvents();
    QCOMPARE(m_recorder->infos.size(), 3);
    QCOMPARE(m_recorder->events.count('L'), 1);
}

QTEST_MAIN(WorkThreadTest)
#include "tst_workthread.moc"
