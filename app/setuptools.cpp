#include "setuptools.h"

#include "acquisitionsession.h"

#include "acquisitionhealth.h"
#include "mainwindow.h"
#include "plotwidgets.h"
#include "preview.h"
#include "turnedcopy.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QGraphicsObject>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>

namespace {

// Plots refresh at most ten times a second: as fast as anyone adjusts a lens
// or a light, and the measuring of a 4-Mpx frame costs a few milliseconds.
constexpr std::chrono::milliseconds kMeasureInterval(100);
// The health line and the banner follow the run four times a second.
constexpr int kHealthIntervalMs = 250;

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The figures under a plot keep `lines` lines of room whatever they say, so
// that the views above do not change size, and refit, with every result.
QDockWidget *makeDock(QMainWindow &window, const QString &title, const QString &name, QWidget *plot,
                      QLabel *text, int lines, QCheckBox *option)
{
    auto *dock = new QDockWidget(title, &window);
    dock->setObjectName(name);
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable
                      | QDockWidget::DockWidgetClosable);
    auto *content = new QWidget(dock);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    layout->addWidget(plot, 1);
    auto *row = new QHBoxLayout;
    // A fixed size: a new text then costs no layout of the window.
    text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setFixedHeight(text->fontMetrics().lineSpacing() * lines + 2);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    row->addWidget(text, 1);
    row->addWidget(option, 0, Qt::AlignTop);
    layout->addLayout(row);
    dock->setWidget(content);
    window.addDockWidget(Qt::BottomDockWidgetArea, dock);
    return dock;
}

QString zoomPercent(const QGraphicsView *view)
{
    const QTransform t = view->transform();
    return QStringLiteral("%1 %").arg(qRound(100 * std::sqrt(t.m11() * t.m11() + t.m12() * t.m12())));
}

} // namespace

/*
 * A full-resolution part of the batch view over its scaled-down picture. A
 * QObject, so that the pointer to it clears when the stitch scene is emptied.
 */
class TileItem : public QGraphicsObject
{
public:
    void setPixmap(const QPixmap &pixmap)
    {
        prepareGeometryChange();
        m_pixmap = pixmap;
    }
    QRectF boundingRect() const override { return QRectF(m_pixmap.rect()); }
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override
    {
        painter->drawPixmap(0, 0, m_pixmap);
    }

private:
    QPixmap m_pixmap;
};

