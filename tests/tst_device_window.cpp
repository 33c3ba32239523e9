// Searching for cameras, choosing, opening and closing one through the window.
#include <QtTest>

#include <QComboBox>
#include <QGraphicsPixmapItem>

#include "tst_camera_fixture.h"

class DeviceWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void searchListsEveryCameraWithItsEntryText();
    void searchThatFindsNothingOrFailsSaysNoDeviceOnce_data();
    void searchThatFindsNothingOrFailsSaysNoDeviceOnce();
    void openFailuresShowTheirBoxAndLeaveTheCameraFree_data();
    void openFailuresShowTheirBoxAndLeaveTheCameraFree();
    void openStoresTheNormalisedNameAndOnlyWarnsAboutThePacketSize_data();
    void openStoresTheNormalisedNameAndOnlyWarnsAboutThePacketSize();
    void searchAndOpenWhileOpenLeaveTheCameraAsItIs();
    void openActionPairFollowsTheCheckedState_data();
    void openActionPairFollowsTheCheckedState();
    void closeReleasesTheCameraAndBlanksTheLiveView_data();
    void closeReleasesTheCameraAndBlanksTheLiveView();

private:
    QComboBox *devices()
    {
        return m_fixture->window->findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
    }
    void search() { windowAction(*m_fixture->window, "actionCameraSearch")->trigger(); }

    std::unique_ptr<CameraWindow> m_fixture;
};

void DeviceWindowTest::init()
{
    mvsim::reset();
    QVERIFY(installCameras(twoSmallCameras()));
    m_fixture = std::make_unique<CameraWindow>();
    QVERIFY(m_fixture->make());
}

void DeviceWindowTest::cleanup()
{
    m_fixture.reset();
    qputenv("CORVISTA_CAMERAS", "simulator");
    mvsim::reset();
}

void DeviceWindowTest::searchListsEveryCameraWithItsEntryText()
{
    MainWindow &window = *m_fixture->window;
    search();
    QCOMPARE(devices()->count(), 2);
    QCOMPARE(devices()->itemText(0), QStringLiteral("[0]GigE: Maker MV  CA 050 (G1)  10.1.2.3"));
    QCOMPARE(devices()->itemText(1), QStringLiteral("[1]UsbV3: Maker Line RGB (U7)"));
    QCOMPARE(window.m_deviceIndex, 0);
    devices()->setCurrentIndex(1);
    QCOMPARE(window.m_deviceIndex, 1);
    QVERIFY(m_fixture->boxes.isEmpty());
}

void DeviceWindowTest::searchThatFindsNothingOrFailsSaysNoDeviceOnce_data()
{
    QTest::addColumn<bool>("enumerationFails");
    QTest::addColumn<QString>("box");
    QTest::newRow("no camera attached")
        << false << QStringLiteral("device|No device!|%1").arg(QMessageBox::Information);
    QTest::newRow("enumeration fails")
        << true << QStringLiteral("device|No device!|%1").arg(QMessageBox::Critical);
}

void DeviceWindowTest::searchThatFindsNothingOrFailsSaysNoDeviceOnce()
{
    QFETCH(bool, enumerationFails);
    QFETCH(QString, box);
    search();
    if (enumerationFails)
        mvsim::setFault("MV_CC_EnumDevices", int(MV_E_RESOURCE));
    else
        qputenv("CORVISTA_CAMERAS", "none");
    search();
    QCOMPARE(boxSummary(m_fixture->boxes), box);
    QCOMPARE(devices()->count(), 0);
    QVERIFY(!m_fixture->window->m_deviceListValid);
    QCOMPARE(m_fixture->window->m_deviceIndex, -1);
}

void DeviceWindowTest::openFailuresShowTheirBoxAndLeaveTheCameraFree_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("box");
    const QString critical = QStringLiteral("Device|%1|") + QString::number(QMessageBox::Critical);
    QTest::newRow("nothing found")
        << "none" << QStringLiteral("Device|Please choose camera!|%1").arg(QMessageBox::Warning);
    QTest::newRow("index past the list") << "index past" << critical.arg("Device index is error!");
    QTest::newRow("negative index") << "negative index" << critical.arg("Device index is error!");
    QTest::newRow("missing record") << "null record" << critical.arg("Device does not exist!");
    QTest::newRow("handle refused") << "MV_CC_CreateHandle" << critical.arg("Create handle error!");
    QTest::newRow("device refuses to open") << "MV_CC_OpenDevice" << critical.arg("Device Open error!");
}

