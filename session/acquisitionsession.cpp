#include "acquisitionsession.h"

#include "batchledger.h"
#include "composer.h"
#include "framebudget.h"
#include "framekind.h"
#include "frameturn.h"
#include "imageformat.h"
#include "naming.h"
#include "stitchextent.h"
#include "stitchworker.h"
#include "turnedcopy.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QThread>

#include <algorithm>
#include <malloc.h>
#include <new>

namespace {

// The frame budget: CORVISTA_MEMORY_BUDGET_MIB when it holds a usable number
// of MiB, else a quarter of physical memory, at most 4 GiB.
qint64 frameBudgetFromEnvironment()
{
    bool valid = true;
    const QByteArray text = qgetenv("CORVISTA_MEMORY_BUDGET_MIB");
    const qint64 bytes = frameBudgetBytes(text, physicalMemoryBytes(), &valid);
    if (!valid)
        qWarning() << "CORVISTA_MEMORY_BUDGET_MIB is not a positive number of MiB:" << text << "- using"
                   << bytes / (1024 * 1024) << "MiB";
    return bytes;
}

// Frames are megabytes each and short-lived, and they are allocated in one
// thread and freed in another. Left to itself, glibc raises its mmap threshold
// after the first frames are freed and then keeps freed frames in its heaps,
// so resident memory stays at its peak long after the frames are gone and the
// frame budget no longer bounds it. Served from mmap, every freed frame goes
// back to the system at once. Process-wide; set before the first frame.
void returnFreedFramesToTheSystem()
{
    static const bool once = [] {
        mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
        return true;
    }();
    Q_UNUSED(once)
}

// Whether two frames may share a batch: a batch becomes files of one kind
// (RGB, 8-bit gray, or 16-bit gray of one bit count), so a camera switched to
// another pixel format, or the option to keep its pixels switched while it
// grabs, starts a new batch.
bool sameFrameKind(const QImage &a, const QImage &b)
{
    return a.format() == b.format() && grayStandsForRgb(a) == grayStandsForRgb(b)
        && significantBits(a) == significantBits(b);
}

} // namespace

/*
 * A session with its budget, ledger and a running stitch thread; not
 * collecting. Thread of the caller, which must run an event loop for the
 * worker's results to arrive.
 */
AcquisitionSession::AcquisitionSession(QObject *parent) : QObject(parent)
{
    returnFreedFramesToTheSystem();
    qRegisterMetaType<QList<QImage>>("QList<QImage>");
    qRegisterMetaType<FrameSpan>();
    m_options.saveDir = QDir::currentPath();
    m_budget = std::make_unique<FrameBudget>(frameBudgetFromEnvironment());
    // The ledger charges as many saves at once as the worker runs.
    m_ledger = std::make_unique<BatchLedger>(*m_budget, defaultConcurrentSaves());

    m_stitchThread = new QThread(this);
    m_worker = new StitchWorker;
    m_worker->setConcurrentSaves(defaultConcurrentSaves());
    m_worker->moveToThread(m_stitchThread);
    // The worker belongs to the stitch thread and must be deleted there.
    connect(m_stitchThread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &StitchWorker::progress, this, &AcquisitionSession::saveProgress);
    connect(m_worker, &StitchWorker::finished, this, [this](const QStringList &files) {
        const FrameSpan span = m_pendingSpans.isEmpty() ? FrameSpan() : m_pendingSpans.dequeue();
        m_filesWritten += files.size();
        saveEnded();
        emit batchSaved(files, span);
    });
    connect(m_worker, &StitchWorker::failed, this, [this](const QString &error) {
        if (!m_pendingSpans.isEmpty())
            m_pendingSpans.dequeue();
        ++m_saveFailures;
        saveEnded();
        emit saveFailed(error);
    });
    m_stitchThread->start();
}

/*
 * Handed-off batches are written before the session goes: a dropped job
 * would be a lost file.
 */
AcquisitionSession::~AcquisitionSession()
{
    finishHandedOffBatches();
}

qint64 AcquisitionSession::dropped() const
{
    return m_budget->dropped();
}

void AcquisitionSession::saveEnded()
{
    m_pendingSaves = std::max(0, m_pendingSaves - 1);
    m_ledger->jobEnded();
    relieveFrameBudget();
}

