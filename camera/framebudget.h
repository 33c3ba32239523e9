#ifndef FRAMEBUDGET_H
#define FRAMEBUDGET_H

#include <QByteArray>
#include <QMutex>
#include <QtGlobal>

#include "intakegate.h"

/*
 * Bytes of frames in flight between the grab thread and the disk: frames
 * queued from the grab thread to the window, the open batch, and batches handed
 * to the stitch worker and not yet written. The grab thread asks for room
 * before it converts a frame for stitching and drops the frame when there is
 * none, so a window or a disk that cannot keep up costs frames, never memory
 * without bound.
 *
 * Within the whole, the frames queued to the window have a bound of their own:
 * the window turns them one by one, and a short queue keeps a close request
 * from waiting behind seconds of queued work.
 *
 * Both bounds shed frames in whole runs (IntakeGate): once a frame is
 * refused, intake stays stopped until what is in flight falls below half the
 * budget (the queue below half its bound), so the batches between two runs
 * of drops fill up instead of shrinking to single frames.
 *
 * Every refusal, and every frame the window drops for itself (memory ran out
 * while turning it), is counted as dropped; the count starts again with each
 * grabbing run. Thread-safe.
 */
class FrameBudget
{
public:
    explicit FrameBudget(qint64 limitBytes, qint64 queueLimitBytes = -1);

    qint64 limit() const { return m_limit; }
    qint64 queueLimit() const { return m_queueLimit; }

    // Grab thread: room for a frame about to be queued to the window. Refused
    // (and counted as dropped) when it would pass either bound, or while
    // intake is stopped after a refusal; a frame is never refused for the
    // queue's bound alone while the queue is empty.
    bool reserveQueued(qint64 bytes);
    // Whether reserveQueued(bytes) would take the frame now.
    bool wouldAdmit(qint64 bytes) const;
    // Intake stopped at a refusal and has not resumed since.
    bool intakeStopped() const;
    // Below this, stopped intake resumes.
    qint64 lowMark() const;
    // Grab thread: room reserved by reserveQueued that no queued frame
    // takes after all (the frame was not built, or came out smaller).
    void unreserveQueued(qint64 bytes);
    // Window: a queued frame was taken; its bytes stay in flight.
    void dequeued(qint64 bytes);
    // Memory taken on the way to the disk that no frame brought in (the
    // stitch worker's picture): never refused, it only makes less room.
    void charge(qint64 bytes);
    // Bytes in flight are gone (written, discarded, or never used).
    void release(qint64 bytes);

    void countDropped();
    qint64 dropped() const;
    // A new grabbing run: the count starts at 0 and intake is open.
    void resetDropped();

    qint64 inFlight() const;
    qint64 queued() const;

private:
    const qint64 m_limit;
    const qint64 m_queueLimit;
    mutable QMutex m_mutex;
    qint64 m_inFlight = 0;  /* Guarded by m_mutex */
    qint64 m_queued = 0;    /* Guarded by m_mutex; part of m_inFlight */
    qint64 m_dropped = 0;   /* Guarded by m_mutex */
    IntakeGate m_gate;      /* Guarded by m_mutex; over m_inFlight */
    IntakeGate m_queueGate; /* Guarded by m_mutex; over m_queued */
};

// Bytes a frame image of width x height takes at `depth` bits a pixel, lines
// padded to four bytes: 24 for the RGB888 of a converted frame (the most any
// pixel format needs), 8 for a gray one.
qint64 frameImageBytes(int width, int height, int depth = 24);

// The default budget: a quarter of physical memory, at most 4 GiB.
qint64 defaultFrameBudgetBytes(qint64 physicalBytes);
// The budget for a value of CORVISTA_MEMORY_BUDGET_MIB (a positive number of
// MiB); an empty or unusable value gives the default. *valid tells whether an
// unusable value was given.
qint64 frameBudgetBytes(const QByteArray &environmentValue, qint64 physicalBytes, bool *valid = nullptr);
// The bound of the queue to the window within a budget.
qint64 frameQueueBytes(qint64 budgetBytes);
qint64 physicalMemoryBytes();

#endif // FRAMEBUDGET_H
