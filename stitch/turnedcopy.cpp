#include "turnedcopy.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Source rows visited together by a quarter-turned copy: each turned row takes
// one pixel from every one of them, so the block's cache lines serve many
// turned rows before they are evicted.
constexpr int kTileRows = 64;

template<int SB, int DB>
inline void putPixel(uchar *d, const uchar *s)
{
    if constexpr (SB == DB) {
        std::memcpy(d, s, SB);
    } else {
        d[0] = s[0];
        d[1] = s[0];
        d[2] = s[0];
    }
}

// Turned pixel (columns[x], rows[y]) of frame goes to out row y, pixel x.
template<int SB, int DB>
void sampleTurnedAs(const QImage &frame, int turn, const int *columns, int columnCount, const int *rows,
                    int rowCount, uchar *out, qsizetype stride)
{
    const int w = frame.width();
    const int h = frame.height();
    if (turn == 0 || turn == 180) {
        for (int y = 0; y < rowCount; ++y) {
            uchar *d = out + y * stride;
            if (turn == 0) {
                const uchar *s = frame.constScanLine(rows[y]);
                for (int x = 0; x < columnCount; ++x)
                    putPixel<SB, DB>(d + qsizetype(x) * DB, s + qsizetype(columns[x]) * SB);
            } else {
                const uchar *s = frame.constScanLine(h - 1 - rows[y]);
                for (int x = 0; x < columnCount; ++x)
                    putPixel<SB, DB>(d + qsizetype(x) * DB, s + qsizetype(w - 1 - columns[x]) * SB);
            }
        }
        return;
    }
    // A quarter turn: a turned column is a source row, a turned row a source
    // column. Blocks of source rows keep the reads within a few pages.
    const uchar *sourceRows[kTileRows];
    for (int x0 = 0; x0 < columnCount; x0 += kTileRows) {
        const int n = std::min(kTileRows, columnCount - x0);
        for (int i = 0; i < n; ++i)
            sourceRows[i] = frame.constScanLine(turn == 90 ? h - 1 - columns[x0 + i] : columns[x0 + i]);
        for (int y = 0; y < rowCount; ++y) {
            const qsizetype at = qsizetype(turn == 90 ? rows[y] : w - 1 - rows[y]) * SB;
            uchar *d = out + y * stride + qsizetype(x0) * DB;
            for (int i = 0; i < n; ++i)
                putPixel<SB, DB>(d + qsizetype(i) * DB, sourceRows[i] + at);
        }
    }
}

template<int SB, int DB>
void copyRowsAs(const QImage &frame, int firstRow, int rowCount, int columns, uchar *out, qsizetype stride)
{
    for (int y = 0; y < rowCount; ++y) {
        const uchar *s = frame.constScanLine(firstRow + y);
        uchar *d = out + y * stride;
        if constexpr (SB == DB) {
            std::memcpy(d, s, size_t(columns) * SB);
        } else {
            for (int x = 0; x < columns; ++x)
                putPixel<SB, DB>(d + qsizetype(x) * DB, s + x);
        }
    }
}

} // namespace

/*
 * An angle as 0, 90, 180 or 270. Angles that are no multiple of 90 count as
 * 0. Pure.
 */
int normalizedTurn(int angle)
{
    if (angle % 90 != 0)
        return 0;
    return ((angle % 360) + 360) % 360;
}

/*
 * The size of a picture of `size` turned by `angle`: width and height swapped
 * for a quarter turn. Pure.
 */
QSize turnedSize(const QSize &size, int angle)
{
    const int turn = normalizedTurn(angle);
    return turn == 90 || turn == 270 ? size.transposed() : size;
}

/*
 * The rectangle of a frame of `frameSize` that, turned by `angle`, becomes
 * `turnedRect` of the turned frame. turnedRect must lie within the turned
 * frame. Turning the returned part alone by the same angle gives exactly that
 * part of the turned frame. Pure.
 */
