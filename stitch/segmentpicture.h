#ifndef SEGMENTPICTURE_H
#define SEGMENTPICTURE_H

#include <QImage>
#include <QVector>

/*
 * One stitched segment described by its frames instead of a canvas: the
 * picture's size and pixel kind, and each frame at its place along the axis.
 * Rows of it are composed on demand, a strip at a time, so a segment never
 * needs a whole canvas in memory.
 */
struct PlacedFrame {
    QImage image;      // as grabbed
    int offset = 0;    // along the axis: x when horizontal, y otherwise
    int turnAngle = 0; // the image lies in the picture turned by this angle (degrees)

    QSize size() const; // as it lies, turned
};

struct SegmentPicture {
    int width = 0;
    int height = 0;
    bool gray = true; // gray rows, else 24-bit RGB (R, G, B bytes)
    // Bits of a gray sample in the rows: 8, or 16 (native byte order) for
    // 16-bit gray frames kept whole. 16-bit frames in 8-bit rows give their
    // top bits: the sample shifted right by significantBits - 8.
    int depth = 8;
    int significantBits = 8; // of the 16-bit frames' samples the camera fills
    bool horizontal = true;
    QVector<PlacedFrame> frames; // in drawing order, each starting where the one before ends

    int bytesPerPixel() const { return gray ? depth / 8 : 3; }
    qsizetype rowBytes() const { return qsizetype(width) * bytesPerPixel(); }
    void append(const QImage &frame, int turnAngle = 0);
    bool channelsAlike() const;
};

void composeRows(const SegmentPicture &picture, int firstRow, int rowCount, uchar *out, qsizetype stride);
int stripRowsFor(qsizetype rowBytes);

#endif // SEGMENTPICTURE_H
