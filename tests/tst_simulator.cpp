// The simulated cameras: their INI text and file, the stream they send
// (lines, frames, objects, frames lost when the host stalls), the conveyor
// that clocks them, their trigger features and the pixel formats they send.
#include "scratchdirectory.h"
#include "simcamera.h"
#include "simconveyor.h"

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cmath>
#include <functional>
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

// Fetches frames until `count` came or one fetch times out; stops early when
// a line does not follow the one before.
QList<MV_FRAME_OUT_INFO_EX> fetchFollowingOn(CameraHandle &camera, int count, uint32_t &nextLine,
                                             unsigned int timeoutMs = 2000)
{
    QList<MV_FRAME_OUT_INFO_EX> frames;
    std::vector<unsigned char> frame;
    MV_FRAME_OUT_INFO_EX info;
    while (frames.size() < count && camera.fetch(frame, info, timeoutMs) == MV_OK) {
        for (unsigned int row = 0; row < info.nHeight; ++row, ++nextLine)
            if (mvsim::lineStamp(frame.data() + std::size_t(row) * info.nWidth, 1) != nextLine)
                return frames;
        frames << info;
    }
    return frames;
}

// A plain pixel-by-pixel conversion to RGB8, for frames of width x lines.
constexpr unsigned int width = 100; // six blocks of sixteen and a remainder
constexpr unsigned int lines = 6;

unsigned char clampByte(double value)
{
    return static_cast<unsigned char>(std::lround(std::min(255.0, std::max(0.0, value))));
}

