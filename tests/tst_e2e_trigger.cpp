// Triggered acquisition from the settings dialog to the files on disk: lines
// clocked by a conveyor's encoder through a stop of the belt, frames started
// by its light barrier. The simulated camera stamps every line with its
// number, so the files tell whether a line was lost or repeated.
#include <QtTest>

#include "appsettings.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "mvsim.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "stitchworker.h"
#include "linestamps.h"
#include "stitchingwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <atomic>
#include <functional>
#include <memory>

namespace {

constexpr int kWidth = 256;
constexpr int kLines = 64;
constexpr int kFramesPerBatch = 4;
constexpr int kObjectLines = 3 * kLines + 20;
const char *kSerial = "TRIG-CAM";
constexpr int kDown = 2; // stitched downwards: line i of the belt is row i

// Free running, the camera would make 100 frames a second; the belt makes
// 6000 lines a second for half a second, then stands for a second.
QString cameraIni(bool objects)
{
    QString ini = QStringLiteral("[%1]\ntransport = USB3\nwidth = %2\nlines_per_frame = %3\n"
                                 "line_rate = 6400\nmax_line_rate = 6400\nbuffer_count = 512\n"
                                 "conveyor = 6000 for 0.5, stop for 1, 6000 for 0.5\n")
                      .arg(QLatin1String(kSerial))
                      .arg(kWidth)
                      .arg(kLines);
    if (objects)
        ini += QStringLiteral("object_lines = %1\ngap_lines = 50\n").arg(kObjectLines);
    return ini;
}

} // namespace

class TestTriggeredAcquisition : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<MainWindow> m_window;
    QString m_outDir;

    MainWindow &w() { return *m_window; }

    void startWindow(const QString &cameraConfig)
    {
        m_outDir = m_scratch->filePath(QStringLiteral("out"));
        openStitchingWindow(m_window, cameraConfig, kSerial, {kDown, kFramesPerBatch, true, "PNG", m_outDir});
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

    void setGrabbing(bool on)
    {
        w().ui->actionCameraStart->trigger();
        QCOMPARE(w().m_isGrabbing, on);
    }

    // Stops grabbing, waits for the stitch worker and reads every file's line
    // numbers back in batch order.
    QList<QList<quint32>> stopAndReadFiles()
    {
        setGrabbing(false);
        if (!waitForStitchWorker(w()))
            return {};
        QList<QList<quint32>> stamps;
        for (const StitchedFile &file : readStitchedFiles(m_outDir, kDown))
            stamps.append(file.stamps);
        QDir(m_outDir).removeRecursively();
        return stamps;
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
        if (m_window && w().m_isGrabbing)
            setGrabbing(false);
        if (m_window && w().m_isOpen)
            w().ui->actionCameraOpen->trigger();
        m_window.reset();
        QVERIFY2(m_boxes->isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
        m_boxes.reset();
        m_scratch.reset();
        mvsim::reset();
    }

    void encoderLinesRunOnThroughAStandingBelt()
    {
        startWindow(cameraIni(false));
        clickInSettings({QStringLiteral("cbLineTrigger")});
        QElapsedTimer sinceStart;
        sinceStart.start();
        setGrabbing(true);
        // The belt makes at most 3000 lines before it stops: 12 batches need
        // lines from after the stop.
        const int batches = 12;
        QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= batches, 20000);
        const qint64 waited = sinceStart.elapsed();
        const unsigned int lost = lostFrames();
        const QList<QList<quint32>> files = stopAndReadFiles();
        QCOMPARE(lost, 0u);
        // Frames came only as the belt moved: the batches after the stop
        // waited for it.
        QVERIFY2(waited >= 1000, qPrintable(QString::number(waited)));
        QVERIFY(files.size() >= batches);
        quint32 next = files.first().first();
        for (const QList<quint32> &file : files) {
            QCOMPARE(file.size(), kFramesPerBatch * kLines);
            for (quint32 stamp : file)
                QCOMPARE(stamp, next++);
        }
    }

    void lightBarrierStartsAFrameForEachObject()
    {
        startWindow(cameraIni(true));
        // The camera starts with its light barrier on: switched off, frames
        // run on through the gaps; switched on again, each object starts a
        // frame and its incomplete last frame closes the batch.
        clickInSettings({QStringLiteral("cbFrameTrigger")});
        setGrabbing(true);
        QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= 2, 20000);
        QList<QList<quint32>> files = stopAndReadFiles();
        QVERIFY(files.size() >= 2);
        for (const QList<quint32> &file : files)
            QCOMPARE(file.size(), kFramesPerBatch * kLines);

        clickInSettings({QStringLiteral("cbFrameTrigger"), QStringLiteral("cbLineTrigger")});
        const int before = w().m_batchCounter;
        setGrabbing(true);
        QTRY_VERIFY_WITH_TIMEOUT(w().m_batchCounter >= before + 3, 20000);
        files = stopAndReadFiles();
        QVERIFY(files.size() >= 3);
        for (int i = 0; i < files.size(); ++i) {
            QCOMPARE(files[i].size(), kObjectLines);
            for (int line = 1; line < files[i].size(); ++line)
                QCOMPARE(files[i][line], files[i][line - 1] + 1);
            // Gap lines make no lines: the next object follows on.
            if (i > 0)
                QCOMPARE(files[i].first(), files[i - 1].last() + 1);
        }
        QCOMPARE(lostFrames(), 0u);
    }
};

QTEST_MAIN(TestTriggeredAcquisition)
#include "tst_e2e_trigger.moc"
