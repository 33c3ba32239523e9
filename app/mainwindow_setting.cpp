// The settings dialog's entry point and the snapshot of the latest raw frame.
#include "acquisitionsession.h"
#include "mainwindow.h"

#include <QMessageBox>
#include <QMutexLocker>

#include <cerrno>
#include <new>
#include <vector>

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
    settingdialog dialog(this, this);
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

/*
 * Writes the latest raw frame to `path` through the camera library as
 * `imageType` (MV_Image_Bmp, _Jpeg, _Png or _Tif) with `quality` (JPEG 55..99,
 * PNG 0..9, clamped). Returns the library's status, 0 on success;
 * MV_E_NODATA without a frame, MV_E_SUPPORT for a vendor-specific pixel type,
 * MV_E_PARAMETER for a path of 256 bytes or more in the local encoding.
 * savedPath, when given, receives the path the library wrote (a taken name
 * gets a numbered one); systemError the system's errno behind
 * MV_E_WRITEFILE, else 0. The frame is copied under m_frameMutex and written
 * without it: the grab thread takes that lock with every frame and must not
 * wait for the disk. GUI thread.
 */
int MainWindow::saveCurrentFrame(const QString &path, int imageType, int quality, QString *savedPath,
                                 int *systemError)
{
    if (systemError)
        *systemError = 0;
    std::vector<unsigned char> frame;
    MV_FRAME_OUT_INFO_EX info{};
    if (!m_camera->copyLatestFrame(frame, info) && m_lastFrameBuffer)
        return int(MV_E_RESOURCE);
    MV_SAVE_IMG_TO_FILE_PARAM param{};
    const int status = SettingRules::prepareSnapshotParam(info, frame.empty() ? nullptr : frame.data(),
                                                          unsigned(frame.size()), path.toLocal8Bit(),
                                                          imageType, quality, &param);
    if (status != MV_OK)
        return status;
    const int saved = m_camera->saveImage(param);
    if (saved == int(MV_E_WRITEFILE) && systemError)
        *systemError = errno;
    if (saved == MV_OK && savedPath)
        *savedPath = QString::fromLocal8Bit(param.pImagePath);
    return saved;
}
