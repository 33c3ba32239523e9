#include "simdevice.h"

#include "simscene.h"

#include "convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace mvcc {
namespace {

constexpr float minExposure = 2.0f, maxExposure = 1000.0f;
constexpr float minGain = 0.0f, maxGain = 20.0f;
constexpr int64_t minLineRate = 10;
constexpr int64_t minPacketSize = 576, maxPacketSize = 9000, packetSizeStep = 4;

struct FeatureType {
    const char *name;
    char type; // i integer, f float, e enumeration, b boolean
};

constexpr FeatureType featureTypes[] = {
    {"Width", 'i'},
    {"Height", 'i'},
    {"PayloadSize", 'i'},
    {"PixelFormat", 'e'},
    {"ExposureTime", 'f'},
    {"ExposureMode", 'e'},
    {"ExposureAuto", 'e'},
    {"Gain", 'f'},
    {"AcquisitionLineRate", 'i'},
    {"AcquisitionLineRateEnable", 'b'},
    {"ResultingLineRate", 'i'},
    {"GevSCPSPacketSize", 'i'},
    {"TriggerSelector", 'e'},
    {"TriggerMode", 'e'},
    {"TriggerSource", 'e'},
    {"TriggerActivation", 'e'},
};

// Entry names of the enumerations; an entry's value is its place in the list.
const char *const triggerSelectors[] = {"LineStart", "FrameStart"};
const char *const triggerModes[] = {"Off", "On"};
const char *const triggerSources[] = {"Encoder0", "Line0", "Line1", "Line2"};
const char *const triggerActivations[] = {"RisingEdge", "FallingEdge"};
const char *const exposureModes[] = {"Timed", "TriggerWidth"};
const char *const exposureAutos[] = {"Off", "Once", "Continuous"};
constexpr unsigned int lineStart = 0, frameStart = 1;
constexpr unsigned int sourceLine0 = 1;

std::vector<const char *> triggerEntries(const std::string &feature)
{
    auto all
        = [](const auto &names) { return std::vector<const char *>(std::begin(names), std::end(names)); };
    if (feature == "TriggerSelector")
        return all(triggerSelectors);
    if (feature == "TriggerMode")
        return all(triggerModes);
    if (feature == "TriggerSource")
        return all(triggerSources);
    return all(triggerActivations);
}

bool isTriggerFeature(const std::string &feature)
{
    return feature == "TriggerSelector" || feature == "TriggerMode" || feature == "TriggerSource"
        || feature == "TriggerActivation";
}

// The GenICam name of an enumeration's value; a pixel format without a name
// here is shown by its code.
std::string entryName(const std::string &feature, unsigned int value)
{
    if (isTriggerFeature(feature)) {
        const std::vector<const char *> names = triggerEntries(feature);
        return value < names.size() ? names[value] : std::to_string(value);
    }
    if (feature == "ExposureMode" && value < std::size(exposureModes))
        return exposureModes[value];
    if (feature == "ExposureAuto" && value < std::size(exposureAutos))
        return exposureAutos[value];
    if (feature == "PixelFormat") {
        if (value == PixelType_Gvsp_Mono8)
            return "Mono8";
        if (value == PixelType_Gvsp_RGB8_Packed)
            return "RGB8";
        if (value == PixelType_Gvsp_BayerRG8)
            return "BayerRG8";
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", value);
        return code;
    }
    return std::to_string(value);
}

// Without a profile the belt runs steadily at the camera's line rate.
std::vector<ConveyorStep> conveyorOf(const SimCameraConfig &config)
{
    if (!config.conveyor.empty())
        return config.conveyor;
    ConveyorStep steady;
    steady.rate = config.lineRate != 0 ? config.lineRate : 10000;
    steady.seconds = 1;
    return {steady};
}

uint64_t lineBytesIn(unsigned int format, unsigned int width)
{
    return lineBytesOf(format, width);
}

void fillInt(MVCC_INTVALUE_EX &value, int64_t current, int64_t min, int64_t max, int64_t inc)
{
    std::memset(&value, 0, sizeof value);
    value.nCurValue = current;
    value.nMin = min;
    value.nMax = max;
    value.nInc = inc;
}

} // namespace

