// The window on a camera, driven through its toolbar: search, open, start, stop and close; a camera
// that fails, hangs or vanishes never freezes the window nor leaves a button showing the wrong state.
#include <QtTest>

#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QRegularExpression>
#include <QToolBar>

#include <dlfcn.h>

#include <atomic>
#include <cstring>

#include "camerawindow.h"
#include "windowdestroyedfilter.h"
#include "workthread.h"

namespace {

std::atomic<int> fetchesInProgress{0};
std::atomic<int> fetchesStarted{0};

} // namespace

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

    void searchListsTheCamerasOrSaysNoDeviceOnce_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("box"); // icon of the one box, NoIcon: none
        QTest::newRow("two cameras") << "" << 2 << int(QMessageBox::NoIcon);
        QTest::newRow("no camera attached") << "none" << 0 << int(QMessageBox::Information);
        QTest::newRow("enumeration fails") << "fails" << 0 << int(QMessageBox::Critical);
    }
    void searchListsTheCamerasOrSaysNoDeviceOnce()
    {
        QFETCH(QString, trouble);
        QFETCH(int, entries);
        QFETCH(int, box);
        click("actionCameraSearch"); // a search over a full list starts afresh
        if (trouble == "none")
            qputenv("CORVISTA_CAMERAS", "none");
        else if (trouble == "fails")
            mvsim::setFault("MV_CC_EnumDevices", int(MV_E_RESOURCE));
        click("actionCameraSearch");
        QCOMPARE(devices()->count(), entries);
        QCOMPARE(m_fixture->boxes.count(), box == QMessageBox::NoIcon ? 0 : 1);
        if (entries == 0) {
            QCOMPARE(int(m_fixture->boxes.last().kind), box);
            QCOMPARE(window().m_deviceIndex, -1);
        } else {
            QVERIFY(devices()->itemText(1).contains(QStringLiteral("(U7)")));
            QCOMPARE(window().m_deviceIndex, 0);
        }
    }

    // A refused open says why once and leaves the camera free; the packet size of a GigE camera
    // only warns. The model is kept, as file names want it.
    void openSaysWhatFailedAndKeepsTheModelName_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("model"); // empty: not opened
        QTest::addColumn<QString>("box");
        QTest::newRow("index past the list") << 2 << ""
                                             << ""
                                             << "Device index is error!";
        QTest::newRow("missing record") << 0 << "record"
                                        << ""
                                        << "Device does not exist!";
        QTest::newRow("handle refused") << 0 << "MV_CC_CreateHandle"
                                        << ""
                                        << "Create handle error!";
        QTest::newRow("open refused") << 0 << "MV_CC_OpenDevice"
                                      << ""
                                      << "Device Open error!";
        QTest::newRow("GigE, size unknown") << 0 << "MV_CC_GetOptimalPacketSize"
                                            << "MV_CA_050"
                                            << "Warning: Get Packet Size fail!";
        QTest::newRow("GigE, size not accepted") << 0 << "MV_CC_SetIntValueEx"
                                                 << "MV_CA_050"
                                                 << "Warning: Set Packet Size fail!";
        QTest::newRow("USB3 never asks for it") << 1 << "MV_CC_GetOptimalPacketSize MV_CC_SetIntValueEx"
                                                << "Line_RGB"
                                                << "";
    }
    void openSaysWhatFailedAndKeepsTheModelName()
    {
        QFETCH(int, entry);
        QFETCH(QString, failing);
        QFETCH(QString, model);
        QFETCH(QString, box);
        const MV_CC_DEVICE_INFO chosen = *window().m_deviceList.pDeviceInfo[std::min(entry, 1)];
        if (failing == "record")
            window().m_deviceList.pDeviceInfo[0] = nullptr;
        else
            for (const QString &operation : failing.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                mvsim::setFault(operation.toStdString(), int(MV_E_ACCESS));
        window().m_deviceIndex = entry; // as the list's entry sets it
        click("actionCameraOpen");
        QCOMPARE(m_fixture->boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(window().m_isOpen, !model.isEmpty());
        QCOMPARE(window().m_handle != nullptr, !model.isEmpty());
        QCOMPARE(action("actionCameraOpen")->isChecked(), !model.isEmpty());
        QCOMPARE(window().m_cameraModelName, model);
        mvsim::clearFaults();
        QVERIFY(deviceIsFree(chosen) == model.isEmpty());
    }

    // Clicks as a person makes them; after each, the buttons show the camera's state, so the next
    // click never acts twice or undoes itself.
    void toolbarFollowsTheCamera_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("grabbing");
        QTest::addColumn<QStringList>("boxes");
        const QStringList none;
        const QStringList lost{"Camera disconnected!"};
        QTest::newRow("open") << "open" << true << false << none;
        QTest::newRow("open twice closes") << "open open" << false << false << none;
        QTest::newRow("start") << "open start" << true << true << none;
        QTest::newRow("start twice stops") << "open start start" << true << false << none;
        QTest::newRow("stop") << "open start stop" << true << false << none;
        QTest::newRow("close while grabbing") << "open start close" << false << false << none;
        QTest::newRow("open while grabbing closes") << "open start open" << false << false << none;
        QTest::newRow("reopen and restart") << "open start close open start" << true << true << none;
        QTest::newRow("start without camera") << "start" << false << false << none;
        QTest::newRow("open without camera, per click")
            << "nocam open open open" << false << false
            << QStringList{"No device!", "Please choose camera!", "Please choose camera!",
                           "Please choose camera!"};
        QTest::newRow("camera vanishes") << "open start vanish" << true << false << lost;
        QTest::newRow("vanished, closed, back")
            << "open start vanish open back open start" << true << true << lost;
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
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            if (window().m_isOpen && (step == "close" || step == "open"))
                window().m_livePixmapItem->setPixmap(QPixmap(8, 8)); // closing must blank it
            if (step == "nocam") {
                qputenv("CORVISTA_CAMERAS", "none");
                click("actionCameraSearch");
            } else if (step == "back") {
                QVERIFY(installCameras(twoSmallCameras()));
                click("actionCameraSearch");
            } else if (step == "vanish") {
                mvsim::vanishAfter("G1", 2);
                QVERIFY(m_fixture->boxes.waitForCount(m_fixture->boxes.count() + 1));
            } else if (step == "stop" || step == "close") {
                QVERIFY(action(step == "stop" ? "actionCameraStop" : "actionCameraClose")->isEnabled());
                action(step == "stop" ? "actionCameraStop" : "actionCameraClose")->trigger();
            } else if (step == "start") {
                const bool starting = !action("actionCameraStart")->isChecked();
                window().m_lastBatchFrames = {QImage(4, 4, QImage::Format_Grayscale8)};
                click("actionCameraStart");
                // A click that starts clears the images shown before, camera or not.
                QCOMPARE(window().m_lastBatchFrames.isEmpty(), starting);
            } else {
                click("actionCameraOpen");
            }
            if (window().m_isGrabbing) // frames come in and are counted
                QTRY_VERIFY(frameCount() >= 3);
        }
        QCOMPARE(action("actionCameraOpen")->isChecked(), open);
        QCOMPARE(window().m_isOpen, open);
        QCOMPARE(window().m_handle != nullptr, open);
        QCOMPARE(action("actionCameraStart")->isChecked(), grabbing);
        QCOMPARE(window().m_isGrabbing, grabbing);
        QCOMPARE(window().m_workThread->isRunning(), grabbing);
        QCOMPARE(window().m_stitchActive, grabbing);
        QCOMPARE(action("actionStitchStart")->isEnabled(), !grabbing);
        QCOMPARE(action("actionStitchStop")->isEnabled(), grabbing);
        QCOMPARE(m_fixture->boxes.texts(), boxes);
        if (!open) {
            QCoreApplication::sendPostedEvents(); // a frame still queued must not show again
            QVERIFY(window().m_livePixmapItem->pixmap().isNull());
            qputenv("CORVISTA_CAMERAS", "simulator");
            QVERIFY(deviceIsFree(device));
        }
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
        QCOMPARE(fetchesInProgress.load(), 0);
        QVERIFY(!window().m_workThread->isRunning() && !window().m_isGrabbing);
    }

    void destroyedNativeWindowClosesTheWindow_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("window");
        QTest::addColumn<bool>("destroyed");
        QTest::newRow("destroyed") << 17 << 0x1234u << true;
        QTest::newRow("destroyed, sent by a client") << (17 | 0x80) << 0x1234u << true;
        QTest::newRow("another window destroyed") << 17 << 0x9999u << false;
        QTest::newRow("unmapped, not destroyed") << 18 << 0x1234u << false;
        QTest::newRow("window id 0") << 17 << 0u << false;
    }
    void destroyedNativeWindowClosesTheWindow()
    {
        QFETCH(int, type);
        QFETCH(quint32, window);
        QFETCH(bool, destroyed);
        QCOMPARE(isDestroyNotifyFor(xcbEvent(quint8(type), window).constData(), window ? 0x1234u : 0u),
                 destroyed);

        QWidget shown;
        shown.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shown));
        WindowDestroyedFilter filter(&shown);
        const quint32 id = quint32(shown.winId());
        QByteArray event = xcbEvent(quint8(type), window == 0x1234u ? id : window);
        QVERIFY(!filter.nativeEventFilter("windows_generic_MSG", event.data(), nullptr));
        QCoreApplication::sendPostedEvents();
        QVERIFY(shown.isVisible());                                                       // not an X event
        QVERIFY(!filter.nativeEventFilter("xcb_generic_event_t", event.data(), nullptr)); // Qt sees it too
        if (destroyed)
            QTRY_VERIFY(!shown.isVisible());
        QCoreApplication::sendPostedEvents();
        QCOMPARE(shown.isVisible(), !destroyed);
    }

private:
    MainWindow &window() { return *m_fixture->window; }
    QAction *action(const char *name) { return windowAction(window(), name); }
    QComboBox *devices() { return window().findChild<QComboBox *>(QStringLiteral("cbSearchDevices")); }
    int frameCount()
    {
        static const QRegularExpression count(QStringLiteral(R"(\[(\d+)\])"));
        return count.match(window().findChild<QLabel *>("dataitemLabel")->text()).captured(1).toInt();
    }
    // A click on the action's toolbar button when the window is shown, else the action as it fires.
    void click(const char *name)
    {
        QAction *a = action(name);
        QVERIFY(a->isEnabled());
        for (QToolBar *bar : window().findChildren<QToolBar *>())
            if (QWidget *button = bar->widgetForAction(a); button && button->isVisible())
                return QTest::mouseClick(button, Qt::LeftButton);
        a->trigger();
    }
    static QByteArray xcbEvent(quint8 type, quint32 window)
    {
        QByteArray bytes(32, '\0'); // as the X server sends it
        bytes[0] = char(type);
        std::memcpy(bytes.data() + 8, &window, sizeof window);
        return bytes;
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
