// Pixel conversion to RGB8 and saving raw frames as BMP, JPEG, PNG and TIFF.
#include "simcamera.h"

#include <QImage>
#include <QTemporaryDir>

namespace {

// Converts to RGB8; sourceBytes and targetBytes override the buffer sizes when set.
int convert(std::vector<unsigned char> &src, unsigned int type, unsigned int width, unsigned int height,
            std::vector<unsigned char> &dst, int sourceBytes = -1, int targetBytes = -1)
{
    MV_CC_PIXEL_CONVERT_PARAM param{width,
                                    height,
                                    type,
                                    src.data(),
                                    unsigned(sourceBytes < 0 ? int(src.size()) : sourceBytes),
                                    PixelType_Gvsp_RGB8_Packed,
                                    dst.data(),
                                    0,
                                    unsigned(targetBytes < 0 ? int(dst.size()) : targetBytes),
                                    {}};
    return MV_CC_ConvertPixelType(nullptr, &param);
}

MV_SAVE_IMG_TO_FILE_PARAM saveRequest(std::vector<unsigned char> &data, unsigned int type, unsigned int width,
                                      unsigned int height, MV_SAVE_IAMGE_TYPE imageType, const QString &path)
{
    MV_SAVE_IMG_TO_FILE_PARAM param{
        type, data.data(), unsigned(data.size()), width, height, imageType, 90, {}, 0, {}};
    std::strncpy(param.pImagePath, QFile::encodeName(path).constData(), sizeof param.pImagePath - 1);
    return param;
}

std::vector<unsigned char> scene(unsigned int type, unsigned int width, unsigned int height, unsigned int bpp)
{
    std::vector<unsigned char> data(std::size_t(width) * height * bpp);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i]
            = mvsim::scenePixel("PIC", unsigned(i / (width * bpp)), unsigned(i / bpp % width), i % bpp, type);
    return data;
}

} // namespace

class SdkImagesTest : public QObject
{
    Q_OBJECT

private slots:
    void mono8BecomesGrayRgbAndRgb8PassesUnchanged()
    {
        // 257 pixels a line: whole blocks of sixteen and a remainder.
        std::vector<unsigned char> gray = scene(PixelType_Gvsp_Mono8, 257, 3, 1);
        std::vector<unsigned char> rgb(gray.size() * 3 + 8, 0xEE);
        QCOMPARE(convert(gray, PixelType_Gvsp_Mono8, 257, 3, rgb), MV_OK);
        for (std::size_t i = 0; i < rgb.size(); ++i)
            QCOMPARE(rgb[i], i < gray.size() * 3 ? gray[i / 3] : (unsigned char)0xEE);
        std::vector<unsigned char> colour = scene(PixelType_Gvsp_RGB8_Packed, 33, 5, 3);
        std::vector<unsigned char> copy(colour.size());
        QCOMPARE(convert(colour, PixelType_Gvsp_RGB8_Packed, 33, 5, copy), MV_OK);
        QVERIFY(copy == colour);
    }

    void bayerTakesEachPixelsColoursFromItsTwoByTwoWindow()
    {
        // R0 G1 R2 G3 / G4 B5 G6 B7; the last column reuses the window before it.
        std::vector<unsigned char> raw{10, 20, 30, 40, 50, 60, 70, 80};
        std::vector<unsigned char> rgb(4 * 2 * 3);
        QCOMPARE(convert(raw, PixelType_Gvsp_BayerRG8, 4, 2, rgb), MV_OK);
        const std::vector<unsigned char> line{10, 35, 60, 30, 45, 60, 30, 55, 80, 30, 55, 80};
        QCOMPARE(std::vector<unsigned char>(rgb.begin(), rgb.begin() + 12), line);
        QCOMPARE(std::vector<unsigned char>(rgb.begin() + 12, rgb.end()), line);
    }

    void conversionRefusesWhatItCannotDoWithoutWriting_data()
    {
        QTest::addColumn<unsigned int>("source");
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<int>("sourceBytes");
        QTest::addColumn<int>("targetBytes");
        QTest::addColumn<int>("expected");
        const unsigned int mono = PixelType_Gvsp_Mono8;
        QTest::newRow("source shorter than the frame") << mono << 4u << 15 << 48 << status(MV_E_PARAMETER);
        QTest::newRow("target too small") << mono << 4u << 16 << 47 << status(MV_E_BUFOVER);
        QTest::newRow("size beyond 4 GiB") << mono << 0x10000000u << 16 << 48 << status(MV_E_PARAMETER);
    }

