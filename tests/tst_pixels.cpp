// Every path a grabbed pixel takes to a picture (saved batches and frame
// files, encoder strips, the preview, the turned copies beneath them) against
// one canvas the test lays out itself from where each direction puts a frame.
#include <QBitArray>
#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include "composer.h"
#include "framebudget.h"
#include "frameimage.h"
#include "framekind.h"
#include "frameturn.h"
#include "graywords.h"
#include "patternframe.h"
#include "preview.h"
#include "referencecanvas.h"
#include "segmentpicture.h"
#include "stitchrecorder.h"
#include "turnedcopy.h"
#include "viewmath.h"

#include <cstring>

namespace {

enum Kind { Colour, MarkedMono, TrulyGray, Mixed };
const char *const kKindNames[] = {"colour", "mono8", "gray", "mixed"};

// The file holds the canvas: the very bytes of Qt's encoder for JPEG, the
// very pixels for the lossless formats, gray exactly when the batch was.
QString fileDiffers(const QString &path, const QImage &canvas, bool gray)
{
    const QImage back(path);
    if ((back.depth() == 8) != gray)
        return QStringLiteral("%1 gray %2, expected %3").arg(path).arg(back.depth() == 8).arg(gray);
    if (!path.endsWith(QLatin1String(".jpg")))
        return difference(back, canvas);
    QBuffer qts;
    QFile file(path);
    const bool same = qts.open(QIODevice::WriteOnly)
        && (gray ? canvas.convertToFormat(QImage::Format_Grayscale8) : canvas).save(&qts, "JPG", 90)
        && file.open(QIODevice::ReadOnly) && file.readAll() == qts.data();
    return same ? QString() : QStringLiteral("not Qt's JPEG of the canvas");
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
        QTest::addColumn<int>("limit"); // under 32768: frame files, stitched unturned
        for (const char *format : {"BMP", "JPG", "PNG", "TIFF"}) {
            for (int direction = 0; direction < 4; ++direction) {
                for (int total : {32767, 32768, 32769})
                    for (int kind : {Colour, MarkedMono})
                        QTest::addRow("%s dir %d %d px %s", format, direction, total, kKindNames[kind])
                            << format << direction << total << kind << 32768;
                for (int kind : {TrulyGray, Mixed, Colour}) {
                    if (kind != Colour)
                        QTest::addRow("%s dir %d %s", format, direction, kKindNames[kind])
                            << format << direction << 3000 << kind << 32768;
                    if (direction < 2)
                        QTest::addRow("%s files dir %d %s", format, direction, kKindNames[kind])
                            << format << direction << 41 << kind << 40;
                }
            }
        }
    }
    // Three frames, the last one narrower, summing to just under, exactly and
    // just over the segment limit: one file or two split between whole frames,
    // in time order along the direction (Right and Top put the newest first).
    // Mono8 is widened to RGB; unconverted gray stays gray unless one converted
    // frame is among it. Frame files (an empty path skipped) are never turned.
    void savedBatchHoldsTheCanvas()
    {
        QFETCH(QString, format);
        QFETCH(int, direction);
        QFETCH(int, total);
        QFETCH(int, kind);
        QFETCH(int, limit);
        const bool files = limit < 32768;
        const int widths[3] = {9, 9, 6},
                  lines[3] = {total * 3 / 8, total * 5 / 16, total - lines[0] - lines[1]};
        QTemporaryDir dir;
        QList<QImage> frames;
        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            const QSize size = files ? QSize(lines[i], widths[i]) : QSize(widths[i], lines[i]);
            const QImage rgb = patternFrame(size.width(), size.height(), QImage::Format_RGB888, i + 1);
            const QImage gray = rgb.convertToFormat(QImage::Format_Grayscale8);
            const bool marked = kind == MarkedMono || (kind == Mixed && i == 1);
            frames << (kind == Colour ? rgb : !marked ? gray : files ? rgb : markedAsRgb(gray));
            paths << dir.filePath(QStringLiteral("frame%1.png").arg(i));
            QVERIFY(!files || frames[i].save(paths.last(), "PNG"));
            if (i == 0)
                paths << QString();
        }
        const int angle = files ? 0 : direction == 0 ? -90 : direction == 1 ? 90 : direction == 3 ? 180 : 0;
        QVERIFY(files || turnAngleForDirection(direction) == angle);
        StitchWorker worker;
        worker.maxDimension = limit;
        StitchRecorder recorder(worker);
        if (files)
            worker.saveStitch(paths, direction, dir.path(), "M", "S", format, 90, 6);
        else
            worker.saveGrabbedImages({frames, angle, direction, dir.path(), "M", "S", 4,
                                      imageFormatFromSetting(format), 90, 6, format});
        const QList<QList<int>> segments
            = total > limit ? QList<QList<int>>{{0, 1}, {2}} : QList<QList<int>>{{0, 1, 2}};
        QVERIFY2(recorder.files().size() == segments.size(), qPrintable(recorder.events.join('\n')));
        for (int s = 0; s < segments.size(); ++s) {
            QList<QImage> drawn;
            for (int i : segments[s])
                direction == 1 || direction == 3 ? drawn.prepend(frames[i]) : drawn.append(frames[i]);
            const QString failure = fileDiffers(recorder.files()[s], canvasOf(drawn, angle, direction < 2, 9),
                                                kind == TrulyGray);
            QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("segment %1: %2").arg(s).arg(failure)));
        }
    }
    void stripsHoldTheCanvasRows_data()
    {
        QTest::addColumn<int>("angle");
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<bool>("gray");
        for (int angle : {0, 90, -90, 180})
            for (bool horizontal : {true, false})
                for (bool gray : {false, true})
                    QTest::addRow("%d %s %s", angle, horizontal ? "across" : "down", gray ? "gray" : "colour")
                        << angle << horizontal << gray;
    }
    // Frames of every format the stitch meets, composed in strips of any height
    // (edges inside frames, on their borders, past the last row) and upwards
    // with a negative stride as bottom-up files take them. At 90 degrees the
    // picture is longer than its frames: one vanished after the survey.
    void stripsHoldTheCanvasRows()
    {
        QFETCH(int, angle);
        QFETCH(bool, horizontal);
        QFETCH(bool, gray);
        const QImage::Format formats[2][3]
            = {{QImage::Format_RGB32, QImage::Format_Grayscale8, QImage::Format_ARGB32},
               {QImage::Format_Grayscale8, QImage::Format_Indexed8, QImage::Format_Mono}};
        const QSize sizes[4] = {{21, 17}, {18, 13}, {33, 5}, {19, 40}};
        QList<QImage> frames;
        SegmentPicture picture;
        picture.gray = gray;
        picture.horizontal = horizontal;
        for (int i = 0; i < 4; ++i) {
            frames << patternFrame(sizes[i].width(), sizes[i].height(),
                                   gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888, i + 1);
            frames[i] = i == 3 ? (gray ? markedAsRgb(frames[i]) : frames[i])
                               : frames[i].convertToFormat(formats[gray][i]);
            picture.append(frames[i], angle);
        }
        QImage expected = canvasOf(frames, angle, horizontal, 0, angle == 90 ? 13 : 0);
        if (gray)
            expected = expected.convertToFormat(QImage::Format_Grayscale8);
        picture.width = expected.width();
        const int height = picture.height = expected.height();
        for (int stripRows : {1, 6, 16, height, -5}) {
            const int step = std::abs(stripRows);
            QImage composed(picture.width, height, expected.format());
            composed.fill(Qt::white);
            for (int first = 0; first < height; first += step)
                composeRows(picture, first, std::min(step, height - first),
                            composed.scanLine(stripRows < 0 ? height - 1 - first : first),
                            stripRows < 0 ? -composed.bytesPerLine() : composed.bytesPerLine());
            const QString failure
                = difference(stripRows < 0 ? composed.mirrored(false, true) : composed, expected);
            QVERIFY2(failure.isEmpty(),
                     qPrintable(QStringLiteral("strips of %1: %2").arg(stripRows).arg(failure)));
        }
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
    // origin, the later ones beyond it in the direction, gray for Mono8; bounded,
    // each frame's part of the canvas scaled into its own part of a smaller
    // picture, every pixel taken from under its centre.
    void previewShowsTheCanvas()
    {
        QFETCH(int, direction);
        QFETCH(int, layout);
        QFETCH(bool, colour);
        QList<QImage> grabbed;
        for (int i = 0; i < 4; ++i) {
            const QImage rgb = patternFrame(i == 3 ? 31 : 37, i == 3 ? 11 : 23, QImage::Format_RGB888, i + 1);
            grabbed << (colour ? rgb : markedAsRgb(rgb.convertToFormat(QImage::Format_Grayscale8)));
            if (i == 1)
                grabbed << QImage(); // a frame that never arrived
        }
        const int angle = turnAngleForDirection(direction);
        const bool horizontal = layout < 2;
        QList<QImage> drawn;
        for (const QImage &frame : grabbed)
            if (!frame.isNull())
                layout == 1 || layout == 3 ? drawn.prepend(frame) : drawn.append(frame);
        const QImage canvas = canvasOf(drawn, angle, horizontal);
        const QSize first = turnedByHand(grabbed.first(), angle).size();
        const QPoint topLeft = layout == 1 ? QPoint(first.width() - canvas.width(), 0)
            : layout == 3                  ? QPoint(0, first.height() - canvas.height())
                                           : QPoint(0, 0);
        const auto down = [](int v, int whole, int part) { return int(qint64(v) * part / whole); };
        for (const qint64 budget : {qint64(0), qint64(1000), qint64(canvas.width()) * canvas.height()}) {
            const ComposedPreview preview = composePreview(grabbed, direction, budget, angle);
            const QImage &small = preview.picture;
            QCOMPARE(preview.topLeft, topLeft);
            QCOMPARE(preview.fullSize, canvas.size());
            QCOMPARE(small.format(), colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
            if (budget == 1000) {
                QVERIFY(qint64(small.width()) * small.height() <= budget);
                QVERIFY2(qint64(small.width() + 1) * (small.height() + 1) > budget, "smaller than it needs");
            } else {
                QCOMPARE(small.size(), canvas.size());
            }
            QImage expected(small.size(), QImage::Format_RGB888);
            std::memset(expected.bits(), 0, size_t(expected.sizeInBytes()));
            int offset = 0;
            for (const QImage &frame : drawn) {
                const QSize size = turnedByHand(frame, angle).size();
                const QRect part(horizontal ? QPoint(offset, 0) : QPoint(0, offset), size);
                offset += horizontal ? size.width() : size.height();
                const QRect to(QPoint(down(part.x(), canvas.width(), small.width()),
                                      down(part.y(), canvas.height(), small.height())),
                               QPoint(down(part.right() + 1, canvas.width(), small.width()) - 1,
                                      down(part.bottom() + 1, canvas.height(), small.height()) - 1));
                for (int y = 0; y < to.height(); ++y)
                    for (int x = 0; x < to.width(); ++x)
                        expected.setPixel(
                            to.x() + x, to.y() + y,
                            canvas.pixel(part.x() + (2 * x + 1) * part.width() / (2 * to.width()),
                                         part.y() + (2 * y + 1) * part.height() / (2 * to.height())));
            }
            const QString failure = difference(small, expected);
            QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("budget %1: %2").arg(budget).arg(failure)));
        }
        QVERIFY(composePreview({QImage(), QImage()}, direction).picture.isNull());
    }
    // A short Mono8 frame is never read past its end; the mark survives copies
    // and alone makes gray stitch as RGB; a reservation no frame took goes back
    // whole, never more.
    void mono8MarksAndFrameMemory()
    {
        const QByteArray raw(7 * 3, char(9)), packed(7 * 3 * 3, char(1));
        MV_FRAME_OUT_INFO_EX info{};
        info.nWidth = 7;
        info.nHeight = 3;
        info.nFrameLen = unsigned(raw.size() - 1);
        info.enPixelType = PixelType_Gvsp_Mono8;
        const QImage converted
            = rgbImageFromPacked(reinterpret_cast<const uchar *>(packed.constData()), packed.size(), 7, 3);
        QVERIFY(stitchFeedImage(converted, reinterpret_cast<const uchar *>(raw.constData()), info).isNull());
        const QImage gray = patternFrame(6, 4, QImage::Format_Grayscale8, 1);
        QVERIFY(!grayStandsForRgb(gray) && grayStandsForRgb(markedAsRgb(gray).copy()));
        QVERIFY(!grayStandsForRgb(markedAsRgb(patternFrame(6, 4, QImage::Format_RGB888, 1))));
        QVERIFY(!stitchesAsGray(markedAsRgb(gray)));
        FrameBudget budget(1000, 400);
        QVERIFY(budget.reserveQueued(300) && budget.reserveQueued(100));
        budget.dequeued(300);
        budget.unreserveQueued(100);
        budget.unreserveQueued(50);
        QCOMPARE(budget.queued(), qint64(0));
        QCOMPARE(budget.inFlight(), qint64(300));
    }
    void deepFramesUnpackToTheCameraValues_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<int>("bits");
        QTest::newRow("Mono16") << uint(PixelType_Gvsp_Mono16) << 16;
        QTest::newRow("Mono10p") << uint(PixelType_Gvsp_Mono10p) << 10;
        QTest::newRow("Mono12p") << uint(PixelType_Gvsp_Mono12p) << 12;
        QTest::newRow("Mono12Packed") << uint(PixelType_Gvsp_Mono12_Packed) << 12;
    }
    // Values packed here bit by bit as each format sends them come back
    // unscaled, from any pixel on, never from past the frame's end.
    void deepFramesUnpackToTheCameraValues()
    {
        QFETCH(uint, type);
        QFETCH(int, bits);
        QVector<quint16> values, out(15);
        for (uint i = 0; i < 15; ++i)
            values << quint16(i ? (i * 2654435761u >> 9) & ((1u << bits) - 1) : (1u << bits) - 1);
        // Bit b of pixel i, bytes filled from their lowest bit; Mono12Packed's pairs put high bits outside.
        const auto at = [&](int i, int b) {
            return type != PixelType_Gvsp_Mono12_Packed
                ? i * bits + b
                : 24 * (i / 2) + (b < 4 ? 8 + 4 * (i % 2) + b : 16 * (i % 2) + b - 4);
        };
        QBitArray stream(15 * bits);
        for (int k = 0; k < 15 * bits; ++k)
            stream.setBit(at(k / bits, k % bits), (values[k / bits] >> (k % bits)) & 1);
        const auto *bytes = reinterpret_cast<const uchar *>(stream.bits());
        const quint64 length = quint64(stream.size() + 7) / 8;
        QVERIFY(unpackGrayWords(MvGvspPixelType(type), bytes, length, 0, 15, out.data()));
        QCOMPARE(out, values);
        QVERIFY(unpackGrayWords(MvGvspPixelType(type), bytes, length, 5, 10, out.data()));
        QCOMPARE(out.mid(0, 10), values.mid(5));
        QVERIFY(!unpackGrayWords(MvGvspPixelType(type), bytes, length - 1, 5, 10, out.data()));
    }
    // Rotation steps by quarter turns (a hand-edited angle too); fitting keeps
    // the scene inside the view and gives up on empty sizes.
    void viewArithmetic()
    {
        using Choice = LiveRotationChoice;
        QCOMPARE(rotatedLiveAngle(0, Choice::RotateLeft), 270);
        QCOMPARE(rotatedLiveAngle(90, Choice::RotateLeft), 0);
        QCOMPARE(rotatedLiveAngle(45, Choice::RotateLeft), 270);
        QCOMPARE(rotatedLiveAngle(270, Choice::RotateRight), 0);
        QCOMPARE(rotatedLiveAngle(45, Choice::RotateRight), 135);
        QCOMPARE(rotatedLiveAngle(180, Choice::Reset), 0);
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
