// A main window on simulated cameras, for the camera tests.
#ifndef CAMERAWINDOW_H
#define CAMERAWINDOW_H

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QComboBox>
#include <QtTest>

#include <memory>
#include <string>

#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "scratchdirectory.h"

// 64 x 16 GigE and 32 x 8 USB3; the GigE model has a double and a trailing blank on purpose.
inline const char *twoSmallCameras()
{
    return "[gige]\ntransport = GigE\nmanufacturer = Maker\nmodel = MV  CA 050 \nserial = G1\n"
           "address = 10.1.2.3\nwidth = 64\nlines_per_frame = 16\npixel_format = Mono8\nline_rate = 4000\n"
           "[usb]\ntransport = USB3\nmanufacturer = Maker\nmodel = Line RGB\nserial = U7\n"
           "width = 32\nlines_per_frame = 8\npixel_format = RGB8\nline_rate = 4000\n";
}

inline bool installCameras(const std::string &ini)
{
    std::string error;
    const bool ok = mvsim::configure(ini, &error);
    if (!ok)
        qWarning("simulator configuration refused: %s", error.c_str());
    return ok;
}

// Whether another handle can open the device, i.e. the window released its exclusive access.
inline bool deviceIsFree(const MV_CC_DEVICE_INFO &device)
{
    void *handle = nullptr;
    if (MV_CC_CreateHandle(&handle, &device) != MV_OK)
        return false;
    const bool opened = MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0) == MV_OK;
    MV_CC_CloseDevice(handle);
    MV_CC_DestroyHandle(handle);
    return opened;
}

inline QAction *windowAction(MainWindow &window, const char *name)
{
    return window.findChild<QAction *>(QString::fromLatin1(name));
}

// The window searches for cameras once, a second after it is built. Rather than sit that second
// out, the search's pending single-shot timer (a child of the event dispatcher) is fired now.
// Returns whether such a timer was found.
inline bool firePendingStartupSearch()
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    for (QObject *timer : dispatcher->children()) {
        for (const QAbstractEventDispatcher::TimerInfo &info : dispatcher->registeredTimers(timer)) {
            if (info.interval == 1000) {
                QTimerEvent event(info.timerId);
                QCoreApplication::sendEvent(timer, &event); // runs the search, deletes the timer
                return true;
            }
        }
    }
    return false;
}

// A window in a private directory, with every box recorded; make() has the window's start-up
// search run and end first (it fills the camera list or says "No device!"), so that it cannot
// interfere with the test.
struct CameraWindow {
    ScratchDirectory scratch;
    MessageBoxRecorder boxes;
    std::unique_ptr<MainWindow> window;

    bool make(bool waitForStartupSearch = true)
    {
        window = std::make_unique<MainWindow>();
        if (waitForStartupSearch) {
            firePendingStartupSearch();
            QComboBox *devices = window->findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
            if (!QTest::qWaitFor([&] { return devices->count() > 0 || !boxes.isEmpty(); }, 5000))
                return false;
        }
        boxes.clear();
        return window != nullptr;
    }

    // Runs a toolbar action as its button does; a disabled action does nothing.
    void trigger(const char *action)
    {
        if (QAction *a = windowAction(*window, action))
            a->trigger();
    }

    // Searches and opens the entry at `entry` through the window's actions.
    bool openEntry(int entry)
    {
        trigger("actionCameraSearch");
        QComboBox *devices = window->findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
        if (!devices || entry >= devices->count())
            return false;
        devices->setCurrentIndex(entry);
        trigger("actionCameraOpen");
        return window->m_isOpen && window->m_handle;
    }

    bool start()
    {
        trigger("actionCameraStart");
        return window->m_isGrabbing;
    }

    void stop() { trigger("actionCameraStop"); }
};

#endif // CAMERAWINDOW_H
