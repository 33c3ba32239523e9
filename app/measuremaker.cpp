#include "measuremaker.h"

#include "savethread.h"

MeasureMaker::MeasureMaker(std::chrono::milliseconds minimumInterval, QObject *parent)
    : QObject(parent), m_minimumInterval(minimumInterval)
{
    qRegisterMetaType<MeasureMaker::Result>("MeasureMaker::Result");
    m_thread = std::thread([this] { run(); });
}

/* Waits for a measurement under way; one not yet delivered is never reported. Owner's thread. */
MeasureMaker::~MeasureMaker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

/* Keeps `request` as the next to measure, in place of any still waiting. Owner's thread. */
void MeasureMaker::request(Request request)
{
    Request replaced;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        replaced = std::move(m_waiting); // its frame is freed outside the lock
        m_waiting = std::move(request);
        m_hasWaiting = true;
    }
    m_wake.notify_all();
}

void MeasureMaker::run()
{
    // Plots are for the eye: the camera and the files come first.
    yieldToAcquisition();
    auto nextStart = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || (m_hasWaiting && !m_delivering); });
        if (m_stop)
            return;
        if (m_wake.wait_until(lock, nextStart, [this] { return m_stop; }))
            return;
        if (!m_hasWaiting || m_delivering)
            continue;
        Request request = std::move(m_waiting);
        m_waiting = Request();
        m_hasWaiting = false;
        m_delivering = true;
        nextStart = std::chrono::steady_clock::now() + m_minimumInterval;
        lock.unlock();

        Result result;
        result.profile = request.row < 0 ? meanProfile(request.frame, request.gray)
                                         : rowProfile(request.frame, request.row, request.gray);
        result.histogram = imageHistogram(request.frame, request.gray);
        result.frame = std::move(request.frame);
        QMetaObject::invokeMethod(
            this, [this, result] { deliver(result); }, Qt::QueuedConnection);
        lock.lock();
    }
}

void MeasureMaker::deliver(const Result &result)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_delivering = false;
    }
    m_wake.notify_all();
    emit measured(result);
}
