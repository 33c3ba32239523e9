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

// One frame buffer: frames made while the loop stalls are lost, not queued.
QByteArray camera(const QByteArray &transport, const QByteArray &format, const char *extra = "")
{
    return "[cam]\ntransport = " + transport + "\nserial = W1\nwidth = 64\nlines_per_frame = 16\n"
        + "buffer_count = 1\npixel_format = " + format + "\nline_rate = 8000\n" + extra;
}

} // namespace

class GrabTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        stopLoop();
        m_thread.reset();
        m_fixture.reset();
        mvsim::reset();
        m_seen = {};
    }

    // Every frame is counted and becomes an image of its own, followed by the stitch feed: Mono8 as
    // gray bytes standing for the RGB picture. Frames lost while the loop stalled are counted.
    void everyFrameBecomesAnImageOfItsOwn_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("conversionFails");
        QTest::addColumn<int>("live"); // QImage::Format_Invalid: no image
        QTest::addColumn<int>("fed");
        const auto row
            = [](const char *tag, const char *format, bool fails, QImage::Format live, QImage::Format fed) {
                  QTest::newRow(tag) << QByteArray(format) << fails << int(live) << int(fed);
              };
        const auto rgb = QImage::Format_RGB888, gray = QImage::Format_Grayscale8;
        row("Mono8", "Mono8", false, rgb, gray);
        row("Mono8 not converted", "Mono8", true, gray, gray);
        row("BayerRG8", "BayerRG8", false, rgb, rgb);
        row("BayerRG8 not converted: its mosaic", "BayerRG8", true, gray, gray);
        row("RGB8", "RGB8", false, rgb, rgb);
        // The library converts RGB8: a failed conversion is no unsupported format.
        row("RGB8 not converted: no image", "RGB8", true, QImage::Format_Invalid, rgb);
    }
    void everyFrameBecomesAnImageOfItsOwn()
    {
        QFETCH(QByteArray, format);
        QFETCH(bool, conversionFails);
        QFETCH(int, live);
        QFETCH(int, fed);
        // Only a gray feed of a converted picture stands for RGB.
        const bool standsForRgb = live == QImage::Format_RGB888 && fed == QImage::Format_Grayscale8;
        const char *fault = conversionFails ? "fault.MV_CC_ConvertPixelType = 0x8000000F\n" : "";
        // Mono8 from a USB3 camera, the rest from GigE ones: either counts its losses its own way.
        QVERIFY(openCamera(camera(format == "Mono8" ? "USB3" : "GigE", format, fault)));
        m_thread = std::make_unique<WorkThread>(m_fixture->window->camera(),
                                                &m_fixture->window->session().budget());
        record(m_thread.get());
        m_thread->setRunning(true);
        m_thread->setReportChanges(true);
        m_thread->start();
        QCOMPARE(MV_CC_StartGrabbing(m_fixture->window->m_handle), MV_OK);
        QTRY_VERIFY(m_seen.infos.size() >= 2);
        const int lostBefore = m_seen.infos.last().lost;
        // Holding the frame lock stalls the loop for 300 ms as a slow snapshot would; the camera
        // keeps one frame of the 150 it makes meanwhile.
        m_fixture->window->m_frameMutex.lock();
        QTest::qSleep(300);
        m_fixture->window->m_frameMutex.unlock();
        const int before = m_seen.infos.size();
        QTRY_VERIFY(m_seen.infos.size() >= before + 3);
        stopLoop();
        QVERIFY(m_seen.infos.last().lost > lostBefore + 20);
        const auto &infos = m_seen.infos;
        for (int i = 0; i < infos.size(); ++i) { // the counters run from the first frame
            QCOMPARE(infos[i].total, i + 1);
            QCOMPARE(infos[i].interval, i ? infos[i].timestamp - infos[i - 1].timestamp : 0LL);
        }
        // Stopping clears the feed flag, which may leave the last frame unfed.
        const QString expected
            = QString(infos.size(), QChar('I')).replace("I", live == QImage::Format_Invalid ? "I" : "IGC");
        QVERIFY2(expected.startsWith(m_seen.events) && m_seen.events.size() >= expected.size() - 1,
                 qPrintable(m_seen.events));
        // The line stamps run on without repeat across images.
        QList<quint32> lines;
        for (const QImage &image : m_seen.images) {
            QCOMPARE(int(image.format()), live);
            QCOMPARE(image.size(), QSize(64, 16));
            for (int y = 0; y < image.height(); ++y)
                lines.append(mvsim::lineStamp(image.constScanLine(y), unsigned(image.depth() / 8)));
        }
        const bool demosaiced = format == "BayerRG8" && !conversionFails; // mixes neighbouring lines
        for (int i = 1; i < lines.size() && !demosaiced; ++i)
            QVERIFY2(i % 16 ? lines[i] == lines[i - 1] + 1 : lines[i] > lines[i - 1],
                     qPrintable(QString::number(i)));
        for (int i = 0; i < m_seen.fed.size(); ++i) {
            const QImage &feed = m_seen.fed[i];
            QCOMPARE(int(feed.format()), fed);
            QCOMPARE(grayStandsForRgb(feed), standsForRgb);
            QCOMPARE(feed.size(), QSize(64, 16));
            QCOMPARE(mvsim::lineStamp(feed.constScanLine(0), unsigned(feed.depth() / 8)), lines[i * 16]);
        }
        // Nobody took the fed frames off the queue: it holds exactly their bytes.
        QCOMPARE(m_fixture->window->session().budget().queued(),
                 m_seen.fed.size() * frameImageBytes(64, 16, fed == QImage::Format_RGB888 ? 24 : 8));
    }

    void unsupportedFormatIsNamedOnceAndFramesStillCounted()
    {
        QVERIFY(openCamera(camera("GigE", "Mono14")));
        record(m_fixture->window->m_workThread);
        QVERIFY(m_fixture->start());
        QTRY_VERIFY(m_seen.infos.size() >= 20);
        QCOMPARE(m_seen.events, QString(m_seen.infos.size(), 'I').insert(1, 'U')); // told once, no image
        QVERIFY(m_fixture->window->statusBar()->currentMessage().contains(QLatin1String("Mono14")));
        QVERIFY(m_fixture->boxes.isEmpty());
    }

    void recordsAndRawBytesAreReadWithinBoundsAndNumbersNeverWrap()
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
        // Numbers joined or grown never wrap.
        QCOMPARE(frameTimestamp(1u, 0x80000000u), qint64(0x180000000LL));
        QCOMPARE(packedRgbSize(65535, 21845), quint64(4294836225ULL));
        QCOMPARE(packedRgbSize(65536, 21846), quint64(0)); // more than a frame length can hold
        // A refused frame grows the buffer to what the camera or library reports, else doubles it.
        QCOMPARE(grownPayloadSize(1000, 5000, 0), quint64(5000));
        QCOMPARE(grownPayloadSize(1000, 1000, 3000), quint64(3000));
        QCOMPARE(grownPayloadSize(1000, 0, 0), quint64(2000));
        QCOMPARE(grownPayloadSize(3000000000ULL, 0, 0), quint64(UINT_MAX));
        // A batch closes at every frame number that does not follow; a GigE id wrap is not a hole.
        const unsigned int numbers[][3]
            = {{7, 8, 1}, {65535, 65536, 1}, {65535, 1, 1}, {0xFFFFFFFFu, 0, 1}, {7, 9, 0},
               {7, 7, 0}, {9, 1, 0},         {65535, 2, 0}, {65534, 1, 0},       {65535, 0, 0}};
        for (const auto &[previous, next, follows] : numbers)
            QVERIFY2(frameNumberFollows(previous, next) == bool(follows), qPrintable(QString::number(next)));
        // Width 5 makes QImage pad every line, so a plain block copy would shear the picture; data
        // one byte short is refused, never read past.
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
        // 64 x 64 pixels announced, 64 x 63 bytes delivered, whether the conversion refuses or fails.
        // The conversion needs a live handle of the library; any simulated camera gives one.
        CameraHandle camera(serialOf(enumerateCameras().at(0)));
        QCOMPARE(camera.open(), MV_OK);
        const auto raw = exactBlock(64 * 63);
        const std::pair<MvGvspPixelType, bool> cases[] = {{PixelType_Gvsp_Mono8, false},
                                                          {PixelType_Gvsp_Mono8, true},
                                                          {PixelType_Gvsp_BayerRG8, true},
                                                          {PixelType_Gvsp_RGB8_Packed, false}};
        for (const auto &[type, conversionFails] : cases) {
            mvsim::setFault("MV_CC_ConvertPixelType", conversionFails ? int(MV_E_CONVERT) : int(MV_OK));
            MV_FRAME_OUT_INFO_EX info = {};
            info.nWidth = info.nHeight = 64;
            info.enPixelType = type;
            info.nFrameLen = 64 * 63;
            ByteBuffer scratch;
            QVERIFY2(frameImage(camera.handle, raw.get(), info, scratch).isNull(),
                     qPrintable(QStringLiteral("%1/%2").arg(type, 0, 16).arg(conversionFails)));
        }
    }

