// The GenICam backend: its rules and its bounded control calls, which need no
// camera, then the library and the window on a real GigE Vision peer, Aravis's
// fake camera on loopback (skipped where there is none).
#include <QCheckBox>
#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

#include "boundeddevice.h"
#include "camerawindow.h"
#include "genicamfakecamera.h"
#include "genicamrules.h"
#include "settingdialog.h"
#include "workthread.h"

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace mvcc;
using namespace mvcc::genicam;
using namespace genicamtest;

namespace {

// A device whose calls block while `hold` is set, as Aravis does while it
// retries a command into the void.
class StuckDevice final : public StoppableDevice
{
public:
    int open(unsigned int) override { return wait(), MV_OK; }
    void close() override
    {
        wait();
        ++closes;
    }
    int startGrabbing() override { return wait(), MV_OK; }
    int stopGrabbing() override { return wait(), MV_OK; }
    int getFrame(unsigned char *, unsigned int, MV_FRAME_OUT_INFO_EX &, unsigned int) override
    {
        return abandoned ? int(MV_E_NODATA) : int(MV_OK);
    }
    int getInt(const std::string &, MVCC_INTVALUE_EX &value) override
    {
        wait();
        value.nCurValue = 42;
        return MV_OK;
    }
    int setInt(const std::string &, int64_t) override { return wait(), MV_OK; }
    int getFloat(const std::string &, MVCC_FLOATVALUE &value) override
    {
        wait();
        value.fCurValue = 1.5f;
        return MV_OK;
    }
    int setFloat(const std::string &, float) override { return wait(), int(MV_E_RANGE); }
    int getEnum(const std::string &, MVCC_ENUMVALUE &) override { return wait(), MV_OK; }
    int setEnum(const std::string &, unsigned int) override { return wait(), MV_OK; }
    int getEnumEntries(const std::string &, std::string &current, std::vector<std::string> &entries) override
    {
        wait();
        current = "Off";
        entries = {"Off", "On"};
        return MV_OK;
    }
    int setEnumByName(const std::string &, const std::string &entry) override
    {
        return wait(), entry == "On" || entry == "Off" ? MV_OK : MV_E_RANGE;
    }
    int getBool(const std::string &, bool &) override { return wait(), MV_OK; }
    int setBool(const std::string &, bool) override { return wait(), MV_OK; }
    int optimalPacketSize() override { return wait(), 1500; }
    int statistics(StreamStatistics &) override { return MV_OK; }
    void abandonRun() override { abandoned = true; }
    bool isLost() const override { return lost; }

    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        hold = false;
        released.notify_all();
    }

    std::atomic<bool> hold{false}, abandoned{false}, lost{false};
    std::atomic<int> closes{0};

private:
    void wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [this] { return !hold; });
    }
    std::mutex mutex;
    std::condition_variable released;
};

// The fake camera's picture: 512 x 512 Mono8, a diagonal ramp.
constexpr unsigned int fakeWidth = 512;
constexpr unsigned int fakeHeight = 512;

// Each line is the one above moved left by a pixel: lines were copied whole and in order.
bool isDiagonalRamp(const std::vector<unsigned char> &frame)
{
    for (unsigned int y = 0; y + 1 < fakeHeight; ++y)
        for (unsigned int x = 0; x + 1 < fakeWidth; ++x)
            if (frame[y * fakeWidth + x + 1] != frame[(y + 1) * fakeWidth + x])
                return false;
    return true;
}

// GigE Vision block ids have 16 bits and skip 0 when they wrap.
unsigned int idsBetween(unsigned int previous, unsigned int next)
{
    return next > previous ? next - previous : 65535 - previous + next;
}

QStringList sortedEntries(const MVCC_ENUMENTRY_LIST &list)
{
    QStringList names;
    for (unsigned int i = 0; i < list.nSupportedNum; ++i)
        names << QString::fromLatin1(list.chSymbolic[i]);
    names.sort(); // in the order Aravis keeps them, not the camera's description
    return names;
}

} // namespace

class GenicamTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_serial = uniqueSerial();
        m_unavailable = unavailableReason(m_serial);
    }

    void cleanup()
    {
        if (m_window && m_window->window)
            m_window->trigger("actionCameraClose");
        m_window.reset();
        if (!m_handle)
            return;
        MV_CC_StopGrabbing(m_handle);
        MV_CC_CloseDevice(m_handle);
        MV_CC_DestroyHandle(m_handle);
        m_handle = nullptr;
    }

    void incompleteFramesAndRetentionFollowTheirRules_data()
    {
        QTest::addColumn<quint64>("received");
        QTest::addColumn<quint64>("stride");
        QTest::addColumn<uint>("lines");
        QTest::newRow("full frame") << quint64(4096 * 512) << quint64(4096) << 512u;
        QTest::newRow("object ended after 100 lines") << quint64(4096 * 100) << quint64(4096) << 100u;
        QTest::newRow("a partly received line is not counted")
            << quint64(4096 * 100 + 4095) << quint64(4096) << 100u;
        QTest::newRow("more bytes than announced lines") << quint64(4096 * 600) << quint64(4096) << 512u;
        QTest::newRow("zero stride") << quint64(4096) << quint64(0) << 0u;
        QTest::newRow("beyond 4 GiB") << (quint64(1) << 42) << quint64(16384) << 512u;
    }

    // Only complete lines of a frame an object ended early are reported;
    // frames are kept at least 2 s, or two frame times, within 32 bits.
    void incompleteFramesAndRetentionFollowTheirRules()
    {
        QFETCH(quint64, received);
        QFETCH(quint64, stride);
        QTEST(completeLines(received, stride, 512u), "lines");
        QCOMPARE(quint64(frameRetentionUs(0.0)), quint64(2000000));
        QCOMPARE(quint64(frameRetentionUs(std::nan(""))), quint64(2000000));
        QCOMPARE(quint64(frameRetentionUs(0.040)), quint64(2000000));
        QCOMPARE(quint64(frameRetentionUs(4.096)), quint64(8192000));
        QCOMPARE(quint64(frameRetentionUs(4096.0)), quint64(4294967295u));
    }

    void gapsInFrameIdsCountAsLostFrames_data()
    {
        QTest::addColumn<quint64>("previous");
        QTest::addColumn<quint64>("id");
        QTest::addColumn<quint64>("missed");
        QTest::newRow("next frame") << quint64(7) << quint64(8) << quint64(0);
        QTest::newRow("many skipped") << quint64(1) << quint64(1001) << quint64(999);
        QTest::newRow("same id again") << quint64(5) << quint64(5) << quint64(0);
        QTest::newRow("camera restarted its count") << quint64(500) << quint64(1) << quint64(0);
        QTest::newRow("16-bit block id wraps past 0") << quint64(65535) << quint64(1) << quint64(0);
        QTest::newRow("gap across the wrap") << quint64(65530) << quint64(3) << quint64(7);
        QTest::newRow("restart to 0") << quint64(40) << quint64(0) << quint64(0);
        QTest::newRow("64-bit ids") << quint64(0xFFFFFFFFull) << quint64(0x100000002ull) << quint64(2);
    }

    void gapsInFrameIdsCountAsLostFrames()
    {
        QFETCH(quint64, previous);
        QFETCH(quint64, id);
        QTEST(quint64(framesMissedBetween(previous, id)), "missed");
    }

    // Each row: the buffers a stream completed (id, or -id for a damaged one)
    // and the frames lost in all.
    void lostFramesAreCountedOnceWhateverTheDamagedBuffersCarry_data()
    {
        QTest::addColumn<QList<qint64>>("buffers");
        QTest::addColumn<quint64>("lost");
        using L = QList<qint64>;
        QTest::newRow("all arrive") << L{65410, 65411, 65412} << quint64(0);
        QTest::newRow("ids skipped") << L{65410, 65413, 65414} << quint64(2);
        QTest::newRow("a damaged frame in line") << L{65410, -65411, 65412} << quint64(1);
        QTest::newRow("damaged without its leader carries id 0") << L{65414, 0, 65416} << quint64(1);
        QTest::newRow("damaged id 0 as the first buffer") << L{-0, 65446, 65447} << quint64(0);
        QTest::newRow("a late resend behind the newest") << L{100, 102, -101, 103} << quint64(1);
        QTest::newRow("duplicate id") << L{100, 100, 101} << quint64(0);
        QTest::newRow("gap across the wrap") << L{65534, 65535, 2} << quint64(1);
        QTest::newRow("camera restarted its count") << L{5000, 1, 2, 4} << quint64(1);
    }

    void lostFramesAreCountedOnceWhateverTheDamagedBuffersCarry()
    {
        QFETCH(QList<qint64>, buffers);
        FrameIdTracker tracker;
        quint64 lost = 0;
        for (const qint64 buffer : buffers)
            lost += tracker.completed(quint64(std::abs(buffer)), buffer < 0);
        QTEST(lost, "lost");
    }

    // Each call on a device that stopped answering returns after the bound
    // at most; after the first, at once, as gone; the fetch is ended.
    void callsOnAStuckDeviceReturnWithinTheBoundAndThenAtOnce_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("expected");
        QTest::newRow("feature read") << "read" << int(MV_E_NODEVICE);
        QTest::newRow("feature write") << "write" << int(MV_E_NODEVICE);
        QTest::newRow("entry list") << "entries" << int(MV_E_NODEVICE);
        QTest::newRow("entry by name") << "entry" << int(MV_E_NODEVICE);
        QTest::newRow("close") << "close" << -1;
    }

    void callsOnAStuckDeviceReturnWithinTheBoundAndThenAtOnce()
    {
        QFETCH(QString, first);
        auto device = std::make_shared<StuckDevice>();
        {
            BoundedDevice bounded(device);
            QCOMPARE(bounded.open(MV_ACCESS_Exclusive), MV_OK);
            device->hold = true;
            QElapsedTimer clock;
            clock.start();
            MVCC_INTVALUE_EX value{};
            value.nCurValue = 7;
            int result = -1;
            if (first == "read")
                result = bounded.getInt("Width", value);
            else if (first == "write")
                result = bounded.setInt("Width", 5);
            else if (first == "entries") {
                std::string current = "unchanged";
                std::vector<std::string> entries;
                result = bounded.getEnumEntries("TriggerMode", current, entries);
                QCOMPARE(current, std::string("unchanged"));
            } else if (first == "entry")
                result = bounded.setEnumByName("TriggerMode", "On");
            else if (first == "stop")
                result = bounded.stopGrabbing();
            else
                bounded.close();
            const qint64 waited = clock.elapsed();
            QTEST(result, "expected");
            QVERIFY2(waited >= 150 && waited < 1000, qPrintable(QString::number(waited)));
            QCOMPARE(value.nCurValue, int64_t(7)); // nothing written from a call that never finished
            QVERIFY(device->abandoned);

            clock.restart();
            QCOMPARE(bounded.getInt("Width", value), int(MV_E_NODEVICE));
            QCOMPARE(bounded.setBool("ReverseX", true), int(MV_E_NODEVICE));
            unsigned char byte = 0;
            MV_FRAME_OUT_INFO_EX info{};
            QCOMPARE(bounded.getFrame(&byte, 1, info, 1000), int(MV_E_NODEVICE));
            QCOMPARE(bounded.stopGrabbing(), MV_OK);
            bounded.close();
            QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        } // destroying it must not wait either
        QCOMPARE(device->closes.load(), 0);
        // Once the camera answers again, the queued calls finish in the background.
        device->release();
        QTRY_VERIFY(device->closes.load() >= 1);
        QTRY_COMPARE(device.use_count(), 1L);
    }

    void aLostDeviceIsGoneWithoutWaiting()
    {
        auto device = std::make_shared<StuckDevice>();
        BoundedDevice bounded(device);
        QCOMPARE(bounded.open(MV_ACCESS_Exclusive), MV_OK);
        device->lost = true;
        device->hold = true;
        QElapsedTimer clock;
        clock.start();
        MVCC_FLOATVALUE value{};
        QCOMPARE(bounded.getFloat("ExposureTime", value), int(MV_E_NODEVICE));
        QVERIFY(clock.elapsed() < 100);
        device->release();
    }

    // The worker's queue has a bound; what it refuses is counted.
    void aFullControlQueueRefusesAndCounts()
    {
        ControlWorker worker(2);
        std::mutex gate;
        std::unique_lock<std::mutex> closed(gate);
        std::atomic<bool> running{false};
        const auto blocked = worker.post([&] {
            running = true;
            std::lock_guard<std::mutex> wait(gate);
        });
        QVERIFY(blocked);
        QTRY_VERIFY(running); // the first job no longer waits in the queue: two more may
        QVERIFY(worker.post([] {}) != nullptr);
        QVERIFY(worker.post([] {}) != nullptr);
        QCOMPARE(worker.post([] {}), nullptr);
        QCOMPARE(worker.post([] {}), nullptr);
        QCOMPARE(worker.refused(), uint64_t(2));
        QVERIFY(!ControlWorker::waitFor(blocked, std::chrono::milliseconds(10)));
        closed.unlock();
        QVERIFY(ControlWorker::waitFor(blocked, std::chrono::milliseconds(5000)));
    }

    void searchListsTheFakeCameraOnLoopbackFramesArriveWholeAndASecondOpenIsRefused()
    {
        openFakeCamera();
        QCOMPARE(m_record.nTLayerType, uint(MV_GIGE_DEVICE));
        QCOMPARE(m_record.SpecialInfo.stGigEInfo.nCurrentIp, loopbackAddress);
        void *second = nullptr;
        QCOMPARE(MV_CC_CreateHandle(&second, &m_record), int(MV_OK));
        QCOMPARE(MV_CC_OpenDevice(second, MV_ACCESS_Exclusive, 0), int(MV_E_ACCESS));
        QCOMPARE(MV_CC_DestroyHandle(second), int(MV_OK));

        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeWidth * fakeHeight + 100, 0xA5), small(1000, 0x5A);
        MV_FRAME_OUT_INFO_EX info{}, previous{};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(grab(frame, info), int(MV_OK));
            QCOMPARE(info.nWidth, fakeWidth);
            QCOMPARE(info.nHeight, fakeHeight);
            QCOMPARE(info.nFrameLen, fakeWidth * fakeHeight);
            QVERIFY(isDiagonalRamp(frame));
            QCOMPARE(frame[fakeWidth * fakeHeight], static_cast<unsigned char>(0xA5));
            if (i > 0)
                QCOMPARE(idsBetween(previous.nFrameNum, info.nFrameNum), 1u);
            previous = info;
            // Too small: refused untouched, and the frame is offered again.
            QCOMPARE(grab(small, info), int(MV_E_BUFOVER));
            QCOMPARE(std::count(small.begin(), small.end(), 0x5A), std::ptrdiff_t(small.size()));
        }
        // A zero timeout takes a frame once one is there.
        QVERIFY(QTest::qWaitFor([&] { return grab(frame, info, 0) == MV_OK; }));
        QCOMPARE(MV_CC_StopGrabbing(m_handle), int(MV_OK));
        cleanup();
        openFakeCamera(); // closed and released: the camera opens again
    }

    void exposureAndGainReachTheCameraThroughOlderNames_data()
    {
        QTest::addColumn<QByteArray>("feature");
        QTest::addColumn<float>("written");
        QTest::addColumn<float>("readBack");
        // The fake camera has ExposureTimeAbs (a float) and GainRaw (an integer).
        QTest::newRow("exposure as ExposureTimeAbs") << QByteArray("ExposureTime") << 5000.0f << 5000.0f;
        QTest::newRow("gain as integer GainRaw") << QByteArray("Gain") << 3.6f << 4.0f;
    }

    void exposureAndGainReachTheCameraThroughOlderNames()
    {
        QFETCH(QByteArray, feature);
        QFETCH(float, written);
        openFakeCamera();
        QCOMPARE(MV_CC_SetFloatValue(m_handle, feature.constData(), written), int(MV_OK));
        MVCC_FLOATVALUE value{};
        QCOMPARE(MV_CC_GetFloatValue(m_handle, feature.constData(), &value), int(MV_OK));
        QTEST(value.fCurValue, "readBack");
        QCOMPARE(MV_CC_SetFloatValue(m_handle, feature.constData(), value.fMax * 2), int(MV_E_RANGE));
    }

    // The fake camera offers a frame trigger (FrameStart) but no line trigger.
    void triggerEntriesAreListedAndSetByName()
    {
        openFakeCamera();
        MVCC_ENUMENTRY_LIST list;
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSelector", &list), MV_OK);
        QCOMPARE(sortedEntries(list), QStringList({"AcquisitionStart", "FrameStart"}));
        QCOMPARE(MV_CC_SetEnumValueByString(m_handle, "TriggerSelector", "LineStart"), status(MV_E_RANGE));
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSource", &list), MV_OK);
        QCOMPARE(sortedEntries(list), QStringList({"Line0", "Software"}));
        for (const char *source : {"Software", "Line0"}) {
            QCOMPARE(MV_CC_SetEnumValueByString(m_handle, "TriggerSource", source), MV_OK);
            QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSource", &list), MV_OK);
            QCOMPARE(QString(list.chCurSymbolic), QString(source));
        }
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "Gain", &list), status(MV_E_TYPE));
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "NoSuchTrigger", &list), status(MV_E_NOTFOUND));
    }

    void frameTriggerIsSetThroughTheDialog()
    {
        openFakeCamera();
        ScratchDirectory scratch;
        MainWindow window;
        window.m_handle = m_handle;
        window.m_isOpen = true;
        MessageBoxRecorder boxes;
        {
            settingdialog dialog(&window, &window);
            dialog.show();
            auto *lineTrigger = dialog.findChild<QCheckBox *>("cbLineTrigger");
            auto *frameTrigger = dialog.findChild<QCheckBox *>("cbFrameTrigger");
            auto *source = dialog.findChild<QComboBox *>("cbxFrameTriggerSource");
            QVERIFY(!lineTrigger->isEnabled());
            QVERIFY(frameTrigger->isEnabled());
            QCOMPARE(dialog.findChild<QComboBox *>("cbxFrameTriggerActivation")->count(), 1);
            QCOMPARE(source->count(), 2);
            source->setFocus();
            const bool below = source->findText("Software") > source->currentIndex();
            QTest::keyClick(source, below ? Qt::Key_Down : Qt::Key_Up);
            QTest::mouseClick(frameTrigger, Qt::LeftButton, Qt::NoModifier,
                              QPoint(6, frameTrigger->height() / 2));
            QCOMPARE(source->currentText(), QString("Software"));
            QVERIFY(frameTrigger->isChecked());
        }
        MVCC_ENUMENTRY_LIST list;
        QCOMPARE(MV_CC_SetEnumValueByString(m_handle, "TriggerSelector", "FrameStart"), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerMode", &list), MV_OK);
        QCOMPARE(QString(list.chCurSymbolic), QString("On"));
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSource", &list), MV_OK);
        QCOMPARE(QString(list.chCurSymbolic), QString("Software"));
        QVERIFY(boxes.isEmpty());
        window.m_isOpen = false;
        window.m_handle = nullptr;
        cleanup();
        m_camera.kill(); // free running again for the next test
    }

    // The fake camera draws the same diagonal ramp in every format: Mono16 as
    // words, BayerGR8 as a colour map laid out in a mosaic. Frames arrive with
    // the format's code and length, whole.
    void mono16AndBayerGR8FramesArriveWhole_data()
    {
        QTest::addColumn<unsigned int>("format");
        QTest::newRow("Mono16") << unsigned(PixelType_Gvsp_Mono16);
        QTest::newRow("BayerGR8") << unsigned(PixelType_Gvsp_BayerGR8);
    }

    void mono16AndBayerGR8FramesArriveWhole()
    {
        QFETCH(unsigned int, format);
        openFakeCamera();
        QCOMPARE(MV_CC_SetEnumValue(m_handle, "PixelFormat", format), int(MV_OK));
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        const unsigned int bytes = format == PixelType_Gvsp_Mono16 ? 2 : 1;
        std::vector<unsigned char> frame(fakeWidth * fakeHeight * bytes);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(grab(frame, info), int(MV_OK));
        QCOMPARE(info.enPixelType, format);
        QCOMPARE(info.nFrameLen, fakeWidth * fakeHeight * bytes);
        const auto raw = [&](unsigned int x, unsigned int y) {
            const std::size_t i = std::size_t(y) * fakeWidth + x;
            return bytes == 2 ? unsigned(frame[2 * i] | (frame[2 * i + 1] << 8)) : unsigned(frame[i]);
        };
        // Along an anti-diagonal the ramp, and the mosaic site, repeat.
        for (unsigned int y = 2; y < fakeHeight; ++y)
            for (unsigned int x = 0; x + 2 < fakeWidth; ++x)
                if (raw(x + 2, y - 2) != raw(x, y))
                    QFAIL(qPrintable(QString("pixel %1,%2: %3").arg(x).arg(y).arg(raw(x, y))));
        cleanup();
        m_camera.kill(); // back to Mono8 for the next test
    }

    // A frame whose packets pause for 300 ms is completed, not dropped: the
    // stream waits for its missing packets at least 2 s. Large frames make
    // most pauses fall in the middle of one.
    void framesSurvivePausesOfTheCamera()
    {
        openFakeCamera();
        QCOMPARE(MV_CC_SetIntValueEx(m_handle, "Width", 2048), int(MV_OK));
        QCOMPARE(MV_CC_SetIntValueEx(m_handle, "Height", 2048), int(MV_OK));
        QCOMPARE(MV_CC_SetEnumValue(m_handle, "PixelFormat", PixelType_Gvsp_RGB8_Packed), int(MV_OK));
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(2048 * 2048 * 3);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(grab(frame, info), int(MV_OK));
        MV_NETTRANS_INFO before{}, after{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &before), int(MV_OK));
        std::atomic<bool> pausing{true};
        std::thread belt([&] {
            for (int i = 0; i < 5; ++i) {
                QThread::msleep(170);
                m_camera.pause(300);
            }
            pausing = false;
        });
        int received = 0;
        while (pausing || received < 3)
            if (grab(frame, info, 1000) == int(MV_OK))
                ++received;
        belt.join();
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &after), int(MV_OK));
        QCOMPARE(after.nThrowFrameCount - before.nThrowFrameCount, 0);
        QCOMPARE(int(after.nNetRecvFrameCount - before.nNetRecvFrameCount), received);
        cleanup();
        m_camera.kill(); // back to its 512 x 512 Mono8 for the next test
    }

    // Lost frames are whole frames: ids that never arrived between the ones
    // fetched, whatever made them go missing. Packets dropped on the wire
    // (-r: per thousand) lose frames the stream gives up on; a host that
    // stops fetching lets the ring fill and the camera's next frames find no buffer.
    void lostCountsMissingFrameIdsNotPackets_data()
    {
        QTest::addColumn<QStringList>("cameraOptions");
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<int>("frames");
        QTest::newRow("2 of 1000 packets dropped") << QStringList{"-r", "2"} << 0 << 40;
        QTest::newRow("host stalls for 2.5 s") << QStringList() << 2500 << 70;
    }

    void lostCountsMissingFrameIdsNotPackets()
    {
        QFETCH(QStringList, cameraOptions);
        QFETCH(int, stallMs);
        QFETCH(int, frames);
        m_camera.kill();
        openFakeCamera(cameraOptions);
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeWidth * fakeHeight);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(grab(frame, info), int(MV_OK));
        MV_NETTRANS_INFO before{}, after{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &before), int(MV_OK));
        unsigned int previousId = info.nFrameNum;
        quint64 idsSpanned = 1;
        QThread::msleep(static_cast<unsigned long>(stallMs)); // the stall itself, not a wait for anything
        for (int i = 0; i < frames; ++i) {
            QCOMPARE(grab(frame, info), int(MV_OK));
            QVERIFY(isDiagonalRamp(frame));
            idsSpanned += idsBetween(previousId, info.nFrameNum);
            previousId = info.nFrameNum;
        }
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &after), int(MV_OK));
        const quint64 missing = idsSpanned - quint64(frames + 1);
        QCOMPARE(quint64(after.nThrowFrameCount - before.nThrowFrameCount), missing);
        QCOMPARE(after.nNetRecvFrameCount - before.nNetRecvFrameCount, unsigned(frames));
        // Frames did go missing, and far fewer than the packets they held.
        QVERIFY2(missing > 0 && missing < quint64(frames + stallMs / 10),
                 qPrintable(QString::number(missing)));
        cleanup();
        m_camera.kill(); // the next test starts it again without options
    }

    // Aravis notices a camera gone only seconds later, and every command to it
    // waits out its retries meanwhile; the caller must not wait with it. (A
    // stop as the first call is the window's close, below.)
    void callsRightAfterTheCameraDiedReturnPromptly_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("expected");
        QTest::newRow("feature read") << "read" << int(MV_E_NODEVICE);
        QTest::newRow("feature write") << "write" << int(MV_E_NODEVICE);
        QTest::newRow("close") << "close" << int(MV_OK);
    }

    void callsRightAfterTheCameraDiedReturnPromptly()
    {
        QFETCH(QString, call);
        openFakeCamera();
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeWidth * fakeHeight);
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(grab(frame, info), int(MV_OK));
        m_camera.kill();
        QElapsedTimer clock;
        clock.start();
        int result = MV_E_UNKNOWN;
        MVCC_FLOATVALUE value{};
        if (call == "read")
            result = MV_CC_GetFloatValue(m_handle, "ExposureTime", &value);
        else if (call == "write")
            result = MV_CC_SetFloatValue(m_handle, "ExposureTime", 2000.0f);
        else
            result = MV_CC_CloseDevice(m_handle);
        QTEST(result, "expected");
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        // Whatever came first, closing and destroying stay prompt too.
        clock.restart();
        MV_CC_CloseDevice(m_handle);
        QCOMPARE(MV_CC_DestroyHandle(m_handle), int(MV_OK));
        m_handle = nullptr;
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    void windowShowsTheCameraAndItsStatisticsAndReleasesIt()
    {
        openWindowAndStart();
        QCOMPARE(m_entry,
                 QStringLiteral("[%1]GigE: Aravis Fake (%2)  127.0.0.1").arg(m_entryIndex).arg(m_serial));
        QCOMPARE(m_window->boxes.texts(), QStringList()); // the packet size was set without a warning
        QVERIFY2(statisticsLine().endsWith(QStringLiteral(" | Lost: 0 ")), qPrintable(statisticsLine()));
        m_window->trigger("actionCameraStop");
        QVERIFY(!window().m_isGrabbing);
        // The grab loop has ended: what it reported before is delivered now, nothing comes after.
        QVERIFY(!window().m_workThread || !window().m_workThread->isRunning());
        QCoreApplication::processEvents();
        const int counted = framesCounted();
        QCoreApplication::processEvents();
        QCOMPARE(framesCounted(), counted);
        m_window->trigger("actionCameraClose");
        QVERIFY(!window().m_isOpen);
        QVERIFY(findCamera(m_serial, m_record));
        QVERIFY(deviceIsFree(m_record));
        QCOMPARE(m_window->boxes.texts(), QStringList());
    }

    void windowSaysSoWhenTheCameraDiesMidGrabAndClosesPromptly()
    {
        openWindowAndStart();
        m_camera.kill();
        QElapsedTimer clock;
        clock.start();
        m_window->trigger("actionCameraClose"); // before the library noticed: must not wait for it
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!window().m_isOpen && !window().m_handle && !window().m_isGrabbing);

        openWindowAndStart(); // the camera, back again, opens and grabs as new
        m_camera.kill();
        // Aravis gives up once the heartbeat has gone unanswered for a few
        // seconds; the library then reports the camera gone, and the window says so.
        QVERIFY(m_window->boxes.waitForCount(1, 30000));
        QCOMPARE(boxSummary(m_window->boxes),
                 QStringLiteral("Device|Camera disconnected!|%1").arg(int(QMessageBox::Warning)));
        QVERIFY(!window().m_isGrabbing);
        m_window->trigger("actionCameraClose");
        QVERIFY(!window().m_isOpen && !window().m_handle);
        QCOMPARE(m_window->boxes.count(), 1);
    }

