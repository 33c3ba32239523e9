// Frame memory handed back by images and taken again by the next frame of the
// same size, within a bound on what is kept idle.
#include <QtTest>

#include "framepool.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kMiB = 1024 * 1024;

// 4 MiB gray and 12 MiB RGB, as a 4096 x 1024 camera's feed and live frames.
QImage grayFrame(FramePool &pool)
{
    return pool.image(4096, 1024, QImage::Format_Grayscale8);
}
QImage rgbFrame(FramePool &pool)
{
    return pool.image(4096, 1024, QImage::Format_RGB888);
}

} // namespace

class FramePoolTest : public QObject
{
    Q_OBJECT

private slots:
    void memoryOfALetGoImageServesTheNextOfItsSize()
    {
        FramePool pool(64 * kMiB);
        QImage first = grayFrame(pool);
        QVERIFY(!first.isNull());
        QCOMPARE(first.size(), QSize(4096, 1024));
        QCOMPARE(first.format(), QImage::Format_Grayscale8);
        QCOMPARE(first.bytesPerLine(), 4096);
        // Written in place: an image on pooled memory must not copy itself on write.
        const uchar *pixels = first.constBits();
        first.bits()[0] = 7;
        QCOMPARE(first.constBits(), pixels);

        // A copy holds the memory as long as it lives.
        QImage copy = first;
        first = QImage();
        QCOMPARE(pool.idleBytes(), qint64(0));
        copy = QImage();
        QCOMPARE(pool.idleBytes(), 4 * kMiB);

        const QImage second = grayFrame(pool);
        QCOMPARE(second.constBits(), pixels);
        QCOMPARE(pool.reused(), qint64(1));
        QCOMPARE(pool.idleBytes(), qint64(0));

        // Another size gets memory of its own.
        const QImage rgb = rgbFrame(pool);
        QVERIFY(!rgb.isNull());
        QVERIFY(rgb.constBits() != pixels);
        QCOMPARE(pool.reused(), qint64(1));
    }

    void idleMemoryStaysWithinTheLimit()
    {
        FramePool pool(10 * kMiB);
        QList<QImage> batch;
        for (int i = 0; i < 5; ++i)
            batch.append(grayFrame(pool));
        batch.clear();
        // Two of the five 4 MiB blocks fit; the rest went back to the system.
        QCOMPARE(pool.idleBytes(), 8 * kMiB);

        // A block larger than the whole limit is never kept, and makes no
        // room for itself by giving up the others.
        rgbFrame(pool);
        QCOMPARE(pool.idleBytes(), 8 * kMiB);

        // New sizes push out the oldest idle blocks.
        FramePool small(8 * kMiB);
        grayFrame(small);
        small.image(2048, 1024, QImage::Format_RGB888); // 6 MiB
        QCOMPARE(small.idleBytes(), 6 * kMiB);
        QVERIFY(grayFrame(small).constBits() != nullptr);
        QCOMPARE(small.reused(), qint64(0));
    }

    void smallAndInvalidImagesAreNotPooled()
    {
        FramePool pool(64 * kMiB);
        for (int i = 0; i < 3; ++i) {
            QImage tiny = pool.image(100, 100, QImage::Format_RGB888);
            QVERIFY(!tiny.isNull());
            tiny.fill(Qt::red);
        }
        QCOMPARE(pool.idleBytes(), qint64(0));
        QCOMPARE(pool.reused(), qint64(0));
        QVERIFY(pool.image(0, 10, QImage::Format_RGB888).isNull());
        QVERIFY(pool.image(10, -1, QImage::Format_RGB888).isNull());
        QVERIFY(pool.image(10, 10, QImage::Format_Invalid).isNull());
    }

    void imagesMadeAndLetGoOnManyThreadsKeepTheirPixels()
    {
        // Frames are made on the grab thread and let go of on the window's
        // and the savers' threads.
        FramePool pool(16 * kMiB);
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&pool, &wrong, t] {
                for (int i = 0; i < 40; ++i) {
                    QImage image = pool.image(1024 + 1024 * (i % 2), 1024, QImage::Format_Grayscale8);
                    if (image.isNull()) {
                        ++wrong;
                        continue;
                    }
                    const uchar mark = uchar(t * 40 + i);
                    image.fill(mark);
                    std::this_thread::yield();
                    const uchar *last = image.constScanLine(image.height() - 1);
                    if (last[image.width() - 1] != mark || image.constBits()[0] != mark)
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

QTEST_GUILESS_MAIN(FramePoolTest)
#include "tst_framepool.moc"
