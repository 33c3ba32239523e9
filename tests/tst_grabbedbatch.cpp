// Batches kept as grabbed: gray Mono8 frames and no turn until a strip or a
// preview is composed. Everything is checked against the path it replaces:
// frames widened to RGB as the camera library does, turned with Qt, and
// handed to the stitch worker already turned.
#include <QTemporaryDir>
#include <QtTest>

#include "composer.h"
#include "framebudget.h"
#include "frameimage.h"
#include "framekind.h"
#include "frameturn.h"
#include "preview.h"
#include "segmentpicture.h"
#include "stitchworker.h"
#include "patternframe.h"
#include "turnedcopy.h"

#include <cstring>

namespace {

// What the camera library makes of a Mono8 frame: every byte in all three
// channels. Written out by hand so that the check does not lean on the code
// under test nor on Qt's conversions.
QImage widenedToRgb(const QImage &gray)
{
    QImage rgb(gray.size(), QImage::Format_RGB888);
    for (int y = 0; y < gray.height(); ++y) {
        const uchar *s = gray.constScanLine(y);
        uchar *d = rgb.scanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
    }
    return rgb;
}

QImage grayPattern(int width, int height, int seed)
{
    return patternFrame(width, height, QImage::Format_Grayscale8, seed);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct SaveResult {
    QStringList files;
    QString error;
};

// Runs one save on a worker in this thread; `save` calls one of its slots.
template<typename F>
SaveResult runSave(F save)
{
    StitchWorker worker;
    SaveResult result;
    QObject::connect(&worker, &StitchWorker::finished,
                     [&](const QStringList &files) { result.files = files; });
    QObject::connect(&worker, &StitchWorker::failed, [&](const QString &text) { result.error = text; });
    save(worker);
    return result;
}

enum Kind { MarkedMono, TrulyGray, Mixed };

} // namespace

class TestGrabbedBatch : public QObject
{
    Q_OBJECT

private slots:
    void turnedRowsEqualTheTurnedFrame_data();
    void turnedRowsEqualTheTurnedFrame();
    void sampledTurnReadsTheTurnedFrame_data();
    void sampledTurnReadsTheTurnedFrame();
    void sourcePartTurnsIntoTheTurnedPart_data();
    void sourcePartTurnsIntoTheTurnedPart();
    void stripsOfTurnedFramesEqualTheCanvasOfTurnedFrames_data();
    void stripsOfTurnedFramesEqualTheCanvasOfTurnedFrames();
    void theRgbMarkTravelsWithTheFrameAndDecidesTheFileKind();
    void mono8FeedIsAMarkedGrayCopyOfTheRawBytes();
    void feedFramesAreChargedWhatTheyHold();
    void grabbedBatchWritesTheFileOfTheTurnedBatch_data();
    void grabbedBatchWritesTheFileOfTheTurnedBatch();
    void previewOfTheGrabbedBatchIsThePreviewOfTheTurnedBatch_data();
    void previewOfTheGrabbedBatchIsThePreviewOfTheTurnedBatch();
};

void TestGrabbedBatch::turnedRowsEqualTheTurnedFrame_data()
{
    QTest::addColumn<int>("angle");
    QTest::addColumn<int>("source"); // QImage::Format
    QTest::addColumn<int>("targetBytes");
    for (int angle : {0, 90, -90, 180, 270}) {
        QTest::addRow("%d gray into gray", angle) << angle << int(QImage::Format_Grayscale8) << 1;
        QTest::addRow("%d gray into rgb", angle) << angle << int(QImage::Format_Grayscale8) << 3;
        QTest::addRow("%d rgb into rgb", angle) << angle << int(QImage::Format_RGB888) << 3;
    }
}

// Bands of every height starting anywhere, clipped to fewer columns: the
// same bytes as those rows of Qt's turned frame in the target's format.
// Odd sizes and a frame wider than a tile of source rows.
void TestGrabbedBatch::turnedRowsEqualTheTurnedFrame()
{
    QFETCH(int, angle);
    QFETCH(int, source);
    QFETCH(int, targetBytes);
    const QImage gray = grayPattern(150, 71, 3);
    const QImage frame
        = source == QImage::Format_Grayscale8 ? gray : patternFrame(150, 71, QImage::Format_RGB888, 3);
    QVERIFY(copiesTurnedDirectly(frame.format(), targetBytes));
    QImage turned = rotateFrame(frame, angle);
    if (targetBytes == 3)
        turned = source == QImage::Format_Grayscale8 ? widenedToRgb(turned) : turned;
    QCOMPARE(turnedSize(frame.size(), angle), turned.size());
    const qsizetype stride = qsizetype(turned.width()) * targetBytes + 5;
    for (const QPair<int, int> &band : {qMakePair(0, turned.height()), qMakePair(0, 1), qMakePair(7, 13),
                                        qMakePair(5, 40), qMakePair(turned.height() - 3, 3)}) {
        for (int columns : {turned.width(), 1, turned.width() - 17}) {
            QByteArray out(int(stride * band.second), char(0x5a));
            copyTurnedRows(frame, angle, band.first, band.second, columns,
                           reinterpret_cast<uchar *>(out.data()), stride, targetBytes);
            for (int r = 0; r < band.second; ++r) {
                const QByteArray expected(
                    reinterpret_cast<const char *>(turned.constScanLine(band.first + r)),
                    columns * targetBytes);
                QVERIFY2(out.mid(int(r * stride), columns * targetBytes) == expected,
                         qPrintable(QStringLiteral("row %1 of band at %2, %3 columns")
                                        .arg(r)
                                        .arg(band.first)
                                        .arg(columns)));
                // Nothing beyond the requested columns is touched.
                QCOMPARE(out.at(int(r * stride + columns * targetBytes)), char(0x5a));
            }
        }
    }
}

void TestGrabbedBatch::sampledTurnReadsTheTurnedFrame_data()
{
    QTest::addColumn<int>("angle");
    for (int angle : {0, 90, -90, 180})
        QTest::addRow("%d", angle) << angle;
}

// Any choice of turned columns and rows, repeated and out of order included,
// reads exactly those pixels of the turned frame.
void TestGrabbedBatch::sampledTurnReadsTheTurnedFrame()
{
    QFETCH(int, angle);
    const QImage frame = patternFrame(97, 130, QImage::Format_RGB888, 5);
    const QImage turned = rotateFrame(frame, angle);
    QVector<int> columns, rows;
    for (int x = 0; x < turned.width(); x += 3)
        columns << (x * 7) % turned.width();
    columns << turned.width() - 1 << 0 << 0;
    for (int y = turned.height() - 1; y >= 0; y -= 5)
        rows << y;
    QImage out(columns.size(), rows.size(), QImage::Format_RGB888);
    sampleTurned(frame, angle, columns.constData(), columns.size(), rows.constData(), rows.size(), out.bits(),
                 out.bytesPerLine(), 3);
    for (int y = 0; y < rows.size(); ++y)
        for (int x = 0; x < columns.size(); ++x)
            QCOMPARE(out.pixel(x, y), turned.pixel(columns[x], rows[y]));
}

void TestGrabbedBatch::sourcePartTurnsIntoTheTurnedPart_data()
{
    QTest::addColumn<int>("angle");
    QTest::addColumn<QRect>("part");
    for (int angle : {0, 90, -90, 180}) {
        QTest::addRow("%d, corner", angle) << angle << QRect(0, 0, 5, 4);
        QTest::addRow("%d, inside", angle) << angle << QRect(3, 8, 11, 6);
        QTest::addRow("%d, one row", angle) << angle << QRect(2, 14, 9, 1);
    }
}

// The part of a frame that becomes a part of the turned frame, turned alone,
// is that part: frames of other formats are converted piece by piece.
void TestGrabbedBatch::sourcePartTurnsIntoTheTurnedPart()
{
    QFETCH(int, angle);
    QFETCH(QRect, part);
    const QImage frame = patternFrame(17, 25, QImage::Format_RGB888, 2);
    const QImage turned = rotateFrame(frame, angle);
    QVERIFY(turned.rect().contains(part));
    const QRect source = sourceRectOfTurned(part, frame.size(), angle);
    QVERIFY(frame.rect().contains(source));
    QCOMPARE(rotateFrame(frame.copy(source), angle), turned.copy(part));
}

void TestGrabbedBatch::stripsOfTurnedFramesEqualTheCanvasOfTurnedFrames_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("gray");
    for (int direction = 0; direction < 4; ++direction) {
        QTest::addRow("dir %d, colour picture", direction) << direction << false;
        QTest::addRow("dir %d, gray picture", direction) << direction << true;
    }
}

