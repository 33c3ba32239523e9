#include "convert.h"

#include <climits>
#include <cstring>

namespace mvcc {

/* Bytes per pixel of type, 0 when the library cannot convert or save it. */
unsigned int bytesPerPixel(MvGvspPixelType type)
{
    switch (type) {
    case PixelType_Gvsp_Mono8:
    case PixelType_Gvsp_BayerRG8:
        return 1;
    case PixelType_Gvsp_RGB8_Packed:
        return 3;
    default:
        return 0;
    }
}

/* Bytes of a tightly packed width x height frame of type (0 for unknown types). */
uint64_t frameBytes(MvGvspPixelType type, uint64_t width, uint64_t height)
{
    return width * height * bytesPerPixel(type);
}

/*
 * Gray to RGB: each gray byte becomes three equal bytes. Written as a plain
 * loop the compiler turns into interleaving vector stores; the grab thread runs
 * it for every frame.
 */
void mono8ToRgb8(const unsigned char *__restrict src, unsigned char *__restrict dst, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned char v = src[i];
        dst[3 * i] = v;
        dst[3 * i + 1] = v;
        dst[3 * i + 2] = v;
    }
}

namespace {

/*
 * One output line of the 2x2 demosaic. rRow is the raw line that holds red
 * (R G R G ...), bRow its neighbour that holds blue (G B G B ...). Each pixel
 * takes red, blue and the mean of the two greens from the 2x2 window starting
 * at its own column (the last column reuses the window of the one before).
 */
void demosaicLine(const unsigned char *__restrict rRow, const unsigned char *__restrict bRow,
                  unsigned char *__restrict out, unsigned int width)
{
    const unsigned int pairs = (width - 1) / 2;
    for (unsigned int p = 0; p < pairs; ++p) {
        const unsigned int x = 2 * p;
        unsigned char *o = out + 3 * x;
        o[0] = rRow[x];
        o[1] = static_cast<unsigned char>((rRow[x + 1] + bRow[x] + 1) >> 1);
        o[2] = bRow[x + 1];
        o[3] = rRow[x + 2];
        o[4] = static_cast<unsigned char>((rRow[x + 1] + bRow[x + 2] + 1) >> 1);
        o[5] = bRow[x + 1];
    }
    // Tail: the last one or two pixels take the window at the last full column.
    for (unsigned int x = 2 * pairs; x < width; ++x) {
        const unsigned int s = x < width - 1 ? x : width - 2;
        unsigned char *o = out + 3 * x;
        if ((s & 1) == 0) {
            o[0] = rRow[s];
            o[1] = static_cast<unsigned char>((rRow[s + 1] + bRow[s] + 1) >> 1);
            o[2] = bRow[s + 1];
        } else {
            o[0] = rRow[s + 1];
            o[1] = static_cast<unsigned char>((rRow[s] + bRow[s + 1] + 1) >> 1);
            o[2] = bRow[s];
        }
    }
}

} // namespace

/*
 * BayerRG8 (the first line starts R G, the second G B) to packed RGB8 with a
 * 2x2 demosaic line by line. A frame of one line has no blue pixels: it gets
 * red and green from its own line and blue equal to green. A frame one pixel
 * wide is shown as gray, having no colour to recover.
 */
void bayerRg8ToRgb8(const unsigned char *src, unsigned char *dst, unsigned int width, unsigned int height)
{
    if (width < 2) {
        mono8ToRgb8(src, dst, static_cast<std::size_t>(width) * height);
        return;
    }
    if (height == 1) {
        for (unsigned int x = 0; x < width; ++x) {
            const unsigned int s = x < width - 1 ? x : width - 2;
            const unsigned char red = src[s + (s & 1)];
            const unsigned char green = src[s + 1 - (s & 1)];
            dst[3 * x] = red;
            dst[3 * x + 1] = green;
            dst[3 * x + 2] = green;
        }
        return;
    }
    for (unsigned int y = 0; y < height; ++y) {
        // Window rows y and y+1; the last line looks one line up instead.
        const unsigned int top = y + 1 < height ? y : y - 1;
        const unsigned char *a = src + static_cast<std::size_t>(top) * width;
        const unsigned char *b = a + width;
        const bool topIsRed = (top & 1) == 0;
        demosaicLine(topIsRed ? a : b, topIsRed ? b : a, dst + static_cast<std::size_t>(y) * width * 3, width);
    }
}

/*
 * Validates a conversion request and runs it. Returns MV_OK (nDstLen set),
 * MV_E_PARAMETER (missing buffers, zero size, source shorter than the frame,
 * destination larger than 4 GiB), MV_E_SUPPORT (source or target format),
 * MV_E_BUFOVER (destination buffer too small; nothing written).
 */
int convertPixels(MV_CC_PIXEL_CONVERT_PARAM &param)
{
    if (!param.pSrcData || !param.pDstBuffer || param.nWidth == 0 || param.nHeight == 0)
        return MV_E_PARAMETER;
    if (param.enDstPixelType != PixelType_Gvsp_RGB8_Packed || bytesPerPixel(param.enSrcPixelType) == 0)
        return MV_E_SUPPORT;
    if (param.nSrcDataLen < frameBytes(param.enSrcPixelType, param.nWidth, param.nHeight))
        return MV_E_PARAMETER;
    const uint64_t needed = frameBytes(PixelType_Gvsp_RGB8_Packed, param.nWidth, param.nHeight);
    if (needed > UINT_MAX)
        return MV_E_PARAMETER;
    if (param.nDstBufferSize < needed)
        return MV_E_BUFOVER;

    const std::size_t pixels = static_cast<std::size_t>(param.nWidth) * param.nHeight;
    switch (param.enSrcPixelType) {
    case PixelType_Gvsp_Mono8:
        mono8ToRgb8(param.pSrcData, param.pDstBuffer, pixels);
        break;
    case PixelType_Gvsp_RGB8_Packed:
        std::memmove(param.pDstBuffer, param.pSrcData, pixels * 3);
        break;
    default:
        bayerRg8ToRgb8(param.pSrcData, param.pDstBuffer, param.nWidth, param.nHeight);
        break;
    }
    param.nDstLen = static_cast<unsigned int>(needed);
    return MV_OK;
}

} // namespace mvcc
