// Flat-field correction: the arithmetic, the stored references, a calibration in the dialog.
#include <QtEndian>
#include <QtTest>

#include "camerawindow.h"
#include "dialogcamera.h"
#include "flatfieldcorrector.h"
#include "frameturn.h"
#include "simcamera.h"
#include "stitchingwindow.h"
#include "ui_mainwindow.h"
#include "workthread.h"

namespace {

// A sensor behind a lens: sample i reads offset + response x light (in 8-bit
// levels) in its format's steps; noisy lines carry a dither that evens out over 16.
struct Sensor {
    FlatFieldLayout layout;
    std::vector<double> offset, response;
    Sensor(uint type, int width) : layout(flatFieldLayoutOf(type, width))
    {
        for (int i = 0; i < layout.samples(); ++i) {
            const double u = (2.0 * (i / layout.channels) + 1.0) / width - 1.0;
            offset.push_back(6.0 + 5.0 * std::sin(i * 0.37));
            response.push_back((1.0 - 0.5 * u * u) * (1.0 + 0.04 * std::sin(i * 1.7)));
        }
    }
    double scale() const { return double(1 << (layout.bits - 8)); }
    std::vector<unsigned char> lines(double light, int count = 1, bool noisy = false) const
    {
        std::vector<unsigned char> bytes(std::size_t(layout.lineBytes() * count));
        for (int k = 0; k < layout.samples() * count; ++k) {
            const int i = k % layout.samples(), n = k / layout.samples();
            const double dither = noisy ? ((i * 7 + n * 5 + 5) % 16 + 0.5) / 16 - 0.5 : 0.0;
            const double v = std::round((offset[i] + response[i] * light) * scale() + dither);
            const int value = int(std::clamp(v, 0.0, double(layout.maxValue())));
            layout.wide() ? qToLittleEndian(quint16(value), &bytes[2 * k]) : void(bytes[k] = uchar(value));
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
        reference.darkCaptured = reference.whiteCaptured = QDateTime(QDate(2026, 3, 4), QTime(5, 6), Qt::UTC);
        return reference;
    }
};

// Every value within `step` of the median, the median within it of `expected`.
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
      "line_rate = 20000\nvignette = 0.5\ncolumn_gain = 0.05\ncolumn_offset = 12\ntarget = 120\n";

// A corrector that has just taken up the camera, `file` stored as its references.
struct OpenedCorrector {
    ScratchDirectory scratch;
    bool configured = mvsim::configure(kCamera);
    CameraHandle camera{"FFC-1"};
    FlatFieldCorrector corrector;
    QString said;
    explicit OpenedCorrector(const QByteArray &file)
    {
        QFile saved(flatFieldFileName("M", "S"));
        if (configured && camera.open() == MV_OK && saved.open(QIODevice::WriteOnly)
            && saved.write(file) == file.size() && saved.flush())
            said = corrector.openCamera(camera.handle, "M", "S", QDir::currentPath());
    }
};

} // namespace

class TestFlatField : public QObject
{
    Q_OBJECT

private slots:
    void correctedLineIsFlatAndClamped_data();
    void correctedLineIsFlatAndClamped();
    void referenceFileIsTakenOnlyWhole_data();
    void referenceFileIsTakenOnlyWhole();
    void demosaicedFramesAreCorrectedOnlyWhenOn();
    void dialogCalibrationFlattensStitchedFilesAndSurvivesRestart();
};

void TestFlatField::correctedLineIsFlatAndClamped_data()
{
    QTest::addColumn<uint>("type");
    QTest::newRow("Mono8") << uint(PixelType_Gvsp_Mono8);
    QTest::newRow("Mono12") << uint(PixelType_Gvsp_Mono12);
    QTest::newRow("Mono16") << uint(PixelType_Gvsp_Mono16);
    QTest::newRow("RGB8") << uint(PixelType_Gvsp_RGB8_Packed);
}

// Each sample, the tail past the last vector too, becomes (raw - dark) x target / (white
// - dark) to the nearest step within the range, so an even grey comes out flat; columns
// 5 and 70 (one channel) barely see light: named, left alone; column 100, at 1/16, counts.
void TestFlatField::correctedLineIsFlatAndClamped()
{
    QFETCH(uint, type);
    Sensor sensor(type, 1000);
    const int channels = sensor.layout.channels, top = sensor.layout.maxValue();
    for (int i : {5 * channels, 6 * channels - 1, 71 * channels - 1})
        sensor.response[i] = 10.0 / 220;
    FlatFieldReference reference = sensor.calibrated(type, 220, 200);
    reference.white[100 * channels] = reference.dark[100 * channels] + (top + 1) / 16;
    const FlatFieldCorrection correction = flatFieldCorrection(reference);
    QCOMPARE(correction.deadColumns, (std::vector<int>{5, 70}));
    for (double light : {-20.0, 40.0, 110.0, 220.0, 300.0}) {
        std::vector<unsigned char> line = sensor.lines(light);
        const QVector<int> in = sensor.samples(line.data());
        correctFlatFieldLine(correction, line.data(), line.data());
        const QVector<int> out = sensor.samples(line.data());
        QVector<int> even;
        for (int i = 0; i < in.size(); ++i) {
            const double dark = reference.dark[i], white = reference.white[i];
            const bool dead = white - dark < (top + 1) / 16.0;
            const double exact = std::clamp(dead ? in[i] : (in[i] - dark) * reference.target / (white - dark),
                                            0.0, double(top));
            QVERIFY2(std::abs(out[i] - exact) <= 0.5 + top / 1500.0, qPrintable(QString::number(i)));
            if (!QList<int>{5, 70, 100}.contains(i / channels))
                even << out[i];
        }
        QVERIFY(light < 0 || light > 220 || flatAt(even, light * 200 / 220 * sensor.scale(), sensor.scale()));
    }
}

void TestFlatField::referenceFileIsTakenOnlyWhole_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("said");
    const auto fileOf = [](int width, uint type = PixelType_Gvsp_Mono8) {
        return flatFieldFileBytes(Sensor(type, width).calibrated(type, 200, 150));
    };
    const QByteArray own = fileOf(256);
    QByteArray damaged = own, foreign = own;
    damaged[900] = char(~damaged[900]);
    foreign[2] = char(~foreign[2]);
    QTest::newRow("the camera's own") << own << QStringLiteral("loaded, FFC on");
    QTest::newRow("another width") << fileOf(512) << QStringLiteral("lines of 512 pixels");
    QTest::newRow("another format") << fileOf(256, PixelType_Gvsp_Mono12)
                                    << QStringLiteral("format 0x01100005");
    QTest::newRow("cut by a byte") << own.chopped(1) << QStringLiteral("cut short");
    QTest::newRow("a value damaged") << damaged << QStringLiteral("damaged");
    QTest::newRow("not a reference") << foreign << QStringLiteral("not a flat-field");
}

