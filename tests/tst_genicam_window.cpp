// The window's camera actions on a real GigE Vision peer: Aravis's fake
// camera on loopback, reached through the GenICam backend.
#include <QtTest>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QRegularExpression>

#include "camerawindow.h"
#include "genicamfakecamera.h"

using namespace genicamtest;

class GenicamWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_serial = uniqueSerial();
        const QString reason = unavailableReason(m_serial);
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
    }

    void init()
    {
        QString why;
        if (!m_camera.isRunning())
            QVERIFY2(m_camera.start(m_serial, why), qPrintable(why));
        m_fixture = std::make_unique<CameraWindow>();
        QVERIFY(m_fixture->make());
        windowAction(window(), "actionCameraSearch")->trigger();
        QComboBox *devices = window().findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
        for (int i = 0; i < devices->count(); ++i)
            if (devices->itemText(i).contains(m_serial))
                devices->setCurrentIndex(i);
        m_entry = devices->itemText(devices->currentIndex());
        m_entryIndex = devices->currentData().toInt();
    }

    void cleanup()
    {
        if (m_fixture && m_fixture->window)
            windowAction(window(), "actionCameraClose")->trigger();
        m_fixture.reset();
    }

    void searchOpenStartStopAndCloseShowTheCameraAndItsStatisticsLine()
    {
        QCOMPARE(m_entry,
                 QStringLiteral("[%1]GigE: Aravis Fake (%2)  127.0.0.1").arg(m_entryIndex).arg(m_serial));
        openAndStart();
        QCOMPARE(m_fixture->boxes.texts(), QStringList()); // the packet size was set without a warning
        QVERIFY2(statisticsLine().endsWith(QStringLiteral(" | Lost: 0 ")), qPrintable(statisticsLine()));
        windowAction(window(), "actionCameraStop")->trigger();
        QVERIFY(!window().m_isGrabbing);
        // Reports the grab thread queued before it ended still arrive; none after.
        QCoreApplication::processEvents();
        const int counted = framesCounted();
        QTest::qWait(300);
        QCOMPARE(framesCounted(), counted);
        windowAction(window(), "actionCameraClose")->trigger();
        QVERIFY(!window().m_isOpen);
        MV_CC_DEVICE_INFO record;
        QVERIFY(findCamera(m_serial, record));
        QVERIFY(deviceIsFree(record));
        QCOMPARE(m_fixture->boxes.texts(), QStringList());
    }

    void killingTheCameraMidGrabStopsGrabbingAndSaysSo()
    {
        openAndStart();
        m_camera.kill();
        QVERIFY(m_fixture->boxes.waitForCount(1, 30000));
        QCOMPARE(m_fixture->boxes.last().title, QStringLiteral("Device"));
        QCOMPARE(m_fixture->boxes.last().text, QStringLiteral("Camera disconnected!"));
        QCOMPARE(m_fixture->boxes.last().kind, QMessageBox::Warning);
        QVERIFY(!window().m_isGrabbing);
        windowAction(window(), "actionCameraClose")->trigger();
        QVERIFY(!window().m_isOpen && !window().m_handle);
        QCOMPARE(m_fixture->boxes.count(), 1);
    }

    void closeRightAfterTheCameraDiedReturnsPromptly()
    {
        openAndStart();
        m_camera.kill();
        QTest::qWait(500);
        QElapsedTimer clock;
        clock.start();
        windowAction(window(), "actionCameraClose")->trigger();
        const qint64 elapsed = clock.elapsed();
        qInfo("Close took %lld ms", elapsed);
        QVERIFY2(elapsed < 1500, qPrintable(QString::number(elapsed)));
        QVERIFY(!window().m_isOpen && !window().m_handle && !window().m_isGrabbing);
    }

private:
    MainWindow &window() { return *m_fixture->window; }

    QString statisticsLine() { return window().findChild<QLabel *>(QStringLiteral("dataitemLabel"))->text(); }

    // The frame count of the statistics line, or -1 while it shows none.
    int framesCounted()
    {
        static const QRegularExpression pattern(
            QStringLiteral("^FrameCount: \\[(\\d+)\\] \\| W\\*H: 512x512 \\| "));
        const QRegularExpressionMatch match = pattern.match(statisticsLine());
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }

    void openAndStart()
    {
        QVERIFY(m_entry.contains(m_serial));
        windowAction(window(), "actionCameraOpen")->trigger();
        QVERIFY(window().m_isOpen);
        windowAction(window(), "actionCameraStart")->trigger();
        QVERIFY(window().m_isGrabbing);
        QTRY_VERIFY_WITH_TIMEOUT(framesCounted() >= 3, 15000);
    }

    FakeCamera m_camera;
    QString m_serial;
    QString m_entry;
    int m_entryIndex = -1;
    std::unique_ptr<CameraWindow> m_fixture;
};

QTEST_MAIN(GenicamWindowTest)
#include "tst_genicam_window.moc"
