// The trigger group of the settings dialog on simulated cameras over a belt: lists from the camera,
// every change reaches it and is shown as it reports, refusals warn, missing features stay quiet.
#include "dialogcamera.h"
#include "scratchdirectory.h"
#include "triggercontrols.h"

using namespace TriggerRules;

namespace {

// Belt at 3000 encoder lines per second; objects, so the frame trigger is on at open.
const char *const kTriggerCameras = "[TRG]\nwidth = 64\nlines_per_frame = 16\nline_rate = 1000\n"
                                    "object_lines = 40\ngap_lines = 8\nconveyor = 3000 for 1\n"
                                    "[TRG-NONE]\nmissing_features = TriggerSelector\n"
                                    "[TRG-NOEDGE]\nmissing_features = TriggerActivation\n";

const QStringList kTriggerControls = {"cbLineTrigger",  "cbxLineTriggerSource",  "cbxLineTriggerActivation",
                                      "cbFrameTrigger", "cbxFrameTriggerSource", "cbxFrameTriggerActivation"};

QString entryOf(void *handle, const char *selector, const char *feature)
{
    MV_CC_SetEnumValueByString(handle, "TriggerSelector", selector);
    MVCC_ENUMENTRY_LIST list{};
    MV_CC_GetEnumEntries(handle, feature, &list);
    return QString::fromLatin1(list.chCurSymbolic);
}

QStringList triggerKeys()
{
    return QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).allKeys().filter("Trigger");
}

} // namespace

class TriggerControlsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    SessionOptions m_options;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void controlsOfferWhatTheCameraHas_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QStringList>("disabled");
        QTest::newRow("all triggers") << "TRG" << QStringList();
        QTest::newRow("no triggers") << "TRG-NONE" << kTriggerControls;
        QTest::newRow("no edge") << "TRG-NOEDGE"
                                 << QStringList({"cbxLineTriggerActivation", "cbxFrameTriggerActivation"});
    }

    void controlsOfferWhatTheCameraHas()
    {
        QFETCH(QString, serial);
        QFETCH(QStringList, disabled);
        MessageBoxRecorder boxes;
        ShownDialog shown(m_options, qPrintable(serial), kTriggerCameras);
        for (const QString &name : kTriggerControls)
            QVERIFY2(shown.control<QWidget>(name)->isEnabled() != disabled.contains(name), qPrintable(name));
        QVERIFY(!shown.control<QCheckBox>("cbLineTrigger")->isChecked());
        QCOMPARE(shown.control<QCheckBox>("cbFrameTrigger")->isChecked(), serial == QLatin1String("TRG"));
        QCOMPARE(triggerKeys(), QStringList()); // opening stores nothing
        // Clicks on disabled controls do nothing; an offered line trigger
        // switches on and takes the line rate field with it.
        clickIndicator(shown.control<QCheckBox>("cbLineTrigger"));
        if (!disabled.isEmpty())
            QTest::keyClick(shown.control<QWidget>(disabled.last()), Qt::Key_Down);
        QCOMPARE(shown.control("leAcquisitionLineRate")->isEnabled(), disabled.contains("cbLineTrigger"));
        QVERIFY(boxes.isEmpty());
        QCOMPARE(triggerKeys(),
                 disabled.contains("cbLineTrigger") ? QStringList() : QStringList({kLineTrigger}));
    }

    void lineTriggerTakesTheRateFromTheEncoder()
    {
        ShownDialog shown(m_options, "TRG", kTriggerCameras);
        auto *lineTrigger = shown.control<QCheckBox>("cbLineTrigger");
        auto *rateField = shown.control("leAcquisitionLineRate");
        auto *actual = shown.control("leResultingLineRate");
        MessageBoxRecorder boxes;

        clickIndicator(lineTrigger);
        QVERIFY(lineTrigger->isChecked());
        QCOMPARE(entryOf(shown.camera.handle(), "LineStart", "TriggerMode"), QString("On"));
        QCOMPARE(actual->text(), QString("3000"));
        QCOMPARE(stored(kLineTrigger).toBool(), true);
        // The rate field stays off while lines come from the encoder, even with rate control on;
        // each readout shows what the camera measures, or that it does not answer.
        clickIndicator(shown.control<QCheckBox>("cbAcquisitionLineRateEnable"));
        QVERIFY(!rateField->isEnabled());
        mvsim::setFault("MV_CC_GetIntValueEx", static_cast<int>(MV_E_NOTFOUND), "TRG");
        QVERIFY(shown.waitForReadout());
        QCOMPARE(actual->text(), QString("N/A"));
        mvsim::clearFaults();
        QVERIFY(shown.waitForReadout());
        QCOMPARE(actual->text(), QString("3000"));

        clickIndicator(lineTrigger);
        QVERIFY(!lineTrigger->isChecked());
        QCOMPARE(entryOf(shown.camera.handle(), "LineStart", "TriggerMode"), QString("Off"));
        QVERIFY(rateField->isEnabled());
        QCOMPARE(stored(kLineTrigger).toBool(), false);
        QVERIFY(boxes.isEmpty());
        // A refused change warns, shows the camera's value and stores nothing.
        auto *frameTrigger = shown.control<QCheckBox>("cbFrameTrigger");
        mvsim::setFault("MV_CC_SetEnumValueByString", static_cast<int>(MV_E_ACCESS_RW), "TRG", 1);
        clickIndicator(frameTrigger);
        QCOMPARE(boxes.count(), 1);
        QVERIFY2(boxes.last().text.contains(QLatin1String("frame trigger"))
                     && boxes.last().text.contains(QLatin1String("MV_E_ACCESS_RW")),
                 qPrintable(boxes.last().text));
        QVERIFY(frameTrigger->isChecked());
        QCOMPARE(entryOf(shown.camera.handle(), "FrameStart", "TriggerMode"), QString("On"));
        QCOMPARE(triggerKeys(), QStringList({kLineTrigger}));
    }

    void choosingFromTheCamerasListReachesTheCameraAndIsStored()
    {
        const QString sources = QStringLiteral("Encoder0 Line0 Line1 Line2");
        const QString edges = QStringLiteral("RisingEdge: RisingEdge FallingEdge");
        const struct {
            const char *list;
            QString items; // the entry in force first
            const char *selector, *feature, *key;
        } rows[] = {
            {"cbxLineTriggerSource", "Encoder0: " + sources, "LineStart", "TriggerSource",
             kLineTriggerSource},
            {"cbxLineTriggerActivation", edges, "LineStart", "TriggerActivation", kLineTriggerActivation},
            {"cbxFrameTriggerSource", "Line0: " + sources, "FrameStart", "TriggerSource",
             kFrameTriggerSource},
            {"cbxFrameTriggerActivation", edges, "FrameStart", "TriggerActivation", kFrameTriggerActivation}};
        ShownDialog shown(m_options, "TRG", kTriggerCameras);
        for (const auto &row : rows) {
            auto *choice = shown.control<QComboBox>(row.list);
            QStringList entries;
            for (int i = 0; i < choice->count(); ++i)
                entries << choice->itemText(i);
            QCOMPARE(choice->currentText() + ": " + entries.join(' '), row.items);
            choice->setFocus(Qt::TabFocusReason);
            QTest::keyClick(choice, Qt::Key_Down);
            const QString next = entries.value(entries.indexOf(row.items.section(':', 0, 0)) + 1);
            QCOMPARE(choice->currentText(), next);
            QCOMPARE(entryOf(shown.camera.handle(), row.selector, row.feature), next);
            QCOMPARE(stored(row.key).toString(), next);
            QCOMPARE(triggerKeys().size(), int(&row - rows) + 1);
        }
    }
};

QTEST_MAIN(TriggerControlsTest)
#include "tst_triggercontrols.moc"
