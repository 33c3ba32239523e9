// Every pixel format a line-scan camera sends, from the simulator through the
// library's conversion, against a plain pixel-by-pixel conversion.
#include "simcamera.h"

#include <QImage>
#include <QTemporaryDir>

#include <cmath>

namespace {

constexpr unsigned int width = 100; // six blocks of sixteen and a remainder
constexpr unsigned int lines = 6;

using Rgb = std::vector<unsigned char>;

// The bits of a little-endian bit stream from bit position `at`.
unsigned int bitsAt(const unsigned char *data, std::size_t at, unsigned int count)
{
    unsigned int value = 0;
    for (unsigned int b = 0; b < count; ++b)
        value |= ((data[(at + b) / 8] >> ((at + b) % 8)) & 1u) << b;
    return value;
}

// The full-precision gray value of pixel i and its bit depth.
unsigned int grayAt(unsigned int type, const unsigned char *raw, std::size_t i, unsigned int &bits)
{
    switch (type) {
    case PixelType_Gvsp_Mono8:
        bits = 8;
        return raw[i];
    case PixelType_Gvsp_Mono10:
    case PixelType_Gvsp_Mono12:
    case PixelType_Gvsp_Mono16:
        bits = type == PixelType_Gvsp_Mono10 ? 10 : type == PixelType_Gvsp_Mono12 ? 12 : 16;
        return raw[2 * i] | (raw[2 * i + 1] << 8);
    case PixelType_Gvsp_Mono10p:
        bits = 10;
        return bitsAt(raw, i * 10, 10);
    case PixelType_Gvsp_Mono12p:
        bits = 12;
        return bitsAt(raw, i * 12, 12);
    default: { // Mono12_Packed: high bytes at 0 and 2, low nibbles in byte 1
        bits = 12;
        const unsigned char *pair = raw + 3 * (i / 2);
        return i % 2 == 0 ? (pair[0] << 4) | (pair[1] & 0x0F) : (pair[2] << 4) | (pair[1] >> 4);
    }
    }
}

// 0 red, 1 green, 2 blue at (x, y) of a mosaic whose first two lines start with `tile`.
unsigned int bayerColour(const char *tile, unsigned int x, unsigned int y)
{
    const char c = tile[2 * (y % 2) + x % 2];
    return c == 'R' ? 0 : c == 'G' ? 1 : 2;
}

Rgb referenceBayer(const char *tile, const unsigned char *raw)
{
    Rgb rgb(width * lines * 3);
    for (unsigned int y = 0; y < lines; ++y)
        for (unsigned int x = 0; x < width; ++x) {
            // The 2x2 window starting at the pixel, moved back at the last column and line.
            const unsigned int left = x + 1 < width ? x : x - 1;
            const unsigned int top = y + 1 < lines ? y : y - 1;
            unsigned int sum[3] = {0, 0, 0};
            for (unsigned int dy = 0; dy < 2; ++dy)
                for (unsigned int dx = 0; dx < 2; ++dx)
                    sum[bayerColour(tile, left + dx, top + dy)] += raw[(top + dy) * width + left + dx];
            unsigned char *out = &rgb[(y * width + x) * 3];
            out[0] = static_cast<unsigned char>(sum[0]);
            out[1] = static_cast<unsigned char>((sum[1] + 1) / 2);
            out[2] = static_cast<unsigned char>(sum[2]);
        }
    return rgb;
}

unsigned char clampByte(double value)
{
    return static_cast<unsigned char>(std::lround(std::min(255.0, std::max(0.0, value))));
}

Rgb reference(unsigned int type, const QByteArray &tile, const unsigned char *raw)
{
    const std::size_t pixels = std::size_t(width) * lines;
    Rgb rgb(pixels * 3);
    switch (type) {
    case PixelType_Gvsp_BayerRG8:
    case PixelType_Gvsp_BayerGR8:
    case PixelType_Gvsp_BayerGB8:
    case PixelType_Gvsp_BayerBG8:
        return referenceBayer(tile.constData(), raw);
    case PixelType_Gvsp_RGB8_Packed:
        return Rgb(raw, raw + pixels * 3);
    case PixelType_Gvsp_BGR8_Packed:
        for (std::size_t i = 0; i < pixels; ++i)
            for (int c = 0; c < 3; ++c)
                rgb[3 * i + c] = raw[3 * i + 2 - c];
        return rgb;
    case PixelType_Gvsp_YUV422_8:
    case PixelType_Gvsp_YCBCR422_8:
        for (std::size_t i = 0; i < pixels; ++i) {
            const unsigned char *pair = raw + 4 * (i / 2);
            const double y = raw[2 * i], cb = pair[1] - 128.0, cr = pair[3] - 128.0;
            rgb[3 * i] = clampByte(y + 1.402 * cr);
            rgb[3 * i + 1] = clampByte(y - 0.344136 * cb - 0.714136 * cr);
            rgb[3 * i + 2] = clampByte(y + 1.772 * cb);
        }
        return rgb;
    default:
        for (std::size_t i = 0; i < pixels; ++i) {
            unsigned int bits = 8;
            const unsigned int value = grayAt(type, raw, i, bits);
            rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2]
                = static_cast<unsigned char>(std::min(255u, value >> (bits - 8)));
        }
        return rgb;
    }
}

} // namespace

