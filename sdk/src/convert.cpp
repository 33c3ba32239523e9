#include "convert.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace mvcc {

/* Bits per pixel from the code's own field; 0 for a code without one. */
unsigned int pixelBitsOf(MvGvspPixelType type)
{
    return (type >> 16) & 0xFFu;
}

/* Whole bytes of a line of width pixels of type. Any thread. */
uint64_t lineBytesOf(MvGvspPixelType type, uint64_t width)
{
    return frameBytes(type, width, 1);
}

/* The formats convertPixels and saveImageToFile take. Any thread. */
bool canConvert(MvGvspPixelType type)
{
    switch (type) {
    case PixelType_Gvsp_RGB8_Packed:
    case PixelType_Gvsp_BGR8_Packed:
    case PixelType_Gvsp_YUV422_8:
    case PixelType_Gvsp_YCBCR422_8:
    case PixelType_Gvsp_BayerRG8:
    case PixelType_Gvsp_BayerGR8:
    case PixelType_Gvsp_BayerGB8:
    case PixelType_Gvsp_BayerBG8:
        return true;
    default:
        return isGray(type);
    }
}

bool isGray(MvGvspPixelType type)
{
    switch (type) {
    case PixelType_Gvsp_Mono8:
    case PixelType_Gvsp_Mono10:
    case PixelType_Gvsp_Mono12:
    case PixelType_Gvsp_Mono16:
    case PixelType_Gvsp_Mono10p:
    case PixelType_Gvsp_Mono12p:
    case PixelType_Gvsp_Mono12_Packed:
        return true;
    default:
        return false;
    }
}

/*
 * Bytes of width x height pixels of type, rounded up; saturates at UINT64_MAX
 * so that a size beyond 64 bits can never wrap into a small one. Any thread.
 */
