// The stitch session: frames from the grab thread become batches, each closed
// batch is shown in the stitch view and handed to the stitch worker; the live
// view shows the newest frame.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "acquisitionsession.h"
#include "appsettings.h"
#include "batchledger.h"
#include "framestatistics.h"
#include "frameturn.h"
#include "preview.h"
#include "previewmaker.h"
#include "setuptools.h"
#include "workthread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QScrollBar>
#include <QThread>

namespace {

// The first live frame of the program's run is fitted to the view; later ones
// keep whatever zoom the operator chose.
bool s_firstLiveFrameFitted = false;

void scrollToNewestFrame(MainWindow &w)
{
    const int d = effectiveStitchDirection(w.m_stitchDirection);
    const bool toEnd = d == StitchDirection::Left || d == StitchDirection::Bottom;
    for (QScrollBar *bar : {w.ui->gvStitch->horizontalScrollBar(), w.ui->gvStitch->verticalScrollBar()})
        bar->setValue(toEnd ? bar->maximum() : bar->minimum());
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
    // A hidden live view keeps only the newest frame and paints it when it
    // is shown again: nobody can tell, and a 4096-pixel frame costs
    // milliseconds to turn into a pixmap.
    const bool hidden = w.ui->gv->isHidden();
    const QImage image = w.session().takeLiveFrame(hidden);
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
            m_session->offerLiveFrame(std::move(image));
        return;
    }
    if (!m_isGrabbing || !m_isOpen || image.isNull() || !m_liveScene || !m_livePixmapItem)
        return;
    m_session->offerLiveFrame(std::move(image));
}

/*
 * Passes a frame fed for stitching to the session, which collects it into the
 * open batch (see AcquisitionSession::takeFrame). Only `changedFrame` is
 * collected; `prevFrame` must merely be non-null. GUI thread; the frame only
 * gives back its room unless a camera is open and grabbing.
 */
void MainWindow::onChangeDetected(QImage changedFrame, QImage prevFrame, qlonglong, qlonglong,
                                  uint frameNumber)
{
    if (!m_isGrabbing || !m_isOpen || prevFrame.isNull()) {
        m_session->refuseFrame(changedFrame);
        return;
    }
    m_session->takeFrame(changedFrame, frameNumber);
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
    m_session->ledger().previewDone(number);
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
    m_session->relieveFrameBudget();
}

/*
 * A closed batch: its picture is composed off the window's thread and shown
 * when ready; a picture still waiting for its turn is replaced. GUI thread.
 */
void MainWindow::previewClosedBatch(int number, const QList<QImage> &frames, int direction, int turnAngle)
{
    if (!m_previewMaker)
        return;
    if (const int replaced = m_previewMaker->request({number, frames, direction, turnAngle}))
        m_session->ledger().previewDone(replaced);
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
    if (!m_isGrabbing || !m_isOpen)
        return;
    m_session->breakOpenBatch();
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
    return m_session->dropped();
}

/*
 * Starts collecting frames: switches the grab thread's stitch feed on and
 * swaps the enabled state of the two stitch actions. The open batch is left
 * as it is. Calls queued to the window before the feed was on are delivered
 * first, so this may run other slots. Idempotent. GUI thread.
 */
void MainWindow::on_actionStitchStart_triggered()
{
    if (!m_session->isCollecting()) {
        // Frames the grab thread posted before the feed is switched on belong
        // to an earlier run (a quick Stop and Start, or Close, Open and Start):
        // delivered now, while the session is off, they are dropped instead of
        // joining the new batch out of order.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    m_session->setCollecting(true);
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
    m_session->setCollecting(false);
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
    m_previewsClearedThrough = m_session->batchCount();
    if (m_previewMaker) {
        if (const int dropped = m_previewMaker->cancel())
            m_session->ledger().previewDone(dropped);
    }
    m_session->discardOpenBatch();
    m_session->clearShownBatch();
    m_session->forgetFrameSize();
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
    m_session->setStitchDirection(direction);
}

/*
 * Sets the frames per batch (raised to 1 when lower) and writes it to the
 * settings file at once. A batch that already holds that many frames closes
 * now. GUI thread.
 */
void MainWindow::setMaxStitchCount(int count)
{
    m_session->setMaxStitchCount(count);
    AppSettings::setValue(AppSettings::kMaxStitchCount, m_maxStitchCount);
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
    m_session->offerWaitingLiveFrameAgain();
}

/*
 * Accepts the notification of a saved image; nothing sends it.
 */
void MainWindow::onImageSavedWithIndex(int, QImage, QString) { }