/*
 * A camera described by config. state is shared with the simulator's world so
 * that a vanished camera stays vanished for later handles until reset.
 */
SimDevice::SimDevice(const SimCameraConfig &config, std::shared_ptr<SimCameraState> state)
    : config_(config), sceneOffset_(sceneOffset(config.serial)), sensor_(config),
      framesPerObject_(config.objectLines == 0
                           ? 1
                           : (config.objectLines + config.linesPerFrame - 1) / config.linesPerFrame),
      state_(std::move(state)), conveyor_(conveyorOf(config))
{ }

/*
 * Powers the camera up: features take their configured values, line numbers,
 * frame numbers, the device clock and the counters start again from 0. Every
 * access mode takes full control. MV_E_NODEVICE when the camera has vanished.
 */
int SimDevice::open(unsigned int)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_->gone)
        return MV_E_NODEVICE;
    open_ = true;
    grabbing_ = false;
    exposureTime_ = config_.exposureTime;
    gain_ = config_.gain;
    lineRate_ = config_.lineRate != 0 ? config_.lineRate : config_.maxLineRate;
    lineRateEnable_ = config_.lineRate != 0;
    pixelFormat_ = config_.pixelFormat;
    exposureMode_ = 0;
    exposureAuto_ = 0;
    packetSize_ = 1500;
    // A camera configured with objects has its light barrier wired and the
    // frame trigger on; lines run free.
    triggerSelector_ = lineStart;
    triggerMode_[lineStart] = 0;
    triggerMode_[frameStart] = config_.objectLines != 0 ? 1 : 0;
    triggerSource_[lineStart] = 0;
    triggerSource_[frameStart] = sourceLine0;
    triggerActivation_[lineStart] = triggerActivation_[frameStart] = 0;
    openTime_ = Clock::now();
    nextLine_ = 0;
    frameNumberBase_ = 0;
    produced_ = 0;
    queue_.clear();
    stats_ = StreamStatistics();
    deliveredSinceOpen_ = 0;
    return MV_OK;
}

/* Powers the camera down; a waiting getFrame() returns at once. */
void SimDevice::close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    grabbing_ = false;
    queue_.clear();
    frameReady_.notify_all();
}

/*
 * Starts a stream: the lines continue from where the last stream stopped, an
 * object (in object mode) begins at once, and the frame counters restart.
 */
int SimDevice::startGrabbing()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_->gone)
        return MV_E_NODEVICE;
    if (!open_ || grabbing_)
        return MV_E_CALLORDER;
    queue_.clear();
    stats_ = StreamStatistics();
    grabbing_ = true;
    beginSegmentLocked(Clock::now());
    return MV_OK;
}

/*
 * Starts a new frame layout at now: from the next line on, the first frame
 * (and, with the frame trigger on, an object) begins; the pace follows the
 * clock or the encoder as the line trigger says.
 */
void SimDevice::beginSegmentLocked(Clock::time_point now)
{
    streamFirstLine_ = nextLine_;
    produced_ = 0;
    frameTriggered_ = triggerMode_[frameStart] == 1;
    objectLines_ = frameTriggered_ ? config_.objectLines : 0;
    encoderPaced_ = triggerMode_[lineStart] == 1;
    anchorTime_ = now;
    anchorSlot_ = 0;
    anchorPosition_ = conveyor_.positionAt(secondsSinceOpen(now));
    pace_ = config_.lineRate == 0 ? 0.0 : resultingLineRateLocked();
}

/*
 * A trigger changed while grabbing. Frames already read out stay queued; the
 * frame being read out is given up, as a real camera aborts it, and the
 * stream goes on with the next line in the new layout.
 */