// Frames of any format and size, turned as they are composed, give the rows
// of the canvas the turned frames were drawn on (converted with Qt where the
// turned copy cannot read them directly), in strips that cut through frames.
void TestGrabbedBatch::stripsOfTurnedFramesEqualTheCanvasOfTurnedFrames()
{
    QFETCH(int, direction);
    QFETCH(bool, gray);
    QList<QImage> frames;
    if (gray)
        frames = {grayPattern(21, 17, 1), patternFrame(18, 13, QImage::Format_Indexed8, 2),
                  patternFrame(33, 5, QImage::Format_Mono, 3), grayPattern(19, 40, 4)};
    else
        frames
            = {patternFrame(21, 17, QImage::Format_RGB32, 1), grayPattern(18, 13, 2),
               patternFrame(33, 5, QImage::Format_ARGB32, 3), patternFrame(19, 40, QImage::Format_RGB888, 4)};
    const bool horizontal = isHorizontalDirection(direction);
    const int angle = turnAngleForDirection(direction);
    SegmentPicture picture;
    picture.gray = gray;
    picture.horizontal = horizontal;
    int length = 0, cross = 0;
    for (const QImage &frame : frames) {
        const QSize size = turnedSize(frame.size(), angle);
        length += horizontal ? size.width() : size.height();
        cross = std::max(cross, horizontal ? size.height() : size.width());
        picture.append(frame, angle);
    }
    picture.width = horizontal ? length : cross;
    picture.height = horizontal ? cross : length;
    QImage expected = createCanvas(picture.width, picture.height,
                                   gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    int offset = 0;
    for (const QImage &frame : frames)
        offset = drawFrame(expected, rotateFrame(frame, angle), offset, horizontal);
    for (int stripRows : {1, 6, 16, picture.height}) {
        QImage composed(picture.width, picture.height, expected.format());
        composed.fill(Qt::white);
        for (int first = 0; first < picture.height; first += stripRows)
            composeRows(picture, first, stripRows, composed.scanLine(first), composed.bytesPerLine());
        QVERIFY2(composed == expected, qPrintable(QStringLiteral("strips of %1 rows").arg(stripRows)));
    }
}

// The mark survives what the program does with a frame (shared and deep
// copies, lists, queued signals) and is the only thing that makes a gray
// frame stitch as RGB.
void TestGrabbedBatch::theRgbMarkTravelsWithTheFrameAndDecidesTheFileKind()
{
    const QImage gray = grayPattern(6, 4, 1);
    const QImage marked = markedAsRgb(gray);
    QVERIFY(grayStandsForRgb(marked));
    QVERIFY(!grayStandsForRgb(gray)); // the original is untouched
    QVERIFY(stitchesAsGray(gray));
    QVERIFY(!stitchesAsGray(marked));
    QCOMPARE(marked, gray); // same pixels
    QVERIFY(grayStandsForRgb(QList<QImage>{marked}.first()));
    QVERIFY(grayStandsForRgb(marked.copy()));
    QVERIFY(grayStandsForRgb(QVariant::fromValue(marked).value<QImage>()));
    // Only gray can stand for RGB.
    const QImage rgb = markedAsRgb(patternFrame(6, 4, QImage::Format_RGB888, 1));
    QVERIFY(!grayStandsForRgb(rgb));
    QVERIFY(!stitchesAsGray(rgb));
    QVERIFY(stitchesAsGray(patternFrame(6, 4, QImage::Format_Indexed8, 1)));

    QCOMPARE(surveyFrames({gray, gray}).gray, true);
    QCOMPARE(surveyFrames({gray, marked}).gray, false);
    QCOMPARE(surveyFrames({marked, marked}).gray, false);
    // The survey measures frames as they will lie, turned.
    const FrameSurvey turned = surveyFrames({grayPattern(6, 4, 1), grayPattern(6, 3, 2)}, -90);
    QCOMPARE(turned.widths, (QVector<qint32>{4, 3}));
    QCOMPARE(turned.heights, (QVector<qint32>{6, 6}));
    QCOMPARE(turned.maxHeight, 6);
}

// The stitch feed's image of a frame: a converted Mono8 frame becomes a marked
// gray copy of its bytes (independent of the raw buffer, which the grab thread
// reuses); a Mono8 frame the library could not convert stays plain gray; any
// other frame is the image the live view gets.
void TestGrabbedBatch::mono8FeedIsAMarkedGrayCopyOfTheRawBytes()
{
    const int width = 7, height = 3;
    QByteArray raw(width * height, 0);
    for (int i = 0; i < raw.size(); ++i)
        raw[i] = char(i * 11);
    MV_FRAME_OUT_INFO_EX info;
    std::memset(&info, 0, sizeof info);
    info.nWidth = width;
    info.nHeight = height;
    info.nFrameLen = unsigned(raw.size());
    info.enPixelType = PixelType_Gvsp_Mono8;
    const uchar *bytes = reinterpret_cast<const uchar *>(raw.constData());

    const QImage converted = rgbImageFromPacked(
        reinterpret_cast<const uchar *>(QByteArray(width * height * 3, char(1)).constData()),
        width * height * 3, width, height);
    const QImage fed = stitchFeedImage(converted, bytes, info);
    QCOMPARE(fed.format(), QImage::Format_Grayscale8);
    QVERIFY(grayStandsForRgb(fed));
    QCOMPARE(fed.size(), QSize(width, height));
    raw.fill(char(0xff)); // the grab thread's next frame
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            QCOMPARE(int(fed.constScanLine(y)[x]), (y * width + x) * 11 % 256);
    QCOMPARE(stitchFeedDepth(info.enPixelType), fed.depth());

    const QImage fallback = grayImageFromBytes(bytes, quint64(raw.size()), width, height);
    QVERIFY(!grayStandsForRgb(stitchFeedImage(fallback, bytes, info)));
    QCOMPARE(stitchFeedImage(fallback, bytes, info), fallback);

    info.enPixelType = PixelType_Gvsp_BayerRG8;
    QCOMPARE(stitchFeedImage(converted, bytes, info), converted);
    QCOMPARE(stitchFeedDepth(info.enPixelType), 24);
    info.enPixelType = PixelType_Gvsp_Mono8;
    info.nFrameLen = unsigned(raw.size() - 1); // too short: no copy rather than a read past the end
    QVERIFY(stitchFeedImage(converted, bytes, info).isNull());
}

// What a frame costs in the budget is what its image holds, lines padded to
// four bytes: a gray 4096-pixel frame a third of an RGB one. A reservation no
// frame takes goes back whole, from the queue too.
void TestGrabbedBatch::feedFramesAreChargedWhatTheyHold()
{
    QCOMPARE(frameImageBytes(4096, 1024, 8), qint64(4096) * 1024);
    QCOMPARE(frameImageBytes(4096, 1024, 8) * 3, frameImageBytes(4096, 1024, 24));
    for (const QImage &image : {QImage(5, 3, QImage::Format_Grayscale8), QImage(5, 3, QImage::Format_RGB888),
                                QImage(4099, 2, QImage::Format_Grayscale8)})
        QCOMPARE(frameImageBytes(image.width(), image.height(), image.depth()), qint64(image.sizeInBytes()));

    FrameBudget budget(1000, 400);
    QVERIFY(budget.reserveQueued(300));
    QVERIFY(budget.reserveQueued(100));
    budget.dequeued(300); // the first frame joins the batch
    budget.unreserveQueued(100);
    QCOMPARE(budget.queued(), qint64(0));
    QCOMPARE(budget.inFlight(), qint64(300));
    budget.unreserveQueued(50); // nothing queued: nothing to give back
    QCOMPARE(budget.inFlight(), qint64(300));
}

void TestGrabbedBatch::grabbedBatchWritesTheFileOfTheTurnedBatch_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("kind");
    for (const char *format : {"BMP", "JPG", "PNG", "TIFF"}) {
        for (int direction = 0; direction < 4; ++direction) {
            for (int total : {32767, 32768, 32769})
                QTest::addRow("%s dir %d %d px mono", format, direction, total)
                    << QString::fromLatin1(format) << direction << total << int(MarkedMono);
            QTest::addRow("%s dir %d gray", format, direction)
                << QString::fromLatin1(format) << direction << 3000 << int(TrulyGray);
            QTest::addRow("%s dir %d mixed", format, direction)
                << QString::fromLatin1(format) << direction << 3000 << int(Mixed);
        }
    }
}

