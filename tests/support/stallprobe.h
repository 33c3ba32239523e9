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
#include <future>
#include <memory>
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
    void run(QObject *receiver)
    {
        using namespace std::chrono_literals;
        while (m_running.load()) {
            auto answer = std::make_shared<std::promise<void>>();
            std::future<void> answered = answer->get_future();
            QElapsedTimer waited;
            waited.start();
            QMetaObject::invokeMethod(
                receiver, [answer] { answer->set_value(); }, Qt::QueuedConnection);
            // The timeout only lets stop() end a wait for a receiver that no longer answers.
            while (answered.wait_for(50ms) != std::future_status::ready && m_running.load()) { }
            if (answered.wait_for(0ms) == std::future_status::ready)
                m_longestUs.store(std::max<qint64>(m_longestUs.load(), waited.nsecsElapsed() / 1000));
            // A probe every millisecond sees any stall that matters and costs the receiver nothing.
            std::this_thread::sleep_for(1ms);
        }
    }

    std::atomic<bool> m_running{true};
    std::atomic<qint64> m_longestUs{0};
    std::thread m_thread;
};

#endif // STALLPROBE_H
