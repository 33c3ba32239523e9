// Pixel conversion and image saving shared by every backend.
#ifndef MVCC_CONVERT_H
#define MVCC_CONVERT_H

#include "MvCameraControl.h"

#include <cstdint>

namespace mvcc {

// Bytes per pixel of a raw frame format this library understands; 0 for
// formats it cannot convert or save.
unsigned int bytesPerPixel(MvGvspPixelType type);

// Size in bytes of a width x height frame of type, in 64 bits (no overflow).
uint64_t frameBytes(MvGvspPixelType type, uint64_t width, uint64_t height);

// The conversions, over tightly packed lines. dst holds width*height*3 bytes.
void mono8ToRgb8(const unsigned char *src, unsigned char *dst, std::size_t pixels);
void bayerRg8ToRgb8(const unsigned char *src, unsigned char *dst, unsigned int width, unsigned int height);

// Checks param and converts; the status of MV_CC_ConvertPixelType.
int convertPixels(MV_CC_PIXEL_CONVERT_PARAM &param);

// Checks param, encodes and writes the file; the status of MV_CC_SaveImageToFile.
// systemError receives the errno behind MV_E_WRITEFILE, else 0; the path in
// param becomes the one written.
int saveImageToFile(MV_SAVE_IMG_TO_FILE_PARAM &param, int *systemError);

} // namespace mvcc

#endif // MVCC_CONVERT_H
