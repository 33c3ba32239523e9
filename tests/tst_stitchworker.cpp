#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <new>
#include <stdexcept>

#include "composer.h"
#include "stitchworker.h"
#include "patternframe.h"

Q_DECLARE_METATYPE(QVector<int>)
Q_DECLARE_METATYPE(QList<QImage>)
Q_DECLARE_METATYPE(QList<QSize>)
Q_DECLARE_METATYPE(QList<QList<int>>)

namespace {

// What a stitched segment must look like: edge to edge along the axis, top-
// or left-aligned, black elsewhere. Copied row by row, since a painter cannot
// reach the last column of a 32768-pixel canvas.
QImage placedFrames(const QList<QImage> &placed, bool horizontal)
{
    int along = 0;
    int across = 0;
    for (const QImage &frame : placed) {
        along += horizontal ? frame.width() : frame.height();
        across = std::max(across, horizontal ? frame.height() : frame.width());
    }
    QImage canvas(horizontal ? along : across, horizontal ? across : along, QImage::Format_RGB888);
    canvas.fill(Qt::black);
    int offset = 0;
    for (const QImage &original : placed) {
        const QImage frame = original.convertToFormat(QImage::Format_RGB888);
        const QPoint at = horizontal ? QPoint(offset, 0) : QPoint(0, offset);
        for (int y = 0; y < frame.height(); ++y)
            memcpy(canvas.scanLine(at.y() + y) + 3 * at.x(), frame.constScanLine(y),
                   size_t(3 * frame.width()));
        offset += horizontal ? frame.width() : frame.height();
    }
    return canvas;
}

QImage readRgb(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_RGB888);
}

struct StitchRun {
    QList<QPair<int, int>> progress;
    QStringList files;
    QStringList failures;
    int finishedCount = 0;
};

template<typename Call>
StitchRun recordStitchRun(StitchWorker &worker, Call call)
{
    QSignalSpy progress(&worker, &StitchWorker::progress);
    QSignalSpy finished(&worker, &StitchWorker::finished);
    QSignalSpy failed(&worker, &StitchWorker::failed);
    call();
    StitchRun run;
    for (const QList<QVariant> &args : progress)
        run.progress.append({args.at(0).toInt(), args.at(1).toInt()});
    for (const QList<QVariant> &args : failed)
        run.failures << args.at(0).toString();
    run.finishedCount = finished.size();
    if (!finished.isEmpty())
        run.files = finished.first().at(0).toStringList();
    return run;
}

QString describe(const QVector<Segment> &segments)
{
    QStringList parts;
    for (const Segment &segment : segments)
        parts << QStringLiteral("%1-%2").arg(segment.first).arg(segment.end);
    return parts.join(QLatin1Char(','));
}

} // namespace

class StitchWorkerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void splitIsGreedyAndNeverCutsAFrame_data();
    void splitIsGreedyAndNeverCutsAFrame();
    void rejectedBatchesFailWithTheirText_data();
    void rejectedBatchesFailWithTheirText();
    void rejectedFileListsFailWithTheirText_data();
    void rejectedFileListsFailWithTheirText();
    void framesArePlacedByDirectionPixelForPixel_data();
    void framesArePlacedByDirectionPixelForPixel();
    void grayFramesGiveGrayFilesUnlessOneIsColour_data();
    void grayFramesGiveGrayFilesUnlessOneIsColour();
    void nullFramesAreSkippedWithoutAnEmptySegment();
    void unwritableFolderFailsWithPathAndReason();
    void fileListIsSplitIntoNumberedPartsInRotationOrder_data();
    void fileListIsSplitIntoNumberedPartsInRotationOrder();
    void fileDeletedAfterTheSurveyLeavesBlackAtTheEnd();

