// The call contract of the camera library: handles, call order, exclusive
// access, waking a waiting fetch, timeouts, buffers, backends and faults.
#include "simcamera.h"

#include <QElapsedTimer>

#include <atomic>
#include <functional>
#include <thread>

namespace {

// A camera that never completes a frame within a test: one line per second.
const char *slowCamera = "[SLOW]\ntransport = GigE\nwidth = 32\nlines_per_frame = 64\n"
                         "line_rate = 10\nmax_line_rate = 10\n";

const char *twoCameras
    = "[G1]\ntransport = GigE\nwidth = 16\nlines_per_frame = 4\nline_rate = 0\n"
      "[U1]\ntransport = USB3\nwidth = 8\nlines_per_frame = 2\npixel_format = RGB8\nline_rate = 0\n";

int fetchInto64Bytes(void *handle)
{
    unsigned char data[64];
    MV_FRAME_OUT_INFO_EX info{};
    return MV_CC_GetOneFrameTimeout(handle, data, sizeof data, &info, 10);
}

int readWidth(void *handle)
{
    MVCC_INTVALUE_EX value{};
    return MV_CC_GetIntValueEx(handle, "Width", &value);
}

} // namespace

using Call = std::function<int(void *)>;
Q_DECLARE_METATYPE(Call)

class SdkContractTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("CORVISTA_CAMERAS", "simulator");
        qunsetenv("CORVISTA_SIM_CONFIG");
        mvsim::reset();
    }

    void camerasEnvironmentChoosesTheBackends_data()
    {
        QTest::addColumn<QByteArray>("choice");
        QTest::addColumn<int>("simulated");
        QTest::newRow("simulator") << QByteArray("simulator") << 2;
        QTest::newRow("none") << QByteArray("none") << 0;
        QTest::newRow("unknown name ignored") << QByteArray("bogus, simulator") << 2;
        QTest::newRow("only an unknown name") << QByteArray("bogus") << 0;
        QTest::newRow("unset means all") << QByteArray() << 2;
    }

    void camerasEnvironmentChoosesTheBackends()
    {
        QFETCH(QByteArray, choice);
        if (choice.isNull())
            qunsetenv("CORVISTA_CAMERAS");
        else
            qputenv("CORVISTA_CAMERAS", choice);
        int count = 0;
        for (const MV_CC_DEVICE_INFO &info : enumerateCameras()) {
            const unsigned char *maker = info.nTLayerType == MV_GIGE_DEVICE
                ? info.SpecialInfo.stGigEInfo.chManufacturerName
                : info.SpecialInfo.stUsb3VInfo.chManufacturerName;
            count += QByteArray(reinterpret_cast<const char *>(maker)) == "Corvista Simulated";
        }
        QTEST(count, "simulated");
    }

    void callsOnUnusableHandlesFailWithHandleError_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("null") << "null";
        QTest::newRow("never created") << "unknown";
        QTest::newRow("destroyed") << "destroyed";
        QTest::newRow("destroyed while open") << "destroyed open";
    }

    void callsOnUnusableHandlesFailWithHandleError()
    {
        QFETCH(QString, kind);
        INSTALL_CAMERAS(twoCameras);
        void *handle = nullptr;
        if (kind == "unknown") {
            handle = reinterpret_cast<void *>(uintptr_t(0xDEADBEEF));
        } else if (kind.startsWith("destroyed")) {
            const auto cameras = enumerateCameras();
            QCOMPARE(MV_CC_CreateHandle(&handle, &cameras[0]), MV_OK);
            if (kind == "destroyed open")
                QCOMPARE(MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0), MV_OK);
            QCOMPARE(MV_CC_DestroyHandle(handle), MV_OK);
            CameraHandle successor("G1"); // a new handle must never reuse the destroyed one
            QVERIFY(successor.handle != handle);
        }
        const int handleError = status(MV_E_HANDLE);
        QCOMPARE(MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0), handleError);
        QCOMPARE(MV_CC_CloseDevice(handle), handleError);
        QCOMPARE(MV_CC_DestroyHandle(handle), handleError);
        QCOMPARE(MV_CC_StartGrabbing(handle), handleError);
        QCOMPARE(fetchInto64Bytes(handle), handleError);
        QCOMPARE(readWidth(handle), handleError);
    }

    void callsOutOfOrderOrWithoutTheirArgumentsAreRefused_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("expected");
        const int order = status(MV_E_CALLORDER), parameter = status(MV_E_PARAMETER);
        QTest::newRow("start before open") << "created" << Call(MV_CC_StartGrabbing) << order;
        QTest::newRow("fetch before start") << "open" << Call(fetchInto64Bytes) << order;
        QTest::newRow("fetch after stop") << "stopped" << Call(fetchInto64Bytes) << order;
        QTest::newRow("feature after close") << "closed" << Call(readWidth) << order;
        QTest::newRow("fetch without buffer") << "grabbing" << Call([](void *h) {
            MV_FRAME_OUT_INFO_EX info{};
            return MV_CC_GetOneFrameTimeout(h, nullptr, 64, &info, 10);
        }) << parameter;
    }

    void callsOutOfOrderOrWithoutTheirArgumentsAreRefused()
    {
        QFETCH(QString, state);
        QFETCH(Call, call);
        INSTALL_CAMERAS(twoCameras);
        CameraHandle camera(state == "grabbing" ? "U1" : "G1");
        if (state != "created")
            QCOMPARE(camera.open(), MV_OK);
        if (state == "stopped" || state == "grabbing")
            QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        if (state == "stopped")
            QCOMPARE(MV_CC_StopGrabbing(camera.handle), MV_OK);
        if (state == "closed")
            QCOMPARE(MV_CC_CloseDevice(camera.handle), MV_OK);
        QTEST(call(camera.handle), "expected");
    }

    void aSecondOpenOfAnOpenCameraIsRefusedUntilItIsClosed()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle first("G1");
        CameraHandle second("G1");
        CameraHandle other("U1");
        QCOMPARE(first.open(), MV_OK);
        QCOMPARE(second.open(), status(MV_E_ACCESS));
        QCOMPARE(other.open(), MV_OK);
        QCOMPARE(MV_CC_CloseDevice(first.handle), MV_OK);
        QCOMPARE(second.open(), MV_OK);
    }

    void aWaitingFetchEndsWithNoDataOnItsTimeoutOrAtOnceOnStopOrDestroy_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("timeout") << "timeout";
        QTest::newRow("stop grabbing") << "stop";
        QTest::newRow("destroy the handle") << "destroy";
    }

    void aWaitingFetchEndsWithNoDataOnItsTimeoutOrAtOnceOnStopOrDestroy()
    {
        QFETCH(QString, end);
        INSTALL_CAMERAS(slowCamera);
        CameraHandle camera("SLOW");
        QVERIFY(camera.start());
        std::atomic<int> result{0};
        std::atomic<qint64> returnedAtMs{-1};
        QElapsedTimer clock;
        clock.start();
        std::thread grabber([&] {
            std::vector<unsigned char> frame(32 * 64);
            MV_FRAME_OUT_INFO_EX info;
            const unsigned int timeoutMs = end == "timeout" ? 400 : 5000;
            result = MV_CC_GetOneFrameTimeout(camera.handle, frame.data(), 32 * 64, &info, timeoutMs);
            returnedAtMs = clock.elapsed();
        });
        QTest::qSleep(200);
        QCOMPARE(returnedAtMs.load(), qint64(-1)); // still waiting for a frame
        if (end != "timeout")
            QCOMPARE(end == "destroy" ? MV_CC_DestroyHandle(camera.handle)
                                      : MV_CC_StopGrabbing(camera.handle),
                     MV_OK);
        grabber.join();
        if (end == "timeout")
            QVERIFY2(returnedAtMs >= 399, qPrintable(QString::number(returnedAtMs)));
        QVERIFY2(returnedAtMs < 1200, qPrintable(QString::number(returnedAtMs)));
        QVERIFY(result == status(MV_E_NODATA) || (end != "timeout" && result == status(MV_E_CALLORDER)));
        if (end == "destroy") {
            camera.handle = nullptr;
            CameraHandle again("SLOW"); // the camera was released with the handle
            QCOMPARE(again.open(), MV_OK);
        }
    }

    void aTooSmallBufferIsRefusedUntouchedAndTheFrameStaysQueued()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle camera("G1");
        QVERIFY(camera.start());
        const std::size_t payload = std::size_t(camera.intValue("PayloadSize"));
        std::vector<unsigned char> guarded(payload + 16, 0xA5);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(MV_CC_GetOneFrameTimeout(camera.handle, guarded.data(), unsigned(payload - 1), &info, 1000),
                 status(MV_E_BUFOVER));
        QCOMPARE(std::count(guarded.begin(), guarded.end(), 0xA5), std::ptrdiff_t(guarded.size()));
        std::vector<unsigned char> frame;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(info.nFrameNum, 0u);
    }

    void injectedFaultsFailOnlyTheirCallsUntilCleared()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle gige("G1");
        CameraHandle usb("U1");
        mvsim::setFault("MV_CC_OpenDevice", status(MV_E_ACCESS), "G1", 2);
        mvsim::setFault("MV_CC_StartGrabbing", status(MV_E_RESOURCE));
        mvsim::setFault("MV_CC_EnumDevices", status(MV_E_RESOURCE));
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), status(MV_E_RESOURCE));
        QCOMPARE(usb.open(), MV_OK);
        QCOMPARE(MV_CC_StartGrabbing(usb.handle), status(MV_E_RESOURCE));
        QCOMPARE(gige.open(), status(MV_E_ACCESS));
        QCOMPARE(gige.open(), status(MV_E_ACCESS));
        QCOMPARE(gige.open(), MV_OK); // counted: only two calls fail
        mvsim::clearFaults();
        QCOMPARE(MV_CC_StartGrabbing(usb.handle), MV_OK);
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MV_OK);
    }
};

QTEST_GUILESS_MAIN(SdkContractTest)
#include "tst_sdk_contract.moc"
