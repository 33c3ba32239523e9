#include "simpixelformat.h"

#include "convert.h"
#include "simscene.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace mvcc {
namespace {

struct NamedFormat {
    const char *name; // lower case
    MvGvspPixelType format;
};

constexpr NamedFormat namedFormats[] = {
    {"mono8", PixelType_Gvsp_Mono8},
    {"mono10", PixelType_Gvsp_Mono10},
    {"mono12", PixelType_Gvsp_Mono12},
    {"mono16", PixelType_Gvsp_Mono16},
    {"mono10p", PixelType_Gvsp_Mono10p},
    {"mono12p", PixelType_Gvsp_Mono12p},
    {"mono12packed", PixelType_Gvsp_Mono12_Packed},
    {"bayerrg8", PixelType_Gvsp_BayerRG8},
    {"bayergr8", PixelType_Gvsp_BayerGR8},
    {"bayergb8", PixelType_Gvsp_BayerGB8},
    {"bayerbg8", PixelType_Gvsp_BayerBG8},
    {"rgb8", PixelType_Gvsp_RGB8_Packed},
    {"rgb8packed", PixelType_Gvsp_RGB8_Packed},
    {"bgr8", PixelType_Gvsp_BGR8_Packed},
    {"yuv422_8", PixelType_Gvsp_YUV422_8},
    {"ycbcr422_8", PixelType_Gvsp_YCBCR422_8},
    {"mono14", simMono14},
};

// The scene's colour channel (0 red, 1 green, 2 blue) at a pixel, stamp included.
unsigned char scene(unsigned int offset, uint64_t line, unsigned int x, unsigned int channel)
{
    return sceneByte(offset, line, x, channel, PixelType_Gvsp_RGB8_Packed);
}

// A gray pixel of `bits`: the Mono8 scene on top, a pattern below it.
unsigned int grayValue(unsigned int offset, uint64_t line, unsigned int x, unsigned int bits)
{
    const unsigned int low = bits - 8;
    const unsigned int pattern = static_cast<unsigned int>(x * 7u + line) & ((1u << low) - 1u);
    return (static_cast<unsigned int>(scene(offset, line, x, 0)) << low) | pattern;
}

// Appends value's lowest `bits` bits to a stream filled from the least
// significant bit of each byte.
void putBits(unsigned char *out, uint64_t bitPosition, unsigned int value, unsigned int bits)
{
    for (unsigned int b = 0; b < bits; ++b, ++bitPosition) {
        const unsigned char mask = static_cast<unsigned char>(1u << (bitPosition % 8));
        if ((value >> b) & 1u)
            out[bitPosition / 8] |= mask;
        else
            out[bitPosition / 8] &= static_cast<unsigned char>(~mask);
    }
}

} // namespace

/* Case-insensitive lookup of a configured pixel format name. */
bool parseSimPixelFormat(const std::string &text, MvGvspPixelType &out)
{
    std::string name = text;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const NamedFormat &known : namedFormats)
        if (name == known.name) {
            out = known.format;
            return true;
        }
    return false;
}

const char *simPixelFormatNames()
{
    return "Mono8, Mono10, Mono12, Mono16, Mono10p, Mono12p, Mono12Packed, BayerRG8, BayerGR8, BayerGB8, "
           "BayerBG8, RGB8, BGR8, YUV422_8, YCbCr422_8 or Mono14";
}

bool isBayerFormat(MvGvspPixelType format)
{
    return format == PixelType_Gvsp_BayerRG8 || format == PixelType_Gvsp_BayerGR8
        || format == PixelType_Gvsp_BayerGB8 || format == PixelType_Gvsp_BayerBG8;
}

unsigned int widthMultipleOf(MvGvspPixelType format)
{
    switch (format) {
    case PixelType_Gvsp_Mono10p:
        return 4;
    case PixelType_Gvsp_Mono12p:
    case PixelType_Gvsp_Mono12_Packed:
    case PixelType_Gvsp_YUV422_8:
    case PixelType_Gvsp_YCBCR422_8:
        return 2;
    default:
        return 1;
    }
}

