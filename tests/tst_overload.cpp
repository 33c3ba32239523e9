// A camera faster than the machine saves, through the window's own actions:
// overload must shed whole runs of frames, counted, keep the batches between
// them whole, never lose a frame at the camera's ring, never join frames that
// were not adjacent, and never leave the window behind its own work.
#include <QtTest>

#include "batchledger.h"
#include "framebudget.h"
#include "frameturn.h"
#include "intakegate.h"
#include "linestamps.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "naming.h"
#include "previewmaker.h"
#include "savefailurenotifier.h"
#include "scratchdirectory.h"
#include "stallprobe.h"
#include "stitchingwindow.h"
#include "ui_mainwindow.h"
#include "workthread.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QToolBar>

#include <atomic>
#include <functional>
#include <memory>

namespace {

const char *kSerial = "OVERLOAD-CAM";
constexpr int kWidth = 1024;
constexpr int kLines = 64;
constexpr int kBatch = 8;
using Steps = QList<QPair<int, int>>;

// Mono8 frames, `rate` lines/s (0: whenever the grab thread asks); `buffers`
// is the camera's ring.
QString cameraIni(int width, int lines, int rate, int buffers)
{
    return QStringLiteral("[%1]\ntransport = USB3\nwidth = %2\nlines_per_frame = %3\npixel_format = Mono8\n"
                          "line_rate = %4\nmax_line_rate = %5\nexposure_time = 10\nbuffer_count = %6\n")
        .arg(QLatin1String(kSerial))
        .arg(width)
        .arg(lines)
        .arg(rate)
        .arg(qMax(rate, 50000))
        .arg(buffers);
}

// Frames missing between consecutive files, in file order; -1 where the hole
// is not whole frames.
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
    // beforeStart runs with the camera open and grabbing not yet started; its
    // connection to cameraLost comes before the one the window makes at Start.
    void startWindow(const QString &ini, int frameCount, const QString &format, const QString &outDir,
                     const std::function<void()> &beforeStart = {})
    {
        m_outDir = outDir;
        openStitchingWindow(m_window, ini, kSerial, {0, frameCount, true, format, m_outDir});
        if (beforeStart)
            beforeStart();
        QAction *start = w().findChild<QAction *>(QStringLiteral("actionCameraStart"));
        QVERIFY(start && start->isEnabled());
        start->trigger();
        QVERIFY(w().m_isGrabbing);
    }
    qint64 dropped() { return w().session().budget().dropped(); }

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup()
    {
        m_window.reset();
        m_scratch.reset();
        mvsim::reset();
        qunsetenv("CORVISTA_MEMORY_BUDGET_MIB");
    }

    void gateShedsWholeRuns_data();
    void gateShedsWholeRuns();
    void budgetResumesBelowHalfAndAtEachRun();
    void overloadDropsWholeRunsAndKeepsWholeBatches();
    void burstOfOneFrameBatchesLeavesTheWindowAnswering();
    void closeDuringOverloadAnswersAtOnceAndWritesEveryHandedOffBatch();
    void unusableFolderAtAHighRateShowsOneBoxAndStillCloses();
    void lastShownBatchNeverStopsIntakeForGood();
};

void TestOverload::gateShedsWholeRuns_data()
{
    // Each step offers `bytes` to a store holding `held`; admitted: 1 or 0.
    QTest::addColumn<qint64>("lowMark");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QString>("admitted");
    QTest::newRow("admits up to the limit") << qint64(50) << Steps{{0, 40}, {40, 40}, {80, 20}} << "111";
    QTest::newRow("shut until below the low mark")
        << qint64(50) << Steps{{80, 30}, {60, 10}, {50, 10}, {49, 10}} << "0001";
    QTest::newRow("reopened, shuts at the limit again")
        << qint64(50) << Steps{{95, 10}, {40, 10}, {50, 60}, {60, 10}} << "0100";
    QTest::newRow("larger than the store, even empty") << qint64(50) << Steps{{0, 150}, {0, 100}} << "01";
    QTest::newRow("low mark 0 opens when empty") << qint64(0) << Steps{{90, 20}, {10, 5}, {0, 5}} << "001";
}

