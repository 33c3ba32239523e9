// The grab loop on its own, fed by simulated cameras.
#include <QtTest>

#include "framebudget.h"
#include "framekind.h"
#include "camerawindow.h"
#include "workthread.h"

namespace {

struct FrameInfo {
    qlonglong timestamp;
    qlonglong interval;
    int lost;
    int total;
};

// Collects what the loop reports, queued into the GUI thread as in the window, and in which order.
class LoopRecorder : public QObject
{
public:
    explicit LoopRecorder(WorkThread *thread)
    {
        connect(thread, &WorkThread::frameInfoUpdated, this,
                [this](uint, int, int, qlonglong ts, qlonglong interval, int lost, int total, double) {
                    infos.append({ts, interval, lost, total});
                    events += 'I';
                });
        connect(thread, &WorkThread::frameGrabbed, this, [this](const QImage &image) {
            images.append(image);
            events += 'G';
        });
        connect(thread, &WorkThread::changeDetected, this,
                [this](const QImage &a, const QImage &b, qlonglong ta, qlonglong tb) {
                    // The stitch feed passes the same frame as both halves.
                    events += a == b && ta == tb && a.constBits() == b.constBits() ? 'C' : 'x';
                    fed.append(a);
                });
    }

    QList<FrameInfo> infos;
    QList<QImage> images;
    QList<QImage> fed; // the stitch feed's images
    QString events;    // I info, G grabbed, C changed
};

QByteArray camera(const char *transport, const char *format, const char *extra = "")
{
    return QByteArray("[cam]\ntransport = ") + transport + "\nserial = W1\nwidth = 64\nlines_per_frame = 16\n"
        + "pixel_format = " + format + "\nline_rate = 8000\n" + extra;
}

} // namespace

class WorkThreadTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        mvsim::reset();
        m_fixture = std::make_unique<CameraWindow>();
        // The loop gets its own handle; the window's search does not touch it.
        QVERIFY(m_fixture->make(false));
    }

    void cleanup()
    {
        stopLoop();
        m_recorder.reset();
        m_thread.reset();
        m_fixture.reset();
        mvsim::reset();
    }

    void firstFrameHasIntervalZeroAndTotalOne()
    {
        QVERIFY(startLoop(camera("GigE", "Mono8")));
        QTRY_VERIFY(m_recorder->infos.size() >= 4);
        stopLoop();
        const QList<FrameInfo> &infos = m_recorder->infos;
        QCOMPARE(infos.first().interval, 0LL);
        QCOMPARE(infos.first().total, 1);
        for (int i = 1; i < infos.size(); ++i) {
            QCOMPARE(infos[i].total, i + 1);
            QCOMPARE(infos[i].interval, infos[i].timestamp - infos[i - 1].timestamp);
            QVERIFY(infos[i].interval > 0);
        }
    }

    void everyFrameBecomesAnImageOfItsOwn_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("conversionFails");
        QTest::addColumn<int>("imageFormat"); // QImage::Format_Invalid: no image
        const auto row = [](const char *tag, const char *format, bool fails, QImage::Format image) {
            QTest::newRow(tag) << QByteArray(format) << fails << int(image);
        };
        row("Mono8 converted", "Mono8", false, QImage::Format_RGB888);
        row("Mono8 shown as gray when conversion fails", "Mono8", true, QImage::Format_Grayscale8);
        row("BayerRG8 shown as its mosaic when conversion fails", "BayerRG8", true,
            QImage::Format_Grayscale8);
        row("RGB8 converted", "RGB8", false, QImage::Format_RGB888);
        row("RGB8 without conversion has no image", "RGB8", true, QImage::Format_Invalid);
    }
    void everyFrameBecomesAnImageOfItsOwn()
    {
        QFETCH(QByteArray, format);
        QFETCH(bool, conversionFails);
        QFETCH(int, imageFormat);
        const char *fault = conversionFails ? "fault.MV_CC_ConvertPixelType = 0x8000000F\n" : "";
        QVERIFY(startLoop(camera("USB3", format.constData(), fault)));
        QTRY_VERIFY(m_recorder->infos.size() >= 5);
        stopLoop();
        if (imageFormat == QImage::Format_Invalid) {
            QVERIFY(m_recorder->images.isEmpty());
            return;
        }
        QCOMPARE(m_recorder->images.size(), m_recorder->infos.size());
        // Every image holds its own frame: the line stamps run on without repeat across images.
        QList<quint32> lines;
        for (const QImage &image : qAsConst(m_recorder->images)) {
            QCOMPARE(int(image.format()), imageFormat);
            QCOMPARE(image.size(), QSize(64, 16));
            for (int y = 0; y < image.height(); ++y)
                lines.append(
                    mvsim::lineStamp(image.constScanLine(y), imageFormat == QImage::Format_RGB888 ? 3 : 1));
        }
        for (int i = 1; i < lines.size(); ++i)
            QVERIFY2(i % 16 ? lines[i] == lines[i - 1] + 1 : lines[i] > lines[i - 1],
                     qPrintable(QString::number(i)));
    }

    void stitchFeedFollowsInfoAndImageOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("reportChanges");
        QTest::addColumn<QString>("perFrame");
        QTest::newRow("stitching") << true << "IGC";
        QTest::newRow("not stitching") << false << "IG";
    }
    void stitchFeedFollowsInfoAndImageOnlyWhenAsked()
    {
        QFETCH(bool, reportChanges);
        QFETCH(QString, perFrame);
        QVERIFY(startLoop(camera("GigE", "Mono8"), reportChanges));
        QTRY_VERIFY(m_recorder->images.size() >= 4);
        stopLoop();
        const int frames = m_recorder->infos.size();
        QCOMPARE(m_recorder->events, QString(frames, QChar('I')).replace("I", perFrame));
    }

    void stitchFeedKeepsMono8GrayAndTheLiveViewAsItWas_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("conversionFails");
        QTest::addColumn<int>("liveFormat");
        QTest::addColumn<int>("fedFormat");
        QTest::addColumn<bool>("standsForRgb");
        const auto row = [](const char *tag, const char *format, bool fails, QImage::Format live,
                            QImage::Format fed, bool marked) {
            QTest::newRow(tag) << QByteArray(format) << fails << int(live) << int(fed) << marked;
        };
        row("Mono8 converted", "Mono8", false, QImage::Format_RGB888, QImage::Format_Grayscale8, true);
        row("Mono8 not converted", "Mono8", true, QImage::Format_Grayscale8, QImage::Format_Grayscale8,
            false);
        row("BayerRG8 converted", "BayerRG8", false, QImage::Format_RGB888, QImage::Format_RGB888, false);
        row("BayerRG8 not converted", "BayerRG8", true, QImage::Format_Grayscale8, QImage::Format_Grayscale8,
            false);
        row("RGB8 converted", "RGB8", false, QImage::Format_RGB888, QImage::Format_RGB888, false);
    }
    // The live view gets what it always got; the stitch feed carries a Mono8
    // frame as its own gray bytes, marked as standing for the RGB picture, and
    // the budget holds what each fed image takes, no more.
    void stitchFeedKeepsMono8GrayAndTheLiveViewAsItWas()
    {
        QFETCH(QByteArray, format);
        QFETCH(bool, conversionFails);
        QFETCH(int, liveFormat);
        QFETCH(int, fedFormat);
        QFETCH(bool, standsForRgb);
        const char *fault = conversionFails ? "fault.MV_CC_ConvertPixelType = 0x8000000F\n" : "";
        QVERIFY(startLoop(camera("USB3", format.constData(), fault), true));
        QTRY_VERIFY(m_recorder->fed.size() >= 4);
        stopLoop();
        const QList<QImage> &live = m_recorder->images;
        const QList<QImage> &fed = m_recorder->fed;
        QCOMPARE(fed.size(), live.size());
        const int bytes = fedFormat == QImage::Format_RGB888 ? 3 : 1;
        for (int i = 0; i < fed.size(); ++i) {
            QCOMPARE(int(live[i].format()), liveFormat);
            QCOMPARE(int(fed[i].format()), fedFormat);
            QCOMPARE(grayStandsForRgb(fed[i]), standsForRgb);
            QCOMPARE(fed[i].size(), live[i].size());
            // The same frame: its first line's stamp.
            QCOMPARE(mvsim::lineStamp(fed[i].constScanLine(0), bytes),
                     mvsim::lineStamp(live[i].constScanLine(0), liveFormat == QImage::Format_RGB888 ? 3 : 1));
        }
        // Nobody took the fed frames off the queue: it holds exactly their bytes.
        QCOMPARE(m_fixture->window->m_frameBudget->queued(),
                 fed.size() * frameImageBytes(64, 16, fedFormat == QImage::Format_RGB888 ? 24 : 8));
    }

    void framesLostWhileTheLoopStallsAreReported_data()
    {
        QTest::addColumn<QByteArray>("transport");
        QTest::newRow("GigE network statistics") << QByteArray("GigE");
        QTest::newRow("USB3 match statistics") << QByteArray("USB3");
    }
    void framesLostWhileTheLoopStallsAreReported()
    {
        QFETCH(QByteArray, transport);
        QVERIFY(startLoop(camera(transport.constData(), "Mono8", "buffer_count = 1\n")));
        QTRY_VERIFY(m_recorder->infos.size() >= 2);
        const int lostBefore = m_recorder->infos.last().lost;
        {
            // Holding the frame lock stalls the loop as a slow snapshot would; the camera keeps one frame.
            QMutexLocker frameLock(&m_fixture->window->m_frameMutex);
            QTest::qSleep(300);
        }
        const int before = m_recorder->infos.size();
        QTRY_VERIFY(m_recorder->infos.size() >= before + 3);
        stopLoop();
        // 300 ms at 500 frames per second: far more than a few frames must be missing.
        QVERIFY(m_recorder->infos.last().lost > lostBefore + 20);
    }

