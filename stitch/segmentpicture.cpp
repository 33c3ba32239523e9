#include "segmentpicture.h"

#include "turnedcopy.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

QImage::Format rowFormat(const SegmentPicture &picture)
{
    if (!picture.gray)
        return QImage::Format_RGB888;
    return picture.depth == 16 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8;
}

// Rows of 16-bit samples narrowed to their top bits: each shifted right by
// `shift`, values above the camera's range saturating rather than wrapping.
void narrowRows(const quint16 *band, int count, int columns, int shift, uchar *target, qsizetype targetStride)
{
    for (int y = 0; y < count; ++y) {
        const quint16 *s = band + qsizetype(y) * columns;
        uchar *d = target + y * targetStride;
        for (int x = 0; x < columns; ++x)
            d[x] = uchar(std::min(s[x] >> shift, 255));
    }
}

// Rows [first, first + count) and columns [0, columns) of the placed frame
// as it lies (turned), in the picture's pixel kind. Frames of a format the
// turned copy cannot read are converted first, only the part the band needs:
// the conversions work pixel by pixel, so a part converted alone holds the
// same values as the whole frame converted at once.
void copyTurnedBand(const PlacedFrame &placed, const SegmentPicture &picture, int first, int count,
                    int columns, uchar *target, qsizetype targetStride)
{
    const int bpp = picture.bytesPerPixel();
    const QImage &image = placed.image;
    if (copiesTurnedDirectly(image.format(), bpp)) {
        copyTurnedRows(image, placed.turnAngle, first, count, columns, target, targetStride, bpp);
        return;
    }
    if (image.format() == QImage::Format_Grayscale16 && bpp == 1) {
        std::vector<quint16> band(size_t(columns) * size_t(count));
        copyTurnedRows(image, placed.turnAngle, first, count, columns, reinterpret_cast<uchar *>(band.data()),
                       qsizetype(columns) * 2, 2);
        narrowRows(band.data(), count, columns, std::max(0, picture.significantBits - 8), target,
                   targetStride);
        return;
    }
    const QRect part = sourceRectOfTurned(QRect(0, first, columns, count), image.size(), placed.turnAngle);
    const QImage converted = image.copy(part).convertToFormat(rowFormat(picture));
    if (converted.isNull())
        throw std::bad_alloc();
    copyTurnedRows(converted, placed.turnAngle, 0, count, columns, target, targetStride, bpp);
}

// Copies rows [first, first + count) of the placed frame, clipped to
// copyBytes per row, to target rows that lie targetStride apart; rows the
// frame lacks are black.
void copyBand(const PlacedFrame &placed, const SegmentPicture &picture, int first, int count,
              qsizetype copyBytes, uchar *target, qsizetype targetStride)
{
    const int frameRows = placed.size().height();
    const int available = std::max(0, std::min(count, frameRows - first));
    const int bpp = picture.bytesPerPixel();
    if (available > 0)
        copyTurnedBand(placed, picture, first, available, int(copyBytes / bpp), target, targetStride);
    for (int r = available; r < count; ++r)
        std::memset(target + r * targetStride, 0, size_t(copyBytes));
}

} // namespace

/* The frame's size as it lies in the picture, after its turn. */
QSize PlacedFrame::size() const
{
    return turnedSize(image.size(), turnAngle);
}

/*
 * Places frame, turned by turnAngle, right after the frames already placed
 * (beside them when horizontal, below them otherwise). A null frame takes no
 * place.
 */
void SegmentPicture::append(const QImage &frame, int turnAngle)
{
    if (frame.isNull())
        return;
    int offset = 0;
    if (!frames.isEmpty()) {
        const PlacedFrame &last = frames.constLast();
        offset = last.offset + (horizontal ? last.size().width() : last.size().height());
    }
    frames.append(PlacedFrame{frame, offset, turnAngle});
}

/*
 * True when red, green and blue are alike in every composed pixel: the
 * picture is gray, or each of its frames is gray widened to RGB (the black
 * where no frame lies is alike too).
 */
bool SegmentPicture::channelsAlike() const
{
    return gray || std::all_of(frames.cbegin(), frames.cend(), [](const PlacedFrame &placed) {
               return placed.image.format() == QImage::Format_Grayscale8;
           });
}

/*
 * Writes rows [firstRow, firstRow + rowCount) of picture into out, one row
 * every stride bytes (a negative stride lays them out upwards): each frame
 * turned by its angle, converted to the picture's pixel kind (gray widened to
 * RGB as the camera library widens Mono8, 16-bit gray narrowed to its top
 * bits when the rows are 8-bit) and clipped at its edges, black
 * wherever no frame lies. The rows equal those of a black canvas of the
 * picture's size onto which every frame was copied at its place. Any
 * thread; throws std::bad_alloc when a conversion cannot allocate.
 */
void composeRows(const SegmentPicture &picture, int firstRow, int rowCount, uchar *out, qsizetype stride)
{
    const int bpp = picture.bytesPerPixel();
    const int endRow = std::min(picture.height, firstRow + rowCount);
    if (firstRow < 0 || firstRow >= endRow)
        return;
    const int count = endRow - firstRow;

    if (picture.horizontal) {
        int covered = 0;
        for (const PlacedFrame &placed : picture.frames) {
            const int copyWidth = std::min(placed.size().width(), picture.width - placed.offset);
            if (placed.offset < 0 || copyWidth <= 0)
                continue;
            copyBand(placed, picture, firstRow, count, qsizetype(copyWidth) * bpp,
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
        const QSize size = next->size();
        const int bottom = std::min(endRow, top + size.height());
        if (bottom <= row)
            continue;
        for (; row < top && row < endRow; ++row) // rows before this frame stay black
            std::memset(out + (row - firstRow) * stride, 0, size_t(rowBytes));
        if (row >= endRow)
            break;
        const int copyWidth = std::min(size.width(), picture.width);
        const qsizetype copyBytes = qsizetype(copyWidth) * bpp;
        uchar *target = out + (row - firstRow) * stride;
        copyBand(*next, picture, row - top, bottom - row, copyBytes, target, stride);
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
 * How many rows of rowBytes each a strip holds: about 8 MiB, from 16 to 512
 * rows, so a strip stays in the cache hierarchy's reach without making the
 * encoders' calls too small.
 */
int stripRowsFor(qsizetype rowBytes)
{
    const qsizetype target = qsizetype(8) << 20;
    return int(std::clamp<qsizetype>(target / std::max<qsizetype>(1, rowBytes), 16, 512));
}
