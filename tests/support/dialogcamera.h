// What the settings dialog, trigger and snapshot tests share: a simulated
// camera lent to a MainWindow as the Open action would leave it, the settings
// file, boxes, and the dialog shown and active on such a window.
#ifndef DIALOGCAMERA_H
#define DIALOGCAMERA_H

#include <QtTest>
#include <QtWidgets>

#include "MvCameraControl.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "settingdialog.h"
#include "simcamera.h"

// An exposure of 125 us limits the first two cameras to 8000 lines/s, below their maximum of
// 20000; the second lacks line rate control. The third holds fractional exposure and gain.
inline const char *const kDialogCameras
    = "[DLG-1]\ntransport = USB3\nwidth = 64\nlines_per_frame = 16\npixel_format = Mono8\n"
      "line_rate = 1000\nmax_line_rate = 20000\nexposure_time = 125\ngain = 3.25\n"
      "[DLG-NORATE]\ntransport = USB3\nwidth = 64\nlines_per_frame = 16\npixel_format = Mono8\n"
      "line_rate = 1000\nmax_line_rate = 20000\nexposure_time = 125\nmissing_features = "
      "AcquisitionLineRateEnable\n"
      "[DLG-FRACTION]\ntransport = USB3\nwidth = 64\nlines_per_frame = 16\npixel_format = Mono8\n"
      "line_rate = 1000\nmax_line_rate = 20000\nexposure_time = 12.5\ngain = 3.7\n";

inline QVariant stored(const QString &key)
{
    return QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).value(key);
}

inline void store(const QString &key, const QVariant &value)
{
    QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).setValue(key, value);
}

inline void expectBoxes(const MessageBoxRecorder &boxes, int count, QMessageBox::Icon kind,
                        const QString &title, const QString &text)
{
    QCOMPARE(boxes.count(), count);
    for (const MessageBoxRecorder::Record &record : boxes.records()) {
        QCOMPARE(record.kind, kind);
        QCOMPARE(record.title, title);
        QCOMPARE(record.text, text);
    }
}

class SimulatedCamera
{
public:
    SimulatedCamera(MainWindow &window, const char *serial, const char *cameras = kDialogCameras)
        : m_window(window)
    {
        std::string error;
        if (!mvsim::configure(cameras, &error))
            qFatal("simulated cameras rejected: %s", error.c_str());
        for (const MV_CC_DEVICE_INFO &info : enumerateCameras())
            if (!m_handle && serialOf(info) == serial)
                MV_CC_CreateHandle(&m_handle, &info);
        if (!m_handle || MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0) != MV_OK)
            qFatal("cannot open the simulated camera %s", serial);
        // Every test starts without line rate control; a camera lacking it refuses.
        MV_CC_SetBoolValue(m_handle, "AcquisitionLineRateEnable", false);
        m_window.m_handle = m_handle;
        m_window.m_isOpen = true;
    }

    ~SimulatedCamera()
    {
        m_window.m_isOpen = false;
        m_window.m_handle = nullptr;
        MV_CC_CloseDevice(m_handle);
        MV_CC_DestroyHandle(m_handle);
        mvsim::reset();
    }

    void *handle() const { return m_handle; }

    double feature(const char *name) const
    {
        MVCC_INTVALUE_EX whole{};
        MVCC_FLOATVALUE real{};
        if (MV_CC_GetIntValueEx(m_handle, name, &whole) == MV_OK)
            return double(whole.nCurValue);
        return MV_CC_GetFloatValue(m_handle, name, &real) == MV_OK ? real.fCurValue : qQNaN();
    }

private:
    Q_DISABLE_COPY(SimulatedCamera)
    MainWindow &m_window;
    void *m_handle = nullptr;
};

template<class T = QWidget>
T *findControl(const QObject &parent, const QString &name)
{
    if (T *found = parent.findChild<T *>(name))
        return found;
    qFatal("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
}

// Clicks a check box on its indicator, where a person clicks.
inline void clickIndicator(QCheckBox *box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier,
                      box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center());
}

// The settings dialog shown and active, so that clicks, keys and focus changes reach it as on a desktop.
struct ShownDialog {
    explicit ShownDialog(MainWindow &onWindow, const char *serial, const char *cameras = kDialogCameras)
        : window(onWindow), camera(window, serial, cameras), dialog(&window, &window)
    {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        if (!QTest::qWaitForWindowActive(&dialog))
            qFatal("the settings dialog did not become active");
    }

    template<class T = QLineEdit>
    T *control(const QString &name) const
    {
        return findControl<T>(dialog, name);
    }

    // Returns once the dialog's periodic line rate readout has run again.
    bool waitForReadout() const
    {
        for (QTimer *timer : dialog.findChildren<QTimer *>()) {
            if (timer->interval() == 1000 && timer->isActive())
                return QSignalSpy(timer, &QTimer::timeout).wait(3000);
        }
        return false;
    }

    MainWindow &window;
    SimulatedCamera camera;
    settingdialog dialog;
};

#endif // DIALOGCAMERA_H
