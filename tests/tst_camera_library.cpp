// The camera library's C interface: handles, call order, exclusive access,
// waking a waiting fetch, buffers, the header seen from C,
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

const char *twoCameras
    = "[G1]\ntransport = GigE\nwidth = 16\nlines_per_frame = 4\nline_rate = 0\nmissing_features = "
      "TriggerMode\n"
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

    // A call the handle's state does not allow is refused: a handle that
    // never was or no longer is, calls out of order, a camera another handle has.
    void callsRefusedInTheirHandlesState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("expected");
        const Call open = [](void *h) { return MV_CC_OpenDevice(h, MV_ACCESS_Exclusive, 0); };
        const std::pair<const char *, Call> calls[] = {{"open", open},
                                                       {"close", MV_CC_CloseDevice},
                                                       {"destroy", MV_CC_DestroyHandle},
                                                       {"start", MV_CC_StartGrabbing},
                                                       {"fetch", fetchInto64Bytes},
                                                       {"read", readWidth}};
        for (const char *state : {"null", "never created", "destroyed", "destroyed open"})
            for (const auto &[name, call] : calls)
                QTest::addRow("%s: %s", state, name) << state << call << status(MV_E_HANDLE);
        const int order = status(MV_E_CALLORDER), parameter = status(MV_E_PARAMETER);
        QTest::newRow("start before open") << "created" << Call(MV_CC_StartGrabbing) << order;
        QTest::newRow("open twice") << "open" << open << order;
        QTest::newRow("stop before start") << "open" << Call(MV_CC_StopGrabbing) << order;
        QTest::newRow("fetch before start") << "open" << Call(fetchInto64Bytes) << order;
        QTest::newRow("fetch after stop") << "stopped" << Call(fetchInto64Bytes) << order;
        QTest::newRow("feature after close") << "closed" << Call(readWidth) << order;
        QTest::newRow("fetch without buffer") << "grabbing" << Call([](void *h) {
            MV_FRAME_OUT_INFO_EX info{};
            return MV_CC_GetOneFrameTimeout(h, nullptr, 64, &info, 10);
        }) << parameter;
        // Enumerations by name: an unknown entry, no enumeration, a feature this camera lacks, none has.
        const auto entry = [](const char *feature, const char *name) {
            return Call([=](void *h) { return MV_CC_SetEnumValueByString(h, feature, name); });
        };
        const int notFound = status(MV_E_NOTFOUND);
        QTest::newRow("unknown entry") << "open" << entry("TriggerSource", "Line9") << status(MV_E_RANGE);
        QTest::newRow("entry of no enumeration") << "open" << entry("Gain", "On") << status(MV_E_TYPE);
        QTest::newRow("entry of a lacking feature") << "open" << entry("TriggerMode", "On") << notFound;
        QTest::newRow("entry of no feature") << "open" << entry("Flash", "On") << notFound;
        QTest::newRow("entry without a name") << "open" << entry("TriggerSource", nullptr) << parameter;
        QTest::newRow("entries without a record")
            << "open" << Call([](void *h) { return MV_CC_GetEnumEntries(h, "TriggerSource", nullptr); })
            << parameter;
        QTest::newRow("open of a camera taken") << "open elsewhere" << open << status(MV_E_ACCESS);
        QTest::newRow("open once the other handle closed") << "closed elsewhere" << open << MV_OK;
    }

    void callsRefusedInTheirHandlesState()
    {
        QFETCH(QString, state);
        QFETCH(Call, call);
        INSTALL_CAMERAS(twoCameras);
        CameraHandle camera(state == "grabbing" ? "U1" : "G1"), other("G1");
        void *handle = state == "null" ? nullptr
            : state == "never created" ? reinterpret_cast<void *>(uintptr_t(0xDEADBEEF))
                                       : camera.handle;
        if (state.startsWith("destroyed")) {
            if (state == "destroyed open")
                QCOMPARE(camera.open(), MV_OK);
            QCOMPARE(MV_CC_DestroyHandle(camera.handle), MV_OK);
            camera.handle = nullptr;
            CameraHandle successor("G1"); // a new handle must never reuse the destroyed one
            QVERIFY(successor.handle != handle);
        } else if (state.endsWith("elsewhere") || state == "grabbing") { // the other camera claimed apart
            QCOMPARE(other.open(), MV_OK);
            if (state == "closed elsewhere")
                QCOMPARE(MV_CC_CloseDevice(other.handle), MV_OK);
        }
        if (state == "open" || state == "stopped" || state == "grabbing" || state == "closed")
            QCOMPARE(camera.open(), MV_OK);
        if (state == "stopped" || state == "grabbing")
            QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        if (state == "stopped")
            QCOMPARE(MV_CC_StopGrabbing(camera.handle), MV_OK);
        if (state == "closed")
            QCOMPARE(MV_CC_CloseDevice(camera.handle), MV_OK);
        QTEST(call(handle), "expected");
    }

    // A waiting fetch ends with no data on its timeout, at once on stop or destroy, and leaves the
    // camera free. A fetch that only began after the stop proves nothing: that round runs again.
    void aWaitingFetchEndsOnItsTimeoutOrAtOnceOnStopOrDestroy_data()
    {
        QTest::addColumn<QString>("end");
        for (const char *end : {"timeout", "stop", "destroy"})
            QTest::newRow(end) << end;
    }

    void aWaitingFetchEndsOnItsTimeoutOrAtOnceOnStopOrDestroy()
    {
        QFETCH(QString, end);
        // One line a tenth of a second: no frame completes within the test.
        INSTALL_CAMERAS("[SLOW]\nwidth = 32\nlines_per_frame = 64\nline_rate = 10\nmax_line_rate = 10\n");
        int result = MV_OK;
        qint64 callMs = 0, afterEndMs = 0;
        bool endedEarly = false;
        for (int round = 0;
             round < 20 && (round == 0 || result == status(MV_E_CALLORDER) || result == status(MV_E_HANDLE));
             ++round) {
            CameraHandle camera("SLOW");
            QVERIFY(camera.start());
            std::atomic<bool> called{false}, returned{false};
            QElapsedTimer sinceCall, sinceEnd;
            std::thread grabber([&] {
                std::vector<unsigned char> frame(32 * 64);
                MV_FRAME_OUT_INFO_EX info;
                called = true;
                sinceCall.start();
                result = MV_CC_GetOneFrameTimeout(camera.handle, frame.data(), 32 * 64, &info,
                                                  end == "timeout" ? 400 : 20000);
                callMs = sinceCall.elapsed();
                returned = true;
            });
            QTRY_VERIFY(called.load());
            endedEarly = end != "timeout" && returned; // its timeout is far off and no frame comes
            if (end != "timeout") {
                sinceEnd.start();
                QCOMPARE(end == "stop" ? MV_CC_StopGrabbing(camera.handle)
                                       : MV_CC_DestroyHandle(camera.handle),
                         MV_OK);
            }
            grabber.join();
            afterEndMs = sinceEnd.isValid() ? sinceEnd.elapsed() : 0;
            if (end == "destroy")
                camera.handle = nullptr;
        }
        QVERIFY(!endedEarly);
        QCOMPARE(result, status(MV_E_NODATA));
        QVERIFY2(end != "timeout" || (callMs >= 399 && callMs < 1200), qPrintable(QString::number(callMs)));
        QVERIFY2(afterEndMs < 1000, qPrintable(QString::number(afterEndMs)));
        QCOMPARE(CameraHandle("SLOW").open(), MV_OK);
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

    // Each round opens and destroys one handle from two threads released
    // together; whichever wins, a fresh handle must open afterwards.
    void openRacingDestroyNeverLeavesTheCameraClaimed()
    {
        INSTALL_CAMERAS("[RACE]\nwidth = 16\nlines_per_frame = 4\n");
        const MV_CC_DEVICE_INFO record = enumerateCameras().at(0);
        for (int round = 0; round < 1000; ++round) {
            void *handle = nullptr;
            QCOMPARE(MV_CC_CreateHandle(&handle, &record), MV_OK);
            std::atomic<int> ready{0};
            int openStatus = 0, destroyStatus = 0;
            const auto together = [&ready] {
                for (++ready; ready < 2;)
                    std::this_thread::yield(); // two cores are shared: let the other thread run
            };
            std::thread opener(
                [&] { together(), openStatus = MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0); });
            std::thread destroyer([&] { together(), destroyStatus = MV_CC_DestroyHandle(handle); });
            opener.join();
            destroyer.join();
            QCOMPARE(destroyStatus, MV_OK);
            QVERIFY(openStatus == MV_OK || openStatus == status(MV_E_HANDLE));
            CameraHandle fresh("RACE");
            if (fresh.open() != MV_OK)
                QFAIL(qPrintable(QString("round %1: camera left claimed").arg(round)));
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

    // Refused without writing a byte, and without reading past what the
    // caller lent when sizes wrap.
    void conversionRefusesWhatItCannotDo()
    {
        const unsigned int mono = PixelType_Gvsp_Mono8, all = 0xFFFFFFFFu;
        const int parameter = status(MV_E_PARAMETER);
        const struct {
            const char *what;
            unsigned int type, width, height, sourceBytes, targetBytes;
            int expected;
        } rows[]
            = {{"source shorter than the frame", mono, 4, 4, 15, 48, parameter},
               {"target too small", mono, 4, 4, 16, 47, status(MV_E_BUFOVER)},
               {"size beyond 4 GiB", mono, 0x10000000u, 4, 16, 48, parameter},
               // 2147587272 x 2863173372 x 3 bytes is 11936 modulo 2^64.
               {"RGB8 wrapping", PixelType_Gvsp_RGB8_Packed, 2147587272u, 2863173372u, all, all, parameter},
               {"Mono16 beyond 4 GiB", PixelType_Gvsp_Mono16, 0x10000u, 0x10000u, all, all, parameter},
               {"Mono10p largest frame", PixelType_Gvsp_Mono10p, all, all, all, all, parameter},
               {"Mono14", 0x01100025u, 4, 4, 32, 48, status(MV_E_SUPPORT)}};
        for (const auto &row : rows) {
            std::vector<unsigned char> src(12000, 7), dst(12000, 0xEE);
            unsigned int written = 1;
            QVERIFY2(convertToRgb(row.type, row.width, row.height, src.data(), row.sourceBytes, dst.data(),
                                  row.targetBytes, &written)
                         == row.expected,
                     row.what);
            QVERIFY2(written == 0 && std::count(dst.begin(), dst.end(), 0xEE) == std::ptrdiff_t(dst.size()),
                     row.what);
        }
    }

    // A snapshot reads back with the frame's pixels (a JPEG within its loss);
    // a request that cannot be met is refused and writes nothing.
    void savingAFrame_data()
    {
        QTest::addColumn<unsigned int>("pixelType");
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<unsigned int>("imageType");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("expected");
        const unsigned int mono = PixelType_Gvsp_Mono8, rgb = PixelType_Gvsp_RGB8_Packed, png = MV_Image_Png;
        const int parameter = status(MV_E_PARAMETER);
        // 37 pixels: lines are not 4-byte aligned.
        QTest::newRow("BMP Mono8") << mono << 37u << unsigned(MV_Image_Bmp) << "" << MV_OK;
        QTest::newRow("BMP RGB8") << rgb << 37u << unsigned(MV_Image_Bmp) << "" << MV_OK;
        QTest::newRow("PNG Mono8") << mono << 37u << png << "" << MV_OK;
        QTest::newRow("TIFF RGB8") << rgb << 37u << unsigned(MV_Image_Tif) << "" << MV_OK;
        QTest::newRow("JPEG RGB8") << rgb << 37u << unsigned(MV_Image_Jpeg) << "" << MV_OK;
        QTest::newRow("data shorter than the frame") << mono << 37u << png << "short" << parameter;
        QTest::newRow("path without terminating zero") << mono << 37u << png << "unterminated" << parameter;
        QTest::newRow("folder does not exist") << mono << 37u << png << "folder" << status(MV_E_WRITEFILE);
        // 3 x 800000000 bytes a line do not fit in an int; the data claims the whole frame.
        QTest::newRow("RGB8 line of 800000000 pixels")
            << rgb << 800000000u << png << "claims all" << parameter;
        QTest::newRow("Bayer line of 800000000 pixels")
            << unsigned(PixelType_Gvsp_BayerGR8) << 800000000u << png << "claims all" << parameter;
        for (const unsigned int bad : {99u, 0x80000000u, unsigned(MV_Image_Undefined)})
            QTest::addRow("image type %u", bad) << mono << 37u << bad << "" << parameter;
    }

    void savingAFrame()
    {
        QFETCH(unsigned int, pixelType);
        QFETCH(unsigned int, width);
        QFETCH(unsigned int, imageType);
        QFETCH(QString, fault);
        QFETCH(int, expected);
        QTemporaryDir dir;
        const unsigned int height = width == 37 ? 24 : 1,
                           bpp = pixelType == PixelType_Gvsp_RGB8_Packed ? 3 : 1;
        std::vector<unsigned char> data = scene(pixelType, 37, 24, bpp);
        const QString path = dir.filePath(fault == "folder" ? "missing/1.img" : "1.img");
        MV_SAVE_IMG_TO_FILE_PARAM param
            = saveRequest(data.data(), unsigned(data.size()) - (fault == "short"), pixelType, width, height,
                          imageType, QFile::encodeName(path));
        if (fault == "unterminated")
            std::memset(param.pImagePath, 'a', sizeof param.pImagePath);
        else if (fault == "claims all")
            param.nDataLen = 0xFFFFFFFFu;
        QCOMPARE(MV_CC_SaveImageToFile(nullptr, &param), expected);
        if (expected != MV_OK) {
            QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
            return;
        }
        const QImage image = QImage(path).convertToFormat(QImage::Format_RGB888);
        QCOMPARE(image.size(), QSize(int(width), int(height)));
        int worst = 0;
        for (unsigned int y = 0; y < height; ++y)
            for (unsigned int i = 0; i < width * 3; ++i) {
                const unsigned char pixel = data[(y * width * 3 + i) / (4 - bpp)];
                worst = std::max(worst, std::abs(int(image.constScanLine(int(y))[i]) - int(pixel)));
            }
        QVERIFY2(worst <= (imageType == MV_Image_Jpeg ? 127 : 0), qPrintable(QString::number(worst)));
    }
};

QTEST_GUILESS_MAIN(CameraLibraryTest)
#include "tst_camera_library.moc"
