#include "camera.h"

#include "deviceentry.h"
#include "workthread.h"

#include <QMutexLocker>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

Camera::Camera() = default;

Camera::~Camera()
{
    close();
}

/*
 * Fills `list` with the GigE and USB3 cameras the library finds; the count
 * is never trusted beyond the list's capacity. Any thread.
 */
bool Camera::enumerate(MV_CC_DEVICE_INFO_LIST &list)
{
    std::memset(&list, 0, sizeof list);
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK)
        return false;
    list.nDeviceNum = std::min<unsigned int>(list.nDeviceNum, MV_MAX_DEVICE_NUM);
    return true;
}

/*
 * Opens `record` exclusively and leaves no handle behind when it cannot.
 * Owner's thread.
 */
Camera::OpenResult Camera::open(const MV_CC_DEVICE_INFO &record, QString *packetWarning)
{
    if (m_handle)
        return OpenResult::AlreadyOpen;
    m_deviceInfo = record;
    if (MV_CC_CreateHandle(&m_handle, &m_deviceInfo) != MV_OK) {
        m_handle = nullptr;
        return OpenResult::CreateFailed;
    }
    if (MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0) != MV_OK) {
        MV_CC_DestroyHandle(m_handle);
        m_handle = nullptr;
        return OpenResult::OpenFailed;
    }
    if (isGigE()) {
        const int packetSize = MV_CC_GetOptimalPacketSize(m_handle);
        QString warning;
        if (packetSize <= 0)
            warning = QStringLiteral("Warning: Get Packet Size fail!");
        else if (MV_CC_SetIntValueEx(m_handle, "GevSCPSPacketSize", packetSize) != MV_OK)
            warning = QStringLiteral("Warning: Set Packet Size fail!");
        if (packetWarning)
            *packetWarning = warning;
    }
    return OpenResult::Opened;
}

void Camera::close()
{
    if (!m_handle)
        return;
    QMutexLocker cameraLock(&m_cameraMutex);
    MV_CC_StopGrabbing(m_handle);
    MV_CC_CloseDevice(m_handle);
    MV_CC_DestroyHandle(m_handle);
    m_handle = nullptr;
}

bool Camera::startGrabbing()
{
    return m_handle && MV_CC_StartGrabbing(m_handle) == MV_OK;
}

/* Stopping wakes a fetch that waits for a frame. Any thread. */
void Camera::stopGrabbing()
{
    if (m_handle)
        MV_CC_StopGrabbing(m_handle);
}

QString Camera::modelName() const
{
    return deviceModelName(m_deviceInfo);
}

QString Camera::serialNumber() const
{
    return deviceSerialNumber(m_deviceInfo);
}

QSize Camera::frameSize() const
{
    if (!m_handle)
        return QSize();
    MVCC_INTVALUE_EX width{};
    MVCC_INTVALUE_EX height{};
    if (MV_CC_GetIntValueEx(m_handle, "Width", &width) != MV_OK
        || MV_CC_GetIntValueEx(m_handle, "Height", &height) != MV_OK)
        return QSize();
    if (width.nCurValue <= 0 || height.nCurValue <= 0 || width.nCurValue > INT_MAX
        || height.nCurValue > INT_MAX)
        return QSize();
    return QSize(int(width.nCurValue), int(height.nCurValue));
}

bool Camera::streamCounters(int &lost, int &received) const
{
    return m_handle && readStreamCounters(m_handle, isGigE(), lost, received);
}

int Camera::setFloat(const char *feature, double value)
{
    return m_handle ? MV_CC_SetFloatValue(m_handle, feature, float(value)) : int(MV_E_HANDLE);
}

int Camera::setBool(const char *feature, bool value)
{
    return m_handle ? MV_CC_SetBoolValue(m_handle, feature, value) : int(MV_E_HANDLE);
}

int Camera::setInt(const char *feature, qint64 value)
{
    return m_handle ? MV_CC_SetIntValueEx(m_handle, feature, value) : int(MV_E_HANDLE);
}

