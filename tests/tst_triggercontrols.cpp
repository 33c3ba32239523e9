// The trigger group of the settings dialog on simulated cameras over a belt:
// the lists come from the camera, every click reaches the camera and is shown
// as the camera reports it, refusals warn, a camera without triggers stays quiet.
#include <QComboBox>
#include <QtTest>

#include <memory>

#include "dialogcamera.h"
#include "scratchdirectory.h"
#include "triggercontrols.h"

namespace {

// Belt at 3000 encoder lines per second; objects, so the frame trigger is on at open.
const char *const kTriggerCameras = "[TRG]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "object_lines = 40\ngap_lines = 8\nconveyor = 3000 for 1\n"
                                    "[TRG-NONE]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "missing_features = TriggerSelector, TriggerMode, TriggerSource, "
                                    "TriggerActivation\n"
                                    "[TRG-NOEDGE]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "missing_features = TriggerActivation\n";

const QStringList kTriggerControls = {"cbLineTrigger",  "cbxLineTriggerSource",  "cbxLineTriggerActivation",
                                      "cbFrameTrigger", "cbxFrameTriggerSource", "cbxFrameTriggerActivation"};

// The entry in force of a trigger feature, read from the camera itself.
QString entryOf(void *handle, const char *selector, const char *feature)
{
    MV_CC_SetEnumValueByString(handle, "TriggerSelector", selector);
    MVCC_ENUMENTRY_LIST list{};
    MV_CC_GetEnumEntries(handle, feature, &list);
    return QString::fromLatin1(list.chCurSymbolic);
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
    return QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat)
        .allKeys()
        .filter(QStringLiteral("Trigger"));
}

} // namespace

class TriggerControlsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window; // one for all: each costs a few hundred ms

