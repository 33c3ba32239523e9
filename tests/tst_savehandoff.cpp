// Handing batches to the stitch worker, its reports, Save Image and shutdown.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "stitchworker.h"
#include "tst_stitch_support.h"

#include <QAction>
#include <QDir>
#include <QImageReader>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <memory>

namespace {

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

QString blockedFolder(const QString &scratch)
{
    // A regular file where a folder is needed: writing fails even for root.
    QFile blocker(QDir(scratch).filePath(QStringLiteral("blocker")));
    blocker.open(QIODevice::WriteOnly);
    return blocker.fileName() + QStringLiteral("/out");
}

} // namespace

class TestSaveHandOff : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window;
    QString m_out;

private slots:
    void init();
    void cleanup();

    void saveImageWithoutABatchWarnsAndPostsNothing();
    void saveImageWithoutAWorkerIsReportedAsCritical();
    void saveImageSavesTheLastBatchWithoutBatchNumber();
    void handOffUsesTheSettingsOfTheMoment();
    void emptyBatchIsNotHandedOff();
    void dotFolderSavesIntoTheWorkingDirectory();
    void statusBarShowsEachSegmentThenSaveDone();
    void failedSaveShowsCriticalBoxAndClearsTheStatusBar();
    void closingWithQueuedBatchesSavesEveryOne();
    void failureWhileClosingIsLoggedNotShownInABox();
    void closingWithoutJobsDeletesTheWorker();
};

void TestSaveHandOff::init()
{
    m_scratch = std::make_unique<ScratchDirectory>();
    QVERIFY(m_scratch->isValid());
    m_window = std::make_unique<MainWindow>();
    m_out = m_scratch->filePath(QStringLiteral("out"));
    m_window->m_saveDir = m_out;
    m_window->m_imageFormat = QStringLiteral("BMP");
    m_window->m_stitchDirection = 0;
}

void TestSaveHandOff::cleanup()
{
    m_window.reset();
    m_scratch.reset();
}

void TestSaveHandOff::saveImageWithoutABatchWarnsAndPostsNothing()
{
    MessageBoxRecorder boxes;
    m_window->m_lastBatchFrames.clear();
    m_window->ui->actionSave_Image->trigger();
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Warning);
    QCOMPARE(boxes.last().title, QStringLiteral("Save Image"));
    QCOMPARE(boxes.last().text, QStringLiteral("No completed stitched image to save!"));
    QCOMPARE(m_window->m_pendingStitchJobs, 0);
    QTest::qWait(50);
    QVERIFY(filesIn(m_out).isEmpty());
}

void TestSaveHandOff::saveImageWithoutAWorkerIsReportedAsCritical()
{
    MessageBoxRecorder boxes;
    m_window->m_lastBatchFrames = {patternFrame(4, 4, QImage::Format_RGB888, 1)};
    StitchWorker *worker = m_window->m_stitchWorker;
    m_window->m_stitchWorker = nullptr;
    m_window->ui->actionSave_Image->trigger();
    m_window->m_stitchWorker = worker;
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Critical);
    QCOMPARE(boxes.last().title, QStringLiteral("Save Image"));
    QCOMPARE(boxes.last().text, QStringLiteral("StitchWorker is not initialized!"));
    QCOMPARE(m_window->m_pendingStitchJobs, 0);
}

void TestSaveHandOff::saveImageSavesTheLastBatchWithoutBatchNumber()
{
    const QList<QImage> frames
        = {patternFrame(5, 3, QImage::Format_RGB888, 1), patternFrame(4, 3, QImage::Format_RGB888, 2)};
    m_window->m_lastBatchFrames = frames;
    m_window->m_saveStitchImage = false;
    m_window->m_stitchDirection = 1;
    m_window->m_imageFormat = QStringLiteral("TIF");
    MessageBoxRecorder boxes;
    m_window->ui->actionSave_Image->trigger();
    m_window->ui->actionSave_Image->trigger();
    QCOMPARE(m_window->m_pendingStitchJobs, 2);
    QTRY_COMPARE(m_window->m_pendingStitchJobs, 0);
    QVERIFY(boxes.isEmpty());
    const QStringList files = filesIn(m_out);
    // Names differ only by their millisecond timestamp, so two fast jobs may
    // share one name.
    QVERIFY(files.size() == 1 || files.size() == 2);
    for (const QString &file : files) {
        QVERIFY2(QRegularExpression(QStringLiteral("^Stitched_Right_\\d{8}_\\d{6}_\\d{3}\\.tif$"))
                     .match(file)
                     .hasMatch(),
                 qPrintable(file));
    }
    // Right: the last frame of the batch at the left edge.
    const QImage written = QImage(QDir(m_out).filePath(files.first())).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(written.copy(0, 0, 4, 3), frames.at(1));
    QCOMPARE(written.copy(4, 0, 5, 3), frames.at(0));
}

void TestSaveHandOff::handOffUsesTheSettingsOfTheMoment()
{
    m_window->m_cameraModelName = QStringLiteral("CamA");
    m_window->m_cameraSerialNumber = QStringLiteral("SN0042");
    m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 7);
    QCOMPARE(m_window->m_pendingStitchJobs, 1);
    m_window->m_imageFormat = QStringLiteral("PNG");
    m_window->m_stitchDirection = 3;
    m_window->m_saveDir = m_scratch->filePath(QStringLiteral("elsewhere"));
    m_window->m_cameraModelName.clear();
    QTRY_COMPARE(m_window->m_pendingStitchJobs, 0);
    const QStringList files = filesIn(m_out);
    QCOMPARE(files.size(), 1);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^Stitched_CamA_SN0042_Left_Batch007_\\d{8}_\\d{6}_\\d{3}\\.bmp$"))
            .match(files.first())
            .hasMatch(),
        qPrintable(files.first()));
    QVERIFY(!QDir(m_scratch->filePath(QStringLiteral("elsewhere"))).exists());
}

