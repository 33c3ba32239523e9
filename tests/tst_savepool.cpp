#include <QtTest>

#include "savepool.h"
#include "savethread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

/*
 * The save pool on its own: saves that end out of order are still reported
 * in posting order, at most the configured number run at once, one save at a
 * time runs within post(), a save that throws still ends exactly once, and
 * saves on helper threads give way to grabbing.
 */

namespace {

int niceOf(pid_t thread)
{
    return ::getpriority(PRIO_PROCESS, id_t(thread));
}

int niceOfThisThread()
{
    return niceOf(pid_t(::syscall(SYS_gettid)));
}

// A gate a save waits at until the test opens it; tells when it is waited at.
class Gate
{
public:
    void open()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void pass()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_reached = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    // Waits up to 10 s for a save to reach the gate.
    bool reached()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_reached; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_reached = false;
};

// What the pool delivered, as text in delivery order.
struct Deliveries {
    QStringList events;
    SavePool pool{[this](int current, int total) {
                      events << QStringLiteral("progress %1/%2").arg(current).arg(total);
                  },
                  [this](const SaveOutcome &outcome) {
                      events << (outcome.ok
                                     ? QStringLiteral("finished ") + outcome.files.join(QLatin1Char(','))
                                     : QStringLiteral("failed ") + outcome.error);
                  }};
};

} // namespace

class SavePoolTest : public QObject
{
    Q_OBJECT

private slots:
    void slowFirstSaveStillReportsFirst_data();
    void slowFirstSaveStillReportsFirst();
    void neverMoreSavesAtOnceThanAllowed();
    void oneSaveAtATimeRunsWithinThePost();
    void throwingSaveFailsOnceInItsTurn();
    void helperThreadsGiveWayAndOnlyThey();
};

void SavePoolTest::slowFirstSaveStillReportsFirst_data()
{
    QTest::addColumn<int>("concurrency");
    QTest::newRow("two at once") << 2;
    QTest::newRow("three at once") << 3;
}

// The first save waits until the second has ended and been offered for
// delivery; nothing of the second may come out before the first's outcome.
void SavePoolTest::slowFirstSaveStillReportsFirst()
{
    QFETCH(int, concurrency);
    Deliveries d;
    std::atomic<int> wakes{0};
    d.pool.setConcurrency(concurrency);
    d.pool.setWake([&wakes] { ++wakes; });
    Gate slow;
    std::atomic<bool> fastEnded{false};
    d.pool.post([&slow](const SavePool::Progress &progress) {
        progress(1, 2);
        slow.pass();
        progress(2, 2);
        return SaveOutcome::written({QStringLiteral("first")});
    });
    d.pool.post([&fastEnded](const SavePool::Progress &progress) {
        progress(1, 1);
        fastEnded = true;
        return SaveOutcome::written({QStringLiteral("second")});
    });
    QVERIFY(slow.reached());
    QTRY_VERIFY(fastEnded.load());
    QTRY_VERIFY(wakes.load() >= 3); // the helpers asked for delivery
    d.pool.deliverReady();
    QCOMPARE(d.events, QStringList{QStringLiteral("progress 1/2")});
    QCOMPARE(d.pool.held(), 2);

    slow.open();
    d.pool.waitForAll();
    const QStringList expected{QStringLiteral("progress 1/2"), QStringLiteral("progress 2/2"),
                               QStringLiteral("finished first"), QStringLiteral("progress 1/1"),
                               QStringLiteral("finished second")};
    QCOMPARE(d.events, expected);
    QCOMPARE(d.pool.held(), 0);
}

