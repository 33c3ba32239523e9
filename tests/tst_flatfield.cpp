// Flat-field correction: the arithmetic on lines of a known uneven sensor, the
// stored references, and one calibration through the settings dialog.
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <cmath>
#include <cstring>

#include "appsettings.h"
#include "flatfieldcorrector.h"
#include "frameturn.h"
#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "stitchingwindow.h"
#include "ui_mainwindow.h"
#include "workthread.h"

namespace {

// A sensor behind a lens: sample i reads offset + response x light (light in
// 8-bit levels), rounded to its format's steps; `line` > 0 adds a dither that
// evens out over 16 lines, as sensor noise does.
struct Sensor {
    FlatFieldLayout layout;
    std::vector<double> offset, response;
    Sensor(uint type, int width, double vignette) : layout(flatFieldLayoutOf(type, width))
    {
        for (int i = 0; i < layout.samples(); ++i) {
            const double u = (2.0 * (i / layout.channels) + 1.0) / width - 1.0;
            offset.push_back(6.0 + 5.0 * std::sin(i * 0.37));
            response.push_back((1.0 - vignette * u * u) * (1.0 + 0.04 * std::sin(i * 1.7)));
        }
    }
    double scale() const { return double(1 << (layout.bits - 8)); }
    std::vector<unsigned char> line(double light, int line = 0) const
    {
        std::vector<unsigned char> bytes(std::size_t(layout.lineBytes()));
        for (int i = 0; i < layout.samples(); ++i) {
            const double dither = line ? ((i * 7 + line * 5) % 16 + 0.5) / 16 - 0.5 : 0.0;
            const double v = std::round((offset[i] + response[i] * light) * scale() + dither);
            const int value = int(std::clamp(v, 0.0, double(layout.maxValue())));
            bytes[std::size_t(layout.wide() ? 2 * i : i)] = uchar(value);
            if (layout.wide())
                bytes[std::size_t(2 * i + 1)] = uchar(value >> 8);
        }
        return bytes;
    }
    QVector<int> samples(const std::vector<unsigned char> &bytes) const
    {
        QVector<int> values;
        for (int i = 0; i < layout.samples(); ++i)
            values << (layout.wide() ? bytes[std::size_t(2 * i)] | bytes[std::size_t(2 * i + 1)] << 8
                                     : bytes[i]);
        return values;
    }
    FlatFieldReference calibrated(uint type, double white, double target) const
    {
        FlatFieldReference reference;
        reference.pixelType = type;
        reference.layout = layout;
        for (auto [light, mean] : {std::pair{0.0, &reference.dark}, std::pair{white, &reference.white}}) {
            FlatFieldAverager averager(layout, 64);
            for (int n = 1; !averager.complete(); ++n)
                averager.add(line(light, n).data(), 1, layout.lineBytes());
            *mean = averager.mean();
        }
        reference.target = target * scale();
        reference.enabled = true;
        return reference;
    }
};

// Flat within one grey level: every value within `step` of the median, and
// the median within `step` of where the light should land.
bool flatAt(QVector<int> values, double expected, double step = 1)
{
    std::sort(values.begin(), values.end());
    const int median = values.isEmpty() ? -1000 : values[values.size() / 2];
    return std::abs(median - expected) <= step && median - values.front() <= step
        && values.back() - median <= step;
}

// Gray levels of rows past the line stamp (its four pixels are no light).
QVector<int> levels(const QImage &image)
{
    QVector<int> values;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 4; x < image.width(); ++x)
            values << qRed(image.pixel(x, y));
    return values;
}

const char *const kCamera
    = "[FFC-1]\ntransport = USB3\nwidth = 256\nlines_per_frame = 64\npixel_format = Mono8\n"
      "line_rate = 20000\nvignette = 0.5\ncolumn_gain = 0.05\ncolumn_offset = 12\n";

