// Searching for cameras, choosing, opening and closing one through the window.
#include <QtTest>

#include <QComboBox>
#include <QGraphicsPixmapItem>

#include <cstring>

#include "tst_camera_fixture.h"

namespace {

QComboBox *deviceBox(MainWindow &window)
{
    return window.findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
}

} // namespace

class DeviceWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void searchListsEveryCameraWithItsEntryText();
    void searchThatFindsNothingOrFailsSaysNoDeviceOnce_data();
    void searchThatFindsNothingOrFailsSaysNoDeviceOnce();
    void openWithoutAFoundCameraAsksToChooseOne();
    void openFailuresShowTheirBoxAndLeaveNoHandle_data();
    void openFailuresShowTheirBoxAndLeaveNoHandle();
    void packetSizeWarningsLeaveTheGigECameraOpen_data();
    void packetSizeWarningsLeaveTheGigECameraOpen();
    void usbCameraOpensWithoutTouchingThePacketSize();
    void openStoresTheNormalisedModelAndSerial();
    void openWhileOpenShowsNothingAndChangesNothing();
    void searchWhileOpenLeavesTheCameraOpen();
    void openActionPairFollowsTheCheckedState_data();
    void openActionPairFollowsTheCheckedState();
    void closeReleasesTheCameraAndBlanksTheLiveView();
    void closeWithNothingOpenReportsNothing();

private:
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
    windowAction(window, "actionCameraSearch")->trigger();
    QComboBox *devices = deviceBox(window);
    QCOMPARE(devices->count(), 2);
    QCOMPARE(devices->itemText(0), QStringLiteral("[0]GigE: Maker MV  CA 050 (G1)  10.1.2.3"));
    QCOMPARE(devices->itemText(1), QStringLiteral("[1]UsbV3: Maker Line RGB (U7)"));
    QCOMPARE(devices->itemData(1).toInt(), 1);
    QVERIFY(devices->itemIcon(0).isNull());
    QCOMPARE(devices->currentIndex(), 0);
    QVERIFY(window.m_deviceListValid);
    QCOMPARE(window.m_deviceIndex, 0);
    devices->setCurrentIndex(1);
    QCOMPARE(window.m_deviceIndex, 1);
    QVERIFY(m_fixture->boxes.isEmpty());
}

void DeviceWindowTest::searchThatFindsNothingOrFailsSaysNoDeviceOnce_data()
{
    QTest::addColumn<bool>("enumerationFails");
    QTest::addColumn<int>("kind");
    QTest::newRow("no camera attached") << false << int(QMessageBox::Information);
    QTest::newRow("enumeration fails") << true << int(QMessageBox::Critical);
}

void DeviceWindowTest::searchThatFindsNothingOrFailsSaysNoDeviceOnce()
{
    QFETCH(bool, enumerationFails);
    QFETCH(int, kind);
    MainWindow &window = *m_fixture->window;
    windowAction(window, "actionCameraSearch")->trigger();
    QCOMPARE(deviceBox(window)->count(), 2);
    if (enumerationFails)
        mvsim::setFault("MV_CC_EnumDevices", int(MV_E_RESOURCE));
    else
        qputenv("CORVISTA_CAMERAS", "none");

    windowAction(window, "actionCameraSearch")->trigger();
    QCOMPARE(m_fixture->boxes.count(), 1);
    QCOMPARE(m_fixture->boxes.last().title, QStringLiteral("device"));
    QCOMPARE(m_fixture->boxes.last().text, QStringLiteral("No device!"));
    QCOMPARE(int(m_fixture->boxes.last().kind), kind);
    QCOMPARE(deviceBox(window)->count(), 0);
    QVERIFY(!window.m_deviceListValid);
    QCOMPARE(window.m_deviceIndex, -1);
}

void DeviceWindowTest::openWithoutAFoundCameraAsksToChooseOne()
{
    MainWindow &window = *m_fixture->window;
    qputenv("CORVISTA_CAMERAS", "none");
    windowAction(window, "actionCameraSearch")->trigger();
    m_fixture->boxes.clear();
    QMetaObject::invokeMethod(&window, "on_actionCameraOpen_triggered");
    QCOMPARE(m_fixture->boxes.texts(), QStringList{QStringLiteral("Please choose camera!")});
    QCOMPARE(m_fixture->boxes.last().title, QStringLiteral("Device"));
    QCOMPARE(m_fixture->boxes.last().kind, QMessageBox::Warning);
    QVERIFY(!window.m_isOpen);
    QVERIFY(!window.m_handle);
}

void DeviceWindowTest::openFailuresShowTheirBoxAndLeaveNoHandle_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("text");
    QTest::newRow("index past the list") << "index past"
                                         << "Device index is error!";
    QTest::newRow("negative index") << "negative index"
                                    << "Device index is error!";
    QTest::newRow("missing record") << "null record"
                                    << "Device does not exist!";
    QTest::newRow("handle refused") << "MV_CC_CreateHandle"
                                    << "Create handle error!";
    QTest::newRow("device refuses to open") << "MV_CC_OpenDevice"
                                            << "Device Open error!";
}