SetupTools::SetupTools(MainWindow &window, AcquisitionHealth &health)
    : QObject(&window), m_window(window), m_health(health), m_measures(kMeasureInterval)
{
    Ui::MainWindow *ui = window.ui;
    ui->acquisitionBanner->hide();
    // One line each, never wider than the window: a longer text must not
    // push the window past a small screen, nor a wrap resize the views.
    for (QLabel *line : {ui->dataitemLabel, ui->healthLabel}) {
        line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        line->setFixedHeight(line->fontMetrics().lineSpacing() + 2);
    }

    m_profilePlot = new ProfilePlot;
    m_profilePlot->setObjectName(QStringLiteral("lineProfilePlot"));
    m_profileText = new QLabel;
    m_profileText->setObjectName(QStringLiteral("lineProfileText"));
    m_meanOfLines = new QCheckBox(tr("Mean of all lines"));
    m_profileDock
        = makeDock(window, tr("Line profile (click a line in the live view)"),
                   QStringLiteral("lineProfileDock"), m_profilePlot, m_profileText, 4, m_meanOfLines);
    m_histogramPlot = new HistogramPlot;
    m_histogramPlot->setObjectName(QStringLiteral("histogramPlot"));
    m_histogramText = new QLabel;
    m_histogramText->setObjectName(QStringLiteral("histogramText"));
    auto *logScale = new QCheckBox(tr("Log scale"));
    m_histogramDock = makeDock(window, tr("Histogram"), QStringLiteral("histogramDock"), m_histogramPlot,
                               m_histogramText, 3, logScale);
    window.splitDockWidget(m_profileDock, m_histogramDock, Qt::Horizontal);
    // A closed dock comes back from here.
    QMenu *viewMenu = window.menuBar()->addMenu(tr("View"));
    viewMenu->setObjectName(QStringLiteral("menuView"));
    viewMenu->addAction(m_profileDock->toggleViewAction());
    viewMenu->addAction(m_histogramDock->toggleViewAction());
    connect(logScale, &QCheckBox::toggled, m_histogramPlot, &HistogramPlot::setLogScale);
    connect(m_meanOfLines, &QCheckBox::toggled, this, [this] { requestMeasures(); });
    connect(&m_measures, &MeasureMaker::measured, this,
            [this](const MeasureMaker::Result &result) { showMeasures(result); });
    connect(&m_tiles, &TileMaker::made, this, [this](const BatchTile &tile) { showTile(tile); });

    m_readout = new QLabel(ui->statusBar);
    m_readout->setObjectName(QStringLiteral("pixelReadout"));
    // Room for the longest readout, so that the messages beside it keep theirs.
    m_readout->setFixedWidth(
        m_readout->fontMetrics().horizontalAdvance(QStringLiteral("x 00000  y 00000  R 000 G 000 B 000")));
    ui->statusBar->addPermanentWidget(m_readout);
    m_zoomText = new QLabel(ui->statusBar);
    m_zoomText->setObjectName(QStringLiteral("zoomText"));
    m_zoomText->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    ui->statusBar->addPermanentWidget(m_zoomText);

    for (QGraphicsView *view : {ui->gv, ui->gvStitch}) {
        view->viewport()->setMouseTracking(true);
        view->viewport()->installEventFilter(this);
    }
    connect(ui->action_ZoomOneToOne, &QAction::triggered, this, [this] { zoomOneToOne(); });

    connect(ui->statusBar, &QStatusBar::messageChanged, this,
            [this](const QString &text) { elideStatusMessage(text); });

    m_healthTimer.setInterval(kHealthIntervalMs);
    connect(&m_healthTimer, &QTimer::timeout, this, [this] { refreshHealth(); });
    m_healthTimer.start();
    refreshHealth();
}

SetupTools::~SetupTools() = default;

/*
 * Keeps the frame for the readout and hands it to the measuring, which takes
 * the newest only: a frame costs the window a reference and a lock here.
 */
void SetupTools::liveFrameShown(const QImage &frame)
{
    m_liveFrame = frame;
    requestMeasures();
}

void SetupTools::requestMeasures()
{
    if (m_liveFrame.isNull() || (m_profileDock->isHidden() && m_histogramDock->isHidden()))
        return;
    int row
        = m_profileRow >= 0 && m_profileRow < m_liveFrame.height() ? m_profileRow : m_liveFrame.height() / 2;
    if (m_meanOfLines->isChecked())
        row = -1;
    m_measures.request({m_liveFrame, row, m_liveGray});
}

void SetupTools::showMeasures(const MeasureMaker::Result &result)
{
    const LineProfile &profile = result.profile;
    m_profilePlot->setProfile(profile);
    const QString which = profile.row < 0 ? tr("Mean of %1 lines").arg(result.frame.height())
                                          : tr("Line %1 of %2").arg(profile.row).arg(result.frame.height());
    m_profileText->setText(which + QLatin1Char('\n') + profileStatisticsText(profile));
    m_histogramPlot->setHistogram(result.histogram);
    m_histogramText->setText(histogramStatisticsText(result.histogram));
}

void SetupTools::batchPictureShown(int number, const ComposedPreview &preview)
{
    m_batchNumber = number;
    m_batchDirection = m_window.m_stitchDirection;
    m_batchPlaces.clear();
    m_tiles.cancel();
    m_tileRegion = QRect();
    m_batchPictureSize = preview.picture.size();
    m_batchTopLeft = preview.topLeft;
    m_batchFullSize = preview.fullSize;
}

/*
 * A gray camera's frames are shown as RGB: its profile and histogram are one
 * channel, not three equal ones. Bayer mosaics are colour.
 */
void SetupTools::runStarted()
{
    unsigned int type = 0;
    if (m_window.camera().pixelType(type)) {
        const bool bayer = (type & 0xFFFF) >= 0x0008 && (type & 0xFFFF) <= 0x000B;
        m_liveGray = (type & 0xFF000000u) == 0x01000000u && !bayer;
    }
    m_health.start(steadyNowNs());
    m_lossLines.clear();
    m_overTriggerRate = 0;
    readLineTiming();
    refreshHealth();
}

