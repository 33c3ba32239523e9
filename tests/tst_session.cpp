// The stitch session driven frame by frame: the window is built for real, the
// camera state is set by the test, frames are handed to the slots the grab
// thread reaches, and the toolbar's actions are triggered as their buttons do.
#include <QtTest>

#include "batchledger.h"
#include "framebudget.h"
#include "framekind.h"
#include "frameturn.h"
#include "mainwindow.h"
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

// A deep camera's frame: 200 in its top 8 bits, all the bits below set.
QImage deepFrame(int bits)
{
    QImage frame(kWidth, kLines, QImage::Format_Grayscale16);
    frame.fill(uint(200 << (bits - 8) | ((1 << (bits - 8)) - 1)));
    return withSignificantBits(frame, bits);
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

    // Hands one frame to the window as the grab thread does, or queues it.
    void feed(const QImage &frame, Qt::ConnectionType how = Qt::DirectConnection)
    {
        QMetaObject::invokeMethod(&w(), "onChangeDetected", how, Q_ARG(QImage, frame), Q_ARG(QImage, frame),
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
    void knowCameraSize(int direction, int count)
    {
        w().setStitchDirection(direction);
        w().m_maxStitchCount = count;
        const bool swapped = direction == 0 || direction == 1;
        w().session().setFrameSizeKnownForTest(swapped ? QSize(kLines, kWidth) : QSize(kWidth, kLines));
    }

private slots:
    void init()
    {
        m_scratch = std::make_unique<ScratchDirectory>();
        m_window = std::make_unique<MainWindow>();
        w().m_isOpen = w().m_isGrabbing = true;
        trigger("actionStitchStart");
        QVERIFY(w().session().isCollecting());
        w().m_saveStitchImage = false;
        w().m_partialStitch = true;
        w().setLiveViewVisible(true);
        knowCameraSize(2, 3);
    }
    void cleanup()
    {
        m_window.reset();
        m_scratch.reset();
    }

    // What closes a batch (count, short frame, hole, another pixel format), what discards the open
    // one (another direction, Clear Images, camera Stop) and what leaves it (Close).
    void batchClosesOrIsDiscarded_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("complete"); // complete frames fed first
        QTest::addColumn<QString>("then");
        QTest::addColumn<QList<int>>("batchesShownOpenSizeKnown");
        QTest::newRow("one frame per batch") << 1 << 3 << "" << QList{3, 1, 0, 1};
        QTest::newRow("three, seven frames") << 3 << 7 << "" << QList{2, 3, 1, 1};
        QTest::newRow("five, four frames") << 5 << 4 << "" << QList{0, 0, 4, 1};
        QTest::newRow("short after five, partial on") << 30 << 5 << "short" << QList{1, 6, 0, 1};
        QTest::newRow("short after five, partial off")
            << 30 << 5 << "short, partial off" << QList{1, 5, 0, 1};
        QTest::newRow("short alone, partial on") << 30 << 0 << "short" << QList{1, 1, 0, 1};
        QTest::newRow("short alone, partial off") << 30 << 0 << "short, partial off" << QList{0, 0, 0, 1};
        QTest::newRow("gap after two") << 30 << 2 << "gap" << QList{1, 2, 0, 1};
        QTest::newRow("gap with nothing open") << 30 << 0 << "gap" << QList{0, 0, 0, 1};
        QTest::newRow("count lowered below those held") << 5 << 3 << "count 2" << QList{1, 3, 0, 1};
        QTest::newRow("count lowered to the frames held") << 5 << 3 << "count 3" << QList{1, 3, 0, 1};
        QTest::newRow("count raised") << 5 << 3 << "count 10" << QList{0, 0, 3, 1};
        QTest::newRow("same direction") << 5 << 2 << "direction 2" << QList{0, 0, 2, 1};
        QTest::newRow("another direction") << 5 << 2 << "direction 0" << QList{0, 0, 0, 0};
        QTest::newRow("clear images") << 2 << 3 << "clear" << QList{1, 0, 0, 0};
        QTest::newRow("camera stop") << 5 << 2 << "actionCameraStop" << QList{0, 0, 0, 1};
        QTest::newRow("camera close") << 5 << 2 << "actionCameraClose" << QList{0, 0, 2, 1};
        // Frames of an earlier run still queued when the next starts (a quick
        // Stop and Start) are dropped, not joined to the new batch.
        QTest::newRow("queued before Stitch Start") << 2 << 0 << "restart" << QList{0, 0, 0, 1};
        // A batch is never of two kinds: a frame of another pixel format opens the next.
        QTest::newRow("deep frames, then of another depth")
            << 30 << 2 << "deep 10, deep 10, deep 12" << QList{2, 2, 1, 1};
    }
    void batchClosesOrIsDiscarded()
    {
        QFETCH(int, count);
        QFETCH(int, complete);
        QFETCH(QString, then);
        QFETCH(QList<int>, batchesShownOpenSizeKnown);
        w().m_maxStitchCount = count;
        const bool partial = !then.endsWith(QLatin1String("partial off"));
        w().m_partialStitch = partial;
        feedComplete(complete);
        const int number = then.section(QLatin1Char(' '), 1).toInt();
        if (then.startsWith(QLatin1String("short"))) {
            feed(cameraFrame(3));
        } else if (then == QLatin1String("gap")) {
            emit w().m_workThread->sequenceBroken();
        } else if (then.startsWith(QLatin1String("count"))) {
            w().setMaxStitchCount(number);
        } else if (then.startsWith(QLatin1String("direction"))) {
            w().setStitchDirection(number);
        } else if (then == QLatin1String("clear")) {
            trigger("actionClearImages");
        } else if (then.startsWith(QLatin1String("actionCamera"))) {
            trigger(qPrintable(then));
            QVERIFY(!w().session().isCollecting());
            w().m_isOpen = w().m_isGrabbing = true; // as the next Open and Start leave it
            trigger("actionStitchStart");
        } else if (then.startsWith(QLatin1String("deep"))) {
            for (const QString &kind : then.split(QStringLiteral(", ")))
                feed(deepFrame(kind.section(QLatin1Char(' '), 1).toInt()));
        } else if (then == QLatin1String("restart")) {
            trigger("actionStitchStop");
            feed(cameraFrame(), Qt::QueuedConnection);
            feed(cameraFrame(), Qt::QueuedConnection);
            trigger("actionStitchStart");
            QCoreApplication::processEvents();
        }
        const int shown = batchesShownOpenSizeKnown[1], open = batchesShownOpenSizeKnown[2];
        QCOMPARE(QList<int>({w().session().batchCount(), w().session().shownBatch().size(),
                             w().session().openBatch().size(), w().session().frameSizeKnown()}),
                 batchesShownOpenSizeKnown);
        if (then.startsWith(QLatin1String("short")) && shown)
            QCOMPARE(w().session().shownBatch().last().height(), partial ? 3 : kLines);
        // The preview is composed off the window's thread.
        QTRY_COMPARE(w().m_stitchScene->items().size(), shown ? 1 : 0);
        const bool deep = then.startsWith(QLatin1String("deep"));
        if (deep) { // shown scaled to 8 bits by its bit count, once the newest preview is in
            QTRY_COMPARE(qGray(static_cast<QGraphicsPixmapItem *>(w().m_stitchScene->items().first())
                                   ->pixmap()
                                   .toImage()
                                   .pixel(0, 0)),
                         200);
        }
        // The batch's frames are charged while it is open, and only then, at
        // what they hold: a deep frame 2 bytes a pixel.
        QCOMPARE(w().session().ledger().openBatchBytes(),
                 open * (deep ? 2 * kWidth * kLines : frameImageBytes(kWidth, kLines, 24)));
        const QImage next
            = w().session().openBatch().isEmpty() ? cameraFrame() : w().session().openBatch().last();
        for (int i = 0; i < w().m_maxStitchCount; ++i)
            feed(next);
        QCOMPARE(w().session().batchCount(), batchesShownOpenSizeKnown[0] + 1);
    }

    void liveViewPaintsOnlyTheNewestOfQueuedFrames()
    {
        QSignalSpy sceneRects(w().m_liveScene, &QGraphicsScene::sceneRectChanged);
        for (int lines = 10; lines <= 14; ++lines)
            QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, cameraFrame(lines)));
        QTRY_VERIFY(!w().session().hasLiveFrame());
        QCOMPARE(w().m_livePixmapItem->pixmap().size(), QSize(kWidth, 14));
        QCOMPARE(sceneRects.count(), 1);
        QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, cameraFrame(20)));
        QTRY_COMPARE(w().m_livePixmapItem->pixmap().size(), QSize(kWidth, 20));
    }

    // Frames stay as delivered, gray and charged as gray; a batch closed while saving is off leaves
    // its number unused. Save Image after a change of direction lays the last batch out anew.
    void saveImageWritesTheLastBatchTurnedAsItWasCollected()
    {
        const QDir out(m_scratch->filePath(QStringLiteral("out")));
        w().m_saveDir = out.path();
        w().m_imageFormat = QStringLiteral("BMP");
        knowCameraSize(0, 2);
        feedComplete(2);
        w().m_saveStitchImage = true;
        const QList<QImage> fed = {monoFrame(kLines, 1), monoFrame(kLines, 2)};
        feed(fed[0]);
        QCOMPARE(w().session().ledger().openBatchBytes(), frameImageBytes(kWidth, kLines, 8));
        feed(fed[1]);
        QCOMPARE(w().session().batchCount(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(w().session().shownBatch()[i].cacheKey(), fed[i].cacheKey()); // not even copied
            QVERIFY(grayStandsForRgb(w().session().shownBatch()[i]));
        }
        QTRY_COMPARE(w().m_stitchScene->items().size(), 1);
        QCOMPARE(w().m_stitchScene->items().first()->boundingRect().size().toSize(),
                 QSize(2 * kLines, kWidth));
        w().setStitchDirection(2);
        trigger("actionSave_Image");
        QTRY_COMPARE(w().session().pendingSaves(), 0);

        const QStringList files = out.entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        QVERIFY2(files[0].startsWith(QLatin1String("Stitched_Bottom_")), qPrintable(files[0]));
        QVERIFY2(files[1].startsWith(QLatin1String("Stitched_Left_Batch002_")), qPrintable(files[1]));
        for (int alongX = 0; alongX < 2; ++alongX) {
            const QImage written(out.filePath(files[alongX]));
            QCOMPARE(written.format(), QImage::Format_RGB32); // a 24-bit file, not a gray one
            QImage expected(alongX ? QSize(2 * kLines, kWidth) : QSize(kLines, 2 * kWidth),
                            QImage::Format_RGB888);
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
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
