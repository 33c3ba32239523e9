#ifndef BATCHLEDGER_H
#define BATCHLEDGER_H

#include <QHash>
#include <QImage>
#include <QList>
#include <QQueue>
#include <QString>
#include <QtGlobal>

#include <algorithm>

#include "stitchextent.h"

class FrameBudget;

/*
 * What the window holds against the frame budget. The open batch is charged
 * frame by frame; once closed, a batch stays charged while anything holds its
 * frames: the job posted to the stitch worker, or the stitch view, which keeps
 * the last shown batch for Save Image (both share the same pixels, so the
 * batch is charged once). The worker ends jobs in the order they were posted,
 * one finished() or failed() each, so a result lets go of the oldest job. A job
 * of a batch that was never charged (Save Image, number 0) holds nothing but
 * still counts as pending. GUI thread.
 */
class BatchLedger
{
public:
    // concurrentSaves: how many jobs the worker saves at once.
    explicit BatchLedger(FrameBudget &budget, int concurrentSaves = 1)
        : m_budget(budget), m_concurrentSaves(std::max(1, concurrentSaves))
    { }

    // One frame joins the open batch; saveBytes is what the worker's save of
    // the open batch, this frame included, would hold (stitchSaveBytes()).
    void addToOpenBatch(qint64 bytes, qint64 saveBytes = 0)
    {
        m_openBytes += bytes;
        m_openSaveBytes = saveBytes;
        m_frameBytes = bytes;
    }
    // The open batch's extent, grown by the caller as frames join, so that a
    // long batch's save is estimated without surveying every frame again.
    StitchExtent &openExtent() { return m_openExtent; }
    // The open batch and what saving it would hold take more than half the
    // budget: it must close now, before its job would pass it.
    bool openBatchOutgrowsBudget() const;
    qint64 openBatchBytes() const { return m_openBytes; }
    // The open batch is gone without being closed: its bytes go back.
    void discardOpenBatch();
    // The open batch closes as batch `number`. Call settle(number) once its
    // job is posted and it is shown, so that a batch nobody holds goes back.
    void closeOpenBatch(int number);
    void settle(int number);

    // A job for batch `number`; saveBytes is what the worker's save of it
    // holds beside the frames (stitchSaveBytes()). The worker runs up to
    // concurrentSaves jobs at once, so the budget holds the sum of that many
    // of the largest pending charges, and intake leaves room for them.
    void jobPosted(int number, qint64 saveBytes = 0);
    // The oldest job ended (written or failed); false when none was pending.
    bool jobEnded();
    int pendingJobs() const { return m_jobs.size(); }

    // The preview of batch `number` is being composed, off the window's
    // thread, from the batch's own frames; previewDone() once that is over
    // (composed, superseded by a newer batch, or given up).
    void previewTaken(int number);
    void previewDone(int number);

    // The stitch view keeps batch `number` now, and lets go of the one before.
    void batchShown(int number);
    void shownBatchCleared();
    // Bytes of the batch the stitch view keeps.
    qint64 shownBatchBytes() const;

    // When the stitch view's batch alone keeps the budget from taking the
    // next frame (nothing open, queued, being written or being previewed that
    // would free room or report the next drop), intake would never resume:
    // the view must let go of it. The next frame is taken to be as large as
    // the last one.
    bool shownBatchBlocksIntake(int openFrames) const;

private:
    struct Charge {
        qint64 bytes = 0;
        int holders = 0;
    };
    void letGo(int number);

    FrameBudget &m_budget;
    int m_concurrentSaves = 1;
    qint64 m_openBytes = 0;
    qint64 m_openSaveBytes = 0;
    StitchExtent m_openExtent;
    qint64 m_frameBytes = 0;
    void chargeSaves();

    struct Job {
        int number = 0;
        qint64 saveBytes = 0;
    };
    QQueue<Job> m_jobs;
    qint64 m_saveCharge = 0;
    QHash<int, Charge> m_charges;
    int m_shown = 0;    // 0: the view keeps no charged batch
    int m_previews = 0; // previews being composed
};

#endif // BATCHLEDGER_H
