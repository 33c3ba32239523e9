#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "acquisitionhealth.h"
#include "acquisitionsession.h"
#include "appsettings.h"
#include "flatfieldcorrector.h"
#include "previewmaker.h"
#include "savefailurenotifier.h"
#include "setuptools.h"
#include "stitchworker.h"
#include "workthread.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QGraphicsScene>
#include <QIcon>
#include <QLabel>
#include <QMetaType>
#include <QProgressDialog>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <cstring>

namespace {

// At most ten pictures a second: faster than anyone can look at a stitched
// batch, and a burst of one-frame batches costs no more than that.
constexpr std::chrono::milliseconds kPreviewInterval(100);

} // namespace

/*
 * Builds the whole window: form, grab thread object (not started), about box,
 * both views, settings, the wiring to the grab thread and to the stitch worker,
 * and starts the stitch thread. A device search follows one second later.
 * The order matters: the views must exist before the settings apply the live
 * view's visibility, and the worker's signals are connected before its thread
 * starts. GUI thread; parent is ignored by the program (always null).
 */
MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), m_session(std::make_unique<AcquisitionSession>()),
      m_camera(std::make_unique<Camera>()), m_handle(m_camera->handleSlot()),
      m_deviceInfo(m_camera->deviceInfoSlot()), m_lastFrameBuffer(m_camera->latestFrameSlot()),
      m_lastFrameBufferSize(m_camera->latestFrameSizeSlot()),
      m_lastFrameInfo(m_camera->latestFrameInfoSlot()), m_frameMutex(m_camera->frameMutex()),
      m_cameraMutex(m_camera->callMutex()), m_saveDir(m_session->options().saveDir),
      m_imageFormat(m_session->options().imageFormat), m_jpgQuality(m_session->options().jpgQuality),
      m_pngQuality(m_session->options().pngQuality), m_maxStitchCount(m_session->options().maxStitchCount),
      m_stitchDirection(m_session->options().stitchDirection),
      m_partialStitch(m_session->options().partialStitch),
      m_saveStitchImage(m_session->options().saveStitchImage),
      m_cameraModelName(m_session->options().cameraModelName),
      m_cameraSerialNumber(m_session->options().cameraSerialNumber)
{
    m_health = std::make_unique<AcquisitionHealth>();
    m_workThread = new WorkThread(*m_camera, &m_session->budget());
    m_workThread->setHealth(m_health.get());
    m_workThread->setLiveFrameWanted(m_session->liveFrameWanted());
    m_previewMaker = std::make_unique<PreviewMaker>(kPreviewPixelBudget, kPreviewInterval);
    connect(m_previewMaker.get(), &PreviewMaker::composed, this,
            [this](int number, const ComposedPreview &preview) { showComposedPreview(number, preview); });
    m_session->setShowsClosedBatches(true);
    m_session->setFrameSizeSource([this] { return m_isOpen ? m_camera->frameSize() : QSize(); });
    connect(m_session.get(), &AcquisitionSession::batchClosed, this, &MainWindow::previewClosedBatch);

    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/res/app.ico")));
    m_saveFailures = new SaveFailureNotifier(this, ui->statusBar);
    m_flatField = new FlatFieldCorrector(this);
    m_workThread->setFlatField(m_flatField);
    connect(m_flatField, &FlatFieldCorrector::report, ui->statusBar,
            [this](const QString &text) { ui->statusBar->showMessage(text); });

    m_aboutDialog = new AboutDialog(this);
    m_aboutDialog->hide();

    setWindowTitle(QStringLiteral("Corvista"));

    ui->actionStitchStart->setEnabled(true);
    ui->actionStitchStop->setEnabled(false);

    std::memset(&m_deviceList, 0, sizeof m_deviceList);

    setupLiveView();
    m_liveRepaintTimer.setSingleShot(true);
    connect(&m_liveRepaintTimer, &QTimer::timeout, this, [this] { showPendingLiveFrameNow(); });
    // Always queued: the frame is painted behind the frames queued before it.
    connect(
        m_session.get(), &AcquisitionSession::liveFrameReady, this, [this] { showPendingLiveFrameNow(); },
        Qt::QueuedConnection);

    m_workThread->setRunning(false);

    setupStitchView();
    m_autoFitStitch = true;
    m_setupTools = new SetupTools(*this, *m_health);

    loadSettings();

    // A click into the stitch view gives it the keyboard focus.
    setFocusPolicy(Qt::StrongFocus);
    ui->gvStitch->setFocusPolicy(Qt::StrongFocus);
    ui->gvStitch->viewport()->setFocusPolicy(Qt::StrongFocus);

    // The grab thread emits from its own thread: these arrive queued.
    connect(m_workThread, &WorkThread::frameInfoUpdated, this, &MainWindow::onFrameInfoUpdated);
    // Direct: the live frame waits in one slot for the window to paint it,
    // never as a queue of frames behind a busy window.
    connect(m_workThread, &WorkThread::frameGrabbed, this, &MainWindow::onFrameGrabbed, Qt::DirectConnection);
    connect(m_workThread, &WorkThread::changeDetected, this, &MainWindow::onChangeDetected);
    connect(m_workThread, &WorkThread::sequenceBroken, this, [this] { breakOpenBatch(); });

    connect(m_session.get(), &AcquisitionSession::batchHandedOff, this, [this] {
        if (ui && ui->statusBar)
            ui->statusBar->showMessage(QStringLiteral("Saving stitched image (background)..."));
    });
    connect(m_session.get(), &AcquisitionSession::saveProgress, this, &MainWindow::onStitchSaveProgress);
    connect(m_session.get(), &AcquisitionSession::batchSaved, this,
            [this](const QStringList &files) { onStitchSaveFinished(files); });
    connect(m_session.get(), &AcquisitionSession::saveFailed, this, &MainWindow::onStitchSaveFailed);
    connect(m_session.get(), &AcquisitionSession::stopProgress, this, &MainWindow::showStopProgress);
    keepCameraPixels(
        AppSettings::boolValue(AppSettings::kKeepCameraPixels, AppSettings::kDefaultKeepCameraPixels));

    // The first search, unless the operator was quicker: searching again
    // would empty the list under a camera already chosen or open.
    QTimer::singleShot(1000, this, [this] {
        if (!m_isOpen && !m_deviceListValid)
            on_actionCameraSearch_triggered();
    });
}

