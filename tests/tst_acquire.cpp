// corvista-acquire run as a script runs it: files whose line stamps run on
// without a gap and agree with the JSON summary, an orderly stop on SIGTERM,
// and refused invocations that name their cause and write nothing.
#include <QtTest>

#include "acquireoptions.h"
#include "linestamps.h"
#include "scratchdirectory.h"
#include "stitchingwindow.h"
#include "ui_mainwindow.h"

#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kLines = 16; // lines per frame of the camera below

const char kCamera[] = "[cam]\ntransport = USB3\nserial = ACQ1\nwidth = 64\nlines_per_frame = 16\n"
                       "pixel_format = Mono8\nline_rate = 2000\n";

} // namespace

class TestAcquire : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    QProcess m_process;

    // fileSizeLimitKiB > 0: the command runs as on a disk that refuses to grow
    // its files past that size (RLIMIT_FSIZE, with SIGXFSZ ignored).
    void start(const QStringList &arguments, const QByteArray &camera = kCamera, int fileSizeLimitKiB = 0)
    {
        QFile config(m_scratch->filePath(QStringLiteral("cameras.ini")));
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write(camera) == camera.size());
        config.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CORVISTA_SIM_CONFIG"), config.fileName());
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(m_scratch->path());
        if (fileSizeLimitKiB > 0)
            m_process.start(
                QStringLiteral("bash"),
                QStringList{
                    QStringLiteral("-c"),
                    QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(fileSizeLimitKiB),
                    QStringLiteral(CORVISTA_ACQUIRE)}
                    + arguments);
        else
            m_process.start(QStringLiteral(CORVISTA_ACQUIRE), arguments);
        QVERIFY(m_process.waitForStarted());
    }
    QString outDir() const { return m_scratch->filePath(QStringLiteral("out")); }

    // Every file of the summary is on disk and nothing else is; each holds
    // the lines of the frames the summary names, without a gap, and each
    // file goes on from the line after the one before it.
    void compareSummaryWithDisk(const QJsonObject &summary, int direction, const QString &error = {})
    {
        const QList<StitchedFile> onDisk = readStitchedFiles(outDir(), direction);
        const QJsonArray files = summary[QStringLiteral("files")].toArray();
        QCOMPARE(onDisk.size(), files.size());
        QVERIFY(!files.isEmpty());
        qint64 lines = 0;
        for (int i = 0; i < files.size(); ++i) {
            const QJsonObject file = files[i].toObject();
            QCOMPARE(QFileInfo(file[QStringLiteral("path")].toString()).fileName(), onDisk[i].name);
            const QList<quint32> &stamps = onDisk[i].stamps;
            QVERIFY2(runsWithoutGap(stamps), qPrintable(onDisk[i].name));
            const qint64 first = file[QStringLiteral("first_frame")].toVariant().toLongLong();
            const qint64 last = file[QStringLiteral("last_frame")].toVariant().toLongLong();
            QCOMPARE(qint64(stamps.first()), first * kLines);
            QCOMPARE(qint64(stamps.size()), (last - first + 1) * kLines);
            if (i > 0)
                QCOMPARE(stamps.first(), onDisk[i - 1].stamps.last() + 1);
            lines += stamps.size();
        }
        QCOMPARE(summary[QStringLiteral("lines")].toVariant().toLongLong(), lines);
        QCOMPARE(summary[QStringLiteral("frames")].toVariant().toLongLong(), lines / kLines);
        QCOMPARE(summary[QStringLiteral("batches")].toInt(), files.size());
        const QJsonArray errors = summary[QStringLiteral("errors")].toArray();
        QCOMPARE(errors.size(), error.isEmpty() ? 0 : 1);
        if (!error.isEmpty())
            QVERIFY2(errors[0].toString().contains(error), qPrintable(errors[0].toString()));
    }

    QJsonObject summaryOf(const QByteArray &output)
    {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(output, &error);
        [&] { QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString())); }();
        return document.object();
    }

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup()
    {
        m_process.kill();
        m_process.waitForFinished();
        m_scratch.reset();
    }

    // The window's settings file gives the defaults, a byte-order mark and all,
    // and stays as it was.
    void framesBecomeFilesAsTheSummarySays()
    {
        const QByteArray settings
            = "\xEF\xBB\xBF[File]\nFormat=PNG\n[Stitch]\nMaxStitchCount=6\nKeepCameraPixels=true\n";
        QFile file(m_scratch->filePath(QStringLiteral("setting.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size());
        file.close();
        start({QStringLiteral("--camera"), QStringLiteral("ACQ1"), QStringLiteral("--frames"),
               QStringLiteral("40"), QStringLiteral("--direction"), QStringLiteral("bottom"),
               QStringLiteral("--out"), outDir(), QStringLiteral("--json")});
        QVERIFY(m_process.waitForFinished(60000));
        QCOMPARE(m_process.exitCode(), 0);
        const QJsonObject summary = summaryOf(m_process.readAllStandardOutput());
        QCOMPARE(summary[QStringLiteral("frames")].toInt(), 40);
        QCOMPARE(summary[QStringLiteral("files")].toArray().size(), 7);   // six of 6, one of 4
        for (const QString &name : QDir(outDir()).entryList(QDir::Files)) // gray: the camera's pixels kept
            QVERIFY2(QImageReader(QDir(outDir()).filePath(name), "png").imageFormat()
                         == QImage::Format_Grayscale8,
                     qPrintable(name));
        compareSummaryWithDisk(summary, 2);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), settings);
    }

    void sigtermWritesEveryHandedOffBatch()
    {
        start({QStringLiteral("--seconds"), QStringLiteral("120"), QStringLiteral("--count"),
               QStringLiteral("4"), QStringLiteral("--format"), QStringLiteral("TIFF"),
               QStringLiteral("--direction"), QStringLiteral("left"), QStringLiteral("--out"), outDir(),
               QStringLiteral("--json")});
        QTRY_VERIFY_WITH_TIMEOUT(QDir(outDir()).entryList(QDir::Files).size() >= 3, 30000);
        m_process.terminate();
        QVERIFY(m_process.waitForFinished(60000));
        QCOMPARE(m_process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_process.exitCode(), 0);
        compareSummaryWithDisk(summaryOf(m_process.readAllStandardOutput()), 0);
    }

    // A camera that vanishes ends the run: what it delivered is written and
    // listed, and the status says why the run ended.
    void aVanishedCameraEndsTheRunWithItsFramesWritten()
    {
        start({QStringLiteral("--seconds"), QStringLiteral("60"), QStringLiteral("--count"),
               QStringLiteral("4"), QStringLiteral("--format"), QStringLiteral("PNG"),
               QStringLiteral("--direction"), QStringLiteral("left"), QStringLiteral("--out"), outDir(),
               QStringLiteral("--json")},
              QByteArray(kCamera) + "vanish_after_frames = 10\n");
        QVERIFY(m_process.waitForFinished(60000));
        QCOMPARE(m_process.exitCode(), 5);
        const QJsonObject summary = summaryOf(m_process.readAllStandardOutput());
        QCOMPARE(summary[QStringLiteral("frames")].toInt(), 10);
        compareSummaryWithDisk(summary, 0, QStringLiteral("vanished"));
    }

    // A disk that refuses the files: every failure is reported with its
    // reason, nothing half-written stays, and the status says a save failed.
    void failedSavesEndTheRunWithStatus4()
    {
        start({QStringLiteral("--frames"), QStringLiteral("8"), QStringLiteral("--count"),
               QStringLiteral("4"), QStringLiteral("--format"), QStringLiteral("TIFF"),
               QStringLiteral("--out"), outDir(), QStringLiteral("--json")},
              kCamera, 2);
        QVERIFY(m_process.waitForFinished(60000));
        QCOMPARE(m_process.exitCode(), 4);
        const QJsonObject summary = summaryOf(m_process.readAllStandardOutput());
        QVERIFY(summary[QStringLiteral("files")].toArray().isEmpty());
        const QJsonArray errors = summary[QStringLiteral("errors")].toArray();
        QCOMPARE(errors.size(), 2);
        for (const QJsonValue &error : errors)
            QVERIFY2(error.toString().contains(QLatin1String("File too large")),
                     qPrintable(error.toString()));
        QVERIFY(QDir(outDir()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    // The window and the command on the same camera write the same lines into
    // the same files, pixel for pixel.
    void windowAndCommandWriteTheSameFiles()
    {
        start({QStringLiteral("--frames"), QStringLiteral("24"), QStringLiteral("--count"),
               QStringLiteral("6"), QStringLiteral("--direction"), QStringLiteral("right"),
               QStringLiteral("--format"), QStringLiteral("PNG"), QStringLiteral("--out"), outDir()});
        QVERIFY(m_process.waitForFinished(60000));
        QCOMPARE(m_process.exitCode(), 0);
        const QList<StitchedFile> byCommand = readStitchedFiles(outDir(), 1);
        QCOMPARE(byCommand.size(), 4);

        const QString windowDir = m_scratch->filePath(QStringLiteral("window"));
        std::unique_ptr<MainWindow> window;
        openStitchingWindow(window, QString::fromLatin1(kCamera), "ACQ1", {1, 6, true, "PNG", windowDir});
        if (QTest::currentTestFailed())
            return;
        window->ui->actionCameraStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(window->session().batchCount() >= 4, 30000);
        window->ui->actionCameraStart->trigger();
        QVERIFY(waitForStitchWorker(*window));
        const QList<StitchedFile> byWindow = readStitchedFiles(windowDir, 1);
        QVERIFY(byWindow.size() >= byCommand.size());
        for (int i = 0; i < byCommand.size(); ++i) {
            QCOMPARE(byWindow[i].stamps, byCommand[i].stamps);
            const QImage fromWindow(QDir(windowDir).filePath(byWindow[i].name));
            QVERIFY2(!fromWindow.isNull() && fromWindow == QImage(QDir(outDir()).filePath(byCommand[i].name)),
                     qPrintable(byCommand[i].name));
        }
        window.reset();
        mvsim::reset();
    }

    void refusedInvocationsNameTheirCause_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("cause");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--fast")} << 2 << "fast";
        QTest::newRow("bad format") << QStringList{QStringLiteral("--format"), QStringLiteral("GIF")} << 2
                                    << "--format";
        QTest::newRow("no frames") << QStringList{QStringLiteral("--count"), QStringLiteral("0")} << 2
                                   << "--count";
        QTest::newRow("two limits") << QStringList{QStringLiteral("--frames"), QStringLiteral("5"),
                                                   QStringLiteral("--batches"), QStringLiteral("1")}
                                    << 2 << "--frames";
        QTest::newRow("no settings file")
            << QStringList{QStringLiteral("--settings"), QStringLiteral("missing.ini")} << 2 << "missing.ini";
        QTest::newRow("output is a file")
            << QStringList{QStringLiteral("--out"), QStringLiteral("cameras.ini")} << 2 << "--out";
        QTest::newRow("missing camera")
            << QStringList{QStringLiteral("--camera"), QStringLiteral("NOSUCH")} << 3 << "NOSUCH";
    }
    void refusedInvocationsNameTheirCause()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, cause);
        start(arguments + QStringList{QStringLiteral("--frames"), QStringLiteral("3")});
        QVERIFY(m_process.waitForFinished(30000));
        QCOMPARE(m_process.exitCode(), exitCode);
        QVERIFY2(QString::fromUtf8(m_process.readAllStandardError()).contains(cause), qPrintable(cause));
        // Nothing half-written: no file anywhere but the camera's description.
        QDirIterator written(m_scratch->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QStringList names;
        while (written.hasNext())
            names << QFileInfo(written.next()).fileName();
        QCOMPARE(names, QStringList{QStringLiteral("cameras.ini")});
    }

    // What the command line says is what the run gets.
    void optionsAreParsedOnce()
    {
        AcquireOptions options;
        QString error;
        QVERIFY(parseAcquireOptions({QStringLiteral("acquire"), QStringLiteral("--format=jpeg"),
                                     QStringLiteral("--direction=Top"), QStringLiteral("--batches=3"),
                                     QStringLiteral("--gain=0")},
                                    options, &error));
        QVERIFY(options.format == ImageFormat::Jpeg);
        QCOMPARE(options.direction, 3);
        QVERIFY(options.limit == AcquireOptions::Limit::Batches && options.limitCount == 3);
        QCOMPARE(options.gainDb, 0.0);
        QVERIFY(!parseAcquireOptions({QStringLiteral("acquire"), QStringLiteral("--seconds=-1")}, options,
                                     &error));
        QVERIFY2(error.contains(QLatin1String("--seconds")), qPrintable(error));
    }
};

QTEST_MAIN(TestAcquire)
#include "tst_acquire.moc"
