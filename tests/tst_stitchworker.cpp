#include <QDateTime>
#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <unistd.h>

#include "stitchworker.h"
#include "tst_stitch_support.h"

Q_DECLARE_METATYPE(QList<QImage>)

class StitchWorkerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void rejectedBatchesFailWithTheirText_data();
    void rejectedBatchesFailWithTheirText();
    void framesArePlacedByDirectionPixelForPixel_data();
    void framesArePlacedByDirectionPixelForPixel();
    void tenWideFramesGiveThreeSegmentsWithProgress();
    void segmentNumbersArePaddedByTheirCount_data();
    void segmentNumbersArePaddedByTheirCount();
    void tallestFrameSetsTheHeightOfEverySegment();
    void grayFramesGiveGrayFilesUnlessOneIsColour_data();
    void grayFramesGiveGrayFilesUnlessOneIsColour();
    void nullFramesAreSkippedWithoutAnEmptySegment();
    void bmpFilesKeepTwentyFourBitsForColourAndEightForGray_data();
    void bmpFilesKeepTwentyFourBitsForColourAndEightForGray();
    void fileNameCarriesCameraDirectionAndBatch();
    void dotFolderMeansWorkingDirectory();
    void missingNestedFolderIsCreated();
    void unwritableFolderFailsWithPathAndReason();
    void folderWithoutPermissionFailsForOrdinaryUsers();
    void writeFailureInTheSecondSegmentKeepsTheFirstFile();
    void queuedJobsRunInOrderInTheWorkerThread();

private:
    StitchRun run(const QList<QImage> &frames, int direction, const QString &folder, int batch = 0,
                  const QString &format = QStringLiteral("PNG"), const QString &model = QString(),
                  const QString &serial = QString());

    StitchWorker m_worker;
    QScopedPointer<QTemporaryDir> m_dir;
};

StitchRun StitchWorkerTest::run(const QList<QImage> &frames, int direction, const QString &folder, int batch,
                                const QString &format, const QString &model, const QString &serial)
{
    return recordStitchRun(m_worker, [&] {
        m_worker.saveStitchImages(frames, direction, folder, model, serial, batch, format, 95, 8);
    });
}

void StitchWorkerTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void StitchWorkerTest::rejectedBatchesFailWithTheirText_data()
{
    QTest::addColumn<QList<QImage>>("frames");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("error");
    const QImage gray = patternFrame(3, 2, QImage::Format_Grayscale8, 1);
    QTest::newRow("empty batch") << QList<QImage>{} << 0 << "PNG"
                                 << "No frames to save!";
    QTest::newRow("only null frames") << QList<QImage>{QImage(), QImage()} << 0 << "PNG"
                                      << "No valid frames to stitch!";
    QTest::newRow("too tall for Left")
        << QList<QImage>{gray, patternFrame(1, 32769, QImage::Format_Grayscale8, 2)} << 0 << "jpg"
        << "Stitched image height too large for jpg: 32769 > 32768";
    QTest::newRow("too wide for Top")
        << QList<QImage>{patternFrame(40000, 1, QImage::Format_Grayscale8, 2)} << 3 << "Tiff"
        << "Stitched image height too large for Tiff: 40000 > 32768";
    QTest::newRow("one frame too long for Right")
        << QList<QImage>{gray, patternFrame(40000, 1, QImage::Format_Grayscale8, 2)} << 1 << "BMP"
        << "A single frame is too wide for BMP (40000 px > 32768 px).";
    QTest::newRow("one frame too long for Bottom")
        << QList<QImage>{gray, patternFrame(1, 32769, QImage::Format_Grayscale8, 2)} << 2 << "png"
        << "A single frame is too wide for png (32769 px > 32768 px).";
}

