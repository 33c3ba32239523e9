// The stitch session driven frame by frame: the window is built for real, the
// camera state is set by the test, frames are handed to the slots the grab
// thread reaches, and the toolbar's actions are triggered as their buttons do.
#include <QtTest>

#include "batchledger.h"
#include "framebudget.h"
#include "framekind.h"
#include "frameturn.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "ui_mainwindow.h"
#include "workthread.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>

#include <memory>

namespace {

// A camera frame of 40 pixels per line and 8 lines; incomplete ones are shorter.
constexpr int kWidth = 40;
constexpr int kLines = 8;

uchar grayAt(int seed, int x, int y)
{
    return uchar(seed * 50 + x * 3 + y * 17);
}

// A Mono8 camera's frame as the grab thread feeds it: gray, standing for RGB.
QImage monoFrame(int lines, int seed)
{
    QImage frame(kWidth, lines, QImage::Format_Grayscale8);
    for (int y = 0; y < lines; ++y)
        for (int x = 0; x < kWidth; ++x)
            frame.scanLine(y)[x] = grayAt(seed, x, y);
    return markedAsRgb(frame);
}

QImage cameraFrame(int lines = kLines)
{
    QImage frame(kWidth, lines, QImage::Format_RGB888);
    frame.fill(Qt::gray);
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
    void init()
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
        knowCameraSize();
    }
    void cleanup()
    {
        m_window.reset();
        m_scratch.reset();
    }

