// Placeholder until the settings dialog lands.
#include "mainwindow.h"

void MainWindow::on_actionSetting_triggered() {}
int MainWindow::saveCurrentFrame(const QString &, int, int) { return static_cast<int>(MV_E_SUPPORT); }