private:
    // Starts the fake camera unless it runs, then opens it through the library.
    void openFakeCamera(const QStringList &options = {})
    {
        if (!m_unavailable.isEmpty())
            QSKIP(qPrintable(m_unavailable));
        QString why;
        if (!m_camera.isRunning())
            QVERIFY2(m_camera.start(m_serial, why, options), qPrintable(why));
        QVERIFY(findCamera(m_serial, m_record));
        QCOMPARE(MV_CC_CreateHandle(&m_handle, &m_record), int(MV_OK));
        QCOMPARE(MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0), int(MV_OK));
    }

    // A window whose own search at start-up has listed the fake camera, opened
    // on it and grabbing until it counted three frames.
    void openWindowAndStart()
    {
        if (!m_unavailable.isEmpty())
            QSKIP(qPrintable(m_unavailable));
        QString why;
        if (!m_camera.isRunning())
            QVERIFY2(m_camera.start(m_serial, why), qPrintable(why));
        m_window = std::make_unique<CameraWindow>();
        QVERIFY(m_window->make(false));
        auto *devices = window().findChild<QComboBox *>(QStringLiteral("cbSearchDevices"));
        QTRY_VERIFY_WITH_TIMEOUT(devices->findText(m_serial, Qt::MatchContains) >= 0, 15000);
        devices->setCurrentIndex(devices->findText(m_serial, Qt::MatchContains));
        m_entry = devices->currentText();
        m_entryIndex = devices->currentData().toInt();
        m_window->trigger("actionCameraOpen");
        QVERIFY(window().m_isOpen);
        QVERIFY(m_window->start());
        QTRY_VERIFY_WITH_TIMEOUT(framesCounted() >= 3, 15000);
    }

    int grab(std::vector<unsigned char> &frame, MV_FRAME_OUT_INFO_EX &info, unsigned int timeoutMs = 3000)
    {
        return MV_CC_GetOneFrameTimeout(m_handle, frame.data(), unsigned(frame.size()), &info, timeoutMs);
    }

    MainWindow &window() { return *m_window->window; }

    QString statisticsLine() { return window().findChild<QLabel *>(QStringLiteral("dataitemLabel"))->text(); }

    // The frame count of the statistics line, or -1 while it shows none.
    int framesCounted()
    {
        static const QRegularExpression pattern(
            QStringLiteral("^FrameCount: \\[(\\d+)\\] \\| W\\*H: 512x512 \\| "));
        const QRegularExpressionMatch match = pattern.match(statisticsLine());
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }

    FakeCamera m_camera;
    QString m_serial, m_unavailable, m_entry;
    int m_entryIndex = -1;
    MV_CC_DEVICE_INFO m_record{};
    void *m_handle = nullptr;
    std::unique_ptr<CameraWindow> m_window;
};

QTEST_MAIN(GenicamTest)
#include "tst_genicam.moc"
