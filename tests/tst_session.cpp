// The stitch session driven frame by frame: the window is built for real, the
// camera state is set by the test, and frames are handed to the slots the grab
// thread reaches.
#include <QtTest>

#include "appsettings.h"
#include "mainwindow.h"
#include "scratchdirectory.h"
#include "ui_mainwindow.h"
#include "workthread.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QScrollBar>

#include <memory>

namespace {

// A camera frame of 40 pixels per line and 8 lines; incomplete ones are shorter.
constexpr int kWidth = 40;
constexpr int kLines = 8;

QImage cameraFrame(int lines = kLines, QColor color = Qt::gray)
{
    QImage frame(kWidth, lines, QImage::Format_RGB888);
    frame.fill(color);
    return frame;
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window;

    MainWindow &w()
    {
        return *m_window;
    }

    // Hands one frame to the window as the grab thread does.
    void feed(const QImage &frame)
    {
        QMetaObject::invokeMethod(&w(), "onChangeDetected", Q_ARG(QImage, frame),
                                  Q_ARG(QImage, frame), Q_ARG(qlonglong, 0), Q_ARG(qlonglong, 0));
    }
    void feedComplete(int count)
    {
        for (int i = 0; i < count; ++i)
            feed(cameraFrame());
    }
    // Runs a private slot of the window, as its action or the camera code does.
    void call(const char *slot)
    {
        QVERIFY(QMetaObject::invokeMethod(&w(), slot));
    }
    // The camera's full frame size, as if read from the camera.
    void knowCameraSize()
    {
        const bool swapped = w().m_stitchDirection == 0 || w().m_stitchDirection == 1;
        w().m_expectedFrameWidth = swapped ? kLines : kWidth;
        w().m_expectedFrameHeight = swapped ? kWidth : kLines;
        w().m_expectedFrameSizeKnown = true;
    }
    QList<QGraphicsPixmapItem *> stitchItems()
    {
        QList<QGraphicsPixmapItem *> items;
        for (QGraphicsItem *item : w().m_stitchScene->items())
            if (auto *pixmap = qgraphicsitem_cast<QGraphicsPixmapItem *>(item))
                items.append(pixmap);
        return items;
    }

private slots:
    void init();
    void cleanup();

    void batchClosesWhenItHoldsTheFrameCount_data();
    void batchClosesWhenItHoldsTheFrameCount();
    void incompleteFrameClosesTheBatch_data();
    void incompleteFrameClosesTheBatch();
    void framesCountAsCompleteWhileTheCameraSizeIsUnknown();
    void framesAreIgnoredUnlessGrabbingOpenAndStitching_data();
    void framesAreIgnoredUnlessGrabbingOpenAndStitching();
    void framesAreTurnedForTheDirectionBeforeBatching_data();
    void framesAreTurnedForTheDirectionBeforeBatching();
    void batchNumbersKeepRisingOverClearImagesAndWhileSavingIsOff();
    void changingTheDirectionDiscardsTheOpenBatchOnlyWhenItDiffers_data();
    void changingTheDirectionDiscardsTheOpenBatchOnlyWhenItDiffers();
    void changingTheFrameCountClosesABatchThatIsAlreadyFull_data();
    void changingTheFrameCountClosesABatchThatIsAlreadyFull();
    void frameCountIsRaisedToOneAndWrittenAtOnce();
    void clearImagesEmptiesTheViewAndBothBatchesButKeepsTheSession();
    void shownBatchIsPlacedFramedAndScrolledToTheNewestFrame_data();
    void shownBatchIsPlacedFramedAndScrolledToTheNewestFrame();
    void stitchStartAndStopSwitchTheFeedAndTheActions();
    void stitchStopLeavesTheOpenBatchAlone();
    void framesQueuedBeforeStitchStartDoNotJoinTheNewBatch();

    void liveViewPaintsOnlyTheNewestOfQueuedFrames();
    void liveFrameFromAnotherThreadIsShownInTheWindowThread();
    void liveFramesAreIgnoredWhileNotGrabbing();
    void hiddenLiveViewShowsTheNewestFrameWhenShownAgain();
};

void TestSession::init()
{
    m_scratch = std::make_unique<ScratchDirectory>();
    m_window = std::make_unique<MainWindow>();
    w().m_isOpen = true;
    w().m_isGrabbing = true;
    w().m_stitchActive = true;
    w().m_saveStitchImage = false;
    w().m_stitchDirection = 2;
    w().m_maxStitchCount = 3;
    w().m_partialStitch = true;
    w().setLiveViewVisible(true);
}

void TestSession::cleanup()
{
    m_window.reset();
    m_scratch.reset();
}

void TestSession::batchClosesWhenItHoldsTheFrameCount_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("batches");
    QTest::addColumn<int>("left");
    QTest::newRow("one frame per batch") << 1 << 3 << 3 << 0;
    QTest::newRow("three, seven frames") << 3 << 7 << 2 << 1;
    QTest::newRow("five, four frames") << 5 << 4 << 0 << 4;
}

