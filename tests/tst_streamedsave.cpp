#include <QImageReader>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "composer.h"
#include "filesizelimit.h"
#include "framekind.h"
#include "imagewriter.h"
#include "segmentpicture.h"
#include "stitchworker.h"
#include "patternframe.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

/*
 * The streamed save against the canvas it replaces: composeRows() against
 * frames copied onto a canvas, writeSegmentFile() against Qt's writer given
 * that canvas (byte for byte, and through Qt's decoders), whole batches
 * through the worker in every format and direction, and a disk that fills
 * up part way through a file.
 */

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The canvas the composer drew before rows were streamed: black, every frame
// converted and copied at its place with drawFrame(). Qt's BMP writer copies
// the padding at the end of each row as it lies in memory, so it is zeroed.
QImage referenceCanvas(const QList<QImage> &frames, int width, int height, bool gray, bool horizontal)
{
    QImage canvas = createCanvas(width, height, gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    std::memset(canvas.bits(), 0, size_t(canvas.sizeInBytes()));
    int offset = 0;
    for (const QImage &frame : frames) {
        if (!frame.isNull())
            offset = drawFrame(canvas, frame, offset, horizontal);
    }
    return canvas;
}

SegmentPicture pictureOf(const QList<QImage> &frames, int width, int height, bool gray, bool horizontal)
{
    SegmentPicture picture;
    picture.width = width;
    picture.height = height;
    picture.gray = gray;
    picture.horizontal = horizontal;
    for (const QImage &frame : frames)
        picture.append(frame);
    return picture;
}

// Largest difference of any channel between two pictures of the same size,
// compared as 24-bit RGB; -1 when the sizes differ.
int largestDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar *p = x.constScanLine(row);
        const uchar *q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            largest = std::max(largest, std::abs(int(p[i]) - int(q[i])));
    }
    return largest;
}

// A PNG file's chunks in order, with the IDAT data joined and inflated
// into one: what the filters produced, whatever the compressor made of it.
struct PngParts {
    QByteArrayList chunks; // type and data of every chunk but IDAT
    QByteArray filtered;
};

PngParts pngParts(const QByteArray &file)
{
    PngParts parts;
    QByteArray deflated;
    for (int at = 8; at + 12 <= file.size();) {
        const quint32 length = quint32(uchar(file[at])) << 24 | quint32(uchar(file[at + 1])) << 16
            | quint32(uchar(file[at + 2])) << 8 | quint32(uchar(file[at + 3]));
        const QByteArray type = file.mid(at + 4, 4);
        if (type == "IDAT")
            deflated += file.mid(at + 8, int(length));
        else
            parts.chunks << type + file.mid(at + 8, int(length));
        at += 12 + int(length);
    }
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (inflateInit(&stream) != Z_OK)
        return parts;
    QByteArray out(1 << 20, 0);
    stream.next_in = reinterpret_cast<Bytef *>(deflated.data());
    stream.avail_in = uInt(deflated.size());
    int result = Z_OK;
    while (result == Z_OK) {
        if (stream.total_out == uLong(out.size()))
            out.resize(out.size() * 2);
        stream.next_out = reinterpret_cast<Bytef *>(out.data()) + stream.total_out;
        stream.avail_out = uInt(out.size() - int(stream.total_out));
        result = inflate(&stream, Z_NO_FLUSH);
    }
    if (result == Z_STREAM_END)
        parts.filtered = out.left(int(stream.total_out));
    inflateEnd(&stream);
    return parts;
}

QImage decoded(const QString &path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.read();
}

QImage indexedGrayFrame(int width, int height, int seed)
{
    QImage frame = patternFrame(width, height, QImage::Format_Grayscale8, seed);
    return frame.convertToFormat(QImage::Format_Indexed8);
}

} // namespace

class StreamedSaveTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void rowsEqualTheCanvas_data();
    void rowsEqualTheCanvas();
    void filesEqualQtsWriter_data();
    void filesEqualQtsWriter();
    void pngIsNoLargerThanQtsAtAnyLevel();
    void bmpOfGrayFramesInColourEqualsQts();
    void batchesAcrossTheSegmentLimit_data();
    void batchesAcrossTheSegmentLimit();
    void fullDiskMidStripLeavesNoFile_data();
    void fullDiskMidStripLeavesNoFile();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
};

void StreamedSaveTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void StreamedSaveTest::rowsEqualTheCanvas_data()
{
    QTest::addColumn<QList<QImage>>("frames");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<int>("extra"); // canvas length beyond the frames: a frame vanished after the survey

    const QList<QImage> unequalRgb
        = {patternFrame(37, 20, QImage::Format_RGB888, 1), patternFrame(11, 29, QImage::Format_RGB32, 2),
           patternFrame(23, 7, QImage::Format_ARGB32, 3)};
    const QList<QImage> unequalGray
        = {patternFrame(19, 31, QImage::Format_Grayscale8, 4), indexedGrayFrame(30, 12, 5),
           patternFrame(9, 40, QImage::Format_Mono, 6)};
    QTest::newRow("colour, side by side") << unequalRgb << false << true << 0;
    QTest::newRow("colour, stacked") << unequalRgb << false << false << 0;
    QTest::newRow("gray, side by side") << unequalGray << true << true << 0;
    QTest::newRow("gray, stacked") << unequalGray << true << false << 0;
    QTest::newRow("gray frames in a colour picture") << unequalGray << false << true << 0;
    QTest::newRow("colour, side by side, black tail") << unequalRgb << false << true << 13;
    QTest::newRow("gray, stacked, black tail") << unequalGray << true << false << 17;
}

void StreamedSaveTest::rowsEqualTheCanvas()
{
    QFETCH(QList<QImage>, frames);
    QFETCH(bool, gray);
    QFETCH(bool, horizontal);
    QFETCH(int, extra);
    int length = extra, cross = 0;
    for (const QImage &frame : frames) {
        length += horizontal ? frame.width() : frame.height();
        cross = std::max(cross, horizontal ? frame.height() : frame.width());
    }
    const int width = horizontal ? length : cross;
    const int height = horizontal ? cross : length;
    const QImage expected = referenceCanvas(frames, width, height, gray, horizontal);
    const SegmentPicture picture = pictureOf(frames, width, height, gray, horizontal);

    // Strips of every height, so that strip edges fall inside frames, on
    // their borders and past the last row.
    for (int stripRows : {1, 3, 7, height}) {
        QImage composed(width, height, expected.format());
        composed.fill(Qt::white);
        for (int first = 0; first < height; first += stripRows)
            composeRows(picture, first, stripRows, composed.scanLine(first), composed.bytesPerLine());
        QVERIFY2(composed == expected, qPrintable(QStringLiteral("strips of %1 rows").arg(stripRows)));
    }

    // Laid out upwards, bottom row first in memory, as a file stored bottom
    // up keeps them.
    QImage upwards(width, height, expected.format());
    upwards.fill(Qt::white);
    for (int first = 0; first < height; first += 5) {
        composeRows(picture, first, std::min(5, height - first), upwards.scanLine(height - 1 - first),
                    -upwards.bytesPerLine());
    }
    QVERIFY(upwards == expected.mirrored(false, true));
}

void StreamedSaveTest::filesEqualQtsWriter_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<int>("scale");
    for (const char *format : {"JPG", "PNG", "TIFF", "BMP"}) {
        for (bool gray : {false, true}) {
            for (bool horizontal : {true, false}) {
                QTest::addRow("%s %s %s", format, gray ? "gray" : "colour", horizontal ? "across" : "down")
                    << QString::fromLatin1(format) << gray << horizontal << 1;
            }
        }
    }
    // Strips of several MiB: PNG deflates them in several pieces.
    QTest::newRow("PNG colour across, large") << "PNG" << false << true << 8;
    QTest::newRow("PNG gray down, large") << "PNG" << true << false << 16;
    // Strips of 4 MiB: TIFF writes whole strips as they are, and the last
    // one short.
    QTest::newRow("TIFF colour across, large") << "TIFF" << false << true << 8;
    QTest::newRow("TIFF gray across, large") << "TIFF" << true << true << 16;
    // Strips of 8 MiB, the bottom one first.
    QTest::newRow("BMP colour across, large") << "BMP" << false << true << 8;
}

