#ifndef PIXELFORMATNAME_H
#define PIXELFORMATNAME_H

#include <QString>

// The GenICam name of a camera pixel format code ("Mono14"), or the code in
// hex ("0x81080001") when it has none the program knows. Any thread.
QString pixelFormatName(unsigned int pixelType);

// Whether the camera library converts frames of this format for display.
// Asks the library itself with a tiny frame. Any thread.
bool libraryConvertsPixelFormat(unsigned int pixelType);

// The status bar text for a format the library cannot convert.
QString unsupportedPixelFormatText(unsigned int pixelType);

#endif // PIXELFORMATNAME_H
