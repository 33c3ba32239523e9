// The bookkeeping that keeps frames in flight bounded: the budget the grab
// thread asks before it converts a frame, the window's ledger of what it
// holds, the texts that tell the operator, and the one save-failure box.
#include <QtTest>

#include "appsettings.h"
#include "batchledger.h"
#include "descriptordevice.h"
#include "framebudget.h"
#include "framestatistics.h"
#include "imagewriter.h"
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

QList<QMessageBox *> visibleBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            boxes.append(box);
    return boxes;
}

} // namespace

class TestFrameBudget : public QObject
{
    Q_OBJECT

private slots:
    void reservationsStopAtTheBudgetAndTheQueueBound_data();
    void reservationsStopAtTheBudgetAndTheQueueBound();
    void givenBackBytesMakeRoomAgain();
    void concurrentReservationsNeverPassTheBudget();
    void budgetComesFromTheEnvironmentOrPhysicalMemory_data();
    void budgetComesFromTheEnvironmentOrPhysicalMemory();
    void ledgerGivesBackEachJobInPostingOrder();
    void budgetHoldsTheLargestSavesThatCanRunAtOnce_data();
    void budgetHoldsTheLargestSavesThatCanRunAtOnce();
    void openBatchClosesWhenItsSaveWouldPassHalfTheBudget();
    void canvasSizeFollowsDirectionFormatAndSegmentLimit_data();
    void canvasSizeFollowsDirectionFormatAndSegmentLimit();
    void streamedFormatsChargeStripsNotTheCanvas_data();
    void streamedFormatsChargeStripsNotTheCanvas();
    void streamedSavesLetASmallBudgetHoldLongerBatches_data();
    void streamedSavesLetASmallBudgetHoldLongerBatches();
    void shownBatchIsGivenUpOnlyWhenItAloneBlocksIntake_data();
    void shownBatchIsGivenUpOnlyWhenItAloneBlocksIntake();
    void statusTextsNameTheDroppedFrames();
    void oneSaveFailureBoxAtATimeAndTheRestCounted();
    void frameCountBeyondIntIsClampedNotWrapped_data();
    void frameCountBeyondIntIsClampedNotWrapped();
};

void TestFrameBudget::reservationsStopAtTheBudgetAndTheQueueBound_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("queueLimit");
    QTest::addColumn<qint64>("frameBytes");
    QTest::addColumn<qint64>("dequeuedFirst"); // frames the window takes before the rest arrive
    QTest::addColumn<int>("offered");
    QTest::addColumn<int>("accepted");
    QTest::newRow("budget ends it") << qint64(1000) << qint64(1000) << qint64(300) << qint64(0) << 5 << 3;
    QTest::newRow("exactly full") << qint64(900) << qint64(900) << qint64(300) << qint64(0) << 4 << 3;
    QTest::newRow("queue ends it first") << qint64(1000) << qint64(600) << qint64(300) << qint64(0) << 5 << 2;
    QTest::newRow("taken frames leave the queue, not the budget")
        << qint64(1000) << qint64(600) << qint64(300) << qint64(2) << 5 << 3;
    QTest::newRow("a frame larger than the queue still passes an empty queue")
        << qint64(1000) << qint64(100) << qint64(300) << qint64(0) << 3 << 1;
    QTest::newRow("a frame larger than the budget never passes")
        << qint64(200) << qint64(200) << qint64(300) << qint64(0) << 3 << 0;
}

void TestFrameBudget::reservationsStopAtTheBudgetAndTheQueueBound()
{
    QFETCH(qint64, limit);
    QFETCH(qint64, queueLimit);
    QFETCH(qint64, frameBytes);
    QFETCH(qint64, dequeuedFirst);
    QFETCH(int, offered);
    QFETCH(int, accepted);
    FrameBudget budget(limit, queueLimit);
    int taken = 0;
    for (int i = 0; i < offered; ++i) {
        if (budget.reserveQueued(frameBytes)) {
            ++taken;
            if (taken <= dequeuedFirst)
                budget.dequeued(frameBytes);
        }
    }
    QCOMPARE(taken, accepted);
    QCOMPARE(budget.dropped(), qint64(offered - accepted));
    QCOMPARE(budget.inFlight(), accepted * frameBytes);
    QVERIFY(budget.inFlight() <= limit);
    QCOMPARE(budget.queued(), (accepted - std::min<qint64>(accepted, dequeuedFirst)) * frameBytes);
}

