// Device search, opening and closing, and the Start/Stop of grabbing.
#include "mainwindow.h"

#include <QComboBox>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QMessageBox>
#include <QMutexLocker>
#include <QStatusBar>

#include <algorithm>
#include <cstring>

#include "acquisitionsession.h"
#include "appsettings.h"
#include "deviceentry.h"
#include "flatfieldcorrector.h"
#include "framestatistics.h"
#include "pixelformatname.h"
#include "setuptools.h"
#include "storedcamerasettings.h"
#include "ui_mainwindow.h"
#include "workthread.h"

namespace {

// The Open and Start buttons show the camera's state, whatever the click
// left them at: a refused open, a camera that vanished or a Close elsewhere
// would otherwise leave a button showing the opposite, and the next click
// would then act twice. setChecked does not trigger the actions again.
void showCameraState(Ui::MainWindow *ui, bool open, bool grabbing)
{
    ui->actionCameraOpen->setChecked(open);
    ui->actionCameraStart->setChecked(grabbing);
}

} // namespace

/*
 * Lists the GigE and USB3 cameras the library finds in cbSearchDevices, each
 * entry carrying its record index as item data, and makes the first current.
 * A failed enumeration shows a critical "No device!", an empty result an
 * information "No device!". An open camera is left alone. GUI thread.
 */
void MainWindow::on_actionCameraSearch_triggered()
{
    ui->cbSearchDevices->clear();
    m_deviceListValid = false;
    m_deviceIndex = -1;
    if (!Camera::enumerate(m_deviceList)) {
        QMessageBox::critical(this, QStringLiteral("device"), QStringLiteral("No device!"));
        return;
    }
    for (unsigned int i = 0; i < m_deviceList.nDeviceNum; ++i) {
        const QString text = deviceEntryText(int(i), m_deviceList.pDeviceInfo[i]);
        if (!text.isNull())
            ui->cbSearchDevices->addItem(text, int(i));
    }
    if (ui->cbSearchDevices->count() == 0) {
        QMessageBox::information(this, QStringLiteral("device"), QStringLiteral("No device!"));
        return;
    }
    ui->cbSearchDevices->setCurrentIndex(0);
    m_deviceListValid = true;
}

/*
 * Remembers the record index of the chosen entry; -1 when the entry carries
 * none (the box was cleared). GUI thread.
 */
void MainWindow::on_cbSearchDevices_currentIndexChanged(int index)
{
    bool ok = false;
    const int deviceIndex = ui->cbSearchDevices->itemData(index).toInt(&ok);
    m_deviceIndex = ok ? deviceIndex : -1;
}

/*
 * Opens the chosen camera exclusively, remembers its model name and serial
 * number for file names and writes the camera settings stored by the last run
 * to it (naming in the status bar each one it refuses). Does nothing while a
 * camera is open. Each failure shows its box titled "Device" and leaves no
 * handle behind; the two packet-size warnings of a GigE camera leave the
 * camera open. GUI thread.
 */
void MainWindow::on_actionCameraOpen_triggered()
{
    if (m_isOpen || m_handle)
        return;
    const QString title = QStringLiteral("Device");
    if (!m_deviceListValid || m_deviceList.nDeviceNum == 0) {
        QMessageBox::warning(this, title, QStringLiteral("Please choose camera!"));
        return;
    }
    if (m_deviceIndex < 0 || unsigned(m_deviceIndex) >= m_deviceList.nDeviceNum
        || m_deviceIndex >= MV_MAX_DEVICE_NUM) {
        QMessageBox::critical(this, title, QStringLiteral("Device index is error!"));
        return;
    }
    const MV_CC_DEVICE_INFO *record = m_deviceList.pDeviceInfo[m_deviceIndex];
    if (!record) {
        QMessageBox::critical(this, title, QStringLiteral("Device does not exist!"));
        return;
    }
    QString packetWarning;
    switch (m_camera->open(*record, &packetWarning)) {
    case Camera::OpenResult::CreateFailed:
        QMessageBox::critical(this, title, QStringLiteral("Create handle error!"));
        return;
    case Camera::OpenResult::OpenFailed:
        QMessageBox::critical(this, title, QStringLiteral("Device Open error!"));
        return;
    case Camera::OpenResult::AlreadyOpen:
        return;
    case Camera::OpenResult::Opened:
        break;
    }
    if (!packetWarning.isEmpty())
        QMessageBox::critical(this, title, packetWarning);
    m_isOpen = true;
    showCameraState(ui, m_isOpen, m_isGrabbing);
    m_cameraModelName = m_camera->modelName();
    m_cameraSerialNumber = m_camera->serialNumber();
    m_flatField->openCamera(m_handle, m_cameraModelName, m_cameraSerialNumber, AppSettings::settingsFolder());
    // After the flat-field's report: what the camera refused matters more.
    const QStringList refused = applyStoredCameraSettings(*m_camera);
    if (!refused.isEmpty())
        statusBar()->showMessage(
            QStringLiteral("The camera refused stored settings: %1").arg(refused.join(QStringLiteral("; "))));
}

/*
 * Closes whatever is open: ends the stitch session and the grab thread (a
 * run's open batch is saved as at Stop), drops the latest raw frame, releases
 * the camera and blanks the live view. Makes no library call when nothing is
 * open; reports nothing. GUI thread.
 */
void MainWindow::on_actionCameraClose_triggered()
{
    on_actionStitchStop_triggered();
    stopGrabThread();
    if (m_isGrabbing)
        m_session->saveOpenBatchAtRunEnd();
    m_camera->forgetLatestFrame();
    m_camera->close();
    m_flatField->closeCamera();
    m_isOpen = false;
    m_isGrabbing = false;
    showCameraState(ui, m_isOpen, m_isGrabbing);
    if (m_livePixmapItem)
        m_livePixmapItem->setPixmap(QPixmap());
}

