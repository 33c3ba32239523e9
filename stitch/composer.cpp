#include "composer.h"

#include "durablefile.h"
#include "framekind.h"
#include "imagewriter.h"
#include "naming.h"
#include "segmentpicture.h"
#include "turnedcopy.h"

#include <QDir>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

QString saveFailureText(const QString &path, const QString &reason)
{
    return QStringLiteral("Failed to save image:\n%1\nReason: %2").arg(path, reason);
}

} // namespace

/*
 * Greedy split of frames, given by their lengths along the stitching axis,
 * into consecutive segments whose summed length is at most limit. A frame
 * never spans two segments; frames of length 0 ride along with the segment
 * open when they come. When a frame is longer than limit the result holds its
 * index in oversizedFrame and the segments found before it. Pure; any thread.
 */
SegmentSplit splitIntoSegments(const QVector<int> &lengths, int limit)
{
    SegmentSplit split;
    split.segments.reserve(std::max(1, int(lengths.size()) / 10));
    const int n = lengths.size();
    int i = 0;
    while (i < n) {
        const int first = i;
        qint64 accumulated = 0;
        bool taken = false;
        for (; i < n; ++i) {
            const int length = lengths.at(i);
            if (length > limit) {
                split.oversizedFrame = i;
                return split;
            }
            if (taken && accumulated + length > limit)
                break;
            if (length > 0) {
                accumulated += length;
                taken = true;
            }
        }
        split.segments.append(Segment{first, i});
    }
    return split;
}

/*
 * Directions 0 (Left) and 1 (Right) stitch along x; every other value,
 * negative ones included, stitches along y. Pure.
 */
bool isHorizontalDirection(int direction)
{
    return static_cast<unsigned>(direction) <= 1u;
}

/*
 * Directions 1 (Right) and 3 (Top) lay a segment's frames out last first.
 * Pure.
 */
bool drawsInReverse(int direction)
{
    return direction == 1 || direction == 3;
}

/*
 * An empty survey of frameCount frames: no frame valid, sizes 0, gray and
 * deep alike (the flags only fall).
 */
FrameSurvey::FrameSurvey(int frameCount) : valid(frameCount, 0), widths(frameCount, 0), heights(frameCount, 0)
{ }

/*
 * Records frame index as it lies once turned by turnAngle: a null frame
 * leaves its entry at 0; any other frame sets its flag and turned size,
 * counts, widens the largest sizes, clears the gray flag unless the frame
 * stitches as gray (stitchesAsGray()) and the deep flag unless it is 16-bit
 * gray, and notes the first frame of another kind than the first. index must
 * be in range.
 */
void FrameSurvey::record(int index, const QImage &frame, int turnAngle)
{
    if (frame.isNull())
        return;
    const QSize size = turnedSize(frame.size(), turnAngle);
    valid[index] = 1;
    widths[index] = size.width();
    heights[index] = size.height();
    ++validCount;
    maxWidth = std::max(maxWidth, size.width());
    maxHeight = std::max(maxHeight, size.height());
    if (!stitchesAsGray(frame))
        gray = false;
    const bool frameDeep = frame.format() == QImage::Format_Grayscale16;
    const int bits = frameDeep ? ::significantBits(frame) : 0;
    deep = deep && frameDeep;
    significantBits = std::max(significantBits, bits);
    if (firstFrame < 0) {
        firstFrame = index;
        m_firstBits = bits;
    } else if (mixedFrame < 0 && bits != m_firstBits) {
        mixedFrame = index;
    }
}

/*
 * Each frame's length along the stitching axis: its width when horizontal,
 * its height otherwise; 0 for a frame that is not valid.
 */
QVector<int> FrameSurvey::lengths(bool horizontal) const
{
    return horizontal ? widths : heights;
}

/*
 * Surveys a batch held in memory, its frames to be turned by turnAngle.
 * Pure; any thread.
 */
FrameSurvey surveyFrames(const QList<QImage> &frames, int turnAngle)
{
    FrameSurvey survey(frames.size());
    for (int i = 0; i < frames.size(); ++i)
        survey.record(i, frames.at(i), turnAngle);
    return survey;
}

/*
 * A black canvas of the given format. Comes back null when the image library
 * cannot allocate it; drawing into a null canvas does nothing and writing it
 * fails with "Empty image.". Any thread.
 */
QImage createCanvas(int width, int height, QImage::Format format)
{
    QImage canvas(width, height, format);
    canvas.fill(Qt::black);
    return canvas;
}

/*
 * Copies frame onto canvas with its top-left corner at (offset, 0) when
 * horizontal, else at (0, offset), converting it to the canvas format first
 * when it differs, and clipping at the canvas edges; the pixels replace the
 * canvas pixels. Copying scanlines gives the same pixels as a painter in
 * Source mode and needs no paint engine on the stitch thread (bench_stitch
 * --draw measures both). Returns offset advanced by the frame's width
 * (horizontal) or height. Any thread.
 */
