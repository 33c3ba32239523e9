// The GenICam backend: its rules and its bounded control calls, which need no camera, then the
// library on a real GigE Vision peer, Aravis's fake camera on loopback (skipped where there is none).
#include <QtTest>

#include "boundeddevice.h"
#include "genicamfakecamera.h"
#include "genicamrules.h"

#include <cmath>
#include <future>
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
    void close() override { wait(), ++closes; }
    int startGrabbing() override { return wait(), MV_OK; }
    int stopGrabbing() override { return wait(), MV_OK; }
    int getFrame(unsigned char *, unsigned int, MV_FRAME_OUT_INFO_EX &, unsigned int) override
    {
        return abandoned ? int(MV_E_NODATA) : int(MV_OK);
    }
    int getInt(const std::string &, MVCC_INTVALUE_EX &value) override
    {
        return wait(), value.nCurValue = 42, 0;
    }
    int setInt(const std::string &, int64_t) override { return wait(), MV_OK; }
    int getFloat(const std::string &, MVCC_FLOATVALUE &value) override
    {
        return wait(), value.fCurValue = 1, 0;
    }
    int setFloat(const std::string &, float) override { return wait(), int(MV_E_RANGE); }
    int getEnum(const std::string &, MVCC_ENUMVALUE &) override { return wait(), MV_OK; }
    int setEnum(const std::string &, unsigned int) override { return wait(), MV_OK; }
    int getEnumEntries(const std::string &, std::string &current, std::vector<std::string> &entries) override
    {
        return wait(), current = "Off", entries = {"Off", "On"}, MV_OK;
    }
    int setEnumByName(const std::string &, const std::string &) override { return wait(), MV_OK; }
    int getBool(const std::string &, bool &) override { return wait(), MV_OK; }
    int setBool(const std::string &, bool) override { return wait(), MV_OK; }
    int optimalPacketSize() override { return wait(), 1500; }
    int statistics(StreamStatistics &) override { return MV_OK; }
    void abandonRun() override { abandoned = true; }
    bool isLost() const override { return lost; }

    void release() { answer.set_value(); }

    std::atomic<bool> hold{false}, abandoned{false}, lost{false};
    std::atomic<int> closes{0};

private:
    void wait()
    {
        if (hold)
            answered.wait();
    }
    std::promise<void> answer;
    std::shared_future<void> answered = answer.get_future().share();
};

// The fake camera's picture: 512 x 512 Mono8, a diagonal ramp.
constexpr unsigned int fakeSide = 512;

// Each line is the one above moved left by a pixel: lines were copied whole and in order.
bool isDiagonalRamp(const std::vector<unsigned char> &frame)
{
    for (unsigned int y = 0; y + 1 < fakeSide; ++y)
        for (unsigned int x = 0; x + 1 < fakeSide; ++x)
            if (frame[y * fakeSide + x + 1] != frame[(y + 1) * fakeSide + x])
                return false;
    return true;
}

