// Placeholder until the stitch hand-off lands.
#include "mainwindow.h"

void MainWindow::handOffBatch(const QList<QImage> &, int) {}
void MainWindow::on_actionSave_Image_triggered() {}
void MainWindow::onStitchSaveProgress(int, int) {}
void MainWindow::onStitchSaveFinished(QStringList) {}
void MainWindow::onStitchSaveFailed(QString) {}
void MainWindow::finishStitchJobs() {}