void SetupTools::runEnded(qint64 received, qint64 lost)
{
    if (received >= 0 && lost >= 0)
        m_health.setFinalCounters(received, lost);
    m_overTriggerRate = 0;
    refreshHealth();
}

void SetupTools::lossSeen()
{
    if (m_window.ui->acquisitionBanner->isHidden())
        refreshHealth();
}

/*
 * The health line always; the banner from the first lost or dropped frame of
 * a run until the next run starts, so the operator sees after Stop what the
 * run lost; and the over-trigger warning while it holds.
 */
void SetupTools::refreshHealth()
{
    const HealthFigures figures = m_health.sample(steadyNowNs(), m_window.droppedFrames());
    if (m_window.m_isGrabbing)
        m_overTriggerRate = overTriggeredRate(figures.linesPerSecond);
    showFigures(figures);
    refreshZoomText();
}

void SetupTools::showFigures(const HealthFigures &figures)
{
    Ui::MainWindow *ui = m_window.ui;
    const QString health = healthText(figures);
    if (ui->healthLabel->text() != health)
        ui->healthLabel->setText(health);
    const QStringList losses = lossBannerLines(figures);
    if (!losses.isEmpty())
        m_lossLines = losses;
    QStringList lines = m_lossLines;
    if (m_overTriggerRate > 0 && m_window.m_isGrabbing)
        lines << overTriggerWarning(m_exposureUs, m_overTriggerRate);
    const QString banner = lines.join(QLatin1Char('\n'));
    if (ui->acquisitionBanner->text() != banner)
        ui->acquisitionBanner->setText(banner);
    ui->acquisitionBanner->setVisible(!banner.isEmpty());
}

/*
 * Reads the exposure and the requested line rate from the camera, at the start
 * of a run and after the settings dialog: never on the health timer, as every
 * read waits for the camera (a network round trip for a GigE one). GUI thread.
 */
void SetupTools::readLineTiming()
{
    m_exposureUs = 0;
    m_requestedRate = 0;
    Camera &camera = m_window.camera();
    if (!camera.hasHandle())
        return;
    QMutexLocker lock(&camera.callMutex());
    double exposure = 0;
    if (!camera.exposureUs(exposure))
        return;
    m_exposureUs = exposure;
    qint64 requested = 0;
    if (!camera.lineTriggered() && camera.requestedLineRate(requested))
        m_requestedRate = double(requested);
}

void SetupTools::cameraSettingsChanged()
{
    readLineTiming();
    refreshHealth();
}

/*
 * The line rate whose period the exposure does not fit in, 0 when it fits:
 * the rate asked of a free-running camera, or the rate lines arrive at, which
 * is what an encoder triggers. The measured rate gets 2 % for the timing of
 * the host, so a camera that caps its rate at the exposure is not flagged.
 */
double SetupTools::overTriggeredRate(double linesPerSecond) const
{
    if (m_exposureUs <= 0)
        return 0;
    if (m_requestedRate > 0 && exposureExceedsLinePeriod(m_exposureUs, m_requestedRate))
        return m_requestedRate;
    if (exposureExceedsLinePeriod(m_exposureUs, linesPerSecond / 1.02))
        return linesPerSecond;
    return 0;
}

void SetupTools::zoomOneToOne()
{
    Ui::MainWindow *ui = m_window.ui;
    ui->gv->setTransform(QTransform());
    m_window.m_autoFitStitch = false;
    ui->gvStitch->setTransform(QTransform());
    ui->gvStitch->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ui->gvStitch->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    refreshZoomText();
}

void SetupTools::refreshZoomText()
{
    const QString text
        = tr("Live %1 | Batch %2").arg(zoomPercent(m_window.ui->gv), zoomPercent(m_window.ui->gvStitch));
    if (m_zoomText->text() != text)
        m_zoomText->setText(text);
}

/*
 * A click in the live view (a press and release without dragging, which
 * scrolls) picks the profile's line; moving over either view reads the pixel
 * under the cursor.
 */