void SimDevice::triggerChangedLocked()
{
    if (!grabbing_)
        return;
    const Clock::time_point now = Clock::now();
    advanceLocked(now);
    nextLine_ = streamFirstLine_ + linesBefore(produced_);
    frameNumberBase_ += produced_;
    beginSegmentLocked(now);
    frameReady_.notify_all();
}

double SimDevice::secondsSinceOpen(Clock::time_point when) const
{
    return std::chrono::duration<double>(when - openTime_).count();
}

/*
 * Ends the stream: frames not yet fetched are discarded (not counted as
 * lost), as is the frame being read out; a waiting getFrame() wakes at once.
 */
int SimDevice::stopGrabbing()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!grabbing_)
        return MV_E_CALLORDER;
    advanceLocked(Clock::now());
    nextLine_ = streamFirstLine_ + linesBefore(produced_);
    frameNumberBase_ += produced_;
    grabbing_ = false;
    queue_.clear();
    frameReady_.notify_all();
    return MV_OK;
}

/*
 * Waits up to timeoutMs for the oldest frame the camera holds and copies it
 * out. MV_E_BUFOVER leaves the frame queued for a later call with a larger
 * buffer; a stop during the wait gives MV_E_NODATA.
 */
int SimDevice::getFrame(unsigned char *buffer, unsigned int size, MV_FRAME_OUT_INFO_EX &info,
                        unsigned int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool waited = false;
    for (;;) {
        const int64_t limit = state_->vanishLimit;
        if (limit >= 0 && deliveredSinceOpen_ >= static_cast<uint64_t>(limit))
            state_->gone = true;
        if (state_->gone)
            return MV_E_NODEVICE;
        if (!grabbing_)
            return waited ? MV_E_NODATA : MV_E_CALLORDER;
        const Clock::time_point now = Clock::now();
        advanceLocked(now);
        if (queue_.empty() && !paced() && !starved()) {
            const auto sinceOpen = std::chrono::duration_cast<std::chrono::microseconds>(now - openTime_);
            queue_.push_back(queuedFrame(produced_++, static_cast<uint64_t>(sinceOpen.count())));
        }
        if (!queue_.empty()) {
            const QueuedFrame frame = queue_.front();
            const uint64_t bytes = lineBytesIn(pixelFormat_, config_.width) * frame.lines;
            if (size < bytes)
                return MV_E_BUFOVER;
            queue_.pop_front();
            deliverLocked(frame, buffer, info);
            return MV_OK;
        }
        if (now >= deadline)
            return MV_E_NODATA;
        const Clock::time_point next
            = paced() && !starved() ? timeOfSlot(static_cast<double>(completionSlot(produced_))) : deadline;
        frameReady_.wait_until(lock, std::min(next, deadline));
        waited = true;
    }
}

/* Renders frame into buffer (known to be large enough) and fills info. */
void SimDevice::deliverLocked(const QueuedFrame &frame, unsigned char *buffer, MV_FRAME_OUT_INFO_EX &info)
{
    const unsigned int lines = frame.lines;
    const std::size_t lineBytes = static_cast<std::size_t>(lineBytesIn(pixelFormat_, config_.width));
    // Noise goes into the byte-per-sample formats only; the stamp stays clean
    // so that saved pictures can still be checked.
    const bool noisy = config_.noise > 0
        && (pixelFormat_ == PixelType_Gvsp_Mono8 || pixelFormat_ == PixelType_Gvsp_BayerRG8
            || pixelFormat_ == PixelType_Gvsp_RGB8_Packed);
    const std::size_t stampBytes
        = std::size_t(std::min(config_.width, 4u)) * (pixelFormat_ == PixelType_Gvsp_RGB8_Packed ? 3 : 1);
    const int target = state_->target.load();
    for (unsigned int row = 0; row < lines; ++row) {
        unsigned char *line = buffer + row * lineBytes;
        renderSceneLine(sceneOffset_, frame.firstLine + row, config_.width, pixelFormat_, line);
        sensor_.apply(target, config_.width, pixelFormat_, line);
        if (noisy)
            addSceneNoise(config_.noise, serialHash(config_.serial), frame.firstLine + row, line + stampBytes,
                          line + lineBytes);
    }

    std::memset(&info, 0, sizeof info);
    info.nWidth = config_.width;
    info.nHeight = lines;
    info.enPixelType = pixelFormat_;
    info.nFrameNum = static_cast<unsigned int>(frame.number);
    info.nDevTimeStampHigh = static_cast<unsigned int>(frame.timestampUs >> 32);
    info.nDevTimeStampLow = static_cast<unsigned int>(frame.timestampUs);
    info.nFrameLen = static_cast<unsigned int>(lines * lineBytes);
    info.nHostTimeStamp = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    stats_.receivedFrames += 1;
    stats_.receivedBytes += static_cast<int64_t>(info.nFrameLen);
    ++deliveredSinceOpen_;
}

