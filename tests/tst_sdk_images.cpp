// Pixel conversion to RGB8 and saving raw frames as BMP, JPEG, PNG and TIFF.
#include "tst_sdk_camera.h"

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

namespace {

struct Rgb {
    unsigned char r, g, b;
};

// A BayerRG8 mosaic of a picture: even lines R G R G, odd lines G B G B.
std::vector<unsigned char> mosaic(const std::vector<Rgb> &picture, unsigned int width, unsigned int height)
{
    std::vector<unsigned char> raw(std::size_t(width) * height);
    for (unsigned int y = 0; y < height; ++y)
        for (unsigned int x = 0; x < width; ++x) {
            const Rgb &p = picture[y * width + x];
            raw[y * width + x] = (y % 2 == 0) ? (x % 2 == 0 ? p.r : p.g) : (x % 2 == 0 ? p.g : p.b);
        }
    return raw;
}

int convert(std::vector<unsigned char> &src, unsigned int type, unsigned int width, unsigned int height,
            std::vector<unsigned char> &dst, unsigned int *written = nullptr)
{
    MV_CC_PIXEL_CONVERT_PARAM param;
    std::memset(&param, 0, sizeof param);
    param.nWidth = width;
    param.nHeight = height;
    param.enSrcPixelType = type;
    param.pSrcData = src.data();
    param.nSrcDataLen = unsigned(src.size());
    param.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
    param.pDstBuffer = dst.data();
    param.nDstBufferSize = unsigned(dst.size());
    const int result = MV_CC_ConvertPixelType(nullptr, &param);
    if (written)
        *written = param.nDstLen;
    return result;
}

MV_SAVE_IMG_TO_FILE_PARAM saveRequest(std::vector<unsigned char> &data, unsigned int type, unsigned int width,
                                      unsigned int height, MV_SAVE_IAMGE_TYPE imageType, const QString &path,
                                      unsigned int quality = 0)
{
    MV_SAVE_IMG_TO_FILE_PARAM param;
    std::memset(&param, 0, sizeof param);
    param.enPixelType = type;
    param.pData = data.data();
    param.nDataLen = unsigned(data.size());
    param.nWidth = width;
    param.nHeight = height;
    param.enImageType = imageType;
    param.nQuality = quality;
    const QByteArray local = QFile::encodeName(path);
    std::strncpy(param.pImagePath, local.constData(), sizeof param.pImagePath - 1);
    return param;
}

// A small picture with detail: the camera scene of a serial over 24 lines.
std::vector<unsigned char> scene(unsigned int type, unsigned int width, unsigned int height, unsigned int bpp)
{
    std::vector<unsigned char> data(std::size_t(width) * height * bpp);
    for (unsigned int y = 0; y < height; ++y)
        for (unsigned int x = 0; x < width; ++x)
            for (unsigned int c = 0; c < bpp; ++c)
                data[(y * width + x) * bpp + c] = mvsim::scenePixel("PIC", y, x, c, type);
    return data;
}

} // namespace

class SdkImagesTest : public QObject
{
    Q_OBJECT

private slots:
    void mono8BecomesGrayRgbPixelForPixel()
    {
        // 257 x 3 pixels: whole blocks of sixteen and a remainder.
        std::vector<unsigned char> gray(257 * 3);
        for (std::size_t i = 0; i < gray.size(); ++i)
            gray[i] = static_cast<unsigned char>(i * 7);
        std::vector<unsigned char> rgb(gray.size() * 3 + 8, 0xEE);
        unsigned int written = 0;
        QCOMPARE(convert(gray, PixelType_Gvsp_Mono8, 257, 3, rgb, &written), MV_OK);
        QCOMPARE(written, unsigned(gray.size() * 3));
        for (std::size_t i = 0; i < gray.size(); ++i) {
            QCOMPARE(rgb[3 * i], gray[i]);
            QCOMPARE(rgb[3 * i + 1], gray[i]);
            QCOMPARE(rgb[3 * i + 2], gray[i]);
        }
        for (std::size_t i = gray.size() * 3; i < rgb.size(); ++i)
            QCOMPARE(rgb[i], (unsigned char)0xEE);
    }

