// How a snapshot of the latest raw frame is named, reported and handed to the
// camera library, called directly.
#include <QtTest>

#include <cstring>
#include <vector>

#include "settingdialog.h"

using namespace SettingRules;

namespace {

MV_FRAME_OUT_INFO_EX monoFrame(unsigned int width, unsigned int height)
{
    MV_FRAME_OUT_INFO_EX info{};
    info.nWidth = width;
    info.nHeight = height;
    info.enPixelType = PixelType_Gvsp_Mono8;
    info.nFrameLen = width * height;
    return info;
}

} // namespace

class SnapshotRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void formatGivesImageTypeAndExtension_data();
    void formatGivesImageTypeAndExtension();
    void fileNameCarriesTheLocalTimeToTheMillisecond();
    void successTextReportsTheQualityOfJpegAndPngOnly_data();
    void successTextReportsTheQualityOfJpegAndPngOnly();
    void qualityHandedToTheLibraryIsClampedPerType_data();
    void qualityHandedToTheLibraryIsClampedPerType();
    void frameThatCannotBeSavedIsRefusedWithItsStatus_data();
    void frameThatCannotBeSavedIsRefusedWithItsStatus();
    void recordDescribesTheLatestFrameAndTarget();
    void dataLengthNeverExceedsTheFrameBuffer();
};

void SnapshotRulesTest::formatGivesImageTypeAndExtension_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("imageType");
    QTest::addColumn<QString>("extension");
    QTest::newRow("JPG") << "JPG" << 2 << "jpg";
    QTest::newRow("PNG") << "PNG" << 3 << "png";
    QTest::newRow("TIF") << "TIF" << 4 << "tif";
    QTest::newRow("BMP") << "BMP" << 1 << "bmp";
}

void SnapshotRulesTest::formatGivesImageTypeAndExtension()
{
    QFETCH(QString, format);
    QFETCH(int, imageType);
    QFETCH(QString, extension);
    const SnapshotKind kind = snapshotKindFor(format);
    QCOMPARE(kind.imageType, imageType);
    QCOMPARE(kind.extension, extension);
}

void SnapshotRulesTest::fileNameCarriesTheLocalTimeToTheMillisecond()
{
    const QDateTime when(QDate(2026, 4, 8), QTime(9, 5, 7, 42));
    QCOMPARE(snapshotFileName(when, QStringLiteral("jpg")), QStringLiteral("Image_20260408_090507_042.jpg"));
    QCOMPARE(snapshotFileName(when.addMSecs(1), QStringLiteral("tif")),
             QStringLiteral("Image_20260408_090507_043.tif"));
}

void SnapshotRulesTest::successTextReportsTheQualityOfJpegAndPngOnly_data()
{
    QTest::addColumn<int>("imageType");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("text");
    QTest::newRow("JPEG") << int(MV_Image_Jpeg) << 90
                          << QStringLiteral("图片保存成功:\n/out/Image_1.jpg\nJPG质量: 90 (55-99)");
    QTest::newRow("PNG") << int(MV_Image_Png) << 3
                         << QStringLiteral("图片保存成功:\n/out/Image_1.jpg\nPNG压缩级别: 3 (0-9, 0=不压缩)");
    QTest::newRow("TIFF") << int(MV_Image_Tif) << 0 << QStringLiteral("图片保存成功:\n/out/Image_1.jpg\n");
    QTest::newRow("BMP") << int(MV_Image_Bmp) << 0 << QStringLiteral("图片保存成功:\n/out/Image_1.jpg\n");
}

void SnapshotRulesTest::successTextReportsTheQualityOfJpegAndPngOnly()
{
    QFETCH(int, imageType);
    QFETCH(int, quality);
    QFETCH(QString, text);
    QCOMPARE(snapshotSuccessText(QStringLiteral("/out/Image_1.jpg"), imageType, quality), text);
}

void SnapshotRulesTest::qualityHandedToTheLibraryIsClampedPerType_data()
{
    QTest::addColumn<int>("imageType");
    QTest::addColumn<int>("quality");
    QTest::addColumn<uint>("handed");
    QTest::newRow("JPEG in range") << int(MV_Image_Jpeg) << 80 << 80u;
    QTest::newRow("JPEG too low") << int(MV_Image_Jpeg) << 30 << 55u;
    QTest::newRow("JPEG too high") << int(MV_Image_Jpeg) << 100 << 99u;
    QTest::newRow("PNG in range") << int(MV_Image_Png) << 5 << 5u;
    QTest::newRow("PNG negative") << int(MV_Image_Png) << -1 << 0u;
    QTest::newRow("PNG too high") << int(MV_Image_Png) << 12 << 9u;
    QTest::newRow("TIFF ignores it") << int(MV_Image_Tif) << 80 << 0u;
    QTest::newRow("BMP ignores it") << int(MV_Image_Bmp) << 80 << 0u;
}

