// The frames of simulated line-scan cameras: object mode, line stamps,
// pacing, lost frames, features that steer the stream.
#include "tst_sdk_camera.h"

#include <QElapsedTimer>

namespace {

uint64_t timestampOf(const MV_FRAME_OUT_INFO_EX &info)
{
    return (uint64_t(info.nDevTimeStampHigh) << 32) | info.nDevTimeStampLow;
}

// Checks that every line of a frame carries the next line number; advances next.
bool linesFollowOn(const std::vector<unsigned char> &frame, const MV_FRAME_OUT_INFO_EX &info,
                   unsigned int bpp, uint32_t &next)
{
    for (unsigned int row = 0; row < info.nHeight; ++row) {
        if (mvsim::lineStamp(frame.data() + std::size_t(row) * info.nWidth * bpp, bpp) != next)
            return false;
        ++next;
    }
    return true;
}

} // namespace

class SdkStreamTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("CORVISTA_CAMERAS", "simulator");
        mvsim::reset();
    }

    void objectModeEndsEachObjectWithAnIncompleteFrame_data()
    {
        QTest::addColumn<int>("objectLines");
        QTest::addColumn<QList<int>>("heights");
        QTest::newRow("remainder of 8 lines") << 40 << QList<int>{16, 16, 8, 16, 16, 8, 16, 16, 8};
        QTest::newRow("object shorter than a frame") << 5 << QList<int>{5, 5, 5};
        QTest::newRow("object of whole frames") << 32 << QList<int>{16, 16, 16, 16};
    }

    void objectModeEndsEachObjectWithAnIncompleteFrame()
    {
        QFETCH(int, objectLines);
        QFETCH(QList<int>, heights);
        INSTALL_CAMERAS(QString("[OBJ]\nwidth = 64\nlines_per_frame = 16\nline_rate = 0\ngap_lines = 24\n"
                                "object_lines = %1\n")
                            .arg(objectLines)
                            .toStdString());
        CameraHandle camera("OBJ");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        uint32_t nextLine = 0;
        for (int expected : heights) {
            QCOMPARE(camera.fetch(frame, info), MV_OK);
            QCOMPARE(int(info.nHeight), expected);
            QCOMPARE(info.nWidth, 64u);
            QCOMPARE(info.nFrameLen, 64u * unsigned(expected));
            QVERIFY(linesFollowOn(frame, info, 1, nextLine));
        }
    }

    void gapsBetweenObjectsTakeTheirLinePeriods()
    {
        // 2000 lines per second: a line period is 500 us on the device clock.
        INSTALL_CAMERAS("[OBJ]\nwidth = 32\nlines_per_frame = 16\nline_rate = 2000\n"
                        "object_lines = 24\ngap_lines = 100\n");
        CameraHandle camera("OBJ");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QList<uint64_t> stamps;
        QList<unsigned int> heights;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(camera.fetch(frame, info), MV_OK);
            stamps << timestampOf(info);
            heights << info.nHeight;
        }
        QCOMPARE(heights, (QList<unsigned int>{16, 8, 16, 8}));
        // Frame ends: 16 lines, 24 lines, 124 + 16 lines, 124 + 24 lines.
        QVERIFY(qAbs(qint64(stamps[1] - stamps[0]) - 8 * 500) <= 2);
        QVERIFY(qAbs(qint64(stamps[2] - stamps[1]) - 116 * 500) <= 2);
        QVERIFY(qAbs(qint64(stamps[3] - stamps[2]) - 8 * 500) <= 2);
    }

    void everyPixelFollowsTheDocumentedScene_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<unsigned int>("type");
        QTest::addColumn<unsigned int>("bpp");
        QTest::newRow("Mono8") << "Mono8" << unsigned(PixelType_Gvsp_Mono8) << 1u;
        QTest::newRow("RGB8") << "RGB8" << unsigned(PixelType_Gvsp_RGB8_Packed) << 3u;
        QTest::newRow("BayerRG8") << "BayerRG8" << unsigned(PixelType_Gvsp_BayerRG8) << 1u;
    }

    void everyPixelFollowsTheDocumentedScene()
    {
        QFETCH(QString, format);
        QFETCH(unsigned int, type);
        QFETCH(unsigned int, bpp);
        INSTALL_CAMERAS(
            QString("[SCENE]\nwidth = 300\nlines_per_frame = 8\nline_rate = 0\npixel_format = %1\n")
                .arg(format)
                .toStdString());
        CameraHandle camera("SCENE");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(camera.fetch(frame, info), MV_OK); // lines 8..15
        QCOMPARE(info.enPixelType, type);
        QCOMPARE(std::size_t(info.nFrameLen), std::size_t(300 * 8 * bpp));
        int mismatches = 0;
        for (unsigned int row = 0; row < 8; ++row)
            for (unsigned int x = 0; x < 300; ++x)
                for (unsigned int c = 0; c < bpp; ++c)
                    mismatches += frame[(row * 300 + x) * bpp + c]
                        != mvsim::scenePixel("SCENE", 8 + row, x, c, type);
        QCOMPARE(mismatches, 0);
        // Not a flat picture: the scene must show movement and detail.
        QVERIFY(frame[100 * bpp] != frame[(300 + 100) * bpp] || frame[100 * bpp] != frame[140 * bpp]);
    }

    void differentCamerasShowDifferentScenes()
    {
        QVERIFY(mvsim::scenePixel("A-1", 10, 50, 0, PixelType_Gvsp_Mono8)
                    != mvsim::scenePixel("B-2", 10, 50, 0, PixelType_Gvsp_Mono8)
                || mvsim::scenePixel("A-1", 10, 51, 0, PixelType_Gvsp_Mono8)
                    != mvsim::scenePixel("B-2", 10, 51, 0, PixelType_Gvsp_Mono8));
    }

    void lineStampDecodesBigEndianBytesOfTheFirstFourPixels_data()
    {
        QTest::addColumn<QByteArray>("pixels");
        QTest::addColumn<unsigned int>("bpp");
        QTest::addColumn<uint32_t>("line");
        QTest::newRow("gray") << QByteArray("\x01\x02\x03\x04\x99", 5) << 1u << uint32_t(0x01020304);
        QTest::newRow("colour reads the first channel")
            << QByteArray("\x00\xff\xff\x00\xff\xff\x01\xff\xff\x02\xff\xff", 12) << 3u << uint32_t(0x102);
        QTest::newRow("largest") << QByteArray("\xff\xff\xff\xff", 4) << 1u << uint32_t(0xFFFFFFFF);
    }

    void lineStampDecodesBigEndianBytesOfTheFirstFourPixels()
    {
        QFETCH(QByteArray, pixels);
        QFETCH(unsigned int, bpp);
        QFETCH(uint32_t, line);
        QCOMPARE(mvsim::lineStamp(reinterpret_cast<const unsigned char *>(pixels.constData()), bpp), line);
    }

    void lineNumbersContinueOverStopAndRestartOnReopen()
    {
        INSTALL_CAMERAS("[C]\nwidth = 16\nlines_per_frame = 4\nline_rate = 0\npixel_format = RGB8\n");
        CameraHandle camera("C");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        uint32_t next = 0;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(camera.fetch(frame, info), MV_OK);
            QVERIFY(linesFollowOn(frame, info, 3, next));
        }
        QCOMPARE(MV_CC_StopGrabbing(camera.handle), MV_OK);
        QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(info.nFrameNum, 3u);
        QVERIFY(linesFollowOn(frame, info, 3, next));
        QCOMPARE(MV_CC_CloseDevice(camera.handle), MV_OK);
        QVERIFY(camera.start());
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(info.nFrameNum, 0u);
        QCOMPARE(mvsim::lineStamp(frame.data(), 3), 0u);
    }

    void framesArriveAtTheLineRate()
    {
        // 64 lines at 8000 lines per second: one frame every 8 ms.
        INSTALL_CAMERAS("[P]\nwidth = 32\nlines_per_frame = 64\nline_rate = 8000\n");
        CameraHandle camera("P");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QElapsedTimer clock;
        clock.start();
        QList<uint64_t> stamps;
        QList<unsigned int> numbers;
        for (int i = 0; i < 25; ++i) {
            QCOMPARE(camera.fetch(frame, info), MV_OK);
            stamps << timestampOf(info);
            numbers << info.nFrameNum;
        }
        // 25 frames cannot come sooner than the camera reads them out.
        QVERIFY2(clock.elapsed() >= 190, qPrintable(QString::number(clock.elapsed())));
        // 8 ms per frame read out; a frame dropped on a busy machine counts too.
        for (int i = 1; i < stamps.size(); ++i)
            QVERIFY(qAbs(qint64(stamps[i] - stamps[i - 1]) - 8000 * qint64(numbers[i] - numbers[i - 1]))
                    <= 2);
    }

    void framesTheHostDoesNotFetchInTimeAreDroppedAndCounted_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("GigE") << "GigE";
        QTest::newRow("USB3") << "USB3";
    }

    void framesTheHostDoesNotFetchInTimeAreDroppedAndCounted()
    {
        QFETCH(QString, transport);
        // 100 frames per second, room for 4 on the camera.
        INSTALL_CAMERAS(QString("[L]\ntransport = %1\nwidth = 16\nlines_per_frame = 100\nline_rate = 10000\n"
                                "buffer_count = 4\n")
                            .arg(transport)
                            .toStdString());
        CameraHandle camera("L");
        QVERIFY(camera.start());
        QTest::qSleep(300);
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        uint32_t next = 0;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(camera.fetch(frame, info), MV_OK);
            QCOMPARE(info.nFrameNum, unsigned(i));
            QVERIFY(linesFollowOn(frame, info, 1, next));
        }
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        const unsigned int skipped = info.nFrameNum - 4;
        QVERIFY2(skipped >= 10, qPrintable(QString::number(skipped)));
        QCOMPARE(mvsim::lineStamp(frame.data(), 1), info.nFrameNum * 100);

        unsigned int lost = 0, received = 0;
        if (transport == "GigE") {
            MV_NETTRANS_INFO net{};
            QCOMPARE(MV_GIGE_GetNetTransInfo(camera.handle, &net), MV_OK);
            lost = unsigned(net.nThrowFrameCount);
            received = net.nNetRecvFrameCount;
        } else {
            MV_MATCH_INFO_USB_DETECT usb{};
            MV_ALL_MATCH_INFO match{MV_MATCH_TYPE_USB_DETECT, &usb, sizeof usb};
            QCOMPARE(MV_CC_GetAllMatchInfo(camera.handle, &match), MV_OK);
            lost = usb.nErrorFrameCount;
            received = usb.nReceivedFrameCount;
        }
        QCOMPARE(received, 5u);
        // Counted as soon as they are dropped: the skipped ones at least.
        QVERIFY2(lost >= skipped, qPrintable(QString("%1 < %2").arg(lost).arg(skipped)));
    }

    void countersStartAgainWithEachStream()
    {
        INSTALL_CAMERAS("[G]\nwidth = 16\nlines_per_frame = 4\nline_rate = 0\n");
        CameraHandle camera("G");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(MV_CC_StopGrabbing(camera.handle), MV_OK);
        QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        MV_NETTRANS_INFO net{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(camera.handle, &net), MV_OK);
        QCOMPARE(net.nNetRecvFrameCount, 1u);
    }

    void resultingLineRateFollowsTheRequestAndTheExposure_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("requested");
        QTest::addColumn<float>("exposure");
        QTest::addColumn<int>("resulting");
        QTest::newRow("request honoured") << true << 5000 << 20.0f << 5000;
        QTest::newRow("control off runs at the maximum") << false << 5000 << 20.0f << 30000;
        QTest::newRow("exposure caps the request") << true << 20000 << 100.0f << 10000;
        QTest::newRow("exposure caps the maximum") << false << 5000 << 250.0f << 4000;
    }

    void resultingLineRateFollowsTheRequestAndTheExposure()
    {
        QFETCH(bool, enabled);
        QFETCH(int, requested);
        QFETCH(float, exposure);
        QFETCH(int, resulting);
        INSTALL_CAMERAS("[R]\nwidth = 16\nlines_per_frame = 4\nline_rate = 1000\nmax_line_rate = 30000\n");
        CameraHandle camera("R");
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(MV_CC_SetFloatValue(camera.handle, "ExposureTime", exposure), MV_OK);
        QCOMPARE(MV_CC_SetIntValueEx(camera.handle, "AcquisitionLineRate", requested), MV_OK);
        QCOMPARE(MV_CC_SetBoolValue(camera.handle, "AcquisitionLineRateEnable", enabled), MV_OK);
        QCOMPARE(camera.intValue("ResultingLineRate"), int64_t(resulting));
        QCOMPARE(camera.intValue("AcquisitionLineRate"), int64_t(requested));
    }

    void aNewLineRateWhileGrabbingPacesTheFollowingFrames()
    {
        INSTALL_CAMERAS("[R]\nwidth = 16\nlines_per_frame = 40\nline_rate = 20000\nbuffer_count = 4\n");
        CameraHandle camera("R");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(MV_CC_SetIntValueEx(camera.handle, "AcquisitionLineRate", 4000), MV_OK);
        // At most the 4 frames the camera holds, and the one being read out,
        // come from before the change.
        for (int i = 0; i < 6; ++i)
            QCOMPARE(camera.fetch(frame, info), MV_OK);
        const uint64_t before = timestampOf(info);
        const unsigned int number = info.nFrameNum;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        // 40 lines at 4000 per second, for each frame read out since.
        const qint64 expected = 10000 * qint64(info.nFrameNum - number);
        QVERIFY(qAbs(qint64(timestampOf(info) - before) - expected) <= 2);
    }

    void featuresHaveTheirTypesAndRanges_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QChar>("type");
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::newRow("ExposureTime") << "ExposureTime" << QChar('f') << 2.0 << 1000.0;
        QTest::newRow("Gain") << "Gain" << QChar('f') << 0.0 << 20.0;
        QTest::newRow("AcquisitionLineRate") << "AcquisitionLineRate" << QChar('i') << 10.0 << 30000.0;
        QTest::newRow("GevSCPSPacketSize") << "GevSCPSPacketSize" << QChar('i') << 576.0 << 9000.0;
        QTest::newRow("Width") << "Width" << QChar('i') << 16.0 << 16.0;
    }

    void featuresHaveTheirTypesAndRanges()
    {
        QFETCH(QString, name);
        QFETCH(QChar, type);
        QFETCH(double, min);
        QFETCH(double, max);
        INSTALL_CAMERAS("[R]\nwidth = 16\nlines_per_frame = 4\nline_rate = 1000\nmax_line_rate = 30000\n");
        CameraHandle camera("R");
        QCOMPARE(camera.open(), MV_OK);
        const QByteArray key = name.toLatin1();
        MVCC_INTVALUE_EX intValue{};
        MVCC_FLOATVALUE floatValue{};
        if (type == 'f') {
            QCOMPARE(MV_CC_GetFloatValue(camera.handle, key, &floatValue), MV_OK);
            QCOMPARE(double(floatValue.fMin), min);
            QCOMPARE(double(floatValue.fMax), max);
            QCOMPARE(MV_CC_GetIntValueEx(camera.handle, key, &intValue), status(MV_E_TYPE));
            QCOMPARE(MV_CC_SetFloatValue(camera.handle, key, float(max) + 1), status(MV_E_RANGE));
            QCOMPARE(MV_CC_SetFloatValue(camera.handle, key, float(min) - 1), status(MV_E_RANGE));
            QCOMPARE(MV_CC_SetFloatValue(camera.handle, key, float(max)), MV_OK);
        } else {
            QCOMPARE(MV_CC_GetIntValueEx(camera.handle, key, &intValue), MV_OK);
            QCOMPARE(double(intValue.nMin), min);
            QCOMPARE(double(intValue.nMax), max);
            QCOMPARE(MV_CC_GetFloatValue(camera.handle, key, &floatValue), status(MV_E_TYPE));
            if (min != max) {
                QCOMPARE(MV_CC_SetIntValueEx(camera.handle, key, int64_t(max) + intValue.nInc),
                         status(MV_E_RANGE));
                QCOMPARE(MV_CC_SetIntValueEx(camera.handle, key, int64_t(min) - intValue.nInc),
                         status(MV_E_RANGE));
                QCOMPARE(MV_CC_SetIntValueEx(camera.handle, key, int64_t(max)), MV_OK);
            }
        }
    }

    void readOnlyFeaturesRefuseWrites_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Width") << "Width";
        QTest::newRow("Height") << "Height";
        QTest::newRow("PayloadSize") << "PayloadSize";
        QTest::newRow("ResultingLineRate") << "ResultingLineRate";
    }

    void readOnlyFeaturesRefuseWrites()
    {
        QFETCH(QString, name);
        INSTALL_CAMERAS("[R]\nwidth = 16\nlines_per_frame = 4\n");
        CameraHandle camera("R");
        QCOMPARE(camera.open(), MV_OK);
        const int64_t before = camera.intValue(name.toLatin1());
        QCOMPARE(MV_CC_SetIntValueEx(camera.handle, name.toLatin1(), 8), status(MV_E_ACCESS_RW));
        QCOMPARE(camera.intValue(name.toLatin1()), before);
    }

    void unknownAndRemovedFeaturesAreNotFound()
    {
        INSTALL_CAMERAS(
            "[R]\nwidth = 16\nlines_per_frame = 4\nmissing_features = AcquisitionLineRateEnable\n");
        CameraHandle camera("R");
        QCOMPARE(camera.open(), MV_OK);
        bool enabled = true;
        QCOMPARE(MV_CC_GetBoolValue(camera.handle, "AcquisitionLineRateEnable", &enabled),
                 status(MV_E_NOTFOUND));
        QCOMPARE(MV_CC_SetBoolValue(camera.handle, "AcquisitionLineRateEnable", true), status(MV_E_NOTFOUND));
        MVCC_INTVALUE_EX value{};
        QCOMPARE(MV_CC_GetIntValueEx(camera.handle, "NoSuchFeature", &value), status(MV_E_NOTFOUND));
    }

    void exposureSettingsAreEnumerations()
    {
        INSTALL_CAMERAS("[R]\nwidth = 16\nlines_per_frame = 4\n");
        CameraHandle camera("R");
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(MV_CC_SetEnumValue(camera.handle, "ExposureMode", 0), MV_OK);
        QCOMPARE(MV_CC_SetEnumValue(camera.handle, "ExposureAuto", 0), MV_OK);
        QCOMPARE(MV_CC_SetEnumValue(camera.handle, "ExposureAuto", 7), status(MV_E_RANGE));
        MVCC_ENUMVALUE value{};
        QCOMPARE(MV_CC_GetEnumValue(camera.handle, "ExposureAuto", &value), MV_OK);
        QCOMPARE(value.nCurValue, 0u);
        QCOMPARE(value.nSupportedNum, 3u);
        QCOMPARE(MV_CC_SetBoolValue(camera.handle, "ExposureMode", true), status(MV_E_TYPE));
    }

    void pixelFormatChangesThePayloadButNotWhileGrabbing()
    {
        INSTALL_CAMERAS("[R]\nwidth = 16\nlines_per_frame = 4\nline_rate = 0\n");
        CameraHandle camera("R");
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(camera.intValue("PayloadSize"), int64_t(64));
        QCOMPARE(MV_CC_SetEnumValue(camera.handle, "PixelFormat", PixelType_Gvsp_RGB8_Packed), MV_OK);
        QCOMPARE(camera.intValue("PayloadSize"), int64_t(192));
        QCOMPARE(MV_CC_SetEnumValue(camera.handle, "PixelFormat", 0x12345678), status(MV_E_RANGE));
        QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        QCOMPARE(MV_CC_SetEnumValue(camera.handle, "PixelFormat", PixelType_Gvsp_Mono8),
                 status(MV_E_ACCESS_RW));
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(info.enPixelType, unsigned(PixelType_Gvsp_RGB8_Packed));
        QCOMPARE(info.nFrameLen, 192u);
    }
};

QTEST_GUILESS_MAIN(SdkStreamTest)
#include "tst_sdk_stream.moc"
