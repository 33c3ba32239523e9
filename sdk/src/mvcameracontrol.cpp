// The C interface of MVCameraControl: handle table, call order, exclusive
// access and statistics over the chosen backends.
#include "MvCameraControl.h"

#include "backend.h"
#include "convert.h"
#include "faults.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

static_assert(sizeof(MV_FRAME_OUT_INFO_EX) == 256, "frame record must stay 256 bytes");
static_assert(sizeof(MV_MATCH_INFO_USB_DETECT) == 24, "USB statistics record must stay 24 bytes");
static_assert(sizeof(MV_SAVE_IMG_TO_FILE_PARAM::pImagePath) == 256, "save path field must stay 256 bytes");
static_assert(sizeof(MV_CC_DEVICE_INFO_LIST) == sizeof(void *) * (MV_MAX_DEVICE_NUM + 1),
              "device list is a count and 256 pointers");
static_assert(MV_MAX_DEVICE_NUM == 256, "device list holds 256 records");
static_assert(sizeof(MVCC_ENUMENTRY_LIST) == 64 + 4 + 64 * 64 + 16, "entry list holds 64 names of 64 bytes");

namespace mvcc {
namespace {

enum class State { Created, Open, Grabbing };

// One handle: a device of a backend and where it is in its life.
struct Handle {
    std::string identity; // backend, transport and serial: what exclusive access is about
    std::string serial;
    unsigned int transport = 0;
    std::unique_ptr<CameraDevice> device;
    std::mutex control; // serialises every device call but getFrame, and state changes
    std::mutex fetch;   // serialises getFrame; close takes it to wait for a running fetch
    std::atomic<State> state{State::Created};
    std::atomic<bool> gone{false};
    // Set under control by DestroyHandle: a call that found the handle just
    // before it left the table must not open the device again behind it.
    bool destroyed = false;
};

std::mutex tableMutex; // protects handleTable, nextHandleId and openDevices
std::map<uintptr_t, std::shared_ptr<Handle>> handleTable;
// Handle values are counters, never addresses, and never reused: a destroyed
// handle can never come back to life as somebody else's camera.
uintptr_t nextHandleId = 0x1000;
std::set<std::string> openDevices;

std::mutex enumerationMutex; // protects enumerated
std::vector<MV_CC_DEVICE_INFO> enumerated;

std::shared_ptr<Handle> lookup(void *handle)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    const auto found = handleTable.find(reinterpret_cast<uintptr_t>(handle));
    return found == handleTable.end() ? nullptr : found->second;
}

bool claimDevice(const std::string &identity)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    return openDevices.insert(identity).second;
}

void releaseDevice(const std::string &identity)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    openDevices.erase(identity);
}

// A status from the device; MV_E_NODEVICE marks the handle's device as gone.
int noted(Handle &handle, int status)
{
    if (static_cast<unsigned int>(status) == MV_E_NODEVICE)
        handle.gone = true;
    return status;
}

// Stops, waits for a running fetch and closes. Caller holds handle.control.
void closeLocked(Handle &handle)
{
    if (handle.state == State::Grabbing) {
        handle.state = State::Open;
        handle.device->stopGrabbing();
    }
    std::lock_guard<std::mutex> fetchLock(handle.fetch);
    handle.device->close();
    handle.state = State::Created;
    releaseDevice(handle.identity);
}

// The common course of a call on an open device: the handle, an injected
// fault, the caller's arguments (check returns a status or MV_OK), a device
// that has gone, the call order; then body under the control lock.
template<typename Check, typename Body>
int openDeviceCall(void *handle, const char *operation, Check check, Body body)
{
    const auto h = lookup(handle);
    if (!h)
        return MV_E_HANDLE;
    if (const int fault = injectedFault(operation, h->serial))
        return fault;
    if (const int problem = check(*h))
        return problem;
    if (h->gone)
        return MV_E_NODEVICE;
    std::lock_guard<std::mutex> lock(h->control);
    if (h->destroyed)
        return MV_E_HANDLE;
    if (h->state == State::Created)
        return MV_E_CALLORDER;
    return noted(*h, body(*h));
}

template<typename Call>
int featureCall(void *handle, const char *operation, const char *key, bool valid, Call call)
{
    return openDeviceCall(
        handle, operation, [&](Handle &) { return key && valid ? int(MV_OK) : int(MV_E_PARAMETER); },
        [&](Handle &h) { return call(*h.device, std::string(key)); });
}

