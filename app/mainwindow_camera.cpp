// Placeholder until device search, connection and grabbing land.
#include "mainwindow.h"

void MainWindow::on_cbSearchDevices_currentIndexChanged(int) {}
void MainWindow::onFrameInfoUpdated(uint, int, int, qlonglong, qlonglong, int, int, double) {}
void MainWindow::on_actionCameraStart_triggered() {}
void MainWindow::on_actionCameraStop_triggered() {}
void MainWindow::on_actionCameraSearch_triggered() {}
void MainWindow::on_actionCameraOpen_triggered() {}
void MainWindow::on_actionCameraClose_triggered() {}
void MainWindow::on_actionCameraOpen_triggered(bool) {}
void MainWindow::on_actionCameraStart_triggered(bool) {}
void MainWindow::stopGrabThread() {}
void MainWindow::releaseCamera() {}
