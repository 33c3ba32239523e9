#include "workthread.h"

#include <QElapsedTimer>
#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>

#include "acquisitionhealth.h"
#include "camera.h"
#include "flatfieldcorrector.h"
#include "framebudget.h"
#include "framestatistics.h"
#include "graywords.h"
#include "pixelformatname.h"

namespace {

const unsigned int grabTimeoutMs = 1000;

} // namespace

/*
 * The library's frame counters of the running stream. GigE cameras report them
 * through the network statistics, USB3 cameras through the USB match record.
 * Returns false, leaving both untouched, when the library cannot tell.
 */
bool readStreamCounters(void *handle, bool isGigE, int &lost, int &received)
{
    if (isGigE) {
        MV_NETTRANS_INFO net;
        std::memset(&net, 0, sizeof net);
        if (MV_GIGE_GetNetTransInfo(handle, &net) != MV_OK)
            return false;
        lost = net.nThrowFrameCount;
        received = int(net.nNetRecvFrameCount);
        return true;
    }
    MV_MATCH_INFO_USB_DETECT usb;
    std::memset(&usb, 0, sizeof usb);
    MV_ALL_MATCH_INFO match;
    std::memset(&match, 0, sizeof match);
    match.nType = MV_MATCH_TYPE_USB_DETECT;
    match.pInfo = &usb;
    match.nInfoSize = sizeof usb;
    if (MV_CC_GetAllMatchInfo(handle, &match) != MV_OK)
        return false;
    received = int(usb.nReceivedFrameCount);
    lost = int(usb.nErrorFrameCount);
    return true;
}

namespace {

qint64 steadyClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/* "PayloadSize" of the camera as a buffer size; 0 when it cannot be read or is unusable. */
quint64 readPayloadSize(void *handle)
{
    MVCC_INTVALUE_EX value;
    std::memset(&value, 0, sizeof value);
    if (MV_CC_GetIntValueEx(handle, "PayloadSize", &value) != MV_OK)
        return 0;
    if (value.nCurValue <= 0 || quint64(value.nCurValue) > quint64(UINT_MAX))
        return 0;
    return quint64(value.nCurValue);
}

} // namespace

/*
 * The payload buffer size to try after the library refused a frame as larger
 * than `current` bytes. The camera's PayloadSize may have grown (a changed
 * height or format), the library may have reported the frame's length; failing
 * both, the buffer doubles. Never more than the library's 32-bit length field
 * can describe; returns `current` when it cannot grow. Any thread.
 */
quint64 grownPayloadSize(quint64 current, qint64 payloadSize, unsigned int reportedFrameLen)
{
    const quint64 limit = quint64(UINT_MAX);
    quint64 wanted = std::max<quint64>(current, 1) * 2;
    if (payloadSize > 0 && quint64(payloadSize) > current)
        wanted = quint64(payloadSize);
    if (reportedFrameLen > current)
        wanted = std::max<quint64>(wanted, reportedFrameLen);
    return std::max(current, std::min(wanted, limit));
}

/*
 * A grab thread for `camera`. Not started; the running flag and the stitch
 * feed are off. Owner's thread.
 */
WorkThread::WorkThread(Camera &camera, FrameBudget *budget, QObject *parent)
    : QThread(parent), m_camera(camera), m_budget(budget)
{ }

/*
 * The owner stops the thread before destroying it (the loop ends within
 * milliseconds once the flag is cleared and the library stops grabbing);
 * waiting here as well keeps a forgotten stop from destroying a running thread.
 */
WorkThread::~WorkThread()
{
    setRunning(false);
    wait();
}

/*
 * Sets the running flag the loop tests on every pass; clearing it also turns
 * the stitch feed off. Any thread (the GUI thread in practice).
 */
void WorkThread::setRunning(bool on)
{
    m_running.store(on);
    if (!on)
        m_reportChanges.store(false);
}

/*
 * What one run of the loop carries from frame to frame. The payload buffer
 * and the frame record belong to the frame being handled.
 */
struct WorkThread::RunState {
    void *handle = nullptr;
    quint64 payloadSize = 0; // announced at start; the floor should the buffer fail to grow
    ByteBuffer payload;
    MV_FRAME_OUT_INFO_EX info;
    qint64 previousTimestamp = 0;
    bool firstFrame = true;
    int frameCounter = 0;
    bool toldUnsupported = false;
    bool haveFrameNumber = false;
    unsigned int previousFrameNumber = 0;
    bool holeReported = false;
};

// One fetched frame on its way through the steps.
struct WorkThread::Grab {
    double grabTimeMs = 0;
    qint64 timestamp = 0;
    bool feed = false; // the stitch feed was on as the frame came
    bool keepPixels = false;
    qint64 reserved = 0;  // room taken in the budget for its stitching copy
    bool refused = false; // no room: the frame is shown at most, never fed
    FlatFieldCorrector *flatField = nullptr;
    unsigned char *pixels = nullptr; // raw, flat-field corrected when a corrector is set
    QImage image;                    // for the views
    QImage fed;                      // for stitching
};

