#ifndef FRAMEKIND_H
#define FRAMEKIND_H

#include <QImage>

/*
 * What a gray frame stands for. A Mono8 camera's frames travel to the batch
 * as 8-bit gray, a third of the bytes of the RGB picture the camera library
 * would make of them, but their stitched files stay what they always were:
 * 24-bit RGB. Such a frame carries a mark. A gray frame without it is gray
 * in its own right (the library could not convert the frame) and is stitched
 * into gray files. The mark travels with the image and its copies; nothing
 * guesses it from the pixels.
 */

// Grayscale8, Mono and Indexed8: the formats a stitched picture keeps as 8-bit gray.
bool isGrayFormat(QImage::Format format);

QImage markedAsRgb(QImage grayFrame);
bool grayStandsForRgb(const QImage &frame);
bool stitchesAsGray(const QImage &frame);

/*
 * A deep frame (Mono10, Mono12, Mono16 and their packed kinds) travels as
 * 16-bit gray holding the camera's values unscaled: a Mono12 pixel of 4095
 * is 4095. How many of the 16 bits the camera fills travels with it, so that
 * files can say so and views can scale by it.
 */
QImage withSignificantBits(QImage frame, int bits);
int significantBits(const QImage &frame);

#endif // FRAMEKIND_H