// Byte for byte the file Qt's writer makes of the canvas: the same encoder
// settings, metadata and layout. Odd widths exercise the BMP row padding, a
// height beyond one strip the strip order.
void StreamedSaveTest::filesEqualQtsWriter()
{
    QFETCH(QString, format);
    QFETCH(bool, gray);
    QFETCH(bool, horizontal);
    QFETCH(int, scale);
    const QImage::Format frameFormat = gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    QList<QImage> frames;
    for (int i = 0; i < 3; ++i)
        frames << patternFrame((horizontal ? 101 + 30 * i : 333) * scale,
                               horizontal ? 700 - 50 * i : 233 + 20 * i, frameFormat, i + 1);
    int length = 0, cross = 0;
    for (const QImage &frame : frames) {
        length += horizontal ? frame.width() : frame.height();
        cross = std::max(cross, horizontal ? frame.height() : frame.width());
    }
    const int width = horizontal ? length : cross;
    const int height = horizontal ? cross : length;
    const QImage canvas = referenceCanvas(frames, width, height, gray, horizontal);

    const QString extension
        = format == QLatin1String("TIFF") ? "tif" : format.toLower().replace("jpeg", "jpg");
    const QString qtPath = path("qt." + extension);
    const QString streamedPath = path("streamed." + extension);
    QString reason;
    QVERIFY2(writeImageFile(qtPath, canvas, format, 90, 6, &reason), qPrintable(reason));
    QString written;
    QVERIFY2(writeSegmentFile(streamedPath, pictureOf(frames, width, height, gray, horizontal), format, 90, 6,
                              &reason, &written),
             qPrintable(reason));
    QCOMPARE(written, streamedPath);

    const QByteArray expected = fileBytes(qtPath);
    const QByteArray actual = fileBytes(streamedPath);
    QVERIFY(!expected.isEmpty());
    if (format == QLatin1String("PNG")) {
        // Deflated in parallel pieces, so the compressed bytes differ; the
        // chunks, every row's filter and the filtered bytes do not.
        const PngParts ours = pngParts(actual);
        const PngParts qts = pngParts(expected);
        QVERIFY(!qts.filtered.isEmpty());
        QCOMPARE(ours.chunks, qts.chunks);
        QVERIFY(ours.filtered == qts.filtered);
        QVERIFY2(actual.size() <= expected.size() * 103 / 100,
                 qPrintable(QStringLiteral("%1 bytes against %2").arg(actual.size()).arg(expected.size())));
    } else {
        QCOMPARE(actual.size(), expected.size());
        QVERIFY(actual == expected);
    }

    // And through a decoder that is not ours.
    const QImage back = decoded(streamedPath);
    QCOMPARE(back.size(), canvas.size());
    if (format == QLatin1String("JPG")) {
        QCOMPARE(largestDifference(back, decoded(qtPath)), 0);
    } else {
        QCOMPARE(largestDifference(back, canvas), 0);
        QCOMPARE(isGrayFormat(back.format()), gray);
    }
}

// Another deflater at another level may compress better on a sensor's noise
// and worse on regular content; at no level may a file grow past 3 % of
// what Qt's writer makes of it, nor decode to other pixels.
void StreamedSaveTest::pngIsNoLargerThanQtsAtAnyLevel()
{
    for (bool gray : {false, true}) {
        const QImage::Format format = gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
        const QList<QImage> frames{patternFrame(211, 500, format, 1), patternFrame(190, 500, format, 2)};
        const QImage canvas = referenceCanvas(frames, 401, 500, gray, true);
        for (int level = 0; level <= 9; ++level) {
            const QString label = QStringLiteral("%1, level %2").arg(gray ? "gray" : "colour").arg(level);
            QString reason, qts, ours;
            QVERIFY2(writeImageFile(path("qt.png"), canvas, "PNG", 90, level, &reason, &qts),
                     qPrintable(reason));
            QVERIFY2(writeSegmentFile(path("ours.png"), pictureOf(frames, 401, 500, gray, true), "PNG", 90,
                                      level, &reason, &ours),
                     qPrintable(reason));
            const qint64 qtBytes = QFileInfo(qts).size();
            const qint64 ourBytes = QFileInfo(ours).size();
            QVERIFY2(
                ourBytes <= qtBytes * 103 / 100,
                qPrintable(QStringLiteral("%1: %2 bytes against %3").arg(label).arg(ourBytes).arg(qtBytes)));
            QVERIFY2(largestDifference(decoded(ours), canvas) == 0, qPrintable(label));
            QVERIFY(QFile::remove(qts) && QFile::remove(ours));
        }
    }

    // A grainy Mono8 camera's frames, large enough that the encoder judges
    // its strips and may take a cheaper deflate level.
    QImage grain(4096, 300, QImage::Format_Grayscale8);
    QRandomGenerator random(3);
    for (int y = 0; y < grain.height(); ++y) {
        uchar *row = grain.scanLine(y);
        for (int x = 0; x < grain.width(); ++x)
            row[x] = uchar(std::clamp((x + y) / 2 % 256 + int(random.bounded(25)) - 12, 0, 255));
    }
    const QList<QImage> frames{markedAsRgb(grain), markedAsRgb(grain.mirrored(true, false))};
    const QImage canvas = referenceCanvas(frames, 4096, 600, false, false);
    for (int level : {1, 8}) {
        QString reason, qts, ours;
        QVERIFY2(writeImageFile(path("qt.png"), canvas, "PNG", 90, level, &reason, &qts), qPrintable(reason));
        QVERIFY2(writeSegmentFile(path("ours.png"), pictureOf(frames, 4096, 600, false, false), "PNG", 90,
                                  level, &reason, &ours),
                 qPrintable(reason));
        const qint64 qtBytes = QFileInfo(qts).size();
        const qint64 ourBytes = QFileInfo(ours).size();
        QVERIFY2(ourBytes <= qtBytes * 103 / 100,
                 qPrintable(QStringLiteral("grain, level %1: %2 bytes against %3")
                                .arg(level)
                                .arg(ourBytes)
                                .arg(qtBytes)));
        QCOMPARE(largestDifference(decoded(ours), canvas), 0);
        QVERIFY(QFile::remove(qts) && QFile::remove(ours));
    }
}