    void conversionRefusesWhatItCannotDoWithoutWriting()
    {
        QFETCH(unsigned int, source);
        QFETCH(unsigned int, width);
        QFETCH(int, sourceBytes);
        QFETCH(int, targetBytes);
        std::vector<unsigned char> src(64, 7);
        std::vector<unsigned char> dst(64, 0xEE);
        QTEST(convert(src, source, width, 4, dst, sourceBytes, targetBytes), "expected");
        QCOMPARE(std::count(dst.begin(), dst.end(), 0xEE), std::ptrdiff_t(64));
    }

    void savedFilesReadBackWithTheFramesPixels_data()
    {
        QTest::addColumn<int>("imageType");
        QTest::addColumn<unsigned int>("pixelType");
        const unsigned int mono = PixelType_Gvsp_Mono8, rgb = PixelType_Gvsp_RGB8_Packed;
        QTest::newRow("BMP Mono8") << int(MV_Image_Bmp) << mono;
        QTest::newRow("BMP RGB8") << int(MV_Image_Bmp) << rgb;
        QTest::newRow("PNG BayerRG8") << int(MV_Image_Png) << unsigned(PixelType_Gvsp_BayerRG8);
        QTest::newRow("TIFF RGB8") << int(MV_Image_Tif) << rgb;
        QTest::newRow("JPEG RGB8") << int(MV_Image_Jpeg) << rgb;
    }

    void savedFilesReadBackWithTheFramesPixels()
    {
        QFETCH(int, imageType);
        QFETCH(unsigned int, pixelType);
        QTemporaryDir dir;
        const unsigned int width = 37, height = 24; // odd width: lines are not 4-byte aligned
        std::vector<unsigned char> data
            = scene(pixelType, width, height, pixelType == PixelType_Gvsp_RGB8_Packed ? 3 : 1);
        const QString path = dir.filePath("Image_1.img");
        MV_SAVE_IMG_TO_FILE_PARAM param
            = saveRequest(data, pixelType, width, height, MV_SAVE_IAMGE_TYPE(imageType), path);
        QCOMPARE(MV_CC_SaveImageToFile(nullptr, &param), MV_OK);
        std::vector<unsigned char> expected(std::size_t(width) * height * 3);
        QCOMPARE(convert(data, pixelType, width, height, expected), MV_OK);
        const QImage image = QImage(path).convertToFormat(QImage::Format_RGB888);
        QCOMPARE(image.size(), QSize(int(width), int(height)));
        int worst = 0;
        for (unsigned int y = 0; y < height; ++y)
            for (unsigned int i = 0; i < width * 3; ++i)
                worst = std::max(
                    worst, std::abs(int(image.constScanLine(int(y))[i]) - int(expected[y * width * 3 + i])));
        if (imageType == MV_Image_Jpeg)
            QVERIFY2(worst < 128, qPrintable(QString::number(worst)));
        else
            QCOMPARE(worst, 0);
    }

    void savingRefusesBadRequestsAndWritesNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("expected");
        QTest::newRow("data shorter than the frame") << "short" << status(MV_E_PARAMETER);
        QTest::newRow("path without terminating zero") << "unterminated" << status(MV_E_PARAMETER);
        QTest::newRow("folder does not exist") << "folder" << status(MV_E_WRITEFILE);
    }

    void savingRefusesBadRequestsAndWritesNothing()
    {
        QFETCH(QString, fault);
        QTemporaryDir dir;
        std::vector<unsigned char> data(16 * 4, 100);
        MV_SAVE_IMG_TO_FILE_PARAM param
            = saveRequest(data, PixelType_Gvsp_Mono8, 16, 4, MV_Image_Png, dir.filePath("out.png"));
        if (fault == "short")
            param.nDataLen = 63;
        else if (fault == "unterminated")
            std::memset(param.pImagePath, 'a', sizeof param.pImagePath);
        else
            std::strcpy(param.pImagePath, QFile::encodeName(dir.filePath("missing/out.png")).constData());
        QTEST(MV_CC_SaveImageToFile(nullptr, &param), "expected");
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }
};

QTEST_GUILESS_MAIN(SdkImagesTest)
#include "tst_sdk_images.moc"