void DeviceWindowTest::openFailuresShowTheirBoxAndLeaveNoHandle()
{
    QFETCH(QString, failure);
    QFETCH(QString, text);
    MainWindow &window = *m_fixture->window;
    windowAction(window, "actionCameraSearch")->trigger();
    const MV_CC_DEVICE_INFO chosen = *window.m_deviceList.pDeviceInfo[0];
    if (failure == "index past")
        window.m_deviceIndex = 2;
    else if (failure == "negative index")
        window.m_deviceIndex = -1;
    else if (failure == "null record")
        window.m_deviceList.pDeviceInfo[0] = nullptr;
    else
        mvsim::setFault(failure.toStdString(), int(MV_E_ACCESS));

    QMetaObject::invokeMethod(&window, "on_actionCameraOpen_triggered");
    QCOMPARE(m_fixture->boxes.texts(), QStringList{text});
    QCOMPARE(m_fixture->boxes.last().title, QStringLiteral("Device"));
    QCOMPARE(m_fixture->boxes.last().kind, QMessageBox::Critical);
    QVERIFY(!window.m_isOpen);
    QVERIFY(!window.m_handle);
    mvsim::clearFaults();
    QVERIFY(deviceIsFree(chosen));
}

void DeviceWindowTest::packetSizeWarningsLeaveTheGigECameraOpen_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("text");
    QTest::newRow("size unknown") << "MV_CC_GetOptimalPacketSize"
                                  << "Warning: Get Packet Size fail!";
    QTest::newRow("size not accepted") << "MV_CC_SetIntValueEx"
                                       << "Warning: Set Packet Size fail!";
}

void DeviceWindowTest::packetSizeWarningsLeaveTheGigECameraOpen()
{
    QFETCH(QString, operation);
    QFETCH(QString, text);
    mvsim::setFault(operation.toStdString(), int(MV_E_ACCESS_RW));
    QVERIFY(m_fixture->openEntry(0));
    QCOMPARE(m_fixture->boxes.texts(), QStringList{text});
    QCOMPARE(m_fixture->boxes.last().title, QStringLiteral("Device"));
    QCOMPARE(m_fixture->boxes.last().kind, QMessageBox::Critical);
    QCOMPARE(m_fixture->window->m_cameraSerialNumber, QStringLiteral("G1"));
}

void DeviceWindowTest::usbCameraOpensWithoutTouchingThePacketSize()
{
    mvsim::setFault("MV_CC_GetOptimalPacketSize", int(MV_E_SUPPORT));
    mvsim::setFault("MV_CC_SetIntValueEx", int(MV_E_SUPPORT));
    QVERIFY(m_fixture->openEntry(1));
    QVERIFY(m_fixture->boxes.isEmpty());
    QCOMPARE(m_fixture->window->m_deviceInfo.nTLayerType, unsigned(MV_USB_DEVICE));
}

void DeviceWindowTest::openStoresTheNormalisedModelAndSerial()
{
    QVERIFY(m_fixture->openEntry(0));
    MainWindow &window = *m_fixture->window;
    QCOMPARE(window.m_cameraModelName, QStringLiteral("MV_CA_050"));
    QCOMPARE(window.m_cameraSerialNumber, QStringLiteral("G1"));
    QCOMPARE(window.m_deviceInfo.nTLayerType, unsigned(MV_GIGE_DEVICE));
    QVERIFY(!window.m_isGrabbing);
    QVERIFY(m_fixture->boxes.isEmpty());
}

void DeviceWindowTest::openWhileOpenShowsNothingAndChangesNothing()
{
    QVERIFY(m_fixture->openEntry(0));
    MainWindow &window = *m_fixture->window;
    void *handle = window.m_handle;
    deviceBox(window)->setCurrentIndex(1);
    QMetaObject::invokeMethod(&window, "on_actionCameraOpen_triggered");
    QCOMPARE(window.m_handle, handle);
    QCOMPARE(window.m_cameraSerialNumber, QStringLiteral("G1"));
    QVERIFY(m_fixture->boxes.isEmpty());
}

void DeviceWindowTest::searchWhileOpenLeavesTheCameraOpen()
{
    QVERIFY(m_fixture->openEntry(0));
    MainWindow &window = *m_fixture->window;
    void *handle = window.m_handle;
    windowAction(window, "actionCameraSearch")->trigger();
    QCOMPARE(window.m_handle, handle);
    QVERIFY(window.m_isOpen);
    QCOMPARE(window.m_deviceInfo.nTLayerType, unsigned(MV_GIGE_DEVICE));
    QVERIFY(m_fixture->boxes.isEmpty());
    MVCC_INTVALUE_EX width;
    std::memset(&width, 0, sizeof width);
    QCOMPARE(MV_CC_GetIntValueEx(window.m_handle, "Width", &width), MV_OK);
    QCOMPARE(width.nCurValue, qint64(64));
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
    windowAction(window, "actionCameraSearch")->trigger();
    if (openBefore)
        QVERIFY(m_fixture->openEntry(0));
    void *handleBefore = window.m_handle;
    // Open leaves the identity behind even when the second slot closes again.
    window.m_cameraModelName.clear();

    QAction *open = windowAction(window, "actionCameraOpen");
    QVERIFY(open->isCheckable());
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

void DeviceWindowTest::closeReleasesTheCameraAndBlanksTheLiveView()
{
    QVERIFY(m_fixture->openEntry(0));
    MainWindow &window = *m_fixture->window;
    const MV_CC_DEVICE_INFO chosen = window.m_deviceInfo;
    QVERIFY(!deviceIsFree(chosen));
    QVERIFY(window.m_livePixmapItem);
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

void DeviceWindowTest::closeWithNothingOpenReportsNothing()
{
    MainWindow &window = *m_fixture->window;
    QPixmap shown(8, 8);
    shown.fill(Qt::white);
    window.m_livePixmapItem->setPixmap(shown);
    windowAction(window, "actionCameraClose")->trigger();
    QVERIFY(!window.m_isOpen);
    QVERIFY(!window.m_isGrabbing);
    QVERIFY(!window.m_handle);
    QVERIFY(window.m_livePixmapItem->pixmap().isNull());
    QVERIFY(m_fixture->boxes.isEmpty());
}

QTEST_MAIN(DeviceWindowTest)
#include "tst_device_window.moc"
