// How the main window reads and writes "setting.ini".
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "scratchdirectory.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

#include <memory>

namespace {

// Written by hand so that the raw texts reach the file unconverted; keys are "Group/Key".
void writeIni(const QMap<QString, QString> &values)
{
    QByteArray text;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char('/'));
        text += "[" + parts.at(0).toUtf8() + "]\n" + parts.at(1).toUtf8() + "=" + it.value().toUtf8() + "\n";
    }
    QFile file(QStringLiteral("setting.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void firstStartUsesTheDefaultsAndWritesNothing();
    void closingWritesTheSevenWindowKeysWhichTheNextStartReads();
    void frameCountOfZeroOrBelowIsReadAsOne_data();
    void frameCountOfZeroOrBelowIsReadAsOne();
    void fileWithoutFormatGivesJpg();
    void nonNumericValuesReadAsZero_data();
    void nonNumericValuesReadAsZero();
};

void TestSettings::firstStartUsesTheDefaultsAndWritesNothing()
{
    MainWindow window;
    QCOMPARE(window.m_imageFormat, QStringLiteral("JPG"));
    QCOMPARE(window.m_jpgQuality, 95);
    QCOMPARE(window.m_pngQuality, 8);
    QCOMPARE(window.m_maxStitchCount, 30);
    QCOMPARE(window.m_stitchDirection, 1);
    QCOMPARE(window.m_gvRotationAngle, 0);
    QCOMPARE(QDir(window.m_saveDir).canonicalPath(), QDir::current().canonicalPath());
    QVERIFY(window.m_partialStitch);
    QVERIFY(window.m_saveStitchImage);
    QVERIFY(window.ui->gv->isHidden());
    QVERIFY(!QFile::exists(QStringLiteral("setting.ini")));
}

void TestSettings::closingWritesTheSevenWindowKeysWhichTheNextStartReads()
{
    writeIni({{"File/PartialStitch", "false"}, {"Camera/LineRate", "4200"}});
    {
        MainWindow window;
        window.m_gvRotationAngle = 270;
        window.m_stitchDirection = 3;
        window.m_saveDir = QStringLiteral("/tmp/out");
        window.m_imageFormat = QStringLiteral("TIF");
        window.m_jpgQuality = 77;
        window.m_pngQuality = 3;
        window.m_maxStitchCount = 12;
        window.m_partialStitch = true;
        QVERIFY(window.close());
    }
    QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
    QStringList written;
    for (const QString &key : settings.allKeys())
        written << key + "=" + settings.value(key).toString();
    written.sort();
    QCOMPARE(written,
             (QStringList{"Camera/LineRate=4200", "File/Format=TIF", "File/JpgQuality=77",
                          "File/PartialStitch=false", "File/PngQuality=3", "File/SaveDir=/tmp/out",
                          "Stitch/MaxStitchCount=12", "UI/GvRotationAngle=270", "UI/StitchDirection=3"}));
    MainWindow next;
    QCOMPARE(QStringList({next.m_imageFormat, next.m_saveDir}), QStringList({"TIF", "/tmp/out"}));
    QCOMPARE(QList<int>({next.m_gvRotationAngle, next.m_stitchDirection, next.m_jpgQuality, next.m_pngQuality,
                         next.m_maxStitchCount}),
             QList<int>({270, 3, 77, 3, 12}));
    QVERIFY(!next.m_partialStitch);
}

void TestSettings::frameCountOfZeroOrBelowIsReadAsOne_data()
{
    QTest::addColumn<QString>("storedText");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("negative") << "-4" << 1;
    QTest::newRow("not a number") << "many" << 1;
    QTest::newRow("large") << "5000" << 5000;
}

void TestSettings::frameCountOfZeroOrBelowIsReadAsOne()
{
    QFETCH(QString, storedText);
    QFETCH(int, expected);
    writeIni({{"Stitch/MaxStitchCount", storedText}});
    MainWindow window;
    QCOMPARE(window.m_maxStitchCount, expected);
}

void TestSettings::fileWithoutFormatGivesJpg()
{
    writeIni({{"File/JpgQuality", "80"}});
    MainWindow window;
    QCOMPARE(window.m_imageFormat, QStringLiteral("JPG"));
    QCOMPARE(window.m_jpgQuality, 80);
    // The dialog's own default for the same file differs on purpose.
    QCOMPARE(AppSettings::stringValue(AppSettings::kFormat, AppSettings::kDefaultFormatDialog),
             QStringLiteral("BMP"));
}

void TestSettings::nonNumericValuesReadAsZero_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("storedText");
    QTest::newRow("rotation") << "UI/GvRotationAngle"
                              << "upright";
    QTest::newRow("direction") << "UI/StitchDirection"
                               << "right";
    QTest::newRow("jpeg quality") << "File/JpgQuality"
                                  << "high";
    QTest::newRow("png level") << "File/PngQuality"
                               << "9x";
}

void TestSettings::nonNumericValuesReadAsZero()
{
    QFETCH(QString, key);
    QFETCH(QString, storedText);
    writeIni({{key, storedText}});
    MainWindow window;
    const QMap<QString, int> read{{"UI/GvRotationAngle", window.m_gvRotationAngle},
                                  {"UI/StitchDirection", window.m_stitchDirection},
                                  {"File/JpgQuality", window.m_jpgQuality},
                                  {"File/PngQuality", window.m_pngQuality}};
    QCOMPARE(read.value(key, -1), 0);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