void TestSession::batchClosesWhenItHoldsTheFrameCount()
{
    QFETCH(int, count);
    QFETCH(int, frames);
    QFETCH(int, batches);
    QFETCH(int, left);
    w().m_maxStitchCount = count;
    knowCameraSize();
    feedComplete(frames);
    QCOMPARE(w().m_batchCounter, batches);
    QCOMPARE(w().m_batchFrames.size(), left);
    QCOMPARE(w().m_lastBatchFrames.size(), batches ? count : 0);
    QCOMPARE(stitchItems().size(), batches ? 1 : 0);
}

void TestSession::incompleteFrameClosesTheBatch_data()
{
    QTest::addColumn<bool>("partial");
    QTest::addColumn<int>("completeBefore");
    QTest::addColumn<int>("batchSize");
    QTest::newRow("after five, partial on") << true << 5 << 6;
    QTest::newRow("after five, partial off") << false << 5 << 5;
    QTest::newRow("alone, partial on") << true << 0 << 1;
    QTest::newRow("alone, partial off") << false << 0 << 0;
}

void TestSession::incompleteFrameClosesTheBatch()
{
    QFETCH(bool, partial);
    QFETCH(int, completeBefore);
    QFETCH(int, batchSize);
    w().m_maxStitchCount = 30;
    w().m_partialStitch = partial;
    knowCameraSize();
    feedComplete(completeBefore);
    feed(cameraFrame(3, Qt::red));
    QCOMPARE(w().m_batchFrames.size(), 0);
    QCOMPARE(w().m_batchCounter, batchSize ? 1 : 0);
    QCOMPARE(w().m_lastBatchFrames.size(), batchSize);
    if (batchSize)
        QCOMPARE(w().m_lastBatchFrames.last().height(), partial ? 3 : kLines);
    QCOMPARE(stitchItems().size(), batchSize ? 1 : 0);
}

void TestSession::framesCountAsCompleteWhileTheCameraSizeIsUnknown()
{
    // No camera handle: the size cannot be read, so short frames do not close.
    w().m_maxStitchCount = 4;
    feed(cameraFrame());
    feed(cameraFrame(3));
    feed(cameraFrame(5));
    QVERIFY(!w().m_expectedFrameSizeKnown);
    QCOMPARE(w().m_batchFrames.size(), 3);
    feed(cameraFrame(2));
    QCOMPARE(w().m_batchCounter, 1);
    QCOMPARE(w().m_lastBatchFrames.size(), 4);
}

void TestSession::framesAreIgnoredUnlessGrabbingOpenAndStitching_data()
{
    QTest::addColumn<bool>("grabbing");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("stitching");
    QTest::addColumn<bool>("nullPrevious");
    QTest::newRow("not grabbing") << false << true << true << false;
    QTest::newRow("not open") << true << false << true << false;
    QTest::newRow("not stitching") << true << true << false << false;
    QTest::newRow("null second image") << true << true << true << true;
}

