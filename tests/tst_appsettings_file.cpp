// setting.ini as it may be found on a machine: a link, a pipe, a folder, a
// file of garbage. The program starts on defaults, says so once, and never
// hangs on or destroys what it finds.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "appsettings.h"
#include "scratchdirectory.h"

namespace {

QStringList g_messages;

void recordMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg)
        g_messages << text;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QByteArray utf16Settings()
{
    const QString text = QStringLiteral("[UI]\nStitchDirection=3\n");
    return QByteArray("\xff\xfe") + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

} // namespace

class AppSettingsFileTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    QtMessageHandler m_previousHandler = nullptr;

private slots:
    void init()
    {
        m_scratch = std::make_unique<ScratchDirectory>();
        g_messages.clear();
        m_previousHandler = qInstallMessageHandler(recordMessage);
    }
    void cleanup()
    {
        qInstallMessageHandler(m_previousHandler);
        m_scratch.reset();
    }

    void somethingElseThanAFileIsNeitherReadNorWritten_data();
    void somethingElseThanAFileIsNeitherReadNorWritten();
    void linkIsFollowedToTheFileItNames_data();
    void linkIsFollowedToTheFileItNames();
    void settingsTextThatQSettingsWritesIsParsable();
    void unparsableFileIsKeptAsideBeforeDefaultsAreWritten_data();
    void unparsableFileIsKeptAsideBeforeDefaultsAreWritten();
};

void AppSettingsFileTest::somethingElseThanAFileIsNeitherReadNorWritten_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("logged");
    QTest::newRow("named pipe") << "pipe"
                                << "Settings: setting.ini is not a regular file (a pipe, socket or device); "
                                   "settings are neither read nor written, defaults apply";
    QTest::newRow("folder") << "folder"
                            << "Settings: setting.ini is a folder; settings are neither read nor written, "
                               "defaults apply";
    QTest::newRow("link to a named pipe")
        << "link to pipe"
        << "Settings: setting.ini leads to %1/target, which is not a regular "
           "file (a pipe, socket or device); settings are neither read nor "
           "written, defaults apply";
    QTest::newRow("link to a folder")
        << "link to folder"
        << "Settings: setting.ini leads to %1/target, which is a folder; settings "
           "are neither read nor written, defaults apply";
    QTest::newRow("loop of links")
        << "loop"
        << "Settings: setting.ini is a loop of symbolic links; settings are neither "
           "read nor written, defaults apply";
}

void AppSettingsFileTest::somethingElseThanAFileIsNeitherReadNorWritten()
{
    QFETCH(QString, what);
    QFETCH(QString, logged);
    const QString dir = QDir::currentPath();
    const QString made = what.startsWith(QLatin1String("link")) ? dir + QStringLiteral("/target")
                                                                : QStringLiteral("setting.ini");
    if (what.endsWith(QLatin1String("pipe")))
        QCOMPARE(mkfifo(qPrintable(made), 0644), 0);
    else if (what.endsWith(QLatin1String("folder")))
        QVERIFY(QDir().mkdir(made));
    if (what.startsWith(QLatin1String("link")))
        QVERIFY(QFile::link(made, QStringLiteral("setting.ini")));
    if (what == QLatin1String("loop")) {
        QCOMPARE(symlink("other.ini", "setting.ini"), 0);
        QCOMPARE(symlink("setting.ini", "other.ini"), 0);
    }

    // A pipe nobody writes to would block the first read for ever.
    QCOMPARE(AppSettings::intValue(AppSettings::kStitchDirection, 1), 1);
    QVERIFY(!AppSettings::contains(AppSettings::kStitchDirection));
    AppSettings::setValue(AppSettings::kStitchDirection, 3);
    AppSettings::setValues({{AppSettings::kFormat, QStringLiteral("PNG")}, {AppSettings::kJpgQuality, 80}});
    QCOMPARE(AppSettings::stringValue(AppSettings::kFormat, QStringLiteral("JPG")), QStringLiteral("JPG"));

    QCOMPARE(g_messages, QStringList{logged.contains(QLatin1String("%1")) ? logged.arg(dir) : logged});
    if (what != QLatin1String("loop")) {
        const QFileInfo left(made);
        QVERIFY(left.exists() && !left.isFile());
        QCOMPARE(left.isDir(), what.endsWith(QLatin1String("folder")));
    }
    // No file left beside it either: no lock, no half-written copy.
    QCOMPARE(QDir().entryList({QStringLiteral("setting.ini?*"), QStringLiteral("target?*")},
                              QDir::AllEntries | QDir::Hidden | QDir::System),
             QStringList());
}

