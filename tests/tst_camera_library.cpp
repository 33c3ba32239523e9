// The camera library's C interface: handles, call order, exclusive access,
// waking a waiting fetch, buffers, injected faults, the header seen from C,
// and the conversion and save calls.
#include "simcamera.h"

#include <QImage>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <thread>

extern "C" std::size_t mvcc_c_layout(unsigned int index);
extern "C" int mvcc_c_open_null_handle(void);

namespace {

// One line a tenth of a second: no frame completes within a test.
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

std::vector<unsigned char> scene(unsigned int type, unsigned int width, unsigned int height, unsigned int bpp)
{
    std::vector<unsigned char> data(std::size_t(width) * height * bpp);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = mvsim::scenePixel("PIC", unsigned(i / (width * bpp)), unsigned(i / bpp % width), i % bpp,
                                    MvGvspPixelType(type));
    return data;
}

QStringList entriesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
}

} // namespace

using Call = std::function<int(void *)>;
Q_DECLARE_METATYPE(Call)

class CameraLibraryTest : public QObject
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

    // A fetch that waits ends with no data on its timeout, and at once when
    // grabbing stops or the handle goes. A fetch that only started after the
    // stop is refused instead (call order, or handle): such a round proves
    // nothing about waking and is run again.
    void aWaitingFetchEndsOnItsTimeoutOrAtOnceOnStopOrDestroy_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("timeout") << "timeout";
        QTest::newRow("stop grabbing") << "stop";
        QTest::newRow("destroy the handle") << "destroy";
    }

    void aWaitingFetchEndsOnItsTimeoutOrAtOnceOnStopOrDestroy()
    {
        QFETCH(QString, end);
        INSTALL_CAMERAS(slowCamera);
        const unsigned int timeoutMs = end == "timeout" ? 400 : 20000;
        int result = MV_OK;
        qint64 callMs = 0, afterEndMs = 0;
        bool endedEarly = false;
        for (int round = 0; round < 20; ++round) {
            auto camera = std::make_unique<CameraHandle>("SLOW");
            QVERIFY(camera->start());
            std::atomic<bool> called{false}, returned{false};
            QElapsedTimer sinceCall, sinceEnd;
            std::thread grabber([&] {
                std::vector<unsigned char> frame(32 * 64);
                MV_FRAME_OUT_INFO_EX info;
                called = true;
                sinceCall.start();
                result = MV_CC_GetOneFrameTimeout(camera->handle, frame.data(), 32 * 64, &info, timeoutMs);
                callMs = sinceCall.elapsed();
                returned = true;
            });
            QTRY_VERIFY(called.load());
            // Nothing can end it yet: its timeout is far off and no frame comes.
            endedEarly = end != "timeout" && returned;
            if (end != "timeout") {
                sinceEnd.start();
                QCOMPARE(end == "destroy" ? MV_CC_DestroyHandle(camera->handle)
                                          : MV_CC_StopGrabbing(camera->handle),
                         MV_OK);
            }
            grabber.join();
            afterEndMs = sinceEnd.isValid() ? sinceEnd.elapsed() : 0;
            if (end == "destroy")
                camera->handle = nullptr;
            if (result != status(MV_E_CALLORDER) && result != status(MV_E_HANDLE))
                break;
        }
        QVERIFY(!endedEarly);
        QCOMPARE(result, status(MV_E_NODATA));
        if (end == "timeout")
            QVERIFY2(callMs >= 399 && callMs < 1200, qPrintable(QString::number(callMs)));
        QVERIFY2(afterEndMs < 1000, qPrintable(QString::number(afterEndMs)));
        CameraHandle again("SLOW"); // the destroyed or stopped handle released the camera
        QCOMPARE(again.open(), MV_OK);
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

    void openRacingDestroyNeverLeavesTheCameraClaimed()
    {
        INSTALL_CAMERAS("[RACE]\nwidth = 16\nlines_per_frame = 4\n");
        const std::vector<MV_CC_DEVICE_INFO> cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(1));
        const MV_CC_DEVICE_INFO record = cameras.front();
        // Each round opens and destroys one handle from two threads released
        // together; whichever wins, a fresh handle must open afterwards.
        for (int round = 0; round < 1000; ++round) {
            void *handle = nullptr;
            QCOMPARE(MV_CC_CreateHandle(&handle, &record), MV_OK);
            std::atomic<int> ready{0};
            int openStatus = 0, destroyStatus = 0;
            const auto together = [&ready] {
                ++ready;
                while (ready < 2)
                    std::this_thread::yield(); // two cores are shared: let the other thread run
            };
            std::thread opener([&] {
                together();
                openStatus = MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0);
            });
            std::thread destroyer([&] {
                together();
                destroyStatus = MV_CC_DestroyHandle(handle);
            });
            opener.join();
            destroyer.join();
            QCOMPARE(destroyStatus, MV_OK);
            QVERIFY2(openStatus == MV_OK || openStatus == status(MV_E_HANDLE),
                     qPrintable(QString::number(unsigned(openStatus), 16)));
            void *fresh = nullptr;
            QCOMPARE(MV_CC_CreateHandle(&fresh, &record), MV_OK);
            const int reopen = MV_CC_OpenDevice(fresh, MV_ACCESS_Exclusive, 0);
            MV_CC_DestroyHandle(fresh);
            if (reopen != MV_OK)
                QFAIL(qPrintable(QString("round %1: camera left claimed, open gave 0x%2")
                                     .arg(round)
                                     .arg(unsigned(reopen), 0, 16)));
        }
    }

    void recordsHaveTheSameLayoutInCAndCpp()
    {
        const std::size_t cpp[] = {sizeof(MV_FRAME_OUT_INFO_EX),
                                   offsetof(MV_FRAME_OUT_INFO_EX, nHostTimeStamp),
                                   sizeof(MV_CC_DEVICE_INFO),
                                   sizeof(MV_CC_PIXEL_CONVERT_PARAM),
                                   sizeof(MV_NETTRANS_INFO),
                                   sizeof(MV_MATCH_INFO_USB_DETECT),
                                   offsetof(MV_SAVE_IMG_TO_FILE_PARAM, iMethodValue)};
        for (unsigned int i = 0; i < sizeof cpp / sizeof cpp[0]; ++i)
            QVERIFY2(mvcc_c_layout(i) == cpp[i], qPrintable(QString("record %1").arg(i)));
        QCOMPARE(mvcc_c_layout(sizeof cpp / sizeof cpp[0]), std::size_t(0)); // both lists end together
        QCOMPARE(mvcc_c_open_null_handle(), int(MV_E_HANDLE)); // and C callers reach the library
    }

    void mono8BecomesGrayRgbRgb8PassesUnchangedAndBayerUsesItsWindow()
    {
        // 257 pixels a line: whole blocks of sixteen and a remainder.
        std::vector<unsigned char> gray = scene(PixelType_Gvsp_Mono8, 257, 3, 1);
        std::vector<unsigned char> rgb(gray.size() * 3 + 8, 0xEE);
        unsigned int written = 0;
        QCOMPARE(convertToRgb(PixelType_Gvsp_Mono8, 257, 3, gray.data(), unsigned(gray.size()), rgb.data(),
                              unsigned(rgb.size()), &written),
                 MV_OK);
        QCOMPARE(written, unsigned(gray.size() * 3));
        for (std::size_t i = 0; i < rgb.size(); ++i)
            QCOMPARE(rgb[i], i < gray.size() * 3 ? gray[i / 3] : (unsigned char)0xEE);

        std::vector<unsigned char> colour = scene(PixelType_Gvsp_RGB8_Packed, 33, 5, 3);
        std::vector<unsigned char> copy(colour.size());
        QCOMPARE(convertToRgb(PixelType_Gvsp_RGB8_Packed, 33, 5, colour.data(), unsigned(colour.size()),
                              copy.data(), unsigned(copy.size())),
                 MV_OK);
        QVERIFY(copy == colour);

        // R0 G1 R2 G3 / G4 B5 G6 B7; the last column and line reuse the window before them.
        std::vector<unsigned char> raw{10, 20, 30, 40, 50, 60, 70, 80};
        std::vector<unsigned char> bayer(4 * 2 * 3);
        QCOMPARE(convertToRgb(PixelType_Gvsp_BayerRG8, 4, 2, raw.data(), 8, bayer.data(), 24), MV_OK);
        const std::vector<unsigned char> line{10, 35, 60, 30, 45, 60, 30, 55, 80, 30, 55, 80};
        QCOMPARE(std::vector<unsigned char>(bayer.begin(), bayer.begin() + 12), line);
        QCOMPARE(std::vector<unsigned char>(bayer.begin() + 12, bayer.end()), line);
    }

    // Refused without writing a byte, and without reading past what the
    // caller lent when sizes wrap.
    void conversionRefusesWhatItCannotDo_data()
    {
        QTest::addColumn<unsigned int>("type");
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<unsigned int>("height");
        QTest::addColumn<unsigned int>("sourceBytes");
        QTest::addColumn<unsigned int>("targetBytes");
        QTest::addColumn<int>("expected");
        const unsigned int mono = PixelType_Gvsp_Mono8, all = 0xFFFFFFFFu;
        const int parameter = status(MV_E_PARAMETER);
        QTest::newRow("source shorter than the frame") << mono << 4u << 4u << 15u << 48u << parameter;
        QTest::newRow("target too small") << mono << 4u << 4u << 16u << 47u << status(MV_E_BUFOVER);
        QTest::newRow("size beyond 4 GiB") << mono << 0x10000000u << 4u << 16u << 48u << parameter;
        // 2147587272 x 2863173372 x 3 bytes is 11936 modulo 2^64.
        QTest::newRow("RGB8 wrapping to 11936 bytes")
            << unsigned(PixelType_Gvsp_RGB8_Packed) << 2147587272u << 2863173372u << all << all << parameter;
        QTest::newRow("Mono16 beyond 4 GiB")
            << unsigned(PixelType_Gvsp_Mono16) << 0x10000u << 0x10000u << all << all << parameter;
        QTest::newRow("Mono10p largest frame")
            << unsigned(PixelType_Gvsp_Mono10p) << all << all << all << all << parameter;
        QTest::newRow("Mono14 cannot be converted")
            << 0x01100025u << 4u << 4u << 32u << 48u << status(MV_E_SUPPORT);
    }

    void conversionRefusesWhatItCannotDo()
    {
        QFETCH(unsigned int, type);
        QFETCH(unsigned int, width);
        QFETCH(unsigned int, height);
        QFETCH(unsigned int, sourceBytes);
        QFETCH(unsigned int, targetBytes);
        std::vector<unsigned char> src(12000, 7), dst(12000, 0xEE);
        unsigned int written = 1;
        QTEST(convertToRgb(type, width, height, src.data(), sourceBytes, dst.data(), targetBytes, &written),
              "expected");
        QCOMPARE(written, 0u);
        QCOMPARE(std::count(dst.begin(), dst.end(), 0xEE), std::ptrdiff_t(dst.size()));
    }

    void savedFilesReadBackWithTheFramesPixels_data()
    {
        QTest::addColumn<unsigned int>("imageType");
        QTest::addColumn<unsigned int>("pixelType");
        const unsigned int mono = PixelType_Gvsp_Mono8, rgb = PixelType_Gvsp_RGB8_Packed;
        QTest::newRow("BMP Mono8") << unsigned(MV_Image_Bmp) << mono;
        QTest::newRow("BMP RGB8") << unsigned(MV_Image_Bmp) << rgb;
        QTest::newRow("PNG Mono8") << unsigned(MV_Image_Png) << mono;
        QTest::newRow("TIFF RGB8") << unsigned(MV_Image_Tif) << rgb;
        QTest::newRow("JPEG RGB8") << unsigned(MV_Image_Jpeg) << rgb;
    }

    void savedFilesReadBackWithTheFramesPixels()
    {
        QFETCH(unsigned int, imageType);
        QFETCH(unsigned int, pixelType);
        QTemporaryDir dir;
        const unsigned int width = 37, height = 24; // odd width: lines are not 4-byte aligned
        const unsigned int bpp = pixelType == PixelType_Gvsp_RGB8_Packed ? 3 : 1;
        std::vector<unsigned char> data = scene(pixelType, width, height, bpp);
        const QString path = dir.filePath("Image_1.img");
        MV_SAVE_IMG_TO_FILE_PARAM param = saveRequest(data.data(), unsigned(data.size()), pixelType, width,
                                                      height, imageType, QFile::encodeName(path));
        QCOMPARE(MV_CC_SaveImageToFile(nullptr, &param), MV_OK);
        const QImage image = QImage(path).convertToFormat(QImage::Format_RGB888);
        QCOMPARE(image.size(), QSize(int(width), int(height)));
        int worst = 0;
        for (unsigned int y = 0; y < height; ++y)
            for (unsigned int i = 0; i < width * 3; ++i) {
                const unsigned char expected = data[(y * width * 3 + i) / (4 - bpp)];
                worst = std::max(worst, std::abs(int(image.constScanLine(int(y))[i]) - int(expected)));
            }
        if (imageType == MV_Image_Jpeg)
            QVERIFY2(worst < 128, qPrintable(QString::number(worst)));
        else
            QCOMPARE(worst, 0);
    }

    void savingRefusesBadRequestsAndWritesNothing_data()
    {
        QTest::addColumn<unsigned int>("type");
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<unsigned int>("imageType");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("expected");
        const unsigned int mono = PixelType_Gvsp_Mono8, png = MV_Image_Png;
        const int parameter = status(MV_E_PARAMETER);
        QTest::newRow("data shorter than the frame") << mono << 16u << png << "short" << parameter;
        QTest::newRow("path without terminating zero") << mono << 16u << png << "unterminated" << parameter;
        QTest::newRow("folder does not exist") << mono << 16u << png << "folder" << status(MV_E_WRITEFILE);
        // 3 x 800000000 bytes a line do not fit in an int; the data claims the whole frame.
        QTest::newRow("RGB8 line of 800000000 pixels")
            << unsigned(PixelType_Gvsp_RGB8_Packed) << 800000000u << png << "claims all" << parameter;
        QTest::newRow("Bayer line of 800000000 pixels")
            << unsigned(PixelType_Gvsp_BayerGR8) << 800000000u << png << "claims all" << parameter;
        QTest::newRow("image type 99") << mono << 16u << 99u << "" << parameter;
        QTest::newRow("image type 0x80000000") << mono << 16u << 0x80000000u << "" << parameter;
        QTest::newRow("image type undefined")
            << mono << 16u << unsigned(MV_Image_Undefined) << "" << parameter;
    }

    void savingRefusesBadRequestsAndWritesNothing()
    {
        QFETCH(unsigned int, type);
        QFETCH(unsigned int, width);
        QFETCH(unsigned int, imageType);
        QFETCH(QString, fault);
        QTemporaryDir dir;
        std::vector<unsigned char> data(16 * 4, 100);
        MV_SAVE_IMG_TO_FILE_PARAM param = saveRequest(data.data(), 64, type, width, width == 16 ? 4 : 1,
                                                      imageType, QFile::encodeName(dir.filePath("out.png")));
        if (fault == "short")
            param.nDataLen = 63;
        else if (fault == "unterminated")
            std::memset(param.pImagePath, 'a', sizeof param.pImagePath);
        else if (fault == "folder")
            std::strcpy(param.pImagePath, QFile::encodeName(dir.filePath("missing/out.png")).constData());
        else if (fault == "claims all")
            param.nDataLen = 0xFFFFFFFFu;
        QTEST(MV_CC_SaveImageToFile(nullptr, &param), "expected");
        QCOMPARE(entriesIn(dir.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(CameraLibraryTest)
#include "tst_camera_library.moc"
