// The trigger group of the settings dialog on a simulated camera: the lists
// come from the camera, every click reaches the camera and is shown as the
// camera reports it, refusals warn, a camera without triggers stays quiet.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QtTest>

#include <memory>

#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "triggercontrols.h"
#include "simcamera.h"

namespace {

// Belt at 3000 encoder lines per second; objects, so the frame trigger is on at open.
const char *const kTriggerCameras = "[TRG]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "object_lines = 40\ngap_lines = 8\nconveyor = 3000 for 1\n"
                                    "[TRG-NONE]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "missing_features = TriggerSelector, TriggerMode, TriggerSource, "
                                    "TriggerActivation\n"
                                    "[TRG-NOEDGE]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "missing_features = TriggerActivation\n"
                                    "[TRG-NOMEASURE]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "missing_features = ResultingLineRate\n"
                                    "[TRG-VARY]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "conveyor = 1000 for 0.75, 5000 for 0.75\n";

const QStringList kTriggerControls = {"cbLineTrigger",  "cbxLineTriggerSource",  "cbxLineTriggerActivation",
                                      "cbFrameTrigger", "cbxFrameTriggerSource", "cbxFrameTriggerActivation"};

// A simulated camera lent to a window as the Open action would leave it.
class LentCamera
{
public:
    LentCamera(MainWindow &window, const std::string &serial) : m_window(window), m_camera(serial)
    {
        if (m_camera.open() != MV_OK)
            qFatal("cannot open the simulated camera %s", serial.c_str());
        m_window.m_handle = m_camera.handle;
        m_window.m_isOpen = true;
    }
    ~LentCamera()
    {
        m_window.m_isOpen = false;
        m_window.m_handle = nullptr;
    }
    void *handle() const { return m_camera.handle; }

    QString entry(const char *selector, const char *feature)
    {
        MV_CC_SetEnumValueByString(m_camera.handle, "TriggerSelector", selector);
        MVCC_ENUMENTRY_LIST list{};
        MV_CC_GetEnumEntries(m_camera.handle, feature, &list);
        return QString::fromLatin1(list.chCurSymbolic);
    }

private:
    MainWindow &m_window;
    CameraHandle m_camera;
};

template<class T = QWidget>
T *control(const QObject &dialog, const QString &name)
{
    T *found = dialog.findChild<T *>(name);
    if (!found)
        qFatal("the dialog has no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

// Clicks a check box on its indicator, where a person clicks.
void clickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
}

QStringList itemsOf(const QComboBox *list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

QStringList triggerKeys()
{
    QStringList keys = QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).allKeys();
    return keys.filter(QStringLiteral("Trigger"));
}

} // namespace

class TriggerControlsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init()
    {
        m_scratch = std::make_unique<ScratchDirectory>();
        std::string error;
        if (!mvsim::configure(kTriggerCameras, &error))
            qFatal("simulated cameras rejected: %s", error.c_str());
    }
    void cleanup()
    {
        mvsim::reset();
        m_scratch.reset();
    }

    void listsShowTheCamerasEntriesAndNothingIsStored()
    {
        MainWindow window;
        LentCamera camera(window, "TRG");
        MessageBoxRecorder boxes;
        {
            settingdialog dialog(&window, &window);
            const QStringList sources = {"Encoder0", "Line0", "Line1", "Line2"};
            QCOMPARE(itemsOf(control<QComboBox>(dialog, "cbxLineTriggerSource")), sources);
            QCOMPARE(itemsOf(control<QComboBox>(dialog, "cbxFrameTriggerSource")), sources);
            QCOMPARE(itemsOf(control<QComboBox>(dialog, "cbxFrameTriggerActivation")),
                     QStringList({"RisingEdge", "FallingEdge"}));
            QCOMPARE(control<QComboBox>(dialog, "cbxLineTriggerSource")->currentText(), QString("Encoder0"));
            QCOMPARE(control<QComboBox>(dialog, "cbxFrameTriggerSource")->currentText(), QString("Line0"));
            QVERIFY(!control<QCheckBox>(dialog, "cbLineTrigger")->isChecked());
            QVERIFY(control<QCheckBox>(dialog, "cbFrameTrigger")->isChecked());
            for (const QString &name : kTriggerControls)
                QVERIFY2(control(dialog, name)->isEnabled(), qPrintable(name));
            QCOMPARE(control<QCheckBox>(dialog, "cbLineTrigger")->text(), QStringLiteral("行触发"));
            QCOMPARE(control<QCheckBox>(dialog, "cbFrameTrigger")->text(), QStringLiteral("帧触发"));
        }
        QVERIFY(boxes.isEmpty());
        QCOMPARE(triggerKeys(), QStringList());
    }

