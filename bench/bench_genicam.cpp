// Figures of the GenICam backend against Aravis's fake GigE camera on
// loopback: sustained throughput (frames/s, MB/s, lost frames, CPU per
// frame) for Mono8 and RGB8 at several sizes, beside Aravis's own
// arv-camera-test-0.8 on the same camera in the same run; then search, open,
// packet-size negotiation, the cost of fetching a frame that is already
// there, how long Stop and a feature read take right after the camera was
// killed, how long a killed camera takes to be reported gone, and how long
// Close then takes. Medians of several runs.
//
// Needs the library built with Aravis and arv-fake-gv-camera-0.8; says so and
// exits 0 otherwise.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <unistd.h>

#include "MvCameraControl.h"

namespace {

constexpr int runs = 3;
constexpr unsigned int frameBytes = 512 * 512;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double msSince(const QElapsedTimer &clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

bool findRecord(const QByteArray &serial, MV_CC_DEVICE_INFO &record, double *searchMs)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        MV_CC_DEVICE_INFO_LIST list;
        std::memset(&list, 0, sizeof list);
        QElapsedTimer clock;
        clock.start();
        const int status = MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list);
        if (searchMs)
            *searchMs = msSince(clock);
        for (unsigned int i = 0; status == MV_OK && i < list.nDeviceNum; ++i)
            if (serial
                == reinterpret_cast<const char *>(
                    list.pDeviceInfo[i]->SpecialInfo.stGigEInfo.chSerialNumber)) {
                record = *list.pDeviceInfo[i];
                return true;
            }
        QThread::msleep(200);
    }
    return false;
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// User plus system CPU seconds of another process so far.
double childCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name (which ends with ')'): utime is the 12th, stime the 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

struct Throughput {
    double framesPerSecond = 0;
    double megabytesPerSecond = 0;
    quint64 lost = 0;
    double cpuMsPerFrame = 0;
};

struct Setup {
    const char *format;
    unsigned int pixelType;
    unsigned int width, height, bytesPerPixel;
};

constexpr double sustainSeconds = 3.0;
constexpr unsigned int benchPacketSize = 1400; // what arv-camera-test keeps by default

// The library fetching as fast as the fake camera sends, with each frame
// copied out as the program's grab thread does. CPU is this process's: the
// fetch and Aravis's receiving thread.
Throughput measureLibrary(const MV_CC_DEVICE_INFO &record, const Setup &setup)
{
    Throughput result;
    void *handle = nullptr;
    if (MV_CC_CreateHandle(&handle, &record) != MV_OK
        || MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0) != MV_OK) {
        MV_CC_DestroyHandle(handle);
        return result;
    }
    MV_CC_SetIntValueEx(handle, "GevSCPSPacketSize", benchPacketSize);
    MV_CC_SetIntValueEx(handle, "Width", setup.width);
    MV_CC_SetIntValueEx(handle, "Height", setup.height);
    MV_CC_SetEnumValue(handle, "PixelFormat", setup.pixelType);
    MV_CC_SetFloatValue(handle, "AcquisitionFrameRate", 1000.0f);
    std::vector<unsigned char> frame(std::size_t(setup.width) * setup.height * setup.bytesPerPixel);
    MV_FRAME_OUT_INFO_EX info;
    MV_CC_StartGrabbing(handle);
    MV_CC_GetOneFrameTimeout(handle, frame.data(), unsigned(frame.size()), &info, 3000);
    MV_NETTRANS_INFO before{}, after{};
    MV_GIGE_GetNetTransInfo(handle, &before);
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = processCpuSeconds();
    quint64 frames = 0, bytes = 0;
    while (clock.elapsed() < sustainSeconds * 1000)
        if (MV_CC_GetOneFrameTimeout(handle, frame.data(), unsigned(frame.size()), &info, 1000) == MV_OK) {
            ++frames;
            bytes += info.nFrameLen;
        }
    const double seconds = msSince(clock) / 1000.0;
    const double cpu = processCpuSeconds() - cpuStart;
    MV_GIGE_GetNetTransInfo(handle, &after);
    MV_CC_StopGrabbing(handle);
    MV_CC_CloseDevice(handle);
    MV_CC_DestroyHandle(handle);
    result.framesPerSecond = double(frames) / seconds;
    result.megabytesPerSecond = double(bytes) / seconds / 1e6;
    result.lost = quint64(after.nThrowFrameCount - before.nThrowFrameCount);
    result.cpuMsPerFrame = frames ? cpu * 1000.0 / double(frames) : 0;
    return result;
}

