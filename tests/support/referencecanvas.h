#ifndef REFERENCECANVAS_H
#define REFERENCECANVAS_H

// Pictures as they must come out, laid out by the test pixel by pixel from
// where each frame has to land, so that no composing code of the program
// judges its own output.
#include <QImage>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstring>

// A frame turned by angle (degrees, +90 a quarter turn clockwise on screen,
// y pointing down) as RGB, a gray byte in all three channels, as the camera
// library widens Mono8: written out here rather than borrowed.
inline QImage turnedByHand(const QImage &frame, int angle)
{
    const bool widen = frame.format() == QImage::Format_Grayscale8;
    const QImage rgb = widen ? frame : frame.convertToFormat(QImage::Format_RGB888);
    const int w = rgb.width(), h = rgb.height(), turn = ((angle % 360) + 360) % 360;
    QImage out(turn % 180 ? h : w, turn % 180 ? w : h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int tx = turn == 90 ? h - 1 - y : turn == 180 ? w - 1 - x : turn == 270 ? y : x;
            const int ty = turn == 90 ? x : turn == 180 ? h - 1 - y : turn == 270 ? w - 1 - x : y;
            const uchar *from = rgb.constScanLine(y) + (widen ? x : 3 * x);
            for (int c = 0; c < 3; ++c)
                out.scanLine(ty)[3 * tx + c] = from[widen ? 0 : c];
        }
    }
    return out;
}

// Frames in drawing order, turned and put edge to edge from the origin, aligned
// at the top (side by side) or left (stacked), on black cross pixels across (0:
// as the widest turned frame) and tail pixels longer than the frames.
inline QImage canvasOf(const QList<QImage> &drawn, int angle, bool horizontal, int cross = 0, int tail = 0)
{
    QList<QImage> turned;
    int length = tail;
    for (const QImage &frame : drawn) {
        turned << turnedByHand(frame, angle);
        length += horizontal ? turned.last().width() : turned.last().height();
        cross = std::max(cross, horizontal ? turned.last().height() : turned.last().width());
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

// Empty when equal, both compared as RGB; else where they first differ.
inline QString difference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QString::asprintf("size %dx%d, expected %dx%d", actual.width(), actual.height(),
                                 expected.width(), expected.height());
    const QImage a = actual.convertToFormat(QImage::Format_RGB888);
    const QImage e = expected.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != e.pixel(x, y))
                return QString::asprintf("pixel (%d, %d): %06x, expected %06x", x, y,
                                         a.pixel(x, y) & 0xffffff, e.pixel(x, y) & 0xffffff);
    return QString();
}

#endif // REFERENCECANVAS_H