bool SetupTools::eventFilter(QObject *watched, QEvent *event)
{
    Ui::MainWindow *ui = m_window.ui;
    QGraphicsView *view = watched == ui->gv->viewport() ? ui->gv
        : watched == ui->gvStitch->viewport()           ? ui->gvStitch
                                                        : nullptr;
    if (!view)
        return false;
    switch (event->type()) {
    case QEvent::Paint:
        // Every zoom, scroll and resize of the batch view ends in a paint.
        if (view == ui->gvStitch)
            requestTile();
        break;
    case QEvent::MouseMove:
        showReadout(view, static_cast<QMouseEvent *>(event)->pos());
        break;
    case QEvent::Leave:
        m_readout->clear();
        break;
    case QEvent::MouseButtonPress:
        m_pressPos = static_cast<QMouseEvent *>(event)->pos();
        break;
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (view == ui->gv && mouse->button() == Qt::LeftButton
            && (mouse->pos() - m_pressPos).manhattanLength() < 4)
            pickProfileRow(mouse->pos());
        break;
    }
    default:
        break;
    }
    return false;
}

void SetupTools::pickProfileRow(QPoint viewportPos)
{
    // A closed camera leaves the view blank: its last frame is not picked from.
    QGraphicsPixmapItem *item = m_window.m_livePixmapItem;
    if (!item || item->pixmap().isNull() || m_liveFrame.isNull())
        return;
    const QPointF at = item->mapFromScene(m_window.ui->gv->mapToScene(viewportPos));
    const int row = int(std::floor(at.y()));
    if (row < 0 || row >= m_liveFrame.height())
        return;
    m_profileRow = row;
    m_meanOfLines->setChecked(false);
    requestMeasures();
}

void SetupTools::showReadout(QGraphicsView *view, QPoint viewportPos)
{
    const QPointF scenePos = view->mapToScene(viewportPos);
    QString text;
    if (view == m_window.ui->gv) {
        QGraphicsPixmapItem *item = m_window.m_livePixmapItem;
        if (item && !item->pixmap().isNull()) {
            const QPointF at = item->mapFromScene(scenePos);
            text = pixelReadout(m_liveFrame, QPoint(int(std::floor(at.x())), int(std::floor(at.y()))),
                                m_liveGray);
        }
    } else {
        text = batchReadout(scenePos);
    }
    m_readout->setText(text);
}

/*
 * The value under the cursor in the shown batch, at the batch's coordinates:
 * read from the batch's own frames while the window keeps them (full
 * resolution, 16-bit frames as 16-bit), else from the picture, which may be
 * scaled down. The window gives the frames up under overload; they are never
 * held here, so the frame budget still bounds them.
 */
QString SetupTools::batchReadout(QPointF scenePos)
{
    if (m_batchPictureSize.isEmpty() || m_batchFullSize.isEmpty())
        return QString();
    const QPointF inBatch = scenePos - QPointF(m_batchTopLeft);
    const QPoint full(int(std::floor(inBatch.x())), int(std::floor(inBatch.y())));
    QString value;
    const QList<QImage> &frames = m_window.session().shownBatch();
    if (m_batchNumber == m_window.session().batchCount() && !frames.isEmpty()) {
        if (m_batchPlaces.size() != frames.size())
            m_batchPlaces = placeFrames(frames, m_batchDirection, m_window.session().shownBatchTurnAngle());
        const QPoint at(int(std::floor(scenePos.x())), int(std::floor(scenePos.y())));
        for (int i = 0; i < m_batchPlaces.size(); ++i) {
            if (!m_batchPlaces[i].contains(at))
                continue;
            const QRect source
                = sourceRectOfTurned(QRect(at - m_batchPlaces[i].topLeft(), QSize(1, 1)), frames[i].size(),
                                     m_window.session().shownBatchTurnAngle());
            value = pixelReadout(frames[i], source.topLeft(), m_liveGray);
            break;
        }
    } else {
        // The frames are gone: the one pixel under the cursor of the view's picture.
        const QPoint shown(
            int(std::floor(inBatch.x() * m_batchPictureSize.width() / m_batchFullSize.width())),
            int(std::floor(inBatch.y() * m_batchPictureSize.height() / m_batchFullSize.height())));
        for (QGraphicsItem *item : m_window.m_stitchScene->items()) {
            const auto *picture = qgraphicsitem_cast<QGraphicsPixmapItem *>(item);
            if (picture && picture->pixmap().size() == m_batchPictureSize
                && picture->pixmap().rect().contains(shown)) {
                const QImage pixel = picture->pixmap().copy(QRect(shown, QSize(1, 1))).toImage();
                value = pixelReadout(pixel, QPoint(0, 0), m_liveGray);
                break;
            }
        }
    }
    if (value.isEmpty())
        return QString();
    // The frame's own coordinates give way to the batch's.
    return QStringLiteral("x %1  y %2  ").arg(full.x()).arg(full.y())
        + value.section(QStringLiteral("  "), 2);
}

