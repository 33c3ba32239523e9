// How a raw frame becomes the image and the numbers the window shows.
#include <QtTest>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

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

MV_FRAME_OUT_INFO_EX frameInfo(unsigned int width, unsigned int height, MvGvspPixelType type,
                               unsigned int length)
{
    MV_FRAME_OUT_INFO_EX info;
    std::memset(&info, 0, sizeof info);
    info.nWidth = width;
    info.nHeight = height;
    info.enPixelType = type;
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
    void timestampJoinsTheTwoHalves_data();
    void timestampJoinsTheTwoHalves();

    void rgbSizeIsComputedWithoutOverflow_data();
    void rgbSizeIsComputedWithoutOverflow();
    void grayImageCopiesTheBytesLineByLine();
    void grayImageIsRefusedWhenTheDataIsShort_data();
    void grayImageIsRefusedWhenTheDataIsShort();
    void packedRgbImageHasItsOwnPixels();
    void packedRgbImageIsRefusedWhenTheDataIsShort();
    void scratchBufferGrowsOnlyWhenNeeded();
    void payloadBufferGrowsAfterARefusedFrame_data();
    void payloadBufferGrowsAfterARefusedFrame();

    void convertedFramesAreRgbImagesOfTheirOwn_data();
    void convertedFramesAreRgbImagesOfTheirOwn();
    void failedConversionFallsBackToGrayForOneBytePerPixel_data();
    void failedConversionFallsBackToGrayForOneBytePerPixel();
    void failedConversionOfOtherFramesGivesNoImage();
    void shortFrameIsNeverReadPastItsEnd_data();
    void shortFrameIsNeverReadPastItsEnd();

private:
    void *m_handle = nullptr;
};

void CameraFramesTest::init()
{
    mvsim::reset();
    // The conversion needs a live handle of the library; any simulated camera gives one.
    MV_CC_DEVICE_INFO_LIST list;
    std::memset(&list, 0, sizeof list);
    QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MV_OK);
    QVERIFY(list.nDeviceNum > 0);
    QCOMPARE(MV_CC_CreateHandle(&m_handle, list.pDeviceInfo[0]), MV_OK);
    QCOMPARE(MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0), MV_OK);
}

void CameraFramesTest::cleanup()
{
    if (m_handle) {
        MV_CC_CloseDevice(m_handle);
        MV_CC_DestroyHandle(m_handle);
        m_handle = nullptr;
    }
    mvsim::reset();
}

void CameraFramesTest::statisticsLineReadsToTheCharacter_data()
{
    QTest::addColumn<uint>("framecount");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<qlonglong>("timestamp");
    QTest::addColumn<qlonglong>("interval");
    QTest::addColumn<double>("grabTimeMs");
    QTest::addColumn<int>("lost");
    QTest::addColumn<QString>("expected");
    QTest::newRow("half a millisecond, no loss")
        << 5u << 4096 << 1 << 123456LL << 1000LL << 0.5 << 0
        << "FrameCount: [5] | W*H: 4096x1 | TS: 123456 us | Interval: 1000 us | GrabOne: 0.500 ms | Lost: 0 ";
    QTest::newRow("first frame of a run")
        << 1u << 2048 << 512 << 0LL << 0LL << 12.3456 << 3
        << "FrameCount: [1] | W*H: 2048x512 | TS: 0 us | Interval: 0 us | GrabOne: 12.346 ms | Lost: 3 ";
    QTest::newRow("timestamp beyond 32 bits, negative interval")
        << 4000000000u << 8 << 2 << 0x123456789ALL << -250LL << 1000.0 << 17
        << "FrameCount: [4000000000] | W*H: 8x2 | TS: 78187493530 us | Interval: -250 us | GrabOne: 1000.000 "
           "ms "
           "| Lost: 17 ";
}

void CameraFramesTest::statisticsLineReadsToTheCharacter()
{
    QFETCH(uint, framecount);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(qlonglong, timestamp);
    QFETCH(qlonglong, interval);
    QFETCH(double, grabTimeMs);
    QFETCH(int, lost);
    QFETCH(QString, expected);
    QCOMPARE(frameStatisticsText(framecount, width, height, timestamp, interval, grabTimeMs, lost), expected);
}

void CameraFramesTest::timestampJoinsTheTwoHalves_data()
{
    QTest::addColumn<unsigned int>("high");
    QTest::addColumn<unsigned int>("low");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("low half only") << 0u << 0xFFFFFFFFu << qint64(0xFFFFFFFFLL);
    QTest::newRow("both halves") << 0x12u << 0x3456789Au << qint64(0x123456789ALL);
    QTest::newRow("top bit of the low half is not a sign") << 1u << 0x80000000u << qint64(0x180000000LL);
}

void CameraFramesTest::timestampJoinsTheTwoHalves()
{
    QFETCH(unsigned int, high);
    QFETCH(unsigned int, low);
    QFETCH(qint64, expected);
    QCOMPARE(frameTimestamp(high, low), expected);
}