// ---- Timing -----------------------------------------------------------

/* Frame `frame` of the current layout as the camera queues it. */
SimDevice::QueuedFrame SimDevice::queuedFrame(uint64_t frame, uint64_t timestampUs) const
{
    return {frameNumberBase_ + frame, streamFirstLine_ + linesBefore(frame), linesOf(frame), timestampUs};
}

/*
 * Time is counted in line slots: one per line period, gap lines included, or,
 * with the line trigger on, one per encoder pulse of the conveyor. Frame j of
 * a stream is read out when the slot of its last line has passed; the pace is
 * anchored to an absolute time, so the stream does not drift.
 */
double SimDevice::slotsAt(Clock::time_point when) const
{
    // A microsecond's grace keeps rounding from waking the waiter just early.
    if (encoderPaced_)
        return anchorSlot_ + conveyor_.positionAt(secondsSinceOpen(when) + 1e-6) - anchorPosition_;
    const std::chrono::duration<double> elapsed = when - anchorTime_;
    return anchorSlot_ + elapsed.count() * pace_ + 1e-6 * pace_;
}

/*
 * When the line slot passes; only meaningful while paced. A belt that never
 * gets there gives the far future.
 */
SimDevice::Clock::time_point SimDevice::timeOfSlot(double slot) const
{
    double seconds = 0;
    if (encoderPaced_)
        seconds
            = conveyor_.timeOfPosition(anchorPosition_ + slot - anchorSlot_) - secondsSinceOpen(anchorTime_);
    else
        seconds = (slot - anchorSlot_) / pace_;
    if (!(seconds < 1e9))
        return Clock::time_point::max();
    const std::chrono::duration<double> offset(seconds);
    return anchorTime_ + std::chrono::duration_cast<Clock::duration>(offset) + std::chrono::microseconds(1);
}

/* Lines of the stream's frames before frame (gap periods hold no lines). */
uint64_t SimDevice::linesBefore(uint64_t frame) const
{
    if (objectLines_ == 0)
        return frame * config_.linesPerFrame;
    return (frame / framesPerObject_) * objectLines_ + (frame % framesPerObject_) * config_.linesPerFrame;
}

/* Lines of one frame: full, or what remains of its object. */
unsigned int SimDevice::linesOf(uint64_t frame) const
{
    if (objectLines_ == 0)
        return config_.linesPerFrame;
    const uint64_t done = (frame % framesPerObject_) * config_.linesPerFrame;
    return static_cast<unsigned int>(std::min<uint64_t>(config_.linesPerFrame, objectLines_ - done));
}

/* The slot after the last line of frame: when it can be read out. */
uint64_t SimDevice::completionSlot(uint64_t frame) const
{
    if (objectLines_ == 0)
        return (frame + 1) * config_.linesPerFrame;
    const uint64_t cycle = uint64_t(objectLines_) + config_.gapLines;
    const uint64_t k = frame % framesPerObject_;
    return (frame / framesPerObject_) * cycle
        + std::min<uint64_t>((k + 1) * config_.linesPerFrame, objectLines_);
}

