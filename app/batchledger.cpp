#include "batchledger.h"

#include "composer.h"
#include "framebudget.h"
#include "framekind.h"
#include "naming.h"
#include "turnedcopy.h"

#include <algorithm>

void BatchLedger::discardOpenBatch()
{
    m_budget.release(m_openBytes);
    m_openBytes = 0;
    m_openCanvasBytes = 0;
}

void BatchLedger::closeOpenBatch(int number)
{
    m_charges[number].bytes += m_openBytes;
    m_openBytes = 0;
    m_openCanvasBytes = 0;
}

/*
 * Half the budget per batch and its picture: the rest holds the batches being
 * written, so the worker stays busy while the next batch fills, and a job's
 * picture, charged when it is posted, passes the budget by little if at all.
 */
bool BatchLedger::openBatchOutgrowsBudget() const
{
    return m_openBytes > 0 && m_openBytes + m_openCanvasBytes > m_budget.limit() / 2;
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

void BatchLedger::jobPosted(int number, qint64 canvasBytes)
{
    m_jobs.enqueue({number, canvasBytes});
    chargeCanvas();
    const auto it = m_charges.find(number);
    if (it != m_charges.end())
        ++it->holders;
}

bool BatchLedger::jobEnded()
{
    if (m_jobs.isEmpty())
        return false;
    letGo(m_jobs.dequeue().number);
    chargeCanvas();
    return true;
}

void BatchLedger::chargeCanvas()
{
    qint64 largest = 0;
    for (const Job &job : qAsConst(m_jobs))
        largest = std::max(largest, job.canvasBytes);
    if (largest > m_canvasCharge)
        m_budget.charge(largest - m_canvasCharge);
    else
        m_budget.release(m_canvasCharge - largest);
    m_canvasCharge = largest;
}

qint64 stitchCanvasBytes(const QList<QImage> &frames, int direction, const QString &format, int maxDimension,
                         int turnAngle)
{
    const bool horizontal = isHorizontalDirection(direction);
    qint64 length = 0;
    int cross = 0;
    bool gray = true;
    for (const QImage &frame : frames) {
        if (frame.isNull())
            continue;
        const QSize size = turnedSize(frame.size(), turnAngle);
        length += horizontal ? size.width() : size.height();
        cross = std::max(cross, horizontal ? size.height() : size.width());
        gray = gray && stitchesAsGray(frame);
    }
    const int depth = QImage(1, 1, canvasFormat(gray, extensionForFormat(format))).depth();
    const qint64 longest = std::min<qint64>(length, std::max(1, maxDimension));
    const qint64 crossBytes = (qint64(cross) * depth / 8 + 3) / 4 * 4;
    return longest * crossBytes;
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