void CameraFramesTest::rgbSizeIsComputedWithoutOverflow_data()
{
    QTest::addColumn<unsigned int>("width");
    QTest::addColumn<unsigned int>("height");
    QTest::addColumn<quint64>("expected");
    QTest::newRow("a line-scan frame") << 4096u << 1024u << quint64(12582912);
    QTest::newRow("beyond int, within 32 bits") << 65536u << 16384u << quint64(3221225472ULL);
    QTest::newRow("just above what 32 bits hold") << 65536u << 21846u << quint64(0);
    QTest::newRow("just below what 32 bits hold") << 65535u << 21845u << quint64(4294836225ULL);
    QTest::newRow("empty") << 0u << 100u << quint64(0);
}

void CameraFramesTest::rgbSizeIsComputedWithoutOverflow()
{
    QFETCH(unsigned int, width);
    QFETCH(unsigned int, height);
    QFETCH(quint64, expected);
    QCOMPARE(packedRgbSize(width, height), expected);
}

void CameraFramesTest::grayImageCopiesTheBytesLineByLine()
{
    // Width 5 makes Qt pad every line to 8 bytes, so a plain block copy would shear the picture.
    const auto bytes = exactBlock(15, 1);
    const QImage image = grayImageFromBytes(bytes.get(), 15, 5, 3);
    QCOMPARE(image.format(), QImage::Format_Grayscale8);
    QCOMPARE(image.size(), QSize(5, 3));
    for (int y = 0; y < 3; ++y)
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(image.constScanLine(y)), 5),
                 QByteArray(reinterpret_cast<const char *>(bytes.get() + y * 5), 5));
    QVERIFY(image.constBits() != bytes.get());
}

void CameraFramesTest::grayImageIsRefusedWhenTheDataIsShort_data()
{
    QTest::addColumn<quint64>("length");
    QTest::addColumn<bool>("built");
    QTest::newRow("one byte short") << quint64(11) << false;
    QTest::newRow("exactly enough") << quint64(12) << true;
    QTest::newRow("more than enough") << quint64(13) << true;
}

void CameraFramesTest::grayImageIsRefusedWhenTheDataIsShort()
{
    QFETCH(quint64, length);
    QFETCH(bool, built);
    const auto bytes = exactBlock(size_t(length), 3);
    QCOMPARE(!grayImageFromBytes(bytes.get(), length, 4, 3).isNull(), built);
}

void CameraFramesTest::packedRgbImageHasItsOwnPixels()
{
    const auto bytes = exactBlock(3 * 3 * 2, 9);
    const QImage image = rgbImageFromPacked(bytes.get(), 18, 3, 2);
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QCOMPARE(image.pixel(1, 1), qRgb(bytes[12], bytes[13], bytes[14]));
    QCOMPARE(image.pixel(2, 0), qRgb(bytes[6], bytes[7], bytes[8]));
    bytes[12] = 0;
    bytes[13] = 0;
    bytes[14] = 0;
    QVERIFY(image.pixel(1, 1) != qRgb(0, 0, 0));
}

void CameraFramesTest::packedRgbImageIsRefusedWhenTheDataIsShort()
{
    const auto bytes = exactBlock(17, 0);
    QVERIFY(rgbImageFromPacked(bytes.get(), 17, 3, 2).isNull());
    QVERIFY(rgbImageFromPacked(nullptr, 18, 3, 2).isNull());
}

void CameraFramesTest::scratchBufferGrowsOnlyWhenNeeded()
{
    ByteBuffer buffer;
    QVERIFY(buffer.reserve(100));
    unsigned char *first = buffer.data();
    QVERIFY(buffer.reserve(40));
    QCOMPARE(buffer.data(), first);
    QCOMPARE(buffer.capacity(), quint64(100));
    QVERIFY(buffer.reserve(101));
    QCOMPARE(buffer.capacity(), quint64(101));
    buffer.release();
    QCOMPARE(buffer.capacity(), quint64(0));
    QVERIFY(buffer.data() == nullptr);
}

void CameraFramesTest::payloadBufferGrowsAfterARefusedFrame_data()
{
    QTest::addColumn<quint64>("current");
    QTest::addColumn<qint64>("payloadSize");
    QTest::addColumn<unsigned int>("reported");
    QTest::addColumn<quint64>("expected");
    QTest::newRow("camera now announces a larger payload")
        << quint64(1000) << qint64(5000) << 0u << quint64(5000);
    QTest::newRow("library reports the frame's length")
        << quint64(1000) << qint64(1000) << 3000u << quint64(3000);
    QTest::newRow("nothing known: double") << quint64(1000) << qint64(0) << 0u << quint64(2000);
    QTest::newRow("capped by the 32-bit length")
        << quint64(3000000000ULL) << qint64(0) << 0u << quint64(UINT_MAX);
    QTest::newRow("cannot grow further") << quint64(UINT_MAX) << qint64(0) << 0u << quint64(UINT_MAX);
}

