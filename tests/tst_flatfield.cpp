// Flat-field correction: the arithmetic on lines of a known uneven sensor, the
// stored references, and one calibration through the settings dialog.
#include <QSpinBox>
#include <QtEndian>
#include <QtTest>

#include <cmath>

#include "dialogcamera.h"
#include "flatfieldcorrector.h"
#include "frameturn.h"
#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "simcamera.h"
#include "stitchingwindow.h"
#include "workthread.h"

namespace {

// A sensor behind a lens: sample i reads offset + response x light (light in
// 8-bit levels), rounded to its format's steps. Noisy lines carry a dither
// that evens out over 16 lines, as sensor noise does.
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
    std::vector<unsigned char> lines(double light, int count = 1, bool noisy = false) const
    {
        std::vector<unsigned char> bytes(std::size_t(layout.lineBytes() * count));
        for (int n = 0; n < count; ++n)
            for (int i = 0; i < layout.samples(); ++i) {
                const double dither = noisy ? ((i * 7 + n * 5 + 5) % 16 + 0.5) / 16 - 0.5 : 0.0;
                const double v = std::round((offset[i] + response[i] * light) * scale() + dither);
                const int value = int(std::clamp(v, 0.0, double(layout.maxValue())));
                unsigned char *at = bytes.data() + n * layout.lineBytes();
                layout.wide() ? qToLittleEndian(quint16(value), at + 2 * i) : void(at[i] = uchar(value));
            }
        return bytes;
    }
    QVector<int> samples(const unsigned char *at, int count = 1) const
    {
        QVector<int> values;
        for (int i = 0; i < layout.samples() * count; ++i)
            values << (layout.wide() ? qFromLittleEndian<quint16>(at + 2 * i) : at[i]);
        return values;
    }
    FlatFieldReference calibrated(uint type, double white, double target) const
    {
        FlatFieldReference reference;
        reference.pixelType = type;
        reference.layout = layout;
        for (auto [light, mean] : {std::pair{0.0, &reference.dark}, std::pair{white, &reference.white}}) {
            FlatFieldAverager averager(layout, 64);
            averager.add(lines(light, 64, true).data(), 64, layout.lineBytes());
            *mean = averager.mean();
        }
        reference.target = target * scale();
        reference.enabled = true;
        return reference;
    }
};

// Flat within `step` grey levels: every value within it of the median, and
// the median within it of where the light should land.
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

// A corrector that has just taken up the simulated camera, with `file`
// stored as that camera's references beforehand.
struct OpenedCorrector {
    ScratchDirectory scratch;
    bool configured = mvsim::configure(kCamera);
    CameraHandle camera{"FFC-1"};
    FlatFieldCorrector corrector;
    QString said;
    explicit OpenedCorrector(const QByteArray &file)
    {
        QFile stored(flatFieldFileName(QStringLiteral("M"), QStringLiteral("S")));
        if (configured && camera.open() == MV_OK && stored.open(QIODevice::WriteOnly)
            && stored.write(file) == file.size() && stored.flush())
            said = corrector.openCamera(camera.handle, "M", "S", QDir::currentPath());
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

} // namespace

class TestFlatField : public QObject
{
    Q_OBJECT

private slots:
    void correctedLineIsFlatAndClamped_data();
    void correctedLineIsFlatAndClamped();
    void deadColumnsAreCountedAndLeftAlone();
    void referenceFileIsTakenOnlyWhole_data();
    void referenceFileIsTakenOnlyWhole();
    void correctionOffLeavesFramesUntouchedAndResetDropsCapture();
    void bayerFramesAreCalibratedAndCorrectedAfterDemosaic();
    void dialogCalibrationFlattensStitchedFilesAndSurvivesRestart();
};

void TestFlatField::correctedLineIsFlatAndClamped_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<double>("vignette");
    QTest::newRow("Mono8") << uint(PixelType_Gvsp_Mono8) << 0.5;
    QTest::newRow("Mono12") << uint(PixelType_Gvsp_Mono12) << 0.6;
    QTest::newRow("Mono16") << uint(PixelType_Gvsp_Mono16) << 0.4;
    QTest::newRow("RGB8") << uint(PixelType_Gvsp_RGB8_Packed) << 0.5;
}

