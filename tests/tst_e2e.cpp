// From a simulated camera to stitched files on disk, driven through the
// window's actions. The files' line stamps tell whether a line was lost,
// repeated or put out of order; the rest of each line is compared with what
// the camera sent.
#include <QtTest>

#include "appsettings.h"
#include "camerawindow.h"
#include "decodedfile.h"
#include "linestamps.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "scratchdirectory.h"
#include "simcamera.h"
#include "stitchingwindow.h"
#include "stitchworker.h"
#include "triggerrules.h"
#include "ui_mainwindow.h"
#include "workthread.h"

#include <QElapsedTimer>
#include <QPointer>

#include <memory>

namespace {

constexpr int kWidth = 256;
constexpr int kLines = 64;
constexpr int kObjectLines = 3 * kLines + 20; // three full frames and a short one
const char *kSerial = "E2E-CAM";
const char *kNames[] = {"Left", "Right", "Bottom", "Top"};

// 100 frames a second; the deep buffer rides out a busy machine's stalls, so a frame lost to the
// scheduler does not pass for one lost by the window. Objects are 50 lines apart.
QString cameraIni(bool rgb, bool objects, const char *conveyor = "", const char *gray = "Mono8")
{
    return QStringLiteral("[%1]\ntransport = USB3\nwidth = %2\nlines_per_frame = %3\npixel_format = %4\n"
                          "line_rate = 6400\nmax_line_rate = 6400\nbuffer_count = 512\n%5%6\n")
        .arg(QLatin1String(kSerial))
        .arg(kWidth)
        .arg(kLines)
        .arg(QLatin1String(rgb ? "RGB8" : gray),
             objects ? QStringLiteral("object_lines = %1\ngap_lines = 50\n").arg(kObjectLines) : QString(),
             *conveyor ? QStringLiteral("conveyor = ") + QLatin1String(conveyor) : QString());
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<MainWindow> m_window;
    QString m_outDir;

    MainWindow &w() { return *m_window; }

    void startWindow(int direction, int frameCount, bool partial, const QString &format, const QString &ini)
    {
        m_outDir = m_scratch->filePath(QStringLiteral("out"));
        openStitchingWindow(m_window, ini, kSerial, {direction, frameCount, partial, format, m_outDir});
    }
    void setGrabbing(bool on)
    {
        w().ui->actionCameraStart->trigger();
        QCOMPARE(w().m_isGrabbing, on);
        QCOMPARE(w().session().isCollecting(), on);
    }
    void waitForBatches(int count) { QTRY_VERIFY_WITH_TIMEOUT(w().session().batchCount() >= count, 20000); }
private slots:
    void init()
    {
        m_scratch = std::make_unique<ScratchDirectory>();
        m_boxes = std::make_unique<MessageBoxRecorder>();
    }
    void cleanup()
    {
        m_window.reset();
        // No error reached the operator in any of these runs.
        QVERIFY2(m_boxes->isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
        m_boxes.reset();
        m_scratch.reset();
        mvsim::reset();
    }

    void batchesLandOnDiskWholeAndInLineOrder_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("rgb");
        QTest::addColumn<bool>("objects"); // else a continuous web, batches closed by count
        QTest::addColumn<bool>("partial");
        QTest::addColumn<int>("linesPerFile");
        const char *byCount[] = {"PNG", "BMP", "TIFF", "PNG"};
        for (int direction = 0; direction < 4; ++direction) {
            const bool odd = direction % 2;
            QTest::addRow("%s by count, %s", kNames[direction], byCount[direction])
                << direction << byCount[direction] << odd << false << true << 4 * kLines;
            QTest::addRow("%s by object, partial frames %s", kNames[direction], odd ? "dropped" : "kept")
                << direction << (direction < 2 ? "BMP" : "PNG") << false << true << !odd
                << (odd ? 3 * kLines : kObjectLines);
        }
    }
    // The window is closed while grabbing: the batches it numbered are all
    // written before it is gone, the open one is not.
    void batchesLandOnDiskWholeAndInLineOrder()
    {
        QFETCH(int, direction);
        QFETCH(QString, format);
        QFETCH(bool, rgb);
        QFETCH(bool, objects);
        QFETCH(bool, partial);
        QFETCH(int, linesPerFile);
        startWindow(direction, objects ? 30 : 4, partial, format, cameraIni(rgb, objects));
        setGrabbing(true);
        waitForBatches(3);
        if (!objects)
            QTRY_VERIFY_WITH_TIMEOUT(!w().session().openBatch().isEmpty(), 5000);
        QVERIFY(w().close());
        // Closing ends grabbing at once, not after the event loop, and frees
        // the camera; destroying the window ends the stitch worker and its thread.
        QVERIFY(!w().m_workThread->isRunning());
        QVERIFY(!w().m_isGrabbing && !w().m_isOpen && !w().session().isCollecting());
        QVERIFY(deviceIsFree(w().m_deviceInfo));
        const int batches = w().session().batchCount();
        QPointer<StitchWorker> worker = w().session().worker();
        QPointer<QThread> stitchThread = w().session().stitchThread();
        QVERIFY(worker && stitchThread && stitchThread->isRunning());
        m_window.reset();
        QVERIFY(!stitchThread && !worker);
        const QList<StitchedFile> files = readStitchedFiles(m_outDir, direction);
        QCOMPARE(files.size(), batches);
        for (int i = 0; i < files.size(); ++i) {
            QVERIFY2(files[i].name.contains(QStringLiteral("_%1_").arg(kNames[direction])),
                     qPrintable(files[i].name));
            QCOMPARE(files[i].batch, i + 1);
            QCOMPARE(files[i].stamps.size(), linesPerFile);
            QVERIFY2(runsWithoutGap(files[i].stamps), qPrintable(files[i].name));
            // A web continues from file to file; objects follow at a fixed period.
            if (i > 0 && !objects)
                QCOMPARE(files[i].stamps.first(), files[i - 1].stamps.last() + 1);
            if (i > 1 && objects)
                QCOMPARE(files[i].stamps.first() - files[i - 1].stamps.first(),
                         files[i - 1].stamps.first() - files[i - 2].stamps.first());
        }
        const QImage last(QDir(m_outDir).filePath(files.last().name));
        QCOMPARE(last.format(), QImage::Format_RGB32); // a 24-bit file, also from a gray camera
        const QString wrong = sceneMismatch(last, direction, kSerial, rgb);
        QVERIFY2(wrong.isEmpty(), qPrintable(files.last().name + QStringLiteral(": ") + wrong));
    }

    void filesKeepTheCameraPixels_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("cameraBits");
        QTest::addColumn<QList<int>>("depthChannelsSbit");
        QTest::newRow("Mono12, Left, TIFF") << 0 << "TIFF" << 12 << QList{16, 1, 0};
        QTest::newRow("Mono12, Right, PNG") << 1 << "PNG" << 12 << QList{16, 1, 12};
        QTest::newRow("Mono12, Bottom, BMP") << 2 << "BMP" << 12 << QList{8, 1, 0};
        QTest::newRow("Mono16, Top, JPEG") << 3 << "JPG" << 16 << QList{8, 1, 0};
        QTest::newRow("Mono16, Left, PNG") << 0 << "PNG" << 16 << QList{16, 1, 16};
        QTest::newRow("Mono8, Bottom, TIFF") << 2 << "TIFF" << 8 << QList{8, 1, 0};
        QTest::newRow("Mono8, Bottom, PNG, option off") << 2 << "PNG" << 8 << QList{8, 3, 0};
    }
    // With the option on, a gray camera's files are gray: 16-bit PNG and TIFF hold its values, BMP
    // and JPEG their top 8 bits; off, 24-bit RGB. Lines run on from file to file.
    void filesKeepTheCameraPixels()
    {
        QFETCH(int, direction);
        QFETCH(QString, format);
        QFETCH(int, cameraBits);
        QFETCH(QList<int>, depthChannelsSbit);
        const bool keep = depthChannelsSbit[1] == 1; // else 24-bit RGB files, as without the option
        const char *pixelFormat = cameraBits == 8 ? "Mono8" : cameraBits == 12 ? "Mono12" : "Mono16";
        AppSettings::setValue(AppSettings::kKeepCameraPixels, keep);
        startWindow(direction, 4, true, format, cameraIni(false, false, "", pixelFormat));
        setGrabbing(true);
        waitForBatches(3);
        setGrabbing(false);
        QVERIFY(waitForStitchWorker(w()));
        const QStringList names = QDir(m_outDir).entryList(QDir::Files, QDir::Name);
        QVERIFY(names.size() >= 3);
        const bool jpeg = format == QLatin1String("JPG");
        qint64 nextLine = -1;
        for (const QString &name : names) {
            const DecodedFile file = decodeFile(QDir(m_outDir).filePath(name));
            QCOMPARE(QList<int>({file.depth, file.channels, file.sbit}), depthChannelsSbit);
            QCOMPARE(file.photometric, format == QLatin1String("TIFF") ? PHOTOMETRIC_MINISBLACK : -1);
            const QImage shape(file.width, file.height, QImage::Format_Mono); // where each line lies
            const auto value = [&](int i, int x) {
                const QPoint p = linePixelPosition(shape, direction, i, x);
                return file.samples[size_t(p.y()) * size_t(file.width) + size_t(p.x())];
            };
            // Camera bits above the stamp's byte in a sample, and those the file cannot hold.
            const int low = cameraBits - 8, toByte = file.depth == 16 ? low : 0, dropped = low - toByte;
            const auto sent = [&](quint32 line, int x) { // the scene atop (7x + L)
                return mvsim::scenePixel(kSerial, line, unsigned(x), 0, PixelType_Gvsp_Mono8) << low
                    | ((7 * x + int(line)) & ((1 << low) - 1));
            };
            QList<qint64> offsets; // each line's stamp less its place
            for (int i = 0; i < lineCount(shape, direction); ++i) {
                uchar stamp[4];
                for (int p = 0; p < 4; ++p)
                    stamp[p] = uchar(value(i, p) >> toByte);
                offsets << qint64(mvsim::lineStamp(stamp, 1)) - i;
            }
            std::sort(offsets.begin(), offsets.end());
            const qint64 first = offsets[offsets.size() / 2]; // JPEG blurs a few stamps
            QVERIFY2(jpeg || (offsets.first() == offsets.last() && (nextLine < 0 || first == nextLine)),
                     qPrintable(name));
            nextLine = first + offsets.size();
            double error = 0;
            for (int i = 0; i < offsets.size(); ++i)
                for (int x = 0; x < file.width * file.height / offsets.size(); ++x)
                    error += qAbs(value(i, x) - (sent(quint32(first + i), x) >> dropped));
            error /= double(file.width) * file.height;
            QVERIFY2(error <= (jpeg ? 1.5 : 0.0), qPrintable(QStringLiteral("%1: %2").arg(name).arg(error)));
        }
    }

