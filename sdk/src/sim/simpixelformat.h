// The pixel formats a simulated camera can send beyond Mono8, RGB8 and
// BayerRG8: the same scene, packed as each format packs it.
#ifndef MVCC_SIMPIXELFORMAT_H
#define MVCC_SIMPIXELFORMAT_H

#include "MvCameraControl.h"

#include <cstdint>
#include <string>

namespace mvcc {

// Mono14, a format the library does not convert: a simulated camera sends it
// so that the program's handling of such a camera can be tried.
constexpr MvGvspPixelType simMono14 = 0x01100025u;

// A format name of the configuration (any case): Mono8, Mono10, Mono12,
// Mono16, Mono10p, Mono12p, Mono12Packed, BayerRG8, BayerGR8, BayerGB8,
// BayerBG8, RGB8, BGR8, YUV422_8, YCbCr422_8, Mono14. False for anything else.
bool parseSimPixelFormat(const std::string &text, MvGvspPixelType &out);

// The names parseSimPixelFormat takes, for error texts.
const char *simPixelFormatNames();

bool isBayerFormat(MvGvspPixelType format);

// The pixels a line's width must be a multiple of so that every line starts
// on a whole byte (packed formats) or a whole 4:2:2 pair.
unsigned int widthMultipleOf(MvGvspPixelType format);

// Writes one scene line of width pixels in a format other than Mono8, RGB8
// and BayerRG8. Gray formats carry the Mono8 scene in their 8 most
// significant bits and a pattern in the bits below; the stamp pixels keep
// the line number in those 8 bits too.
void renderFormattedSceneLine(unsigned int offset, uint64_t line, unsigned int width, MvGvspPixelType format,
                              unsigned char *out);

} // namespace mvcc

#endif // MVCC_SIMPIXELFORMAT_H
