#include "genicamdevice.h"

#include "convert.h"
#include "genicamrules.h"

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <utility>

namespace mvcc {

namespace {

using Clock = std::chrono::steady_clock;

// A waiting fetch looks at the stop and lost flags this often: Aravis's pop
// cannot be interrupted, so a stop is noticed within one slice.
constexpr std::chrono::milliseconds fetchSlice(50);

// Owns the GError an Aravis call may set.
class ErrorSlot
{
public:
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot &) = delete;
    ErrorSlot &operator=(const ErrorSlot &) = delete;
    ~ErrorSlot() { clear(); }

    GError **out()
    {
        clear();
        return &error_;
    }
    const GError *get() const { return error_; }
    explicit operator bool() const { return error_ != nullptr; }

private:
    void clear()
    {
        if (error_)
            g_error_free(error_);
        error_ = nullptr;
    }
    GError *error_ = nullptr;
};

/*
 * The library status for an Aravis error. A camera that stopped answering is
 * only called gone once Aravis has given up on it (control lost); a single
 * timeout is not enough, because the C layer never uses a gone handle again.
 */
int statusOf(const GError *error, bool lost)
{
    if (!error)
        return MV_OK;
    if (lost)
        return MV_E_NODEVICE;
    if (error->domain == ARV_GC_ERROR) {
        switch (error->code) {
        case ARV_GC_ERROR_OUT_OF_RANGE:
        case ARV_GC_ERROR_ENUM_ENTRY_NOT_FOUND:
            return MV_E_RANGE;
        case ARV_GC_ERROR_READ_ONLY:
            return MV_E_ACCESS_RW;
        case ARV_GC_ERROR_NODE_NOT_FOUND:
            return MV_E_NOTFOUND;
        default:
            return MV_E_UNKNOWN;
        }
    }
    if (error->domain == ARV_DEVICE_ERROR) {
        switch (error->code) {
        case ARV_DEVICE_ERROR_FEATURE_NOT_FOUND:
            return MV_E_NOTFOUND;
        case ARV_DEVICE_ERROR_WRONG_FEATURE:
            return MV_E_TYPE;
        case ARV_DEVICE_ERROR_NOT_CONTROLLER:
        case ARV_DEVICE_ERROR_PROTOCOL_ERROR_ACCESS_DENIED:
        case ARV_DEVICE_ERROR_PROTOCOL_ERROR_WRITE_PROTECT:
            return MV_E_ACCESS_RW;
        case ARV_DEVICE_ERROR_NOT_FOUND:
        case ARV_DEVICE_ERROR_NOT_CONNECTED:
            return MV_E_NODEVICE;
        default:
            return MV_E_UNKNOWN;
        }
    }
    return MV_E_UNKNOWN;
}

// Emitted by Aravis's heartbeat thread (GigE) when the camera no longer
// answers: cable pulled, camera powered off, heartbeat expired.
void onControlLost(ArvDevice *, gpointer flag)
{
    static_cast<std::shared_ptr<std::atomic<bool>> *>(flag)->get()->store(true);
}

void releaseFlag(gpointer flag, GClosure *)
{
    delete static_cast<std::shared_ptr<std::atomic<bool>> *>(flag);
}

/* MV_OK when the node may be read (or written) now, else MV_E_ACCESS_RW. */
int accessStatus(ArvGcNode *node, bool writing)
{
    ArvGcFeatureNode *feature = ARV_GC_FEATURE_NODE(node);
    ErrorSlot error;
    if (!arv_gc_feature_node_is_available(feature, error.out()) || error)
        return MV_E_ACCESS_RW;
    const ArvGcAccessMode mode = arv_gc_feature_node_get_actual_access_mode(feature);
    if (writing) {
        if (mode == ARV_GC_ACCESS_MODE_RO)
            return MV_E_ACCESS_RW;
        if (arv_gc_feature_node_is_locked(feature, error.out()) || error)
            return MV_E_ACCESS_RW;
    } else if (mode == ARV_GC_ACCESS_MODE_WO) {
        return MV_E_ACCESS_RW;
    }
    return MV_OK;
}

bool isNumber(ArvGcNode *node)
{
    // Enumerations and booleans also answer to the integer interface in
    // Aravis; the library keeps them apart as the vendor's types do.
    return !ARV_IS_GC_ENUMERATION(node) && !ARV_IS_GC_BOOLEAN(node)
        && (ARV_IS_GC_INTEGER(node) || ARV_IS_GC_FLOAT(node));
}

bool isEnumeration(ArvGcNode *node)
{
    return ARV_IS_GC_ENUMERATION(node);
}

bool isBoolean(ArvGcNode *node)
{
    return ARV_IS_GC_BOOLEAN(node);
}

// The buffers of the stream ring come from malloc so that a payload too
// large for memory is a status, not an abort inside GLib.
ArvBuffer *newRingBuffer(std::size_t bytes)
{
    void *memory = std::malloc(bytes);
    if (!memory)
        return nullptr;
    return arv_buffer_new_full(bytes, memory, memory, std::free);
}

// The value of the first implemented number node among names, or NaN.
double firstNumber(ArvDevice *device, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        ArvGcNode *node = arv_device_get_feature(device, name);
        if (!node || !isNumber(node))
            continue;
        ErrorSlot error;
        if (!arv_gc_feature_node_is_implemented(ARV_GC_FEATURE_NODE(node), error.out()) || error)
            continue;
        const double value = ARV_IS_GC_INTEGER(node)
            ? static_cast<double>(arv_gc_integer_get_value(ARV_GC_INTEGER(node), error.out()))
            : arv_gc_float_get_value(ARV_GC_FLOAT(node), error.out());
        if (!error)
            return value;
    }
    return std::nan("");
}

