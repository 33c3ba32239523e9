#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "batchledger.h"
#include "framebudget.h"
#include "naming.h"
#include "savefailurenotifier.h"
#include "stitchworker.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStatusBar>
#include <QThread>

#include <algorithm>

/*
 * Posts one batch to the stitch worker as a queued call of saveGrabbedImages
 * with the frames' turn (turnAngle: the frames are as grabbed and the worker
 * turns them while it encodes; 0 for frames already turned), the direction,
 * output folder, camera names, format and qualities as they are now; a later
 * change of settings does not reach the job. An empty list posts nothing.
 * batchNumber 0 gives file names without a batch part. Counts the job as
 * pending until its finished or failed arrives; the job holds the batch's
 * share of the frame budget until then.
 * GUI thread.
 */
void MainWindow::handOffBatch(const QList<QImage> &frames, int batchNumber, int turnAngle)
{
    if (frames.isEmpty())
        return;
    if (ui && ui->statusBar)
        ui->statusBar->showMessage(QStringLiteral("Saving stitched image (background)..."));

    const bool posted = QMetaObject::invokeMethod(
        m_stitchWorker, "saveGrabbedImages", Qt::QueuedConnection, Q_ARG(QList<QImage>, frames),
        Q_ARG(int, turnAngle), Q_ARG(int, m_stitchDirection), Q_ARG(QString, resolveOutputFolder(m_saveDir)),
        Q_ARG(QString, m_cameraModelName), Q_ARG(QString, m_cameraSerialNumber), Q_ARG(int, batchNumber),
        Q_ARG(QString, m_imageFormat), Q_ARG(int, m_jpgQuality), Q_ARG(int, m_pngQuality));
    if (posted) {
        ++m_pendingStitchJobs;
        m_batchLedger->jobPosted(
            batchNumber,
            stitchSaveBytes(frames, m_stitchDirection, m_imageFormat, kMaxStitchDimension, turnAngle));
    }
}

/*
 * The Save Image action: saves the last shown batch once more, turned as it
 * was collected, with batch number 0 and the settings of the moment, whether or not automatic saving
 * is on. Warns when there is no worker or no batch. GUI thread.
 */
void MainWindow::on_actionSave_Image_triggered()
{
    if (!m_stitchWorker || !m_stitchThread) {
        QMessageBox::critical(this, QStringLiteral("Save Image"),
                              QStringLiteral("StitchWorker is not initialized!"), QMessageBox::Ok);
        return;
    }
    if (m_lastBatchFrames.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Save Image"),
                             QStringLiteral("No completed stitched image to save!"), QMessageBox::Ok);
        return;
    }
    handOffBatch(m_lastBatchFrames, 0, m_lastBatchTurnAngle);
}

/*
 * Shows "Saving stitched image... current/total" in the status bar until the
 * next message. GUI thread (queued from the worker).
 */
void MainWindow::onStitchSaveProgress(int current, int total)
{
    if (ui && ui->statusBar)
        ui->statusBar->showMessage(QStringLiteral("Saving stitched image... %1/%2").arg(current).arg(total));
}

/*
 * Ends one job: shows "Save done." for three seconds. The file list is not
 * kept. GUI thread (queued from the worker).
 */
void MainWindow::onStitchSaveFinished(QStringList)
{
    m_pendingStitchJobs = std::max(0, m_pendingStitchJobs - 1);
    m_batchLedger->jobEnded();
    relieveFrameBudget();
    if (ui && ui->statusBar)
        ui->statusBar->showMessage(QStringLiteral("Save done."), 3000);
}

/*
 * Ends one job with an error: clears the status bar and shows the worker's
 * text in a critical box titled "Save Image"; while that box is open, later
 * failures are only counted (SaveFailureNotifier). While the window is finishing
 * its jobs at shutdown the text is logged instead, so that no modal box can
 * hold the exit. GUI thread (queued from the worker).
 */
void MainWindow::onStitchSaveFailed(QString err)
{
    m_pendingStitchJobs = std::max(0, m_pendingStitchJobs - 1);
    m_batchLedger->jobEnded();
    relieveFrameBudget();
    if (ui && ui->statusBar)
        ui->statusBar->clearMessage();
    if (m_finishingStitchJobs) {
        qWarning("Save Image: %s", qUtf8Printable(err));
        return;
    }
    m_saveFailures->report(err);
}

/*
 * Lets every job already posted to the worker run to its end, showing a
 * progress dialog with the number of batches left, then ends the stitch
 * thread and waits for it without a time limit; the worker is deleted in its
 * thread as that thread finishes. Dropping queued batches or destroying a
 * running thread would lose files, so shutdown waits for the slowest save.
 * Called once, by the destructor, after the event loop has ended and the
 * grab thread has stopped (so no new batch arrives). GUI thread.
 */
void MainWindow::finishStitchJobs()
{
    if (!m_stitchThread)
        return;
    m_finishingStitchJobs = true;

    if (m_pendingStitchJobs > 0 && m_stitchThread->isRunning()) {
        int total = m_pendingStitchJobs;
        QProgressDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Corvista"));
        dialog.setCancelButton(nullptr);
        dialog.setAutoClose(false);
        dialog.setAutoReset(false);
        dialog.setMinimumDuration(0);
        dialog.setRange(0, total);
        // The worker's finished/failed signals arrive as queued events; each
        // one wakes this loop and lowers the count.
        while (m_pendingStitchJobs > 0 && m_stitchThread->isRunning()) {
            // Nothing adds a job after the close; should anything, the count
            // must still read true.
            total = std::max(total, m_pendingStitchJobs);
            dialog.setMaximum(total);
            dialog.setLabelText(QStringLiteral("Saving stitched images… %1 of %2 batches left")
                                    .arg(m_pendingStitchJobs)
                                    .arg(total));
            dialog.setValue(total - m_pendingStitchJobs);
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    m_stitchThread->quit();
    m_stitchThread->wait();
    m_stitchWorker = nullptr;
}
