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

#include "mvsim.h"

// One stitched file as the test reads it back.
struct StitchedFile {
    QString name;
    int batch = 0;
    QList<quint32> stamps; // line numbers in the order the stitch direction lays them out
};

// The line numbers of a stitched picture, in time order. The window turned
// each frame for the direction, so a camera line is a row (Bottom, Top) or a
// column (Left, Right), and its first pixel sits at the corner the turn moved
// it to.
inline QList<quint32> lineStamps(const QImage &picture, int direction)
{
    const bool columns = direction == 0 || direction == 1;
    const int count = columns ? picture.width() : picture.height();
    QList<quint32> stamps;
    for (int i = 0; i < count; ++i) {
        unsigned char pixels[4];
        for (int p = 0; p < 4; ++p) {
            QPoint at;
            switch (direction) {
            case 0: // turned -90: line i is column i, its pixels run upwards
                at = QPoint(i, picture.height() - 1 - p);
                break;
            case 1: // turned +90: the newest line is at the left, pixels run downwards
                at = QPoint(count - 1 - i, p);
                break;
            case 3: // turned 180: the newest line is at the top, pixels run leftwards
                at = QPoint(picture.width() - 1 - p, count - 1 - i);
                break;
            default:
                at = QPoint(p, i);
                break;
            }
            pixels[p] = uchar(qRed(picture.pixel(at)));
        }
        stamps.append(mvsim::lineStamp(pixels, 1));
    }
    return stamps;
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
