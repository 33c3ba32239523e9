#ifndef STITCHINGWINDOW_H
#define STITCHINGWINDOW_H

// The main window on a simulated camera, set up as an operator leaves it for
// stitching, for the end-to-end tests that read the saved files back.
#include <QComboBox>
#include <QtTest>

#include <atomic>
#include <memory>

#include "appsettings.h"
#include "mainwindow.h"
#include "mvsim.h"
#include "stitchworker.h"
#include "ui_mainwindow.h"

struct StitchSettings {
    int direction = 0;
    int frameCount = 15;
    bool partial = true;
    QString format = QStringLiteral("PNG");
    QString outDir;
};

// Settings as the operator left them, then the window, then the camera with
// this serial searched for, chosen and opened through the window's actions.
// A failed step fails the test; window is then not open.
inline void openStitchingWindow(std::unique_ptr<MainWindow> &window, const QString &cameraConfig,
                                const char *serial, const StitchSettings &settings)
{
    std::string error;
    QVERIFY2(mvsim::configure(cameraConfig.toStdString(), &error), error.c_str());
    AppSettings::setValue(AppSettings::kStitchDirection, settings.direction);
    AppSettings::setValue(AppSettings::kMaxStitchCount, settings.frameCount);
    AppSettings::setValue(AppSettings::kPartialStitch, settings.partial);
    AppSettings::setValue(AppSettings::kSaveStitchImage, true);
    AppSettings::setValue(AppSettings::kFormat, settings.format);
    AppSettings::setValue(AppSettings::kSaveDir, settings.outDir);
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->findChild<QAction *>(QStringLiteral("actionCameraSearch"))->trigger();
    const int entry = window->ui->cbSearchDevices->findText(QLatin1String(serial), Qt::MatchContains);
    QVERIFY(entry >= 0);
    window->ui->cbSearchDevices->setCurrentIndex(entry);
    window->findChild<QAction *>(QStringLiteral("actionCameraOpen"))->trigger();
    QVERIFY(window->m_isOpen);
}

// Runs the event loop until the stitch worker has run every job posted to it
// so far, and the window has taken their reports.
inline bool waitForStitchWorker(MainWindow &window)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    // The worker's thread takes the call as soon as the saves before it have
    // started; their results may still be due from its helper threads.
    StitchWorker *worker = window.session().worker();
    QMetaObject::invokeMethod(
        worker,
        [worker, done] {
            worker->waitForSaves();
            done->store(true);
        },
        Qt::QueuedConnection);
    if (!QTest::qWaitFor([&] { return done->load(); }, 30000))
        return false;
    QCoreApplication::processEvents();
    return true;
}

#endif // STITCHINGWINDOW_H