// An entry name into a fixed field, zero-terminated, cut to fit.
void copySymbol(char (&field)[MV_MAX_SYMBOLIC_STRLEN], const std::string &name)
{
    const std::size_t length = std::min(name.size(), sizeof field - 1);
    std::memcpy(field, name.data(), length);
    field[length] = '\0';
}

// Convert and save need no device: a null handle is accepted, an unknown one is not.
int deviceFreeEntry(void *handle, const char *operation)
{
    std::string serial;
    if (handle) {
        const auto h = lookup(handle);
        if (!h)
            return MV_E_HANDLE;
        serial = h->serial;
    }
    return injectedFault(operation, serial);
}

} // namespace
} // namespace mvcc

using namespace mvcc;

extern "C" {

/*
 * Lists the devices of the layers in nTLayerType (MV_GIGE_DEVICE |
 * MV_USB_DEVICE) from every backend chosen by CORVISTA_CAMERAS, simulator
 * first. The records stay valid until the next enumeration in any thread.
 * Returns MV_OK (also with no device), MV_E_PARAMETER (null list, no known
 * layer in the mask) or the status of the backends when every one failed.
 * At most MV_MAX_DEVICE_NUM devices are listed.
 */
int MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST *pstDevList)
{
    if (!pstDevList || (nTLayerType & (MV_GIGE_DEVICE | MV_USB_DEVICE)) == 0)
        return MV_E_PARAMETER;
    std::vector<MV_CC_DEVICE_INFO> found;
    int failure = MV_OK;
    bool anySucceeded = false;
    for (CameraBackend *backend : activeBackends()) {
        std::vector<MV_CC_DEVICE_INFO> devices;
        const int status = backend->enumerate(nTLayerType & (MV_GIGE_DEVICE | MV_USB_DEVICE), devices);
        if (status != MV_OK) {
            failure = failure == MV_OK ? status : failure;
            continue;
        }
        anySucceeded = true;
        found.insert(found.end(), devices.begin(), devices.end());
    }
    // Checked after the backends looked: the simulator's configuration file,
    // read at the first search, may itself set this fault.
    if (const int fault = injectedFault("MV_CC_EnumDevices", std::string()))
        return fault;
    if (!anySucceeded && failure != MV_OK)
        return failure;
    if (found.size() > MV_MAX_DEVICE_NUM)
        found.resize(MV_MAX_DEVICE_NUM);

    std::lock_guard<std::mutex> lock(enumerationMutex);
    enumerated = std::move(found);
    std::memset(pstDevList, 0, sizeof *pstDevList);
    pstDevList->nDeviceNum = static_cast<unsigned int>(enumerated.size());
    for (std::size_t i = 0; i < enumerated.size(); ++i)
        pstDevList->pDeviceInfo[i] = &enumerated[i];
    return MV_OK;
}

/*
 * Creates a handle for a device record (a copy is fine). Returns MV_OK,
 * MV_E_PARAMETER (null pointers, unknown transport layer), MV_E_NODEVICE (no
 * chosen backend knows the device) or MV_E_RESOURCE. *handle is null on failure.
 */
int MV_CC_CreateHandle(void **handle, const MV_CC_DEVICE_INFO *pstDevInfo)
{
    if (!handle)
        return MV_E_PARAMETER;
    *handle = nullptr;
    if (!pstDevInfo
        || (pstDevInfo->nTLayerType != MV_GIGE_DEVICE && pstDevInfo->nTLayerType != MV_USB_DEVICE))
        return MV_E_PARAMETER;
    const std::string serial = recordSerial(*pstDevInfo);
    if (const int fault = injectedFault("MV_CC_CreateHandle", serial))
        return fault;
    for (CameraBackend *backend : activeBackends()) {
        std::unique_ptr<CameraDevice> device = backend->create(*pstDevInfo);
        if (!device)
            continue;
        auto h = std::make_shared<Handle>();
        h->serial = serial;
        h->transport = pstDevInfo->nTLayerType;
        h->identity = backend->name() + ":" + std::to_string(h->transport) + ":" + serial;
        h->device = std::move(device);
        std::lock_guard<std::mutex> lock(tableMutex);
        const uintptr_t id = nextHandleId;
        nextHandleId += 0x10;
        handleTable.emplace(id, std::move(h));
        *handle = reinterpret_cast<void *>(id);
        return MV_OK;
    }
    return MV_E_NODEVICE;
}

