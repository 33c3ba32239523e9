#ifndef REFERENCECANVAS_H
#define REFERENCECANVAS_H

// Pictures as they must come out, laid out by the test pixel by pixel from
// where each frame has to land, so that no composing code of the program
// judges its own output.
#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>

#include <cstdlib>
#include <cstring>

// Where pixel (x, y) of a w x h frame lies once turned by angle (degrees,
// +90 a quarter turn clockwise on screen, y pointing down).
inline QPoint turnedPoint(int x, int y, int w, int h, int angle)
{
    switch (((angle % 360) + 360) % 360) {
    case 90:
        return {h - 1 - y, x};
    case 180:
        return {w - 1 - x, h - 1 - y};
    case 270:
        return {y, w - 1 - x};
    default:
        return {x, y};
    }
}

// The RGB a frame stands for: a gray byte in all three channels, as the
// camera library widens Mono8, written out here rather than borrowed.
inline QImage rgbTruth(const QImage &frame)
{
    if (frame.format() != QImage::Format_Grayscale8)
        return frame.convertToFormat(QImage::Format_RGB888);
    QImage rgb(frame.size(), QImage::Format_RGB888);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            std::memset(rgb.scanLine(y) + 3 * x, frame.constScanLine(y)[x], 3);
    return rgb;
}

inline QImage turnedByHand(const QImage &frame, int angle)
{
    const QImage rgb = rgbTruth(frame);
    const bool quarter = angle % 180 != 0;
    QImage out(quarter ? rgb.height() : rgb.width(), quarter ? rgb.width() : rgb.height(),
               QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            out.setPixel(turnedPoint(x, y, rgb.width(), rgb.height(), angle), rgb.pixel(x, y));
    return out;
}

// Frames in drawing order, each turned and put edge to edge from the origin,
// aligned at the top (side by side) or the left (stacked), on black that is
// cross pixels across and tail pixels longer than the frames.
inline QImage canvasOf(const QList<QImage> &drawn, int angle, bool horizontal, int cross, int tail = 0)
{
    QList<QImage> turned;
    int length = tail;
    for (const QImage &frame : drawn) {
        turned << turnedByHand(frame, angle);
        length += horizontal ? turned.last().width() : turned.last().height();
    }
    QImage canvas(horizontal ? length : cross, horizontal ? cross : length, QImage::Format_RGB888);
    // Not fill(): Qt 5.15.8 leaves some pixels of a large RGB888 picture
    // (32768 x 9 already) as they were.
    std::memset(canvas.bits(), 0, size_t(canvas.sizeInBytes()));
    int offset = 0;
    for (const QImage &t : turned) {
        for (int y = 0; y < t.height(); ++y)
            std::memcpy(canvas.scanLine(horizontal ? y : offset + y) + 3 * (horizontal ? offset : 0),
                        t.constScanLine(y), size_t(3 * t.width()));
        offset += horizontal ? t.width() : t.height();
    }
    return canvas;
}

// Empty when equal; else where and how they first differ. Both compared as
// RGB, each channel within tolerance.
inline QString difference(const QImage &actual, const QImage &expected, int tolerance = 0)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    const QImage a = actual.convertToFormat(QImage::Format_RGB888);
    const QImage e = expected.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < a.height(); ++y)
        for (int i = 0; i < 3 * a.width(); ++i)
            if (std::abs(int(a.constScanLine(y)[i]) - int(e.constScanLine(y)[i])) > tolerance)
                return QStringLiteral("pixel (%1, %2) channel %3: %4, expected %5")
                    .arg(i / 3)
                    .arg(y)
                    .arg(i % 3)
                    .arg(a.constScanLine(y)[i])
                    .arg(e.constScanLine(y)[i]);
    return QString();
}

#endif // REFERENCECANVAS_H