// How long one full frame takes: its lines at the resulting line rate for a
// line-scan camera, one period of the frame rate for an area camera; 0 when
// the camera tells neither.
double frameSeconds(ArvCamera *camera)
{
    ArvDevice *device = arv_camera_get_device(camera);
    const double lines = firstNumber(device, {"Height"});
    const double lineRate = firstNumber(
        device,
        {"ResultingLineRate", "ResultingLineRateAbs", "AcquisitionLineRate", "AcquisitionLineRateAbs"});
    if (lines > 0 && lineRate > 0)
        return lines / lineRate;
    const double frameRate = firstNumber(
        device,
        {"ResultingFrameRate", "ResultingFrameRateAbs", "AcquisitionFrameRate", "AcquisitionFrameRateAbs"});
    return frameRate > 0 ? 1.0 / frameRate : 0.0;
}

} // namespace

namespace {

// Releasing a lost GigE camera makes Aravis send its farewell commands into
// the void: stream and device each wait out their retries (about 2.5 s). That
// happens in a thread of its own, so Close returns at once; an open waits for
// it, so that the old connection never meets a camera that came back.
std::mutex &releaseMutex()
{
    // Held while a lost camera is released. Never destroyed, so that a
    // release still running when the process exits finds it alive.
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

void releaseInBackground(ArvCamera *camera, std::shared_ptr<void> acquisition)
{
    std::thread([camera, acquisition = std::move(acquisition)]() mutable {
        std::lock_guard<std::mutex> lock(releaseMutex());
        acquisition.reset();
        if (camera)
            g_object_unref(camera);
    }).detach();
}

} // namespace

/* The one mutex around Aravis's device list (not thread-safe). Any thread. */
std::mutex &genicamSystemMutex()
{
    static std::mutex mutex; // protects Aravis's interface and device lists
    return mutex;
}

// One run of acquisition, from startGrabbing to stopGrabbing. A fetch holds
// its own reference, so a stop never frees the stream under a waiting fetch.
struct GenicamDevice::Acquisition {
    explicit Acquisition(ArvStream *s) : stream(s) { }
    Acquisition(const Acquisition &) = delete;
    Acquisition &operator=(const Acquisition &) = delete;
    ~Acquisition()
    {
        if (pending)
            g_object_unref(pending);
        g_object_unref(stream);
    }

    ArvStream *const stream;
    std::atomic<bool> stopped{false};

    // Touched only by fetches, which the C layer serialises.
    ArvBuffer *pending = nullptr; // a frame refused for a too small buffer, offered again
    bool haveFrameId = false;
    uint64_t lastFrameId = 0;

