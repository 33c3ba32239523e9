#ifndef BATCHLEDGER_H
#define BATCHLEDGER_H

#include <QQueue>
#include <QtGlobal>

class FrameBudget;

/*
 * What the window holds against the frame budget: the bytes of the open batch
 * and, in posting order, the bytes of each job handed to the stitch worker. The
 * worker ends jobs in the order they were posted, one finished() or failed()
 * each, so the oldest job's bytes are the ones a result gives back. A job
 * without frames of the budget (Save Image) holds 0 bytes but still counts.
 * GUI thread.
 */
class BatchLedger
{
public:
    explicit BatchLedger(FrameBudget &budget) : m_budget(budget) { }

    void addToOpenBatch(qint64 bytes) { m_openBytes += bytes; }
    qint64 openBatchBytes() const { return m_openBytes; }
    // The open batch is gone without a job: its bytes go back to the budget.
    void discardOpenBatch();
    // The open batch closes; the caller hands its bytes on (jobPosted) or back.
    qint64 takeOpenBatch();

    void jobPosted(qint64 bytes) { m_jobBytes.enqueue(bytes); }
    // The oldest job ended (written or failed); false when none was pending.
    bool jobEnded();
    int pendingJobs() const { return m_jobBytes.size(); }

private:
    FrameBudget &m_budget;
    qint64 m_openBytes = 0;
    QQueue<qint64> m_jobBytes;
};

#endif // BATCHLEDGER_H
