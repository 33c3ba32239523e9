// From a simulated camera to stitched files on disk, driven through the
// window's actions. Every line of a simulated frame carries its line number in
// its first four pixels, so the files tell whether a line was lost, repeated
// or put out of order.
#include <QtTest>

#include "appsettings.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "scratchdirectory.h"
#include "stitchworker.h"
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

// One stitched file as the test reads it back.
struct StitchedFile
{
    QString name;
    int batch = 0;
    QList<quint32> stamps; // line numbers in the order the stitch direction lays them out
};

// The line numbers of a stitched picture, in time order. The window turned
// each frame for the direction, so a camera line is a row (Bottom, Top) or a
// column (Left, Right), and its first pixel sits at the corner the turn moved
// it to.
QList<quint32> lineStamps(const QImage &picture, int direction)
{
    const bool columns = direction == 0 || direction == 1;
    const int count = columns ? picture.width() : picture.height();
    QList<quint32> stamps;
    for (int i = 0; i < count; ++i) {
        unsigned char pixels[4];
        for (int p = 0; p < 4; ++p) {
            QPoint at;
            switch (direction) {
            case 0: // turned -90: line i is column i, its pixels run upwards
                at = QPoint(i, picture.height() - 1 - p);
                break;
            case 1: // turned +90: the newest line is at the left, pixels run downwards
                at = QPoint(count - 1 - i, p);
                break;
            case 3: // turned 180: the newest line is at the top, pixels run leftwards
                at = QPoint(picture.width() - 1 - p, count - 1 - i);
                break;
            default:
                at = QPoint(p, i);
                break;
            }
            pixels[p] = uchar(qRed(picture.pixel(at)));
        }
        stamps.append(mvsim::lineStamp(pixels, 1));
    }
    return stamps;
}

// A small camera, paced at 100 frames a second whatever the line-rate
// setting says (without it the camera runs at its maximum line rate). Its
// deep buffer rides out the stalls of a busy test machine, so a frame lost
// to the scheduler does not pass for a frame lost by the window.
QString cameraIni(const QString &pixelFormat, int objectLines, int gapLines)
{
    QString ini =
        QStringLiteral(
            "[%1]\ntransport = USB3\nwidth = %2\nlines_per_frame = %3\n"
            "pixel_format = %4\nline_rate = 6400\nmax_line_rate = 6400\nbuffer_count = 512\n")
            .arg(QLatin1String(kSerial))
            .arg(kWidth)
            .arg(kLines)
            .arg(pixelFormat);
    if (objectLines > 0)
        ini += QStringLiteral("object_lines = %1\ngap_lines = %2\n").arg(objectLines).arg(gapLines);
    return ini;
}

