// Formats the camera library cannot show: named once in the status bar while
// the statistics line goes on counting.
#include <QtTest>

#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>

#include "pixelformatname.h"
#include "camerawindow.h"
#include "workthread.h"

class CameraPixelFormatTest : public QObject
{
    Q_OBJECT

private slots:
    void formatsAreNamedAsGenICamNamesThem_data()
    {
        QTest::addColumn<unsigned int>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("converted");
        QTest::newRow("Mono14") << 0x01100025u << "Mono14" << false;
        QTest::newRow("BayerRG12") << 0x01100011u << "BayerRG12" << false;
        QTest::newRow("Mono16") << 0x01100007u << "Mono16" << true;
        QTest::newRow("Mono12Packed") << 0x010C0006u << "Mono12Packed" << true;
        QTest::newRow("YCbCr422_8") << 0x0210003Bu << "YCbCr422_8" << true;
        QTest::newRow("vendor code") << 0x81080001u << "0x81080001" << false;
        QTest::newRow("short code") << 0x00000012u << "0x00000012" << false;
    }

    void formatsAreNamedAsGenICamNamesThem()
    {
        QFETCH(unsigned int, code);
        QTEST(pixelFormatName(code), "name");
        QTEST(libraryConvertsPixelFormat(code), "converted");
    }

    void unsupportedFormatIsSaidOnceAndFramesAreStillCounted()
    {
        QVERIFY(installCameras("[cam]\ntransport = GigE\nserial = M14\nwidth = 64\nlines_per_frame = 16\n"
                               "pixel_format = Mono14\nline_rate = 4000\n"));
        CameraWindow fixture;
        QVERIFY(fixture.make());
        MainWindow &window = *fixture.window;
        QSignalSpy said(window.m_workThread, &WorkThread::pixelFormatUnsupported);
        QSignalSpy shown(window.m_workThread, &WorkThread::frameGrabbed);
        QVERIFY(fixture.openEntry(0));
        QVERIFY(fixture.start());
        QLabel *statistics = window.findChild<QLabel *>(QStringLiteral("dataitemLabel"));
        static const QRegularExpression counted(
            QStringLiteral("^FrameCount: \\[(\\d+)\\] \\| W\\*H: 64x16 "));
        QTRY_VERIFY_WITH_TIMEOUT(counted.match(statistics->text()).captured(1).toInt() >= 20, 10000);
        QCOMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("Pixel format Mono14 is not supported"));
        QCOMPARE(said.count(), 1);
        QCOMPARE(shown.count(), 0);
        fixture.stop();
        QCOMPARE(fixture.boxes.count(), 0);
    }
};

QTEST_MAIN(CameraPixelFormatTest)
#include "tst_camera_pixelformat.moc"