// The corrector of a window that has just opened the simulated camera, with
// `file` stored as that camera's references beforehand.
struct OpenedCorrector {
    void *handle = nullptr;
    FlatFieldCorrector corrector;
    QString said;
    explicit OpenedCorrector(const QByteArray &file)
    {
        MV_CC_DEVICE_INFO_LIST list{};
        if (!mvsim::configure(kCamera) || MV_CC_EnumDevices(MV_USB_DEVICE, &list) != MV_OK
            || MV_CC_CreateHandle(&handle, list.pDeviceInfo[0]) != MV_OK)
            return;
        MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0);
        QFile stored(flatFieldFileName(QStringLiteral("M"), QStringLiteral("S")));
        if (stored.open(QIODevice::WriteOnly) && stored.write(file) == file.size() && stored.flush())
            said
                = corrector.openCamera(handle, QStringLiteral("M"), QStringLiteral("S"), QDir::currentPath());
    }
    ~OpenedCorrector()
    {
        MV_CC_CloseDevice(handle);
        MV_CC_DestroyHandle(handle);
    }
};

// Triggers a toolbar action as its button does; false when it is not there or disabled.
bool trigger(MainWindow &window, const char *name)
{
    QAction *action = window.findChild<QAction *>(QLatin1String(name));
    if (action && action->isEnabled())
        action->trigger();
    return action && action->isEnabled();
}

// Opens the settings dialog, runs `inside` with it while it is up, and closes it with Escape.
void withDialog(MainWindow &window, const std::function<void(QWidget *)> &inside)
{
    QTimer::singleShot(0, &window, [&inside] {
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }))
            return;
        QWidget *dialog = QApplication::activeModalWidget();
        inside(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    trigger(window, "actionSetting");
}

// Clicks a control of the dialog; false when it is not there or disabled.
bool click(QWidget *dialog, const char *name)
{
    QWidget *control = dialog->findChild<QWidget *>(QLatin1String(name));
    const bool usable = control && control->isEnabled();
    if (usable)
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(8, control->height() / 2));
    return usable;
}

} // namespace

class TestFlatField : public QObject
{
    Q_OBJECT

private slots:
    void correctedLineIsFlat_data();
    void correctedLineIsFlat();
    void correctionClampsAtBothEnds();
    void deadColumnsAreNamedAndLeftAlone();
    void referenceFileRoundTrips();
    void unusableReferenceFileIsIgnored_data();
    void unusableReferenceFileIsIgnored();
    void correctionOffLeavesFramesUntouched();
    void bayerFramesAreCalibratedAndCorrectedAfterDemosaic();
    void captureResetBeforeItArrivesIsDropped();
    void dialogCalibrationFlattensStitchedFilesAndSurvivesRestart();
};

void TestFlatField::correctedLineIsFlat_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<double>("vignette");
    QTest::newRow("Mono8") << uint(PixelType_Gvsp_Mono8) << 0.5;
    QTest::newRow("Mono12") << uint(PixelType_Gvsp_Mono12) << 0.6;
    QTest::newRow("Mono16") << uint(PixelType_Gvsp_Mono16) << 0.4;
    QTest::newRow("RGB8") << uint(PixelType_Gvsp_RGB8_Packed) << 0.5;
}

// An even grey lands where white maps to the target, across the whole line,
// whatever the lens and the columns did to it.
void TestFlatField::correctedLineIsFlat()
{
    QFETCH(uint, type);
    QFETCH(double, vignette);
    const Sensor sensor(type, 1000, vignette); // not a multiple of a vector: the tail counts too
    const FlatFieldCorrection correction = flatFieldCorrection(sensor.calibrated(type, 220, 200));
    QVERIFY(correction.deadColumns.empty());
    for (double light : {40.0, 110.0, 220.0}) {
        std::vector<unsigned char> line = sensor.line(light);
        QVERIFY(!flatAt(sensor.samples(line), light * sensor.scale(), 10 * sensor.scale()));
        correctFlatFieldLine(correction, line.data(), line.data());
        QVERIFY2(flatAt(sensor.samples(line), light * 200 / 220 * sensor.scale(), sensor.scale()),
                 qPrintable(QString::number(light)));
    }
}

