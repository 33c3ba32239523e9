// The window on a camera, driven through its toolbar: search, open, start, stop and close; a camera
// that fails, hangs or vanishes never freezes the window nor leaves a button showing the wrong state.
#include <QtTest>

#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QToolBar>

#include <dlfcn.h>

#include <atomic>
#include <cstring>

#include "appsettings.h"
#include "camerawindow.h"
#include "triggerrules.h"
#include "windowdestroyedfilter.h"
#include "workthread.h"

static std::atomic<int> fetchesInProgress{0}, fetchesStarted{0};

// The grab loop's fetch, counted while it is in progress so that a test can see it waiting.
extern "C" int MV_CC_GetOneFrameTimeout(void *handle, unsigned char *data, unsigned int size,
                                        MV_FRAME_OUT_INFO_EX *info, unsigned int timeoutMs)
{
    using Fetch = int (*)(void *, unsigned char *, unsigned int, MV_FRAME_OUT_INFO_EX *, unsigned int);
    static const auto library = reinterpret_cast<Fetch>(dlsym(RTLD_NEXT, "MV_CC_GetOneFrameTimeout"));
    ++fetchesInProgress;
    ++fetchesStarted;
    const int result = library(handle, data, size, info, timeoutMs);
    --fetchesInProgress;
    return result;
}

class CameraWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(remake(twoSmallCameras())); }
    void cleanup()
    {
        m_fixture.reset();
        qputenv("CORVISTA_CAMERAS", "simulator");
        mvsim::reset();
    }

    // After each click the buttons show the camera's state, so the next never acts twice or undoes
    // itself. A refused open says why once and leaves the camera free; packet size only warns.
    void toolbarFollowsTheCamera_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("grabbing");
        QTest::addColumn<QStringList>("boxes");
        const auto row = [](const char *steps, bool open, bool grabbing, QStringList boxes = {}) {
            QTest::newRow(steps) << QString(steps) << open << grabbing << boxes;
        };
        row("open open", false, false);
        row("open start start", true, false);
        row("open start stop", true, false);
        row("open start close", false, false);
        row("open start open", false, false);
        row("start", false, false, {"Please open a camera first!"});
        row("nocam search open open", false, false,
            {"No device!", "Please choose camera!", "Please choose camera!"});
        row("fail:MV_CC_EnumDevices search open", false, false, {"No device!", "Please choose camera!"});
        row("open start vanish", true, false, {"Camera disconnected!"});
        row("open start vanish open back search open start", true, true, {"Camera disconnected!"});
        row("index:2 open", false, false, {"Device index is error!"});
        row("norecord open", false, false, {"Device does not exist!"});
        row("fail:MV_CC_CreateHandle open", false, false, {"Create handle error!"});
        row("fail:MV_CC_OpenDevice open", false, false, {"Device Open error!"});
        row("fail:MV_CC_GetOptimalPacketSize open start", true, true, {"Warning: Get Packet Size fail!"});
        row("fail:MV_CC_SetIntValueEx open", true, false, {"Warning: Set Packet Size fail!"});
        row("index:1 fail:MV_CC_GetOptimalPacketSize fail:MV_CC_SetIntValueEx open", true, false);
    }
    void toolbarFollowsTheCamera()
    {
        QFETCH(QString, steps);
        QFETCH(bool, open);
        QFETCH(bool, grabbing);
        QFETCH(QStringList, boxes);
        window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
        const MV_CC_DEVICE_INFO device = *window().m_deviceList.pDeviceInfo[0];
        const QLabel *label = window().findChild<QLabel *>("dataitemLabel");
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            if (window().m_isOpen && (step == "close" || step == "open"))
                window().m_livePixmapItem->setPixmap(QPixmap(8, 8)); // closing must blank it
            if (step == "nocam" || step == "back") {
                QVERIFY(step == "nocam" ? qputenv("CORVISTA_CAMERAS", "none")
                                        : installCameras(twoSmallCameras()));
            } else if (step == "search") {
                click("actionCameraSearch");
            } else if (step.startsWith("fail:")) {
                mvsim::setFault(step.mid(5).toStdString(), int(MV_E_ACCESS));
            } else if (step.startsWith("index:")) {
                window().m_deviceIndex = step.mid(6).toInt(); // as the list's entry sets it, or past it
            } else if (step == "norecord") {
                window().m_deviceList.pDeviceInfo[0] = nullptr;
            } else if (step == "vanish") {
                mvsim::vanishAfter("G1", 2);
                QVERIFY(m_fixture->boxes.waitForCount(m_fixture->boxes.count() + 1));
            } else if (step == "stop" || step == "close") {
                QAction *a = action(step == "stop" ? "actionCameraStop" : "actionCameraClose");
                QVERIFY(a->isEnabled());
                a->trigger();
            } else if (step == "start") {
                const bool starting = !action("actionCameraStart")->isChecked() && window().m_isOpen;
                window().session().setShownBatch({QImage(4, 4, QImage::Format_Grayscale8)});
                window().m_stitchScene->addRect(0, 0, 4, 4);
                click("actionCameraStart");
                // A click that starts a camera clears the images shown before; without one they stay.
                QCOMPARE(window().session().shownBatch().isEmpty(), starting);
                QCOMPARE(window().m_stitchScene->items().isEmpty(), starting);
            } else {
                click("actionCameraOpen");
            }
            static const QRegularExpression count(QStringLiteral(R"(\[(\d+)\])")); // frames come in, counted
            QTRY_VERIFY(!window().m_isGrabbing || count.match(label->text()).captured(1).toInt() >= 3);
        }
        QCOMPARE(action("actionCameraOpen")->isChecked(), open);
        QCOMPARE(window().m_isOpen, open);
        QCOMPARE(action("actionCameraStart")->isChecked(), grabbing);
        QCOMPARE(window().m_isGrabbing, grabbing);
        QCOMPARE(window().m_workThread->isRunning(), grabbing);
        QCOMPARE(window().session().isCollecting(), grabbing);
        QVERIFY(action("actionStitchStart")->isEnabled() != grabbing
                && action("actionStitchStop")->isEnabled() == grabbing);
        QCOMPARE(m_fixture->boxes.texts(), boxes);
        if (open) { // kept for file names
            const bool gige = window().m_deviceInfo.nTLayerType == MV_GIGE_DEVICE;
            QCOMPARE(window().m_cameraModelName, QString(gige ? "MV_CA_050" : "Line_RGB"));
        } else {
            QCoreApplication::sendPostedEvents(); // a frame still queued must not show again
            QVERIFY(window().m_livePixmapItem->pixmap().isNull());
            qputenv("CORVISTA_CAMERAS", "simulator");
            mvsim::clearFaults();
            QVERIFY(deviceIsFree(device));
        }
    }

    // What the last run left in setting.ini reaches the camera as it opens; a value it refuses is
    // named once in the status bar, and the others are taken all the same.
    void storedCameraSettingsReachTheOpenedCamera()
    {
        using namespace AppSettings;
        using namespace TriggerRules;
        setValues({{kExposure, 250.5},
                   {kGain, 30},
                   {kLineRateEnable, true},
                   {kLineRate, 3000},
                   {kLineTrigger, true},
                   {kLineTriggerSource, "Line2"},
                   {kLineTriggerActivation, "FallingEdge"},
                   {kFrameTriggerSource, "Line1"}});
        QVERIFY(m_fixture->openEntry(0));
        void *camera = window().m_handle;
        MVCC_FLOATVALUE exposure{}, gain{};
        QCOMPARE(MV_CC_GetFloatValue(camera, "ExposureTime", &exposure), int(MV_OK));
        QCOMPARE(MV_CC_GetFloatValue(camera, "Gain", &gain), int(MV_OK));
        QCOMPARE(QPointF(exposure.fCurValue, gain.fCurValue), QPointF(250.5, 0)); // 30 dB is out of range
        bool rateControl = false;
        MVCC_INTVALUE_EX rate{};
        QCOMPARE(MV_CC_GetBoolValue(camera, "AcquisitionLineRateEnable", &rateControl), int(MV_OK));
        QCOMPARE(MV_CC_GetIntValueEx(camera, "AcquisitionLineRate", &rate), int(MV_OK));
        QVERIFY(rateControl);
        QCOMPARE(rate.nCurValue, 3000);
        const TriggerState lines = readTrigger(window().camera(), "LineStart"),
                           frames = readTrigger(window().camera(), "FrameStart");
        QCOMPARE(QStringList({lines.mode.current, lines.source.current, lines.activation.current}),
                 QStringList({"On", "Line2", "FallingEdge"}));
        QCOMPARE(QStringList({frames.mode.current, frames.source.current}), QStringList({"Off", "Line1"}));
        const QString status = window().statusBar()->currentMessage();
        QVERIFY2(status.count(QLatin1String("MV_E_")) == 1 && status.contains(QLatin1String("gain 30 dB")),
                 qPrintable(status));
        QVERIFY(m_fixture->boxes.isEmpty());
    }

    void stopWhileTheFetchWaitsReturnsPromptly()
    {
        // 60000 lines at 10 lines per second: no frame comes while the test runs.
        QVERIFY(remake("[slow]\ntransport = USB3\nserial = S1\nwidth = 16\nlines_per_frame = 60000\n"
                       "pixel_format = Mono8\nline_rate = 10\n"));
        QVERIFY(m_fixture->openEntry(0));
        QVERIFY(m_fixture->start());
        // Stop right after a fetch began: it waits up to a second, and a Stop that let it time out
        // would take about that long.
        const int started = fetchesStarted.load();
        QVERIFY(QTest::qWaitFor([&] { return fetchesStarted.load() > started; }, 3000));
        QCOMPARE(fetchesInProgress.load(), 1);
        QElapsedTimer stopping;
        stopping.start();
        m_fixture->stop();
        QVERIFY2(stopping.elapsed() < 600, qPrintable(QString::number(stopping.elapsed())));
        QVERIFY(!window().m_workThread->isRunning() && !window().m_isGrabbing);
    }

    void destroyedNativeWindowClosesTheWindow()
    {
        // {event type, the shown window's or another's, closes}; bit 7 marks one a client sent.
        for (const auto &[type, own, closes] : {std::tuple(17, true, true), std::tuple(17 | 0x80, true, true),
                                                std::tuple(17, false, false), std::tuple(18, true, false)}) {
            QWidget shown;
            shown.show();
            QVERIFY(QTest::qWaitForWindowExposed(&shown));
            WindowDestroyedFilter filter(&shown);
            QByteArray event(32, '\0'); // as the X server sends it
            event[0] = char(type);
            const quint32 id = quint32(shown.winId()) + (own ? 0 : 1);
            std::memcpy(event.data() + 8, &id, sizeof id);
            QVERIFY(
                !filter.nativeEventFilter("xcb_generic_event_t", event.data(), nullptr)); // Qt sees it too
            QCoreApplication::sendPostedEvents();
            QCOMPARE(shown.isVisible(), !closes);
        }
    }

private:
    MainWindow &window() { return *m_fixture->window; }
    QAction *action(const char *name) { return windowAction(window(), name); }
    void click(const char *name)
    {
        QAction *a = action(name);
        QVERIFY(a->isEnabled());
        QTest::mouseClick(window().findChild<QToolBar *>("mainToolBar")->widgetForAction(a), Qt::LeftButton);
    }
    bool remake(const char *ini)
    {
        m_fixture.reset();
        mvsim::reset();
        m_fixture = std::make_unique<CameraWindow>();
        return installCameras(ini) && m_fixture->make();
    }

    std::unique_ptr<CameraWindow> m_fixture;
};

QTEST_MAIN(CameraWindowTest)
#include "tst_camera_window.moc"
