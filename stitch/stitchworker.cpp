#include "stitchworker.h"

#include "composer.h"
#include "framekind.h"
#include "imageformat.h"
#include "naming.h"
#include "savepool.h"

#include <QFile>
#include <QImageReader>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <exception>
#include <new>

namespace {

// A batch that cannot be stitched for lack of memory says so, by its number;
// the Save Image action's batch 0 has none.
QString notEnoughMemoryText(int batchIndex)
{
    return batchIndex > 0 ? QStringLiteral("Not enough memory to stitch batch %1").arg(batchIndex)
                          : QStringLiteral("Not enough memory to stitch the image");
}

// The format is named as the caller gave it: the operator recognises what
// the settings hold, even a hand-edited name that saves as BMP.
QString crossDimensionTooLarge(const QString &formatName, int size, int limit)
{
    return QStringLiteral("Stitched image height too large for %1: %2 > %3")
        .arg(formatName, QString::number(size), QString::number(limit));
}

QString singleFrameTooLong(const QString &formatName, int length, int limit)
{
    return QStringLiteral("A single frame is too wide for %1 (%2 px > %3 px).")
        .arg(formatName, QString::number(length), QString::number(limit));
}

QString pixelKindText(const QImage &frame)
{
    if (frame.format() == QImage::Format_Grayscale16)
        return QStringLiteral("16-bit gray of %1 significant bits").arg(significantBits(frame));
    return isGrayFormat(frame.format()) ? QStringLiteral("8-bit gray") : QStringLiteral("colour");
}

// One file holds one kind of pixel: a batch whose frames differ (the camera
// changed its pixel format without the batch being closed) is refused whole.
QString mixedPixelsText(const QList<QImage> &images, const FrameSurvey &survey, int batchIndex)
{
    const QString what
        = batchIndex > 0 ? QStringLiteral("Batch %1").arg(batchIndex) : QStringLiteral("The image");
    return QStringLiteral("%1 mixes pixel kinds and was not saved: frame %2 is %3, frame %4 %5.")
        .arg(what, QString::number(survey.mixedFrame + 1), pixelKindText(images.at(survey.mixedFrame)),
             QString::number(survey.firstFrame + 1), pixelKindText(images.at(survey.firstFrame)));
}

// The bit count a PNG's sBIT chunk gives its gray samples, found among the
// chunks before the image data in head; 0 when there is none.
int pngSignificantGrayBits(const QByteArray &head)
{
    if (!head.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return 0;
    for (qsizetype at = 8; at + 12 <= head.size();) {
        const quint32 length = qFromBigEndian<quint32>(head.constData() + at);
        const QByteArray type = head.mid(at + 4, 4);
        if (type == "IDAT" || length > quint32(head.size()))
            break;
        if (type == "sBIT" && length >= 1 && at + 9 <= head.size())
            return uchar(head.at(at + 8));
        at += 12 + qsizetype(length);
    }
    return 0;
}

/*
 * The save of saveStitch(), run by the save pool: reads, joins and writes
 * the frame files and says how it ended. No exception leaves it.
 */
SaveOutcome saveFileList(const QStringList &imagePaths, int rotateClockwise, const QString &saveDirPath,
                         const QString &cameraModelName, const QString &cameraSerialNumber,
                         const QString &formatName, int jpgQuality, int pngQuality, int maxDimension,
                         bool keepCameraPixels, const StitchWorker::FrameFileReader &readFrame,
                         const ProgressReport &reportProgress)
{
    if (imagePaths.isEmpty())
        return SaveOutcome::failure(QStringLiteral("No frames to save!"));
    const QString folder = resolveOutputFolder(saveDirPath);
    const ImageFormat format = imageFormatFromSetting(formatName);

    try {
        FrameSurvey survey(imagePaths.size());
        for (int i = 0; i < imagePaths.size(); ++i) {
            if (!imagePaths.at(i).isEmpty())
                survey.record(i, readFrame(imagePaths.at(i)));
        }
        if (survey.validCount == 0 || survey.maxHeight <= 0)
            return SaveOutcome::failure(QStringLiteral("No valid frames to stitch!"));
        // Otherwise 16-bit files are joined into 8-bit ones, as they always were.
        survey.deep = survey.deep && keepCameraPixels;
        if (survey.maxHeight > maxDimension)
            return SaveOutcome::failure(crossDimensionTooLarge(formatName, survey.maxHeight, maxDimension));
        const SegmentSplit split = splitIntoSegments(survey.lengths(true), maxDimension);
        if (split.oversizedFrame >= 0) {
            return SaveOutcome::failure(
                singleFrameTooLong(formatName, survey.widths.at(split.oversizedFrame), maxDimension)
                + QStringLiteral("\nFile: ") + imagePaths.at(split.oversizedFrame));
        }
        if (split.segments.isEmpty())
            return SaveOutcome::failure(QStringLiteral("No segments generated."));

        SegmentJob job = prepareSegmentJob(&survey, split.segments, folder, format, jpgQuality, pngQuality);
        job.horizontal = true;
        job.reverse = rotateClockwise != 0;
        job.baseName = fileListStitchBaseName(cameraModelName, cameraSerialNumber);
        job.fileName = fileListSegmentFileName;

        QStringList savedFiles;
        const QString error = writeSegments(
            job, [&](int i) { return readFrame(imagePaths.at(i)); }, reportProgress, &savedFiles);
        if (!error.isEmpty())
            return SaveOutcome::failure(error);
        if (savedFiles.isEmpty())
            return SaveOutcome::failure(
                QStringLiteral("No image segments were saved (all frames invalid?)."));
        return SaveOutcome::written(savedFiles);
    } catch (const std::exception &e) {
        return SaveOutcome::failure(
            QStringLiteral("Exception occurred: %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        return SaveOutcome::failure(QStringLiteral("Unknown exception occurred!"));
    }
}

/*
 * The save of saveGrabbedImages(), run by the save pool: joins one batch and
 * writes its segments, and says how it ended. No exception leaves it.
 */
SaveOutcome saveBatch(const BatchSaveJob &batch, int maxDimension, const ProgressReport &reportProgress)
{
    const QList<QImage> &images = batch.frames;
    if (images.isEmpty())
        return SaveOutcome::failure(QStringLiteral("No frames to save!"));
    const QString folder = resolveOutputFolder(batch.folder);
    const QString formatName = batch.formatName.isEmpty() ? imageFormatName(batch.format) : batch.formatName;

    try {
        const FrameSurvey survey = surveyFrames(images, batch.turnAngle);
        if (survey.validCount == 0)
            return SaveOutcome::failure(QStringLiteral("No valid frames to stitch!"));
        if (survey.mixedFrame >= 0)
            return SaveOutcome::failure(mixedPixelsText(images, survey, batch.batchIndex));
        const bool horizontal = isHorizontalDirection(batch.direction);
        const int crossLength = horizontal ? survey.maxHeight : survey.maxWidth;
        if (crossLength > maxDimension)
            return SaveOutcome::failure(crossDimensionTooLarge(formatName, crossLength, maxDimension));
        const QVector<int> lengths = survey.lengths(horizontal);
        const SegmentSplit split = splitIntoSegments(lengths, maxDimension);
        if (split.oversizedFrame >= 0)
            return SaveOutcome::failure(
                singleFrameTooLong(formatName, lengths.at(split.oversizedFrame), maxDimension));
        if (split.segments.isEmpty())
            return SaveOutcome::failure(QStringLiteral("No segments generated."));

        SegmentJob job = prepareSegmentJob(&survey, split.segments, folder, batch.format, batch.jpgQuality,
                                           batch.pngQuality);
        job.horizontal = horizontal;
        job.reverse = drawsInReverse(batch.direction);
        job.turnAngle = batch.turnAngle;
        job.baseName = batchStitchBaseName(batch.cameraModelName, batch.cameraSerialNumber, batch.direction,
                                           batch.batchIndex);
        job.fileName = batchSegmentFileName;

        QStringList savedFiles;
        const QString error = writeSegments(
            job, [&images](int i) { return images.at(i); }, reportProgress, &savedFiles);
        if (!error.isEmpty())
            return SaveOutcome::failure(error);
        return SaveOutcome::written(savedFiles);
    } catch (const std::bad_alloc &) {
        return SaveOutcome::failure(notEnoughMemoryText(batch.batchIndex));
    } catch (...) {
        return SaveOutcome::failure(QStringLiteral("Unknown error when stitching."));
    }
}

} // namespace

/*
 * Reads a picture file, recognising its format from the content rather than
 * the extension. 16-bit gray files come as Grayscale16 with their values as
 * stored, carrying the bit count of a PNG's sBIT chunk (significantBits()).
 * Returns a null image when the path is empty or the file cannot be read.
 * Any thread.
 */
QImage readFrameFile(const QString &path)
{
    if (path.isEmpty())
        return QImage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    const QByteArray head = file.peek(4096);
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    const QImage frame = reader.read();
    const int bits = frame.format() == QImage::Format_Grayscale16 ? pngSignificantGrayBits(head) : 0;
    return bits > 0 ? withSignificantBits(frame, bits) : frame;
}

/*
 * Saves overlap best with as many saves as cores, and at least two on any
 * machine: while one waits for the disk to take its file the other composes
 * and encodes. More than four would only hold more batches.
 */
int defaultConcurrentSaves()
{
    return std::clamp(QThread::idealThreadCount(), 2, 4);
}

/*
 * A worker with maxDimension 32768, one save at a time, that reads frame
 * files with readFrameFile(). Created on the GUI thread without parent, then
 * moved to the stitch thread.
 */
StitchWorker::StitchWorker(QObject *parent)
    : QObject(parent), maxDimension(kMaxStitchDimension), m_readFrameFile(readFrameFile)
{
    // Batches are posted to saveGrabbedImages() by name, queued.
    qRegisterMetaType<BatchSaveJob>();
    m_saves = std::make_unique<SavePool>([this](int current, int total) { emit progress(current, total); },
                                         [this](const SaveOutcome &outcome) {
                                             if (outcome.ok)
                                                 emit finished(outcome.files);
                                             else
                                                 emit failed(outcome.error);
                                         });
    // Helper threads only ask; the signals leave from this object's thread.
    m_saves->setWake([this] {
        QMetaObject::invokeMethod(
            this, [this] { m_saves->deliverReady(); }, Qt::QueuedConnection);
    });
}

/*
 * Runs in the stitch thread, through deleteLater() when that thread
 * finishes. Saves still running are waited for and reported: a batch handed
 * off is never dropped.
 */
StitchWorker::~StitchWorker()
{
    m_saves->waitForAll();
}

/*
 * Sets the reader saveStitch() uses for frame files; an empty reader restores
 * readFrameFile(). Call it before posting work, from the thread that owns the
 * worker or before the worker is moved.
 */
void StitchWorker::setFrameFileReader(FrameFileReader reader)
{
    m_readFrameFile = reader ? std::move(reader) : FrameFileReader(readFrameFile);
}

/*
 * How many saves run at once (at least 1). With 1 a save runs within its
 * call; with more, calls return once their save has started and a call
 * waits while that many saves are held (running, or done and waiting for
 * an earlier one to report). Call it from the worker's thread or before the
 * worker is moved.
 */
void StitchWorker::setConcurrentSaves(int saves)
{
    m_saves->setConcurrency(saves);
}

int StitchWorker::concurrentSaves() const
{
    return m_saves->concurrency();
}

void StitchWorker::waitForSaves()
{
    m_saves->waitForAll();
}

/*
 * Decides, for saveStitch() calls that start from now on, whether frame files
 * that are all 16-bit gray give 16-bit files (PNG, TIFF; the top 8 bits in
 * BMP, JPEG) rather than 8-bit ones. Batches of frames need no such switch:
 * their frames' formats say what to write. Any thread.
 */
void StitchWorker::setKeepCameraPixels(bool keep)
{
    m_keepCameraPixels.store(keep);
}

bool StitchWorker::keepCameraPixels() const
{
    return m_keepCameraPixels.load();
}

/*
 * Hands a save to the pool. Should the pool itself run out of memory, the
 * call still ends with one failed(), after the saves before it.
 */
void StitchWorker::postSave(std::function<SaveOutcome(const std::function<void(int, int)> &)> save,
                            const QString &outOfMemoryText)
{
    try {
        m_saves->post(std::move(save));
    } catch (...) {
        m_saves->waitForAll();
        emit failed(outOfMemoryText);
    }
}

/*
 * Joins the picture files imagePaths side by side along x, in list order
 * (rotateClockwise 0) or reversed within each segment (any other value),
 * cuts the row into segments of at most maxDimension pixels and writes each
 * as "RotatedStitched[_model_serial]_<timestamp>[_partNN].<ext>" into
 * saveDirPath (empty or "." meaning the working directory, created when
 * missing; a folder that cannot be created fails with the system's reason),
 * whole or not at all and never over an existing file (writeImageFile()).
 * Empty or unreadable paths are skipped. When every file read is 16-bit
 * gray and keepCameraPixels() holds, the files written are 16-bit gray too
 * (the top 8 bits in BMP and JPEG); otherwise as always, 8-bit gray or RGB.
 * format is a name as the settings file keeps it (imageFormatFromSetting()).
 * Files are read for the survey one
 * at a time and again when their segment is due; only that segment's
 * pictures are held while its rows are streamed into the file. Emits
 * progress() after each segment, then exactly one finished() with the
 * written paths or one failed() with the reason, after those of every
 * earlier call. The reader may be called on a helper thread. Runs on the
 * worker's thread; no exception leaves it.
 */
void StitchWorker::saveStitch(QStringList imagePaths, int rotateClockwise, QString saveDirPath,
                              QString cameraModelName, QString cameraSerialNumber, QString format,
                              int jpgQuality, int pngQuality)
{
    const int limit = maxDimension;
    const bool keep = keepCameraPixels();
    const FrameFileReader reader = m_readFrameFile;
    postSave(
        [=](const SavePool::Progress &report) {
            return saveFileList(imagePaths, rotateClockwise, saveDirPath, cameraModelName, cameraSerialNumber,
                                format, jpgQuality, pngQuality, limit, keep, reader, report);
        },
        QStringLiteral("Unknown exception occurred!"));
}

/*
 * Joins one batch of frames (already turned for the direction) edge to edge:
 * side by side for directions 0 and 1, stacked for every other value; 1 and 3
 * lay each segment out last frame first. Cuts the batch into segments of at
 * most maxDimension pixels along the axis and writes each as
 * "Stitched[_model_serial]_<direction>[_BatchNNN]_<timestamp>[_SegNN].<ext>"
 * into saveDirPath (empty or "." meaning the working directory, created when
 * missing; a folder that cannot be created fails with the system's reason),
 * whole or not at all and never over an existing file (writeImageFile()).
 * Null frames are skipped. The frames' format decides the files': 8-bit gray
 * for unmarked gray frames, 16-bit gray for Grayscale16 ones (PNG noting
 * their significantBits(), BMP and JPEG holding their top 8 bits), RGB for
 * the rest; a batch that mixes 16-bit frames with others, or 16-bit frames
 * of different bit counts, fails naming the frame. No segment canvas is
 * built: rows are composed
 * from the frames a strip at a time as the file is encoded. format is a name
 * as the settings file keeps it (imageFormatFromSetting()). Emits
 * progress() after each segment, then exactly one finished() with the
 * written paths or one failed() with the reason, after those of every
 * earlier call. Runs on the worker's thread; no exception leaves it.
 */
void StitchWorker::saveStitchImages(QList<QImage> images, int rotateClockwise, QString saveDirPath,
                                    QString cameraModelName, QString cameraSerialNumber, int batchIndex,
                                    QString format, int jpgQuality, int pngQuality)
{
    saveGrabbedImages({std::move(images), 0, rotateClockwise, std::move(saveDirPath),
                       std::move(cameraModelName), std::move(cameraSerialNumber), batchIndex,
                       imageFormatFromSetting(format), jpgQuality, pngQuality, format});
}

/*
 * Like saveStitchImages(), for a batch kept as the camera delivered it: each
 * frame is laid out turned by job.turnAngle (degrees, see
 * turnAngleForDirection()), the turn done row by row as the segments are
 * encoded, so the files equal those of saveStitchImages() given the turned
 * frames. job.direction is that of the layout and the file names. Runs on the
 * worker's thread; no exception leaves it.
 */
void StitchWorker::saveGrabbedImages(BatchSaveJob job)
{
    const QString outOfMemory = notEnoughMemoryText(job.batchIndex);
    auto save = [job = std::move(job), limit = maxDimension](const SavePool::Progress &report) {
        return saveBatch(job, limit, report);
    };
    postSave(std::move(save), outOfMemory);
}