void TestFrameBudget::givenBackBytesMakeRoomAgain()
{
    FrameBudget budget(1000, 1000);
    QVERIFY(budget.reserveQueued(600));
    QVERIFY(!budget.reserveQueued(600));
    budget.dequeued(600);
    budget.release(600);
    QCOMPARE(budget.inFlight(), qint64(0));
    QVERIFY(budget.reserveQueued(600));
    // Bytes that were never reserved (a frame fed to the window directly) do
    // not drive the counts below zero and so cannot widen the budget.
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

void TestFrameBudget::concurrentReservationsNeverPassTheBudget()
{
    // The grab thread reserves while the window gives back: whatever the
    // interleaving, the bytes in flight stay within the limit and every
    // offer is either taken or counted.
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
    while (producer.joinable()) {
        if (released < taken.load()) {
            budget.dequeued(1000);
            budget.release(1000);
            ++released;
        } else if (taken.load() + budget.dropped() >= kOffers) {
            producer.join();
        }
    }
    while (released < taken.load()) {
        budget.release(1000);
        ++released;
    }
    QVERIFY(maxSeen.load() <= 10 * 1000);
    QCOMPARE(taken.load() + budget.dropped(), qint64(kOffers));
    QCOMPARE(budget.inFlight(), qint64(0));
}

void TestFrameBudget::budgetComesFromTheEnvironmentOrPhysicalMemory_data()
{
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<qint64>("physical");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<bool>("valid");
    QTest::newRow("unset, 8 GiB machine: a quarter") << QByteArray() << 8 * kGiB << 2 * kGiB << true;
    QTest::newRow("unset, 64 GiB machine: at most 4 GiB") << QByteArray() << 64 * kGiB << 4 * kGiB << true;
    QTest::newRow("unset, memory unknown") << QByteArray() << qint64(0) << kGiB << true;
    QTest::newRow("set") << QByteArray("512") << 64 * kGiB << 512 * kMiB << true;
    QTest::newRow("set above the default") << QByteArray(" 6144 ") << 8 * kGiB << 6 * kGiB << true;
    QTest::newRow("zero") << QByteArray("0") << 8 * kGiB << 2 * kGiB << false;
    QTest::newRow("negative") << QByteArray("-5") << 8 * kGiB << 2 * kGiB << false;
    QTest::newRow("not a number") << QByteArray("lots") << 8 * kGiB << 2 * kGiB << false;
    QTest::newRow("beyond any machine") << QByteArray("99999999999999999") << 8 * kGiB << 2 * kGiB << false;
}

void TestFrameBudget::budgetComesFromTheEnvironmentOrPhysicalMemory()
{
    QFETCH(QByteArray, environment);
    QFETCH(qint64, physical);
    QFETCH(qint64, expected);
    QFETCH(bool, valid);
    bool wasValid = !valid;
    QCOMPARE(frameBudgetBytes(environment, physical, &wasValid), expected);
    QCOMPARE(wasValid, valid);
    // The queue to the window is part of the budget and never long: at
    // most a GiB, which intake drains in about an eighth of a second.
    QVERIFY(frameQueueBytes(expected) <= expected / 2);
    QVERIFY(frameQueueBytes(expected) <= kGiB);
}

void TestFrameBudget::ledgerGivesBackEachJobInPostingOrder()
{
    FrameBudget budget(10000, 10000);
    BatchLedger ledger(budget);
    // Each batch as the window closes it: frames reserved by the grab thread,
    // taken into the open batch, the batch closed, its job posted, shown.
    const auto closeBatch = [&](int number, qint64 bytes, bool save, bool shown) {
        QVERIFY(budget.reserveQueued(bytes));
        budget.dequeued(bytes);
        ledger.addToOpenBatch(bytes);
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
    // Batch 1 is neither being written nor shown any more.
    QVERIFY(ledger.jobEnded());
    QCOMPARE(budget.inFlight(), qint64(2000));
    // Batch 2 is written but still shown: charged once, until replaced.
    QVERIFY(ledger.jobEnded());
    QCOMPARE(budget.inFlight(), qint64(2000));
    QCOMPARE(ledger.shownBatchBytes(), qint64(2000));
    QVERIFY(ledger.jobEnded());
    QVERIFY(!ledger.jobEnded());
    // Saving off: the view alone holds the batch and lets go of the one before.
    closeBatch(3, 1500, false, true);
    QCOMPARE(budget.inFlight(), qint64(1500));
    // A batch neither saved nor shown (no preview) goes back at once.
    closeBatch(4, 700, false, false);
    QCOMPARE(budget.inFlight(), qint64(1500));
    ledger.shownBatchCleared();
    QCOMPARE(budget.inFlight(), qint64(0));
    QVERIFY(budget.reserveQueued(700));
    budget.dequeued(700);
    ledger.addToOpenBatch(700);
    ledger.discardOpenBatch();
    QCOMPARE(budget.inFlight(), qint64(0));
}

void TestFrameBudget::budgetHoldsTheLargestSavesThatCanRunAtOnce_data()
{
    QTest::addColumn<int>("concurrentSaves");
    QTest::addColumn<QList<qint64>>("heldAsJobsEnd"); // after posting all three, then after each end
    // Jobs holding 3000, 5000 and 1000 bytes while they are saved.
    QTest::newRow("one at a time: the largest") << 1 << QList<qint64>{5000, 5000, 1000, 0};
    QTest::newRow("two at once: the two largest") << 2 << QList<qint64>{8000, 6000, 1000, 0};
    QTest::newRow("more than pending: all of them") << 4 << QList<qint64>{9000, 6000, 1000, 0};
}

void TestFrameBudget::budgetHoldsTheLargestSavesThatCanRunAtOnce()
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
    QCOMPARE(budget.reserveQueued(10000 - heldAsJobsEnd.at(0) + 1), false);
    for (int ended = 1; ended <= 3; ++ended) {
        QVERIFY(ledger.jobEnded());
        QCOMPARE(budget.inFlight(), heldAsJobsEnd.at(ended));
    }
    QVERIFY(!ledger.jobEnded());
}

// What saving the open batch would hold is given for the batch as it
// stands, not added up frame by frame.
void TestFrameBudget::openBatchClosesWhenItsSaveWouldPassHalfTheBudget()
{
    FrameBudget budget(10000, 10000);
    BatchLedger ledger(budget);
    for (int frame = 1; frame <= 4; ++frame) {
        QVERIFY(budget.reserveQueued(1000));
        budget.dequeued(1000);
        ledger.addToOpenBatch(1000, 1300 * frame);
        QCOMPARE(ledger.openBatchOutgrowsBudget(), frame >= 3); // 3000 + 3900 > 5000
    }
    ledger.discardOpenBatch();
    QVERIFY(!ledger.openBatchOutgrowsBudget());
    // A streamed save holds about as much for a long batch as for a short one.
    for (int frame = 1; frame <= 4; ++frame) {
        QVERIFY(budget.reserveQueued(1000));
        budget.dequeued(1000);
        ledger.addToOpenBatch(1000, 600);
        QCOMPARE(ledger.openBatchOutgrowsBudget(), frame >= 5);
    }
}

void TestFrameBudget::canvasSizeFollowsDirectionFormatAndSegmentLimit_data()
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

void TestFrameBudget::canvasSizeFollowsDirectionFormatAndSegmentLimit()
{
    QFETCH(int, direction);
    QFETCH(QString, format);
    QFETCH(int, maxDimension);
    QFETCH(qint64, bytes);
    const QImage frame(100, 40, QImage::Format_RGB888);
    const QList<QImage> frames{frame, frame, frame};
    QCOMPARE(stitchCanvasBytes(frames, direction, format, maxDimension), bytes);
}

void TestFrameBudget::streamedFormatsChargeStripsNotTheCanvas_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("gray");
    for (const char *format : {"PNG", "JPG", "TIFF", "BMP"}) {
        for (int direction : {0, 2}) {
            for (bool gray : {false, true})
                QTest::addRow("%s dir %d %s", format, direction, gray ? "gray" : "colour")
                    << QString::fromLatin1(format) << direction << gray;
        }
    }
}