void TestOverload::gateShedsWholeRuns()
{
    QFETCH(qint64, lowMark);
    QFETCH(Steps, steps);
    QFETCH(QString, admitted);
    IntakeGate gate(100, lowMark);
    QString seen;
    for (const auto &step : steps) {
        const bool probe = gate.wouldAdmit(step.first, step.second);
        const bool took = gate.admit(step.first, step.second);
        QCOMPARE(probe, took);
        QCOMPARE(gate.isShut(), !took);
        seen += took ? '1' : '0';
    }
    QCOMPARE(seen, admitted);
}

void TestOverload::budgetResumesBelowHalfAndAtEachRun()
{
    // Its gate's low mark is half the budget; a new run opens intake at once.
    FrameBudget budget(1000, 1000);
    QVERIFY(budget.reserveQueued(1000) && !budget.reserveQueued(1));
    budget.dequeued(1000);
    budget.release(500);
    QVERIFY(!budget.reserveQueued(1) && budget.intakeStopped());
    budget.release(1);
    QVERIFY(budget.reserveQueued(1) && !budget.intakeStopped());
    QVERIFY(!budget.reserveQueued(600) && budget.dropped() == 3);
    budget.resetDropped();
    QVERIFY(budget.reserveQueued(400) && budget.dropped() == 0);
}