// A camera's gray frames saved as 24-bit BMP skip the swap of red and blue
// and the copy into file order where the rows allow it; the file must not
// change, nor for rows that need their padding added.
void StreamedSaveTest::bmpOfGrayFramesInColourEqualsQts()
{
    for (int width : {128, 131}) {
        for (bool horizontal : {true, false}) {
            const QList<QImage> frames{
                patternFrame(horizontal ? width / 2 : width, 700, QImage::Format_Grayscale8, 1),
                patternFrame(horizontal ? width - width / 2 : width, 700, QImage::Format_Grayscale8, 2)};
            const int height = horizontal ? 700 : 1400;
            const QImage canvas = referenceCanvas(frames, width, height, false, horizontal);
            const SegmentPicture picture = pictureOf(frames, width, height, false, horizontal);
            QVERIFY(picture.channelsAlike());
            const QString label
                = QStringLiteral("%1 wide, %2").arg(width).arg(horizontal ? "across" : "down");
            QString reason, qts, ours;
            QVERIFY2(writeImageFile(path("qt.bmp"), canvas, "BMP", 90, 6, &reason, &qts), qPrintable(reason));
            QVERIFY2(writeSegmentFile(path("ours.bmp"), picture, "BMP", 90, 6, &reason, &ours),
                     qPrintable(reason));
            QVERIFY2(fileBytes(ours) == fileBytes(qts), qPrintable(label));
            QVERIFY(QFile::remove(qts) && QFile::remove(ours));
        }
    }
    // One colour frame among gray ones needs the swap again.
    SegmentPicture mixed = pictureOf({patternFrame(8, 8, QImage::Format_Grayscale8, 1)}, 16, 8, false, true);
    QVERIFY(mixed.channelsAlike());
    mixed.append(patternFrame(8, 8, QImage::Format_RGB888, 2));
    QVERIFY(!mixed.channelsAlike());
}

void StreamedSaveTest::batchesAcrossTheSegmentLimit_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("total");
    QTest::addColumn<bool>("gray");
    for (const char *format : {"JPG", "PNG", "TIFF", "BMP"}) {
        for (int direction = 0; direction < 4; ++direction) {
            for (int total : {32767, 32768, 32769})
                QTest::addRow("%s dir %d %d px %s", format, direction, total, total % 2 ? "colour" : "gray")
                    << QString::fromLatin1(format) << direction << total << (total == 32768);
        }
    }
}

