// A camera far faster than the machine, through the window's own actions: a
// small frame budget set by the environment must cost frames, counted, never
// memory, never a stitched file that joins frames that were not adjacent, and
// never a window that ignores Close.
#include <QtTest>

#include "appsettings.h"
#include "batchledger.h"
#include "framebudget.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "savefailurenotifier.h"
#include "scratchdirectory.h"
#include "linestamps.h"
#include "stitchingwindow.h"
#include "ui_mainwindow.h"
#include "workthread.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRegularExpression>

#include <functional>
#include <memory>

namespace {

constexpr int kWidth = 1024;
constexpr int kLines = 64;
constexpr int kBatch = 8;
const char *kSerial = "OVERLOAD-CAM";
// A converted frame takes 192 KiB: the budget holds about ten of them.
const char *kBudgetMiB = "2";

// line_rate 0: a frame whenever the grab thread asks, so the camera itself
// never loses one and every hole in the files is the window's drop.
QString fastCameraIni(int vanishAfterFrames = 0)
{
    return QStringLiteral("[%1]\ntransport = USB3\nwidth = %2\nlines_per_frame = %3\n"
                          "pixel_format = Mono8\nline_rate = 0\nvanish_after_frames = %4\n")
        .arg(QLatin1String(kSerial))
        .arg(kWidth)
        .arg(kLines)
        .arg(vanishAfterFrames);
}

// Paced at 100 frames a second with only four buffers: a grab thread held up
// for a few frame periods makes the camera drop frames.
QString shallowCameraIni()
{
    return QStringLiteral("[%1]\ntransport = USB3\nwidth = 256\nlines_per_frame = %2\n"
                          "pixel_format = Mono8\nline_rate = 6400\nmax_line_rate = 6400\nbuffer_count = 4\n")
        .arg(QLatin1String(kSerial))
        .arg(kLines);
}

// 750 frames a second, still far more than the window saves, for long enough
// that intake stops and resumes many times before the camera vanishes: an
// unpaced camera on a quiet machine sends all its frames while the first
// batch is still being saved. Its buffers hold every frame it will send, so
// it never loses one itself.
QString pacedFastCameraIni(int vanishAfterFrames)
{
    return QStringLiteral("[%1]\ntransport = USB3\nwidth = %2\nlines_per_frame = %3\n"
                          "pixel_format = Mono8\nline_rate = 48000\nmax_line_rate = 48000\n"
                          "exposure_time = 10\nbuffer_count = 1024\nvanish_after_frames = %4\n")
        .arg(QLatin1String(kSerial))
        .arg(kWidth)
        .arg(kLines)
        .arg(vanishAfterFrames);
}

QList<QMessageBox *> visibleBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            boxes.append(box);
    return boxes;
}

// Frames (of kLines lines) between consecutive files, in file order; each
// file must hold whole frames in a gap-free run of lines.
QList<int> framesMissingBetween(const QList<StitchedFile> &files)
{
    QList<int> missing;
    for (int i = 1; i < files.size(); ++i) {
        const qint64 lines = qint64(files[i].stamps.first()) - qint64(files[i - 1].stamps.last()) - 1;
        missing.append(lines % kLines == 0 ? int(lines / kLines) : -1);
    }
    return missing;
}

} // namespace

class TestOverload : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window;
    QString m_outDir;

    MainWindow &w() { return *m_window; }

    // beforeStart runs with the camera open and the grab thread not yet
    // started, so that its connections come before those the window makes at
    // Start and their queued calls run first.
    void startWindow(const QString &cameraConfig, int frameCount, const QString &format,
                     const QString &outDir, const std::function<void()> &beforeStart = {})
    {
        m_outDir = outDir;
        openStitchingWindow(m_window, cameraConfig, kSerial, {0, frameCount, true, format, m_outDir});
        if (beforeStart)
            beforeStart();
        w().findChild<QAction *>(QStringLiteral("actionCameraStart"))->trigger();
        QVERIFY(w().m_isGrabbing);
    }
    // Runs the event loop until every job posted to the worker so far is done.
    void waitForWorker() { QTRY_COMPARE_WITH_TIMEOUT(w().m_pendingStitchJobs, 0, 30000); }
    qint64 dropped() { return w().m_frameBudget->dropped(); }
    QLabel *droppedLabel() { return w().findChild<QLabel *>(QStringLiteral("droppedFramesLabel")); }

