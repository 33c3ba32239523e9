// How the main window reads and writes "setting.ini".
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "scratchdirectory.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <memory>

class TestSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void firstStartUsesTheDefaults();
    void firstStartWritesNothingBeforeClose();
    void closingWritesExactlyTheSevenWindowKeys();
    void closingKeepsKeysTheWindowDoesNotOwn();
    void storedValuesAreReadIntoTheWindow();
    void frameCountBelowOneIsReadAsOne_data();
    void frameCountBelowOneIsReadAsOne();
    void fileWithoutFormatGivesJpg();
    void nonNumericValuesReadAsZero_data();
    void nonNumericValuesReadAsZero();
    void liveViewVisibilityIsAppliedAtStart_data();
    void liveViewVisibilityIsAppliedAtStart();
    void reportedFormatChangeIsWrittenAtOnce();
    void reportedDirectoryIsWrittenAtOnce();
    void emptyReportedDirectoryIsIgnored();
    void fileFollowsTheWorkingDirectory();
    void unwritableFileIsLoggedAndTheWindowCloses();
};

namespace {

void writeIni(const QMap<QString, QString> &values)
{
    QFile file(QStringLiteral("setting.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    // Written by hand so that the raw texts reach the file unconverted.
    QMap<QString, QMap<QString, QString>> groups;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char('/'));
        groups[parts.at(0)][parts.at(1)] = it.value();
    }
    QByteArray text;
    for (auto group = groups.cbegin(); group != groups.cend(); ++group) {
        text += "[" + group.key().toUtf8() + "]\n";
        for (auto it = group->cbegin(); it != group->cend(); ++it)
            text += it.key().toUtf8() + "=" + it.value().toUtf8() + "\n";
    }
    file.write(text);
}

QStringList storedKeys()
{
    QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
    QStringList keys = settings.allKeys();
    keys.sort();
    return keys;
}

QVariant stored(const char *key)
{
    QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
    return settings.value(QLatin1String(key));
}

void closeWindow(MainWindow &window)
{
    QVERIFY(window.close());
}

} // namespace

void TestSettings::firstStartUsesTheDefaults()
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
}

void TestSettings::firstStartWritesNothingBeforeClose()
{
    MainWindow window;
    QVERIFY(!QFile::exists(QStringLiteral("setting.ini")));
}

void TestSettings::closingWritesExactlyTheSevenWindowKeys()
{
    {
        MainWindow window;
        window.m_gvRotationAngle = 270;
        window.m_stitchDirection = 3;
        window.m_saveDir = QStringLiteral("/tmp/out");
        window.m_imageFormat = QStringLiteral("TIF");
        window.m_jpgQuality = 77;
        window.m_pngQuality = 3;
        window.m_maxStitchCount = 12;
        closeWindow(window);
        QVERIFY(QFile::exists(QStringLiteral("setting.ini")));
    }
    QCOMPARE(storedKeys(),
             (QStringList{"File/Format", "File/JpgQuality", "File/PngQuality", "File/SaveDir",
                          "Stitch/MaxStitchCount", "UI/GvRotationAngle", "UI/StitchDirection"}));
    QCOMPARE(stored("UI/GvRotationAngle").toInt(), 270);
    QCOMPARE(stored("UI/StitchDirection").toInt(), 3);
    QCOMPARE(stored("File/SaveDir").toString(), QStringLiteral("/tmp/out"));
    QCOMPARE(stored("File/Format").toString(), QStringLiteral("TIF"));
    QCOMPARE(stored("File/JpgQuality").toInt(), 77);
    QCOMPARE(stored("File/PngQuality").toInt(), 3);
    QCOMPARE(stored("Stitch/MaxStitchCount").toInt(), 12);
}

void TestSettings::closingKeepsKeysTheWindowDoesNotOwn()
{
    writeIni({{"File/PartialStitch", "false"}, {"Camera/LineRate", "4200"}, {"UI/ShowLiveView", "true"}});
    {
        MainWindow window;
        window.m_partialStitch = true;
        closeWindow(window);
    }
    QCOMPARE(stored("File/PartialStitch").toString(), QStringLiteral("false"));
    QCOMPARE(stored("Camera/LineRate").toInt(), 4200);
    QCOMPARE(stored("UI/ShowLiveView").toString(), QStringLiteral("true"));
    QCOMPARE(storedKeys().size(), 10);
}

void TestSettings::storedValuesAreReadIntoTheWindow()
{
    writeIni({{"UI/GvRotationAngle", "90"},
              {"UI/StitchDirection", "2"},
              {"File/SaveDir", "/data/lines"},
              {"File/Format", "PNG"},
              {"File/JpgQuality", "60"},
              {"File/PngQuality", "1"},
              {"File/PartialStitch", "false"},
              {"File/SaveStitchImage", "false"},
              {"Stitch/MaxStitchCount", "5"}});
    MainWindow window;
    QCOMPARE(window.m_gvRotationAngle, 90);
    QCOMPARE(window.m_stitchDirection, 2);
    QCOMPARE(window.m_saveDir, QStringLiteral("/data/lines"));
    QCOMPARE(window.m_imageFormat, QStringLiteral("PNG"));
    QCOMPARE(window.m_jpgQuality, 60);
    QCOMPARE(window.m_pngQuality, 1);
    QVERIFY(!window.m_partialStitch);
    QVERIFY(!window.m_saveStitchImage);
    QCOMPARE(window.m_maxStitchCount, 5);
}