    void lineTriggerTakesTheRateFromTheEncoder()
    {
        MainWindow window;
        LentCamera camera(window, "TRG");
        settingdialog dialog(&window, &window);
        dialog.show();
        auto *lineTrigger = control<QCheckBox>(dialog, "cbLineTrigger");
        auto *rateField = control<QLineEdit>(dialog, "leAcquisitionLineRate");
        auto *actual = control<QLineEdit>(dialog, "leResultingLineRate");
        QVERIFY(rateField->isEnabled());
        MessageBoxRecorder boxes;

        clickBox(lineTrigger);
        QVERIFY(lineTrigger->isChecked());
        QCOMPARE(camera.entry("LineStart", "TriggerMode"), QString("On"));
        QVERIFY(!rateField->isEnabled());
        QCOMPARE(actual->text(), QString("3000"));
        QCOMPARE(triggerKeys(), QStringList({"Camera/LineTrigger"}));
        QCOMPARE(QSettings("setting.ini", QSettings::IniFormat).value("Camera/LineTrigger").toBool(), true);

        // The dialog's own line rate control enables the field; it stays off
        // while lines come from the encoder, and the readout keeps the encoder's rate.
        clickBox(control<QCheckBox>(dialog, "cbAcquisitionLineRateEnable"));
        QTest::qWait(250);
        QVERIFY(!rateField->isEnabled());
        QCOMPARE(actual->text(), QString("3000"));

        clickBox(lineTrigger);
        QVERIFY(!lineTrigger->isChecked());
        QCOMPARE(camera.entry("LineStart", "TriggerMode"), QString("Off"));
        QVERIFY(rateField->isEnabled());
        QCOMPARE(QSettings("setting.ini", QSettings::IniFormat).value("Camera/LineTrigger").toBool(), false);
        QVERIFY(boxes.isEmpty());
    }

