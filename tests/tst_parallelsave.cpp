#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "filesizelimit.h"
#include "imagewriter.h"
#include "stitchworker.h"
#include "patternframe.h"

#include <condition_variable>
#include <mutex>

/*
 * The stitch worker saving several batches at once: results still leave in
 * the order the batches were handed over, one each, and a segment that
 * cannot be written in one batch leaves no file of its own and fails that
 * batch once, while the batch beside it is written.
 */

Q_DECLARE_METATYPE(QList<QImage>)

namespace {

// Holds the first frame read until released, so that a save is slow for as
// long as the test wants.
class ReaderGate
{
public:
    QImage read(const QString &path)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_passedOnce) {
            m_waiting = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_open; });
            m_passedOnce = true;
        }
        lock.unlock();
        return readFrameFile(path);
    }
    bool waiting()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waiting;
    }
    void open()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_waiting = false;
    bool m_open = false;
    bool m_passedOnce = false;
};

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class ParallelSaveTest : public QObject
{
    Q_OBJECT

private slots:
    void slowFirstSaveAndFastSecondReportInOrder();
    void failedSegmentInAParallelBatchLeavesNoFileAndFailsItOnce();
};

// The first save (a file list whose first read is held back) is still
// running when the second (a batch in memory) has written its file; the
// second's finished() waits until the first has reported.
void ParallelSaveTest::slowFirstSaveAndFastSecondReportInOrder()
{
    QTemporaryDir in;
    QTemporaryDir out;
    const QString framePath = in.filePath(QStringLiteral("frame.png"));
    QVERIFY(patternFrame(40, 30, QImage::Format_RGB888, 1).save(framePath, "PNG"));

    StitchWorker worker;
    worker.setConcurrentSaves(2);
    ReaderGate gate;
    worker.setFrameFileReader([&gate](const QString &path) { return gate.read(path); });
    QStringList order;
    connect(&worker, &StitchWorker::finished, this,
            [&order](const QStringList &files) { order << QFileInfo(files.value(0)).fileName(); });
    connect(&worker, &StitchWorker::failed, this, [&order](const QString &error) { order << error; });
    QSignalSpy progress(&worker, &StitchWorker::progress);

    worker.saveStitch({framePath}, 0, out.path(), QString(), QString(), QStringLiteral("PNG"), 95, 1);
    worker.saveStitchImages({patternFrame(30, 20, QImage::Format_RGB888, 2)}, 0, out.path(), QString(),
                            QString(), 2, QStringLiteral("BMP"), 95, 1);
    QTRY_VERIFY(gate.waiting());
    // The second batch is written while the first still waits for its frame.
    QTRY_COMPARE(filesIn(out.path()).size(), 1);
    QVERIFY(filesIn(out.path()).first().contains(QStringLiteral("_Batch002_")));
    QTest::qWait(100); // let queued deliveries run: none may report yet
    QVERIFY(order.isEmpty());
    QCOMPARE(progress.size(), 0);

    gate.open();
    QTRY_COMPARE(order.size(), 2);
    QVERIFY2(order.at(0).startsWith(QStringLiteral("RotatedStitched_")), qPrintable(order.join(", ")));
    QVERIFY2(order.at(1).contains(QStringLiteral("_Batch002_")), qPrintable(order.join(", ")));
    QCOMPARE(progress.size(), 2);
    QCOMPARE(filesIn(out.path()).size(), 2);
}

// In a child where no file may pass 100 kB: batch 7 has a small segment and
// one of 180 kB, batch 8 one small segment; both run at once. Batch 7 fails
// once, naming its second segment, after which batch 8 reports its file; the
// first segment of batch 7 stays, the second leaves neither file nor partial.
void ParallelSaveTest::failedSegmentInAParallelBatchLeavesNoFileAndFailsItOnce()
{
    QTemporaryDir out;
    QVERIFY(
        writeImageFile(out.filePath("warm.png"), patternFrame(8, 8, QImage::Format_RGB888, 1), "PNG", 95, 1));
    QFile::remove(out.filePath("warm.png"));

    const QByteArray answer = runWithFileSizeLimit(
        100000,
        [&] {
            StitchWorker worker;
            worker.setConcurrentSaves(2);
            worker.maxDimension = 300;
            QStringList events;
            QObject::connect(&worker, &StitchWorker::finished, [&events](const QStringList &files) {
                QStringList names;
                for (const QString &file : files)
                    names << QFileInfo(file).fileName();
                events << QStringLiteral("finished ") + names.join(QLatin1Char(','));
            });
            QObject::connect(&worker, &StitchWorker::failed, [&events](const QString &error) {
                events << QStringLiteral("failed ") + error;
            });
            // 100 x 200 and 300 x 200 RGB: segments of 60 kB and 180 kB as BMP.
            worker.saveStitchImages({patternFrame(100, 200, QImage::Format_RGB888, 1),
                                     patternFrame(300, 200, QImage::Format_RGB888, 2)},
                                    0, out.path(), QString(), QString(), 7, QStringLiteral("BMP"), 95, 1);
            worker.saveStitchImages({patternFrame(50, 200, QImage::Format_RGB888, 3)}, 0, out.path(),
                                    QString(), QString(), 8, QStringLiteral("BMP"), 95, 1);
            worker.waitForSaves();
            return events.join(QStringLiteral("\n--\n")).toUtf8();
        },
        [&] {
            for (const QString &left : QDir(out.path()).entryList(QDir::Files | QDir::Hidden))
                QFile::remove(out.filePath(left));
        });
    const QStringList events = QString::fromUtf8(answer).split(QStringLiteral("\n--\n"));
    QCOMPARE(events.size(), 2);
    QVERIFY2(events.at(0).startsWith(QStringLiteral("failed Failed to save image:\n")),
             qPrintable(events.at(0)));
    QVERIFY2(events.at(0).contains(QStringLiteral("_Batch007_"))
                 && events.at(0).contains(QStringLiteral("_Seg02.bmp")),
             qPrintable(events.at(0)));
    QVERIFY2(events.at(0).endsWith(QStringLiteral("Reason: File too large")), qPrintable(events.at(0)));
    QVERIFY2(events.at(1).startsWith(QStringLiteral("finished Stitched_Left_Batch008_")),
             qPrintable(events.at(1)));

    const QStringList files = filesIn(out.path());
    QCOMPARE(files.size(), 2);
    QVERIFY2(files.at(0).contains(QStringLiteral("_Batch007_"))
                 && files.at(0).endsWith(QStringLiteral("_Seg01.bmp")),
             qPrintable(files.join(", ")));
    QVERIFY2(files.at(1).contains(QStringLiteral("_Batch008_")), qPrintable(files.join(", ")));
}

QTEST_GUILESS_MAIN(ParallelSaveTest)
#include "tst_parallelsave.moc"
