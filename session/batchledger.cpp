#include "batchledger.h"

#include "framebudget.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <vector>

void BatchLedger::discardOpenBatch()
{
    m_budget.release(m_openBytes);
    m_openBytes = 0;
    m_openSaveBytes = 0;
    m_openExtent = StitchExtent();
}

void BatchLedger::closeOpenBatch(int number)
{
    m_charges[number].bytes += m_openBytes;
    m_openBytes = 0;
    m_openSaveBytes = 0;
    m_openExtent = StitchExtent();
}

/*
 * Half the budget per batch and its save: the rest holds the batches being
 * written, so the worker stays busy while the next batch fills, and a job's
 * save, charged when it is posted, passes the budget by little if at all.
 */
bool BatchLedger::openBatchOutgrowsBudget() const
{
    return m_openBytes > 0 && m_openBytes + m_openSaveBytes > m_budget.limit() / 2;
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

void BatchLedger::jobPosted(int number, qint64 saveBytes)
{
    m_jobs.enqueue({number, saveBytes});
    chargeSaves();
    const auto it = m_charges.find(number);
    if (it != m_charges.end())
        ++it->holders;
}

bool BatchLedger::jobEnded()
{
    if (m_jobs.isEmpty())
        return false;
    letGo(m_jobs.dequeue().number);
    chargeSaves();
    return true;
}

/*
 * Which jobs run side by side depends on how long each takes, so the charge
 * is the most any concurrentSaves of the pending jobs could hold together.
 */
void BatchLedger::chargeSaves()
{
    std::vector<qint64> charges;
    charges.reserve(size_t(m_jobs.size()));
    for (const Job &job : qAsConst(m_jobs))
        charges.push_back(job.saveBytes);
    const auto running = charges.begin() + std::min<qsizetype>(m_concurrentSaves, qsizetype(charges.size()));
    std::partial_sort(charges.begin(), running, charges.end(), std::greater<qint64>());
    const qint64 held = std::accumulate(charges.begin(), running, qint64(0));
    if (held > m_saveCharge)
        m_budget.charge(held - m_saveCharge);
    else
        m_budget.release(m_saveCharge - held);
    m_saveCharge = held;
}

void BatchLedger::previewTaken(int number)
{
    ++m_previews;
    const auto it = m_charges.find(number);
    if (it != m_charges.end())
        ++it->holders;
}

void BatchLedger::previewDone(int number)
{
    m_previews = std::max(0, m_previews - 1);
    letGo(number);
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
    return openFrames == 0 && m_jobs.isEmpty() && m_previews == 0 && m_budget.queued() == 0
        && shownBatchBytes() > 0 && !m_budget.wouldAdmit(m_frameBytes);
}