private:
    // Opens the only camera of `ini` as the window's and starts a loop of its own on it.
    bool startLoop(const QByteArray &ini, bool reportChanges = false)
    {
        MainWindow &window = *m_fixture->window;
        MV_CC_DEVICE_INFO_LIST list = {};
        if (!installCameras(ini.toStdString())
            || MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK || list.nDeviceNum != 1)
            return false;
        window.m_deviceInfo = *list.pDeviceInfo[0];
        if (MV_CC_CreateHandle(&window.m_handle, &window.m_deviceInfo) != MV_OK
            || MV_CC_OpenDevice(window.m_handle, MV_ACCESS_Exclusive, 0) != MV_OK)
            return false;
        m_thread = std::make_unique<WorkThread>(&window);
        m_recorder = std::make_unique<LoopRecorder>(m_thread.get());
        m_thread->setRunning(true);
        m_thread->setReportChanges(reportChanges);
        m_thread->start();
        return MV_CC_StartGrabbing(window.m_handle) == MV_OK;
    }

    void stopLoop()
    {
        if (!m_fixture || !m_fixture->window)
            return;
        MainWindow &window = *m_fixture->window;
        if (m_thread) {
            m_thread->setRunning(false);
            if (window.m_handle)
                MV_CC_StopGrabbing(window.m_handle);
            m_thread->wait();
        }
        if (window.m_handle) {
            MV_CC_CloseDevice(window.m_handle);
            MV_CC_DestroyHandle(window.m_handle);
            window.m_handle = nullptr;
        }
        QCoreApplication::processEvents(); // deliver what the loop queued before it ended
    }

    std::unique_ptr<CameraWindow> m_fixture;
    std::unique_ptr<WorkThread> m_thread;
    std::unique_ptr<LoopRecorder> m_recorder;
};

QTEST_MAIN(WorkThreadTest)
#include "tst_workthread.moc"
