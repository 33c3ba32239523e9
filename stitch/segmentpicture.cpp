#include "segmentpicture.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

QImage::Format rowFormat(bool gray)
{
    return gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
}

// Rows [first, first + count) of image in the given format. The conversions
// involved work pixel by pixel, so a band converted alone holds the same
// values as the whole frame converted at once.
QImage convertedBand(const QImage &image, int first, int count, QImage::Format format)
{
    if (image.colorCount() > 0 || image.depth() < 8) // the band needs the colour table
        return image.copy(0, first, image.width(), count).convertToFormat(format);
    const QImage band(image.constScanLine(first), image.width(), count, image.bytesPerLine(), image.format());
    return band.convertToFormat(format);
}

// Copies rows [first, first + count) of frame, clipped to copyBytes per row,
// to target rows that lie targetStride apart; rows the frame lacks are black.
void copyBand(const QImage &frame, QImage::Format format, int first, int count, int frameRows,
              qsizetype copyBytes, uchar *target, qsizetype targetStride)
{
    const int available = std::max(0, std::min(count, frameRows - first));
    if (available > 0) {
        QImage converted;
        const QImage *source = &frame;
        int sourceFirst = first;
        if (frame.format() != format) {
            converted = convertedBand(frame, first, available, format);
            source = &converted;
            sourceFirst = 0;
        }
        if (source->isNull())
            throw std::bad_alloc();
        for (int r = 0; r < available; ++r)
            std::memcpy(target + r * targetStride, source->constScanLine(sourceFirst + r), size_t(copyBytes));
    }
    for (int r = available; r < count; ++r)
        std::memset(target + r * targetStride, 0, size_t(copyBytes));
}

} // namespace

/*
 * Places frame right after the frames already placed (beside them when
 * horizontal, below them otherwise). A null frame takes no place.
 */
void SegmentPicture::append(const QImage &frame)
{
    if (frame.isNull())
        return;
    int offset = 0;
    if (!frames.isEmpty()) {
        const PlacedFrame &last = frames.constLast();
        offset = last.offset + (horizontal ? last.image.width() : last.image.height());
    }
    frames.append(PlacedFrame{frame, offset});
}

/*
 * Writes rows [firstRow, firstRow + rowCount) of picture into out, one row
 * every stride bytes: each frame converted to the picture's pixel kind and
 * clipped at its edges, black wherever no frame lies. The rows equal those
 * of a black canvas of the picture's size onto which every frame was copied
 * at its place. Any thread; throws std::bad_alloc when a conversion cannot
 * allocate.
 */
void composeRows(const SegmentPicture &picture, int firstRow, int rowCount, uchar *out, qsizetype stride)
{
    const QImage::Format format = rowFormat(picture.gray);
    const int bpp = picture.bytesPerPixel();
    const int endRow = std::min(picture.height, firstRow + rowCount);
    if (firstRow < 0 || firstRow >= endRow)
        return;
    const int count = endRow - firstRow;

    if (picture.horizontal) {
        int covered = 0;
        for (const PlacedFrame &placed : picture.frames) {
            const int copyWidth = std::min(placed.image.width(), picture.width - placed.offset);
            if (placed.offset < 0 || copyWidth <= 0)
                continue;
            copyBand(placed.image, format, firstRow, count, placed.image.height(), qsizetype(copyWidth) * bpp,
                     out + qsizetype(placed.offset) * bpp, stride);
            covered = std::max(covered, placed.offset + copyWidth);
        }
        if (covered < picture.width) {
            for (int r = 0; r < count; ++r)
                std::memset(out + r * stride + qsizetype(covered) * bpp, 0,
                            size_t(qsizetype(picture.width - covered) * bpp));
        }
        return;
    }

    // Vertical: each row belongs to at most one frame.
    int row = firstRow;
    auto next = std::upper_bound(picture.frames.cbegin(), picture.frames.cend(), firstRow,
                                 [](int y, const PlacedFrame &placed) { return y < placed.offset; });
    if (next != picture.frames.cbegin())
        --next;
    const qsizetype rowBytes = picture.rowBytes();
    for (; row < endRow && next != picture.frames.cend(); ++next) {
        const int top = next->offset;
        const int bottom = std::min(endRow, top + next->image.height());
        if (bottom <= row)
            continue;
        for (; row < top && row < endRow; ++row) // rows before this frame stay black
            std::memset(out + (row - firstRow) * stride, 0, size_t(rowBytes));
        if (row >= endRow)
            break;
        const int copyWidth = std::min(next->image.width(), picture.width);
        const qsizetype copyBytes = qsizetype(copyWidth) * bpp;
        uchar *target = out + (row - firstRow) * stride;
        copyBand(next->image, format, row - top, bottom - row, next->image.height(), copyBytes, target,
                 stride);
        if (copyBytes < rowBytes) {
            for (int r = 0; r < bottom - row; ++r)
                std::memset(target + r * stride + copyBytes, 0, size_t(rowBytes - copyBytes));
        }
        row = bottom;
    }
    for (; row < endRow; ++row)
        std::memset(out + (row - firstRow) * stride, 0, size_t(rowBytes));
}

/*
 * The whole picture as one image (8-bit gray or 24-bit RGB); null when it
 * cannot be allocated. For encoders without a streamed path.
 */
QImage composeImage(const SegmentPicture &picture)
{
    QImage image(picture.width, picture.height, rowFormat(picture.gray));
    if (!image.isNull())
        composeRows(picture, 0, picture.height, image.bits(), image.bytesPerLine());
    return image;
}

/*
 * How many rows of rowBytes each a strip holds: about 8 MiB, from 16 to 512
 * rows, so a strip stays in the cache hierarchy's reach without making the
 * encoders' calls too small.
 */
int stripRowsFor(qsizetype rowBytes)
{
    const qsizetype target = qsizetype(8) << 20;
    return int(std::clamp<qsizetype>(target / std::max<qsizetype>(1, rowBytes), 16, 512));
}
