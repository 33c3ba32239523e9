#include "framebudget.h"

#include <QMutexLocker>

#include <algorithm>
#include <unistd.h>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kGiB = 1024 * kMiB;
// What a close request may have to wait behind: intake takes a frame into
// its batch as grabbed, some 0.5 ms for 4 MiB, so this much is drained in
// about an eighth of a second, and a window held up for a while (a slow
// repaint, a modal box) does not cost frames at once.
constexpr qint64 kMaxQueueBytes = 1024 * kMiB;

} // namespace

/*
 * A budget of limitBytes; the queue to the window gets queueLimitBytes, or
 * frameQueueBytes(limitBytes) when negative. Any thread.
 */
FrameBudget::FrameBudget(qint64 limitBytes, qint64 queueLimitBytes)
    : m_limit(std::max<qint64>(0, limitBytes)),
      m_queueLimit(queueLimitBytes < 0 ? frameQueueBytes(m_limit) : queueLimitBytes),
      m_gate(m_limit, m_limit / 2), m_queueGate(m_queueLimit, m_queueLimit / 2)
{ }

bool FrameBudget::reserveQueued(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    bool admitted = m_gate.admit(m_inFlight, bytes);
    if (admitted && m_queued == 0)
        m_queueGate.open();
    else if (admitted)
        admitted = m_queueGate.admit(m_queued, bytes);
    if (!admitted) {
        ++m_dropped;
        return false;
    }
    m_inFlight += bytes;
    m_queued += bytes;
    return true;
}

bool FrameBudget::wouldAdmit(qint64 bytes) const
{
    QMutexLocker lock(&m_mutex);
    return m_gate.wouldAdmit(m_inFlight, bytes) && (m_queued == 0 || m_queueGate.wouldAdmit(m_queued, bytes));
}

bool FrameBudget::intakeStopped() const
{
    QMutexLocker lock(&m_mutex);
    return m_gate.isShut() || (m_queued > 0 && m_queueGate.isShut());
}

qint64 FrameBudget::lowMark() const
{
    return m_gate.lowMark();
}

void FrameBudget::unreserveQueued(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    const qint64 taken = std::min(std::max<qint64>(0, bytes), m_queued);
    m_queued -= taken;
    m_inFlight = std::max<qint64>(0, m_inFlight - taken);
}

/*
 * Frames that never came through reserveQueued (a test that feeds the window
 * directly) leave nothing to take: both counts stop at 0.
 */
void FrameBudget::dequeued(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_queued = std::max<qint64>(0, m_queued - bytes);
}

void FrameBudget::charge(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_inFlight += std::max<qint64>(0, bytes);
}

void FrameBudget::release(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_inFlight = std::max<qint64>(0, m_inFlight - bytes);
    m_queued = std::min(m_queued, m_inFlight);
}

void FrameBudget::countDropped()
{
    QMutexLocker lock(&m_mutex);
    ++m_dropped;
}

qint64 FrameBudget::dropped() const
{
    QMutexLocker lock(&m_mutex);
    return m_dropped;
}

void FrameBudget::resetDropped()
{
    QMutexLocker lock(&m_mutex);
    m_dropped = 0;
    m_gate.open();
    m_queueGate.open();
}

qint64 FrameBudget::inFlight() const
{
    QMutexLocker lock(&m_mutex);
    return m_inFlight;
}

qint64 FrameBudget::queued() const
{
    QMutexLocker lock(&m_mutex);
    return m_queued;
}

qint64 frameImageBytes(int width, int height, int depth)
{
    if (width <= 0 || height <= 0 || depth <= 0)
        return 0;
    const qint64 line = (qint64(width) * depth + 31) / 32 * 4;
    return line * height;
}

qint64 defaultFrameBudgetBytes(qint64 physicalBytes)
{
    if (physicalBytes <= 0)
        return kGiB;
    return std::min(physicalBytes / 4, 4 * kGiB);
}

qint64 frameBudgetBytes(const QByteArray &environmentValue, qint64 physicalBytes, bool *valid)
{
    if (valid)
        *valid = true;
    const QByteArray text = environmentValue.trimmed();
    if (text.isEmpty())
        return defaultFrameBudgetBytes(physicalBytes);
    bool ok = false;
    const qlonglong mib = text.toLongLong(&ok);
    // More than a PiB is a typo, not a budget; it would also overflow bytes.
    if (!ok || mib <= 0 || mib > (qint64(1) << 30)) {
        if (valid)
            *valid = false;
        return defaultFrameBudgetBytes(physicalBytes);
    }
    return mib * kMiB;
}

qint64 frameQueueBytes(qint64 budgetBytes)
{
    return std::min(kMaxQueueBytes, budgetBytes / 2);
}

qint64 physicalMemoryBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return qint64(pages) * qint64(pageSize);
}