    void rgb8IsPassedThroughUnchanged()
    {
        std::vector<unsigned char> src = scene(PixelType_Gvsp_RGB8_Packed, 33, 5, 3);
        std::vector<unsigned char> dst(src.size());
        QCOMPARE(convert(src, PixelType_Gvsp_RGB8_Packed, 33, 5, dst), MV_OK);
        QVERIFY(dst == src);
    }

    void bayerOfAUniformColourGivesThatColourEverywhere_data()
    {
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<unsigned int>("height");
        QTest::newRow("even") << 8u << 6u;
        QTest::newRow("odd width") << 7u << 4u;
        QTest::newRow("odd height") << 6u << 5u;
        QTest::newRow("one line") << 6u << 1u;
        QTest::newRow("two by two") << 2u << 2u;
    }

    void bayerOfAUniformColourGivesThatColourEverywhere()
    {
        QFETCH(unsigned int, width);
        QFETCH(unsigned int, height);
        const Rgb colour{200, 120, 40};
        std::vector<unsigned char> raw = mosaic(std::vector<Rgb>(width * height, colour), width, height);
        std::vector<unsigned char> rgb(std::size_t(width) * height * 3);
        QCOMPARE(convert(raw, PixelType_Gvsp_BayerRG8, width, height, rgb), MV_OK);
        const bool oneLine = height == 1;
        for (unsigned int i = 0; i < width * height; ++i) {
            QCOMPARE(rgb[3 * i], colour.r);
            QCOMPARE(rgb[3 * i + 1], colour.g);
            // A single line has no blue pixels: blue is shown as green.
            QCOMPARE(rgb[3 * i + 2], oneLine ? colour.g : colour.b);
        }
    }

    void bayerTakesEachPixelsColoursFromItsTwoByTwoWindow()
    {
        // 4 x 2 raw:  R0 G1 R2 G3 / G4 B5 G6 B7 with distinct values.
        std::vector<unsigned char> raw{10, 20, 30, 40, 50, 60, 70, 80};
        std::vector<unsigned char> rgb(4 * 2 * 3);
        QCOMPARE(convert(raw, PixelType_Gvsp_BayerRG8, 4, 2, rgb), MV_OK);
        const std::vector<unsigned char> expected{
            10, 35, 60, // x0: R0, (G1 + G4) / 2, B5
            30, 45, 60, // x1: R2, (G1 + G6) / 2, B5
            30, 55, 80, // x2: R2, (G3 + G6) / 2, B7
            30, 55, 80, // x3: reuses the window of x2
        };
        QCOMPARE(std::vector<unsigned char>(rgb.begin(), rgb.begin() + 12), expected);
        // The second line looks at the same two lines.
        QCOMPARE(std::vector<unsigned char>(rgb.begin() + 12, rgb.end()), expected);
    }

    void bayerOfAnyPictureFollowsTheTwoByTwoWindowRule_data()
    {
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<unsigned int>("height");
        QTest::newRow("wide, odd") << 53u << 6u;
        QTest::newRow("blocks of sixteen and one") << 33u << 3u;
        QTest::newRow("exactly sixteen") << 16u << 2u;
        QTest::newRow("frame line") << 4096u << 4u;
    }

