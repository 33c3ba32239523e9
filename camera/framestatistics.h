#ifndef FRAMESTATISTICS_H
#define FRAMESTATISTICS_H

#include <QString>

/* The numbers reported for every grabbed frame, and the status line that shows them. */

qint64 frameTimestamp(unsigned int high, unsigned int low);

QString frameStatisticsText(uint framecount, int width, int height, qlonglong timestamp, qlonglong interval,
                            double grabTimeMs, int lostFrames);

// Whether a frame numbered next is the one right after previous: numbers run
// on by one, and GigE's 16-bit block ids skip 0 when they wrap (65535, 1).
bool frameNumberFollows(unsigned int previous, unsigned int next);

// Appended to the status line while a run has dropped frames; empty otherwise.
QString droppedFramesSuffix(qint64 dropped);

#endif // FRAMESTATISTICS_H
