// The window's camera actions on a real GigE Vision peer: Aravis's fake
// camera on loopback, reached through the GenICam backend.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>

#include "tst_camera_fixture.h"
#include "tst_genicam_fakecamera.h"

using namespace genicamtest;

namespace {

QComboBox *deviceBox(MainWindow &window)
{
    return window.findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
}

QString statisticsLine(MainWindow &window)
{
    const QLabel *label = window.findChild<QLabel *>(QStringLiteral("dataitemLabel"));
    return label ? label->text() : QString();
}

// The frame count of the statistics line, or -1 while it shows none.
int framesCounted(MainWindow &window)
{
    static const QRegularExpression pattern(
        QStringLiteral("^FrameCount: \\[(\\d+)\\] \\| W\\*H: 512x512 \\| "));
    const QRegularExpressionMatch match = pattern.match(statisticsLine(window));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

class GenicamWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void searchListsTheFakeCameraAsAGigEEntryEndingInItsAddress();
    void openStartStopAndCloseGrabFramesWithTheStatisticsLine();
    void killingTheCameraMidGrabStopsGrabbingAndSaysSo();

private:
    int selectOurEntry();
    void openAndStart();

    FakeCamera m_camera;
    QString m_serial;
    std::unique_ptr<CameraWindow> m_fixture;
};

void GenicamWindowTest::initTestCase()
{
    m_serial = uniqueSerial();
    const QString reason = unavailableReason(m_serial);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

void GenicamWindowTest::init()
{
    if (!m_camera.isRunning()) {
        QString why;
        QVERIFY2(m_camera.start(m_serial, why), qPrintable(why));
    }
    m_fixture = std::make_unique<CameraWindow>();
    QVERIFY(m_fixture->make());
}

void GenicamWindowTest::cleanup()
{
    if (m_fixture && m_fixture->window)
        windowAction(*m_fixture->window, "actionCameraClose")->trigger();
    m_fixture.reset();
}

void GenicamWindowTest::cleanupTestCase()
{
    m_camera.stop();
}

// Searches through the action and makes our camera's entry current; its index.
int GenicamWindowTest::selectOurEntry()
{
    MainWindow &window = *m_fixture->window;
    windowAction(window, "actionCameraSearch")->trigger();
    QComboBox *devices = deviceBox(window);
    const QString description = QStringLiteral("Aravis Fake (%1)").arg(m_serial);
    for (int i = 0; i < devices->count(); ++i)
        if (devices->itemText(i).contains(description)) {
            devices->setCurrentIndex(i);
            return i;
        }
    return -1;
}

void GenicamWindowTest::openAndStart()
{
    MainWindow &window = *m_fixture->window;
    QVERIFY(selectOurEntry() >= 0);
    windowAction(window, "actionCameraOpen")->trigger();
    QVERIFY(window.m_isOpen);
    windowAction(window, "actionCameraStart")->trigger();
    QVERIFY(window.m_isGrabbing);
    QTRY_VERIFY_WITH_TIMEOUT(framesCounted(window) >= 3, 15000);
}

void GenicamWindowTest::searchListsTheFakeCameraAsAGigEEntryEndingInItsAddress()
{
    MainWindow &window = *m_fixture->window;
    const int entry = selectOurEntry();
    QVERIFY(entry >= 0);
    const int index = deviceBox(window)->itemData(entry).toInt();
    QCOMPARE(deviceBox(window)->itemText(entry),
             QStringLiteral("[%1]GigE: Aravis Fake (%2)  127.0.0.1").arg(index).arg(m_serial));
    QVERIFY2(m_fixture->boxes.isEmpty(), qPrintable(m_fixture->boxes.texts().join(QLatin1Char('|'))));
}

void GenicamWindowTest::openStartStopAndCloseGrabFramesWithTheStatisticsLine()
{
    MainWindow &window = *m_fixture->window;
    openAndStart();
    // The packet size was negotiated and written without a warning.
    QVERIFY2(m_fixture->boxes.isEmpty(), qPrintable(m_fixture->boxes.texts().join(QLatin1Char('|'))));
    QCOMPARE(window.m_cameraModelName, QStringLiteral("Fake"));
    QCOMPARE(window.m_cameraSerialNumber, m_serial);
    QVERIFY2(statisticsLine(window).endsWith(QStringLiteral(" | Lost: 0 ")),
             qPrintable(statisticsLine(window)));

    windowAction(window, "actionCameraStop")->trigger();
    QVERIFY(!window.m_isGrabbing);
    // Reports the grab thread queued before it ended still arrive; none after.
    QCoreApplication::processEvents();
    const int counted = framesCounted(window);
    QTest::qWait(300);
    QCOMPARE(framesCounted(window), counted);

    windowAction(window, "actionCameraClose")->trigger();
    QVERIFY(!window.m_isOpen);
    QVERIFY(!window.m_handle);
    MV_CC_DEVICE_INFO record;
    QVERIFY(findCamera(m_serial, record));
    QVERIFY(deviceIsFree(record));
    QVERIFY(m_fixture->boxes.isEmpty());
}

void GenicamWindowTest::killingTheCameraMidGrabStopsGrabbingAndSaysSo()
{
    MainWindow &window = *m_fixture->window;
    openAndStart();
    m_camera.kill();
    QVERIFY(m_fixture->boxes.waitForCount(1, 30000));
    QCOMPARE(m_fixture->boxes.last().title, QStringLiteral("Device"));
    QCOMPARE(m_fixture->boxes.last().text, QStringLiteral("Camera disconnected!"));
    QCOMPARE(m_fixture->boxes.last().kind, QMessageBox::Warning);
    QVERIFY(!window.m_isGrabbing);

    windowAction(window, "actionCameraClose")->trigger();
    QVERIFY(!window.m_isOpen);
    QVERIFY(!window.m_handle);
    QCOMPARE(m_fixture->boxes.count(), 1);
}

QTEST_MAIN(GenicamWindowTest)
#include "tst_genicam_window.moc"
