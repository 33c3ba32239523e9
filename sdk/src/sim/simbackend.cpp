#include "backend.h"
#include "faults.h"
#include "mvsim.h"
#include "simconfig.h"
#include "simdevice.h"
#include "simscene.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace mvcc {
namespace {

// The simulated cameras of this process: their configuration and what
// outlives each open of them.
class SimWorld
{
public:
    static SimWorld &instance()
    {
        static SimWorld world;
        return world;
    }

    void install(std::vector<SimCameraConfig> cameras)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clearFaults();
        installLocked(std::move(cameras));
    }

    void resetToStart()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clearFaults();
        installLocked(startCameras());
    }

    std::vector<std::pair<SimCameraConfig, std::shared_ptr<SimCameraState>>> cameras()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ensureLoadedLocked();
        std::vector<std::pair<SimCameraConfig, std::shared_ptr<SimCameraState>>> result;
        for (const SimCameraConfig &camera : cameras_)
            result.emplace_back(camera, states_[camera.serial]);
        return result;
    }

    std::shared_ptr<SimCameraState> state(const std::string &serial)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ensureLoadedLocked();
        const auto found = states_.find(serial);
        return found == states_.end() ? nullptr : found->second;
    }

private:
    // CORVISTA_SIM_CONFIG, or the built-in cameras. A file that cannot be used
    // gives no camera at all, so a mistake is not hidden behind the defaults.
    static std::vector<SimCameraConfig> startCameras()
    {
        const char *path = std::getenv("CORVISTA_SIM_CONFIG");
        if (!path || !*path)
            return defaultSimCameras();
        std::vector<SimCameraConfig> cameras;
        std::string error;
        if (!loadFile(path, cameras, error)) {
            std::fprintf(stderr, "MVCameraControl: CORVISTA_SIM_CONFIG %s: %s; no simulated camera\n", path,
                         error.c_str());
            return {};
        }
        return cameras;
    }

    void ensureLoadedLocked()
    {
        if (!loaded_)
            installLocked(startCameras());
    }

    void installLocked(std::vector<SimCameraConfig> cameras)
    {
        loaded_ = true;
        cameras_ = std::move(cameras);
        states_.clear();
        for (const SimCameraConfig &camera : cameras_) {
            auto state = std::make_shared<SimCameraState>();
            if (camera.vanishAfterFrames != 0)
                state->vanishLimit = camera.vanishAfterFrames;
            state->target = camera.target;
            states_[camera.serial] = state;
            for (const SimFault &fault : camera.faults)
                // A search concerns no camera in particular: its fault applies to all.
                setFault(fault.operation, fault.status,
                         fault.operation == "MV_CC_EnumDevices" ? std::string() : camera.serial, -1);
        }
    }

public:
    static bool loadFile(const std::string &path, std::vector<SimCameraConfig> &cameras, std::string &error)
    {
        return loadSimConfigFile(path, cameras, error);
    }

private:
    std::mutex mutex_; // protects loaded_, cameras_ and states_
    bool loaded_ = false;
    std::vector<SimCameraConfig> cameras_;
    std::map<std::string, std::shared_ptr<SimCameraState>> states_;
};

void fillRecord(const SimCameraConfig &camera, unsigned int index, MV_CC_DEVICE_INFO &info)
{
    info = MV_CC_DEVICE_INFO();
    info.nMajorVer = 1;
    info.nMinorVer = 0;
    // A locally administered MAC address derived from the serial.
    info.nMacAddrHigh = 0x0200;
    info.nMacAddrLow = serialHash(camera.serial);
    info.nTLayerType = camera.transport;
    if (camera.transport == MV_GIGE_DEVICE) {
        MV_GIGE_DEVICE_INFO &gige = info.SpecialInfo.stGigEInfo;
        gige.nCurrentIp = camera.address;
        gige.nCurrentSubNetMask = 0xFFFFFF00u;
        gige.nDefultGateWay = (camera.address & 0xFFFFFF00u) | 1u;
        gige.nNetExport = (camera.address & 0xFFFFFF00u) | 254u;
        copyField(gige.chManufacturerName, sizeof gige.chManufacturerName, camera.manufacturer);
        copyField(gige.chModelName, sizeof gige.chModelName, camera.model);
        copyField(gige.chDeviceVersion, sizeof gige.chDeviceVersion, camera.version);
        copyField(gige.chManufacturerSpecificInfo, sizeof gige.chManufacturerSpecificInfo,
                  "simulated line-scan camera");
        copyField(gige.chSerialNumber, sizeof gige.chSerialNumber, camera.serial);
        copyField(gige.chUserDefinedName, sizeof gige.chUserDefinedName, camera.userName);
    } else {
        MV_USB3_DEVICE_INFO &usb = info.SpecialInfo.stUsb3VInfo;
        usb.idVendor = 0x1209;
        usb.idProduct = 0xC5A0;
        usb.nDeviceNumber = index;
        copyField(usb.chDeviceGUID, sizeof usb.chDeviceGUID, "CORVISTA-SIM-" + camera.serial);
        copyField(usb.chVendorName, sizeof usb.chVendorName, camera.manufacturer);
        copyField(usb.chModelName, sizeof usb.chModelName, camera.model);
        copyField(usb.chFamilyName, sizeof usb.chFamilyName, "Simulated line scan");
        copyField(usb.chDeviceVersion, sizeof usb.chDeviceVersion, camera.version);
        copyField(usb.chManufacturerName, sizeof usb.chManufacturerName, camera.manufacturer);
        copyField(usb.chSerialNumber, sizeof usb.chSerialNumber, camera.serial);
        copyField(usb.chUserDefinedName, sizeof usb.chUserDefinedName, camera.userName);
    }
}