/*
 * Second slot of the checkable Open action: unchecked closes. Checked needs
 * nothing more, the first slot has just tried to open (and said why it could
 * not). The button then shows whether a camera is open. GUI thread.
 */
void MainWindow::on_actionCameraOpen_triggered(bool checked)
{
    if (!checked)
        on_actionCameraClose_triggered();
    showCameraState(ui, m_isOpen, m_isGrabbing);
}

/*
 * Starts grabbing on the open camera and with it a stitch session that begins
 * with an empty batch. Does nothing unless a camera is open and not grabbing.
 * When the library refuses to start, the grab thread is ended again and
 * nothing is reported. GUI thread.
 */
void MainWindow::on_actionCameraStart_triggered()
{
    if (!m_isOpen || m_isGrabbing || !m_handle || m_session->isShutDown())
        return;
    m_session->startRun();
    showDroppedFrames();
    {
        QMutexLocker frameLock(&m_frameMutex);
        std::memset(&m_lastFrameInfo, 0, sizeof m_lastFrameInfo);
    }
    // One connection per run. A camera that vanishes ends the loop; the run is
    // then stopped like the Stop action does, and the operator is told, since
    // nothing else would show why frames no longer come. The camera stays open
    // so that Close releases it.
    disconnect(m_workThread, &WorkThread::cameraLost, this, nullptr);
    connect(m_workThread, &WorkThread::cameraLost, this, [this] {
        if (m_isGrabbing)
            on_actionCameraStop_triggered();
        statusBar()->showMessage(QStringLiteral("Camera disconnected"));
        QMessageBox::warning(this, QStringLiteral("Device"), QStringLiteral("Camera disconnected!"));
    });
    disconnect(m_workThread, &WorkThread::pixelFormatUnsupported, this, nullptr);
    connect(m_workThread, &WorkThread::pixelFormatUnsupported, this,
            [this](uint pixelType) { statusBar()->showMessage(unsupportedPixelFormatText(pixelType)); });
    m_setupTools->runStarted();
    m_workThread->setRunning(true);
    m_workThread->start();
    if (m_camera->startGrabbing()) {
        m_isGrabbing = true;
        on_actionStitchStart_triggered();
    } else {
        stopGrabThread();
    }
    showCameraState(ui, m_isOpen, m_isGrabbing);
}

/*
 * Stops grabbing: ends the stitch session, stops the camera, waits for the
 * grab thread to end and saves the unfinished batch as a shorter one (saving
 * on) or discards it, all under m_cameraMutex. The loop leaves within
 * milliseconds because stopping the camera wakes its waiting fetch. GUI thread.
 */
void MainWindow::on_actionCameraStop_triggered()
{
    QMutexLocker cameraLock(&m_cameraMutex);
    on_actionStitchStop_triggered();
    // Cleared before the camera stops, so the woken loop leaves instead of fetching again.
    m_workThread->setRunning(false);
    if (m_isOpen && m_isGrabbing)
        m_camera->stopGrabbing();
    m_workThread->wait();
    const bool wasGrabbing = m_isGrabbing;
    m_isGrabbing = false;
    // The camera's counters once the stream has stopped: the last frames it lost are in them.
    int lost = -1, received = -1;
    if (wasGrabbing)
        m_camera->streamCounters(lost, received);
    m_setupTools->runEnded(received, lost);
    m_session->saveOpenBatchAtRunEnd();
    m_session->discardOpenBatch();
    showCameraState(ui, m_isOpen, m_isGrabbing);
}

/*
 * Second slot of the checkable Start action: checked clears the images and
 * starts (without a camera it only says so), unchecked stops. The button then
 * shows whether the camera grabs. GUI thread.
 */
void MainWindow::on_actionCameraStart_triggered(bool checked)
{
    if (checked && !m_isOpen) {
        // Clearing first would lose the picture on screen for nothing.
        QMessageBox::warning(this, QStringLiteral("Start"), QStringLiteral("Please open a camera first!"),
                             QMessageBox::Ok);
        showCameraState(ui, m_isOpen, m_isGrabbing);
        return;
    }
    if (checked) {
        on_actionClearImages_triggered();
        on_actionCameraStart_triggered();
    } else {
        on_actionCameraStop_triggered();
    }
    showCameraState(ui, m_isOpen, m_isGrabbing);
}

/* Writes the statistics of the latest frame into the status label. GUI thread. */
void MainWindow::onFrameInfoUpdated(uint framecount, int width, int height, qlonglong timestamp,
                                    qlonglong interval, int lostFrames, int totalFrames, double grabTimeMs)
{
    Q_UNUSED(totalFrames)
    const qint64 dropped = m_session->dropped();
    ui->dataitemLabel->setText(
        frameStatisticsText(framecount, width, height, timestamp, interval, grabTimeMs, lostFrames)
        + droppedFramesSuffix(dropped) + flatFieldStatusSuffix(m_flatField->lastFrameCorrected()));
    if (dropped > 0 || lostFrames > 0)
        showDroppedFrames();
}

/*
 * Ends the grab loop cooperatively: clears its running flag and stops the
 * camera, which wakes a fetch that waits for a frame, then waits for the
 * thread without limit (it ends within milliseconds). Leaves m_isGrabbing
 * alone. Never terminates the thread. GUI thread.
 */
void MainWindow::stopGrabThread()
{
    if (!m_workThread)
        return;
    m_workThread->setRunning(false);
    if (!m_workThread->isRunning())
        return;
    m_camera->stopGrabbing();
    m_workThread->wait();
}
