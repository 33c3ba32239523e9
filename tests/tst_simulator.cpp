// The simulated cameras: their INI text and file, the stream they send
// (lines, frames, objects, frames lost when the host stalls), the conveyor
// that clocks them, their trigger features and the pixel formats they send.
#include "simcamera.h"
#include "simconveyor.h"

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cmath>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Runs what with stderr going to a file; returns what it wrote there.
QString stderrOf(const std::function<void()> &what)
{
    QTemporaryFile capture;
    if (!capture.open())
        qFatal("no file to capture stderr in");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    what();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    capture.seek(0);
    return QString::fromUtf8(capture.readAll());
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Fetches frames until `count` came or one fetch times out; stops early when
// a line does not follow the one before (bpp: bytes a pixel).
QList<MV_FRAME_OUT_INFO_EX> fetchFollowingOn(CameraHandle &camera, int count, uint32_t &nextLine,
                                             unsigned int timeoutMs = 2000, unsigned int bpp = 1)
{
    QList<MV_FRAME_OUT_INFO_EX> frames;
    std::vector<unsigned char> frame;
    MV_FRAME_OUT_INFO_EX info;
    while (frames.size() < count && camera.fetch(frame, info, timeoutMs) == MV_OK) {
        for (unsigned int row = 0; row < info.nHeight; ++row, ++nextLine)
            if (mvsim::lineStamp(frame.data() + std::size_t(row) * info.nWidth * bpp, bpp) != nextLine)
                return frames;
        frames << info;
    }
    return frames;
}

int setTrigger(void *handle, const char *selector, const char *mode)
{
    const int selected = MV_CC_SetEnumValueByString(handle, "TriggerSelector", selector);
    return selected != MV_OK ? selected : MV_CC_SetEnumValueByString(handle, "TriggerMode", mode);
}

QStringList entriesOf(const MVCC_ENUMENTRY_LIST &list)
{
    QStringList names;
    for (unsigned int i = 0; i < list.nSupportedNum; ++i)
        names << QString::fromLatin1(list.chSymbolic[i]);
    return names;
}

// Frames lost on the camera side, as the transport's statistics count them.
unsigned int lostFrames(void *handle, unsigned int *received = nullptr)
{
    MV_NETTRANS_INFO net{};
    if (MV_GIGE_GetNetTransInfo(handle, &net) == MV_OK) {
        if (received)
            *received = net.nNetRecvFrameCount;
        return unsigned(net.nThrowFrameCount);
    }
    MV_MATCH_INFO_USB_DETECT usb{};
    MV_ALL_MATCH_INFO match{MV_MATCH_TYPE_USB_DETECT, &usb, sizeof usb};
    if (MV_CC_GetAllMatchInfo(handle, &match) != MV_OK)
        return 0;
    if (received)
        *received = usb.nReceivedFrameCount;
    return usb.nErrorFrameCount;
}

// A plain pixel-by-pixel conversion to RGB8, for frames of width x lines.
constexpr unsigned int width = 100; // six blocks of sixteen and a remainder
constexpr unsigned int lines = 6;

// The bits of a little-endian bit stream from bit position `at`.
unsigned int bitsAt(const unsigned char *data, std::size_t at, unsigned int count)
{
    unsigned int value = 0;
    for (unsigned int b = 0; b < count; ++b)
        value |= ((data[(at + b) / 8] >> ((at + b) % 8)) & 1u) << b;
    return value;
}

// The full-precision gray value of pixel i, and its bit depth.
unsigned int grayAt(unsigned int type, const unsigned char *raw, std::size_t i, unsigned int &bits)
{
    switch (type) {
    case PixelType_Gvsp_Mono10:
    case PixelType_Gvsp_Mono12:
    case PixelType_Gvsp_Mono16:
        bits = type == PixelType_Gvsp_Mono10 ? 10 : type == PixelType_Gvsp_Mono12 ? 12 : 16;
        return raw[2 * i] | (raw[2 * i + 1] << 8);
    case PixelType_Gvsp_Mono10p:
        bits = 10;
        return bitsAt(raw, i * 10, 10);
    case PixelType_Gvsp_Mono12p:
        bits = 12;
        return bitsAt(raw, i * 12, 12);
    default: { // Mono12_Packed: high bytes at 0 and 2, low nibbles in byte 1
        bits = 12;
        const unsigned char *pair = raw + 3 * (i / 2);
        return i % 2 == 0 ? (pair[0] << 4) | (pair[1] & 0x0F) : (pair[2] << 4) | (pair[1] >> 4);
    }
    }
}

unsigned char clampByte(double value)
{
    return static_cast<unsigned char>(std::lround(std::min(255.0, std::max(0.0, value))));
}

// tile: the first two lines' colours of a mosaic (e.g. "RGGB"), empty otherwise.
std::vector<unsigned char> reference(unsigned int type, const QByteArray &tile, const unsigned char *raw)
{
    std::vector<unsigned char> rgb(width * lines * 3);
    for (unsigned int y = 0; y < lines; ++y)
        for (unsigned int x = 0; x < width; ++x) {
            const std::size_t i = std::size_t(y) * width + x;
            unsigned char *out = &rgb[3 * i];
            if (!tile.isEmpty()) {
                // The 2x2 window at the pixel, moved back at the last column and line.
                const unsigned int left = x + 1 < width ? x : x - 1, top = y + 1 < lines ? y : y - 1;
                unsigned int sum[3] = {0, 0, 0};
                for (unsigned int dy = 0; dy < 2; ++dy)
                    for (unsigned int dx = 0; dx < 2; ++dx) {
                        const char c = tile[int(2 * ((top + dy) % 2) + (left + dx) % 2)];
                        sum[c == 'R' ? 0 : c == 'G' ? 1 : 2] += raw[(top + dy) * width + left + dx];
                    }
                out[0] = static_cast<unsigned char>(sum[0]);
                out[1] = static_cast<unsigned char>((sum[1] + 1) / 2);
                out[2] = static_cast<unsigned char>(sum[2]);
            } else if (type == PixelType_Gvsp_BGR8_Packed) {
                for (int c = 0; c < 3; ++c)
                    out[c] = raw[3 * i + 2 - c];
            } else if (type == PixelType_Gvsp_YUV422_8 || type == PixelType_Gvsp_YCBCR422_8) {
                const unsigned char *pair = raw + 4 * (i / 2);
                const double luma = raw[2 * i], cb = pair[1] - 128.0, cr = pair[3] - 128.0;
                out[0] = clampByte(luma + 1.402 * cr);
                out[1] = clampByte(luma - 0.344136 * cb - 0.714136 * cr);
                out[2] = clampByte(luma + 1.772 * cb);
            } else {
                unsigned int bits = 8;
                const unsigned int value = grayAt(type, raw, i, bits);
                out[0] = out[1] = out[2] = static_cast<unsigned char>(std::min(255u, value >> (bits - 8)));
            }
        }
    return rgb;
}

} // namespace

class SimulatorTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // The simulator reads its file at the first search of the process, and
    // that search must already see the fault the file sets.
    void initTestCase()
    {
        const QString file = m_dir.filePath("fault.ini");
        QVERIFY(writeFile(file, "[A]\nfault.MV_CC_EnumDevices = 0x80000006\n"));
        qputenv("CORVISTA_CAMERAS", "simulator");
        qputenv("CORVISTA_SIM_CONFIG", file.toLocal8Bit());
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), status(MV_E_RESOURCE));
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), status(MV_E_RESOURCE));
        cleanup();
    }

    void cleanup()
    {
        qunsetenv("CORVISTA_SIM_CONFIG");
        mvsim::reset();
    }

    void sectionsBecomeCamerasWithTheirKeys()
    {
        const std::string serial63(63, 'S');
        INSTALL_CAMERAS(
            "; a test bench\n[Left station] ; the first one\ntransport = USB3\nmodel = LX#2k;x\n"
            "serial = "
            + serial63
            + " # the longest a USB3 record holds\n"
              "pixel_format = BayerRG8\nline_rate = 0\n"
              "[GIGE-A]\naddress = 10.1.2.3\n# keys ignore case\nWidth = 1024      ; pixels\n"
              "LINES_PER_FRAME = 64\t# lines\nline_rate = 12000\nexposure_time = 50\npacket_size = 8192\n");
        const auto cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(2));
        QCOMPARE(cameras[0].nTLayerType, unsigned(MV_USB_DEVICE));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(cameras[0].SpecialInfo.stUsb3VInfo.chModelName)),
                 QByteArray("LX#2k;x"));
        QCOMPARE(serialOf(cameras[0]), serial63);
        QCOMPARE(cameras[1].SpecialInfo.stGigEInfo.nCurrentIp, (10u << 24) | (1u << 16) | (2u << 8) | 3u);
        QCOMPARE(serialOf(cameras[1]), std::string("GIGE-A"));
        CameraHandle usb(serial63);
        QCOMPARE(usb.open(), MV_OK);
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
        const QString belt = "[A]\nconveyor = %1\n", step = "is not \"<rate> for";
        QTest::newRow("belt without time") << "must take some time" << belt.arg("1000 for 0");
        QTest::newRow("belt step unknown") << step << belt.arg("1000 during 1");
        QTest::newRow("belt rate negative") << step << belt.arg("-5 for 1");
        QTest::newRow("belt ramp without target") << step << belt.arg("ramp in 1");
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

    void everyExampleInTheDocumentationLoadsAsWritten()
    {
        QFile doc(QFINDTESTDATA("../docs/simulator.md"));
        QVERIFY(doc.open(QIODevice::ReadOnly));
        const QRegularExpression block(QStringLiteral("```ini\\n(.*?)```"),
                                       QRegularExpression::DotMatchesEverythingOption);
        int examples = 0;
        for (auto match = block.globalMatch(QString::fromUtf8(doc.readAll())); match.hasNext(); ++examples) {
            const QString example = match.next().captured(1);
            const QString file = m_dir.filePath("example.ini");
            QVERIFY(writeFile(file, example.toUtf8()));
            qputenv("CORVISTA_SIM_CONFIG", file.toLocal8Bit());
            QCOMPARE(stderrOf([] { mvsim::reset(); }), QString());
            const int sections = example.count(QRegularExpression(QStringLiteral("(^|\\n)\\[")));
            QCOMPARE(enumerateCameras().size(), std::size_t(sections));
            for (const MV_CC_DEVICE_INFO &camera : enumerateCameras()) {
                CameraHandle handle(serialOf(camera));
                QCOMPARE(handle.open(), MV_OK);
            }
        }
        QVERIFY(examples >= 1);
    }

    void unusableFileSaysWhyAndGivesNoCamera_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const QByteArray camera = "[A]\nwidth = 64\n";
        QTest::newRow("folder") << "folder" << QByteArray() << "is a folder, not a file";
        QTest::newRow("named pipe") << "pipe" << QByteArray() << "is not a regular file";
        QTest::newRow("missing file") << "missing" << QByteArray() << "cannot read the file: No such file";
        QTest::newRow("empty file") << "file" << QByteArray() << "is empty: it describes no camera";
        QTest::newRow("only comments") << "file" << QByteArray("; nothing yet\n\n# still nothing\n")
                                       << "describes no camera: it has no [section]";
        QTest::newRow("unknown key") << "file" << camera + "linerate = 5\n"
                                     << "line 3: unknown key \"linerate\"";
        QTest::newRow("GigE serial of 16") << "file" << camera + "serial = " + QByteArray(16, 'S') + "\n"
                                           << "has 16 characters; a GigE device record holds at most 15";
        QTest::newRow("USB3 serial of 3000")
            << "file" << camera + "transport = USB3\nserial = " + QByteArray(3000, 'S') + "\n"
            << "has 3000 characters; a USB3 device record holds at most 63";
        QTest::newRow("GigE model of 32") << "file" << camera + "model = " + QByteArray(32, 'M') + "\n"
                                          << "model \"MMMMMMMMMMMMMMMMMMMM...\" has 32 characters";
        QTest::newRow("section name as a long serial")
            << "file" << QByteArray("[") + QByteArray(40, 'N') + "]\n"
            << "holds at most 15";
    }

    void unusableFileSaysWhyAndGivesNoCamera()
    {
        QFETCH(QString, what);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString file = m_dir.filePath(QStringLiteral("unusable-%1").arg(QTest::currentDataTag()));
        if (what == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(file));
        else if (what == QLatin1String("pipe"))
            QCOMPARE(mkfifo(qPrintable(file), 0644), 0);
        else if (what == QLatin1String("file"))
            QVERIFY(writeFile(file, content));
        qputenv("CORVISTA_SIM_CONFIG", file.toLocal8Bit());
        const QString said = stderrOf([] { mvsim::reset(); });
        QVERIFY2(said.startsWith(QStringLiteral("MVCameraControl: CORVISTA_SIM_CONFIG %1: ").arg(file)),
                 qPrintable(said));
        QVERIFY2(said.contains(reason), qPrintable(said));
        QVERIFY2(said.endsWith(QLatin1String("; no simulated camera\n")), qPrintable(said));
        QCOMPARE(said.count(QLatin1Char('\n')), 1);
        QVERIFY(enumerateCameras().empty());
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
                    largest = std::max(largest, std::abs(int(line[x]) - clean));
                    if (clean > 6 && clean < 249)
                        seen.insert(int(line[x]) - clean);
                }
            }
            QCOMPARE(largest, noisy ? 6 : 0);
            QCOMPARE(int(seen.size()), noisy ? 13 : 1);
        }
    }

    // With objects on the belt, the light barrier (frame trigger) is on at
    // open and each object ends with an incomplete frame; the gaps between
    // objects send no line. Without it, frames run whole.
    void objectsEndWithAnIncompleteFrame_data()
    {
        QTest::addColumn<int>("objectLines");
        QTest::addColumn<QString>("frameTrigger"); // empty: as the camera opens
        QTest::addColumn<QList<int>>("heights");
        QTest::newRow("remainder of 8 lines") << 40 << "" << QList<int>{16, 16, 8, 16, 16, 8};
        QTest::newRow("object shorter than a frame") << 5 << "" << QList<int>{5, 5, 5};
        QTest::newRow("object of whole frames") << 32 << "" << QList<int>{16, 16, 16, 16};
        QTest::newRow("objects, barrier off") << 40 << "Off" << QList<int>{16, 16, 16, 16, 16, 16};
        QTest::newRow("no objects") << 0 << "" << QList<int>{16, 16, 16};
        QTest::newRow("no objects, barrier on") << 0 << "On" << QList<int>{};
    }

    void objectsEndWithAnIncompleteFrame()
    {
        QFETCH(int, objectLines);
        QFETCH(QString, frameTrigger);
        QFETCH(QList<int>, heights);
        std::string ini = "[F]\nwidth = 64\nlines_per_frame = 16\nline_rate = 20000\n";
        if (objectLines)
            ini += "object_lines = " + std::to_string(objectLines) + "\ngap_lines = 24\n";
        INSTALL_CAMERAS(ini);
        CameraHandle camera("F");
        QCOMPARE(camera.open(), MV_OK);
        MVCC_ENUMENTRY_LIST mode;
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerSelector", "FrameStart"), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerMode", &mode), MV_OK);
        QCOMPARE(QString(mode.chCurSymbolic), QString(objectLines ? "On" : "Off"));
        if (!frameTrigger.isEmpty())
            QCOMPARE(setTrigger(camera.handle, "FrameStart", frameTrigger.toLatin1()), MV_OK);
        QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        uint32_t nextLine = 0;
        QList<int> got;
        for (const MV_FRAME_OUT_INFO_EX &info :
             fetchFollowingOn(camera, heights.isEmpty() ? 1 : heights.size(), nextLine, 300)) {
            got << int(info.nHeight);
            QCOMPARE(info.nFrameLen, 64u * info.nHeight);
        }
        QCOMPARE(got, heights);
    }

    void framesTheHostDoesNotFetchInTimeAreDroppedAndCounted_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("GigE") << "GigE";
        QTest::newRow("USB3") << "USB3";
    }

    void framesTheHostDoesNotFetchInTimeAreDroppedAndCounted()
    {
        QFETCH(QString, transport);
        // 100 frames per second, room for 4 on the camera.
        INSTALL_CAMERAS("[L]\nwidth = 16\nlines_per_frame = 100\nline_rate = 10000\nbuffer_count = 4\n"
                        "transport = "
                        + transport.toStdString());
        CameraHandle camera("L");
        QVERIFY(camera.start());
        QTRY_VERIFY(lostFrames(camera.handle) >= 10);
        uint32_t next = 0;
        const QList<MV_FRAME_OUT_INFO_EX> queued = fetchFollowingOn(camera, 4, next);
        QCOMPARE(queued.size(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(queued[i].nFrameNum, unsigned(i));
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        const unsigned int skipped = info.nFrameNum - 4;
        QVERIFY2(skipped >= 10, qPrintable(QString::number(skipped)));
        QCOMPARE(mvsim::lineStamp(frame.data(), 1), info.nFrameNum * 100);
        unsigned int received = 0;
        const unsigned int lost = lostFrames(camera.handle, &received);
        QCOMPARE(received, 5u);
        QVERIFY2(lost >= skipped, qPrintable(QString("%1 < %2").arg(lost).arg(skipped)));
    }

    void conveyorFollowsItsProfile_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<double>("speed");
        QTest::addColumn<double>("position");
        // 1000 lines/s for 1 s, down to 0 in 0.5 s, 1 s standing, up again in 0.5 s; 3 s a cycle.
        QTest::newRow("steady") << 0.5 << 1000.0 << 500.0;
        QTest::newRow("slowing down") << 1.25 << 500.0 << 1000.0 + 187.5;
        QTest::newRow("standing") << 2.0 << 0.0 << 1250.0;
        QTest::newRow("starting again") << 2.75 << 500.0 << 1250.0 + 62.5;
        QTest::newRow("next cycle") << 3.5 << 1000.0 << 1500.0 + 500.0;
    }

    void conveyorFollowsItsProfile()
    {
        QFETCH(double, t);
        QFETCH(double, speed);
        QFETCH(double, position);
        std::vector<mvcc::ConveyorStep> steps;
        std::string error;
        QVERIFY(mvcc::parseConveyorProfile("1000 for 1, ramp to 0 in 0.5, stop for 1, ramp to 1000 in 0.5",
                                           steps, error));
        const mvcc::Conveyor belt(steps);
        QCOMPARE(belt.speedAt(t), speed);
        QVERIFY(std::abs(belt.positionAt(t) - position) < 1e-6);
        // Reaching a position is the inverse, except that a standing belt
        // reached its position when it stopped.
        const double reached = belt.timeOfPosition(position);
        QVERIFY2(std::abs(reached - (speed > 0 ? t : 1.5)) < 1e-6, qPrintable(QString::number(reached)));
        QVERIFY(mvcc::parseConveyorProfile("stop for 1", steps, error));
        QVERIFY(std::isinf(mvcc::Conveyor(steps).timeOfPosition(1))); // a belt that never moves
    }

    void triggerEnumerationsAreListedAndSetByName()
    {
        INSTALL_CAMERAS("[T]\nwidth = 16\nlines_per_frame = 8\n");
        CameraHandle camera("T");
        MVCC_ENUMENTRY_LIST list;
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerSelector", &list), status(MV_E_CALLORDER));
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerSelector", &list), MV_OK);
        QCOMPARE(entriesOf(list), QStringList({"LineStart", "FrameStart"}));
        QCOMPARE(QString(list.chCurSymbolic), QString("LineStart"));
        // Mode, source and edge are kept per selector.
        QCOMPARE(setTrigger(camera.handle, "LineStart", "On"), MV_OK);
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerActivation", "FallingEdge"), MV_OK);
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerSelector", "FrameStart"), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerMode", &list), MV_OK);
        QCOMPARE(QString(list.chCurSymbolic), QString("Off"));
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerSource", &list), MV_OK);
        QCOMPARE(entriesOf(list), QStringList({"Encoder0", "Line0", "Line1", "Line2"}));
        QCOMPARE(QString(list.chCurSymbolic), QString("Line0"));
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerSelector", "LineStart"), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerActivation", &list), MV_OK);
        QCOMPARE(QString(list.chCurSymbolic), QString("FallingEdge"));
        MVCC_ENUMVALUE mode{};
        QCOMPARE(MV_CC_GetEnumValue(camera.handle, "TriggerMode", &mode), MV_OK);
        QCOMPARE(mode.nCurValue, 1u);
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "PixelFormat", "RGB8"), MV_OK);
        QCOMPARE(camera.intValue("PayloadSize"), 16 * 8 * 3);
    }

    void enumerationByNameRefusals_data()
    {
        QTest::addColumn<QByteArray>("feature");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<int>("expected");
        QTest::newRow("unknown entry")
            << QByteArray("TriggerSource") << QByteArray("Line9") << status(MV_E_RANGE);
        QTest::newRow("not an enumeration") << QByteArray("Gain") << QByteArray("On") << status(MV_E_TYPE);
        QTest::newRow("lacking feature")
            << QByteArray("TriggerMode") << QByteArray("On") << status(MV_E_NOTFOUND);
        QTest::newRow("no such feature") << QByteArray("Flash") << QByteArray("On") << status(MV_E_NOTFOUND);
    }

    void enumerationByNameRefusals()
    {
        QFETCH(QByteArray, feature);
        QFETCH(QByteArray, entry);
        QFETCH(int, expected);
        INSTALL_CAMERAS("[T]\nwidth = 16\nlines_per_frame = 8\nmissing_features = TriggerMode\n");
        CameraHandle camera("T");
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, feature, entry), expected);
        MVCC_ENUMENTRY_LIST list;
        std::memset(&list, 0x5A, sizeof list);
        const int listed = MV_CC_GetEnumEntries(camera.handle, feature, &list);
        QCOMPARE(listed, expected == status(MV_E_RANGE) ? MV_OK : expected);
        if (listed != MV_OK)
            QCOMPARE(list.nSupportedNum, 0x5A5A5A5Au);
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, feature, nullptr), status(MV_E_PARAMETER));
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, feature, nullptr), status(MV_E_PARAMETER));
        QCOMPARE(MV_CC_GetEnumEntries(nullptr, feature, &list), status(MV_E_HANDLE));
    }

    void encoderClocksLinesAndAStandingBeltLosesNothing()
    {
        // 300 encoder lines a cycle: 0.3 s standing, 0.3 s at 1000 lines/s.
        // Frames of 200 lines end at 0.5 s, across the next stop at 1.0 s, then at 1.2 s.
        INSTALL_CAMERAS("[E]\nwidth = 16\nlines_per_frame = 200\nline_rate = 20000\nbuffer_count = 2\n"
                        "conveyor = stop for 0.3, 1000 for 0.3\n");
        CameraHandle camera("E");
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(setTrigger(camera.handle, "LineStart", "On"), MV_OK);
        QCOMPARE(camera.intValue("ResultingLineRate"), 0);
        QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        uint32_t nextLine = 0;
        // Nothing while the belt stands, although the free-running rate
        // would have filled both buffers many times over.
        QCOMPARE(fetchFollowingOn(camera, 1, nextLine, 200).size(), 0);
        const QList<MV_FRAME_OUT_INFO_EX> frames = fetchFollowingOn(camera, 3, nextLine);
        QCOMPARE(frames.size(), 3);
        const double expected[] = {0.5, 1.0, 1.2};
        for (int i = 0; i < 3; ++i) {
            const MV_FRAME_OUT_INFO_EX &info = frames[i];
            const double seconds
                = double((uint64_t(info.nDevTimeStampHigh) << 32) | info.nDevTimeStampLow) / 1e6;
            QCOMPARE(info.nFrameNum, unsigned(i));
            QVERIFY2(std::abs(seconds - expected[i]) < 0.02, qPrintable(QString::number(seconds)));
        }
        QCOMPARE(lostFrames(camera.handle), 0u);
        // The camera measures the encoder's rate: 1000 while the belt moves.
        const int64_t rate = camera.intValue("ResultingLineRate");
        QVERIFY2(rate == 1000 || rate == 0, qPrintable(QString::number(rate)));
    }

    void switchingTheLineTriggerWhileGrabbingKeepsTheLinesInOrder()
    {
        INSTALL_CAMERAS("[S]\nwidth = 16\nlines_per_frame = 50\nline_rate = 10000\nbuffer_count = 64\n"
                        "conveyor = 2000 for 1\n");
        CameraHandle camera("S");
        QVERIFY(camera.start());
        uint32_t nextLine = 0;
        QCOMPARE(fetchFollowingOn(camera, 3, nextLine).size(), 3);
        QCOMPARE(setTrigger(camera.handle, "LineStart", "On"), MV_OK);
        QCOMPARE(camera.intValue("ResultingLineRate"), 2000);
        QCOMPARE(fetchFollowingOn(camera, 3, nextLine).size(), 3);
        QCOMPARE(setTrigger(camera.handle, "LineStart", "Off"), MV_OK);
        QCOMPARE(camera.intValue("ResultingLineRate"), 10000);
        QCOMPARE(fetchFollowingOn(camera, 3, nextLine).size(), 3);
    }

    // A frame of each format the simulator sends converts, and saves as a
    // snapshot, like the plain conversion: byte order, bit packing, the
    // mosaic's phase, and the deep formats' range (their top 8 bits are the
    // Mono8 picture of the same lines).
    void formatsConvertAndSaveLikeThePlainConversion_data()
    {
        QTest::addColumn<unsigned int>("type");
        QTest::addColumn<unsigned int>("lineBytes");
        QTest::addColumn<QByteArray>("bayerTile");
        QTest::newRow("Mono10") << unsigned(PixelType_Gvsp_Mono10) << 2 * width << QByteArray();
        QTest::newRow("Mono12") << unsigned(PixelType_Gvsp_Mono12) << 2 * width << QByteArray();
        QTest::newRow("Mono16") << unsigned(PixelType_Gvsp_Mono16) << 2 * width << QByteArray();
        QTest::newRow("Mono10p") << unsigned(PixelType_Gvsp_Mono10p) << width * 10 / 8 << QByteArray();
        QTest::newRow("Mono12p") << unsigned(PixelType_Gvsp_Mono12p) << width * 12 / 8 << QByteArray();
        QTest::newRow("Mono12Packed")
            << unsigned(PixelType_Gvsp_Mono12_Packed) << width * 12 / 8 << QByteArray();
        QTest::newRow("BayerRG8") << unsigned(PixelType_Gvsp_BayerRG8) << width << QByteArray("RGGB");
        QTest::newRow("BayerGR8") << unsigned(PixelType_Gvsp_BayerGR8) << width << QByteArray("GRBG");
        QTest::newRow("BayerGB8") << unsigned(PixelType_Gvsp_BayerGB8) << width << QByteArray("GBRG");
        QTest::newRow("BayerBG8") << unsigned(PixelType_Gvsp_BayerBG8) << width << QByteArray("BGGR");
        QTest::newRow("BGR8") << unsigned(PixelType_Gvsp_BGR8_Packed) << 3 * width << QByteArray();
        QTest::newRow("YUV422_8") << unsigned(PixelType_Gvsp_YUV422_8) << 2 * width << QByteArray();
        QTest::newRow("YCbCr422_8") << unsigned(PixelType_Gvsp_YCBCR422_8) << 2 * width << QByteArray();
        QTest::newRow("Mono14") << 0x01100025u << 2 * width << QByteArray(); // arrives, cannot be converted
    }

    void formatsConvertAndSaveLikeThePlainConversion()
    {
        QFETCH(unsigned int, type);
        QFETCH(unsigned int, lineBytes);
        QFETCH(QByteArray, bayerTile);
        INSTALL_CAMERAS("[PF]\nwidth = " + std::to_string(width)
                        + "\nlines_per_frame = " + std::to_string(lines)
                        + "\nline_rate = 0\npixel_format = " + QTest::currentDataTag());
        CameraHandle camera("PF");
        QVERIFY(camera.start());
        std::vector<unsigned char> raw;
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(camera.fetch(raw, info), MV_OK);
        QCOMPARE(info.enPixelType, type);
        QCOMPARE(info.nFrameLen, lineBytes * lines);
        if (type == 0x01100025u)
            return;
        std::vector<unsigned char> converted(width * lines * 3 + 3, 0xEE);
        unsigned int written = 0;
        QCOMPARE(convertToRgb(type, width, lines, raw.data(), info.nFrameLen, converted.data(),
                              unsigned(converted.size()), &written),
                 MV_OK);
        QCOMPARE(written, width * lines * 3);
        QCOMPARE(converted.back(), (unsigned char)0xEE);

        // The snapshot of the same frame: gray formats as 8-bit gray, the others as colour.
        QTemporaryDir dir;
        MV_SAVE_IMG_TO_FILE_PARAM save
            = saveRequest(raw.data(), info.nFrameLen, type, width, lines, MV_Image_Png,
                          QFile::encodeName(dir.filePath("Image_1.png")));
        QCOMPARE(MV_CC_SaveImageToFile(camera.handle, &save), MV_OK);
        const QImage image(dir.filePath("Image_1.png"));
        QCOMPARE(image.size(), QSize(int(width), int(lines)));
        const bool colour = !bayerTile.isEmpty() || (type >> 24) == 0x02;
        QCOMPARE(image.format() == QImage::Format_Grayscale8, !colour);
        const QImage saved = image.convertToFormat(QImage::Format_RGB888);

        const std::vector<unsigned char> expected = reference(type, bayerTile, raw.data());
        // The YUV formula is rounded once here and in fixed point in the library.
        const int tolerance = type == PixelType_Gvsp_YUV422_8 || type == PixelType_Gvsp_YCBCR422_8 ? 1 : 0;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const int inFile = saved.constScanLine(int(i / (width * 3)))[i % (width * 3)];
            if (std::abs(int(converted[i]) - int(expected[i])) > tolerance
                || std::abs(inFile - int(expected[i])) > tolerance)
                QFAIL(qPrintable(QString("byte %1 (pixel %2): %3 converted, %4 saved, expected %5")
                                     .arg(i)
                                     .arg(i / 3)
                                     .arg(converted[i])
                                     .arg(inFile)
                                     .arg(expected[i])));
        }
        if (!colour)
            for (unsigned int y = 0; y < lines; ++y) {
                const unsigned char *line = &converted[y * width * 3];
                const uint32_t stamp = mvsim::lineStamp(line, 3);
                for (unsigned int x = 0; x < width; ++x)
                    QCOMPARE(line[3 * x], mvsim::scenePixel("PF", stamp, x, 0, PixelType_Gvsp_Mono8));
            }
    }
};

QTEST_MAIN(SimulatorTest)
#include "tst_simulator.moc"