    // What closes a batch: the frame count (also when it is lowered to or
    // below the frames held), an incomplete frame (kept or not as the partial
    // rule says) and a hole the grab thread reports. Another direction and
    // Clear Images discard the open batch; the numbering goes on.
    void batchClosesOrIsDiscarded_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("partial");
        QTest::addColumn<int>("complete"); // complete frames fed first
        QTest::addColumn<QString>("then");
        QTest::addColumn<int>("batches");
        QTest::addColumn<int>("lastBatch");
        QTest::addColumn<int>("open");
        QTest::newRow("one frame per batch") << 1 << true << 3 << "" << 3 << 1 << 0;
        QTest::newRow("three, seven frames") << 3 << true << 7 << "" << 2 << 3 << 1;
        QTest::newRow("five, four frames") << 5 << true << 4 << "" << 0 << 0 << 4;
        QTest::newRow("short after five, partial on") << 30 << true << 5 << "short frame" << 1 << 6 << 0;
        QTest::newRow("short after five, partial off") << 30 << false << 5 << "short frame" << 1 << 5 << 0;
        QTest::newRow("short alone, partial on") << 30 << true << 0 << "short frame" << 1 << 1 << 0;
        QTest::newRow("short alone, partial off") << 30 << false << 0 << "short frame" << 0 << 0 << 0;
        QTest::newRow("gap after two") << 30 << true << 2 << "gap" << 1 << 2 << 0;
        QTest::newRow("gap with nothing open") << 30 << true << 0 << "gap" << 0 << 0 << 0;
        QTest::newRow("count lowered below the frames held") << 5 << true << 3 << "count 2" << 1 << 3 << 0;
        QTest::newRow("count lowered to the frames held") << 5 << true << 3 << "count 3" << 1 << 3 << 0;
        QTest::newRow("count raised") << 5 << true << 3 << "count 10" << 0 << 0 << 3;
        QTest::newRow("same direction") << 5 << true << 2 << "direction 2" << 0 << 0 << 2;
        QTest::newRow("another direction") << 5 << true << 2 << "direction 0" << 0 << 0 << 0;
        QTest::newRow("clear images") << 2 << true << 3 << "clear" << 1 << 0 << 0;
    }
    void batchClosesOrIsDiscarded()
    {
        QFETCH(int, count);
        QFETCH(bool, partial);
        QFETCH(int, complete);
        QFETCH(QString, then);
        QFETCH(int, batches);
        QFETCH(int, lastBatch);
        QFETCH(int, open);
        w().m_maxStitchCount = count;
        w().m_partialStitch = partial;
        feedComplete(complete);
        const int number = then.section(QLatin1Char(' '), 1).toInt();
        if (then == QLatin1String("short frame"))
            feed(cameraFrame(3));
        else if (then == QLatin1String("gap"))
            emit w().m_workThread->sequenceBroken();
        else if (then.startsWith(QLatin1String("count")))
            w().setMaxStitchCount(number);
        else if (then.startsWith(QLatin1String("direction")))
            w().setStitchDirection(number);
        else if (then == QLatin1String("clear"))
            trigger("actionClearImages");
        QCOMPARE(w().m_batchCounter, batches);
        QCOMPARE(w().m_batchFrames.size(), open);
        QCOMPARE(w().m_lastBatchFrames.size(), lastBatch);
        if (then == QLatin1String("short frame") && lastBatch)
            QCOMPARE(w().m_lastBatchFrames.last().height(), partial ? 3 : kLines);
        QCOMPARE(stitchItemCount(), lastBatch ? 1 : 0);
        // The batch's frames are charged while it is open, and only then.
        QCOMPARE(w().m_batchLedger->openBatchBytes(), open * frameImageBytes(kWidth, kLines, 24));
        // A batch turned for another direction needs the camera's size anew.
        QCOMPARE(w().m_expectedFrameSizeKnown, then != QLatin1String("direction 0") && then != "clear");
        // The numbering goes on.
        feedComplete(w().m_maxStitchCount);
        QCOMPARE(w().m_batchCounter, batches + 1);
    }

    void framesQueuedBeforeStitchStartDoNotJoinTheNewBatch()
    {
        // Frames of an earlier run still waiting in the queue when the next run
        // starts, as after a quick camera Stop and Start.
        trigger("actionStitchStop");
        QVERIFY(!w().ui->actionStitchStop->isEnabled());
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

    void liveViewPaintsOnlyTheNewestOfQueuedFrames()
    {
        QSignalSpy sceneRects(w().m_liveScene, &QGraphicsScene::sceneRectChanged);
        for (int lines = 10; lines <= 14; ++lines)
            QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, cameraFrame(lines)));
        QTRY_VERIFY(w().m_pendingLiveFrame.isNull());
        QCOMPARE(w().m_livePixmapItem->pixmap().size(), QSize(kWidth, 14));
        QCOMPARE(sceneRects.count(), 1);
        // The next frame is painted again.
        QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, cameraFrame(20)));
        QTRY_COMPARE(w().m_livePixmapItem->pixmap().size(), QSize(kWidth, 20));
    }

    void cameraStopOrCloseMidBatchNeitherShowsNorNumbersIt_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<int>("framesKept");
        // Stop throws the open batch away; Close leaves it until the next start.
        QTest::newRow("stop") << QByteArray("actionCameraStop") << 0;
        QTest::newRow("close") << QByteArray("actionCameraClose") << 2;
    }
    void cameraStopOrCloseMidBatchNeitherShowsNorNumbersIt()
    {
        QFETCH(QByteArray, action);
        QFETCH(int, framesKept);
        w().m_saveStitchImage = true;
        feedComplete(2);
        trigger(action.constData());
        QVERIFY(!w().m_stitchActive);
        QCOMPARE(w().m_batchFrames.size(), framesKept);
        QCOMPARE(w().m_batchCounter, 0);
        QVERIFY(w().m_lastBatchFrames.isEmpty());
        QCOMPARE(stitchItemCount(), 0);
        QCOMPARE(w().m_pendingStitchJobs, 0);
    }

    void framesJoinTheBatchAsGrabbed_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QSize>("shown"); // the preview's size at full resolution
        QTest::newRow("Left") << 0 << QSize(2 * kLines + 3, kWidth);
        QTest::newRow("Right") << 1 << QSize(2 * kLines + 3, kWidth);
        QTest::newRow("Bottom") << 2 << QSize(kWidth, 2 * kLines + 3);
        QTest::newRow("Top") << 3 << QSize(kWidth, 2 * kLines + 3);
    }
    // Frames stay as the camera delivered them, gray and charged as gray; only
    // their size is compared turned with the camera's, so a partial frame
    // closes the batch in every direction, and the preview shows it turned.
    void framesJoinTheBatchAsGrabbed()
    {
        QFETCH(int, direction);
        QFETCH(QSize, shown);
        w().setStitchDirection(direction);
        w().m_maxStitchCount = 30;
        knowCameraSize();
        const QList<QImage> fed = {monoFrame(kLines, 1), monoFrame(kLines, 2), monoFrame(3, 3)};
        feed(fed[0]);
        feed(fed[1]);
        QCOMPARE(w().m_batchLedger->openBatchBytes(), 2 * frameImageBytes(kWidth, kLines, 8));
        feed(fed[2]);
        QCOMPARE(w().m_batchCounter, 1);
        QCOMPARE(w().m_lastBatchFrames.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(w().m_lastBatchFrames[i].cacheKey(), fed[i].cacheKey()); // not even copied
            QVERIFY(grayStandsForRgb(w().m_lastBatchFrames[i]));
        }
        QCOMPARE(w().m_lastBatchTurnAngle, turnAngleForDirection(direction));
        const QList<QGraphicsItem *> items = w().m_stitchScene->items();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first()->boundingRect().size().toSize(), shown);
    }

    // Save Image after the direction changed lays the last batch out in the
    // new direction, each frame turned as it was when the batch was collected.
    // Collected for Left, a frame's pixel (x, y) lands at column y, row
    // kWidth-1-x of its place; the frames follow along the layout's axis.
    void saveImageWritesTheLastBatchTurnedAsItWasCollected()
    {
        const QString out = m_scratch->filePath(QStringLiteral("out"));
        w().m_saveDir = out;
        w().m_imageFormat = QStringLiteral("BMP");
        w().m_saveStitchImage = true;
        w().setStitchDirection(0);
        w().m_maxStitchCount = 2;
        knowCameraSize();
        feed(monoFrame(kLines, 1));
        feed(monoFrame(kLines, 2));
        QCOMPARE(w().m_batchCounter, 1);
        w().setStitchDirection(2);
        trigger("actionSave_Image");
        QTRY_COMPARE(w().m_pendingStitchJobs, 0);

        const QStringList files = QDir(out).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        QVERIFY2(files[0].startsWith(QLatin1String("Stitched_Bottom_")), qPrintable(files[0]));
        QVERIFY2(files[1].startsWith(QLatin1String("Stitched_Left_Batch001_")), qPrintable(files[1]));
        for (int alongX = 0; alongX < 2; ++alongX) {
            const QImage written(QDir(out).filePath(files[alongX]));
            QCOMPARE(written.format(), QImage::Format_RGB32); // a 24-bit file, not a gray one
            QCOMPARE(written.size(), alongX ? QSize(2 * kLines, kWidth) : QSize(kLines, 2 * kWidth));
            QImage expected(written.size(), QImage::Format_RGB888);
            for (int frame = 0; frame < 2; ++frame)
                for (int y = 0; y < kLines; ++y)
                    for (int x = 0; x < kWidth; ++x) {
                        const int v = grayAt(frame + 1, x, y);
                        expected.setPixel(alongX ? QPoint(frame * kLines + y, kWidth - 1 - x)
                                                 : QPoint(y, frame * kWidth + kWidth - 1 - x),
                                          qRgb(v, v, v));
                    }
            QCOMPARE(written.convertToFormat(QImage::Format_RGB888), expected);
        }
    }

    // A failed save reaches the operator once, naming the folder; the job
    // still ends.
    void failedSaveShowsTheFolderInOneBox()
    {
        MessageBoxRecorder boxes;
        QFile blocker(m_scratch->filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        w().m_saveDir = blocker.fileName() + QStringLiteral("/out");
        w().m_saveStitchImage = true;
        feedComplete(3);
        QCOMPARE(w().m_pendingStitchJobs, 1);
        QVERIFY(boxes.waitForCount(1, 20000));
        QTRY_COMPARE(w().m_pendingStitchJobs, 0);
        QCOMPARE(boxes.last().title, QStringLiteral("Save Image"));
        QVERIFY2(boxes.last().text.contains(blocker.fileName()), qPrintable(boxes.last().text));
        QCOMPARE(boxes.last().kind, QMessageBox::Critical);
        QCOMPARE(boxes.count(), 1);
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