/*
 * Asks for the part of the batch on screen at the view's scale, when the view
 * shows the batch's picture enlarged and the window still has its frames; a
 * view fitted or zoomed out shows the picture as it is.
 */
void SetupTools::requestTile()
{
    QGraphicsView *view = m_window.ui->gvStitch;
    const QList<QImage> &frames = m_window.session().shownBatch();
    const double scale = view->transform().m11();
    const bool reduced
        = !m_batchPictureSize.isEmpty() && m_batchPictureSize.width() < m_batchFullSize.width();
    const double pictureScale = reduced ? double(m_batchPictureSize.width()) / m_batchFullSize.width() : 1;
    if (!reduced || scale <= pictureScale * 1.05 || m_batchNumber != m_window.session().batchCount()
        || frames.isEmpty()) {
        if (m_tileItem)
            m_tileItem->hide();
        m_tileRegion = QRect();
        return;
    }
    const QRect visible = view->mapToScene(view->viewport()->rect()).boundingRect().toAlignedRect()
        & QRect(m_batchTopLeft, m_batchFullSize);
    const double tileScale = std::min(scale, 1.0);
    if (visible.isEmpty() || (visible == m_tileRegion && qFuzzyCompare(tileScale, m_tileScale)))
        return;
    m_tileRegion = visible;
    m_tileScale = tileScale;
    if (m_batchPlaces.size() != frames.size())
        m_batchPlaces = placeFrames(frames, m_batchDirection, m_window.session().shownBatchTurnAngle());
    m_tileAsked.start();
    m_tiles.request(
        {m_batchNumber, frames, m_batchPlaces, m_window.session().shownBatchTurnAngle(), visible, tileScale});
}

void SetupTools::showTile(const BatchTile &tile)
{
    QGraphicsScene *scene = m_window.m_stitchScene;
    if (tile.batch != m_batchNumber || tile.picture.isNull() || !scene)
        return;
    if (!m_tileItem) {
        m_tileItem = new TileItem;
        m_tileItem->setZValue(1);
        scene->addItem(m_tileItem);
    }
    m_tileItem->setPixmap(QPixmap::fromImage(tile.picture));
    m_tileItem->setPos(tile.region.topLeft());
    m_tileItem->setTransform(QTransform::fromScale(1 / tile.scale, 1 / tile.scale));
    m_tileItem->show();
    if (m_tileAsked.isValid())
        m_lastTileMs = m_tileAsked.elapsed();
}

/*
 * A status message longer than the room beside the permanent labels is shown
 * cut at a word with an ellipsis, the whole of it in the tooltip: the status
 * bar itself would cut it mid-letter at the labels.
 */
void SetupTools::elideStatusMessage(const QString &text)
{
    QStatusBar *bar = m_window.ui->statusBar;
    int right = bar->width();
    for (QWidget *child : bar->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (child->isVisible() && child->x() > 0)
            right = std::min(right, child->x());
    const int room = right - 16;
    const QFontMetrics metrics = bar->fontMetrics();
    if (text != m_elidedMessage)
        bar->setToolTip(text);
    if (text.isEmpty() || !bar->isVisible() || room <= 0 || metrics.horizontalAdvance(text) <= room)
        return;
    m_elidedMessage = metrics.elidedText(text, Qt::ElideRight, room);
    bar->showMessage(m_elidedMessage);
}