// Thirty 1024 x 4096 frames, as a 4096-pixel camera's frames turned for Left
// or Bottom: a streamed save holds some strips of the segment's rows and the
// file's buffer, far below the canvas (377 MB in colour), yet at least the strip the
// encoder is fed; a format Qt writes from a canvas is charged the canvas.
void TestFrameBudget::streamedFormatsChargeStripsNotTheCanvas()
{
    QFETCH(QString, format);
    QFETCH(int, direction);
    QFETCH(bool, gray);
    const bool horizontal = direction == 0;
    const QImage frame(horizontal ? 1024 : 4096, horizontal ? 4096 : 1024,
                       gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    QList<QImage> batch;
    for (int i = 0; i < 30; ++i)
        batch.append(frame);
    const qint64 canvas = stitchCanvasBytes(batch, direction, format, kMaxStitchDimension);
    const qint64 streamed = stitchSaveBytes(batch, direction, format, kMaxStitchDimension);
    QVERIFY2(streamed * 3 < canvas, qPrintable(QStringLiteral("%1 of %2").arg(streamed).arg(canvas)));
    const qint64 rowBytes = qint64(horizontal ? 30 * 1024 : 4096) * (gray ? 1 : 3);
    const qint64 stripRows
        = format == QLatin1String("TIFF") ? (qint64(4) << 20) / rowBytes : stripRowsFor(rowBytes);
    QVERIFY(streamed >= stripRows * rowBytes + descriptorBufferBytes());
    // Twice the frames make two segments saved one after the other: about
    // the same charge (strips of the longer rows round differently).
    const QList<QImage> twice = batch + batch;
    const qint64 longer = stitchSaveBytes(twice, direction, format, kMaxStitchDimension);
    QVERIFY2(longer * 10 >= streamed * 9 && longer * 10 <= streamed * 11,
             qPrintable(QString::number(longer)));
    // Qt's own writers need the whole picture first.
    QCOMPARE(stitchSaveBytes(batch, direction, QStringLiteral("PPM"), kMaxStitchDimension),
             stitchCanvasBytes(batch, direction, QStringLiteral("PPM"), kMaxStitchDimension));
    QCOMPARE(stitchSaveBytes({}, direction, format, kMaxStitchDimension), qint64(0));
}

void TestFrameBudget::streamedSavesLetASmallBudgetHoldLongerBatches_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("fewest");
    QTest::addColumn<int>("most");
    // 12 MiB frames (1024 x 4096 RGB), a budget of 600 MiB: half of it for
    // the open batch and its save, so frames alone would close the batch at
    // the 25th. A canvas as large as the frames closes it at the 13th; a
    // streamed save's strips cost at most a few frames' worth.
    QTest::newRow("TIFF") << "TIFF" << 24 << 24;
    QTest::newRow("BMP") << "BMP" << 22 << 24;
    QTest::newRow("JPG") << "JPG" << 22 << 24;
    QTest::newRow("PNG") << "PNG" << 21 << 24;
    QTest::newRow("PPM, composed on a canvas") << "PPM" << 12 << 12;
}

