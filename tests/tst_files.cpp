// Saving and files on disk: a file under a final name is whole and never over
// another file; a refused save leaves nothing behind, says why in the
// system's words, and the next save works.
#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QtTest>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "appsettings.h"
#include "descriptordevice.h"
#include "dialogcamera.h"
#include "durablefile.h"
#include "filesizelimit.h"
#include "frameturn.h"
#include "imagewriter.h"
#include "mainwindow.h"
#include "naming.h"
#include "patternframe.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "stitchrecorder.h"

namespace {

enum SaveKind { Writer, Batch, Grabbed, FileList, Snapshot };
const char *const kKindNames[] = {"writer", "batch", "grabbed batch", "file list", "snapshot"};

// What every kind of save is given, each more than the file buffer holds
// as BMP or TIFF: a 1500 x 400 picture, and as three frames of one segment
// of that size, the frames as the camera delivered them (turned a quarter)
// and as files; for the snapshot a 1600 x 800 Mono8 frame.
struct SaveInputs {
    QImage picture;
    QList<QImage> frames;
    QList<QImage> unturned;
    QStringList files;
    std::vector<unsigned char> mono = std::vector<unsigned char>(1600 * 800);
};

MV_SAVE_IMG_TO_FILE_PARAM snapshotRequest(const std::vector<unsigned char> &mono, unsigned height,
                                          const QString &format, const QString &path)
{
    const unsigned type = format == QLatin1String("JPG") ? MV_Image_Jpeg
        : format == QLatin1String("PNG")                 ? MV_Image_Png
        : format == QLatin1String("TIFF")                ? MV_Image_Tif
                                                         : MV_Image_Bmp;
    return saveRequest(const_cast<unsigned char *>(mono.data()), unsigned(mono.size()), PixelType_Gvsp_Mono8,
                       1600, height, type, QFile::encodeName(path));
}

// One save of `kind` into folder, reported as the stitch worker reports.
QStringList save(SaveKind kind, const SaveInputs &in, const QString &folder, const QString &format)
{
    if (kind == Writer) {
        QString reason;
        QString written;
        const bool ok = writeImageFile(QDir(folder).filePath(QStringLiteral("picture")), in.picture,
                                       imageFormatFromSetting(format), 90, 6, &reason, &written);
        return {ok ? QStringLiteral("finished ") + written : QStringLiteral("failed ") + reason};
    }
    if (kind == Snapshot) {
        MV_SAVE_IMG_TO_FILE_PARAM param = snapshotRequest(in.mono, 800, format, folder + "/Image_1.snap");
        errno = 0;
        const int status = MV_CC_SaveImageToFile(nullptr, &param);
        if (status == MV_OK)
            return {QStringLiteral("finished ") + QFile::decodeName(param.pImagePath)};
        return {QStringLiteral("failed %1 %2").arg(status).arg(QString::fromLocal8Bit(std::strerror(errno)))};
    }
    StitchWorker worker;
    StitchRecorder recorder(worker);
    if (kind == FileList)
        worker.saveStitch(in.files, 0, folder, QStringLiteral("CamA"), QStringLiteral("SN0042"), format, 90,
                          6);
    else if (kind == Grabbed)
        worker.saveGrabbedImages({in.unturned, 90, 0, folder, QString(), QString(), 3,
                                  imageFormatFromSetting(format), 90, 6, format});
    else
        worker.saveStitchImages(in.frames, 0, folder, QString(), QString(), 3, format, 90, 6);
    return recorder.events;
}

constexpr unsigned int kWidth = 64;
constexpr unsigned int kHeight = 16;

unsigned char grayAt(unsigned int x, unsigned int y)
{
    return static_cast<unsigned char>((x * 4 + y * 13) & 0xFF);
}

// Leaves a frame as the grab thread would: buffer, size and record.
void giveLatestFrame(MainWindow &window)
{
    const unsigned int bufferBytes = kWidth * kHeight;
    QMutexLocker lock(&window.m_frameMutex);
    window.m_lastFrameBuffer = std::make_unique<unsigned char[]>(bufferBytes);
    for (unsigned int i = 0; i < bufferBytes; ++i)
        window.m_lastFrameBuffer[i] = grayAt(i % kWidth, i / kWidth);
    window.m_lastFrameBufferSize = bufferBytes;
    window.m_lastFrameInfo = MV_FRAME_OUT_INFO_EX{};
    window.m_lastFrameInfo.nWidth = kWidth;
    window.m_lastFrameInfo.nHeight = kHeight;
    window.m_lastFrameInfo.enPixelType = PixelType_Gvsp_Mono8;
    window.m_lastFrameInfo.nFrameLen = kWidth * kHeight;
}

struct SnapshotCase {
    bool hasWindow, cameraOpen, hasFrame;
    const char *saveDir, *button; // button: the format chosen first, for a snapshot that is written
    QString title, text;
};

QStringList snapshotsIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("Image_*")}, QDir::Files);
}

} // namespace

