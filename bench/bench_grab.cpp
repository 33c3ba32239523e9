// Frames per second through the grab thread from an unpaced simulated camera.
//
// A 4096 x 1024 Mono8 camera whose line rate is 0 delivers a frame whenever
// the loop asks, so the figures measure the loop itself: fetch, raw copy,
// conversion to RGB and the deep-copied image, plus the queued delivery to a
// receiver in the GUI thread. Usage: bench_grab [seconds per run] [runs].
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "mainwindow.h"
#include "mvsim.h"
#include "workthread.h"

namespace {

const unsigned int frameWidth = 4096;
const unsigned int frameLines = 1024;

struct RunResult {
    double framesPerSecond = 0;
    double rawMegabytesPerSecond = 0;
    int lostFrames = 0;
    long long largestBacklog = 0;
    double fetchShare = 0; // part of the time spent waiting in the library's fetch
    double cpuMsPerFrame
        = 0; // processor time of the whole process per frame, less sensitive to a busy machine
};

long long peakResidentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

RunResult runOnce(MainWindow &owner, int seconds)
{
    MV_CC_DEVICE_INFO_LIST list;
    std::memset(&list, 0, sizeof list);
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK || list.nDeviceNum != 1) {
        std::fprintf(stderr, "bench_grab: the simulated camera is missing\n");
        return {};
    }
    owner.m_deviceInfo = *list.pDeviceInfo[0];
    if (MV_CC_CreateHandle(&owner.m_handle, &owner.m_deviceInfo) != MV_OK
        || MV_CC_OpenDevice(owner.m_handle, MV_ACCESS_Exclusive, 0) != MV_OK) {
        std::fprintf(stderr, "bench_grab: cannot open the simulated camera\n");
        return {};
    }

    WorkThread thread(owner.camera(), &owner.session().budget());
    QElapsedTimer clock;
    std::atomic<long long> emitted{0};
    long long received = 0;
    long long largestBacklog = 0;
    int lost = 0;
    double fetchMs = 0;
    QObject receiver;
    QEventLoop warmUp;
    // Counted in the grab thread as it emits, and again where the window would receive it.
    QObject::connect(
        &thread, &WorkThread::frameGrabbed, &thread, [&emitted](const QImage &) { ++emitted; },
        Qt::DirectConnection);
    QObject::connect(&thread, &WorkThread::frameGrabbed, &receiver, [&](const QImage &image) {
        if (!image.isNull())
            ++received;
        if (received == 5)
            warmUp.quit();
        largestBacklog = std::max(largestBacklog, emitted.load() - received);
    });
    QObject::connect(&thread, &WorkThread::frameInfoUpdated, &receiver,
                     [&](uint, int, int, qlonglong, qlonglong, int lostFrames, int, double grabTimeMs) {
                         lost = lostFrames;
                         if (clock.isValid())
                             fetchMs += grabTimeMs;
                     });

    thread.setRunning(true);
    thread.start();
    MV_CC_StartGrabbing(owner.m_handle);
    // Let the first frames through before the clock starts. The GUI thread
    // sleeps in its event loop between frames, as the window's would.
    QTimer::singleShot(30000, &warmUp, &QEventLoop::quit);
    warmUp.exec();
    const long long startCount = received;
    const std::clock_t cpuStart = std::clock();
    clock.start();
    QEventLoop measuring;
    QTimer::singleShot(seconds * 1000, &measuring, &QEventLoop::quit);
    measuring.exec();
    const long long counted = received - startCount;
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const double cpuMs = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;

    thread.setRunning(false);
    MV_CC_StopGrabbing(owner.m_handle);
    thread.wait();
    QCoreApplication::processEvents();
    MV_CC_CloseDevice(owner.m_handle);
    MV_CC_DestroyHandle(owner.m_handle);
    owner.m_handle = nullptr;

    RunResult result;
    result.framesPerSecond = double(counted) / elapsed;
    result.rawMegabytesPerSecond = result.framesPerSecond * frameWidth * frameLines / 1e6;
    result.lostFrames = lost;
    result.largestBacklog = largestBacklog;
    result.fetchShare = fetchMs / (elapsed * 1000);
    result.cpuMsPerFrame = counted > 0 ? cpuMs / double(counted) : 0;
    return result;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("CORVISTA_CAMERAS", "simulator");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

    // The window writes its settings where it runs; keep them out of the caller's folder.
    QTemporaryDir workDir;
    if (!workDir.isValid() || !QDir::setCurrent(workDir.path())) {
        std::fprintf(stderr, "bench_grab: no temporary working directory\n");
        return 1;
    }
    std::string error;
    if (!mvsim::configure("[bench]\ntransport = GigE\nserial = BENCH\nwidth = 4096\nlines_per_frame = 1024\n"
                          "pixel_format = Mono8\nline_rate = 0\n",
                          &error)) {
        std::fprintf(stderr, "bench_grab: %s\n", error.c_str());
        return 1;
    }
    MainWindow owner;

    std::printf("grab thread, %ux%u Mono8 frames converted to RGB888, unpaced camera, %d runs of %d s\n",
                frameWidth, frameLines, runs, seconds);
    std::vector<double> fps, megabytes, fetchShares, cpuPerFrame;
    for (int run = 0; run < runs; ++run) {
        const RunResult r = runOnce(owner, seconds);
        if (r.framesPerSecond <= 0)
            return 1;
        fps.push_back(r.framesPerSecond);
        megabytes.push_back(r.rawMegabytesPerSecond);
        fetchShares.push_back(r.fetchShare);
        cpuPerFrame.push_back(r.cpuMsPerFrame);
        std::printf(
            "run %d: %.1f frames/s, %.0f MB/s raw (%.0f MB/s as RGB), lost %d, largest queue %lld frames, "
            "%.0f%% of the time in the fetch, %.1f ms of processor time per frame\n",
            run + 1, r.framesPerSecond, r.rawMegabytesPerSecond, r.rawMegabytesPerSecond * 3, r.lostFrames,
            r.largestBacklog, r.fetchShare * 100, r.cpuMsPerFrame);
    }
    std::printf("median: %.1f frames/s = %.0f lines/s, %.0f MB/s raw, %.0f%% of the time in the fetch, "
                "%.1f ms of processor time per frame\n",
                median(fps), median(fps) * frameLines, median(megabytes), median(fetchShares) * 100,
                median(cpuPerFrame));
    std::printf("peak resident memory: %lld kB\n", peakResidentKilobytes());
    return 0;
}