bool runsWithoutGap(const QList<quint32> &stamps)
{
    for (int i = 1; i < stamps.size(); ++i)
        if (stamps[i] != stamps[i - 1] + 1) {
            qWarning() << "line" << stamps[i - 1] << "is followed by" << stamps[i];
            return false;
        }
    return !stamps.isEmpty();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<MainWindow> m_window;
    QString m_outDir;

    MainWindow &w()
    {
        return *m_window;
    }

    // Settings as the operator left them, then the window, then the camera.
    void startWindow(int direction, int frameCount, bool partial, const QString &format,
                     const QString &cameraConfig)
    {
        std::string error;
        QVERIFY2(mvsim::configure(cameraConfig.toStdString(), &error), error.c_str());
        m_outDir = m_scratch->filePath(QStringLiteral("out"));
        AppSettings::setValue(AppSettings::kStitchDirection, direction);
        AppSettings::setValue(AppSettings::kMaxStitchCount, frameCount);
        AppSettings::setValue(AppSettings::kPartialStitch, partial);
        AppSettings::setValue(AppSettings::kSaveStitchImage, true);
        AppSettings::setValue(AppSettings::kFormat, format);
        AppSettings::setValue(AppSettings::kSaveDir, m_outDir);
        m_window = std::make_unique<MainWindow>();
        w().show();
        QVERIFY(QTest::qWaitForWindowExposed(&w()));
        w().ui->actionCameraSearch->trigger();
        const int entry =
            w().ui->cbSearchDevices->findText(QLatin1String(kSerial), Qt::MatchContains);
        QVERIFY(entry >= 0);
        w().ui->cbSearchDevices->setCurrentIndex(entry);
        w().ui->actionCameraOpen->trigger();
        QVERIFY(w().m_isOpen);
    }
    void startGrabbing()
    {
        w().ui->actionCameraStart->trigger();
        QVERIFY(w().m_isGrabbing);
        QVERIFY(w().m_stitchActive);
    }
    void stopGrabbing()
    {
        w().ui->actionCameraStart->trigger();
        QVERIFY(!w().m_isGrabbing);
    }
    void closeCamera()
    {
        w().ui->actionCameraOpen->trigger();
        QVERIFY(!w().m_isOpen);
    }
    QStringList fileNames() const
    {
        return QDir(m_outDir).entryList(QDir::Files, QDir::Name);
    }
    // Waits until the stitch worker has run every job posted so far.
    void waitForWorker()
    {
        auto done = std::make_shared<std::atomic<bool>>(false);
        QMetaObject::invokeMethod(
            w().m_stitchWorker, [done] { done->store(true); }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(done->load(), 30000);
        QCoreApplication::processEvents();
    }
    QList<StitchedFile> readFiles(int direction)
    {
        QList<StitchedFile> files;
        const QRegularExpression batchPart(QStringLiteral("_Batch(\\d+)_"));
        for (const QString &name : fileNames()) {
            StitchedFile file;
            file.name = name;
            const QRegularExpressionMatch match = batchPart.match(name);
            file.batch = match.hasMatch() ? match.captured(1).toInt() : 0;
            const QImage picture(QDir(m_outDir).filePath(name));
            if (!picture.isNull())
                file.stamps = lineStamps(picture, direction);
            files.append(file);
        }
        std::sort(files.begin(), files.end(),
                  [](const StitchedFile &a, const StitchedFile &b) { return a.batch < b.batch; });
        return files;
    }

private slots:
    void init();
    void cleanup();

    void batchesClosedByCountLandOnDiskInLineOrder_data();
    void batchesClosedByCountLandOnDiskInLineOrder();
    void incompleteFramesCloseOneBatchPerObject_data();
    void incompleteFramesCloseOneBatchPerObject();
    void batchNumbersKeepRisingOverClearImagesAndCameraRestarts();
    void batchesClosedWhileSavingIsOffLeaveGapsInTheNumbers();
    void changingTheDirectionWhileGrabbingTurnsTheFollowingBatches();
    void loweringTheFrameCountClosesTheOpenBatchAtOnce();
};

void TestEndToEnd::init()
{
    m_scratch = std::make_unique<ScratchDirectory>();
    m_boxes = std::make_unique<MessageBoxRecorder>();
}

void TestEndToEnd::cleanup()
{
    if (m_window) {
        if (w().m_isGrabbing)
            stopGrabbing();
        if (w().m_isOpen)
            closeCamera();
    }
    m_window.reset();
    // No error reached the operator in any of these runs.
    QVERIFY2(m_boxes->isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
    m_boxes.reset();
    m_scratch.reset();
    mvsim::reset();
}

void TestEndToEnd::batchesClosedByCountLandOnDiskInLineOrder_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("pixelFormat");
    QTest::addColumn<QString>("directionName");
    QTest::newRow("left, png, mono") << 0 << "PNG"
                                     << "Mono8"
                                     << "Left";
    QTest::newRow("right, bmp, rgb") << 1 << "BMP"
                                     << "RGB8"
                                     << "Right";
    QTest::newRow("bottom, tiff, mono") << 2 << "TIFF"
                                        << "Mono8"
                                        << "Bottom";
    QTest::newRow("top, png, rgb") << 3 << "PNG"
                                   << "RGB8"
                                   << "Top";
}

void TestEndToEnd::batchesClosedByCountLandOnDiskInLineOrder()
{
    QFETCH(int, direction);
    QFETCH(QString, format);
    QFETCH(QString, pixelFormat);
    QFETCH(QString, directionName);
    startWindow(direction, 4, true, format, cameraIni(pixelFormat, 0, 0));
    startGrabbing();
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 3, 20000);
    // Stopped in the middle of a batch: its frames are not saved.
    QTRY_VERIFY_WITH_TIMEOUT(!w().m_batchFrames.isEmpty(), 5000);
    stopGrabbing();
    waitForWorker();
    const QList<StitchedFile> files = readFiles(direction);
    QCOMPARE(files.size(), w().m_batchCounter);
    for (int i = 0; i < files.size(); ++i) {
        const StitchedFile &file = files[i];
        QVERIFY2(file.name.contains(QStringLiteral("_%1_").arg(directionName)),
                 qPrintable(file.name));
        QCOMPARE(file.batch, i + 1);
        QCOMPARE(file.stamps.size(), 4 * kLines);
        QVERIFY2(runsWithoutGap(file.stamps), qPrintable(file.name));
        if (i > 0)
            QCOMPARE(file.stamps.first(), files[i - 1].stamps.last() + 1);
    }
}