void StitchWorkerTest::rejectedBatchesFailWithTheirText()
{
    QFETCH(QList<QImage>, frames);
    QFETCH(int, direction);
    QFETCH(QString, format);
    QFETCH(QString, error);
    const StitchRun result = run(frames, direction, m_dir->path(), 0, format);
    QCOMPARE(result.failures, QStringList{error});
    QCOMPARE(result.finishedCount, 0);
    QVERIFY(result.progress.isEmpty());
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
}

void StitchWorkerTest::framesArePlacedByDirectionPixelForPixel_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("format");
    for (int direction : {0, 1, 2, 3, -1, 7}) {
        for (const char *format : {"PNG", "BMP", "TIFF"})
            QTest::addRow("%d %s", direction, format) << direction << format;
    }
}

void StitchWorkerTest::framesArePlacedByDirectionPixelForPixel()
{
    QFETCH(int, direction);
    QFETCH(QString, format);
    // Unequal sizes: the canvas is as large as the largest cross side and
    // the rest of it must stay black.
    const QList<QImage> frames
        = {patternFrame(5, 4, QImage::Format_RGB888, 1), patternFrame(3, 6, QImage::Format_RGB888, 2),
           patternFrame(4, 2, QImage::Format_RGB888, 3)};
    const bool horizontal = direction == 0 || direction == 1;
    const bool reverse = direction == 1 || direction == 3;
    QList<QImage> placed = frames;
    if (reverse)
        std::reverse(placed.begin(), placed.end());

    const StitchRun result = run(frames, direction, m_dir->path(), 0, format);
    QVERIFY2(result.failures.isEmpty(), qPrintable(result.failures.value(0)));
    QCOMPARE(result.files.size(), 1);
    QCOMPARE(result.progress, (QList<QPair<int, int>>{{1, 1}}));
    const QImage written = QImage(result.files.first()).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(written, placedFrames(placed, horizontal, QImage::Format_RGB888));

    // One spot check that does not depend on the painter: the first frame's
    // top-left pixel sits where the direction says.
    const QPoint firstCorner = !reverse ? QPoint(0, 0) : horizontal ? QPoint(7, 0) : QPoint(0, 8);
    QCOMPARE(written.pixel(firstCorner), frames.first().pixel(0, 0));
}

void StitchWorkerTest::tenWideFramesGiveThreeSegmentsWithProgress()
{
    QList<QImage> frames;
    for (int i = 0; i < 10; ++i)
        frames << patternFrame(8192, 1, QImage::Format_Grayscale8, i);
    const StitchRun result = run(frames, 0, m_dir->path());
    QVERIFY(result.failures.isEmpty());
    QCOMPARE(result.finishedCount, 1);
    QCOMPARE(result.progress, (QList<QPair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    QCOMPARE(result.files.size(), 3);
    const QList<int> widths = {32768, 32768, 16384};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(result.files.at(i).endsWith(QStringLiteral("_Seg0%1.png").arg(i + 1)));
        const QImage segment(result.files.at(i));
        QCOMPARE(segment.size(), QSize(widths.at(i), 1));
        // Segment i starts with frame 4 * i.
        QCOMPARE(segment.pixel(0, 0), frames.at(4 * i).pixel(0, 0));
    }
}

void StitchWorkerTest::segmentNumbersArePaddedByTheirCount_data()
{
    QTest::addColumn<int>("segments");
    QTest::addColumn<QString>("firstSuffix");
    QTest::addColumn<QString>("lastSuffix");
    QTest::newRow("one") << 1 << "_Left"
                         << "_Left";
    QTest::newRow("two") << 2 << "_Seg01"
                         << "_Seg02";
    QTest::newRow("ninety-nine") << 99 << "_Seg01"
                                 << "_Seg99";
    QTest::newRow("one hundred") << 100 << "_Seg001"
                                 << "_Seg100";
}

void StitchWorkerTest::segmentNumbersArePaddedByTheirCount()
{
    QFETCH(int, segments);
    QFETCH(QString, firstSuffix);
    QFETCH(QString, lastSuffix);
    // One-pixel-high frames as long as the limit: one segment each, cheap.
    const QImage frame = patternFrame(32768, 1, QImage::Format_Grayscale8, 1);
    const StitchRun result = run(QList<QImage>().fromVector(QVector<QImage>(segments, frame)), 0,
                                 m_dir->path(), 0, QStringLiteral("BMP"));
    QVERIFY(result.failures.isEmpty());
    QCOMPARE(result.files.size(), segments);
    QCOMPARE(result.progress.size(), segments);
    QCOMPARE(result.progress.last(), qMakePair(segments, segments));
    const QRegularExpression timestamp(QStringLiteral("_\\d{8}_\\d{6}_\\d{3}"));
    const QString first = QFileInfo(result.files.first()).completeBaseName();
    const QString last = QFileInfo(result.files.last()).completeBaseName();
    if (segments == 1) {
        QVERIFY(QRegularExpression(QStringLiteral("^Stitched_Left_\\d{8}_\\d{6}_\\d{3}$"))
                    .match(first)
                    .hasMatch());
    } else {
        QVERIFY2(first.endsWith(firstSuffix), qPrintable(first));
        QVERIFY2(last.endsWith(lastSuffix), qPrintable(last));
    }
    for (const QString &file : result.files) {
        QVERIFY(QFile::exists(file));
        QVERIFY(file.endsWith(QStringLiteral(".bmp")));
        QVERIFY(timestamp.match(file).hasMatch());
    }
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), segments);
}

