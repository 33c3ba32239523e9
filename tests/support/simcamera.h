// Camera library test helpers: simulated cameras from an INI text, a handle always released,
// and the conversion and save requests a caller of the C interface makes.
#ifndef SIMCAMERA_H
#define SIMCAMERA_H

#include "MvCameraControl.h"
#include "mvsim.h"

#include <QtTest>

#include <cstring>
#include <string>
#include <vector>

inline int status(unsigned int code)
{
    return static_cast<int>(code);
}

inline std::vector<MV_CC_DEVICE_INFO> enumerateCameras(unsigned int layers = MV_GIGE_DEVICE | MV_USB_DEVICE)
{
    MV_CC_DEVICE_INFO_LIST list{};
    std::vector<MV_CC_DEVICE_INFO> result;
    if (MV_CC_EnumDevices(layers, &list) != MV_OK)
        return result;
    for (unsigned int i = 0; i < list.nDeviceNum; ++i)
        result.push_back(*list.pDeviceInfo[i]);
    return result;
}

inline std::string serialOf(const MV_CC_DEVICE_INFO &info)
{
    const unsigned char *field = info.nTLayerType == MV_GIGE_DEVICE
        ? info.SpecialInfo.stGigEInfo.chSerialNumber
        : info.SpecialInfo.stUsb3VInfo.chSerialNumber;
    return reinterpret_cast<const char *>(field);
}

// Converts a frame to RGB8 through the library: the lengths are what the
// caller claims, which may be more or less than the buffers hold.
inline int convertToRgb(unsigned int type, unsigned int width, unsigned int height, unsigned char *source,
                        unsigned int sourceBytes, unsigned char *target, unsigned int targetBytes,
                        unsigned int *written = nullptr)
{
    MV_CC_PIXEL_CONVERT_PARAM param{};
    param.nWidth = width;
    param.nHeight = height;
    param.enSrcPixelType = type;
    param.pSrcData = source;
    param.nSrcDataLen = sourceBytes;
    param.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
    param.pDstBuffer = target;
    param.nDstBufferSize = targetBytes;
    const int result = MV_CC_ConvertPixelType(nullptr, &param);
    if (written)
        *written = param.nDstLen;
    return result;
}

// A request to save a frame of dataBytes bytes at path; imageType is the raw
// 32 bits a C caller may pass, values outside the enumeration too.
inline MV_SAVE_IMG_TO_FILE_PARAM saveRequest(unsigned char *data, unsigned int dataBytes, unsigned int type,
                                             unsigned int width, unsigned int height, unsigned int imageType,
                                             const char *path)
{
    MV_SAVE_IMG_TO_FILE_PARAM param{};
    param.enPixelType = type;
    param.pData = data;
    param.nDataLen = dataBytes;
    param.nWidth = width;
    param.nHeight = height;
    std::memcpy(&param.enImageType, &imageType, sizeof imageType);
    param.nQuality = 90;
    std::strncpy(param.pImagePath, path, sizeof param.pImagePath - 1);
    return param;
}

// Frames the camera delivered and lost, as its transport's statistics count them.
struct FrameCounts {
    unsigned int received = 0, lost = 0;
};

inline FrameCounts cameraFrameCounts(void *handle)
{
    MV_NETTRANS_INFO net{};
    MV_MATCH_INFO_USB_DETECT usb{};
    MV_ALL_MATCH_INFO match{MV_MATCH_TYPE_USB_DETECT, &usb, sizeof usb};
    if (MV_GIGE_GetNetTransInfo(handle, &net) == MV_OK)
        return {net.nNetRecvFrameCount, unsigned(net.nThrowFrameCount)};
    if (MV_CC_GetAllMatchInfo(handle, &match) == MV_OK)
        return {usb.nReceivedFrameCount, usb.nErrorFrameCount};
    return {};
}

// A handle on the enumerated camera with this serial; destroyed at scope end.
class CameraHandle
{
public:
    explicit CameraHandle(const std::string &serial)
    {
        for (const MV_CC_DEVICE_INFO &info : enumerateCameras())
            if (serialOf(info) == serial) {
                MV_CC_CreateHandle(&handle, &info);
                return;
            }
    }
    ~CameraHandle()
    {
        if (handle)
            MV_CC_DestroyHandle(handle);
    }
    CameraHandle(const CameraHandle &) = delete;
    CameraHandle &operator=(const CameraHandle &) = delete;

    int open() { return MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0); }

    bool start() { return open() == MV_OK && MV_CC_StartGrabbing(handle) == MV_OK; }

    int64_t intValue(const char *name)
    {
        MVCC_INTVALUE_EX value{};
        return MV_CC_GetIntValueEx(handle, name, &value) == MV_OK ? value.nCurValue : -1;
    }

    // Fetches one frame into a buffer of PayloadSize bytes.
    int fetch(std::vector<unsigned char> &frame, MV_FRAME_OUT_INFO_EX &info, unsigned int timeoutMs = 2000)
    {
        frame.resize(static_cast<std::size_t>(intValue("PayloadSize")));
        std::memset(&info, 0, sizeof info);
        return MV_CC_GetOneFrameTimeout(handle, frame.data(), static_cast<unsigned int>(frame.size()), &info,
                                        timeoutMs);
    }

    void *handle = nullptr;
};

// Installs cameras for one test; fails the test when the text is refused.
#define INSTALL_CAMERAS(ini)                                                                                 \
    do {                                                                                                     \
        std::string installError;                                                                            \
        QVERIFY2(mvsim::configure(ini, &installError), installError.c_str());                                \
    } while (0)

#endif // SIMCAMERA_H