uint64_t frameBytes(MvGvspPixelType type, uint64_t width, uint64_t height)
{
    const unsigned __int128 bits = static_cast<unsigned __int128>(width) * height * pixelBitsOf(type);
    const unsigned __int128 bytes = (bits + 7) / 8;
    return bytes > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(bytes);
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
 * the raw line that holds red, bRow its neighbour that holds blue; red sits
 * in the even columns (R G R G ..., over G B G B ...), or in the odd ones
 * when redOdd (G R G R ..., over B G B G ...). Each pixel takes red, blue
 * and the mean of the two greens from the 2x2 window starting at its own
 * column (the last column reuses the window of the one before).
 */
void demosaicLineScalar(const unsigned char *__restrict rRow, const unsigned char *__restrict bRow,
                        unsigned char *__restrict out, unsigned int width, unsigned int start, bool redOdd)
{
    const unsigned int pairs = (width - 1) / 2;
    const unsigned int p = redOdd ? 1 : 0;
    for (unsigned int x = start; x < 2 * pairs; x += 2) {
        // The tail below always writes at least one more pixel, so the
        // spilling stores never pass the end of the line's last pixel.
        if (!redOdd) {
            storePixelSpilling(out + 3 * x, rRow[x], (rRow[x + 1] + bRow[x] + 1) >> 1, bRow[x + 1]);
            storePixelSpilling(out + 3 * x + 3, rRow[x + 2], (rRow[x + 1] + bRow[x + 2] + 1) >> 1,
                               bRow[x + 1]);
        } else {
            storePixelSpilling(out + 3 * x, rRow[x + 1], (rRow[x] + bRow[x + 1] + 1) >> 1, bRow[x]);
            storePixelSpilling(out + 3 * x + 3, rRow[x + 1], (rRow[x + 2] + bRow[x + 1] + 1) >> 1,
                               bRow[x + 2]);
        }
    }
    // Tail: the last one or two pixels take the window at the last full column.
    for (unsigned int x = std::max(start, 2 * pairs); x < width; ++x) {
        const unsigned int s = x < width - 1 ? x : width - 2;
        unsigned char *o = out + 3 * x;
        if ((s & 1) == p) {
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
 * three byte shuffles per colour interleave them into packed RGB. Red in the
 * odd columns swaps which lanes pick what.
 */
__attribute__((target("ssse3"))) void demosaicLineSsse3(const unsigned char *__restrict rRow,
                                                        const unsigned char *__restrict bRow,
                                                        unsigned char *__restrict out, unsigned int width,
                                                        bool redOdd)
{
    const __m128i odd = _mm_set1_epi16(static_cast<short>(redOdd ? 0x00FF : 0xFF00));
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
    demosaicLineScalar(rRow, bRow, out, width, x, redOdd);
}
#endif

void demosaicLine(const unsigned char *rRow, const unsigned char *bRow, unsigned char *out,
                  unsigned int width, bool redOdd)
{
#if defined(__x86_64__) || defined(__i386__)
    if (haveSsse3()) {
        demosaicLineSsse3(rRow, bRow, out, width, redOdd);
        return;
    }
#endif
    demosaicLineScalar(rRow, bRow, out, width, 0, redOdd);
}

// Where red sits in the 2x2 tile of a Bayer format.
struct BayerPhase {
    bool redRowOdd;
    bool redColumnOdd;
};

BayerPhase bayerPhase(MvGvspPixelType type)
{
    switch (type) {
    case PixelType_Gvsp_BayerGR8:
        return {false, true};
    case PixelType_Gvsp_BayerGB8:
        return {true, false};
    case PixelType_Gvsp_BayerBG8:
        return {true, true};
    default:
        return {false, false};
    }
}

// 16-bit little-endian gray words to their 8 most significant bits of
// `bits`: the word shifted right by bits - 8, saturated at 255.
void gray16ToGray8Scalar(const unsigned char *src, unsigned char *dst, std::size_t pixels, unsigned int shift)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned int word = src[2 * i] | (src[2 * i + 1] << 8);
        dst[i] = static_cast<unsigned char>(std::min(word >> shift, 255u));
    }
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) void gray16ToGray8Sse(const unsigned char *src, unsigned char *dst,
                                                       std::size_t pixels, unsigned int shift)
{
    const __m128i count = _mm_cvtsi32_si128(static_cast<int>(shift));
    std::size_t i = 0;
    for (; i + 16 <= pixels; i += 16) {
        const __m128i low
            = _mm_srl_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * i)), count);
        const __m128i high
            = _mm_srl_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * i + 16)), count);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_packus_epi16(low, high));
    }
    gray16ToGray8Scalar(src + 2 * i, dst + i, pixels - i, shift);
}
#endif

// The packed gray formats, a bit stream of 10 or 12 bits a pixel.
void mono10pToGray8(const unsigned char *src, unsigned char *dst, std::size_t pixels)
{
    // Four pixels in five bytes, the first pixel in the lowest bits.
    std::size_t i = 0;
    for (; i + 4 <= pixels; i += 4, src += 5) {
        dst[i] = static_cast<unsigned char>((src[0] >> 2) | (src[1] << 6));
        dst[i + 1] = static_cast<unsigned char>((src[1] >> 4) | (src[2] << 4));
        dst[i + 2] = static_cast<unsigned char>((src[2] >> 6) | (src[3] << 2));
        dst[i + 3] = src[4];
    }
    for (unsigned int k = 0; i < pixels; ++i, ++k) {
        const unsigned int bit = 10 * k;
        const unsigned int word = src[bit / 8] | (src[bit / 8 + 1] << 8);
        dst[i] = static_cast<unsigned char>(((word >> (bit % 8)) & 0x3FF) >> 2);
    }
}

