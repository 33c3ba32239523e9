#include "batchledger.h"

#include "framebudget.h"

void BatchLedger::discardOpenBatch()
{
    m_budget.release(takeOpenBatch());
}

qint64 BatchLedger::takeOpenBatch()
{
    const qint64 bytes = m_openBytes;
    m_openBytes = 0;
    return bytes;
}

bool BatchLedger::jobEnded()
{
    if (m_jobBytes.isEmpty())
        return false;
    m_budget.release(m_jobBytes.dequeue());
    return true;
}