Q_DECLARE_METATYPE(SnapshotCase)

class FilesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    QTemporaryDir m_inputFolder;
    SaveInputs m_in;
    QString path(const QString &name) const { return m_scratch->filePath(name); }

private slots:
    void initTestCase()
    {
        // Every encoder is loaded before the first fork.
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        for (const char *format : {"bmp", "jpg", "png", "tif", "ppm"})
            QVERIFY(QImageWriter(&buffer, format).write(patternFrame(4, 4, QImage::Format_RGB888, 1)));
        for (int seed = 1; seed <= 3; ++seed) {
            m_in.frames << patternFrame(500, 400, QImage::Format_RGB888, seed);
            m_in.unturned << m_in.frames.last().transformed(QTransform().rotate(-90));
            m_in.files << m_inputFolder.filePath(QStringLiteral("frame%1.png").arg(seed));
            QVERIFY(m_in.frames.last().save(m_in.files.last(), "PNG"));
        }
        m_in.picture = patternFrame(1500, 400, QImage::Format_RGB888, 4);
        for (std::size_t i = 0; i < m_in.mono.size(); ++i)
            m_in.mono[i] = static_cast<unsigned char>((i % 1600) * 3 + (i / 1600) * 7 + (i * 13) % 17);
    }
    void init()
    {
        m_scratch = std::make_unique<ScratchDirectory>();
        QVERIFY(m_scratch->isValid());
    }
    void cleanup() { m_scratch.reset(); }

    void refusedSaveLeavesNothingAndTheNextIsWhole_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("refusal");
        // Each encoder once: Qt's for the writer, the library's for the
        // snapshot, the streamed ones for a batch. A JPEG batch is composed
        // whole and goes through the writer; all kinds of batch share the rest.
        const QStringList all{"BMP", "JPG", "PNG", "TIFF"};
        const QStringList formats[] = {all, {"BMP", "PNG", "TIFF"}, {"JPG"}, {"PNG"}, all};
        for (int kind = Writer; kind <= Snapshot; ++kind) {
            for (const QString &format : formats[kind]) {
                for (const char *refusal : {"first byte", "middle", "last byte", "blocked folder"})
                    QTest::addRow("%s, %s, %s", kKindNames[kind], qPrintable(format), refusal)
                        << kind << format << refusal;
            }
        }
    }
    void refusedSaveLeavesNothingAndTheNextIsWhole()
    {
        QFETCH(int, kind);
        QFETCH(QString, format);
        QFETCH(QString, refusal);
        const SaveKind saveKind = SaveKind(kind);
        QVERIFY(QDir().mkpath(path("probe")) && QDir().mkpath(path("out")));
        const QString out = path("out");
        // Where the disk fills is measured on a save with room.
        const QStringList probe = save(saveKind, m_in, path("probe"), format);
        QVERIFY2(probe.last().startsWith(QLatin1String("finished ")), qPrintable(probe.join('\n')));
        const QString probeFile = probe.last().mid(9);
        const qint64 bytes = QFileInfo(probeFile).size();
        QStringList refused;
        QString reason = QStringLiteral("File too large");
        QString folder = out;
        if (refusal == QLatin1String("blocked folder")) {
            folder = blockedFolderIn(out);
            reason = QStringLiteral("Not a directory");
            refused = save(saveKind, m_in, folder, format);
            QVERIFY(QFile::remove(path("out/blocker")));
        } else {
            const long long limit = refusal == QLatin1String("first byte") ? 0
                : refusal == QLatin1String("middle")                       ? bytes / 2
                                                                           : bytes - 1;
            const auto clear = [&] {
                for (const QString &entry : entriesOf(out))
                    QFile::remove(QDir(out).filePath(entry));
            };
            refused = StitchRecorder::parse(runWithFileSizeLimit(
                limit, [&] { return save(saveKind, m_in, out, format).join(QLatin1Char('\x1e')).toUtf8(); },
                clear));
        }
        // The reason in the system's words; the snapshot gives its status, a
        // batch the file it failed on.
        const QString failed
            = kind == Snapshot ? QStringLiteral("failed %1 ").arg(int(MV_E_WRITEFILE)) : "failed ";
        QCOMPARE(refused.size(), 1);
        QVERIFY2(refused[0].startsWith(failed) && refused[0].endsWith(reason)
                     && (kind == Writer || kind == Snapshot
                         || refused[0].contains(folder + '/' + QFileInfo(probeFile).fileName().left(20))),
                 qPrintable(refused.first()));
        QCOMPARE(entriesOf(out), QStringList{});
        const QStringList again = save(saveKind, m_in, out, format);
        QVERIFY2(again.last().startsWith(QLatin1String("finished ")), qPrintable(again.join('\n')));
        const QString saved = again.last().mid(9);
        QCOMPARE(entriesOf(out), QStringList{QFileInfo(saved).fileName()});
        QCOMPARE(QFileInfo(saved).size(), bytes);
        QImageReader reader(saved);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.read().size(), saveKind == Snapshot ? QSize(1600, 800) : QSize(1500, 400));
    }

    // A partial file of another save, even one killed, blocks no name.
    void takenNameIsNeverReplaced_data()
    {
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<bool>("symlinkToFull");
        QTest::addColumn<QString>("written");
        QTest::newRow("free name") << QStringList{} << false << "a.png";
        QTest::newRow("taken by a file") << QStringList{"a.png"} << false << "a_2.png";
        QTest::newRow("taken twice") << QStringList{"a.png", "a_2.png"} << false << "a_3.png";
        QTest::newRow("gap is used") << QStringList{"a.png", "a_3.png"} << false << "a_2.png";
        QTest::newRow("taken by a link to /dev/full") << QStringList{"a.png"} << true << "a_2.png";
        QTest::newRow("partial left by a killed save") << QStringList{".a.png.partial"} << false << "a.png";
    }
    void takenNameIsNeverReplaced()
    {
        QFETCH(QStringList, taken);
        QFETCH(bool, symlinkToFull);
        QFETCH(QString, written);
        for (const QString &name : taken) {
            QFile file(path(name));
            QVERIFY(symlinkToFull ? QFile::link(QStringLiteral("/dev/full"), path(name))
                                  : file.open(QIODevice::WriteOnly) && file.write(name.toUtf8()) > 0);
        }
        DurableFile file(path("a.png"));
        QVERIFY(file.open());
        QCOMPARE(file.write("picture"), qint64(7));
        QVERIFY2(file.commit(), qPrintable(file.errorString()));
        QCOMPARE(file.committedPath(), path(written));
        QCOMPARE(readFile(path(written)), QByteArray("picture"));
        for (const QString &name : taken) {
            if (!symlinkToFull)
                QCOMPARE(readFile(path(name)), name.toUtf8());
        }
        QCOMPARE(entriesOf(m_scratch->path()).size(), taken.size() + 1);
    }

    // A file kept up to date (a camera's calibration) takes its name itself;
    // when the new bytes cannot be placed, the old file stays as it was.
    void replacingCommitTakesTheNameOrLeavesTheOldFile()
    {
        for (const char *name : {"camera.ffc", "taken.ffc/inside"}) {
            QVERIFY(QDir().mkpath(QFileInfo(path(name)).path()));
            QFile old(path(name));
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        }
        DurableFile file(path("camera.ffc"));
        QVERIFY(file.open() && file.write("new") == 3);
        QVERIFY2(file.commitReplacing(), qPrintable(file.errorString()));
        QCOMPARE(readFile(path("camera.ffc")), QByteArray("new"));
        DurableFile refused(path("taken.ffc")); // a folder is in the way of the name
        QVERIFY(refused.open() && refused.write("more") == 4);
        QVERIFY(!refused.commitReplacing());
        QCOMPARE(refused.systemError(), EISDIR);
        QCOMPARE(readFile(path("taken.ffc/inside")), QByteArray("old"));
        QCOMPARE(entriesOf(m_scratch->path()), (QStringList{"camera.ffc", "taken.ffc"}));
    }

    // The snapshot given one path again and again says where each went.
    void savesOfOneNameGiveOneFileEach()
    {
        const std::vector<unsigned char> frame(1600 * 2, 77);
        for (const char *expected : {"Image_1.bmp", "Image_1_2.bmp", "Image_1_3.bmp"}) {
            MV_SAVE_IMG_TO_FILE_PARAM request = snapshotRequest(frame, 2, "BMP", path("Image_1.bmp"));
            QCOMPARE(MV_CC_SaveImageToFile(nullptr, &request), int(MV_OK));
            QCOMPARE(QFile::decodeName(request.pImagePath), path(expected));
            QCOMPARE(QImage(path(expected)).size(), QSize(1600, 2));
        }
    }

    void withoutMemoryAFrameOrBatchFailsCleanly_data()
    {
        // A turn of 96 MiB needs more than the heap may hold free already; so
        // does a strip of 16 rows each 5 MiB long (the frames laid side by side
        // turned); unturned, the rows are short and strips of them fit.
        QTest::addColumn<int>("turn");  // the direction of a turned frame, the angle of a batch
        QTest::addColumn<int>("batch"); // -1: a frame turned on its own
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, int turn, int batch, const char *format, const char *text) {
            QTest::newRow(name) << turn << batch << QString(format) << QString(text);
        };
        row("turning a frame for Left", 0, -1, "", "null");
        row("turning a frame for Right", 1, -1, "", "null");
        row("turning a frame for Top", 3, -1, "", "null");
        row("numbered batch", 90, 7, "BMP", "Not enough memory to stitch batch 7");
        row("Save Image", 270, 0, "BMP", "Not enough memory to stitch the image");
        row("streamed, short rows", 0, 7, "BMP", "saved");
    }
    void withoutMemoryAFrameOrBatchFailsCleanly()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address-space cap needs the plain allocator");
