// A camera device whose control calls return within a bound, whatever the
// camera does: the calls run in a thread of their own, and a call the camera
// leaves unanswered finishes there while its caller moves on.
#ifndef MVCC_BOUNDEDDEVICE_H
#define MVCC_BOUNDEDDEVICE_H

#include "backend.h"
#include "controlworker.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace mvcc {

// What BoundedDevice needs from the device it wraps besides CameraDevice.
class StoppableDevice : public CameraDevice
{
public:
    // Ends a waiting fetch at once, without a word to the camera.
    virtual void abandonRun() = 0;
    // The camera is known to be gone.
    virtual bool isLost() const = 0;
};

class BoundedDevice final : public CameraDevice
{
public:
    // How long a control call waits for the camera before it gives up on it.
    static constexpr std::chrono::milliseconds answerBound{200};

    explicit BoundedDevice(std::shared_ptr<StoppableDevice> device);
    ~BoundedDevice() override;
    BoundedDevice(const BoundedDevice &) = delete;
    BoundedDevice &operator=(const BoundedDevice &) = delete;

    int open(unsigned int accessMode) override;
    void close() override;
    int startGrabbing() override;
    int stopGrabbing() override;
    int getFrame(unsigned char *buffer, unsigned int size, MV_FRAME_OUT_INFO_EX &info,
                 unsigned int timeoutMs) override;
    int getInt(const std::string &name, MVCC_INTVALUE_EX &value) override;
    int setInt(const std::string &name, int64_t value) override;
    int getFloat(const std::string &name, MVCC_FLOATVALUE &value) override;
    int setFloat(const std::string &name, float value) override;
    int getEnum(const std::string &name, MVCC_ENUMVALUE &value) override;
    int setEnum(const std::string &name, unsigned int value) override;
    int getEnumEntries(const std::string &name, std::string &current,
                       std::vector<std::string> &entries) override;
    int setEnumByName(const std::string &name, const std::string &entry) override;
    int getBool(const std::string &name, bool &value) override;
    int setBool(const std::string &name, bool value) override;
    int optimalPacketSize() override;
    int statistics(StreamStatistics &stats) override;

private:
    // Runs call(device, result) in the worker; copies result out when it
    // finished within the bound. Otherwise the camera is taken as gone.
    template<typename T>
    int bounded(T &out, std::function<int(StoppableDevice &, T &)> call);
    int bounded(std::function<int(StoppableDevice &)> call);
    // The camera left a call unanswered: every later call returns at once.
    void giveUp();

    const std::shared_ptr<StoppableDevice> device_;
    ControlWorker worker_;
    // A call went unanswered: the camera is treated as gone from then on.
    std::atomic<bool> unanswered_{false};
};

} // namespace mvcc

#endif // MVCC_BOUNDEDDEVICE_H