void TestEndToEnd::incompleteFramesCloseOneBatchPerObject_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("partial");
    QTest::addColumn<int>("linesPerFile");
    // Objects of three full frames and 20 lines more, 50 lines apart.
    for (int direction = 0; direction < 4; ++direction) {
        QTest::addRow("direction %d, partial frames kept", direction)
            << direction << true << 3 * kLines + 20;
        QTest::addRow("direction %d, partial frames dropped", direction)
            << direction << false << 3 * kLines;
    }
}

void TestEndToEnd::incompleteFramesCloseOneBatchPerObject()
{
    QFETCH(int, direction);
    QFETCH(bool, partial);
    QFETCH(int, linesPerFile);
    startWindow(direction, 30, partial, QStringLiteral("PNG"),
                cameraIni(QStringLiteral("Mono8"), 3 * kLines + 20, 50));
    startGrabbing();
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 3, 20000);
    stopGrabbing();
    waitForWorker();
    const QList<StitchedFile> files = readFiles(direction);
    QCOMPARE(files.size(), w().m_batchCounter);
    for (int i = 0; i < files.size(); ++i) {
        QCOMPARE(files[i].batch, i + 1);
        QCOMPARE(files[i].stamps.size(), linesPerFile);
        QVERIFY2(runsWithoutGap(files[i].stamps), qPrintable(files[i].name));
        // One object per file: the objects follow each other at a fixed period.
        if (i > 1)
            QCOMPARE(files[i].stamps.first() - files[i - 1].stamps.first(),
                     files[i - 1].stamps.first() - files[i - 2].stamps.first());
    }
}

void TestEndToEnd::batchNumbersKeepRisingOverClearImagesAndCameraRestarts()
{
    startWindow(2, 2, true, QStringLiteral("BMP"), cameraIni(QStringLiteral("Mono8"), 0, 0));
    startGrabbing();
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 2, 20000);
    w().ui->actionClearImages->trigger();
    const int afterClear = w().m_batchCounter;
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= afterClear + 2, 20000);
    stopGrabbing();
    const int firstRun = w().m_batchCounter;
    startGrabbing();
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= firstRun + 2, 20000);
    stopGrabbing();
    // Reopening restarts the camera's line numbers.
    closeCamera();
    w().ui->actionCameraOpen->trigger();
    const int secondOpen = w().m_batchCounter;
    startGrabbing();
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= secondOpen + 2, 20000);
    stopGrabbing();
    waitForWorker();
    const QList<StitchedFile> files = readFiles(2);
    QCOMPARE(files.size(), w().m_batchCounter);
    for (int i = 0; i < files.size(); ++i) {
        QCOMPARE(files[i].batch, i + 1);
        QCOMPARE(files[i].stamps.size(), 2 * kLines);
        QVERIFY2(runsWithoutGap(files[i].stamps), qPrintable(files[i].name));
        if (i > 0 && i != secondOpen)
            QVERIFY2(files[i].stamps.first() > files[i - 1].stamps.last(),
                     qPrintable(files[i].name));
    }
}

