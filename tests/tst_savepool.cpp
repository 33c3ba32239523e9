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

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>

#include "composer.h"
#include "filesizelimit.h"
#include "gate.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "patternframe.h"
#include "savepool.h"
#include "savethread.h"
#include "scratchdirectory.h"
#include "stitchingwindow.h"
#include "stitchrecorder.h"
#include "ui_mainwindow.h"

Q_DECLARE_METATYPE(QList<QImage>)
Q_DECLARE_METATYPE(QList<QSize>)

namespace {

int niceOfThisThread()
{
    return ::getpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)));
}

// What the pool delivered, as text in delivery order. Guarded, since a test
// may own the pool on a thread of its own.
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
    SavePool pool{[this](int current, int total) {
                      onProgress();
                      add(QStringLiteral("progress %1/%2").arg(current).arg(total));
                  },
                  [this](const SaveOutcome &outcome) {
                      add(outcome.ok ? QStringLiteral("finished ") + outcome.files.join(QLatin1Char(','))
                                     : QStringLiteral("failed ") + outcome.error);
                  }};
};

SavePool::Job writes(const QString &name)
{
    return [name](const SavePool::Progress &) { return SaveOutcome::written({name}); };
}

// Where each frame must land in a stitched segment, placed pixel by pixel:
// edge to edge along the axis, top- or left-aligned, black elsewhere.
QImage placedFrames(const QList<QImage> &placed, bool horizontal)
{
    int along = 0;
    int across = 0;
    for (const QImage &frame : placed) {
        along += horizontal ? frame.width() : frame.height();
        across = std::max(across, horizontal ? frame.height() : frame.width());
    }
    QImage canvas(horizontal ? along : across, horizontal ? across : along, QImage::Format_RGB888);
    canvas.fill(Qt::black);
    int offset = 0;
    for (const QImage &original : placed) {
        const QImage frame = original.convertToFormat(QImage::Format_RGB888);
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x)
                canvas.setPixel(horizontal ? offset + x : x, horizontal ? y : offset + y, frame.pixel(x, y));
        }
        offset += horizontal ? frame.width() : frame.height();
    }
    return canvas;
}

QImage readRgb(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_RGB888);
}

} // namespace

class SavePoolTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window;
    QString m_out;
    QStringList outFiles() const { return QDir(m_out).entryList(QDir::Files, QDir::Name); }
    QString writeFrame(const QString &name, const QImage &image)
    {
        const QString path = m_scratch->filePath(name);
        return image.save(path, "PNG") ? path : QString();
    }
    // The window as an operator leaves it, its worker idle.
    void openWindow()
    {
        m_window = std::make_unique<MainWindow>();
        m_window->m_saveDir = m_out;
        m_window->m_imageFormat = QStringLiteral("BMP");
        m_window->m_stitchDirection = 0;
    }
    QAction *action(const char *name)
    {
        QAction *found = m_window->findChild<QAction *>(QLatin1String(name));
        return found && found->isEnabled() ? found : nullptr;
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

    // The first save waits until the second has ended and been offered for
    // delivery; nothing of the second may come out before the first's outcome.
    void slowFirstSaveStillReportsFirst_data()
    {
        QTest::addColumn<int>("concurrency");
        QTest::newRow("two at once") << 2;
        QTest::newRow("three at once") << 3;
    }
    void slowFirstSaveStillReportsFirst()
    {
        QFETCH(int, concurrency);
        Deliveries d;
        std::atomic<int> wakes{0};
        d.pool.setConcurrency(concurrency);
        d.pool.setWake([&wakes] { ++wakes; });
        Gate slow;
        std::atomic<bool> fastEnded{false};
        d.pool.post([&slow](const SavePool::Progress &progress) {
            progress(1, 2);
            slow.pass();
            progress(2, 2);
            return SaveOutcome::written({QStringLiteral("first")});
        });
        d.pool.post([&fastEnded](const SavePool::Progress &progress) {
            progress(1, 1);
            fastEnded = true;
            return SaveOutcome::written({QStringLiteral("second")});
        });
        QVERIFY(slow.reached());
        QTRY_VERIFY(fastEnded.load());
        QTRY_VERIFY(wakes.load() >= 3); // the helpers asked for delivery
        d.pool.deliverReady();
        QCOMPARE(d.seen(), QStringList{QStringLiteral("progress 1/2")});
        QCOMPARE(d.pool.held(), 2);
        slow.open();
        d.pool.waitForAll();
        QCOMPARE(d.seen(),
                 (QStringList{"progress 1/2", "progress 2/2", "finished first", "progress 1/1",
                              "finished second"}));
        QCOMPARE(d.pool.held(), 0);
    }

    // Two at once: the third post waits, its save not started, until the
    // oldest save has been delivered. The pool's owner is a thread of its own
    // so that the test can watch its third post wait.
    void neverMoreSavesAtOnceThanAllowed()
    {
        Deliveries d;
        d.pool.setConcurrency(2);
        d.pool.setWake([] {});
        std::atomic<int> started{0}, running{0}, mostRunning{0};
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
                const int now = ++running;
                for (int seen = mostRunning; now > seen && !mostRunning.compare_exchange_weak(seen, now);) { }
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
        QCOMPARE(mostRunning.load(), 2);
        QCOMPARE(d.seen(), (QStringList{"progress 1/2", "finished 0", "finished 1", "finished 2"}));
    }

    void oneSaveAtATimeRunsWithinThePost()
    {
        Deliveries d;
        std::thread::id ranOn;
        d.pool.post([&ranOn](const SavePool::Progress &progress) {
            ranOn = std::this_thread::get_id();
            progress(1, 1);
            return SaveOutcome::failure(QStringLiteral("disk gone"));
        });
        QCOMPARE(ranOn, std::this_thread::get_id());
        QCOMPARE(d.seen(), (QStringList{"progress 1/1", "failed disk gone"}));
        QCOMPARE(d.pool.held(), 0);
    }

    void throwingSaveFailsOnceInItsTurn()
    {
        for (int concurrency : {1, 2}) {
            Deliveries d;
            d.pool.setConcurrency(concurrency);
            d.pool.setWake([] {});
            d.pool.post([](const SavePool::Progress &) -> SaveOutcome { throw std::runtime_error("boom"); });
            d.pool.post(writes(QStringLiteral("next")));
            d.pool.waitForAll();
            QCOMPARE(d.seen(), (QStringList{"failed Unknown error when stitching.", "finished next"}));
        }
    }

    // A save on a helper thread runs nicer than the main thread, and so does
    // a thread it starts in turn, but no further down; the owner's thread,
    // which also runs the saves of a pool of one, keeps its place.
    void helperThreadsGiveWayAndOnlyThey()
    {
        bool allowed = false;
        std::thread([&allowed] {
            const id_t self = id_t(::syscall(SYS_gettid));
            allowed = ::setpriority(PRIO_PROCESS, self, ::getpriority(PRIO_PROCESS, self) + 1) == 0;
        }).join();
        if (!allowed)
            QSKIP("this system refuses a thread a higher nice value");
        const int main = ::getpriority(PRIO_PROCESS, id_t(::getpid()));
        const int owner = niceOfThisThread();
        Deliveries d;
        d.pool.setConcurrency(2);
        d.pool.setWake([] {});
        std::atomic<int> helper{-100}, helperAgain{-100}, grandchild{-100};
        d.pool.post([&](const SavePool::Progress &) {
            helper = niceOfThisThread();
            yieldToAcquisition();
            helperAgain = niceOfThisThread();
            std::thread([&] {
                yieldToAcquisition();
                grandchild = niceOfThisThread();
            }).join();
            return SaveOutcome::written({});
        });
        d.pool.waitForAll();
        QCOMPARE(helper.load(), main + kSaveThreadNiceness);
        QCOMPARE(helperAgain.load(), main + kSaveThreadNiceness);
        QCOMPARE(grandchild.load(), main + kSaveThreadNiceness);
        QCOMPARE(niceOfThisThread(), owner);
        Deliveries inline_;
        int ranAt = -100;
        inline_.pool.post([&](const SavePool::Progress &) {
            ranAt = niceOfThisThread();
            return SaveOutcome::written({});
        });
        QCOMPARE(ranAt, owner);
    }

    void splitIsGreedyAndNeverCutsAFrame_data()
    {
        QTest::addColumn<QVector<int>>("lengths");
        QTest::addColumn<QString>("segments");
        QTest::newRow("ten of 8192") << QVector<int>(10, 8192) << "0-4,4-8,8-10";
        QTest::newRow("exactly the limit") << QVector<int>{16384, 16384} << "0-2";
        QTest::newRow("one pixel over") << QVector<int>{16384, 16385} << "0-1,1-2";
        QTest::newRow("leading null rides along") << QVector<int>{0, 20000, 20000} << "0-2,2-3";
        QTest::newRow("null between") << QVector<int>{30000, 0, 2768, 1} << "0-3,3-4";
        QTest::newRow("only nulls") << QVector<int>{0, 0, 0} << "0-3";
        QTest::newRow("frame over the limit") << QVector<int>{100, 20000, 40000, 50000} << "frame 2";
    }
    void splitIsGreedyAndNeverCutsAFrame()
    {
        QFETCH(QVector<int>, lengths);
        QFETCH(QString, segments);
        const SegmentSplit split = splitIntoSegments(lengths, 32768);
        QStringList parts;
        for (const Segment &segment : split.segments)
            parts << QStringLiteral("%1-%2").arg(segment.first).arg(segment.end);
        QCOMPARE(split.oversizedFrame >= 0 ? QStringLiteral("frame %1").arg(split.oversizedFrame)
                                           : parts.join(','),
                 segments);
    }

    void rejectedBatchesFailWithTheirText_data()
    {
        QTest::addColumn<QList<QImage>>("frames");
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("error");
        const QImage gray = patternFrame(3, 2, QImage::Format_Grayscale8, 1);
        const QImage tall = patternFrame(1, 32769, QImage::Format_Grayscale8, 2);
        const QImage wide = patternFrame(40000, 1, QImage::Format_Grayscale8, 2);
        QTest::newRow("empty batch") << QList<QImage>{} << 0 << "PNG"
                                     << "No frames to save!";
        QTest::newRow("only null frames") << QList<QImage>{QImage(), QImage()} << 0 << "PNG"
                                          << "No valid frames to stitch!";
        QTest::newRow("too tall for Left") << QList<QImage>{gray, tall} << 0 << "jpg"
                                           << "Stitched image height too large for jpg: 32769 > 32768";
        QTest::newRow("too wide for Top") << QList<QImage>{wide} << 3 << "Tiff"
                                          << "Stitched image height too large for Tiff: 40000 > 32768";
        QTest::newRow("one frame too long for Right")
            << QList<QImage>{gray, wide} << 1 << "BMP"
            << "A single frame is too wide for BMP (40000 px > 32768 px).";
        QTest::newRow("one frame too long for Bottom")
            << QList<QImage>{gray, tall} << 2 << "png"
            << "A single frame is too wide for png (32769 px > 32768 px).";
        // A hand-edited setting.ini may hold anything; the name is shown as typed.
        QTest::newRow("placeholders in the format name, too tall")
            << QList<QImage>{gray, tall} << 0 << "A%1B%2%3"
            << "Stitched image height too large for A%1B%2%3: 32769 > 32768";
        QTest::newRow("placeholders in the format name, too long")
            << QList<QImage>{gray, wide} << 1 << "%2x%1"
            << "A single frame is too wide for %2x%1 (40000 px > 32768 px).";
    }
    void rejectedBatchesFailWithTheirText()
    {
        QFETCH(QList<QImage>, frames);
        QFETCH(int, direction);
        QFETCH(QString, format);
        QFETCH(QString, error);
        StitchWorker worker;
        StitchRecorder recorder(worker);
        worker.saveStitchImages(frames, direction, m_out, QString(), QString(), 0, format, 95, 8);
        QCOMPARE(recorder.events, QStringList{QStringLiteral("failed ") + error});
        QVERIFY(outFiles().isEmpty());
    }

    void rejectedFileListsFailWithTheirText_data()
    {
        // A negative size stands for a missing file; %1 in the text is the last path.
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::addColumn<int>("thrown");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("error");
        QTest::newRow("missing file") << QList<QSize>{QSize(-1, -1)} << 0 << "PNG"
                                      << "No valid frames to stitch!";
        QTest::newRow("file too wide")
            << QList<QSize>{QSize(10, 1), QSize(33000, 1)} << 0 << "Png"
            << "A single frame is too wide for Png (33000 px > 32768 px).\nFile: %1";
        QTest::newRow("standard exception") << QList<QSize>{QSize(4, 4)} << 1 << "PNG"
                                            << "Exception occurred: disk went away";
        QTest::newRow("out of memory") << QList<QSize>{QSize(4, 4)} << 2 << "PNG"
                                       << "Exception occurred: std::bad_alloc";
        QTest::newRow("other exception") << QList<QSize>{QSize(4, 4)} << 3 << "PNG"
                                         << "Unknown exception occurred!";
    }
    void rejectedFileListsFailWithTheirText()
    {
        QFETCH(QList<QSize>, sizes);
        QFETCH(int, thrown);
        QFETCH(QString, format);
        QFETCH(QString, error);
        QStringList paths;
        for (const QSize &size : sizes) {
            paths << (size.width() < 0 ? m_scratch->filePath(QStringLiteral("missing.png"))
                                       : writeFrame(QStringLiteral("f%1.png").arg(paths.size()),
                                                    patternFrame(size.width(), size.height(),
                                                                 QImage::Format_Grayscale8, 1)));
        }
        StitchWorker worker;
        StitchRecorder recorder(worker);
        if (thrown) {
            worker.setFrameFileReader([thrown](const QString &) -> QImage {
                if (thrown == 1)
                    throw std::runtime_error("disk went away");
                if (thrown == 2)
                    throw std::bad_alloc();
                throw 42;
            });
        }
        worker.saveStitch(paths, 0, m_out, QStringLiteral("CamA"), QStringLiteral("SN0042"), format, 95, 8);
        QCOMPARE(recorder.events,
                 QStringList{QStringLiteral("failed ")
                             + (error.contains("%1") ? error.arg(paths.last()) : error)});
        QVERIFY(outFiles().isEmpty());
    }

    // Unequal sizes: the rest of the cross side must stay black. Null frames
    // are skipped without leaving a gap; unknown directions stack.
    void framesArePlacedByDirection_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("format");
        QTest::newRow("Left PNG") << 0 << "PNG";
        QTest::newRow("Right BMP") << 1 << "BMP";
        QTest::newRow("Bottom TIFF") << 2 << "TIFF";
        QTest::newRow("Top PNG") << 3 << "PNG";
        QTest::newRow("unknown -1 BMP") << -1 << "BMP";
        QTest::newRow("unknown 7 TIFF") << 7 << "TIFF";
    }
    void framesArePlacedByDirection()
    {
        QFETCH(int, direction);
        QFETCH(QString, format);
        const QList<QImage> frames
            = {patternFrame(5, 4, QImage::Format_RGB888, 1), patternFrame(3, 6, QImage::Format_RGB888, 2),
               patternFrame(4, 2, QImage::Format_RGB888, 3)};
        QList<QImage> placed = frames;
        if (direction == 1 || direction == 3)
            std::reverse(placed.begin(), placed.end());
        StitchWorker worker;
        StitchRecorder recorder(worker);
        worker.saveStitchImages({QImage(), frames[0], QImage(), frames[1], frames[2], QImage()}, direction,
                                m_out, QString(), QString(), 0, format, 95, 8);
        QCOMPARE(recorder.events.size(), 2);
        QCOMPARE(recorder.events.first(), QStringLiteral("progress 1/1"));
        QCOMPARE(recorder.files().size(), 1);
        QCOMPARE(readRgb(recorder.files().first()), placedFrames(placed, direction == 0 || direction == 1));
    }

    // Two segments, the colour frame only in the second: the first stays gray.
    void grayFramesGiveGrayFilesUnlessOneIsColour_data()
    {
        QTest::addColumn<int>("otherFormat");
        QTest::addColumn<int>("bitsPerPixel");
        QTest::newRow("gray and mono") << int(QImage::Format_Mono) << 8;
        QTest::newRow("gray and indexed") << int(QImage::Format_Indexed8) << 8;
        QTest::newRow("gray and 32-bit rgb") << int(QImage::Format_RGB32) << 24;
    }
    void grayFramesGiveGrayFilesUnlessOneIsColour()
    {
        QFETCH(int, otherFormat);
        QFETCH(int, bitsPerPixel);
        const QList<QImage> frames = {patternFrame(20000, 3, QImage::Format_Grayscale8, 1),
                                      patternFrame(20000, 3, QImage::Format(otherFormat), 2)};
        StitchWorker worker;
        StitchRecorder recorder(worker);
        worker.saveStitchImages(frames, 0, m_out, QString(), QString(), 0, "BMP", 95, 8);
        QCOMPARE(recorder.files().size(), 2);
        const QImage::Format expected = bitsPerPixel == 8 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
        for (int i = 0; i < 2; ++i) {
            QFile file(recorder.files().at(i));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray header = file.read(30);
            QCOMPARE(int(uchar(header.at(28))) | int(uchar(header.at(29))) << 8, bitsPerPixel);
            QCOMPARE(QImage(file.fileName()).convertToFormat(expected),
                     frames.at(i).convertToFormat(expected));
        }
    }

    // A misleading extension is read by content; a text file and an empty
    // path among the files are skipped.
    void fileListIsSplitIntoNumberedPartsInRotationOrder_data()
    {
        QTest::addColumn<int>("rotateClockwise");
        QTest::addColumn<int>("width");
        QTest::addColumn<QList<QList<int>>>("parts");
        QTest::newRow("0 keeps list order, two parts") << 0 << 10000 << QList<QList<int>>{{0, 1, 2}, {3, 4}};
        QTest::newRow("1 reverses") << 1 << 6000 << QList<QList<int>>{{4, 3, 2, 1, 0}};
        QTest::newRow("-3 reverses") << -3 << 6000 << QList<QList<int>>{{4, 3, 2, 1, 0}};
    }
    void fileListIsSplitIntoNumberedPartsInRotationOrder()
    {
        QFETCH(int, rotateClockwise);
        QFETCH(int, width);
        QFETCH(QList<QList<int>>, parts);
        QStringList paths;
        QList<QImage> frames;
        for (int i = 0; i < 5; ++i) {
            frames << patternFrame(width, 2, QImage::Format_RGB888, i);
            paths << writeFrame(QStringLiteral("f%1.%2").arg(i).arg(i == 1 ? "jpg" : "png"), frames.last());
        }
        QFile text(m_scratch->filePath(QStringLiteral("notes.png")));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a picture") > 0);
        text.close();
        paths.insert(2, text.fileName());
        paths.insert(4, QString());
        StitchWorker worker;
        StitchRecorder recorder(worker);
        worker.saveStitch(paths, rotateClockwise, m_out, QStringLiteral("CamA"), QStringLiteral("SN0042"),
                          "bmp", 95, 8);
        QCOMPARE(recorder.events.size(), parts.size() + 1);
        QCOMPARE(recorder.files().size(), parts.size());
        const QString part = parts.size() > 1 ? QStringLiteral("_part0(\\d)") : QString();
        const QRegularExpression name(
            QStringLiteral("^RotatedStitched_CamA_SN0042_\\d{8}_\\d{6}_\\d{3}%1\\.bmp$").arg(part));
        for (int i = 0; i < parts.size(); ++i) {
            const QRegularExpressionMatch match = name.match(QFileInfo(recorder.files().at(i)).fileName());
            QVERIFY2(match.hasMatch(), qPrintable(recorder.files().at(i)));
            QCOMPARE(match.captured(1).toInt(), parts.size() > 1 ? i + 1 : 0);
            QList<QImage> placed;
            for (int index : parts.at(i))
                placed << frames.at(index);
            QCOMPARE(readRgb(recorder.files().at(i)), placedFrames(placed, true));
        }
    }

    void fileDeletedAfterTheSurveyLeavesBlackAtTheEnd()
    {
        const QList<QImage> frames
            = {patternFrame(5, 3, QImage::Format_RGB888, 1), patternFrame(4, 3, QImage::Format_RGB888, 2),
               patternFrame(6, 3, QImage::Format_RGB888, 3)};
        QStringList paths;
        for (int i = 0; i < frames.size(); ++i)
            paths << writeFrame(QStringLiteral("f%1.png").arg(i), frames.at(i));
        // The survey reads every file once; the middle one is deleted right after it.
        int reads = 0;
        StitchWorker worker;
        StitchRecorder recorder(worker);
        worker.setFrameFileReader([&](const QString &path) {
            const QImage image = readFrameFile(path);
            if (++reads == paths.size())
                QFile::remove(paths.at(1));
            return image;
        });
        worker.saveStitch(paths, 0, m_out, QString(), QString(), "PNG", 95, 8);
        QCOMPARE(reads, 6);
        QCOMPARE(recorder.files().size(), 1);
        QImage black(4, 3, QImage::Format_RGB888);
        black.fill(0);
        const QImage written = readRgb(recorder.files().first());
        QCOMPARE(written.size(), QSize(15, 3));
        QCOMPARE(written.copy(0, 0, 11, 3), placedFrames({frames.at(0), frames.at(2)}, true));
        QCOMPARE(written.copy(11, 0, 4, 3), black);
    }

    // In a child where no file may pass 100 kB: batch 7 has a small segment
    // and one of 180 kB, batch 8 one small segment; both run at once. Batch 7
    // fails once, naming its second segment, then batch 8 reports its file;
    // batch 7's first segment stays, its second leaves neither file nor partial.
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
        const QRegularExpression failure(
            QStringLiteral("^failed Failed to save "
                           "image:\n.*_Batch007_\\d{8}_\\d{6}_\\d{3}_Seg02\\.bmp\nReason: File too large$"));
        QVERIFY2(failure.match(events.at(1)).hasMatch(), qPrintable(events.at(1)));
        QCOMPARE(events.at(2), QStringLiteral("progress 1/1"));
        QVERIFY2(events.at(3).contains(QStringLiteral("/Stitched_Left_Batch008_")), qPrintable(events.at(3)));
        const QStringList files = entriesOf(m_out);
        QCOMPARE(files.size(), 2);
        QVERIFY2(files.at(0).contains(QStringLiteral("_Batch007_"))
                     && files.at(0).endsWith(QStringLiteral("_Seg01.bmp")),
                 qPrintable(files.join(", ")));
        QVERIFY2(files.at(1).contains(QStringLiteral("_Batch008_")), qPrintable(files.join(", ")));
    }

    void saveImageWarnsWithoutABatchOrWorker_data()
    {
        QTest::addColumn<bool>("haveBatch");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("no batch") << false << int(QMessageBox::Warning)
                                  << "No completed stitched image to save!";
        QTest::newRow("no worker") << true << int(QMessageBox::Critical)
                                   << "StitchWorker is not initialized!";
    }
    void saveImageWarnsWithoutABatchOrWorker()
    {
        QFETCH(bool, haveBatch);
        QFETCH(int, kind);
        QFETCH(QString, text);
        openWindow();
        MessageBoxRecorder boxes;
        StitchWorker *worker = m_window->m_stitchWorker;
        if (haveBatch) {
            m_window->m_lastBatchFrames = {patternFrame(4, 4, QImage::Format_RGB888, 1)};
            m_window->m_stitchWorker = nullptr;
        }
        QAction *saveImage = action("actionSave_Image");
        QVERIFY(saveImage);
        saveImage->trigger();
        m_window->m_stitchWorker = worker;
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(int(boxes.last().kind), kind);
        QCOMPARE(boxes.last().title, QStringLiteral("Save Image"));
        QCOMPARE(boxes.last().text, text);
        QCOMPARE(m_window->m_pendingStitchJobs, 0);
        QVERIFY(waitForStitchWorker(*m_window));
        QVERIFY(outFiles().isEmpty());
    }

    // Save Image saves the last batch once more, without a batch number.
    void saveImageSavesTheLastBatchWithoutBatchNumber()
    {
        openWindow();
        const QList<QImage> frames
            = {patternFrame(5, 3, QImage::Format_RGB888, 1), patternFrame(4, 3, QImage::Format_RGB888, 2)};
        m_window->m_lastBatchFrames = frames;
        m_window->m_saveStitchImage = false;
        m_window->m_stitchDirection = 1;
        m_window->m_imageFormat = QStringLiteral("TIF");
        MessageBoxRecorder boxes;
        QAction *saveImage = action("actionSave_Image");
        QVERIFY(saveImage);
        saveImage->trigger();
        QCOMPARE(m_window->m_pendingStitchJobs, 1);
        QTRY_COMPARE(m_window->m_pendingStitchJobs, 0);
        QVERIFY(boxes.isEmpty());
        const QStringList files = outFiles();
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^Stitched_Right_\\d{8}_\\d{6}_\\d{3}\\.tif$"))
                     .match(files.first())
                     .hasMatch(),
                 qPrintable(files.first()));
        QCOMPARE(readRgb(QDir(m_out).filePath(files.first())), placedFrames({frames[1], frames[0]}, true));
    }

    void handOffUsesTheSettingsOfTheMoment()
    {
        openWindow();
        m_window->handOffBatch({}, 3);
        QCOMPARE(m_window->m_pendingStitchJobs, 0);
        m_window->m_cameraModelName = QStringLiteral("CamA");
        m_window->m_cameraSerialNumber = QStringLiteral("SN0042");
        m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 7);
        QCOMPARE(m_window->m_pendingStitchJobs, 1);
        m_window->m_imageFormat = QStringLiteral("PNG");
        m_window->m_stitchDirection = 3;
        m_window->m_saveDir = m_scratch->filePath(QStringLiteral("elsewhere"));
        m_window->m_cameraModelName.clear();
        QTRY_COMPARE(m_window->m_pendingStitchJobs, 0);
        const QStringList files = outFiles();
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^Stitched_CamA_SN0042_Left_Batch007_\\d{8}_\\d{6}_\\d{3}\\.bmp$"))
                     .match(files.first())
                     .hasMatch(),
                 qPrintable(files.first()));
        QVERIFY(!QDir(m_scratch->filePath(QStringLiteral("elsewhere"))).exists());
    }

    void statusBarShowsEachSegmentThenSaveDone()
    {
        openWindow();
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

    void failedSaveShowsCriticalBoxAndClearsTheStatusBar()
    {
        openWindow();
        MessageBoxRecorder boxes;
        QFile blocker(m_scratch->filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        m_window->m_saveDir = blocker.fileName() + QStringLiteral("/out");
        m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 2);
        QVERIFY(boxes.waitForCount(1));
        QCOMPARE(boxes.last().kind, QMessageBox::Critical);
        QCOMPARE(boxes.last().title, QStringLiteral("Save Image"));
        const QRegularExpression text(
            QStringLiteral(
                "^Failed to save image:\n%1/Stitched_Left_Batch002_\\d{8}_\\d{6}_\\d{3}\\.bmp\nReason: "
                "Not a directory$")
                .arg(QRegularExpression::escape(m_window->m_saveDir)));
        QVERIFY2(text.match(boxes.last().text).hasMatch(), qPrintable(boxes.last().text));
        QCOMPARE(m_window->ui->statusBar->currentMessage(), QString());
        QCOMPARE(m_window->m_pendingStitchJobs, 0);
    }

    // Heavy enough that the batches take well over a second together, the
    // time a plain quit-and-wait would have given them.
    void closingWithQueuedBatchesSavesEveryOne()
    {
        openWindow();
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

    void failureWhileClosingIsLoggedNotShownInABox()
    {
        openWindow();
        MessageBoxRecorder boxes;
        QFile blocker(m_scratch->filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        m_window->m_saveDir = blocker.fileName() + QStringLiteral("/out");
        m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 1);
        m_window->m_saveDir = m_out;
        m_window->handOffBatch({patternFrame(4, 4, QImage::Format_RGB888, 2)}, 2);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Save Image: Failed to save image:\n")));
        m_window.reset();
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(outFiles().size(), 1);
    }
};

QTEST_MAIN(SavePoolTest)
#include "tst_savepool.moc"
