// The snapshot: the settings dialog's Save button writes the window's latest
// raw frame through the camera library and reports the outcome.
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

#include "appsettings.h"
#include "mainwindow.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "dialogcamera.h"

namespace {

constexpr unsigned int kWidth = 64;
constexpr unsigned int kHeight = 16;

unsigned char grayAt(unsigned int x, unsigned int y)
{
    return static_cast<unsigned char>((x * 4 + y * 13) & 0xFF);
}

// Leaves a frame as the grab thread would: buffer, size and record.
void giveLatestFrame(MainWindow &window, unsigned int bufferBytes = kWidth * kHeight,
                     unsigned int pixelType = PixelType_Gvsp_Mono8)
{
    QMutexLocker lock(&window.m_frameMutex);
    window.m_lastFrameBuffer = std::make_unique<unsigned char[]>(bufferBytes);
    for (unsigned int i = 0; i < bufferBytes; ++i)
        window.m_lastFrameBuffer[i] = grayAt(i % kWidth, i / kWidth);
    window.m_lastFrameBufferSize = bufferBytes;
    window.m_lastFrameInfo = MV_FRAME_OUT_INFO_EX{};
    window.m_lastFrameInfo.nWidth = kWidth;
    window.m_lastFrameInfo.nHeight = kHeight;
    window.m_lastFrameInfo.enPixelType = MvGvspPixelType(pixelType);
    window.m_lastFrameInfo.nFrameLen = kWidth * kHeight;
}

QStringList snapshotsIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("Image_*")}, QDir::Files);
}

} // namespace

class SnapshotTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void snapshotThatCannotBeMadeIsReported_data();
    void snapshotThatCannotBeMadeIsReported();
    void snapshotIsWrittenToTheChosenFolderAndReported_data();
    void snapshotIsWrittenToTheChosenFolderAndReported();
    void snapshotNeverReadsPastTheFrameBuffer();
};

void SnapshotTest::snapshotThatCannotBeMadeIsReported_data()
{
    QTest::addColumn<bool>("hasWindow");
    QTest::addColumn<bool>("cameraOpen");
    QTest::addColumn<bool>("hasFrame");
    QTest::addColumn<uint>("pixelType");
    QTest::addColumn<QString>("saveDir");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const uint mono = PixelType_Gvsp_Mono8;
    const QString notOpen = QStringLiteral("Camera is not open, cannot save image!");
    const QString failed = QStringLiteral("保存图片失败，错误码: "); // the status as a signed decimal
    const QString dot = QStringLiteral(".");
    QTest::newRow("no window") << false << false << true << mono << dot << "Error" << notOpen;
    QTest::newRow("camera closed") << true << false << true << mono << dot << "Error" << notOpen;
    QTest::newRow("no frame yet") << true << true << false << mono << dot << "Error"
                                  << QStringLiteral("No image data, may not have started streaming!");
    QTest::newRow("no frame since grabbing restarted")
        << true << true << true << 0u << dot << "保存失败" << failed + "-2147483641";
    QTest::newRow("vendor-specific pixel type")
        << true << true << true << 0x81080001u << dot << "保存失败" << failed + "-2147483647";
    QTest::newRow("path of 256 bytes or more")
        << true << true << true << mono << QString(240, 'd') << "保存失败" << failed + "-2147483644";
    QTest::newRow("folder that does not exist")
        << true << true << true << mono << QStringLiteral("missing/folder") << "保存失败"
        << failed + "-2147483634\n原因: No such file or directory";
}

void SnapshotTest::snapshotThatCannotBeMadeIsReported()
{
    QFETCH(bool, hasWindow);
    QFETCH(bool, cameraOpen);
    QFETCH(bool, hasFrame);
    QFETCH(uint, pixelType);
    QFETCH(QString, saveDir);
    QFETCH(QString, title);
    QFETCH(QString, text);
    store(AppSettings::kSaveDir, saveDir);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    window.m_isOpen = cameraOpen;
    if (hasFrame)
        giveLatestFrame(window, kWidth * kHeight, pixelType);
    settingdialog dialog(hasWindow ? &window : nullptr, nullptr);
    MessageBoxRecorder boxes;

    // Without an open camera the dialog opens disabled; enabled here, as it
    // stays when the camera closes behind it, the click reaches the checks.
    dialog.setEnabled(true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *save = dialog.findChild<QPushButton *>(QStringLiteral("btnSaveImage"));
    QVERIFY(save && save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);

    expectBoxes(boxes, 1, QMessageBox::Warning, title, text);
    QVERIFY(snapshotsIn(QDir::currentPath()).isEmpty());
}

void SnapshotTest::snapshotIsWrittenToTheChosenFolderAndReported_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("qualityLine");
    QTest::addColumn<bool>("lossless");
    QTest::newRow("JPEG") << "rdButtonJpg" << QStringLiteral("jpg") << QStringLiteral("JPG质量: 80 (55-99)")
                          << false;
    QTest::newRow("PNG") << "rdButtonPng" << QStringLiteral("png")
                         << QStringLiteral("PNG压缩级别: 3 (0-9, 0=不压缩)") << true;
    QTest::newRow("TIFF") << "rdButtonTiff" << QStringLiteral("tif") << QString() << true;
}

void SnapshotTest::snapshotIsWrittenToTheChosenFolderAndReported()
{
    QFETCH(QString, button);
    QFETCH(QString, extension);
    QFETCH(QString, qualityLine);
    QFETCH(bool, lossless);
    QVERIFY(QDir().mkdir(QStringLiteral("out")));
    const QString folder = QDir::current().filePath(QStringLiteral("out"));
    store(AppSettings::kSaveDir, folder);
    store(AppSettings::kJpgQuality, 80);
    store(AppSettings::kPngQuality, 3);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    giveLatestFrame(window);
    settingdialog dialog(&window, &window);
    dialog.findChild<QRadioButton *>(button)->click();
    MessageBoxRecorder boxes;

    dialog.findChild<QPushButton *>(QStringLiteral("btnSaveImage"))->click();

    QVERIFY(snapshotsIn(QDir::currentPath()).isEmpty());
    const QStringList files = snapshotsIn(folder);
    QCOMPARE(files.size(), 1);
    const QRegularExpression name(QStringLiteral("^Image_\\d{8}_\\d{6}_\\d{3}\\.%1$").arg(extension));
    QVERIFY2(name.match(files.first()).hasMatch(), qPrintable(files.first()));
    const QString path = QDir(folder).filePath(files.first());
    expectBoxes(boxes, 1, QMessageBox::Information, QStringLiteral("保存成功"),
                QStringLiteral("图片保存成功:\n") + path + QLatin1Char('\n') + qualityLine);

    const QImage written(path);
    QCOMPARE(written.size(), QSize(kWidth, kHeight));
    for (unsigned int y = 0; lossless && y < kHeight; ++y) {
        for (unsigned int x = 0; x < kWidth; ++x)
            QCOMPARE(qGray(written.pixel(int(x), int(y))), int(grayAt(x, y)));
    }
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

QTEST_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