void TestSession::framesAreIgnoredUnlessGrabbingOpenAndStitching()
{
    QFETCH(bool, grabbing);
    QFETCH(bool, open);
    QFETCH(bool, stitching);
    QFETCH(bool, nullPrevious);
    w().m_isGrabbing = grabbing;
    w().m_isOpen = open;
    w().m_stitchActive = stitching;
    const QImage frame = cameraFrame();
    QMetaObject::invokeMethod(&w(), "onChangeDetected", Q_ARG(QImage, frame),
                              Q_ARG(QImage, nullPrevious ? QImage() : frame), Q_ARG(qlonglong, 0),
                              Q_ARG(qlonglong, 0));
    feed(QImage());
    QVERIFY(w().m_batchFrames.isEmpty());
}

void TestSession::framesAreTurnedForTheDirectionBeforeBatching_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QSize>("turned");
    QTest::addColumn<QPoint>("redCorner");
    QTest::newRow("left") << 0 << QSize(kLines, kWidth) << QPoint(0, kWidth - 1);
    QTest::newRow("right") << 1 << QSize(kLines, kWidth) << QPoint(kLines - 1, 0);
    QTest::newRow("bottom") << 2 << QSize(kWidth, kLines) << QPoint(0, 0);
    QTest::newRow("top") << 3 << QSize(kWidth, kLines) << QPoint(kWidth - 1, kLines - 1);
    QTest::newRow("hand-edited 5 is like bottom") << 5 << QSize(kWidth, kLines) << QPoint(0, 0);
}

void TestSession::framesAreTurnedForTheDirectionBeforeBatching()
{
    QFETCH(int, direction);
    QFETCH(QSize, turned);
    QFETCH(QPoint, redCorner);
    w().setStitchDirection(direction);
    QImage frame = cameraFrame();
    frame.setPixelColor(0, 0, Qt::red);
    feed(frame);
    QCOMPARE(w().m_batchFrames.size(), 1);
    QCOMPARE(w().m_batchFrames.first().size(), turned);
    QCOMPARE(w().m_batchFrames.first().pixelColor(redCorner), QColor(Qt::red));
}

void TestSession::batchNumbersKeepRisingOverClearImagesAndWhileSavingIsOff()
{
    w().m_maxStitchCount = 1;
    feedComplete(2);
    QCOMPARE(w().m_batchCounter, 2);
    call("on_actionClearImages_triggered");
    feedComplete(1);
    QCOMPARE(w().m_batchCounter, 3);
    call("on_actionStitchStop_triggered");
    call("on_actionStitchStart_triggered");
    w().setStitchDirection(0);
    feedComplete(1);
    QCOMPARE(w().m_batchCounter, 4);
}

void TestSession::changingTheDirectionDiscardsTheOpenBatchOnlyWhenItDiffers_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("kept");
    QTest::addColumn<bool>("sizeKnown");
    QTest::newRow("same direction keeps it") << 2 << 2 << true;
    QTest::newRow("another direction discards it") << 0 << 0 << false;
}

void TestSession::changingTheDirectionDiscardsTheOpenBatchOnlyWhenItDiffers()
{
    QFETCH(int, direction);
    QFETCH(int, kept);
    QFETCH(bool, sizeKnown);
    knowCameraSize();
    feedComplete(2);
    w().setStitchDirection(direction);
    QCOMPARE(w().m_stitchDirection, direction);
    QCOMPARE(w().m_batchFrames.size(), kept);
    QCOMPARE(w().m_expectedFrameSizeKnown, sizeKnown);
    QCOMPARE(w().m_batchCounter, 0);
}

