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
    void *handle = m_camera.handle();
    if (!handle)
        return;
    const quint64 payloadSize = readPayloadSize(handle);
    if (payloadSize == 0)
        return;
    m_isGigE = m_camera.isGigE();
    ByteBuffer payload;
    if (!payload.reserve(payloadSize))
        return;

    MV_FRAME_OUT_INFO_EX info;
    std::memset(&info, 0, sizeof info);
    qint64 previousTimestamp = 0;
    bool firstFrame = true;
    int frameCounter = 0;
    m_lostFrames = 0;
    m_receivedFrames = 0;
    bool toldUnsupported = false;
    FrameBudget *budget = m_budget;
    bool haveFrameNumber = false;
    unsigned int previousFrameNumber = 0;
    bool holeReported = false;

    while (m_running.load() && m_camera.hasHandle()) {
        handle = m_camera.handle();
        QElapsedTimer timer;
        timer.start();
        // Statuses are the library's 32-bit codes; its failure codes have the top bit set.
        const unsigned int status = unsigned(MV_CC_GetOneFrameTimeout(
            handle, payload.data(), unsigned(payload.capacity()), &info, grabTimeoutMs));
        const double grabTimeMs = double(timer.nsecsElapsed()) / 1000000.0;
        if (status == MV_E_NODEVICE) {
            // The camera was unplugged or stopped answering; every later call
            // would fail the same way, so the run ends and the window is told.
            setRunning(false);
            emit cameraLost();
            break;
        }
        if (status == MV_E_BUFOVER) {
            // A frame larger than the payload size announced at start: make
            // room so the following frames fit (the refused one is lost).
            MVCC_INTVALUE_EX current;
            std::memset(&current, 0, sizeof current);
            const qint64 nowPayload
                = MV_CC_GetIntValueEx(handle, "PayloadSize", &current) == MV_OK ? current.nCurValue : 0;
            const quint64 grown = grownPayloadSize(payload.capacity(), nowPayload, info.nFrameLen);
            if (grown > payload.capacity() && !payload.reserve(grown))
                payload.reserve(payloadSize);
        }
        if (status != MV_OK) {
            if (status == MV_E_NODATA)
                usleep(1000);
            else
                msleep(10);
            continue;
        }
        if (!m_running.load())
            break;

        // Held for the whole frame: a snapshot copying the latest frame holds
        // up the loop, and the camera, not this thread, then sheds frames.
        QMutexLocker frameLock(&m_camera.frameMutex());
        // nFrameLen beyond the buffer would mean a broken library; such a frame
        // cannot be trusted and is not read.
        if (info.nWidth == 0 || info.nHeight == 0 || info.nFrameLen > payload.capacity())
            continue;

        const unsigned int frameLen = info.nFrameLen;

        const qint64 timestamp = frameTimestamp(info.nDevTimeStampHigh, info.nDevTimeStampLow);
        const qint64 interval = firstFrame ? 0 : timestamp - previousTimestamp;
        previousTimestamp = timestamp;
        ++frameCounter;
        firstFrame = false;

        readStreamCounters(handle, m_isGigE, m_lostFrames, m_receivedFrames);
        if (AcquisitionHealth *health = m_health)
            health->frameArrived(int(info.nHeight), frameLen, steadyClockNs(), m_receivedFrames,
                                 m_lostFrames);
        // A frame for stitching needs room in the budget before it costs a
        // conversion; without room it is dropped below, and counted. Asked
        // before the frame is reported, so that the statistics line of the
        // frame counts its own drop.
        const bool feed = m_reportChanges.load();
        const bool keepPixels = m_keepCameraPixels.load();
        const qint64 reserved = feed && budget
            ? frameImageBytes(int(info.nWidth), int(info.nHeight),
                              stitchFeedDepth(info.enPixelType, keepPixels))
            : 0;
        const bool refused = feed && budget && !budget->reserveQueued(reserved);
        emit frameInfoUpdated(uint(m_receivedFrames), int(info.nWidth), int(info.nHeight), timestamp,
                              interval, m_lostFrames, frameCounter, grabTimeMs);

        m_camera.keepLatestFrame(payload.data(), info);

        // Frame numbers run on by one; a jump means frames lost on the way.
        const bool numberJumped = haveFrameNumber && !frameNumberFollows(previousFrameNumber, info.nFrameNum);
        haveFrameNumber = true;
        previousFrameNumber = info.nFrameNum;
        const auto reportHole = [&] {
            if (!holeReported)
                emit sequenceBroken();
            holeReported = true;
        };
        if (numberJumped)
            reportHole();

        if (refused) {
            reportHole();
            // The live view goes on showing the camera while a run of frames
            // is shed, at the rate it paints, without converting every
            // dropped frame.
            if (!m_liveFrameWanted || m_liveFrameWanted->load()) {
                const QImage image = frameImage(handle, payload.data(), info, m_convertBuffer);
                if (!image.isNull())
                    emit frameGrabbed(image);
            }
            continue;
        }

        // The snapshot keeps the raw frame; the views and stitching get it
        // flat-field corrected, before or after conversion by its format.
        FlatFieldCorrector *flatField = m_flatField;
        unsigned char *frame = flatField ? flatField->correctRawFrame(payload.data(), info, m_correctedBuffer)
                                         : payload.data();
        QImage image = frameImage(handle, frame, info, m_convertBuffer);
        if (flatField && !image.isNull())
            flatField->correctConvertedImage(image, info);
        // A packed deep frame is corrected only once the library has made RGB
        // of it: kept whole it would reach the files uncorrected, so a
        // corrected one travels as the gray of that picture instead.
        const bool correctedAsRgb = keepPixels && flatField && deepGrayBits(info.enPixelType) > 0
            && flatFieldStageOf(info.enPixelType) == FlatFieldStage::ConvertedImage
            && flatField->lastFrameCorrected();
        const QImage fed = !feed || image.isNull() ? QImage()
            : correctedAsRgb                       ? image.convertToFormat(QImage::Format_Grayscale8)
                                                   : stitchFeedImage(image, frame, info, keepPixels);
        if (image.isNull()) {
            if (budget)
                budget->unreserveQueued(reserved);
            // Said once; the statistics line above goes on counting.
            if (!toldUnsupported && !libraryConvertsPixelFormat(info.enPixelType)) {
                toldUnsupported = true;
                emit pixelFormatUnsupported(info.enPixelType);
            }
            if (feed)
                reportHole();
            continue;
        }
        emit frameGrabbed(image);
        if (!feed)
            continue;
        // The window takes from the budget what the image really holds: a
        // frame the library could not convert comes out gray and smaller.
        const qint64 fedBytes = frameImageBytes(fed.width(), fed.height(), fed.depth());
        if (budget && fedBytes < reserved)
            budget->unreserveQueued(reserved - fedBytes);
        if (fed.isNull()) {
            // No memory for the gray copy: the frame is lost to stitching.
            if (budget)
                budget->countDropped();
            reportHole();
            continue;
        }
        holeReported = false;
        emit changeDetected(fed, fed, timestamp, timestamp, info.nFrameNum);
    }
    m_convertBuffer.release();
    m_correctedBuffer.release();
}