// Two saves at once: a third post waits until the oldest has been delivered,
// and the waits are counted.
void SavePoolTest::neverMoreSavesAtOnceThanAllowed()
{
    Deliveries d;
    d.pool.setConcurrency(2);
    d.pool.setWake([] {});
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    Gate gates[2];
    const auto save = [&](int number) {
        return [&, number](const SavePool::Progress &) {
            const int now = ++running;
            int seen = mostRunning.load();
            while (now > seen && !mostRunning.compare_exchange_weak(seen, now)) { }
            if (number < 2)
                gates[number].pass();
            --running;
            return SaveOutcome::written({QString::number(number)});
        };
    };
    d.pool.post(save(0));
    d.pool.post(save(1));
    QVERIFY(gates[0].reached());
    QVERIFY(gates[1].reached());
    QCOMPARE(d.pool.timesFull(), qint64(0));
    // Opens the first gate once the third post is under way: it cannot tell
    // it is waiting, so the opener gives it ample time to get there.
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gates[0].open();
    });
    d.pool.post(save(2));
    opener.join();
    QCOMPARE(d.pool.timesFull(), qint64(1));
    QCOMPARE(d.events, QStringList{QStringLiteral("finished 0")});
    gates[1].open();
    d.pool.waitForAll();
    QCOMPARE(mostRunning.load(), 2);
    QCOMPARE(d.events,
             (QStringList{QStringLiteral("finished 0"), QStringLiteral("finished 1"),
                          QStringLiteral("finished 2")}));
}

void SavePoolTest::oneSaveAtATimeRunsWithinThePost()
{
    Deliveries d;
    std::thread::id ranOn;
    d.pool.post([&ranOn](const SavePool::Progress &progress) {
        ranOn = std::this_thread::get_id();
        progress(1, 1);
        return SaveOutcome::failure(QStringLiteral("disk gone"));
    });
    QCOMPARE(ranOn, std::this_thread::get_id());
    QCOMPARE(d.events, (QStringList{QStringLiteral("progress 1/1"), QStringLiteral("failed disk gone")}));
    QCOMPARE(d.pool.held(), 0);
}

void SavePoolTest::throwingSaveFailsOnceInItsTurn()
{
    for (int concurrency : {1, 2}) {
        Deliveries d;
        d.pool.setConcurrency(concurrency);
        d.pool.setWake([] {});
        d.pool.post([](const SavePool::Progress &) -> SaveOutcome { throw std::runtime_error("boom"); });
        d.pool.post(
            [](const SavePool::Progress &) { return SaveOutcome::written({QStringLiteral("next")}); });
        d.pool.waitForAll();
        QCOMPARE(d.events,
                 (QStringList{QStringLiteral("failed Unknown error when stitching."),
                              QStringLiteral("finished next")}));
    }
}

// A save on a helper thread runs nicer than the main thread, and so does a
// thread it starts in turn, but no further down; the owner's thread, which
// also runs the saves of a pool of one, keeps its place.
void SavePoolTest::helperThreadsGiveWayAndOnlyThey()
{
    bool allowed = false;
    std::thread([&allowed] {
        const id_t self = id_t(::syscall(SYS_gettid));
        allowed = ::setpriority(PRIO_PROCESS, self, niceOf(pid_t(self)) + 1) == 0;
    }).join();
    if (!allowed)
        QSKIP("this system refuses a thread a higher nice value");
    const int main = niceOf(::getpid());
    const int owner = niceOfThisThread();
    Deliveries d;
    d.pool.setConcurrency(2);
    d.pool.setWake([] {});
    std::atomic<int> helper{-100}, helperAgain{-100}, grandchild{-100};
    d.pool.post([&](const SavePool::Progress &) {
        helper = niceOfThisThread();
        yieldToAcquisition();
        helperAgain = niceOfThisThread();
        std::thread([&] {
            yieldToAcquisition();
            grandchild = niceOfThisThread();
        }).join();
        return SaveOutcome::written({});
    });
    d.pool.waitForAll();
    QCOMPARE(helper.load(), main + kSaveThreadNiceness);
    QCOMPARE(helperAgain.load(), main + kSaveThreadNiceness);
    QCOMPARE(grandchild.load(), main + kSaveThreadNiceness);
    QCOMPARE(niceOfThisThread(), owner);

    Deliveries inline_;
    int ranAt = -100;
    inline_.pool.post([&](const SavePool::Progress &) {
        ranAt = niceOfThisThread();
        return SaveOutcome::written({});
    });
    QCOMPARE(ranAt, owner);
}

QTEST_GUILESS_MAIN(SavePoolTest)
#include "tst_savepool.moc"
