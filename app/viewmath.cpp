#include "viewmath.h"

#include <algorithm>

/*
 * The live rotation after a choice from the rotation menu: left subtracts 90
 * and turns a negative result into 270; right adds 90 and turns 360 or more
 * into 0; reset gives 0. An angle read from a hand-edited settings file (say
 * 45) is stepped as it is, so the menu brings it back to 0..270 at the latest
 * when it wraps.
 * Any thread.
 */
int rotatedLiveAngle(int angle, LiveRotationChoice choice)
{
    switch (choice) {
    case LiveRotationChoice::RotateLeft:
        angle -= 90;
        return angle < 0 ? 270 : angle;
    case LiveRotationChoice::RotateRight:
        angle += 90;
        return angle >= 360 ? 0 : angle;
    case LiveRotationChoice::Reset:
        break;
    }
    return 0;
}

// A view whose transform has lost its scale (0 or negative) zooms from 1.
static double usableScale(double s)
{
    return s > 0 ? s : 1.0;
}

/*
 * The stitch view's scale after one zoom-in step: the current horizontal scale
 * (1 when it is 0 or less) times 1.2, without upper limit.
 * Any thread.
 */
double zoomedInScale(double currentScale)
{
    return usableScale(currentScale) * kZoomStep;
}

/*
 * The stitch view's scale after one zoom-out step: the current horizontal
 * scale (1 when 0 or less) divided by 1.2, never below 0.01.
 * Any thread.
 */
double zoomedOutScale(double currentScale)
{
    return std::max(usableScale(currentScale) / kZoomStep, kMinZoom);
}

/*
 * The scale at which a scene of size `scene` fits inside `viewport` keeping its
 * proportions; 0 when either size is empty (there is nothing to fit).
 * Any thread.
 */
double fitScale(const QSizeF &viewport, const QSizeF &scene)
{
    if (viewport.isEmpty() || scene.isEmpty())
        return 0;
    return std::min(viewport.width() / scene.width(), viewport.height() / scene.height());
}