void TestSession::changingTheFrameCountClosesABatchThatIsAlreadyFull_data()
{
    QTest::addColumn<int>("newCount");
    QTest::addColumn<int>("batches");
    QTest::addColumn<int>("open");
    QTest::newRow("lowered below the frames held") << 2 << 1 << 0;
    QTest::newRow("lowered to the frames held") << 3 << 1 << 0;
    QTest::newRow("raised") << 10 << 0 << 3;
}

void TestSession::changingTheFrameCountClosesABatchThatIsAlreadyFull()
{
    QFETCH(int, newCount);
    QFETCH(int, batches);
    QFETCH(int, open);
    w().m_maxStitchCount = 5;
    feedComplete(3);
    w().setMaxStitchCount(newCount);
    QCOMPARE(w().m_batchCounter, batches);
    QCOMPARE(w().m_batchFrames.size(), open);
    QCOMPARE(w().m_lastBatchFrames.size(), batches ? 3 : 0);
}

void TestSession::frameCountIsRaisedToOneAndWrittenAtOnce()
{
    w().setMaxStitchCount(0);
    QCOMPARE(w().m_maxStitchCount, 1);
    QCOMPARE(AppSettings::intValue(AppSettings::kMaxStitchCount, -1), 1);
    w().setMaxStitchCount(250);
    QCOMPARE(AppSettings::intValue(AppSettings::kMaxStitchCount, -1), 250);
}

void TestSession::clearImagesEmptiesTheViewAndBothBatchesButKeepsTheSession()
{
    knowCameraSize();
    feedComplete(4);
    QCOMPARE(stitchItems().size(), 1);
    QCOMPARE(w().m_batchFrames.size(), 1);
    call("on_actionClearImages_triggered");
    QVERIFY(w().m_stitchScene->items().isEmpty());
    QVERIFY(w().m_batchFrames.isEmpty());
    QVERIFY(w().m_lastBatchFrames.isEmpty());
    QVERIFY(!w().m_expectedFrameSizeKnown);
    QVERIFY(w().m_stitchActive);
    QCOMPARE(w().m_batchCounter, 1);
}

void TestSession::shownBatchIsPlacedFramedAndScrolledToTheNewestFrame_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QRectF>("items");
    QTest::addColumn<bool>("scrolledToEnd");
    QTest::newRow("left") << 0 << QRectF(0, 0, 3 * kLines, kWidth) << true;
    QTest::newRow("right") << 1 << QRectF(-2 * kLines, 0, 3 * kLines, kWidth) << false;
    QTest::newRow("bottom") << 2 << QRectF(0, 0, kWidth, 3 * kLines) << true;
    QTest::newRow("top") << 3 << QRectF(0, -2 * kLines, kWidth, 3 * kLines) << false;
}

void TestSession::shownBatchIsPlacedFramedAndScrolledToTheNewestFrame()
{
    QFETCH(int, direction);
    QFETCH(QRectF, items);
    QFETCH(bool, scrolledToEnd);
    w().resize(800, 600);
    w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&w()));
    w().setStitchDirection(direction);
    // Zoomed in far enough that the strip needs scrolling.
    for (int i = 0; i < 20; ++i)
        w().ui->action_ZoomInt->trigger();
    feedComplete(3);
    QCOMPARE(w().m_stitchScene->itemsBoundingRect(), items);
    QCOMPARE(w().m_stitchScene->sceneRect(), items.adjusted(-20, -20, 20, 20));
    QScrollBar *bar = (direction == 0 || direction == 1) ? w().ui->gvStitch->horizontalScrollBar()
                                                         : w().ui->gvStitch->verticalScrollBar();
    QVERIFY(bar->maximum() > bar->minimum());
    QCOMPARE(bar->value(), scrolledToEnd ? bar->maximum() : bar->minimum());
}