void TestSaveHandOff::emptyBatchIsNotHandedOff()
{
    m_window->ui->statusBar->clearMessage();
    m_window->handOffBatch({}, 3);
    QCOMPARE(m_window->m_pendingStitchJobs, 0);
    QCOMPARE(m_window->ui->statusBar->currentMessage(), QString());
}

void TestSaveHandOff::dotFolderSavesIntoTheWorkingDirectory()
{
    m_window->m_saveDir = QStringLiteral(".");
    m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 1);
    QTRY_COMPARE(m_window->m_pendingStitchJobs, 0);
    const QStringList files
        = QDir(m_scratch->path()).entryList({QStringLiteral("Stitched_*.bmp")}, QDir::Files);
    QCOMPARE(files.size(), 1);
}

void TestSaveHandOff::statusBarShowsEachSegmentThenSaveDone()
{
    QSignalSpy messages(m_window->ui->statusBar, &QStatusBar::messageChanged);
    QList<QImage> frames;
    for (int i = 0; i < 3; ++i)
        frames << patternFrame(20000, 1, QImage::Format_Grayscale8, i);
    m_window->handOffBatch(frames, 1);
    QTRY_COMPARE(m_window->m_pendingStitchJobs, 0);
    QStringList shown;
    for (const QList<QVariant> &args : messages)
        shown << args.at(0).toString();
    QCOMPARE(shown,
             (QStringList{QStringLiteral("Saving stitched image (background)..."),
                          QStringLiteral("Saving stitched image... 1/3"),
                          QStringLiteral("Saving stitched image... 2/3"),
                          QStringLiteral("Saving stitched image... 3/3"), QStringLiteral("Save done.")}));
    QCOMPARE(filesIn(m_out).size(), 3);
    // "Save done." is not permanent.
    QTRY_COMPARE_WITH_TIMEOUT(m_window->ui->statusBar->currentMessage(), QString(), 5000);
}

void TestSaveHandOff::failedSaveShowsCriticalBoxAndClearsTheStatusBar()
{
    MessageBoxRecorder boxes;
    m_window->m_saveDir = blockedFolder(m_scratch->path());
    m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 2);
    QVERIFY(boxes.waitForCount(1));
    QCOMPARE(boxes.last().kind, QMessageBox::Critical);
    QCOMPARE(boxes.last().title, QStringLiteral("Save Image"));
    QVERIFY2(boxes.last().text.startsWith(QStringLiteral("Failed to save image:\n") + m_window->m_saveDir
                                          + QStringLiteral("/Stitched_Left_Batch002_")),
             qPrintable(boxes.last().text));
    QVERIFY(boxes.last().text.contains(QStringLiteral(".bmp\nReason: ")));
    QCOMPARE(m_window->ui->statusBar->currentMessage(), QString());
    QCOMPARE(m_window->m_pendingStitchJobs, 0);
}

void TestSaveHandOff::closingWithQueuedBatchesSavesEveryOne()
{
    // Heavy enough that the batches take well over a second together, the
    // time a plain quit-and-wait would have given them.
    m_window->m_imageFormat = QStringLiteral("PNG");
    m_window->m_pngQuality = 9;
    QList<QImage> batch;
    for (int i = 0; i < 4; ++i)
        batch << patternFrame(500, 300, QImage::Format_RGB888, i);
    const int batches = 5;
    for (int n = 1; n <= batches; ++n)
        m_window->handOffBatch(batch, n);
    QCOMPARE(m_window->m_pendingStitchJobs, batches);
    QPointer<StitchWorker> worker = m_window->m_stitchWorker;

    m_window.reset();

    QVERIFY(worker.isNull());
    const QStringList files = filesIn(m_out);
    QCOMPARE(files.size(), batches);
    for (int n = 1; n <= batches; ++n) {
        QCOMPARE(files.filter(QStringLiteral("_Batch%1_").arg(n, 3, 10, QLatin1Char('0'))).size(), 1);
        QCOMPARE(QImageReader(QDir(m_out).filePath(files.at(n - 1))).size(), QSize(2000, 300));
    }
}

void TestSaveHandOff::failureWhileClosingIsLoggedNotShownInABox()
{
    MessageBoxRecorder boxes;
    m_window->m_saveDir = blockedFolder(m_scratch->path());
    m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 1);
    m_window->m_saveDir = m_out;
    m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 2)}, 2);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Save Image: Failed to save image:\n")));

    m_window.reset();

    QCOMPARE(boxes.count(), 0);
    QCOMPARE(filesIn(m_out).size(), 1);
}

void TestSaveHandOff::closingWithoutJobsDeletesTheWorker()
{
    QPointer<StitchWorker> worker = m_window->m_stitchWorker;
    QPointer<QThread> thread = m_window->m_stitchThread;
    QVERIFY(thread->isRunning());
    m_window.reset();
    QVERIFY(worker.isNull());
    QVERIFY(thread.isNull());
}

QTEST_MAIN(TestSaveHandOff)
#include "tst_savehandoff.moc"