    // Written by the fetch, read by statistics() in the control thread.
    std::atomic<uint64_t> delivered{0};
    std::atomic<uint64_t> lost{0};
    std::atomic<int64_t> deliveredBytes{0};
};

/* A device for target; nothing is contacted until open(). */
GenicamDevice::GenicamDevice(GenicamTarget target)
    : target_(std::move(target)), controlLost_(std::make_shared<std::atomic<bool>>(false))
{ }

GenicamDevice::~GenicamDevice()
{
    close();
}

/*
 * Connects to the camera and takes exclusive control (every access mode
 * does). Returns MV_OK, MV_E_CALLORDER (already open), MV_E_NODEVICE (not
 * found, or another camera now answers at that address) or MV_E_ACCESS
 * (another program, or another handle in any process, controls it).
 * Control thread.
 */
int GenicamDevice::open(unsigned int)
{
    if (camera_)
        return MV_E_CALLORDER;
    ErrorSlot error;
    ArvCamera *camera = nullptr;
    {
        std::lock_guard<std::mutex> released(releaseMutex());
        std::lock_guard<std::mutex> lock(genicamSystemMutex());
        camera = arv_camera_new(target_.openName.c_str(), error.out());
    }
    if (!camera) {
        const int status = statusOf(error.get(), false);
        return status == static_cast<int>(MV_E_ACCESS_RW) ? MV_E_ACCESS : MV_E_NODEVICE;
    }
    // Aravis opens a GigE camera held by someone else read-only instead of
    // failing; this library promises exclusive control.
    if (arv_camera_is_gv_device(camera)
        && !arv_gv_device_is_controller(ARV_GV_DEVICE(arv_camera_get_device(camera)))) {
        g_object_unref(camera);
        return MV_E_ACCESS;
    }
    if (!target_.serial.empty()) {
        // The record's serial field may hold only the start of a long serial.
        // A camera that cannot tell its serial through GenICam (older ones
        // lack the node) is taken on the search's word.
        const char *serial = arv_camera_get_device_serial_number(camera, error.out());
        if (serial && std::string(serial).compare(0, target_.serial.size(), target_.serial) != 0) {
            g_object_unref(camera);
            return MV_E_NODEVICE;
        }
    }
    arv_camera_set_access_check_policy(camera, ARV_ACCESS_CHECK_POLICY_ENABLE);
    controlLost_->store(false);
    g_signal_connect_data(arv_camera_get_device(camera), "control-lost", G_CALLBACK(onControlLost),
                          new std::shared_ptr<std::atomic<bool>>(controlLost_), releaseFlag,
                          GConnectFlags(0));
    camera_ = camera;
    return MV_OK;
}

/*
 * Stops acquisition and releases the camera and every buffer, also after the
 * camera was lost (then in the background; the next open waits for it).
 * Only called when no fetch runs. Control thread.
 */
void GenicamDevice::close()
{
    // A camera that stopped answering keeps this close busy for seconds; an
    // open of the same camera, come back meanwhile, waits for it.
    std::lock_guard<std::mutex> released(releaseMutex());
    std::shared_ptr<Acquisition> run;
    {
        std::lock_guard<std::mutex> lock(runMutex_);
        run = run_;
    }
    if (run)
        stopGrabbing();
    if (!camera_)
        return;
    if (isLost()) {
        releaseInBackground(std::exchange(camera_, nullptr), std::move(run));
        return;
    }
    run.reset();
    g_object_unref(camera_);
    camera_ = nullptr;
}

/*
 * Starts a run: a stream with a ring of buffers sized from "PayloadSize",
 * continuous acquisition, counters from 0. Returns MV_OK, MV_E_CALLORDER (not
 * open, or already grabbing), MV_E_NODEVICE, MV_E_RESOURCE (no memory for the
 * ring) or the camera's refusal. Control thread.
 */
int GenicamDevice::startGrabbing()
{
    if (!camera_)
        return MV_E_CALLORDER;
    if (isLost())
        return MV_E_NODEVICE;
    {
        std::lock_guard<std::mutex> lock(runMutex_);
        if (run_)
            return MV_E_CALLORDER;
    }
    ErrorSlot error;
    const guint payload = arv_camera_get_payload(camera_, error.out());
    if (error || payload == 0)
        return error ? statusOf(error.get(), isLost()) : MV_E_UNKNOWN;
    ArvStream *stream = arv_camera_create_stream(camera_, nullptr, nullptr, error.out());
    if (!stream)
        return error ? statusOf(error.get(), isLost()) : MV_E_RESOURCE;
    if (ARV_IS_GV_STREAM(stream))
        g_object_set(stream, "frame-retention",
                     static_cast<guint>(genicam::frameRetentionUs(frameSeconds(camera_))), nullptr);
    auto run = std::make_shared<Acquisition>(stream);
    const unsigned int count = genicam::ringBufferCount(payload);
    for (unsigned int i = 0; i < count; ++i) {
        ArvBuffer *buffer = newRingBuffer(payload);
        if (!buffer)
            return MV_E_RESOURCE;
        arv_stream_push_buffer(stream, buffer);
    }
    // Continuous mode is the standard default; a camera without the feature
    // streams continuously anyway, so a refusal here is not fatal.
    arv_camera_set_acquisition_mode(camera_, ARV_ACQUISITION_MODE_CONTINUOUS, error.out());
    arv_camera_start_acquisition(camera_, error.out());
    if (error)
        return statusOf(error.get(), isLost());
    std::lock_guard<std::mutex> lock(runMutex_);
    run_ = std::move(run);
    lastCounters_ = StreamStatistics();
    return MV_OK;
}

/*
 * Ends the run: a waiting fetch returns MV_E_NODATA within one slice, frames
 * not fetched are dropped, the counters keep their last values. Returns
 * MV_OK or MV_E_CALLORDER (not grabbing). Control thread.
 */
int GenicamDevice::stopGrabbing()
{
    std::shared_ptr<Acquisition> run;
    {
        std::lock_guard<std::mutex> lock(runMutex_);
        if (!run_)
            return MV_E_CALLORDER;
        run = std::move(run_);
        run->stopped = true;
        lastCounters_ = countersOf(*run);
    }
    // A lost camera would make every command wait out its retries.
    if (isLost()) {
        releaseInBackground(nullptr, std::move(run));
        return MV_OK;
    }
    if (camera_) {
        ErrorSlot error;
        arv_camera_stop_acquisition(camera_, error.out());
    }
    return MV_OK;
}

/* Makes a waiting fetch return within one slice; the camera is not told. Any thread. */
void GenicamDevice::abandonRun()
{
    std::lock_guard<std::mutex> lock(runMutex_);
    if (run_)
        run_->stopped = true;
}

/*
 * Waits up to timeoutMs for the next complete or early-ended frame and copies
 * its complete lines into buffer. Returns MV_OK, MV_E_NODATA (nothing in
 * time, or stopped meanwhile), MV_E_CALLORDER (not grabbing), MV_E_BUFOVER
 * (the frame stays for the next call), MV_E_SUPPORT (not an image, or a
 * pixel format without a size; the frame is dropped) or MV_E_NODEVICE (camera
 * lost). Frames the transport damaged are skipped and counted as lost. Grab
 * thread, concurrently with control calls.
 */
int GenicamDevice::getFrame(unsigned char *buffer, unsigned int size, MV_FRAME_OUT_INFO_EX &info,
                            unsigned int timeoutMs)
{
    std::shared_ptr<Acquisition> run;
    {
        std::lock_guard<std::mutex> lock(runMutex_);
        run = run_;
    }
    if (isLost())
        return MV_E_NODEVICE;
    if (!run)
        return MV_E_CALLORDER;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (isLost())
            return MV_E_NODEVICE;
        if (run->stopped)
            return MV_E_NODATA;
        ArvBuffer *frame = std::exchange(run->pending, nullptr);
        if (!frame) {
            // Once the time is up, frames already received are still taken
            // (a zero timeout asks for exactly that), but none is waited for.
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                frame = arv_stream_try_pop_buffer(run->stream);
                if (!frame)
                    return MV_E_NODATA;
            } else {
                const auto slice = std::min<std::chrono::microseconds>(left, fetchSlice);
                frame = arv_stream_timeout_pop_buffer(run->stream, static_cast<guint64>(slice.count()));
                if (!frame)
                    continue;
            }
        }
        const int status = deliver(*run, frame, buffer, size, info);
        if (status == static_cast<int>(MV_E_BUFOVER)) {
            run->pending = frame;
            return status;
        }
        arv_stream_push_buffer(run->stream, frame);
        if (status != static_cast<int>(MV_E_NODATA))
            return status;
    }
}