// tile: the first two lines' colours of a mosaic (e.g. "RGGB"), empty otherwise.
// Gray formats carry the Mono8 scene in their top 8 bits, whatever their packing.
std::vector<unsigned char> reference(unsigned int type, const QByteArray &tile, const unsigned char *raw,
                                     uint64_t firstLine)
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
            } else if (type == PixelType_Gvsp_BGR8_Packed || type == PixelType_Gvsp_RGB8_Packed) {
                const bool swapped = type == PixelType_Gvsp_BGR8_Packed;
                for (int c = 0; c < 3; ++c)
                    out[c] = raw[3 * i + (swapped ? 2 - c : c)];
            } else if (type == PixelType_Gvsp_YUV422_8 || type == PixelType_Gvsp_YCBCR422_8) {
                const unsigned char *pair = raw + 4 * (i / 2);
                const double luma = raw[2 * i], cb = pair[1] - 128.0, cr = pair[3] - 128.0;
                out[0] = clampByte(luma + 1.402 * cr);
                out[1] = clampByte(luma - 0.344136 * cb - 0.714136 * cr);
                out[2] = clampByte(luma + 1.772 * cb);
            } else {
                out[0] = out[1] = out[2] = mvsim::scenePixel("PF", firstLine + y, x, 0, PixelType_Gvsp_Mono8);
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
        for (int i = 0; i < 2; ++i)
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
            "; a test bench\n[Left station] ; the first one\ntransport = USB3\nmodel = LX#2k;x\nserial = "
            + serial63
            + " # the longest a USB3 record holds\npixel_format = BayerRG8\nline_rate = 0\n"
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
        CameraHandle usb(serial63), gige("GIGE-A");
        QCOMPARE(usb.open(), MV_OK);
        QCOMPARE(gige.open(), MV_OK);
        QCOMPARE(gige.intValue("Width"), int64_t(1024));
        QCOMPARE(gige.intValue("Height"), int64_t(64));
        QCOMPARE(gige.intValue("ResultingLineRate"), int64_t(12000));
        QCOMPARE(MV_CC_GetOptimalPacketSize(gige.handle), 8192);
        MVCC_FLOATVALUE exposure{};
        QCOMPARE(MV_CC_GetFloatValue(gige.handle, "ExposureTime", &exposure), MV_OK);
        QCOMPARE(exposure.fCurValue, 50.0f);
    }

    // Given as text, a refused configuration keeps the cameras installed
    // before; read from CORVISTA_SIM_CONFIG, it says why in one line on
    // stderr and gives no camera.
    void aConfigurationThatCannotBeUsedIsRefusedWithItsReason_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const QString belt = "[A]\nconveyor = %1\n", step = "is not \"<rate> for";
        const QByteArray camera = "[A]\nwidth = 64\n";
        const auto text = [](const char *tag, const QString &ini, const QString &reason) {
            QTest::newRow(tag) << "text" << ini.toUtf8() << reason;
        };
        text("unknown key", "[A]\nwidht = 5\n", "unknown key");
        text("negative number", "[A]\nwidth = -4\n", "not a valid number");
        text("frame beyond 2 GiB", "[A]\nwidth = 65536\nlines_per_frame = 65536\n", "2 GiB");
        text("bad address", "[A]\naddress = 10.0.300.1\n", "IPv4");
        text("odd Bayer frames", "[A]\npixel_format = BayerRG8\nlines_per_frame = 7\n", "even");
        text("serial twice", "[A]\nserial = X\n[B]\nserial = X\n", "used twice");
        text("noise beyond 64", "[A]\nnoise = 65\n", "not a valid number");
        text("target beyond 255", "[A]\ntarget = 256\n", "scene or a level");
        text("belt without time", belt.arg("1000 for 0"), "must take some time");
        text("belt step unknown", belt.arg("1000 during 1"), step);
        text("belt rate negative", belt.arg("-5 for 1"), step);
        QTest::newRow("folder") << "folder" << QByteArray() << "is a folder, not a file";
        QTest::newRow("named pipe") << "pipe" << QByteArray() << "is not a regular file";
        QTest::newRow("missing file") << "missing" << QByteArray() << "cannot read the file: No such file";
        QTest::newRow("empty file") << "file" << QByteArray() << "is empty: it describes no camera";
        QTest::newRow("only comments") << "file" << QByteArray("; nothing yet\n\n# still nothing\n")
                                       << "describes no camera: it has no [section]";
        QTest::newRow("unknown key in a file") << "file" << camera + "linerate = 5\n"
                                               << "line 3: unknown key \"linerate\"";
        text("GigE serial of 16", "[A]\nserial = " + QString(16, 'S'), "GigE device record holds at most 15");
        text("USB3 serial of 3000", "[A]\ntransport = USB3\nserial = " + QString(3000, 'S'),
             "has 3000 characters; a USB3 device record holds at most 63");
        text("GigE model of 32", "[A]\nmodel = " + QString(32, 'M'),
             "model \"MMMMMMMMMMMMMMMMMMMM...\" has 32 characters");
        QTest::newRow("section name as a long serial")
            << "file" << QByteArray("[") + QByteArray(40, 'N') + "]\n"
            << "holds at most 15";
    }

    void aConfigurationThatCannotBeUsedIsRefusedWithItsReason()
    {
        QFETCH(QString, source);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        if (source == "text") {
            INSTALL_CAMERAS("[KEEP]\nwidth = 8\n");
            std::string error;
            QVERIFY(!mvsim::configure(content.toStdString(), &error));
            QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
            const auto cameras = enumerateCameras();
            QCOMPARE(cameras.size(), std::size_t(1));
            QCOMPARE(serialOf(cameras[0]), std::string("KEEP"));
            return;
        }
        const QString file = m_dir.filePath(QStringLiteral("unusable-%1").arg(QTest::currentDataTag()));
        if (source == "folder")
            QVERIFY(QDir().mkdir(file));
        else if (source == "pipe")
            QCOMPARE(mkfifo(qPrintable(file), 0644), 0);
        else if (source == "file")
            QVERIFY(writeFile(file, content));
        qputenv("CORVISTA_SIM_CONFIG", file.toLocal8Bit());
        const QString said = stderrOf([] { mvsim::reset(); });
        const QRegularExpression line("^MVCameraControl: CORVISTA_SIM_CONFIG (.*?): [^\\n]*"
                                      + QRegularExpression::escape(reason) + ".*; no simulated camera\\n$");
        const QRegularExpressionMatch match = line.match(said);
        QVERIFY2(match.hasMatch() && match.captured(1) == file, qPrintable(said));
        QVERIFY(enumerateCameras().empty());
    }

    // With objects on the belt, the light barrier (frame trigger) is on at
    // open and each object ends with an incomplete frame; the gaps between
    // objects send no line. Without it, frames run whole.
    void objectsEndWithAnIncompleteFrame()
    {
        const std::tuple<const char *, int, QByteArray, QList<int>>
            rows[] // barrier: empty as the camera opens
            = {{"remainder of 8 lines", 40, "", {16, 16, 8, 16, 16, 8}},
               {"object shorter than a frame", 5, "", {5, 5, 5}},
               {"object of whole frames", 32, "", {16, 16, 16, 16}},
               {"objects, barrier off", 40, "Off", {16, 16, 16, 16, 16, 16}},
               {"no objects", 0, "", {16, 16, 16}},
               {"no objects, barrier on", 0, "On", {}}};
        for (const auto &[what, objectLines, barrier, heights] : rows) {
            std::string ini = "[F]\nwidth = 64\nlines_per_frame = 16\nline_rate = 20000\n";
            if (objectLines)
                ini += "object_lines = " + std::to_string(objectLines) + "\ngap_lines = 24\n";
            INSTALL_CAMERAS(ini);
            CameraHandle camera("F");
            QCOMPARE(camera.open(), MV_OK);
            QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerSelector", "FrameStart"), MV_OK);
            MVCC_ENUMENTRY_LIST mode;
            QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerMode", &mode), MV_OK);
            QCOMPARE(QString(mode.chCurSymbolic), QString(objectLines ? "On" : "Off"));
            if (!barrier.isEmpty())
                QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerMode", barrier), MV_OK);
            QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
            uint32_t nextLine = 0;
            QList<int> got;
            for (const MV_FRAME_OUT_INFO_EX &info :
                 fetchFollowingOn(camera, heights.isEmpty() ? 1 : heights.size(), nextLine, 300)) {
                got << int(info.nHeight);
                QCOMPARE(info.nFrameLen, 64u * info.nHeight);
            }
            QVERIFY2(got == heights, what);
        }
    }

    // 100 frames per second, room for 4 on the camera: the host that does not
    // fetch gets the 4 oldest, then the newest, and the rest is counted lost.
    void framesTheHostDoesNotFetchInTimeAreDroppedAndCounted_data()
    {
        QTest::addColumn<QString>("transport");
        for (const char *transport : {"GigE", "USB3"})
            QTest::newRow(transport) << transport;
    }

    void framesTheHostDoesNotFetchInTimeAreDroppedAndCounted()
    {
        QFETCH(QString, transport);
        INSTALL_CAMERAS("[L]\nwidth = 16\nlines_per_frame = 100\nline_rate = 10000\nbuffer_count = 4\n"
                        "transport = "
                        + transport.toStdString());
        CameraHandle camera("L");
        QVERIFY(camera.start());
        QTRY_VERIFY(cameraFrameCounts(camera.handle).lost >= 10);
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
        const FrameCounts counts = cameraFrameCounts(camera.handle);
        QCOMPARE(counts.received, 5u);
        QVERIFY2(counts.lost >= skipped, qPrintable(QString("%1 < %2").arg(counts.lost).arg(skipped)));
    }

    // 1000 lines/s for 1 s, down to 0 in 0.5 s, 1 s standing, up again in
    // 0.5 s; 3 s a cycle. Reaching a position is the inverse, except that a
    // standing belt reached its position when it stopped.
    void conveyorFollowsItsProfile()
    {
        std::vector<mvcc::ConveyorStep> steps;
        std::string error;
        QVERIFY(mvcc::parseConveyorProfile("1000 for 1, ramp to 0 in 0.5, stop for 1, ramp to 1000 in 0.5",
                                           steps, error));
        const mvcc::Conveyor belt(steps);
        const double rows[][4] = {{0.5, 1000, 500, 0.5},
                                  {1.25, 500, 1000 + 187.5, 1.25},
                                  {2.0, 0, 1250, 1.5},
                                  {2.75, 500, 1250 + 62.5, 2.75},
                                  {3.5, 1000, 1500 + 500, 3.5}};
        for (const auto &[t, speed, position, reached] : rows) {
            QCOMPARE(belt.speedAt(t), speed);
            QVERIFY2(std::abs(belt.positionAt(t) - position) < 1e-6, qPrintable(QString::number(t)));
            QVERIFY2(std::abs(belt.timeOfPosition(position) - reached) < 1e-6,
                     qPrintable(QString::number(t)));
        }
        QVERIFY(mvcc::parseConveyorProfile("stop for 1", steps, error));
        QVERIFY(std::isinf(mvcc::Conveyor(steps).timeOfPosition(1))); // a belt that never moves
    }

    // A frame of each format the simulator sends converts, and saves as a
    // snapshot, like the plain conversion: byte order, bit packing, the
    // mosaic's phase, and the deep formats' range.
    void formatsConvertAndSaveLikeThePlainConversion_data()
    {
        QTest::addColumn<unsigned int>("type");
        QTest::addColumn<unsigned int>("lineBytes");
        QTest::addColumn<QByteArray>("bayerTile");
        const auto row
            = [](const char *name, unsigned int type, unsigned int lineBytes, const char *tile = "") {
                  QTest::newRow(name) << type << lineBytes << QByteArray(tile);
              };
        row("Mono8", PixelType_Gvsp_Mono8, width);
        row("RGB8", PixelType_Gvsp_RGB8_Packed, 3 * width);
        row("Mono10", PixelType_Gvsp_Mono10, 2 * width);
        row("Mono12", PixelType_Gvsp_Mono12, 2 * width);
        row("Mono16", PixelType_Gvsp_Mono16, 2 * width);
        row("Mono10p", PixelType_Gvsp_Mono10p, width * 10 / 8);
        row("Mono12p", PixelType_Gvsp_Mono12p, width * 12 / 8);
        row("Mono12Packed", PixelType_Gvsp_Mono12_Packed, width * 12 / 8);
        row("BayerRG8", PixelType_Gvsp_BayerRG8, width, "RGGB");
        row("BayerGR8", PixelType_Gvsp_BayerGR8, width, "GRBG");
        row("BayerGB8", PixelType_Gvsp_BayerGB8, width, "GBRG");
        row("BayerBG8", PixelType_Gvsp_BayerBG8, width, "BGGR");
        row("BGR8", PixelType_Gvsp_BGR8_Packed, 3 * width);
        row("YUV422_8", PixelType_Gvsp_YUV422_8, 2 * width);
        row("YCbCr422_8", PixelType_Gvsp_YCBCR422_8, 2 * width);
        row("Mono14", 0x01100025u, 2 * width); // arrives, cannot be converted
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
        MV_SAVE_IMG_TO_FILE_PARAM save = saveRequest(raw.data(), info.nFrameLen, type, width, lines,
                                                     MV_Image_Png, QFile::encodeName(dir.filePath("1.png")));
        QCOMPARE(MV_CC_SaveImageToFile(camera.handle, &save), MV_OK);
        const QImage image(dir.filePath("1.png"));
        QCOMPARE(image.size(), QSize(int(width), int(lines)));
        const bool colour = !bayerTile.isEmpty() || (type >> 24) == 0x02;
        QCOMPARE(image.format() == QImage::Format_Grayscale8, !colour);
        const QImage saved = image.convertToFormat(QImage::Format_RGB888);

        const std::vector<unsigned char> expected
            = reference(type, bayerTile, raw.data(), uint64_t(info.nFrameNum) * lines);
        // The YUV formula is rounded once here and in fixed point in the library.
        const int tolerance = type == PixelType_Gvsp_YUV422_8 || type == PixelType_Gvsp_YCBCR422_8 ? 1 : 0;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const int inFile = saved.constScanLine(int(i / (width * 3)))[i % (width * 3)];
            QVERIFY2(std::abs(int(converted[i]) - int(expected[i])) <= tolerance
                         && std::abs(inFile - int(expected[i])) <= tolerance,
                     qPrintable(QString::asprintf("byte %zu: %d converted, %d saved, expected %d", i,
                                                  converted[i], inFile, expected[i])));
        }
    }
};

QTEST_MAIN(SimulatorTest)
#include "tst_simulator.moc"
