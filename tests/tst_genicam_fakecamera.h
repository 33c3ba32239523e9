// Aravis's fake GigE Vision camera (arv-fake-gv-camera-0.8) as a process of
// the test, answering on 127.0.0.1 only, and searches for it through the
// camera library. Shared by the GenICam tests.
#ifndef TST_GENICAM_FAKECAMERA_H
#define TST_GENICAM_FAKECAMERA_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <cstring>
#include <vector>

#include "MvCameraControl.h"

namespace genicamtest {

constexpr unsigned int loopbackAddress = 0x7F000001u;

// The fake camera's program, or an empty text when Aravis's tools are missing.
inline QString fakeCameraProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("arv-fake-gv-camera-0.8"));
}

// A serial number of this test process, so that a camera left by another run
// is never taken for ours.
inline QString uniqueSerial()
{
    return QStringLiteral("CV%1").arg(QCoreApplication::applicationPid() % 1000000);
}

inline QString serialOf(const MV_CC_DEVICE_INFO &record)
{
    const unsigned char *field = record.nTLayerType == MV_GIGE_DEVICE
        ? record.SpecialInfo.stGigEInfo.chSerialNumber
        : record.SpecialInfo.stUsb3VInfo.chSerialNumber;
    const std::size_t size = record.nTLayerType == MV_GIGE_DEVICE
        ? sizeof record.SpecialInfo.stGigEInfo.chSerialNumber
        : sizeof record.SpecialInfo.stUsb3VInfo.chSerialNumber;
    return QString::fromLatin1(reinterpret_cast<const char *>(field),
                               int(strnlen(reinterpret_cast<const char *>(field), size)));
}

// The records of one search through the library (copies), empty on failure.
inline std::vector<MV_CC_DEVICE_INFO> search(unsigned int mask = MV_GIGE_DEVICE | MV_USB_DEVICE)
{
    MV_CC_DEVICE_INFO_LIST list;
    std::memset(&list, 0, sizeof list);
    std::vector<MV_CC_DEVICE_INFO> records;
    if (MV_CC_EnumDevices(mask, &list) != MV_OK)
        return records;
    for (unsigned int i = 0; i < list.nDeviceNum; ++i)
        if (list.pDeviceInfo[i])
            records.push_back(*list.pDeviceInfo[i]);
    return records;
}

// GigE cameras on loopback other than the one with serial `ours`.
inline int otherLoopbackCameras(const QString &ours)
{
    int others = 0;
    for (const MV_CC_DEVICE_INFO &record : search(MV_GIGE_DEVICE))
        if (record.SpecialInfo.stGigEInfo.nCurrentIp == loopbackAddress && serialOf(record) != ours)
            ++others;
    return others;
}

// Searches until the camera with this serial is listed, for at most timeoutMs.
inline bool findCamera(const QString &serial, MV_CC_DEVICE_INFO &record, int timeoutMs = 15000)
{
    QElapsedTimer clock;
    clock.start();
    do {
        for (const MV_CC_DEVICE_INFO &found : search())
            if (serialOf(found) == serial) {
                record = found;
                return true;
            }
        QThread::msleep(200);
    } while (clock.elapsed() < timeoutMs);
    return false;
}

// Chooses the GenICam backend for this process and tells why the fake camera
// tests cannot run here (an empty text when they can).
inline QString unavailableReason(const QString &ourSerial)
{
#ifndef CORVISTA_HAVE_ARAVIS
    Q_UNUSED(ourSerial)
    return QStringLiteral("the camera library was built without Aravis: no GenICam backend");
#else
    if (fakeCameraProgram().isEmpty())
        return QStringLiteral("arv-fake-gv-camera-0.8 (aravis-tools) is not installed");
    qputenv("CORVISTA_CAMERAS", "genicam");
    if (otherLoopbackCameras(ourSerial) != 0)
        return QStringLiteral(
            "another GigE Vision camera answers on 127.0.0.1; these tests need the loopback port alone");
    return QString();
#endif
}

class FakeCamera
{
public:
    FakeCamera() = default;
    FakeCamera(const FakeCamera &) = delete;
    FakeCamera &operator=(const FakeCamera &) = delete;
    ~FakeCamera() { stop(); }

    // Starts the camera and waits until a search lists it; false with the
    // reason in why otherwise.
    // lostPacketsPerThousand makes the camera drop that share of its stream
    // packets at random, as a bad network would.
    bool start(const QString &serial, QString &why, int lostPacketsPerThousand = 0)
    {
        stop();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-s"),
                              serial};
        if (lostPacketsPerThousand > 0)
            arguments << QStringLiteral("-r") << QString::number(lostPacketsPerThousand);
        m_process.start(fakeCameraProgram(), arguments);
        if (!m_process.waitForStarted(5000)) {
            why = QStringLiteral("the fake camera did not start: ") + m_process.errorString();
            return false;
        }
        MV_CC_DEVICE_INFO record;
        if (!findCamera(serial, record)) {
            why = QStringLiteral("the fake camera was not found by a search: ")
                + QString::fromLocal8Bit(m_process.readAll());
            stop();
            return false;
        }
        return true;
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }

    // Ends the camera at once, as a pulled cable or a power cut would.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            kill();
    }

private:
    QProcess m_process;
};

} // namespace genicamtest

#endif // TST_GENICAM_FAKECAMERA_H