/*
 * Copies one popped frame out. MV_E_NODATA means "not a frame for the
 * caller" (damaged, or no complete line) and the fetch waits on.
 */
int GenicamDevice::deliver(Acquisition &run, ArvBuffer *frame, unsigned char *buffer, unsigned int size,
                           MV_FRAME_OUT_INFO_EX &info)
{
    // Lost frames are whole frames: ids that never arrived, and frames the
    // stream gave up on. Aravis's own counters count packets and gaps, which
    // a stalled fetch turns into hundreds of thousands.
    const uint64_t frameId = arv_buffer_get_frame_id(frame);
    if (run.haveFrameId)
        run.lost += genicam::framesMissedBetween(run.lastFrameId, frameId);
    run.haveFrameId = true;
    run.lastFrameId = frameId;
    const ArvBufferStatus bufferStatus = arv_buffer_get_status(frame);
    if (bufferStatus != ARV_BUFFER_STATUS_SUCCESS) {
        if (bufferStatus != ARV_BUFFER_STATUS_ABORTED)
            ++run.lost;
        return MV_E_NODATA;
    }
    const ArvBufferPayloadType payloadType = arv_buffer_get_payload_type(frame);
    if (payloadType != ARV_BUFFER_PAYLOAD_TYPE_IMAGE
        && payloadType != ARV_BUFFER_PAYLOAD_TYPE_EXTENDED_CHUNK_DATA)
        return MV_E_SUPPORT;

    // Every format is handed on, also one the library cannot convert: the
    // program counts the frame and says which format it cannot show.
    const MvGvspPixelType pixelType = arv_buffer_get_image_pixel_format(frame);
    const gint width = arv_buffer_get_image_width(frame);
    const gint height = arv_buffer_get_image_height(frame);
    if (pixelBitsOf(pixelType) == 0 || width <= 0 || height <= 0)
        return MV_E_SUPPORT;

    // The image part's size is the announced one; what arrived is the
    // buffer's received size, counted from where the image starts.
    std::size_t received = 0, imageSize = 0;
    const auto *start = static_cast<const unsigned char *>(arv_buffer_get_data(frame, &received));
    const auto *image = static_cast<const unsigned char *>(arv_buffer_get_image_data(frame, &imageSize));
    if (!start || !image || image < start || static_cast<std::size_t>(image - start) > received)
        return MV_E_NODATA;
    const std::size_t available = std::min(imageSize, received - static_cast<std::size_t>(image - start));

    gint xPadding = 0, yPadding = 0;
    arv_buffer_get_image_padding(frame, &xPadding, &yPadding);
    const uint64_t lineBytes = lineBytesOf(pixelType, static_cast<uint64_t>(width));
    const uint64_t stride = lineBytes + static_cast<uint64_t>(std::max(0, xPadding));
    const unsigned int lines = genicam::completeLines(available, stride, static_cast<unsigned int>(height));
    if (lines == 0)
        return MV_E_NODATA;
    const uint64_t total = lineBytes * lines;
    if (total > size)
        return MV_E_BUFOVER;
    if (stride == lineBytes) {
        std::memcpy(buffer, image, total);
    } else {
        for (unsigned int line = 0; line < lines; ++line)
            std::memcpy(buffer + line * lineBytes, image + line * stride, lineBytes);
    }

    std::memset(&info, 0, sizeof info);
    info.nWidth = static_cast<unsigned int>(width);
    info.nHeight = lines;
    info.enPixelType = pixelType;
    info.nFrameNum = static_cast<unsigned int>(frameId);
    // Aravis gives the device clock in nanoseconds; the library's is in
    // microseconds, like the program's statistics line.
    const uint64_t deviceUs = arv_buffer_get_timestamp(frame) / 1000;
    info.nDevTimeStampHigh = static_cast<unsigned int>(deviceUs >> 32);
    info.nDevTimeStampLow = static_cast<unsigned int>(deviceUs);
    info.nFrameLen = static_cast<unsigned int>(total);
    info.nHostTimeStamp = static_cast<int64_t>(arv_buffer_get_system_timestamp(frame) / 1000000);
    ++run.delivered;
    run.deliveredBytes += static_cast<int64_t>(total);
    return MV_OK;
}

