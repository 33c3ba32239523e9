// Control calls that return within a bound whatever the device does: a device
// that blocks stands for a camera that stopped answering.
#include <QtTest>

#include "boundeddevice.h"

#include <condition_variable>
#include <mutex>

using namespace mvcc;

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

    std::atomic<bool> hold{false};
    std::atomic<bool> abandoned{false};
    std::atomic<bool> lost{false};
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

} // namespace

class GenicamBoundedTest : public QObject
{
    Q_OBJECT

private slots:
    void answeredCallsPassTheirResultsThrough()
    {
        auto device = std::make_shared<StuckDevice>();
        BoundedDevice bounded(device);
        QCOMPARE(bounded.open(MV_ACCESS_Exclusive), MV_OK);
        MVCC_INTVALUE_EX integer{};
        QCOMPARE(bounded.getInt("Width", integer), MV_OK);
        QCOMPARE(integer.nCurValue, int64_t(42));
        MVCC_FLOATVALUE number{};
        QCOMPARE(bounded.getFloat("Gain", number), MV_OK);
        QCOMPARE(number.fCurValue, 1.5f);
        QCOMPARE(bounded.setFloat("Gain", 99.0f), int(MV_E_RANGE));
        QCOMPARE(bounded.optimalPacketSize(), 1500);
        std::string current;
        std::vector<std::string> entries;
        QCOMPARE(bounded.getEnumEntries("TriggerMode", current, entries), MV_OK);
        QCOMPARE(current, std::string("Off"));
        QCOMPARE(entries, (std::vector<std::string>{"Off", "On"}));
        QCOMPARE(bounded.setEnumByName("TriggerMode", "Sometimes"), int(MV_E_RANGE));
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
        QTest::newRow("stop") << "stop" << int(MV_OK);
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
            clock.restart();
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
    void aFullQueueRefusesAndCounts()
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
        QTRY_VERIFY(running); // the first job no longer waits: two more may
        QVERIFY(worker.post([] {}) != nullptr);
        QVERIFY(worker.post([] {}) != nullptr);
        QCOMPARE(worker.post([] {}), nullptr);
        QCOMPARE(worker.post([] {}), nullptr);
        QCOMPARE(worker.refused(), uint64_t(2));
        QVERIFY(!ControlWorker::waitFor(blocked, std::chrono::milliseconds(10)));
        closed.unlock();
        QVERIFY(ControlWorker::waitFor(blocked, std::chrono::milliseconds(5000)));
    }
};

QTEST_GUILESS_MAIN(GenicamBoundedTest)
#include "tst_genicam_bounded.moc"