void TestSettings::frameCountBelowOneIsReadAsOne_data()
{
    QTest::addColumn<QString>("storedText");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("negative") << "-4" << 1;
    QTest::newRow("not a number") << "many" << 1;
    QTest::newRow("one") << "1" << 1;
    QTest::newRow("large") << "5000" << 5000;
}

void TestSettings::frameCountBelowOneIsReadAsOne()
{
    QFETCH(QString, storedText);
    QFETCH(int, expected);
    writeIni({{"Stitch/MaxStitchCount", storedText}});
    MainWindow window;
    QCOMPARE(window.m_maxStitchCount, expected);
}

void TestSettings::fileWithoutFormatGivesJpg()
{
    writeIni({{"File/JpgQuality", "80"}, {"UI/StitchDirection", "0"}});
    MainWindow window;
    QCOMPARE(window.m_imageFormat, QStringLiteral("JPG"));
    QCOMPARE(window.m_jpgQuality, 80);
    QCOMPARE(window.m_stitchDirection, 0);
    // The dialog's own default for the same file differs on purpose.
    QVERIFY(!AppSettings::contains(AppSettings::kFormat));
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

void TestSettings::liveViewVisibilityIsAppliedAtStart_data()
{
    QTest::addColumn<QString>("storedText");
    QTest::addColumn<bool>("visible");
    QTest::newRow("shown") << "true" << true;
    QTest::newRow("hidden") << "false" << false;
}

void TestSettings::liveViewVisibilityIsAppliedAtStart()
{
    QFETCH(QString, storedText);
    QFETCH(bool, visible);
    writeIni({{"UI/ShowLiveView", storedText}});
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.ui->gv->isVisible(), visible);
    QVERIFY(window.ui->gvStitch->isVisible());
}

void TestSettings::reportedFormatChangeIsWrittenAtOnce()
{
    MainWindow window;
    QVERIFY(QMetaObject::invokeMethod(&window, "onImageFormatChanged", Q_ARG(QString, QStringLiteral("PNG")),
                                      Q_ARG(int, 70), Q_ARG(int, 4)));
    QCOMPARE(window.m_imageFormat, QStringLiteral("PNG"));
    QCOMPARE(window.m_jpgQuality, 70);
    QCOMPARE(window.m_pngQuality, 4);
    QCOMPARE(storedKeys(), (QStringList{"File/Format", "File/JpgQuality", "File/PngQuality"}));
    QCOMPARE(stored("File/Format").toString(), QStringLiteral("PNG"));
    QCOMPARE(stored("File/JpgQuality").toInt(), 70);
    QCOMPARE(stored("File/PngQuality").toInt(), 4);
}

void TestSettings::reportedDirectoryIsWrittenAtOnce()
{
    MainWindow window;
    QVERIFY(
        QMetaObject::invokeMethod(&window, "onSaveDirChanged", Q_ARG(QString, QStringLiteral("/srv/out"))));
    QCOMPARE(window.m_saveDir, QStringLiteral("/srv/out"));
    QCOMPARE(stored("File/SaveDir").toString(), QStringLiteral("/srv/out"));
}

void TestSettings::emptyReportedDirectoryIsIgnored()
{
    writeIni({{"File/SaveDir", "/srv/kept"}});
    MainWindow window;
    QVERIFY(QMetaObject::invokeMethod(&window, "onSaveDirChanged", Q_ARG(QString, QString())));
    QCOMPARE(window.m_saveDir, QStringLiteral("/srv/kept"));
    QCOMPARE(stored("File/SaveDir").toString(), QStringLiteral("/srv/kept"));
}

void TestSettings::fileFollowsTheWorkingDirectory()
{
    MainWindow window;
    ScratchDirectory elsewhere;
    closeWindow(window);
    QVERIFY(QFile::exists(elsewhere.filePath(QStringLiteral("setting.ini"))));
    QVERIFY(!QFile::exists(m_scratch->filePath(QStringLiteral("setting.ini"))));
}

void TestSettings::unwritableFileIsLoggedAndTheWindowCloses()
{
    // A directory in the file's place cannot be written, even by root.
    QVERIFY(QDir().mkdir(QStringLiteral("setting.ini")));
    MainWindow window;
    QCOMPARE(window.m_imageFormat, QStringLiteral("JPG"));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Settings: cannot write .*setting\\.ini")));
    QVERIFY(window.close());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
