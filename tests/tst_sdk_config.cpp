// Simulated cameras described by an INI text, a file or CORVISTA_SIM_CONFIG.
#include "tst_sdk_camera.h"

#include <QTemporaryDir>

namespace {

const char *threeCameras = "; a line-scan test bench\n"
                           "[Left station]\n"
                           "transport = USB3\n"
                           "manufacturer = Acme Optics\n"
                           "model = LX 2k\n"
                           "serial = USB-7\n"
                           "width = 2048\n"
                           "lines_per_frame = 100\n"
                           "pixel_format = BayerRG8\n"
                           "line_rate = 0\n"
                           "\n"
                           "[GIGE-A]\n"
                           "transport = GigE\n"
                           "address = 10.1.2.3\n"
                           "Width = 1024\n"
                           "# keys are case-insensitive\n"
                           "LINES_PER_FRAME = 64\n"
                           "line_rate = 12000\n"
                           "max_line_rate = 40000\n"
                           "exposure_time = 50\n"
                           "gain = 3.5\n"
                           "packet_size = 8192\n"
                           "[GIGE-B]\n"
                           "transport = gige\n";

QString text(const unsigned char *field)
{
    return QString::fromLatin1(reinterpret_cast<const char *>(field));
}

} // namespace

class SdkConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("CORVISTA_CAMERAS", "simulator");
        qunsetenv("CORVISTA_SIM_CONFIG");
        mvsim::reset();
    }

    void cleanupTestCase()
    {
        qunsetenv("CORVISTA_SIM_CONFIG");
        mvsim::reset();
    }

    void sectionsBecomeCamerasInTheirOrder()
    {
        INSTALL_CAMERAS(threeCameras);
        const auto cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(3));
        const MV_USB3_DEVICE_INFO &usb = cameras[0].SpecialInfo.stUsb3VInfo;
        QCOMPARE(cameras[0].nTLayerType, unsigned(MV_USB_DEVICE));
        QCOMPARE(text(usb.chManufacturerName), QString("Acme Optics"));
        QCOMPARE(text(usb.chModelName), QString("LX 2k"));
        QCOMPARE(text(usb.chSerialNumber), QString("USB-7"));
        const MV_GIGE_DEVICE_INFO &gige = cameras[1].SpecialInfo.stGigEInfo;
        QCOMPARE(gige.nCurrentIp, (10u << 24) | (1u << 16) | (2u << 8) | 3u);
        QCOMPARE(text(gige.chSerialNumber), QString("GIGE-A"));
        // Defaults: serial from the section, a simulated manufacturer and model.
        const MV_GIGE_DEVICE_INFO &plain = cameras[2].SpecialInfo.stGigEInfo;
        QCOMPARE(text(plain.chSerialNumber), QString("GIGE-B"));
        QCOMPARE(text(plain.chManufacturerName), QString("Corvista Simulated"));
        QVERIFY(text(plain.chModelName).contains("Sim"));
        QVERIFY(plain.nCurrentIp != 0 && plain.nCurrentIp != gige.nCurrentIp);
    }

    void keysSetTheCamerasFeatures()
    {
        INSTALL_CAMERAS(threeCameras);
        CameraHandle camera("GIGE-A");
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(camera.intValue("Width"), int64_t(1024));
        QCOMPARE(camera.intValue("Height"), int64_t(64));
        QCOMPARE(camera.intValue("AcquisitionLineRate"), int64_t(12000));
        QCOMPARE(camera.intValue("ResultingLineRate"), int64_t(12000));
        QCOMPARE(MV_CC_GetOptimalPacketSize(camera.handle), 8192);
        MVCC_FLOATVALUE value{};
        QCOMPARE(MV_CC_GetFloatValue(camera.handle, "ExposureTime", &value), MV_OK);
        QCOMPARE(value.fCurValue, 50.0f);
        QCOMPARE(MV_CC_GetFloatValue(camera.handle, "Gain", &value), MV_OK);
        QCOMPARE(value.fCurValue, 3.5f);
        MVCC_INTVALUE_EX rate{};
        QCOMPARE(MV_CC_GetIntValueEx(camera.handle, "AcquisitionLineRate", &rate), MV_OK);
        QCOMPARE(rate.nMax, int64_t(40000));

        CameraHandle bayer("USB-7");
        QVERIFY(bayer.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(bayer.fetch(frame, info), MV_OK);
        QCOMPARE(info.enPixelType, unsigned(PixelType_Gvsp_BayerRG8));
        QCOMPARE(info.nHeight, 100u);
        // Raw Bayer frames carry the stamp as they are.
        QCOMPARE(mvsim::lineStamp(frame.data() + 99 * 2048, 1), 99u);
    }

    void aConfigurationThatCannotBeUsedIsRefusedWithItsLine_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("reason");
        QTest::newRow("key outside a section") << "width = 5\n"
                                               << "line 1";
        QTest::newRow("unknown key") << "[A]\nwidht = 5\n"
                                     << "unknown key";
        QTest::newRow("not a number") << "[A]\nwidth = wide\n"
                                      << "not a valid number";
        QTest::newRow("negative number") << "[A]\nwidth = -4\n"
                                         << "not a valid number";
        QTest::newRow("zero width") << "[A]\nwidth = 0\n"
                                    << "at least 1";
        QTest::newRow("frame beyond 2 GiB") << "[A]\nwidth = 65536\nlines_per_frame = 65536\n"
                                            << "2 GiB";
        QTest::newRow("unknown transport") << "[A]\ntransport = CoaXPress\n"
                                           << "transport";
        QTest::newRow("unknown pixel format") << "[A]\npixel_format = Mono16\n"
                                              << "pixel_format";
        QTest::newRow("bad address") << "[A]\naddress = 10.0.300.1\n"
                                     << "IPv4";
        QTest::newRow("short address") << "[A]\naddress = 10.0.1\n"
                                       << "IPv4";
        QTest::newRow("line rate above maximum") << "[A]\nline_rate = 9000\nmax_line_rate = 5000\n"
                                                 << "line_rate";
        QTest::newRow("exposure out of range") << "[A]\nexposure_time = 0.5\n"
                                               << "exposure_time";
        QTest::newRow("gap without object") << "[A]\ngap_lines = 10\n"
                                            << "object_lines";
        QTest::newRow("odd Bayer frames") << "[A]\npixel_format = BayerRG8\nlines_per_frame = 7\n"
                                          << "even";
        QTest::newRow("no buffers") << "[A]\nbuffer_count = 0\n"
                                    << "buffer_count";
        QTest::newRow("serial twice") << "[A]\nserial = X\n[B]\nserial = X\n"
                                      << "used twice";
        QTest::newRow("bad section") << "[A\n"
                                     << "section";
        QTest::newRow("no equals sign") << "[A]\nwidth\n"
                                        << "key = value";
        QTest::newRow("bad fault status") << "[A]\nfault.MV_CC_OpenDevice = soon\n"
                                          << "status";
    }

    void aConfigurationThatCannotBeUsedIsRefusedWithItsLine()
    {
        QFETCH(QString, ini);
        QFETCH(QString, reason);
        INSTALL_CAMERAS("[KEEP]\nwidth = 8\n");
        std::string error;
        QVERIFY(!mvsim::configure(ini.toStdString(), &error));
        QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
        // The cameras installed before stay.
        const auto cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(1));
        QCOMPARE(serialOf(cameras[0]), std::string("KEEP"));
    }

    void theEnvironmentNamesTheStartConfiguration()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("cameras.ini");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[FROM-FILE]\ntransport = USB3\nwidth = 8\n");
        file.close();
        qputenv("CORVISTA_SIM_CONFIG", QFile::encodeName(path));
        mvsim::reset();
        const auto cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(1));
        QCOMPARE(serialOf(cameras[0]), std::string("FROM-FILE"));
    }

    void anUnusableStartConfigurationGivesNoCameraRatherThanTheDefaults()
    {
        QTemporaryDir dir;
        qputenv("CORVISTA_SIM_CONFIG", QFile::encodeName(dir.filePath("missing.ini")));
        mvsim::reset();
        QCOMPARE(enumerateCameras().size(), std::size_t(0));
    }

    void loadingAMissingFileReportsIt()
    {
        INSTALL_CAMERAS("[KEEP]\n");
        std::string error;
        QVERIFY(!mvsim::loadConfig("/nonexistent/cameras.ini", &error));
        QVERIFY(QString::fromStdString(error).contains("/nonexistent/cameras.ini"));
        QCOMPARE(enumerateCameras().size(), std::size_t(1));
    }

    void faultsAndVanishingCanBeConfigured()
    {
        INSTALL_CAMERAS("[F]\nline_rate = 0\nwidth = 8\nlines_per_frame = 2\n"
                        "fault.MV_CC_GetOptimalPacketSize = 0x80000006\n"
                        "fault.MV_CC_SetIntValueEx = -2147483636\n"
                        "vanish_after_frames = 2\n"
                        "[OK]\nwidth = 8\n");
        CameraHandle faulty("F");
        QVERIFY(faulty.start());
        QCOMPARE(MV_CC_GetOptimalPacketSize(faulty.handle), status(MV_E_RESOURCE));
        QCOMPARE(MV_CC_SetIntValueEx(faulty.handle, "AcquisitionLineRate", 100), status(MV_E_RANGE));
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(faulty.fetch(frame, info), MV_OK);
        QCOMPARE(faulty.fetch(frame, info), MV_OK);
        QCOMPARE(faulty.fetch(frame, info), status(MV_E_NODEVICE));

        CameraHandle healthy("OK");
        QCOMPARE(healthy.open(), MV_OK);
        QCOMPARE(MV_CC_GetOptimalPacketSize(healthy.handle), 1500);
    }

    void aConfiguredSearchFaultFailsEverySearch()
    {
        INSTALL_CAMERAS("[F]\nfault.MV_CC_EnumDevices = 0x80000006\n");
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), status(MV_E_RESOURCE));
    }

    void resetRemovesInjectedFaults()
    {
        INSTALL_CAMERAS("[F]\nfault.MV_CC_OpenDevice = 0x80000008\n");
        mvsim::setFault("MV_CC_EnumDevices", status(MV_E_RESOURCE));
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE(MV_CC_EnumDevices(5, &list), status(MV_E_RESOURCE));
        mvsim::reset();
        QCOMPARE(MV_CC_EnumDevices(5, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 2u);
    }
};

QTEST_GUILESS_MAIN(SdkConfigTest)
#include "tst_sdk_config.moc"
