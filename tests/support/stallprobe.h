#ifndef STALLPROBE_H
#define STALLPROBE_H

// How long the window's thread leaves its queue unanswered: a probe posted to
// an object of that thread waits behind whatever was queued before it, as a
// click would, and the next is posted once it has run. The longest wait is
// the longest a person would have waited for the window to react.
#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class StallProbe
{
public:
    explicit StallProbe(QObject *receiver) : m_thread([this, receiver] { run(receiver); }) { }
    ~StallProbe() { stop(); }
    StallProbe(const StallProbe &) = delete;
    StallProbe &operator=(const StallProbe &) = delete;

    void stop()
    {
        m_running.store(false);
        if (m_thread.joinable())
            m_thread.join();
    }
    double longestMs() const { return m_longestUs.load() / 1000.0; }

private:
    struct Answer {
        std::mutex mutex; /* Protects answered */
        std::condition_variable wake;
        bool answered = false;
    };

    void run(QObject *receiver)
    {
        while (m_running.load()) {
            auto answer = std::make_shared<Answer>();
            QElapsedTimer waited;
            waited.start();
            QMetaObject::invokeMethod(
                receiver,
                [answer] {
                    const std::lock_guard<std::mutex> lock(answer->mutex);
                    answer->answered = true;
                    answer->wake.notify_all();
                },
                Qt::QueuedConnection);
            std::unique_lock<std::mutex> lock(answer->mutex);
            // Woken by the answer; the timeout only lets stop() end a wait
            // for a receiver that no longer answers.
            while (!answer->answered && m_running.load())
                answer->wake.wait_for(lock, std::chrono::milliseconds(50));
            if (answer->answered)
                m_longestUs.store(std::max<qint64>(m_longestUs.load(), waited.nsecsElapsed() / 1000));
            lock.unlock();
            // A probe every millisecond sees any stall that matters and
            // costs the receiver's thread nothing worth counting.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::atomic<bool> m_running{true};
    std::atomic<qint64> m_longestUs{0};
    std::thread m_thread;
};

#endif // STALLPROBE_H