class SimBackend final : public CameraBackend
{
public:
    std::string name() const override { return "simulator"; }

    int enumerate(unsigned int tlayerMask, std::vector<MV_CC_DEVICE_INFO> &devices) override
    {
        unsigned int index = 0;
        for (const auto &entry : SimWorld::instance().cameras()) {
            if ((entry.first.transport & tlayerMask) == 0 || entry.second->gone)
                continue;
            MV_CC_DEVICE_INFO info;
            fillRecord(entry.first, index++, info);
            devices.push_back(info);
        }
        return MV_OK;
    }

    std::unique_ptr<CameraDevice> create(const MV_CC_DEVICE_INFO &info) override
    {
        const std::string serial = recordSerial(info);
        for (const auto &entry : SimWorld::instance().cameras())
            if (entry.first.transport == info.nTLayerType && entry.first.serial == serial)
                return std::make_unique<SimDevice>(entry.first, entry.second);
        return nullptr;
    }
};

} // namespace

/* The simulator backend; its cameras live in one process-wide world. */
std::unique_ptr<CameraBackend> createSimulatorBackend()
{
    return std::make_unique<SimBackend>();
}

} // namespace mvcc

namespace mvsim {

/* Installs the cameras of an INI text; removes injected faults. Thread-safe. */
bool configure(const std::string &iniText, std::string *error)
{
    std::vector<mvcc::SimCameraConfig> cameras;
    std::string problem;
    if (!mvcc::parseSimConfig(iniText, cameras, problem)) {
        if (error)
            *error = problem;
        return false;
    }
    mvcc::SimWorld::instance().install(std::move(cameras));
    return true;
}

/* Installs the cameras of an INI file; removes injected faults. Thread-safe. */
bool loadConfig(const std::string &path, std::string *error)
{
    std::vector<mvcc::SimCameraConfig> cameras;
    std::string problem;
    if (!mvcc::SimWorld::loadFile(path, cameras, problem)) {
        if (error)
            *error = path + ": " + problem;
        return false;
    }
    mvcc::SimWorld::instance().install(std::move(cameras));
    return true;
}

/* Back to the cameras of the start, without faults or vanished cameras. Thread-safe. */
void reset()
{
    mvcc::SimWorld::instance().resetToStart();
}

/* See mvsim.h. Thread-safe. */
void setFault(const std::string &operation, int status, const std::string &serial, int count)
{
    mvcc::setFault(operation, status, serial, count);
}

/* Removes every injected fault. Thread-safe. */
void clearFaults()
{
    mvcc::clearFaults();
}

/* See mvsim.h; an unknown serial is ignored. Thread-safe. */
void vanishAfter(const std::string &serial, unsigned int frames)
{
    if (const auto state = mvcc::SimWorld::instance().state(serial)) {
        state->vanishLimit = frames;
        if (frames == 0)
            state->gone = true;
    }
}

/* See mvsim.h; an unknown serial is ignored. Thread-safe. */
void setTarget(const std::string &serial, int level)
{
    if (const auto state = mvcc::SimWorld::instance().state(serial))
        state->target = level < 0 ? -1 : std::min(level, 255);
}

/* The stamped line number, most significant byte in the first pixel. */
uint32_t lineStamp(const unsigned char *pixels, unsigned int bytesPerPixel)
{
    uint32_t line = 0;
    for (unsigned int i = 0; i < 4; ++i)
        line = (line << 8) | pixels[i * bytesPerPixel];
    return line;
}

/* One byte of a simulated camera's picture; see mvsim.h. */
unsigned char scenePixel(const std::string &serial, uint64_t line, unsigned int x, unsigned int channel,
                         MvGvspPixelType format)
{
    return mvcc::sceneByte(mvcc::sceneOffset(serial), line, x, channel, format);
}

} // namespace mvsim
