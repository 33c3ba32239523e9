#ifndef SETUPTOOLS_H
#define SETUPTOOLS_H

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <memory>

#include "measuremaker.h"
#include "tilemaker.h"

class AcquisitionHealth;
class MainWindow;
class ProfilePlot;
class HistogramPlot;
class QCheckBox;
class QDockWidget;
class QGraphicsView;
class QLabel;
class TileItem;
struct ComposedPreview;
struct HealthFigures;

/*
 * The window's tools for setting up a camera: the line profile and histogram
 * docks, the acquisition health line and the banner of lost and dropped
 * frames, the pixel readout under the cursor, the zoom factors and 1:1 zoom.
 * They only wire and show: the arithmetic is in AcquisitionHealth and the
 * image measures, the measuring runs on MeasureMaker's thread. GUI thread.
 */
class SetupTools : public QObject
{
    Q_OBJECT

public:
    SetupTools(MainWindow &window, AcquisitionHealth &health);
    ~SetupTools() override;

    // The live view shows `frame` now.
    void liveFrameShown(const QImage &frame);
    // The stitch view shows this picture of batch `number`.
    void batchPictureShown(int number, const ComposedPreview &preview);
    void runStarted();
    // The operator may have changed exposure, line rate or trigger: read them again.
    void cameraSettingsChanged();
    // The grab loop has ended; `received` and `lost` are the camera's final
    // counters when it could tell (negative otherwise).
    void runEnded(qint64 received, qint64 lost);
    // Shows the banner at once when a frame was lost or dropped while none showed.
    void lossSeen();
    // Both views at one screen pixel per image pixel.
    void zoomOneToOne();
    void refreshZoomText();
    // When the last full-resolution tile of the batch view was put on screen,
    // and how long after the view asked for it; -1 before any.
    qint64 lastTileMs() const { return m_lastTileMs; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refreshHealth();
    void showFigures(const HealthFigures &figures);
    void requestMeasures();
    void showMeasures(const MeasureMaker::Result &result);
    void pickProfileRow(QPoint viewportPos);
    void showReadout(QGraphicsView *view, QPoint viewportPos);
    QString batchReadout(QPointF scenePos);
    void elideStatusMessage(const QString &text);
    void requestTile();
    void showTile(const BatchTile &tile);
    void readLineTiming();
    double overTriggeredRate(double linesPerSecond) const;

    MainWindow &m_window;
    AcquisitionHealth &m_health;
    MeasureMaker m_measures;
    QTimer m_healthTimer;
    double m_overTriggerRate = 0;
    // The camera's timing as last read: exposure, and the rate a free-running
    // camera is asked for (0 when its switch is off or lines are triggered).
    double m_exposureUs = 0;
    double m_requestedRate = 0;
    QStringList m_lossLines; // the banner's lines of the run; kept after it ends

    QDockWidget *m_profileDock = nullptr;
    QDockWidget *m_histogramDock = nullptr;
    ProfilePlot *m_profilePlot = nullptr;
    HistogramPlot *m_histogramPlot = nullptr;
    QLabel *m_profileText = nullptr;
    QLabel *m_histogramText = nullptr;
    QCheckBox *m_meanOfLines = nullptr;
    QLabel *m_readout = nullptr;
    QLabel *m_zoomText = nullptr;

    QImage m_liveFrame; // what the live view shows, for the readout and the measures
    bool m_liveGray = false;
    int m_profileRow = -1; // chosen by a click; -1: the middle line
    int m_batchNumber = 0;
    int m_batchDirection = 0;   // the stitch direction the shown batch was laid out for
    QList<QRect> m_batchPlaces; // of the shown batch's frames, in the scene
    // Only the size: the picture itself lives on as the view's pixmap, and a
    // second copy of up to 32 MB would be held for a rare readout.
    QSize m_batchPictureSize;
    QPoint m_batchTopLeft;
    QSize m_batchFullSize;
    QPoint m_pressPos;
    QString m_elidedMessage; // the status message as this shortened it

    TileMaker m_tiles;
    QPointer<TileItem> m_tileItem; // goes with the stitch scene's items
    QRect m_tileRegion;            // asked for last
    double m_tileScale = 0;
    QElapsedTimer m_tileAsked;
    qint64 m_lastTileMs = -1;
};

#endif // SETUPTOOLS_H