void TestSession::stitchStartAndStopSwitchTheFeedAndTheActions()
{
    w().m_stitchActive = false;
    for (int i = 0; i < 2; ++i) {
        call("on_actionStitchStart_triggered");
        QVERIFY(w().m_stitchActive);
        QVERIFY(w().m_workThread->reportChanges());
        QVERIFY(!w().ui->actionStitchStart->isEnabled());
        QVERIFY(w().ui->actionStitchStop->isEnabled());
    }
    for (int i = 0; i < 2; ++i) {
        call("on_actionStitchStop_triggered");
        QVERIFY(!w().m_stitchActive);
        QVERIFY(!w().m_workThread->reportChanges());
        QVERIFY(w().ui->actionStitchStart->isEnabled());
        QVERIFY(!w().ui->actionStitchStop->isEnabled());
    }
}

void TestSession::stitchStopLeavesTheOpenBatchAlone()
{
    feedComplete(2);
    call("on_actionStitchStop_triggered");
    feedComplete(2);
    QCOMPARE(w().m_batchFrames.size(), 2);
    QCOMPARE(w().m_batchCounter, 0);
    call("on_actionStitchStart_triggered");
    feedComplete(1);
    QCOMPARE(w().m_batchCounter, 1);
}

void TestSession::framesQueuedBeforeStitchStartDoNotJoinTheNewBatch()
{
    // Frames of an earlier run still waiting in the queue when the next run
    // starts, as after a quick camera Stop and Start.
    call("on_actionStitchStop_triggered");
    const QImage stale = cameraFrame();
    for (int i = 0; i < 2; ++i)
        QMetaObject::invokeMethod(&w(), "onChangeDetected", Qt::QueuedConnection,
                                  Q_ARG(QImage, stale), Q_ARG(QImage, stale), Q_ARG(qlonglong, 0),
                                  Q_ARG(qlonglong, 0));
    call("on_actionStitchStart_triggered");
    QCoreApplication::processEvents();
    QVERIFY(w().m_batchFrames.isEmpty());
    feedComplete(1);
    QCOMPARE(w().m_batchFrames.size(), 1);
}

void TestSession::liveViewPaintsOnlyTheNewestOfQueuedFrames()
{
    QSignalSpy sceneRects(w().m_liveScene, &QGraphicsScene::sceneRectChanged);
    for (int lines = 10; lines <= 14; ++lines)
        QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, cameraFrame(lines)));
    QCoreApplication::processEvents();
    QCOMPARE(w().m_livePixmapItem->pixmap().size(), QSize(kWidth, 14));
    QCOMPARE(sceneRects.count(), 1);
    QVERIFY(w().m_pendingLiveFrame.isNull());
    // The next frame is painted again.
    QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, cameraFrame(20)));
    QTRY_COMPARE(w().m_livePixmapItem->pixmap().size(), QSize(kWidth, 20));
}

void TestSession::liveFrameFromAnotherThreadIsShownInTheWindowThread()
{
    MainWindow *window = m_window.get();
    std::unique_ptr<QThread> sender(QThread::create([window] {
        QMetaObject::invokeMethod(window, "onFrameGrabbed", Qt::DirectConnection,
                                  Q_ARG(QImage, cameraFrame(17)));
    }));
    sender->start();
    QVERIFY(sender->wait(5000));
    QTRY_COMPARE(w().m_livePixmapItem->pixmap().size(), QSize(kWidth, 17));
}

void TestSession::liveFramesAreIgnoredWhileNotGrabbing()
{
    w().m_isGrabbing = false;
    QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, cameraFrame()));
    QCoreApplication::processEvents();
    QVERIFY(w().m_livePixmapItem->pixmap().isNull());
}

void TestSession::hiddenLiveViewShowsTheNewestFrameWhenShownAgain()
{
    w().show();
    w().setLiveViewVisible(false);
    QVERIFY(!w().ui->gv->isVisible());
    for (int lines = 9; lines <= 11; ++lines)
        QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, cameraFrame(lines)));
    QCoreApplication::processEvents();
    w().setLiveViewVisible(true);
    QVERIFY(w().ui->gv->isVisible());
    QTRY_COMPARE(w().m_livePixmapItem->pixmap().size(), QSize(kWidth, 11));
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
