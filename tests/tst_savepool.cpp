// The stitch worker and its save pool: every batch handed over ends in one
// report, in the order handed over, however the saves overlap; what cannot
// be stitched fails with its reason; the window shows each report and saves
// every queued batch before it closes.
#include <QImageReader>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "composer.h"
#include "filesizelimit.h"
#include "gate.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "patternframe.h"
#include "referencecanvas.h"
#include "savepool.h"
#include "scratchdirectory.h"
#include "stitchingwindow.h"
#include "stitchrecorder.h"
#include "ui_mainwindow.h"

Q_DECLARE_METATYPE(QList<QImage>)

#define VERIFY_MATCH(pattern, text)                                                                          \
    QVERIFY2(QRegularExpression(pattern).match(text).hasMatch(), qPrintable(text))

namespace {

// What the pool delivered, in order; guarded, the owner may be another thread.
struct Deliveries {
    std::mutex mutex;
    QStringList events;
    std::function<void()> onProgress = [] {};
    void add(const QString &event)
    {
        std::lock_guard<std::mutex> lock(mutex);
        events << event;
    }
    QStringList seen()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    // Recorded before onProgress() runs: a test that sees the call sees the event.
    SavePool pool{[this](int current, int total) {
                      add(QStringLiteral("progress %1/%2").arg(current).arg(total));
                      onProgress();
                  },
                  [this](const SaveOutcome &outcome) {
                      add(outcome.ok ? QStringLiteral("finished ") + outcome.files.join(QLatin1Char(','))
                                     : QStringLiteral("failed ") + outcome.error);
                  }};
};

} // namespace

class SavePoolTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window;
    QString m_out;
    QStringList outFiles() const { return QDir(m_out).entryList(QDir::Files, QDir::Name); }
    void openWindow()
    {
        m_window = std::make_unique<MainWindow>();
        m_window->m_saveDir = m_out;
        m_window->m_imageFormat = QStringLiteral("BMP");
        m_window->m_stitchDirection = 0;
    }

