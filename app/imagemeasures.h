#ifndef IMAGEMEASURES_H
#define IMAGEMEASURES_H

#include <QImage>
#include <QPoint>
#include <QString>
#include <QVector>

/*
 * What the operator reads off a frame while setting up the camera: the
 * intensity along one line (focus, levelling of the light), the histogram
 * (exposure against saturation) and the value of one pixel. Frames are RGB888
 * (the live view), 8- or 16-bit gray, or RGB32 (a batch's picture); a gray
 * camera's frame shown as RGB is measured as gray. Any thread.
 */
struct ChannelStatistics {
    int min = 0;
    int max = 0;
    double mean = 0;
    qint64 saturated = 0; // samples at the format's top level
};

struct LineProfile {
    int row = -1;     // the frame's line, -1 for the mean of all its lines
    int channels = 0; // 1: gray, 3: red, green, blue; 0: nothing measured
    int topLevel = 255;
    QVector<float> values[3];   // one sample per pixel across the width
    ChannelStatistics stats[3]; // of the samples, or of every pixel for the mean
};

struct ImageHistogram {
    static constexpr int kBins = 256;
    int channels = 0;
    int topLevel = 255;        // a 16-bit frame's 65535 is spread over the same bins
    QVector<qint64> counts[3]; // kBins each
    qint64 saturated[3] = {0, 0, 0};
    qint64 pixels = 0;
};

LineProfile rowProfile(const QImage &frame, int row, bool gray);
LineProfile meanProfile(const QImage &frame, bool gray);
ImageHistogram imageHistogram(const QImage &frame, bool gray);
// "x 12  y 3  value 200" or "... R 10 G 20 B 30"; empty outside the frame.
QString pixelReadout(const QImage &frame, QPoint pixel, bool gray);

#endif // IMAGEMEASURES_H
