// What keeps frames in flight bounded: the grab thread's budget, the window's ledger of what its
// batches and saves hold, and the pool that lends frame memory again.
#include <QtTest>

#include "appsettings.h"
#include "batchledger.h"
#include "descriptordevice.h"
#include "framebudget.h"
#include "framepool.h"
#include "naming.h"
#include "scratchdirectory.h"
#include "segmentpicture.h"

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

} // namespace

class FrameBudgetTest : public QObject
{
    Q_OBJECT

private slots:
    void reservationsStopAtTheBoundsEvenWhenConcurrent()
    {
        // {budget, queue bound, taken, offered, accepted} of frames of 300 bytes; `taken` of them leave
        // the queue for the window before the rest arrive.
        const int cases[][5] = {{1000, 1000, 0, 5, 3}, // the budget ends it
                                {900, 900, 0, 4, 3},   // exactly full
                                {1000, 600, 0, 5, 2},  // the queue ends it first
                                {1000, 600, 2, 5, 3},  // taken frames leave the queue, not the budget
                                {1000, 100, 0, 3, 1},  // larger than the queue, yet an empty queue passes it
                                {200, 200, 0, 3, 0}};  // larger than the budget never passes
        for (const auto &[limit, queueLimit, taken, offered, expected] : cases) {
            FrameBudget budget(limit, queueLimit);
            int accepted = 0;
            for (int i = 0; i < offered; ++i) {
                if (budget.reserveQueued(300) && ++accepted <= taken)
                    budget.dequeued(300);
            }
            const QByteArray row = QByteArray::number(limit) + "/" + QByteArray::number(queueLimit);
            QVERIFY2(accepted == expected && budget.dropped() == offered - accepted, row);
            QVERIFY2(budget.inFlight() == accepted * 300
                         && budget.queued() == (accepted - std::min(accepted, taken)) * 300,
                     row);
        }
        // Given back bytes make room again; bytes never reserved (a frame fed to the window
        // directly) cannot drive the counts below zero and so widen the budget.
        FrameBudget budget(1000, 1000);
        QVERIFY(budget.reserveQueued(600) && !budget.reserveQueued(600));
        budget.dequeued(600);
        budget.release(5600);
        budget.dequeued(5000);
        QCOMPARE(budget.queued() + budget.inFlight(), qint64(0));
        QVERIFY(budget.reserveQueued(1000) && !budget.reserveQueued(1));
        QCOMPARE(frameImageBytes(5, 2, 24), qint64(16) * 2); // lines padded to four bytes

        // Frames are reserved and pooled on the grab thread and let go of on the window's and the
        // savers': no reservation passes the budget, every offer is taken or counted, no pixels mix.
        FrameBudget shared(3000, 3000);
        FramePool pool(16 * kMiB);
        std::atomic<int> taken{0}, wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 4000; ++i) {
                    if (shared.reserveQueued(1000)) {
                        wrong += shared.inFlight() > 3000;
                        ++taken;
                        shared.dequeued(1000);
                        shared.release(1000);
                    }
                    if (i % 100)
                        continue;
                    QImage image = pool.image(1024 + 1024 * (i / 100 % 2), 1024, QImage::Format_Grayscale8);
                    const uchar mark = uchar(t * 40 + i / 100);
                    image.fill(mark);
                    std::this_thread::yield();
                    wrong += image.constScanLine(1023)[image.width() - 1] != mark
                        || image.constBits()[0] != mark;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(wrong.load(), 0);
        QCOMPARE(taken.load() + shared.dropped(), qint64(4 * 4000));
        QCOMPARE(shared.inFlight() + shared.queued(), qint64(0));
        QVERIFY(pool.idleBytes() <= 16 * kMiB && pool.reused() > 0);
    }

