#include "boundeddevice.h"

#include <thread>
#include <utility>

namespace mvcc {

namespace {
// Calls queued behind one the camera does not answer: a few, then refusals.
constexpr std::size_t queueBound = 8;
} // namespace

BoundedDevice::BoundedDevice(std::shared_ptr<StoppableDevice> device)
    : device_(std::move(device)), worker_(queueBound)
{ }

/*
 * Closes in the worker, which takes the last reference: releasing a lost
 * camera waits for the farewell of the one before, and the caller must never
 * be the thread that waits (a worker that finished its jobs early would
 * otherwise leave the device's destructor to it).
 */
BoundedDevice::~BoundedDevice()
{
    device_->abandonRun();
    // The reference is dropped inside the job, wherever the job's copies end.
    auto held = std::make_shared<std::shared_ptr<StoppableDevice>>(std::move(device_));
    const auto last = [held] {
        (*held)->close();
        held->reset();
    };
    if (!worker_.post(last))
        std::thread(last).detach(); // a full queue: a thread of its own
}

template<typename T>
int BoundedDevice::bounded(T &out, std::function<int(StoppableDevice &, T &)> call)
{
    if (unanswered_ || device_->isLost())
        return MV_E_NODEVICE;
    // The result lives with the job, which may finish after this call returned.
    auto slot = std::make_shared<std::pair<int, T>>(MV_E_UNKNOWN, out);
    const auto done
        = worker_.post([device = device_, slot, call] { slot->first = call(*device, slot->second); });
    if (!ControlWorker::waitFor(done, answerBound)) {
        // A GigE camera answers a command in a millisecond or two; one that
        // leaves it for this long has Aravis retrying into the void.
        giveUp();
        return MV_E_NODEVICE;
    }
    if (slot->first == MV_OK)
        out = slot->second;
    return slot->first;
}

int BoundedDevice::bounded(std::function<int(StoppableDevice &)> call)
{
    int unused = 0;
    return bounded<int>(unused, [call](StoppableDevice &device, int &) { return call(device); });
}

/*
 * Opening may take as long as finding the camera takes (and waits for the
 * release of an earlier connection that is still under way). Control thread.
 */
int BoundedDevice::open(unsigned int accessMode)
{
    auto status = std::make_shared<int>(MV_E_UNKNOWN);
    const auto done
        = worker_.post([device = device_, status, accessMode] { *status = device->open(accessMode); });
    if (!done)
        return MV_E_NODEVICE;
    while (!ControlWorker::waitFor(done, std::chrono::milliseconds(1000))) { }
    if (*status == MV_OK)
        unanswered_ = false;
    return *status;
}

/*
 * Returns within the bound; a camera that does not answer is released in the
 * background. After a call went unanswered it does not wait at all.
 */
void BoundedDevice::close()
{
    device_->abandonRun();
    const auto done = worker_.post([device = device_] { device->close(); });
    if (!unanswered_ && !ControlWorker::waitFor(done, answerBound))
        giveUp();
}

void BoundedDevice::giveUp()
{
    unanswered_ = true;
    device_->abandonRun();
}

/* Creating the stream takes several commands: waited for like open. */
int BoundedDevice::startGrabbing()
{
    if (unanswered_ || device_->isLost())
        return MV_E_NODEVICE;
    auto status = std::make_shared<int>(MV_E_NODEVICE);
    const auto done = worker_.post([device = device_, status] { *status = device->startGrabbing(); });
    while (done && !ControlWorker::waitFor(done, std::chrono::milliseconds(1000))) { }
    return *status;
}

/*
 * The run ends at once for the fetch; the camera is told in the worker, and a
 * camera that does not answer is left to it. Always MV_OK once grabbing.
 */
int BoundedDevice::stopGrabbing()
{
    device_->abandonRun();
    auto status = std::make_shared<int>(MV_OK);
    const auto done = worker_.post([device = device_, status] { *status = device->stopGrabbing(); });
    if (unanswered_)
        return MV_OK;
    if (!ControlWorker::waitFor(done, answerBound)) {
        giveUp();
        return MV_OK;
    }
    return *status == static_cast<int>(MV_E_CALLORDER) ? MV_E_CALLORDER : MV_OK;
}

/* Fetches wait in the caller's thread: they look at the stop and lost flags often. */
int BoundedDevice::getFrame(unsigned char *buffer, unsigned int size, MV_FRAME_OUT_INFO_EX &info,
                            unsigned int timeoutMs)
{
    if (unanswered_)
        return MV_E_NODEVICE;
    return device_->getFrame(buffer, size, info, timeoutMs);
}

int BoundedDevice::getInt(const std::string &name, MVCC_INTVALUE_EX &value)
{
    return bounded<MVCC_INTVALUE_EX>(
        value, [name](StoppableDevice &d, MVCC_INTVALUE_EX &v) { return d.getInt(name, v); });
}

int BoundedDevice::setInt(const std::string &name, int64_t value)
{
    return bounded([name, value](StoppableDevice &d) { return d.setInt(name, value); });
}

int BoundedDevice::getFloat(const std::string &name, MVCC_FLOATVALUE &value)
{
    return bounded<MVCC_FLOATVALUE>(
        value, [name](StoppableDevice &d, MVCC_FLOATVALUE &v) { return d.getFloat(name, v); });
}

int BoundedDevice::setFloat(const std::string &name, float value)
{
    return bounded([name, value](StoppableDevice &d) { return d.setFloat(name, value); });
}

int BoundedDevice::getEnum(const std::string &name, MVCC_ENUMVALUE &value)
{
    return bounded<MVCC_ENUMVALUE>(
        value, [name](StoppableDevice &d, MVCC_ENUMVALUE &v) { return d.getEnum(name, v); });
}

int BoundedDevice::setEnum(const std::string &name, unsigned int value)
{
    return bounded([name, value](StoppableDevice &d) { return d.setEnum(name, value); });
}

int BoundedDevice::getEnumEntries(const std::string &name, std::string &current,
                                  std::vector<std::string> &entries)
{
    using Listing = std::pair<std::string, std::vector<std::string>>;
    Listing listing;
    const int status = bounded<Listing>(listing, [name](StoppableDevice &d, Listing &l) {
        return d.getEnumEntries(name, l.first, l.second);
    });
    if (status == MV_OK) {
        current = std::move(listing.first);
        entries = std::move(listing.second);
    }
    return status;
}

int BoundedDevice::setEnumByName(const std::string &name, const std::string &entry)
{
    return bounded([name, entry](StoppableDevice &d) { return d.setEnumByName(name, entry); });
}

int BoundedDevice::getBool(const std::string &name, bool &value)
{
    return bounded<bool>(value, [name](StoppableDevice &d, bool &v) { return d.getBool(name, v); });
}

int BoundedDevice::setBool(const std::string &name, bool value)
{
    return bounded([name, value](StoppableDevice &d) { return d.setBool(name, value); });
}

/* Packet-size negotiation sends several test packets: it may take a while. */
int BoundedDevice::optimalPacketSize()
{
    auto size = std::make_shared<int>(static_cast<int>(MV_E_NODEVICE));
    const auto done = worker_.post([device = device_, size] { *size = device->optimalPacketSize(); });
    while (done && !ControlWorker::waitFor(done, std::chrono::milliseconds(1000))) { }
    return *size;
}

/* Counters live in this process: read directly. */
int BoundedDevice::statistics(StreamStatistics &stats)
{
    return device_->statistics(stats);
}

} // namespace mvcc
