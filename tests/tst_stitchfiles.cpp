#include <QDir>
#include <QFile>
#include <QPainter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <new>
#include <stdexcept>

#include "stitchworker.h"
#include "tst_stitch_support.h"

class StitchFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void unusableListsFailWithTheirText_data();
    void unusableListsFailWithTheirText();
    void fiveWideFilesGiveTwoNumberedParts();
    void layoutOrderFollowsRotateClockwise_data();
    void layoutOrderFollowsRotateClockwise();
    void fileWiderThanTheLimitNamesItsPath();
    void tallestFileSetsTheCanvasHeight();
    void fileFormatIsRecognisedByContent();
    void fileDeletedAfterTheSurveyLeavesBlackAtTheEnd();
    void exceptionsBecomeOneFailure_data();
    void exceptionsBecomeOneFailure();
    void unwritableFolderFailsWithPathAndReason();

private:
    QString writeFrame(const QString &name, const QImage &image, const char *format = "PNG");
    StitchRun run(const QStringList &paths, int rotateClockwise, const QString &format = "PNG",
                  const QString &model = QString(), const QString &serial = QString(),
                  const QString &folder = QString());

    StitchWorker m_worker;
    QScopedPointer<QTemporaryDir> m_in;
    QScopedPointer<QTemporaryDir> m_out;
};

void StitchFilesTest::init()
{
    m_in.reset(new QTemporaryDir);
    m_out.reset(new QTemporaryDir);
    QVERIFY(m_in->isValid() && m_out->isValid());
    m_worker.setFrameFileReader(nullptr);
}

QString StitchFilesTest::writeFrame(const QString &name, const QImage &image, const char *format)
{
    const QString path = m_in->filePath(name);
    if (!image.save(path, format))
        return QString();
    return path;
}

StitchRun StitchFilesTest::run(const QStringList &paths, int rotateClockwise, const QString &format,
                               const QString &model, const QString &serial, const QString &folder)
{
    return recordStitchRun(m_worker, [&] {
        m_worker.saveStitch(paths, rotateClockwise, folder.isEmpty() ? m_out->path() : folder, model, serial,
                            format, 95, 8);
    });
}

void StitchFilesTest::unusableListsFailWithTheirText_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty list") << QStringList{} << "No frames to save!";
    QTest::newRow("empty paths") << QStringList{QString(), QString()} << "No valid frames to stitch!";
    QTest::newRow("missing file") << QStringList{QStringLiteral("/nonexistent/frame.png")}
                                  << "No valid frames to stitch!";
}

void StitchFilesTest::unusableListsFailWithTheirText()
{
    QFETCH(QStringList, paths);
    QFETCH(QString, error);
    const StitchRun result = run(paths, 0);
    QCOMPARE(result.failures, QStringList{error});
    QCOMPARE(result.finishedCount, 0);
    QVERIFY(result.progress.isEmpty());
}

