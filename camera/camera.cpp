#include "camera.h"

#include "deviceentry.h"
#include "workthread.h"

#include <QMutexLocker>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

namespace {

// JPEG 55..99 and PNG 0..9 are all the library takes (the stitched files
// keep to the same ranges); other types have no quality.
unsigned int snapshotQuality(int imageType, int quality)
{
    if (imageType == MV_Image_Jpeg)
        return static_cast<unsigned int>(std::clamp(quality, 55, 99));
    if (imageType == MV_Image_Png)
        return static_cast<unsigned int>(std::clamp(quality, 0, 9));
    return 0;
}

} // namespace

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
    m_grabbing = false;
}

bool Camera::startGrabbing()
{
    const bool started = m_handle && MV_CC_StartGrabbing(m_handle) == MV_OK;
    if (started)
        m_grabbing = true;
    return started;
}

/* Stopping wakes a fetch that waits for a frame. Any thread. */
void Camera::stopGrabbing()
{
    if (m_handle)
        MV_CC_StopGrabbing(m_handle);
    m_grabbing = false;
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

/*
 * The owner's calls are serialised with a Stop that holds the lock while the
 * grab thread ends. Checked under the lock: close() clears the handle under it.
 */
template<class Call>
int Camera::locked(Call call) const
{
    QMutexLocker cameraLock(&m_cameraMutex);
    return m_handle ? call(m_handle) : int(MV_E_HANDLE);
}

/*
 * The three readings fill `value` with what the library reports, zeros
 * included when it fails. Owner's thread, not holding callMutex().
 */
int Camera::floatFeature(const char *feature, FloatFeature *value) const
{
    MVCC_FLOATVALUE record{};
    const int status = locked([&](void *handle) { return MV_CC_GetFloatValue(handle, feature, &record); });
    *value = {record.fCurValue, record.fMin, record.fMax};
    return status;
}

int Camera::intFeature(const char *feature, IntFeature *value) const
{
    MVCC_INTVALUE_EX record{};
    const int status = locked([&](void *handle) { return MV_CC_GetIntValueEx(handle, feature, &record); });
    *value = {record.nCurValue, record.nMin, record.nMax};
    return status;
}

int Camera::boolFeature(const char *feature, bool *value) const
{
    return locked([&](void *handle) { return MV_CC_GetBoolValue(handle, feature, value); });
}

int Camera::setFloat(const char *feature, double value)
{
    return locked([&](void *handle) { return MV_CC_SetFloatValue(handle, feature, float(value)); });
}

int Camera::setBool(const char *feature, bool value)
{
    return locked([&](void *handle) { return MV_CC_SetBoolValue(handle, feature, value); });
}

int Camera::setInt(const char *feature, qint64 value)
{
    return locked([&](void *handle) { return MV_CC_SetIntValueEx(handle, feature, value); });
}

/* The rate counts only with the camera's line-rate control switched on. */
int Camera::setLineRate(qint64 hz)
{
    return locked([&](void *handle) {
        MV_CC_SetBoolValue(handle, "AcquisitionLineRateEnable", true);
        return MV_CC_SetIntValueEx(handle, "AcquisitionLineRate", hz);
    });
}

/*
 * A camera ignores a set exposure time in any other mode, and one left in
 * automatic exposure overrules it; one without these features still takes the time.
 */
int Camera::setExposureUs(double us)
{
    return locked([&](void *handle) {
        MV_CC_SetEnumValue(handle, "ExposureMode", 0);
        MV_CC_SetEnumValue(handle, "ExposureAuto", 0);
        return MV_CC_SetFloatValue(handle, "ExposureTime", float(us));
    });
}

int Camera::setGainDb(double db)
{
    return locked([&](void *handle) {
        MV_CC_SetEnumValue(handle, "GainAuto", 0);
        return MV_CC_SetFloatValue(handle, "Gain", float(db));
    });
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

bool Camera::hasLatestFrame() const
{
    QMutexLocker frameLock(&m_frameMutex);
    return m_lastFrameBuffer != nullptr;
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

/*
 * Writes the latest raw frame to `path` as `imageType` (MV_Image_Bmp, _Jpeg,
 * _Png or _Tif) with `quality` (JPEG 55..99, PNG 0..9, clamped). Returns the
 * library's status, 0 on success; MV_E_NODATA without a frame, MV_E_RESOURCE
 * without memory for its copy, MV_E_SUPPORT for a vendor-specific pixel type,
 * MV_E_PARAMETER for a path of 256 bytes or more in the local encoding.
 * savedPath, when given, receives the path the library wrote (a taken name
 * gets a numbered one); systemError the system's errno behind
 * MV_E_WRITEFILE, else 0. The frame is copied under frameMutex() and written
 * without it: the grab thread takes that lock with every frame and must not
 * wait for the disk. Owner's thread.
 */
int Camera::saveSnapshot(const QString &path, int imageType, int quality, QString *savedPath,
                         int *systemError) const
{
    if (systemError)
        *systemError = 0;
    std::vector<unsigned char> frame;
    MV_FRAME_OUT_INFO_EX info{};
    if (!copyLatestFrame(frame, info) && hasLatestFrame())
        return int(MV_E_RESOURCE);
    MV_SAVE_IMG_TO_FILE_PARAM param{};
    const int status
        = prepareSnapshotParam(info, frame.empty() ? nullptr : frame.data(), unsigned(frame.size()),
                               path.toLocal8Bit(), imageType, quality, &param);
    if (status != MV_OK)
        return status;
    const int saved = MV_CC_SaveImageToFile(m_handle, &param);
    if (saved == int(MV_E_WRITEFILE) && systemError)
        *systemError = errno;
    if (saved == MV_OK && savedPath)
        *savedPath = QString::fromLocal8Bit(param.pImagePath);
    return saved;
}

/*
 * Fills `param` for saving a raw frame. `frameBuffer` holds `frameBufferSize`
 * bytes; the data length handed on never exceeds it, whatever the information
 * record claims. `localPath` is the target in the local 8-bit encoding.
 * Returns MV_OK, or MV_E_NODATA when there is no frame (no buffer or pixel
 * type 0), MV_E_SUPPORT for a vendor-specific pixel type (top bit set),
 * MV_E_PARAMETER when the path does not fit the record's 256-byte field with
 * its terminator. Pure; any thread.
 */
int Camera::prepareSnapshotParam(const MV_FRAME_OUT_INFO_EX &frameInfo, unsigned char *frameBuffer,
                                 unsigned int frameBufferSize, const QByteArray &localPath, int imageType,
                                 int quality, MV_SAVE_IMG_TO_FILE_PARAM *param)
{
    *param = MV_SAVE_IMG_TO_FILE_PARAM{};
    if (!frameBuffer || frameInfo.enPixelType == PixelType_Gvsp_Undefined)
        return static_cast<int>(MV_E_NODATA);
    if (frameInfo.enPixelType & PixelType_Gvsp_CustomFlag)
        return static_cast<int>(MV_E_SUPPORT);
    if (localPath.size() >= MV_MAX_PATH_LEN)
        return static_cast<int>(MV_E_PARAMETER);

    param->enPixelType = frameInfo.enPixelType;
    param->nWidth = frameInfo.nWidth;
    param->nHeight = frameInfo.nHeight;
    param->nDataLen = std::min(frameInfo.nFrameLen, frameBufferSize);
    param->pData = frameBuffer;
    param->enImageType = static_cast<MV_SAVE_IAMGE_TYPE>(imageType);
    param->nQuality = snapshotQuality(imageType, quality);
    param->iMethodValue = 0;
    std::memcpy(param->pImagePath, localPath.constData(), static_cast<size_t>(localPath.size()));
    param->pImagePath[localPath.size()] = '\0';
    return MV_OK;
}