/* How many frames of the stream are read out once slots have passed. */
uint64_t SimDevice::framesCompletedBy(double slots) const
{
    if (slots < 0)
        return 0;
    const uint64_t whole = static_cast<uint64_t>(slots);
    if (objectLines_ == 0)
        return whole / config_.linesPerFrame;
    const uint64_t cycle = uint64_t(objectLines_) + config_.gapLines;
    const uint64_t rest = whole % cycle;
    const uint64_t inObject = rest >= objectLines_ ? framesPerObject_ : rest / config_.linesPerFrame;
    return (whole / cycle) * framesPerObject_ + inObject;
}

/*
 * Reads out every frame whose last line has passed by now. The camera holds
 * at most bufferCount frames for the host; a frame read out while they are
 * all taken is dropped and counted as lost.
 */
void SimDevice::advanceLocked(Clock::time_point now)
{
    if (!grabbing_ || !paced() || starved())
        return;
    const uint64_t total = framesCompletedBy(slotsAt(now));
    if (total <= produced_)
        return;
    const uint64_t fresh = total - produced_;
    const uint64_t space = config_.bufferCount > queue_.size() ? config_.bufferCount - queue_.size() : 0;
    const uint64_t kept = std::min(fresh, space);
    for (uint64_t i = 0; i < kept; ++i) {
        const uint64_t frame = produced_ + i;
        const double seconds = secondsSinceOpen(timeOfSlot(static_cast<double>(completionSlot(frame))));
        queue_.push_back(
            queuedFrame(frame, static_cast<uint64_t>(std::llround(std::max(0.0, seconds) * 1e6))));
    }
    stats_.lostFrames += fresh - kept;
    produced_ = total;
}

/*
 * The line rate now in force: with the line trigger on, the encoder's rate as
 * the belt runs now; otherwise the requested or the maximum rate, within what
 * the exposure allows.
 */
double SimDevice::resultingLineRateLocked() const
{
    if (triggerMode_[lineStart] == 1)
        return conveyor_.speedAt(secondsSinceOpen(Clock::now()));
    const double requested
        = lineRateEnable_ ? static_cast<double>(lineRate_) : static_cast<double>(config_.maxLineRate);
    return std::min(requested, 1e6 / exposureTime_);
}

/* Re-anchors a running stream at the new rate after a timing feature changed. */
void SimDevice::changePacingLocked()
{
    if (!grabbing_ || config_.lineRate == 0 || encoderPaced_)
        return;
    const Clock::time_point now = Clock::now();
    advanceLocked(now);
    anchorSlot_ = slotsAt(now) - 1e-6 * pace_;
    anchorTime_ = now;
    pace_ = resultingLineRateLocked();
    frameReady_.notify_all();
}

// ---- Features ----------------------------------------------------------

/* MV_OK when name is a feature of this camera of the given type. */
int SimDevice::featureCheckLocked(const std::string &name, char type) const
{
    if (state_->gone)
        return MV_E_NODEVICE;
    if (config_.missingFeatures.count(name) != 0)
        return MV_E_NOTFOUND;
    if (name == "GevSCPSPacketSize" && config_.transport != MV_GIGE_DEVICE)
        return MV_E_NOTFOUND;
    for (const FeatureType &feature : featureTypes)
        if (name == feature.name)
            return feature.type == type ? MV_OK : MV_E_TYPE;
    return MV_E_NOTFOUND;
}

/* Integer features; ranges as documented in docs/simulator.md. */
int SimDevice::getInt(const std::string &name, MVCC_INTVALUE_EX &value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const int status = featureCheckLocked(name, 'i'))
        return status;
    const int64_t width = config_.width, height = config_.linesPerFrame;
    if (name == "Width")
        fillInt(value, width, width, width, 1);
    else if (name == "Height")
        fillInt(value, height, height, height, 1);
    else if (name == "PayloadSize") {
        const int64_t payload = static_cast<int64_t>(lineBytesIn(pixelFormat_, config_.width)) * height;
        fillInt(value, payload, payload, payload, 1);
    } else if (name == "AcquisitionLineRate")
        fillInt(value, lineRate_, minLineRate, config_.maxLineRate, 1);
    else if (name == "ResultingLineRate") {
        const int64_t rate = static_cast<int64_t>(resultingLineRateLocked());
        fillInt(value, rate, 0, config_.maxLineRate, 1);
    } else
        fillInt(value, packetSize_, minPacketSize, maxPacketSize, packetSizeStep);
    return MV_OK;
}

