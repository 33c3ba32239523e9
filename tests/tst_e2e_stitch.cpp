// From a simulated camera to stitched files on disk, driven through the
// window's actions. Every line of a simulated frame carries its line number in
// its first four pixels, so the files tell whether a line was lost, repeated
// or put out of order.
#include <QtTest>

#include "appsettings.h"
#include "composer.h"
#include "framekind.h"
#include "frameturn.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "scratchdirectory.h"
#include "stitchworker.h"
#include "linestamps.h"
#include "stitchingwindow.h"
#include "ui_mainwindow.h"

#include <QComboBox>
#include <QDir>
#include <QRegularExpression>

#include <atomic>
#include <memory>

namespace {

constexpr int kWidth = 256;
constexpr int kLines = 64;
const char *kSerial = "E2E-CAM";

// A small camera, paced at 100 frames a second whatever the line-rate
// setting says (without it the camera runs at its maximum line rate). Its
// deep buffer rides out the stalls of a busy test machine, so a frame lost
// to the scheduler does not pass for a frame lost by the window. Objects, if
// any, are 50 lines apart.
QString cameraIni(const QString &pixelFormat = QStringLiteral("Mono8"), int objectLines = 0)
{
    QString ini
        = QStringLiteral("[%1]\ntransport = USB3\nwidth = %2\nlines_per_frame = %3\n"
                         "pixel_format = %4\nline_rate = 6400\nmax_line_rate = 6400\nbuffer_count = 512\n")
              .arg(QLatin1String(kSerial))
              .arg(kWidth)
              .arg(kLines)
              .arg(pixelFormat);
    if (objectLines > 0)
        ini += QStringLiteral("object_lines = %1\ngap_lines = %2\n").arg(objectLines).arg(50);
    return ini;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<MainWindow> m_window;
    QString m_outDir;

    MainWindow &w() { return *m_window; }

    void startWindow(int direction, int frameCount, bool partial, const QString &format,
                     const QString &cameraConfig)
    {
        m_outDir = m_scratch->filePath(QStringLiteral("out"));
        openStitchingWindow(m_window, cameraConfig, kSerial,
                            {direction, frameCount, partial, format, m_outDir});
    }
    // The Start action toggles grabbing.
    void setGrabbing(bool on)
    {
        w().ui->actionCameraStart->trigger();
        QCOMPARE(w().m_isGrabbing, on);
        if (on)
            QVERIFY(w().m_stitchActive);
    }
    void waitForBatches(int count) { QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= count, 20000); }
    // Stops grabbing, waits until the stitch worker has run every job posted
    // so far, and reads the files back in batch order.
    QList<StitchedFile> stopAndReadFiles(int direction)
    {
        setGrabbing(false);
        if (!waitForStitchWorker(w())) {
            QTest::qFail("the stitch worker did not finish", __FILE__, __LINE__);
            return {};
        }
        return readStitchedFiles(m_outDir, direction);
    }

private slots:
    void init();
    void cleanup();

    void batchesLandOnDiskWholeAndInLineOrder_data();
    void batchesLandOnDiskWholeAndInLineOrder();
    void batchNumbersKeepRisingOverClearImagesAndCameraRestarts();
    void batchesClosedWhileSavingIsOffLeaveGapsInTheNumbers();
    void changingTheDirectionWhileGrabbingTurnsTheFollowingBatches();
    void loweringTheFrameCountClosesTheOpenBatchAtOnce();
    void monoCameraFilesAreRgbPicturesOfTheGrabbedFrames_data();
    void monoCameraFilesAreRgbPicturesOfTheGrabbedFrames();
};

void TestEndToEnd::init()
{
    m_scratch = std::make_unique<ScratchDirectory>();
    m_boxes = std::make_unique<MessageBoxRecorder>();
}

