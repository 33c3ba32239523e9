#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

#include "MvCameraControl.h"
#include "acquisitionsession.h"
#include "camera.h"

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
class QGraphicsPixmapItem;
class QGraphicsScene;
class QAction;
class QMenu;
class QThread;
class QProgressDialog;
QT_END_NAMESPACE

class AboutDialog;
class AcquisitionHealth;
class BatchLedger;
class FlatFieldCorrector;
class FrameBudget;
class PreviewMaker;
struct ComposedPreview;
class QLabel;
class SaveFailureNotifier;
class SetupTools;
class StitchWorker;
class WorkThread;

/*
 * The hub of the program: owns the camera handle and its state, the grab
 * thread, the stitch worker and its thread, the stitch session and both views.
 *
 * The state members are public on purpose: the grab thread reads the handle and
 * writes the latest raw frame (under m_frameMutex). Everything else is touched
 * from the GUI thread only.
 *
 * The implementation is split by concern: mainwindow.cpp (construction,
 * shutdown, settings), mainwindow_camera.cpp (search, open, grab), 
 * mainwindow_session.cpp (batches), mainwindow_views.cpp (zoom, rotation),
 * mainwindow_save.cpp (hand-off to the stitch worker), mainwindow_setting.cpp
 * (settings dialog, snapshot).
 */
// The live view shows at most this many frames a second, whatever the camera's rate.
constexpr int kLiveFramesPerSecond = 25;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Settings file (mainwindow.cpp).
    void loadSettings();
    void saveSettings();

    // Stitch session (mainwindow_session.cpp).
    void setStitchDirection(int direction);
    void setMaxStitchCount(int count);
    void handOffBatch(const QList<QImage> &frames, int batchNumber, int turnAngle = 0);
    // Batches, their budget and their hand-off to the stitch worker.
    AcquisitionSession &session() { return *m_session; }
    Camera &camera() { return *m_camera; }

    // Views (mainwindow_views.cpp).
    void setupLiveView();
    void setupStitchView();
    void fitStitchView();
    void applyLiveRotation();

    // Snapshot of the latest raw frame through the camera library
    // (Camera::saveSnapshot). Returns the library's status.
    int saveCurrentFrame(const QString &path, int imageType, int quality, QString *savedPath = nullptr,
                         int *systemError = nullptr);

    // The open camera's flat-field calibration; the grab thread applies it.
    FlatFieldCorrector *flatField() const { return m_flatField; }
    // The run's rates and losses; the grab thread reports every frame to it.
    AcquisitionHealth *acquisitionHealth() const { return m_health.get(); }
    qint64 droppedFrames() const;

public slots:
    void setLiveViewVisible(bool visible);

private slots:
    void on_cbSearchDevices_currentIndexChanged(int index);
    void onFrameInfoUpdated(uint framecount, int width, int height, qlonglong timestamp, qlonglong interval,
                            int lostFrames, int totalFrames, double grabTimeMs);
    void onFrameGrabbed(QImage image);
    void onChangeDetected(QImage changedFrame, QImage prevFrame, qlonglong changedTimestamp,
                          qlonglong prevTimestamp, uint frameNumber = 0);
    void onImageFormatChanged(QString format, int jpgQuality, int pngQuality);
    void on_actionCameraStart_triggered();
    void on_actionCameraStop_triggered();
    void on_actionStitchStart_triggered();
    void on_actionStitchStop_triggered();
    void on_actionCameraSearch_triggered();
    void on_actionCameraOpen_triggered();
    void on_actionCameraClose_triggered();
    void on_actionSave_Image_triggered();
    void on_actionSetting_triggered();
    void on_actionClearImages_triggered();
    void on_action_ZoomInt_triggered();
    void on_action_ZoomOut_triggered();
    void on_action_FullScreen_triggered();
    void on_gv_customContextMenuRequested(QPoint pos);
    void onSaveDirChanged(QString dir);
    void on_actionCameraOpen_triggered(bool checked);
    void on_actionCameraStart_triggered(bool checked);
    void onStitchSaveProgress(int current, int total);
    void onStitchSaveFinished(QStringList files);
    void onStitchSaveFailed(QString err);
    void on_actionAbout_triggered();

public slots:
    // Accepts a notification of a saved image; nothing sends it.
    void onImageSavedWithIndex(int configIndex, QImage image, QString filePath);

