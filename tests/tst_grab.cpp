// The grab loop and the path of a camera frame: from the library's records and raw bytes to the
// images, numbers and names the window shows, without a line lost, repeated or read past its end.
#include <QtTest>

#include <QStatusBar>

#include <climits>
#include <cstring>
#include <memory>

#include "camerawindow.h"
#include "deviceentry.h"
#include "framebudget.h"
#include "frameimage.h"
#include "framekind.h"
#include "framestatistics.h"
#include "pixelformatname.h"
#include "simcamera.h"
#include "workthread.h"

namespace {

// A heap block of exactly `size` bytes, so AddressSanitizer catches any read past it.
std::unique_ptr<unsigned char[]> exactBlock(size_t size)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    for (size_t i = 0; i < size; ++i)
        block[i] = static_cast<unsigned char>(5 + i * 7);
    return block;
}

QByteArray camera(const char *transport, const char *format, const char *extra = "")
{
    return QByteArray("[cam]\ntransport = ") + transport + "\nserial = W1\nwidth = 64\nlines_per_frame = 16\n"
        + "pixel_format = " + format + "\nline_rate = 8000\n" + extra;
}

int bytesPerPixel(const QImage &image)
{
    return image.format() == QImage::Format_RGB888 ? 3 : 1;
}

// What the loop reports, queued into the GUI thread as in the window, and in which order.
struct LoopRecorder : QObject {
    struct Info {
        qlonglong timestamp, interval;
        int lost, total;
    };
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
        connect(thread, &WorkThread::pixelFormatUnsupported, this, [this] { events += 'U'; });
    }
    QList<Info> infos;
    QList<QImage> images, fed;
    QString events; // I info, G grabbed, C changed, U unsupported
};

} // namespace

class GrabTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { mvsim::reset(); }
    void cleanup()
    {
        stopLoop();
        m_recorder.reset();
        m_thread.reset();
        m_fixture.reset();
        mvsim::reset();
    }

    // Every frame is counted and becomes an image of its own, and with stitching on the feed follows
    // each info and image: Mono8 as its gray bytes marked as standing for the RGB picture.
    void everyFrameBecomesAnImageOfItsOwn_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("conversionFails");
        QTest::addColumn<bool>("stitching");
        QTest::addColumn<int>("live"); // QImage::Format_Invalid: no image
        QTest::addColumn<int>("fed");
        QTest::addColumn<bool>("standsForRgb");
        const auto row = [](const char *tag, const char *format, bool fails, bool stitching,
                            QImage::Format live, QImage::Format fed, bool marked) {
            QTest::newRow(tag) << QByteArray(format) << fails << stitching << int(live) << int(fed) << marked;
        };
        const auto rgb = QImage::Format_RGB888, gray = QImage::Format_Grayscale8;
        row("Mono8, not stitching", "Mono8", false, false, rgb, gray, false);
        row("Mono8", "Mono8", false, true, rgb, gray, true);
        row("Mono8 not converted", "Mono8", true, true, gray, gray, false);
        row("BayerRG8", "BayerRG8", false, true, rgb, rgb, false);
        row("BayerRG8 not converted: its mosaic", "BayerRG8", true, true, gray, gray, false);
        row("RGB8", "RGB8", false, true, rgb, rgb, false);
        row("RGB8 not converted: no image", "RGB8", true, false, QImage::Format_Invalid, rgb, false);
    }
    void everyFrameBecomesAnImageOfItsOwn()
    {
        QFETCH(QByteArray, format);
        QFETCH(bool, conversionFails);
        QFETCH(bool, stitching);
        QFETCH(int, live);
        QFETCH(int, fed);
        QFETCH(bool, standsForRgb);
        const char *fault = conversionFails ? "fault.MV_CC_ConvertPixelType = 0x8000000F\n" : "";
        QVERIFY(startLoop(camera("USB3", format.constData(), fault), stitching));
        QTRY_VERIFY(m_recorder->infos.size() >= 5);
        stopLoop();
        const auto &infos = m_recorder->infos;
        for (int i = 0; i < infos.size(); ++i) { // the counters run from the first frame
            QCOMPARE(infos[i].total, i + 1);
            QCOMPARE(infos[i].interval, i ? infos[i].timestamp - infos[i - 1].timestamp : 0LL);
        }
        const auto &images = m_recorder->images;
        if (live == QImage::Format_Invalid) {
            QVERIFY(images.isEmpty());
            return;
        }
        const int frames = m_recorder->infos.size();
        QCOMPARE(m_recorder->events, QString(frames, QChar('I')).replace("I", stitching ? "IGC" : "IG"));
        // The line stamps run on without repeat across images.
        QList<quint32> lines;
        for (const QImage &image : images) {
            QCOMPARE(int(image.format()), live);
            QCOMPARE(image.size(), QSize(64, 16));
            for (int y = 0; y < image.height(); ++y)
                lines.append(mvsim::lineStamp(image.constScanLine(y), bytesPerPixel(image)));
        }
        const bool demosaiced = format == "BayerRG8" && !conversionFails; // mixes neighbouring lines
        for (int i = 1; i < lines.size() && !demosaiced; ++i)
            QVERIFY2(i % 16 ? lines[i] == lines[i - 1] + 1 : lines[i] > lines[i - 1],
                     qPrintable(QString::number(i)));
        for (int i = 0; i < m_recorder->fed.size(); ++i) {
            const QImage &feed = m_recorder->fed[i];
            QCOMPARE(int(feed.format()), fed);
            QCOMPARE(grayStandsForRgb(feed), standsForRgb);
            QCOMPARE(feed.size(), images[i].size());
            QCOMPARE(mvsim::lineStamp(feed.constScanLine(0), bytesPerPixel(feed)), lines[i * 16]);
        }
        // Nobody took the fed frames off the queue: it holds exactly their bytes.
        QCOMPARE(m_fixture->window->m_frameBudget->queued(),
                 m_recorder->fed.size() * frameImageBytes(64, 16, fed == QImage::Format_RGB888 ? 24 : 8));
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
            // Holding the frame lock stalls the loop for 300 ms as a slow snapshot would;
            // the camera keeps one frame of the 150 it makes meanwhile.
            QMutexLocker frameLock(&m_fixture->window->m_frameMutex);
            QTest::qSleep(300);
        }
        const int before = m_recorder->infos.size();
        QTRY_VERIFY(m_recorder->infos.size() >= before + 3);
        stopLoop();
        QVERIFY(m_recorder->infos.last().lost > lostBefore + 20);
    }

    void unsupportedFormatIsNamedOnceAndFramesStillCounted()
    {
        QVERIFY(installCameras(camera("GigE", "Mono14").toStdString()) && makeWindow());
        QVERIFY(m_fixture->openEntry(0));
        QSignalSpy infos(m_fixture->window->m_workThread, &WorkThread::frameInfoUpdated);
        QSignalSpy said(m_fixture->window->m_workThread, &WorkThread::pixelFormatUnsupported);
        QSignalSpy shown(m_fixture->window->m_workThread, &WorkThread::frameGrabbed);
        QVERIFY(m_fixture->start());
        QTRY_VERIFY(infos.count() >= 20);
        QCOMPARE(said.count(), 1);
        QCOMPARE(shown.count(), 0);
        QVERIFY(m_fixture->window->statusBar()->currentMessage().contains(QLatin1String("Mono14")));
        m_fixture->stop();
        QVERIFY(m_fixture->boxes.isEmpty());
    }

    void formatsTheLibraryConvertsAndTheirNames()
    {
        const struct {
            unsigned int code;
            bool converted;
            const char *name;
        } formats[] = {{0x01100025u, false, "Mono14"},    {0x01100011u, false, "BayerRG12"},
                       {0x01100007u, true, "Mono16"},     {0x010C0006u, true, "Mono12Packed"},
                       {0x0210003Bu, true, "YCbCr422_8"}, {0x81080001u, false, "0x81080001"},
                       {0x00000012u, false, "0x00000012"}};
        for (const auto &format : formats) {
            QCOMPARE(libraryConvertsPixelFormat(format.code), format.converted);
            QCOMPARE(pixelFormatName(format.code), QString::fromLatin1(format.name));
        }
    }

    void namesAreReadOnlyToTheirFieldsAndNormalisedForFileNames()
    {
        // A camera may fill a name field completely, leaving no terminating zero.
        MV_CC_DEVICE_INFO device = {};
        device.nTLayerType = MV_GIGE_DEVICE;
        MV_GIGE_DEVICE_INFO &gige = device.SpecialInfo.stGigEInfo;
        std::memcpy(gige.chManufacturerName, "\xe7\x9b\xb8\xe6\x9c\xba", 6); // UTF-8
        std::memset(gige.chModelName, 'M', sizeof gige.chModelName);
        std::memset(gige.chSerialNumber, '7', sizeof gige.chSerialNumber);
        std::memset(gige.chDeviceVersion, 'V', sizeof gige.chDeviceVersion);
        std::memset(gige.chUserDefinedName, 'U', sizeof gige.chUserDefinedName);
        gige.nCurrentIp = 0xFF00FF00u;
        const QString model(int(sizeof gige.chModelName), QLatin1Char('M'));
        const QString serial(int(sizeof gige.chSerialNumber), QLatin1Char('7'));
        QCOMPARE(deviceEntryText(3, &device),
                 QStringLiteral("[3]GigE: 相机 %1 (%2)  255.0.255.0").arg(model, serial));
        QCOMPARE(deviceModelName(device), model);
        QCOMPARE(deviceSerialNumber(device), serial);

        const char *names[][2]
            = {{"MV  CA 050 ", "MV_CA_050"}, {"  MV\tCL\n042", "MV_CL_042"}, {"A_B C", "A_B_C"}, {"   ", ""}};
        for (const auto &name : names)
            QCOMPARE(normalizedCameraName(QString::fromLatin1(name[0])), QString::fromLatin1(name[1]));
    }

    // Numbers joined, grown or shown never wrap, round or swap places.
    void numbersNeverWrapAround()
    {
        static const QRegularExpression number(QStringLiteral(R"(-?\d+(\.\d+)?)"));
        QStringList shown;
        auto all
            = number.globalMatch(frameStatisticsText(4000000000u, 8, 2, 0x123456789ALL, -250, 12.3456, 17));
        while (all.hasNext())
            shown << all.next().captured(0);
        QCOMPARE(shown, (QStringList{"4000000000", "8", "2", "78187493530", "-250", "12.346", "17"}));
        QCOMPARE(frameTimestamp(1u, 0x80000000u), qint64(0x180000000LL));
        QCOMPARE(packedRgbSize(65535, 21845), quint64(4294836225ULL));
        QCOMPARE(packedRgbSize(65536, 21846), quint64(0)); // more than a frame length can hold
        // A refused frame grows the buffer to what the camera or library reports, else doubles it.
        QCOMPARE(grownPayloadSize(1000, 5000, 0), quint64(5000));
        QCOMPARE(grownPayloadSize(1000, 1000, 3000), quint64(3000));
        QCOMPARE(grownPayloadSize(1000, 0, 0), quint64(2000));
        QCOMPARE(grownPayloadSize(3000000000ULL, 0, 0), quint64(UINT_MAX));
        // A batch closes at every frame number that does not follow; a GigE id wrap is not a hole.
        const struct {
            unsigned int previous, next;
            bool follows;
        } numbers[]
            = {{7, 8, true},  {65535, 65536, true}, {65535, 1, true},  {0xFFFFFFFFu, 0, true}, {7, 9, false},
               {7, 7, false}, {9, 1, false},        {65535, 2, false}, {65534, 1, false}};
        for (const auto &n : numbers)
            QVERIFY2(frameNumberFollows(n.previous, n.next) == n.follows,
                     qPrintable(QString::number(n.next)));
    }

    // Width 5 makes QImage pad every line, so a plain block copy would shear the picture; data one
    // byte short is refused, never read past.
    void rawImagesCopyLineByLineAndRefuseShortData()
    {
        for (const int bytesPerPixel : {1, 3}) {
            for (const int spare : {-1, 0, 1}) {
                const quint64 length = quint64(15 * bytesPerPixel + spare);
                const auto bytes = exactBlock(size_t(length));
                const QImage image = bytesPerPixel == 1 ? grayImageFromBytes(bytes.get(), length, 5, 3)
                                                        : rgbImageFromPacked(bytes.get(), length, 5, 3);
                QCOMPARE(image.isNull(), spare < 0);
                if (image.isNull())
                    continue;
                QCOMPARE(image.size(), QSize(5, 3));
                const int line = 5 * bytesPerPixel;
                for (int y = 0; y < 3; ++y)
                    QCOMPARE(QByteArray(reinterpret_cast<const char *>(image.constScanLine(y)), line),
                             QByteArray(reinterpret_cast<const char *>(bytes.get() + y * line), line));
                bytes[size_t(2 * line)] ^= 0xFF; // the image owns its pixels
                QVERIFY(image.constScanLine(2)[0] != bytes[size_t(2 * line)]);
            }
        }
    }

    // 64 x 64 pixels announced, 64 x 63 bytes delivered, whether the conversion refuses or fails.
    void shortFrameIsNeverReadPastItsEnd()
    {
        // The conversion needs a live handle of the library; any simulated camera gives one.
        const std::vector<MV_CC_DEVICE_INFO> cameras = enumerateCameras();
        void *handle = nullptr;
        QVERIFY(!cameras.empty() && MV_CC_CreateHandle(&handle, &cameras.front()) == MV_OK);
        QCOMPARE(MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0), MV_OK);
        const auto raw = exactBlock(64 * 63);
        const std::pair<MvGvspPixelType, bool> cases[] = {{PixelType_Gvsp_Mono8, false},
                                                          {PixelType_Gvsp_Mono8, true},
                                                          {PixelType_Gvsp_BayerRG8, true},
                                                          {PixelType_Gvsp_RGB8_Packed, false}};
        QStringList read;
        for (const auto &[type, conversionFails] : cases) {
            mvsim::setFault("MV_CC_ConvertPixelType", conversionFails ? int(MV_E_CONVERT) : int(MV_OK));
            MV_FRAME_OUT_INFO_EX info = {};
            info.nWidth = info.nHeight = 64;
            info.enPixelType = type;
            info.nFrameLen = 64 * 63;
            ByteBuffer scratch;
            if (!frameImage(handle, raw.get(), info, scratch).isNull())
                read << QStringLiteral("%1/%2").arg(type, 0, 16).arg(conversionFails);
        }
        MV_CC_CloseDevice(handle);
        MV_CC_DestroyHandle(handle);
        QCOMPARE(read, QStringList());
    }

private:
    // Only the loop needs a window: it reads the handle and the budget from there.
    bool makeWindow()
    {
        m_fixture = std::make_unique<CameraWindow>();
        return m_fixture->make();
    }

    // Opens the only camera of `ini` as the window's and starts a loop of its own on it.
    bool startLoop(const QByteArray &ini, bool reportChanges = false)
    {
        if (!installCameras(ini.toStdString()) || !makeWindow())
            return false;
        MainWindow &window = *m_fixture->window;
        const std::vector<MV_CC_DEVICE_INFO> cameras = enumerateCameras();
        if (cameras.size() != 1)
            return false;
        window.m_deviceInfo = cameras.front();
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
        if (m_thread && window.m_handle) {
            MV_CC_CloseDevice(window.m_handle);
            MV_CC_DestroyHandle(window.m_handle);
            window.m_handle = nullptr;
        }
        QCoreApplication::sendPostedEvents(); // what the loop queued before it ended
    }

    std::unique_ptr<CameraWindow> m_fixture;
    std::unique_ptr<WorkThread> m_thread;
    std::unique_ptr<LoopRecorder> m_recorder;
};

QTEST_MAIN(GrabTest)
#include "tst_grab.moc"
