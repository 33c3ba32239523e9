// The stitch session: frames from the grab thread become batches, each closed
// batch is shown in the stitch view and handed to the stitch worker; the live
// view shows the newest frame.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "batchledger.h"
#include "composer.h"
#include "framebudget.h"
#include "framekind.h"
#include "framestatistics.h"
#include "frameturn.h"
#include "naming.h"
#include "preview.h"
#include "previewmaker.h"
#include "setuptools.h"
#include "turnedcopy.h"
#include "workthread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QScrollBar>
#include <QThread>

#include <climits>
#include <new>

namespace {

// The first live frame of the program's run is fitted to the view; later ones
// keep whatever zoom the operator chose.
bool s_firstLiveFrameFitted = false;

// Reads the camera's frame size into the expected size, turned for the
// direction. Leaves the size unknown when the camera cannot tell; the next
// frame tries again.
void readExpectedFrameSize(MainWindow &w)
{
    if (!w.m_handle || !w.m_isOpen)
        return;
    MVCC_INTVALUE_EX width{};
    MVCC_INTVALUE_EX height{};
    if (MV_CC_GetIntValueEx(w.m_handle, "Width", &width) != MV_OK
        || MV_CC_GetIntValueEx(w.m_handle, "Height", &height) != MV_OK)
        return;
    if (width.nCurValue <= 0 || height.nCurValue <= 0 || width.nCurValue > INT_MAX
        || height.nCurValue > INT_MAX)
        return;
    const QSize expected
        = expectedTurnedFrameSize(int(width.nCurValue), int(height.nCurValue), w.m_stitchDirection);
    w.m_expectedFrameWidth = expected.width();
    w.m_expectedFrameHeight = expected.height();
    w.m_expectedFrameSizeKnown = true;
}

// Drops the open batch without showing or saving it; its frames leave the budget.
void discardOpenBatch(MainWindow &w)
{
    w.m_batchFrames.clear();
    w.m_batchLedger->discardOpenBatch();
}

void scrollToNewestFrame(MainWindow &w)
{
    const int d = effectiveStitchDirection(w.m_stitchDirection);
    const bool toEnd = d == StitchDirection::Left || d == StitchDirection::Bottom;
    for (QScrollBar *bar : {w.ui->gvStitch->horizontalScrollBar(), w.ui->gvStitch->verticalScrollBar()})
        bar->setValue(toEnd ? bar->maximum() : bar->minimum());
}

// Hands the closed batch to the preview maker, which composes its picture
// off the window's thread, and keeps its frames for Save Image; empties the
// batch. Returns whether the view keeps the frames.
bool previewBatch(MainWindow &w, int number)
{
    if (!w.m_stitchScene)
        w.setupStitchView();
    if (!w.m_stitchScene || !w.m_previewMaker) {
        w.m_batchFrames.clear();
        return false;
    }
    const int turnAngle = turnAngleForDirection(w.m_stitchDirection);
    w.m_lastBatchFrames = w.m_batchFrames;
    w.m_lastBatchTurnAngle = turnAngle;
    w.m_batchLedger->previewTaken(number);
    const int replaced
        = w.m_previewMaker->request({number, std::move(w.m_batchFrames), w.m_stitchDirection, turnAngle});
    if (replaced)
        w.m_batchLedger->previewDone(replaced);
    w.m_batchFrames.clear();
    return true;
}

// Closes the open batch: numbers it, hands it to the worker when saving is on
// and shows it. An empty batch takes no number. The batch's frames stay in the
// budget while the worker or the stitch view holds them.
void closeBatch(MainWindow &w)
{
    if (w.m_batchFrames.isEmpty()) {
        discardOpenBatch(w);
        return;
    }
    ++w.m_batchCounter;
    const int number = w.m_batchCounter;
    w.m_batchLedger->closeOpenBatch(number);
    if (w.m_saveStitchImage)
        w.handOffBatch(w.m_batchFrames, number, turnAngleForDirection(w.m_stitchDirection));
    if (previewBatch(w, number))
        w.m_batchLedger->batchShown(number);
    w.m_batchLedger->settle(number);
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

// Appends a frame holding `bytes` of the budget; a full batch closes, and so
// does one that, with what the worker's save of it holds, takes half the budget. When
// the list cannot grow, the frame is dropped and the batch closes before it.
void appendAndCheckFull(MainWindow &w, const QImage &frame, qint64 bytes)
{
    try {
        w.m_batchFrames.append(frame);
    } catch (const std::bad_alloc &) {
        w.m_frameBudget->release(bytes);
        w.m_frameBudget->countDropped();
        closeBatch(w);
        return;
    }
    // Every frame counts towards the batch's extent, so that the estimate
    // stays whole should saving be switched on before the batch closes.
    StitchExtent &extent = w.m_batchLedger->openExtent();
    extent.add(frame, isHorizontalDirection(w.m_stitchDirection), turnAngleForDirection(w.m_stitchDirection));
    const qint64 saveBytes = w.m_saveStitchImage
        ? stitchSaveBytes(extent, isHorizontalDirection(w.m_stitchDirection), w.m_imageFormat,
                          kMaxStitchDimension)
        : 0;
    w.m_batchLedger->addToOpenBatch(bytes, saveBytes);
    // A batch whose picture would not fit beside it closes early: shorter,
    // but without a hole, so the next file goes on from the next frame.
    if (w.m_batchFrames.size() >= w.m_maxStitchCount || w.m_batchLedger->openBatchOutgrowsBudget())
        closeBatch(w);
}

// Shows the newest waiting live frame; runs queued behind the frames that
// arrived before it, so superseded frames are never converted or painted.
void showPendingLiveFrame(MainWindow &w)
{
    // More than kLiveFramesPerSecond would cost the window's thread a pixmap
    // conversion per camera frame that nobody could tell from the next.
    constexpr qint64 kMinimumIntervalMs = 1000 / kLiveFramesPerSecond;
    if (w.m_lastLivePaint.isValid() && w.m_lastLivePaint.elapsed() < kMinimumIntervalMs) {
        w.m_liveRepaintTimer.start(int(kMinimumIntervalMs - w.m_lastLivePaint.elapsed()));
        return;
    }
    QImage image;
    bool hidden = false;
    {
        QMutexLocker lock(&w.m_liveFrameMutex);
        w.m_liveRepaintPending = false;
        // A hidden live view keeps only the newest frame and paints it when
        // it is shown again: nobody can tell, and a 4096-pixel frame costs
        // milliseconds to turn into a pixmap.
        hidden = w.ui->gv->isHidden();
        if (hidden) {
            image = w.m_pendingLiveFrame;
        } else {
            image = std::move(w.m_pendingLiveFrame);
            w.m_pendingLiveFrame = QImage();
            w.m_liveFrameWanted.store(true);
        }
    }
    if (hidden) {
        // The profile and the histogram follow the camera all the same.
        if (w.m_isGrabbing && w.m_isOpen && !image.isNull())
            w.m_setupTools->liveFrameShown(image);
        return;
    }
    if (!w.m_isGrabbing || !w.m_isOpen || image.isNull() || !w.m_liveScene || !w.m_livePixmapItem)
        return;
    w.m_lastLivePaint.start();
    const QPixmap pixmap = QPixmap::fromImage(image);
    if (pixmap.isNull())
        return;
    w.m_livePixmapItem->setPixmap(pixmap);
    w.m_setupTools->liveFrameShown(image);
    w.m_liveScene->setSceneRect(pixmap.rect());
    if (w.m_gvRotationAngle != 0) {
        w.applyLiveRotation();
    } else if (!s_firstLiveFrameFitted) {
        s_firstLiveFrameFitted = true;
        w.ui->gv->fitInView(w.m_livePixmapItem, Qt::KeepAspectRatio);
    }
}

// Keeps `image` as the live frame to paint next, in place of any frame not
// yet painted, and posts one repaint unless one is on its way. Any thread.
void keepLiveFrame(MainWindow &w, QImage image)
{
    {
        QMutexLocker lock(&w.m_liveFrameMutex);
        w.m_pendingLiveFrame = std::move(image);
        if (w.m_liveRepaintPending)
            return;
        w.m_liveRepaintPending = true;
        w.m_liveFrameWanted.store(false);
    }
    QMetaObject::invokeMethod(
        &w, [&w] { showPendingLiveFrame(w); }, Qt::QueuedConnection);
}

} // namespace

/*
 * Shows the newest grabbed frame in the live view, turned as the live rotation
 * says. Frames that arrive faster than the window paints are coalesced: the
 * frame is kept as pending and one queued repaint shows whichever frame is
 * newest when it runs. Ignored unless a camera is open and grabbing.
 * Any thread: the grab thread calls it directly, so that a window held up
 * holds one frame for the live view, not a queue of them.
 */
void MainWindow::onFrameGrabbed(QImage image)
{
    if (QThread::currentThread() != thread()) {
        if (!image.isNull())
            keepLiveFrame(*this, std::move(image));
        return;
    }
    if (!m_isGrabbing || !m_isOpen || image.isNull() || !m_liveScene || !m_livePixmapItem)
        return;
    keepLiveFrame(*this, std::move(image));
}

/*
 * Collects a grabbed frame into the open batch, as it was grabbed: the turn
 * for the stitch direction waits for the preview and the encoder, which copy
 * the frame anyway. The frame's size, turned, is compared with the camera's
 * full frame size: a complete frame is appended and closes the batch when it
 * is full; an incomplete frame (an object ended) closes the batch, appended
 * first when the partial-frame rule is on. Until the camera's size is known
 * every frame counts as complete. Only `changedFrame` is collected;
 * `prevFrame` must merely be non-null. The budget is charged what the image
 * holds (a gray frame a third of an RGB one).
 * GUI thread; ignored unless grabbing, open and stitching.
 */
void MainWindow::onChangeDetected(QImage changedFrame, QImage prevFrame, qlonglong, qlonglong)
{
    // The grab thread took room in the budget for this frame; from here on it
    // is the window's to keep (in the batch) or to give back.
    const qint64 bytes = frameImageBytes(changedFrame.width(), changedFrame.height(), changedFrame.depth());
    m_frameBudget->dequeued(bytes);
    if (m_shuttingDown || !m_isGrabbing || !m_isOpen || !m_stitchActive || changedFrame.isNull()
        || prevFrame.isNull()) {
        m_frameBudget->release(bytes);
        return;
    }
    const QImage &frame = changedFrame;
    // Like an incomplete frame, a frame of another kind ends the open batch;
    // unlike one, it cannot join the batch it ends and opens the next.
    if (!m_batchFrames.isEmpty() && !sameFrameKind(frame, m_batchFrames.first()))
        closeBatch(*this);
    if (!m_expectedFrameSizeKnown)
        readExpectedFrameSize(*this);
    const QSize turned = turnedSize(frame.size(), turnAngleForDirection(m_stitchDirection));
    if (!m_expectedFrameSizeKnown || turned == QSize(m_expectedFrameWidth, m_expectedFrameHeight)) {
        appendAndCheckFull(*this, frame, bytes);
        return;
    }
    if (m_partialStitch) {
        appendAndCheckFull(*this, frame, bytes);
        if (m_batchFrames.isEmpty())
            return; // the frame closed the batch (a batch count of 1, or no room)
    } else {
        m_frameBudget->release(bytes);
    }
    closeBatch(*this);
}

void MainWindow::showPendingLiveFrameNow()
{
    showPendingLiveFrame(*this);
}

/*
 * Shows the picture the preview maker composed of batch `number`, unless a
 * newer batch is on screen already or the view was cleared since it closed;
 * either way the maker no longer holds the batch's frames. A null picture
 * leaves the view as it was. GUI thread.
 */
void MainWindow::showComposedPreview(int number, const ComposedPreview &preview)
{
    m_batchLedger->previewDone(number);
    if (number > m_previewShown && number > m_previewsClearedThrough && !preview.picture.isNull()
        && m_stitchScene) {
        m_previewShown = number;
        m_stitchScene->clear();
        QGraphicsPixmapItem *item = m_stitchScene->addPixmap(QPixmap::fromImage(preview.picture));
        item->setPos(preview.topLeft);
        if (preview.picture.size() != preview.fullSize)
            item->setTransform(
                QTransform::fromScale(double(preview.fullSize.width()) / preview.picture.width(),
                                      double(preview.fullSize.height()) / preview.picture.height()));
        m_stitchScene->setSceneRect(m_stitchScene->itemsBoundingRect().adjusted(-20, -20, 20, 20));
        m_setupTools->batchPictureShown(number, preview);
        fitStitchView();
        scrollToNewestFrame(*this);
    }
    relieveFrameBudget();
}

/*
 * The grab thread reports a hole in the stream (frames dropped for lack of
 * room, lost by the camera or the transport, or not convertible): the open
 * batch closes before it, so that no stitched file joins frames that were not
 * adjacent, and the next batch starts with the next kept frame. GUI thread.
 */
void MainWindow::breakOpenBatch()
{
    showDroppedFrames();
    if (m_shuttingDown || !m_isGrabbing || !m_isOpen || !m_stitchActive)
        return;
    closeBatch(*this);
    relieveFrameBudget();
}

/*
 * Under overload the last shown batch, kept for Save Image, may be all that
 * fills the budget; with nothing open, queued or being written, no event would
 * ever free room again. The view then lets go of its frames (the picture stays
 * on screen) and intake resumes. GUI thread.
 */
void MainWindow::relieveFrameBudget()
{
    if (!m_batchLedger->shownBatchBlocksIntake(m_batchFrames.size()))
        return;
    qWarning() << "The frame budget is full with the last shown batch alone; its frames are given up";
    m_lastBatchFrames.clear();
    m_batchLedger->shownBatchCleared();
}

/*
 * A frame was lost or dropped: the banner shows at once rather than at the
 * next refresh of the health line. GUI thread.
 */
void MainWindow::showDroppedFrames()
{
    if (m_setupTools)
        m_setupTools->lossSeen();
}

qint64 MainWindow::droppedFrames() const
{
    return m_frameBudget->dropped();
}

/*
 * A run ends (Stop, Close while grabbing): when saving is on, the open batch
 * is closed as a shorter batch, numbered as the next, so that the end of a
 * scan reaches a file. With saving off it stays open, and the caller drops it
 * or the next start does. GUI thread.
 */
void MainWindow::saveOpenBatchAtRunEnd()
{
    if (m_shuttingDown || !m_saveStitchImage || m_batchFrames.isEmpty())
        return;
    closeBatch(*this);
    relieveFrameBudget();
}

/*
 * Starts collecting frames: switches the grab thread's stitch feed on and
 * swaps the enabled state of the two stitch actions. The open batch is left
 * as it is. Calls queued to the window before the feed was on are delivered
 * first, so this may run other slots. Idempotent. GUI thread.
 */
void MainWindow::on_actionStitchStart_triggered()
{
    if (!m_stitchActive) {
        // Frames the grab thread posted before the feed is switched on belong
        // to an earlier run (a quick Stop and Start, or Close, Open and Start):
        // delivered now, while the session is off, they are dropped instead of
        // joining the new batch out of order.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    m_stitchActive = true;
    if (m_workThread)
        m_workThread->setReportChanges(true);
    ui->actionStitchStart->setEnabled(false);
    ui->actionStitchStop->setEnabled(true);
}

/*
 * Stops collecting frames: switches the stitch feed off and swaps the enabled
 * state of the two stitch actions. The open batch is neither shown nor saved.
 * Idempotent. GUI thread.
 */
void MainWindow::on_actionStitchStop_triggered()
{
    m_stitchActive = false;
    if (m_workThread)
        m_workThread->setReportChanges(false);
    ui->actionStitchStart->setEnabled(true);
    ui->actionStitchStop->setEnabled(false);
}

/*
 * Empties the stitch view, the open batch and the last shown batch, and
 * forgets the camera's frame size. The session and the batch numbering go on.
 * GUI thread.
 */
void MainWindow::on_actionClearImages_triggered()
{
    if (m_stitchScene)
        m_stitchScene->clear();
    // Pictures of batches closed so far, still on their way, are not shown.
    m_previewsClearedThrough = m_batchCounter;
    if (m_previewMaker) {
        if (const int dropped = m_previewMaker->cancel())
            m_batchLedger->previewDone(dropped);
    }
    discardOpenBatch(*this);
    m_lastBatchFrames.clear();
    m_batchLedger->shownBatchCleared();
    m_expectedFrameSizeKnown = false;
}

/*
 * Takes a new stitch direction (the settings dialog has stored it already). A
 * different direction discards the open batch, whose frames are laid out and
 * turned for the old one, and forgets the frame size; the same direction changes nothing.
 * Values outside 0..3 are stored as given and handled like Bottom.
 * GUI thread.
 */
void MainWindow::setStitchDirection(int direction)
{
    if (direction == m_stitchDirection)
        return;
    m_stitchDirection = direction;
    discardOpenBatch(*this);
    m_expectedFrameSizeKnown = false;
}

/*
 * Sets the frames per batch (raised to 1 when lower) and writes it to the
 * settings file at once. A batch that already holds that many frames closes
 * now. GUI thread.
 */
void MainWindow::setMaxStitchCount(int count)
{
    m_maxStitchCount = qMax(1, count);
    AppSettings::setValue(AppSettings::kMaxStitchCount, m_maxStitchCount);
    if (m_batchFrames.size() >= m_maxStitchCount)
        closeBatch(*this);
}

/*
 * Shows or hides the live view; the stitch view takes its room. Hidden, it
 * keeps the newest frame and shows it as soon as it is visible again.
 * GUI thread.
 */
void MainWindow::setLiveViewVisible(bool visible)
{
    ui->gv->setVisible(visible);
    if (!visible)
        return;
    QImage pending;
    {
        QMutexLocker lock(&m_liveFrameMutex);
        if (m_liveRepaintPending)
            return;
        pending = m_pendingLiveFrame;
    }
    if (!pending.isNull())
        keepLiveFrame(*this, std::move(pending));
}

/*
 * Accepts the notification of a saved image; nothing sends it.
 */
void MainWindow::onImageSavedWithIndex(int, QImage, QString) { }
