#ifndef COMPOSER_H
#define COMPOSER_H

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

#include "imageformat.h"

/*
 * The pieces of a stitched save: surveying frames, splitting them into
 * segments that fit the size limit and writing every segment to a file.
 * createCanvas() and drawFrame() draw a whole segment at once; the saves
 * stream rows instead (segmentpicture.h), and those two remain as the
 * composition the streamed rows are checked against.
 */

// A half-open range [first, end) of frame indices.
struct Segment {
    int first = 0;
    int end = 0;
};

inline bool operator==(const Segment &a, const Segment &b)
{
    return a.first == b.first && a.end == b.end;
}

struct SegmentSplit {
    QVector<Segment> segments;
    int oversizedFrame = -1; // index of the first frame longer than the limit, or -1
};

SegmentSplit splitIntoSegments(const QVector<int> &lengths, int limit);

// Sizes and kinds of the frames of one save; frames themselves are not kept.
struct FrameSurvey {
    QVector<quint8> valid;
    QVector<qint32> widths;
    QVector<qint32> heights;
    int validCount = 0;
    int maxWidth = 0;
    int maxHeight = 0;
    bool gray = true;        // every valid frame stitches as 8-bit gray
    bool deep = true;        // every valid frame is 16-bit gray
    int significantBits = 0; // the most any 16-bit frame fills
    // The first valid frame whose kind (16-bit gray with its bit count, or
    // anything else) differs from the first valid frame's, or -1.
    int mixedFrame = -1;
    int firstFrame = -1;

    explicit FrameSurvey(int frameCount = 0);
    void record(int index, const QImage &frame, int turnAngle = 0);
    QVector<int> lengths(bool horizontal) const;

private:
    int m_firstBits = 0; // the first valid frame's significant bits, 0 unless 16-bit
};

FrameSurvey surveyFrames(const QList<QImage> &frames, int turnAngle = 0);

bool isHorizontalDirection(int direction);
bool drawsInReverse(int direction);

QImage createCanvas(int width, int height, QImage::Format format);
int drawFrame(QImage &canvas, const QImage &frame, int offset, bool horizontal);

// Everything a save needs to turn its segments into files.
struct SegmentJob {
    const FrameSurvey *survey = nullptr;
    QVector<Segment> segments;
    bool horizontal = true;
    bool reverse = false;
    int turnAngle = 0; // the frames are laid out turned by this angle (degrees)
    QString folder;
    int folderError = 0; // errno of creating folder, 0 when it exists
    QString baseName;
    QString timestamp;
    QString (*fileName)(const QString &baseName, const QString &timestamp, int segmentNumber,
                        int segmentCount, const QString &extension)
        = nullptr;
    ImageFormat format = ImageFormat::Png;
    int jpgQuality = 95;
    int pngQuality = 8;
};

SegmentJob prepareSegmentJob(const FrameSurvey *survey, const QVector<Segment> &segments,
                             const QString &folder, ImageFormat format, int jpgQuality, int pngQuality);

using FrameSource = std::function<QImage(int index)>;
using ProgressReport = std::function<void(int current, int total)>;

QString writeSegments(const SegmentJob &job, const FrameSource &frameAt, const ProgressReport &reportProgress,
                      QStringList *savedFiles);

#endif // COMPOSER_H