// A gain of about 5: what falls below dark is 0, what goes past the range is its top.
void TestFlatField::correctionClampsAtBothEnds()
{
    for (uint type : {PixelType_Gvsp_Mono8, PixelType_Gvsp_Mono12, PixelType_Gvsp_RGB8_Packed}) {
        Sensor sensor(type, 70, 0);
        std::fill(sensor.response.begin(), sensor.response.end(), 1.0);
        std::fill(sensor.offset.begin(), sensor.offset.end(), 100.0);
        const FlatFieldCorrection correction = flatFieldCorrection(sensor.calibrated(type, 50, 255));
        for (auto [light, expected] : {std::pair{-20.0, 0.0}, std::pair{25.0, 127.5 * sensor.scale()},
                                       std::pair{70.0, double(sensor.layout.maxValue())}}) {
            std::vector<unsigned char> line = sensor.line(light);
            correctFlatFieldLine(correction, line.data(), line.data());
            QVERIFY2(flatAt(sensor.samples(line), expected, light == 25 ? sensor.scale() : 0),
                     qPrintable(QStringLiteral("%1 at %2").arg(type, 0, 16).arg(light)));
        }
    }
}

void TestFlatField::deadColumnsAreNamedAndLeftAlone()
{
    Sensor sensor(PixelType_Gvsp_RGB8_Packed, 128, 0.3);
    // Column 5 barely sees the light in every channel, column 70 in green;
    // column 100's red, exactly 1/16 of the range above dark, still counts.
    for (int i : {15, 16, 17, 211})
        sensor.response[std::size_t(i)] = 15.0 / 200;
    FlatFieldReference reference = sensor.calibrated(PixelType_Gvsp_RGB8_Packed, 200, 180);
    reference.white[300] = reference.dark[300] + 16.0f;
    const FlatFieldCorrection correction = flatFieldCorrection(reference);
    QCOMPARE(correction.deadColumns, (std::vector<int>{5, 70}));
    QVERIFY(deadColumnsText(correction.deadColumns).contains(QLatin1String("2 dead pixel columns: 5, 70")));
    const std::vector<unsigned char> raw = sensor.line(120);
    std::vector<unsigned char> corrected(raw.size());
    correctFlatFieldLine(correction, raw.data(), corrected.data());
    for (int i : {15, 16, 17, 211})
        QCOMPARE(corrected[std::size_t(i)], raw[std::size_t(i)]);
    QVERIFY(corrected[300] > raw[300] + 50);
}

void TestFlatField::referenceFileRoundTrips()
{
    FlatFieldReference written
        = Sensor(PixelType_Gvsp_Mono12, 300, 0.5).calibrated(PixelType_Gvsp_Mono12, 200, 150);
    written.darkCaptured = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    written.whiteCaptured = written.darkCaptured.addSecs(90);
    FlatFieldReference read;
    QString problem;
    QVERIFY2(readFlatFieldFile(flatFieldFileBytes(written), &read, &problem), qPrintable(problem));
    QVERIFY(read.pixelType == written.pixelType && read.layout == written.layout && read.enabled);
    QVERIFY(read.dark == written.dark && read.white == written.white && read.target == written.target);
    QVERIFY(read.darkCaptured == written.darkCaptured && read.whiteCaptured == written.whiteCaptured);
    QCOMPARE(flatFieldFileName(QStringLiteral("LS 4096/Mono"), QStringLiteral("A:1")),
             QStringLiteral("flatfield_LS_4096_Mono_A_1.ffc"));
}