void StitchWorkerTest::tallestFrameSetsTheHeightOfEverySegment()
{
    const QImage low = patternFrame(20000, 1, QImage::Format_RGB888, 1);
    const QImage tall = patternFrame(20000, 5, QImage::Format_RGB888, 2);
    const StitchRun result = run({low, tall}, 0, m_dir->path());
    QCOMPARE(result.files.size(), 2);
    const QImage first = QImage(result.files.at(0)).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(first.size(), QSize(20000, 5));
    QCOMPARE(first.copy(0, 0, 20000, 1), low);
    QImage black(20000, 4, QImage::Format_RGB888);
    black.fill(0);
    QCOMPARE(first.copy(0, 1, 20000, 4), black);
}

void StitchWorkerTest::grayFramesGiveGrayFilesUnlessOneIsColour_data()
{
    QTest::addColumn<int>("otherFormat");
    QTest::addColumn<bool>("grayFile");
    QTest::newRow("gray and mono") << int(QImage::Format_Mono) << true;
    QTest::newRow("gray and indexed") << int(QImage::Format_Indexed8) << true;
    QTest::newRow("gray and 32-bit rgb") << int(QImage::Format_RGB32) << false;
}

void StitchWorkerTest::grayFramesGiveGrayFilesUnlessOneIsColour()
{
    QFETCH(int, otherFormat);
    QFETCH(bool, grayFile);
    // Two segments, the colour frame only in the second: the first turns
    // to colour all the same.
    const QList<QImage> frames = {patternFrame(20000, 3, QImage::Format_Grayscale8, 1),
                                  patternFrame(20000, 3, QImage::Format(otherFormat), 2)};
    const StitchRun result = run(frames, 0, m_dir->path());
    QCOMPARE(result.files.size(), 2);
    const QImage::Format expected = grayFile ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    for (int i = 0; i < 2; ++i) {
        const QImage written(result.files.at(i));
        QCOMPARE(written.format() == QImage::Format_Grayscale8, grayFile);
        QCOMPARE(written.convertToFormat(expected), frames.at(i).convertToFormat(expected));
    }
}

void StitchWorkerTest::nullFramesAreSkippedWithoutAnEmptySegment()
{
    const QImage a = patternFrame(6, 3, QImage::Format_RGB888, 1);
    const QImage b = patternFrame(4, 3, QImage::Format_RGB888, 2);
    const StitchRun result = run({QImage(), a, QImage(), b, QImage()}, 0, m_dir->path());
    QCOMPARE(result.progress, (QList<QPair<int, int>>{{1, 1}}));
    QCOMPARE(result.files.size(), 1);
    QCOMPARE(QImage(result.files.first()).convertToFormat(QImage::Format_RGB888),
             placedFrames({a, b}, true, QImage::Format_RGB888));
}

