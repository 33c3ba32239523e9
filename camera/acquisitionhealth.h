#ifndef ACQUISITIONHEALTH_H
#define ACQUISITIONHEALTH_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>

/*
 * How a run is going: the rates at which frames arrive, and what the camera
 * lost (frames the PC did not fetch in time) and the window dropped (frames
 * saving had no room for), each as a share of the frames the camera sent.
 * The grab thread reports every frame; the window samples a few times a
 * second and shows the figures, so no frame costs the window anything here.
 */
struct HealthFigures {
    double framesPerSecond = 0;
    double linesPerSecond = 0;
    double megabytesPerSecond = 0;
    qint64 sent = 0; // frames the camera read out: delivered and lost
    qint64 lost = 0;
    qint64 dropped = 0;
};

class AcquisitionHealth
{
public:
    // A new run starting at `nowNs` (the steady clock the frames are timed
    // by): every count and rate starts from zero. Window's thread, while no
    // frame is reported.
    void start(qint64 nowNs);
    // One frame of `lines` lines and `bytes` bytes arrived at `arrivalNs` (a
    // steady clock); `received` and `lost` are the camera's counters of the
    // run. Grab thread.
    void frameArrived(int lines, qint64 bytes, qint64 arrivalNs, qint64 received, qint64 lost);
    // The figures at `nowNs`, with `dropped` frames dropped in this run; the
    // rates cover about the last second of frames. Window's thread.
    HealthFigures sample(qint64 nowNs, qint64 dropped);
    // The camera's final counters, read once the run has stopped.
    void setFinalCounters(qint64 received, qint64 lost);

private:
    struct Mark {
        qint64 timeNs = 0;    // when the mark was taken
        qint64 arrivalNs = 0; // arrival of the newest frame counted by then
        qint64 frames = 0, lines = 0, bytes = 0;
    };
    std::atomic<qint64> m_frames{0};
    std::atomic<qint64> m_lines{0};
    std::atomic<qint64> m_bytes{0};
    std::atomic<qint64> m_lastArrivalNs{0};
    std::atomic<qint64> m_received{0};
    std::atomic<qint64> m_lost{0};
    QVector<Mark> m_marks; // window's thread only
};

// part of whole in whole percent, "<1" for a share that rounds to 0 but is not.
QString shareText(qint64 part, qint64 whole);
// The banner's lines for a run that lost or dropped frames; empty while none.
QStringList lossBannerLines(const HealthFigures &figures);
// The always visible line of rates and counts.
QString healthText(const HealthFigures &figures);
// Whether an exposure of exposureUs cannot fit in the period of lineRate
// lines a second: the camera then cannot expose every line that long.
bool exposureExceedsLinePeriod(double exposureUs, double lineRate);
QString overTriggerWarning(double exposureUs, double lineRate);

#endif // ACQUISITIONHEALTH_H
