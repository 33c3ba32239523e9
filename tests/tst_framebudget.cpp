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
void takeIntoOpenBatch(FrameBudget &budget, BatchLedger &ledger, qint64 bytes, qint64 saveBytes = -1)
{
    QVERIFY(budget.reserveQueued(bytes));
    budget.dequeued(bytes);
    if (saveBytes < 0)
        ledger.addToOpenBatch(bytes);
    else
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
    void reservationsStopAtTheBudgetAndTheQueueBound_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<qint64>("queueLimit");
        QTest::addColumn<int>("dequeuedFirst"); // frames the window takes before the rest arrive
        QTest::addColumn<int>("offered");
        QTest::addColumn<int>("accepted");
        // Frames of 300 bytes.
        QTest::newRow("budget ends it") << qint64(1000) << qint64(1000) << 0 << 5 << 3;
        QTest::newRow("exactly full") << qint64(900) << qint64(900) << 0 << 4 << 3;
        QTest::newRow("queue ends it first") << qint64(1000) << qint64(600) << 0 << 5 << 2;
        QTest::newRow("taken frames leave the queue, not the budget")
            << qint64(1000) << qint64(600) << 2 << 5 << 3;
        QTest::newRow("larger than the queue, yet an empty queue passes it")
            << qint64(1000) << qint64(100) << 0 << 3 << 1;
        QTest::newRow("larger than the budget never passes") << qint64(200) << qint64(200) << 0 << 3 << 0;
    }
    void reservationsStopAtTheBudgetAndTheQueueBound()
    {
        QFETCH(qint64, limit);
        QFETCH(qint64, queueLimit);
        QFETCH(int, dequeuedFirst);
        QFETCH(int, offered);
        QFETCH(int, accepted);
        FrameBudget budget(limit, queueLimit);
        int taken = 0;
        for (int i = 0; i < offered; ++i) {
            if (budget.reserveQueued(300) && ++taken <= dequeuedFirst)
                budget.dequeued(300);
        }
        QCOMPARE(taken, accepted);
        QCOMPARE(budget.dropped(), qint64(offered - accepted));
        QCOMPARE(budget.inFlight(), accepted * 300);
        QCOMPARE(budget.queued(), (accepted - std::min(accepted, dequeuedFirst)) * 300);
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
        while (released < kOffers && (released < taken.load() || taken.load() + budget.dropped() < kOffers)) {
            if (released < taken.load()) {
                budget.dequeued(1000);
                budget.release(1000);
                ++released;
            }
        }
        producer.join();
        QVERIFY(maxSeen.load() <= 10 * 1000);
        QCOMPARE(taken.load() + budget.dropped(), qint64(kOffers));
        QCOMPARE(budget.inFlight(), qint64(0));
    }

    void budgetComesFromTheEnvironmentOrPhysicalMemory_data()
    {
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<qint64>("physical");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<bool>("valid");
        QTest::newRow("unset, 8 GiB machine: a quarter") << QByteArray() << 8 * kGiB << 2 * kGiB << true;
        QTest::newRow("unset, 64 GiB machine: at most 4 GiB")
            << QByteArray() << 64 * kGiB << 4 * kGiB << true;
        QTest::newRow("unset, memory unknown") << QByteArray() << qint64(0) << kGiB << true;
        QTest::newRow("set") << QByteArray("512") << 64 * kGiB << 512 * kMiB << true;
        QTest::newRow("set above the default") << QByteArray(" 6144 ") << 8 * kGiB << 6 * kGiB << true;
        QTest::newRow("zero") << QByteArray("0") << 8 * kGiB << 2 * kGiB << false;
        QTest::newRow("negative") << QByteArray("-5") << 8 * kGiB << 2 * kGiB << false;
        QTest::newRow("not a number") << QByteArray("lots") << 8 * kGiB << 2 * kGiB << false;
        QTest::newRow("beyond any machine")
            << QByteArray("99999999999999999") << 8 * kGiB << 2 * kGiB << false;
    }
    void budgetComesFromTheEnvironmentOrPhysicalMemory()
    {
        QFETCH(QByteArray, environment);
        QFETCH(qint64, physical);
        QFETCH(qint64, expected);
        QFETCH(bool, valid);
        bool wasValid = !valid;
        QCOMPARE(frameBudgetBytes(environment, physical, &wasValid), expected);
        QCOMPARE(wasValid, valid);
        // The queue to the window is part of the budget and never long.
        QVERIFY(frameQueueBytes(expected) <= std::min(expected / 2, kGiB));
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

    void budgetHoldsTheLargestSavesThatCanRunAtOnce_data()
    {
        QTest::addColumn<int>("concurrentSaves");
        QTest::addColumn<QList<qint64>>("heldAsJobsEnd"); // after posting all three, then after each end
        // Jobs holding 3000, 5000 and 1000 bytes while they are saved.
        QTest::newRow("one at a time: the largest") << 1 << QList<qint64>{5000, 5000, 1000, 0};
        QTest::newRow("two at once: the two largest") << 2 << QList<qint64>{8000, 6000, 1000, 0};
        QTest::newRow("more than pending: all of them") << 4 << QList<qint64>{9000, 6000, 1000, 0};
    }
    void budgetHoldsTheLargestSavesThatCanRunAtOnce()
    {
        QFETCH(int, concurrentSaves);
        QFETCH(QList<qint64>, heldAsJobsEnd);
        FrameBudget budget(10000, 10000);
        BatchLedger ledger(budget, concurrentSaves);
        ledger.jobPosted(0, 3000);
        QCOMPARE(budget.inFlight(), qint64(3000));
        ledger.jobPosted(0, 5000);
        ledger.jobPosted(0, 1000);
        QCOMPARE(budget.inFlight(), heldAsJobsEnd.at(0));
        QVERIFY(!budget.reserveQueued(10000 - heldAsJobsEnd.at(0) + 1));
        for (int ended = 1; ended <= 3; ++ended) {
            QVERIFY(ledger.jobEnded());
            QCOMPARE(budget.inFlight(), heldAsJobsEnd.at(ended));
        }
        QVERIFY(!ledger.jobEnded());
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

    void canvasSizeFollowsDirectionFormatAndSegmentLimit_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("maxDimension");
        QTest::addColumn<qint64>("bytes");
        // Three frames of 100 x 40 RGB888, as the window keeps them.
        QTest::newRow("Left, PNG: side by side") << 0 << "PNG" << 32768 << qint64(300) * 120;
        QTest::newRow("Bottom, PNG: stacked") << 2 << "PNG" << 32768 << qint64(120) * 300;
        QTest::newRow("Left, BMP: 32-bit canvas") << 0 << "BMP" << 32768 << qint64(300) * 160;
        QTest::newRow("Top, JPG, cut at 50 lines") << 3 << "JPG" << 50 << qint64(50) * 300;
    }
    void canvasSizeFollowsDirectionFormatAndSegmentLimit()
    {
        QFETCH(int, direction);
        QFETCH(QString, format);
        QFETCH(int, maxDimension);
        QTEST(stitchCanvasBytes(frames(3, 100, 40), direction, format, maxDimension), "bytes");
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

    void streamedSavesLetASmallBudgetHoldLongerBatches_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("fewest");
        QTest::addColumn<int>("most");
        // 12 MiB frames in 600 MiB, half of it for the open batch and its save: frames alone close
        // the batch at the 25th, a canvas as large as the frames at the 13th.
        QTest::newRow("TIFF") << "TIFF" << 24 << 24;
        QTest::newRow("BMP") << "BMP" << 22 << 24;
        QTest::newRow("JPG") << "JPG" << 22 << 24;
        QTest::newRow("PNG") << "PNG" << 21 << 24;
        QTest::newRow("PPM, composed on a canvas") << "PPM" << 12 << 12;
    }
    void streamedSavesLetASmallBudgetHoldLongerBatches()
    {
        QFETCH(QString, format);
        QFETCH(int, fewest);
        QFETCH(int, most);
        FrameBudget budget(600 * kMiB, 600 * kMiB);
        BatchLedger ledger(budget);
        QList<QImage> open;
        while (open.size() < 100 && !ledger.openBatchOutgrowsBudget()) {
            open.append(QImage(1024, 4096, QImage::Format_RGB888));
            takeIntoOpenBatch(budget, ledger, 12 * kMiB,
                              stitchSaveBytes(open, 0, format, kMaxStitchDimension));
        }
        // The frame that passed the half is the last of the batch.
        QVERIFY2(open.size() - 1 >= fewest && open.size() - 1 <= most,
                 qPrintable(QString::number(open.size())));
    }

    // Intake resumes by itself unless only the shown batch could ever make room.
    void shownBatchIsGivenUpOnlyWhenItAloneBlocksIntake_data()
    {
        QTest::addColumn<qint64>("shownBytes");
        QTest::addColumn<int>("openFrames");
        QTest::addColumn<bool>("jobPending");
        QTest::addColumn<bool>("frameQueued");
        QTest::addColumn<bool>("blocks");
        // Frames of 1000 bytes in a budget of 10000.
        QTest::newRow("room for the next frame") << qint64(9000) << 0 << false << false << false;
        QTest::newRow("no room, nothing else would free any") << qint64(9500) << 0 << false << false << true;
        QTest::newRow("an open batch closes at the next drop")
            << qint64(8000) << 1 << false << false << false;
        QTest::newRow("a job will end") << qint64(8000) << 0 << true << false << false;
        QTest::newRow("a queued frame will arrive") << qint64(8000) << 0 << false << true << false;
    }
    void shownBatchIsGivenUpOnlyWhenItAloneBlocksIntake()
    {
        QFETCH(qint64, shownBytes);
        QFETCH(int, openFrames);
        QFETCH(bool, jobPending);
        QFETCH(bool, frameQueued);
        FrameBudget budget(10000, 10000);
        BatchLedger ledger(budget);
        takeIntoOpenBatch(budget, ledger, shownBytes - 1000);
        takeIntoOpenBatch(budget, ledger, 1000);
        ledger.closeOpenBatch(1);
        ledger.batchShown(1);
        ledger.settle(1);
        if (openFrames > 0)
            takeIntoOpenBatch(budget, ledger, 1000);
        if (jobPending)
            ledger.jobPosted(0);
        if (frameQueued)
            QVERIFY(budget.reserveQueued(500));
        QTEST(ledger.shownBatchBlocksIntake(openFrames), "blocks");
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

    void frameCountBeyondIntIsClampedNotWrapped_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("read");
        QTest::newRow("fits") << "1000000" << 1000000;
        QTest::newRow("largest int") << "2147483647" << INT_MAX;
        QTest::newRow("would wrap to 276447231") << "99999999999999" << INT_MAX;
        QTest::newRow("far below") << "-99999999999999" << INT_MIN;
    }
    void frameCountBeyondIntIsClampedNotWrapped()
    {
        QFETCH(QString, stored);
        ScratchDirectory scratch;
        AppSettings::setValue(AppSettings::kMaxStitchCount, stored);
        QTEST(AppSettings::intValue(AppSettings::kMaxStitchCount, 30), "read");
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