void StitchWorkerTest::bmpFilesKeepTwentyFourBitsForColourAndEightForGray_data()
{
    QTest::addColumn<int>("frameFormat");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::newRow("colour") << int(QImage::Format_RGB888) << 24;
    QTest::newRow("gray") << int(QImage::Format_Grayscale8) << 8;
}

void StitchWorkerTest::bmpFilesKeepTwentyFourBitsForColourAndEightForGray()
{
    QFETCH(int, frameFormat);
    QFETCH(int, bitsPerPixel);
    const QList<QImage> frames = {patternFrame(7, 5, QImage::Format(frameFormat), 1),
                                  patternFrame(6, 3, QImage::Format(frameFormat), 2)};
    const StitchRun result = run(frames, 0, m_dir->path(), 0, QStringLiteral("BMP"));
    QCOMPARE(result.files.size(), 1);
    QFile file(result.files.first());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(30);
    QCOMPARE(header.left(2), QByteArray("BM"));
    QCOMPARE(int(uchar(header.at(28))) | int(uchar(header.at(29))) << 8, bitsPerPixel);
    const QImage expected = placedFrames(frames, true, QImage::Format_RGB888);
    QCOMPARE(QImage(result.files.first()).convertToFormat(QImage::Format_RGB888), expected);
}

void StitchWorkerTest::fileNameCarriesCameraDirectionAndBatch()
{
    const StitchRun result = run({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 2, m_dir->path(), 12,
                                 QStringLiteral("jpeg"), QStringLiteral("CamA"), QStringLiteral("SN0042"));
    QCOMPARE(result.files.size(), 1);
    QCOMPARE(QFileInfo(result.files.first()).absolutePath(), QDir(m_dir->path()).absolutePath());
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^Stitched_CamA_SN0042_Bottom_Batch012_\\d{8}_\\d{6}_\\d{3}\\.jpg$"))
                 .match(QFileInfo(result.files.first()).fileName())
                 .hasMatch(),
             qPrintable(result.files.first()));
    QVERIFY(QFile::exists(result.files.first()));
}

