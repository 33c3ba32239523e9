// The stitch session driven frame by frame: the window is built for real, the
// camera state is set by the test, frames are handed to the slots the grab
// thread reaches, and the toolbar's actions are triggered as their buttons do.
#include <QtTest>

#include "appsettings.h"
#include "batchledger.h"
#include "composer.h"
#include "framebudget.h"
#include "framekind.h"
#include "frameturn.h"
#include "mainwindow.h"
#include "scratchdirectory.h"
#include "ui_mainwindow.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>

#include <cstring>
#include <memory>

namespace {

// A camera frame of 40 pixels per line and 8 lines; incomplete ones are shorter.
constexpr int kWidth = 40;
constexpr int kLines = 8;

// A Mono8 camera's frame as the grab thread feeds it: gray, standing for RGB.
QImage monoFrame(int lines, int seed)
{
    QImage frame(kWidth, lines, QImage::Format_Grayscale8);
    for (int y = 0; y < lines; ++y)
        for (int x = 0; x < kWidth; ++x)
            frame.scanLine(y)[x] = uchar(seed * 50 + x * 3 + y * 17);
    return markedAsRgb(frame);
}

// The camera library's RGB picture of a gray frame.
QImage widened(const QImage &gray)
{
    QImage rgb(gray.size(), QImage::Format_RGB888);
    for (int y = 0; y < gray.height(); ++y)
        for (int x = 0; x < gray.width(); ++x)
            std::memset(rgb.scanLine(y) + 3 * x, gray.constScanLine(y)[x], 3);
    return rgb;
}

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

    MainWindow &w() { return *m_window; }

    // Hands one frame to the window as the grab thread does.
    void feed(const QImage &frame)
    {
        QMetaObject::invokeMethod(&w(), "onChangeDetected", Q_ARG(QImage, frame), Q_ARG(QImage, frame),
                                  Q_ARG(qlonglong, 0), Q_ARG(qlonglong, 0));
    }
    void feedComplete(int count)
    {
        for (int i = 0; i < count; ++i)
            feed(cameraFrame());
    }
    // Runs a toolbar action as its button does; a disabled one cannot be.
    void trigger(const char *name)
    {
        QAction *action = w().findChild<QAction *>(QLatin1String(name));
        QVERIFY2(action && action->isEnabled(), name);
        action->trigger();
    }
    // The camera's full frame size, as if read from the camera.
    void knowCameraSize()
    {
        const bool swapped = w().m_stitchDirection == 0 || w().m_stitchDirection == 1;
        w().m_expectedFrameWidth = swapped ? kLines : kWidth;
        w().m_expectedFrameHeight = swapped ? kWidth : kLines;
        w().m_expectedFrameSizeKnown = true;
    }
    int stitchItemCount() { return w().m_stitchScene->items().size(); }

private slots:
    void init();
    void cleanup();

    void batchClosesWhenItHoldsTheFrameCount_data();
    void batchClosesWhenItHoldsTheFrameCount();
    void incompleteFrameClosesTheBatch_data();
    void incompleteFrameClosesTheBatch();
    void batchNumbersKeepRisingOverClearImagesAndWhileSavingIsOff();
    void changingTheDirectionDiscardsTheOpenBatchOnlyWhenItDiffers_data();
    void changingTheDirectionDiscardsTheOpenBatchOnlyWhenItDiffers();
    void changingTheFrameCountClosesABatchThatIsAlreadyFull_data();
    void changingTheFrameCountClosesABatchThatIsAlreadyFull();
    void framesQueuedBeforeStitchStartDoNotJoinTheNewBatch();
    void liveViewPaintsOnlyTheNewestOfQueuedFrames();
    void cameraStopOrCloseMidBatchNeitherShowsNorNumbersIt_data();
    void cameraStopOrCloseMidBatchNeitherShowsNorNumbersIt();
    void framesJoinTheBatchAsGrabbed_data();
    void framesJoinTheBatchAsGrabbed();
    void saveImageWritesTheLastBatchTurnedAsItWasCollected();
};

void TestSession::init()
{
    m_scratch = std::make_unique<ScratchDirectory>();
    m_window = std::make_unique<MainWindow>();
    w().m_isOpen = true;
    w().m_isGrabbing = true;
    trigger("actionStitchStart");
    QVERIFY(w().m_stitchActive);
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
    QTRY_COMPARE(stitchItemCount(), batches ? 1 : 0);
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
    QTRY_COMPARE(stitchItemCount(), batchSize ? 1 : 0);
}

