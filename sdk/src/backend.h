// The one interface every camera backend of MVCameraControl implements.
//
// The C layer (mvcameracontrol.cpp) owns everything that is the same for all
// cameras: the handle table, call-order checks, exclusive-open bookkeeping,
// pixel conversion and image saving. A backend only finds its devices and
// drives one device at a time through CameraDevice.
//
// Threading contract the C layer guarantees to a CameraDevice:
//  - every call except getFrame() is serialised by the C layer (one control
//    call at a time per device);
//  - getFrame() is serialised against other getFrame() calls but runs
//    concurrently with control calls, in particular stopGrabbing(), which must
//    make a waiting getFrame() return promptly (MV_E_NODATA or MV_E_CALLORDER);
//  - close() and the destructor are only called when no getFrame() is running;
//  - getFrame() may be called after stopGrabbing() raced with the C layer's own
//    check; it then returns MV_E_CALLORDER without waiting.
#ifndef MVCC_BACKEND_H
#define MVCC_BACKEND_H

#include "MvCameraControl.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mvcc {

// Frame counters of the running stream, since the device was opened.
struct StreamStatistics {
    uint64_t receivedFrames = 0; // frames handed to the host
    uint64_t lostFrames = 0;     // frames the camera or transport had to drop
    int64_t receivedBytes = 0;
};

class CameraDevice
{
public:
    virtual ~CameraDevice() = default;

    // accessMode is one of MV_ACCESS_*; exclusivity between handles of this
    // process is already enforced by the C layer.
    virtual int open(unsigned int accessMode) = 0;
    virtual void close() = 0;
    virtual int startGrabbing() = 0;
    virtual int stopGrabbing() = 0;

    // Copies one frame into buffer (size bytes) and fills info. Returns MV_OK,
    // MV_E_NODATA after timeoutMs, MV_E_BUFOVER when the frame does not fit
    // (never writing past size), MV_E_NODEVICE when the device is gone.
    virtual int getFrame(unsigned char *buffer, unsigned int size, MV_FRAME_OUT_INFO_EX &info,
                         unsigned int timeoutMs)
        = 0;

    // Features by name. Missing feature: MV_E_NOTFOUND; another type:
    // MV_E_TYPE; value outside the range: MV_E_RANGE; read-only: MV_E_ACCESS_RW.
    virtual int getInt(const std::string &name, MVCC_INTVALUE_EX &value) = 0;
    virtual int setInt(const std::string &name, int64_t value) = 0;
    virtual int getFloat(const std::string &name, MVCC_FLOATVALUE &value) = 0;
    virtual int setFloat(const std::string &name, float value) = 0;
    virtual int getEnum(const std::string &name, MVCC_ENUMVALUE &value) = 0;
    virtual int setEnum(const std::string &name, unsigned int value) = 0;
    // Enumerations by entry name: the current entry and the entries available
    // now, in the camera's order; a name no available entry has: MV_E_RANGE.
    virtual int getEnumEntries(const std::string &name, std::string &current,
                               std::vector<std::string> &entries)
        = 0;
    virtual int setEnumByName(const std::string &name, const std::string &entry) = 0;
    virtual int getBool(const std::string &name, bool &value) = 0;
    virtual int setBool(const std::string &name, bool value) = 0;

    // Packet size in bytes (> 0) for GigE devices, or a negative status.
    virtual int optimalPacketSize() = 0;

    virtual int statistics(StreamStatistics &stats) = 0;
};

class CameraBackend
{
public:
    virtual ~CameraBackend() = default;

    // The name used in CORVISTA_CAMERAS ("simulator", "genicam").
    virtual std::string name() const = 0;

    // Appends the devices of the transport layers in tlayerMask (MV_GIGE_DEVICE |
    // MV_USB_DEVICE) to devices. Returns MV_OK or a failure status.
    virtual int enumerate(unsigned int tlayerMask, std::vector<MV_CC_DEVICE_INFO> &devices) = 0;

    // A device for a record this backend enumerated (or an equal copy of it);
    // nullptr when the record is not one of this backend's devices.
    virtual std::unique_ptr<CameraDevice> create(const MV_CC_DEVICE_INFO &info) = 0;
};

// Registration hooks. The simulator is always built; the GenICam backend is
// defined in src/aravis/ when Aravis is found. Without it a weak fallback in
// the registry returns nullptr and "genicam" is simply absent.
std::unique_ptr<CameraBackend> createSimulatorBackend();
std::unique_ptr<CameraBackend> createGenicamBackend();

// The backends chosen by CORVISTA_CAMERAS (comma list of "simulator",
// "genicam"; "none" for no backend; unset or empty: both). Backends are created
// once and live until the process ends; the returned pointers stay valid.
std::vector<CameraBackend *> activeBackends();

// Helpers for filling the fixed-size, zero-terminated text fields of records.
void copyField(unsigned char *field, std::size_t fieldSize, const std::string &text);
std::string fieldText(const unsigned char *field, std::size_t fieldSize);

// The serial number of a device record, from its GigE or USB3 part.
std::string recordSerial(const MV_CC_DEVICE_INFO &info);

} // namespace mvcc

#endif // MVCC_BACKEND_H