// GigE Vision block ids have 16 bits and skip 0 when they wrap.
unsigned int idsBetween(unsigned int previous, unsigned int next)
{
    return next > previous ? next - previous : 65535 - previous + next;
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
        if (m_handle) {
            MV_CC_StopGrabbing(m_handle);
            MV_CC_CloseDevice(m_handle);
            MV_CC_DestroyHandle(m_handle);
            m_handle = nullptr;
        }
        if (m_restartCamera)
            m_camera.kill();
        m_restartCamera = false;
    }

    // Complete lines only; frames kept at least 2 s or two frame times; ids that never arrived are
    // frames missed, across the 16-bit wrap (which skips 0), not when the camera restarts its count.
    void streamRulesCountLinesRetentionAndMissedIds()
    {
        const quint64 lines[][3] = {{4096 * 512, 4096, 512},         // full frame
                                    {4096 * 100, 4096, 100},         // object ended after 100 lines
                                    {4096 * 100 + 4095, 4096, 100},  // a partly received line is not counted
                                    {4096 * 600, 4096, 512},         // more bytes than announced lines
                                    {4096, 0, 0},                    // zero stride
                                    {quint64(1) << 42, 16384, 512}}; // beyond 4 GiB
        for (const auto &row : lines)
            QCOMPARE(quint64(completeLines(row[0], row[1], 512u)), row[2]);
        const std::pair<double, quint64> retention[] = {{0.0, 2000000},
                                                        {std::nan(""), 2000000},
                                                        {0.040, 2000000},
                                                        {4.096, 8192000},
                                                        {4096.0, 4294967295u}};
        for (const auto &[seconds, us] : retention)
            QCOMPARE(quint64(frameRetentionUs(seconds)), us);
        const quint64 ids[][3]
            = {{7, 8, 0},     {1, 1001, 999}, {5, 5, 0},  {500, 1, 0},
               {65535, 1, 0}, {65530, 3, 7},  {40, 0, 0}, {0xFFFFFFFFull, 0x100000002ull, 2}};
        for (const auto &row : ids)
            QVERIFY2(framesMissedBetween(row[0], row[1]) == row[2],
                     qPrintable(QString("%1 to %2").arg(row[0]).arg(row[1])));
    }

    // Each row: the buffers a stream completed (id, or -id for a damaged
    // one) and the frames lost in all.
    void lostFramesAreCountedOnceWhateverTheDamagedBuffersCarry()
    {
        const std::tuple<const char *, std::vector<qint64>, quint64> rows[]
            = {{"all arrive", {65410, 65411, 65412}, 0},
               {"ids skipped", {65410, 65413, 65414}, 2},
               {"a damaged frame in line", {65410, -65411, 65412}, 1},
               {"damaged without its leader carries id 0", {65414, 0, 65416}, 1},
               {"damaged id 0 as the first buffer", {-0, 65446, 65447}, 0},
               {"a late resend behind the newest", {100, 102, -101, 103}, 1},
               {"duplicate id", {100, 100, 101}, 0},
               {"gap across the wrap", {65534, 65535, 2}, 1},
               {"camera restarted its count", {5000, 1, 2, 4}, 1}};
        for (const auto &[what, buffers, expected] : rows) {
            FrameIdTracker tracker;
            quint64 lost = 0;
            for (const qint64 buffer : buffers)
                lost += tracker.completed(quint64(std::abs(buffer)), buffer < 0);
            QVERIFY2(lost == expected, what);
        }
    }

    // A call on a device that stopped answering returns within the bound (at once when known
    // lost); every later call returns at once, as gone, and the fetch is ended.
    void callsOnAStuckDeviceReturnWithinTheBoundAndThenAtOnce_data()
    {
        QTest::addColumn<QString>("first");
        for (const char *first : {"read", "write", "entries", "entry by name", "close", "read when lost"})
            QTest::newRow(first) << first;
    }

    void callsOnAStuckDeviceReturnWithinTheBoundAndThenAtOnce()
    {
        QFETCH(QString, first);
        auto device = std::make_shared<StuckDevice>();
        {
            BoundedDevice bounded(device);
            QCOMPARE(bounded.open(MV_ACCESS_Exclusive), MV_OK);
            device->hold = true;
            device->lost = first == "read when lost";
            QElapsedTimer clock;
            clock.start();
            MVCC_INTVALUE_EX value{};
            value.nCurValue = 7;
            std::string current = "unchanged";
            std::vector<std::string> entries;
            const int result = first == "write" ? bounded.setInt("Width", 5)
                : first == "entries"            ? bounded.getEnumEntries("TriggerMode", current, entries)
                : first == "entry by name"      ? bounded.setEnumByName("TriggerMode", "On")
                : first == "close"              ? (bounded.close(), bounded.getInt("Width", value))
                                                : bounded.getInt("Width", value);
            const qint64 waited = clock.elapsed();
            QCOMPARE(result, int(MV_E_NODEVICE));
            QVERIFY2(first == "read when lost" ? waited < 100 : waited >= 150 && waited < 1000,
                     qPrintable(QString::number(waited)));
            if (first == "read when lost")
                return device->release();
            // nothing written from a call that never finished
            QCOMPARE(value.nCurValue, int64_t(7));
            QCOMPARE(current, std::string("unchanged"));
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

    // Exposure and gain reach the fake camera through its older names (ExposureTimeAbs, a float;
    // GainRaw, an integer); it offers a frame trigger but no line trigger.
    void theFakeCameraStreamsWholeFramesAndTakesItsFeatures()
    {
        if (!openFakeCamera())
            return;
        QCOMPARE(m_record.nTLayerType, uint(MV_GIGE_DEVICE));
        QCOMPARE(m_record.SpecialInfo.stGigEInfo.nCurrentIp, loopbackAddress);
        void *second = nullptr;
        QCOMPARE(MV_CC_CreateHandle(&second, &m_record), int(MV_OK));
        QCOMPARE(MV_CC_OpenDevice(second, MV_ACCESS_Exclusive, 0), int(MV_E_ACCESS));
        QCOMPARE(MV_CC_DestroyHandle(second), int(MV_OK));

        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeSide * fakeSide + 100, 0xA5), small(1000, 0x5A);
        MV_FRAME_OUT_INFO_EX info{}, previous{};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(grab(frame, info), int(MV_OK));
            QCOMPARE(info.nWidth, fakeSide);
            QCOMPARE(info.nHeight, fakeSide);
            QCOMPARE(info.nFrameLen, fakeSide * fakeSide);
            QVERIFY(isDiagonalRamp(frame));
            QCOMPARE(frame[fakeSide * fakeSide], static_cast<unsigned char>(0xA5));
            QVERIFY(i == 0 || idsBetween(previous.nFrameNum, info.nFrameNum) == 1u);
            previous = info;
            QCOMPARE(grab(small, info), int(MV_E_BUFOVER));
            QCOMPARE(std::count(small.begin(), small.end(), 0x5A), std::ptrdiff_t(small.size()));
        }
        QVERIFY(QTest::qWaitFor([&] { return grab(frame, info, 0) == MV_OK; })); // once a frame is there
        QCOMPARE(MV_CC_StopGrabbing(m_handle), int(MV_OK));
        const std::tuple<const char *, float, float> features[]
            = {{"ExposureTime", 5000.0f, 5000.0f}, {"Gain", 3.6f, 4.0f}};
        for (const auto &[feature, written, readBack] : features) {
            QCOMPARE(MV_CC_SetFloatValue(m_handle, feature, written), int(MV_OK));
            MVCC_FLOATVALUE value{};
            QCOMPARE(MV_CC_GetFloatValue(m_handle, feature, &value), int(MV_OK));
            QCOMPARE(value.fCurValue, readBack);
            QCOMPARE(MV_CC_SetFloatValue(m_handle, feature, value.fMax * 2), int(MV_E_RANGE));
        }
        MVCC_ENUMENTRY_LIST list;
        const auto entries = [&](const char *feature) { // in Aravis's order, not the camera's description
            QStringList names;
            for (unsigned int i = 0;
                 MV_CC_GetEnumEntries(m_handle, feature, &list) == MV_OK && i < list.nSupportedNum; ++i)
                names << QString::fromLatin1(list.chSymbolic[i]);
            return names.sort(), names;
        };
        QCOMPARE(entries("TriggerSelector"), QStringList({"AcquisitionStart", "FrameStart"}));
        QCOMPARE(MV_CC_SetEnumValueByString(m_handle, "TriggerSelector", "LineStart"), status(MV_E_RANGE));
        QCOMPARE(entries("TriggerSource"), QStringList({"Line0", "Software"}));
        for (const char *source : {"Software", "Line0"}) {
            QCOMPARE(MV_CC_SetEnumValueByString(m_handle, "TriggerSource", source), MV_OK);
            QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSource", &list), MV_OK);
            QCOMPARE(QString(list.chCurSymbolic), QString(source));
        }
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "Gain", &list), status(MV_E_TYPE));
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "NoSuchTrigger", &list), status(MV_E_NOTFOUND));
        cleanup();
        QVERIFY(openFakeCamera()); // closed and released: it opens again
        m_restartCamera = true;    // the next test starts from the camera's defaults
    }

    // Lost frames are ids that never arrived, whether packets were dropped on the wire (-r: 2 per
    // thousand) or a host stalled for 2.5 s let the ring fill. A frame whose packets pause for
    // 300 ms is completed, not dropped; large frames make most pauses fall in the middle of one.
    void lostCountsMissingFrameIdsNotPackets_data()
    {
        QTest::addColumn<QStringList>("cameraOptions");
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<int>("pauses");
        QTest::newRow("packets dropped") << QStringList{"-r", "2"} << 0 << 0;
        QTest::newRow("host stalled") << QStringList() << 2500 << 0;
        QTest::newRow("camera pausing") << QStringList() << 0 << 5;
    }

    void lostCountsMissingFrameIdsNotPackets()
    {
        QFETCH(QStringList, cameraOptions);
        QFETCH(int, stallMs);
        QFETCH(int, pauses);
        m_camera.kill();
        m_restartCamera = true; // the next test starts it again with its defaults
        if (!openFakeCamera(cameraOptions))
            return;
        const unsigned int side = pauses ? 2048 : fakeSide, bytes = pauses ? 3 : 1;
        if (pauses) {
            QCOMPARE(MV_CC_SetIntValueEx(m_handle, "Width", side), int(MV_OK));
            QCOMPARE(MV_CC_SetIntValueEx(m_handle, "Height", side), int(MV_OK));
            QCOMPARE(MV_CC_SetEnumValue(m_handle, "PixelFormat", PixelType_Gvsp_RGB8_Packed), int(MV_OK));
        }
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(side * side * bytes);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(grab(frame, info), int(MV_OK));
        MV_NETTRANS_INFO before{}, after{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &before), int(MV_OK));
        std::atomic<bool> pausing{pauses > 0};
        std::thread belt([&] {
            for (int i = 0; i < pauses; ++i) {
                QThread::msleep(170);
                m_camera.pause(300);
            }
            pausing = false;
        });
        QThread::msleep(static_cast<unsigned long>(stallMs)); // the stall itself, not a wait for anything
        unsigned int frames = 0, previousId = info.nFrameNum;
        quint64 idsSpanned = 1;
        bool whole = true;
        for (int tries = 0; tries < 200 && (pausing || frames < (pauses ? 3u : 40u)); ++tries) {
            if (grab(frame, info) != MV_OK)
                continue;
            ++frames;
            whole = whole && (pauses || isDiagonalRamp(frame));
            idsSpanned += idsBetween(previousId, info.nFrameNum);
            previousId = info.nFrameNum;
        }
        belt.join();
        QVERIFY(whole);
        QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &after), int(MV_OK));
        const quint64 missing = idsSpanned - quint64(frames + 1);
        QCOMPARE(quint64(after.nThrowFrameCount - before.nThrowFrameCount), missing);
        QCOMPARE(after.nNetRecvFrameCount - before.nNetRecvFrameCount, frames);
        // Frames did go missing, far fewer than the packets they held; none while the camera paused.
        QVERIFY2(pauses ? missing == 0 : missing > 0 && missing < quint64(frames + stallMs / 10),
                 qPrintable(QString::number(missing)));
    }

    // Aravis notices a camera gone only once the heartbeat goes unanswered, seconds later, and
    // every command waits out its retries meanwhile: the caller must not wait with it.
    void callsRightAfterTheCameraDiedReturnPromptly_data()
    {
        QTest::addColumn<QString>("call");
        for (const char *call : {"read", "write", "close while grabbing", "fetch"})
            QTest::newRow(call) << call;
    }

    void callsRightAfterTheCameraDiedReturnPromptly()
    {
        QFETCH(QString, call);
        if (!openFakeCamera())
            return;
        QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
        std::vector<unsigned char> frame(fakeSide * fakeSide);
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(grab(frame, info), int(MV_OK));
        m_camera.kill();
        if (call == "fetch")
            QVERIFY(QTest::qWaitFor([&] { return grab(frame, info, 200) == int(MV_E_NODEVICE); }, 30000));
        QElapsedTimer clock;
        clock.start();
        MVCC_FLOATVALUE value{};
        const int result = call == "read" ? MV_CC_GetFloatValue(m_handle, "ExposureTime", &value)
            : call == "write"             ? MV_CC_SetFloatValue(m_handle, "ExposureTime", 2000.0f)
            : call == "fetch"             ? grab(frame, info, 0)
                                          : MV_CC_CloseDevice(m_handle);
        QCOMPARE(result, call == "close while grabbing" ? int(MV_OK) : int(MV_E_NODEVICE));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        // Whatever came first, closing and destroying stay prompt too.
        clock.restart();
        MV_CC_CloseDevice(m_handle);
        QCOMPARE(MV_CC_DestroyHandle(m_handle), int(MV_OK));
        m_handle = nullptr;
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

private:
    // Fails the running test with what unless ok; the helpers below return
    // false when their caller cannot go on (skipped or failed).
    static bool require(bool ok, const QString &what)
    {
        if (!ok)
            QTest::qFail(qPrintable(what), __FILE__, __LINE__);
        return ok;
    }

    bool openFakeCamera(const QStringList &options = {})
    {
        if (!m_unavailable.isEmpty())
            return QTest::qSkip(qPrintable(m_unavailable), __FILE__, __LINE__), false;
        QString why;
        return require(m_camera.isRunning() || m_camera.start(m_serial, why, options), why)
            && require(findCamera(m_serial, m_record), "not listed")
            && require(MV_CC_CreateHandle(&m_handle, &m_record) == MV_OK, "no handle")
            && require(MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0) == MV_OK, "open refused");
    }

    int grab(std::vector<unsigned char> &frame, MV_FRAME_OUT_INFO_EX &info, unsigned int timeoutMs = 3000)
    {
        return MV_CC_GetOneFrameTimeout(m_handle, frame.data(), unsigned(frame.size()), &info, timeoutMs);
    }

    FakeCamera m_camera;
    bool m_restartCamera = false;
    QString m_serial, m_unavailable;
    MV_CC_DEVICE_INFO m_record{};
    void *m_handle = nullptr;
};

QTEST_MAIN(GenicamTest)
#include "tst_genicam.moc"