    void actualLineRateShowsWhatTheCameraMeasures_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QStringList>("shown");
        // The one-second readout samples a belt that changes speed every
        // 0.75 s at three points half a period apart: it meets both speeds.
        QTest::newRow("belt changing speed") << "TRG-VARY" << QStringList({"1000", "5000"});
        QTest::newRow("nothing measured") << "TRG-NOMEASURE" << QStringList({"N/A"});
    }

    void actualLineRateShowsWhatTheCameraMeasures()
    {
        QFETCH(QString, serial);
        QFETCH(QStringList, shown);
        MainWindow window;
        LentCamera camera(window, serial.toStdString());
        settingdialog dialog(&window, &window);
        dialog.show();
        auto *actual = control<QLineEdit>(dialog, "leResultingLineRate");
        clickBox(control<QCheckBox>(dialog, "cbLineTrigger"));
        QVERIFY(!control<QLineEdit>(dialog, "leAcquisitionLineRate")->isEnabled());
        QStringList seen = {actual->text()};
        connect(actual, &QLineEdit::textChanged, this, [&seen](const QString &text) {
            if (!seen.contains(text))
                seen << text;
        });
        QTest::qWait(2100);
        seen.sort();
        QCOMPARE(seen, shown);
    }

    void choosingSourceAndEdgeReachesTheCameraAndIsStored_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QString>("feature");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("key");
        QTest::newRow("line source") << "cbxLineTriggerSource"
                                     << "LineStart"
                                     << "TriggerSource"
                                     << "Line0" << TriggerRules::kLineTriggerSource;
        QTest::newRow("line edge") << "cbxLineTriggerActivation"
                                   << "LineStart"
                                   << "TriggerActivation"
                                   << "FallingEdge" << TriggerRules::kLineTriggerActivation;
        QTest::newRow("frame source") << "cbxFrameTriggerSource"
                                      << "FrameStart"
                                      << "TriggerSource"
                                      << "Line1" << TriggerRules::kFrameTriggerSource;
        QTest::newRow("frame edge") << "cbxFrameTriggerActivation"
                                    << "FrameStart"
                                    << "TriggerActivation"
                                    << "FallingEdge" << TriggerRules::kFrameTriggerActivation;
    }

    void choosingSourceAndEdgeReachesTheCameraAndIsStored()
    {
        QFETCH(QString, list);
        QFETCH(QString, selector);
        QFETCH(QString, feature);
        QFETCH(QString, expected);
        QFETCH(QString, key);
        MainWindow window;
        LentCamera camera(window, "TRG");
        settingdialog dialog(&window, &window);
        dialog.show();
        auto *choice = control<QComboBox>(dialog, list);
        choice->setFocus();
        QTest::keyClick(choice, Qt::Key_Down);
        QCOMPARE(choice->currentText(), expected);
        QCOMPARE(camera.entry(selector.toLatin1(), feature.toLatin1()), expected);
        QCOMPARE(triggerKeys(), QStringList({key}));
        QCOMPARE(QSettings("setting.ini", QSettings::IniFormat).value(key).toString(), expected);
    }

    void lackingFeaturesDisableTheirControlsQuietly_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QString>("tip");
        QTest::newRow("no triggers") << "TRG-NONE" << kTriggerControls << "This camera has no line trigger";
        QTest::newRow("no edge") << "TRG-NOEDGE"
                                 << QStringList({"cbxLineTriggerActivation", "cbxFrameTriggerActivation"})
                                 << "This camera has no TriggerActivation for its line trigger";
    }

    void lackingFeaturesDisableTheirControlsQuietly()
    {
        QFETCH(QString, serial);
        QFETCH(QStringList, disabled);
        QFETCH(QString, tip);
        MainWindow window;
        LentCamera camera(window, serial.toStdString());
        MessageBoxRecorder boxes;
        {
            settingdialog dialog(&window, &window);
            dialog.show();
            for (const QString &name : kTriggerControls)
                QVERIFY2(control(dialog, name)->isEnabled() != disabled.contains(name), qPrintable(name));
            QVERIFY2(control(dialog, disabled.first())->toolTip().startsWith(tip),
                     qPrintable(control(dialog, disabled.first())->toolTip()));
            // Clicks on disabled controls do nothing; an offered line trigger
            // still switches on and takes the line rate field with it.
            clickBox(control<QCheckBox>(dialog, "cbLineTrigger"));
            QTest::keyClick(control(dialog, disabled.last()), Qt::Key_Down);
            QCOMPARE(control<QLineEdit>(dialog, "leAcquisitionLineRate")->isEnabled(),
                     disabled.contains("cbLineTrigger"));
        }
        QVERIFY(boxes.isEmpty());
        const QStringList keys = triggerKeys();
        QCOMPARE(keys,
                 disabled.contains("cbLineTrigger") ? QStringList() : QStringList({"Camera/LineTrigger"}));
    }

    void refusedChangeWarnsAndShowsTheCamerasValue()
    {
        MainWindow window;
        LentCamera camera(window, "TRG");
        settingdialog dialog(&window, &window);
        dialog.show();
        auto *frameTrigger = control<QCheckBox>(dialog, "cbFrameTrigger");
        QVERIFY(frameTrigger->isChecked());
        MessageBoxRecorder boxes;
        mvsim::setFault("MV_CC_SetEnumValueByString", static_cast<int>(MV_E_ACCESS_RW), "TRG", 1);

        clickBox(frameTrigger);

        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().kind, QMessageBox::Warning);
        QCOMPARE(boxes.last().title, QStringLiteral("Trigger Control"));
        QCOMPARE(boxes.last().text, QStringLiteral("Failed to set frame trigger, error code: -2147483635"));
        QVERIFY(frameTrigger->isChecked());
        QCOMPARE(camera.entry("FrameStart", "TriggerMode"), QString("On"));
        QCOMPARE(triggerKeys(), QStringList());
    }
};

QTEST_MAIN(TriggerControlsTest)
#include "tst_triggercontrols.moc"