/*
 * Releases a handle, stopping and closing its device first. A call of another
 * thread still inside the library on this handle finishes safely (a waiting
 * fetch is woken). Returns MV_OK or MV_E_HANDLE; the handle is invalid after.
 */
int MV_CC_DestroyHandle(void *handle)
{
    const auto h = lookup(handle);
    if (!h)
        return MV_E_HANDLE;
    if (const int fault = injectedFault("MV_CC_DestroyHandle", h->serial))
        return fault;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        if (handleTable.erase(reinterpret_cast<uintptr_t>(handle)) == 0)
            return MV_E_HANDLE; // destroyed meanwhile by another thread
    }
    std::lock_guard<std::mutex> lock(h->control);
    h->destroyed = true;
    if (h->state != State::Created)
        closeLocked(*h);
    return MV_OK;
}

/*
 * Opens the device with exclusive control (every access mode takes it). Returns
 * MV_OK, MV_E_HANDLE, MV_E_PARAMETER (access mode not MV_ACCESS_*),
 * MV_E_CALLORDER (already open through this handle), MV_E_ACCESS (open through
 * another handle), MV_E_NODEVICE, or the backend's status.
 */
int MV_CC_OpenDevice(void *handle, unsigned int nAccessMode, unsigned short)
{
    const auto h = lookup(handle);
    if (!h)
        return MV_E_HANDLE;
    if (const int fault = injectedFault("MV_CC_OpenDevice", h->serial))
        return fault;
    if (nAccessMode != MV_ACCESS_Exclusive && nAccessMode != MV_ACCESS_Control
        && nAccessMode != MV_ACCESS_Monitor)
        return MV_E_PARAMETER;
    if (h->gone)
        return MV_E_NODEVICE;
    std::lock_guard<std::mutex> lock(h->control);
    if (h->destroyed)
        return MV_E_HANDLE;
    if (h->state != State::Created)
        return MV_E_CALLORDER;
    if (!claimDevice(h->identity))
        return MV_E_ACCESS;
    const int status = noted(*h, h->device->open(nAccessMode));
    if (status != MV_OK) {
        releaseDevice(h->identity);
        return status;
    }
    h->state = State::Open;
    return MV_OK;
}

/*
 * Closes the device (stopping grabbing first; a waiting fetch returns).
 * Returns MV_OK (also for a device that has gone), MV_E_HANDLE or
 * MV_E_CALLORDER (not open).
 */
int MV_CC_CloseDevice(void *handle)
{
    const auto h = lookup(handle);
    if (!h)
        return MV_E_HANDLE;
    if (const int fault = injectedFault("MV_CC_CloseDevice", h->serial))
        return fault;
    std::lock_guard<std::mutex> lock(h->control);
    if (h->state == State::Created)
        return MV_E_CALLORDER;
    closeLocked(*h);
    return MV_OK;
}

/*
 * The packet size (> 0) a GigE device should use, or a negative status:
 * MV_E_HANDLE, MV_E_CALLORDER (not open), MV_E_SUPPORT (USB3), MV_E_NODEVICE.
 */
int MV_CC_GetOptimalPacketSize(void *handle)
{
    return openDeviceCall(
        handle, "MV_CC_GetOptimalPacketSize", [](Handle &) { return int(MV_OK); },
        [](Handle &h) { return h.device->optimalPacketSize(); });
}

/*
 * Feature access by name, on an open device. Each returns MV_OK,
 * MV_E_HANDLE, MV_E_PARAMETER (null name or value pointer), MV_E_CALLORDER
 * (not open), MV_E_NOTFOUND (no such feature), MV_E_TYPE (the feature has
 * another type), MV_E_RANGE (value outside its range or list), MV_E_ACCESS_RW
 * (read-only, or locked while grabbing) or MV_E_NODEVICE. Thread-safe; they
 * may run while another thread waits in MV_CC_GetOneFrameTimeout.
 */
