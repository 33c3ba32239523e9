// A disk that fills up under every kind of save: the picture writer, both
// stitch worker slots and the camera library's snapshot. Whatever happens, a
// file under a final name is whole, every failure is reported with the
// system's reason, no partial file is left, and the next save succeeds.
#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

#include "MvCameraControl.h"
#include "filesizelimit.h"
#include "imagewriter.h"
#include "stitchworker.h"
#include "patternframe.h"

namespace {

const QString kTooLarge = QStringLiteral("File too large"); // EFBIG, the file-size limit's text

// Every entry, hidden partial files included.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// What a child killed mid-save left behind goes before the save is tried again.
void removeEntriesOf(const QString &folder)
{
    for (const QString &entry : entriesOf(folder))
        QFile::remove(QDir(folder).filePath(entry));
}

// Where in the file the disk runs full, as a limit for a file of `bytes`.
long long limitAt(const QString &point, qint64 bytes)
{
    if (point == QLatin1String("last byte"))
        return bytes - 1;
    if (point == QLatin1String("middle"))
        return bytes / 2;
    return 1; // "first byte"
}

void addPointRows(const QStringList &kinds, const QStringList &points)
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("point");
    for (const QString &kind : kinds) {
        for (const QString &point : points)
            QTest::addRow("%s, full at the %s", qPrintable(kind), qPrintable(point)) << kind << point;
    }
}

// The worker's signals of one call as text, so they can cross from a child.
QByteArray runWorker(bool fileList, const QStringList &inputs, const QList<QImage> &frames,
                     const QString &folder, const QString &format)
{
    StitchWorker worker;
    QStringList events;
    QObject::connect(&worker, &StitchWorker::progress, [&](int current, int total) {
        events << QStringLiteral("progress %1/%2").arg(current).arg(total);
    });
    QObject::connect(&worker, &StitchWorker::finished, [&](const QStringList &files) {
        events << QStringLiteral("finished ") + files.join('|');
    });
    QObject::connect(&worker, &StitchWorker::failed,
                     [&](const QString &error) { events << QStringLiteral("failed ") + error; });
    if (fileList)
        worker.saveStitch(inputs, 0, folder, QStringLiteral("CamA"), QStringLiteral("SN0042"), format, 90, 6);
    else
        worker.saveStitchImages(frames, 0, folder, QString(), QString(), 3, format, 90, 6);
    return events.join(QLatin1Char('\x1e')).toUtf8();
}

QStringList eventsOf(const QByteArray &answer)
{
    return QString::fromUtf8(answer).split(QLatin1Char('\x1e'));
}

MV_SAVE_IMG_TO_FILE_PARAM snapshotRequest(std::vector<unsigned char> &frame, MV_SAVE_IAMGE_TYPE type,
                                          const QString &path)
{
    MV_SAVE_IMG_TO_FILE_PARAM param{};
    param.enPixelType = PixelType_Gvsp_Mono8;
    param.pData = frame.data();
    param.nDataLen = unsigned(frame.size());
    param.nWidth = 320;
    param.nHeight = unsigned(frame.size() / 320);
    param.enImageType = type;
    param.nQuality = type == MV_Image_Jpeg ? 90 : 6;
    std::strncpy(param.pImagePath, QFile::encodeName(path).constData(), sizeof param.pImagePath - 1);
    return param;
}

MV_SAVE_IAMGE_TYPE snapshotType(const QString &kind)
{
    if (kind == QLatin1String("JPEG"))
        return MV_Image_Jpeg;
    if (kind == QLatin1String("PNG"))
        return MV_Image_Png;
    if (kind == QLatin1String("TIFF"))
        return MV_Image_Tif;
    return MV_Image_Bmp;
}

} // namespace

class DiskFullTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void pictureWriterFailsWholeWhereverTheDiskFills_data();
    void pictureWriterFailsWholeWhereverTheDiskFills();
    void workerReportsAFullDiskAndSavesAgainOnceThereIsRoom_data();
    void workerReportsAFullDiskAndSavesAgainOnceThereIsRoom();
    void snapshotReportsAFullDiskAndSavesAgainOnceThereIsRoom_data();
    void snapshotReportsAFullDiskAndSavesAgainOnceThereIsRoom();
    void twoSavesOfOneNameGiveTwoFiles();

private:
    QScopedPointer<QTemporaryDir> m_in;
    QScopedPointer<QTemporaryDir> m_out;
    QScopedPointer<QTemporaryDir> m_probe;
    QList<QImage> m_frames;
    QStringList m_frameFiles;
};

void DiskFullTest::initTestCase()
{
    // Load every encoder before the first fork.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    for (const char *format : {"bmp", "jpg", "png", "tif"})
        QVERIFY(QImageWriter(&buffer, format).write(patternFrame(4, 4, QImage::Format_RGB888, 1)));
}

