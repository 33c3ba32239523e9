// What the settings dialog, trigger and snapshot tests share: a simulated camera opened as the Open
// action would leave it, the settings file, boxes, and the dialog shown and active on such a camera.
#ifndef DIALOGCAMERA_H
#define DIALOGCAMERA_H

#include <QtTest>
#include <QtWidgets>

#include "acquisitionsession.h"
#include "camera.h"
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

// Opens the simulated camera `serial` in `camera` as the Open action would leave it.
inline void openSimulatedCamera(Camera &camera, const char *serial, const char *cameras = kDialogCameras)
{
    std::string error;
    if (!mvsim::configure(cameras, &error))
        qFatal("simulated cameras rejected: %s", error.c_str());
    for (const MV_CC_DEVICE_INFO &info : enumerateCameras())
        if (!camera.hasHandle() && serialOf(info) == serial)
            camera.open(info);
    if (!camera.hasHandle())
        qFatal("cannot open the simulated camera %s", serial);
    // Every test starts without line rate control; a camera lacking it refuses.
    camera.setBool("AcquisitionLineRateEnable", false);
}

// A simulated camera of the test's own; the simulator forgets it with the camera.
class SimulatedCamera : public Camera
{
public:
    explicit SimulatedCamera(const char *serial, const char *cameras = kDialogCameras)
    {
        openSimulatedCamera(*this, serial, cameras);
    }
    ~SimulatedCamera()
    {
        close();
        mvsim::reset();
    }
    double feature(const char *name) const
    {
        IntFeature whole;
        FloatFeature real;
        if (intFeature(name, &whole) == MV_OK)
            return double(whole.current);
        return floatFeature(name, &real) == MV_OK ? real.current : qQNaN();
    }
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

// The dialog on a camera of its own, shown and active as on a desktop; direction and count reach options.
struct ShownDialog {
    ShownDialog(SessionOptions &inForce, const char *serial, const char *cameras = kDialogCameras)
        : options(inForce), camera(serial, cameras), dialog(&camera, options)
    {
        const auto keep = [](int &option) { return [&option](int chosen) { option = chosen; }; };
        QObject::connect(&dialog, &settingdialog::stitchDirectionChosen, keep(options.stitchDirection));
        QObject::connect(&dialog, &settingdialog::maxStitchCountChosen, keep(options.maxStitchCount));
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

    SessionOptions &options;
    SimulatedCamera camera;
    settingdialog dialog;
};

#endif // DIALOGCAMERA_H
