// Placeholder until the views land.
#include "mainwindow.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>

void MainWindow::setupLiveView() {}
void MainWindow::setupStitchView() {}
void MainWindow::fitStitchView() {}
void MainWindow::applyLiveRotation() {}
void MainWindow::on_action_ZoomInt_triggered() {}
void MainWindow::on_action_ZoomOut_triggered() {}
void MainWindow::on_action_FullScreen_triggered() {}
void MainWindow::on_gv_customContextMenuRequested(QPoint) {}
void MainWindow::resizeEvent(QResizeEvent *event) { QMainWindow::resizeEvent(event); }
void MainWindow::wheelEvent(QWheelEvent *event) { QMainWindow::wheelEvent(event); }