// An even grey lands where white maps to the target, across the whole line
// (its length no multiple of a vector), whatever the lens and the columns did
// to it. Then a gain of 5.1 on every level: each rounds to the nearest step,
// what falls below dark is 0, what goes past the range its top.
void TestFlatField::correctedLineIsFlatAndClamped()
{
    QFETCH(uint, type);
    QFETCH(double, vignette);
    Sensor sensor(type, 1000, vignette);
    const double scale = sensor.scale();
    const FlatFieldCorrection correction = flatFieldCorrection(sensor.calibrated(type, 220, 200));
    QVERIFY(correction.deadColumns.empty());
    for (double light : {40.0, 110.0, 220.0}) {
        std::vector<unsigned char> line = sensor.lines(light);
        QVERIFY(!flatAt(sensor.samples(line.data()), light * scale, 10 * scale));
        correctFlatFieldLine(correction, line.data(), line.data());
        QVERIFY2(flatAt(sensor.samples(line.data()), light * 200 / 220 * scale, scale),
                 qPrintable(QString::number(light)));
    }

    FlatFieldReference even;
    even.pixelType = type;
    even.layout = sensor.layout;
    even.dark.assign(std::size_t(even.layout.samples()), float(100 * scale));
    even.white.assign(even.dark.size(), float(150 * scale));
    even.target = 255 * scale;
    for (int i = 0; i < even.layout.samples(); ++i)
        sensor.offset[std::size_t(i)] = i * 37 % 256 + (i % int(scale)) / scale;
    std::vector<unsigned char> line = sensor.lines(0);
    const QVector<int> in = sensor.samples(line.data());
    correctFlatFieldLine(flatFieldCorrection(even), line.data(), line.data());
    const QVector<int> out = sensor.samples(line.data());
    for (int i = 0; i < in.size(); ++i) {
        const double exact = std::clamp((in[i] - 100 * scale) * 5.1, 0.0, double(even.layout.maxValue()));
        QVERIFY2(std::abs(out[i] - exact) <= 0.55 + scale / 128, qPrintable(QString::number(in[i])));
    }
}

void TestFlatField::deadColumnsAreCountedAndLeftAlone()
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
    const std::vector<unsigned char> raw = sensor.lines(120);
    std::vector<unsigned char> corrected(raw.size());
    correctFlatFieldLine(correction, raw.data(), corrected.data());
    for (int i : {15, 16, 17, 211})
        QCOMPARE(corrected[std::size_t(i)], raw[std::size_t(i)]);
    QVERIFY(corrected[300] > raw[300] + 50);
}

void TestFlatField::referenceFileIsTakenOnlyWhole_data()
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

// When the camera opens, its whole reference is taken back as written; any
// other file is said to be ignored and corrects nothing.
void TestFlatField::referenceFileIsTakenOnlyWhole()
{
    QFETCH(uint, type);
    QFETCH(int, width);
    QFETCH(int, cut);
    QFETCH(int, flip);
    QFETCH(QString, said);
    FlatFieldReference written = Sensor(type, width, 0.5).calibrated(type, 200, 150);
    written.darkCaptured = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    written.whiteCaptured = written.darkCaptured.addSecs(90);
    QByteArray file = flatFieldFileBytes(written);
    file.chop(cut);
    if (flip >= 0)
        file[flip] = char(~file[flip]);
    OpenedCorrector opened(file);
    QVERIFY2(opened.said.contains(said), qPrintable(opened.said));
    const bool taken = said.startsWith(QLatin1String("loaded"));
    const FlatFieldReference &read = opened.corrector.reference();
    QCOMPARE(opened.corrector.correctionOn(), taken);
    QCOMPARE(read.dark == written.dark && read.white == written.white && read.target == written.target
                 && read.darkCaptured == written.darkCaptured && read.whiteCaptured == written.whiteCaptured,
             taken);
}

// Switched off, frames leave the corrector as they came, also while a
// capture averages them; switched on, they come out corrected, raw untouched.
// A finished capture reaches the GUI thread by a queued call; a reset in
// between wins.
void TestFlatField::correctionOffLeavesFramesUntouchedAndResetDropsCapture()
{
    const Sensor sensor(PixelType_Gvsp_Mono8, 256, 0.5);
    FlatFieldReference reference = sensor.calibrated(PixelType_Gvsp_Mono8, 200, 150);
    reference.enabled = false;
    OpenedCorrector opened(flatFieldFileBytes(reference));
    FlatFieldCorrector &corrector = opened.corrector;
    std::vector<unsigned char> frame = sensor.lines(100, 64, true);
    const std::vector<unsigned char> original = frame;
    MV_FRAME_OUT_INFO_EX info{};
    info.nWidth = 256;
    info.nHeight = 64;
    info.enPixelType = PixelType_Gvsp_Mono8;
    info.nFrameLen = uint(frame.size());
    ByteBuffer buffer;
    QVERIFY(corrector.startCapture(FlatFieldCorrector::White, 256));
    QCOMPARE(corrector.correctRawFrame(frame.data(), info, buffer), frame.data());
    QVERIFY(frame == original && !corrector.lastFrameCorrected());
    corrector.setEnabled(true);
    const unsigned char *corrected = corrector.correctRawFrame(frame.data(), info, buffer);
    QVERIFY(corrected != frame.data() && std::memcmp(corrected, original.data(), original.size()) != 0);
    QVERIFY(frame == original && corrector.lastFrameCorrected());

    QVERIFY(corrector.startCapture(FlatFieldCorrector::White, 64));
    corrector.correctRawFrame(frame.data(), info, buffer);
    corrector.reset();
    QVERIFY(corrector.startCapture(FlatFieldCorrector::Dark, 64));
    QCoreApplication::processEvents();
    QVERIFY(corrector.reference().isEmpty() && corrector.capturing());
    corrector.correctRawFrame(frame.data(), info, buffer);
    QTRY_VERIFY(!corrector.capturing());
    QVERIFY(!corrector.reference().dark.empty() && !corrector.reference().hasWhite());
}

