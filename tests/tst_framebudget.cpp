// What keeps frames in flight bounded: the budget the grab thread asks before it converts a frame,
// the window's ledger of what its batches and saves hold, when intake resumes, the pool that
// lends frame memory again, and the one save-failure box that counts the rest.
#include <QtTest>

#include "appsettings.h"
#include "batchledger.h"
#include "descriptordevice.h"
#include "framebudget.h"
#include "framepool.h"
#include "framestatistics.h"
#include "naming.h"
#include "savefailurenotifier.h"
#include "scratchdirectory.h"
#include "segmentpicture.h"

#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kGiB = 1024 * kMiB;

// A frame as the grab thread reserves it and the window takes it off the queue into its open batch.
void takeIntoOpenBatch(FrameBudget &budget, BatchLedger &ledger, qint64 bytes, qint64 saveBytes = 0)
{
    QVERIFY(budget.reserveQueued(bytes));
    budget.dequeued(bytes);
    ledger.addToOpenBatch(bytes, saveBytes);
}

QList<QImage> frames(int count, int width, int height, QImage::Format format = QImage::Format_RGB888)
{
    const QImage frame(width, height, format);
    QList<QImage> list;
    for (int i = 0; i < count; ++i)
        list.append(frame);
    return list;
}

} // namespace

class FrameBudgetTest : public QObject
{
    Q_OBJECT

private slots:
    void reservationsStopAtTheBudgetAndTheQueueBound()
    {
        // Frames of 300 bytes; `taken` of them leave the queue for the window before the rest arrive.
        const struct {
            const char *what;
            qint64 limit, queueLimit;
            int taken, offered, accepted;
        } cases[] = {{"budget ends it", 1000, 1000, 0, 5, 3},
                     {"exactly full", 900, 900, 0, 4, 3},
                     {"queue ends it first", 1000, 600, 0, 5, 2},
                     {"taken frames leave the queue, not the budget", 1000, 600, 2, 5, 3},
                     {"larger than the queue, yet an empty queue passes it", 1000, 100, 0, 3, 1},
                     {"larger than the budget never passes", 200, 200, 0, 3, 0}};
        for (const auto &c : cases) {
            FrameBudget budget(c.limit, c.queueLimit);
            int accepted = 0;
            for (int i = 0; i < c.offered; ++i) {
                if (budget.reserveQueued(300) && ++accepted <= c.taken)
                    budget.dequeued(300);
            }
            QVERIFY2(accepted == c.accepted, c.what);
            QVERIFY2(budget.dropped() == c.offered - c.accepted, c.what);
            QVERIFY2(budget.inFlight() == accepted * 300, c.what);
            QVERIFY2(budget.queued() == (accepted - std::min(accepted, c.taken)) * 300, c.what);
        }
    }

    void givenBackBytesMakeRoomAgainButNeverWidenTheBudget()
    {
        FrameBudget budget(1000, 1000);
        QVERIFY(budget.reserveQueued(600));
        QVERIFY(!budget.reserveQueued(600));
        budget.dequeued(600);
        budget.release(600);
        QVERIFY(budget.reserveQueued(600));
        // Bytes never reserved (a frame fed to the window directly) cannot drive the counts below zero.
        budget.release(5000);
        budget.dequeued(5000);
        QCOMPARE(budget.inFlight(), qint64(0));
        QCOMPARE(budget.queued(), qint64(0));
        QVERIFY(budget.reserveQueued(1000));
        QVERIFY(!budget.reserveQueued(1));
        budget.countDropped();
        QCOMPARE(budget.dropped(), qint64(3));
        budget.resetDropped();
        QCOMPARE(budget.dropped(), qint64(0));
    }

