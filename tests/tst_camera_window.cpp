// Searching for cameras, opening one, grabbing and closing, all through the window.
#include <QtTest>

#include <QComboBox>
#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>

#include "camerawindow.h"
#include "workthread.h"

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

    void searchListsEveryCameraWithItsEntryText()
    {
        search();
        QCOMPARE(devices()->count(), 2);
        QCOMPARE(devices()->itemText(0), QStringLiteral("[0]GigE: Maker MV  CA 050 (G1)  10.1.2.3"));
        QCOMPARE(devices()->itemText(1), QStringLiteral("[1]UsbV3: Maker Line RGB (U7)"));
        QVERIFY(m_fixture->boxes.isEmpty());
    }

    void searchThatFindsNothingOrFailsSaysNoDeviceOnce_data()
    {
        QTest::addColumn<bool>("enumerationFails");
        QTest::addColumn<int>("kind");
        QTest::newRow("no camera attached") << false << int(QMessageBox::Information);
        QTest::newRow("enumeration fails") << true << int(QMessageBox::Critical);
    }
    void searchThatFindsNothingOrFailsSaysNoDeviceOnce()
    {
        QFETCH(bool, enumerationFails);
        QFETCH(int, kind);
        search();
        if (enumerationFails)
            mvsim::setFault("MV_CC_EnumDevices", int(MV_E_RESOURCE));
        else
            qputenv("CORVISTA_CAMERAS", "none");
        search();
        QCOMPARE(boxSummary(m_fixture->boxes), QStringLiteral("device|No device!|%1").arg(kind));
        QCOMPARE(devices()->count(), 0);
        QCOMPARE(m_fixture->window->m_deviceIndex, -1);
    }

    void openFailuresShowTheirBoxAndLeaveTheCameraFree_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("box");
        const auto row = [](const char *failure, const char *text,
                            QMessageBox::Icon kind = QMessageBox::Critical) {
            QTest::newRow(failure) << QString(failure) << QStringLiteral("Device|%1|%2").arg(text).arg(kind);
        };
        row("nothing found", "Please choose camera!", QMessageBox::Warning);
        row("index past the list", "Device index is error!");
        row("missing record", "Device does not exist!");
        row("MV_CC_CreateHandle", "Create handle error!");
        row("MV_CC_OpenDevice", "Device Open error!");
    }
    void openFailuresShowTheirBoxAndLeaveTheCameraFree()
    {
        QFETCH(QString, failure);
        QFETCH(QString, box);
        MainWindow &window = *m_fixture->window;
        search();
        const MV_CC_DEVICE_INFO chosen = *window.m_deviceList.pDeviceInfo[0];
        if (failure == "nothing found") {
            qputenv("CORVISTA_CAMERAS", "none");
            search();
            m_fixture->boxes.clear();
        } else if (failure == "index past the list") {
            window.m_deviceIndex = 2;
        } else if (failure == "missing record") {
            window.m_deviceList.pDeviceInfo[0] = nullptr;
        } else {
            mvsim::setFault(failure.toStdString(), int(MV_E_ACCESS));
        }
        m_fixture->trigger("actionCameraOpen");
        QCOMPARE(boxSummary(m_fixture->boxes), box);
        QVERIFY(!window.m_isOpen);
        QVERIFY(!window.m_handle);
        mvsim::clearFaults();
        qputenv("CORVISTA_CAMERAS", "simulator");
        QVERIFY(deviceIsFree(chosen));
    }

    void openStoresTheNormalisedNameAndOnlyWarnsAboutThePacketSize_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("box");
        const auto row = [](const char *tag, int entry, const char *failing, const char *model,
                            const char *text) {
            const QString box
                = *text ? QStringLiteral("Device|%1|%2").arg(text).arg(QMessageBox::Critical) : QString();
            QTest::newRow(tag) << entry << QString(failing) << QString(model) << box;
        };
        row("GigE, size unknown", 0, "MV_CC_GetOptimalPacketSize", "MV_CA_050",
            "Warning: Get Packet Size fail!");
        row("GigE, size not accepted", 0, "MV_CC_SetIntValueEx", "MV_CA_050",
            "Warning: Set Packet Size fail!");
        row("USB3 never asks for it", 1, "MV_CC_GetOptimalPacketSize MV_CC_SetIntValueEx", "Line_RGB", "");
    }
    void openStoresTheNormalisedNameAndOnlyWarnsAboutThePacketSize()
    {
        QFETCH(int, entry);
        QFETCH(QString, failing);
        QFETCH(QString, model);
        QFETCH(QString, box);
        for (const QString &operation : failing.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            mvsim::setFault(operation.toStdString(), int(MV_E_ACCESS_RW));
        QVERIFY(m_fixture->openEntry(entry));
        QCOMPARE(boxSummary(m_fixture->boxes), box);
        QCOMPARE(m_fixture->window->m_cameraModelName, model);
        QVERIFY(!m_fixture->window->m_isGrabbing);
    }

    void openActionPairFollowsTheCheckedState_data()
    {
        QTest::addColumn<bool>("leavesChecked");
        QTest::addColumn<bool>("openBefore");
        QTest::addColumn<bool>("openAfter");
        QTest::addColumn<bool>("openedOnTheWay");
        QTest::newRow("checked, closed: opened") << true << false << true << true;
        QTest::newRow("checked, open: nothing") << true << true << true << false;
        QTest::newRow("unchecked, open: closed") << false << true << false << false;
        QTest::newRow("unchecked, closed: opened and closed again") << false << false << false << true;
    }
    void openActionPairFollowsTheCheckedState()
    {
        QFETCH(bool, leavesChecked);
        QFETCH(bool, openBefore);
        QFETCH(bool, openAfter);
        QFETCH(bool, openedOnTheWay);
        MainWindow &window = *m_fixture->window;
        search();
        if (openBefore)
            QVERIFY(m_fixture->openEntry(0));
        void *handleBefore = window.m_handle;
        // Open leaves the identity behind even when the second slot closes again.
        window.m_cameraModelName.clear();

        QAction *open = windowAction(window, "actionCameraOpen");
        open->setChecked(!leavesChecked);
        open->trigger();
        QCOMPARE(open->isChecked(), openAfter); // the button shows the camera's state
        QCOMPARE(window.m_isOpen, openAfter);
        QCOMPARE(window.m_handle != nullptr, openAfter);
        if (openBefore && openAfter)
            QCOMPARE(window.m_handle, handleBefore);
        QCOMPARE(window.m_cameraModelName == QStringLiteral("MV_CA_050"), openedOnTheWay);
        QVERIFY(m_fixture->boxes.isEmpty());
    }

    void startGrabsAndReportsEveryFrameInTheStatusLine()
    {
        MainWindow &window = *m_fixture->window;
        QVERIFY(m_fixture->openEntry(0));
        QVERIFY(m_fixture->start());
        QVERIFY(window.m_stitchActive);
        const QRegularExpression line(
            QStringLiteral(R"(^FrameCount: \[(\d+)\] \| W\*H: 64x16 \| TS: \d+ us \| )"
                           R"(Interval: -?\d+ us \| GrabOne: \d+\.\d{3} ms \| Lost: \d+ $)"));
        QTRY_VERIFY(line.match(statistics()).captured(1).toInt() >= 3);
        m_fixture->stop();
        QVERIFY(!window.m_isGrabbing);
        QVERIFY(!window.m_stitchActive);
        QVERIFY(!window.m_workThread->isRunning());
        QVERIFY(window.m_isOpen);
        QVERIFY(m_fixture->boxes.isEmpty());
    }

    void startActionPairFollowsTheCheckedState_data()
    {
        QTest::addColumn<bool>("leavesChecked");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("grabbingAfter");
        QTest::addColumn<bool>("startedOnTheWay");
        QTest::addColumn<bool>("imagesCleared");
        QTest::newRow("checked, open: grabbing starts") << true << "open" << true << true << true;
        QTest::newRow("checked, no camera: images cleared only")
            << true << "closed" << false << false << true;
        QTest::newRow("unchecked, grabbing: stopped") << false << "grabbing" << false << false << false;
        QTest::newRow("unchecked, open: started and stopped again")
            << false << "open" << false << true << false;
    }
    void startActionPairFollowsTheCheckedState()
    {
        QFETCH(bool, leavesChecked);
        QFETCH(QString, before);
        QFETCH(bool, grabbingAfter);
        QFETCH(bool, startedOnTheWay);
        QFETCH(bool, imagesCleared);
        MainWindow &window = *m_fixture->window;
        if (before != "closed")
            QVERIFY(m_fixture->openEntry(0));
        if (before == "grabbing")
            QVERIFY(m_fixture->start());
        // Start clears the latest frame record; a frame grabbed meanwhile overwrites the marker too.
        {
            QMutexLocker frameLock(&window.m_frameMutex);
            window.m_lastFrameInfo.nWidth = 999;
        }
        window.m_lastBatchFrames = {QImage(4, 4, QImage::Format_Grayscale8)};

        QAction *start = windowAction(window, "actionCameraStart");
        start->setChecked(!leavesChecked);
        start->trigger();
        QCOMPARE(start->isChecked(), grabbingAfter); // the button shows the camera's state
        QCOMPARE(window.m_isGrabbing, grabbingAfter);
        QCOMPARE(window.m_workThread->isRunning(), grabbingAfter);
        if (before != "grabbing") {
            QMutexLocker frameLock(&window.m_frameMutex);
            QCOMPARE(window.m_lastFrameInfo.nWidth != 999, startedOnTheWay);
        }
        QCOMPARE(window.m_lastBatchFrames.isEmpty(), imagesCleared);
        QVERIFY(m_fixture->boxes.isEmpty());
    }

    void stopWhileTheFetchWaitsReturnsPromptly()
    {
        // 60000 lines at 10 lines per second: no frame comes while the test runs.
        QVERIFY(remake("[slow]\ntransport = USB3\nserial = S1\nwidth = 16\nlines_per_frame = 60000\n"
                       "pixel_format = Mono8\nline_rate = 10\n"));
        QVERIFY(m_fixture->openEntry(0));
        QVERIFY(m_fixture->start());
        QTest::qWait(100);
        QVERIFY(m_fixture->window->m_workThread->isRunning());
        // The fetch waits up to a second; left to time out, Stop would take about 900 ms more.
        QElapsedTimer stopping;
        stopping.start();
        m_fixture->stop();
        QVERIFY2(stopping.elapsed() < 500, qPrintable(QString::number(stopping.elapsed())));
        QVERIFY(!m_fixture->window->m_workThread->isRunning());
        QVERIFY(!m_fixture->window->m_isGrabbing);
    }

    void closeReleasesTheCameraAndBlanksTheLiveView_data()
    {
        QTest::addColumn<bool>("grabbing");
        QTest::newRow("open") << false;
        QTest::newRow("grabbing") << true;
    }
    void closeReleasesTheCameraAndBlanksTheLiveView()
    {
        QFETCH(bool, grabbing);
        MainWindow &window = *m_fixture->window;
        QVERIFY(m_fixture->openEntry(0));
        const MV_CC_DEVICE_INFO device = window.m_deviceInfo;
        if (grabbing) {
            QVERIFY(m_fixture->start());
            QTRY_VERIFY(!statistics().isEmpty());
        }
        window.m_livePixmapItem->setPixmap(QPixmap(8, 8));
        windowAction(window, "actionCameraClose")->trigger();
        QVERIFY(!window.m_workThread->isRunning());
        QVERIFY(!window.m_handle);
        QVERIFY(!window.m_isOpen);
        QVERIFY(!window.m_isGrabbing);
        QVERIFY(!window.m_stitchActive);
        QTest::qWait(50); // a frame still queued must not show again
        QVERIFY(window.m_livePixmapItem->pixmap().isNull());
        QVERIFY(deviceIsFree(device));
        QVERIFY(m_fixture->boxes.isEmpty());
    }

    void vanishedCameraStopsTheRunAndSaysSo()
    {
        QVERIFY(remake("[cam]\ntransport = GigE\nserial = C1\nwidth = 64\nlines_per_frame = 16\n"
                       "pixel_format = Mono8\nline_rate = 4000\nvanish_after_frames = 5\n"));
        QVERIFY(m_fixture->openEntry(0));
        MainWindow &window = *m_fixture->window;
        QVERIFY(m_fixture->start());
        QVERIFY(m_fixture->boxes.waitForCount(1));
        QCOMPARE(boxSummary(m_fixture->boxes),
                 QStringLiteral("Device|Camera disconnected!|%1").arg(QMessageBox::Warning));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Camera disconnected"));
        QVERIFY(!window.m_isGrabbing);
        QVERIFY(!window.m_stitchActive);
        QVERIFY(!window.m_workThread->isRunning());
        windowAction(window, "actionCameraClose")->trigger();
        QVERIFY(!window.m_handle);
        QCOMPARE(m_fixture->boxes.count(), 1);
    }

private:
    QComboBox *devices()
    {
        return m_fixture->window->findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
    }
    QString statistics() { return m_fixture->window->findChild<QLabel *>("dataitemLabel")->text(); }
    bool remake(const char *ini)
    {
        m_fixture.reset();
        mvsim::reset();
        m_fixture = std::make_unique<CameraWindow>();
        return installCameras(ini) && m_fixture->make();
    }
    void search() { windowAction(*m_fixture->window, "actionCameraSearch")->trigger(); }

    std::unique_ptr<CameraWindow> m_fixture;
};

QTEST_MAIN(CameraWindowTest)
#include "tst_camera_window.moc"