/* The counters of a run, as the fetch saw them. */
StreamStatistics GenicamDevice::countersOf(Acquisition &run) const
{
    StreamStatistics counters;
    counters.receivedBytes = run.deliveredBytes;
    counters.receivedFrames = run.delivered;
    counters.lostFrames = run.lost;
    return counters;
}

/*
 * Frames received and lost in the current run (or the last one, after a
 * stop); 0 before the first start. Control thread.
 */
int GenicamDevice::statistics(StreamStatistics &stats)
{
    if (!camera_)
        return MV_E_CALLORDER;
    std::lock_guard<std::mutex> lock(runMutex_);
    stats = run_ ? countersOf(*run_) : lastCounters_;
    return MV_OK;
}

/*
 * The packet size Aravis negotiates with a GigE camera (it tries sizes up to
 * the interface's MTU and keeps the largest that gets through). Returns it
 * (> 0), or MV_E_CALLORDER, MV_E_SUPPORT (USB3), MV_E_NODEVICE, MV_E_UNKNOWN.
 * Control thread.
 */
int GenicamDevice::optimalPacketSize()
{
    if (!camera_)
        return static_cast<int>(MV_E_CALLORDER);
    if (!arv_camera_is_gv_device(camera_))
        return static_cast<int>(MV_E_SUPPORT);
    if (isLost())
        return static_cast<int>(MV_E_NODEVICE);
    ErrorSlot error;
    const guint packetSize = arv_camera_gv_auto_packet_size(camera_, error.out());
    if (error || packetSize == 0 || packetSize > INT32_MAX)
        return static_cast<int>(error ? statusOf(error.get(), isLost()) : MV_E_UNKNOWN);
    return static_cast<int>(packetSize);
}

