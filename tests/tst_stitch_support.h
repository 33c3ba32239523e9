#ifndef TST_STITCH_SUPPORT_H
#define TST_STITCH_SUPPORT_H

// Frames and expectations shared by the stitching tests.

#include <QImage>
#include <QList>
#include <QPainter>
#include <QPair>
#include <QSignalSpy>
#include <QStringList>

#include <algorithm>

#include "stitchworker.h"

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

// What a stitched segment must look like, composed with a painter from the
// frames in placement order: edge to edge along the axis, top- or
// left-aligned, black elsewhere.
inline QImage placedFrames(const QList<QImage> &placed, bool horizontal,
                           QImage::Format format = QImage::Format_RGB888)
{
    int along = 0;
    int across = 0;
    for (const QImage &frame : placed) {
        along += horizontal ? frame.width() : frame.height();
        across = std::max(across, horizontal ? frame.height() : frame.width());
    }
    QImage canvas(horizontal ? along : across, horizontal ? across : along, format);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    int offset = 0;
    for (const QImage &frame : placed) {
        painter.drawImage(horizontal ? QPoint(offset, 0) : QPoint(0, offset), frame.convertToFormat(format));
        offset += horizontal ? frame.width() : frame.height();
    }
    return canvas;
}

// The signals of one worker call.
struct StitchRun {
    QList<QPair<int, int>> progress;
    QStringList files;
    QStringList failures;
    int finishedCount = 0;
};

template<typename Call>
StitchRun recordStitchRun(StitchWorker &worker, Call call)
{
    QSignalSpy progress(&worker, &StitchWorker::progress);
    QSignalSpy finished(&worker, &StitchWorker::finished);
    QSignalSpy failed(&worker, &StitchWorker::failed);
    call();
    StitchRun run;
    for (const QList<QVariant> &args : progress)
        run.progress.append({args.at(0).toInt(), args.at(1).toInt()});
    for (const QList<QVariant> &args : failed)
        run.failures << args.at(0).toString();
    run.finishedCount = finished.size();
    if (!finished.isEmpty())
        run.files = finished.first().at(0).toStringList();
    return run;
}

#endif // TST_STITCH_SUPPORT_H