void TestSession::batchNumbersKeepRisingOverClearImagesAndWhileSavingIsOff()
{
    w().m_maxStitchCount = 1;
    feedComplete(2);
    QCOMPARE(w().m_batchCounter, 2);
    trigger("actionClearImages");
    QCOMPARE(stitchItemCount(), 0);
    QVERIFY(w().m_lastBatchFrames.isEmpty());
    feedComplete(1);
    QCOMPARE(w().m_batchCounter, 3);
    trigger("actionStitchStop");
    trigger("actionStitchStart");
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

void TestSession::framesQueuedBeforeStitchStartDoNotJoinTheNewBatch()
{
    // Frames of an earlier run still waiting in the queue when the next run
    // starts, as after a quick camera Stop and Start.
    trigger("actionStitchStop");
    const QImage stale = cameraFrame();
    for (int i = 0; i < 2; ++i)
        QMetaObject::invokeMethod(&w(), "onChangeDetected", Qt::QueuedConnection, Q_ARG(QImage, stale),
                                  Q_ARG(QImage, stale), Q_ARG(qlonglong, 0), Q_ARG(qlonglong, 0));
    trigger("actionStitchStart");
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

void TestSession::cameraStopOrCloseMidBatchNeitherShowsNorNumbersIt_data()
{
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<int>("framesKept");
    // Stop throws the open batch away; Close leaves it until the next start.
    QTest::newRow("stop") << QByteArray("actionCameraStop") << 0;
    QTest::newRow("close") << QByteArray("actionCameraClose") << 2;
}

void TestSession::cameraStopOrCloseMidBatchNeitherShowsNorNumbersIt()
{
    QFETCH(QByteArray, action);
    QFETCH(int, framesKept);
    w().m_saveStitchImage = true;
    knowCameraSize();
    feedComplete(2);
    trigger(action.constData());
    QVERIFY(!w().m_stitchActive);
    QCOMPARE(w().m_batchFrames.size(), framesKept);
    QCOMPARE(w().m_batchCounter, 0);
    QVERIFY(w().m_lastBatchFrames.isEmpty());
    QCOMPARE(stitchItemCount(), 0);
    QCOMPARE(w().m_pendingStitchJobs, 0);
}

void TestSession::framesJoinTheBatchAsGrabbed_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QSize>("shown"); // the preview's size at full resolution
    QTest::newRow("Left") << 0 << QSize(2 * kLines + 3, kWidth);
    QTest::newRow("Right") << 1 << QSize(2 * kLines + 3, kWidth);
    QTest::newRow("Bottom") << 2 << QSize(kWidth, 2 * kLines + 3);
    QTest::newRow("Top") << 3 << QSize(kWidth, 2 * kLines + 3);
}

// Frames stay as the camera delivered them, gray and charged as gray; only
// their size is compared turned with the camera's, so a partial frame closes
// the batch in every direction, and the preview shows the batch turned.
void TestSession::framesJoinTheBatchAsGrabbed()
{
    QFETCH(int, direction);
    QFETCH(QSize, shown);
    w().setStitchDirection(direction);
    w().m_maxStitchCount = 30;
    knowCameraSize();
    const QList<QImage> fed = {monoFrame(kLines, 1), monoFrame(kLines, 2), monoFrame(3, 3)};
    feed(fed[0]);
    feed(fed[1]);
    QCOMPARE(w().m_batchFrames.size(), 2);
    QCOMPARE(w().m_batchLedger->openBatchBytes(), 2 * frameImageBytes(kWidth, kLines, 8));
    feed(fed[2]);
    QCOMPARE(w().m_batchCounter, 1);
    QCOMPARE(w().m_lastBatchFrames.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(w().m_lastBatchFrames[i].cacheKey(), fed[i].cacheKey()); // not even copied
        QVERIFY(grayStandsForRgb(w().m_lastBatchFrames[i]));
    }
    QCOMPARE(w().m_lastBatchTurnAngle, turnAngleForDirection(direction));
    QTRY_COMPARE(stitchItemCount(), 1);
    const QList<QGraphicsItem *> items = w().m_stitchScene->items();
    QCOMPARE(items.first()->boundingRect().size().toSize(), shown);
}

// Save Image after the direction changed lays the last batch out in the new
// direction, each frame turned as it was when the batch was collected: the
// file it always wrote.
void TestSession::saveImageWritesTheLastBatchTurnedAsItWasCollected()
{
    const QString out = m_scratch->filePath(QStringLiteral("out"));
    w().m_saveDir = out;
    w().m_imageFormat = QStringLiteral("BMP");
    w().m_saveStitchImage = true;
    w().setStitchDirection(0);
    w().m_maxStitchCount = 2;
    knowCameraSize();
    const QList<QImage> fed = {monoFrame(kLines, 1), monoFrame(kLines, 2)};
    feed(fed[0]);
    feed(fed[1]);
    QCOMPARE(w().m_batchCounter, 1);
    w().setStitchDirection(2);
    w().ui->actionSave_Image->trigger();
    QTRY_COMPARE(w().m_pendingStitchJobs, 0);

    const QStringList files = QDir(out).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 2);
    QVERIFY2(files[0].startsWith(QLatin1String("Stitched_Bottom_")), qPrintable(files[0]));
    QVERIFY2(files[1].startsWith(QLatin1String("Stitched_Left_Batch001_")), qPrintable(files[1]));
    for (int horizontal = 0; horizontal < 2; ++horizontal) {
        const QSize size = horizontal ? QSize(2 * kLines, kWidth) : QSize(kLines, 2 * kWidth);
        QImage expected = createCanvas(size.width(), size.height(), QImage::Format_RGB888);
        int offset = 0;
        for (const QImage &frame : fed)
            offset = drawFrame(expected, turnFrameForDirection(widened(frame), 0), offset, horizontal);
        const QImage written(QDir(out).filePath(files[horizontal]));
        QCOMPARE(written.format(), QImage::Format_RGB32); // a 24-bit file, not a gray one
        QCOMPARE(written.convertToFormat(QImage::Format_RGB888), expected);
    }
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
