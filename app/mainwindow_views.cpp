// The two views: the live view gv with its rotation menu, and the stitch view
// gvStitch with zoom, fit and wheel scrolling.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "viewmath.h"

#include <QAction>
#include <QCoreApplication>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QMenu>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

void setStitchScale(QGraphicsView *view, double scale, Qt::ScrollBarPolicy bars)
{
    view->setTransform(QTransform::fromScale(scale, scale));
    view->setHorizontalScrollBarPolicy(bars);
    view->setVerticalScrollBarPolicy(bars);
}

void zoomStitchView(MainWindow &w, double (*step)(double))
{
    if (!w.ui->gvStitch || !w.m_stitchScene)
        return;
    w.m_autoFitStitch = false;
    setStitchScale(w.ui->gvStitch, step(w.ui->gvStitch->transform().m11()), Qt::ScrollBarAsNeeded);
}

} // namespace

/*
 * Creates the live scene with its one pixmap item and shows it in gv, set up
 * for dragging and for the rotation menu. Constructor only, GUI thread.
 */
void MainWindow::setupLiveView()
{
    m_liveScene = new QGraphicsScene(this);
    m_livePixmapItem = new QGraphicsPixmapItem;
    m_liveScene->addItem(m_livePixmapItem);
    QGraphicsView *gv = ui->gv;
    gv->setScene(m_liveScene);
    gv->setRenderHint(QPainter::SmoothPixmapTransform, true);
    gv->setDragMode(QGraphicsView::ScrollHandDrag);
    gv->setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    gv->setResizeAnchor(QGraphicsView::AnchorViewCenter);
    gv->setContextMenuPolicy(Qt::CustomContextMenu);
}

/*
 * Creates the stitch scene, when it does not exist yet, and shows it in
 * gvStitch; in every case auto fit is switched on again. GUI thread.
 */
void MainWindow::setupStitchView()
{
    if (!m_stitchScene) {
        m_stitchScene = new QGraphicsScene(this);
        m_stitchScene->setItemIndexMethod(QGraphicsScene::NoIndex);
        QGraphicsView *view = ui->gvStitch;
        view->setScene(m_stitchScene);
        view->setRenderHint(QPainter::SmoothPixmapTransform, true);
        view->setDragMode(QGraphicsView::NoDrag);
        view->viewport()->setCursor(Qt::ArrowCursor);
        view->setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
        view->setResizeAnchor(QGraphicsView::AnchorViewCenter);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setAttribute(Qt::WA_MouseTracking, true);
        view->setCacheMode(QGraphicsView::CacheBackground);
        view->setViewportUpdateMode(QGraphicsView::MinimalViewportUpdate);
        view->setOptimizationFlag(QGraphicsView::DontAdjustForAntialiasing, true);
    }
    m_autoFitStitch = true;
}

/*
 * Rescales the stitch view: with auto fit on, so that the whole scene fits the
 * viewport (scroll bars off); otherwise the current zoom is kept (scroll bars
 * as needed). Does nothing while the scene or the viewport is empty.
 * GUI thread.
 */
void MainWindow::fitStitchView()
{
    if (!ui->gvStitch || !m_stitchScene)
        return;
    QGraphicsView *view = ui->gvStitch;
    const QRectF sceneRect = m_stitchScene->sceneRect();
    const QRect viewport = view->viewport()->rect();
    if (sceneRect.isEmpty() || viewport.isEmpty())
        return;
    const double s = fitScale(viewport.size(), sceneRect.size());
    if (!(s > 0))
        return;
    if (m_autoFitStitch) {
        setStitchScale(view, s, Qt::ScrollBarAlwaysOff);
    } else {
        const double current = view->transform().m11();
        setStitchScale(view, current > 0 ? current : s, Qt::ScrollBarAsNeeded);
    }
}

/*
 * Applies the live rotation to the pixmap item about its centre and fits gv
 * to what is shown. Does nothing before the first live frame. GUI thread.
 */