    void concurrentReservationsNeverPassTheBudget()
    {
        // The grab thread reserves while the window gives back: every offer is taken or counted.
        FrameBudget budget(10 * 1000, 10 * 1000);
        std::atomic<qint64> maxSeen{0};
        std::atomic<int> taken{0};
        constexpr int kOffers = 20000;
        std::thread producer([&] {
            for (int i = 0; i < kOffers; ++i) {
                if (budget.reserveQueued(1000))
                    ++taken;
                const qint64 now = budget.inFlight();
                qint64 seen = maxSeen.load();
                while (now > seen && !maxSeen.compare_exchange_weak(seen, now)) { }
            }
        });
        int released = 0;
        while (taken.load() + budget.dropped() < kOffers) {
            if (released < taken.load()) {
                budget.dequeued(1000);
                budget.release(1000);
                ++released;
            }
        }
        producer.join();
        for (; released < taken.load(); ++released)
            budget.release(1000);
        QVERIFY(maxSeen.load() <= 10 * 1000);
        QCOMPARE(taken.load() + budget.dropped(), qint64(kOffers));
        QCOMPARE(budget.inFlight(), qint64(0));
    }

    void budgetComesFromTheEnvironmentOrPhysicalMemory()
    {
        const struct {
            const char *environment;
            qint64 physical, expected;
            bool valid;
        } cases[] = {{"", 8 * kGiB, 2 * kGiB, true},  // a quarter
                     {"", 64 * kGiB, 4 * kGiB, true}, // at most 4 GiB
                     {"", 0, kGiB, true},             // memory unknown
                     {"512", 64 * kGiB, 512 * kMiB, true},
                     {" 6144 ", 8 * kGiB, 6 * kGiB, true},
                     {"0", 8 * kGiB, 2 * kGiB, false},
                     {"-5", 8 * kGiB, 2 * kGiB, false},
                     {"lots", 8 * kGiB, 2 * kGiB, false},
                     {"99999999999999999", 8 * kGiB, 2 * kGiB, false}};
        for (const auto &c : cases) {
            bool valid = !c.valid;
            QVERIFY2(frameBudgetBytes(c.environment, c.physical, &valid) == c.expected, c.environment);
            QVERIFY2(valid == c.valid, c.environment);
            // The queue to the window is part of the budget and never long.
            QVERIFY(frameQueueBytes(c.expected) <= std::min(c.expected / 2, kGiB));
        }
    }

    void ledgerGivesBackEachJobInPostingOrder()
    {
        FrameBudget budget(10000, 10000);
        BatchLedger ledger(budget);
        const auto closeBatch = [&](int number, qint64 bytes, bool save, bool shown) {
            takeIntoOpenBatch(budget, ledger, bytes);
            ledger.closeOpenBatch(number);
            if (save)
                ledger.jobPosted(number);
            if (shown)
                ledger.batchShown(number);
            ledger.settle(number);
        };
        closeBatch(1, 3000, true, true);
        closeBatch(2, 2000, true, true);
        ledger.jobPosted(0); // Save Image: shares the shown batch's pixels, holds nothing
        QCOMPARE(ledger.pendingJobs(), 3);
        QCOMPARE(budget.inFlight(), qint64(5000));
        QVERIFY(ledger.jobEnded()); // batch 1: neither written nor shown any more
        QCOMPARE(budget.inFlight(), qint64(2000));
        QVERIFY(ledger.jobEnded()); // batch 2: written, still shown, charged once until replaced
        QCOMPARE(budget.inFlight(), qint64(2000));
        QCOMPARE(ledger.shownBatchBytes(), qint64(2000));
        QVERIFY(ledger.jobEnded());
        QVERIFY(!ledger.jobEnded());
        closeBatch(3, 1500, false, true); // saving off: the view lets go of the batch before
        QCOMPARE(budget.inFlight(), qint64(1500));
        closeBatch(4, 700, false, false); // neither saved nor shown: back at once
        QCOMPARE(budget.inFlight(), qint64(1500));
        ledger.shownBatchCleared();
        QCOMPARE(budget.inFlight(), qint64(0));
        takeIntoOpenBatch(budget, ledger, 700);
        ledger.discardOpenBatch();
        QCOMPARE(budget.inFlight(), qint64(0));
    }