void StitchWorkerTest::dotFolderMeansWorkingDirectory()
{
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const StitchRun dot = run({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 0, QStringLiteral("."));
    const StitchRun empty = run({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 1, QString());
    const QString working = QDir::currentPath();
    QDir::setCurrent(previous);
    QCOMPARE(dot.files.size(), 1);
    QCOMPARE(empty.files.size(), 1);
    QCOMPARE(QFileInfo(dot.files.first()).absolutePath(), working);
    QCOMPARE(QFileInfo(empty.files.first()).absolutePath(), working);
    QVERIFY(QFile::exists(dot.files.first()));
    QVERIFY(QFile::exists(empty.files.first()));
}

void StitchWorkerTest::missingNestedFolderIsCreated()
{
    const QString folder = m_dir->filePath(QStringLiteral("a/b/c"));
    const StitchRun result = run({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 0, folder);
    QCOMPARE(result.files.size(), 1);
    QVERIFY(result.files.first().startsWith(folder + QLatin1Char('/')));
    QVERIFY(QFile::exists(result.files.first()));
}

void StitchWorkerTest::unwritableFolderFailsWithPathAndReason()
{
    // A regular file where the folder should be: the write fails even for root.
    QFile blocker(m_dir->filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString folder = m_dir->filePath(QStringLiteral("blocker/out"));
    const StitchRun result = run({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 0, folder);
    QCOMPARE(result.finishedCount, 0);
    QVERIFY(result.progress.isEmpty());
    QCOMPARE(result.failures.size(), 1);
    const QRegularExpression message(
        QStringLiteral("^Failed to save image:\n%1/Stitched_Left_\\d{8}_\\d{6}_\\d{3}\\.png\nReason: .+$")
            .arg(QRegularExpression::escape(folder)));
    QVERIFY2(message.match(result.failures.first()).hasMatch(), qPrintable(result.failures.first()));
}

void StitchWorkerTest::folderWithoutPermissionFailsForOrdinaryUsers()
{
    if (geteuid() == 0)
        QSKIP("root writes into any folder");
    const QString folder = m_dir->filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const StitchRun result = run({patternFrame(4, 4, QImage::Format_RGB888, 1)}, 0, folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(result.failures.size(), 1);
    QVERIFY(result.failures.first().startsWith(QStringLiteral("Failed to save image:\n") + folder));
    QCOMPARE(result.finishedCount, 0);
}

void StitchWorkerTest::writeFailureInTheSecondSegmentKeepsTheFirstFile()
{
    // The second segment's name is taken by a folder for every timestamp
    // the call can pick, so only its write fails.
    const QDateTime start = QDateTime::currentDateTime();
    QDir dir(m_dir->path());
    for (int ms = 0; ms < 10000; ++ms) {
        const QString stamp = start.addMSecs(ms).toString(QStringLiteral("yyyyMMdd_hhmmss_zzz"));
        QVERIFY(dir.mkdir(QStringLiteral("Stitched_Left_%1_Seg02.png").arg(stamp)));
    }
    QList<QImage> frames;
    for (int i = 0; i < 3; ++i)
        frames << patternFrame(20000, 2, QImage::Format_RGB888, i);
    const StitchRun result = run(frames, 0, m_dir->path());
    QVERIFY2(QDateTime::currentDateTime() < start.addMSecs(10000), "the machine was too slow");
    QCOMPARE(result.progress, (QList<QPair<int, int>>{{1, 3}}));
    QCOMPARE(result.finishedCount, 0);
    QCOMPARE(result.failures.size(), 1);
    QVERIFY(result.failures.first().startsWith(QStringLiteral("Failed to save image:\n")));
    QVERIFY(result.failures.first().contains(QStringLiteral("_Seg02.png\nReason: ")));
    const QStringList written = dir.entryList({QStringLiteral("*_Seg01.png")}, QDir::Files);
    QCOMPARE(written.size(), 1);
    QVERIFY(dir.entryList({QStringLiteral("*_Seg03.png")}, QDir::Files).isEmpty());
}

void StitchWorkerTest::queuedJobsRunInOrderInTheWorkerThread()
{
    qRegisterMetaType<QList<QImage>>("QList<QImage>");
    QThread thread;
    auto *worker = new StitchWorker;
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start();

    QSignalSpy finished(worker, &StitchWorker::finished);
    QSignalSpy failed(worker, &StitchWorker::failed);
    const QList<QImage> frames = {patternFrame(5, 3, QImage::Format_RGB888, 1)};
    for (int batch = 1; batch <= 3; ++batch) {
        QVERIFY(QMetaObject::invokeMethod(
            worker, "saveStitchImages", Qt::QueuedConnection, Q_ARG(QList<QImage>, frames), Q_ARG(int, 0),
            Q_ARG(QString, m_dir->path()), Q_ARG(QString, QString()), Q_ARG(QString, QString()),
            Q_ARG(int, batch), Q_ARG(QString, QStringLiteral("BMP")), Q_ARG(int, 95), Q_ARG(int, 8)));
    }
    QTRY_COMPARE(finished.size(), 3);
    thread.quit();
    QVERIFY(thread.wait());
    QCOMPARE(failed.size(), 0);
    for (int batch = 1; batch <= 3; ++batch) {
        const QStringList files = finished.at(batch - 1).at(0).toStringList();
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().contains(QStringLiteral("_Batch%1_").arg(batch, 3, 10, QLatin1Char('0'))));
    }
}

QTEST_GUILESS_MAIN(StitchWorkerTest)
#include "tst_stitchworker.moc"