void MainWindow::applyLiveRotation()
{
    if (!ui->gv || !m_livePixmapItem || m_livePixmapItem->pixmap().isNull())
        return;
    QTransform transform;
    if (m_gvRotationAngle != 0) {
        const QPointF centre = m_livePixmapItem->boundingRect().center();
        transform.translate(centre.x(), centre.y());
        transform.rotate(m_gvRotationAngle, Qt::ZAxis);
        transform.translate(-centre.x(), -centre.y());
    }
    m_livePixmapItem->setTransform(transform);
    // A fit from a zoomed-in view is measured inside its scroll bars, which
    // the view hides only at its next layout: laid out at once, a second fit
    // gives the scale every later frame gets.
    for (int fit = 0; fit < 2; ++fit) {
        if (m_gvRotationAngle == 90 || m_gvRotationAngle == 270)
            ui->gv->fitInView(m_livePixmapItem->sceneBoundingRect(), Qt::KeepAspectRatio);
        else
            ui->gv->fitInView(m_livePixmapItem, Qt::KeepAspectRatio);
        QEvent layout(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(ui->gv, &layout);
    }
}

/*
 * Zooms the stitch view in by 1.2 and switches auto fit off. GUI thread.
 */
void MainWindow::on_action_ZoomInt_triggered()
{
    zoomStitchView(*this, zoomedInScale);
}

/*
 * Fits both views to their pictures and switches auto fit on again; the
 * window state is not changed. GUI thread.
 */
void MainWindow::on_action_FullScreen_triggered()
{
    if (!ui->gvStitch || !m_stitchScene)
        return;
    m_autoFitStitch = true;
    fitStitchView();
    if (ui->gv && m_liveScene && m_livePixmapItem && !m_livePixmapItem->pixmap().isNull())
        ui->gv->fitInView(m_livePixmapItem, Qt::KeepAspectRatio);
}

/*
 * Zooms the stitch view out by 1.2, not below 0.01, and switches auto fit off.
 * GUI thread.
 */
void MainWindow::on_action_ZoomOut_triggered()
{
    zoomStitchView(*this, zoomedOutScale);
}

/*
 * The live view's context menu: rotate left or right by 90 degrees, reset, and
 * a disabled entry that shows the current angle. A choice is written to the
 * settings file and applied at once; dismissing the menu changes nothing.
 * `pos` is in gv's viewport coordinates. GUI thread; modal.
 */
void MainWindow::on_gv_customContextMenuRequested(QPoint pos)
{
    if (!ui->gv)
        return;
    QMenu menu(this);
    QAction *left = menu.addAction(tr("左旋转90°"));
    QAction *right = menu.addAction(tr("右旋转90°"));
    QAction *reset = menu.addAction(tr("重置旋转"));
    QAction *current = menu.addAction(tr("当前角度: %1°").arg(m_gvRotationAngle));
    current->setEnabled(false);

    const QPoint globalPos = ui->gv->viewport()->mapToGlobal(pos);
    QAction *chosen = m_execRotationMenu ? m_execRotationMenu(&menu, globalPos) : menu.exec(globalPos);
    LiveRotationChoice choice;
    if (chosen == left)
        choice = LiveRotationChoice::RotateLeft;
    else if (chosen == right)
        choice = LiveRotationChoice::RotateRight;
    else if (chosen == reset)
        choice = LiveRotationChoice::Reset;
    else
        return;
    m_gvRotationAngle = rotatedLiveAngle(m_gvRotationAngle, choice);
    AppSettings::setValue(AppSettings::kGvRotationAngle, m_gvRotationAngle);
    applyLiveRotation();
}

/*
 * Refits the stitch view after the window's own resize handling. GUI thread.
 */
void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    fitStitchView();
}

/*
 * Wheel events that reach the window: over the live view they zoom it by 1.1
 * or 0.9 without limit; over the stitch view they scroll it sideways by 40;
 * elsewhere the base class handles them. GUI thread.
 */
void MainWindow::wheelEvent(QWheelEvent *event)
{
    const bool up = event->angleDelta().y() > 0;
    if (ui->gv && ui->gv->testAttribute(Qt::WA_UnderMouse)) {
        const double factor = up ? 1.1 : 0.9;
        ui->gv->scale(factor, factor);
        event->accept();
    } else if (ui->gvStitch && ui->gvStitch->testAttribute(Qt::WA_UnderMouse)) {
        QScrollBar *bar = ui->gvStitch->horizontalScrollBar();
        bar->setValue(bar->value() + (up ? -40 : 40));
        event->accept();
    } else {
        QMainWindow::wheelEvent(event);
    }
}
