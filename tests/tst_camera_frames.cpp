// How a raw frame becomes the image and the numbers the window shows.
#include <QtTest>

#include <climits>
#include <cstring>
#include <memory>

#include "MvCameraControl.h"
#include "frameimage.h"
#include "framestatistics.h"
#include "mvsim.h"
#include "workthread.h"

namespace {

// A heap block of exactly `size` bytes, so AddressSanitizer catches any read past it.
std::unique_ptr<unsigned char[]> exactBlock(size_t size, unsigned char seed)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    for (size_t i = 0; i < size; ++i)
        block[i] = static_cast<unsigned char>(seed + i * 7);
    return block;
}

MV_FRAME_OUT_INFO_EX frameInfo(unsigned int width, unsigned int height, unsigned int type,
                               unsigned int length)
{
    MV_FRAME_OUT_INFO_EX info;
    std::memset(&info, 0, sizeof info);
    info.nWidth = width;
    info.nHeight = height;
    info.enPixelType = MvGvspPixelType(type);
    info.nFrameLen = length;
    return info;
}

} // namespace

class CameraFramesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void statisticsLineReadsToTheCharacter_data();
    void statisticsLineReadsToTheCharacter();
    void timestampJoinsTheTwoHalvesUnsigned();
    void rgbSizeIsComputedWithoutOverflow_data();
    void rgbSizeIsComputedWithoutOverflow();
    void payloadBufferGrowsAfterARefusedFrame_data();
    void payloadBufferGrowsAfterARefusedFrame();
    void rawImagesCopyLineByLineAndRefuseShortData_data();
    void rawImagesCopyLineByLineAndRefuseShortData();
    void convertedFramesAreRgbImagesOfTheirOwn_data();
    void convertedFramesAreRgbImagesOfTheirOwn();
    void failedConversionShowsOneBytePerPixelAsGray_data();
    void failedConversionShowsOneBytePerPixelAsGray();
    void shortFrameIsNeverReadPastItsEnd_data();
    void shortFrameIsNeverReadPastItsEnd();

private:
    QImage convert(unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info)
    {
        return frameImage(m_handle, raw, info, m_scratch);
    }

    void *m_handle = nullptr;
    ByteBuffer m_scratch;
};

void CameraFramesTest::init()
{
    mvsim::reset();
    // The conversion needs a live handle of the library; any simulated camera gives one.
    MV_CC_DEVICE_INFO_LIST list = {};
    QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MV_OK);
    QVERIFY(list.nDeviceNum > 0);
    QCOMPARE(MV_CC_CreateHandle(&m_handle, list.pDeviceInfo[0]), MV_OK);
    QCOMPARE(MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0), MV_OK);
}

void CameraFramesTest::cleanup()
{
    MV_CC_CloseDevice(m_handle);
    MV_CC_DestroyHandle(m_handle);
    m_handle = nullptr;
    m_scratch.release();
    mvsim::reset();
}

void CameraFramesTest::statisticsLineReadsToTheCharacter_data()
{
    QTest::addColumn<uint>("framecount");
    QTest::addColumn<qlonglong>("timestamp");
    QTest::addColumn<qlonglong>("interval");
    QTest::addColumn<double>("grabTimeMs");
    QTest::addColumn<int>("lost");
    QTest::addColumn<QString>("expected");
    QTest::newRow("half a millisecond, no loss")
        << 5u << 123456LL << 1000LL << 0.5 << 0
        << "FrameCount: [5] | W*H: 4096x1 | TS: 123456 us | Interval: 1000 us | GrabOne: 0.500 ms | Lost: 0 ";
    QTest::newRow("beyond 32 bits, negative interval, rounded")
        << 4000000000u << 0x123456789ALL << -250LL << 12.3456 << 17
        << "FrameCount: [4000000000] | W*H: 4096x1 | TS: 78187493530 us | Interval: -250 us | GrabOne: "
           "12.346 "
           "ms | Lost: 17 ";
}

void CameraFramesTest::statisticsLineReadsToTheCharacter()
{
    QFETCH(uint, framecount);
    QFETCH(qlonglong, timestamp);
    QFETCH(qlonglong, interval);
    QFETCH(double, grabTimeMs);
    QFETCH(int, lost);
    QFETCH(QString, expected);
    QCOMPARE(frameStatisticsText(framecount, 4096, 1, timestamp, interval, grabTimeMs, lost), expected);
}

void CameraFramesTest::timestampJoinsTheTwoHalvesUnsigned()
{
    QCOMPARE(frameTimestamp(0x12u, 0x3456789Au), qint64(0x123456789ALL));
    QCOMPARE(frameTimestamp(1u, 0x80000000u), qint64(0x180000000LL));
}

void CameraFramesTest::rgbSizeIsComputedWithoutOverflow_data()
{
    QTest::addColumn<unsigned int>("width");
    QTest::addColumn<unsigned int>("height");
    QTest::addColumn<quint64>("expected");
    QTest::newRow("beyond int, within 32 bits") << 65536u << 16384u << quint64(3221225472ULL);
    QTest::newRow("just below what 32 bits hold") << 65535u << 21845u << quint64(4294836225ULL);
    QTest::newRow("just above what 32 bits hold") << 65536u << 21846u << quint64(0);
}

void CameraFramesTest::rgbSizeIsComputedWithoutOverflow()
{
    QFETCH(unsigned int, width);
    QFETCH(unsigned int, height);
    QFETCH(quint64, expected);
    QCOMPARE(packedRgbSize(width, height), expected);
}