// A front end may change the name at any moment; the next batch takes it.
ImageFormat AcquisitionSession::outputFormat() const
{
    return imageFormatFromSetting(m_options.imageFormat);
}

/*
 * Reads the camera's frame size into the expected size, turned for the
 * direction. Leaves the size unknown when the camera cannot tell; the next
 * frame tries again.
 */
void AcquisitionSession::readExpectedFrameSize()
{
    if (!m_frameSizeSource)
        return;
    const QSize grabbed = m_frameSizeSource();
    if (!grabbed.isValid() || grabbed.isEmpty())
        return;
    m_expectedFrameSize
        = expectedTurnedFrameSize(grabbed.width(), grabbed.height(), m_options.stitchDirection);
    m_frameSizeKnown = true;
}

void AcquisitionSession::setFrameSizeKnownForTest(QSize turned)
{
    m_expectedFrameSize = turned;
    m_frameSizeKnown = true;
}

/* Drops the open batch without showing or saving it; its frames leave the budget. */
void AcquisitionSession::discardOpenBatch()
{
    m_batchFrames.clear();
    m_ledger->discardOpenBatch();
}

void AcquisitionSession::clearShownBatch()
{
    m_lastBatchFrames.clear();
    m_ledger->shownBatchCleared();
}

/*
 * Closes the open batch: numbers it, hands it to the worker when saving is on
 * and offers it to the preview. An empty batch takes no number. The batch's
 * frames stay in the budget while the worker or the front end holds them.
 */
void AcquisitionSession::closeBatch()
{
    if (m_batchFrames.isEmpty()) {
        discardOpenBatch();
        return;
    }
    ++m_batchCounter;
    const int number = m_batchCounter;
    const int turnAngle = turnAngleForDirection(m_options.stitchDirection);
    m_ledger->closeOpenBatch(number);
    if (m_options.saveStitchImage)
        handOffBatch(m_batchFrames, number, turnAngle, m_openSpan);
    if (m_showsClosedBatches) {
        m_lastBatchFrames = m_batchFrames;
        m_lastBatchTurnAngle = turnAngle;
        m_ledger->previewTaken(number);
        emit batchClosed(number, m_batchFrames, m_options.stitchDirection, turnAngle);
        m_ledger->batchShown(number);
    }
    m_batchFrames.clear();
    m_ledger->settle(number);
}

/*
 * Appends a frame holding `bytes` of the budget; a full batch closes, and so
 * does one that, with what the worker's save of it holds, takes half the
 * budget. When the list cannot grow, the frame is dropped and the batch
 * closes before it.
 */
void AcquisitionSession::appendAndCheckFull(const QImage &frame, qint64 bytes, quint32 frameNumber)
{
    try {
        m_batchFrames.append(frame);
    } catch (const std::bad_alloc &) {
        m_budget->release(bytes);
        m_budget->countDropped();
        closeBatch();
        return;
    }
    ++m_framesCollected;
    if (m_batchFrames.size() == 1)
        m_openSpan.first = frameNumber;
    m_openSpan.last = frameNumber;
    const int direction = m_options.stitchDirection;
    // Every frame counts towards the batch's extent, so that the estimate
    // stays whole should saving be switched on before the batch closes.
    StitchExtent &extent = m_ledger->openExtent();
    extent.add(frame, isHorizontalDirection(direction), turnAngleForDirection(direction));
    const qint64 saveBytes = m_options.saveStitchImage
        ? stitchSaveBytes(extent, isHorizontalDirection(direction), outputFormat(), kMaxStitchDimension)
        : 0;
    m_ledger->addToOpenBatch(bytes, saveBytes);
    // A batch whose picture would not fit beside it closes early: shorter,
    // but without a hole, so the next file goes on from the next frame.
    if (m_batchFrames.size() >= m_options.maxStitchCount || m_ledger->openBatchOutgrowsBudget())
        closeBatch();
}

/*
 * A fed frame that is not collected (the camera stopped, the window
 * closes): the grab thread took room for it, which goes back.
 */
