#ifndef PATTERNFRAME_H
#define PATTERNFRAME_H

#include <QImage>

// A picture with structure in both axes and all three channels, so that a
// swapped channel, a shifted row or a misplaced frame shows; seed tells
// frames apart.
inline QImage patternFrame(int width, int height, QImage::Format format, int seed)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = uchar(seed * 40 + x * 9 + y);
            row[3 * x + 1] = uchar(seed * 70 + y * 13 + ((x * y) >> 3) + 1);
            row[3 * x + 2] = uchar(seed * 20 + (x ^ y) * 5);
        }
    }
    return image.convertToFormat(format);
}

#endif // PATTERNFRAME_H