private:
    StitchRun run(const QList<QImage> &frames, int direction, const QString &format = QStringLiteral("PNG"),
                  const QString &folder = QString())
    {
        return recordStitchRun(m_worker, [&] {
            m_worker.saveStitchImages(frames, direction, folder.isEmpty() ? m_out->path() : folder, QString(),
                                      QString(), 0, format, 95, 8);
        });
    }
    StitchRun runFiles(const QStringList &paths, int rotateClockwise,
                       const QString &format = QStringLiteral("PNG"))
    {
        return recordStitchRun(m_worker, [&] {
            m_worker.saveStitch(paths, rotateClockwise, m_out->path(), QStringLiteral("CamA"),
                                QStringLiteral("SN0042"), format, 95, 8);
        });
    }
    QString writeFrame(const QString &name, const QImage &image)
    {
        const QString path = m_in->filePath(name);
        return image.save(path, "PNG") ? path : QString();
    }

    StitchWorker m_worker;
    QScopedPointer<QTemporaryDir> m_in;
    QScopedPointer<QTemporaryDir> m_out;
};

void StitchWorkerTest::init()
{
    m_in.reset(new QTemporaryDir);
    m_out.reset(new QTemporaryDir);
    QVERIFY(m_in->isValid() && m_out->isValid());
    m_worker.setFrameFileReader(nullptr);
}

void StitchWorkerTest::splitIsGreedyAndNeverCutsAFrame_data()
{
    QTest::addColumn<QVector<int>>("lengths");
    QTest::addColumn<QString>("segments");
    QTest::addColumn<int>("oversized");
    QTest::newRow("ten of 8192") << QVector<int>(10, 8192) << "0-4,4-8,8-10" << -1;
    QTest::newRow("exactly the limit") << QVector<int>{16384, 16384} << "0-2" << -1;
    QTest::newRow("one pixel over") << QVector<int>{16384, 16385} << "0-1,1-2" << -1;
    QTest::newRow("leading null rides along") << QVector<int>{0, 20000, 20000} << "0-2,2-3" << -1;
    QTest::newRow("null between") << QVector<int>{30000, 0, 2768, 1} << "0-3,3-4" << -1;
    QTest::newRow("only nulls") << QVector<int>{0, 0, 0} << "0-3" << -1;
    QTest::newRow("frame over the limit") << QVector<int>{100, 20000, 40000, 50000} << "" << 2;
}

void StitchWorkerTest::splitIsGreedyAndNeverCutsAFrame()
{
    QFETCH(QVector<int>, lengths);
    QFETCH(QString, segments);
    QFETCH(int, oversized);
    const SegmentSplit split = splitIntoSegments(lengths, 32768);
    QCOMPARE(split.oversizedFrame, oversized);
    if (oversized < 0)
        QCOMPARE(describe(split.segments), segments);
}

void StitchWorkerTest::rejectedBatchesFailWithTheirText_data()
{
    QTest::addColumn<QList<QImage>>("frames");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("error");
    const QImage gray = patternFrame(3, 2, QImage::Format_Grayscale8, 1);
    const QImage tall = patternFrame(1, 32769, QImage::Format_Grayscale8, 2);
    const QImage wide = patternFrame(40000, 1, QImage::Format_Grayscale8, 2);
    QTest::newRow("empty batch") << QList<QImage>{} << 0 << "PNG"
                                 << "No frames to save!";
    QTest::newRow("only null frames") << QList<QImage>{QImage(), QImage()} << 0 << "PNG"
                                      << "No valid frames to stitch!";
    QTest::newRow("too tall for Left") << QList<QImage>{gray, tall} << 0 << "jpg"
                                       << "Stitched image height too large for jpg: 32769 > 32768";
    QTest::newRow("too wide for Top") << QList<QImage>{wide} << 3 << "Tiff"
                                      << "Stitched image height too large for Tiff: 40000 > 32768";
    QTest::newRow("one frame too long for Right")
        << QList<QImage>{gray, wide} << 1 << "BMP"
        << "A single frame is too wide for BMP (40000 px > 32768 px).";
    QTest::newRow("one frame too long for Bottom")
        << QList<QImage>{gray, tall} << 2 << "png"
        << "A single frame is too wide for png (32769 px > 32768 px).";
    // A hand-edited setting.ini may hold anything; the name is shown as typed.
    QTest::newRow("placeholders in the format name, too tall")
        << QList<QImage>{gray, tall} << 0 << "A%1B%2%3"
        << "Stitched image height too large for A%1B%2%3: 32769 > 32768";
    QTest::newRow("placeholders in the format name, too long")
        << QList<QImage>{gray, wide} << 1 << "%2x%1"
        << "A single frame is too wide for %2x%1 (40000 px > 32768 px).";
}