void AcquisitionSession::refuseFrame(const QImage &frame)
{
    const qint64 bytes = frameImageBytes(frame.width(), frame.height(), frame.depth());
    m_budget->dequeued(bytes);
    m_budget->release(bytes);
}

/*
 * Collects a fed frame into the open batch, as it was grabbed: the turn for
 * the stitch direction waits for the preview and the encoder, which copy the
 * frame anyway. The frame's size, turned, is compared with the camera's full
 * frame size: a complete frame is appended and closes the batch when it is
 * full; an incomplete frame (an object ended) closes the batch, appended
 * first when the partial-frame rule is on. Until the camera's size is known
 * every frame counts as complete. The budget is charged what the image holds
 * (a gray frame a third of an RGB one). Ignored unless collecting.
 */
void AcquisitionSession::takeFrame(const QImage &frame, quint32 frameNumber)
{
    // The grab thread took room in the budget for this frame; from here on it
    // is the session's to keep (in the batch) or to give back.
    const qint64 bytes = frameImageBytes(frame.width(), frame.height(), frame.depth());
    m_budget->dequeued(bytes);
    if (m_shutDown || !m_collecting || frame.isNull()) {
        m_budget->release(bytes);
        return;
    }
    // Like an incomplete frame, a frame of another kind ends the open batch;
    // unlike one, it cannot join the batch it ends and opens the next.
    if (!m_batchFrames.isEmpty() && !sameFrameKind(frame, m_batchFrames.first()))
        closeBatch();
    if (!m_frameSizeKnown)
        readExpectedFrameSize();
    const QSize turned = turnedSize(frame.size(), turnAngleForDirection(m_options.stitchDirection));
    if (!m_frameSizeKnown || turned == m_expectedFrameSize) {
        appendAndCheckFull(frame, bytes, frameNumber);
        return;
    }
    if (m_options.partialStitch) {
        appendAndCheckFull(frame, bytes, frameNumber);
        if (m_batchFrames.isEmpty())
            return; // the frame closed the batch (a batch count of 1, or no room)
    } else {
        m_budget->release(bytes);
    }
    closeBatch();
}

/*
 * The stream has a hole (frames dropped for lack of room, lost by the camera
 * or the transport, or not convertible): the open batch closes before it, so
 * that no stitched file joins frames that were not adjacent.
 */
void AcquisitionSession::breakOpenBatch()
{
    if (m_shutDown || !m_collecting)
        return;
    closeBatch();
    relieveFrameBudget();
}

/*
 * Under overload the last shown batch, kept for a second save, may be all
 * that fills the budget; with nothing open, queued or being written, no event
 * would ever free room again. The session then lets go of its frames (a
 * picture on screen stays) and intake resumes.
 */
void AcquisitionSession::relieveFrameBudget()
{
    if (!m_ledger->shownBatchBlocksIntake(m_batchFrames.size()))
        return;
    qWarning() << "The frame budget is full with the last shown batch alone; its frames are given up";
    clearShownBatch();
}

/*
 * A run ends: when saving is on, the open batch is closed as a shorter
 * batch, numbered as the next, so that the end of a scan reaches a file.
 * With saving off it stays open, and the caller drops it or the next start does.
 */
void AcquisitionSession::saveOpenBatchAtRunEnd()
{
    if (m_shutDown || !m_options.saveStitchImage || m_batchFrames.isEmpty())
        return;
    closeBatch();
    relieveFrameBudget();
}

void AcquisitionSession::startRun()
{
    discardOpenBatch();
    m_budget->resetDropped();
    m_frameSizeKnown = false;
}

void AcquisitionSession::shutDown()
{
    m_shutDown = true;
    m_collecting = false;
    discardOpenBatch();
}

/*
 * A different direction discards the open batch, whose frames are laid out
 * and turned for the old one, and forgets the frame size; the same direction
 * changes nothing. Values outside 0..3 are kept as given and handled like Bottom.
 */
void AcquisitionSession::setStitchDirection(int direction)
{
    if (direction == m_options.stitchDirection)
        return;
    m_options.stitchDirection = direction;
    discardOpenBatch();
    m_frameSizeKnown = false;
}