int MV_CC_GetIntValueEx(void *handle, const char *strKey, MVCC_INTVALUE_EX *pstIntValue)
{
    return featureCall(handle, "MV_CC_GetIntValueEx", strKey, pstIntValue != nullptr,
                       [&](CameraDevice &d, const std::string &key) { return d.getInt(key, *pstIntValue); });
}

int MV_CC_SetIntValueEx(void *handle, const char *strKey, int64_t nValue)
{
    return featureCall(handle, "MV_CC_SetIntValueEx", strKey, true,
                       [&](CameraDevice &d, const std::string &key) { return d.setInt(key, nValue); });
}

int MV_CC_GetFloatValue(void *handle, const char *strKey, MVCC_FLOATVALUE *pstFloatValue)
{
    return featureCall(
        handle, "MV_CC_GetFloatValue", strKey, pstFloatValue != nullptr,
        [&](CameraDevice &d, const std::string &key) { return d.getFloat(key, *pstFloatValue); });
}

int MV_CC_SetFloatValue(void *handle, const char *strKey, float fValue)
{
    return featureCall(handle, "MV_CC_SetFloatValue", strKey, true,
                       [&](CameraDevice &d, const std::string &key) { return d.setFloat(key, fValue); });
}

int MV_CC_GetEnumValue(void *handle, const char *strKey, MVCC_ENUMVALUE *pstEnumValue)
{
    return featureCall(
        handle, "MV_CC_GetEnumValue", strKey, pstEnumValue != nullptr,
        [&](CameraDevice &d, const std::string &key) { return d.getEnum(key, *pstEnumValue); });
}

int MV_CC_SetEnumValue(void *handle, const char *strKey, unsigned int nValue)
{
    return featureCall(handle, "MV_CC_SetEnumValue", strKey, true,
                       [&](CameraDevice &d, const std::string &key) { return d.setEnum(key, nValue); });
}

/*
 * An enumeration by entry name: the current entry and up to
 * MV_MAX_SYMBOLIC_NUM entries available now, each cut to
 * MV_MAX_SYMBOLIC_STRLEN - 1 characters. Statuses as the calls above; the
 * record is only changed on MV_OK.
 */
int MV_CC_GetEnumEntries(void *handle, const char *strKey, MVCC_ENUMENTRY_LIST *pstEntries)
{
    return featureCall(handle, "MV_CC_GetEnumEntries", strKey, pstEntries != nullptr,
                       [&](CameraDevice &d, const std::string &key) {
                           std::string current;
                           std::vector<std::string> entries;
                           const int status = d.getEnumEntries(key, current, entries);
                           if (status != MV_OK)
                               return status;
                           MVCC_ENUMENTRY_LIST list;
                           std::memset(&list, 0, sizeof list);
                           copySymbol(list.chCurSymbolic, current);
                           for (const std::string &entry : entries) {
                               if (list.nSupportedNum == MV_MAX_SYMBOLIC_NUM)
                                   break;
                               copySymbol(list.chSymbolic[list.nSupportedNum++], entry);
                           }
                           *pstEntries = list;
                           return int(MV_OK);
                       });
}

/* Sets an enumeration to the entry of that name: MV_E_RANGE when none is available. */
int MV_CC_SetEnumValueByString(void *handle, const char *strKey, const char *strValue)
{
    return featureCall(
        handle, "MV_CC_SetEnumValueByString", strKey, strValue != nullptr,
        [&](CameraDevice &d, const std::string &key) { return d.setEnumByName(key, std::string(strValue)); });
}

int MV_CC_GetBoolValue(void *handle, const char *strKey, bool *pbValue)
{
    return featureCall(handle, "MV_CC_GetBoolValue", strKey, pbValue != nullptr,
                       [&](CameraDevice &d, const std::string &key) { return d.getBool(key, *pbValue); });
}

int MV_CC_SetBoolValue(void *handle, const char *strKey, bool bValue)
{
    return featureCall(handle, "MV_CC_SetBoolValue", strKey, true,
                       [&](CameraDevice &d, const std::string &key) { return d.setBool(key, bValue); });
}

/*
 * Starts the stream. Returns MV_OK, MV_E_HANDLE, MV_E_CALLORDER (not open, or
 * already grabbing), MV_E_NODEVICE or the backend's status.
 */