private slots:
    void init()
    {
        qputenv("CORVISTA_MEMORY_BUDGET_MIB", kBudgetMiB);
        m_scratch = std::make_unique<ScratchDirectory>();
    }
    void cleanup()
    {
        m_window.reset();
        m_scratch.reset();
        mvsim::reset();
        qunsetenv("CORVISTA_MEMORY_BUDGET_MIB");
    }

    void droppedFramesAreCountedAndNoFileSpansTheHole();
    void closeDuringOverloadStopsAtOnceAndWritesEveryHandedOffBatch();
    void unusableFolderAtAHighRateShowsOneBoxAndStillCloses();
    void framesLostByTheCameraCloseTheBatchAtTheGap();
    void lastShownBatchNeverStopsIntakeForGood();
};

void TestOverload::droppedFramesAreCountedAndNoFileSpansTheHole()
{
    // The camera vanishes after a known number of frames, so every frame it
    // delivered is accounted for: in a file, dropped, or in the batch still
    // open when the window learns that the camera is gone.
    constexpr int kDelivered = 1500;
    MessageBoxRecorder boxes;
    int openAtLoss = -1;
    bool grabbingAtLoss = false;
    // Before the window's own handler, which stops the run and discards the
    // open batch: the batch is counted as it was when the camera went.
    startWindow(pacedFastCameraIni(kDelivered), kBatch, QStringLiteral("PNG"), m_scratch->filePath("out"),
                [&] {
                    connect(w().m_workThread, &WorkThread::cameraLost, this, [&] {
                        openAtLoss = w().m_batchFrames.size();
                        grabbingAtLoss = w().m_isGrabbing;
                    });
                });
    QVERIFY(boxes.waitForCount(1, 30000));
    QCOMPARE(boxes.last().text, QStringLiteral("Camera disconnected!"));
    QVERIFY(openAtLoss >= 0);
    QVERIFY(grabbingAtLoss);
    QVERIFY(!w().m_isGrabbing);
    waitForWorker();

    QVERIFY2(dropped() > 0, "the camera was not faster than the window");
    QVERIFY(w().ui->dataitemLabel->text().endsWith(QStringLiteral(" | Dropped: %1").arg(dropped())));
    QVERIFY(droppedLabel()->isVisible());
    QCOMPARE(droppedLabel()->text(),
             QStringLiteral("Saving cannot keep up: %1 frames dropped").arg(dropped()));
    // Nothing is left in flight but the batch the stitch view keeps.
    QCOMPARE(w().m_frameBudget->inFlight(), w().m_batchLedger->shownBatchBytes());
    QVERIFY(w().m_batchLedger->shownBatchBytes() > 0);

    const QList<StitchedFile> files = readStitchedFiles(m_outDir, 0);
    QCOMPARE(files.size(), w().m_batchCounter);
    qint64 framesInFiles = 0;
    for (const StitchedFile &file : files) {
        QVERIFY2(runsWithoutGap(file.stamps), qPrintable(file.name));
        QCOMPARE(file.stamps.size() % kLines, 0);
        QVERIFY(file.stamps.size() <= kBatch * kLines);
        framesInFiles += file.stamps.size() / kLines;
    }
    QVERIFY(files.size() > 1);
    // Frames the camera sent in the instant between the start of grabbing and
    // the start of the stitch session feed only the live view; none are
    // dropped before the first file, as the budget is empty then.
    const qint64 beforeFirstFile = files.first().stamps.first() / kLines;
    qint64 missing = 0;
    for (int frames : framesMissingBetween(files)) {
        QVERIFY2(frames >= 0, "a hole between files that is not whole frames");
        missing += frames;
    }
    const qint64 afterLastFile = kDelivered - qint64(files.last().stamps.last() + 1) / kLines;
    // Every hole between files is dropped frames, and the dropped frames are
    // exactly those holes plus those after the last file.
    QVERIFY(missing > 0);
    QCOMPARE(missing + afterLastFile, dropped() + openAtLoss);
    QCOMPARE(beforeFirstFile + framesInFiles + dropped() + openAtLoss, qint64(kDelivered));
    qInfo() << "files" << files.size() << "dropped" << dropped() << "missing between" << missing << "open at loss"
            << openAtLoss;
}