// Opening the camera takes its whole reference back as written; any other
// file is said to be ignored and corrects nothing.
void TestFlatField::referenceFileIsTakenOnlyWhole()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, said);
    OpenedCorrector opened(file);
    QVERIFY2(opened.said.contains(said), qPrintable(opened.said));
    const bool taken = said.startsWith(QLatin1String("loaded"));
    QCOMPARE(opened.corrector.correctionOn(), taken);
    QCOMPARE(flatFieldFileBytes(opened.corrector.reference()) == file, taken);
}

// Bayer frames are corrected as the RGB pictures the library demosaics, and only while on;
// a capture arriving after a reset is dropped.
void TestFlatField::demosaicedFramesAreCorrectedOnlyWhenOn()
{
    const Sensor sensor(PixelType_Gvsp_RGB8_Packed, 64);
    OpenedCorrector opened{QByteArray()};
    FlatFieldCorrector &corrector = opened.corrector;
    MV_FRAME_OUT_INFO_EX info{};
    info.enPixelType = PixelType_Gvsp_BayerRG8;
    bool kept = false;
    const auto pass = [&](double light, bool noisy) {
        QImage image(64, 16, QImage::Format_RGB888); // rows unpadded
        std::memcpy(image.bits(), sensor.lines(light, 16, noisy).data(), std::size_t(image.sizeInBytes()));
        const QImage before = image.copy();
        corrector.correctConvertedImage(image, info);
        kept = image == before;
        return sensor.samples(image.constBits(), 16);
    };
    const auto capture = [&](FlatFieldCorrector::Kind kind, double light, bool handedOver = true) {
        const bool started = corrector.startCapture(kind, 64);
        for (int frame = 0; frame < 4; ++frame)
            pass(light, true);
        return started && (!handedOver || QTest::qWaitFor([&] { return !corrector.capturing(); }));
    };
    QVERIFY(capture(FlatFieldCorrector::Dark, 0) && capture(FlatFieldCorrector::White, 220));
    corrector.setTarget(200);
    QVERIFY(!flatAt(pass(110, false), 100, 10) && kept && !corrector.lastFrameCorrected());
    corrector.setEnabled(true);
    QVERIFY(flatAt(pass(110, false), 100) && corrector.lastFrameCorrected());
    QVERIFY(capture(FlatFieldCorrector::White, 220, false));
    corrector.reset();
    QVERIFY(corrector.startCapture(FlatFieldCorrector::Dark, 64));
    QCoreApplication::processEvents();
    QVERIFY(corrector.reference().isEmpty() && corrector.capturing());
}

