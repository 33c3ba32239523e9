// Simulated cameras described by an INI text.
#include "simcamera.h"

#include <set>

class SdkConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("CORVISTA_CAMERAS", "simulator");
        mvsim::reset();
    }

    void sectionsBecomeCamerasWithTheirKeys()
    {
        INSTALL_CAMERAS(
            "; a test bench\n[Left station]\ntransport = USB3\nmodel = LX 2k\nserial = USB-7\n"
            "pixel_format = BayerRG8\nline_rate = 0\n"
            "[GIGE-A]\naddress = 10.1.2.3\n# keys ignore case\nWidth = 1024\nLINES_PER_FRAME = 64\n"
            "line_rate = 12000\nexposure_time = 50\npacket_size = 8192\n");
        const auto cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(2));
        QCOMPARE(cameras[0].nTLayerType, unsigned(MV_USB_DEVICE));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(cameras[0].SpecialInfo.stUsb3VInfo.chModelName)),
                 QByteArray("LX 2k"));
        QCOMPARE(cameras[1].SpecialInfo.stGigEInfo.nCurrentIp, (10u << 24) | (1u << 16) | (2u << 8) | 3u);
        QCOMPARE(serialOf(cameras[1]), std::string("GIGE-A"));
        CameraHandle gige("GIGE-A");
        QCOMPARE(gige.open(), MV_OK);
        QCOMPARE(gige.intValue("Width"), int64_t(1024));
        QCOMPARE(gige.intValue("Height"), int64_t(64));
        QCOMPARE(gige.intValue("ResultingLineRate"), int64_t(12000));
        QCOMPARE(MV_CC_GetOptimalPacketSize(gige.handle), 8192);
        MVCC_FLOATVALUE exposure{};
        QCOMPARE(MV_CC_GetFloatValue(gige.handle, "ExposureTime", &exposure), MV_OK);
        QCOMPARE(exposure.fCurValue, 50.0f);
    }

    void aConfigurationThatCannotBeUsedIsRefusedWithItsReason_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("ini");
        QTest::newRow("unknown key") << "unknown key" << QString("[A]\nwidht = 5\n");
        QTest::newRow("negative number") << "not a valid number" << QString("[A]\nwidth = -4\n");
        QTest::newRow("frame beyond 2 GiB")
            << "2 GiB" << QString("[A]\nwidth = 65536\nlines_per_frame = 65536\n");
        QTest::newRow("bad address") << "IPv4" << QString("[A]\naddress = 10.0.300.1\n");
        QTest::newRow("odd Bayer frames")
            << "even" << QString("[A]\npixel_format = BayerRG8\nlines_per_frame = 7\n");
        QTest::newRow("serial twice") << "used twice" << QString("[A]\nserial = X\n[B]\nserial = X\n");
        QTest::newRow("noise beyond 64") << "not a valid number" << QString("[A]\nnoise = 65\n");
        QTest::newRow("vignette beyond 0.9") << "from 0 to 0.9" << QString("[A]\nvignette = 0.95\n");
        QTest::newRow("negative column gain") << "from 0 to 0.5" << QString("[A]\ncolumn_gain = -0.1\n");
        QTest::newRow("column offset beyond 64")
            << "not a valid number" << QString("[A]\ncolumn_offset = 65\n");
        QTest::newRow("target beyond 255") << "scene or a level" << QString("[A]\ntarget = 256\n");
    }

    void aConfigurationThatCannotBeUsedIsRefusedWithItsReason()
    {
        QFETCH(QString, ini);
        QFETCH(QString, reason);
        INSTALL_CAMERAS("[KEEP]\nwidth = 8\n");
        std::string error;
        QVERIFY(!mvsim::configure(ini.toStdString(), &error));
        QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
        const auto cameras = enumerateCameras(); // the cameras installed before stay
        QCOMPARE(cameras.size(), std::size_t(1));
        QCOMPARE(serialOf(cameras[0]), std::string("KEEP"));
    }

    void configuredFaultsAndVanishingHitOnlyTheirCamera()
    {
        INSTALL_CAMERAS("[F]\nline_rate = 0\nwidth = 8\nlines_per_frame = 2\n"
                        "fault.MV_CC_GetOptimalPacketSize = 0x80000006\nvanish_after_frames = 1\n[OK]\n");
        CameraHandle faulty("F");
        QVERIFY(faulty.start());
        QCOMPARE(MV_CC_GetOptimalPacketSize(faulty.handle), status(MV_E_RESOURCE));
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(faulty.fetch(frame, info), MV_OK);
        QCOMPARE(faulty.fetch(frame, info), status(MV_E_NODEVICE));
        QCOMPARE(MV_CC_StopGrabbing(faulty.handle), status(MV_E_NODEVICE));
        QCOMPARE(MV_CC_CloseDevice(faulty.handle), MV_OK);
        QCOMPARE(faulty.open(), status(MV_E_NODEVICE));
        QCOMPARE(enumerateCameras().size(), std::size_t(1)); // gone from the list too
        CameraHandle healthy("OK");
        QCOMPARE(healthy.open(), MV_OK);
        QCOMPARE(MV_CC_GetOptimalPacketSize(healthy.handle), 1500);
    }

    // Noise moves every pixel but the line stamp by at most its amplitude,
    // spreads over the whole range, and a camera without it is untouched.
    void noiseStaysWithinItsAmplitudeAndSparesTheStamp()
    {
        INSTALL_CAMERAS("[NOISY]\nwidth = 512\nlines_per_frame = 64\nline_rate = 0\nnoise = 6\n"
                        "[CLEAN]\nwidth = 512\nlines_per_frame = 64\nline_rate = 0\n");
        for (const char *serial : {"NOISY", "CLEAN"}) {
            CameraHandle camera(serial);
            QVERIFY(camera.start());
            std::vector<unsigned char> frame;
            MV_FRAME_OUT_INFO_EX info{};
            QCOMPARE(camera.fetch(frame, info), MV_OK);
            const bool noisy = std::string(serial) == "NOISY";
            int largest = 0;
            std::set<int> seen;
            for (unsigned int row = 0; row < info.nHeight; ++row) {
                const unsigned char *line = frame.data() + std::size_t(row) * info.nWidth;
                const uint64_t number = uint64_t(info.nFrameNum) * info.nHeight + row;
                QCOMPARE(mvsim::lineStamp(line, 1), uint32_t(number));
                for (unsigned int x = 4; x < info.nWidth; ++x) {
                    const int clean = mvsim::scenePixel(serial, number, x, 0, PixelType_Gvsp_Mono8);
                    const int difference = int(line[x]) - clean;
                    largest = std::max(largest, std::abs(difference));
                    if (clean > 6 && clean < 249)
                        seen.insert(difference);
                }
            }
            QCOMPARE(largest, noisy ? 6 : 0);
            QCOMPARE(int(seen.size()), noisy ? 13 : 1);
        }
    }
};

QTEST_GUILESS_MAIN(SdkConfigTest)
#include "tst_sdk_config.moc"