// ---- Features ----------------------------------------------------------

/*
 * The camera's node for a feature: the first of its names (see
 * featureCandidates) that the camera implements.
 */
GenicamDevice::Found GenicamDevice::findFeature(const std::string &name) const
{
    Found found;
    if (!camera_) {
        found.status = MV_E_CALLORDER;
        return found;
    }
    if (isLost()) {
        found.status = MV_E_NODEVICE;
        return found;
    }
    ArvDevice *device = arv_camera_get_device(camera_);
    for (const std::string &candidate : genicam::featureCandidates(name)) {
        ArvGcNode *node = arv_device_get_feature(device, candidate.c_str());
        if (!node || !ARV_IS_GC_FEATURE_NODE(node))
            continue;
        ErrorSlot error;
        if (!arv_gc_feature_node_is_implemented(ARV_GC_FEATURE_NODE(node), error.out()) || error)
            continue;
        found.node = node;
        found.name = candidate;
        return found;
    }
    found.status = MV_E_NOTFOUND;
    return found;
}

namespace {

// A node's range. Many nodes (PayloadSize, most registers) declare none:
// Aravis then reports an error together with the widest limits, which are
// exactly what such a node accepts.
struct NumberRange {
    double min = -DBL_MAX;
    double max = DBL_MAX;
    int64_t intMin = INT64_MIN;
    int64_t intMax = INT64_MAX;
    int64_t inc = 1;
};

NumberRange rangeOf(ArvGcNode *node)
{
    NumberRange range;
    ErrorSlot error;
    if (ARV_IS_GC_INTEGER(node)) {
        ArvGcInteger *integer = ARV_GC_INTEGER(node);
        const int64_t min = arv_gc_integer_get_min(integer, error.out());
        if (!error)
            range.intMin = min;
        const int64_t max = arv_gc_integer_get_max(integer, error.out());
        if (!error)
            range.intMax = max;
        const int64_t inc = arv_gc_integer_get_inc(integer, error.out());
        if (!error && inc > 1)
            range.inc = inc;
        range.min = static_cast<double>(range.intMin);
        range.max = static_cast<double>(range.intMax);
    } else {
        ArvGcFloat *number = ARV_GC_FLOAT(node);
        const double min = arv_gc_float_get_min(number, error.out());
        if (!error)
            range.min = min;
        const double max = arv_gc_float_get_max(number, error.out());
        if (!error)
            range.max = max;
        const genicam::IntegerView view = genicam::integerView(0, range.min, range.max);
        range.intMin = view.min;
        range.intMax = view.max;
    }
    return range;
}

// The current value of an integer or float node, as a double and as the
// nearest integer.
int readNumber(ArvGcNode *node, double &asFloat, int64_t &asInteger, bool lost)
{
    ErrorSlot error;
    if (ARV_IS_GC_INTEGER(node)) {
        asInteger = arv_gc_integer_get_value(ARV_GC_INTEGER(node), error.out());
        asFloat = static_cast<double>(asInteger);
    } else {
        asFloat = arv_gc_float_get_value(ARV_GC_FLOAT(node), error.out());
        asInteger = genicam::integerView(asFloat, 0, 0).value;
    }
    return statusOf(error.get(), lost);
}

} // namespace

/*
 * The node of a feature of the kind isKind accepts that the program may read
 * (or write) now: MV_OK, or MV_E_NOTFOUND, MV_E_TYPE (a node of another
 * kind), MV_E_ACCESS_RW, MV_E_CALLORDER, MV_E_NODEVICE.
 */
GenicamDevice::Found GenicamDevice::findNode(const std::string &name, bool writing,
                                             bool (*isKind)(ArvGcNode *)) const
{
    Found found = findFeature(name);
    if (found.status == MV_OK && !isKind(found.node))
        found.status = MV_E_TYPE;
    if (found.status == MV_OK)
        found.status = accessStatus(found.node, writing);
    return found;
}

/*
 * Reads an integer feature; a float node is rounded, its range narrowed to
 * whole numbers. Returns MV_OK, the statuses of findNode, or MV_E_UNKNOWN.
 * Control thread.
 */
int GenicamDevice::getInt(const std::string &name, MVCC_INTVALUE_EX &value)
{
    const Found found = findNode(name, false, isNumber);
    if (found.status != MV_OK)
        return found.status;
    double asFloat = 0;
    int64_t asInteger = 0;
    if (const int status = readNumber(found.node, asFloat, asInteger, isLost()))
        return status;
    const NumberRange range = rangeOf(found.node);
    std::memset(&value, 0, sizeof value);
    value.nCurValue = asInteger;
    value.nMin = range.intMin;
    value.nMax = range.intMax;
    value.nInc = range.inc;
    return MV_OK;
}