void DeviceWindowTest::openFailuresShowTheirBoxAndLeaveTheCameraFree()
{
    QFETCH(QString, failure);
    QFETCH(QString, box);
    MainWindow &window = *m_fixture->window;
    search();
    const MV_CC_DEVICE_INFO chosen = *window.m_deviceList.pDeviceInfo[0];
    if (failure == "none") {
        qputenv("CORVISTA_CAMERAS", "none");
        search();
        m_fixture->boxes.clear();
    } else if (failure == "index past") {
        window.m_deviceIndex = 2;
    } else if (failure == "negative index") {
        window.m_deviceIndex = -1;
    } else if (failure == "null record") {
        window.m_deviceList.pDeviceInfo[0] = nullptr;
    } else {
        mvsim::setFault(failure.toStdString(), int(MV_E_ACCESS));
    }
    QMetaObject::invokeMethod(&window, "on_actionCameraOpen_triggered");
    QCOMPARE(boxSummary(m_fixture->boxes), box);
    QVERIFY(!window.m_isOpen);
    QVERIFY(!window.m_handle);
    mvsim::clearFaults();
    qputenv("CORVISTA_CAMERAS", "simulator");
    QVERIFY(deviceIsFree(chosen));
}

void DeviceWindowTest::openStoresTheNormalisedNameAndOnlyWarnsAboutThePacketSize_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("box");
    const QString critical = QStringLiteral("Device|%1|") + QString::number(QMessageBox::Critical);
    QTest::newRow("GigE") << 0 << ""
                          << "MV_CA_050"
                          << "";
    QTest::newRow("GigE, size unknown") << 0 << "MV_CC_GetOptimalPacketSize"
                                        << "MV_CA_050" << critical.arg("Warning: Get Packet Size fail!");
    QTest::newRow("GigE, size not accepted") << 0 << "MV_CC_SetIntValueEx"
                                             << "MV_CA_050" << critical.arg("Warning: Set Packet Size fail!");
    QTest::newRow("USB3 never asks for it") << 1 << "MV_CC_GetOptimalPacketSize MV_CC_SetIntValueEx"
                                            << "Line_RGB"
                                            << "";
}

void DeviceWindowTest::openStoresTheNormalisedNameAndOnlyWarnsAboutThePacketSize()
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

void DeviceWindowTest::searchAndOpenWhileOpenLeaveTheCameraAsItIs()
{
    QVERIFY(m_fixture->openEntry(0));
    MainWindow &window = *m_fixture->window;
    void *handle = window.m_handle;
    search();
    devices()->setCurrentIndex(1);
    QMetaObject::invokeMethod(&window, "on_actionCameraOpen_triggered");
    QCOMPARE(window.m_handle, handle);
    QCOMPARE(window.m_cameraSerialNumber, QStringLiteral("G1"));
    QCOMPARE(window.m_deviceInfo.nTLayerType, unsigned(MV_GIGE_DEVICE));
    MVCC_INTVALUE_EX width = {};
    QCOMPARE(MV_CC_GetIntValueEx(window.m_handle, "Width", &width), MV_OK);
    QCOMPARE(width.nCurValue, qint64(64));
    QVERIFY(m_fixture->boxes.isEmpty());
}

void DeviceWindowTest::openActionPairFollowsTheCheckedState_data()
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

void DeviceWindowTest::openActionPairFollowsTheCheckedState()
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
    QCOMPARE(open->isChecked(), leavesChecked);
    QCOMPARE(window.m_isOpen, openAfter);
    QCOMPARE(window.m_handle != nullptr, openAfter);
    if (openBefore && openAfter)
        QCOMPARE(window.m_handle, handleBefore);
    QCOMPARE(window.m_cameraModelName == QStringLiteral("MV_CA_050"), openedOnTheWay);
    QVERIFY(m_fixture->boxes.isEmpty());
}

void DeviceWindowTest::closeReleasesTheCameraAndBlanksTheLiveView_data()
{
    QTest::addColumn<bool>("opened");
    QTest::newRow("camera open") << true;
    QTest::newRow("nothing open") << false;
}

void DeviceWindowTest::closeReleasesTheCameraAndBlanksTheLiveView()
{
    QFETCH(bool, opened);
    MainWindow &window = *m_fixture->window;
    search();
    const MV_CC_DEVICE_INFO chosen = *window.m_deviceList.pDeviceInfo[0];
    if (opened) {
        QVERIFY(m_fixture->openEntry(0));
        QVERIFY(!deviceIsFree(chosen));
    }
    QPixmap shown(8, 8);
    shown.fill(Qt::white);
    window.m_livePixmapItem->setPixmap(shown);

    windowAction(window, "actionCameraClose")->trigger();
    QVERIFY(!window.m_isOpen);
    QVERIFY(!window.m_handle);
    QVERIFY(window.m_livePixmapItem->pixmap().isNull());
    QVERIFY(deviceIsFree(chosen));
    QVERIFY(m_fixture->boxes.isEmpty());
    QVERIFY(m_fixture->openEntry(0));
}

QTEST_MAIN(DeviceWindowTest)
#include "tst_device_window.moc"