void TestOverload::closeDuringOverloadStopsAtOnceAndWritesEveryHandedOffBatch()
{
    startWindow(fastCameraIni(), kBatch, QStringLiteral("PNG"), m_scratch->filePath("out"));
    QTRY_VERIFY_WITH_TIMEOUT(dropped() > 0 && w().m_batchCounter >= 3 && w().m_pendingStitchJobs > 0, 30000);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(w().close());
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!w().m_workThread->isRunning());
    QVERIFY(!w().m_isGrabbing && !w().m_isOpen && !w().m_stitchActive);
    QVERIFY(w().m_batchFrames.isEmpty());
    const int handedOff = w().m_batchCounter;

    // Frames still queued to the window are ignored: nothing is numbered after close.
    QTest::qWait(200);
    QCOMPARE(w().m_batchCounter, handedOff);

    // Shutdown finishes the handed-off batches under a progress dialog whose
    // counts are true and count down.
    QStringList texts;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&texts] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<QProgressDialog *>(widget))
                if (texts.isEmpty() || texts.last() != dialog->labelText())
                    texts.append(dialog->labelText());
    });
    watch.start(0);
    const int pendingAtDestruction = w().m_pendingStitchJobs;
    m_window.reset();
    watch.stop();
    QCOMPARE(!texts.isEmpty(), pendingAtDestruction > 0);
    const QRegularExpression counts(QStringLiteral("(\\d+) of (\\d+) batches left"));
    int previous = INT_MAX;
    for (const QString &text : texts) {
        const QRegularExpressionMatch m = counts.match(text);
        QVERIFY2(m.hasMatch(), qPrintable(text));
        const int left = m.captured(1).toInt();
        QVERIFY2(left <= m.captured(2).toInt() && left <= previous, qPrintable(texts.join('|')));
        previous = left;
    }

    const QList<StitchedFile> files = readStitchedFiles(m_outDir, 0);
    QCOMPARE(files.size(), handedOff);
    for (const StitchedFile &file : files)
        QVERIFY2(runsWithoutGap(file.stamps), qPrintable(file.name));
}

void TestOverload::unusableFolderAtAHighRateShowsOneBoxAndStillCloses()
{
    // A file where the folder should be: every batch of one frame fails.
    QFile blocker(m_scratch->filePath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    startWindow(fastCameraIni(), 1, QStringLiteral("BMP"), m_scratch->filePath("blocked/out"));
    auto *label = w().findChild<QLabel *>(QStringLiteral("saveFailuresLabel"));
    QVERIFY(label);
    QTRY_VERIFY_WITH_TIMEOUT(w().m_saveFailures->untoldFailures() >= 2, 30000);
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(), untoldSaveFailuresText(w().m_saveFailures->untoldFailures()));
    const QList<QMessageBox *> boxes = visibleBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->windowTitle(), QStringLiteral("Save Image"));
    QVERIFY(boxes.first()->text().contains(QLatin1String("blocked/out")));
    // Close is answered while the box is open.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w().close());
    QVERIFY(!w().m_workThread->isRunning());
    m_window.reset();
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(visibleBoxes().isEmpty());
}

void TestOverload::framesLostByTheCameraCloseTheBatchAtTheGap()
{
    qputenv("CORVISTA_MEMORY_BUDGET_MIB", "256");
    startWindow(shallowCameraIni(), kBatch, QStringLiteral("BMP"), m_scratch->filePath("out"));
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 1 && w().m_batchFrames.size() >= 2, 20000);
    {
        // The grab thread waits for this lock with every frame: held for a
        // while, the camera's four buffers overflow and it drops frames.
        QMutexLocker hold(&w().m_frameMutex);
        QTest::qSleep(300);
    }
    const int batchesBefore = w().m_batchCounter;
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= batchesBefore + 3, 20000);
    w().findChild<QAction *>(QStringLiteral("actionCameraStart"))->trigger();
    QVERIFY(!w().m_isGrabbing);
    waitForWorker();
    QCOMPARE(dropped(), qint64(0));
    QVERIFY(!w().ui->dataitemLabel->text().contains(QLatin1String("Dropped")));
    const QRegularExpression lost(QStringLiteral("Lost: (\\d+) $"));
    const int lostFrames = lost.match(w().ui->dataitemLabel->text()).captured(1).toInt();
    QVERIFY2(lostFrames > 0, qPrintable(w().ui->dataitemLabel->text()));

    const QList<StitchedFile> files = readStitchedFiles(m_outDir, 0);
    int missing = 0;
    for (const StitchedFile &file : files)
        QVERIFY2(runsWithoutGap(file.stamps), qPrintable(file.name));
    for (int frames : framesMissingBetween(files)) {
        QVERIFY(frames >= 0);
        missing += frames;
    }
    // The lost frames lie between files, never inside one: the batch open at
    // the gap was closed there.
    QVERIFY(missing > 0 && missing <= lostFrames);
    qInfo() << "lost" << lostFrames << "missing between" << missing << "files" << files.size();
}

void TestOverload::lastShownBatchNeverStopsIntakeForGood()
{
    // Saving off and batches that only a drop closes: each batch fills the
    // budget and is then kept by the stitch view alone. The view must give
    // it up, or no frame would ever be taken again.
    startWindow(fastCameraIni(), 1000000, QStringLiteral("BMP"), m_scratch->filePath("out"));
    w().m_saveStitchImage = false;
    QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 4, 20000);
    QVERIFY(dropped() > 0);
    QVERIFY(w().m_frameBudget->inFlight() <= w().m_frameBudget->limit());
}

QTEST_MAIN(TestOverload)
#include "tst_overload.moc"
