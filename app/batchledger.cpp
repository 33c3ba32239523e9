#include "batchledger.h"

#include "framebudget.h"

void BatchLedger::discardOpenBatch()
{
    m_budget.release(m_openBytes);
    m_openBytes = 0;
}

void BatchLedger::closeOpenBatch(int number)
{
    m_charges[number].bytes += m_openBytes;
    m_openBytes = 0;
}

void BatchLedger::settle(int number)
{
    const auto it = m_charges.find(number);
    if (it != m_charges.end() && it->holders <= 0) {
        m_budget.release(it->bytes);
        m_charges.erase(it);
    }
}

void BatchLedger::letGo(int number)
{
    const auto it = m_charges.find(number);
    if (it == m_charges.end())
        return;
    --it->holders;
    settle(number);
}

void BatchLedger::jobPosted(int number)
{
    m_jobs.enqueue(number);
    const auto it = m_charges.find(number);
    if (it != m_charges.end())
        ++it->holders;
}

bool BatchLedger::jobEnded()
{
    if (m_jobs.isEmpty())
        return false;
    letGo(m_jobs.dequeue());
    return true;
}

void BatchLedger::batchShown(int number)
{
    if (number == m_shown)
        return;
    const int previous = m_shown;
    m_shown = 0;
    const auto it = m_charges.find(number);
    if (it != m_charges.end()) {
        ++it->holders;
        m_shown = number;
    }
    letGo(previous);
}

void BatchLedger::shownBatchCleared()
{
    const int previous = m_shown;
    m_shown = 0;
    letGo(previous);
}

qint64 BatchLedger::shownBatchBytes() const
{
    return m_charges.value(m_shown).bytes;
}

bool BatchLedger::shownBatchBlocksIntake(int openFrames) const
{
    return openFrames == 0 && m_jobs.isEmpty() && m_budget.queued() == 0 && shownBatchBytes() > 0
        && m_budget.inFlight() + m_frameBytes > m_budget.limit();
}