int MV_CC_StartGrabbing(void *handle)
{
    return openDeviceCall(
        handle, "MV_CC_StartGrabbing", [](Handle &) { return int(MV_OK); },
        [](Handle &h) {
            if (h.state != State::Open)
                return int(MV_E_CALLORDER);
            const int status = h.device->startGrabbing();
            if (status == MV_OK)
                h.state = State::Grabbing;
            return status;
        });
}

/*
 * Stops the stream; a MV_CC_GetOneFrameTimeout waiting in another thread
 * returns at once (MV_E_NODATA). Frames not fetched are discarded. Returns
 * MV_OK, MV_E_HANDLE, MV_E_CALLORDER (not grabbing) or MV_E_NODEVICE (the
 * device had gone; the handle is stopped all the same).
 */
int MV_CC_StopGrabbing(void *handle)
{
    const auto h = lookup(handle);
    if (!h)
        return MV_E_HANDLE;
    if (const int fault = injectedFault("MV_CC_StopGrabbing", h->serial))
        return fault;
    std::lock_guard<std::mutex> lock(h->control);
    if (h->state != State::Grabbing)
        return MV_E_CALLORDER;
    h->state = State::Open;
    const int status = noted(*h, h->device->stopGrabbing());
    return h->gone ? MV_E_NODEVICE : status;
}

/*
 * Waits up to nMsec for the next frame and copies it into pData (nDataSize
 * bytes), filling *pstFrameInfo. Returns MV_OK, MV_E_HANDLE, MV_E_PARAMETER
 * (null buffer or record, size 0), MV_E_CALLORDER (not grabbing),
 * MV_E_NODATA (no frame within nMsec, or grabbing stopped meanwhile),
 * MV_E_BUFOVER (the frame is larger than nDataSize: nothing is written and
 * the frame stays queued for the next call) or MV_E_NODEVICE (device gone).
 * Meant for one grab thread; concurrent fetches take turns.
 */
int MV_CC_GetOneFrameTimeout(void *handle, unsigned char *pData, unsigned int nDataSize,
                             MV_FRAME_OUT_INFO_EX *pstFrameInfo, unsigned int nMsec)
{
    const auto h = lookup(handle);
    if (!h)
        return MV_E_HANDLE;
    if (const int fault = injectedFault("MV_CC_GetOneFrameTimeout", h->serial))
        return fault;
    if (!pData || !pstFrameInfo || nDataSize == 0)
        return MV_E_PARAMETER;
    if (h->gone)
        return MV_E_NODEVICE;
    std::lock_guard<std::mutex> lock(h->fetch);
    if (h->state != State::Grabbing)
        return MV_E_CALLORDER;
    return noted(*h, h->device->getFrame(pData, nDataSize, *pstFrameInfo, nMsec));
}

/*
 * Converts Mono8/10/12/16, Mono10p, Mono12p, Mono12_Packed, the four Bayer 8
 * formats, RGB8, BGR8 and YUV422_8/YCBCR422_8 to packed RGB8
 * (PixelType_Gvsp_RGB8_Packed); gray formats show their 8 most significant
 * bits.
 * Needs no device: handle may be null (an unknown non-null handle is
 * MV_E_HANDLE). Returns MV_OK with nDstLen set, MV_E_PARAMETER (null param or
 * buffers, zero size, source shorter than width*height*bytes per pixel,
 * result over 4 GiB or beyond 64 bits), MV_E_SUPPORT (other formats), MV_E_BUFOVER (destination
 * smaller than width*height*3; nothing written). Reentrant.
 */
int MV_CC_ConvertPixelType(void *handle, MV_CC_PIXEL_CONVERT_PARAM *pstCvtParam)
{
    if (const int status = deviceFreeEntry(handle, "MV_CC_ConvertPixelType"))
        return status;
    if (!pstCvtParam)
        return MV_E_PARAMETER;
    return convertPixels(*pstCvtParam);
}

/*
 * Lost and received frames of a GigE device's current stream. Returns MV_OK,
 * MV_E_HANDLE, MV_E_PARAMETER (null record), MV_E_SUPPORT (not GigE),
 * MV_E_CALLORDER (not open) or MV_E_NODEVICE.
 */
