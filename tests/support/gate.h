#ifndef GATE_H
#define GATE_H

#include <chrono>
#include <condition_variable>
#include <mutex>

// Holds the threads that pass() it until open(), counting them as they
// arrive, so that a test can wait until work has really reached that point.
class Gate
{
public:
    void pass()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_arrived;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    void open()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    // Waits up to 10 s for `count` arrivals in all.
    bool reached(int count = 1)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_arrived >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_arrived = 0;
};

#endif // GATE_H