void TestFlatField::unusableReferenceFileIsIgnored_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("cut");  // bytes taken off the end
    QTest::addColumn<int>("flip"); // a byte inverted; -1 none
    QTest::addColumn<QString>("said");
    const uint mono8 = PixelType_Gvsp_Mono8;
    QTest::newRow("the camera's own") << mono8 << 256 << 0 << -1 << QStringLiteral("loaded, FFC on");
    QTest::newRow("another width") << mono8 << 512 << 0 << -1 << QStringLiteral("lines of 512 pixels");
    QTest::newRow("another format") << uint(PixelType_Gvsp_Mono12) << 256 << 0 << -1
                                    << QStringLiteral("pixel format 0x01100005");
    QTest::newRow("cut by a byte") << mono8 << 256 << 1 << -1 << QStringLiteral("cut short");
    QTest::newRow("cut to its header") << mono8 << 256 << 2048 << -1 << QStringLiteral("cut short");
    QTest::newRow("a value damaged") << mono8 << 256 << 0 << 900 << QStringLiteral("damaged");
    QTest::newRow("not a reference") << mono8 << 256 << 0 << 2 << QStringLiteral("not a flat-field");
}

// When the camera opens, a file that is not its whole reference is said to
// be ignored and corrects nothing.
void TestFlatField::unusableReferenceFileIsIgnored()
{
    QFETCH(uint, type);
    QFETCH(int, width);
    QFETCH(int, cut);
    QFETCH(int, flip);
    QFETCH(QString, said);
    ScratchDirectory scratch;
    QByteArray file = flatFieldFileBytes(Sensor(type, width, 0.5).calibrated(type, 200, 150));
    file.chop(cut);
    if (flip >= 0)
        file[flip] = char(~file[flip]);
    OpenedCorrector opened(file);
    QVERIFY2(opened.said.contains(said), qPrintable(opened.said));
    QCOMPARE(opened.corrector.correctionOn(), said.startsWith(QLatin1String("loaded")));
}

// Switched off, frames leave the corrector as they came, also while a
// capture averages them; switched on, they come out corrected, raw untouched.
void TestFlatField::correctionOffLeavesFramesUntouched()
{
    ScratchDirectory scratch;
    const Sensor sensor(PixelType_Gvsp_Mono8, 256, 0.5);
    FlatFieldReference reference = sensor.calibrated(PixelType_Gvsp_Mono8, 200, 150);
    reference.enabled = false;
    OpenedCorrector opened(flatFieldFileBytes(reference));
    QVERIFY(opened.corrector.startCapture(FlatFieldCorrector::White, 64));
    std::vector<unsigned char> frame;
    for (int n = 0; n < 8; ++n) {
        const std::vector<unsigned char> line = sensor.line(100 + n);
        frame.insert(frame.end(), line.begin(), line.end());
    }
    const std::vector<unsigned char> original = frame;
    MV_FRAME_OUT_INFO_EX info{};
    info.nWidth = 256;
    info.nHeight = 8;
    info.enPixelType = PixelType_Gvsp_Mono8;
    info.nFrameLen = unsigned(frame.size());
    ByteBuffer buffer;
    QCOMPARE(opened.corrector.correctRawFrame(frame.data(), info, buffer), frame.data());
    QVERIFY(frame == original && !opened.corrector.lastFrameCorrected());
    opened.corrector.setEnabled(true);
    const unsigned char *corrected = opened.corrector.correctRawFrame(frame.data(), info, buffer);
    QVERIFY(corrected != frame.data() && std::memcmp(corrected, original.data(), original.size()) != 0);
    QVERIFY(frame == original && opened.corrector.lastFrameCorrected());
}

