#include "preview.h"

#include "composer.h"
#include "framekind.h"
#include "frameturn.h"
#include "turnedcopy.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cmath>

namespace {

// Nearest-pixel resampling of `frame`, turned by turnAngle, into the
// rectangle `to` of `picture`, sampling each target pixel at the point of the
// turned frame under its centre.
void sampleInto(QImage &picture, const QImage &frame, int turnAngle, const QRect &to)
{
    const QSize size = turnedSize(frame.size(), turnAngle);
    const qint64 w = size.width();
    const qint64 h = size.height();
    const qint64 tw = to.width();
    const qint64 th = to.height();
    QVarLengthArray<int, 1024> columns(static_cast<int>(tw));
    QVarLengthArray<int, 1024> rows(static_cast<int>(th));
    for (qint64 tx = 0; tx < tw; ++tx)
        columns[int(tx)] = int(((2 * tx + 1) * w) / (2 * tw));
    for (qint64 ty = 0; ty < th; ++ty)
        rows[int(ty)] = int(((2 * ty + 1) * h) / (2 * th));
    const int bpp = picture.depth() / 8;
    sampleTurned(frame, turnAngle, columns.constData(), int(tw), rows.constData(), int(th),
                 picture.scanLine(to.y()) + qsizetype(to.x()) * bpp, picture.bytesPerLine(), bpp);
}

// The frame in the picture's format. A deep camera's 16-bit frame is scaled
// to 8 bits by the bit count it carries, as the live view shows the camera:
// Qt's own conversion would take the top byte of all 16 bits and show a
// 12-bit camera's brightest pixel near black.
QImage inPictureFormat(const QImage &frame, QImage::Format format)
{
    if (frame.format() != QImage::Format_Grayscale16)
        return frame.convertToFormat(format);
    QImage gray(frame.size(), QImage::Format_Grayscale8);
    if (gray.isNull())
        return QImage();
    const int shift = std::max(0, significantBits(frame) - 8);
    for (int y = 0; y < frame.height(); ++y) {
        const auto *words = reinterpret_cast<const quint16 *>(frame.constScanLine(y));
        uchar *out = gray.scanLine(y);
        for (int x = 0; x < frame.width(); ++x)
            out[x] = uchar(std::min(255, words[x] >> shift));
    }
    return format == QImage::Format_Grayscale8 ? gray : gray.convertToFormat(format);
}

// Maps a full-resolution coordinate onto the scaled picture.
int scaled(qint64 v, qint64 full, qint64 reduced)
{
    return int((v * reduced) / full);
}

} // namespace

/*
 * Places the frames of a batch, each turned by turnAngle, in scene
 * coordinates as `direction` lays them out: the first non-null frame at
 * (0, 0); each later one to the right of everything placed so far (Left), to
 * its left (Right), below it (Bottom) or above it (Top), aligned on x = 0 or y = 0. Unknown directions place like
 * Bottom. Returns one rectangle per frame, a null QRect for a null frame.
 * Any thread.
 */
QList<QRect> placeFrames(const QList<QImage> &frames, int direction, int turnAngle)
{
    const int d = effectiveStitchDirection(direction);
    QList<QRect> places;
    places.reserve(frames.size());
    QRect bounds;
    for (const QImage &frame : frames) {
        if (frame.isNull()) {
            places.append(QRect());
            continue;
        }
        const QSize size = turnedSize(frame.size(), turnAngle);
        QPoint at(0, 0);
        if (!bounds.isNull()) {
            switch (d) {
            case StitchDirection::Left:
                at = QPoint(bounds.x() + bounds.width(), 0);
                break;
            case StitchDirection::Right:
                at = QPoint(bounds.x() - size.width(), 0);
                break;
            case StitchDirection::Top:
                at = QPoint(0, bounds.y() - size.height());
                break;
            default:
                at = QPoint(0, bounds.y() + bounds.height());
                break;
            }
        }
        const QRect place(at, size);
        places.append(place);
        bounds = bounds.isNull() ? place : bounds.united(place);
    }
    return places;
}

/*
 * Composes the preview of a batch: the frames, turned by turnAngle as they
 * are copied, placed by placeFrames on a
 * black picture, Format_Grayscale8 when every frame is gray (Grayscale8, Mono,
 * Indexed8 or a deep camera's Grayscale16), Format_RGB888 otherwise; each frame is converted to that
 * format and copied over what lies below it. The picture's top-left corner in
 * scene coordinates is returned with it.
 *
 * `maxPixels` > 0 bounds the picture: a larger batch is resampled (nearest
 * pixel) to the largest size with the same proportions that fits the budget,
 * and `fullSize` tells the size the picture stands for, so that the caller can
 * scale it back to the same scene rectangle. 0 composes at full resolution.
 *
 * Returns a null picture when nothing has a positive size or when memory for
 * the picture cannot be had. Any thread; the frames are only read.
 */
ComposedPreview composePreview(const QList<QImage> &frames, int direction, qint64 maxPixels, int turnAngle)
{
    ComposedPreview result;
    const QList<QRect> places = placeFrames(frames, direction, turnAngle);
    QRect bounds;
    bool allGray = true;
    for (int i = 0; i < frames.size(); ++i) {
        if (places[i].isNull())
            continue;
        bounds = bounds.isNull() ? places[i] : bounds.united(places[i]);
        allGray = allGray
            && (isGrayFormat(frames[i].format()) || frames[i].format() == QImage::Format_Grayscale16);
    }
    if (bounds.width() < 1 || bounds.height() < 1)
        return result;

    const QImage::Format format = allGray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    const qint64 fullW = bounds.width();
    const qint64 fullH = bounds.height();
    qint64 w = fullW;
    qint64 h = fullH;
    if (maxPixels > 0 && fullW * fullH > maxPixels) {
        const double f = std::sqrt(double(maxPixels) / double(fullW * fullH));
        w = qMax<qint64>(1, qint64(std::floor(double(fullW) * f)));
        h = qMax<qint64>(1, qint64(std::floor(double(fullH) * f)));
    }
    QImage picture(int(w), int(h), format);
    if (picture.isNull())
        return result;
    picture.fill(0);

    const bool reduced = w != fullW || h != fullH;
    for (int i = 0; i < frames.size(); ++i) {
        if (places[i].isNull())
            continue;
        const int bpp = picture.depth() / 8;
        const QImage frame
            = copiesTurnedDirectly(frames[i].format(), bpp) ? frames[i] : inPictureFormat(frames[i], format);
        if (frame.isNull())
            return ComposedPreview();
        const QRect place = places[i].translated(-bounds.topLeft());
        if (!reduced) {
            copyTurnedRows(frame, turnAngle, 0, place.height(), place.width(),
                           picture.scanLine(place.y()) + qsizetype(place.x()) * bpp, picture.bytesPerLine(),
                           bpp);
            continue;
        }
        const int x0 = scaled(place.x(), fullW, w);
        const int y0 = scaled(place.y(), fullH, h);
        const QRect to(QPoint(x0, y0),
                       QPoint(scaled(place.x() + place.width(), fullW, w) - 1,
                              scaled(place.y() + place.height(), fullH, h) - 1));
        if (to.width() < 1 || to.height() < 1)
            continue;
        sampleInto(picture, frame, turnAngle, to);
    }
    result.picture = picture;
    result.topLeft = bounds.topLeft();
    result.fullSize = QSize(int(fullW), int(fullH));
    return result;
}