class SdkPixelFormatsTest : public QObject
{
    Q_OBJECT

private slots:
    void everyFormatConvertsLikeThePlainConversion_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<unsigned int>("type");
        QTest::addColumn<unsigned int>("lineBytes");
        QTest::addColumn<QByteArray>("bayerTile"); // empty: not a mosaic
        QTest::newRow("Mono8") << "Mono8" << unsigned(PixelType_Gvsp_Mono8) << width << QByteArray();
        QTest::newRow("Mono10") << "Mono10" << unsigned(PixelType_Gvsp_Mono10) << 2 * width << QByteArray();
        QTest::newRow("Mono12") << "Mono12" << unsigned(PixelType_Gvsp_Mono12) << 2 * width << QByteArray();
        QTest::newRow("Mono16") << "Mono16" << unsigned(PixelType_Gvsp_Mono16) << 2 * width << QByteArray();
        QTest::newRow("Mono10p") << "Mono10p" << unsigned(PixelType_Gvsp_Mono10p) << width * 10 / 8
                                 << QByteArray();
        QTest::newRow("Mono12p") << "Mono12p" << unsigned(PixelType_Gvsp_Mono12p) << width * 12 / 8
                                 << QByteArray();
        QTest::newRow("Mono12Packed")
            << "Mono12Packed" << unsigned(PixelType_Gvsp_Mono12_Packed) << width * 12 / 8 << QByteArray();
        QTest::newRow("BayerRG8") << "BayerRG8" << unsigned(PixelType_Gvsp_BayerRG8) << width
                                  << QByteArray("RGGB");
        QTest::newRow("BayerGR8") << "BayerGR8" << unsigned(PixelType_Gvsp_BayerGR8) << width
                                  << QByteArray("GRBG");
        QTest::newRow("BayerGB8") << "BayerGB8" << unsigned(PixelType_Gvsp_BayerGB8) << width
                                  << QByteArray("GBRG");
        QTest::newRow("BayerBG8") << "BayerBG8" << unsigned(PixelType_Gvsp_BayerBG8) << width
                                  << QByteArray("BGGR");
        QTest::newRow("RGB8") << "RGB8" << unsigned(PixelType_Gvsp_RGB8_Packed) << 3 * width << QByteArray();
        QTest::newRow("BGR8") << "BGR8" << unsigned(PixelType_Gvsp_BGR8_Packed) << 3 * width << QByteArray();
        QTest::newRow("YUV422_8") << "YUV422_8" << unsigned(PixelType_Gvsp_YUV422_8) << 2 * width
                                  << QByteArray();
        QTest::newRow("YCbCr422_8") << "YCbCr422_8" << unsigned(PixelType_Gvsp_YCBCR422_8) << 2 * width
                                    << QByteArray();
    }

    void everyFormatConvertsLikeThePlainConversion()
    {
        QFETCH(QString, name);
        QFETCH(unsigned int, type);
        QFETCH(unsigned int, lineBytes);
        QFETCH(QByteArray, bayerTile);
        INSTALL_CAMERAS("[PF]\nwidth = " + std::to_string(width) + "\nlines_per_frame = "
                        + std::to_string(lines) + "\nline_rate = 0\npixel_format = " + name.toStdString());
        CameraHandle camera("PF");
        QVERIFY(camera.start());
        std::vector<unsigned char> raw;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(raw, info), MV_OK);
        QCOMPARE(info.enPixelType, type);
        QCOMPARE(info.nFrameLen, lineBytes * lines);

        Rgb converted(width * lines * 3 + 3, 0xEE);
        MV_CC_PIXEL_CONVERT_PARAM param{width,
                                        lines,
                                        type,
                                        raw.data(),
                                        info.nFrameLen,
                                        PixelType_Gvsp_RGB8_Packed,
                                        converted.data(),
                                        0,
                                        unsigned(converted.size()),
                                        {}};
        QCOMPARE(MV_CC_ConvertPixelType(nullptr, &param), MV_OK);
        QCOMPARE(param.nDstLen, width * lines * 3);
        QCOMPARE(converted.back(), (unsigned char)0xEE);

        const Rgb expected = reference(type, bayerTile, raw.data());
        // The YUV formula is rounded once in the reference and in fixed point in the library.
        const int tolerance = type == PixelType_Gvsp_YUV422_8 || type == PixelType_Gvsp_YCBCR422_8 ? 1 : 0;
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (std::abs(int(converted[i]) - int(expected[i])) > tolerance)
                QFAIL(qPrintable(QString("byte %1 (pixel %2): %3, expected %4")
                                     .arg(i)
                                     .arg(i / 3)
                                     .arg(converted[i])
                                     .arg(expected[i])));

        // Gray formats show the camera's picture in their top 8 bits: the
        // Mono8 picture of the same lines.
        if (type != PixelType_Gvsp_Mono8 && bayerTile.isEmpty() && (type >> 24) != 0x02)
            for (unsigned int y = 0; y < lines; ++y) {
                const unsigned char *line = &converted[y * width * 3];
                const uint32_t stamp = mvsim::lineStamp(line, 3);
                for (unsigned int x = 0; x < width; ++x)
                    QCOMPARE(line[3 * x], mvsim::scenePixel("PF", stamp, x, 0, PixelType_Gvsp_Mono8));
            }
    }

    // A snapshot of any of these formats is the converted picture: gray
    // formats as 8-bit gray, the others as colour.
    void savedSnapshotsHoldTheConvertedPicture_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("gray");
        QTest::newRow("Mono16") << "Mono16" << true;
        QTest::newRow("Mono10p") << "Mono10p" << true;
        QTest::newRow("Mono12Packed") << "Mono12Packed" << true;
        QTest::newRow("BayerBG8") << "BayerBG8" << false;
        QTest::newRow("BGR8") << "BGR8" << false;
        QTest::newRow("YCbCr422_8") << "YCbCr422_8" << false;
    }

    void savedSnapshotsHoldTheConvertedPicture()
    {
        QFETCH(QString, name);
        QFETCH(bool, gray);
        INSTALL_CAMERAS("[PF]\nwidth = " + std::to_string(width) + "\nlines_per_frame = "
                        + std::to_string(lines) + "\nline_rate = 0\npixel_format = " + name.toStdString());
        CameraHandle camera("PF");
        QVERIFY(camera.start());
        std::vector<unsigned char> raw;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(raw, info), MV_OK);
        Rgb converted(width * lines * 3);
        MV_CC_PIXEL_CONVERT_PARAM param{width,
                                        lines,
                                        info.enPixelType,
                                        raw.data(),
                                        info.nFrameLen,
                                        PixelType_Gvsp_RGB8_Packed,
                                        converted.data(),
                                        0,
                                        unsigned(converted.size()),
                                        {}};
        QCOMPARE(MV_CC_ConvertPixelType(nullptr, &param), MV_OK);

        QTemporaryDir dir;
        const QString path = dir.filePath("Image_1.png");
        MV_SAVE_IMG_TO_FILE_PARAM save{};
        save.enPixelType = info.enPixelType;
        save.pData = raw.data();
        save.nDataLen = info.nFrameLen;
        save.nWidth = width;
        save.nHeight = lines;
        save.enImageType = MV_Image_Png;
        save.nQuality = 6;
        std::strncpy(save.pImagePath, QFile::encodeName(path).constData(), sizeof save.pImagePath - 1);
        QCOMPARE(MV_CC_SaveImageToFile(camera.handle, &save), MV_OK);
        const QImage image(path);
        QCOMPARE(image.size(), QSize(int(width), int(lines)));
        QCOMPARE(image.format() == QImage::Format_Grayscale8, gray);
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        for (unsigned int y = 0; y < lines; ++y)
            QVERIFY(std::memcmp(rgb.constScanLine(int(y)), &converted[y * width * 3], width * 3) == 0);
    }

    void aFormatTheLibraryCannotConvertStillArrivesAndIsNamedByItsCode()
    {
        INSTALL_CAMERAS("[M14]\nwidth = 64\nlines_per_frame = 4\nline_rate = 0\npixel_format = Mono14");
        CameraHandle camera("M14");
        QVERIFY(camera.start());
        std::vector<unsigned char> raw;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(raw, info), MV_OK);
        QCOMPARE(info.enPixelType, 0x01100025u);
        QCOMPARE(info.nFrameLen, 64u * 2 * 4);
        Rgb converted(64 * 4 * 3, 0xEE);
        MV_CC_PIXEL_CONVERT_PARAM param{64,
                                        4,
                                        info.enPixelType,
                                        raw.data(),
                                        info.nFrameLen,
                                        PixelType_Gvsp_RGB8_Packed,
                                        converted.data(),
                                        0,
                                        unsigned(converted.size()),
                                        {}};
        QCOMPARE(MV_CC_ConvertPixelType(nullptr, &param), status(MV_E_SUPPORT));
        QCOMPARE(std::count(converted.begin(), converted.end(), 0xEE), std::ptrdiff_t(converted.size()));
    }
};

QTEST_GUILESS_MAIN(SdkPixelFormatsTest)
#include "tst_sdk_pixelformats.moc"
