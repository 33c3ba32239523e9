// The settings dialog's entry point and the snapshot of the latest raw frame.
#include "acquisitionsession.h"
#include "mainwindow.h"

#include <QMessageBox>

#include "settingdialog.h"
#include "setuptools.h"
#include "stitchworker.h"
#include "workthread.h"

/*
 * Opens the settings dialog modally for the open camera; without one, only a
 * warning is shown. The dialog and its connections to this window live for
 * this call only. GUI thread.
 */
void MainWindow::on_actionSetting_triggered()
{
    if (!m_isOpen) {
        QMessageBox::warning(this, tr("setting"), tr("please open camera"), QMessageBox::Ok);
        return;
    }
    settingdialog dialog(m_camera.get(), m_session->options(), m_flatField, this);
    connect(&dialog, &settingdialog::stitchDirectionChosen, this, &MainWindow::setStitchDirection);
    connect(&dialog, &settingdialog::maxStitchCountChosen, this, &MainWindow::setMaxStitchCount);
    connect(&dialog, &settingdialog::sigSaveDirChanged, this, &MainWindow::onSaveDirChanged);
    connect(&dialog, &settingdialog::imageFormatChanged, this, &MainWindow::onImageFormatChanged);
    connect(&dialog, &settingdialog::showLiveViewChanged, this, &MainWindow::setLiveViewVisible);
    connect(&dialog, &settingdialog::keepCameraPixelsChanged, this, &MainWindow::keepCameraPixels);
    dialog.exec();
    m_setupTools->cameraSettingsChanged();
}

/*
 * Whether stitched files keep the camera's pixels. The grab thread decides
 * what each frame travels as from its next frame on; a batch that then holds
 * frames of two kinds is closed before the first of the new kind. The worker
 * needs it only for the file-list stitch, whose files carry no kind of their
 * own. GUI thread.
 */
void MainWindow::keepCameraPixels(bool on)
{
    m_workThread->setKeepCameraPixels(on);
    m_session->worker()->setKeepCameraPixels(on);
}

/* The Camera's snapshot of its latest raw frame; see Camera::saveSnapshot. GUI thread. */
int MainWindow::saveCurrentFrame(const QString &path, int imageType, int quality, QString *savedPath,
                                 int *systemError)
{
    return m_camera->saveSnapshot(path, imageType, quality, savedPath, systemError);
}
