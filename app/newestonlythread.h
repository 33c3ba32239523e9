#ifndef NEWESTONLYTHREAD_H
#define NEWESTONLYTHREAD_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "savethread.h"

/*
 * A thread that works for the window's eye (previews, plots, tiles): one job
 * waits at most, a newer one takes its place, and a job is not started before
 * the owner has taken the last result (taken()) nor sooner than
 * minimumInterval after the last start, so results never queue up whatever
 * the rate of jobs. The work hands its result to the owner itself. The
 * thread gives way to the camera and the files (yieldToAcquisition()).
 *
 * Destroy it before whatever the work touches: the destructor waits for a job
 * under way.
 */
template<typename Job>
class NewestOnlyThread
{
public:
    NewestOnlyThread(std::chrono::milliseconds minimumInterval, std::function<void(Job)> work)
        : m_minimumInterval(minimumInterval), m_work(std::move(work))
    {
        m_thread = std::thread([this] { run(); });
    }

    ~NewestOnlyThread()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    NewestOnlyThread(const NewestOnlyThread &) = delete;
    NewestOnlyThread &operator=(const NewestOnlyThread &) = delete;

    // Keeps job as the next; returns the waiting one it replaces, which the
    // caller lets go outside the lock.
    std::optional<Job> offer(Job job)
    {
        std::optional<Job> replaced;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            replaced.swap(m_waiting);
            m_waiting = std::move(job);
        }
        m_wake.notify_all();
        return replaced;
    }

    // Drops the waiting job and returns it; a job under way still ends in a result.
    std::optional<Job> cancel()
    {
        std::optional<Job> dropped;
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped.swap(m_waiting);
        return dropped;
    }

    // The owner has taken the last result: the next job may start.
    void taken()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_delivering = false;
        }
        m_wake.notify_all();
    }

private:
    void run()
    {
        yieldToAcquisition();
        auto nextStart = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || (m_waiting && !m_delivering); });
            if (m_stop)
                return;
            if (m_wake.wait_until(lock, nextStart, [this] { return m_stop; }))
                return;
            if (!m_waiting || m_delivering)
                continue;
            Job job = std::move(*m_waiting);
            m_waiting.reset();
            m_delivering = true;
            nextStart = std::chrono::steady_clock::now() + m_minimumInterval;
            lock.unlock();
            m_work(std::move(job));
            lock.lock();
        }
    }

    const std::chrono::milliseconds m_minimumInterval;
    const std::function<void(Job)> m_work;
    std::mutex m_mutex; /* Protects m_waiting, m_delivering and m_stop */
    std::condition_variable m_wake;
    std::optional<Job> m_waiting;
    bool m_delivering = false; // a result is on its way to the owner
    bool m_stop = false;
    std::thread m_thread;
};

#endif // NEWESTONLYTHREAD_H