/*
 * The grab loop: fetches frames from the owner's open, grabbing camera until
 * the running flag is cleared, the owner's handle is null, or the library
 * reports the device gone (then cameraLost() is emitted). For every frame of
 * nonzero size it stores the raw copy in the owner under m_frameMutex and emits
 * frameInfoUpdated, then frameGrabbed and, with the stitch feed on,
 * changeDetected (with stitchFeedImage(): a Mono8 frame stays gray there).
 * Ends at once, reporting nothing, when "PayloadSize" cannot be
 * read or its buffer cannot be allocated. Grab thread.
 */
void WorkThread::run()
{
    RunState run;
    if (!beginRun(run))
        return;
    while (m_running.load() && m_camera.hasHandle()) {
        Grab grab;
        const Fetched fetched = fetchFrame(run, grab);
        if (fetched == Fetched::RunEnds)
            break;
        if (fetched == Fetched::Nothing)
            continue;
        // Held for the whole frame: a snapshot copying the latest frame holds
        // up the loop, and the camera, not this thread, then sheds frames.
        QMutexLocker frameLock(&m_camera.frameMutex());
        if (!frameReadable(run))
            continue;
        accountFrame(run, grab);
        m_camera.keepLatestFrame(run.payload.data(), run.info);
        checkFrameNumber(run);
        if (grab.refused) {
            showShedFrame(run);
            continue;
        }
        convertFrame(run, grab);
        if (grab.image.isNull()) {
            dropUnconvertedFrame(run, grab);
            continue;
        }
        emit frameGrabbed(grab.image);
        if (grab.feed)
            feedStitching(run, grab);
    }
    m_convertBuffer.release();
    m_correctedBuffer.release();
}

/* The payload buffer and the counters of a new run; false when there is no camera to grab from. */
bool WorkThread::beginRun(RunState &run)
{
    run.handle = m_camera.handle();
    if (!run.handle)
        return false;
    run.payloadSize = readPayloadSize(run.handle);
    if (run.payloadSize == 0)
        return false;
    m_isGigE = m_camera.isGigE();
    if (!run.payload.reserve(run.payloadSize))
        return false;
    std::memset(&run.info, 0, sizeof run.info);
    m_lostFrames = 0;
    m_receivedFrames = 0;
    return true;
}

/*
 * Waits for the camera's next frame. Nothing when none came (after a pause
 * that keeps a failing library from spinning the loop); the run ends when
 * the camera is gone or the flag was cleared meanwhile.
 */
WorkThread::Fetched WorkThread::fetchFrame(RunState &run, Grab &grab)
{
    run.handle = m_camera.handle();
    QElapsedTimer timer;
    timer.start();
    // Statuses are the library's 32-bit codes; its failure codes have the top bit set.
    const unsigned int status = unsigned(MV_CC_GetOneFrameTimeout(
        run.handle, run.payload.data(), unsigned(run.payload.capacity()), &run.info, grabTimeoutMs));
    grab.grabTimeMs = double(timer.nsecsElapsed()) / 1000000.0;
    if (status == MV_E_NODEVICE) {
        // The camera was unplugged or stopped answering; every later call
        // would fail the same way, so the run ends and the window is told.
        setRunning(false);
        emit cameraLost();
        return Fetched::RunEnds;
    }
    if (status == MV_E_BUFOVER)
        growPayload(run);
    if (status != MV_OK) {
        if (status == MV_E_NODATA)
            usleep(1000);
        else
            msleep(10);
        return Fetched::Nothing;
    }
    return m_running.load() ? Fetched::Frame : Fetched::RunEnds;
}

/*
 * A frame larger than the payload size announced at start: make room so the
 * following frames fit (the refused one is lost).
 */
void WorkThread::growPayload(RunState &run)
{
    MVCC_INTVALUE_EX current;
    std::memset(&current, 0, sizeof current);
    const qint64 nowPayload
        = MV_CC_GetIntValueEx(run.handle, "PayloadSize", &current) == MV_OK ? current.nCurValue : 0;
    const quint64 grown = grownPayloadSize(run.payload.capacity(), nowPayload, run.info.nFrameLen);
    if (grown > run.payload.capacity() && !run.payload.reserve(grown))
        run.payload.reserve(run.payloadSize);
}

/*
 * nFrameLen beyond the buffer would mean a broken library; such a frame
 * cannot be trusted and is not read.
 */
bool WorkThread::frameReadable(const RunState &run) const
{
    return run.info.nWidth != 0 && run.info.nHeight != 0 && run.info.nFrameLen <= run.payload.capacity();
}

/*
 * Counts the frame, in the statistics line and the health record, and takes
 * room in the budget for its stitching copy. A frame for stitching needs the
 * room before it costs a conversion; without room it is dropped, and counted.
 * Asked before the frame is reported, so that the statistics line of the
 * frame counts its own drop.
 */