void StitchWorkerTest::rejectedBatchesFailWithTheirText()
{
    QFETCH(QList<QImage>, frames);
    QFETCH(int, direction);
    QFETCH(QString, format);
    QFETCH(QString, error);
    const StitchRun result = run(frames, direction, format);
    QCOMPARE(result.failures, QStringList{error});
    QCOMPARE(result.finishedCount, 0);
    QVERIFY(result.progress.isEmpty());
    QVERIFY(QDir(m_out->path()).entryList(QDir::Files).isEmpty());
}

void StitchWorkerTest::rejectedFileListsFailWithTheirText_data()
{
    // A negative size stands for a missing file; %1 in the text is the last path.
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::addColumn<int>("thrown");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("error");
    QTest::newRow("missing file") << QList<QSize>{QSize(-1, -1)} << 0 << "PNG"
                                  << "No valid frames to stitch!";
    QTest::newRow("file too wide") << QList<QSize>{QSize(10, 1), QSize(33000, 1)} << 0 << "Png"
                                   << "A single frame is too wide for Png (33000 px > 32768 px).\nFile: %1";
    QTest::newRow("standard exception") << QList<QSize>{QSize(4, 4)} << 1 << "PNG"
                                        << "Exception occurred: disk went away";
    QTest::newRow("out of memory") << QList<QSize>{QSize(4, 4)} << 2 << "PNG"
                                   << "Exception occurred: std::bad_alloc";
    QTest::newRow("other exception") << QList<QSize>{QSize(4, 4)} << 3 << "PNG"
                                     << "Unknown exception occurred!";
}

void StitchWorkerTest::rejectedFileListsFailWithTheirText()
{
    QFETCH(QList<QSize>, sizes);
    QFETCH(int, thrown);
    QFETCH(QString, format);
    QFETCH(QString, error);
    QStringList paths;
    for (const QSize &size : sizes) {
        if (size.width() < 0)
            paths << m_in->filePath(QStringLiteral("missing.png"));
        else
            paths << writeFrame(QStringLiteral("f%1.png").arg(paths.size()),
                                patternFrame(size.width(), size.height(), QImage::Format_Grayscale8, 1));
    }
    if (thrown) {
        m_worker.setFrameFileReader([thrown](const QString &) -> QImage {
            if (thrown == 1)
                throw std::runtime_error("disk went away");
            if (thrown == 2)
                throw std::bad_alloc();
            throw 42;
        });
    }
    const StitchRun result = runFiles(paths, 0, format);
    QCOMPARE(result.failures,
             QStringList{error.contains(QLatin1String("%1")) ? error.arg(paths.last()) : error});
    QCOMPARE(result.finishedCount, 0);
    QVERIFY(QDir(m_out->path()).entryList(QDir::Files).isEmpty());
}

void StitchWorkerTest::framesArePlacedByDirectionPixelForPixel_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("format");
    QTest::newRow("Left PNG") << 0 << "PNG";
    QTest::newRow("Right BMP") << 1 << "BMP";
    QTest::newRow("Bottom TIFF") << 2 << "TIFF";
    QTest::newRow("Top PNG") << 3 << "PNG";
    QTest::newRow("unknown -1 BMP") << -1 << "BMP";
    QTest::newRow("unknown 7 TIFF") << 7 << "TIFF";
}