// Bayer frames are averaged and corrected as the RGB picture the library
// demosaics, in place, once the captures have come through the grab thread.
void TestFlatField::bayerFramesAreCalibratedAndCorrectedAfterDemosaic()
{
    ScratchDirectory scratch;
    const Sensor sensor(PixelType_Gvsp_RGB8_Packed, 64, 0.5);
    const auto demosaiced = [&](double light, bool noisy = true) {
        QImage image(64, 16, QImage::Format_RGB888);
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(image.scanLine(y), sensor.line(light, noisy ? y + 1 : 0).data(), 64 * 3);
        return image;
    };
    MV_FRAME_OUT_INFO_EX info{};
    info.enPixelType = PixelType_Gvsp_BayerRG8;
    OpenedCorrector opened{QByteArray()};
    FlatFieldCorrector &corrector = opened.corrector;
    for (auto [kind, light] :
         {std::pair{FlatFieldCorrector::Dark, 0.0}, std::pair{FlatFieldCorrector::White, 220.0}}) {
        QVERIFY(corrector.startCapture(kind, 64));
        for (int frame = 0; frame < 4; ++frame) {
            QImage image = demosaiced(light);
            corrector.correctConvertedImage(image, info);
        }
        QTRY_VERIFY(!corrector.capturing());
    }
    corrector.setTarget(200);
    corrector.setEnabled(true);
    QImage grey = demosaiced(110, false);
    corrector.correctConvertedImage(grey, info);
    QVERIFY(corrector.lastFrameCorrected());
    QVector<int> values;
    for (int y = 0; y < grey.height(); ++y)
        values << sensor.samples(std::vector<unsigned char>(grey.scanLine(y), grey.scanLine(y) + 64 * 3));
    QVERIFY(flatAt(values, 100));
}

// The grab thread hands a finished capture over by a queued call; a reset
// in between wins.
void TestFlatField::captureResetBeforeItArrivesIsDropped()
{
    ScratchDirectory scratch;
    const Sensor sensor(PixelType_Gvsp_Mono8, 256, 0.5);
    OpenedCorrector opened{QByteArray()};
    std::vector<unsigned char> frame;
    for (int n = 1; n <= 64; ++n) {
        const std::vector<unsigned char> line = sensor.line(220, n);
        frame.insert(frame.end(), line.begin(), line.end());
    }
    MV_FRAME_OUT_INFO_EX info{};
    info.nWidth = 256;
    info.nHeight = 64;
    info.enPixelType = PixelType_Gvsp_Mono8;
    info.nFrameLen = unsigned(frame.size());
    ByteBuffer buffer;
    QVERIFY(opened.corrector.startCapture(FlatFieldCorrector::White, 64));
    opened.corrector.correctRawFrame(frame.data(), info, buffer);
    opened.corrector.reset();
    QVERIFY(opened.corrector.startCapture(FlatFieldCorrector::Dark, 64));
    QCoreApplication::processEvents();
    QVERIFY(opened.corrector.reference().isEmpty() && opened.corrector.capturing());
    opened.corrector.correctRawFrame(frame.data(), info, buffer);
    QTRY_VERIFY(!opened.corrector.capturing());
    QVERIFY(!opened.corrector.reference().dark.empty() && !opened.corrector.reference().hasWhite());
}