    void limitsFromTheEnvironmentAndSettingsFileAreClamped()
    {
        // {environment, physical memory, budget, environment valid}
        const std::tuple<const char *, qint64, qint64, bool> cases[]
            = {{"", 8 * kGiB, 2 * kGiB, true},  // a quarter
               {"", 64 * kGiB, 4 * kGiB, true}, // at most 4 GiB
               {"", 0, kGiB, true},             // memory unknown
               {"512", 64 * kGiB, 512 * kMiB, true},
               {" 6144 ", 8 * kGiB, 6 * kGiB, true},
               {"0", 8 * kGiB, 2 * kGiB, false},
               {"99999999999999999", 8 * kGiB, 2 * kGiB, false}};
        for (const auto &[environment, physical, expected, expectValid] : cases) {
            bool valid = !expectValid;
            QVERIFY2(frameBudgetBytes(environment, physical, &valid) == expected && valid == expectValid,
                     environment);
            // The queue to the window is part of the budget and never long.
            QVERIFY(frameQueueBytes(expected) <= std::min(expected / 2, kGiB));
        }
        // A stored frame count beyond int is clamped: 99999999999999 would wrap to 276447231.
        ScratchDirectory scratch;
        for (const auto &[stored, read] :
             {std::pair("99999999999999", INT_MAX), std::pair("-99999999999999", INT_MIN)}) {
            AppSettings::setValue(AppSettings::kMaxStitchCount, stored);
            QCOMPARE(AppSettings::intValue(AppSettings::kMaxStitchCount, 30), read);
        }
    }