private slots:
    void initTestCase() { m_window = std::make_unique<MainWindow>(); }
    void cleanupTestCase() { m_window.reset(); }
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void listsShowTheCamerasEntriesAndNothingIsStored()
    {
        MessageBoxRecorder boxes;
        {
            ShownDialog shown(*m_window, "TRG", kTriggerCameras);
            const QStringList sources = {"Encoder0", "Line0", "Line1", "Line2"};
            QCOMPARE(itemsOf(shown.control<QComboBox>("cbxLineTriggerSource")), sources);
            QCOMPARE(itemsOf(shown.control<QComboBox>("cbxFrameTriggerSource")), sources);
            QCOMPARE(itemsOf(shown.control<QComboBox>("cbxFrameTriggerActivation")),
                     QStringList({"RisingEdge", "FallingEdge"}));
            QCOMPARE(shown.control<QComboBox>("cbxLineTriggerSource")->currentText(), QString("Encoder0"));
            QCOMPARE(shown.control<QComboBox>("cbxFrameTriggerSource")->currentText(), QString("Line0"));
            QVERIFY(!shown.control<QCheckBox>("cbLineTrigger")->isChecked());
            QVERIFY(shown.control<QCheckBox>("cbFrameTrigger")->isChecked());
            for (const QString &name : kTriggerControls)
                QVERIFY2(shown.control<QWidget>(name)->isEnabled(), qPrintable(name));
        }
        QVERIFY(boxes.isEmpty());
        QCOMPARE(triggerKeys(), QStringList());
    }

    void lineTriggerTakesTheRateFromTheEncoder()
    {
        ShownDialog shown(*m_window, "TRG", kTriggerCameras);
        auto *lineTrigger = shown.control<QCheckBox>("cbLineTrigger");
        auto *rateField = shown.control("leAcquisitionLineRate");
        auto *actual = shown.control("leResultingLineRate");
        QVERIFY(rateField->isEnabled());
        MessageBoxRecorder boxes;

        clickIndicator(lineTrigger);
        QVERIFY(lineTrigger->isChecked());
        QCOMPARE(entryOf(shown.camera.handle(), "LineStart", "TriggerMode"), QString("On"));
        QVERIFY(!rateField->isEnabled());
        QCOMPARE(actual->text(), QString("3000"));
        QCOMPARE(triggerKeys(), QStringList({TriggerRules::kLineTrigger}));
        QCOMPARE(stored(TriggerRules::kLineTrigger).toBool(), true);

        // The dialog's own line rate control enables the field; it stays off
        // while lines come from the encoder, and the readout keeps the encoder's rate.
        clickIndicator(shown.control<QCheckBox>("cbAcquisitionLineRateEnable"));
        QVERIFY(!rateField->isEnabled());
        QVERIFY(shown.waitForReadout());
        QVERIFY(!rateField->isEnabled());
        QCOMPARE(actual->text(), QString("3000"));

        clickIndicator(lineTrigger);
        QVERIFY(!lineTrigger->isChecked());
        QCOMPARE(entryOf(shown.camera.handle(), "LineStart", "TriggerMode"), QString("Off"));
        QVERIFY(rateField->isEnabled());
        QCOMPARE(stored(TriggerRules::kLineTrigger).toBool(), false);
        QVERIFY(boxes.isEmpty());
    }

    void readoutShowsWhatTheCameraMeasuresEachTime()
    {
        ShownDialog shown(*m_window, "TRG", kTriggerCameras);
        auto *actual = shown.control("leResultingLineRate");
        clickIndicator(shown.control<QCheckBox>("cbLineTrigger"));
        QCOMPARE(actual->text(), QString("3000"));

        // The camera stops answering, then answers again: each readout says so.
        mvsim::setFault("MV_CC_GetIntValueEx", static_cast<int>(MV_E_NOTFOUND), "TRG");
        QVERIFY(shown.waitForReadout());
        QCOMPARE(actual->text(), QString("N/A"));
        mvsim::clearFaults();
        QVERIFY(shown.waitForReadout());
        QCOMPARE(actual->text(), QString("3000"));
    }

    void choosingSourceAndEdgeReachesTheCameraAndIsStored()
    {
        const char *const rows[][5] = {
            {"cbxLineTriggerSource", "LineStart", "TriggerSource", "Line0", TriggerRules::kLineTriggerSource},
            {"cbxLineTriggerActivation", "LineStart", "TriggerActivation", "FallingEdge",
             TriggerRules::kLineTriggerActivation},
            {"cbxFrameTriggerSource", "FrameStart", "TriggerSource", "Line1",
             TriggerRules::kFrameTriggerSource},
            {"cbxFrameTriggerActivation", "FrameStart", "TriggerActivation", "FallingEdge",
             TriggerRules::kFrameTriggerActivation}};
        for (const auto &row : rows) {
            ScratchDirectory scratch;
            ShownDialog shown(*m_window, "TRG", kTriggerCameras);
            auto *choice = shown.control<QComboBox>(row[0]);
            choice->setFocus(Qt::TabFocusReason);
            QTest::keyClick(choice, Qt::Key_Down);
            QCOMPARE(choice->currentText(), QLatin1String(row[3]));
            QCOMPARE(entryOf(shown.camera.handle(), row[1], row[2]), QLatin1String(row[3]));
            QCOMPARE(triggerKeys(), QStringList({row[4]}));
            QCOMPARE(stored(row[4]).toString(), QLatin1String(row[3]));
        }
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
        MessageBoxRecorder boxes;
        {
            ShownDialog shown(*m_window, qPrintable(serial), kTriggerCameras);
            for (const QString &name : kTriggerControls)
                QVERIFY2(shown.control<QWidget>(name)->isEnabled() != disabled.contains(name),
                         qPrintable(name));
            const QString shownTip = shown.control<QWidget>(disabled.first())->toolTip();
            QVERIFY2(shownTip.startsWith(tip), qPrintable(shownTip));
            // Clicks on disabled controls do nothing; an offered line trigger
            // still switches on and takes the line rate field with it.
            clickIndicator(shown.control<QCheckBox>("cbLineTrigger"));
            QTest::keyClick(shown.control<QWidget>(disabled.last()), Qt::Key_Down);
            QCOMPARE(shown.control("leAcquisitionLineRate")->isEnabled(), disabled.contains("cbLineTrigger"));
        }
        QVERIFY(boxes.isEmpty());
        QCOMPARE(triggerKeys(),
                 disabled.contains("cbLineTrigger") ? QStringList()
                                                    : QStringList({TriggerRules::kLineTrigger}));
    }

    void refusedChangeWarnsAndShowsTheCamerasValue()
    {
        ShownDialog shown(*m_window, "TRG", kTriggerCameras);
        auto *frameTrigger = shown.control<QCheckBox>("cbFrameTrigger");
        QVERIFY(frameTrigger->isChecked());
        MessageBoxRecorder boxes;
        mvsim::setFault("MV_CC_SetEnumValueByString", static_cast<int>(MV_E_ACCESS_RW), "TRG", 1);

        clickIndicator(frameTrigger);

        expectBoxes(boxes, 1, QMessageBox::Warning, QStringLiteral("Trigger Control"),
                    QStringLiteral("Failed to set frame trigger, error code: -2147483635"));
        QVERIFY(frameTrigger->isChecked());
        QCOMPARE(entryOf(shown.camera.handle(), "FrameStart", "TriggerMode"), QString("On"));
        QCOMPARE(triggerKeys(), QStringList());
    }
};

QTEST_MAIN(TriggerControlsTest)
#include "tst_triggercontrols.moc"