    // Jobs holding 3000, 5000 and 1000 bytes while they are saved: the budget holds the largest
    // that can run at once, as they are posted and as they end.
    void budgetHoldsTheLargestSavesThatCanRunAtOnce()
    {
        const QMap<int, QList<qint64>> heldAsJobsEnd{
            {1, {5000, 5000, 1000, 0}}, {2, {8000, 6000, 1000, 0}}, {4, {9000, 6000, 1000, 0}}};
        for (auto held = heldAsJobsEnd.cbegin(); held != heldAsJobsEnd.cend(); ++held) {
            FrameBudget budget(10000, 10000);
            BatchLedger ledger(budget, held.key());
            ledger.jobPosted(0, 3000);
            QCOMPARE(budget.inFlight(), qint64(3000));
            ledger.jobPosted(0, 5000);
            ledger.jobPosted(0, 1000);
            QCOMPARE(budget.inFlight(), held->at(0));
            QVERIFY(!budget.reserveQueued(10000 - held->at(0) + 1));
            for (int ended = 1; ended <= 3; ++ended) {
                QVERIFY(ledger.jobEnded());
                QCOMPARE(budget.inFlight(), held->at(ended));
            }
            QVERIFY(!ledger.jobEnded());
        }
    }

    // What saving the open batch would hold is given for the batch as it stands, not added up.
    void openBatchClosesWhenItsSaveWouldPassHalfTheBudget()
    {
        FrameBudget budget(10000, 10000);
        BatchLedger ledger(budget);
        for (int frame = 1; frame <= 4; ++frame) {
            takeIntoOpenBatch(budget, ledger, 1000, 1300 * frame);
            QCOMPARE(ledger.openBatchOutgrowsBudget(), frame >= 3); // 3000 + 3900 > 5000
        }
        ledger.discardOpenBatch();
        QVERIFY(!ledger.openBatchOutgrowsBudget());
        for (int frame = 1; frame <= 4; ++frame) { // a streamed save holds as much for a long batch
            takeIntoOpenBatch(budget, ledger, 1000, 600);
            QVERIFY(!ledger.openBatchOutgrowsBudget());
        }
    }

    void canvasSizeFollowsDirectionFormatAndSegmentLimit()
    {
        // Three frames of 100 x 40 RGB888, as the window keeps them.
        const QList<QImage> three = frames(3, 100, 40);
        QCOMPARE(stitchCanvasBytes(three, 0, "PNG", 32768), qint64(300) * 120); // Left: side by side
        QCOMPARE(stitchCanvasBytes(three, 2, "PNG", 32768), qint64(120) * 300); // Bottom: stacked
        QCOMPARE(stitchCanvasBytes(three, 0, "BMP", 32768), qint64(300) * 160); // a 32-bit canvas
        QCOMPARE(stitchCanvasBytes(three, 3, "JPG", 50), qint64(50) * 300);     // cut at 50 lines
    }

