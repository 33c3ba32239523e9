// The rules behind the settings dialog and its snapshot, called directly.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "settingdialog.h"

using namespace SettingRules;

namespace {

MV_FRAME_OUT_INFO_EX monoFrame(unsigned int width, unsigned int height, unsigned int pixelType)
{
    MV_FRAME_OUT_INFO_EX info{};
    info.nWidth = width;
    info.nHeight = height;
    info.enPixelType = MvGvspPixelType(pixelType);
    info.nFrameLen = width * height;
    return info;
}

} // namespace

class SettingDialogRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void storedFormatNameSelectsOneOfTheFourFormats_data();
    void storedFormatNameSelectsOneOfTheFourFormats();
    void cameraFloatValuesAreTruncatedTowardZeroAndSaturate();
    void cameraFloatValueIsShownWithTheDigitsItHolds_data();
    void cameraFloatValueIsShownWithTheDigitsItHolds();
    void sliderOffersOnlyWholeNumbersInsideTheCamerasRange();
    void typedCameraValueIsAFiniteDecimalNumber_data();
    void typedCameraValueIsAFiniteDecimalNumber();
    void anyPathToTheWorkingDirectoryIsStoredAsDot();
    void snapshotQualityIsClampedPerImageType();
    void frameThatCannotBeSavedIsRefusedWithItsStatus_data();
    void frameThatCannotBeSavedIsRefusedWithItsStatus();
};

void SettingDialogRulesTest::storedFormatNameSelectsOneOfTheFourFormats_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("format");
    const char *const rows[][2] = {{"jpeg", "JPG"}, {"Jpg", "JPG"}, {"png", "PNG"}, {"tiff", "TIF"},
                                   {"BMP", "BMP"},  {"gif", "BMP"}, {" jpg", "BMP"}};
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
}

void SettingDialogRulesTest::storedFormatNameSelectsOneOfTheFourFormats()
{
    QFETCH(QString, stored);
    QFETCH(QString, format);
    QCOMPARE(canonicalFormatName(stored), format);
}

void SettingDialogRulesTest::cameraFloatValuesAreTruncatedTowardZeroAndSaturate()
{
    QCOMPARE(truncateToInt(12.9), 12);
    QCOMPARE(truncateToInt(-3.7), -3);
    QCOMPARE(truncateToInt(1e12), INT_MAX);
    QCOMPARE(truncateToInt(-1e12), INT_MIN);
    QCOMPARE(truncateToInt(std::numeric_limits<double>::infinity()), INT_MAX);
    QCOMPARE(truncateToInt(std::nan("")), 0);
}

void SettingDialogRulesTest::cameraFloatValueIsShownWithTheDigitsItHolds_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 1000.0f << "1000";
    QTest::newRow("half") << 12.5f << "12.5";
    QTest::newRow("not exact in binary") << 3.7f << "3.7";
    QTest::newRow("small fraction") << 0.3f << "0.3";
    QTest::newRow("more digits than six") << 123456.7f << "123456.7";
    QTest::newRow("negative") << -2.25f << "-2.25";
    QTest::newRow("zero") << 0.0f << "0";
}

void SettingDialogRulesTest::cameraFloatValueIsShownWithTheDigitsItHolds()
{
    QFETCH(float, value);
    QFETCH(QString, text);
    QCOMPARE(cameraValueText(value), text);
    QCOMPARE(cameraValueText(value).toFloat(), value);
}

void SettingDialogRulesTest::sliderOffersOnlyWholeNumbersInsideTheCamerasRange()
{
    const struct {
        float minimum, maximum;
        int low, high;
    } rows[] = {{2.0f, 1000.0f, 2, 1000}, {2.5f, 999.9f, 3, 999}, {-3.5f, 3.5f, -3, 3}, {2.2f, 2.8f, 3, 3}};
    for (const auto &row : rows) {
        const SliderRange range = sliderRangeWithin(row.minimum, row.maximum);
        QCOMPARE(range.minimum, row.low);
        QCOMPARE(range.maximum, row.high);
    }
}

