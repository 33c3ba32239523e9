#ifndef FRAMESTATISTICS_H
#define FRAMESTATISTICS_H

#include <QString>

/* The numbers reported for every grabbed frame, and the status line that shows them. */

qint64 frameTimestamp(unsigned int high, unsigned int low);

QString frameStatisticsText(uint framecount, int width, int height, qlonglong timestamp, qlonglong interval,
                            double grabTimeMs, int lostFrames);

// Appended to the status line while a run has dropped frames; empty otherwise.
QString droppedFramesSuffix(qint64 dropped);
// The lasting warning while frames are being dropped.
QString droppedFramesWarning(qint64 dropped);

#endif // FRAMESTATISTICS_H