void WorkThread::accountFrame(RunState &run, Grab &grab)
{
    const MV_FRAME_OUT_INFO_EX &info = run.info;
    grab.timestamp = frameTimestamp(info.nDevTimeStampHigh, info.nDevTimeStampLow);
    const qint64 interval = run.firstFrame ? 0 : grab.timestamp - run.previousTimestamp;
    run.previousTimestamp = grab.timestamp;
    ++run.frameCounter;
    run.firstFrame = false;

    readStreamCounters(run.handle, m_isGigE, m_lostFrames, m_receivedFrames);
    if (AcquisitionHealth *health = m_health)
        health->frameArrived(int(info.nHeight), info.nFrameLen, steadyClockNs(), m_receivedFrames,
                             m_lostFrames);
    grab.feed = m_reportChanges.load();
    grab.keepPixels = m_keepCameraPixels.load();
    grab.reserved = grab.feed && m_budget
        ? frameImageBytes(int(info.nWidth), int(info.nHeight),
                          stitchFeedDepth(info.enPixelType, grab.keepPixels))
        : 0;
    grab.refused = grab.feed && m_budget && !m_budget->reserveQueued(grab.reserved);
    emit frameInfoUpdated(uint(m_receivedFrames), int(info.nWidth), int(info.nHeight), grab.timestamp,
                          interval, m_lostFrames, run.frameCounter, grab.grabTimeMs);
}

/* Frame numbers run on by one; a jump means frames lost on the way. */
void WorkThread::checkFrameNumber(RunState &run)
{
    const bool numberJumped
        = run.haveFrameNumber && !frameNumberFollows(run.previousFrameNumber, run.info.nFrameNum);
    run.haveFrameNumber = true;
    run.previousFrameNumber = run.info.nFrameNum;
    if (numberJumped)
        reportHole(run);
}

/* Says sequenceBroken() once per hole, however many frames it swallows. */
void WorkThread::reportHole(RunState &run)
{
    if (!run.holeReported)
        emit sequenceBroken();
    run.holeReported = true;
}

/*
 * The live view goes on showing the camera while a run of frames is shed,
 * at the rate it paints, without converting every dropped frame.
 */
void WorkThread::showShedFrame(RunState &run)
{
    reportHole(run);
    if (m_liveFrameWanted && !m_liveFrameWanted->load())
        return;
    const QImage image = frameImage(run.handle, run.payload.data(), run.info, m_convertBuffer);
    if (!image.isNull())
        emit frameGrabbed(image);
}

/*
 * The snapshot keeps the raw frame; the views and stitching get it flat-field
 * corrected, before or after conversion by its format. A packed deep frame is
 * corrected only once the library has made RGB of it: kept whole it would
 * reach the files uncorrected, so a corrected one travels as the gray of that
 * picture instead.
 */
void WorkThread::convertFrame(RunState &run, Grab &grab)
{
    const MV_FRAME_OUT_INFO_EX &info = run.info;
    grab.flatField = m_flatField;
    grab.pixels = grab.flatField
        ? grab.flatField->correctRawFrame(run.payload.data(), info, m_correctedBuffer)
        : run.payload.data();
    grab.image = frameImage(run.handle, grab.pixels, info, m_convertBuffer);
    if (grab.flatField && !grab.image.isNull())
        grab.flatField->correctConvertedImage(grab.image, info);
    const bool correctedAsRgb = grab.keepPixels && grab.flatField && deepGrayBits(info.enPixelType) > 0
        && flatFieldStageOf(info.enPixelType) == FlatFieldStage::ConvertedImage
        && grab.flatField->lastFrameCorrected();
    grab.fed = !grab.feed || grab.image.isNull() ? QImage()
        : correctedAsRgb                         ? grab.image.convertToFormat(QImage::Format_Grayscale8)
                         : stitchFeedImage(grab.image, grab.pixels, info, grab.keepPixels);
}

/*
 * A frame the library could not convert gives its room back and leaves a
 * hole in the feed. A format it cannot convert at all is said once; the
 * statistics line goes on counting.
 */
void WorkThread::dropUnconvertedFrame(RunState &run, const Grab &grab)
{
    if (m_budget)
        m_budget->unreserveQueued(grab.reserved);
    if (!run.toldUnsupported && !libraryConvertsPixelFormat(run.info.enPixelType)) {
        run.toldUnsupported = true;
        emit pixelFormatUnsupported(run.info.enPixelType);
    }
    if (grab.feed)
        reportHole(run);
}

/*
 * The window takes from the budget what the image really holds: a frame the
 * library could not convert comes out gray and smaller. Without memory for
 * the gray copy the frame is lost to stitching.
 */
void WorkThread::feedStitching(RunState &run, const Grab &grab)
{
    const qint64 fedBytes = frameImageBytes(grab.fed.width(), grab.fed.height(), grab.fed.depth());
    if (m_budget && fedBytes < grab.reserved)
        m_budget->unreserveQueued(grab.reserved - fedBytes);
    if (grab.fed.isNull()) {
        if (m_budget)
            m_budget->countDropped();
        reportHole(run);
        return;
    }
    run.holeReported = false;
    emit changeDetected(grab.fed, grab.fed, grab.timestamp, grab.timestamp, run.info.nFrameNum);
}
