// The snapshot: the settings dialog's Save button writes the window's latest
// raw frame through the camera library and reports the outcome.
#include <QAtomicInt>
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QThread>
#include <QtTest>

#include <memory>

#include "appsettings.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "tst_settingdialog_camera.h"

namespace {

constexpr unsigned int kWidth = 64;
constexpr unsigned int kHeight = 16;

unsigned char grayAt(unsigned int x, unsigned int y)
{
    return static_cast<unsigned char>((x * 4 + y * 13) & 0xFF);
}

// Leaves a Mono8 frame as the grab thread would: buffer, size and record.
void giveLatestFrame(MainWindow &window, unsigned int bufferBytes = kWidth * kHeight,
                     MvGvspPixelType pixelType = PixelType_Gvsp_Mono8)
{
    QMutexLocker lock(&window.m_frameMutex);
    window.m_lastFrameBuffer = std::make_unique<unsigned char[]>(bufferBytes);
    for (unsigned int i = 0; i < bufferBytes; ++i)
        window.m_lastFrameBuffer[i] = grayAt(i % kWidth, i / kWidth);
    window.m_lastFrameBufferSize = bufferBytes;
    window.m_lastFrameInfo = MV_FRAME_OUT_INFO_EX{};
    window.m_lastFrameInfo.nWidth = kWidth;
    window.m_lastFrameInfo.nHeight = kHeight;
    window.m_lastFrameInfo.enPixelType = pixelType;
    window.m_lastFrameInfo.nFrameLen = kWidth * kHeight;
}

void store(const char *key, const QVariant &value)
{
    QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).setValue(QLatin1String(key), value);
}

QStringList snapshotsIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("Image_*")}, QDir::Files);
}

void pressSave(settingdialog &dialog)
{
    // Run as the button runs it: without an open camera the dialog is disabled.
    QVERIFY(QMetaObject::invokeMethod(&dialog, "on_btnSaveImage_clicked"));
}

} // namespace

class SnapshotTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void snapshotWithoutOpenCameraWarns_data();
    void snapshotWithoutOpenCameraWarns();
    void snapshotBeforeAnyFrameWarns();
    void snapshotIsWrittenAndReportedInTheChosenFormat_data();
    void snapshotIsWrittenAndReportedInTheChosenFormat();
    void snapshotGoesToTheChosenFolder();
    void failedSnapshotShowsTheStatusAsSignedDecimal_data();
    void failedSnapshotShowsTheStatusAsSignedDecimal();
    void snapshotNeverReadsPastTheFrameBuffer();
    void snapshotWaitsWhileTheGrabThreadReplacesTheFrame();
};

void SnapshotTest::snapshotWithoutOpenCameraWarns_data()
{
    QTest::addColumn<bool>("hasWindow");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("hasHandle");
    QTest::newRow("no window") << false << false << false;
    QTest::newRow("camera closed") << true << false << false;
    QTest::newRow("open without handle") << true << true << false;
    QTest::newRow("handle of a closed camera") << true << false << true;
}

void SnapshotTest::snapshotWithoutOpenCameraWarns()
{
    QFETCH(bool, hasWindow);
    QFETCH(bool, open);
    QFETCH(bool, hasHandle);
    MainWindow window;
    std::unique_ptr<SimulatedCamera> camera;
    if (hasHandle)
        camera = std::make_unique<SimulatedCamera>(window, "DLG-1");
    window.m_isOpen = open;
    giveLatestFrame(window);
    settingdialog dialog(hasWindow ? &window : nullptr, nullptr);
    MessageBoxRecorder boxes;

    pressSave(dialog);

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Warning);
    QCOMPARE(boxes.last().title, QStringLiteral("Error"));
    QCOMPARE(boxes.last().text, QStringLiteral("Camera is not open, cannot save image!"));
    QVERIFY(snapshotsIn(QDir::currentPath()).isEmpty());
}

void SnapshotTest::snapshotBeforeAnyFrameWarns()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    dialog.findChild<QPushButton *>(QStringLiteral("btnSaveImage"))->click();

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Warning);
    QCOMPARE(boxes.last().title, QStringLiteral("Error"));
    QCOMPARE(boxes.last().text, QStringLiteral("No image data, may not have started streaming!"));
    QVERIFY(snapshotsIn(QDir::currentPath()).isEmpty());
}

void SnapshotTest::snapshotIsWrittenAndReportedInTheChosenFormat_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("qualityLine");
    QTest::addColumn<bool>("lossless");
    QTest::newRow("JPEG") << "rdButtonJpg"
                          << "jpg" << QStringLiteral("JPG质量: 80 (55-99)") << false;
    QTest::newRow("PNG") << "rdButtonPng"
                         << "png" << QStringLiteral("PNG压缩级别: 3 (0-9, 0=不压缩)") << true;
    QTest::newRow("TIFF") << "rdButtonTiff"
                          << "tif" << QString() << true;
    QTest::newRow("BMP") << "rdButtonBmp"
                         << "bmp" << QString() << true;
}