// Frames are added as the window adds them: each with what saving the open
// batch would hold; the batch closes once that passes half the budget.
void TestFrameBudget::streamedSavesLetASmallBudgetHoldLongerBatches()
{
    QFETCH(QString, format);
    QFETCH(int, fewest);
    QFETCH(int, most);
    const qint64 mib = 1 << 20;
    FrameBudget budget(600 * mib, 600 * mib);
    BatchLedger ledger(budget);
    const QImage frame(1024, 4096, QImage::Format_RGB888);
    const qint64 frameBytes = frame.sizeInBytes();
    QList<QImage> open;
    int frames = 0;
    while (frames < 100 && !ledger.openBatchOutgrowsBudget()) {
        QVERIFY(budget.reserveQueued(frameBytes));
        budget.dequeued(frameBytes);
        open.append(frame);
        ledger.addToOpenBatch(frameBytes, stitchSaveBytes(open, 0, format, kMaxStitchDimension));
        ++frames;
    }
    // The frame that passed the half is the last of the batch.
    QVERIFY2(frames - 1 >= fewest && frames - 1 <= most, qPrintable(QString::number(frames)));
}

void TestFrameBudget::shownBatchIsGivenUpOnlyWhenItAloneBlocksIntake_data()
{
    QTest::addColumn<qint64>("shownBytes");
    QTest::addColumn<int>("openFrames");
    QTest::addColumn<bool>("jobPending");
    QTest::addColumn<bool>("frameQueued");
    QTest::addColumn<bool>("blocks");
    // Frames of 1000 bytes in a budget of 10000.
    QTest::newRow("room for the next frame") << qint64(9000) << 0 << false << false << false;
    QTest::newRow("no room, nothing else would free any") << qint64(9500) << 0 << false << false << true;
    QTest::newRow("an open batch closes at the next drop") << qint64(8000) << 1 << false << false << false;
    QTest::newRow("a job will end") << qint64(8000) << 0 << true << false << false;
    QTest::newRow("a queued frame will arrive") << qint64(8000) << 0 << false << true << false;
}