void mono12pToGray8(const unsigned char *src, unsigned char *dst, std::size_t pixels)
{
    // Two pixels in three bytes: low 8 bits, low nibble = high bits of the
    // first, high nibble = low bits of the second, then its high 8 bits.
    std::size_t i = 0;
    for (; i + 2 <= pixels; i += 2, src += 3) {
        dst[i] = static_cast<unsigned char>((src[0] >> 4) | (src[1] << 4));
        dst[i + 1] = src[2];
    }
    if (i < pixels)
        dst[i] = static_cast<unsigned char>((src[0] >> 4) | (src[1] << 4));
}

void mono12PackedToGray8(const unsigned char *src, unsigned char *dst, std::size_t pixels)
{
    // Two pixels in three bytes; bytes 0 and 2 are the pixels' high 8 bits.
    std::size_t i = 0;
    for (; i + 2 <= pixels; i += 2, src += 3) {
        dst[i] = src[0];
        dst[i + 1] = src[2];
    }
    if (i < pixels)
        dst[i] = src[0];
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels a step; the sixteenth byte is rewritten by the next step or the
// scalar tail. Returns the pixels done.
__attribute__((target("ssse3"))) std::size_t bgr8ToRgb8Ssse3(const unsigned char *src, unsigned char *dst,
                                                             std::size_t pixels)
{
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t k = 0;
    for (; 3 * k + 16 <= 3 * pixels; k += 5)
        _mm_storeu_si128(
            reinterpret_cast<__m128i *>(dst + 3 * k),
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 3 * k)), swap));
    return k;
}
#endif

void bgr8ToRgb8(const unsigned char *src, unsigned char *dst, std::size_t pixels)
{
    std::size_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (haveSsse3())
        i = bgr8ToRgb8Ssse3(src, dst, pixels);
#endif
    for (; i < pixels; ++i) {
        const unsigned char blue = src[3 * i];
        dst[3 * i + 1] = src[3 * i + 1];
        dst[3 * i] = src[3 * i + 2];
        dst[3 * i + 2] = blue;
    }
}

// Full-range YCbCr (BT.601, as JPEG uses it) in 2.14 fixed point, the same
// in the scalar and the vector code so that both give the same bytes.
constexpr int crToRed = 22970;   // 1.402
constexpr int cbToGreen = 5638;  // 0.344136
constexpr int crToGreen = 11700; // 0.714136
constexpr int cbToBlue = 29032;  // 1.772
constexpr int fixedHalf = 1 << 13;

inline void yuvPixel(int y, int cb, int cr, unsigned char *out)
{
    const auto clamp = [](int v) { return static_cast<unsigned char>(std::clamp(v, 0, 255)); };
    const int u = cb - 128;
    const int v = cr - 128;
    out[0] = clamp(y + ((crToRed * v + fixedHalf) >> 14));
    out[1] = clamp(y - ((cbToGreen * u + crToGreen * v + fixedHalf) >> 14));
    out[2] = clamp(y + ((cbToBlue * u + fixedHalf) >> 14));
}

#if defined(__x86_64__) || defined(__i386__)
// Eight pixels (sixteen bytes Y U Y V ...) to their red, green and blue in
// 16-bit lanes: the chroma pairs go through one multiply-add per colour.
__attribute__((target("ssse3"))) inline void yuvEight(__m128i raw, __m128i &red, __m128i &green,
                                                      __m128i &blue)
{
    const __m128i luma = _mm_and_si128(raw, _mm_set1_epi16(0x00FF));
    const __m128i chroma = _mm_sub_epi16(_mm_srli_epi16(raw, 8), _mm_set1_epi16(128)); // u v u v ...
    const __m128i half = _mm_set1_epi32(fixedHalf);
    const auto term = [&](short cb, short cr) {
        const __m128i sums = _mm_madd_epi16(chroma, _mm_setr_epi16(cb, cr, cb, cr, cb, cr, cb, cr));
        const __m128i perPair = _mm_srai_epi32(_mm_add_epi32(sums, half), 14);
        const __m128i packed = _mm_packs_epi32(perPair, perPair); // four pairs, twice
        return _mm_unpacklo_epi16(packed, packed);                // each pair's value for both pixels
    };
    red = _mm_add_epi16(luma, term(0, crToRed));
    green = _mm_sub_epi16(luma, term(cbToGreen, crToGreen));
    blue = _mm_add_epi16(luma, term(cbToBlue, 0));
}