void StitchWorkerTest::framesArePlacedByDirectionPixelForPixel()
{
    QFETCH(int, direction);
    QFETCH(QString, format);
    // Unequal sizes: the rest of the cross side must stay black.
    const QList<QImage> frames
        = {patternFrame(5, 4, QImage::Format_RGB888, 1), patternFrame(3, 6, QImage::Format_RGB888, 2),
           patternFrame(4, 2, QImage::Format_RGB888, 3)};
    const bool horizontal = direction == 0 || direction == 1;
    QList<QImage> placed = frames;
    if (direction == 1 || direction == 3)
        std::reverse(placed.begin(), placed.end());
    const StitchRun result = run(frames, direction, format);
    QVERIFY2(result.failures.isEmpty(), qPrintable(result.failures.value(0)));
    QCOMPARE(result.progress, (QList<QPair<int, int>>{{1, 1}}));
    QCOMPARE(result.files.size(), 1);
    QCOMPARE(readRgb(result.files.first()), placedFrames(placed, horizontal));
}

void StitchWorkerTest::grayFramesGiveGrayFilesUnlessOneIsColour_data()
{
    QTest::addColumn<int>("otherFormat");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::newRow("gray and mono") << int(QImage::Format_Mono) << 8;
    QTest::newRow("gray and indexed") << int(QImage::Format_Indexed8) << 8;
    QTest::newRow("gray and 32-bit rgb") << int(QImage::Format_RGB32) << 24;
}

void StitchWorkerTest::grayFramesGiveGrayFilesUnlessOneIsColour()
{
    QFETCH(int, otherFormat);
    QFETCH(int, bitsPerPixel);
    // Two segments, the other frame only in the second: the first follows it.
    const QList<QImage> frames = {patternFrame(20000, 3, QImage::Format_Grayscale8, 1),
                                  patternFrame(20000, 3, QImage::Format(otherFormat), 2)};
    const StitchRun result = run(frames, 0, QStringLiteral("BMP"));
    QCOMPARE(result.files.size(), 2);
    const QImage::Format expected = bitsPerPixel == 8 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    for (int i = 0; i < 2; ++i) {
        QFile file(result.files.at(i));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray header = file.read(30);
        QCOMPARE(int(uchar(header.at(28))) | int(uchar(header.at(29))) << 8, bitsPerPixel);
        QCOMPARE(QImage(result.files.at(i)).convertToFormat(expected),
                 frames.at(i).convertToFormat(expected));
    }
}

void StitchWorkerTest::nullFramesAreSkippedWithoutAnEmptySegment()
{
    const QImage a = patternFrame(6, 3, QImage::Format_RGB888, 1);
    const QImage b = patternFrame(4, 3, QImage::Format_RGB888, 2);
    const StitchRun result = run({QImage(), a, QImage(), b, QImage()}, 0);
    QCOMPARE(result.progress, (QList<QPair<int, int>>{{1, 1}}));
    QCOMPARE(result.files.size(), 1);
    QCOMPARE(readRgb(result.files.first()), placedFrames({a, b}, true));
}

