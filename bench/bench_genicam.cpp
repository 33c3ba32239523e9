// Figures of the GenICam backend against Aravis's fake GigE camera on
// loopback: search, open, packet-size negotiation, the cost of fetching a
// frame that is already there, how long a killed camera takes to be reported
// gone, and how long Close then takes. Medians of several runs.
//
// Needs the library built with Aravis and arv-fake-gv-camera-0.8; says so and
// exits 0 otherwise.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

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

    std::vector<double> search, open, packet, fetch, lossDetected, closeAfterLoss;
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
    std::printf("  camera killed -> MV_E_NODEVICE        %8.1f ms\n", median(lossDetected));
    std::printf("  close after the loss                  %8.1f ms\n", median(closeAfterLoss));
    return 0;
}