void DiskFullTest::init()
{
    m_in.reset(new QTemporaryDir);
    m_out.reset(new QTemporaryDir);
    m_probe.reset(new QTemporaryDir);
    QVERIFY(m_in->isValid() && m_out->isValid() && m_probe->isValid());
    // One segment of 1500 x 400 RGB: more than the writer buffers for BMP and TIFF.
    m_frames.clear();
    m_frameFiles.clear();
    for (int seed = 1; seed <= 3; ++seed) {
        m_frames << patternFrame(500, 400, QImage::Format_RGB888, seed);
        m_frameFiles << m_in->filePath(QStringLiteral("frame%1.png").arg(seed));
        QVERIFY(m_frames.last().save(m_frameFiles.last(), "PNG"));
    }
}

void DiskFullTest::pictureWriterFailsWholeWhereverTheDiskFills_data()
{
    addPointRows({"BMP", "JPG", "PNG", "TIFF"}, {"last byte", "middle", "first byte"});
}

void DiskFullTest::pictureWriterFailsWholeWhereverTheDiskFills()
{
    QFETCH(QString, kind);
    QFETCH(QString, point);
    const QImage image = patternFrame(700, 600, QImage::Format_RGB888, 5);
    const QString probe = m_probe->filePath(QStringLiteral("probe"));
    QString written;
    QVERIFY(writeImageFile(probe, image, kind, 90, 6, nullptr, &written));
    const qint64 bytes = QFileInfo(written).size();
    const QString path = m_out->filePath(QStringLiteral("picture.") + QFileInfo(written).suffix());

    const QByteArray answer = runWithFileSizeLimit(
        limitAt(point, bytes),
        [&] {
            QString reason;
            return writeImageFile(path, image, kind, 90, 6, &reason) ? QByteArray("saved") : reason.toUtf8();
        },
        [&] { removeEntriesOf(m_out->path()); });
    QCOMPARE(QString::fromUtf8(answer), kTooLarge);
    QCOMPARE(entriesOf(m_out->path()), QStringList{});

    QString reason;
    QVERIFY2(writeImageFile(path, image, kind, 90, 6, &reason), qPrintable(reason));
    QCOMPARE(entriesOf(m_out->path()), QStringList{QFileInfo(path).fileName()});
    QCOMPARE(QFileInfo(path).size(), bytes);
    QCOMPARE(QImage(path).size(), image.size());
}

void DiskFullTest::workerReportsAFullDiskAndSavesAgainOnceThereIsRoom_data()
{
    QTest::addColumn<bool>("fileList");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("point");
    for (const char *format : {"BMP", "JPG", "PNG", "TIFF"}) {
        for (const char *point : {"last byte", "middle"}) {
            QTest::addRow("batch, %s, full at the %s", format, point) << false << format << point;
            QTest::addRow("file list, %s, full at the %s", format, point) << true << format << point;
        }
    }
}

void DiskFullTest::workerReportsAFullDiskAndSavesAgainOnceThereIsRoom()
{
    QFETCH(bool, fileList);
    QFETCH(QString, format);
    QFETCH(QString, point);
    const QStringList probe = eventsOf(runWorker(fileList, m_frameFiles, m_frames, m_probe->path(), format));
    QCOMPARE(probe.size(), 2);
    QVERIFY2(probe.last().startsWith(QLatin1String("finished ")), qPrintable(probe.last()));
    const QString probeFile = probe.last().mid(9);
    const qint64 bytes = QFileInfo(probeFile).size();
    QVERIFY(bytes > 0);

    const QStringList full = eventsOf(runWithFileSizeLimit(
        limitAt(point, bytes),
        [&] { return runWorker(fileList, m_frameFiles, m_frames, m_out->path(), format); },
        [&] { removeEntriesOf(m_out->path()); }));
    const QRegularExpression failure(
        QStringLiteral("^failed Failed to save image:\n%1/%2_\\d{8}_\\d{6}_\\d{3}\\.%3\nReason: %4$")
            .arg(QRegularExpression::escape(m_out->path()),
                 fileList ? QStringLiteral("RotatedStitched_CamA_SN0042")
                          : QStringLiteral("Stitched_Left_Batch003"),
                 QFileInfo(probeFile).suffix(), kTooLarge));
    QCOMPARE(full.size(), 1);
    QVERIFY2(failure.match(full.first()).hasMatch(), qPrintable(full.first()));
    QCOMPARE(entriesOf(m_out->path()), QStringList{});

    const QStringList again = eventsOf(runWorker(fileList, m_frameFiles, m_frames, m_out->path(), format));
    QCOMPARE(again.size(), 2);
    QCOMPARE(again.first(), QStringLiteral("progress 1/1"));
    const QString saved = again.last().mid(9);
    QCOMPARE(entriesOf(m_out->path()), QStringList{QFileInfo(saved).fileName()});
    QCOMPARE(QFileInfo(saved).size(), bytes);
    QImageReader reader(saved);
    QCOMPARE(reader.read().size(), QSize(1500, 400));
}