// Bayer frames are averaged and corrected as the RGB picture the library
// demosaics, in place, once the captures have come through the grab thread.
void TestFlatField::bayerFramesAreCalibratedAndCorrectedAfterDemosaic()
{
    const Sensor sensor(PixelType_Gvsp_RGB8_Packed, 64, 0.5);
    const auto demosaiced = [&](double light, bool noisy) {
        QImage image(64, 16, QImage::Format_RGB888); // lines of 192 bytes: no padding
        std::memcpy(image.bits(), sensor.lines(light, 16, noisy).data(), std::size_t(image.sizeInBytes()));
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
            QImage image = demosaiced(light, true);
            corrector.correctConvertedImage(image, info);
        }
        QTRY_VERIFY(!corrector.capturing());
    }
    corrector.setTarget(200);
    corrector.setEnabled(true);
    QImage grey = demosaiced(110, false);
    corrector.correctConvertedImage(grey, info);
    QVERIFY(corrector.lastFrameCorrected() && flatAt(sensor.samples(grey.bits(), 16), 100));
}

// The operator's calibration: lens capped, white card, switch on, white set
// to 200; the live view and the stitched files of a grey card are then even
// where the raw snapshot is not, and the next start applies them again.
void TestFlatField::dialogCalibrationFlattensStitchedFilesAndSurvivesRestart()
{
    ScratchDirectory scratch;
    MessageBoxRecorder boxes;
    AppSettings::setValue(AppSettings::kFlatFieldLines, 64);
    StitchSettings settings{StitchDirection::Bottom, 4, true, QStringLiteral("PNG"), scratch.filePath("out")};
    QDir out(settings.outDir);
    QVERIFY(out.mkpath(QStringLiteral(".")));
    QImage shown; // before the window: its shutdown may still deliver frames here
    std::unique_ptr<MainWindow> window;
    const auto openAndStart = [&] {
        openStitchingWindow(window, QString::fromLatin1(kCamera), "FFC-1", settings);
        QVERIFY(window && window->m_isOpen);
        connect(window->m_workThread, &WorkThread::frameGrabbed, window.get(),
                [&](QImage image) { shown = image; });
        QVERIFY(trigger(*window, "actionCameraStart"));
    };
    const auto shows = [&](double light, auto condition) {
        mvsim::setTarget("FFC-1", light);
        return QTest::qWaitFor([&] { return !shown.isNull() && condition(levels(shown)); });
    };
    const auto dark = [](const QVector<int> &v) { return *std::max_element(v.begin(), v.end()) <= 12; };
    const auto white = [](const QVector<int> &v) { return *std::min_element(v.begin(), v.end()) >= 100; };
    const auto evenGrey = [](const QVector<int> &values) { return flatAt(values, 120.0 * 200 / 220); };
    openAndStart();
    if (QTest::currentTestFailed())
        return;
    FlatFieldCorrector *flatField = window->flatField();
    {
        settingdialog dialog(window.get(), window.get());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog) && shows(0, dark));
        QTest::mouseClick(findControl(dialog, "btnCaptureDark"), Qt::LeftButton);
        QTRY_VERIFY(flatField->reference().darkCaptured.isValid());
        QVERIFY(shows(220, white));
        QTest::mouseClick(findControl(dialog, "btnCaptureWhite"), Qt::LeftButton);
        QTRY_VERIFY(flatField->reference().hasWhite());
        clickIndicator(findControl<QCheckBox>(dialog, "cbFlatFieldEnable"));
        auto *target = findControl<QSpinBox>(dialog, "sbFlatFieldTarget");
        QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(target, QStringLiteral("200"));
        QTest::keyClick(target, Qt::Key_Return);
        QVERIFY(flatField->correctionOn() && shows(120, evenGrey));
    }
    QTRY_VERIFY(window->ui->dataitemLabel->text().endsWith(QLatin1String("| FFC on")));
    const QString snapshot = scratch.filePath(QStringLiteral("raw.bmp"));
    QCOMPARE(window->saveCurrentFrame(snapshot, MV_Image_Bmp, 0), int(MV_OK));
    QVERIFY(!flatAt(levels(QImage(snapshot)), 120, 20));

    // Stopped, nothing can be captured; only batches begun after the switch
    // count, so the run starts anew.
    QVERIFY(trigger(*window, "actionCameraStop") && waitForStitchWorker(*window));
    if (settingdialog stopped(window.get(), window.get()); true)
        QVERIFY(!findControl(stopped, "btnCaptureDark")->isEnabled()
                && !findControl(stopped, "btnCaptureWhite")->isEnabled());
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
    shown = QImage();
    openAndStart();
    QVERIFY(window && window->flatField()->correctionOn() && shows(120, evenGrey));
    QVERIFY(boxes.isEmpty());
}

QTEST_MAIN(TestFlatField)
#include "tst_flatfield.moc"
