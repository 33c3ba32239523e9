// The durable file under every save: whole or absent, never over another
// file, and the system's own reason when the disk refuses.
#include <QBuffer>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "descriptordevice.h"
#include "durablefile.h"
#include "patternframe.h"

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every entry, hidden partial files included.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class DurableFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fullDeviceIsReportedWithTheSystemsReason_data();
    void fullDeviceIsReportedWithTheSystemsReason();
    void numberGoesBeforeTheExtension_data();
    void numberGoesBeforeTheExtension();
    void takenNameIsNeverReplaced_data();
    void takenNameIsNeverReplaced();
    void replacingCommitTakesTheNameOrLeavesTheOldFile();
    void uncommittedFileLeavesNothing_data();
    void uncommittedFileLeavesNothing();
    void partialLeftByAKilledSaveDoesNotBlockTheName();
    void killedSaveLeavesNoFileUnderTheFinalName();
    void streamingWriterMaySeekBackToItsHeader();
    void folderThatCannotBeCreatedSaysWhy_data();
    void folderThatCannotBeCreatedSaysWhy();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
};

void DurableFileTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void DurableFileTest::fullDeviceIsReportedWithTheSystemsReason_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("side");
    // Small pictures stay in the device's buffer until the end, which is
    // where the encoders used to lose the error; large ones fail on the way.
    for (const char *format : {"bmp", "jpg", "png", "tif"}) {
        QTest::addRow("%s, failing at the final flush", format) << QByteArray(format) << 40;
        QTest::addRow("%s, failing while encoding", format) << QByteArray(format) << 1200;
    }
}

void DurableFileTest::fullDeviceIsReportedWithTheSystemsReason()
{
    QFETCH(QByteArray, format);
    QFETCH(int, side);
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        QSKIP("/dev/full is not available here");
    DescriptorDevice device;
    QVERIFY(device.openDescriptor(fd));
    QImageWriter writer(&device, format);
    writer.write(patternFrame(side, side, QImage::Format_RGB888, 3));
    QVERIFY(!device.finish(false));
    QCOMPARE(device.systemError(), ENOSPC);
    QCOMPARE(device.errorString(), QStringLiteral("No space left on device"));
}

void DurableFileTest::numberGoesBeforeTheExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("numbered");
    QTest::newRow("first keeps the name")
        << "Image_20240307_142501_042.bmp" << 1 << "Image_20240307_142501_042.bmp";
    QTest::newRow("second") << "Image_20240307_142501_042.bmp" << 2 << "Image_20240307_142501_042_2.bmp";
    QTest::newRow("segment name") << "Stitched_Left_20240307_142501_042_Seg02.png" << 13
                                  << "Stitched_Left_20240307_142501_042_Seg02_13.png";
    QTest::newRow("last dot only") << "a.b.tif" << 3 << "a.b_3.tif";
    QTest::newRow("no extension") << "plain" << 2 << "plain_2";
    QTest::newRow("leading dot is no extension") << ".hidden" << 2 << ".hidden_2";
}

void DurableFileTest::numberGoesBeforeTheExtension()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    QFETCH(QString, numbered);
    QCOMPARE(numberedFileName(name, number), numbered);
}

void DurableFileTest::takenNameIsNeverReplaced_data()
{
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<bool>("symlinkToFull");
    QTest::addColumn<QString>("written");
    QTest::newRow("free name") << QStringList{} << false << "a.png";
    QTest::newRow("taken by a file") << QStringList{"a.png"} << false << "a_2.png";
    QTest::newRow("taken twice") << QStringList{"a.png", "a_2.png"} << false << "a_3.png";
    QTest::newRow("gap is used") << QStringList{"a.png", "a_3.png"} << false << "a_2.png";
    QTest::newRow("taken by a link to /dev/full") << QStringList{"a.png"} << true << "a_2.png";
}

void DurableFileTest::takenNameIsNeverReplaced()
{
    QFETCH(QStringList, taken);
    QFETCH(bool, symlinkToFull);
    QFETCH(QString, written);
    for (const QString &name : taken) {
        if (symlinkToFull) {
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), path(name)));
        } else {
            QFile file(path(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(name.toUtf8());
        }
    }
    DurableFile file(path("a.png"));
    QVERIFY(file.open());
    QCOMPARE(file.write("picture"), qint64(7));
    QVERIFY2(file.commit(), qPrintable(file.errorString()));
    QCOMPARE(file.committedPath(), path(written));
    QCOMPARE(contentOf(path(written)), QByteArray("picture"));
    for (const QString &name : taken) {
        if (!symlinkToFull)
            QCOMPARE(contentOf(path(name)), name.toUtf8());
    }
    QCOMPARE(entriesOf(m_dir->path()).size(), taken.size() + 1);
}

