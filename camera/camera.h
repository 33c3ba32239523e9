#ifndef CAMERA_H
#define CAMERA_H

#include <QByteArray>
#include <QMutex>
#include <QSize>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

#include "MvCameraControl.h"

/*
 * One camera of the library: the list the library finds, the handle of the
 * one opened, its start and stop, the latest raw frame and its snapshot, and
 * the feature calls a run and the settings dialog need. The grab thread reads
 * the handle and keeps the latest frame; everything else is the owner's thread.
 */
class Camera
{
public:
    // Why open() failed; Opened when it did not.
    enum class OpenResult { Opened, AlreadyOpen, CreateFailed, OpenFailed };

    Camera();
    ~Camera();
    Camera(const Camera &) = delete;
    Camera &operator=(const Camera &) = delete;

    // The GigE and USB3 cameras the library finds; false when it cannot search.
    static bool enumerate(MV_CC_DEVICE_INFO_LIST &list);

    // Opens `record` exclusively. A GigE camera is given its best packet size;
    // *packetWarning, when given, receives the text when that fails (the
    // camera stays open).
    OpenResult open(const MV_CC_DEVICE_INFO &record, QString *packetWarning = nullptr);
    // Stops grabbing, closes and destroys the handle; statuses are not examined
    // (a vanished camera fails them harmlessly). The grab thread must have ended.
    void close();
    bool startGrabbing();
    void stopGrabbing();
    // Set by a startGrabbing() that succeeds, cleared by stopGrabbing() and close().
    bool isGrabbing() const { return m_grabbing.load(); }

    void *handle() const { return m_handle; }
    bool hasHandle() const { return m_handle != nullptr; }
    const MV_CC_DEVICE_INFO &deviceInfo() const { return m_deviceInfo; }
    bool isGigE() const { return m_deviceInfo.nTLayerType == MV_GIGE_DEVICE; }
    QString modelName() const;
    QString serialNumber() const;
    // Width x Height as grabbed; invalid when the camera cannot tell.
    QSize frameSize() const;
    // The library's frame counters of the running stream; false when it cannot tell.
    bool streamCounters(int &lost, int &received) const;

    // A feature's value and the range the camera allows for it now.
    struct FloatFeature {
        float current = 0;
        float minimum = 0;
        float maximum = 0;
    };
    struct IntFeature {
        qint64 current = 0;
        qint64 minimum = 0;
        qint64 maximum = 0;
    };

    // Feature calls. Each takes callMutex() for itself and returns the
    // library's status, MV_E_HANDLE without an open camera.
    int floatFeature(const char *feature, FloatFeature *value) const;
    int intFeature(const char *feature, IntFeature *value) const;
    int boolFeature(const char *feature, bool *value) const;
    int setFloat(const char *feature, double value);
    int setBool(const char *feature, bool value);
    int setInt(const char *feature, qint64 value);
    int setLineRate(qint64 hz);
    int setExposureUs(double us);
    int setGainDb(double db);

    // Readings a caller takes together under callMutex().
    // The pixel format's code; false when the camera cannot tell.
    bool pixelType(unsigned int &type) const;
    // The exposure time; false when the camera cannot tell.
    bool exposureUs(double &us) const;
    // Whether lines start on the line trigger rather than the camera's own rate.
    bool lineTriggered() const;
    // The rate asked of the camera's line-rate control; false when it is off or unknown.
    bool requestedLineRate(qint64 &hz) const;

    // Writes the latest raw frame through the library; its status.
    int saveSnapshot(const QString &path, int imageType, int quality, QString *savedPath = nullptr,
                     int *systemError = nullptr) const;
    // The library's record for a snapshot of a raw frame; its status.
    static int prepareSnapshotParam(const MV_FRAME_OUT_INFO_EX &frameInfo, unsigned char *frameBuffer,
                                    unsigned int frameBufferSize, const QByteArray &localPath, int imageType,
                                    int quality, MV_SAVE_IMG_TO_FILE_PARAM *param);

    // Grab thread, holding frameMutex(): keeps a copy of the raw frame just fetched.
    void keepLatestFrame(const unsigned char *data, const MV_FRAME_OUT_INFO_EX &info);
    // Copies the latest raw frame; false without one or without memory.
    bool copyLatestFrame(std::vector<unsigned char> &frame, MV_FRAME_OUT_INFO_EX &info) const;
    bool hasLatestFrame() const;
    void forgetLatestFrame();

    // For the owner's members that name these; the locks below guard them.
    void *&handleSlot() { return m_handle; }
    MV_CC_DEVICE_INFO &deviceInfoSlot() { return m_deviceInfo; }
    std::unique_ptr<unsigned char[]> &latestFrameSlot() { return m_lastFrameBuffer; }
    unsigned int &latestFrameSizeSlot() { return m_lastFrameBufferSize; }
    MV_FRAME_OUT_INFO_EX &latestFrameInfoSlot() { return m_lastFrameInfo; }
    QMutex &frameMutex() const { return m_frameMutex; }
    QMutex &callMutex() const { return m_cameraMutex; }

private:
    // Runs `call` on the handle under m_cameraMutex; MV_E_HANDLE without one.
    template<class Call>
    int locked(Call call) const;

    void *m_handle = nullptr;
    std::atomic<bool> m_grabbing{false};
    MV_CC_DEVICE_INFO m_deviceInfo{};

    std::unique_ptr<unsigned char[]> m_lastFrameBuffer;
    unsigned int m_lastFrameBufferSize = 0;
    MV_FRAME_OUT_INFO_EX m_lastFrameInfo{};
    mutable QMutex m_frameMutex;  /* Protects m_lastFrameBuffer, m_lastFrameBufferSize and m_lastFrameInfo */
    mutable QMutex m_cameraMutex; /* Serialises the owner's library calls on m_handle */
};

#endif // CAMERA_H