void CameraFramesTest::payloadBufferGrowsAfterARefusedFrame_data()
{
    QTest::addColumn<quint64>("current");
    QTest::addColumn<qint64>("payloadSize");
    QTest::addColumn<unsigned int>("reported");
    QTest::addColumn<quint64>("expected");
    QTest::newRow("camera now announces more") << quint64(1000) << qint64(5000) << 0u << quint64(5000);
    QTest::newRow("library reports the length") << quint64(1000) << qint64(1000) << 3000u << quint64(3000);
    QTest::newRow("nothing known: double") << quint64(1000) << qint64(0) << 0u << quint64(2000);
    QTest::newRow("capped by 32 bits") << quint64(3000000000ULL) << qint64(0) << 0u << quint64(UINT_MAX);
}

void CameraFramesTest::payloadBufferGrowsAfterARefusedFrame()
{
    QFETCH(quint64, current);
    QFETCH(qint64, payloadSize);
    QFETCH(unsigned int, reported);
    QFETCH(quint64, expected);
    QCOMPARE(grownPayloadSize(current, payloadSize, reported), expected);
}

void CameraFramesTest::rawImagesCopyLineByLineAndRefuseShortData_data()
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

void CameraFramesTest::rawImagesCopyLineByLineAndRefuseShortData()
{
    QFETCH(int, bytesPerPixel);
    QFETCH(quint64, length);
    QFETCH(bool, built);
    const auto bytes = exactBlock(size_t(length), 1);
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

void CameraFramesTest::convertedFramesAreRgbImagesOfTheirOwn_data()
{
    QTest::addColumn<unsigned int>("width");
    QTest::newRow("lines need no padding") << 8u;
    QTest::newRow("lines padded by QImage") << 5u;
}

void CameraFramesTest::convertedFramesAreRgbImagesOfTheirOwn()
{
    QFETCH(unsigned int, width);
    const auto raw = exactBlock(width * 3, 20);
    const QImage image = convert(raw.get(), frameInfo(width, 3, PixelType_Gvsp_Mono8, width * 3));
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QCOMPARE(image.size(), QSize(int(width), 3));
    for (unsigned int y = 0; y < 3; ++y)
        for (unsigned int x = 0; x < width; ++x) {
            const int v = raw[y * width + x];
            QCOMPARE(image.pixel(int(x), int(y)), qRgb(v, v, v));
        }
    const int first = raw[0];
    raw[0] = static_cast<unsigned char>(first + 1);
    if (m_scratch.data())
        std::memset(m_scratch.data(), 0, size_t(m_scratch.capacity()));
    QCOMPARE(qRed(image.pixel(0, 0)), first);
}

void CameraFramesTest::failedConversionShowsOneBytePerPixelAsGray_data()
{
    QTest::addColumn<unsigned int>("pixelType");
    QTest::addColumn<int>("imageFormat");
    QTest::newRow("Mono8 as gray") << unsigned(PixelType_Gvsp_Mono8) << int(QImage::Format_Grayscale8);
    QTest::newRow("BayerRG8 shows its mosaic")
        << unsigned(PixelType_Gvsp_BayerRG8) << int(QImage::Format_Grayscale8);
    QTest::newRow("RGB8 gives no image")
        << unsigned(PixelType_Gvsp_RGB8_Packed) << int(QImage::Format_Invalid);
}

void CameraFramesTest::failedConversionShowsOneBytePerPixelAsGray()
{
    QFETCH(unsigned int, pixelType);
    QFETCH(int, imageFormat);
    mvsim::setFault("MV_CC_ConvertPixelType", int(MV_E_CONVERT));
    const auto raw = exactBlock(6 * 2 * 3, 40);
    const QImage image = convert(raw.get(), frameInfo(6, 2, pixelType, 36));
    QCOMPARE(int(image.format()), imageFormat);
    if (image.isNull())
        return;
    QCOMPARE(image.size(), QSize(6, 2));
    QCOMPARE(image.constScanLine(0)[0], raw[0]);
    QCOMPARE(image.constScanLine(1)[5], raw[11]);
}

void CameraFramesTest::shortFrameIsNeverReadPastItsEnd_data()
{
    QTest::addColumn<unsigned int>("pixelType");
    QTest::addColumn<bool>("conversionFails");
    QTest::newRow("Mono8, conversion refuses it") << unsigned(PixelType_Gvsp_Mono8) << false;
    QTest::newRow("Mono8, conversion fails") << unsigned(PixelType_Gvsp_Mono8) << true;
    QTest::newRow("BayerRG8, conversion fails") << unsigned(PixelType_Gvsp_BayerRG8) << true;
    QTest::newRow("RGB8 holding one byte per pixel") << unsigned(PixelType_Gvsp_RGB8_Packed) << false;
}

void CameraFramesTest::shortFrameIsNeverReadPastItsEnd()
{
    QFETCH(unsigned int, pixelType);
    QFETCH(bool, conversionFails);
    if (conversionFails)
        mvsim::setFault("MV_CC_ConvertPixelType", int(MV_E_CONVERT));
    // 64 x 64 pixels announced, 64 x 63 bytes delivered.
    const auto raw = exactBlock(64 * 63, 5);
    QVERIFY(convert(raw.get(), frameInfo(64, 64, pixelType, 64 * 63)).isNull());
}

QTEST_MAIN(CameraFramesTest)
#include "tst_camera_frames.moc"