    // Lines clocked by a belt that stands for a second: no lines is no hole in the stream.
    void encoderLinesRunOnThroughAStandingBelt()
    {
        AppSettings::setValue(TriggerRules::kLineTrigger, true); // as the last run left it
        startWindow(2, 4, true, QStringLiteral("PNG"),
                    cameraIni(false, false, "6000 for 0.5, stop for 1, 6000 for 0.5"));
        QElapsedTimer sinceStart;
        sinceStart.start();
        setGrabbing(true);
        // At most 3000 lines before the belt stops: 12 batches need lines from after it.
        waitForBatches(12);
        QVERIFY2(sinceStart.elapsed() >= 1000, qPrintable(QString::number(sinceStart.elapsed())));
        const FrameCounts counts = cameraFrameCounts(w().m_handle);
        QVERIFY(counts.received > 0 && counts.lost == 0); // the camera lost none
        setGrabbing(false);
        QVERIFY(waitForStitchWorker(w()));
        const QList<StitchedFile> files = readStitchedFiles(m_outDir, 2);
        QVERIFY(files.size() >= 12);
        quint32 next = files.first().stamps.first();
        for (const StitchedFile &file : files) {
            // Stop saves the batch it finds open: only the last file may be short.
            if (&file != &files.last() || file.stamps.size() > 4 * kLines)
                QCOMPARE(file.stamps.size(), 4 * kLines);
            for (quint32 stamp : file.stamps)
                QCOMPARE(stamp, next++);
        }
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