// Sixteen pixels a step; returns the pixels done.
__attribute__((target("ssse3"))) std::size_t yuv422ToRgb8Ssse3(const unsigned char *src, unsigned char *dst,
                                                               std::size_t pixels)
{
    const __m128i r0 = _mm_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
    const __m128i g0 = _mm_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
    const __m128i b0 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m128i r1 = _mm_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
    const __m128i g1 = _mm_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
    const __m128i b1 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
    const __m128i r2 = _mm_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
    const __m128i g2 = _mm_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
    const __m128i b2 = _mm_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
    std::size_t i = 0;
    for (; i + 16 <= pixels; i += 16) {
        __m128i redLow, greenLow, blueLow, redHigh, greenHigh, blueHigh;
        yuvEight(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * i)), redLow, greenLow, blueLow);
        yuvEight(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * i + 16)), redHigh, greenHigh,
                 blueHigh);
        // Saturating packs clamp to 0..255.
        const __m128i red = _mm_packus_epi16(redLow, redHigh);
        const __m128i green = _mm_packus_epi16(greenLow, greenHigh);
        const __m128i blue = _mm_packus_epi16(blueLow, blueHigh);
        __m128i *o = reinterpret_cast<__m128i *>(dst + 3 * i);
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
    return i;
}
#endif

void yuv422ToRgb8(const unsigned char *src, unsigned char *dst, std::size_t pixels)
{
    std::size_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (haveSsse3())
        i = yuv422ToRgb8Ssse3(src, dst, pixels);
#endif
    for (src += 2 * i, dst += 3 * i; i + 2 <= pixels; i += 2, src += 4, dst += 6) {
        yuvPixel(src[0], src[1], src[3], dst);
        yuvPixel(src[2], src[1], src[3], dst + 3);
    }
    // An odd last pixel has its Cb but no Cr: no red or green shift.
    if (i < pixels)
        yuvPixel(src[0], src[1], 128, dst);
}

} // namespace

/*
 * Gray formats to their 8 most significant bits. The words of Mono10..16 take
 * a vector shift and pack where the processor has it. Any thread.
 */
void grayToGray8(MvGvspPixelType type, const unsigned char *src, unsigned char *dst, std::size_t pixels)
{
    unsigned int shift = 0;
    switch (type) {
    case PixelType_Gvsp_Mono8:
        std::memmove(dst, src, pixels);
        return;
    case PixelType_Gvsp_Mono10p:
        mono10pToGray8(src, dst, pixels);
        return;
    case PixelType_Gvsp_Mono12p:
        mono12pToGray8(src, dst, pixels);
        return;
    case PixelType_Gvsp_Mono12_Packed:
        mono12PackedToGray8(src, dst, pixels);
        return;
    case PixelType_Gvsp_Mono10:
        shift = 2;
        break;
    case PixelType_Gvsp_Mono12:
        shift = 4;
        break;
    default:
        shift = 8;
        break;
    }
#if defined(__x86_64__) || defined(__i386__)
    if (haveSsse3()) {
        gray16ToGray8Sse(src, dst, pixels, shift);
        return;
    }
#endif
    gray16ToGray8Scalar(src, dst, pixels, shift);
}

/*
 * The four Bayer formats to packed RGB8 with a 2x2 demosaic line by line.
 * A frame of one line holds only two of the colours: the missing one is
 * taken equal to green. A frame one pixel wide is shown as gray, having no
 * colour to recover. Any thread.
 */