// A file kept up to date (a camera's calibration): the new bytes take the
// name itself; when they cannot be written, the old file stays as it was.
void DurableFileTest::replacingCommitTakesTheNameOrLeavesTheOldFile()
{
    QFile old(path("camera.ffc"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old references") > 0);
    old.close();
    DurableFile file(path("camera.ffc"));
    QVERIFY(file.open());
    QCOMPARE(file.write("new"), qint64(3));
    QVERIFY2(file.commitReplacing(), qPrintable(file.errorString()));
    QCOMPARE(file.committedPath(), path("camera.ffc"));
    QCOMPARE(contentOf(path("camera.ffc")), QByteArray("new"));
    QCOMPARE(entriesOf(m_dir->path()), QStringList{QStringLiteral("camera.ffc")});

    // A folder in the way of the name: the rename fails and nothing is lost.
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("taken.ffc")));
    QVERIFY(QFile::copy(path("camera.ffc"), path("taken.ffc/inside")));
    DurableFile refused(path("taken.ffc"));
    QVERIFY(refused.open());
    refused.write("more");
    QVERIFY(!refused.commitReplacing());
    QCOMPARE(refused.systemError(), EISDIR);
    QCOMPARE(contentOf(path("taken.ffc/inside")), QByteArray("new"));
    QCOMPARE(entriesOf(m_dir->path()),
             (QStringList{QStringLiteral("camera.ffc"), QStringLiteral("taken.ffc")}));
}

void DurableFileTest::uncommittedFileLeavesNothing_data()
{
    QTest::addColumn<bool>("abandon");
    QTest::addColumn<int>("bytes");
    QTest::newRow("abandoned, still buffered") << true << 100;
    QTest::newRow("abandoned, partly on disk") << true << (3 << 20);
    QTest::newRow("destroyed without commit") << false << (3 << 20);
}

void DurableFileTest::uncommittedFileLeavesNothing()
{
    QFETCH(bool, abandon);
    QFETCH(int, bytes);
    {
        DurableFile file(path("a.tif"));
        QVERIFY(file.open());
        QCOMPARE(file.write(QByteArray(bytes, 'x')), qint64(bytes));
        QCOMPARE(entriesOf(m_dir->path()), QStringList{".a.tif.partial"});
        if (abandon) {
            file.abandon();
            QVERIFY(!file.commit());
            QVERIFY(file.committedPath().isEmpty());
        }
    }
    QCOMPARE(entriesOf(m_dir->path()), QStringList{});
}

void DurableFileTest::partialLeftByAKilledSaveDoesNotBlockTheName()
{
    QFile leftover(path(".a.jpg.partial"));
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    leftover.write("cut");
    leftover.close();
    DurableFile file(path("a.jpg"));
    QVERIFY(file.open());
    QCOMPARE(file.partialPath(), path(".a.jpg.2.partial"));
    file.write("whole");
    QVERIFY(file.commit());
    QCOMPARE(contentOf(path("a.jpg")), QByteArray("whole"));
    QCOMPARE(contentOf(path(".a.jpg.partial")), QByteArray("cut"));
}

void DurableFileTest::killedSaveLeavesNoFileUnderTheFinalName()
{
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        DurableFile file(path("a.png"));
        if (file.open()) {
            // More than the buffer holds, so bytes are on disk when it dies.
            file.write(QByteArray(3 << 20, 'x'));
        }
        ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{".a.png.partial"});
}

void DurableFileTest::streamingWriterMaySeekBackToItsHeader()
{
    DurableFile file(path("s.tif"));
    QVERIFY(file.open());
    const QByteArray body(3 << 20, 'b'); // larger than the buffer: part goes straight to disk
    QCOMPARE(file.write("hhhh"), qint64(4));
    QCOMPARE(file.write(body), qint64(body.size()));
    QCOMPARE(file.write("tail"), qint64(4));
    QCOMPARE(file.size(), qint64(body.size() + 8));
    QVERIFY(file.seek(0));
    QCOMPARE(file.write("HH"), qint64(2));
    QVERIFY(file.seek(file.size()));
    QCOMPARE(file.write("!"), qint64(1));
    QVERIFY(file.commit());
    QCOMPARE(contentOf(path("s.tif")), QByteArray("HHhh") + body + QByteArray("tail!"));
}

void DurableFileTest::folderThatCannotBeCreatedSaysWhy_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("error");
    QTest::newRow("missing parents are made") << "x/y/z" << 0;
    QTest::newRow("existing folder") << "." << 0;
    QTest::newRow("trailing slash") << "x/y/" << 0;
    QTest::newRow("file in the way") << "blocker/y" << int(ENOTDIR);
    QTest::newRow("file as the folder") << "blocker" << int(ENOTDIR);
}

void DurableFileTest::folderThatCannotBeCreatedSaysWhy()
{
    QFETCH(QString, folder);
    QFETCH(int, error);
    QFile blocker(path("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QCOMPARE(makeFolderPath(path(folder)), error);
    QCOMPARE(QFileInfo(path(folder)).isDir(), error == 0);
}

QTEST_GUILESS_MAIN(DurableFileTest)
#include "tst_durablefile.moc"
