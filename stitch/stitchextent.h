#ifndef STITCHEXTENT_H
#define STITCHEXTENT_H

#include <QImage>
#include <QList>
#include <QtGlobal>

#include "imageformat.h"

/*
 * What a stitched save of frames costs in memory beside the frames, as the
 * encoders spend it; the session charges it against the frame budget.
 */

// How far frames joined along the stitch axis reach, as the worker lays
// them out (each turned by turnAngle): the sum of their lengths along the
// axis, the widest across it, and whether they stitch into a gray picture
// (8-bit, or 16-bit when every frame is deep).
struct StitchExtent {
    qint64 length = 0;
    int cross = 0;
    bool gray = true;
    bool deep = true;
    void add(const QImage &frame, bool horizontal, int turnAngle);
};
StitchExtent stitchExtent(const QList<QImage> &frames, int direction, int turnAngle = 0);

// What saving these frames holds beside them: the strips of the largest segment.
qint64 stitchSaveBytes(const StitchExtent &extent, bool horizontal, ImageFormat format, int maxDimension);
qint64 stitchSaveBytes(const QList<QImage> &frames, int direction, ImageFormat format, int maxDimension,
                       int turnAngle = 0);

#endif // STITCHEXTENT_H