void TestEndToEnd::batchesClosedWhileSavingIsOffLeaveGapsInTheNumbers()
{
    startWindow(2, 2, true, QStringLiteral("PNG"), cameraIni(QStringLiteral("Mono8"), 0, 0));
    startGrabbing();
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 2, 20000);
    w().m_saveStitchImage = false;
    const int offFrom = w().m_batchCounter + 1;
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= offFrom + 1, 20000);
    w().m_saveStitchImage = true;
    const int onFrom = w().m_batchCounter + 1;
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= onFrom + 1, 20000);
    stopGrabbing();
    waitForWorker();
    QList<int> saved;
    for (const StitchedFile &file : readFiles(2))
        saved.append(file.batch);
    QList<int> expected;
    for (int batch = 1; batch <= w().m_batchCounter; ++batch)
        if (batch < offFrom || batch >= onFrom)
            expected.append(batch);
    QCOMPARE(saved, expected);
}

void TestEndToEnd::changingTheDirectionWhileGrabbingTurnsTheFollowingBatches()
{
    startWindow(2, 3, true, QStringLiteral("PNG"), cameraIni(QStringLiteral("Mono8"), 0, 0));
    startGrabbing();
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 1, 20000);
    // The settings dialog stores the key first, then tells the window.
    AppSettings::setValue(AppSettings::kStitchDirection, 0);
    w().setStitchDirection(0);
    const int changedAfter = w().m_batchCounter;
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= changedAfter + 2, 20000);
    stopGrabbing();
    waitForWorker();
    const QStringList names = fileNames();
    QCOMPARE(names.size(), w().m_batchCounter);
    for (const QString &name : names) {
        const int batch =
            QRegularExpression(QStringLiteral("_Batch(\\d+)_")).match(name).captured(1).toInt();
        const int direction = batch > changedAfter ? 0 : 2;
        QVERIFY2(
            name.contains(direction == 0 ? QLatin1String("_Left_") : QLatin1String("_Bottom_")),
            qPrintable(name));
        // Complete frames of the new direction still count as complete: the
        // camera size is read again for the turn.
        const QList<quint32> stamps = lineStamps(QImage(QDir(m_outDir).filePath(name)), direction);
        QCOMPARE(stamps.size(), 3 * kLines);
        QVERIFY2(runsWithoutGap(stamps), qPrintable(name));
    }
}

void TestEndToEnd::loweringTheFrameCountClosesTheOpenBatchAtOnce()
{
    startWindow(2, 1000, true, QStringLiteral("PNG"), cameraIni(QStringLiteral("Mono8"), 0, 0));
    startGrabbing();
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchFrames.size() >= 3, 20000);
    w().setMaxStitchCount(2);
    QCOMPARE(w().m_batchCounter, 1);
    const int firstBatch = w().m_lastBatchFrames.size();
    QVERIFY(firstBatch >= 3);
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 3, 20000);
    stopGrabbing();
    waitForWorker();
    const QList<StitchedFile> files = readFiles(2);
    QCOMPARE(files.size(), w().m_batchCounter);
    QCOMPARE(files.first().stamps.size(), firstBatch * kLines);
    for (int i = 1; i < files.size(); ++i) {
        QCOMPARE(files[i].stamps.size(), 2 * kLines);
        QCOMPARE(files[i].stamps.first(), files[i - 1].stamps.last() + 1);
    }
}

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e_stitch.moc"
