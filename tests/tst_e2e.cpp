// From a simulated camera to stitched files on disk, driven through the
// window's actions, free running and triggered. Every line of a simulated
// frame carries its line number in its first four pixels, so the files tell
// whether a line was lost, repeated or put out of order; the rest of each
// line is compared with what the camera sent.
#include <QtTest>

#include "linestamps.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "stitchingwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>

#include <memory>

namespace {

constexpr int kWidth = 256;
constexpr int kLines = 64;
constexpr int kObjectLines = 3 * kLines + 20; // three full frames and a short one
const char *kSerial = "E2E-CAM";

// A small camera, paced at 100 frames a second whatever the line-rate setting
// says. Its deep buffer rides out the stalls of a busy test machine, so a
// frame lost to the scheduler does not pass for a frame lost by the window.
// Objects, if any, are 50 lines apart; a belt, if any, clocks the lines.
QString cameraIni(const QString &pixelFormat, bool objects, const QString &conveyor = QString())
{
    QString ini
        = QStringLiteral("[%1]\ntransport = USB3\nwidth = %2\nlines_per_frame = %3\n"
                         "pixel_format = %4\nline_rate = 6400\nmax_line_rate = 6400\nbuffer_count = 512\n")
              .arg(QLatin1String(kSerial))
              .arg(kWidth)
              .arg(kLines)
              .arg(pixelFormat);
    if (objects)
        ini += QStringLiteral("object_lines = %1\ngap_lines = 50\n").arg(kObjectLines);
    if (!conveyor.isEmpty())
        ini += QStringLiteral("conveyor = %1\n").arg(conveyor);
    return ini;
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
    // The Start action toggles grabbing.
    void setGrabbing(bool on)
    {
        w().ui->actionCameraStart->trigger();
        QCOMPARE(w().m_isGrabbing, on);
        if (on)
            QVERIFY(w().m_stitchActive);
    }
    void waitForBatches(int count) { QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= count, 20000); }
    // Stops grabbing, waits until the stitch worker has run every job posted
    // so far, and reads the files back in batch order.
    QList<StitchedFile> stopAndReadFiles(int direction)
    {
        setGrabbing(false);
        if (!waitForStitchWorker(w())) {
            QTest::qFail("the stitch worker did not finish", __FILE__, __LINE__);
            return {};
        }
        return readStitchedFiles(m_outDir, direction);
    }
    // Opens the settings dialog with the Setting action, clicks the trigger
    // boxes named as a person would and closes the dialog.
    void clickInSettings(const QStringList &boxes)
    {
        QTimer poll;
        int seen = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<settingdialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            ++seen;
            for (const QString &name : boxes) {
                auto *box = dialog->findChild<QCheckBox *>(name);
                QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
            }
            dialog->reject();
        });
        poll.start(10);
        w().ui->actionSetting->trigger();
        QCOMPARE(seen, 1);
    }
    unsigned int lostFrames()
    {
        MV_MATCH_INFO_USB_DETECT usb{};
        MV_ALL_MATCH_INFO match{MV_MATCH_TYPE_USB_DETECT, &usb, sizeof usb};
        return MV_CC_GetAllMatchInfo(w().m_handle, &match) == MV_OK ? usb.nErrorFrameCount : ~0u;
    }

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
        QTest::addColumn<QString>("pixelFormat");
        QTest::addColumn<bool>("objects"); // else a continuous web, batches closed by count
        QTest::addColumn<bool>("partial");
        QTest::addColumn<int>("linesPerFile");
        QTest::newRow("Left, png, mono, by count") << 0 << "PNG"
                                                   << "Mono8" << false << true << 4 * kLines;
        QTest::newRow("Right, bmp, rgb, by count") << 1 << "BMP"
                                                   << "RGB8" << false << true << 4 * kLines;
        QTest::newRow("Bottom, tiff, mono, by count") << 2 << "TIFF"
                                                      << "Mono8" << false << true << 4 * kLines;
        QTest::newRow("Top, png, rgb, by count") << 3 << "PNG"
                                                 << "RGB8" << false << true << 4 * kLines;
        for (int direction = 0; direction < 4; ++direction) {
            const bool partial = direction % 2 == 0;
            QTest::addRow("direction %d, by object, partial frames %s", direction,
                          partial ? "kept" : "dropped")
                << direction << (direction < 2 ? "BMP" : "PNG") << "Mono8" << true << partial
                << (partial ? kObjectLines : 3 * kLines);
        }
    }
    // The window is closed while grabbing: the batches it numbered are all
    // written before it is gone, the open one is not.
    void batchesLandOnDiskWholeAndInLineOrder()
    {
        QFETCH(int, direction);
        QFETCH(QString, format);
        QFETCH(QString, pixelFormat);
        QFETCH(bool, objects);
        QFETCH(bool, partial);
        QFETCH(int, linesPerFile);
        const char *names[] = {"_Left_", "_Right_", "_Bottom_", "_Top_"};
        startWindow(direction, objects ? 30 : 4, partial, format, cameraIni(pixelFormat, objects));
        setGrabbing(true);
        waitForBatches(3);
        if (!objects)
            QTRY_VERIFY_WITH_TIMEOUT(!w().m_batchFrames.isEmpty(), 5000);
        QVERIFY(w().close());
        const int batches = w().m_batchCounter;
        m_window.reset();
        const QList<StitchedFile> files = readStitchedFiles(m_outDir, direction);
        QCOMPARE(files.size(), batches);
        for (int i = 0; i < files.size(); ++i) {
            QVERIFY2(files[i].name.contains(QLatin1String(names[direction])), qPrintable(files[i].name));
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
        const QString wrong = sceneMismatch(last, direction, kSerial, pixelFormat == QLatin1String("RGB8"));
        QVERIFY2(wrong.isEmpty(), qPrintable(files.last().name + QStringLiteral(": ") + wrong));
    }

    // Numbers keep rising over Clear Images, camera restarts and a reopen;
    // batches closed while saving is off leave gaps in the numbers.
    void batchNumbersKeepRisingAndSkipUnsavedBatches()
    {
        startWindow(2, 2, true, QStringLiteral("BMP"), cameraIni(QStringLiteral("Mono8"), false));
        setGrabbing(true);
        waitForBatches(2);
        w().ui->actionClearImages->trigger();
        w().m_saveStitchImage = false;
        const int offFrom = w().m_batchCounter + 1;
        waitForBatches(offFrom + 1);
        w().m_saveStitchImage = true;
        const int onFrom = w().m_batchCounter + 1;
        waitForBatches(onFrom + 1);
        setGrabbing(false);
        setGrabbing(true);
        waitForBatches(w().m_batchCounter + 2);
        setGrabbing(false);
        // Reopening restarts the camera's line numbers.
        w().ui->actionCameraOpen->trigger();
        QVERIFY(!w().m_isOpen);
        w().ui->actionCameraOpen->trigger();
        QVERIFY(w().m_isOpen);
        const int reopenedAfter = w().m_batchCounter;
        setGrabbing(true);
        waitForBatches(reopenedAfter + 2);
        const QList<StitchedFile> files = stopAndReadFiles(2);
        QList<int> saved;
        QList<int> expected;
        for (int batch = 1; batch <= w().m_batchCounter; ++batch)
            if (batch < offFrom || batch >= onFrom)
                expected.append(batch);
        for (int i = 0; i < files.size(); ++i) {
            saved.append(files[i].batch);
            QCOMPARE(files[i].stamps.size(), 2 * kLines);
            QVERIFY2(runsWithoutGap(files[i].stamps), qPrintable(files[i].name));
            if (i > 0 && files[i].batch != reopenedAfter + 1)
                QVERIFY2(files[i].stamps.first() > files[i - 1].stamps.last(), qPrintable(files[i].name));
        }
        QCOMPARE(saved, expected);
    }

    // Lines clocked by the belt's encoder: the belt makes 6000 lines a second
    // for half a second, stands for a second, then runs on.
    void encoderLinesRunOnThroughAStandingBelt()
    {
        startWindow(2, 4, true, QStringLiteral("PNG"),
                    cameraIni(QStringLiteral("Mono8"), false, "6000 for 0.5, stop for 1, 6000 for 0.5"));
        clickInSettings({QStringLiteral("cbLineTrigger")});
        QElapsedTimer sinceStart;
        sinceStart.start();
        setGrabbing(true);
        // The belt makes at most 3000 lines before it stops: 12 batches need
        // lines from after the stop.
        waitForBatches(12);
        const qint64 waited = sinceStart.elapsed();
        QCOMPARE(lostFrames(), 0u);
        const QList<StitchedFile> files = stopAndReadFiles(2);
        // Frames came only as the belt moved: the batches after the stop waited for it.
        QVERIFY2(waited >= 1000, qPrintable(QString::number(waited)));
        QVERIFY(files.size() >= 12);
        quint32 next = files.first().stamps.first();
        for (const StitchedFile &file : files) {
            QCOMPARE(file.stamps.size(), 4 * kLines);
            for (quint32 stamp : file.stamps)
                QCOMPARE(stamp, next++);
        }
    }

    // The camera starts with its light barrier on: switched off, frames run on
    // through the gaps; switched on again with the encoder, each object starts
    // a frame and its incomplete last frame closes the batch.
    void lightBarrierStartsAFrameForEachObject()
    {
        startWindow(2, 4, true, QStringLiteral("PNG"),
                    cameraIni(QStringLiteral("Mono8"), true, "6000 for 0.5, stop for 1, 6000 for 0.5"));
        clickInSettings({QStringLiteral("cbFrameTrigger")});
        setGrabbing(true);
        waitForBatches(2);
        QList<StitchedFile> files = stopAndReadFiles(2);
        QVERIFY(files.size() >= 2);
        for (const StitchedFile &file : files)
            QCOMPARE(file.stamps.size(), 4 * kLines);
        QVERIFY(QDir(m_outDir).removeRecursively());

        clickInSettings({QStringLiteral("cbFrameTrigger"), QStringLiteral("cbLineTrigger")});
        const int before = w().m_batchCounter;
        setGrabbing(true);
        waitForBatches(before + 3);
        files = stopAndReadFiles(2);
        QVERIFY(files.size() >= 3);
        for (int i = 0; i < files.size(); ++i) {
            QCOMPARE(files[i].stamps.size(), kObjectLines);
            QVERIFY2(runsWithoutGap(files[i].stamps), qPrintable(files[i].name));
            // Gap lines make no lines: the next object follows on.
            if (i > 0)
                QCOMPARE(files[i].stamps.first(), files[i - 1].stamps.last() + 1);
        }
        QCOMPARE(lostFrames(), 0u);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
