#include "pngfilter.h"

#include <cstdlib>

// The 64-bit sums are read out with an x86-64 instruction.
#if defined(__SSE2__) && defined(__x86_64__)
#define PNGFILTER_SSE2 1
#include <emmintrin.h>
#endif

namespace {

enum FilterType : uchar { None, Sub, Up, Average, Paeth, FilterCount };

inline int paethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Byte i filtered by type; a, b and c are the left, upper and upper-left
// neighbours, zero outside the picture.
inline uchar filtered(int type, const uchar *row, const uchar *prev, std::size_t i, std::size_t bpp)
{
    const int x = row[i];
    const int a = i >= bpp ? row[i - bpp] : 0;
    const int b = prev[i];
    const int c = i >= bpp ? prev[i - bpp] : 0;
    switch (type) {
    case None:
        return uchar(x);
    case Sub:
        return uchar(x - a);
    case Up:
        return uchar(x - b);
    case Average:
        return uchar(x - ((a + b) >> 1));
    default:
        return uchar(x - paethPredictor(a, b, c));
    }
}

inline std::size_t cost(uchar v)
{
    return v < 128 ? v : 256 - v;
}

#ifdef PNGFILTER_SSE2

constexpr std::size_t kLanes = 16;

struct Neighbours {
    __m128i x, a, b, c;
};

inline Neighbours load(const uchar *row, const uchar *prev, std::size_t i, std::size_t bpp)
{
    const auto at = [](const uchar *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    return {at(row + i), at(row + i - bpp), at(prev + i), at(prev + i - bpp)};
}

// The Paeth predictor of eight pixels widened to 16 bits.
inline __m128i paethHalf(__m128i a, __m128i b, __m128i c)
{
    const auto absolute = [](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); };
    const __m128i pa = absolute(_mm_sub_epi16(b, c));
    const __m128i pb = absolute(_mm_sub_epi16(a, c));
    const __m128i pc = absolute(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
    // pa <= pb && pa <= pc picks a; otherwise pb <= pc picks b; else c.
    const __m128i takeA = _mm_andnot_si128(_mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc)),
                                           _mm_set1_epi16(-1));
    const __m128i takeB = _mm_andnot_si128(_mm_cmpgt_epi16(pb, pc), _mm_set1_epi16(-1));
    const __m128i bOrC = _mm_or_si128(_mm_and_si128(takeB, b), _mm_andnot_si128(takeB, c));
    return _mm_or_si128(_mm_and_si128(takeA, a), _mm_andnot_si128(takeA, bOrC));
}

inline __m128i paethPredictors(const Neighbours &n)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i low
        = paethHalf(_mm_unpacklo_epi8(n.a, zero), _mm_unpacklo_epi8(n.b, zero), _mm_unpacklo_epi8(n.c, zero));
    const __m128i high
        = paethHalf(_mm_unpackhi_epi8(n.a, zero), _mm_unpackhi_epi8(n.b, zero), _mm_unpackhi_epi8(n.c, zero));
    return _mm_packus_epi16(low, high);
}

inline __m128i filteredLanes(int type, const Neighbours &n)
{
    switch (type) {
    case None:
        return n.x;
    case Sub:
        return _mm_sub_epi8(n.x, n.a);
    case Up:
        return _mm_sub_epi8(n.x, n.b);
    case Average: {
        // avg_epu8 rounds up; the filter takes the floor.
        const __m128i roundedUp = _mm_avg_epu8(n.a, n.b);
        const __m128i odd = _mm_and_si128(_mm_xor_si128(n.a, n.b), _mm_set1_epi8(1));
        return _mm_sub_epi8(n.x, _mm_sub_epi8(roundedUp, odd));
    }
    default:
        return _mm_sub_epi8(n.x, paethPredictors(n));
    }
}

// The costs of 16 filtered bytes, summed into the two 64-bit halves.
inline __m128i laneCost(__m128i v)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero);
}

#endif

} // namespace

void filterPngRow(const uchar *row, const uchar *prev, std::size_t n, std::size_t bpp, uchar *out)
{
    // The first bpp bytes lack a left neighbour and the last few fill no
    // whole vector: those go byte by byte.
    std::size_t costs[FilterCount] = {};
    std::size_t head = n;
    std::size_t tail = n;
#ifdef PNGFILTER_SSE2
    if (n >= kLanes + bpp) {
        head = kLanes;
        tail = head + (n - head) / kLanes * kLanes;
        __m128i sums[FilterCount];
        for (__m128i &sum : sums)
            sum = _mm_setzero_si128();
        for (std::size_t i = head; i < tail; i += kLanes) {
            const Neighbours neighbours = load(row, prev, i, bpp);
            for (int type = None; type < FilterCount; ++type)
                sums[type] = _mm_add_epi64(sums[type], laneCost(filteredLanes(type, neighbours)));
        }
        for (int type = None; type < FilterCount; ++type) {
            costs[type] = std::size_t(_mm_cvtsi128_si64(sums[type]))
                + std::size_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums[type], sums[type])));
        }
    }
#endif
    const auto byBytes = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            for (int type = None; type < FilterCount; ++type)
                costs[type] += cost(filtered(type, row, prev, i, bpp));
        }
    };
    byBytes(0, head);
    byBytes(tail, n);

    int best = None;
    for (int type = Sub; type < FilterCount; ++type) {
        if (costs[type] < costs[best])
            best = type;
    }
    out[0] = uchar(best);
    uchar *target = out + 1;
    for (std::size_t i = 0; i < head; ++i)
        target[i] = filtered(best, row, prev, i, bpp);
#ifdef PNGFILTER_SSE2
    for (std::size_t i = head; i < tail; i += kLanes) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(target + i),
                         filteredLanes(best, load(row, prev, i, bpp)));
    }
#endif
    for (std::size_t i = tail; i < n; ++i)
        target[i] = filtered(best, row, prev, i, bpp);
}
