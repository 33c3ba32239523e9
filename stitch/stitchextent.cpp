#include "stitchextent.h"

#include "composer.h"
#include "framekind.h"
#include "imagewriter.h"
#include "turnedcopy.h"

#include <algorithm>

void StitchExtent::add(const QImage &frame, bool horizontal, int turnAngle)
{
    if (frame.isNull())
        return;
    const QSize size = turnedSize(frame.size(), turnAngle);
    length += horizontal ? size.width() : size.height();
    cross = std::max(cross, horizontal ? size.height() : size.width());
    gray = gray && stitchesAsGray(frame);
    deep = deep && frame.format() == QImage::Format_Grayscale16;
}

StitchExtent stitchExtent(const QList<QImage> &frames, int direction, int turnAngle)
{
    StitchExtent extent;
    const bool horizontal = isHorizontalDirection(direction);
    for (const QImage &frame : frames)
        extent.add(frame, horizontal, turnAngle);
    return extent;
}

/*
 * The encoders hold a few strips of the widest segment's rows, whatever the
 * segment's length. Pure.
 */
qint64 stitchSaveBytes(const StitchExtent &extent, bool horizontal, ImageFormat format, int maxDimension)
{
    const int longest = int(std::min<qint64>(extent.length, std::max(1, maxDimension)));
    return streamedSegmentBytes(horizontal ? longest : extent.cross, horizontal ? extent.cross : longest,
                                extent.gray, format, extent.deep);
}

qint64 stitchSaveBytes(const QList<QImage> &frames, int direction, ImageFormat format, int maxDimension,
                       int turnAngle)
{
    return stitchSaveBytes(stitchExtent(frames, direction, turnAngle), isHorizontalDirection(direction),
                           format, maxDimension);
}
