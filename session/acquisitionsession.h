#ifndef ACQUISITIONSESSION_H
#define ACQUISITIONSESSION_H

#include <QImage>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QQueue>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class BatchLedger;
class FrameBudget;
enum class ImageFormat;
class QThread;
class StitchWorker;

// How closed batches become files; a front end or the command line fills it
// from the settings file. A hand-off takes the values of the moment.
struct SessionOptions {
    QString saveDir;
    // As the settings file names it; read as an ImageFormat where a batch is
    // estimated or handed off (AcquisitionSession::outputFormat()).
    QString imageFormat = QStringLiteral("JPG");
    int jpgQuality = 95;
    int pngQuality = 8;
    int maxStitchCount = 30;
    int stitchDirection = 0;
    bool partialStitch = true;
    bool saveStitchImage = true;
    // The open camera's names, for the file names.
    QString cameraModelName;
    QString cameraSerialNumber;
};

// The camera's frame numbers of the first and last frame of a batch; both 0
// for a batch whose frames carry none (Save Image's second save).
struct FrameSpan {
    quint32 first = 0;
    quint32 last = 0;
};
Q_DECLARE_METATYPE(FrameSpan)

/*
 * Frames fed for stitching become batches, and closed batches become files:
 * the open batch and the rules that close it (count, incomplete frame, a hole
 * in the stream, the frame budget, a change of pixel kind), the frame budget
 * and the ledger of what holds it, the hand-off to the stitch worker on its
 * own thread, the counters of a run and the orderly stop that lets every
 * handed-off batch reach the disk. Nothing here knows about widgets: the
 * window and the command line both wire it. Thread of its creator (the GUI
 * thread in the window), except budget(), which the grab thread shares.
 */
class AcquisitionSession : public QObject
{
    Q_OBJECT

public:
    explicit AcquisitionSession(QObject *parent = nullptr);
    ~AcquisitionSession() override;

    SessionOptions &options() { return m_options; }
    const SessionOptions &options() const { return m_options; }

    FrameBudget &budget() { return *m_budget; }
    BatchLedger &ledger() { return *m_ledger; }
    StitchWorker *worker() const { return m_worker; }
    QThread *stitchThread() const { return m_stitchThread; }

    // Where the camera's full frame size comes from (width, height as
    // grabbed); an invalid size means the camera cannot tell yet.
    void setFrameSizeSource(std::function<QSize()> source) { m_frameSizeSource = std::move(source); }

    // Whether a front end shows closed batches: the last one is then kept
    // (for a second save) and batchClosed() carries it to the preview.
    void setShowsClosedBatches(bool on) { m_showsClosedBatches = on; }

    // Intake: whether fed frames are collected; off drops them.
    void setCollecting(bool on) { m_collecting = on; }
    bool isCollecting() const { return m_collecting; }
    // A frame fed for stitching, as grabbed, with the camera's frame number.
    void takeFrame(const QImage &frame, quint32 frameNumber);
    // A fed frame nobody collects: its room in the budget goes back.
    void refuseFrame(const QImage &frame);
    void breakOpenBatch();
    void saveOpenBatchAtRunEnd();
    void discardOpenBatch();
    // A new grabbing run: an empty batch, the drop count from 0, the frame size unknown.
    void startRun();
    // Nothing is collected or numbered any more; the open batch is dropped.
    void shutDown();
    bool isShutDown() const { return m_shutDown; }

    void setStitchDirection(int direction);
    void setMaxStitchCount(int count);
    void forgetFrameSize() { m_frameSizeKnown = false; }
    bool frameSizeKnown() const { return m_frameSizeKnown; }
    void setFrameSizeKnownForTest(QSize turned);

    // Posts one batch to the worker with the options of the moment.
    void handOffBatch(const QList<QImage> &frames, int batchNumber, int turnAngle, FrameSpan span = {});
    // The last shown batch under overload must not block intake.
    void relieveFrameBudget();