void bayerToRgb8(MvGvspPixelType type, const unsigned char *src, unsigned char *dst, unsigned int width,
                 unsigned int height)
{
    if (width < 2) {
        mono8ToRgb8(src, dst, static_cast<std::size_t>(width) * height);
        return;
    }
    const BayerPhase phase = bayerPhase(type);
    const unsigned int p = phase.redColumnOdd ? 1 : 0;
    if (height == 1) {
        // The one line is red and green (red row) or green and blue.
        for (unsigned int x = 0; x < width; ++x) {
            const unsigned int s = x < width - 1 ? x : width - 2;
            const bool atP = (s & 1) == p;
            const unsigned char other = src[atP ? s : s + 1];  // red, or green on a blue row
            const unsigned char second = src[atP ? s + 1 : s]; // green, or blue on a blue row
            unsigned char *o = dst + 3 * x;
            if (!phase.redRowOdd) {
                o[0] = other;
                o[1] = o[2] = second;
            } else {
                o[0] = o[1] = other;
                o[2] = second;
            }
        }
        return;
    }
    for (unsigned int y = 0; y < height; ++y) {
        // Window rows y and y+1; the last line looks one line up instead.
        const unsigned int top = y + 1 < height ? y : y - 1;
        const unsigned char *a = src + static_cast<std::size_t>(top) * width;
        const unsigned char *b = a + width;
        const bool topIsRed = ((top & 1) != 0) == phase.redRowOdd;
        demosaicLine(topIsRed ? a : b, topIsRed ? b : a, dst + static_cast<std::size_t>(y) * width * 3, width,
                     phase.redColumnOdd);
    }
}

/*
 * A convertible frame to packed RGB8. Gray formats other than Mono8 pass
 * through a line-sized gray buffer so that the widening stays vectorised.
 * Any thread.
 */
void convertToRgb8(MvGvspPixelType type, const unsigned char *src, unsigned char *dst, unsigned int width,
                   unsigned int height)
{
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    switch (type) {
    case PixelType_Gvsp_Mono8:
        mono8ToRgb8(src, dst, pixels);
        return;
    case PixelType_Gvsp_RGB8_Packed:
        std::memmove(dst, src, pixels * 3);
        return;
    case PixelType_Gvsp_BGR8_Packed:
        bgr8ToRgb8(src, dst, pixels);
        return;
    case PixelType_Gvsp_YUV422_8:
    case PixelType_Gvsp_YCBCR422_8:
        yuv422ToRgb8(src, dst, pixels);
        return;
    case PixelType_Gvsp_BayerRG8:
    case PixelType_Gvsp_BayerGR8:
    case PixelType_Gvsp_BayerGB8:
    case PixelType_Gvsp_BayerBG8:
        bayerToRgb8(type, src, dst, width, height);
        return;
    default:
        break;
    }
    // Chunks of a multiple of 8 pixels start on a whole byte in every packed format.
    constexpr std::size_t chunk = 4096;
    unsigned char gray[chunk];
    for (std::size_t done = 0; done < pixels; done += chunk) {
        const std::size_t n = std::min(chunk, pixels - done);
        grayToGray8(type, src + frameBytes(type, done, 1), gray, n);
        mono8ToRgb8(gray, dst + 3 * done, n);
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
    if (param.enDstPixelType != PixelType_Gvsp_RGB8_Packed || !canConvert(param.enSrcPixelType))
        return MV_E_SUPPORT;
    // Sizes saturate, so a frame too large for 64 bits fails here.
    const uint64_t needed = frameBytes(PixelType_Gvsp_RGB8_Packed, param.nWidth, param.nHeight);
    if (needed > UINT_MAX)
        return MV_E_PARAMETER;
    if (param.nSrcDataLen < frameBytes(param.enSrcPixelType, param.nWidth, param.nHeight))
        return MV_E_PARAMETER;
    if (param.nDstBufferSize < needed)
        return MV_E_BUFOVER;
    convertToRgb8(param.enSrcPixelType, param.pSrcData, param.pDstBuffer, param.nWidth, param.nHeight);
    param.nDstLen = static_cast<unsigned int>(needed);
    return MV_OK;
}

} // namespace mvcc