// The same files, byte for byte, as the worker writes of the batch turned by
// the window and widened to RGB by the camera library: three camera frames
// of unequal line counts (the last one partial, also narrower), summing to
// just under, exactly and just over the segment limit. A gray batch the
// library could not convert stays gray; one converted frame among them makes
// the file RGB, as it always did.
void TestGrabbedBatch::grabbedBatchWritesTheFileOfTheTurnedBatch()
{
    QFETCH(QString, format);
    QFETCH(int, direction);
    QFETCH(int, total);
    QFETCH(int, kind);
    const int lines[3] = {total * 3 / 8, total * 5 / 16, total - total * 3 / 8 - total * 5 / 16};
    const int widths[3] = {9, 9, 6};
    QList<QImage> grabbed, turned;
    for (int i = 0; i < 3; ++i) {
        const QImage gray = grayPattern(widths[i], lines[i], i + 1);
        const bool converted = kind == MarkedMono || (kind == Mixed && i == 1);
        grabbed << (converted ? markedAsRgb(gray) : gray);
        turned << turnFrameForDirection(converted ? widenedToRgb(gray) : gray, direction);
    }
    const int angle = turnAngleForDirection(direction);
    QTemporaryDir today, now;
    const SaveResult expected = runSave([&](StitchWorker &worker) {
        worker.saveStitchImages(turned, direction, today.path(), "M", "S", 4, format, 90, 6);
    });
    const SaveResult actual = runSave([&](StitchWorker &worker) {
        worker.saveGrabbedImages(grabbed, angle, direction, now.path(), "M", "S", 4, format, 90, 6);
    });
    QVERIFY2(expected.error.isEmpty(), qPrintable(expected.error));
    QVERIFY2(actual.error.isEmpty(), qPrintable(actual.error));
    QCOMPARE(actual.files.size(), total > 32768 ? 2 : 1);
    QCOMPARE(actual.files.size(), expected.files.size());
    for (int s = 0; s < actual.files.size(); ++s) {
        QCOMPARE(QFileInfo(actual.files[s]).fileName().left(24),
                 QFileInfo(expected.files[s]).fileName().left(24));
        const QByteArray bytes = fileBytes(actual.files[s]);
        QVERIFY(!bytes.isEmpty());
        QVERIFY2(bytes == fileBytes(expected.files[s]), qPrintable(actual.files[s]));
        const QImage back(actual.files[s]);
        QCOMPARE(isGrayFormat(back.format()), kind == TrulyGray);
    }
}

