// corvista-acquire run as a script runs it: files whose line stamps run on
// without a gap and agree with the JSON summary, an orderly stop on SIGTERM,
// and refused invocations that name their cause and write nothing.
#include <QtTest>

#include "acquireoptions.h"
#include "linestamps.h"
#include "scratchdirectory.h"

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

    void start(const QStringList &arguments)
    {
        QFile config(m_scratch->filePath(QStringLiteral("cameras.ini")));
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write(kCamera) > 0);
        config.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CORVISTA_SIM_CONFIG"), config.fileName());
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(m_scratch->path());
        m_process.start(QStringLiteral(CORVISTA_ACQUIRE), arguments);
        QVERIFY(m_process.waitForStarted());
    }
    QString outDir() const { return m_scratch->filePath(QStringLiteral("out")); }

    // Every file of the summary is on disk and nothing else is; each holds
    // the lines of the frames the summary names, without a gap, and each
    // file goes on from the line after the one before it.
    void compareSummaryWithDisk(const QJsonObject &summary, int direction)
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
        QVERIFY(summary[QStringLiteral("errors")].toArray().isEmpty());
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

QTEST_GUILESS_MAIN(TestAcquire)
#include "tst_acquire.moc"