void CameraFramesTest::payloadBufferGrowsAfterARefusedFrame()
{
    QFETCH(quint64, current);
    QFETCH(qint64, payloadSize);
    QFETCH(unsigned int, reported);
    QFETCH(quint64, expected);
    QCOMPARE(grownPayloadSize(current, payloadSize, reported), expected);
}

void CameraFramesTest::convertedFramesAreRgbImagesOfTheirOwn_data()
{
    QTest::addColumn<unsigned int>("width");
    // 3 x 8 bytes per line is what QImage uses itself; 3 x 5 bytes are padded to 16.
    QTest::newRow("lines need no padding") << 8u;
    QTest::newRow("lines padded by QImage") << 5u;
}

void CameraFramesTest::convertedFramesAreRgbImagesOfTheirOwn()
{
    QFETCH(unsigned int, width);
    const unsigned int height = 3;
    const auto raw = exactBlock(width * height, 20);
    ByteBuffer scratch;
    const QImage image = frameImage(m_handle, raw.get(),
                                    frameInfo(width, height, PixelType_Gvsp_Mono8, width * height), scratch);
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QCOMPARE(image.size(), QSize(int(width), int(height)));
    for (unsigned int y = 0; y < height; ++y)
        for (unsigned int x = 0; x < width; ++x) {
            const int v = raw[y * width + x];
            QCOMPARE(image.pixel(int(x), int(y)), qRgb(v, v, v));
        }
    raw[0] = static_cast<unsigned char>(raw[0] + 1);
    if (scratch.data())
        std::memset(scratch.data(), 0, size_t(scratch.capacity()));
    QCOMPARE(qRed(image.pixel(0, 0)), int(static_cast<unsigned char>(raw[0] - 1)));
}

void CameraFramesTest::failedConversionFallsBackToGrayForOneBytePerPixel_data()
{
    QTest::addColumn<unsigned int>("pixelType");
    QTest::newRow("Mono8") << PixelType_Gvsp_Mono8;
    QTest::newRow("BayerRG8 shows its mosaic") << PixelType_Gvsp_BayerRG8;
}

void CameraFramesTest::failedConversionFallsBackToGrayForOneBytePerPixel()
{
    QFETCH(unsigned int, pixelType);
    mvsim::setFault("MV_CC_ConvertPixelType", int(MV_E_CONVERT));
    const auto raw = exactBlock(6 * 2, 40);
    ByteBuffer scratch;
    const QImage image = frameImage(m_handle, raw.get(), frameInfo(6, 2, pixelType, 12), scratch);
    QCOMPARE(image.format(), QImage::Format_Grayscale8);
    QCOMPARE(image.size(), QSize(6, 2));
    QCOMPARE(image.constScanLine(1)[5], raw[11]);
    QCOMPARE(image.constScanLine(0)[0], raw[0]);
}

void CameraFramesTest::failedConversionOfOtherFramesGivesNoImage()
{
    mvsim::setFault("MV_CC_ConvertPixelType", int(MV_E_CONVERT));
    const auto raw = exactBlock(6 * 2 * 3, 40);
    ByteBuffer scratch;
    QVERIFY(
        frameImage(m_handle, raw.get(), frameInfo(6, 2, PixelType_Gvsp_RGB8_Packed, 36), scratch).isNull());
}

void CameraFramesTest::shortFrameIsNeverReadPastItsEnd_data()
{
    QTest::addColumn<unsigned int>("pixelType");
    QTest::addColumn<bool>("conversionFails");
    QTest::newRow("Mono8, conversion refuses the short frame") << PixelType_Gvsp_Mono8 << false;
    QTest::newRow("Mono8, conversion fails") << PixelType_Gvsp_Mono8 << true;
    QTest::newRow("BayerRG8, conversion fails") << PixelType_Gvsp_BayerRG8 << true;
    QTest::newRow("RGB8 holding one byte per pixel") << PixelType_Gvsp_RGB8_Packed << false;
}

void CameraFramesTest::shortFrameIsNeverReadPastItsEnd()
{
    QFETCH(unsigned int, pixelType);
    QFETCH(bool, conversionFails);
    if (conversionFails)
        mvsim::setFault("MV_CC_ConvertPixelType", int(MV_E_CONVERT));
    // 64 x 64 pixels announced, 64 x 63 bytes delivered.
    const unsigned int length = 64 * 63;
    const auto raw = exactBlock(length, 5);
    ByteBuffer scratch;
    QVERIFY(frameImage(m_handle, raw.get(), frameInfo(64, 64, pixelType, length), scratch).isNull());
}

QTEST_MAIN(CameraFramesTest)
#include "tst_camera_frames.moc"