void SnapshotRulesTest::qualityHandedToTheLibraryIsClampedPerType()
{
    QFETCH(int, imageType);
    QFETCH(int, quality);
    QFETCH(uint, handed);
    QCOMPARE(snapshotQuality(imageType, quality), handed);

    std::vector<unsigned char> buffer(16 * 4);
    MV_SAVE_IMG_TO_FILE_PARAM param{};
    QCOMPARE(prepareSnapshotParam(monoFrame(16, 4), buffer.data(), 64, "/out/a", imageType, quality, &param),
             int(MV_OK));
    QCOMPARE(param.nQuality, handed);
}

void SnapshotRulesTest::frameThatCannotBeSavedIsRefusedWithItsStatus_data()
{
    QTest::addColumn<bool>("hasBuffer");
    QTest::addColumn<uint>("pixelType");
    QTest::addColumn<int>("pathBytes");
    QTest::addColumn<int>("status");
    QTest::newRow("no buffer yet") << false << uint(PixelType_Gvsp_Mono8) << 10 << int(0x80000007);
    QTest::newRow("no frame since grabbing started") << true << 0u << 10 << int(0x80000007);
    QTest::newRow("vendor-specific pixel type")
        << true << (0x80000000u | 0x0108ABCDu) << 10 << int(0x80000001);
    QTest::newRow("path of 256 bytes") << true << uint(PixelType_Gvsp_Mono8) << 256 << int(0x80000004);
    QTest::newRow("path of 300 bytes") << true << uint(PixelType_Gvsp_Mono8) << 300 << int(0x80000004);
    QTest::newRow("path of 255 bytes fits") << true << uint(PixelType_Gvsp_Mono8) << 255 << int(MV_OK);
    QTest::newRow("RGB frame") << true << uint(PixelType_Gvsp_RGB8_Packed) << 10 << int(MV_OK);
}

void SnapshotRulesTest::frameThatCannotBeSavedIsRefusedWithItsStatus()
{
    QFETCH(bool, hasBuffer);
    QFETCH(uint, pixelType);
    QFETCH(int, pathBytes);
    QFETCH(int, status);

    std::vector<unsigned char> buffer(64);
    MV_FRAME_OUT_INFO_EX info = monoFrame(16, 4);
    info.enPixelType = pixelType;
    const QByteArray path(pathBytes, 'a');
    MV_SAVE_IMG_TO_FILE_PARAM param{};
    param.nWidth = 777;

    QCOMPARE(
        prepareSnapshotParam(info, hasBuffer ? buffer.data() : nullptr, 64, path, MV_Image_Bmp, 0, &param),
        status);
    if (status != MV_OK) {
        QCOMPARE(param.nWidth, 0u);
        QVERIFY(param.pData == nullptr);
    } else {
        QCOMPARE(int(std::strlen(param.pImagePath)), pathBytes);
    }
}

void SnapshotRulesTest::recordDescribesTheLatestFrameAndTarget()
{
    std::vector<unsigned char> buffer(640 * 3 * 8);
    MV_FRAME_OUT_INFO_EX info{};
    info.nWidth = 640;
    info.nHeight = 8;
    info.enPixelType = PixelType_Gvsp_RGB8_Packed;
    info.nFrameLen = 640 * 3 * 8;
    MV_SAVE_IMG_TO_FILE_PARAM param;
    std::memset(&param, 0xAB, sizeof(param));

    const QByteArray path("/out/Image_20260408_090507_042.jpg");
    QCOMPARE(
        prepareSnapshotParam(info, buffer.data(), unsigned(buffer.size()), path, MV_Image_Jpeg, 90, &param),
        int(MV_OK));
    QCOMPARE(param.enPixelType, PixelType_Gvsp_RGB8_Packed);
    QCOMPARE(param.nWidth, 640u);
    QCOMPARE(param.nHeight, 8u);
    QCOMPARE(param.nDataLen, unsigned(buffer.size()));
    QVERIFY(param.pData == buffer.data());
    QCOMPARE(int(param.enImageType), int(MV_Image_Jpeg));
    QCOMPARE(param.nQuality, 90u);
    QCOMPARE(param.iMethodValue, 0);
    QCOMPARE(QByteArray(param.pImagePath), path);
    // The rest of the record is zeroed, not left as it was.
    QCOMPARE(param.nReserved[0], 0u);
    QCOMPARE(param.pImagePath[MV_MAX_PATH_LEN - 1], '\0');
}

void SnapshotRulesTest::dataLengthNeverExceedsTheFrameBuffer()
{
    std::vector<unsigned char> buffer(4096);
    MV_FRAME_OUT_INFO_EX info = monoFrame(64, 80); // claims 5120 bytes
    MV_SAVE_IMG_TO_FILE_PARAM param{};
    QCOMPARE(prepareSnapshotParam(info, buffer.data(), 4096, "/out/a.bmp", MV_Image_Bmp, 0, &param),
             int(MV_OK));
    QCOMPARE(param.nDataLen, 4096u);

    info.nFrameLen = 1000;
    QCOMPARE(prepareSnapshotParam(info, buffer.data(), 4096, "/out/a.bmp", MV_Image_Bmp, 0, &param),
             int(MV_OK));
    QCOMPARE(param.nDataLen, 1000u);
}

QTEST_GUILESS_MAIN(SnapshotRulesTest)
#include "tst_snapshot_rules.moc"
