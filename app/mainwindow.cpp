#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "acquisitionhealth.h"
#include "appsettings.h"
#include "batchledger.h"
#include "flatfieldcorrector.h"
#include "framebudget.h"
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
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <cstring>
#include <malloc.h>

namespace {

// At most ten pictures a second: faster than anyone can look at a stitched
// batch, and a burst of one-frame batches costs no more than that.
constexpr std::chrono::milliseconds kPreviewInterval(100);

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
    : QMainWindow(parent), ui(new Ui::MainWindow), m_saveDir(QDir::currentPath())
{
    returnFreedFramesToTheSystem();
    m_frameBudget = std::make_unique<FrameBudget>(frameBudgetFromEnvironment());
    // The ledger charges as many saves at once as the worker runs.
    m_batchLedger = std::make_unique<BatchLedger>(*m_frameBudget, defaultConcurrentSaves());
    m_health = std::make_unique<AcquisitionHealth>();
    m_workThread = new WorkThread(this);
    m_previewMaker = std::make_unique<PreviewMaker>(kPreviewPixelBudget, kPreviewInterval);
    connect(m_previewMaker.get(), &PreviewMaker::composed, this,
            [this](int number, const ComposedPreview &preview) { showComposedPreview(number, preview); });

    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/res/app.ico")));
    m_saveFailures = new SaveFailureNotifier(this, ui->statusBar);
    m_flatField = new FlatFieldCorrector(this);
    connect(m_flatField, &FlatFieldCorrector::report, ui->statusBar,
            [this](const QString &text) { ui->statusBar->showMessage(text); });

    m_aboutDialog = new AboutDialog(this);
    m_aboutDialog->hide();

    qRegisterMetaType<QList<QImage>>("QList<QImage>");

    setWindowTitle(QStringLiteral("Corvista"));

    ui->actionStitchStart->setEnabled(true);
    ui->actionStitchStop->setEnabled(false);

    std::memset(&m_deviceList, 0, sizeof m_deviceList);
    std::memset(&m_deviceInfo, 0, sizeof m_deviceInfo);

    setupLiveView();
    m_liveRepaintTimer.setSingleShot(true);
    connect(&m_liveRepaintTimer, &QTimer::timeout, this, [this] { showPendingLiveFrameNow(); });

    std::memset(&m_lastFrameInfo, 0, sizeof m_lastFrameInfo);
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

    m_stitchThread = new QThread(this);
    m_stitchWorker = new StitchWorker;
    m_stitchWorker->setConcurrentSaves(defaultConcurrentSaves());
    m_stitchWorker->moveToThread(m_stitchThread);
    // The worker belongs to the stitch thread and must be deleted there.
    connect(m_stitchThread, &QThread::finished, m_stitchWorker, &QObject::deleteLater);
    connect(m_stitchWorker, &StitchWorker::progress, this, &MainWindow::onStitchSaveProgress);
    connect(m_stitchWorker, &StitchWorker::finished, this, &MainWindow::onStitchSaveFinished);
    connect(m_stitchWorker, &StitchWorker::failed, this, &MainWindow::onStitchSaveFailed);
    m_stitchThread->start();
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
    m_previewMaker.reset();
    delete m_setupTools;
    m_setupTools = nullptr;

    if (m_handle) {
        releaseCamera();
        m_handle = nullptr;
    }

    delete m_liveScene; // owns m_livePixmapItem
    m_liveScene = nullptr;
    m_livePixmapItem = nullptr;

    finishStitchJobs();
    // Whatever became of queued saves, the thread object (a child of this
    // window) must not be destroyed while its thread runs.
    if (m_stitchThread && m_stitchThread->isRunning()) {
        m_stitchThread->quit();
        m_stitchThread->wait();
    }

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
    m_shuttingDown = true;
    if (ui)
        on_actionStitchStop_triggered();
    stopGrabThread();
    m_isGrabbing = false;
    m_batchFrames.clear();
    if (m_batchLedger)
        m_batchLedger->discardOpenBatch();
    if (m_handle) {
        releaseCamera();
        m_handle = nullptr;
    }
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
