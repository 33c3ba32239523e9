#ifndef PREVIEW_H
#define PREVIEW_H

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

/*
 * The picture the stitch view shows for a closed batch: the batch's frames laid
 * edge to edge in the order they arrived, placed as the stitch direction says.
 */
struct ComposedPreview {
    QImage picture; // null when no frame has a positive size
    QPoint topLeft; // scene position of the picture's corner; the first frame
                    // sits at (0, 0)
    QSize fullSize; // size of the batch at full resolution; picture.size() unless
                    // scaled down
};

// Largest preview, in pixels, that composePreview builds when asked to bound
// it.
// 8 Mpx is several times what a fitted stitch view can show on any screen, and
// keeps composing and converting a batch of 4096-pixel frames well under the
// time the next batch takes to arrive.
constexpr qint64 kPreviewPixelBudget = 8 * 1024 * 1024;

QList<QRect> placeFrames(const QList<QImage> &frames, int direction, int turnAngle = 0);
ComposedPreview composePreview(const QList<QImage> &frames, int direction, qint64 maxPixels = 0,
                               int turnAngle = 0);

#endif // PREVIEW_H