int MV_GIGE_GetNetTransInfo(void *handle, MV_NETTRANS_INFO *pstInfo)
{
    const auto check = [&](Handle &h) {
        if (!pstInfo)
            return int(MV_E_PARAMETER);
        return h.transport == MV_GIGE_DEVICE ? int(MV_OK) : int(MV_E_SUPPORT);
    };
    return openDeviceCall(handle, "MV_GIGE_GetNetTransInfo", check, [&](Handle &h) {
        StreamStatistics stats;
        if (const int status = h.device->statistics(stats))
            return status;
        std::memset(pstInfo, 0, sizeof *pstInfo);
        pstInfo->nReceiveDataSize = stats.receivedBytes;
        pstInfo->nThrowFrameCount = static_cast<int>(stats.lostFrames);
        pstInfo->nNetRecvFrameCount = static_cast<unsigned int>(stats.receivedFrames);
        return int(MV_OK);
    });
}

/*
 * Transport statistics by type. MV_MATCH_TYPE_USB_DETECT on a USB3 device
 * fills a MV_MATCH_INFO_USB_DETECT (received and error = lost frames).
 * Returns MV_OK, MV_E_HANDLE, MV_E_PARAMETER (null record or pInfo, nInfoSize
 * too small, unknown type), MV_E_SUPPORT (type not available on this device's
 * transport), MV_E_CALLORDER (not open) or MV_E_NODEVICE.
 */
int MV_CC_GetAllMatchInfo(void *handle, MV_ALL_MATCH_INFO *pstInfo)
{
    const auto check = [&](Handle &h) {
        if (!pstInfo || !pstInfo->pInfo)
            return int(MV_E_PARAMETER);
        if (pstInfo->nType == MV_MATCH_TYPE_NET_DETECT)
            return int(MV_E_SUPPORT);
        if (pstInfo->nType != MV_MATCH_TYPE_USB_DETECT
            || pstInfo->nInfoSize < sizeof(MV_MATCH_INFO_USB_DETECT))
            return int(MV_E_PARAMETER);
        return h.transport == MV_USB_DEVICE ? int(MV_OK) : int(MV_E_SUPPORT);
    };
    return openDeviceCall(handle, "MV_CC_GetAllMatchInfo", check, [&](Handle &h) {
        StreamStatistics stats;
        if (const int status = h.device->statistics(stats))
            return status;
        MV_MATCH_INFO_USB_DETECT info;
        std::memset(&info, 0, sizeof info);
        info.nReceiveDataSize = stats.receivedBytes;
        info.nReceivedFrameCount = static_cast<unsigned int>(stats.receivedFrames);
        info.nErrorFrameCount = static_cast<unsigned int>(stats.lostFrames);
        std::memcpy(pstInfo->pInfo, &info, sizeof info);
        return int(MV_OK);
    });
}

/*
 * Encodes a raw frame of any format MV_CC_ConvertPixelType takes (gray ones
 * as 8-bit gray) as BMP, JPEG, PNG or TIFF
 * (MV_Image_Bmp .. MV_Image_Tif) and writes it to pImagePath (local 8-bit
 * encoding). JPEG quality is clamped to 55..99, the PNG compression level to
 * 0..9. Needs no device: handle may be null (an unknown non-null handle is
 * MV_E_HANDLE). Returns MV_OK, MV_E_PARAMETER (null param or data, zero size,
 * data shorter than the frame, a line too long to encode, empty or
 * unterminated path, unknown image type), MV_E_SUPPORT (pixel type with the
 * top bit set or not convertible; an encoder missing), MV_E_RESOURCE or
 * MV_E_WRITEFILE (nothing written, errno holds the system's reason). The file
 * appears whole or not at all and never replaces an existing one: when
 * pImagePath is taken, the frame goes to "<name>_2.<ext>" (then _3, ...) and
 * pImagePath is rewritten to the name used. Reentrant.
 */
int MV_CC_SaveImageToFile(void *handle, MV_SAVE_IMG_TO_FILE_PARAM *pstSaveFileParam)
{
    if (const int status = deviceFreeEntry(handle, "MV_CC_SaveImageToFile"))
        return status;
    if (!pstSaveFileParam)
        return MV_E_PARAMETER;
    int systemError = 0;
    const int status = saveImageToFile(*pstSaveFileParam, &systemError);
    // Set last, after every destructor of the save has run.
    if (systemError != 0)
        errno = systemError;
    return status;
}

} // extern "C"