void SnapshotTest::snapshotIsWrittenAndReportedInTheChosenFormat()
{
    QFETCH(QString, button);
    QFETCH(QString, extension);
    QFETCH(QString, qualityLine);
    QFETCH(bool, lossless);
    store(AppSettings::kJpgQuality, 80);
    store(AppSettings::kPngQuality, 3);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    giveLatestFrame(window);
    settingdialog dialog(&window, &window);
    dialog.findChild<QRadioButton *>(button)->click();
    MessageBoxRecorder boxes;

    dialog.findChild<QPushButton *>(QStringLiteral("btnSaveImage"))->click();

    const QStringList files = snapshotsIn(QDir::currentPath());
    QCOMPARE(files.size(), 1);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^Image_\\d{8}_\\d{6}_\\d{3}\\.") + extension + QLatin1Char('$'))
            .match(files.first())
            .hasMatch(),
        qPrintable(files.first()));
    const QString path = QDir(QDir::currentPath()).filePath(files.first());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Information);
    QCOMPARE(boxes.last().title, QStringLiteral("保存成功"));
    QCOMPARE(boxes.last().text, QStringLiteral("图片保存成功:\n") + path + QLatin1Char('\n') + qualityLine);

    const QImage written(path);
    QCOMPARE(written.size(), QSize(kWidth, kHeight));
    if (lossless) {
        for (unsigned int y = 0; y < kHeight; ++y) {
            for (unsigned int x = 0; x < kWidth; ++x)
                QCOMPARE(qGray(written.pixel(int(x), int(y))), int(grayAt(x, y)));
        }
    }
}

void SnapshotTest::snapshotGoesToTheChosenFolder()
{
    QVERIFY(QDir().mkdir(QStringLiteral("out")));
    const QString folder = QDir::current().filePath(QStringLiteral("out"));
    store(AppSettings::kSaveDir, folder);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    giveLatestFrame(window);
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    dialog.findChild<QPushButton *>(QStringLiteral("btnSaveImage"))->click();

    QCOMPARE(snapshotsIn(folder).size(), 1);
    QVERIFY(snapshotsIn(QDir::currentPath()).isEmpty());
    QCOMPARE(boxes.last().kind, QMessageBox::Information);
    QVERIFY(boxes.last().text.contains(folder + QStringLiteral("/Image_")));
}

void SnapshotTest::failedSnapshotShowsTheStatusAsSignedDecimal_data()
{
    QTest::addColumn<uint>("pixelType");
    QTest::addColumn<QString>("saveDir");
    QTest::addColumn<QString>("status");
    QTest::newRow("no frame since grabbing restarted") << 0u << "."
                                                       << "-2147483641";
    QTest::newRow("vendor-specific pixel type") << 0x81080001u << "."
                                                << "-2147483647";
    QTest::newRow("path of 256 bytes or more")
        << uint(PixelType_Gvsp_Mono8) << QString(240, QLatin1Char('d')) << "-2147483644";
    QTest::newRow("folder that does not exist") << uint(PixelType_Gvsp_Mono8) << "missing/folder"
                                                << "-2147483634";
}

void SnapshotTest::failedSnapshotShowsTheStatusAsSignedDecimal()
{
    QFETCH(uint, pixelType);
    QFETCH(QString, saveDir);
    QFETCH(QString, status);
    store(AppSettings::kSaveDir, saveDir);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    giveLatestFrame(window, kWidth * kHeight, pixelType);
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    dialog.findChild<QPushButton *>(QStringLiteral("btnSaveImage"))->click();

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Warning);
    QCOMPARE(boxes.last().title, QStringLiteral("保存失败"));
    QCOMPARE(boxes.last().text, QStringLiteral("保存图片失败，错误码: ") + status);
    QVERIFY(snapshotsIn(QDir::currentPath()).isEmpty());
}

void SnapshotTest::snapshotNeverReadsPastTheFrameBuffer()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    // The record claims a whole frame; only half of it is in the buffer.
    giveLatestFrame(window, kWidth * kHeight / 2);

    const QString path = QDir::current().filePath(QStringLiteral("Image_half.bmp"));
    QCOMPARE(window.saveCurrentFrame(path, MV_Image_Bmp, 0), int(MV_E_PARAMETER));
    QVERIFY(!QFile::exists(path));

    giveLatestFrame(window);
    QCOMPARE(window.saveCurrentFrame(path, MV_Image_Bmp, 0), int(MV_OK));
    QVERIFY(QFile::exists(path));
}

void SnapshotTest::snapshotWaitsWhileTheGrabThreadReplacesTheFrame()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    giveLatestFrame(window);
    QAtomicInt locked(0);
    QAtomicInt released(0);

    // Stands in for the grab thread holding the frame while it replaces it.
    std::unique_ptr<QThread> grab(QThread::create([&] {
        QMutexLocker lock(&window.m_frameMutex);
        locked.storeRelease(1);
        QThread::msleep(150);
        released.storeRelease(1);
    }));
    grab->start();
    QTRY_VERIFY(locked.loadAcquire() == 1);

    const QString path = QDir::current().filePath(QStringLiteral("Image_locked.png"));
    QCOMPARE(window.saveCurrentFrame(path, MV_Image_Png, 5), int(MV_OK));
    QCOMPARE(released.loadAcquire(), 1);
    QVERIFY(grab->wait(5000));
    QVERIFY(QFile::exists(path));
}

QTEST_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