// Lens capped, white card, switch on, white set to 200: the live view is even
// where the snapshot is raw, and from the next start on the stitched files too.
void TestFlatField::dialogCalibrationFlattensStitchedFilesAndSurvivesRestart()
{
    QImage shown; // before the window: its shutdown may still deliver frames here
    CameraWindow run;
    std::unique_ptr<MainWindow> &window = run.window;
    StitchSettings settings{StitchDirection::Bottom, 4, true, QStringLiteral("PNG"), run.scratch.path()};
    const auto openAndStart = [&] {
        openStitchingWindow(window, QString::fromLatin1(kCamera), "FFC-1", settings);
        return window && window->m_isOpen
            && connect(window->m_workThread, &WorkThread::frameGrabbed, window.get(),
                       [&](QImage image) { shown = image; })
            && run.start();
    };
    const auto shows = [&](double light, auto condition) {
        mvsim::setTarget("FFC-1", light);
        return QTest::qWaitFor([&] { return !shown.isNull() && condition(levels(shown)); });
    };
    const auto dark = [](const QVector<int> &v) { return *std::max_element(v.begin(), v.end()) <= 12; };
    const auto white = [](const QVector<int> &v) { return *std::min_element(v.begin(), v.end()) >= 100; };
    const auto evenGrey = [](const QVector<int> &values) { return flatAt(values, 120.0 * 200 / 220); };
    QVERIFY(openAndStart());
    FlatFieldCorrector *flatField = window->flatField();
    {
        settingdialog dialog(&window->camera(), window->session().options(), flatField, window.get());
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
    QCOMPARE(window->saveCurrentFrame(QStringLiteral("raw.bmp"), MV_Image_Bmp, 0), int(MV_OK));
    QVERIFY(!flatAt(levels(QImage(QStringLiteral("raw.bmp"))), 120, 20));

    run.stop();
    QVERIFY(!window->m_isGrabbing && waitForStitchWorker(*window));
    window.reset();
    shown = QImage();
    settings.outDir = run.scratch.filePath(QStringLiteral("grey"));
    QDir out(settings.outDir);
    QVERIFY(out.mkpath(QStringLiteral(".")));
    // The camera sees grey 120 from its first line on.
    QVERIFY(openAndStart() && window->flatField()->correctionOn() && shows(120, evenGrey));
    QTRY_VERIFY_WITH_TIMEOUT(out.entryList({QStringLiteral("*.png")}).size() >= 2, 20000);
    run.stop();
    QVERIFY(!window->m_isGrabbing && waitForStitchWorker(*window));
    for (const QString &name : out.entryList({QStringLiteral("*.png")}))
        QVERIFY2(evenGrey(levels(QImage(out.filePath(name)))), qPrintable(name));
    QVERIFY(run.boxes.isEmpty());
}

QTEST_MAIN(TestFlatField)
#include "tst_flatfield.moc"