void TestFrameBudget::shownBatchIsGivenUpOnlyWhenItAloneBlocksIntake()
{
    QFETCH(qint64, shownBytes);
    QFETCH(int, openFrames);
    QFETCH(bool, jobPending);
    QFETCH(bool, frameQueued);
    QFETCH(bool, blocks);
    FrameBudget budget(10000, 10000);
    BatchLedger ledger(budget);
    QVERIFY(budget.reserveQueued(shownBytes - 1000));
    QVERIFY(budget.reserveQueued(1000));
    budget.dequeued(shownBytes);
    ledger.addToOpenBatch(shownBytes - 1000);
    ledger.addToOpenBatch(1000);
    ledger.closeOpenBatch(1);
    ledger.batchShown(1);
    ledger.settle(1);
    if (openFrames > 0) {
        QVERIFY(budget.reserveQueued(1000));
        budget.dequeued(1000);
        ledger.addToOpenBatch(1000);
    }
    if (jobPending)
        ledger.jobPosted(0);
    if (frameQueued)
        QVERIFY(budget.reserveQueued(500));
    QCOMPARE(ledger.shownBatchBlocksIntake(openFrames), blocks);
}

void TestFrameBudget::statusTextsNameTheDroppedFrames()
{
    QCOMPARE(droppedFramesSuffix(0), QString());
    QCOMPARE(droppedFramesSuffix(7), QStringLiteral(" | Dropped: 7"));
    QCOMPARE(droppedFramesWarning(120), QStringLiteral("Saving cannot keep up: 120 frames dropped"));
    QCOMPARE(frameImageBytes(4096, 1024), qint64(4096) * 3 * 1024);
    QCOMPARE(frameImageBytes(5, 2), qint64(16) * 2); // lines padded to four bytes
    QCOMPARE(frameImageBytes(0, 10), qint64(0));
}

void TestFrameBudget::oneSaveFailureBoxAtATimeAndTheRestCounted()
{
    QMainWindow window;
    window.show();
    SaveFailureNotifier notifier(&window, window.statusBar());
    auto *label = window.statusBar()->findChild<QLabel *>(QStringLiteral("saveFailuresLabel"));
    QVERIFY(label);

    notifier.report(QStringLiteral("first"));
    for (int i = 0; i < 5; ++i)
        notifier.report(QStringLiteral("later %1").arg(i));
    QCoreApplication::processEvents();
    QList<QMessageBox *> boxes = visibleBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->text(), QStringLiteral("first"));
    QCOMPARE(boxes.first()->windowTitle(), QStringLiteral("Save Image"));
    QCOMPARE(boxes.first()->icon(), QMessageBox::Critical);
    // It runs no event loop of its own: the window stays usable.
    QVERIFY(!boxes.first()->isModal());
    QCOMPARE(notifier.untoldFailures(), 5);
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(), untoldSaveFailuresText(5));

    QTest::mouseClick(static_cast<QWidget *>(boxes.first()->button(QMessageBox::Ok)), Qt::LeftButton);
    QTRY_VERIFY(!notifier.isShowing());
    notifier.report(QStringLiteral("next"));
    boxes = visibleBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->text(), QStringLiteral("next\n\n") + untoldSaveFailuresText(5));
    QCOMPARE(notifier.untoldFailures(), 0);
    QVERIFY(!label->isVisible());
    // The window closes with the box open.
    QVERIFY(window.close());
}

void TestFrameBudget::frameCountBeyondIntIsClampedNotWrapped_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("read");
    QTest::newRow("fits") << "1000000" << 1000000;
    QTest::newRow("largest int") << "2147483647" << INT_MAX;
    QTest::newRow("would wrap to 276447231") << "99999999999999" << INT_MAX;
    QTest::newRow("far below") << "-99999999999999" << INT_MIN;
}

void TestFrameBudget::frameCountBeyondIntIsClampedNotWrapped()
{
    QFETCH(QString, stored);
    QFETCH(int, read);
    ScratchDirectory scratch;
    AppSettings::setValue(AppSettings::kMaxStitchCount, stored);
    QCOMPARE(AppSettings::intValue(AppSettings::kMaxStitchCount, 30), read);
}

QTEST_MAIN(TestFrameBudget)
#include "tst_framebudget.moc"