/* The rate counts only with the camera's line-rate control switched on. */
int Camera::setLineRate(qint64 hz)
{
    if (!m_handle)
        return int(MV_E_HANDLE);
    MV_CC_SetBoolValue(m_handle, "AcquisitionLineRateEnable", true);
    return MV_CC_SetIntValueEx(m_handle, "AcquisitionLineRate", hz);
}

/*
 * A camera ignores a set exposure time in any other mode, and one left in
 * automatic exposure overrules it; one without these features still takes the time.
 */
int Camera::setExposureUs(double us)
{
    if (!m_handle)
        return int(MV_E_HANDLE);
    MV_CC_SetEnumValue(m_handle, "ExposureMode", 0);
    MV_CC_SetEnumValue(m_handle, "ExposureAuto", 0);
    return MV_CC_SetFloatValue(m_handle, "ExposureTime", float(us));
}

int Camera::setGainDb(double db)
{
    if (!m_handle)
        return int(MV_E_HANDLE);
    MV_CC_SetEnumValue(m_handle, "GainAuto", 0);
    return MV_CC_SetFloatValue(m_handle, "Gain", float(db));
}

/*
 * The buffer grows with the frames and is never shrunk: a frame of the usual
 * size costs a copy, not an allocation. Without memory the frame is not kept.
 */
void Camera::keepLatestFrame(const unsigned char *data, const MV_FRAME_OUT_INFO_EX &info)
{
    const unsigned int frameLen = info.nFrameLen;
    if (!m_lastFrameBuffer || frameLen > m_lastFrameBufferSize) {
        m_lastFrameBuffer.reset();
        m_lastFrameBufferSize = 0;
        m_lastFrameBuffer.reset(new (std::nothrow) unsigned char[std::max(frameLen, 1u)]);
        if (!m_lastFrameBuffer)
            return;
    }
    m_lastFrameBufferSize = frameLen;
    std::memcpy(m_lastFrameBuffer.get(), data, frameLen);
    m_lastFrameInfo = info;
}

bool Camera::copyLatestFrame(std::vector<unsigned char> &frame, MV_FRAME_OUT_INFO_EX &info) const
{
    QMutexLocker frameLock(&m_frameMutex);
    info = m_lastFrameInfo;
    if (!m_lastFrameBuffer)
        return false;
    try {
        frame.assign(m_lastFrameBuffer.get(), m_lastFrameBuffer.get() + m_lastFrameBufferSize);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void Camera::forgetLatestFrame()
{
    QMutexLocker frameLock(&m_frameMutex);
    m_lastFrameBuffer.reset();
    m_lastFrameBufferSize = 0;
}

bool Camera::pixelType(unsigned int &type) const
{
    MVCC_ENUMVALUE format{};
    if (!m_handle || MV_CC_GetEnumValue(m_handle, "PixelFormat", &format) != MV_OK)
        return false;
    type = format.nCurValue;
    return true;
}

bool Camera::exposureUs(double &us) const
{
    MVCC_FLOATVALUE exposure{};
    if (!m_handle || MV_CC_GetFloatValue(m_handle, "ExposureTime", &exposure) != MV_OK)
        return false;
    us = exposure.fCurValue;
    return true;
}

/* The line trigger is selector 0; a camera without trigger features runs free. */
bool Camera::lineTriggered() const
{
    MVCC_ENUMVALUE selector{}, mode{};
    return m_handle && MV_CC_GetEnumValue(m_handle, "TriggerSelector", &selector) == MV_OK
        && selector.nCurValue == 0 && MV_CC_GetEnumValue(m_handle, "TriggerMode", &mode) == MV_OK
        && mode.nCurValue == 1;
}

bool Camera::requestedLineRate(qint64 &hz) const
{
    bool rateOn = false;
    MVCC_INTVALUE_EX requested{};
    if (!m_handle || MV_CC_GetBoolValue(m_handle, "AcquisitionLineRateEnable", &rateOn) != MV_OK || !rateOn
        || MV_CC_GetIntValueEx(m_handle, "AcquisitionLineRate", &requested) != MV_OK)
        return false;
    hz = requested.nCurValue;
    return true;
}

int Camera::saveImage(MV_SAVE_IMG_TO_FILE_PARAM &param) const
{
    return MV_CC_SaveImageToFile(m_handle, &param);
}