// arv-camera-test-0.8 on the same camera, same size and format, for the same
// time: its own per-second figures (after the first second) and its CPU.
Throughput measureAravisTool(const Setup &setup)
{
    Throughput result;
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral("arv-camera-test-0.8"),
               {QStringLiteral("-n"), QStringLiteral("127.0.0.1"), QStringLiteral("-f"),
                QStringLiteral("1000"), QStringLiteral("-w"), QString::number(setup.width),
                QStringLiteral("-h"), QString::number(setup.height), QStringLiteral("-i"),
                QString::number(benchPacketSize), QStringLiteral("--features"),
                QStringLiteral("PixelFormat=%1").arg(setup.format)});
    if (!tool.waitForStarted(5000))
        return result;
    // Its first line of figures comes once the stream runs; CPU counts from there.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500) {
        if (tool.state() != QProcess::Running)
            return result;
        tool.waitForReadyRead(100);
        tool.readAll();
    }
    const double cpuStart = childCpuSeconds(tool.processId());
    QByteArray output;
    clock.restart();
    while (clock.elapsed() < sustainSeconds * 1000) {
        tool.waitForReadyRead(100);
        output += tool.readAll();
    }
    const double cpu = childCpuSeconds(tool.processId()) - cpuStart;
    ::kill(pid_t(tool.processId()), SIGINT);
    tool.waitForFinished(10000);
    output += tool.readAll();
    std::vector<double> rates, megabytes;
    quint64 failures = 0, missing = 0;
    for (const QByteArray &line : output.split('\n')) {
        const QByteArray trimmed = line.simplified();
        if (trimmed.contains("frames/s -")) {
            const QList<QByteArray> parts = trimmed.split(' ');
            rates.push_back(parts.value(0).toDouble());
            megabytes.push_back(parts.value(3).toDouble() * 1.048576); // MiB/s to MB/s
        } else if (trimmed.startsWith("n_failures")) {
            failures = trimmed.split(' ').last().toULongLong();
        } else if (trimmed.startsWith("n_missing_frames")) {
            missing = trimmed.split(' ').last().toULongLong();
        }
    }
    result.framesPerSecond = median(rates);
    result.megabytesPerSecond = median(megabytes);
    result.lost = failures + missing;
    const double frames = result.framesPerSecond * sustainSeconds;
    result.cpuMsPerFrame = frames > 0 ? cpu * 1000.0 / frames : 0;
    return result;
}

