#include "simscene.h"

#include "simpixelformat.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mvcc {
namespace {

// Diagonal bands that drift sideways as the lines advance; green runs the
// other diagonal, blue changes slowly from line to line.
inline unsigned char red(unsigned int offset, uint64_t line, unsigned int x)
{
    return static_cast<unsigned char>(((x + line) >> 1) + offset);
}

inline unsigned char green(unsigned int offset, uint64_t line, unsigned int x)
{
    return static_cast<unsigned char>((static_cast<uint32_t>(x - line) >> 1) + 3 * offset);
}

inline unsigned char blue(unsigned int offset, uint64_t line, unsigned int x)
{
    return static_cast<unsigned char>((line >> 2) + (x >> 4) + 5 * offset);
}

inline unsigned char stampByte(uint64_t line, unsigned int x)
{
    return static_cast<unsigned char>(static_cast<uint32_t>(line) >> (8 * (3 - x)));
}

} // namespace

/* FNV-1a (32 bits) of the serial number. */
uint32_t serialHash(const std::string &serial)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : serial)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

/* The scene's brightness offset: the low byte of the serial's hash. */
unsigned int sceneOffset(const std::string &serial)
{
    return serialHash(serial) & 0xFF;
}

/*
 * One byte of the scene. Mono8 shows the red pattern as gray; BayerRG8 lines
 * with an even line number hold R G R G ..., odd ones G B G B ...; the first
 * four pixels of every line carry the line number in all channels.
 */
unsigned char sceneByte(unsigned int offset, uint64_t line, unsigned int x, unsigned int channel,
                        MvGvspPixelType format)
{
    if (x < 4)
        return stampByte(line, x);
    if (format == PixelType_Gvsp_BayerRG8) {
        if ((line & 1) == 0)
            channel = (x & 1) == 0 ? 0 : 1;
        else
            channel = (x & 1) == 0 ? 1 : 2;
    } else if (format != PixelType_Gvsp_RGB8_Packed) {
        channel = 0;
    }
    return channel == 0 ? red(offset, line, x)
        : channel == 1  ? green(offset, line, x)
                        : blue(offset, line, x);
}

/* Renders one line; out holds width pixels of format. */
void renderSceneLine(unsigned int offset, uint64_t line, unsigned int width, MvGvspPixelType format,
                     unsigned char *out)
{
    if (format != PixelType_Gvsp_Mono8 && format != PixelType_Gvsp_RGB8_Packed
        && format != PixelType_Gvsp_BayerRG8) {
        renderFormattedSceneLine(offset, line, width, format, out);
        return;
    }
    const unsigned int stamp = width < 4 ? width : 4;
    if (format == PixelType_Gvsp_RGB8_Packed) {
        for (unsigned int x = stamp; x < width; ++x) {
            out[3 * x] = red(offset, line, x);
            out[3 * x + 1] = green(offset, line, x);
            out[3 * x + 2] = blue(offset, line, x);
        }
        for (unsigned int x = 0; x < stamp; ++x)
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = stampByte(line, x);
        return;
    }
    if (format == PixelType_Gvsp_BayerRG8) {
        for (unsigned int x = stamp; x < width; ++x)
            out[x] = sceneByte(offset, line, x, 0, format);
    } else {
        for (unsigned int x = stamp; x < width; ++x)
            out[x] = red(offset, line, x);
    }
    for (unsigned int x = 0; x < stamp; ++x)
        out[x] = stampByte(line, x);
}

/*
 * Temporal noise for realistic encoder loads. A xorshift stream seeded from
 * the seed draws a pattern of offsets once, mapped evenly onto
 * -amplitude..amplitude through a table; each line adds a stretch of it that
 * starts where a hash of the line says. Drawing a random byte for every
 * image byte took three quarters of the delivery thread at 90000 lines of
 * 4096 pixels a second, far more than a camera's own delivery costs; adding
 * a stored pattern with saturation is a few instructions per 16 bytes.
 */
namespace {

constexpr std::size_t kNoisePatternBytes = std::size_t(1) << 16;

// The offsets as two saturating steps: up, then down (one of them 0).
struct NoisePattern {
    unsigned int amplitude = 0;
    uint32_t seed = 0;
    std::vector<unsigned char> up;
    std::vector<unsigned char> down;
};

const NoisePattern &noisePattern(unsigned int amplitude, uint32_t seed)
{
    // One per delivering thread: a camera delivers on the thread that fetches.
    thread_local NoisePattern pattern;
    if (!pattern.up.empty() && pattern.amplitude == amplitude && pattern.seed == seed)
        return pattern;
    int offsets[256];
    for (int b = 0; b < 256; ++b)
        offsets[b] = ((b * int(2 * amplitude + 1)) >> 8) - int(amplitude);
    pattern.amplitude = amplitude;
    pattern.seed = seed;
    pattern.up.assign(kNoisePatternBytes, 0);
    pattern.down.assign(kNoisePatternBytes, 0);
    uint64_t state = (uint64_t(seed) << 32 ^ 0x9E3779B97F4A7C15ull) | 1u;
    for (std::size_t i = 0; i < kNoisePatternBytes; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const int offset = offsets[(state >> 24) & 0xFF];
        pattern.up[i] = static_cast<unsigned char>(offset > 0 ? offset : 0);
        pattern.down[i] = static_cast<unsigned char>(offset < 0 ? -offset : 0);
    }
    return pattern;
}

void addSaturating(unsigned char *p, const unsigned char *up, const unsigned char *down, std::size_t n)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        v = _mm_adds_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i *>(up + i)));
        v = _mm_subs_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i *>(down + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + i), v);
    }
#endif
    for (; i < n; ++i) {
        const int value = int(p[i]) + int(up[i]) - int(down[i]);
        p[i] = static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
    }
}

} // namespace

void addSceneNoise(unsigned int amplitude, uint32_t seed, uint64_t line, unsigned char *first,
                   unsigned char *end)
{
    if (amplitude == 0 || first >= end)
        return;
    const NoisePattern &pattern = noisePattern(amplitude, seed);
    uint64_t hash = (line + 1) * 0x9E3779B97F4A7C15ull;
    hash ^= hash >> 29;
    std::size_t at = std::size_t(hash % kNoisePatternBytes);
    for (unsigned char *p = first; p < end;) {
        const std::size_t n = std::min<std::size_t>(std::size_t(end - p), kNoisePatternBytes - at);
        addSaturating(p, pattern.up.data() + at, pattern.down.data() + at, n);
        p += n;
        at = 0;
    }
}

} // namespace mvcc