// A batch summing to just under, exactly and just over the limit: one or two
// segments, each decoding (with Qt's decoder) to the canvas composition of
// its frames, laid out in the direction's order.
void StreamedSaveTest::batchesAcrossTheSegmentLimit()
{
    QFETCH(QString, format);
    QFETCH(int, direction);
    QFETCH(int, total);
    QFETCH(bool, gray);
    const bool horizontal = isHorizontalDirection(direction);
    const QImage::Format frameFormat = gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    // Three frames of unequal length and cross size; the last carries the
    // rest of the total.
    const int lengths[3] = {12000, 10000, total - 22000};
    const int crosses[3] = {6, 9, 4};
    QList<QImage> frames;
    for (int i = 0; i < 3; ++i)
        frames << patternFrame(horizontal ? lengths[i] : crosses[i], horizontal ? crosses[i] : lengths[i],
                               frameFormat, i + 1);

    StitchWorker worker;
    QStringList saved;
    QString error;
    connect(&worker, &StitchWorker::finished, [&](const QStringList &files) { saved = files; });
    connect(&worker, &StitchWorker::failed, [&](const QString &text) { error = text; });
    worker.saveStitchImages(frames, direction, m_dir->path(), QString(), QString(), 0, format, 95, 1);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QVector<Segment> segments
        = total > 32768 ? QVector<Segment>{{0, 2}, {2, 3}} : QVector<Segment>{{0, 3}};
    QCOMPARE(saved.size(), segments.size());
    for (int s = 0; s < segments.size(); ++s) {
        QList<QImage> drawn;
        int length = 0;
        for (int k = 0; k < segments[s].end - segments[s].first; ++k) {
            const int i = drawsInReverse(direction) ? segments[s].end - 1 - k : segments[s].first + k;
            drawn << frames[i];
            length += lengths[i];
        }
        const QImage expected
            = referenceCanvas(drawn, horizontal ? length : 9, horizontal ? 9 : length, gray, horizontal);
        const QImage back = decoded(saved[s]);
        QCOMPARE(back.size(), expected.size());
        const int difference = largestDifference(back, expected);
        if (format == QLatin1String("JPG")) {
            // Within rounding of the reference written by Qt at the same quality.
            const QString reference = path("reference.jpg");
            QVERIFY(writeImageFile(reference, expected, format, 95, 1));
            QVERIFY(largestDifference(back, decoded(reference)) <= 1);
            QFile::remove(reference);
        } else {
            QCOMPARE(difference, 0);
        }
        QFile::remove(saved[s]);
    }
}

void StreamedSaveTest::fullDiskMidStripLeavesNoFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("gray");
    for (const char *format : {"JPG", "PNG", "TIFF", "BMP"}) {
        QTest::addRow("%s colour", format) << QString::fromLatin1(format) << false;
        QTest::addRow("%s gray", format) << QString::fromLatin1(format) << true;
    }
}

// The disk fills up in the middle of the second strip: the save fails with
// the system's reason and neither the file nor its partial copy remains.
void StreamedSaveTest::fullDiskMidStripLeavesNoFile()
{
    QFETCH(QString, format);
    QFETCH(bool, gray);
    const QImage::Format frameFormat = gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    QList<QImage> frames;
    for (int i = 0; i < 4; ++i)
        frames << patternFrame(1024, 3000, frameFormat, i + 1);
    const SegmentPicture picture = pictureOf(frames, 4096, 3000, gray, true);
    const qint64 stripBytes = qint64(stripRowsFor(picture.rowBytes())) * picture.rowBytes();
    QVERIFY(stripBytes < qint64(picture.rowBytes()) * picture.height / 2);
    // Compressed formats shrink the pattern, so their limit sits lower.
    const long long limit = format == QLatin1String("TIFF") || format == QLatin1String("BMP")
        ? stripBytes + stripBytes / 2
        : stripBytes / 8;
    QVERIFY(writeImageFile(path("warm.png"), frames.first(), "PNG", 95, 1)); // plug-ins load before the fork
    QFile::remove(path("warm.png"));

    const QString target = path("full.bin");
    const QByteArray answer = runWithFileSizeLimit(
        limit,
        [&] {
            QString reason;
            return writeSegmentFile(target, picture, format, 95, 8, &reason) ? QByteArray("ok")
                                                                             : reason.toUtf8();
        },
        [&] {
            for (const QString &left : QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden))
                QFile::remove(m_dir->filePath(left));
        });
    QCOMPARE(QString::fromUtf8(answer), QStringLiteral("File too large"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(StreamedSaveTest)
#include "tst_streamedsave.moc"