/* Frames per batch, at least 1; a batch that holds that many already closes now. */
void AcquisitionSession::setMaxStitchCount(int count)
{
    m_options.maxStitchCount = qMax(1, count);
    if (m_batchFrames.size() >= m_options.maxStitchCount)
        closeBatch();
}

/*
 * Posts one batch to the stitch worker as a queued call of saveGrabbedImages
 * with one BatchSaveJob: the frames' turn (the frames are as grabbed and the
 * worker turns them while it encodes; 0 for frames already turned) and the
 * options as they are now; a later change does not reach the job. An empty
 * list posts nothing. batchNumber 0 gives file names without a batch part.
 * The job counts as pending, and holds the batch's share of the budget,
 * until its result.
 */
void AcquisitionSession::handOffBatch(const QList<QImage> &frames, int batchNumber, int turnAngle,
                                      FrameSpan span)
{
    if (frames.isEmpty() || !m_worker)
        return;
    const SessionOptions &o = m_options;
    BatchSaveJob job;
    job.frames = frames;
    job.turnAngle = turnAngle;
    job.direction = o.stitchDirection;
    job.folder = resolveOutputFolder(o.saveDir);
    job.cameraModelName = o.cameraModelName;
    job.cameraSerialNumber = o.cameraSerialNumber;
    job.batchIndex = batchNumber;
    job.format = outputFormat();
    job.jpgQuality = o.jpgQuality;
    job.pngQuality = o.pngQuality;
    job.formatName = o.imageFormat;
    if (!QMetaObject::invokeMethod(m_worker, "saveGrabbedImages", Qt::QueuedConnection,
                                   Q_ARG(BatchSaveJob, job)))
        return;
    ++m_pendingSaves;
    m_pendingSpans.enqueue(span);
    m_ledger->jobPosted(
        batchNumber, stitchSaveBytes(frames, o.stitchDirection, job.format, kMaxStitchDimension, turnAngle));
    emit batchHandedOff(batchNumber);
}

/*
 * Lets every job already posted run to its end, then ends the stitch thread
 * and waits for it without a time limit; the worker is deleted in its thread
 * as that thread finishes. Dropping queued batches or destroying a running
 * thread would lose files, so this waits for the slowest save. The worker's
 * results arrive as queued events; each one wakes this loop.
 */
void AcquisitionSession::finishHandedOffBatches()
{
    if (!m_stitchThread)
        return;
    m_finishingSaves = true;
    int total = m_pendingSaves;
    while (m_pendingSaves > 0 && m_stitchThread->isRunning()) {
        // Nothing adds a job after the stop; should anything, the count must still read true.
        total = std::max(total, m_pendingSaves);
        emit stopProgress(m_pendingSaves, total);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    emit stopProgress(0, total);
    m_stitchThread->quit();
    m_stitchThread->wait();
    m_worker = nullptr;
    delete m_stitchThread;
    m_stitchThread = nullptr;
}

/*
 * Frames that arrive faster than the front end shows them are coalesced: one
 * notice is on its way at a time, and whichever frame is newest when it is
 * taken is shown. A front end held up thus holds one frame, never a queue.
 */
void AcquisitionSession::offerLiveFrame(QImage image)
{
    {
        QMutexLocker lock(&m_liveMutex);
        m_liveFrame = std::move(image);
        if (m_livePosted)
            return;
        m_livePosted = true;
        m_liveFrameWanted.store(false);
    }
    emit liveFrameReady();
}

QImage AcquisitionSession::takeLiveFrame(bool keepWaiting)
{
    QMutexLocker lock(&m_liveMutex);
    m_livePosted = false;
    if (keepWaiting)
        return m_liveFrame;
    QImage image = std::move(m_liveFrame);
    m_liveFrame = QImage();
    m_liveFrameWanted.store(true);
    return image;
}

void AcquisitionSession::offerWaitingLiveFrameAgain()
{
    QImage waiting;
    {
        QMutexLocker lock(&m_liveMutex);
        if (m_livePosted)
            return;
        waiting = m_liveFrame;
    }
    if (!waiting.isNull())
        offerLiveFrame(std::move(waiting));
}

bool AcquisitionSession::hasLiveFrame() const
{
    QMutexLocker lock(&m_liveMutex);
    return !m_liveFrame.isNull();
}
