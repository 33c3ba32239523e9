#include "intakegate.h"

#include <algorithm>

/*
 * A gate for a store of `limit` bytes that, once shut, opens below `lowMark`
 * (clamped to 0..limit). Open at first.
 */
IntakeGate::IntakeGate(qint64 limit, qint64 lowMark)
    : m_limit(std::max<qint64>(0, limit)), m_lowMark(std::clamp<qint64>(lowMark, 0, m_limit))
{ }

// An empty store opens whatever the mark: nothing in it would ever leave
// to open it otherwise.
bool IntakeGate::canReopen(qint64 held) const
{
    return held < m_lowMark || held <= 0;
}

bool IntakeGate::wouldAdmit(qint64 held, qint64 bytes) const
{
    if (m_shut && !canReopen(held))
        return false;
    return held + bytes <= m_limit;
}

bool IntakeGate::admit(qint64 held, qint64 bytes)
{
    if (m_shut && canReopen(held))
        m_shut = false;
    if (m_shut)
        return false;
    if (held + bytes > m_limit) {
        m_shut = true;
        return false;
    }
    return true;
}
