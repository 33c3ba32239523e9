#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "naming.h"

class NamingTest : public QObject
{
    Q_OBJECT

private slots:
    void formatNameGivesExtension_data();
    void formatNameGivesExtension();
    void timestampHasMillisecondsAndTwentyFourHourClock();
    void emptyOrDotFolderMeansWorkingDirectory_data();
    void emptyOrDotFolderMeansWorkingDirectory();
    void directionNamesCoverUnknownValues_data();
    void directionNamesCoverUnknownValues();
    void batchBaseNameCarriesCameraDirectionAndBatch_data();
    void batchBaseNameCarriesCameraDirectionAndBatch();
    void fileListBaseNameCarriesCameraOnly_data();
    void fileListBaseNameCarriesCameraOnly();
    void segmentNumbersArePaddedByCount_data();
    void segmentNumbersArePaddedByCount();
    void fileListSegmentsUsePartTag();
    void snapshotNameJoinsTimestampAndExtension();
};

void NamingTest::formatNameGivesExtension_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("extension");
    QTest::newRow("JPG") << "JPG"
                         << "jpg";
    QTest::newRow("jpeg") << "jpeg"
                          << "jpg";
    QTest::newRow("Png") << "Png"
                         << "png";
    QTest::newRow("empty") << ""
                           << "png";
    QTest::newRow("Tiff") << "Tiff"
                          << "tif";
    QTest::newRow("TIF") << "TIF"
                         << "tif";
    QTest::newRow("bmp") << "bmp"
                         << "bmp";
    QTest::newRow("unknown is lower-cased") << "GiF"
                                            << "gif";
    QTest::newRow("white space is kept") << " jpg"
                                         << " jpg";
}

void NamingTest::formatNameGivesExtension()
{
    QFETCH(QString, format);
    QFETCH(QString, extension);
    QCOMPARE(extensionForFormat(format), extension);
}

void NamingTest::timestampHasMillisecondsAndTwentyFourHourClock()
{
    const QDateTime when(QDate(2024, 3, 7), QTime(14, 25, 1, 42));
    QCOMPARE(timestampText(when), QStringLiteral("20240307_142501_042"));
    const QDateTime morning(QDate(2031, 12, 31), QTime(9, 5, 9, 7));
    QCOMPARE(timestampText(morning), QStringLiteral("20311231_090509_007"));
}

void NamingTest::emptyOrDotFolderMeansWorkingDirectory_data()
{
    QTest::addColumn<QString>("saveDirPath");
    QTest::addColumn<bool>("isWorkingDirectory");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("dot") << "." << true;
    QTest::newRow("dot slash") << "./" << false;
    QTest::newRow("absolute") << "/data/out" << false;
}

void NamingTest::emptyOrDotFolderMeansWorkingDirectory()
{
    QFETCH(QString, saveDirPath);
    QFETCH(bool, isWorkingDirectory);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const QString resolved = resolveOutputFolder(saveDirPath);
    QDir::setCurrent(previous);
    QCOMPARE(resolved, isWorkingDirectory ? QDir(dir.path()).canonicalPath() : saveDirPath);
}

void NamingTest::directionNamesCoverUnknownValues_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << "Left";
    QTest::newRow("1") << 1 << "Right";
    QTest::newRow("2") << 2 << "Bottom";
    QTest::newRow("3") << 3 << "Top";
    QTest::newRow("-1") << -1 << "Unknown";
    QTest::newRow("4") << 4 << "Unknown";
}

void NamingTest::directionNamesCoverUnknownValues()
{
    QFETCH(int, direction);
    QFETCH(QString, name);
    QCOMPARE(directionName(direction), name);
}

void NamingTest::batchBaseNameCarriesCameraDirectionAndBatch_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("batch");
    QTest::addColumn<QString>("base");
    QTest::newRow("full") << "CamA"
                          << "SN0042" << 0 << 7 << "Stitched_CamA_SN0042_Left_Batch007";
    QTest::newRow("no serial") << "CamA"
                               << "" << 2 << 0 << "Stitched_Bottom";
    QTest::newRow("no model") << ""
                              << "SN0042" << 1 << 12 << "Stitched_Right_Batch012";
    QTest::newRow("negative batch") << ""
                                    << "" << 3 << -5 << "Stitched_Top";
    QTest::newRow("wide batch") << ""
                                << "" << 7 << 1234 << "Stitched_Unknown_Batch1234";
    QTest::newRow("verbatim names") << "A/B C"
                                    << "x:y" << 0 << 1 << "Stitched_A/B C_x:y_Left_Batch001";
}

void NamingTest::batchBaseNameCarriesCameraDirectionAndBatch()
{
    QFETCH(QString, model);
    QFETCH(QString, serial);
    QFETCH(int, direction);
    QFETCH(int, batch);
    QFETCH(QString, base);
    QCOMPARE(batchStitchBaseName(model, serial, direction, batch), base);
}

void NamingTest::fileListBaseNameCarriesCameraOnly_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("base");
    QTest::newRow("both") << "CamA"
                          << "SN0042"
                          << "RotatedStitched_CamA_SN0042";
    QTest::newRow("model only") << "CamA"
                                << ""
                                << "RotatedStitched";
    QTest::newRow("none") << ""
                          << ""
                          << "RotatedStitched";
}

void NamingTest::fileListBaseNameCarriesCameraOnly()
{
    QFETCH(QString, model);
    QFETCH(QString, serial);
    QFETCH(QString, base);
    QCOMPARE(fileListStitchBaseName(model, serial), base);
}

void NamingTest::segmentNumbersArePaddedByCount_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("name");
    QTest::newRow("single segment") << 1 << 1 << "B_T.png";
    QTest::newRow("first of two") << 1 << 2 << "B_T_Seg01.png";
    QTest::newRow("last of 99") << 99 << 99 << "B_T_Seg99.png";
    QTest::newRow("first of 100") << 1 << 100 << "B_T_Seg001.png";
    QTest::newRow("last of 100") << 100 << 100 << "B_T_Seg100.png";
    QTest::newRow("beyond width") << 1234 << 1500 << "B_T_Seg1234.png";
}

void NamingTest::segmentNumbersArePaddedByCount()
{
    QFETCH(int, number);
    QFETCH(int, count);
    QFETCH(QString, name);
    QCOMPARE(
        batchSegmentFileName(QStringLiteral("B"), QStringLiteral("T"), number, count, QStringLiteral("png")),
        name);
}

void NamingTest::fileListSegmentsUsePartTag()
{
    QCOMPARE(fileListSegmentFileName(QStringLiteral("RotatedStitched_CamA_SN0042"),
                                     QStringLiteral("20240307_142501_042"), 1, 3, QStringLiteral("bmp")),
             QStringLiteral("RotatedStitched_CamA_SN0042_20240307_142501_042_part01.bmp"));
    QCOMPARE(fileListSegmentFileName(QStringLiteral("R"), QStringLiteral("T"), 1, 1, QStringLiteral("tif")),
             QStringLiteral("R_T.tif"));
}

void NamingTest::snapshotNameJoinsTimestampAndExtension()
{
    QCOMPARE(snapshotFileName(QStringLiteral("20240307_142501_042"), QStringLiteral("bmp")),
             QStringLiteral("Image_20240307_142501_042.bmp"));
}

QTEST_GUILESS_MAIN(NamingTest)
#include "tst_naming.moc"
