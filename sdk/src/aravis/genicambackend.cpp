// The GenICam backend: GigE Vision and USB3 Vision cameras found by Aravis.
#include "backend.h"
#include "genicamdevice.h"
#include "genicamrules.h"

#include <arv.h>

#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

namespace mvcc {

namespace {

// What identifies a camera of a search when its record comes back to create().
struct DeviceKey {
    unsigned int transport;
    std::string serial;
    std::string place; // GigE: dotted address; USB3: Aravis device id
    bool operator<(const DeviceKey &other) const
    {
        return std::tie(transport, serial, place) < std::tie(other.transport, other.serial, other.place);
    }
};

std::string textOr(const char *text)
{
    return text ? std::string(text) : std::string();
}

std::string dottedAddress(uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "."
        + std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

class GenicamBackend final : public CameraBackend
{
public:
    GenicamBackend()
    {
        // Lets a camera configured for another subnet answer the search by
        // broadcast; it is then listed (and can be given a proper address).
        arv_set_interface_flags("GigEVision", ARV_GV_INTERFACE_FLAGS_ALLOW_BROADCAST_DISCOVERY_ACK);
    }

    std::string name() const override { return "genicam"; }

    int enumerate(unsigned int tlayerMask, std::vector<MV_CC_DEVICE_INFO> &devices) override;
    std::unique_ptr<CameraDevice> create(const MV_CC_DEVICE_INFO &info) override;

private:
    std::mutex knownMutex_; // protects known_
    // Cameras of the last search, with the full name to open each by (the
    // record's fields may have cut it short).
    std::map<DeviceKey, std::string> known_;
};

/*
 * Lists the GigE Vision and USB3 Vision cameras Aravis finds (GigE: by a
 * broadcast on every interface, loopback included) whose transport is in
 * tlayerMask. Names are truncated to the record fields, always
 * zero-terminated. A GigE camera without an IPv4 address is not listed: it
 * could not be opened. Returns MV_OK. Any thread; blocks for Aravis's
 * discovery time.
 */
int GenicamBackend::enumerate(unsigned int tlayerMask, std::vector<MV_CC_DEVICE_INFO> &devices)
{
    std::map<DeviceKey, std::string> found;
    {
        std::lock_guard<std::mutex> lock(genicamSystemMutex());
        arv_update_device_list();
        const unsigned int count = arv_get_n_devices();
        for (unsigned int i = 0; i < count; ++i) {
            const std::string protocol = textOr(arv_get_device_protocol(i));
            const unsigned int transport = protocol == "GigEVision" ? MV_GIGE_DEVICE
                : protocol == "USB3Vision"                          ? MV_USB_DEVICE
                                                                    : 0u;
            if ((transport & tlayerMask) == 0)
                continue;
            const std::string vendor = textOr(arv_get_device_vendor(i));
            const std::string model = textOr(arv_get_device_model(i));
            const std::string serial = textOr(arv_get_device_serial_nbr(i));

            MV_CC_DEVICE_INFO info;
            std::memset(&info, 0, sizeof info);
            info.nTLayerType = transport;
            if (transport == MV_GIGE_DEVICE) {
                MV_GIGE_DEVICE_INFO &gige = info.SpecialInfo.stGigEInfo;
                uint32_t address = 0;
                if (!genicam::parseIpv4(textOr(arv_get_device_address(i)), address))
                    continue;
                gige.nCurrentIp = address;
                genicam::parseMac(textOr(arv_get_device_physical_id(i)), info.nMacAddrHigh, info.nMacAddrLow);
                copyField(gige.chManufacturerName, sizeof gige.chManufacturerName, vendor);
                copyField(gige.chModelName, sizeof gige.chModelName, model);
                copyField(gige.chSerialNumber, sizeof gige.chSerialNumber, serial);
                copyField(gige.chManufacturerSpecificInfo, sizeof gige.chManufacturerSpecificInfo,
                          textOr(arv_get_device_manufacturer_info(i)));
                found[{transport, fieldText(gige.chSerialNumber, sizeof gige.chSerialNumber),
                       dottedAddress(address)}]
                    = dottedAddress(address);
            } else {
                MV_USB3_DEVICE_INFO &usb = info.SpecialInfo.stUsb3VInfo;
                const std::string id = textOr(arv_get_device_id(i));
                copyField(usb.chVendorName, sizeof usb.chVendorName, vendor);
                copyField(usb.chManufacturerName, sizeof usb.chManufacturerName, vendor);
                copyField(usb.chModelName, sizeof usb.chModelName, model);
                copyField(usb.chSerialNumber, sizeof usb.chSerialNumber, serial);
                copyField(usb.chDeviceGUID, sizeof usb.chDeviceGUID, id);
                found[{transport, fieldText(usb.chSerialNumber, sizeof usb.chSerialNumber),
                       fieldText(usb.chDeviceGUID, sizeof usb.chDeviceGUID)}]
                    = id;
            }
            devices.push_back(info);
        }
    }
    std::lock_guard<std::mutex> lock(knownMutex_);
    known_ = std::move(found);
    return MV_OK;
}

/*
 * A device for a record of the last search (or an equal copy); nullptr for
 * any other record, such as a simulated camera's. Any thread.
 */
std::unique_ptr<CameraDevice> GenicamBackend::create(const MV_CC_DEVICE_INFO &info)
{
    DeviceKey key{info.nTLayerType, {}, {}};
    if (info.nTLayerType == MV_GIGE_DEVICE) {
        const MV_GIGE_DEVICE_INFO &gige = info.SpecialInfo.stGigEInfo;
        key.serial = fieldText(gige.chSerialNumber, sizeof gige.chSerialNumber);
        key.place = dottedAddress(gige.nCurrentIp);
    } else if (info.nTLayerType == MV_USB_DEVICE) {
        const MV_USB3_DEVICE_INFO &usb = info.SpecialInfo.stUsb3VInfo;
        key.serial = fieldText(usb.chSerialNumber, sizeof usb.chSerialNumber);
        key.place = fieldText(usb.chDeviceGUID, sizeof usb.chDeviceGUID);
    } else {
        return nullptr;
    }
    GenicamTarget target;
    {
        std::lock_guard<std::mutex> lock(knownMutex_);
        const auto known = known_.find(key);
        if (known == known_.end())
            return nullptr;
        target.openName = known->second;
    }
    target.transport = key.transport;
    target.serial = key.serial;
    return std::make_unique<BoundedDevice>(std::make_shared<GenicamDevice>(std::move(target)));
}

} // namespace

/* The GenICam backend; overrides the registry's weak fallback. */
std::unique_ptr<CameraBackend> createGenicamBackend()
{
    return std::make_unique<GenicamBackend>();
}

} // namespace mvcc