/*
 * Width, Height, PayloadSize and ResultingLineRate are read-only
 * (MV_E_ACCESS_RW); the packet size cannot change while grabbing.
 */
int SimDevice::setInt(const std::string &name, int64_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const int status = featureCheckLocked(name, 'i'))
        return status;
    if (name == "AcquisitionLineRate") {
        if (value < minLineRate || value > config_.maxLineRate)
            return MV_E_RANGE;
        lineRate_ = value;
        changePacingLocked();
        return MV_OK;
    }
    if (name == "GevSCPSPacketSize") {
        if (grabbing_)
            return MV_E_ACCESS_RW;
        if (value < minPacketSize || value > maxPacketSize || (value - minPacketSize) % packetSizeStep != 0)
            return MV_E_RANGE;
        packetSize_ = value;
        return MV_OK;
    }
    return MV_E_ACCESS_RW;
}

/* ExposureTime (2..1000 us) and Gain (0..20) with their ranges. */
int SimDevice::getFloat(const std::string &name, MVCC_FLOATVALUE &value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const int status = featureCheckLocked(name, 'f'))
        return status;
    std::memset(&value, 0, sizeof value);
    const bool exposure = name == "ExposureTime";
    value.fCurValue = exposure ? exposureTime_ : gain_;
    value.fMin = exposure ? minExposure : minGain;
    value.fMax = exposure ? maxExposure : maxGain;
    return MV_OK;
}

/* A shorter exposure lets the camera run faster; the pace follows at once. */
int SimDevice::setFloat(const std::string &name, float value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const int status = featureCheckLocked(name, 'f'))
        return status;
    if (name == "ExposureTime") {
        if (!(value >= minExposure && value <= maxExposure))
            return MV_E_RANGE;
        exposureTime_ = value;
        changePacingLocked();
        return MV_OK;
    }
    if (!(value >= minGain && value <= maxGain))
        return MV_E_RANGE;
    gain_ = value;
    return MV_OK;
}

/* Where a trigger feature keeps its value: the mode, source and edge by the selector. */
unsigned int *SimDevice::triggerValueLocked(const std::string &name)
{
    if (name == "TriggerSelector")
        return &triggerSelector_;
    if (name == "TriggerMode")
        return &triggerMode_[triggerSelector_];
    if (name == "TriggerSource")
        return &triggerSource_[triggerSelector_];
    return &triggerActivation_[triggerSelector_];
}

/*
 * PixelFormat lists Mono8, RGB8 and (when every frame starts on a red line)
 * BayerRG8; ExposureMode 0 timed, 1 trigger width; ExposureAuto 0 off, 1 once,
 * 2 continuous.
 */
int SimDevice::getEnum(const std::string &name, MVCC_ENUMVALUE &value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const int status = featureCheckLocked(name, 'e'))
        return status;
    std::memset(&value, 0, sizeof value);
    if (isTriggerFeature(name)) {
        value.nCurValue = *triggerValueLocked(name);
        for (unsigned int i = 0; i < triggerEntries(name).size(); ++i)
            value.nSupportValue[value.nSupportedNum++] = i;
    } else if (name == "PixelFormat") {
        value.nCurValue = pixelFormat_;
        value.nSupportValue[value.nSupportedNum++] = PixelType_Gvsp_Mono8;
        value.nSupportValue[value.nSupportedNum++] = PixelType_Gvsp_RGB8_Packed;
        if (config_.linesPerFrame % 2 == 0 && config_.objectLines % 2 == 0)
            value.nSupportValue[value.nSupportedNum++] = PixelType_Gvsp_BayerRG8;
        // The configured format is offered too, so that it can be chosen again.
        if (std::find(value.nSupportValue, value.nSupportValue + value.nSupportedNum, config_.pixelFormat)
            == value.nSupportValue + value.nSupportedNum)
            value.nSupportValue[value.nSupportedNum++] = config_.pixelFormat;
    } else {
        value.nCurValue = name == "ExposureMode" ? exposureMode_ : exposureAuto_;
        const unsigned int count = name == "ExposureMode" ? 2 : 3;
        for (unsigned int i = 0; i < count; ++i)
            value.nSupportValue[value.nSupportedNum++] = i;
    }
    return MV_OK;
}

