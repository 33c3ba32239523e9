// One GenICam camera (GigE Vision or USB3 Vision) driven through Aravis.
#ifndef MVCC_GENICAMDEVICE_H
#define MVCC_GENICAMDEVICE_H

#include "backend.h"
#include "boundeddevice.h"

#include <arv.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace mvcc {

// Where a camera of an enumeration is found again when it is opened.
struct GenicamTarget {
    unsigned int transport = MV_GIGE_DEVICE;
    std::string openName; // GigE: dotted address; USB3: Aravis device id
    std::string serial;   // the camera's serial must start with this ("" = any)
};

// Serialises Aravis's process-wide device list: searches and opens by name.
std::mutex &genicamSystemMutex();

class GenicamDevice final : public StoppableDevice
{
public:
    explicit GenicamDevice(GenicamTarget target);
    ~GenicamDevice() override;

    GenicamDevice(const GenicamDevice &) = delete;
    GenicamDevice &operator=(const GenicamDevice &) = delete;

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
    void abandonRun() override;
    bool isLost() const override { return controlLost_->load(); }

private:
    struct Acquisition;
    struct Found {
        int status = MV_OK;
        ArvGcNode *node = nullptr;
        std::string name; // the node name that matched
    };

    Found findFeature(const std::string &name) const;
    Found findNode(const std::string &name, bool writing, bool (*isKind)(ArvGcNode *)) const;
    int deliver(Acquisition &run, ArvBuffer *frame, unsigned char *buffer, unsigned int size,
                MV_FRAME_OUT_INFO_EX &info);
    StreamStatistics countersOf(Acquisition &run) const;

    const GenicamTarget target_;
    // Set from Aravis's heartbeat thread when the camera stops answering; the
    // signal handler owns a second reference, so it may outlive this object.
    const std::shared_ptr<std::atomic<bool>> controlLost_;

    // camera_ is used by control calls only, which the C layer serialises.
    ArvCamera *camera_ = nullptr;

    mutable std::mutex runMutex_; // protects run_ and lastCounters_
    std::shared_ptr<Acquisition> run_;
    StreamStatistics lastCounters_;
};

} // namespace mvcc

#endif // MVCC_GENICAMDEVICE_H
