#include "acquisitionhealth.h"

#include <QStringList>

#include <cmath>

namespace {

// Rates over about a second: steady enough to read, quick enough to follow a
// change of the line rate.
constexpr qint64 kRateSpanNs = 1000000000;

} // namespace

void AcquisitionHealth::start(qint64 nowNs)
{
    m_frames.store(0);
    m_lines.store(0);
    m_bytes.store(0);
    m_lastArrivalNs.store(nowNs);
    m_received.store(0);
    m_lost.store(0);
    m_marks = {Mark{nowNs, nowNs, 0, 0, 0}};
}

/*
 * Counts one frame. The counters are read one by one by sample(), so a sample
 * may see a frame in one count and not yet in another; the next one is right.
 */
void AcquisitionHealth::frameArrived(int lines, qint64 bytes, qint64 arrivalNs, qint64 received, qint64 lost)
{
    m_lines.fetch_add(lines, std::memory_order_relaxed);
    m_bytes.fetch_add(bytes, std::memory_order_relaxed);
    m_lastArrivalNs.store(arrivalNs, std::memory_order_relaxed);
    m_received.store(received, std::memory_order_relaxed);
    m_lost.store(lost, std::memory_order_relaxed);
    m_frames.fetch_add(1, std::memory_order_release);
}

void AcquisitionHealth::setFinalCounters(qint64 received, qint64 lost)
{
    m_received.store(received);
    m_lost.store(lost);
}

/*
 * Rates are timed by the frames' arrivals, not by when the window samples:
 * a late timer neither inflates nor dilutes them. No frame in the last
 * second gives rates of 0.
 */
HealthFigures AcquisitionHealth::sample(qint64 nowNs, qint64 dropped)
{
    Mark mark;
    mark.timeNs = nowNs;
    mark.frames = m_frames.load(std::memory_order_acquire);
    mark.lines = m_lines.load(std::memory_order_relaxed);
    mark.bytes = m_bytes.load(std::memory_order_relaxed);
    mark.arrivalNs = m_lastArrivalNs.load(std::memory_order_relaxed);
    if (m_marks.isEmpty())
        m_marks.append(Mark{nowNs, nowNs, 0, 0, 0});
    m_marks.append(mark);
    while (m_marks.size() > 2 && m_marks[1].timeNs <= nowNs - kRateSpanNs)
        m_marks.removeFirst();

    HealthFigures figures;
    const Mark &from = m_marks.first();
    const double seconds = double(mark.arrivalNs - from.arrivalNs) / 1e9;
    if (mark.frames > from.frames && seconds > 0) {
        figures.framesPerSecond = double(mark.frames - from.frames) / seconds;
        figures.linesPerSecond = double(mark.lines - from.lines) / seconds;
        figures.megabytesPerSecond = double(mark.bytes - from.bytes) / seconds / 1e6;
    }
    figures.lost = m_lost.load();
    figures.sent = m_received.load() + figures.lost;
    figures.dropped = dropped;
    return figures;
}

QString shareText(qint64 part, qint64 whole)
{
    if (part <= 0 || whole <= 0)
        return QStringLiteral("0 %");
    const qint64 percent = qRound64(100.0 * double(part) / double(whole));
    return percent == 0 ? QStringLiteral("<1 %") : QStringLiteral("%1 %").arg(percent);
}

/*
 * Lost frames never reached the PC; dropped ones reached it and were not
 * kept for lack of room, so each names its own cause and remedy.
 */
QStringList lossBannerLines(const HealthFigures &f)
{
    QStringList lines;
    if (f.lost > 0)
        lines << QStringLiteral("Camera lost %1 of %2 frames (%3): the PC does not fetch frames fast enough")
                     .arg(f.lost)
                     .arg(f.sent)
                     .arg(shareText(f.lost, f.sent));
    if (f.dropped > 0)
        lines << QStringLiteral("Saving cannot keep up: %1 of %2 frames dropped (%3)")
                     .arg(f.dropped)
                     .arg(f.sent)
                     .arg(shareText(f.dropped, f.sent));
    return lines;
}

QString healthText(const HealthFigures &f)
{
    return QStringLiteral("%1 lines/s | %2 frames/s | %3 MB/s | lost %4 (%5) | dropped %6 (%7)")
        .arg(qRound64(f.linesPerSecond))
        .arg(f.framesPerSecond, 0, 'f', 1)
        .arg(f.megabytesPerSecond, 0, 'f', 1)
        .arg(f.lost)
        .arg(shareText(f.lost, f.sent))
        .arg(f.dropped)
        .arg(shareText(f.dropped, f.sent));
}

/*
 * A line-scan camera exposes one line per period; an exposure longer than the
 * period means lines are skipped or the trigger is ignored. No rate (a stopped
 * belt) or no exposure known is no warning.
 */
bool exposureExceedsLinePeriod(double exposureUs, double lineRate)
{
    return exposureUs > 0 && lineRate > 0 && exposureUs > 1e6 / lineRate;
}

QString overTriggerWarning(double exposureUs, double lineRate)
{
    return QStringLiteral("Exposure %1 µs is longer than the line period of %2 µs at %3 lines/s: "
                          "the camera cannot expose every line that long")
        .arg(qRound64(exposureUs))
        .arg(qRound64(1e6 / lineRate))
        .arg(qRound64(lineRate));
}
