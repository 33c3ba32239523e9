// The picture of a simulated camera: a deterministic function of the serial
// number and the absolute line number, with the line number stamped into the
// first four pixels of every line.
#ifndef MVCC_SIMSCENE_H
#define MVCC_SIMSCENE_H

#include "MvCameraControl.h"

#include <cstdint>
#include <string>

namespace mvcc {

// FNV-1a hash of a serial number.
uint32_t serialHash(const std::string &serial);

// Brightness offset of a camera's scene: FNV-1a of the serial, low byte.
unsigned int sceneOffset(const std::string &serial);

// One byte of the scene (channel 0 red or gray, 1 green, 2 blue; for
// BayerRG8 the raw mosaic byte), stamp included.
unsigned char sceneByte(unsigned int offset, uint64_t line, unsigned int x, unsigned int channel,
                        MvGvspPixelType format);

// Writes one line of width pixels in format into out.
void renderSceneLine(unsigned int offset, uint64_t line, unsigned int width, MvGvspPixelType format,
                     unsigned char *out);

// Adds sensor-like noise to the bytes [first, end) of a rendered line: each
// byte moves by up to amplitude levels either way (clamped to 0..255), the
// same for the same seed and line.
void addSceneNoise(unsigned int amplitude, uint32_t seed, uint64_t line, unsigned char *first,
                   unsigned char *end);

} // namespace mvcc

#endif // MVCC_SIMSCENE_H