void StitchFilesTest::fiveWideFilesGiveTwoNumberedParts()
{
    QStringList paths;
    QList<QImage> frames;
    for (int i = 0; i < 5; ++i) {
        frames << patternFrame(10000, 2, QImage::Format_RGB888, i);
        paths << writeFrame(QStringLiteral("f%1.png").arg(i), frames.last());
    }
    // A text file and an empty path among them are skipped.
    QFile text(m_in->filePath(QStringLiteral("notes.png")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a picture");
    text.close();
    paths.insert(2, text.fileName());
    paths.insert(4, QString());

    const StitchRun result
        = run(paths, 0, QStringLiteral("bmp"), QStringLiteral("CamA"), QStringLiteral("SN0042"));
    QVERIFY2(result.failures.isEmpty(), qPrintable(result.failures.value(0)));
    QCOMPARE(result.progress, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    QCOMPARE(result.files.size(), 2);
    const QRegularExpression name(
        QStringLiteral("^RotatedStitched_CamA_SN0042_\\d{8}_\\d{6}_\\d{3}_part0(\\d)\\.bmp$"));
    for (int i = 0; i < 2; ++i) {
        const QRegularExpressionMatch match = name.match(QFileInfo(result.files.at(i)).fileName());
        QVERIFY2(match.hasMatch(), qPrintable(result.files.at(i)));
        QCOMPARE(match.captured(1).toInt(), i + 1);
    }
    QCOMPARE(QImage(result.files.at(0)).convertToFormat(QImage::Format_RGB888),
             placedFrames(frames.mid(0, 3), true));
    QCOMPARE(QImage(result.files.at(1)).convertToFormat(QImage::Format_RGB888),
             placedFrames(frames.mid(3, 2), true));
}

void StitchFilesTest::layoutOrderFollowsRotateClockwise_data()
{
    QTest::addColumn<int>("rotateClockwise");
    QTest::addColumn<bool>("reversed");
    QTest::newRow("0 keeps list order") << 0 << false;
    QTest::newRow("1 reverses") << 1 << true;
    QTest::newRow("-3 reverses") << -3 << true;
}

void StitchFilesTest::layoutOrderFollowsRotateClockwise()
{
    QFETCH(int, rotateClockwise);
    QFETCH(bool, reversed);
    QList<QImage> frames
        = {patternFrame(5, 4, QImage::Format_RGB888, 1), patternFrame(3, 6, QImage::Format_RGB888, 2),
           patternFrame(4, 2, QImage::Format_RGB888, 3)};
    QStringList paths;
    for (int i = 0; i < frames.size(); ++i)
        paths << writeFrame(QStringLiteral("f%1.png").arg(i), frames.at(i));
    const StitchRun result = run(paths, rotateClockwise, QStringLiteral("TIFF"));
    QCOMPARE(result.files.size(), 1);
    QVERIFY(QRegularExpression(QStringLiteral("^RotatedStitched_\\d{8}_\\d{6}_\\d{3}\\.tif$"))
                .match(QFileInfo(result.files.first()).fileName())
                .hasMatch());
    if (reversed)
        std::reverse(frames.begin(), frames.end());
    QCOMPARE(QImage(result.files.first()).convertToFormat(QImage::Format_RGB888), placedFrames(frames, true));
}

void StitchFilesTest::fileWiderThanTheLimitNamesItsPath()
{
    const QString small
        = writeFrame(QStringLiteral("small.png"), patternFrame(10, 1, QImage::Format_Grayscale8, 1));
    const QString wide
        = writeFrame(QStringLiteral("wide.png"), patternFrame(33000, 1, QImage::Format_Grayscale8, 2));
    const StitchRun result = run({small, wide}, 0, QStringLiteral("Png"));
    QCOMPARE(result.failures,
             QStringList{QStringLiteral("A single frame is too wide for Png (33000 px > 32768 px).\nFile: ")
                         + wide});
    QVERIFY(QDir(m_out->path()).entryList(QDir::Files).isEmpty());
}

void StitchFilesTest::tallestFileSetsTheCanvasHeight()
{
    const QString tooTall
        = writeFrame(QStringLiteral("tall.png"), patternFrame(1, 32769, QImage::Format_Grayscale8, 1));
    const StitchRun rejected = run({tooTall}, 0, QStringLiteral("jpg"));
    QCOMPARE(rejected.failures,
             QStringList{QStringLiteral("Stitched image height too large for jpg: 32769 > 32768")});

    const QImage low = patternFrame(20000, 1, QImage::Format_Grayscale8, 1);
    const QImage high = patternFrame(20000, 3, QImage::Format_Grayscale8, 2);
    const StitchRun result
        = run({writeFrame("low.png", low), writeFrame("high.png", high)}, 0, QStringLiteral("PNG"));
    QCOMPARE(result.files.size(), 2);
    const QImage first(result.files.first());
    QCOMPARE(first.format(), QImage::Format_Grayscale8);
    QCOMPARE(first.size(), QSize(20000, 3));
    QCOMPARE(first.copy(0, 0, 20000, 1), low);
}

void StitchFilesTest::fileFormatIsRecognisedByContent()
{
    const QImage frame = patternFrame(6, 4, QImage::Format_RGB888, 1);
    const QString misnamed = writeFrame(QStringLiteral("frame.jpg"), frame, "PNG");
    const StitchRun result = run({misnamed}, 0);
    QCOMPARE(result.files.size(), 1);
    QCOMPARE(QImage(result.files.first()).convertToFormat(QImage::Format_RGB888), frame);
}

void StitchFilesTest::fileDeletedAfterTheSurveyLeavesBlackAtTheEnd()
{
    const QList<QImage> frames
        = {patternFrame(5, 3, QImage::Format_RGB888, 1), patternFrame(4, 3, QImage::Format_RGB888, 2),
           patternFrame(6, 3, QImage::Format_RGB888, 3)};
    QStringList paths;
    for (int i = 0; i < frames.size(); ++i)
        paths << writeFrame(QStringLiteral("f%1.png").arg(i), frames.at(i));
    // The survey reads every file once; the file is deleted right after it.
    int reads = 0;
    m_worker.setFrameFileReader([&](const QString &path) {
        const QImage image = readFrameFile(path);
        if (++reads == paths.size())
            QFile::remove(paths.at(1));
        return image;
    });
    const StitchRun result = run(paths, 0);
    QCOMPARE(reads, 6);
    QCOMPARE(result.files.size(), 1);
    const QImage written = QImage(result.files.first()).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(written.size(), QSize(15, 3));
    QImage black(4, 3, QImage::Format_RGB888);
    black.fill(0);
    QCOMPARE(written.copy(0, 0, 11, 3), placedFrames({frames.at(0), frames.at(2)}, true));
    QCOMPARE(written.copy(11, 0, 4, 3), black);
}

void StitchFilesTest::exceptionsBecomeOneFailure_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("standard") << 0 << "Exception occurred: disk went away";
    QTest::newRow("memory") << 1 << "Exception occurred: std::bad_alloc";
    QTest::newRow("other") << 2 << "Unknown exception occurred!";
}

void StitchFilesTest::exceptionsBecomeOneFailure()
{
    QFETCH(int, kind);
    QFETCH(QString, error);
    const QString path = writeFrame(QStringLiteral("f.png"), patternFrame(4, 4, QImage::Format_RGB888, 1));
    m_worker.setFrameFileReader([kind](const QString &) -> QImage {
        if (kind == 0)
            throw std::runtime_error("disk went away");
        if (kind == 1)
            throw std::bad_alloc();
        throw 42;
    });
    const StitchRun result = run({path}, 0);
    QCOMPARE(result.failures, QStringList{error});
    QCOMPARE(result.finishedCount, 0);
}

void StitchFilesTest::unwritableFolderFailsWithPathAndReason()
{
    const QString path = writeFrame(QStringLiteral("f.png"), patternFrame(4, 4, QImage::Format_RGB888, 1));
    // A regular file as the parent folder: the write fails even for root.
    const QString folder = path + QStringLiteral("/out");
    const StitchRun result = run({path}, 0, QStringLiteral("PNG"), QString(), QString(), folder);
    QCOMPARE(result.failures.size(), 1);
    const QRegularExpression message(
        QStringLiteral("^Failed to save image:\n%1/RotatedStitched_\\d{8}_\\d{6}_\\d{3}\\.png\nReason: .+$")
            .arg(QRegularExpression::escape(folder)));
    QVERIFY2(message.match(result.failures.first()).hasMatch(), qPrintable(result.failures.first()));
    QCOMPARE(result.finishedCount, 0);
}

QTEST_GUILESS_MAIN(StitchFilesTest)
#include "tst_stitchfiles.moc"
