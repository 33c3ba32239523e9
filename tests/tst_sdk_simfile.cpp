// The simulator's configuration file as a user writes it: the file named by
// CORVISTA_SIM_CONFIG, the examples of docs/simulator.md, and what is refused.
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "simcamera.h"

namespace {

// Runs what with stderr going to a file; returns what it wrote there.
QString stderrOf(const std::function<void()> &what)
{
    QTemporaryFile capture;
    if (!capture.open())
        qFatal("no file to capture stderr in");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    what();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    capture.seek(0);
    return QString::fromUtf8(capture.readAll());
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class SdkSimFileTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    // Must stay the first test: the simulator reads its file at the first
    // search of the process, and that search must already see the fault.
    void faultSetInTheFileFailsTheFirstSearch()
    {
        QVERIFY(writeFile(path("fault.ini"), "[A]\nfault.MV_CC_EnumDevices = 0x80000006\n"));
        qputenv("CORVISTA_CAMERAS", "simulator");
        qputenv("CORVISTA_SIM_CONFIG", path("fault.ini").toLocal8Bit());
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), status(MV_E_RESOURCE));
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), status(MV_E_RESOURCE));
    }

    void cleanup()
    {
        qunsetenv("CORVISTA_SIM_CONFIG");
        mvsim::reset();
    }

    void everyExampleInTheDocumentationLoadsAsWritten()
    {
        QFile doc(QFINDTESTDATA("../docs/simulator.md"));
        QVERIFY(doc.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(doc.readAll());
        const QRegularExpression block(QStringLiteral("```ini\\n(.*?)```"),
                                       QRegularExpression::DotMatchesEverythingOption);
        int examples = 0;
        for (auto match = block.globalMatch(text); match.hasNext(); ++examples) {
            const QByteArray example = match.next().captured(1).toUtf8();
            const QString file = path("example.ini");
            QVERIFY(writeFile(file, example));
            qputenv("CORVISTA_SIM_CONFIG", file.toLocal8Bit());
            QCOMPARE(stderrOf([] { mvsim::reset(); }), QString());
            const int sections
                = QString::fromUtf8(example).count(QRegularExpression(QStringLiteral("(^|\\n)\\[")));
            QCOMPARE(enumerateCameras().size(), std::size_t(sections));
            for (const MV_CC_DEVICE_INFO &camera : enumerateCameras()) {
                CameraHandle handle(serialOf(camera));
                QCOMPARE(handle.open(), MV_OK);
            }
        }
        QVERIFY(examples >= 1);
    }

    void unusableFileSaysWhyAndGivesNoCamera_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const QByteArray camera = "[A]\nwidth = 64\n";
        QTest::newRow("folder") << "folder" << QByteArray() << "is a folder, not a file";
        QTest::newRow("named pipe") << "pipe" << QByteArray() << "is not a regular file";
        QTest::newRow("missing file") << "missing" << QByteArray() << "cannot read the file: No such file";
        QTest::newRow("empty file") << "file" << QByteArray() << "is empty: it describes no camera";
        QTest::newRow("only comments") << "file" << QByteArray("; nothing yet\n\n# still nothing\n")
                                       << "describes no camera: it has no [section]";
        QTest::newRow("unknown key") << "file" << camera + "linerate = 5\n"
                                     << "line 3: unknown key \"linerate\"";
        QTest::newRow("GigE serial of 16") << "file" << camera + "serial = " + QByteArray(16, 'S') + "\n"
                                           << "has 16 characters; a GigE device record holds at most 15";
        QTest::newRow("USB3 serial of 3000")
            << "file" << camera + "transport = USB3\nserial = " + QByteArray(3000, 'S') + "\n"
            << "has 3000 characters; a USB3 device record holds at most 63";
        QTest::newRow("GigE model of 32") << "file" << camera + "model = " + QByteArray(32, 'M') + "\n"
                                          << "model \"MMMMMMMMMMMMMMMMMMMM...\" has 32 characters";
        QTest::newRow("section name as a long serial")
            << "file" << QByteArray("[") + QByteArray(40, 'N') + "]\n"
            << "holds at most 15";
    }

    void unusableFileSaysWhyAndGivesNoCamera()
    {
        QFETCH(QString, what);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString file = path(qPrintable(QStringLiteral("unusable-%1").arg(QTest::currentDataTag())));
        if (what == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(file));
        else if (what == QLatin1String("pipe"))
            QCOMPARE(mkfifo(qPrintable(file), 0644), 0);
        else if (what == QLatin1String("file"))
            QVERIFY(writeFile(file, content));
        qputenv("CORVISTA_SIM_CONFIG", file.toLocal8Bit());

        const QString said = stderrOf([] { mvsim::reset(); });

        QVERIFY2(said.startsWith(QStringLiteral("MVCameraControl: CORVISTA_SIM_CONFIG %1: ").arg(file)),
                 qPrintable(said));
        QVERIFY2(said.contains(reason), qPrintable(said));
        QVERIFY2(said.endsWith(QLatin1String("; no simulated camera\n")), qPrintable(said));
        QCOMPARE(said.count(QLatin1Char('\n')), 1);
        QVERIFY(enumerateCameras().empty());
    }

    void commentsMayFollowOnALineAndLongestTextsFit()
    {
        const std::string serial63(63, 'S');
        std::string error;
        QVERIFY2(mvsim::configure("[A] ; the first station\n"
                                  "width = 64          ; pixels\n"
                                  "lines_per_frame = 8\t# lines\n"
                                  "model = LS#4;x\n"
                                  "serial = S#1 # the serial\n"
                                  "[B]\ntransport = USB3\nwidth = 64\nserial = "
                                      + serial63 + "\n",
                                  &error),
                 error.c_str());
        const auto cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(2));
        QCOMPARE(serialOf(cameras[0]), std::string("S#1"));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(cameras[0].SpecialInfo.stGigEInfo.chModelName)),
                 QByteArray("LS#4;x"));
        QCOMPARE(serialOf(cameras[1]), serial63);
        CameraHandle first("S#1");
        QCOMPARE(first.open(), MV_OK);
        QCOMPARE(first.intValue("Width"), int64_t(64));
        QCOMPARE(first.intValue("Height"), int64_t(8));
        CameraHandle second(serial63);
        QCOMPARE(second.open(), MV_OK);
    }
};

QTEST_MAIN(SdkSimFileTest)
#include "tst_sdk_simfile.moc"