void throughputTable(const QString &program, const QByteArray &serial)
{
    QProcess camera;
    camera.start(program,
                 {QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-s"),
                  QString::fromLatin1(serial)});
    camera.waitForStarted(5000);
    MV_CC_DEVICE_INFO record;
    if (!findRecord(serial, record, nullptr)) {
        std::printf("bench_genicam: the fake camera is not found (library built without Aravis?)\n");
        return;
    }
    const bool haveTool = !QStandardPaths::findExecutable(QStringLiteral("arv-camera-test-0.8")).isEmpty();
    const Setup setups[] = {
        {"Mono8", PixelType_Gvsp_Mono8, 512, 512, 1},
        {"Mono8", PixelType_Gvsp_Mono8, 2048, 2048, 1},
        {"RGB8", PixelType_Gvsp_RGB8_Packed, 512, 512, 3},
        {"RGB8", PixelType_Gvsp_RGB8_Packed, 1024, 1024, 3},
    };
    std::printf("bench_genicam: sustained grabbing for %.0f s each, fake GigE camera on 127.0.0.1 asked for "
                "1000 frames/s, %u-byte packets; CPU is the receiving process's (library: fetch, copy and "
                "Aravis's stream thread)\n",
                sustainSeconds, benchPacketSize);
    std::printf("  %-6s %-10s | %-38s | %-38s\n", "format", "size",
                "library: frames/s  MB/s  lost  CPU ms/frame",
                "arv-camera-test: frames/s  MB/s  lost  CPU ms/frame");
    for (const Setup &setup : setups) {
        const Throughput ours = measureLibrary(record, setup);
        const Throughput theirs = haveTool ? measureAravisTool(setup) : Throughput();
        std::printf("  %-6s %4ux%-5u | %8.1f %8.1f %5llu %8.3f           | %8.1f %8.1f %5llu %8.3f\n",
                    setup.format, setup.width, setup.height, ours.framesPerSecond, ours.megabytesPerSecond,
                    static_cast<unsigned long long>(ours.lost), ours.cpuMsPerFrame, theirs.framesPerSecond,
                    theirs.megabytesPerSecond, static_cast<unsigned long long>(theirs.lost),
                    theirs.cpuMsPerFrame);
        std::fflush(stdout);
    }
    camera.kill();
    camera.waitForFinished(5000);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString program = QStandardPaths::findExecutable(QStringLiteral("arv-fake-gv-camera-0.8"));
    if (program.isEmpty()) {
        std::printf("bench_genicam: arv-fake-gv-camera-0.8 is not installed; nothing measured\n");
        return 0;
    }
    qputenv("CORVISTA_CAMERAS", "genicam");
    const QByteArray serial = "BG" + QByteArray::number(QCoreApplication::applicationPid() % 1000000);
    throughputTable(program, serial);

    std::vector<double> search, open, packet, fetch, stopAfterKill, readAfterKill, lossDetected,
        closeAfterLoss;
    std::vector<unsigned char> frame(frameBytes);
    int lastPacketSize = 0;
    for (int run = 0; run < runs; ++run) {
        QProcess camera;
        camera.start(program,
                     {QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-s"),
                      QString::fromLatin1(serial)});
        camera.waitForStarted(5000);
        MV_CC_DEVICE_INFO record;
        double searchMs = 0;
        if (!findRecord(serial, record, &searchMs)) {
            std::printf("bench_genicam: the fake camera is not found (library built without Aravis?)\n");
            camera.kill();
            camera.waitForFinished(5000);
            return 0;
        }
        search.push_back(searchMs);

        void *handle = nullptr;
        MV_CC_CreateHandle(&handle, &record);
        QElapsedTimer clock;
        clock.start();
        if (MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0) != MV_OK) {
            std::printf("bench_genicam: open failed\n");
            return 1;
        }
        open.push_back(msSince(clock));
        clock.restart();
        const int packetSize = MV_CC_GetOptimalPacketSize(handle);
        lastPacketSize = packetSize;
        packet.push_back(msSince(clock));
        MV_CC_SetIntValueEx(handle, "GevSCPSPacketSize", packetSize);

        MV_CC_StartGrabbing(handle);
        MV_FRAME_OUT_INFO_EX info;
        MV_CC_GetOneFrameTimeout(handle, frame.data(), frameBytes, &info, 3000);
        // Let a few frames queue up, then time fetches that need not wait.
        QThread::msleep(250);
        for (int i = 0; i < 4; ++i) {
            clock.restart();
            if (MV_CC_GetOneFrameTimeout(handle, frame.data(), frameBytes, &info, 0) == MV_OK)
                fetch.push_back(msSince(clock) * 1000.0);
        }

        camera.kill();
        camera.waitForFinished(5000);
        QThread::msleep(200);
        // The window's calls right after the camera died: none may wait on it.
        clock.restart();
        MVCC_FLOATVALUE exposure;
        MV_CC_GetFloatValue(handle, "ExposureTime", &exposure);
        readAfterKill.push_back(msSince(clock));
        clock.restart();
        MV_CC_StopGrabbing(handle);
        stopAfterKill.push_back(msSince(clock));
        clock.restart();
        int status = MV_OK;
        while (status != int(MV_E_NODEVICE) && clock.elapsed() < 30000)
            status = MV_CC_GetOneFrameTimeout(handle, frame.data(), frameBytes, &info, 1000);
        lossDetected.push_back(msSince(clock));
        clock.restart();
        MV_CC_CloseDevice(handle);
        MV_CC_DestroyHandle(handle);
        closeAfterLoss.push_back(msSince(clock));
    }
    std::printf("bench_genicam: medians of %d runs, fake GigE camera on 127.0.0.1, 512 x 512 Mono8\n", runs);
    std::printf("  search (MV_CC_EnumDevices)            %8.1f ms\n", median(search));
    std::printf("  open with exclusive control           %8.1f ms\n", median(open));
    std::printf("  packet size negotiation               %8.1f ms  (%d bytes)\n", median(packet),
                lastPacketSize);
    std::printf("  fetch of a frame already received     %8.1f us  (%zu fetches)\n", median(fetch),
                fetch.size());
    std::printf("  feature read 200 ms after the kill    %8.1f ms\n", median(readAfterKill));
    std::printf("  stop right after that                 %8.1f ms\n", median(stopAfterKill));
    std::printf("  then fetch -> MV_E_NODEVICE           %8.1f ms\n", median(lossDetected));
    std::printf("  close after the loss                  %8.1f ms\n", median(closeAfterLoss));
    return 0;
}