int drawFrame(QImage &canvas, const QImage &frame, int offset, bool horizontal)
{
    const int next = offset + (horizontal ? frame.width() : frame.height());
    if (canvas.isNull() || frame.isNull())
        return next;

    const QImage source = frame.format() == canvas.format() ? frame : frame.convertToFormat(canvas.format());
    if (source.isNull())
        return next;

    const int x0 = horizontal ? offset : 0;
    const int y0 = horizontal ? 0 : offset;
    const int copyWidth = std::min(source.width(), canvas.width() - x0);
    const int copyHeight = std::min(source.height(), canvas.height() - y0);
    if (x0 < 0 || y0 < 0 || copyWidth <= 0 || copyHeight <= 0)
        return next;

    const int bytesPerPixel = canvas.depth() / 8;
    const qsizetype rowBytes = qsizetype(copyWidth) * bytesPerPixel;
    const qsizetype canvasStride = canvas.bytesPerLine();
    uchar *target = canvas.bits() + qsizetype(y0) * canvasStride + qsizetype(x0) * bytesPerPixel;
    for (int row = 0; row < copyHeight; ++row)
        std::memcpy(target + row * canvasStride, source.constScanLine(row), size_t(rowBytes));
    return next;
}

/*
 * The parts of a job that every save shares: creates folder with all its
 * missing parents (a failure is kept in folderError and reported when the
 * first file is due) and takes the timestamp once for all segments. The
 * caller sets the axis, the order and the naming. survey must outlive the
 * job. Runs on the stitch worker's thread.
 */
SegmentJob prepareSegmentJob(const FrameSurvey *survey, const QVector<Segment> &segments,
                             const QString &folder, ImageFormat format, int jpgQuality, int pngQuality)
{
    SegmentJob job;
    job.folderError = makeFolderPath(folder);
    job.survey = survey;
    job.segments = segments;
    job.folder = folder;
    job.timestamp = currentTimestampText();
    job.format = format;
    job.jpgQuality = jpgQuality;
    job.pngQuality = pngQuality;
    return job;
}

/*
 * Composes and writes every segment of job in order. frameAt(i) yields
 * frame i of the job when its segment is due (a null image is skipped
 * without moving the offset); it is laid out turned by job.turnAngle. A
 * segment without a valid frame or with a summed length below 1 writes no
 * file but still counts. After each segment
 * reportProgress(handled, total) is called. No canvas is drawn: the frames
 * of one segment are held while its rows are streamed into the encoder
 * (writeSegmentFile()) and released before the next segment is begun. Returns an empty text on success with savedFiles holding the full
 * paths in segment order, or the failure text of the first file that could
 * not be written (files written before it stay on disk). Runs on the stitch
 * worker's thread; may throw std::bad_alloc.
 */
QString writeSegments(const SegmentJob &job, const FrameSource &frameAt, const ProgressReport &reportProgress,
                      QStringList *savedFiles)
{
    const FrameSurvey &survey = *job.survey;
    const QVector<int> lengths = survey.lengths(job.horizontal);
    const int crossLength = job.horizontal ? survey.maxHeight : survey.maxWidth;
    const QString extension = imageFormatSuffix(job.format);
    const QDir folder(job.folder);
    const int total = job.segments.size();

    int handled = 0;
    for (const Segment &segment : job.segments) {
        qint64 summedLength = 0;
        int validFrames = 0;
        for (int i = segment.first; i < segment.end; ++i) {
            if (survey.valid.at(i)) {
                summedLength += lengths.at(i);
                ++validFrames;
            }
        }
        if (validFrames < 1 || summedLength < 1) {
            reportProgress(++handled, total);
            continue;
        }

        const QString path
            = folder.filePath(job.fileName(job.baseName, job.timestamp, handled + 1, total, extension));
        if (job.folderError != 0)
            return saveFailureText(path, systemErrorText(job.folderError));
        SegmentPicture picture;
        picture.horizontal = job.horizontal;
        picture.gray = survey.gray || survey.deep;
        picture.depth = survey.deep ? 16 : 8;
        picture.significantBits = survey.deep ? survey.significantBits : 8;
        picture.width = job.horizontal ? int(summedLength) : crossLength;
        picture.height = job.horizontal ? crossLength : int(summedLength);
        for (int k = 0; k < segment.end - segment.first; ++k) {
            const int i = job.reverse ? segment.end - 1 - k : segment.first + k;
            if (survey.valid.at(i))
                picture.append(frameAt(i), job.turnAngle);
        }
        QString reason;
        QString writtenPath;
        const bool written = writeSegmentFile(path, picture, job.format, job.jpgQuality, job.pngQuality,
                                              &reason, &writtenPath);
        if (!written)
            return saveFailureText(path, reason);

        savedFiles->append(writtenPath);
        reportProgress(++handled, total);
    }
    return QString();
}