QRect sourceRectOfTurned(const QRect &turnedRect, const QSize &frameSize, int angle)
{
    const int w = frameSize.width();
    const int h = frameSize.height();
    const QRect &r = turnedRect;
    switch (normalizedTurn(angle)) {
    case 90:
        return QRect(r.y(), h - r.x() - r.width(), r.height(), r.width());
    case 180:
        return QRect(w - r.x() - r.width(), h - r.y() - r.height(), r.width(), r.height());
    case 270:
        return QRect(w - r.y() - r.height(), r.x(), r.height(), r.width());
    default:
        return r;
    }
}

/*
 * Whether copyTurnedRows() and sampleTurned() read frames of `source` format
 * into pixels of targetBytesPerPixel bytes (1 gray, 3 RGB): Grayscale8 into
 * either, RGB888 into RGB. Other formats need a conversion first. Pure.
 */
bool copiesTurnedDirectly(QImage::Format source, int targetBytesPerPixel)
{
    if (source == QImage::Format_Grayscale8)
        return targetBytesPerPixel == 1 || targetBytesPerPixel == 3;
    return source == QImage::Format_RGB888 && targetBytesPerPixel == 3;
}

/*
 * Writes rows [firstRow, firstRow + rowCount), columns [0, columns) of
 * `frame` turned by `angle` to out, one row every `stride` bytes, in pixels
 * of targetBytesPerPixel bytes. The rectangle must lie within the turned
 * frame and copiesTurnedDirectly() must hold. Equals a copy of the same rows of
 * QImage::transformed() (Qt::FastTransformation) of the frame, converted to
 * the target's format. Allocates a little for a quarter or half turn (the
 * column and row numbers). Any thread; the frame is only read.
 */
void copyTurnedRows(const QImage &frame, int angle, int firstRow, int rowCount, int columns, uchar *out,
                    qsizetype stride, int targetBytesPerPixel)
{
    if (rowCount <= 0 || columns <= 0)
        return;
    const bool gray = frame.format() == QImage::Format_Grayscale8;
    if (normalizedTurn(angle) == 0) {
        if (gray && targetBytesPerPixel == 1)
            copyRowsAs<1, 1>(frame, firstRow, rowCount, columns, out, stride);
        else if (gray)
            copyRowsAs<1, 3>(frame, firstRow, rowCount, columns, out, stride);
        else
            copyRowsAs<3, 3>(frame, firstRow, rowCount, columns, out, stride);
        return;
    }
    std::vector<int> columnNumbers(static_cast<size_t>(columns));
    std::vector<int> rowNumbers(static_cast<size_t>(rowCount));
    for (int x = 0; x < columns; ++x)
        columnNumbers[size_t(x)] = x;
    for (int y = 0; y < rowCount; ++y)
        rowNumbers[size_t(y)] = firstRow + y;
    sampleTurned(frame, angle, columnNumbers.data(), columns, rowNumbers.data(), rowCount, out, stride,
                 targetBytesPerPixel);
}

/*
 * Writes out row y, pixel x, as the pixel (columns[x], rows[y]) of `frame`
 * turned by `angle`, for x < columnCount and y < rowCount; every number must
 * lie within the turned frame and copiesTurnedDirectly() must hold. Used with
 * evenly spread numbers to scale a frame down while turning it. Any thread;
 * the frame is only read.
 */
void sampleTurned(const QImage &frame, int angle, const int *columns, int columnCount, const int *rows,
                  int rowCount, uchar *out, qsizetype stride, int targetBytesPerPixel)
{
    const int turn = normalizedTurn(angle);
    const bool gray = frame.format() == QImage::Format_Grayscale8;
    if (gray && targetBytesPerPixel == 1)
        sampleTurnedAs<1, 1>(frame, turn, columns, columnCount, rows, rowCount, out, stride);
    else if (gray)
        sampleTurnedAs<1, 3>(frame, turn, columns, columnCount, rows, rowCount, out, stride);
    else
        sampleTurnedAs<3, 3>(frame, turn, columns, columnCount, rows, rowCount, out, stride);
}
