#include "turnedcopy.h"

#include <algorithm>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

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

// Gray bytes widened to RGB, each written three times.
void widenRowPlain(const uchar *s, uchar *d, int pixels)
{
    for (int x = 0; x < pixels; ++x, d += 3)
        d[0] = d[1] = d[2] = s[x];
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) void widenRowSsse3(const uchar *s, uchar *d, int pixels)
{
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    int x = 0;
    for (; x + 16 <= pixels; x += 16, d += 48) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_shuffle_epi8(g, first));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 16), _mm_shuffle_epi8(g, second));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 32), _mm_shuffle_epi8(g, third));
    }
    widenRowPlain(s + x, d, pixels - x);
}

void widenRow(const uchar *s, uchar *d, int pixels)
{
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        widenRowSsse3(s, d, pixels);
    else
        widenRowPlain(s, d, pixels);
}
#else
void widenRow(const uchar *s, uchar *d, int pixels)
{
    widenRowPlain(s, d, pixels);
}
#endif

#ifdef __SSE2__
// Transposes 16 rows of 16 bytes in place: r[k] byte j becomes r[j] byte k.
inline void transpose16(__m128i r[16])
{
    __m128i t[16];
    for (int i = 0; i < 8; ++i) {
        t[i] = _mm_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        t[i + 8] = _mm_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm_unpacklo_epi16(t[2 * i], t[2 * i + 1]);
        r[i + 4] = _mm_unpackhi_epi16(t[2 * i], t[2 * i + 1]);
        r[i + 8] = _mm_unpacklo_epi16(t[8 + 2 * i], t[8 + 2 * i + 1]);
        r[i + 12] = _mm_unpackhi_epi16(t[8 + 2 * i], t[8 + 2 * i + 1]);
    }
    // r[4q + i]: columns 4q to 4q + 3 of rows 4i to 4i + 3, a column a word.
    for (int q = 0; q < 4; ++q) {
        for (int i = 0; i < 2; ++i) {
            t[4 * q + i] = _mm_unpacklo_epi32(r[4 * q + 2 * i], r[4 * q + 2 * i + 1]);
            t[4 * q + i + 2] = _mm_unpackhi_epi32(r[4 * q + 2 * i], r[4 * q + 2 * i + 1]);
        }
    }
    // t[4q] and t[4q + 1] now hold columns 4q and 4q + 1 (rows 0-7, rows
    // 8-15), t[4q + 2] and t[4q + 3] columns 4q + 2 and 4q + 3.
    for (int q = 0; q < 4; ++q) {
        r[4 * q] = _mm_unpacklo_epi64(t[4 * q], t[4 * q + 1]);
        r[4 * q + 1] = _mm_unpackhi_epi64(t[4 * q], t[4 * q + 1]);
        r[4 * q + 2] = _mm_unpacklo_epi64(t[4 * q + 2], t[4 * q + 3]);
        r[4 * q + 3] = _mm_unpackhi_epi64(t[4 * q + 2], t[4 * q + 3]);
    }
}
#endif

#ifdef __SSE2__
// Turned rows [y, y + 16), columns [x, x + 16) of a gray frame turned a
// quarter (turn 90 or 270), row k to dst + k * dstStride. They are 16
// source rows' bytes at 16 neighbouring columns, transposed in registers.
void quarterTurnedBlock(const QImage &frame, int turn, int y, int x, uchar *dst, qsizetype dstStride)
{
    // Turned row y + k is source column at + k (90) or at + 15 - k (270).
    const int at = turn == 90 ? y : frame.width() - y - 16;
    const int h = frame.height();
    __m128i r[16];
    for (int j = 0; j < 16; ++j) {
        const uchar *row = frame.constScanLine(turn == 90 ? h - 1 - (x + j) : x + j);
        r[j] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + at));
    }
    transpose16(r);
    for (int k = 0; k < 16; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + qsizetype(turn == 90 ? k : 15 - k) * dstStride),
                         r[k]);
}
#endif

// Rows [first, first + count) and columns [0, columns) of the frame turned by
// angle, pixel by pixel: the way for any frame the faster copies do not take.
void sampleBand(const QImage &frame, int angle, int first, int count, int columns, uchar *out,
                qsizetype stride, int targetBytesPerPixel)
{
    std::vector<int> columnNumbers(static_cast<size_t>(columns));
    std::vector<int> rowNumbers(static_cast<size_t>(count));
    for (int x = 0; x < columns; ++x)
        columnNumbers[size_t(x)] = x;
    for (int y = 0; y < count; ++y)
        rowNumbers[size_t(y)] = first + y;
    sampleTurned(frame, angle, columnNumbers.data(), columns, rowNumbers.data(), count, out, stride,
                 targetBytesPerPixel);
}