void SettingDialogRulesTest::typedCameraValueIsAFiniteDecimalNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("value");
    QTest::newRow("whole") << "40" << true << 40.0;
    QTest::newRow("fraction with blanks") << " 12.5 " << true << 12.5;
    QTest::newRow("negative") << "-50" << true << -50.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("letters") << "abc" << false << 0.0;
    QTest::newRow("comma") << "12,5" << false << 0.0;
    QTest::newRow("infinite") << "inf" << false << 0.0;
    QTest::newRow("not a number") << "nan" << false << 0.0;
}

void SettingDialogRulesTest::typedCameraValueIsAFiniteDecimalNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(double, value);
    double parsed = 0;
    QCOMPARE(parseCameraValue(text, &parsed), accepted);
    QCOMPARE(parsed, value);
}

void SettingDialogRulesTest::anyPathToTheWorkingDirectoryIsStoredAsDot()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString root = work.path();
    QVERIFY(QDir(root).mkdir(QStringLiteral("sub")));
    QVERIFY(QFile::link(root, root + QStringLiteral("/sub/back")));

    for (const QString &same : {root, root + "/", root + "/sub/..", root + "/sub/back"})
        QCOMPARE(saveDirForChoice(same, root), QStringLiteral("."));
    QCOMPARE(saveDirForChoice(root + "/sub/", root), root + "/sub/");
    QCOMPARE(saveDirForChoice(root, root + "/sub"), root);
    QCOMPARE(saveDirForChoice(root + "/missing", root + "/missing"), root + "/missing");
}

void SettingDialogRulesTest::snapshotQualityIsClampedPerImageType()
{
    QCOMPARE(snapshotQuality(MV_Image_Jpeg, 80), 80u);
    QCOMPARE(snapshotQuality(MV_Image_Jpeg, 30), 55u);
    QCOMPARE(snapshotQuality(MV_Image_Jpeg, 100), 99u);
    QCOMPARE(snapshotQuality(MV_Image_Png, -1), 0u);
    QCOMPARE(snapshotQuality(MV_Image_Png, 12), 9u);
    QCOMPARE(snapshotQuality(MV_Image_Tif, 80), 0u);
}

void SettingDialogRulesTest::frameThatCannotBeSavedIsRefusedWithItsStatus_data()
{
    QTest::addColumn<bool>("hasBuffer");
    QTest::addColumn<uint>("pixelType");
    QTest::addColumn<int>("pathBytes");
    QTest::addColumn<int>("status");
    const uint mono = PixelType_Gvsp_Mono8;
    QTest::newRow("no buffer yet") << false << mono << 10 << int(MV_E_NODATA);
    QTest::newRow("path of 256 bytes") << true << mono << 256 << int(MV_E_PARAMETER);
    QTest::newRow("path of 255 bytes fits") << true << mono << 255 << int(MV_OK);
    QTest::newRow("RGB frame") << true << uint(PixelType_Gvsp_RGB8_Packed) << 10 << int(MV_OK);
}

void SettingDialogRulesTest::frameThatCannotBeSavedIsRefusedWithItsStatus()
{
    QFETCH(bool, hasBuffer);
    QFETCH(uint, pixelType);
    QFETCH(int, pathBytes);
    QFETCH(int, status);
    std::vector<unsigned char> buffer(64);
    MV_SAVE_IMG_TO_FILE_PARAM param{};
    param.nWidth = 777;

    QCOMPARE(prepareSnapshotParam(monoFrame(16, 4, pixelType), hasBuffer ? buffer.data() : nullptr, 64,
                                  QByteArray(pathBytes, 'a'), MV_Image_Bmp, 0, &param),
             status);
    if (status != MV_OK) {
        QCOMPARE(param.nWidth, 0u);
        QVERIFY(param.pData == nullptr);
    } else {
        QCOMPARE(int(std::strlen(param.pImagePath)), pathBytes);
        QCOMPARE(param.nWidth, 16u);
    }
}

QTEST_GUILESS_MAIN(SettingDialogRulesTest)
#include "tst_settingdialog_rules.moc"
