#include "framestatistics.h"

/*
 * The device timestamp of a frame from its two 32-bit halves, in the camera's
 * own ticks (no unit conversion). Any thread.
 */
qint64 frameTimestamp(unsigned int high, unsigned int low)
{
    return qint64((quint64(high) << 32) | quint64(low));
}

/*
 * The status line of one frame: counts and size in decimal, the grab time with
 * three decimals, and a blank at the end. Any thread.
 */
QString frameStatisticsText(uint framecount, int width, int height, qlonglong timestamp, qlonglong interval,
                            double grabTimeMs, int lostFrames)
{
    return QStringLiteral("FrameCount: [%2] | W*H: %3x%4 | TS: %5 us | Interval: %6 us | GrabOne: %7 ms "
                          "| Lost: %8 ")
        .arg(framecount)
        .arg(width)
        .arg(height)
        .arg(timestamp)
        .arg(interval)
        .arg(grabTimeMs, 0, 'f', 3)
        .arg(lostFrames);
}

/*
 * " | Dropped: N" while N > 0, so that the status line is unchanged in a run
 * without drops. Any thread.
 */
QString droppedFramesSuffix(qint64 dropped)
{
    return dropped > 0 ? QStringLiteral(" | Dropped: %1").arg(dropped) : QString();
}

bool frameNumberFollows(unsigned int previous, unsigned int next)
{
    constexpr unsigned int lastBlockId = 0xFFFF;
    return next == previous + 1u || (previous == lastBlockId && next == 1u);
}