void TestOverload::overloadDropsWholeRunsAndKeepsWholeBatches()
{
    // 500 frames a second with the disk stalled three times (the stitch worker's thread held), so
    // the budget fills however fast this machine saves; a grab thread that waited for room would
    // overflow the camera's ring. Then the camera vanishes: every frame it sent is accounted for.
    qputenv("CORVISTA_MEMORY_BUDGET_MIB", "16");
    MessageBoxRecorder boxes;
    int openAtLoss = -1;
    int holes = 0;
    qint64 delivered = 0; // frames the grab thread fetched
    qint64 peakInFlight = 0;
    const auto diskStalled = std::make_shared<std::atomic<bool>>(false);
    QObject receiver; // goes before the counters above, even when a check fails
    const auto unstall = qScopeGuard([diskStalled] { *diskStalled = false; });
    startWindow(cameraIni(kWidth, kLines, 32000, 256), kBatch, QStringLiteral("PNG"),
                m_scratch->filePath("out"), [&] {
                    connect(w().m_workThread, &WorkThread::cameraLost, &receiver,
                            [&] { openAtLoss = w().session().openBatch().size(); });
                    connect(w().m_workThread, &WorkThread::sequenceBroken, &receiver, [&] { ++holes; });
                    connect(w().m_workThread, &WorkThread::frameInfoUpdated, &receiver, [&] { ++delivered; });
                    connect(w().m_workThread, &WorkThread::changeDetected, &receiver,
                            [&] { peakInFlight = qMax(peakInFlight, w().session().budget().inFlight()); });
                });
    for (int run = 1; run <= 3; ++run) {
        *diskStalled = true;
        QMetaObject::invokeMethod(
            w().session().worker(),
            [diskStalled] {
                while (*diskStalled)
                    QThread::msleep(1);
            },
            Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(holes >= run && w().session().budget().intakeStopped(), 60000);
        *diskStalled = false;
        QTRY_VERIFY_WITH_TIMEOUT(!w().session().budget().intakeStopped(), 60000);
    }
    mvsim::vanishAfter(kSerial, 0);
    QVERIFY(boxes.waitForCount(1, 10000));
    QVERIFY2(boxes.texts() == QStringList{QStringLiteral("Camera disconnected!")},
             qPrintable(boxes.texts().join('|')));
    QVERIFY(waitForStitchWorker(w()));
    QTRY_COMPARE_WITH_TIMEOUT(w().session().pendingSaves(), 0, 30000);

    // The window was told of every frame; the camera's own count may miss the last.
    const QString status = w().ui->dataitemLabel->text();
    QVERIFY2(status.contains(QLatin1String("| Lost: 0 ")), qPrintable(status));
    const qint64 sent = delivered;
    QVERIFY(status.endsWith(QStringLiteral(" | Dropped: %1").arg(dropped())));
    auto *banner = w().findChild<QLabel *>(QStringLiteral("acquisitionBanner"));
    QVERIFY2(banner->isVisible() && banner->text().contains(QStringLiteral(" %1 of ").arg(dropped())),
             qPrintable(banner->text()));
    // Saves are charged without ever being refused, so the budget may be
    // passed by what the worker's saves hold.
    const qint64 oneSave
        = stitchSaveBytes(QVector<QImage>(kBatch, QImage(kWidth, kLines, QImage::Format_RGB888)).toList(), 0,
                          ImageFormat::Png, kMaxStitchDimension, turnAngleForDirection(0));
    QVERIFY2(peakInFlight <= w().session().budget().limit() + 2 * oneSave,
             qPrintable(QString::number(peakInFlight)));

    const QList<StitchedFile> files = readStitchedFiles(m_outDir, 0);
    QCOMPARE(files.size(), w().session().batchCount());
    const QList<int> missing = framesMissingBetween(files);
    qint64 linesInFiles = 0;
    qint64 between = 0;
    int runsOfDrops = 0;
    for (int i = 0; i < files.size(); ++i) {
        QVERIFY2(runsWithoutGap(files[i].stamps), qPrintable(files[i].name));
        QCOMPARE(files[i].stamps.size() % kLines, 0);
        linesInFiles += files[i].stamps.size();
        const bool runFollows = i < missing.size() && missing[i] > 0;
        QVERIFY(i == missing.size() || missing[i] >= 0);
        runsOfDrops += runFollows ? 1 : 0;
        between += runFollows ? missing[i] : 0;
        // Only a batch a run of drops cut short, or the last, is short.
        const int frames = files[i].stamps.size() / kLines;
        QVERIFY(frames <= kBatch);
        QVERIFY2(frames == kBatch || runFollows || i == files.size() - 1, qPrintable(files[i].name));
    }
    QVERIFY2(runsOfDrops >= 2, "intake never resumed after a run of drops");
    // Frames sent before the session began fed only the live view; the rest are in files (the
    // Stop that follows the loss saves the open batch) or dropped.
    const qint64 beforeSession = files.first().stamps.first() / kLines;
    const qint64 afterLastFile = sent - qint64(files.last().stamps.last() + 1) / kLines;
    const QByteArray counted = QString::asprintf("sent %lld, before the session %lld, in files %lld, between "
                                                 "files %lld, after the last %lld, dropped %lld, open %d",
                                                 sent, beforeSession, linesInFiles / kLines, between,
                                                 afterLastFile, dropped(), openAtLoss)
                                   .toUtf8();
    QVERIFY2(between + afterLastFile == dropped(), counted.constData());
    QVERIFY2(linesInFiles + (beforeSession + dropped()) * kLines == sent * kLines, counted.constData());
}

void TestOverload::burstOfOneFrameBatchesLeavesTheWindowAnswering()
{
    // Every 2 MiB frame a batch of its own, as fast as the grab thread fetches: the window must
    // not compose a picture of each on its own thread.
    qputenv("CORVISTA_MEMORY_BUDGET_MIB", "256");
    startWindow(cameraIni(4096, 512, 0, 8), 1, QStringLiteral("BMP"), m_scratch->filePath("out"),
                [&] { w().m_saveStitchImage = false; });
    QAction *start = w().findChild<QAction *>(QStringLiteral("actionCameraStart"));
    int pictures = 0;
    connect(w().m_previewMaker.get(), &PreviewMaker::composed, this, [&] { ++pictures; });
    QElapsedTimer burst;
    burst.start();
    StallProbe probe(m_window.get());
    QTRY_VERIFY_WITH_TIMEOUT(w().session().batchCount() >= 200, 60000);
    QWidget *button = w().findChild<QToolBar *>(QStringLiteral("mainToolBar"))->widgetForAction(start);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    const qint64 stopMs = clock.elapsed();
    probe.stop();
    QVERIFY(!w().m_isGrabbing);
    QVERIFY(!w().m_workThread->isRunning());
    QVERIFY2(stopMs < 500, qPrintable(QString::number(stopMs)));
    QVERIFY2(probe.longestMs() < 250, qPrintable(QString::number(probe.longestMs())));
    // The newest batch is on screen, and pictures were composed at most ten
    // a second, never one per batch.
    QTRY_COMPARE(w().m_previewShown, w().session().batchCount());
    QVERIFY2(pictures <= 2 + burst.elapsed() / 100, qPrintable(QString::number(pictures)));
}

void TestOverload::closeDuringOverloadAnswersAtOnceAndWritesEveryHandedOffBatch()
{
    qputenv("CORVISTA_MEMORY_BUDGET_MIB", "12");
    startWindow(cameraIni(kWidth, kLines, 0, 8), kBatch, QStringLiteral("PNG"), m_scratch->filePath("out"));
    QTRY_VERIFY_WITH_TIMEOUT(
        dropped() > 0 && w().session().batchCount() >= 3 && w().session().pendingSaves() > 0, 30000);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w().close());
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!w().m_workThread->isRunning() && !w().m_isGrabbing && !w().m_isOpen
            && !w().session().isCollecting());
    const int handedOff = w().session().batchCount();
    // Frames still queued to the window are ignored: nothing is numbered after close.
    QCoreApplication::processEvents();
    QCOMPARE(w().session().batchCount(), handedOff);

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
    const int pendingAtDestruction = w().session().pendingSaves();
    m_window.reset();
    watch.stop();
    QCOMPARE(!texts.isEmpty(), pendingAtDestruction > 0);
    const QRegularExpression counts(QStringLiteral("(\\d+) of (\\d+) batches left"));
    int previous = INT_MAX;
    for (const QString &text : texts) {
        const QRegularExpressionMatch m = counts.match(text);
        QVERIFY2(m.hasMatch() && m.captured(2).toInt() == pendingAtDestruction, qPrintable(text));
        QVERIFY2(m.captured(1).toInt() <= previous, qPrintable(texts.join('|')));
        previous = m.captured(1).toInt();
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
    startWindow(cameraIni(kWidth, kLines, 0, 8), 1, QStringLiteral("BMP"),
                m_scratch->filePath("blocked/out"));
    auto *label = w().findChild<QLabel *>(QStringLiteral("saveFailuresLabel"));
    QTRY_VERIFY_WITH_TIMEOUT(w().m_saveFailures->untoldFailures() >= 2, 30000);
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(), untoldSaveFailuresText(w().m_saveFailures->untoldFailures()));
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            boxes.append(box);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->windowTitle(), QStringLiteral("Save Image"));
    QVERIFY(boxes.first()->text().contains(QLatin1String("blocked/out")));
    // Close is answered while the box is open, and takes the box with it.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w().close());
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QPointer<QMessageBox> box = boxes.first();
    m_window.reset();
    QVERIFY(box.isNull() || !box->isVisible());
}

void TestOverload::lastShownBatchNeverStopsIntakeForGood()
{
    // Saving off, batches only the budget closes: the stitch view alone holds each, above the mark
    // where intake resumes, and must give it up.
    qputenv("CORVISTA_MEMORY_BUDGET_MIB", "2");
    startWindow(cameraIni(kWidth, kLines, 0, 8), 1000000, QStringLiteral("BMP"), m_scratch->filePath("out"),
                [&] { w().m_saveStitchImage = false; });
    QTRY_VERIFY_WITH_TIMEOUT(w().session().batchCount() >= 4, 20000);
    QVERIFY(dropped() > 0);
    QVERIFY(w().session().budget().inFlight() <= w().session().budget().limit());
}

QTEST_MAIN(TestOverload)
#include "tst_overload.moc"
