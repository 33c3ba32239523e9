// Pixel conversion and image saving shared by every backend.
#ifndef MVCC_CONVERT_H
#define MVCC_CONVERT_H

#include "MvCameraControl.h"

#include <cstddef>
#include <cstdint>

namespace mvcc {

// Bits per pixel a pixel type's code announces (any type, known or not).
unsigned int pixelBitsOf(MvGvspPixelType type);

// Bytes of one line of width pixels of type, rounded up to whole bytes.
uint64_t lineBytesOf(MvGvspPixelType type, uint64_t width);

// Whether the library converts (and saves) frames of type.
bool canConvert(MvGvspPixelType type);

// Whether type is one of the gray formats (saved as 8-bit gray).
bool isGray(MvGvspPixelType type);

// Bytes of a width x height frame of type, its pixels one bit stream;
// UINT64_MAX when that does not fit in 64 bits. 0 for types without a size.
uint64_t frameBytes(MvGvspPixelType type, uint64_t width, uint64_t height);

// The conversions, over tightly packed frames. dst holds width*height*3 bytes
// (pixels*3 for the ones without a width).
void mono8ToRgb8(const unsigned char *src, unsigned char *dst, std::size_t pixels);
void bayerToRgb8(MvGvspPixelType type, const unsigned char *src, unsigned char *dst, unsigned int width,
                 unsigned int height);

// A gray frame's 8 most significant bits, one byte a pixel. type is a gray
// format; src holds frameBytes(type, pixels, 1) bytes.
void grayToGray8(MvGvspPixelType type, const unsigned char *src, unsigned char *dst, std::size_t pixels);

// Any convertible frame to packed RGB8.
void convertToRgb8(MvGvspPixelType type, const unsigned char *src, unsigned char *dst, unsigned int width,
                   unsigned int height);

// Checks param and converts; the status of MV_CC_ConvertPixelType.
int convertPixels(MV_CC_PIXEL_CONVERT_PARAM &param);

// Checks param, encodes and writes the file; the status of MV_CC_SaveImageToFile.
// systemError receives the errno behind MV_E_WRITEFILE, else 0; the path in
// param becomes the one written.
int saveImageToFile(MV_SAVE_IMG_TO_FILE_PARAM &param, int *systemError);

} // namespace mvcc

#endif // MVCC_CONVERT_H