void StitchWorkerTest::unwritableFolderFailsWithPathAndReason()
{
    // A regular file where the folder should be: creating it fails even for
    // root, and the reason is the one the folder gave.
    const QString folder = writeFrame(QStringLiteral("blocker"), patternFrame(1, 1, QImage::Format_RGB888, 1))
        + QStringLiteral("/out");
    const StitchRun result
        = run({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 0, QStringLiteral("PNG"), folder);
    QCOMPARE(result.finishedCount, 0);
    QVERIFY(result.progress.isEmpty());
    QCOMPARE(result.failures.size(), 1);
    const QRegularExpression message(
        QStringLiteral(
            "^Failed to save image:\n%1/Stitched_Left_\\d{8}_\\d{6}_\\d{3}\\.png\nReason: Not a directory$")
            .arg(QRegularExpression::escape(folder)));
    QVERIFY2(message.match(result.failures.first()).hasMatch(), qPrintable(result.failures.first()));
}

void StitchWorkerTest::fileListIsSplitIntoNumberedPartsInRotationOrder_data()
{
    QTest::addColumn<int>("rotateClockwise");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<QList<int>>>("parts");
    QTest::newRow("0 keeps list order, two parts") << 0 << 10000 << QList<QList<int>>{{0, 1, 2}, {3, 4}};
    QTest::newRow("1 reverses") << 1 << 6000 << QList<QList<int>>{{4, 3, 2, 1, 0}};
    QTest::newRow("-3 reverses") << -3 << 6000 << QList<QList<int>>{{4, 3, 2, 1, 0}};
}

void StitchWorkerTest::fileListIsSplitIntoNumberedPartsInRotationOrder()
{
    QFETCH(int, rotateClockwise);
    QFETCH(int, width);
    QFETCH(QList<QList<int>>, parts);
    QStringList paths;
    QList<QImage> frames;
    for (int i = 0; i < 5; ++i) {
        frames << patternFrame(width, 2, QImage::Format_RGB888, i);
        // A misleading extension: the format is read from the content.
        paths << writeFrame(QStringLiteral("f%1.%2").arg(i).arg(i == 1 ? "jpg" : "png"), frames.last());
    }
    // A text file and an empty path among them are skipped.
    QFile text(m_in->filePath(QStringLiteral("notes.png")));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a picture") > 0);
    text.close();
    paths.insert(2, text.fileName());
    paths.insert(4, QString());

    const StitchRun result = runFiles(paths, rotateClockwise, QStringLiteral("bmp"));
    QVERIFY2(result.failures.isEmpty(), qPrintable(result.failures.value(0)));
    QCOMPARE(result.progress.size(), parts.size());
    QCOMPARE(result.files.size(), parts.size());
    const QString part = parts.size() > 1 ? QStringLiteral("_part0(\\d)") : QString();
    const QRegularExpression name(
        QStringLiteral("^RotatedStitched_CamA_SN0042_\\d{8}_\\d{6}_\\d{3}%1\\.bmp$").arg(part));
    for (int i = 0; i < parts.size(); ++i) {
        const QRegularExpressionMatch match = name.match(QFileInfo(result.files.at(i)).fileName());
        QVERIFY2(match.hasMatch(), qPrintable(result.files.at(i)));
        QCOMPARE(match.captured(1).toInt(), parts.size() > 1 ? i + 1 : 0);
        QList<QImage> placed;
        for (int index : parts.at(i))
            placed << frames.at(index);
        QCOMPARE(readRgb(result.files.at(i)), placedFrames(placed, true));
    }
}

void StitchWorkerTest::fileDeletedAfterTheSurveyLeavesBlackAtTheEnd()
{
    const QList<QImage> frames
        = {patternFrame(5, 3, QImage::Format_RGB888, 1), patternFrame(4, 3, QImage::Format_RGB888, 2),
           patternFrame(6, 3, QImage::Format_RGB888, 3)};
    QStringList paths;
    for (int i = 0; i < frames.size(); ++i)
        paths << writeFrame(QStringLiteral("f%1.png").arg(i), frames.at(i));
    // The survey reads every file once; the middle one is deleted right after it.
    int reads = 0;
    m_worker.setFrameFileReader([&](const QString &path) {
        const QImage image = readFrameFile(path);
        if (++reads == paths.size())
            QFile::remove(paths.at(1));
        return image;
    });
    const StitchRun result = runFiles(paths, 0);
    QCOMPARE(reads, 6);
    QCOMPARE(result.files.size(), 1);
    QImage black(4, 3, QImage::Format_RGB888);
    black.fill(0);
    const QImage written = readRgb(result.files.first());
    QCOMPARE(written.size(), QSize(15, 3));
    QCOMPARE(written.copy(0, 0, 11, 3), placedFrames({frames.at(0), frames.at(2)}, true));
    QCOMPARE(written.copy(11, 0, 4, 3), black);
}

QTEST_GUILESS_MAIN(StitchWorkerTest)
#include "tst_stitchworker.moc"
