#include "frameturn.h"

#include <QTransform>

/*
 * Maps a stored stitch direction to one the program knows. A value outside
 * 0..3 can only come from a hand-edited settings file; it is treated like
 * Bottom (frames untouched and stacked downwards), the one direction that
 * needs no turn.
 * Any thread.
 */
int effectiveStitchDirection(int direction)
{
    if (direction < StitchDirection::Left || direction > StitchDirection::Top)
        return StitchDirection::Bottom;
    return direction;
}

/*
 * The rotation in degrees (Qt's y axis points down, so +90 is a quarter turn
 * clockwise as displayed) that a frame gets before it joins a batch:
 * Left -90, Right +90, Bottom 0, Top 180. Unknown directions get 0.
 * Any thread.
 */
int turnAngleForDirection(int direction)
{
    switch (effectiveStitchDirection(direction)) {
    case StitchDirection::Left:
        return -90;
    case StitchDirection::Right:
        return 90;
    case StitchDirection::Top:
        return 180;
    default:
        return 0;
    }
}

/*
 * Rotates `frame` by `angle` degrees about the Z axis with
 * QImage::transformed in Qt::FastTransformation mode. Batches no longer turn
 * their frames (the preview and the encoder's strips read them turned, see
 * turnedcopy.h, which spares the window's thread about 11 ms for a 4096x1024
 * RGB frame); this whole-frame turn is the reference those copies are checked
 * against.
 * Angle 0 returns a shallow copy. A null frame, or a failed allocation of the
 * result, gives a null image (the allocation is tried once before the turn:
 * memory another thread takes in between can still make the turn fail).
 * Any thread; `frame` is only read.
 */
QImage rotateFrame(const QImage &frame, int angle)
{
    if (frame.isNull() || angle % 360 == 0)
        return frame;
    // Qt's quarter turn writes into its result without checking that the
    // allocation succeeded; a result of the same size must be obtainable
    // first, or the turn would crash instead of failing.
    const bool quarter = angle % 180 != 0;
    if (QImage(quarter ? frame.height() : frame.width(), quarter ? frame.width() : frame.height(),
               frame.format())
            .isNull())
        return QImage();
    return frame.transformed(QTransform().rotate(angle, Qt::ZAxis), Qt::FastTransformation);
}

/*
 * Turns a frame as the stitch direction requires (see turnAngleForDirection);
 * Bottom returns the frame itself (a shallow copy).
 * Any thread.
 */
QImage turnFrameForDirection(const QImage &frame, int direction)
{
    return rotateFrame(frame, turnAngleForDirection(direction));
}

/*
 * The size a complete frame has after the turn for `direction`, from the
 * camera's frame width and height: swapped for Left and Right.
 * Any thread.
 */
QSize expectedTurnedFrameSize(int cameraWidth, int cameraHeight, int direction)
{
    const int d = effectiveStitchDirection(direction);
    if (d == StitchDirection::Left || d == StitchDirection::Right)
        return QSize(cameraHeight, cameraWidth);
    return QSize(cameraWidth, cameraHeight);
}
