#ifndef FRAMETURN_H
#define FRAMETURN_H

#include <QImage>
#include <QSize>

/*
 * How grabbed frames are turned so that they can be laid edge to edge in the
 * stitch direction. The stitch direction is an int: 0 Left, 1 Right, 2 Bottom,
 * 3 Top. Batches keep their frames as grabbed and carry the turn's angle.
 */
namespace StitchDirection {
enum : int { Left = 0, Right = 1, Bottom = 2, Top = 3 };
}

int effectiveStitchDirection(int direction);
int turnAngleForDirection(int direction);
QImage rotateFrame(const QImage &frame, int angle);
QImage turnFrameForDirection(const QImage &frame, int direction);
QSize expectedTurnedFrameSize(int cameraWidth, int cameraHeight, int direction);

#endif // FRAMETURN_H
