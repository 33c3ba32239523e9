#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "acquisitionsession.h"
#include "savefailurenotifier.h"
#include "stitchworker.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStatusBar>
#include <QThread>

#include <algorithm>

/*
 * Posts one batch to the stitch worker through the session, with the options
 * as they are now (see AcquisitionSession::handOffBatch). GUI thread.
 */
void MainWindow::handOffBatch(const QList<QImage> &frames, int batchNumber, int turnAngle)
{
    m_session->handOffBatch(frames, batchNumber, turnAngle);
}

/*
 * The Save Image action: saves the last shown batch once more, turned as it
 * was collected, with batch number 0 and the settings of the moment, whether or not automatic saving
 * is on. Warns when there is no worker or no batch. GUI thread.
 */
void MainWindow::on_actionSave_Image_triggered()
{
    if (!m_session->worker() || !m_session->stitchThread()) {
        QMessageBox::critical(this, QStringLiteral("Save Image"),
                              QStringLiteral("StitchWorker is not initialized!"), QMessageBox::Ok);
        return;
    }
    if (m_session->shownBatch().isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Save Image"),
                             QStringLiteral("No completed stitched image to save!"), QMessageBox::Ok);
        return;
    }
    handOffBatch(m_session->shownBatch(), 0, m_session->shownBatchTurnAngle());
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
    if (ui && ui->statusBar)
        ui->statusBar->clearMessage();
    if (m_session->isFinishingSaves()) {
        qWarning("Save Image: %s", qUtf8Printable(err));
        return;
    }
    m_saveFailures->report(err);
}

/*
 * Lets every job already posted to the worker run to its end, showing a
 * progress dialog with the number of batches left, then ends the stitch
 * thread. Dropping queued batches or destroying a running thread would lose
 * files, so shutdown waits for the slowest save. Called once, by the
 * destructor, after the event loop has ended and the grab thread has stopped
 * (so no new batch arrives). GUI thread.
 */
void MainWindow::finishStitchJobs()
{
    m_session->finishHandedOffBatches();
    m_stopProgress.reset();
}

/* The dialog of the batches left, shown from the first report with any left. GUI thread. */
void MainWindow::showStopProgress(int left, int total)
{
    if (left == 0 && !m_stopProgress)
        return;
    if (!m_stopProgress) {
        m_stopProgress = std::make_unique<QProgressDialog>();
        m_stopProgress->setWindowTitle(QStringLiteral("Corvista"));
        m_stopProgress->setCancelButton(nullptr);
        m_stopProgress->setAutoClose(false);
        m_stopProgress->setAutoReset(false);
        m_stopProgress->setMinimumDuration(0);
    }
    m_stopProgress->setRange(0, total);
    m_stopProgress->setLabelText(
        QStringLiteral("Saving stitched images… %1 of %2 batches left").arg(left).arg(total));
    m_stopProgress->setValue(total - left);
}