/*
 * Writes an integer feature to the camera; a float node takes the value as a
 * float. Returns MV_OK, MV_E_RANGE (outside the node's range, or off its
 * increment), the statuses of findNode, or MV_E_UNKNOWN. Control thread.
 */
int GenicamDevice::setInt(const std::string &name, int64_t value)
{
    const Found found = findNode(name, true, isNumber);
    if (found.status != MV_OK)
        return found.status;
    const NumberRange range = rangeOf(found.node);
    ErrorSlot error;
    if (ARV_IS_GC_INTEGER(found.node)) {
        // Unsigned, since the distance from a minimum of INT64_MIN overflows.
        if (value < range.intMin || value > range.intMax
            || (static_cast<uint64_t>(value) - static_cast<uint64_t>(range.intMin))
                    % static_cast<uint64_t>(range.inc)
                != 0)
            return MV_E_RANGE;
        arv_gc_integer_set_value(ARV_GC_INTEGER(found.node), value, error.out());
    } else {
        const double asFloat = static_cast<double>(value);
        if (asFloat < range.min || asFloat > range.max)
            return MV_E_RANGE;
        arv_gc_float_set_value(ARV_GC_FLOAT(found.node), asFloat, error.out());
    }
    return statusOf(error.get(), isLost());
}

/*
 * Reads a float feature; an integer node is converted. Statuses as getInt.
 * Control thread.
 */
int GenicamDevice::getFloat(const std::string &name, MVCC_FLOATVALUE &value)
{
    const Found found = findNode(name, false, isNumber);
    if (found.status != MV_OK)
        return found.status;
    double asFloat = 0;
    int64_t asInteger = 0;
    if (const int status = readNumber(found.node, asFloat, asInteger, isLost()))
        return status;
    const NumberRange range = rangeOf(found.node);
    std::memset(&value, 0, sizeof value);
    value.fCurValue = static_cast<float>(asFloat);
    value.fMin = static_cast<float>(std::max<double>(range.min, -FLT_MAX));
    value.fMax = static_cast<float>(std::min<double>(range.max, FLT_MAX));
    return MV_OK;
}

/*
 * Writes a float feature; an integer node takes the nearest integer.
 * MV_E_RANGE for NaN and values outside the node's range; otherwise the
 * statuses of setInt. Control thread.
 */
int GenicamDevice::setFloat(const std::string &name, float value)
{
    const Found found = findNode(name, true, isNumber);
    if (found.status != MV_OK)
        return found.status;
    if (ARV_IS_GC_INTEGER(found.node)) {
        int64_t rounded = 0;
        if (!genicam::integerForFloat(static_cast<double>(value), rounded))
            return MV_E_RANGE;
        return setInt(found.name, rounded);
    }
    const NumberRange range = rangeOf(found.node);
    const double asDouble = static_cast<double>(value);
    if (!(asDouble >= range.min && asDouble <= range.max))
        return MV_E_RANGE;
    ErrorSlot error;
    arv_gc_float_set_value(ARV_GC_FLOAT(found.node), asDouble, error.out());
    return statusOf(error.get(), isLost());
}

namespace {

// The implemented and available entries of an enumeration, with the values
// the library uses for them.
std::vector<std::pair<std::string, unsigned int>> enumEntries(ArvGcEnumeration *enumeration,
                                                              const std::string &feature)
{
    std::vector<std::pair<std::string, unsigned int>> entries;
    for (const GSList *item = arv_gc_enumeration_get_entries(enumeration); item; item = item->next) {
        if (!ARV_IS_GC_ENUM_ENTRY(item->data))
            continue;
        ArvGcFeatureNode *entry = ARV_GC_FEATURE_NODE(item->data);
        ErrorSlot error;
        if (!arv_gc_feature_node_is_implemented(entry, error.out()) || error)
            continue;
        if (!arv_gc_feature_node_is_available(entry, error.out()) || error)
            continue;
        const std::string entryName = arv_gc_feature_node_get_name(entry);
        unsigned int value = 0;
        if (!genicam::enumValueOfEntry(feature, entryName, value)) {
            const gint64 own = arv_gc_enum_entry_get_value(ARV_GC_ENUM_ENTRY(entry), error.out());
            if (error || own < 0 || own > UINT32_MAX)
                continue;
            value = static_cast<unsigned int>(own);
        }
        entries.emplace_back(entryName, value);
    }
    return entries;
}

} // namespace

