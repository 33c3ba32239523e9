#ifndef LINESTAMPS_H
#define LINESTAMPS_H

// Reading the simulator's line stamps back from stitched files: every line of
// a simulated frame carries its line number in its first four pixels, so a
// file tells whether a line was lost, repeated or put out of order.
#include <QDebug>
#include <QDir>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRegularExpression>
#include <QString>

#include <algorithm>

#include "MvCameraControl.h"
#include "mvsim.h"

// One stitched file as the test reads it back.
struct StitchedFile {
    QString name;
    int batch = 0;
    QList<quint32> stamps; // line numbers in the order the stitch direction lays them out
};

// Where pixel p of the i-th line in time order sits in a stitched picture.
// The window turned each frame for the direction, so a camera line is a row
// (Bottom, Top) or a column (Left, Right), and its first pixel sits at the
// corner the turn moved it to.
inline QPoint linePixelPosition(const QImage &picture, int direction, int i, int p)
{
    switch (direction) {
    case 0: // turned -90: line i is column i, its pixels run upwards
        return QPoint(i, picture.height() - 1 - p);
    case 1: // turned +90: the newest line is at the left, pixels run downwards
        return QPoint(picture.width() - 1 - i, p);
    case 3: // turned 180: the newest line is at the top, pixels run leftwards
        return QPoint(picture.width() - 1 - p, picture.height() - 1 - i);
    default:
        return QPoint(p, i);
    }
}

inline int lineCount(const QImage &picture, int direction)
{
    return direction == 0 || direction == 1 ? picture.width() : picture.height();
}

// The line numbers of a stitched picture, in time order.
inline QList<quint32> lineStamps(const QImage &picture, int direction)
{
    QList<quint32> stamps;
    for (int i = 0; i < lineCount(picture, direction); ++i) {
        unsigned char pixels[4];
        for (int p = 0; p < 4; ++p)
            pixels[p] = uchar(qRed(picture.pixel(linePixelPosition(picture, direction, i, p))));
        stamps.append(mvsim::lineStamp(pixels, 1));
    }
    return stamps;
}

// Compares every pixel of a stitched picture with what the simulated camera
// with this serial sent for the stamped line: empty when all match, else the
// first difference. A Mono8 camera's gray is written as equal red, green and blue.
inline QString sceneMismatch(const QImage &picture, int direction, const char *serial, bool rgbCamera)
{
    const QList<quint32> stamps = lineStamps(picture, direction);
    const int width = direction == 0 || direction == 1 ? picture.height() : picture.width();
    const MvGvspPixelType format = rgbCamera ? PixelType_Gvsp_RGB8_Packed : PixelType_Gvsp_Mono8;
    for (int i = 0; i < stamps.size(); ++i)
        for (int x = 0; x < width; ++x) {
            const QRgb seen = picture.pixel(linePixelPosition(picture, direction, i, x));
            const int sent[3]
                = {mvsim::scenePixel(serial, stamps[i], unsigned(x), 0, format),
                   mvsim::scenePixel(serial, stamps[i], unsigned(x), rgbCamera ? 1 : 0, format),
                   mvsim::scenePixel(serial, stamps[i], unsigned(x), rgbCamera ? 2 : 0, format)};
            if (qRed(seen) != sent[0] || qGreen(seen) != sent[1] || qBlue(seen) != sent[2])
                return QString::asprintf("line %u pixel %d: %06x instead of %d,%d,%d", stamps[i], x,
                                         seen & 0xffffff, sent[0], sent[1], sent[2]);
        }
    return QString();
}

inline bool runsWithoutGap(const QList<quint32> &stamps)
{
    for (int i = 1; i < stamps.size(); ++i)
        if (stamps[i] != stamps[i - 1] + 1) {
            qWarning() << "line" << stamps[i - 1] << "is followed by" << stamps[i];
            return false;
        }
    return !stamps.isEmpty();
}

// Every stitched file of folder with its batch number and line stamps, in
// batch order; an unreadable picture has no stamps.
inline QList<StitchedFile> readStitchedFiles(const QString &folder, int direction)
{
    QList<StitchedFile> files;
    const QRegularExpression batchPart(QStringLiteral("_Batch(\\d+)_"));
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        const QImage picture(QDir(folder).filePath(name));
        files.append({name, batchPart.match(name).captured(1).toInt(),
                      picture.isNull() ? QList<quint32>() : lineStamps(picture, direction)});
    }
    std::sort(files.begin(), files.end(),
              [](const StitchedFile &a, const StitchedFile &b) { return a.batch < b.batch; });
    return files;
}

#endif // LINESTAMPS_H
