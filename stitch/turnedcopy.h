#ifndef TURNEDCOPY_H
#define TURNEDCOPY_H

#include <QImage>
#include <QRect>
#include <QSize>

/*
 * Reading a frame as if it had been turned by a quarter or half turn, without
 * turning it: batches keep their frames as grabbed, and the turn for the stitch
 * direction happens in the one copy that composes a strip or a preview anyway.
 * Angles are degrees, multiples of 90, turning as QTransform::rotate() does on
 * screen (y down: +90 is a quarter turn clockwise). Gray sources may be widened
 * to RGB on the way (each byte written three times), which is how the camera
 * library turns Mono8 into RGB; 16-bit gray sources stay 16-bit.
 */

int normalizedTurn(int angle);
QSize turnedSize(const QSize &size, int angle);
QRect sourceRectOfTurned(const QRect &turnedRect, const QSize &frameSize, int angle);
bool copiesTurnedDirectly(QImage::Format source, int targetBytesPerPixel);
void copyTurnedRows(const QImage &frame, int angle, int firstRow, int rowCount, int columns, uchar *out,
                    qsizetype stride, int targetBytesPerPixel);
void sampleTurned(const QImage &frame, int angle, const int *columns, int columnCount, const int *rows,
                  int rowCount, uchar *out, qsizetype stride, int targetBytesPerPixel);

#endif // TURNEDCOPY_H
