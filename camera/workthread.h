#ifndef WORKTHREAD_H
#define WORKTHREAD_H

#include <QImage>
#include <QThread>

#include <atomic>

#include "frameimage.h"

class AcquisitionHealth;
class Camera;
class FlatFieldCorrector;
class FrameBudget;

quint64 grownPayloadSize(quint64 current, qint64 payloadSize, unsigned int reportedFrameLen);
bool readStreamCounters(void *handle, bool isGigE, int &lost, int &received);

/*
 * The open camera's grab loop, one pass per frame: fetch it, count it, keep
 * the raw copy for snapshots, convert and flat-field correct it, then hand it
 * to the live view and, with the stitch feed on and room in the frame budget,
 * to stitching. It runs no event loop and reports only by signals (queued at
 * the receivers, frameGrabbed excepted, see its connection). It ends when
 * setRunning(false) clears the flag, the camera's handle is gone, or the
 * library reports the camera gone (cameraLost()).
 */
class WorkThread : public QThread
{
    Q_OBJECT

public:
    // camera and budget (null: none) must outlive the thread.
    WorkThread(Camera &camera, FrameBudget *budget, QObject *parent = nullptr);
    // Borrowed, each may be null; set while the thread does not run.
    void setFlatField(FlatFieldCorrector *flatField) { m_flatField = flatField; }
    void setHealth(AcquisitionHealth *health) { m_health = health; }
    // The live view would show a new frame: dropped frames are then still converted for it.
    void setLiveFrameWanted(const std::atomic<bool> *wanted) { m_liveFrameWanted = wanted; }
    ~WorkThread() override;

    /* GUI thread. setRunning(false) also switches the stitch feed off. */
    void setRunning(bool on);
    bool isRunningFlag() const { return m_running.load(); }
    void setReportChanges(bool on) { m_reportChanges.store(on); }
    bool reportChanges() const { return m_reportChanges.load(); }
    // Whether stitching gets the camera's own pixels (gray, or 16-bit gray
    // for deep formats) rather than what the RGB files of old were made of.
    // Read once per frame; any thread.
    void setKeepCameraPixels(bool on) { m_keepCameraPixels.store(on); }

signals:
    void frameInfoUpdated(uint framecount, int width, int height, qlonglong timestamp, qlonglong interval,
                          int lostFrames, int totalFrames, double grabTimeMs);
    void frameGrabbed(QImage image);
    // Not a detected change: every frame fed for stitching while the feed is
    // on, with the camera's frame number. prevFrame and prevTimestamp repeat
    // the frame and its timestamp.
    void changeDetected(QImage changedFrame, QImage prevFrame, qlonglong changedTimestamp,
                        qlonglong prevTimestamp, uint frameNumber);
    void cameraLost();
    // Frames of a format the library cannot show; once a run.
    void pixelFormatUnsupported(uint pixelType);
    // The next frame for stitching does not follow the last one reported:
    // frames were dropped for lack of room, lost by the camera or the
    // transport (a jump in the frame number), or could not be converted. Sent
    // once per hole, before the frame after it; the window closes its open
    // batch so that no stitched file joins frames that were not adjacent.
    void sequenceBroken();

protected:
    void run() override;

private:
    struct RunState;
    struct Grab;
    enum class Fetched { Frame, Nothing, RunEnds };
    bool beginRun(RunState &run);
    Fetched fetchFrame(RunState &run, Grab &grab);
    void growPayload(RunState &run);
    bool frameReadable(const RunState &run) const;
    void accountFrame(RunState &run, Grab &grab);
    void checkFrameNumber(RunState &run);
    void reportHole(RunState &run);
    void showShedFrame(RunState &run);
    void convertFrame(RunState &run, Grab &grab);
    void dropUnconvertedFrame(RunState &run, const Grab &grab);
    void feedStitching(RunState &run, const Grab &grab);

    Camera &m_camera;
    FrameBudget *m_budget;
    FlatFieldCorrector *m_flatField = nullptr;
    AcquisitionHealth *m_health = nullptr;
    const std::atomic<bool> *m_liveFrameWanted = nullptr;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_reportChanges{false};
    std::atomic<bool> m_keepCameraPixels{false};
    int m_lostFrames = 0;
    int m_receivedFrames = 0;
    bool m_isGigE = false;
    // Target of the pixel conversion. One per grab thread object rather than one
    // per process: only this thread's loop touches it, so it needs no lock.
    ByteBuffer m_convertBuffer;
    // The flat-field corrected copy of a raw frame; grab thread only, like the above.
    ByteBuffer m_correctedBuffer;
};

#endif // WORKTHREAD_H