    void ledgerHoldsBatchesAndSavesUntilLetGo()
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
        QCOMPARE(budget.inFlight(), qint64(5000));
        QVERIFY(ledger.jobEnded()); // batch 1: neither written nor shown any more
        QCOMPARE(budget.inFlight(), qint64(2000));
        QVERIFY(ledger.jobEnded()); // batch 2: written, still shown, charged once until replaced
        QCOMPARE(budget.inFlight(), qint64(2000));
        QCOMPARE(ledger.shownBatchBytes(), qint64(2000));
        QVERIFY(ledger.jobEnded() && !ledger.jobEnded());
        closeBatch(3, 1500, false, true); // saving off: the view lets go of the batch before
        QCOMPARE(budget.inFlight(), qint64(1500));
        closeBatch(4, 700, false, false); // neither saved nor shown: back at once
        QCOMPARE(budget.inFlight(), qint64(1500));
        ledger.shownBatchCleared();
        QCOMPARE(budget.inFlight(), qint64(0));
        takeIntoOpenBatch(budget, ledger, 700);
        ledger.discardOpenBatch();
        QCOMPARE(budget.inFlight(), qint64(0));
        // What saving the open batch would hold is given for the batch as it stands, not added up.
        for (int frame = 1; frame <= 4; ++frame) {
            takeIntoOpenBatch(budget, ledger, 1000, 1300 * frame);
            QCOMPARE(ledger.openBatchOutgrowsBudget(), frame >= 3); // 3000 + 3900 > 5000
        }
        // Jobs holding 3000, 5000 and 1000 bytes while they are saved: the budget holds the largest
        // that can run at once, as they are posted and as they end.
        const QMap<int, QList<qint64>> heldAsJobsEnd{
            {1, {5000, 5000, 1000, 0}}, {2, {8000, 6000, 1000, 0}}, {4, {9000, 6000, 1000, 0}}};
        for (auto held = heldAsJobsEnd.cbegin(); held != heldAsJobsEnd.cend(); ++held) {
            FrameBudget saves(10000, 10000);
            BatchLedger concurrent(saves, held.key());
            concurrent.jobPosted(0, 3000);
            QCOMPARE(saves.inFlight(), qint64(3000));
            concurrent.jobPosted(0, 5000);
            concurrent.jobPosted(0, 1000);
            QCOMPARE(saves.inFlight(), held->at(0));
            for (int ended = 1; ended <= 3; ++ended) {
                QVERIFY(concurrent.jobEnded());
                QCOMPARE(saves.inFlight(), held->at(ended));
            }
        }
        // Intake resumes by itself unless only the shown batch could ever make room. Frames of 1000
        // bytes in a budget of 10000: {shown bytes, open frames, a job pending, a frame queued, blocks}.
        const int cases[][5] = {{9000, 0, 0, 0, 0},  // room for the next frame
                                {9500, 0, 0, 0, 1},  // no room, nothing else would free any
                                {8000, 1, 0, 0, 0},  // an open batch closes at the next drop
                                {8000, 0, 1, 0, 0},  // a job will end
                                {8000, 0, 0, 1, 0}}; // a queued frame will arrive
        for (const auto &[shownBytes, openFrames, jobPending, frameQueued, blocks] : cases) {
            FrameBudget room(10000, 10000);
            BatchLedger shownOnly(room);
            takeIntoOpenBatch(room, shownOnly, shownBytes - 1000);
            takeIntoOpenBatch(room, shownOnly, 1000);
            shownOnly.closeOpenBatch(1);
            shownOnly.batchShown(1);
            shownOnly.settle(1);
            if (openFrames > 0)
                takeIntoOpenBatch(room, shownOnly, 1000);
            if (jobPending)
                shownOnly.jobPosted(0);
            if (frameQueued)
                QVERIFY(room.reserveQueued(500));
            QCOMPARE(shownOnly.shownBatchBlocksIntake(openFrames), bool(blocks));
        }
    }

    // Thirty 1024 x 4096 frames: a streamed save holds strips of rows and the file's buffer, far
    // below the whole picture, yet at least the strip the encoder is fed.
    void streamedFormatsChargeStripsNotTheCanvas_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("bytes"); // a pixel of the frames: 1 gray, 2 16-bit gray, 3 colour
        for (const char *format : {"PNG", "JPG", "TIFF", "BMP"})
            for (int direction : {0, 2})
                for (int bytes : {1, 2, 3})
                    QTest::addRow("%s dir %d, %d bytes a pixel", format, direction, bytes)
                        << QString::fromLatin1(format) << direction << bytes;
    }
    void streamedFormatsChargeStripsNotTheCanvas()
    {
        QFETCH(QString, format);
        QFETCH(int, direction);
        QFETCH(int, bytes);
        const bool horizontal = direction == 0;
        const QImage::Format formats[]
            = {QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_RGB888};
        const QImage frame(horizontal ? 1024 : 4096, horizontal ? 4096 : 1024, formats[bytes - 1]);
        const QList<QImage> batch = QVector<QImage>(30, frame).toList();
        const qint64 canvas = qint64(4096) * (30 * 1024) * bytes;
        const ImageFormat type = imageFormatFromSetting(format);
        const qint64 streamed = stitchSaveBytes(batch, direction, type, kMaxStitchDimension);
        QVERIFY2(streamed * 3 < canvas, qPrintable(QStringLiteral("%1 of %2").arg(streamed).arg(canvas)));
        // BMP and JPEG hold 16-bit frames' top bits: 8-bit rows.
        const int rowPixelBytes = bytes == 2 && (format == "BMP" || format == "JPG") ? 1 : bytes;
        const qint64 rowBytes = qint64(horizontal ? 30 * 1024 : 4096) * rowPixelBytes;
        const qint64 stripRows = format == "TIFF" ? (qint64(4) << 20) / rowBytes : stripRowsFor(rowBytes);
        QVERIFY(streamed >= stripRows * rowBytes + descriptorBufferBytes());
        // Twice the frames make two segments saved one after the other: about the same charge.
        const qint64 longer = stitchSaveBytes(batch + batch, direction, type, kMaxStitchDimension);
        QVERIFY2(longer * 10 >= streamed * 9 && longer * 10 <= streamed * 11,
                 qPrintable(QString::number(longer)));
        QCOMPARE(stitchSaveBytes({}, direction, type, kMaxStitchDimension), qint64(0));
    }

    void poolLendsMemoryAgainWithinItsLimit()
    {
        FramePool pool(10 * kMiB);
        QImage first = pool.image(4096, 1024, QImage::Format_Grayscale8); // 4 MiB
        const uchar *pixels = first.constBits();
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

        FramePool small(10 * kMiB); // new sizes push out the oldest idle blocks: 4 MiB for the 6
        for (const int width : {4096, 2048, 6144})
            small.image(width, 1024, QImage::Format_Grayscale8);
        QCOMPARE(small.idleBytes(), 8 * kMiB);
        QVERIFY(!small.image(4096, 1024, QImage::Format_Grayscale8).isNull());
        for (int i = 0; i < 3; ++i) // small images are not pooled
            small.image(100, 100, QImage::Format_RGB888).fill(Qt::red);
        QCOMPARE(small.reused(), qint64(0));
    }
};

QTEST_MAIN(FrameBudgetTest)
#include "tst_framebudget.moc"