private:
    // A window on the only camera of `ini`; a grab loop reads the handle and the budget from it.
    bool openCamera(const QByteArray &ini)
    {
        m_fixture = std::make_unique<CameraWindow>();
        return installCameras(ini.toStdString()) && m_fixture->make() && m_fixture->openEntry(0);
    }

    void stopLoop()
    {
        if (!m_thread)
            return;
        m_thread->setRunning(false);
        MV_CC_StopGrabbing(m_fixture->window->m_handle);
        m_thread->wait();
        QCoreApplication::sendPostedEvents(); // what the loop queued before it ended
    }

    // What the loop reports, queued into the GUI thread as in the window, and in which order.
    void record(WorkThread *thread)
    {
        connect(thread, &WorkThread::frameInfoUpdated, this,
                [this](uint, int, int, qlonglong ts, qlonglong interval, int lost, int total, double) {
                    m_seen.infos.append({ts, interval, lost, total});
                    m_seen.events += 'I';
                });
        connect(thread, &WorkThread::frameGrabbed, this, [this](const QImage &image) {
            m_seen.images.append(image);
            m_seen.events += 'G';
        });
        connect(thread, &WorkThread::changeDetected, this,
                [this](const QImage &a, const QImage &b, qlonglong ta, qlonglong tb) {
                    // The stitch feed passes the same frame as both halves.
                    m_seen.events += a == b && ta == tb && a.constBits() == b.constBits() ? 'C' : 'x';
                    m_seen.fed.append(a);
                });
        connect(thread, &WorkThread::pixelFormatUnsupported, this, [this] { m_seen.events += 'U'; });
    }

    std::unique_ptr<CameraWindow> m_fixture;
    std::unique_ptr<WorkThread> m_thread;
    struct Info {
        qlonglong timestamp, interval;
        int lost, total;
    };
    struct {
        QList<Info> infos;
        QList<QImage> images, fed;
        QString events; // I info, G grabbed, C changed, U unsupported
    } m_seen;
};

QTEST_MAIN(GrabTest)
#include "tst_grab.moc"