void AppSettingsFileTest::linkIsFollowedToTheFileItNames_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("link to a settings file") << true;
    QTest::newRow("link to a file not yet there") << false;
}

void AppSettingsFileTest::linkIsFollowedToTheFileItNames()
{
    QFETCH(bool, targetExists);
    QVERIFY(QDir().mkdir(QStringLiteral("station")));
    const QString target = QDir::current().filePath(QStringLiteral("station/line3.ini"));
    if (targetExists)
        QVERIFY(writeFile(target, "[UI]\nStitchDirection=2\n"));
    QCOMPARE(symlink("station/line3.ini", "setting.ini"), 0);

    QCOMPARE(AppSettings::intValue(AppSettings::kStitchDirection, 1), targetExists ? 2 : 1);
    AppSettings::setValue(AppSettings::kMaxStitchCount, 12);

    QVERIFY(QFileInfo(QStringLiteral("setting.ini")).isSymLink());
    QCOMPARE(QFileInfo(QStringLiteral("setting.ini")).symLinkTarget(), target);
    QVERIFY(readFile(target).contains("MaxStitchCount=12"));
    QCOMPARE(AppSettings::intValue(AppSettings::kMaxStitchCount, 30), 12);
    QVERIFY(g_messages.isEmpty());
}

void AppSettingsFileTest::settingsTextThatQSettingsWritesIsParsable()
{
    AppSettings::setValues({{AppSettings::kSaveDir, QStringLiteral("/data/line 3;a=b#c\\")},
                            {AppSettings::kFormat, QStringLiteral("JPG")},
                            {AppSettings::kMaxStitchCount, 30},
                            {AppSettings::kShowLiveView, true}});
    const QByteArray written = readFile(QStringLiteral("setting.ini"));
    QVERIFY(!AppSettings::unparsableSettingsText(written));
    QVERIFY(!AppSettings::unparsableSettingsText("; comment\n# comment\n\n[a]\nb = c \\\n  continued\n"));
    QCOMPARE(AppSettings::stringValue(AppSettings::kSaveDir, QString()),
             QStringLiteral("/data/line 3;a=b#c\\"));
    QVERIFY(g_messages.isEmpty());
}

void AppSettingsFileTest::unparsableFileIsKeptAsideBeforeDefaultsAreWritten_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("garbage") << QByteArray("\x01\x02 binary\nno key here\n[unclosed\n") << false;
    QTest::newRow("UTF-16") << utf16Settings() << false;
    QTest::newRow("NUL bytes in a valid file") << QByteArray("[UI]\nStitchDirection=3\n\0\0", 25) << false;
    QTest::newRow("a line that is no key") << QByteArray("[UI]\nStitchDirection=3\nno key here\n") << false;
    QTest::newRow("unclosed section") << QByteArray("[UI\nStitchDirection=3\n") << false;
    QTest::newRow("garbage behind a link") << QByteArray("no key here\n") << true;
}

void AppSettingsFileTest::unparsableFileIsKeptAsideBeforeDefaultsAreWritten()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, throughLink);
    const QString file
        = throughLink ? QDir::current().filePath(QStringLiteral("real.ini")) : QStringLiteral("setting.ini");
    QVERIFY(writeFile(file, content));
    if (throughLink)
        QVERIFY(QFile::link(file, QStringLiteral("setting.ini")));

    QCOMPARE(AppSettings::intValue(AppSettings::kStitchDirection, 1), 1);
    AppSettings::setValue(AppSettings::kStitchDirection, 0);
    QCOMPARE(AppSettings::intValue(AppSettings::kStitchDirection, 1), 0);

    QCOMPARE(readFile(file + QStringLiteral(".bad")), content);
    QVERIFY(readFile(file).contains("StitchDirection=0"));
    QCOMPARE(QFileInfo(QStringLiteral("setting.ini")).isSymLink(), throughLink);
    QCOMPARE(
        g_messages,
        QStringList{
            QStringLiteral("Settings: %1 cannot be parsed; kept aside as %1.bad, defaults apply").arg(file)});
}

QTEST_MAIN(AppSettingsFileTest)
#include "tst_appsettings_file.moc"