    void streamedFormatsChargeStripsNotTheCanvas_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("direction");
        QTest::addColumn<bool>("gray");
        for (const char *format : {"PNG", "JPG", "TIFF", "BMP"})
            for (int direction : {0, 2})
                for (bool gray : {false, true})
                    QTest::addRow("%s dir %d %s", format, direction, gray ? "gray" : "colour")
                        << QString::fromLatin1(format) << direction << gray;
    }
    // Thirty 1024 x 4096 frames (a 4096-pixel camera's turned for Left or Bottom): a streamed save
    // holds strips of the rows and the file's buffer, far below the canvas, yet at least the strip
    // the encoder is fed; a format Qt writes from a canvas is charged the canvas.
    void streamedFormatsChargeStripsNotTheCanvas()
    {
        QFETCH(QString, format);
        QFETCH(int, direction);
        QFETCH(bool, gray);
        const bool horizontal = direction == 0;
        const QList<QImage> batch = frames(30, horizontal ? 1024 : 4096, horizontal ? 4096 : 1024,
                                           gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        const qint64 canvas = stitchCanvasBytes(batch, direction, format, kMaxStitchDimension);
        const qint64 streamed = stitchSaveBytes(batch, direction, format, kMaxStitchDimension);
        QVERIFY2(streamed * 3 < canvas, qPrintable(QStringLiteral("%1 of %2").arg(streamed).arg(canvas)));
        const qint64 rowBytes = qint64(horizontal ? 30 * 1024 : 4096) * (gray ? 1 : 3);
        const qint64 stripRows = format == "TIFF" ? (qint64(4) << 20) / rowBytes : stripRowsFor(rowBytes);
        QVERIFY(streamed >= stripRows * rowBytes + descriptorBufferBytes());
        // Twice the frames make two segments saved one after the other: about the same charge.
        const qint64 longer = stitchSaveBytes(batch + batch, direction, format, kMaxStitchDimension);
        QVERIFY2(longer * 10 >= streamed * 9 && longer * 10 <= streamed * 11,
                 qPrintable(QString::number(longer)));
        QCOMPARE(stitchSaveBytes(batch, direction, "PPM", kMaxStitchDimension),
                 stitchCanvasBytes(batch, direction, "PPM", kMaxStitchDimension));
        QCOMPARE(stitchSaveBytes({}, direction, format, kMaxStitchDimension), qint64(0));
    }

    // Intake resumes by itself unless only the shown batch could ever make room.
    void shownBatchIsGivenUpOnlyWhenItAloneBlocksIntake()
    {
        // Frames of 1000 bytes in a budget of 10000.
        const struct {
            const char *what;
            qint64 shownBytes;
            int openFrames;
            bool jobPending, frameQueued, blocks;
        } cases[] = {{"room for the next frame", 9000, 0, false, false, false},
                     {"no room, nothing else would free any", 9500, 0, false, false, true},
                     {"an open batch closes at the next drop", 8000, 1, false, false, false},
                     {"a job will end", 8000, 0, true, false, false},
                     {"a queued frame will arrive", 8000, 0, false, true, false}};
        for (const auto &c : cases) {
            FrameBudget budget(10000, 10000);
            BatchLedger ledger(budget);
            takeIntoOpenBatch(budget, ledger, c.shownBytes - 1000);
            takeIntoOpenBatch(budget, ledger, 1000);
            ledger.closeOpenBatch(1);
            ledger.batchShown(1);
            ledger.settle(1);
            if (c.openFrames > 0)
                takeIntoOpenBatch(budget, ledger, 1000);
            if (c.jobPending)
                ledger.jobPosted(0);
            if (c.frameQueued)
                QVERIFY(budget.reserveQueued(500));
            QVERIFY2(ledger.shownBatchBlocksIntake(c.openFrames) == c.blocks, c.what);
        }
    }

    void droppedFramesAreShownWithTheirCount()
    {
        QVERIFY(droppedFramesSuffix(0).isEmpty());
        QVERIFY(droppedFramesSuffix(7).contains(QRegularExpression(QStringLiteral("\\b7\\b"))));
        QVERIFY(droppedFramesWarning(120).contains(QRegularExpression(QStringLiteral("\\b120\\b"))));
        QCOMPARE(frameImageBytes(4096, 1024), qint64(4096) * 3 * 1024);
        QCOMPARE(frameImageBytes(5, 2), qint64(16) * 2); // lines padded to four bytes
        QCOMPARE(frameImageBytes(0, 10), qint64(0));
    }

    void oneSaveFailureBoxAtATimeAndTheRestCounted()
    {
        QMainWindow window;
        window.show();
        SaveFailureNotifier notifier(&window, window.statusBar());
        auto *label = window.statusBar()->findChild<QLabel *>(QStringLiteral("saveFailuresLabel"));
        QVERIFY(label);
        const auto shownBoxes = [] {
            QList<QMessageBox *> boxes;
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                    boxes.append(box);
            return boxes;
        };
        for (int i = 0; i < 6; ++i)
            notifier.report(QStringLiteral("failure %1").arg(i));
        QCoreApplication::processEvents();
        QList<QMessageBox *> boxes = shownBoxes();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first()->text(), QStringLiteral("failure 0"));
        QVERIFY(!boxes.first()->isModal()); // it runs no event loop of its own
        QCOMPARE(notifier.untoldFailures(), 5);
        QVERIFY(label->isVisible() && label->text().contains(QLatin1Char('5')));

        QTest::mouseClick(static_cast<QWidget *>(boxes.first()->button(QMessageBox::Ok)), Qt::LeftButton);
        QTRY_VERIFY(!notifier.isShowing());
        notifier.report(QStringLiteral("next"));
        boxes = shownBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes.first()->text().startsWith(QStringLiteral("next")));
        QVERIFY(boxes.first()->text().contains(QLatin1Char('5')));
        QCOMPARE(notifier.untoldFailures(), 0);
        QVERIFY(!label->isVisible());
        QVERIFY(window.close()); // with the box open
    }

    void frameCountBeyondIntIsClampedNotWrapped()
    {
        ScratchDirectory scratch;
        const QMap<QString, int> read{{"1000000", 1000000},
                                      {"2147483647", INT_MAX},
                                      {"99999999999999", INT_MAX}, // would wrap to 276447231
                                      {"-99999999999999", INT_MIN}};
        for (auto stored = read.cbegin(); stored != read.cend(); ++stored) {
            AppSettings::setValue(AppSettings::kMaxStitchCount, stored.key());
            QCOMPARE(AppSettings::intValue(AppSettings::kMaxStitchCount, 30), stored.value());
        }
    }

    // Memory of a let-go frame serves the next of its size, within a bound on what is kept idle.
    void poolLendsMemoryAgainWithinItsLimit()
    {
        FramePool pool(10 * kMiB);
        QImage first = pool.image(4096, 1024, QImage::Format_Grayscale8); // 4 MiB
        QCOMPARE(first.size(), QSize(4096, 1024));
        QCOMPARE(first.bytesPerLine(), 4096);
        const uchar *pixels = first.constBits();
        first.bits()[0] = 7; // written in place, not copied on write
        QCOMPARE(first.constBits(), pixels);
        QImage copy = first; // a copy holds the memory as long as it lives
        first = QImage();
        QCOMPARE(pool.idleBytes(), qint64(0));
        copy = QImage();
        QCOMPARE(pool.idleBytes(), 4 * kMiB);
        QCOMPARE(pool.image(4096, 1024, QImage::Format_Grayscale8).constBits(), pixels);
        QCOMPARE(pool.reused(), qint64(1));
        QVERIFY(pool.image(4096, 1024, QImage::Format_RGB888).constBits() != pixels); // another size

        QList<QImage> batch;
        for (int i = 0; i < 5; ++i)
            batch.append(pool.image(4096, 1024, QImage::Format_Grayscale8));
        batch.clear();
        QCOMPARE(pool.idleBytes(), 8 * kMiB); // two of the five fit; the rest went back to the system
        pool.image(4096, 1024, QImage::Format_RGB888); // larger than the limit: never kept, evicts nothing
        QCOMPARE(pool.idleBytes(), 8 * kMiB);

        FramePool small(8 * kMiB); // new sizes push out the oldest idle blocks
        small.image(4096, 1024, QImage::Format_Grayscale8);
        small.image(2048, 1024, QImage::Format_RGB888); // 6 MiB
        QCOMPARE(small.idleBytes(), 6 * kMiB);
        QVERIFY(!small.image(4096, 1024, QImage::Format_Grayscale8).isNull());
        QCOMPARE(small.reused(), qint64(0));

        for (int i = 0; i < 3; ++i) // small images are not pooled
            small.image(100, 100, QImage::Format_RGB888).fill(Qt::red);
        QCOMPARE(small.reused(), qint64(0));
        QVERIFY(small.image(0, 10, QImage::Format_RGB888).isNull());
        QVERIFY(small.image(10, -1, QImage::Format_RGB888).isNull());
        QVERIFY(small.image(10, 10, QImage::Format_Invalid).isNull());
    }

    void poolImagesMadeAndLetGoOnManyThreadsKeepTheirPixels()
    {
        // Frames are made on the grab thread and let go of on the window's and the savers'.
        FramePool pool(16 * kMiB);
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&pool, &wrong, t] {
                for (int i = 0; i < 40; ++i) {
                    QImage image = pool.image(1024 + 1024 * (i % 2), 1024, QImage::Format_Grayscale8);
                    const uchar mark = uchar(t * 40 + i);
                    image.fill(mark);
                    std::this_thread::yield();
                    if (image.isNull() || image.constScanLine(1023)[image.width() - 1] != mark
                        || image.constBits()[0] != mark)
                        ++wrong;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(wrong.load(), 0);
        QVERIFY(pool.idleBytes() <= 16 * kMiB);
        QVERIFY(pool.reused() > 0);
    }
};

QTEST_MAIN(FrameBudgetTest)
#include "tst_framebudget.moc"
