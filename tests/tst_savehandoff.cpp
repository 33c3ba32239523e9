// Handing batches to the stitch worker, its reports, Save Image and shutdown.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "stitchworker.h"
#include "patternframe.h"

#include <QDir>
#include <QImageReader>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <memory>

class TestSaveHandOff : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window;
    QString m_out;

    QStringList outFiles() const { return QDir(m_out).entryList(QDir::Files, QDir::Name); }
    // A regular file where a folder is needed: writing fails even for root.
    QString blockedFolder() const
    {
        QFile blocker(m_scratch->filePath(QStringLiteral("blocker")));
        blocker.open(QIODevice::WriteOnly);
        return blocker.fileName() + QStringLiteral("/out");
    }
    static QImage smallFrame(int seed) { return patternFrame(4, 4, QImage::Format_RGB888, seed); }

private slots:
    void init();
    void cleanup();

    void saveImageWarnsWithoutABatchOrWorker_data();
    void saveImageWarnsWithoutABatchOrWorker();
    void saveImageSavesTheLastBatchWithoutBatchNumber();
    void handOffUsesTheSettingsOfTheMoment();
    void statusBarShowsEachSegmentThenSaveDone();
    void failedSaveShowsCriticalBoxAndClearsTheStatusBar();
    void closingWithQueuedBatchesSavesEveryOne();
    void failureWhileClosingIsLoggedNotShownInABox();
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

void TestSaveHandOff::saveImageWarnsWithoutABatchOrWorker_data()
{
    QTest::addColumn<bool>("haveBatch");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("no batch") << false << int(QMessageBox::Warning) << "No completed stitched image to save!";
    QTest::newRow("no worker") << true << int(QMessageBox::Critical) << "StitchWorker is not initialized!";
}

void TestSaveHandOff::saveImageWarnsWithoutABatchOrWorker()
{
    QFETCH(bool, haveBatch);
    QFETCH(int, kind);
    QFETCH(QString, text);
    MessageBoxRecorder boxes;
    if (haveBatch)
        m_window->m_lastBatchFrames = {smallFrame(1)};
    StitchWorker *worker = m_window->m_stitchWorker;
    if (haveBatch)
        m_window->m_stitchWorker = nullptr;
    m_window->ui->actionSave_Image->trigger();
    m_window->m_stitchWorker = worker;
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(int(boxes.last().kind), kind);
    QCOMPARE(boxes.last().title, QStringLiteral("Save Image"));
    QCOMPARE(boxes.last().text, text);
    QCOMPARE(m_window->m_pendingStitchJobs, 0);
    QTest::qWait(50);
    QVERIFY(outFiles().isEmpty());
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
    QCOMPARE(m_window->m_pendingStitchJobs, 1);
    QTRY_COMPARE(m_window->m_pendingStitchJobs, 0);
    QVERIFY(boxes.isEmpty());
    const QStringList files = outFiles();
    QCOMPARE(files.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^Stitched_Right_\\d{8}_\\d{6}_\\d{3}\\.tif$"))
                 .match(files.first())
                 .hasMatch(),
             qPrintable(files.first()));
    // Right: the last frame of the batch at the left edge.
    const QImage written = QImage(QDir(m_out).filePath(files.first())).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(written.copy(0, 0, 4, 3), frames.at(1));
    QCOMPARE(written.copy(4, 0, 5, 3), frames.at(0));
}

void TestSaveHandOff::handOffUsesTheSettingsOfTheMoment()
{
    m_window->handOffBatch({}, 3);
    QCOMPARE(m_window->m_pendingStitchJobs, 0);
    m_window->m_cameraModelName = QStringLiteral("CamA");
    m_window->m_cameraSerialNumber = QStringLiteral("SN0042");
    m_window->handOffBatch({smallFrame(1)}, 7);
    QCOMPARE(m_window->m_pendingStitchJobs, 1);
    m_window->m_imageFormat = QStringLiteral("PNG");
    m_window->m_stitchDirection = 3;
    m_window->m_saveDir = m_scratch->filePath(QStringLiteral("elsewhere"));
    m_window->m_cameraModelName.clear();
    QTRY_COMPARE(m_window->m_pendingStitchJobs, 0);
    const QStringList files = outFiles();
    QCOMPARE(files.size(), 1);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^Stitched_CamA_SN0042_Left_Batch007_\\d{8}_\\d{6}_\\d{3}\\.bmp$"))
            .match(files.first())
            .hasMatch(),
        qPrintable(files.first()));
    QVERIFY(!QDir(m_scratch->filePath(QStringLiteral("elsewhere"))).exists());
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
             (QStringList{"Saving stitched image (background)...", "Saving stitched image... 1/3",
                          "Saving stitched image... 2/3", "Saving stitched image... 3/3", "Save done."}));
    QCOMPARE(outFiles().size(), 3);
    // "Save done." is not permanent.
    QTRY_COMPARE_WITH_TIMEOUT(m_window->ui->statusBar->currentMessage(), QString(), 5000);
}

void TestSaveHandOff::failedSaveShowsCriticalBoxAndClearsTheStatusBar()
{
    MessageBoxRecorder boxes;
    m_window->m_saveDir = blockedFolder();
    m_window->handOffBatch({smallFrame(1)}, 2);
    QVERIFY(boxes.waitForCount(1));
    QCOMPARE(boxes.last().kind, QMessageBox::Critical);
    QCOMPARE(boxes.last().title, QStringLiteral("Save Image"));
    const QRegularExpression text(
        QStringLiteral(
            "^Failed to save image:\n%1/Stitched_Left_Batch002_\\d{8}_\\d{6}_\\d{3}\\.bmp\nReason: .+$")
            .arg(QRegularExpression::escape(m_window->m_saveDir)));
    QVERIFY2(text.match(boxes.last().text).hasMatch(), qPrintable(boxes.last().text));
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
    QPointer<QThread> thread = m_window->m_stitchThread;

    m_window.reset();

    QVERIFY(worker.isNull());
    QVERIFY(thread.isNull());
    const QStringList files = outFiles();
    QCOMPARE(files.size(), batches);
    for (int n = 1; n <= batches; ++n) {
        QCOMPARE(files.filter(QStringLiteral("_Batch%1_").arg(n, 3, 10, QLatin1Char('0'))).size(), 1);
        QCOMPARE(QImageReader(QDir(m_out).filePath(files.at(n - 1))).size(), QSize(2000, 300));
    }
}

void TestSaveHandOff::failureWhileClosingIsLoggedNotShownInABox()
{
    MessageBoxRecorder boxes;
    m_window->m_saveDir = blockedFolder();
    m_window->handOffBatch({smallFrame(1)}, 1);
    m_window->m_saveDir = m_out;
    m_window->handOffBatch({smallFrame(2)}, 2);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Save Image: Failed to save image:\n")));

    m_window.reset();

    QCOMPARE(boxes.count(), 0);
    QCOMPARE(outFiles().size(), 1);
}

QTEST_MAIN(TestSaveHandOff)
#include "tst_savehandoff.moc"
