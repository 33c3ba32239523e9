// The call contract of the camera library: handles, call order, exclusive
// access, waking a waiting fetch, timeouts, buffers and backend choice.
#include "tst_sdk_camera.h"

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

    void withoutConfigurationTwoCamerasAreListedGigeFirst()
    {
        const auto cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(2));
        const MV_GIGE_DEVICE_INFO &gige = cameras[0].SpecialInfo.stGigEInfo;
        QCOMPARE(cameras[0].nTLayerType, unsigned(MV_GIGE_DEVICE));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(gige.chManufacturerName)),
                 QByteArray("Corvista Simulated"));
        QCOMPARE(gige.nCurrentIp, (192u << 24) | (168u << 16) | (1u << 8) | 10u);
        const MV_USB3_DEVICE_INFO &usb = cameras[1].SpecialInfo.stUsb3VInfo;
        QCOMPARE(cameras[1].nTLayerType, unsigned(MV_USB_DEVICE));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(usb.chManufacturerName)),
                 QByteArray("Corvista Simulated"));

        CameraHandle mono(serialOf(cameras[0]));
        QCOMPARE(mono.open(), MV_OK);
        QCOMPARE(mono.intValue("Width"), int64_t(4096));
        QCOMPARE(mono.intValue("Height"), int64_t(512));
        QCOMPARE(mono.intValue("ResultingLineRate"), int64_t(10000));
        CameraHandle colour(serialOf(cameras[1]));
        QCOMPARE(colour.open(), MV_OK);
        QCOMPARE(colour.intValue("Width"), int64_t(2048));
        QCOMPARE(colour.intValue("PayloadSize"), int64_t(2048 * 512 * 3));
        QCOMPARE(colour.intValue("ResultingLineRate"), int64_t(5000));
    }

    void enumerationOfOneLayerListsOnlyItsCameras_data()
    {
        QTest::addColumn<unsigned int>("layers");
        QTest::addColumn<QStringList>("serials");
        QTest::newRow("GigE") << unsigned(MV_GIGE_DEVICE) << QStringList{"G1"};
        QTest::newRow("USB3") << unsigned(MV_USB_DEVICE) << QStringList{"U1"};
        QTest::newRow("both") << unsigned(MV_GIGE_DEVICE | MV_USB_DEVICE) << QStringList{"G1", "U1"};
    }

    void enumerationOfOneLayerListsOnlyItsCameras()
    {
        QFETCH(unsigned int, layers);
        QFETCH(QStringList, serials);
        INSTALL_CAMERAS(twoCameras);
        QStringList found;
        for (const MV_CC_DEVICE_INFO &info : enumerateCameras(layers))
            found << QString::fromStdString(serialOf(info));
        QCOMPARE(found, serials);
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
        QFETCH(int, simulated);
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
        QCOMPARE(count, simulated);
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
        }
        unsigned char buffer[64] = {};
        MV_FRAME_OUT_INFO_EX frame{};
        MVCC_INTVALUE_EX intValue{};
        MVCC_FLOATVALUE floatValue{};
        MVCC_ENUMVALUE enumValue{};
        bool boolValue = false;
        MV_NETTRANS_INFO net{};
        MV_MATCH_INFO_USB_DETECT usb{};
        MV_ALL_MATCH_INFO match{MV_MATCH_TYPE_USB_DETECT, &usb, sizeof usb};
        const int handleError = status(MV_E_HANDLE);
        QCOMPARE(MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0), handleError);
        QCOMPARE(MV_CC_CloseDevice(handle), handleError);
        QCOMPARE(MV_CC_DestroyHandle(handle), handleError);
        QCOMPARE(MV_CC_GetOptimalPacketSize(handle), handleError);
        QCOMPARE(MV_CC_StartGrabbing(handle), handleError);
        QCOMPARE(MV_CC_StopGrabbing(handle), handleError);
        QCOMPARE(MV_CC_GetOneFrameTimeout(handle, buffer, sizeof buffer, &frame, 10), handleError);
        QCOMPARE(MV_CC_GetIntValueEx(handle, "Width", &intValue), handleError);
        QCOMPARE(MV_CC_SetIntValueEx(handle, "AcquisitionLineRate", 100), handleError);
        QCOMPARE(MV_CC_GetFloatValue(handle, "Gain", &floatValue), handleError);
        QCOMPARE(MV_CC_SetFloatValue(handle, "Gain", 1.0f), handleError);
        QCOMPARE(MV_CC_GetEnumValue(handle, "ExposureMode", &enumValue), handleError);
        QCOMPARE(MV_CC_SetEnumValue(handle, "ExposureMode", 0), handleError);
        QCOMPARE(MV_CC_GetBoolValue(handle, "AcquisitionLineRateEnable", &boolValue), handleError);
        QCOMPARE(MV_CC_SetBoolValue(handle, "AcquisitionLineRateEnable", true), handleError);
        QCOMPARE(MV_GIGE_GetNetTransInfo(handle, &net), handleError);
        QCOMPARE(MV_CC_GetAllMatchInfo(handle, &match), handleError);
        if (handle) {
            MV_CC_PIXEL_CONVERT_PARAM convert{};
            MV_SAVE_IMG_TO_FILE_PARAM save{};
            QCOMPARE(MV_CC_ConvertPixelType(handle, &convert), handleError);
            QCOMPARE(MV_CC_SaveImageToFile(handle, &save), handleError);
        }
    }

    void aDestroyedHandleIsNeverReusedForANewCamera()
    {
        INSTALL_CAMERAS(twoCameras);
        const auto cameras = enumerateCameras();
        void *first = nullptr;
        QCOMPARE(MV_CC_CreateHandle(&first, &cameras[0]), MV_OK);
        QCOMPARE(MV_CC_DestroyHandle(first), MV_OK);
        void *second = nullptr;
        QCOMPARE(MV_CC_CreateHandle(&second, &cameras[0]), MV_OK);
        QVERIFY(second != first);
        QCOMPARE(MV_CC_OpenDevice(first, MV_ACCESS_Exclusive, 0), status(MV_E_HANDLE));
        QCOMPARE(MV_CC_DestroyHandle(second), MV_OK);
    }

    void callsOutOfOrderAreRefused_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("expected");
        const Call fetch = [](void *h) {
            std::vector<unsigned char> data(64);
            MV_FRAME_OUT_INFO_EX info{};
            return MV_CC_GetOneFrameTimeout(h, data.data(), 64, &info, 10);
        };
        const Call readWidth = [](void *h) {
            MVCC_INTVALUE_EX value{};
            return MV_CC_GetIntValueEx(h, "Width", &value);
        };
        const int order = status(MV_E_CALLORDER);
        QTest::newRow("start before open") << "created" << Call(MV_CC_StartGrabbing) << order;
        QTest::newRow("stop before open") << "created" << Call(MV_CC_StopGrabbing) << order;
        QTest::newRow("close before open") << "created" << Call(MV_CC_CloseDevice) << order;
        QTest::newRow("fetch before open") << "created" << fetch << order;
        QTest::newRow("feature before open") << "created" << readWidth << order;
        QTest::newRow("packet size before open") << "created" << Call(MV_CC_GetOptimalPacketSize) << order;
        QTest::newRow("open twice") << "open" << Call([](void *h) { return MV_CC_OpenDevice(h, 1, 0); })
                                    << order;
        QTest::newRow("stop before start") << "open" << Call(MV_CC_StopGrabbing) << order;
        QTest::newRow("fetch before start") << "open" << fetch << order;
        QTest::newRow("start twice") << "grabbing" << Call(MV_CC_StartGrabbing) << order;
        QTest::newRow("fetch after stop") << "stopped" << fetch << order;
        QTest::newRow("feature after close") << "closed" << readWidth << order;
    }

    void callsOutOfOrderAreRefused()
    {
        QFETCH(QString, state);
        QFETCH(Call, call);
        QFETCH(int, expected);
        INSTALL_CAMERAS(twoCameras);
        CameraHandle camera("G1");
        QCOMPARE(camera.createStatus, MV_OK);
        if (state != "created")
            QCOMPARE(camera.open(), MV_OK);
        if (state == "grabbing" || state == "stopped")
            QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        if (state == "stopped")
            QCOMPARE(MV_CC_StopGrabbing(camera.handle), MV_OK);
        if (state == "closed")
            QCOMPARE(MV_CC_CloseDevice(camera.handle), MV_OK);
        QCOMPARE(call(camera.handle), expected);
    }

    void missingArgumentsAreRefused_data()
    {
        QTest::addColumn<Call>("call");
        QTest::newRow("fetch without buffer") << Call([](void *h) {
            MV_FRAME_OUT_INFO_EX info{};
            return MV_CC_GetOneFrameTimeout(h, nullptr, 64, &info, 10);
        });
        QTest::newRow("fetch without record") << Call([](void *h) {
            unsigned char data[64];
            return MV_CC_GetOneFrameTimeout(h, data, sizeof data, nullptr, 10);
        });
        QTest::newRow("integer without result")
            << Call([](void *h) { return MV_CC_GetIntValueEx(h, "Width", nullptr); });
        QTest::newRow("feature without name") << Call([](void *h) {
            MVCC_INTVALUE_EX value{};
            return MV_CC_GetIntValueEx(h, nullptr, &value);
        });
        QTest::newRow("float without result")
            << Call([](void *h) { return MV_CC_GetFloatValue(h, "Gain", nullptr); });
        QTest::newRow("enum without result")
            << Call([](void *h) { return MV_CC_GetEnumValue(h, "PixelFormat", nullptr); });
        QTest::newRow("bool without result")
            << Call([](void *h) { return MV_CC_GetBoolValue(h, "AcquisitionLineRateEnable", nullptr); });
        QTest::newRow("net statistics without record")
            << Call([](void *h) { return MV_GIGE_GetNetTransInfo(h, nullptr); });
        QTest::newRow("match info without record")
            << Call([](void *h) { return MV_CC_GetAllMatchInfo(h, nullptr); });
        QTest::newRow("match info too small") << Call([](void *h) {
            unsigned char small[16];
            MV_ALL_MATCH_INFO match{MV_MATCH_TYPE_USB_DETECT, small, sizeof small};
            return MV_CC_GetAllMatchInfo(h, &match);
        });
        QTest::newRow("unknown access mode") << Call([](void *h) { return MV_CC_OpenDevice(h, 2, 0); });
        QTest::newRow("enumeration without list")
            << Call([](void *) { return MV_CC_EnumDevices(5, nullptr); });
        QTest::newRow("enumeration of no layer") << Call([](void *) {
            MV_CC_DEVICE_INFO_LIST list{};
            return MV_CC_EnumDevices(0, &list);
        });
        QTest::newRow("create without record") << Call([](void *) {
            void *h = nullptr;
            return MV_CC_CreateHandle(&h, nullptr);
        });
        QTest::newRow("create without result") << Call([](void *) {
            MV_CC_DEVICE_INFO info{};
            info.nTLayerType = MV_GIGE_DEVICE;
            return MV_CC_CreateHandle(nullptr, &info);
        });
    }

    void missingArgumentsAreRefused()
    {
        QFETCH(Call, call);
        INSTALL_CAMERAS(twoCameras);
        CameraHandle camera("U1");
        QVERIFY(camera.start());
        QCOMPARE(call(camera.handle), status(MV_E_PARAMETER));
    }

    void aRecordOfNoKnownCameraGivesNoHandle()
    {
        MV_CC_DEVICE_INFO info{};
        info.nTLayerType = MV_USB_DEVICE;
        std::strcpy(reinterpret_cast<char *>(info.SpecialInfo.stUsb3VInfo.chSerialNumber), "NO-SUCH-CAMERA");
        void *handle = reinterpret_cast<void *>(uintptr_t(1));
        QCOMPARE(MV_CC_CreateHandle(&handle, &info), status(MV_E_NODEVICE));
        QCOMPARE(handle, nullptr);
    }

    void aSecondOpenOfAnOpenCameraIsRefused()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle first("G1");
        CameraHandle second("G1");
        QCOMPARE(first.open(), MV_OK);
        QCOMPARE(second.open(), status(MV_E_ACCESS));
        QCOMPARE(MV_CC_CloseDevice(first.handle), MV_OK);
        QCOMPARE(second.open(), MV_OK);
    }

    void twoDifferentCamerasOpenTogether()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle gige("G1");
        CameraHandle usb("U1");
        QCOMPARE(gige.open(), MV_OK);
        QCOMPARE(usb.open(), MV_OK);
    }

    void destroyingAnOpenHandleReleasesTheCamera()
    {
        INSTALL_CAMERAS(twoCameras);
        const auto cameras = enumerateCameras();
        void *first = nullptr;
        QCOMPARE(MV_CC_CreateHandle(&first, &cameras[0]), MV_OK);
        QCOMPARE(MV_CC_OpenDevice(first, MV_ACCESS_Exclusive, 0), MV_OK);
        QCOMPARE(MV_CC_StartGrabbing(first), MV_OK);
        QCOMPARE(MV_CC_DestroyHandle(first), MV_OK);
        CameraHandle second("G1");
        QCOMPARE(second.open(), MV_OK);
    }

    void stopGrabbingWakesAWaitingFetchAtOnce()
    {
        INSTALL_CAMERAS(slowCamera);
        CameraHandle camera("SLOW");
        QVERIFY(camera.start());
        std::atomic<int> result{0};
        std::atomic<qint64> returnedAtMs{-1};
        QElapsedTimer clock;
        clock.start();
        std::thread grabber([&] {
            std::vector<unsigned char> frame;
            MV_FRAME_OUT_INFO_EX info;
            result = camera.fetch(frame, info, 5000);
            returnedAtMs = clock.elapsed();
        });
        QTest::qSleep(200);
        QCOMPARE(returnedAtMs.load(), qint64(-1)); // still waiting for a frame
        const qint64 stoppedAtMs = clock.elapsed();
        QCOMPARE(MV_CC_StopGrabbing(camera.handle), MV_OK);
        grabber.join();
        QVERIFY2(returnedAtMs - stoppedAtMs < 1000, qPrintable(QString::number(returnedAtMs - stoppedAtMs)));
        QVERIFY(result == status(MV_E_NODATA) || result == status(MV_E_CALLORDER));
    }

    void destroyingAHandleWhileAnotherThreadFetchesIsSafe()
    {
        INSTALL_CAMERAS(slowCamera);
        const auto cameras = enumerateCameras();
        void *handle = nullptr;
        QCOMPARE(MV_CC_CreateHandle(&handle, &cameras[0]), MV_OK);
        QCOMPARE(MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0), MV_OK);
        QCOMPARE(MV_CC_StartGrabbing(handle), MV_OK);
        std::atomic<int> result{0};
        QElapsedTimer clock;
        clock.start();
        std::thread grabber([&] {
            std::vector<unsigned char> frame(32 * 64);
            MV_FRAME_OUT_INFO_EX info;
            result = MV_CC_GetOneFrameTimeout(handle, frame.data(), unsigned(frame.size()), &info, 5000);
        });
        QTest::qSleep(100);
        QCOMPARE(MV_CC_DestroyHandle(handle), MV_OK);
        grabber.join();
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(result == status(MV_E_NODATA) || result == status(MV_E_CALLORDER));
        // The camera was released with the handle.
        CameraHandle again("SLOW");
        QCOMPARE(again.open(), MV_OK);
    }

    void aFetchWithoutFrameReturnsNoDataAfterItsTimeout()
    {
        INSTALL_CAMERAS(slowCamera);
        CameraHandle camera("SLOW");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(camera.fetch(frame, info, 150), status(MV_E_NODATA));
        QVERIFY(clock.elapsed() >= 149);
    }

    void aTooSmallBufferIsRefusedAndTheFrameStaysQueued()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle camera("G1");
        QVERIFY(camera.start());
        const std::size_t payload = std::size_t(camera.intValue("PayloadSize"));
        QCOMPARE(payload, std::size_t(16 * 4));
        std::vector<unsigned char> guarded(payload + 16, 0xA5);
        MV_FRAME_OUT_INFO_EX info{};
        QCOMPARE(MV_CC_GetOneFrameTimeout(camera.handle, guarded.data(), unsigned(payload - 1), &info, 1000),
                 status(MV_E_BUFOVER));
        for (unsigned char byte : guarded)
            QCOMPARE(byte, (unsigned char)0xA5);
        std::vector<unsigned char> frame;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        QCOMPARE(info.nFrameNum, 0u);
        QCOMPARE(mvsim::lineStamp(frame.data(), 1), 0u);
    }

    void injectedFaultsFailTheirOperation_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<Call>("call");
        QTest::newRow("open") << "MV_CC_OpenDevice"
                              << Call([](void *h) { return MV_CC_OpenDevice(h, 1, 0); });
        QTest::newRow("packet size") << "MV_CC_GetOptimalPacketSize" << Call([](void *h) {
            MV_CC_OpenDevice(h, 1, 0);
            return MV_CC_GetOptimalPacketSize(h);
        });
        QTest::newRow("start") << "MV_CC_StartGrabbing" << Call([](void *h) {
            MV_CC_OpenDevice(h, 1, 0);
            return MV_CC_StartGrabbing(h);
        });
        QTest::newRow("line rate") << "MV_CC_SetBoolValue" << Call([](void *h) {
            MV_CC_OpenDevice(h, 1, 0);
            return MV_CC_SetBoolValue(h, "AcquisitionLineRateEnable", true);
        });
        QTest::newRow("conversion") << "MV_CC_ConvertPixelType" << Call([](void *h) {
            unsigned char src[4] = {1, 2, 3, 4}, dst[12];
            MV_CC_PIXEL_CONVERT_PARAM p{
                2, 2, PixelType_Gvsp_Mono8, src, 4, PixelType_Gvsp_RGB8_Packed, dst, 0, 12, {}};
            return MV_CC_ConvertPixelType(h, &p);
        });
        QTest::newRow("enumeration") << "MV_CC_EnumDevices" << Call([](void *) {
            MV_CC_DEVICE_INFO_LIST list{};
            return MV_CC_EnumDevices(5, &list);
        });
    }

    void injectedFaultsFailTheirOperation()
    {
        QFETCH(QString, operation);
        QFETCH(Call, call);
        INSTALL_CAMERAS(twoCameras);
        CameraHandle camera("G1");
        mvsim::setFault(operation.toStdString(), status(MV_E_RESOURCE));
        QCOMPARE(call(camera.handle), status(MV_E_RESOURCE));
        mvsim::clearFaults();
        QVERIFY(call(camera.handle) >= 0);
    }

    void aCountedFaultFailsOnlyThatManyCalls()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle camera("G1");
        mvsim::setFault("MV_CC_OpenDevice", status(MV_E_ACCESS), "G1", 2);
        QCOMPARE(camera.open(), status(MV_E_ACCESS));
        QCOMPARE(camera.open(), status(MV_E_ACCESS));
        QCOMPARE(camera.open(), MV_OK);
    }

    void aFaultForOneCameraLeavesTheOthersAlone()
    {
        INSTALL_CAMERAS(twoCameras);
        mvsim::setFault("MV_CC_OpenDevice", status(MV_E_ACCESS), "U1");
        CameraHandle gige("G1");
        CameraHandle usb("U1");
        QCOMPARE(gige.open(), MV_OK);
        QCOMPARE(usb.open(), status(MV_E_ACCESS));
    }

    void aVanishedCameraReportsNoDeviceUntilReset()
    {
        INSTALL_CAMERAS(twoCameras);
        mvsim::vanishAfter("G1", 3);
        {
            CameraHandle camera("G1");
            QVERIFY(camera.start());
            std::vector<unsigned char> frame;
            MV_FRAME_OUT_INFO_EX info;
            for (int i = 0; i < 3; ++i)
                QCOMPARE(camera.fetch(frame, info), MV_OK);
            QCOMPARE(camera.fetch(frame, info), status(MV_E_NODEVICE));
            MVCC_FLOATVALUE gain{};
            QCOMPARE(MV_CC_GetFloatValue(camera.handle, "Gain", &gain), status(MV_E_NODEVICE));
            QCOMPARE(MV_CC_StopGrabbing(camera.handle), status(MV_E_NODEVICE));
            QCOMPARE(MV_CC_CloseDevice(camera.handle), MV_OK);
            QCOMPARE(camera.open(), status(MV_E_NODEVICE));
        }
        QStringList serials;
        for (const MV_CC_DEVICE_INFO &info : enumerateCameras())
            serials << QString::fromStdString(serialOf(info));
        QCOMPARE(serials, QStringList{"U1"});
        INSTALL_CAMERAS(twoCameras);
        CameraHandle again("G1");
        QCOMPARE(again.open(), MV_OK);
    }

    void packetSizeIsOfferedForGigeOnly()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle gige("G1");
        QCOMPARE(gige.open(), MV_OK);
        const int size = MV_CC_GetOptimalPacketSize(gige.handle);
        QCOMPARE(size, 1500);
        QCOMPARE(MV_CC_SetIntValueEx(gige.handle, "GevSCPSPacketSize", size), MV_OK);
        QCOMPARE(gige.intValue("GevSCPSPacketSize"), int64_t(size));
        CameraHandle usb("U1");
        QCOMPARE(usb.open(), MV_OK);
        QCOMPARE(MV_CC_GetOptimalPacketSize(usb.handle), status(MV_E_SUPPORT));
        QCOMPARE(MV_CC_SetIntValueEx(usb.handle, "GevSCPSPacketSize", 1500), status(MV_E_NOTFOUND));
    }

    void transportStatisticsMatchTheCameraTransport()
    {
        INSTALL_CAMERAS(twoCameras);
        CameraHandle gige("G1");
        CameraHandle usb("U1");
        QVERIFY(gige.start());
        QVERIFY(usb.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(gige.fetch(frame, info), MV_OK);
            QCOMPARE(usb.fetch(frame, info), MV_OK);
        }
        MV_NETTRANS_INFO net{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(gige.handle, &net), MV_OK);
        QCOMPARE(net.nNetRecvFrameCount, 3u);
        QCOMPARE(net.nThrowFrameCount, 0);
        QCOMPARE(MV_GIGE_GetNetTransInfo(usb.handle, &net), status(MV_E_SUPPORT));

        MV_MATCH_INFO_USB_DETECT detect{};
        MV_ALL_MATCH_INFO match{MV_MATCH_TYPE_USB_DETECT, &detect, sizeof detect};
        QCOMPARE(MV_CC_GetAllMatchInfo(usb.handle, &match), MV_OK);
        QCOMPARE(detect.nReceivedFrameCount, 3u);
        QCOMPARE(detect.nErrorFrameCount, 0u);
        QCOMPARE(detect.nReceiveDataSize, int64_t(3 * 8 * 2 * 3));
        QCOMPARE(MV_CC_GetAllMatchInfo(gige.handle, &match), status(MV_E_SUPPORT));
    }
};

QTEST_GUILESS_MAIN(SdkContractTest)
#include "tst_sdk_contract.moc"