// Rows [first, first + count), columns [0, columns) of a gray frame turned a
// quarter (turn 90 or 270), as gray, to out. Whole blocks of 16 by 16 pixels
// throughout: the last block of a row or of the band is moved back to end
// at the edge (it writes some pixels twice, the same values), and a band of
// fewer than 16 rows goes through a scratch block. Blocks go down the band
// before they go across, so the 16 source rows of a column of blocks are
// read from the first level cache. Frames narrower than a block go pixel by
// pixel.
void quarterTurnedGray(const QImage &frame, int turn, int first, int count, int columns, uchar *out,
                       qsizetype stride)
{
#ifdef __SSE2__
    const int turnedRows = frame.width();
    if (columns >= 16 && turnedRows >= 16 && frame.height() >= 16) {
        if (count < 16) {
            const int y0 = std::min(first, turnedRows - 16);
            std::vector<uchar> scratch(size_t(columns) * 16);
            quarterTurnedGray(frame, turn, y0, 16, columns, scratch.data(), columns);
            for (int y = 0; y < count; ++y)
                std::memcpy(out + qsizetype(y) * stride, scratch.data() + qsizetype(first + y - y0) * columns,
                            size_t(columns));
            return;
        }
        for (int x = 0;; x += 16) {
            const int across = std::min(x, columns - 16);
            for (int y = 0;; y += 16) {
                const int down = std::min(y, count - 16);
                quarterTurnedBlock(frame, turn, first + down, across, out + qsizetype(down) * stride + across,
                                   stride);
                if (down + 16 >= count)
                    break;
            }
            if (across + 16 >= columns)
                break;
        }
        return;
    }
#endif
    sampleBand(frame, turn, first, count, columns, out, stride, 1);
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
 * into pixels of targetBytesPerPixel bytes (1 gray, 2 16-bit gray, 3 RGB):
 * Grayscale8 into gray or RGB, Grayscale16 into 16-bit gray, RGB888 into
 * RGB. Other formats need a conversion first. Pure.
 */
bool copiesTurnedDirectly(QImage::Format source, int targetBytesPerPixel)
{
    if (source == QImage::Format_Grayscale8)
        return targetBytesPerPixel == 1 || targetBytesPerPixel == 3;
    if (source == QImage::Format_Grayscale16)
        return targetBytesPerPixel == 2;
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
    if (frame.format() == QImage::Format_Grayscale16) {
        if (normalizedTurn(angle) == 0)
            copyRowsAs<2, 2>(frame, firstRow, rowCount, columns, out, stride);
        else
            sampleBand(frame, angle, firstRow, rowCount, columns, out, stride, 2);
        return;
    }
    if (normalizedTurn(angle) == 0) {
        if (gray && targetBytesPerPixel == 1) {
            copyRowsAs<1, 1>(frame, firstRow, rowCount, columns, out, stride);
        } else if (gray) {
            for (int y = 0; y < rowCount; ++y)
                widenRow(frame.constScanLine(firstRow + y), out + y * stride, columns);
        } else
            copyRowsAs<3, 3>(frame, firstRow, rowCount, columns, out, stride);
        return;
    }
    const int turn = normalizedTurn(angle);
    if (gray && (turn == 90 || turn == 270)) {
        if (targetBytesPerPixel == 1) {
            quarterTurnedGray(frame, turn, firstRow, rowCount, columns, out, stride);
            return;
        }
        // The band turned as gray, then widened: the gray band is a third of
        // the target's size and stays in the second level cache.
        std::vector<uchar> band(size_t(columns) * size_t(rowCount));
        quarterTurnedGray(frame, turn, firstRow, rowCount, columns, band.data(), columns);
        for (int y = 0; y < rowCount; ++y)
            widenRow(band.data() + qsizetype(y) * columns, out + y * stride, columns);
        return;
    }
    if (gray && turn == 180) {
        // Each turned row is a source row read backwards.
        std::vector<uchar> reversed(static_cast<size_t>(columns));
        const int w = frame.width();
        for (int y = 0; y < rowCount; ++y) {
            const uchar *s = frame.constScanLine(frame.height() - 1 - (firstRow + y)) + (w - 1);
            uchar *d = targetBytesPerPixel == 1 ? out + y * stride : reversed.data();
            for (int x = 0; x < columns; ++x)
                d[x] = s[-x];
            if (targetBytesPerPixel != 1)
                widenRow(reversed.data(), out + y * stride, columns);
        }
        return;
    }
    sampleBand(frame, angle, firstRow, rowCount, columns, out, stride, targetBytesPerPixel);
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
    if (frame.format() == QImage::Format_Grayscale16)
        sampleTurnedAs<2, 2>(frame, turn, columns, columnCount, rows, rowCount, out, stride);
    else if (gray && targetBytesPerPixel == 1)
        sampleTurnedAs<1, 1>(frame, turn, columns, columnCount, rows, rowCount, out, stride);
    else if (gray)
        sampleTurnedAs<1, 3>(frame, turn, columns, columnCount, rows, rowCount, out, stride);
    else
        sampleTurnedAs<3, 3>(frame, turn, columns, columnCount, rows, rowCount, out, stride);
}