private:
    // Shutdown and release helpers shared by the window's concerns.
    void stopGrabThread();   // mainwindow_camera.cpp: ends the grab loop cooperatively
    void finishStitchJobs(); // mainwindow_save.cpp: lets queued saves finish, then ends the stitch thread
    void stopCaptureForShutdown(); // mainwindow.cpp: grabbing ends now; queued frames are ignored
    void breakOpenBatch();         // mainwindow_session.cpp: the stream has a hole; close the batch before it
    void showDroppedFrames();      // mainwindow_session.cpp: the banner once frames are dropped
    void showPendingLiveFrameNow(); // mainwindow_session.cpp: paints the newest live frame
    void keepCameraPixels(bool on); // mainwindow_setting.cpp: tells the grab thread and the stitch worker
    // mainwindow_session.cpp: the preview maker's picture of a closed batch
    void showComposedPreview(int number, const ComposedPreview &preview);
    // mainwindow_session.cpp: hands a closed batch to the preview maker
    void previewClosedBatch(int number, const QList<QImage> &frames, int direction, int turnAngle);
    void showStopProgress(int left, int total); // mainwindow_save.cpp: batches left at shutdown

    FlatFieldCorrector *m_flatField = nullptr; // child of the window; outlives the grab thread's runs

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

public:
    Ui::MainWindow *ui = nullptr;
    // Declared before the option names below, which refer into it.
    std::unique_ptr<AcquisitionSession> m_session;
    std::unique_ptr<Camera> m_camera;

    WorkThread *m_workThread = nullptr;
    AboutDialog *m_aboutDialog = nullptr;

    // Views.
    QGraphicsScene *m_liveScene = nullptr;
    QGraphicsPixmapItem *m_livePixmapItem = nullptr;
    QGraphicsScene *m_stitchScene = nullptr;
    bool m_autoFitStitch = true;
    int m_gvRotationAngle = 0;
    // Runs the live view's rotation menu at a global position and returns the
    // chosen entry (null when dismissed); QMenu::exec unless a test answers.
    std::function<QAction *(QMenu *menu, const QPoint &globalPos)> m_execRotationMenu;
    QElapsedTimer m_lastLivePaint;
    QTimer m_liveRepaintTimer; // a repaint held back to keep to kLiveFramesPerSecond

    // Camera: the list found, the chosen entry and the state the buttons show.
    bool m_isOpen = false;
    bool m_isGrabbing = false;
    MV_CC_DEVICE_INFO_LIST m_deviceList{};
    bool m_deviceListValid = false;
    int m_deviceIndex = 0;
    // The camera's handle, record, latest raw frame and locks under the names
    // the program's design knows them by.
    void *&m_handle;
    MV_CC_DEVICE_INFO &m_deviceInfo;
    std::unique_ptr<unsigned char[]> &m_lastFrameBuffer;
    unsigned int &m_lastFrameBufferSize;
    MV_FRAME_OUT_INFO_EX &m_lastFrameInfo;
    QMutex &m_frameMutex;  /* Protects m_lastFrameBuffer, m_lastFrameBufferSize and m_lastFrameInfo */
    QMutex &m_cameraMutex; /* Serialises the GUI thread's library calls on m_handle */

    // The session's options under the names the settings file knows them by;
    // the session reads them at every batch.
    QString &m_saveDir;
    QString &m_imageFormat;
    int &m_jpgQuality;
    int &m_pngQuality;
    int &m_maxStitchCount;
    int &m_stitchDirection;
    bool &m_partialStitch;
    bool &m_saveStitchImage;
    QString &m_cameraModelName;
    QString &m_cameraSerialNumber;

    // Composes the pictures of closed batches off the window's thread.
    std::unique_ptr<PreviewMaker> m_previewMaker;
    int m_previewShown = 0;           // batch whose picture the stitch view shows
    int m_previewsClearedThrough = 0; // pictures of batches up to this one are not shown
    // Line profile, histogram, health, banner, readout and 1:1 zoom (setuptools.cpp).
    std::unique_ptr<AcquisitionHealth> m_health;
    SetupTools *m_setupTools = nullptr;
    SaveFailureNotifier *m_saveFailures = nullptr;
    // Shows the batches left while the window closes.
    std::unique_ptr<QProgressDialog> m_stopProgress;
};

#endif // MAINWINDOW_H