/* A value outside the supported list: MV_E_RANGE; PixelFormat is fixed while grabbing. */
int SimDevice::setEnum(const std::string &name, unsigned int value)
{
    MVCC_ENUMVALUE current;
    if (const int status = getEnum(name, current))
        return status;
    const unsigned int *begin = current.nSupportValue;
    const unsigned int *end = begin + current.nSupportedNum;
    if (std::find(begin, end, value) == end)
        return MV_E_RANGE;
    std::lock_guard<std::mutex> lock(mutex_);
    if (isTriggerFeature(name)) {
        unsigned int *stored = triggerValueLocked(name);
        const bool changed = *stored != value;
        *stored = value;
        if (changed && name == "TriggerMode")
            triggerChangedLocked();
    } else if (name == "PixelFormat") {
        if (grabbing_)
            return MV_E_ACCESS_RW;
        pixelFormat_ = value;
    } else if (name == "ExposureMode") {
        exposureMode_ = value;
    } else {
        exposureAuto_ = value;
    }
    return MV_OK;
}

/* The current entry's name and every entry's name, in the camera's order. */
int SimDevice::getEnumEntries(const std::string &name, std::string &current,
                              std::vector<std::string> &entries)
{
    MVCC_ENUMVALUE values;
    if (const int status = getEnum(name, values))
        return status;
    entries.clear();
    for (unsigned int i = 0; i < values.nSupportedNum; ++i)
        entries.push_back(entryName(name, values.nSupportValue[i]));
    current = entryName(name, values.nCurValue);
    return MV_OK;
}

/* An entry by name; a name the feature does not list: MV_E_RANGE. */
int SimDevice::setEnumByName(const std::string &name, const std::string &entry)
{
    MVCC_ENUMVALUE values;
    if (const int status = getEnum(name, values))
        return status;
    for (unsigned int i = 0; i < values.nSupportedNum; ++i)
        if (entryName(name, values.nSupportValue[i]) == entry)
            return setEnum(name, values.nSupportValue[i]);
    return MV_E_RANGE;
}

/* AcquisitionLineRateEnable, the camera's only boolean. */
int SimDevice::getBool(const std::string &name, bool &value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const int status = featureCheckLocked(name, 'b'))
        return status;
    value = lineRateEnable_;
    return MV_OK;
}

/* Switching line rate control re-paces a running stream at once. */
int SimDevice::setBool(const std::string &name, bool value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const int status = featureCheckLocked(name, 'b'))
        return status;
    lineRateEnable_ = value;
    changePacingLocked();
    return MV_OK;
}

/* The configured packet size for GigE cameras; USB3 cameras have none. */
int SimDevice::optimalPacketSize()
{
    if (state_->gone)
        return static_cast<int>(MV_E_NODEVICE);
    if (config_.transport != MV_GIGE_DEVICE)
        return static_cast<int>(MV_E_SUPPORT);
    return static_cast<int>(config_.packetSize);
}

/* Counters of the current stream, brought up to date with the clock. */
int SimDevice::statistics(StreamStatistics &stats)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_->gone)
        return MV_E_NODEVICE;
    advanceLocked(Clock::now());
    stats = stats_;
    return MV_OK;
}

} // namespace mvcc