// The operator's calibration: lens capped, white card, switch on, white set
// to 200; the live view and the stitched files of a grey card are then even
// where the raw frames are not, and the program's next start applies the
// stored references again.
void TestFlatField::dialogCalibrationFlattensStitchedFilesAndSurvivesRestart()
{
    ScratchDirectory scratch;
    MessageBoxRecorder boxes;
    AppSettings::setValue(AppSettings::kFlatFieldLines, 64);
    StitchSettings settings{StitchDirection::Bottom, 4, true, QStringLiteral("PNG"), scratch.filePath("out")};
    QVERIFY(QDir().mkpath(settings.outDir));
    // Before the window: its shutdown may still deliver frames to them.
    QImage shown;
    QStringList reports;
    std::unique_ptr<MainWindow> window;
    const auto openAndStart = [&] {
        openStitchingWindow(window, QString::fromLatin1(kCamera), "FFC-1", settings);
        QVERIFY(window && window->m_isOpen);
        reports << window->statusBar()->currentMessage();
        connect(window->m_workThread, &WorkThread::frameGrabbed, window.get(),
                [&](QImage image) { shown = image; });
        connect(window->flatField(), &FlatFieldCorrector::report, window.get(),
                [&](QString text) { reports << text; });
        QVERIFY(trigger(*window, "actionCameraStart"));
        QVERIFY(window->m_isGrabbing);
    };
    const auto shows = [&](auto condition) {
        return QTest::qWaitFor([&] { return !shown.isNull() && condition(levels(shown)); });
    };
    const auto evenGrey = [](const QVector<int> &values) { return flatAt(values, 120.0 * 200 / 220); };
    openAndStart();
    if (QTest::currentTestFailed())
        return;
    FlatFieldCorrector *flatField = window->flatField();
    QString failed = QStringLiteral("no dialog");
    withDialog(*window, [&](QWidget *dialog) {
        const auto steps = [&]() -> QString {
            mvsim::setTarget("FFC-1", 0);
            if (!shows([](QVector<int> v) { return *std::max_element(v.begin(), v.end()) <= 12; })
                || !click(dialog, "btnCaptureDark")
                || !QTest::qWaitFor([&] { return flatField->reference().darkCaptured.isValid(); }))
                return QStringLiteral("dark");
            mvsim::setTarget("FFC-1", 220);
            if (!shows([](QVector<int> v) { return *std::min_element(v.begin(), v.end()) >= 100; })
                || !click(dialog, "btnCaptureWhite")
                || !QTest::qWaitFor([&] { return flatField->reference().hasWhite(); })
                || !click(dialog, "cbFlatFieldEnable"))
                return QStringLiteral("white");
            auto *target = dialog->findChild<QSpinBox *>(QStringLiteral("sbFlatFieldTarget"));
            QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(target, QStringLiteral("200"));
            QTest::keyClick(target, Qt::Key_Return);
            mvsim::setTarget("FFC-1", 120);
            return flatField->correctionOn() && shows(evenGrey) ? QString()
                                                                : QStringLiteral("live view not even");
        };
        failed = steps();
    });
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    QVERIFY(reports.join(QLatin1Char('\n')).contains(QLatin1String("dead pixel column")));
    QTRY_VERIFY(window->ui->dataitemLabel->text().endsWith(QLatin1String("| FFC on")));
    // The snapshot keeps the raw frame, lens fall-off and all.
    const QString snapshot = scratch.filePath(QStringLiteral("raw.bmp"));
    QCOMPARE(window->saveCurrentFrame(snapshot, MV_Image_Bmp, 0), int(MV_OK));
    QVERIFY(!flatAt(levels(QImage(snapshot)), 120, 20));

    // Only batches begun after the switch count: the run starts anew.
    QVERIFY(trigger(*window, "actionCameraStop") && waitForStitchWorker(*window));
    // Without a grabbing camera nothing can be captured, and the buttons say why.
    QString idle;
    withDialog(*window, [&](QWidget *dialog) {
        for (const char *name : {"btnCaptureDark", "btnCaptureWhite"})
            if (QWidget *button = dialog->findChild<QWidget *>(QLatin1String(name)); !button->isEnabled())
                idle += button->toolTip();
    });
    QCOMPARE(idle.count(QLatin1String("Start grabbing first")), 2);
    QDir out(settings.outDir);
    for (const QString &name : out.entryList(QDir::Files))
        QVERIFY(out.remove(name));
    QVERIFY(trigger(*window, "actionCameraStart"));
    QTRY_VERIFY_WITH_TIMEOUT(out.entryList({QStringLiteral("*.png")}).size() >= 2, 20000);
    QVERIFY(trigger(*window, "actionCameraStop") && waitForStitchWorker(*window));
    for (const QString &name : out.entryList({QStringLiteral("*.png")})) {
        const QImage stitched(out.filePath(name));
        QVERIFY2(stitched.width() == 256 && evenGrey(levels(stitched)), qPrintable(name));
    }

    window.reset();
    reports.clear();
    shown = QImage();
    openAndStart();
    QVERIFY2(reports.join(QLatin1Char('\n')).contains(QLatin1String("loaded, FFC on")),
             qPrintable(reports.join('\n')));
    mvsim::setTarget("FFC-1", 120);
    QVERIFY(shows(evenGrey));
    QVERIFY(boxes.isEmpty());
}

QTEST_MAIN(TestFlatField)
#include "tst_flatfield.moc"