void TestEndToEnd::cleanup()
{
    if (m_window && w().m_isGrabbing)
        setGrabbing(false);
    if (m_window && w().m_isOpen)
        w().ui->actionCameraOpen->trigger();
    m_window.reset();
    // No error reached the operator in any of these runs.
    QVERIFY2(m_boxes->isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
    m_boxes.reset();
    m_scratch.reset();
    mvsim::reset();
}

void TestEndToEnd::batchesLandOnDiskWholeAndInLineOrder_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("pixelFormat");
    QTest::addColumn<int>("objectLines"); // 0: a continuous web, batches closed by count
    QTest::addColumn<bool>("partial");
    QTest::addColumn<int>("linesPerFile");
    // Objects of three full frames and 20 lines more, 50 lines apart.
    const int object = 3 * kLines + 20;
    QTest::newRow("Left, png, mono, by count") << 0 << "PNG"
                                               << "Mono8" << 0 << true << 4 * kLines;
    QTest::newRow("Right, bmp, rgb, by count") << 1 << "BMP"
                                               << "RGB8" << 0 << true << 4 * kLines;
    QTest::newRow("Bottom, tiff, mono, by count") << 2 << "TIFF"
                                                  << "Mono8" << 0 << true << 4 * kLines;
    QTest::newRow("Top, png, rgb, by count") << 3 << "PNG"
                                             << "RGB8" << 0 << true << 4 * kLines;
    for (int direction = 0; direction < 4; ++direction) {
        const bool partial = direction % 2 == 0;
        QTest::addRow("direction %d, by object, partial frames %s", direction, partial ? "kept" : "dropped")
            << direction << "PNG"
            << "Mono8" << object << partial << (partial ? object : 3 * kLines);
    }
}

void TestEndToEnd::batchesLandOnDiskWholeAndInLineOrder()
{
    QFETCH(int, direction);
    QFETCH(QString, format);
    QFETCH(QString, pixelFormat);
    QFETCH(int, objectLines);
    QFETCH(bool, partial);
    QFETCH(int, linesPerFile);
    const char *names[] = {"_Left_", "_Right_", "_Bottom_", "_Top_"};
    startWindow(direction, objectLines ? 30 : 4, partial, format, cameraIni(pixelFormat, objectLines));
    setGrabbing(true);
    waitForBatches(3);
    // Stopped in the middle of a batch: its frames are not saved.
    if (!objectLines)
        QTRY_VERIFY_WITH_TIMEOUT(!w().m_batchFrames.isEmpty(), 5000);
    const QList<StitchedFile> files = stopAndReadFiles(direction);
    QCOMPARE(files.size(), w().m_batchCounter);
    for (int i = 0; i < files.size(); ++i) {
        QVERIFY2(files[i].name.contains(QLatin1String(names[direction])), qPrintable(files[i].name));
        QCOMPARE(files[i].batch, i + 1);
        QCOMPARE(files[i].stamps.size(), linesPerFile);
        QVERIFY2(runsWithoutGap(files[i].stamps), qPrintable(files[i].name));
        // A web continues from file to file; objects follow at a fixed period.
        if (i > 0 && !objectLines)
            QCOMPARE(files[i].stamps.first(), files[i - 1].stamps.last() + 1);
        if (i > 1 && objectLines)
            QCOMPARE(files[i].stamps.first() - files[i - 1].stamps.first(),
                     files[i - 1].stamps.first() - files[i - 2].stamps.first());
    }
}

void TestEndToEnd::batchNumbersKeepRisingOverClearImagesAndCameraRestarts()
{
    startWindow(2, 2, true, QStringLiteral("BMP"), cameraIni());
    setGrabbing(true);
    waitForBatches(2);
    w().ui->actionClearImages->trigger();
    waitForBatches(w().m_batchCounter + 2);
    setGrabbing(false);
    setGrabbing(true);
    waitForBatches(w().m_batchCounter + 2);
    setGrabbing(false);
    // Reopening restarts the camera's line numbers.
    w().ui->actionCameraOpen->trigger();
    QVERIFY(!w().m_isOpen);
    w().ui->actionCameraOpen->trigger();
    const int secondOpen = w().m_batchCounter;
    setGrabbing(true);
    waitForBatches(secondOpen + 2);
    const QList<StitchedFile> files = stopAndReadFiles(2);
    QCOMPARE(files.size(), w().m_batchCounter);
    for (int i = 0; i < files.size(); ++i) {
        QCOMPARE(files[i].batch, i + 1);
        QCOMPARE(files[i].stamps.size(), 2 * kLines);
        QVERIFY2(runsWithoutGap(files[i].stamps), qPrintable(files[i].name));
        if (i > 0 && i != secondOpen)
            QVERIFY2(files[i].stamps.first() > files[i - 1].stamps.last(), qPrintable(files[i].name));
    }
}

void TestEndToEnd::batchesClosedWhileSavingIsOffLeaveGapsInTheNumbers()
{
    startWindow(2, 2, true, QStringLiteral("PNG"), cameraIni());
    setGrabbing(true);
    waitForBatches(2);
    w().m_saveStitchImage = false;
    const int offFrom = w().m_batchCounter + 1;
    waitForBatches(offFrom + 1);
    w().m_saveStitchImage = true;
    const int onFrom = w().m_batchCounter + 1;
    waitForBatches(onFrom + 1);
    QList<int> saved;
    for (const StitchedFile &file : stopAndReadFiles(2))
        saved.append(file.batch);
    QList<int> expected;
    for (int batch = 1; batch <= w().m_batchCounter; ++batch)
        if (batch < offFrom || batch >= onFrom)
            expected.append(batch);
    QCOMPARE(saved, expected);
}

