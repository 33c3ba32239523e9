#ifndef GRAYWORDS_H
#define GRAYWORDS_H

#include <QImage>
#include <QtGlobal>

#include "MvCameraControl.h"

/*
 * The samples of a camera deeper than 8 bits as 16-bit words holding its
 * values unscaled: a Mono12 pixel of 4095 stays 4095. Mono10, Mono12 and
 * Mono16 send little-endian words already; Mono10p and Mono12p are one bit
 * stream filled from each byte's least significant bit; Mono12Packed puts
 * two pixels in three bytes, their high bits in the outer bytes.
 */

// Bits a sample of pixelType holds when it is one of the deep gray types
// above: 10, 12 or 16; 0 for every other type (Mono8 included).
int deepGrayBits(MvGvspPixelType pixelType);
bool unpackGrayWords(MvGvspPixelType pixelType, const unsigned char *raw, quint64 rawLength,
                     quint64 firstPixel, int count, quint16 *out);
QImage deepGrayImage(const unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info);

#endif // GRAYWORDS_H