    const QList<QImage> &openBatch() const { return m_batchFrames; }
    const QList<QImage> &shownBatch() const { return m_lastBatchFrames; }
    int shownBatchTurnAngle() const { return m_lastBatchTurnAngle; }
    void setShownBatch(const QList<QImage> &frames) { m_lastBatchFrames = frames; }
    void clearShownBatch();
    // Counters of the session: batches closed, saves pending, files written, failures.
    int batchCount() const { return m_batchCounter; }
    int pendingSaves() const { return m_pendingSaves; }
    int filesWritten() const { return m_filesWritten; }
    int saveFailures() const { return m_saveFailures; }
    qint64 framesCollected() const { return m_framesCollected; }
    qint64 dropped() const;
    bool isFinishingSaves() const { return m_finishingSaves; }

    // The live frame: only the newest waits for the front end, and frames it
    // superseded are never shown. Any thread: keeps `image` and emits
    // liveFrameReady() unless one is on its way.
    void offerLiveFrame(QImage image);
    // Owner's thread, on liveFrameReady(): the newest frame; keepWaiting
    // leaves it waiting (a hidden view shows it once visible again).
    QImage takeLiveFrame(bool keepWaiting = false);
    // Offers the frame left waiting again, unless one is on its way.
    void offerWaitingLiveFrameAgain();
    bool hasLiveFrame() const;
    // Whether a front end has taken the last frame offered; the grab thread
    // then still converts frames it drops, for the live view.
    const std::atomic<bool> *liveFrameWanted() const { return &m_liveFrameWanted; }

    // Lets every handed-off batch reach its end, reporting stopProgress as
    // they do, then ends the stitch thread. Runs the event loop. Idempotent.
    void finishHandedOffBatches();

signals:
    // A live frame waits; take it with takeLiveFrame(). Sent from any thread.
    void liveFrameReady();
    // A closed batch for a preview; its frames as grabbed.
    void batchClosed(int number, const QList<QImage> &frames, int direction, int turnAngle);
    void batchHandedOff(int number);
    void saveProgress(int current, int total);
    // One handed-off batch written: its files and the camera frames in them.
    void batchSaved(const QStringList &files, FrameSpan span);
    void saveFailed(const QString &error);
    // Batches still to be written while stopping, of the total at the stop.
    void stopProgress(int left, int total);

private:
    void closeBatch();
    void appendAndCheckFull(const QImage &frame, qint64 bytes, quint32 frameNumber);
    void readExpectedFrameSize();
    void saveEnded();
    ImageFormat outputFormat() const;

    SessionOptions m_options;
    std::unique_ptr<FrameBudget> m_budget;
    std::unique_ptr<BatchLedger> m_ledger;
    QThread *m_stitchThread = nullptr;
    StitchWorker *m_worker = nullptr; // lives in m_stitchThread, deleted there
    std::function<QSize()> m_frameSizeSource;

    bool m_collecting = false;
    bool m_shutDown = false;
    bool m_showsClosedBatches = false;
    bool m_finishingSaves = false;

    // Both hold frames as grabbed; they are turned for the direction only
    // where a preview or a file is composed.
    QList<QImage> m_batchFrames;
    FrameSpan m_openSpan;
    QList<QImage> m_lastBatchFrames;
    int m_lastBatchTurnAngle = 0; // the turn m_lastBatchFrames were collected for
    int m_batchCounter = 0;
    QSize m_expectedFrameSize;
    bool m_frameSizeKnown = false;

    // Spans of the jobs posted and not yet ended; the worker ends them in order.
    QQueue<FrameSpan> m_pendingSpans;
    int m_pendingSaves = 0;
    int m_filesWritten = 0;
    int m_saveFailures = 0;
    qint64 m_framesCollected = 0;

    mutable QMutex m_liveMutex; /* Protects m_liveFrame and m_livePosted */
    QImage m_liveFrame;
    bool m_livePosted = false;
    std::atomic<bool> m_liveFrameWanted{true};
};

#endif // ACQUISITIONSESSION_H
