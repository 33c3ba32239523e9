/*
 * Test interface of the simulated cameras in MVCameraControl (C++ only).
 *
 * Lets a test install its own simulated cameras, inject failures and check
 * the picture a simulated camera produced: every line carries its absolute
 * line number in its first four pixels (most significant byte first, the same
 * value in every channel). docs/simulator.md describes the cameras.
 */
#ifndef MVSIM_H
#define MVSIM_H

#include "MvCameraControl.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace mvsim {

// Replaces the simulated cameras by those of an INI text (the format of the
// CORVISTA_SIM_CONFIG file). Open devices keep running as they were. Returns
// false, with the reason in *error when given, and changes nothing on error.
MV_CAMCTRL_API bool configure(const std::string &iniText, std::string *error = nullptr);

// The same from a file.
MV_CAMCTRL_API bool loadConfig(const std::string &path, std::string *error = nullptr);

// Back to the start state: the cameras of CORVISTA_SIM_CONFIG (or the two
// built-in ones), no injected faults, vanished cameras present again.
MV_CAMCTRL_API void reset();

// Makes the C function named operation (e.g. "MV_CC_OpenDevice") fail with
// status on the camera with this serial ("" = every camera, and calls without
// a camera such as MV_CC_EnumDevices). count < 0: until cleared; otherwise the
// next count calls. Status MV_OK removes the fault.
MV_CAMCTRL_API void setFault(const std::string &operation, int status,
                             const std::string &serial = std::string(), int count = -1);
MV_CAMCTRL_API void clearFaults();

// Makes the camera with this serial vanish once it has delivered `frames`
// frames since it was opened (a camera not open counts from its next open);
// 0 = at once.
MV_CAMCTRL_API void vanishAfter(const std::string &serial, unsigned int frames);

// What the camera with this serial looks at from its next line on: an even
// target of this level (0 to 255; 0 is a capped lens, a high level a white
// card), or its scene for a level below 0. The camera's lens and sensor
// (vignette, column_gain, column_offset) apply either way; the stamp stays.
MV_CAMCTRL_API void setTarget(const std::string &serial, int level);

// The line number stamped into a line whose first pixels start at pixels:
// bytesPerPixel 1 (Mono8, raw BayerRG8) or 3 (RGB8). Reads the first byte of
// each of the first four pixels.
MV_CAMCTRL_API uint32_t lineStamp(const unsigned char *pixels, unsigned int bytesPerPixel);

// The byte a simulated camera with this serial produces for the given channel
// (0 red or gray, 1 green, 2 blue) at column x of absolute line number line,
// stamp included. Lets a test check whole pictures, not only the stamps.
MV_CAMCTRL_API unsigned char scenePixel(const std::string &serial, uint64_t line, unsigned int x,
                                        unsigned int channel, MvGvspPixelType format);

} // namespace mvsim

#endif /* MVSIM_H */
