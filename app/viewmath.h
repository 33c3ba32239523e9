#ifndef VIEWMATH_H
#define VIEWMATH_H

#include <QSizeF>

/*
 * The arithmetic behind the two views: zoom steps, fitting, and the rotation
 * menu of the live view.
 */
enum class LiveRotationChoice { RotateLeft, RotateRight, Reset };

constexpr double kZoomStep = 1.2;
constexpr double kMinZoom = 0.01;

int rotatedLiveAngle(int angle, LiveRotationChoice choice);
double zoomedInScale(double currentScale);
double zoomedOutScale(double currentScale);
double fitScale(const QSizeF &viewport, const QSizeF &scene);

#endif // VIEWMATH_H
