// Aravis's fake GigE Vision camera as a process of the test, answering on
// 127.0.0.1 only, and searches for it through the camera library.
#ifndef GENICAMFAKECAMERA_H
#define GENICAMFAKECAMERA_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include "simcamera.h"

#include <csignal>

namespace genicamtest {

constexpr unsigned int loopbackAddress = 0x7F000001u;

// A serial of this test process, so that a camera left by another run is
// never taken for ours.
inline QString uniqueSerial()
{
    return QStringLiteral("CV%1").arg(QCoreApplication::applicationPid() % 1000000);
}

// Searches until the camera with this serial is listed, for at most timeoutMs.
inline bool findCamera(const QString &serial, MV_CC_DEVICE_INFO &record, int timeoutMs = 15000)
{
    QElapsedTimer clock;
    clock.start();
    do {
        for (const MV_CC_DEVICE_INFO &found : enumerateCameras())
            if (serialOf(found) == serial.toStdString()) {
                record = found;
                return true;
            }
        QThread::msleep(200);
    } while (clock.elapsed() < timeoutMs);
    return false;
}

// Chooses the GenICam backend and tells why the fake camera tests cannot run
// here (an empty text when they can).
inline QString unavailableReason(const QString &ourSerial)
{
#ifndef CORVISTA_HAVE_ARAVIS
    Q_UNUSED(ourSerial)
    return QStringLiteral("the camera library was built without Aravis: no GenICam backend");
#else
    if (QStandardPaths::findExecutable(QStringLiteral("arv-fake-gv-camera-0.8")).isEmpty())
        return QStringLiteral("arv-fake-gv-camera-0.8 (aravis-tools) is not installed");
    qputenv("CORVISTA_CAMERAS", "genicam");
    for (const MV_CC_DEVICE_INFO &record : enumerateCameras())
        if (record.SpecialInfo.stGigEInfo.nCurrentIp == loopbackAddress
            && serialOf(record) != ourSerial.toStdString())
            return QStringLiteral(
                "another GigE Vision camera answers on 127.0.0.1; these tests need it alone");
    return QString();
#endif
}

class FakeCamera
{
public:
    ~FakeCamera() { kill(); }

    // Starts the camera and waits until a search lists it; false with the
    // reason in why otherwise.
    // extra: more options, e.g. {"-r", "2"} to drop 2 of every 1000 packets.
    bool start(const QString &serial, QString &why, const QStringList &extra = {})
    {
        kill();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("arv-fake-gv-camera-0.8"),
                        QStringList{"-i", "127.0.0.1", "-s", serial} + extra);
        MV_CC_DEVICE_INFO record;
        if (m_process.waitForStarted(5000) && findCamera(serial, record))
            return true;
        why = QStringLiteral("the fake camera did not start or was not found: ") + m_process.errorString()
            + QString::fromLocal8Bit(m_process.readAll());
        kill();
        return false;
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }

    // Freezes the camera for ms milliseconds, as a belt that stops freezes a
    // line-scan camera on its encoder: packets stop, mid-frame or not.
    void pause(unsigned long ms)
    {
        const auto pid = static_cast<pid_t>(m_process.processId());
        ::kill(pid, SIGSTOP);
        QThread::msleep(ms);
        ::kill(pid, SIGCONT);
    }

    // Ends the camera at once, as a pulled cable or a power cut would.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
};

} // namespace genicamtest

#endif // GENICAMFAKECAMERA_H