/*
 * Stops everything cooperatively, after the event loop has ended: the grab
 * loop first (it reads m_handle), then the camera, then the live scene, then
 * the stitch thread once its queued saves are done. GUI thread.
 */
MainWindow::~MainWindow()
{
    stopCaptureForShutdown();
    // No picture is shown from here on.
    m_session->setShowsClosedBatches(false);
    m_previewMaker.reset();
    delete m_setupTools;
    m_setupTools = nullptr;

    m_camera->close();

    delete m_liveScene; // owns m_livePixmapItem
    m_liveScene = nullptr;
    m_livePixmapItem = nullptr;

    finishStitchJobs();

    delete ui;
    ui = nullptr;

    // A QThread object destroyed while its thread runs aborts the process, so
    // a grab loop that did not stop is left alone rather than deleted.
    if (m_workThread->isRunning())
        qWarning() << "MainWindow: the grab thread did not stop; leaving its object behind";
    else
        delete m_workThread;
    m_workThread = nullptr;
}

/*
 * Writes the seven keys kept by the window and lets the window close; the
 * threads are stopped later, by the destructor. GUI thread.
 */
void MainWindow::closeEvent(QCloseEvent *event)
{
    saveSettings();
    stopCaptureForShutdown();
    event->accept();
}

/*
 * Ends grabbing at once when the window closes, rather than after the event
 * loop, which may still hold many queued frames: the grab loop stops, the
 * flags are cleared (frames still queued to the window are then ignored and
 * never form a batch), the open batch is dropped and the camera released.
 * Only the jobs already posted to the stitch worker are finished, by the
 * destructor. Idempotent. GUI thread.
 */
void MainWindow::stopCaptureForShutdown()
{
    if (ui)
        on_actionStitchStop_triggered();
    m_session->shutDown();
    stopGrabThread();
    m_isGrabbing = false;
    m_camera->close();
    m_isOpen = false;
}

/*
 * Reads the window's settings from "setting.ini" in the current directory
 * (missing keys give their defaults, a frame count below 1 becomes 1) and
 * shows or hides the live view accordingly. GUI thread.
 */
void MainWindow::loadSettings()
{
    using namespace AppSettings;
    m_gvRotationAngle = intValue(kGvRotationAngle, kDefaultGvRotationAngle);
    m_stitchDirection = intValue(kStitchDirection, kDefaultStitchDirection);
    m_saveDir = stringValue(kSaveDir, kDefaultSaveDir);
    m_imageFormat = stringValue(kFormat, kDefaultFormatWindow);
    m_jpgQuality = intValue(kJpgQuality, kDefaultJpgQuality);
    m_pngQuality = intValue(kPngQuality, kDefaultPngQuality);
    m_partialStitch = boolValue(kPartialStitch, kDefaultPartialStitch);
    m_saveStitchImage = boolValue(kSaveStitchImage, kDefaultSaveStitchImage);
    m_maxStitchCount = qMax(1, intValue(kMaxStitchCount, m_maxStitchCount));
    ui->gv->setVisible(boolValue(kShowLiveView, kDefaultShowLiveView));
}

/*
 * Writes the seven keys the window owns, in one pass over the file. The other
 * keys are written by the settings dialog when they change. GUI thread.
 */
void MainWindow::saveSettings()
{
    using namespace AppSettings;
    setValues({
        {kGvRotationAngle, m_gvRotationAngle},
        {kStitchDirection, m_stitchDirection},
        {kSaveDir, m_saveDir},
        {kFormat, m_imageFormat},
        {kJpgQuality, m_jpgQuality},
        {kPngQuality, m_pngQuality},
        {kMaxStitchCount, m_maxStitchCount},
    });
}

/*
 * The settings dialog chose another output format or quality: keep the three
 * values for the next batch and write them at once. GUI thread.
 */
void MainWindow::onImageFormatChanged(QString format, int jpgQuality, int pngQuality)
{
    m_imageFormat = format;
    m_jpgQuality = jpgQuality;
    m_pngQuality = pngQuality;
    using namespace AppSettings;
    setValues({
        {kFormat, m_imageFormat},
        {kJpgQuality, m_jpgQuality},
        {kPngQuality, m_pngQuality},
    });
}

/*
 * The settings dialog chose another output folder; an empty text (a cancelled
 * choice) keeps the current one. GUI thread.
 */
void MainWindow::onSaveDirChanged(QString dir)
{
    if (dir.isEmpty())
        return;
    m_saveDir = dir;
    AppSettings::setValue(AppSettings::kSaveDir, m_saveDir);
}

/* Shows the one about box; showing it while visible changes nothing. GUI thread. */
void MainWindow::on_actionAbout_triggered()
{
    m_aboutDialog->show();
}