#endif
        QFETCH(int, turn);
        QFETCH(int, batch);
        QFETCH(QString, format);
        QFETCH(QString, text);
        if (batch < 0) {
            QImage frame(8192, 4096, QImage::Format_RGB888);
            frame.fill(Qt::gray);
            const QByteArray answer = runWithMemoryHeadroom(
                4 << 20, [&] { return turnFrameForDirection(frame, turn).isNull() ? "null" : "turned"; });
            QCOMPARE(QString::fromUtf8(answer), text);
            QVERIFY(!turnFrameForDirection(frame, turn).isNull());
            return;
        }
        QList<QImage> frames;
        for (int i = 0; i < 30; ++i) {
            frames << QImage(16, 60000, QImage::Format_RGB888);
            frames.last().fill(Qt::darkGray);
        }
        StitchWorker worker;
        worker.maxDimension = 1 << 21;
        const QByteArray answer = runWithMemoryHeadroom(16 << 20, [&] {
            QByteArray result = "no result";
            QObject::connect(&worker, &StitchWorker::failed, [&](const QString &e) { result = e.toUtf8(); });
            QObject::connect(&worker, &StitchWorker::finished,
                             [&](const QStringList &) { result = "saved"; });
            worker.saveGrabbedImages({frames, turn, 0, path("out"), "M", "S", batch,
                                      imageFormatFromSetting(format), 95, 8, format});
            return result;
        });
        QCOMPARE(QString::fromUtf8(answer), text);
        QCOMPARE(entriesOf(path("out")).size(), text == QLatin1String("saved") ? 1 : 0);
    }

    // Only a committed file gets its name (one given up leaves nothing: see
    // the refused saves). Written past its buffer, a file may still seek back
    // to patch its header.
    void onlyACommittedFileIsNamed()
    {
        const QByteArray body(3 << 20, 'b'); // larger than the buffer: part goes straight to disk
        {
            DurableFile destroyed(path("gone.tif"));
            QVERIFY(destroyed.open());
            QCOMPARE(destroyed.write(body), qint64(body.size()));
        }
        DurableFile file(path("s.tif"));
        QVERIFY(file.open());
        QCOMPARE(file.write("hhhh"), qint64(4));
        QCOMPARE(file.write(body), qint64(body.size()));
        QCOMPARE(file.write("tail"), qint64(4));
        QCOMPARE(file.size(), qint64(body.size() + 8));
        QVERIFY(file.seek(0));
        QCOMPARE(file.write("HH"), qint64(2));
        QVERIFY(file.seek(file.size()));
        QCOMPARE(file.write("!"), qint64(1));
        QCOMPARE(entriesOf(m_scratch->path()), QStringList{".s.tif.partial"});
        QVERIFY(file.commit());
        QCOMPARE(entriesOf(m_scratch->path()), QStringList{"s.tif"});
        QCOMPARE(readFile(path("s.tif")), QByteArray("HHhh") + body + QByteArray("tail!"));
    }

    // The device under every file keeps the first failure: once a write was
    // refused no later write seems to work, and a refused sync is no success.
    void theFirstFailureSticks()
    {
        DescriptorDevice full;
        QVERIFY(full.openDescriptor(::open("/dev/full", O_WRONLY | O_CLOEXEC)));
        QCOMPARE(full.write(QByteArray(int(descriptorBufferBytes()) + 1, 'f')), qint64(-1));
        QCOMPARE(full.write("more", 4), qint64(-1));
        QVERIFY(!full.finish(false));
        QCOMPARE(full.systemError(), ENOSPC);
        int ends[2];
        QCOMPARE(::pipe(ends), 0); // a pipe takes bytes but cannot be synced
        DescriptorDevice piped;
        QVERIFY(piped.openDescriptor(ends[1]));
        QCOMPARE(piped.write("abc", 3), qint64(3));
        QVERIFY(!piped.finish(true));
        QCOMPARE(piped.systemError(), EINVAL);
        ::close(ends[0]);
    }

    void foldersAreMadeOrTheReasonGiven()
    {
        blockedFolderIn(m_scratch->path());
        const std::pair<const char *, int> cases[]
            = {{"x/y/z", 0}, {".", 0}, {"x/y/", 0}, {"blocker/y", ENOTDIR}, {"blocker", ENOTDIR}};
        for (const auto &[folder, error] : cases) {
            QCOMPARE(makeFolderPath(path(folder)), error);
            QVERIFY2(QFileInfo(path(folder)).isDir() == (error == 0), folder);
        }
    }

    // No written name means the write is refused: an empty image, with the
    // reason and without a file.
    void writerChoosesEncoderAndExtension_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("content"); // the file's format, or the reason for a refusal
        const auto row = [](const char *name, const char *requested, const char *format, const char *written,
                            const char *content, bool empty = false) {
            QTest::newRow(name) << QString(requested) << QString(format) << empty << QString(written)
                                << QString(content);
        };
        row("no extension", "out", "jpeg", "out.jpg", "jpeg");
        row("other extension", "a.png", "JPG", "a.jpg", "jpeg");
        row("last dot only", "a.b.c", "bmp", "a.b.bmp", "bmp");
        row("case differs", "A.JPG", "jpg", "A.JPG", "jpeg");
        row("tiff long name", "scan.tiff", "Tiff", "scan.tif", "tiff");
        row("empty is bmp", "out", "", "out.bmp", "bmp");
        row("empty image", "null.png", "PNG", "", "Empty image.", true);
    }
    void writerChoosesEncoderAndExtension()
    {
        QFETCH(QString, requested);
        QFETCH(QString, format);
        QFETCH(bool, empty);
        QFETCH(QString, written);
        QFETCH(QString, content);
        const QImage image = empty ? QImage() : patternFrame(67, 23, QImage::Format_RGB888, 1);
        QString reason;
        const bool ok
            = writeImageFile(path(requested), image, imageFormatFromSetting(format), 95, 8, &reason);
        QCOMPARE(entriesOf(m_scratch->path()), written.isEmpty() ? QStringList() : QStringList{written});
        if (written.isEmpty()) {
            QVERIFY(!ok && !writeImageFile(path(requested), image, imageFormatFromSetting(format), 95, 8));
            QCOMPARE(reason, content);
            return;
        }
        QVERIFY2(ok, qPrintable(reason));
        QImageReader reader(path(written));
        reader.setDecideFormatFromContent(true);
        QCOMPARE(QString(reader.format()), content);
        const QImage read = reader.read().convertToFormat(image.format());
        if (content == "jpeg")
            QCOMPARE(read.size(), image.size());
        else
            QCOMPARE(read, image);
    }

    // Numbers in names: padded so that files sort, omitted where there are
    // none, and a taken name numbered before its extension.
    void namesCarryTheirNumbers()
    {
        const QString here = QDir::current().canonicalPath();
        const std::pair<QString, QString> names[] = {
            {batchStitchBaseName("CamA", "SN0042", 0, 7), "Stitched_CamA_SN0042_Left_Batch007"},
            {batchStitchBaseName("CamA", "", 2, 0), "Stitched_Bottom"},
            {batchStitchBaseName("", "SN0042", 1, 12), "Stitched_Right_Batch012"},
            {batchStitchBaseName("", "", 3, -5), "Stitched_Top"},
            {batchStitchBaseName("", "", 7, 1234), "Stitched_Unknown_Batch1234"},
            {batchStitchBaseName("", "", -1, 1), "Stitched_Unknown_Batch001"},
            {batchStitchBaseName("A/B C", "x:y", 0, 1), "Stitched_A_B C_x:y_Left_Batch001"},
            {batchSegmentFileName("B", "T", 1, 1, "png"), "B_T.png"},
            {batchSegmentFileName("B", "T", 1, 2, "png"), "B_T_Seg01.png"},
            {batchSegmentFileName("B", "T", 99, 99, "png"), "B_T_Seg99.png"},
            {batchSegmentFileName("B", "T", 1, 100, "png"), "B_T_Seg001.png"},
            {batchSegmentFileName("B", "T", 100, 100, "png"), "B_T_Seg100.png"},
            {batchSegmentFileName("B", "T", 1234, 1500, "png"), "B_T_Seg1234.png"},
            {fileListSegmentFileName("R", "T", 1, 1, "tif"), "R_T.tif"},
            {fileListSegmentFileName("R", "T", 1, 3, "bmp"), "R_T_part01.bmp"},
            {fileListStitchBaseName("CamA", ""), "RotatedStitched"},
            {timestampText(QDateTime(QDate(2031, 12, 31), QTime(14, 5, 9, 7))), "20311231_140509_007"},
            {numberedFileName("a.bmp", 1), "a.bmp"},
            {numberedFileName("Image_1.bmp", 2), "Image_1_2.bmp"},
            {numberedFileName("S_Seg02.png", 13), "S_Seg02_13.png"},
            {numberedFileName("a.b.tif", 3), "a.b_3.tif"},
            {numberedFileName("plain", 2), "plain_2"},
            {numberedFileName(".hidden", 2), ".hidden_2"},
            {resolveOutputFolder(""), here},
            {resolveOutputFolder("."), here},
            {resolveOutputFolder("./"), "./"},
        };
        for (const auto &[made, expected] : names)
            QCOMPARE(made, expected);
    }

    // Save Image in the dialog: a file in the chosen format in the save
    // folder, its pixels those of the last frame, or a warning saying why not.
    void snapshotIsWrittenOrTheReasonShown_data()
    {
        QTest::addColumn<SnapshotCase>("c");
        const QString notOpen = QStringLiteral("Camera is not open, cannot save image!");
        // The status as a signed decimal, then the system's reason.
        const QString failed
            = QStringLiteral("保存图片失败，错误码: -2147483634\nMV_E_WRITEFILE (0x8000000E): "
                             "a file could not be written\n原因: No such file or directory");
        QTest::newRow("no window") << SnapshotCase{false, false, true, ".", "", "Error", notOpen};
        QTest::newRow("camera closed") << SnapshotCase{true, false, true, ".", "", "Error", notOpen};
        QTest::newRow("no frame yet") << SnapshotCase{
            true, true, false, ".", "", "Error", "No image data, may not have started streaming!"};
        QTest::newRow("folder that does not exist")
            << SnapshotCase{true, true, true, "missing/folder", "", "保存失败", failed};
        QTest::newRow("PNG") << SnapshotCase{
            true, true, true, "out", "rdButtonPng", "保存成功", "PNG压缩级别: 3 (0-9, 0=不压缩)"};
    }
    void snapshotIsWrittenOrTheReasonShown()
    {
        QFETCH(SnapshotCase, c);
        const QString button = c.button, title = c.title, text = c.text;
        QVERIFY(QDir().mkdir(QStringLiteral("out")));
        const QString folder = QDir::current().filePath(QStringLiteral("out"));
        store(AppSettings::kSaveDir, button.isEmpty() ? QString(c.saveDir) : folder);
        store(AppSettings::kJpgQuality, 80);
        store(AppSettings::kPngQuality, 3);
        MainWindow window;
        if (c.cameraOpen)
            openSimulatedCamera(window.camera(), "DLG-1");
        if (c.hasFrame)
            giveLatestFrame(window);
        settingdialog dialog(c.hasWindow ? &window.camera() : nullptr, window.session().options());
        // Without an open camera the dialog opens disabled; enabled here, as
        // it stays when the camera closes behind it, the click reaches the checks.
        dialog.setEnabled(true);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (!button.isEmpty())
            QTest::mouseClick(dialog.findChild<QRadioButton *>(button), Qt::LeftButton);
        MessageBoxRecorder boxes;
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("btnSaveImage")), Qt::LeftButton);
        QVERIFY(snapshotsIn(QDir::currentPath()).isEmpty());
        const QStringList files = snapshotsIn(folder);
        if (button.isEmpty()) {
            expectBoxes(boxes, 1, QMessageBox::Warning, title, text);
            QCOMPARE(files, QStringList());
            return;
        }
        const QString extension = button.mid(8, 3).toLower();
        QCOMPARE(files.size(), 1);
        const QRegularExpression name(QStringLiteral("^Image_\\d{8}_\\d{6}_\\d{3}\\.%1$").arg(extension));
        QVERIFY2(name.match(files.first()).hasMatch(), qPrintable(files.first()));
        const QString file = QDir(folder).filePath(files.first());
        expectBoxes(boxes, 1, QMessageBox::Information, title,
                    QStringLiteral("图片保存成功:\n") + file + QLatin1Char('\n') + text);
        const QImage written(file);
        QCOMPARE(written.size(), QSize(kWidth, kHeight));
        for (unsigned int y = 0; y < kHeight; ++y) {
            for (unsigned int x = 0; x < kWidth; ++x)
                QCOMPARE(qGray(written.pixel(int(x), int(y))), int(grayAt(x, y)));
        }
    }
};

QTEST_MAIN(FilesTest)
#include "tst_files.moc"
