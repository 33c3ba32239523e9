#include "convert.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

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

namespace {

// Writes r, g, b at out with one 4-byte store; the fourth byte spills into
// the next pixel, which the caller writes afterwards.
inline void storePixelSpilling(unsigned char *out, unsigned int r, unsigned int g, unsigned int b)
{
    const uint32_t word = r | (g << 8) | (b << 16);
    std::memcpy(out, &word, sizeof word);
}

void mono8ToRgb8Scalar(const unsigned char *__restrict src, unsigned char *__restrict dst, std::size_t pixels)
{
    if (pixels == 0)
        return;
    for (std::size_t i = 0; i + 1 < pixels; ++i)
        storePixelSpilling(dst + 3 * i, src[i], src[i], src[i]);
    const std::size_t last = pixels - 1;
    dst[3 * last] = dst[3 * last + 1] = dst[3 * last + 2] = src[last];
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen gray pixels become 48 bytes through three byte shuffles.
__attribute__((target("ssse3"))) void mono8ToRgb8Ssse3(const unsigned char *__restrict src,
                                                       unsigned char *__restrict dst, std::size_t pixels)
{
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    std::size_t i = 0;
    for (; i + 16 <= pixels; i += 16) {
        const __m128i gray = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
        __m128i *out = reinterpret_cast<__m128i *>(dst + 3 * i);
        _mm_storeu_si128(out, _mm_shuffle_epi8(gray, first));
        _mm_storeu_si128(out + 1, _mm_shuffle_epi8(gray, second));
        _mm_storeu_si128(out + 2, _mm_shuffle_epi8(gray, third));
    }
    mono8ToRgb8Scalar(src + i, dst + 3 * i, pixels - i);
}

bool haveSsse3()
{
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported;
}
#endif

} // namespace

/*
 * Gray to RGB: each gray byte becomes three equal bytes. The grab thread runs
 * it for every frame, so it uses byte shuffles where the processor has them.
 */
void mono8ToRgb8(const unsigned char *__restrict src, unsigned char *__restrict dst, std::size_t pixels)
{
#if defined(__x86_64__) || defined(__i386__)
    if (haveSsse3()) {
        mono8ToRgb8Ssse3(src, dst, pixels);
        return;
    }
#endif
    mono8ToRgb8Scalar(src, dst, pixels);
}

namespace {

/*
 * One output line of the 2x2 demosaic from column start (even) on. rRow is
 * the raw line that holds red (R G R G ...), bRow its neighbour that holds
 * blue (G B G B ...). Each pixel takes red, blue and the mean of the two
 * greens from the 2x2 window starting at its own column (the last column
 * reuses the window of the one before).
 */
void demosaicLineScalar(const unsigned char *__restrict rRow, const unsigned char *__restrict bRow,
                        unsigned char *__restrict out, unsigned int width, unsigned int start)
{
    const unsigned int pairs = (width - 1) / 2;
    for (unsigned int x = start; x < 2 * pairs; x += 2) {
        // The tail below always writes at least one more pixel, so the
        // spilling stores never pass the end of the line's last pixel.
        storePixelSpilling(out + 3 * x, rRow[x], (rRow[x + 1] + bRow[x] + 1) >> 1, bRow[x + 1]);
        storePixelSpilling(out + 3 * x + 3, rRow[x + 2], (rRow[x + 1] + bRow[x + 2] + 1) >> 1, bRow[x + 1]);
    }
    // Tail: the last one or two pixels take the window at the last full column.
    for (unsigned int x = std::max(start, 2 * pairs); x < width; ++x) {
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

#if defined(__x86_64__) || defined(__i386__)
/*
 * The same demosaic sixteen pixels at a time: even and odd columns pick their
 * bytes from the raw lines and from the lines one column further on, then
 * three byte shuffles per colour interleave them into packed RGB.
 */
__attribute__((target("ssse3"))) void demosaicLineSsse3(const unsigned char *__restrict rRow,
                                                        const unsigned char *__restrict bRow,
                                                        unsigned char *__restrict out, unsigned int width)
{
    const __m128i odd = _mm_set1_epi16(static_cast<short>(0xFF00));
    const auto pick = [&](__m128i even, __m128i oddLanes) {
        return _mm_or_si128(_mm_andnot_si128(odd, even), _mm_and_si128(odd, oddLanes));
    };
    // Byte i of the output comes from pixel i / 3 of colour i % 3; -1 gives 0.
    const __m128i r0 = _mm_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
    const __m128i g0 = _mm_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
    const __m128i b0 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m128i r1 = _mm_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
    const __m128i g1 = _mm_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
    const __m128i b1 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
    const __m128i r2 = _mm_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
    const __m128i g2 = _mm_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
    const __m128i b2 = _mm_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
    unsigned int x = 0;
    // Each block also reads column x + 16, which must exist.
    for (; x + 16 < width; x += 16) {
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rRow + x));
        const __m128i rNext = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rRow + x + 1));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bRow + x));
        const __m128i bNext = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bRow + x + 1));
        const __m128i red = pick(r, rNext);
        const __m128i green = pick(_mm_avg_epu8(rNext, b), _mm_avg_epu8(r, bNext));
        const __m128i blue = pick(bNext, b);
        __m128i *o = reinterpret_cast<__m128i *>(out + 3 * x);
        _mm_storeu_si128(o,
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(red, r0), _mm_shuffle_epi8(green, g0)),
                                      _mm_shuffle_epi8(blue, b0)));
        _mm_storeu_si128(o + 1,
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(red, r1), _mm_shuffle_epi8(green, g1)),
                                      _mm_shuffle_epi8(blue, b1)));
        _mm_storeu_si128(o + 2,
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(red, r2), _mm_shuffle_epi8(green, g2)),
                                      _mm_shuffle_epi8(blue, b2)));
    }
    demosaicLineScalar(rRow, bRow, out, width, x);
}
#endif

void demosaicLine(const unsigned char *rRow, const unsigned char *bRow, unsigned char *out,
                  unsigned int width)
{
#if defined(__x86_64__) || defined(__i386__)
    if (haveSsse3()) {
        demosaicLineSsse3(rRow, bRow, out, width);
        return;
    }
#endif
    demosaicLineScalar(rRow, bRow, out, width, 0);
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
        demosaicLine(topIsRed ? a : b, topIsRed ? b : a, dst + static_cast<std::size_t>(y) * width * 3,
                     width);
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
