// The camera library driving a real GigE Vision peer: Aravis's fake camera on
// loopback, reached through the GenICam backend.
#include <QtTest>

#include "genicamfakecamera.h"

#include <atomic>
#include <thread>

using namespace genicamtest;

namespace {

// The fake camera's picture: 512 x 512 Mono8, a diagonal ramp.
constexpr unsigned int fakeWidth = 512;
constexpr unsigned int fakeHeight = 512;

// Each line is the one above moved left by a pixel: lines were copied whole and in order.
bool isDiagonalRamp(const std::vector<unsigned char> &frame)
{
    for (unsigned int y = 0; y + 1 < fakeHeight; ++y)
        for (unsigned int x = 0; x + 1 < fakeWidth; ++x)
            if (frame[y * fakeWidth + x + 1] != frame[(y + 1) * fakeWidth + x])
                return false;
    return true;
}

// GigE Vision block ids have 16 bits and skip 0 when they wrap.
bool followsInStream(unsigned int previous, unsigned int next)
{
    return next == previous + 1 || (previous == 65535 && next == 1);
}

} // namespace

class GenicamCameraTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_serial = uniqueSerial();
        const QString reason = unavailableReason(m_serial);
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
    }

    void init()
    {
        QString why;
        if (!m_camera.isRunning())
            QVERIFY2(m_camera.start(m_serial, why), qPrintable(why));
        QVERIFY(findCamera(m_serial, m_record));
        QCOMPARE(MV_CC_CreateHandle(&m_handle, &m_record), int(MV_OK));
        QCOMPARE(MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0), int(MV_OK));
    }

    void cleanup()
    {
        if (!m_handle)
            return;
        MV_CC_StopGrabbing(m_handle);
        MV_CC_CloseDevice(m_handle);
        MV_CC_DestroyHandle(m_handle);
        m_handle = nullptr;
    }

    void searchListsTheFakeCameraAsGigEOnLoopbackAndASecondOpenIsRefused()
    {
        QCOMPARE(m_record.nTLayerType, uint(MV_GIGE_DEVICE));
        QCOMPARE(m_record.SpecialInfo.stGigEInfo.nCurrentIp, loopbackAddress);
        void *second = nullptr;
        QCOMPARE(MV_CC_CreateHandle(&second, &m_record), int(MV_OK));
        QCOMPARE(MV_CC_OpenDevice(second, MV_ACCESS_Exclusive, 0), int(MV_E_ACCESS));
        QCOMPARE(MV_CC_DestroyHandle(second), int(MV_OK));
    }

    void framesArriveWholeInOrderAndNeverOverrunTheBuffer()
    {
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeWidth * fakeHeight + 100, 0xA5);
        std::vector<unsigned char> small(1000, 0x5A);
        MV_FRAME_OUT_INFO_EX info{}, previous{};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(grab(frame, info), int(MV_OK));
            QCOMPARE(info.nWidth, fakeWidth);
            QCOMPARE(info.nHeight, fakeHeight);
            QCOMPARE(info.nFrameLen, fakeWidth * fakeHeight);
            QVERIFY(isDiagonalRamp(frame));
            QCOMPARE(frame[fakeWidth * fakeHeight], static_cast<unsigned char>(0xA5));
            if (i > 0)
                QVERIFY(followsInStream(previous.nFrameNum, info.nFrameNum));
            previous = info;
            // Too small: refused untouched, and the frame is offered again.
            QCOMPARE(grab(small, info), int(MV_E_BUFOVER));
            QCOMPARE(std::count(small.begin(), small.end(), 0x5A), std::ptrdiff_t(small.size()));
        }
        // 25 frames a second: after a pause, a zero timeout still takes one.
        QThread::msleep(300);
        QCOMPARE(grab(frame, info, 0), int(MV_OK));
        QCOMPARE(MV_CC_StopGrabbing(m_handle), int(MV_OK));
        cleanup();
        init(); // closed and released: the camera opens again
    }

    void exposureAndGainReachTheCameraThroughOlderNames_data()
    {
        QTest::addColumn<QByteArray>("feature");
        QTest::addColumn<float>("written");
        QTest::addColumn<float>("readBack");
        // The fake camera has ExposureTimeAbs (a float) and GainRaw (an integer).
        QTest::newRow("exposure as ExposureTimeAbs") << QByteArray("ExposureTime") << 5000.0f << 5000.0f;
        QTest::newRow("gain as integer GainRaw") << QByteArray("Gain") << 3.6f << 4.0f;
    }

    void exposureAndGainReachTheCameraThroughOlderNames()
    {
        QFETCH(QByteArray, feature);
        QFETCH(float, written);
        QCOMPARE(MV_CC_SetFloatValue(m_handle, feature.constData(), written), int(MV_OK));
        MVCC_FLOATVALUE value{};
        QCOMPARE(MV_CC_GetFloatValue(m_handle, feature.constData(), &value), int(MV_OK));
        QTEST(value.fCurValue, "readBack");
        QCOMPARE(MV_CC_SetFloatValue(m_handle, feature.constData(), value.fMax * 2), int(MV_E_RANGE));
    }

    void killedCameraEndsGrabbingAsGoneAndCloseReleasesIt()
    {
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeWidth * fakeHeight);
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(grab(frame, info), int(MV_OK));
        m_camera.kill();
        // Aravis gives up once the heartbeat has gone unanswered for a few
        // seconds; until then fetches simply find no frame.
        int result = MV_OK;
        QElapsedTimer clock;
        clock.start();
        while (result != int(MV_E_NODEVICE) && clock.elapsed() < 30000) {
            result = grab(frame, info, 1000);
            QVERIFY(result == int(MV_E_NODATA) || result == int(MV_E_NODEVICE) || result == int(MV_OK));
        }
        QCOMPARE(result, int(MV_E_NODEVICE));
        QCOMPARE(MV_CC_CloseDevice(m_handle), int(MV_OK));
        QCOMPARE(MV_CC_DestroyHandle(m_handle), int(MV_OK));
        m_handle = nullptr;
        init(); // the camera, back again, opens and grabs as new
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        QCOMPARE(grab(frame, info), int(MV_OK));
    }

    // Lost frames are whole frames: ids that never arrived between the ones
    // fetched, whatever made them go missing. Packets dropped on the wire
    // (-r: per thousand) lose frames the stream gives up on; a fetch that
    // stalls lets the ring fill and the camera's next frames find no buffer.
    void lostCountsMissingFrameIdsNotPackets_data()
    {
        QTest::addColumn<QStringList>("cameraOptions");
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<int>("frames");
        QTest::newRow("2 of 1000 packets dropped") << QStringList{"-r", "2"} << 0 << 40;
        QTest::newRow("fetch stalled for 2.5 s") << QStringList() << 2500 << 70;
    }

    void lostCountsMissingFrameIdsNotPackets()
    {
        QFETCH(QStringList, cameraOptions);
        QFETCH(int, stallMs);
        QFETCH(int, frames);
        cleanup();
        QString why;
        QVERIFY2(m_camera.start(m_serial, why, cameraOptions), qPrintable(why));
        init();
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeWidth * fakeHeight);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(grab(frame, info), int(MV_OK));
        MV_NETTRANS_INFO before{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &before), int(MV_OK));
        const unsigned int firstId = info.nFrameNum;
        unsigned int previousId = firstId;
        quint64 idsSpanned = 1;
        int received = 1;
        QThread::msleep(static_cast<unsigned long>(stallMs));
        for (int i = 0; i < frames; ++i) {
            QCOMPARE(grab(frame, info), int(MV_OK));
            QVERIFY(isDiagonalRamp(frame));
            // Block ids have 16 bits and skip 0.
            idsSpanned += info.nFrameNum > previousId ? info.nFrameNum - previousId
                                                      : 65535 - previousId + info.nFrameNum;
            previousId = info.nFrameNum;
            ++received;
        }
        MV_NETTRANS_INFO after{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &after), int(MV_OK));
        const quint64 missing = idsSpanned - quint64(received);
        QCOMPARE(quint64(after.nThrowFrameCount - before.nThrowFrameCount), missing);
        QCOMPARE(after.nNetRecvFrameCount - before.nNetRecvFrameCount, unsigned(received - 1));
        // Frames did go missing, and far fewer than the packets they held.
        QVERIFY2(missing > 0, qPrintable(QString("ids %1..%2").arg(firstId).arg(previousId)));
        QVERIFY2(missing < quint64(frames) + quint64(stallMs) / 10, qPrintable(QString::number(missing)));
        QCOMPARE(MV_CC_StopGrabbing(m_handle), int(MV_OK));
        cleanup();
        m_camera.kill(); // the next test starts it again without options
    }

    // A frame whose packets pause for 300 ms is completed, not dropped: the
    // stream waits for its missing packets at least 2 s. Large frames make
    // most pauses fall in the middle of one.
    void framesSurvivePausesOfTheCamera()
    {
        QCOMPARE(MV_CC_SetIntValueEx(m_handle, "Width", 2048), int(MV_OK));
        QCOMPARE(MV_CC_SetIntValueEx(m_handle, "Height", 2048), int(MV_OK));
        QCOMPARE(MV_CC_SetEnumValue(m_handle, "PixelFormat", PixelType_Gvsp_RGB8_Packed), int(MV_OK));
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(2048 * 2048 * 3);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(grab(frame, info), int(MV_OK));
        MV_NETTRANS_INFO before{}, after{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &before), int(MV_OK));
        std::atomic<bool> pausing{true};
        std::thread belt([&] {
            for (int i = 0; i < 5; ++i) {
                QThread::msleep(170);
                m_camera.pause(300);
            }
            pausing = false;
        });
        int received = 0;
        while (pausing || received < 3)
            if (grab(frame, info, 1000) == int(MV_OK))
                ++received;
        belt.join();
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &after), int(MV_OK));
        QCOMPARE(after.nThrowFrameCount - before.nThrowFrameCount, 0);
        QCOMPARE(int(after.nNetRecvFrameCount - before.nNetRecvFrameCount), received);
        cleanup();
        m_camera.kill(); // back to its 512 x 512 Mono8 for the next test
    }

    // Aravis notices a camera gone only seconds later, and every command to it
    // waits out its retries meanwhile; the caller must not wait with it.
    void callsRightAfterTheCameraDiedReturnPromptly_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("expected");
        QTest::newRow("stop") << "stop" << int(MV_OK);
        QTest::newRow("feature read") << "read" << int(MV_E_NODEVICE);
        QTest::newRow("feature write") << "write" << int(MV_E_NODEVICE);
        QTest::newRow("close") << "close" << int(MV_OK);
    }

    void callsRightAfterTheCameraDiedReturnPromptly()
    {
        QFETCH(QString, call);
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeWidth * fakeHeight);
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(grab(frame, info), int(MV_OK));
        m_camera.kill();
        QThread::msleep(200);
        QElapsedTimer clock;
        clock.start();
        int result = MV_E_UNKNOWN;
        MVCC_FLOATVALUE value{};
        if (call == "stop")
            result = MV_CC_StopGrabbing(m_handle);
        else if (call == "read")
            result = MV_CC_GetFloatValue(m_handle, "ExposureTime", &value);
        else if (call == "write")
            result = MV_CC_SetFloatValue(m_handle, "ExposureTime", 2000.0f);
        else
            result = MV_CC_CloseDevice(m_handle);
        const qint64 elapsed = clock.elapsed();
        qInfo("%s took %lld ms", qPrintable(call), elapsed);
        QTEST(result, "expected");
        QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
        // Whatever came first, closing and destroying stay prompt too.
        clock.restart();
        MV_CC_CloseDevice(m_handle);
        QCOMPARE(MV_CC_DestroyHandle(m_handle), int(MV_OK));
        m_handle = nullptr;
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    // The fake camera draws the same diagonal ramp in every format: Mono16 as
    // words below 256, BayerGR8 as a colour map laid out in a mosaic. What
    // the library shows must be that frame, converted.
    void mono16AndBayerGR8FramesShowTheCamerasPicture_data()
    {
        QTest::addColumn<unsigned int>("format");
        QTest::newRow("Mono16") << unsigned(PixelType_Gvsp_Mono16);
        QTest::newRow("BayerGR8") << unsigned(PixelType_Gvsp_BayerGR8);
    }

    void mono16AndBayerGR8FramesShowTheCamerasPicture()
    {
        QFETCH(unsigned int, format);
        QCOMPARE(MV_CC_SetEnumValue(m_handle, "PixelFormat", format), int(MV_OK));
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        const unsigned int bytes = format == PixelType_Gvsp_Mono16 ? 2 : 1;
        std::vector<unsigned char> frame(fakeWidth * fakeHeight * bytes);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(grab(frame, info), int(MV_OK));
        QCOMPARE(info.enPixelType, format);
        QCOMPARE(info.nFrameLen, fakeWidth * fakeHeight * bytes);
        std::vector<unsigned char> rgb(fakeWidth * fakeHeight * 3);
        MV_CC_PIXEL_CONVERT_PARAM param{fakeWidth,
                                        fakeHeight,
                                        format,
                                        frame.data(),
                                        info.nFrameLen,
                                        PixelType_Gvsp_RGB8_Packed,
                                        rgb.data(),
                                        0,
                                        unsigned(rgb.size()),
                                        {}};
        QCOMPARE(MV_CC_ConvertPixelType(m_handle, &param), int(MV_OK));
        const auto raw = [&](unsigned int x, unsigned int y) {
            const std::size_t i = std::size_t(y) * fakeWidth + x;
            return bytes == 2 ? unsigned(frame[2 * i] | (frame[2 * i + 1] << 8)) : unsigned(frame[i]);
        };
        for (unsigned int y = 2; y < fakeHeight; ++y)
            for (unsigned int x = 0; x + 2 < fakeWidth; ++x) {
                // Along an anti-diagonal the ramp, and the mosaic site, repeat.
                QCOMPARE(raw(x + 2, y - 2), raw(x, y));
                const unsigned char *pixel = &rgb[(std::size_t(y) * fakeWidth + x) * 3];
                if (bytes == 2) {
                    QCOMPARE(unsigned(pixel[0]), raw(x, y) >> 8);
                    QCOMPARE(pixel[1], pixel[0]);
                } else if (y + 1 < fakeHeight) {
                    // G R / B G: the 2x2 window at the pixel gives red, blue
                    // and the mean of its greens.
                    const bool redRow = (y & 1) == 0, redColumn = (x & 1) == 1;
                    const unsigned int a = raw(x, y), b = raw(x + 1, y), c = raw(x, y + 1),
                                       d = raw(x + 1, y + 1);
                    const unsigned int red = redRow ? (redColumn ? a : b) : (redColumn ? c : d);
                    const unsigned int blue = redRow ? (redColumn ? d : c) : (redColumn ? b : a);
                    const unsigned int greens = a + b + c + d - red - blue;
                    QCOMPARE(unsigned(pixel[0]), red);
                    QCOMPARE(unsigned(pixel[1]), (greens + 1) / 2);
                    QCOMPARE(unsigned(pixel[2]), blue);
                }
            }
        QCOMPARE(MV_CC_StopGrabbing(m_handle), int(MV_OK));
        QCOMPARE(MV_CC_SetEnumValue(m_handle, "PixelFormat", PixelType_Gvsp_Mono8), int(MV_OK));
    }

private:
    int grab(std::vector<unsigned char> &frame, MV_FRAME_OUT_INFO_EX &info, unsigned int timeoutMs = 3000)
    {
        return MV_CC_GetOneFrameTimeout(m_handle, frame.data(), unsigned(frame.size()), &info, timeoutMs);
    }

    FakeCamera m_camera;
    QString m_serial;
    MV_CC_DEVICE_INFO m_record;
    void *m_handle = nullptr;
};

QTEST_GUILESS_MAIN(GenicamCameraTest)
#include "tst_genicam_camera.moc"
