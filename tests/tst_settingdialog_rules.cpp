// The rules behind the settings dialog, called directly.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <cmath>
#include <limits>

#include "settingdialog.h"

using namespace SettingRules;

class SettingDialogRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void storedFormatNameSelectsOneOfTheFourFormats_data();
    void storedFormatNameSelectsOneOfTheFourFormats();
    void qualityRangeDependsOnTheFormat_data();
    void qualityRangeDependsOnTheFormat();
    void cameraFloatValuesAreTruncatedTowardZeroAndSaturate_data();
    void cameraFloatValuesAreTruncatedTowardZeroAndSaturate();
    void requestedLineRateIsShownUnlessItExceedsTheCeiling_data();
    void requestedLineRateIsShownUnlessItExceedsTheCeiling();
    void choosingTheWorkingDirectoryStoresDot();
    void choosingAnotherFolderStoresItAsChosen();
    void snapshotFolderFollowsTheWorkingDirectory_data();
    void snapshotFolderFollowsTheWorkingDirectory();
};

void SettingDialogRulesTest::storedFormatNameSelectsOneOfTheFourFormats_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("format");
    QTest::newRow("JPG") << "JPG"
                         << "JPG";
    QTest::newRow("lower-case jpeg") << "jpeg"
                                     << "JPG";
    QTest::newRow("mixed-case Jpg") << "Jpg"
                                    << "JPG";
    QTest::newRow("png") << "png"
                         << "PNG";
    QTest::newRow("TIF") << "TIF"
                         << "TIF";
    QTest::newRow("tiff") << "tiff"
                          << "TIF";
    QTest::newRow("BMP") << "BMP"
                         << "BMP";
    QTest::newRow("unknown gif") << "gif"
                                 << "BMP";
    QTest::newRow("empty") << ""
                           << "BMP";
    QTest::newRow("padded jpg is not a format") << " jpg"
                                                << "BMP";
}

void SettingDialogRulesTest::storedFormatNameSelectsOneOfTheFourFormats()
{
    QFETCH(QString, stored);
    QFETCH(QString, format);
    QCOMPARE(canonicalFormatName(stored), format);
}

void SettingDialogRulesTest::qualityRangeDependsOnTheFormat_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("adjustable");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("defaultValue");
    QTest::addColumn<QString>("key");
    QTest::newRow("JPEG quality") << "JPG" << true << 55 << 99 << 95 << "File/JpgQuality";
    QTest::newRow("PNG compression level") << "PNG" << true << 0 << 9 << 8 << "File/PngQuality";
    QTest::newRow("BMP has none") << "BMP" << false << 0 << 0 << 0 << "";
    QTest::newRow("TIF has none") << "TIF" << false << 0 << 0 << 0 << "";
}

void SettingDialogRulesTest::qualityRangeDependsOnTheFormat()
{
    QFETCH(QString, format);
    QFETCH(bool, adjustable);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, defaultValue);
    QFETCH(QString, key);

    const QualityRange range = qualityRangeFor(format);
    QCOMPARE(range.adjustable, adjustable);
    QCOMPARE(range.minimum, minimum);
    QCOMPARE(range.maximum, maximum);
    QCOMPARE(range.defaultValue, defaultValue);
    QCOMPARE(QString::fromLatin1(range.key ? range.key : ""), key);
}

void SettingDialogRulesTest::cameraFloatValuesAreTruncatedTowardZeroAndSaturate_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("fraction dropped") << 12.9 << 12;
    QTest::newRow("negative toward zero") << -3.7 << -3;
    QTest::newRow("whole") << 35000.0 << 35000;
    QTest::newRow("above int") << 1e12 << INT_MAX;
    QTest::newRow("below int") << -1e12 << INT_MIN;
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << INT_MAX;
    QTest::newRow("not a number") << std::nan("") << 0;
}

void SettingDialogRulesTest::cameraFloatValuesAreTruncatedTowardZeroAndSaturate()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(truncateToInt(value), expected);
}

void SettingDialogRulesTest::requestedLineRateIsShownUnlessItExceedsTheCeiling_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("ceiling");
    QTest::addColumn<qint64>("cameraRate");
    QTest::addColumn<int>("shown");
    QTest::newRow("below the ceiling: requested") << 5000 << 8000 << qint64(4990) << 5000;
    QTest::newRow("at the ceiling: requested") << 8000 << 8000 << qint64(7999) << 8000;
    QTest::newRow("above the ceiling: camera") << 9000 << 8000 << qint64(8000) << 8000;
    QTest::newRow("no ceiling recorded: camera") << 1000 << 0 << qint64(950) << 950;
    QTest::newRow("unreadable request under the ceiling") << 0 << 8000 << qint64(8000) << 0;
    QTest::newRow("camera beyond int saturates") << 9000 << 8000 << (qint64(1) << 32) << INT_MAX;
}

void SettingDialogRulesTest::requestedLineRateIsShownUnlessItExceedsTheCeiling()
{
    QFETCH(int, requested);
    QFETCH(int, ceiling);
    QFETCH(qint64, cameraRate);
    QFETCH(int, shown);
    QCOMPARE(shownResultingLineRate(requested, ceiling, cameraRate), shown);
}

void SettingDialogRulesTest::choosingTheWorkingDirectoryStoresDot()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(QDir(work.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(QFile::link(work.path(), work.path() + QStringLiteral("/sub/back")));

    QCOMPARE(saveDirForChoice(work.path(), work.path()), QStringLiteral("."));
    QCOMPARE(saveDirForChoice(work.path() + QStringLiteral("/"), work.path()), QStringLiteral("."));
    QCOMPARE(saveDirForChoice(work.path() + QStringLiteral("/sub/.."), work.path()), QStringLiteral("."));
    QCOMPARE(saveDirForChoice(work.path() + QStringLiteral("/sub/back"), work.path()), QStringLiteral("."));
}

void SettingDialogRulesTest::choosingAnotherFolderStoresItAsChosen()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(QDir(work.path()).mkdir(QStringLiteral("out")));
    const QString out = work.path() + QStringLiteral("/out/");

    QCOMPARE(saveDirForChoice(out, work.path()), out);
    QCOMPARE(saveDirForChoice(work.path(), out), work.path());
    const QString missing = work.path() + QStringLiteral("/missing");
    QCOMPARE(saveDirForChoice(missing, missing), missing);
}

void SettingDialogRulesTest::snapshotFolderFollowsTheWorkingDirectory_data()
{
    QTest::addColumn<QString>("saveDirText");
    QTest::addColumn<QString>("folder");
    QTest::newRow("dot") << "."
                         << "/run/current";
    QTest::newRow("empty") << ""
                           << "/run/current";
    QTest::newRow("absolute") << "/data/out"
                              << "/data/out";
    QTest::newRow("relative other than dot") << "out"
                                             << "out";
}

void SettingDialogRulesTest::snapshotFolderFollowsTheWorkingDirectory()
{
    QFETCH(QString, saveDirText);
    QFETCH(QString, folder);
    QCOMPARE(snapshotFolder(saveDirText, QStringLiteral("/run/current")), folder);
}

QTEST_GUILESS_MAIN(SettingDialogRulesTest)
#include "tst_settingdialog_rules.moc"
