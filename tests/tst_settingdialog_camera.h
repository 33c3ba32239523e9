// A simulated camera opened directly through the camera library and lent to a
// MainWindow, as the Open action would leave it, for the settings dialog tests.
#ifndef TST_SETTINGDIALOG_CAMERA_H
#define TST_SETTINGDIALOG_CAMERA_H

#include <QByteArray>
#include <QtTest>

#include <cstring>
#include <string>

#include "MvCameraControl.h"
#include "mainwindow.h"
#include "mvsim.h"

// Two cameras: one with line rate control, one without. An exposure of 125 us
// limits both to 8000 lines/s, below their maximum of 20000.
inline const char *const kDialogCameras = "[DLG-1]\n"
                                          "transport = USB3\n"
                                          "width = 64\nlines_per_frame = 16\npixel_format = Mono8\n"
                                          "line_rate = 1000\nmax_line_rate = 20000\n"
                                          "exposure_time = 125\ngain = 3.25\n"
                                          "[DLG-NORATE]\n"
                                          "transport = USB3\n"
                                          "width = 64\nlines_per_frame = 16\npixel_format = Mono8\n"
                                          "line_rate = 1000\nmax_line_rate = 20000\n"
                                          "exposure_time = 125\n"
                                          "missing_features = AcquisitionLineRateEnable\n";

class SimulatedCamera
{
public:
    // Installs the cameras above, opens the one with this serial and hands its
    // handle to window as an open camera, line rate control off.
    SimulatedCamera(MainWindow &window, const char *serial) : m_window(window)
    {
        std::string error;
        if (!mvsim::configure(kDialogCameras, &error))
            qFatal("simulated cameras rejected: %s", error.c_str());
        MV_CC_DEVICE_INFO_LIST list{};
        if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK)
            qFatal("no simulated cameras");
        for (unsigned int i = 0; i < list.nDeviceNum && !m_handle; ++i) {
            const MV_CC_DEVICE_INFO *info = list.pDeviceInfo[i];
            const char *found = reinterpret_cast<const char *>(info->SpecialInfo.stUsb3VInfo.chSerialNumber);
            if (std::strcmp(found, serial) == 0 && MV_CC_CreateHandle(&m_handle, info) == MV_OK
                && MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0) != MV_OK) {
                MV_CC_DestroyHandle(m_handle);
                m_handle = nullptr;
            }
        }
        if (!m_handle)
            qFatal("cannot open the simulated camera %s", serial);
        // Every test starts without line rate control, requesting 1000 lines/s;
        // the camera without the feature refuses, which changes nothing.
        MV_CC_SetBoolValue(m_handle, "AcquisitionLineRateEnable", false);
        m_window.m_handle = m_handle;
        m_window.m_isOpen = true;
    }

    ~SimulatedCamera()
    {
        if (m_window.m_handle == m_handle) {
            m_window.m_isOpen = false;
            m_window.m_handle = nullptr;
        }
        MV_CC_CloseDevice(m_handle);
        MV_CC_DestroyHandle(m_handle);
        mvsim::reset();
    }

    SimulatedCamera(const SimulatedCamera &) = delete;
    SimulatedCamera &operator=(const SimulatedCamera &) = delete;

    void *handle() const { return m_handle; }

    float floatFeature(const char *name) const
    {
        MVCC_FLOATVALUE value{};
        if (MV_CC_GetFloatValue(m_handle, name, &value) != MV_OK)
            qFatal("cannot read %s", name);
        return value.fCurValue;
    }

    qint64 intFeature(const char *name) const
    {
        MVCC_INTVALUE_EX value{};
        if (MV_CC_GetIntValueEx(m_handle, name, &value) != MV_OK)
            qFatal("cannot read %s", name);
        return value.nCurValue;
    }

    bool boolFeature(const char *name) const
    {
        bool value = false;
        if (MV_CC_GetBoolValue(m_handle, name, &value) != MV_OK)
            qFatal("cannot read %s", name);
        return value;
    }

private:
    MainWindow &m_window;
    void *m_handle = nullptr;
};

#endif // TST_SETTINGDIALOG_CAMERA_H