void TestGrabbedBatch::previewOfTheGrabbedBatchIsThePreviewOfTheTurnedBatch_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<qint64>("maxPixels");
    QTest::addColumn<bool>("colour"); // a colour camera's frames rather than gray ones
    for (int direction = 0; direction < 4; ++direction) {
        for (qint64 maxPixels : {qint64(0), qint64(3000)}) {
            QTest::addRow("dir %d, %s, gray", direction, maxPixels ? "bounded" : "full")
                << direction << maxPixels << false;
            QTest::addRow("dir %d, %s, colour", direction, maxPixels ? "bounded" : "full")
                << direction << maxPixels << true;
        }
    }
}

// The stitch view shows the same picture: same place, same size, same pixels
// (a Mono8 batch's picture is gray, the pixels of its RGB one).
void TestGrabbedBatch::previewOfTheGrabbedBatchIsThePreviewOfTheTurnedBatch()
{
    QFETCH(int, direction);
    QFETCH(qint64, maxPixels);
    QFETCH(bool, colour);
    QList<QImage> grabbed, turned;
    for (int i = 0; i < 4; ++i) {
        const QImage gray = grayPattern(i == 3 ? 31 : 37, i == 3 ? 11 : 23, i + 1);
        const QImage frame = colour ? patternFrame(gray.width(), gray.height(), QImage::Format_RGB888, i + 1)
                                    : markedAsRgb(gray);
        grabbed << frame;
        turned << turnFrameForDirection(colour ? frame : widenedToRgb(gray), direction);
    }
    const ComposedPreview expected = composePreview(turned, direction, maxPixels);
    const ComposedPreview actual
        = composePreview(grabbed, direction, maxPixels, turnAngleForDirection(direction));
    QVERIFY(!actual.picture.isNull());
    QCOMPARE(actual.topLeft, expected.topLeft);
    QCOMPARE(actual.fullSize, expected.fullSize);
    QCOMPARE(actual.picture.format(), colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    QCOMPARE(actual.picture.convertToFormat(QImage::Format_RGB888), expected.picture);
    QCOMPARE(placeFrames(grabbed, direction, turnAngleForDirection(direction)),
             placeFrames(turned, direction));
}

QTEST_MAIN(TestGrabbedBatch)
#include "tst_grabbedbatch.moc"