private slots:
    void init()
    {
        m_scratch = std::make_unique<ScratchDirectory>();
        QVERIFY(m_scratch->isValid());
        m_out = m_scratch->filePath(QStringLiteral("out"));
    }
    void cleanup()
    {
        m_window.reset();
        m_scratch.reset();
    }

    // The first save waits until the others have ended and been offered for
    // delivery; nothing of them may come out before the first's outcome, the
    // reports kept come out in the order they were made, and a save that
    // throws fails once, in its turn.
    void slowFirstSaveStillReportsFirst()
    {
        Deliveries d;
        std::atomic<int> wakes{0};
        d.pool.setConcurrency(3);
        d.pool.setWake([&wakes] { ++wakes; });
        Gate slow;
        std::atomic<bool> fastEnded{false};
        d.pool.post([&slow](const SavePool::Progress &progress) {
            progress(1, 2);
            slow.pass();
            progress(2, 2);
            return SaveOutcome::written({QStringLiteral("first")});
        });
        d.pool.post([](const SavePool::Progress &) -> SaveOutcome { throw std::runtime_error("boom"); });
        d.pool.post([&fastEnded](const SavePool::Progress &progress) {
            progress(1, 2);
            progress(2, 2);
            fastEnded = true;
            return SaveOutcome::written({QStringLiteral("second")});
        });
        QVERIFY(slow.reached());
        QTRY_VERIFY(fastEnded.load());
        QTRY_VERIFY(wakes.load() >= 5); // every report and end offered for delivery
        d.pool.deliverReady();
        QCOMPARE(d.seen(), QStringList{QStringLiteral("progress 1/2")});
        QCOMPARE(d.pool.held(), 3);
        slow.open();
        d.pool.waitForAll();
        QCOMPARE(d.seen(),
                 (QStringList{"progress 1/2", "progress 2/2", "finished first",
                              "failed Unknown error when stitching.", "progress 1/2", "progress 2/2",
                              "finished second"}));
    }

    // Two at once: the third post waits, its save not started, until the
    // oldest is delivered; the owner is a thread of its own, watched waiting.
    void neverMoreSavesAtOnceThanAllowed()
    {
        Deliveries d;
        d.pool.setConcurrency(2);
        d.pool.setWake([] {});
        std::atomic<int> started{0}, running{0};
        std::atomic<bool> thirdPosting{false};
        std::atomic<int> startedAtReport{-1}, runningAtReport{-1};
        d.onProgress = [&] {
            if (thirdPosting) {
                startedAtReport = started.load();
                runningAtReport = running.load();
            }
        };
        Gate report, finish, second;
        const auto save = [&](int number) {
            return [&, number](const SavePool::Progress &progress) {
                ++started;
                ++running;
                if (number == 0) {
                    report.pass();
                    progress(1, 2);
                    finish.pass();
                } else if (number == 1) {
                    second.pass();
                }
                --running;
                return SaveOutcome::written({QString::number(number)});
            };
        };
        std::thread owner([&] {
            d.pool.post(save(0));
            d.pool.post(save(1));
            thirdPosting = true;
            d.pool.post(save(2));
            thirdPosting = false;
            d.pool.waitForAll();
        });
        QVERIFY(report.reached() && second.reached());
        report.open();
        // Only the third post delivers on the owner's thread now: the report
        // reaching it shows the post under way, with two saves running.
        QTRY_COMPARE(startedAtReport.load(), 2);
        QCOMPARE(runningAtReport.load(), 2);
        QCOMPARE(d.seen(), QStringList{QStringLiteral("progress 1/2")});
        finish.open();
        QTRY_COMPARE(started.load(), 3);
        second.open();
        owner.join();
        QCOMPARE(d.pool.timesFull(), qint64(1));
        QCOMPARE(d.seen(), (QStringList{"progress 1/2", "finished 0", "finished 1", "finished 2"}));
    }

    void splitIsGreedyAndNeverCutsAFrame_data()
    {
        QTest::addColumn<QVector<int>>("lengths");
        QTest::addColumn<QString>("segments");
        QTest::newRow("ten of 8192") << QVector<int>(10, 8192) << "0-4,4-8,8-10";
        QTest::newRow("exactly the limit") << QVector<int>{16384, 16384} << "0-2";
        QTest::newRow("one frame of the limit") << QVector<int>{32768, 1} << "0-1,1-2";
        QTest::newRow("one pixel over") << QVector<int>{16384, 16385} << "0-1,1-2";
        QTest::newRow("leading null rides along") << QVector<int>{0, 20000, 20000} << "0-2,2-3";
        QTest::newRow("null between") << QVector<int>{30000, 0, 2768, 1} << "0-3,3-4";
        QTest::newRow("only nulls") << QVector<int>{0, 0, 0} << "0-3";
        QTest::newRow("frame over the limit") << QVector<int>{100, 20000, 40000, 50000} << "frame 2";
    }
    void splitIsGreedyAndNeverCutsAFrame()
    {
        QFETCH(QVector<int>, lengths);
        const SegmentSplit split = splitIntoSegments(lengths, 32768);
        QStringList parts;
        for (const Segment &segment : split.segments)
            parts << QStringLiteral("%1-%2").arg(segment.first).arg(segment.end);
        QTEST(split.oversizedFrame >= 0 ? QStringLiteral("frame %1").arg(split.oversizedFrame)
                                        : parts.join(','),
              "segments");
    }

    // Direction -1: the frames as a file list, a null one missing; %1 is the last path.
    void rejectedSavesFailWithTheirText_data()
    {
        QTest::addColumn<QList<QImage>>("frames");
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("thrown"); // by the file reader: 1 standard, 3 other
        QTest::addColumn<QString>("error");
        const QImage gray = patternFrame(3, 2, QImage::Format_Grayscale8, 1);
        const QImage tall = patternFrame(1, 32769, QImage::Format_Grayscale8, 2);
        const QImage wide = patternFrame(40000, 1, QImage::Format_Grayscale8, 2);
        const QString tooTall = QStringLiteral("Stitched image height too large for %1: %2 > 32768");
        const QString tooLong = QStringLiteral("A single frame is too wide for %1 (%2 px > 32768 px).");
        const auto row = [](const char *name, const QList<QImage> &frames, int direction, const char *format,
                            const QString &error, int thrown = 0) {
            QTest::newRow(name) << frames << direction << QString(format) << thrown << error;
        };
        row("empty batch", {}, 0, "PNG", "No frames to save!");
        row("only null frames", {QImage(), QImage()}, 0, "PNG", "No valid frames to stitch!");
        row("too tall for Left", {gray, tall}, 0, "jpg", tooTall.arg("jpg", "32769"));
        row("too wide for Top", {wide}, 3, "Tiff", tooTall.arg("Tiff", "40000"));
        row("one frame too long for Right", {gray, wide}, 1, "BMP", tooLong.arg("BMP", "40000"));
        row("one frame too long for Bottom", {gray, tall}, 2, "png", tooLong.arg("png", "32769"));
        // A hand-edited setting.ini may hold anything; the name is shown as typed.
        row("placeholders in the format name, too tall", {gray, tall}, 0, "A%1B%2%3",
            "Stitched image height too large for A%1B%2%3: 32769 > 32768");
        row("placeholders in the format name, too long", {gray, wide}, 1, "%2x%1",
            "A single frame is too wide for %2x%1 (40000 px > 32768 px).");
        row("missing file", {QImage()}, -1, "PNG", "No valid frames to stitch!");
        row("file too wide", {gray, patternFrame(33000, 1, QImage::Format_Grayscale8, 1)}, -1, "Png",
            tooLong.arg("Png", "33000") + "\nFile: %1");
        row("standard exception", {gray}, -1, "PNG", "Exception occurred: disk went away", 1);
        row("other exception", {gray}, -1, "PNG", "Unknown exception occurred!", 3);
    }
    void rejectedSavesFailWithTheirText()
    {
        QFETCH(QList<QImage>, frames);
        QFETCH(int, direction);
        QFETCH(QString, format);
        QFETCH(int, thrown);
        QFETCH(QString, error);
        StitchWorker worker;
        StitchRecorder recorder(worker);
        if (direction >= 0) {
            worker.saveStitchImages(frames, direction, m_out, QString(), QString(), 0, format, 95, 8);
        } else {
            QStringList paths;
            for (const QImage &frame : frames) {
                paths << m_scratch->filePath(QStringLiteral("f%1.png").arg(paths.size()));
                QVERIFY(frame.isNull() || frame.save(paths.last()));
            }
            if (thrown) {
                worker.setFrameFileReader([thrown](const QString &) -> QImage {
                    if (thrown == 1)
                        throw std::runtime_error("disk went away");
                    throw 42;
                });
            }
            worker.saveStitch(paths, 0, m_out, QStringLiteral("CamA"), QStringLiteral("SN0042"), format, 95,
                              8);
            error.replace(QLatin1String("%1"), paths.last());
        }
        QCOMPARE(recorder.events, QStringList{QStringLiteral("failed ") + error});
        QVERIFY(outFiles().isEmpty());
    }

    // Unequal sizes: the rest of the cross side stays black. Null frames are
    // skipped without leaving a gap; unknown directions stack like Bottom.
    void framesArePlacedAlongTheirDirection()
    {
        const QList<QImage> frames
            = {patternFrame(5, 4, QImage::Format_RGB888, 1), patternFrame(3, 6, QImage::Format_RGB888, 2),
               patternFrame(4, 2, QImage::Format_RGB888, 3)};
        for (int direction : {0, -1, 7}) {
            StitchWorker worker;
            StitchRecorder recorder(worker);
            worker.saveStitchImages({QImage(), frames[0], QImage(), frames[1], frames[2], QImage()},
                                    direction, m_out, QString(), QString(), 0, "PNG", 95, 8);
            QCOMPARE(recorder.events.size(), 2);
            QCOMPARE(recorder.events.first(), QStringLiteral("progress 1/1"));
            QCOMPARE(recorder.files().size(), 1);
            QCOMPARE(QImage(recorder.files().first()).convertToFormat(QImage::Format_RGB888),
                     canvasOf(frames, 0, direction == 0));
        }
    }

    // No file may pass 100 kB: batch 7's second segment of 180 kB fails it
    // once, leaving no file, while batch 8, saved at the same time, is whole.
    void failedSegmentInAParallelBatchFailsItOnceAndLeavesNoFile()
    {
        QDir().mkpath(m_out);
        const QByteArray answer = runWithFileSizeLimit(
            100000,
            [&] {
                StitchWorker worker;
                worker.setConcurrentSaves(2);
                worker.maxDimension = 300;
                StitchRecorder recorder(worker);
                worker.saveStitchImages({patternFrame(100, 200, QImage::Format_RGB888, 1),
                                         patternFrame(300, 200, QImage::Format_RGB888, 2)},
                                        0, m_out, QString(), QString(), 7, "BMP", 95, 1);
                worker.saveStitchImages({patternFrame(50, 200, QImage::Format_RGB888, 3)}, 0, m_out,
                                        QString(), QString(), 8, "BMP", 95, 1);
                worker.waitForSaves();
                return recorder.serialized();
            },
            [&] {
                for (const QString &left : entriesOf(m_out))
                    QFile::remove(QDir(m_out).filePath(left));
            });
        const QStringList events = StitchRecorder::parse(answer);
        QCOMPARE(events.size(), 4);
        QCOMPARE(events.at(0), QStringLiteral("progress 1/2"));
        VERIFY_MATCH(
            QStringLiteral("^failed Failed to save image:\n.*_Batch007_\\d{8}_\\d{6}_\\d{3}_Seg02\\.bmp\n"
                           "Reason: File too large$"),
            events.at(1));
        QCOMPARE(events.at(2), QStringLiteral("progress 1/1"));
        VERIFY_MATCH(QStringLiteral("^finished .*/Stitched_Left_Batch008_"), events.at(3));
        const QString files = entriesOf(m_out).join(QLatin1Char(','));
        VERIFY_MATCH(QStringLiteral("^[^,]*_Batch007_[^,]*_Seg01\\.bmp,[^,]*_Batch008_[^,]*$"), files);
    }

    // Save Image before any batch warns. A batch is saved with the settings
    // of its hand-off, each segment's progress shown, then "Save done." for a
    // while; a failed one shows a box and leaves the status bar clear.
    void handOffUsesTheSettingsOfTheMomentAndShowsTheOutcome()
    {
        openWindow();
        m_window->handOffBatch({}, 3);
        MessageBoxRecorder boxes;
        QAction *saveImage = m_window->findChild<QAction *>(QStringLiteral("actionSave_Image"));
        QVERIFY(saveImage && saveImage->isEnabled());
        saveImage->trigger(); // no batch yet
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, QStringLiteral("No completed stitched image to save!"));
        QCOMPARE(m_window->session().pendingSaves(), 0);
        QSignalSpy messages(m_window->ui->statusBar, &QStatusBar::messageChanged);
        m_window->m_cameraModelName = QStringLiteral("CamA");
        m_window->m_cameraSerialNumber = QStringLiteral("SN0042");
        QList<QImage> frames;
        for (int i = 0; i < 3; ++i)
            frames << patternFrame(20000, 1, QImage::Format_Grayscale8, i);
        m_window->handOffBatch(frames, 7);
        QCOMPARE(m_window->session().pendingSaves(), 1);
        m_window->m_imageFormat = QStringLiteral("PNG");
        m_window->m_stitchDirection = 3;
        m_window->m_saveDir = m_scratch->filePath(QStringLiteral("elsewhere"));
        m_window->m_cameraModelName.clear();
        QTRY_COMPARE(m_window->session().pendingSaves(), 0);
        const QString name
            = QStringLiteral("Stitched_CamA_SN0042_Left_Batch007_\\d{8}_\\d{6}_\\d{3}_Seg0%1\\.bmp");
        VERIFY_MATCH(QStringLiteral("^%1,%2,%3$").arg(name.arg(1), name.arg(2), name.arg(3)),
                     outFiles().join(','));
        QStringList shown;
        for (const QList<QVariant> &args : messages)
            shown << args.at(0).toString();
        QCOMPARE(shown,
                 (QStringList{"Saving stitched image (background)...", "Saving stitched image... 1/3",
                              "Saving stitched image... 2/3", "Saving stitched image... 3/3", "Save done."}));
        QTRY_COMPARE_WITH_TIMEOUT(m_window->ui->statusBar->currentMessage(), QString(), 5000);
        m_window->m_saveDir = blockedFolderIn(m_scratch->path());
        m_window->m_cameraSerialNumber.clear();
        m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 2);
        QVERIFY(boxes.waitForCount(2));
        QCOMPARE(boxes.last().kind, QMessageBox::Critical);
        QVERIFY2(boxes.last().text.startsWith("Failed to save image:\n" + m_window->m_saveDir
                                              + "/Stitched_Top_Batch002_"),
                 qPrintable(boxes.last().text));
        QCOMPARE(m_window->ui->statusBar->currentMessage(), QString());
        QCOMPARE(m_window->session().pendingSaves(), 0);
    }

    // Heavy enough that the batches take well over a second together, the
    // time a plain quit-and-wait would have given them. A batch failing then
    // is logged, not shown in a box.
    void closingWithQueuedBatchesSavesEveryOne()
    {
        openWindow();
        MessageBoxRecorder boxes;
        m_window->m_saveDir = blockedFolderIn(m_scratch->path());
        m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 9);
        m_window->m_saveDir = m_out;
        m_window->m_imageFormat = QStringLiteral("PNG");
        m_window->m_pngQuality = 9;
        QList<QImage> batch;
        for (int i = 0; i < 4; ++i)
            batch << patternFrame(500, 300, QImage::Format_RGB888, i);
        const int batches = 5;
        for (int n = 1; n <= batches; ++n)
            m_window->handOffBatch(batch, n);
        QCOMPARE(m_window->session().pendingSaves(), batches + 1);
        QPointer<StitchWorker> worker = m_window->session().worker();
        QPointer<QThread> thread = m_window->session().stitchThread();
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Save Image: Failed to save image:\n")));
        m_window.reset();
        QVERIFY(worker.isNull() && thread.isNull());
        QCOMPARE(boxes.count(), 0);
        const QStringList files = outFiles();
        QCOMPARE(files.size(), batches);
        for (int n = 1; n <= batches; ++n) {
            QCOMPARE(files.filter(QStringLiteral("_Batch%1_").arg(n, 3, 10, QLatin1Char('0'))).size(), 1);
            QCOMPARE(QImageReader(QDir(m_out).filePath(files.at(n - 1))).size(), QSize(2000, 300));
        }
    }
};

QTEST_MAIN(SavePoolTest)
#include "tst_savepool.moc"