/*
 * Reads an enumeration: the current value and up to MV_MAX_SYMBOLIC_NUM
 * available values. Standard entries (see enumEntryName) read as the
 * library's numbers, others as the camera's. Statuses as getInt.
 * Control thread.
 */
int GenicamDevice::getEnum(const std::string &name, MVCC_ENUMVALUE &value)
{
    const Found found = findNode(name, false, isEnumeration);
    if (found.status != MV_OK)
        return found.status;
    ArvGcEnumeration *enumeration = ARV_GC_ENUMERATION(found.node);
    ErrorSlot error;
    const char *current = arv_gc_enumeration_get_string_value(enumeration, error.out());
    if (error || !current)
        return error ? statusOf(error.get(), isLost()) : MV_E_UNKNOWN;
    MVCC_ENUMVALUE result;
    std::memset(&result, 0, sizeof result);
    bool currentKnown = false;
    for (const auto &entry : enumEntries(enumeration, name)) {
        if (entry.first == current) {
            result.nCurValue = entry.second;
            currentKnown = true;
        }
        if (result.nSupportedNum < MV_MAX_SYMBOLIC_NUM)
            result.nSupportValue[result.nSupportedNum++] = entry.second;
    }
    if (!currentKnown)
        return MV_E_UNKNOWN;
    value = result;
    return MV_OK;
}

/*
 * Writes an enumeration by the library's value: a standard entry by its name,
 * any other by the camera's own integer. MV_E_RANGE when no available entry
 * has that value. Control thread.
 */
int GenicamDevice::setEnum(const std::string &name, unsigned int value)
{
    const Found found = findNode(name, true, isEnumeration);
    if (found.status != MV_OK)
        return found.status;
    ArvGcEnumeration *enumeration = ARV_GC_ENUMERATION(found.node);
    for (const auto &entry : enumEntries(enumeration, name)) {
        if (entry.second != value)
            continue;
        ErrorSlot error;
        arv_gc_enumeration_set_string_value(enumeration, entry.first.c_str(), error.out());
        return statusOf(error.get(), isLost());
    }
    return MV_E_RANGE;
}

/*
 * Reads an enumeration by entry name: the current entry and the entries
 * implemented and available now, in the camera's order. Statuses as getInt.
 * Control thread.
 */
int GenicamDevice::getEnumEntries(const std::string &name, std::string &current,
                                  std::vector<std::string> &entries)
{
    const Found found = findNode(name, false, isEnumeration);
    if (found.status != MV_OK)
        return found.status;
    ArvGcEnumeration *enumeration = ARV_GC_ENUMERATION(found.node);
    ErrorSlot error;
    const char *now = arv_gc_enumeration_get_string_value(enumeration, error.out());
    if (error || !now)
        return error ? statusOf(error.get(), isLost()) : MV_E_UNKNOWN;
    current = now;
    entries.clear();
    for (const auto &entry : enumEntries(enumeration, name))
        entries.push_back(entry.first);
    return MV_OK;
}

/*
 * Writes an enumeration by entry name. MV_E_RANGE when no implemented and
 * available entry has that name; otherwise the statuses of setEnum.
 * Control thread.
 */
int GenicamDevice::setEnumByName(const std::string &name, const std::string &entry)
{
    const Found found = findNode(name, true, isEnumeration);
    if (found.status != MV_OK)
        return found.status;
    ArvGcEnumeration *enumeration = ARV_GC_ENUMERATION(found.node);
    for (const auto &known : enumEntries(enumeration, name)) {
        if (known.first != entry)
            continue;
        ErrorSlot error;
        arv_gc_enumeration_set_string_value(enumeration, entry.c_str(), error.out());
        return statusOf(error.get(), isLost());
    }
    return MV_E_RANGE;
}

/* Reads a boolean feature. Statuses as getInt. Control thread. */
int GenicamDevice::getBool(const std::string &name, bool &value)
{
    const Found found = findNode(name, false, isBoolean);
    if (found.status != MV_OK)
        return found.status;
    ErrorSlot error;
    const gboolean current = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(found.node), error.out());
    if (error)
        return statusOf(error.get(), isLost());
    value = current != FALSE;
    return MV_OK;
}

/* Writes a boolean feature. Statuses as getInt. Control thread. */
int GenicamDevice::setBool(const std::string &name, bool value)
{
    const Found found = findNode(name, true, isBoolean);
    if (found.status != MV_OK)
        return found.status;
    ErrorSlot error;
    arv_gc_boolean_set_value(ARV_GC_BOOLEAN(found.node), value ? TRUE : FALSE, error.out());
    return statusOf(error.get(), isLost());
}

} // namespace mvcc
