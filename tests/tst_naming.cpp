#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "naming.h"

class NamingTest : public QObject
{
    Q_OBJECT

private slots:
    void timestampHasMillisecondsAndTwentyFourHourClock();
    void emptyOrDotFolderMeansWorkingDirectory_data();
    void emptyOrDotFolderMeansWorkingDirectory();
    void batchBaseNameCarriesCameraDirectionAndBatch_data();
    void batchBaseNameCarriesCameraDirectionAndBatch();
    void segmentNumbersArePaddedByCount_data();
    void segmentNumbersArePaddedByCount();
    void fileListAndSnapshotNamesCarryTheirTags();
};

void NamingTest::timestampHasMillisecondsAndTwentyFourHourClock()
{
    QCOMPARE(timestampText(QDateTime(QDate(2024, 3, 7), QTime(14, 25, 1, 42))),
             QStringLiteral("20240307_142501_042"));
    QCOMPARE(timestampText(QDateTime(QDate(2031, 12, 31), QTime(9, 5, 9, 7))),
             QStringLiteral("20311231_090509_007"));
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
    const QString previous = QDir::currentPath();
    QVERIFY(dir.isValid() && QDir::setCurrent(dir.path()));
    const QString resolved = resolveOutputFolder(saveDirPath);
    QDir::setCurrent(previous);
    QCOMPARE(resolved, isWorkingDirectory ? QDir(dir.path()).canonicalPath() : saveDirPath);
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
    QTest::newRow("unknown direction, wide batch") << ""
                                                   << "" << 7 << 1234 << "Stitched_Unknown_Batch1234";
    QTest::newRow("negative direction") << ""
                                        << "" << -1 << 1 << "Stitched_Unknown_Batch001";
    QTest::newRow("slash cannot make a folder") << "A/B C"
                                                << "x:y" << 0 << 1 << "Stitched_A_B C_x:y_Left_Batch001";
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
    QCOMPARE(batchSegmentFileName("B", "T", number, count, "png"), name);
}

void NamingTest::fileListAndSnapshotNamesCarryTheirTags()
{
    QCOMPARE(fileListStitchBaseName("CamA", "SN0042"), QStringLiteral("RotatedStitched_CamA_SN0042"));
    QCOMPARE(fileListStitchBaseName("CamA", ""), QStringLiteral("RotatedStitched"));
    QCOMPARE(fileListSegmentFileName("R", "T", 1, 3, "bmp"), QStringLiteral("R_T_part01.bmp"));
    QCOMPARE(fileListSegmentFileName("R", "T", 1, 1, "tif"), QStringLiteral("R_T.tif"));
    QCOMPARE(snapshotFileName("20240307_142501_042", "bmp"), QStringLiteral("Image_20240307_142501_042.bmp"));
}

QTEST_GUILESS_MAIN(NamingTest)
#include "tst_naming.moc"
