// How the camera library's records and raw frames become the names, images and numbers the window shows.
#include <QtTest>

#include <climits>
#include <cstring>
#include <memory>

#include "deviceentry.h"
#include "frameimage.h"
#include "framestatistics.h"
#include "mvsim.h"
#include "workthread.h"

namespace {

// A heap block of exactly `size` bytes, so AddressSanitizer catches any read past it.
std::unique_ptr<unsigned char[]> exactBlock(size_t size)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    for (size_t i = 0; i < size; ++i)
        block[i] = static_cast<unsigned char>(5 + i * 7);
    return block;
}

} // namespace

class CameraFramesTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        mvsim::reset();
        // The conversion needs a live handle of the library; any simulated camera gives one.
        MV_CC_DEVICE_INFO_LIST list = {};
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MV_OK);
        QCOMPARE(MV_CC_CreateHandle(&m_handle, list.pDeviceInfo[0]), MV_OK);
        QCOMPARE(MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0), MV_OK);
    }

    void cleanup()
    {
        MV_CC_CloseDevice(m_handle);
        MV_CC_DestroyHandle(m_handle);
        m_scratch.release();
        mvsim::reset();
    }

    void fullLengthNameFieldsAreReadOnlyToTheirSize()
    {
        // A camera may fill a name field completely, leaving no terminating zero.
        MV_CC_DEVICE_INFO device = {};
        device.nTLayerType = MV_GIGE_DEVICE;
        MV_GIGE_DEVICE_INFO &gige = device.SpecialInfo.stGigEInfo;
        std::memcpy(gige.chManufacturerName, "\xe7\x9b\xb8\xe6\x9c\xba", 6); // UTF-8
        std::memset(gige.chModelName, 'M', sizeof gige.chModelName);
        std::memset(gige.chSerialNumber, '7', sizeof gige.chSerialNumber);
        std::memset(gige.chDeviceVersion, 'V', sizeof gige.chDeviceVersion);
        std::memset(gige.chUserDefinedName, 'U', sizeof gige.chUserDefinedName);
        gige.nCurrentIp = 0xFF00FF00u;
        const QString model(int(sizeof gige.chModelName), QLatin1Char('M'));
        const QString serial(int(sizeof gige.chSerialNumber), QLatin1Char('7'));
        QCOMPARE(deviceEntryText(3, &device),
                 QStringLiteral("[3]GigE: 相机 %1 (%2)  255.0.255.0").arg(model, serial));
        QCOMPARE(deviceModelName(device), model);
        QCOMPARE(deviceSerialNumber(device), serial);
    }

    void cameraNamesAreNormalisedForFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *tag, const char *name, const char *expected) {
            QTest::newRow(tag) << QString(name) << QString(expected);
        };
        row("double and trailing blank", "MV  CA 050 ", "MV_CA_050");
        row("leading blanks and tabs", "  MV\tCL\n042", "MV_CL_042");
        row("underscores already there stay", "A_B C", "A_B_C");
        row("only blanks", "   ", "");
    }
    void cameraNamesAreNormalisedForFileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(normalizedCameraName(name), expected);
    }

    void statisticsLineReadsToTheCharacter()
    {
        QCOMPARE(frameStatisticsText(5, 4096, 1, 123456, 1000, 0.5, 0),
                 QStringLiteral(
                     "FrameCount: [5] | W*H: 4096x1 | TS: 123456 us | Interval: 1000 us | GrabOne: 0.500 ms "
                     "| Lost: 0 "));
        QCOMPARE(
            frameStatisticsText(4000000000u, 8, 2, 0x123456789ALL, -250, 12.3456, 17),
            QStringLiteral("FrameCount: [4000000000] | W*H: 8x2 | TS: 78187493530 us | Interval: -250 us | "
                           "GrabOne: 12.346 ms | Lost: 17 "));
    }

    // A batch closes at every number that does not follow; a GigE id wrap is
    // not a hole, a restarted or skipping camera is.
    void frameNumbersFollowOnlyByOneOrAcrossTheGigEWrap()
    {
        QVERIFY(frameNumberFollows(7, 8));
        QVERIFY(frameNumberFollows(65535, 65536)); // a 32-bit counter runs on
        QVERIFY(frameNumberFollows(65535, 1));     // GigE block ids skip 0
        QVERIFY(frameNumberFollows(0xFFFFFFFFu, 0));
        QVERIFY(!frameNumberFollows(7, 9));
        QVERIFY(!frameNumberFollows(7, 7));
        QVERIFY(!frameNumberFollows(9, 1));
        QVERIFY(!frameNumberFollows(65535, 2));
        QVERIFY(!frameNumberFollows(65534, 1));
    }

    void timestampJoinsTheTwoHalvesUnsigned()
    {
        QCOMPARE(frameTimestamp(0x12u, 0x3456789Au), qint64(0x123456789ALL));
        QCOMPARE(frameTimestamp(1u, 0x80000000u), qint64(0x180000000LL));
    }

    void sizesNeverWrapAround()
    {
        QCOMPARE(packedRgbSize(65535, 21845), quint64(4294836225ULL));
        QCOMPARE(packedRgbSize(65536, 21846), quint64(0)); // more than a frame length can hold
        // A refused frame grows the buffer to what the camera or library reports, else doubles it, within 32 bits.
        QCOMPARE(grownPayloadSize(1000, 5000, 0), quint64(5000));
        QCOMPARE(grownPayloadSize(1000, 1000, 3000), quint64(3000));
        QCOMPARE(grownPayloadSize(1000, 0, 0), quint64(2000));
        QCOMPARE(grownPayloadSize(3000000000ULL, 0, 0), quint64(UINT_MAX));
    }

    void rawImagesCopyLineByLineAndRefuseShortData_data()
    {
        QTest::addColumn<int>("bytesPerPixel");
        QTest::addColumn<quint64>("length");
        QTest::addColumn<bool>("built");
        // Width 5 makes QImage pad every line, so a plain block copy would shear the picture.
        QTest::newRow("gray, exactly enough") << 1 << quint64(15) << true;
        QTest::newRow("gray, one byte short") << 1 << quint64(14) << false;
        QTest::newRow("RGB, more than enough") << 3 << quint64(46) << true;
        QTest::newRow("RGB, one byte short") << 3 << quint64(44) << false;
    }
    void rawImagesCopyLineByLineAndRefuseShortData()
    {
        QFETCH(int, bytesPerPixel);
        QFETCH(quint64, length);
        QFETCH(bool, built);
        const auto bytes = exactBlock(size_t(length));
        const QImage image = bytesPerPixel == 1 ? grayImageFromBytes(bytes.get(), length, 5, 3)
                                                : rgbImageFromPacked(bytes.get(), length, 5, 3);
        QCOMPARE(!image.isNull(), built);
        if (!built)
            return;
        QCOMPARE(image.size(), QSize(5, 3));
        const int line = 5 * bytesPerPixel;
        const QByteArray last(reinterpret_cast<const char *>(bytes.get() + 2 * line), line);
        bytes[size_t(2 * line)] ^= 0xFF; // the image owns its pixels
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(image.constScanLine(2)), line), last);
    }

    void shortFrameIsNeverReadPastItsEnd_data()
    {
        QTest::addColumn<unsigned int>("pixelType");
        QTest::addColumn<bool>("conversionFails");
        QTest::newRow("Mono8, conversion refuses it") << unsigned(PixelType_Gvsp_Mono8) << false;
        QTest::newRow("Mono8, conversion fails") << unsigned(PixelType_Gvsp_Mono8) << true;
        QTest::newRow("BayerRG8, conversion fails") << unsigned(PixelType_Gvsp_BayerRG8) << true;
        QTest::newRow("RGB8 holding one byte per pixel") << unsigned(PixelType_Gvsp_RGB8_Packed) << false;
    }
    void shortFrameIsNeverReadPastItsEnd()
    {
        QFETCH(unsigned int, pixelType);
        QFETCH(bool, conversionFails);
        if (conversionFails)
            mvsim::setFault("MV_CC_ConvertPixelType", int(MV_E_CONVERT));
        // 64 x 64 pixels announced, 64 x 63 bytes delivered.
        const auto raw = exactBlock(64 * 63);
        QVERIFY(convert(raw.get(), 64, 64, pixelType, 64 * 63).isNull());
    }

private:
    QImage convert(unsigned char *raw, unsigned int width, unsigned int height, unsigned int type,
                   unsigned int length)
    {
        MV_FRAME_OUT_INFO_EX info = {};
        info.nWidth = width;
        info.nHeight = height;
        info.enPixelType = MvGvspPixelType(type);
        info.nFrameLen = length;
        return frameImage(m_handle, raw, info, m_scratch);
    }

    void *m_handle = nullptr;
    ByteBuffer m_scratch;
};

QTEST_MAIN(CameraFramesTest)
#include "tst_camera_frames.moc"
