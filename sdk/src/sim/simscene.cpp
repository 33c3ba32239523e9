#include "simscene.h"

#include "simpixelformat.h"

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
 * Temporal noise for realistic encoder loads: a xorshift stream seeded from
 * the seed and the line gives one random byte per image byte, mapped evenly
 * onto -amplitude..amplitude through a table. Cheap enough for the delivery
 * thread at USB3 line rates.
 */
void addSceneNoise(unsigned int amplitude, uint32_t seed, uint64_t line, unsigned char *first,
                   unsigned char *end)
{
    if (amplitude == 0 || first >= end)
        return;
    int offsets[256];
    for (int b = 0; b < 256; ++b)
        offsets[b] = ((b * int(2 * amplitude + 1)) >> 8) - int(amplitude);
    uint64_t state = (uint64_t(seed) << 32 ^ line * 0x9E3779B97F4A7C15ull) | 1u;
    uint64_t bits = 0;
    int left = 0;
    for (unsigned char *p = first; p < end; ++p) {
        if (left == 0) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            bits = state;
            left = 8;
        }
        const int value = int(*p) + offsets[bits & 0xFF];
        *p = static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
        bits >>= 8;
        --left;
    }
}

} // namespace mvcc
