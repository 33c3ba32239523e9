// Placeholder until the stitch session lands.
#include "mainwindow.h"

void MainWindow::setLiveViewVisible(bool) {}
void MainWindow::onFrameGrabbed(QImage) {}
void MainWindow::onChangeDetected(QImage, QImage, qlonglong, qlonglong) {}
void MainWindow::on_actionStitchStart_triggered() {}
void MainWindow::on_actionStitchStop_triggered() {}
void MainWindow::on_actionClearImages_triggered() {}
void MainWindow::setStitchDirection(int) {}
void MainWindow::setMaxStitchCount(int) {}
void MainWindow::onImageSavedWithIndex(int, QImage, QString) {}