void TestEndToEnd::changingTheDirectionWhileGrabbingTurnsTheFollowingBatches()
{
    startWindow(2, 3, true, QStringLiteral("PNG"), cameraIni());
    setGrabbing(true);
    waitForBatches(1);
    // The settings dialog stores the key first, then tells the window.
    AppSettings::setValue(AppSettings::kStitchDirection, 0);
    w().setStitchDirection(0);
    const int changedAfter = w().m_batchCounter;
    waitForBatches(changedAfter + 2);
    const QList<StitchedFile> files = stopAndReadFiles(2);
    QCOMPARE(files.size(), w().m_batchCounter);
    for (const StitchedFile &file : files) {
        const bool turned = file.batch > changedAfter;
        QVERIFY2(file.name.contains(turned ? QLatin1String("_Left_") : QLatin1String("_Bottom_")),
                 qPrintable(file.name));
        // Complete frames of the new direction still count as complete: the
        // camera size is read again for the turn.
        const QList<quint32> stamps
            = turned ? lineStamps(QImage(QDir(m_outDir).filePath(file.name)), 0) : file.stamps;
        QCOMPARE(stamps.size(), 3 * kLines);
        QVERIFY2(runsWithoutGap(stamps), qPrintable(file.name));
    }
}

void TestEndToEnd::loweringTheFrameCountClosesTheOpenBatchAtOnce()
{
    startWindow(2, 1000, true, QStringLiteral("PNG"), cameraIni());
    setGrabbing(true);
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchFrames.size() >= 3, 20000);
    w().setMaxStitchCount(2);
    QCOMPARE(w().m_batchCounter, 1);
    const int firstBatch = w().m_lastBatchFrames.size();
    QVERIFY(firstBatch >= 3);
    waitForBatches(3);
    const QList<StitchedFile> files = stopAndReadFiles(2);
    QCOMPARE(files.size(), w().m_batchCounter);
    QCOMPARE(files.first().stamps.size(), firstBatch * kLines);
    for (int i = 1; i < files.size(); ++i) {
        QCOMPARE(files[i].stamps.size(), 2 * kLines);
        QCOMPARE(files[i].stamps.first(), files[i - 1].stamps.last() + 1);
    }
}

void TestEndToEnd::monoCameraFilesAreRgbPicturesOfTheGrabbedFrames_data()
{
    QTest::addColumn<int>("direction");
    for (int direction = 0; direction < 4; ++direction)
        QTest::addRow("direction %d", direction) << direction;
}

// A Mono8 camera's batches travel gray and as grabbed, yet its files are what
// they always were: 24-bit RGB, each frame widened to RGB by the camera
// library and turned for the direction, lines in order.
void TestEndToEnd::monoCameraFilesAreRgbPicturesOfTheGrabbedFrames()
{
    QFETCH(int, direction);
    startWindow(direction, 3, true, QStringLiteral("BMP"), cameraIni());
    setGrabbing(true);
    waitForBatches(2);
    const QList<StitchedFile> files = stopAndReadFiles(direction);
    QCOMPARE(files.size(), w().m_batchCounter);
    const QList<QImage> grabbed = w().m_lastBatchFrames; // the last file's batch
    QCOMPARE(grabbed.size(), 3);
    QImage expected
        = createCanvas(isHorizontalDirection(direction) ? 3 * kLines : kWidth,
                       isHorizontalDirection(direction) ? kWidth : 3 * kLines, QImage::Format_RGB888);
    int offset = 0;
    for (int k = 0; k < grabbed.size(); ++k) {
        const QImage &frame = grabbed[drawsInReverse(direction) ? grabbed.size() - 1 - k : k];
        QCOMPARE(frame.size(), QSize(kWidth, kLines));
        QVERIFY(grayStandsForRgb(frame));
        offset = drawFrame(expected,
                           turnFrameForDirection(frame.convertToFormat(QImage::Format_RGB888), direction),
                           offset, isHorizontalDirection(direction));
    }
    const StitchedFile &last = files.last();
    QCOMPARE(last.stamps.size(), 3 * kLines);
    QVERIFY2(runsWithoutGap(last.stamps), qPrintable(last.name));
    const QImage written(QDir(m_outDir).filePath(last.name));
    QCOMPARE(written.format(), QImage::Format_RGB32); // read back from a 24-bit file
    QVERIFY(written.convertToFormat(QImage::Format_RGB888) == expected);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e_stitch.moc"
