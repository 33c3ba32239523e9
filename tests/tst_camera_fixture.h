// A main window on simulated cameras, for the camera tests.
#ifndef TST_CAMERA_FIXTURE_H
#define TST_CAMERA_FIXTURE_H

#include <QAction>
#include <QComboBox>
#include <QtTest>

#include <memory>
#include <string>

#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "scratchdirectory.h"

/*
 * A GigE and a USB3 camera, small and quick: 64 pixels per line, 16 lines per
 * frame. The GigE model name has a double and a trailing blank on purpose.
 */
inline const char *twoSmallCameras()
{
    return "[gige]\n"
           "transport = GigE\n"
           "manufacturer = Maker\n"
           "model = MV  CA 050 \n"
           "serial = G1\n"
           "address = 10.1.2.3\n"
           "width = 64\nlines_per_frame = 16\npixel_format = Mono8\nline_rate = 4000\n"
           "[usb]\n"
           "transport = USB3\n"
           "manufacturer = Maker\n"
           "model = Line RGB\n"
           "serial = U7\n"
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

/*
 * A window in a private working directory, with every message box recorded.
 * The window searches for cameras one second after it is built; make() waits
 * for that search so that it cannot interfere with the test, and then
 * forgets the boxes it may have shown. A test that never looks at the device
 * list nor at the boxes may skip the wait.
 */
struct CameraWindow {
    ScratchDirectory scratch;
    MessageBoxRecorder boxes;
    std::unique_ptr<MainWindow> window;

    bool make(bool waitForStartupSearch = true)
    {
        window = std::make_unique<MainWindow>();
        if (waitForStartupSearch)
            QTest::qWait(1150);
        boxes.clear();
        return window != nullptr;
    }

    // Searches, opens the entry at `entry` through the window's slots (no action state involved).
    bool openEntry(int entry)
    {
        QMetaObject::invokeMethod(window.get(), "on_actionCameraSearch_triggered");
        QComboBox *devices = window->findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
        if (!devices || entry >= devices->count())
            return false;
        devices->setCurrentIndex(entry);
        QMetaObject::invokeMethod(window.get(), "on_actionCameraOpen_triggered");
        return window->m_isOpen && window->m_handle;
    }

    bool start()
    {
        QMetaObject::invokeMethod(window.get(), "on_actionCameraStart_triggered");
        return window->m_isGrabbing;
    }

    void stop() { QMetaObject::invokeMethod(window.get(), "on_actionCameraStop_triggered"); }
    void close() { QMetaObject::invokeMethod(window.get(), "on_actionCameraClose_triggered"); }
};

#endif // TST_CAMERA_FIXTURE_H