/* One line of the scene packed in format; out holds lineBytesOf(format, width). */
void renderFormattedSceneLine(unsigned int offset, uint64_t line, unsigned int width, MvGvspPixelType format,
                              unsigned char *out)
{
    switch (format) {
    case PixelType_Gvsp_Mono10:
    case PixelType_Gvsp_Mono12:
    case simMono14:
    case PixelType_Gvsp_Mono16: {
        const unsigned int bits = format == PixelType_Gvsp_Mono10 ? 10
            : format == PixelType_Gvsp_Mono12                     ? 12
            : format == simMono14                                 ? 14
                                                                  : 16;
        for (unsigned int x = 0; x < width; ++x) {
            const unsigned int value = grayValue(offset, line, x, bits);
            out[2 * x] = static_cast<unsigned char>(value);
            out[2 * x + 1] = static_cast<unsigned char>(value >> 8);
        }
        return;
    }
    case PixelType_Gvsp_Mono10p:
    case PixelType_Gvsp_Mono12p: {
        const unsigned int bits = format == PixelType_Gvsp_Mono10p ? 10 : 12;
        for (unsigned int x = 0; x < width; ++x)
            putBits(out, uint64_t(x) * bits, grayValue(offset, line, x, bits), bits);
        return;
    }
    case PixelType_Gvsp_Mono12_Packed:
        for (unsigned int x = 0; x < width; ++x) {
            const unsigned int value = grayValue(offset, line, x, 12);
            unsigned char *pair = out + 3 * (x / 2);
            if (x % 2 == 0) {
                pair[0] = static_cast<unsigned char>(value >> 4);
                pair[1] = static_cast<unsigned char>((pair[1] & 0xF0) | (value & 0x0F));
            } else {
                pair[2] = static_cast<unsigned char>(value >> 4);
                pair[1] = static_cast<unsigned char>((pair[1] & 0x0F) | ((value & 0x0F) << 4));
            }
        }
        return;
    case PixelType_Gvsp_BayerGR8:
    case PixelType_Gvsp_BayerGB8:
    case PixelType_Gvsp_BayerBG8: {
        const bool redRowOdd = format != PixelType_Gvsp_BayerGR8;
        const bool redColumnOdd = format != PixelType_Gvsp_BayerGB8;
        for (unsigned int x = 0; x < width; ++x) {
            const bool redRow = ((line & 1) != 0) == redRowOdd;
            const bool redColumn = ((x & 1) != 0) == redColumnOdd;
            const unsigned int channel = redRow && redColumn ? 0 : !redRow && !redColumn ? 2 : 1;
            out[x] = scene(offset, line, x, x < 4 ? 0 : channel);
        }
        return;
    }
    case PixelType_Gvsp_BGR8_Packed:
        for (unsigned int x = 0; x < width; ++x) {
            out[3 * x] = scene(offset, line, x, 2);
            out[3 * x + 1] = scene(offset, line, x, 1);
            out[3 * x + 2] = scene(offset, line, x, 0);
        }
        return;
    case PixelType_Gvsp_YUV422_8:
    case PixelType_Gvsp_YCBCR422_8:
        // Luma from red, the pair's chroma from green and blue; the stamp
        // pixels are gray (chroma 128) so that they read back unchanged.
        for (unsigned int x = 0; x < width; ++x) {
            out[2 * x] = scene(offset, line, x, 0);
            const unsigned int first = x & ~1u;
            const bool stamp = first < 4;
            out[2 * x + 1] = stamp ? 128 : scene(offset, line, first, x % 2 == 0 ? 1 : 2);
        }
        return;
    case PixelType_Gvsp_Mono8:
    case PixelType_Gvsp_RGB8_Packed:
    case PixelType_Gvsp_BayerRG8:
        renderSceneLine(offset, line, width, format, out);
        return;
    default:
        std::memset(out, 0, static_cast<std::size_t>(lineBytesOf(format, width)));
        return;
    }
}

} // namespace mvcc