void DiskFullTest::snapshotReportsAFullDiskAndSavesAgainOnceThereIsRoom_data()
{
    addPointRows({"BMP", "JPEG", "PNG", "TIFF"}, {"last byte", "middle"});
}

void DiskFullTest::snapshotReportsAFullDiskAndSavesAgainOnceThereIsRoom()
{
    QFETCH(QString, kind);
    QFETCH(QString, point);
    std::vector<unsigned char> frame(320 * 240);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<unsigned char>((i % 320) * 3 + (i / 320) * 7 + (i * 13) % 17);
    const MV_SAVE_IAMGE_TYPE type = snapshotType(kind);
    MV_SAVE_IMG_TO_FILE_PARAM probe
        = snapshotRequest(frame, type, m_probe->filePath(QStringLiteral("probe")));
    QCOMPARE(MV_CC_SaveImageToFile(nullptr, &probe), int(MV_OK));
    const qint64 bytes = QFileInfo(QFile::decodeName(probe.pImagePath)).size();

    const QString path = m_out->filePath(QStringLiteral("Image_20240307_142501_042.snap"));
    const QByteArray answer = runWithFileSizeLimit(
        limitAt(point, bytes),
        [&] {
            MV_SAVE_IMG_TO_FILE_PARAM request = snapshotRequest(frame, type, path);
            const int status = MV_CC_SaveImageToFile(nullptr, &request);
            const int error = errno;
            return QByteArray::number(status) + ' ' + QByteArray::number(error);
        },
        [&] { removeEntriesOf(m_out->path()); });
    QCOMPARE(answer, QByteArray::number(int(MV_E_WRITEFILE)) + ' ' + QByteArray::number(EFBIG));
    QCOMPARE(entriesOf(m_out->path()), QStringList{});

    MV_SAVE_IMG_TO_FILE_PARAM request = snapshotRequest(frame, type, path);
    QCOMPARE(MV_CC_SaveImageToFile(nullptr, &request), int(MV_OK));
    QCOMPARE(QFile::decodeName(request.pImagePath), path);
    QCOMPARE(QFileInfo(path).size(), bytes);
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.read().size(), QSize(320, 240));
}

void DiskFullTest::twoSavesOfOneNameGiveTwoFiles()
{
    // The picture writer, given the same path twice.
    const QImage image = patternFrame(30, 20, QImage::Format_RGB888, 1);
    QStringList written{QString(), QString()};
    for (QString &path : written)
        QVERIFY(writeImageFile(m_out->filePath("a.png"), image, "PNG", 90, 6, nullptr, &path));
    QCOMPARE(written, (QStringList{m_out->filePath("a.png"), m_out->filePath("a_2.png")}));

    // The worker: Save Image clicked again and again within milliseconds.
    const QString batches = m_out->filePath("batches");
    QStringList saved;
    for (int i = 0; i < 8; ++i) {
        const QStringList events = eventsOf(runWorker(false, {}, {image}, batches, "BMP"));
        QVERIFY2(events.last().startsWith(QLatin1String("finished ")), qPrintable(events.last()));
        saved << events.last().mid(9);
    }
    saved.removeDuplicates();
    QCOMPARE(saved.size(), 8);
    QCOMPARE(entriesOf(batches).size(), 8);
    for (const QString &path : saved)
        QCOMPARE(QImage(path).size(), image.size());

    // The snapshot: the library names the second file and says so.
    std::vector<unsigned char> frame(320 * 2, 77);
    const QString snapshot = m_out->filePath("Image_20240307_142501_042.bmp");
    for (const char *expected : {"Image_20240307_142501_042.bmp", "Image_20240307_142501_042_2.bmp"}) {
        MV_SAVE_IMG_TO_FILE_PARAM request = snapshotRequest(frame, MV_Image_Bmp, snapshot);
        QCOMPARE(MV_CC_SaveImageToFile(nullptr, &request), int(MV_OK));
        QCOMPARE(QFile::decodeName(request.pImagePath), m_out->filePath(expected));
        QCOMPARE(QImage(m_out->filePath(expected)).size(), QSize(320, 2));
    }
}

QTEST_GUILESS_MAIN(DiskFullTest)
#include "tst_diskfull.moc"