    void bayerOfAnyPictureFollowsTheTwoByTwoWindowRule()
    {
        QFETCH(unsigned int, width);
        QFETCH(unsigned int, height);
        std::vector<unsigned char> raw(std::size_t(width) * height);
        uint32_t seed = 12345;
        for (unsigned char &byte : raw) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<unsigned char>(seed >> 16);
        }
        std::vector<unsigned char> rgb(raw.size() * 3);
        QCOMPARE(convert(raw, PixelType_Gvsp_BayerRG8, width, height, rgb), MV_OK);
        int mismatches = 0;
        for (unsigned int y = 0; y < height; ++y)
            for (unsigned int x = 0; x < width; ++x) {
                // The window starts at the pixel, or one step back at the last line or column.
                const unsigned int left = std::min(x, width - 2), top = std::min(y, height - 2);
                int red = -1, blue = -1, greens = 0;
                for (unsigned int wy = top; wy < top + 2; ++wy)
                    for (unsigned int wx = left; wx < left + 2; ++wx) {
                        const int v = raw[wy * width + wx];
                        if (wy % 2 == 0 && wx % 2 == 0)
                            red = v;
                        else if (wy % 2 == 1 && wx % 2 == 1)
                            blue = v;
                        else
                            greens += v;
                    }
                const unsigned char *p = &rgb[(std::size_t(y) * width + x) * 3];
                mismatches += p[0] != red || p[1] != (greens + 1) / 2 || p[2] != blue;
            }
        QCOMPARE(mismatches, 0);
    }

    void conversionRefusesWhatItCannotDoWithoutWriting_data()
    {
        QTest::addColumn<unsigned int>("source");
        QTest::addColumn<unsigned int>("target");
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<int>("sourceBytes");
        QTest::addColumn<int>("targetBytes");
        QTest::addColumn<int>("expected");
        const unsigned int mono = PixelType_Gvsp_Mono8, rgb = PixelType_Gvsp_RGB8_Packed;
        QTest::newRow("unknown source format")
            << 0x010C0004u << rgb << 4u << 64 << 48 << status(MV_E_SUPPORT);
        QTest::newRow("vendor format")
            << (PixelType_Gvsp_CustomFlag | mono) << rgb << 4u << 64 << 48 << status(MV_E_SUPPORT);
        QTest::newRow("target not RGB8") << mono << mono << 4u << 64 << 48 << status(MV_E_SUPPORT);
        QTest::newRow("source shorter than the frame")
            << mono << rgb << 4u << 15 << 48 << status(MV_E_PARAMETER);
        QTest::newRow("RGB source shorter than the frame")
            << rgb << rgb << 4u << 47 << 48 << status(MV_E_PARAMETER);
        QTest::newRow("target too small") << mono << rgb << 4u << 16 << 47 << status(MV_E_BUFOVER);
        QTest::newRow("no width") << mono << rgb << 0u << 16 << 48 << status(MV_E_PARAMETER);
        QTest::newRow("size beyond 4 GiB")
            << mono << rgb << 0x10000000u << 16 << 48 << status(MV_E_PARAMETER);
    }

    void conversionRefusesWhatItCannotDoWithoutWriting()
    {
        QFETCH(unsigned int, source);
        QFETCH(unsigned int, target);
        QFETCH(unsigned int, width);
        QFETCH(int, sourceBytes);
        QFETCH(int, targetBytes);
        QFETCH(int, expected);
        std::vector<unsigned char> src(64, 7);
        std::vector<unsigned char> dst(64, 0xEE);
        MV_CC_PIXEL_CONVERT_PARAM param;
        std::memset(&param, 0, sizeof param);
        param.nWidth = width;
        param.nHeight = 4;
        param.enSrcPixelType = source;
        param.pSrcData = src.data();
        param.nSrcDataLen = unsigned(sourceBytes);
        param.enDstPixelType = target;
        param.pDstBuffer = dst.data();
        param.nDstBufferSize = unsigned(targetBytes);
        QCOMPARE(MV_CC_ConvertPixelType(nullptr, &param), expected);
        QCOMPARE(std::count(dst.begin(), dst.end(), 0xEE), std::ptrdiff_t(64));
    }

    void conversionWithoutParametersIsRefused()
    {
        QCOMPARE(MV_CC_ConvertPixelType(nullptr, nullptr), status(MV_E_PARAMETER));
        MV_CC_PIXEL_CONVERT_PARAM param;
        std::memset(&param, 0, sizeof param);
        param.nWidth = param.nHeight = 1;
        param.enSrcPixelType = PixelType_Gvsp_Mono8;
        param.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
        QCOMPARE(MV_CC_ConvertPixelType(nullptr, &param), status(MV_E_PARAMETER));
    }

    void savedFilesReadBackWithTheFramesPixels_data()
    {
        QTest::addColumn<int>("imageType");
        QTest::addColumn<unsigned int>("pixelType");
        QTest::addColumn<bool>("lossless");
        const unsigned int mono = PixelType_Gvsp_Mono8, rgb = PixelType_Gvsp_RGB8_Packed;
        const unsigned int bayer = PixelType_Gvsp_BayerRG8;
        QTest::newRow("BMP Mono8") << int(MV_Image_Bmp) << mono << true;
        QTest::newRow("BMP RGB8") << int(MV_Image_Bmp) << rgb << true;
        QTest::newRow("PNG Mono8") << int(MV_Image_Png) << mono << true;
        QTest::newRow("PNG RGB8") << int(MV_Image_Png) << rgb << true;
        QTest::newRow("PNG BayerRG8") << int(MV_Image_Png) << bayer << true;
        QTest::newRow("TIFF Mono8") << int(MV_Image_Tif) << mono << true;
        QTest::newRow("TIFF RGB8") << int(MV_Image_Tif) << rgb << true;
        QTest::newRow("JPEG Mono8") << int(MV_Image_Jpeg) << mono << false;
        QTest::newRow("JPEG RGB8") << int(MV_Image_Jpeg) << rgb << false;
        QTest::newRow("JPEG BayerRG8") << int(MV_Image_Jpeg) << bayer << false;
    }

    void savedFilesReadBackWithTheFramesPixels()
    {
        QFETCH(int, imageType);
        QFETCH(unsigned int, pixelType);
        QFETCH(bool, lossless);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const unsigned int width = 37, height = 24; // odd width: lines are not 4-byte aligned
        const unsigned int bpp = pixelType == PixelType_Gvsp_RGB8_Packed ? 3 : 1;
        std::vector<unsigned char> data = scene(pixelType, width, height, bpp);
        const QString path = dir.filePath("Image_1.img");
        MV_SAVE_IMG_TO_FILE_PARAM param
            = saveRequest(data, pixelType, width, height, MV_SAVE_IAMGE_TYPE(imageType), path, 90);
        QCOMPARE(MV_CC_SaveImageToFile(nullptr, &param), MV_OK);

        std::vector<unsigned char> expected(std::size_t(width) * height * 3);
        QCOMPARE(convert(data, pixelType, width, height, expected), MV_OK);
        const QImage image = QImage(path).convertToFormat(QImage::Format_RGB888);
        QCOMPARE(image.size(), QSize(int(width), int(height)));
        int worst = 0;
        for (unsigned int y = 0; y < height; ++y) {
            const uchar *line = image.constScanLine(int(y));
            for (unsigned int i = 0; i < width * 3; ++i)
                worst = std::max(worst, std::abs(int(line[i]) - int(expected[y * width * 3 + i])));
        }
        if (lossless)
            QCOMPARE(worst, 0);
        else
            QVERIFY2(worst < 128, qPrintable(QString::number(worst)));
        if (lossless && pixelType != PixelType_Gvsp_BayerRG8)
            QCOMPARE(mvsim::lineStamp(image.constScanLine(23), 3), 23u);
    }

    void jpegQualityAndPngLevelReachTheEncoder()
    {
        QTemporaryDir dir;
        std::vector<unsigned char> data = scene(PixelType_Gvsp_RGB8_Packed, 256, 64, 3);
        auto sizeOf = [&](MV_SAVE_IAMGE_TYPE type, unsigned int quality, const QString &name) {
            MV_SAVE_IMG_TO_FILE_PARAM param
                = saveRequest(data, PixelType_Gvsp_RGB8_Packed, 256, 64, type, dir.filePath(name), quality);
            return MV_CC_SaveImageToFile(nullptr, &param) == MV_OK ? QFileInfo(dir.filePath(name)).size()
                                                                   : -1;
        };
        const qint64 jpegLow = sizeOf(MV_Image_Jpeg, 55, "low.jpg");
        const qint64 jpegHigh = sizeOf(MV_Image_Jpeg, 99, "high.jpg");
        const qint64 jpegClamped = sizeOf(MV_Image_Jpeg, 10, "clamped.jpg");
        QVERIFY(jpegLow > 0 && jpegHigh > jpegLow);
        QCOMPARE(jpegClamped, jpegLow); // below 55 is taken as 55
        const qint64 pngStored = sizeOf(MV_Image_Png, 0, "level0.png");
        const qint64 pngSmallest = sizeOf(MV_Image_Png, 9, "level9.png");
        QVERIFY(pngSmallest > 0 && pngStored > pngSmallest);
        QVERIFY(pngStored >= qint64(data.size())); // level 0 stores the pixels uncompressed
    }

    void savingRefusesBadRequestsAndWritesNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("expected");
        QTest::newRow("vendor pixel type") << "vendor" << status(MV_E_SUPPORT);
        QTest::newRow("unknown pixel type") << "pixel" << status(MV_E_SUPPORT);
        QTest::newRow("no image type") << "type0" << status(MV_E_PARAMETER);
        QTest::newRow("image type beyond TIFF") << "type5" << status(MV_E_PARAMETER);
        QTest::newRow("data shorter than the frame") << "short" << status(MV_E_PARAMETER);
        QTest::newRow("no data") << "null" << status(MV_E_PARAMETER);
        QTest::newRow("empty path") << "empty" << status(MV_E_PARAMETER);
        QTest::newRow("path without terminating zero") << "unterminated" << status(MV_E_PARAMETER);
        QTest::newRow("folder does not exist") << "folder" << status(MV_E_WRITEFILE);
    }

    void savingRefusesBadRequestsAndWritesNothing()
    {
        QFETCH(QString, fault);
        QFETCH(int, expected);
        QTemporaryDir dir;
        std::vector<unsigned char> data(16 * 4, 100);
        MV_SAVE_IMG_TO_FILE_PARAM param
            = saveRequest(data, PixelType_Gvsp_Mono8, 16, 4, MV_Image_Png, dir.filePath("out.png"));
        if (fault == "vendor")
            param.enPixelType = PixelType_Gvsp_CustomFlag | PixelType_Gvsp_Mono8;
        else if (fault == "pixel")
            param.enPixelType = 0x01100003;
        else if (fault == "type0")
            param.enImageType = MV_Image_Undefined;
        else if (fault == "type5")
            param.enImageType = MV_SAVE_IAMGE_TYPE(5);
        else if (fault == "short")
            param.nDataLen = 63;
        else if (fault == "null")
            param.pData = nullptr;
        else if (fault == "empty")
            param.pImagePath[0] = '\0';
        else if (fault == "unterminated")
            std::memset(param.pImagePath, 'a', sizeof param.pImagePath);
        else if (fault == "folder")
            std::strcpy(param.pImagePath, QFile::encodeName(dir.filePath("missing/out.png")).constData());
        QCOMPARE(MV_CC_SaveImageToFile(nullptr, &param), expected);
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
        QCOMPARE(MV_CC_SaveImageToFile(nullptr, nullptr), status(MV_E_PARAMETER));
    }

    void aFrameGrabbedFromTheCameraSavesThroughItsHandle()
    {
        qputenv("CORVISTA_CAMERAS", "simulator");
        INSTALL_CAMERAS("[S]\nwidth = 40\nlines_per_frame = 10\nline_rate = 0\n");
        CameraHandle camera("S");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QTemporaryDir dir;
        const QString path = dir.filePath("Image_snapshot.tif");
        MV_SAVE_IMG_TO_FILE_PARAM param
            = saveRequest(frame, info.enPixelType, info.nWidth, info.nHeight, MV_Image_Tif, path);
        param.nDataLen = info.nFrameLen;
        QCOMPARE(MV_CC_SaveImageToFile(camera.handle, &param), MV_OK);
        const QImage image(path);
        QCOMPARE(image.size(), QSize(40, 10));
        QCOMPARE(qGray(image.pixel(0, 9)), 0); // stamp of line 9: 0, 0, 0, 9
        QCOMPARE(qGray(image.pixel(3, 9)), 9);
    }
};

QTEST_GUILESS_MAIN(SdkImagesTest)
#include "tst_sdk_images.moc"
