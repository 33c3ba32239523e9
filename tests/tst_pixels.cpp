// Every path a grabbed pixel takes to a picture — the worker's saves of
// batches and of frame files, the strips the encoders are fed, the batch
// preview and the turned copies beneath them — against one canvas the test
// lays out itself, pixel by pixel, from where each direction must put them.
#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include "composer.h"
#include "framebudget.h"
#include "frameimage.h"
#include "framekind.h"
#include "frameturn.h"
#include "patternframe.h"
#include "preview.h"
#include "referencecanvas.h"
#include "segmentpicture.h"
#include "stitchworker.h"
#include "turnedcopy.h"
#include "viewmath.h"

#include <cstring>

namespace {

enum Kind { Colour, MarkedMono, TrulyGray, Mixed };

bool isGrayPicture(const QImage &image)
{
    return image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Indexed8;
}

QImage decoded(const QString &path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.read();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What Qt's own JPEG encoder makes of a picture at quality 90.
QByteArray qtJpeg(const QImage &picture)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(90);
    return writer.write(picture) ? buffer.data() : QByteArray();
}

// The file holds the canvas: the very bytes of Qt's encoder for JPEG, the
// very pixels for the lossless formats, gray exactly when the batch was.
QString fileDiffers(const QString &file, const QImage &canvas, bool gray)
{
    const QImage back = decoded(file);
    if (back.isNull())
        return QStringLiteral("unreadable: ") + file;
    if (isGrayPicture(back) != gray)
        return QStringLiteral("gray %1, expected %2").arg(isGrayPicture(back)).arg(gray);
    if (file.endsWith(QLatin1String(".jpg"))) {
        const QImage source = gray ? canvas.convertToFormat(QImage::Format_Grayscale8) : canvas;
        return fileBytes(file) == qtJpeg(source) ? QString() : QStringLiteral("not Qt's JPEG of the canvas");
    }
    return difference(back, canvas);
}

// A coordinate of the full picture on one reduced to `reduced` pixels.
int scaledDown(int v, int full, int reduced)
{
    return int(qint64(v) * reduced / full);
}

struct Saved {
    QStringList files;
    QString error;
};

// One save on a worker of this thread, once it has reported.
template<typename F>
Saved runSave(F save, int maxDimension = 32768)
{
    StitchWorker worker;
    worker.maxDimension = maxDimension;
    Saved saved{{}, QStringLiteral("no report")};
    QObject::connect(&worker, &StitchWorker::finished, [&](const QStringList &files) {
        saved = {files, {}};
    });
    QObject::connect(&worker, &StitchWorker::failed, [&](const QString &text) { saved = {{}, text}; });
    save(worker);
    // A save that never reports keeps "no report" as its error.
    static_cast<void>(QTest::qWaitFor([&] { return saved.error != QLatin1String("no report"); }, 20000));
    return saved;
}

} // namespace

class TestPixels : public QObject
{
    Q_OBJECT

private slots:

    void savedBatchHoldsTheCanvas_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("kind");
        for (const char *format : {"BMP", "JPG", "PNG", "TIFF"}) {
            for (int direction = 0; direction < 4; ++direction) {
                for (int total : {32767, 32768, 32769}) {
                    QTest::addRow("%s dir %d %d px colour", format, direction, total)
                        << QString::fromLatin1(format) << direction << total << int(Colour);
                    QTest::addRow("%s dir %d %d px mono8", format, direction, total)
                        << QString::fromLatin1(format) << direction << total << int(MarkedMono);
                }
                QTest::addRow("%s dir %d gray", format, direction)
                    << QString::fromLatin1(format) << direction << 3000 << int(TrulyGray);
                QTest::addRow("%s dir %d mixed", format, direction)
                    << QString::fromLatin1(format) << direction << 3000 << int(Mixed);
            }
        }
    }

    // A batch as grabbed — three frames of unequal line counts, the last one
    // narrower, summing to just under, exactly and just over the segment limit —
    // saved by the worker turning it for the direction: one file, or two split
    // between whole frames, each holding its frames laid out in time order along
    // the direction (Right and Top put the newest first). A Mono8 batch is
    // widened to RGB; gray the library could not convert stays gray, unless one
    // converted frame is among it.
    void savedBatchHoldsTheCanvas()
    {
        QFETCH(QString, format);
        QFETCH(int, direction);
        QFETCH(int, total);
        QFETCH(int, kind);
        const int lines[3] = {total * 3 / 8, total * 5 / 16, total - total * 3 / 8 - total * 5 / 16};
        const int widths[3] = {9, 9, 6};
        QList<QImage> grabbed;
        for (int i = 0; i < 3; ++i) {
            const QImage gray = patternFrame(widths[i], lines[i], QImage::Format_Grayscale8, i + 1);
            if (kind == Colour)
                grabbed << patternFrame(widths[i], lines[i], QImage::Format_RGB888, i + 1);
            else
                grabbed << (kind == MarkedMono || (kind == Mixed && i == 1) ? markedAsRgb(gray) : gray);
        }
        const int angle = direction == 0 ? -90 : direction == 1 ? 90 : direction == 3 ? 180 : 0;
        QCOMPARE(turnAngleForDirection(direction), angle);
        QTemporaryDir dir;
        const Saved saved = runSave([&](StitchWorker &worker) {
            worker.saveGrabbedImages(grabbed, angle, direction, dir.path(), "M", "S", 4, format, 90, 6);
        });
        QVERIFY2(saved.error.isEmpty(), qPrintable(saved.error));
        const QList<QList<int>> segments
            = total > 32768 ? QList<QList<int>>{{0, 1}, {2}} : QList<QList<int>>{{0, 1, 2}};
        QCOMPARE(saved.files.size(), segments.size());
        const bool reverse = direction == 1 || direction == 3;
        for (int s = 0; s < segments.size(); ++s) {
            QList<QImage> drawn;
            for (int i : segments[s])
                reverse ? drawn.prepend(grabbed[i]) : drawn.append(grabbed[i]);
            const QImage canvas = canvasOf(drawn, angle, direction < 2, 9);
            const QString failure = fileDiffers(saved.files[s], canvas, kind == TrulyGray);
            QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("segment %1: %2").arg(s).arg(failure)));
        }
    }

    void frameFileStitchHoldsTheCanvas_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("rotateClockwise");
        QTest::addColumn<bool>("gray");
        for (const char *format : {"PNG", "BMP", "JPG"})
            for (int rotate : {0, 1})
                for (bool gray : {false, true})
                    QTest::addRow("%s rotate %d %s", format, rotate, gray ? "gray" : "colour")
                        << QString::fromLatin1(format) << rotate << gray;
    }

    // Frame files joined side by side in list order, or last first within each
    // segment when asked to rotate, skipping an empty path; a limit of 40 pixels
    // cuts the three frames into two files.
    void frameFileStitchHoldsTheCanvas()
    {
        QFETCH(QString, format);
        QFETCH(int, rotateClockwise);
        QFETCH(bool, gray);
        QTemporaryDir dir;
        const QImage::Format frameFormat = gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
        const QList<QImage> frames{patternFrame(15, 11, frameFormat, 1), patternFrame(20, 7, frameFormat, 2),
                                   patternFrame(12, 9, QImage::Format_Grayscale8, 3)};
        QStringList paths;
        for (int i = 0; i < frames.size(); ++i) {
            paths << dir.filePath(QStringLiteral("frame%1.png").arg(i));
            QVERIFY(frames[i].save(paths.last(), "PNG"));
            if (i == 0)
                paths << QString();
        }
        const QString out = dir.filePath("out");
        const Saved saved = runSave(
            [&](StitchWorker &worker) {
                worker.saveStitch(paths, rotateClockwise, out, "M", "S", format, 90, 6);
            },
            40);
        QVERIFY2(saved.error.isEmpty(), qPrintable(saved.error));
        QCOMPARE(saved.files.size(), 2);
        const QList<QList<QImage>> segments{{frames[0], frames[1]}, {frames[2]}};
        for (int s = 0; s < 2; ++s) {
            QList<QImage> drawn = segments[s];
            if (rotateClockwise)
                std::reverse(drawn.begin(), drawn.end());
            const QString failure = fileDiffers(saved.files[s], canvasOf(drawn, 0, true, 11), gray);
            QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("segment %1: %2").arg(s).arg(failure)));
        }
    }

    void stripsHoldTheCanvasRows_data()
    {
        QTest::addColumn<int>("angle");
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<bool>("gray");
        QTest::addColumn<int>("tail"); // length beyond the frames: a frame vanished after the survey
        for (int angle : {0, 90, -90, 180})
            for (bool horizontal : {true, false})
                for (bool gray : {false, true})
                    QTest::addRow("%d %s %s", angle, horizontal ? "across" : "down", gray ? "gray" : "colour")
                        << angle << horizontal << gray << (angle == 90 ? 13 : 0);
    }

    // Frames of every format the stitch meets, composed in strips of any height
    // (edges inside frames, on their borders, past the last row) and upwards
    // with a negative stride as bottom-up files take them.
    void stripsHoldTheCanvasRows()
    {
        QFETCH(int, angle);
        QFETCH(bool, horizontal);
        QFETCH(bool, gray);
        QFETCH(int, tail);
        QList<QImage> frames;
        if (gray)
            frames = {
                patternFrame(21, 17, QImage::Format_Grayscale8, 1),
                patternFrame(18, 13, QImage::Format_Grayscale8, 2).convertToFormat(QImage::Format_Indexed8),
                patternFrame(33, 5, QImage::Format_Mono, 3),
                markedAsRgb(patternFrame(19, 40, QImage::Format_Grayscale8, 4))};
        else
            frames = {patternFrame(21, 17, QImage::Format_RGB32, 1),
                      patternFrame(18, 13, QImage::Format_Grayscale8, 2),
                      patternFrame(33, 5, QImage::Format_ARGB32, 3),
                      patternFrame(19, 40, QImage::Format_RGB888, 4)};
        SegmentPicture picture;
        picture.gray = gray;
        picture.horizontal = horizontal;
        int cross = 0;
        for (const QImage &frame : frames) {
            const QImage t = turnedByHand(frame, angle);
            cross = std::max(cross, horizontal ? t.height() : t.width());
            picture.append(frame, angle);
        }
        QImage expected = canvasOf(frames, angle, horizontal, cross, tail);
        if (gray)
            expected = expected.convertToFormat(QImage::Format_Grayscale8);
        picture.width = expected.width();
        picture.height = expected.height();
        const int height = picture.height;
        for (int stripRows : {1, 6, 16, height}) {
            QImage composed(picture.width, height, expected.format());
            composed.fill(Qt::white);
            for (int first = 0; first < height; first += stripRows)
                composeRows(picture, first, std::min(stripRows, height - first), composed.scanLine(first),
                            composed.bytesPerLine());
            const QString failure = difference(composed, expected);
            QVERIFY2(failure.isEmpty(),
                     qPrintable(QStringLiteral("strips of %1: %2").arg(stripRows).arg(failure)));
        }
        QImage upwards(picture.width, height, expected.format());
        upwards.fill(Qt::white);
        for (int first = 0; first < height; first += 5)
            composeRows(picture, first, std::min(5, height - first), upwards.scanLine(height - 1 - first),
                        -upwards.bytesPerLine());
        const QString failure = difference(upwards.mirrored(false, true), expected);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void previewShowsTheCanvas_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("layout"); // the direction the frames are laid out in
        QTest::addColumn<bool>("colour");
        for (int direction = 0; direction < 4; ++direction)
            for (bool colour : {false, true})
                QTest::addRow("dir %d %s", direction, colour ? "colour" : "mono8")
                    << direction << direction << colour;
        QTest::newRow("hand-edited 7 lays out like Bottom") << 7 << 2 << true;
        QTest::newRow("hand-edited -1 lays out like Bottom") << -1 << 2 << false;
    }

    // The stitch view's picture of a batch: the first frame at the scene's
    // origin, the later ones beyond it in the direction, the picture gray for a
    // Mono8 batch; bounded, a smaller picture of the same scene whose every
    // pixel is a canvas pixel near its place.
    void previewShowsTheCanvas()
    {
        QFETCH(int, direction);
        QFETCH(int, layout);
        QFETCH(bool, colour);
        QList<QImage> grabbed;
        for (int i = 0; i < 4; ++i) {
            const QSize size = i == 3 ? QSize(31, 11) : QSize(37, 23);
            grabbed << (colour ? patternFrame(size.width(), size.height(), QImage::Format_RGB888, i + 1)
                               : markedAsRgb(patternFrame(size.width(), size.height(),
                                                          QImage::Format_Grayscale8, i + 1)));
            if (i == 1)
                grabbed << QImage(); // a frame that never arrived
        }
        const int angle = turnAngleForDirection(direction);
        const bool horizontal = layout < 2;
        QList<QImage> drawn;
        for (const QImage &frame : grabbed)
            if (!frame.isNull())
                layout == 1 || layout == 3 ? drawn.prepend(frame) : drawn.append(frame);
        const QImage canvas = canvasOf(drawn, angle, horizontal, 37);
        const QImage first = turnedByHand(grabbed.first(), angle);
        const QPoint topLeft = layout == 1 ? QPoint(first.width() - canvas.width(), 0)
            : layout == 3                  ? QPoint(0, first.height() - canvas.height())
                                           : QPoint(0, 0);

        const ComposedPreview full = composePreview(grabbed, direction, 0, angle);
        QCOMPARE(full.topLeft, topLeft);
        QCOMPARE(full.fullSize, canvas.size());
        QCOMPARE(full.picture.format(), colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
        QString failure = difference(full.picture, canvas);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));

        const qint64 budget = 1000;
        const ComposedPreview bounded = composePreview(grabbed, direction, budget, angle);
        const QImage &small = bounded.picture;
        QCOMPARE(bounded.topLeft, topLeft);
        QCOMPARE(bounded.fullSize, canvas.size());
        QVERIFY(qint64(small.width()) * small.height() <= budget);
        QVERIFY2(qint64(small.width() + 1) * (small.height() + 1) > budget, "smaller than the budget needs");
        // Each frame's part of the canvas is scaled into its own part of the
        // picture, every pixel taken from under its centre.
        QImage reduced(small.size(), QImage::Format_RGB888);
        std::memset(reduced.bits(), 0, size_t(reduced.sizeInBytes()));
        int offset = 0;
        for (const QImage &frame : drawn) {
            const QSize size = turnedByHand(frame, angle).size();
            const QRect part = horizontal ? QRect(offset, 0, size.width(), size.height())
                                          : QRect(0, offset, size.width(), size.height());
            offset += horizontal ? size.width() : size.height();
            const QRect to(QPoint(scaledDown(part.x(), canvas.width(), small.width()),
                                  scaledDown(part.y(), canvas.height(), small.height())),
                           QPoint(scaledDown(part.right() + 1, canvas.width(), small.width()) - 1,
                                  scaledDown(part.bottom() + 1, canvas.height(), small.height()) - 1));
            for (int y = 0; y < to.height(); ++y)
                for (int x = 0; x < to.width(); ++x)
                    reduced.setPixel(
                        to.x() + x, to.y() + y,
                        canvas.pixel(part.x() + (2 * x + 1) * part.width() / (2 * to.width()),
                                     part.y() + (2 * y + 1) * part.height() / (2 * to.height())));
        }
        failure = difference(small, reduced);
        QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("bounded: ") + failure));
        const qint64 room = qint64(canvas.width()) * canvas.height();
        QCOMPARE(composePreview(grabbed, direction, room, angle).picture.size(), canvas.size());
        QVERIFY(composePreview({QImage(), QImage()}, direction).picture.isNull());
    }

    void turnedCopiesReadTheTurnedFrame_data()
    {
        QTest::addColumn<int>("angle");
        QTest::addColumn<bool>("grayFrame");
        QTest::addColumn<int>("targetBytes");
        for (int angle : {0, 90, -90, 180, 270}) {
            QTest::addRow("%d gray into gray", angle) << angle << true << 1;
            QTest::addRow("%d gray into rgb", angle) << angle << true << 3;
            QTest::addRow("%d rgb into rgb", angle) << angle << false << 3;
        }
    }

    // Bands of rows starting anywhere, clipped to fewer columns, touching
    // nothing past them; sampled columns and rows in any order, repeats too.
    void turnedCopiesReadTheTurnedFrame()
    {
        QFETCH(int, angle);
        QFETCH(bool, grayFrame);
        QFETCH(int, targetBytes);
        const QImage frame
            = patternFrame(150, 71, grayFrame ? QImage::Format_Grayscale8 : QImage::Format_RGB888, 3);
        QImage turned = turnedByHand(frame, angle);
        if (targetBytes == 1)
            turned = turned.convertToFormat(QImage::Format_Grayscale8);
        QVERIFY(copiesTurnedDirectly(frame.format(), targetBytes));
        QCOMPARE(turnedSize(frame.size(), angle), turned.size());
        const qsizetype stride = qsizetype(turned.width()) * targetBytes + 5;
        for (const QPair<int, int> &band :
             {qMakePair(0, turned.height()), qMakePair(7, 13), qMakePair(turned.height() - 3, 3)}) {
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
                    QCOMPARE(out.at(int(r * stride + columns * targetBytes)), char(0x5a));
                }
            }
        }

        QVector<int> columns, rows;
        for (int x = 0; x < turned.width(); x += 3)
            columns << (x * 7) % turned.width();
        columns << turned.width() - 1 << 0 << 0;
        for (int y = turned.height() - 1; y >= 0; y -= 5)
            rows << y;
        QImage sampled(columns.size(), rows.size(), turned.format());
        sampleTurned(frame, angle, columns.constData(), columns.size(), rows.constData(), rows.size(),
                     sampled.bits(), sampled.bytesPerLine(), targetBytes);
        for (int y = 0; y < rows.size(); ++y)
            for (int x = 0; x < columns.size(); ++x)
                QCOMPARE(sampled.pixel(x, y), turned.pixel(columns[x], rows[y]));
    }

    // A Mono8 frame reaches the batch as a marked gray copy of the raw bytes (not
    // the buffer the grab thread reuses), never read past a short frame, charged
    // a third of an RGB frame; the mark survives copies and queued signals and
    // alone makes gray stitch as RGB.
    void mono8FramesTravelAsMarkedGrayCopies()
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
        const QByteArray packed(width * height * 3, char(1));
        const QImage converted = rgbImageFromPacked(reinterpret_cast<const uchar *>(packed.constData()),
                                                    packed.size(), width, height);
        const QImage fed = stitchFeedImage(converted, bytes, info);
        QCOMPARE(fed.format(), QImage::Format_Grayscale8);
        QVERIFY(grayStandsForRgb(fed));
        QVERIFY(!stitchesAsGray(fed));
        raw.fill(char(0xff)); // the grab thread's next frame
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                QCOMPARE(int(fed.constScanLine(y)[x]), (y * width + x) * 11 % 256);
        QCOMPARE(stitchFeedDepth(info.enPixelType), 8);
        const QImage fallback = grayImageFromBytes(bytes, quint64(raw.size()), width, height);
        QVERIFY(stitchesAsGray(stitchFeedImage(fallback, bytes, info)));
        info.enPixelType = PixelType_Gvsp_BayerRG8;
        QCOMPARE(stitchFeedImage(converted, bytes, info), converted);
        QCOMPARE(stitchFeedDepth(info.enPixelType), 24);
        info.enPixelType = PixelType_Gvsp_Mono8;
        info.nFrameLen = unsigned(raw.size() - 1);
        QVERIFY(stitchFeedImage(converted, bytes, info).isNull());

        const QImage gray = patternFrame(6, 4, QImage::Format_Grayscale8, 1);
        const QImage marked = markedAsRgb(gray);
        QVERIFY(!grayStandsForRgb(gray));
        QCOMPARE(marked, gray);
        QVERIFY(grayStandsForRgb(marked.copy()));
        QVERIFY(grayStandsForRgb(QVariant::fromValue(marked).value<QImage>()));
        QVERIFY(!grayStandsForRgb(markedAsRgb(patternFrame(6, 4, QImage::Format_RGB888, 1))));
        QVERIFY(stitchesAsGray(patternFrame(6, 4, QImage::Format_Indexed8, 1)));
        QCOMPARE(surveyFrames({gray, gray}).gray, true);
        QCOMPARE(surveyFrames({gray, marked}).gray, false);
        const FrameSurvey turned
            = surveyFrames({gray, patternFrame(6, 3, QImage::Format_Grayscale8, 2)}, -90);
        QCOMPARE(turned.widths, (QVector<qint32>{4, 3}));
        QCOMPARE(turned.heights, (QVector<qint32>{6, 6}));

        QCOMPARE(frameImageBytes(4096, 1024, 8) * 3, frameImageBytes(4096, 1024, 24));
        for (const QImage &image :
             {QImage(5, 3, QImage::Format_Grayscale8), QImage(4099, 2, QImage::Format_Grayscale8)})
            QCOMPARE(frameImageBytes(image.width(), image.height(), image.depth()),
                     qint64(image.sizeInBytes()));
        FrameBudget budget(1000, 400);
        QVERIFY(budget.reserveQueued(300));
        QVERIFY(budget.reserveQueued(100));
        budget.dequeued(300);
        budget.unreserveQueued(100); // a reservation no frame took goes back whole
        QCOMPARE(budget.queued(), qint64(0));
        QCOMPARE(budget.inFlight(), qint64(300));
        budget.unreserveQueued(50);
        QCOMPARE(budget.inFlight(), qint64(300));
    }

    // The live view's rotation menu steps by quarter turns (a hand-edited angle
    // too); fitting keeps the scene inside the view and gives up on empty sizes.
    void viewArithmetic()
    {
        const int left = int(LiveRotationChoice::RotateLeft), right = int(LiveRotationChoice::RotateRight);
        const int steps[][3] = {{0, left, 270},
                                {90, left, 0},
                                {270, right, 0},
                                {180, right, 270},
                                {180, int(LiveRotationChoice::Reset), 0},
                                {45, left, 270},
                                {45, right, 135}};
        for (const auto &s : steps)
            QVERIFY2(rotatedLiveAngle(s[0], LiveRotationChoice(s[1])) == s[2],
                     qPrintable(QStringLiteral("%1 by %2").arg(s[0]).arg(s[1])));
        QCOMPARE(fitScale(QSizeF(800, 600), QSizeF(8000, 100)), 0.1);
        QCOMPARE(fitScale(QSizeF(800, 600), QSizeF(100, 1200)), 0.5);
        QCOMPARE(fitScale(QSizeF(800, 600), QSizeF(80, 60)), 10.0);
        QCOMPARE(fitScale(QSizeF(800, 600), QSizeF(0, 0)), 0.0);
        QCOMPARE(fitScale(QSizeF(0, 600), QSizeF(80, 60)), 0.0);
        QCOMPARE(expectedTurnedFrameSize(5, 3, 0), QSize(3, 5));
        QCOMPARE(expectedTurnedFrameSize(5, 3, 7), QSize(5, 3));
    }
};

QTEST_MAIN(TestPixels)
#include "tst_pixels.moc"
