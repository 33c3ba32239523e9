// The settings dialog on a window with a simulated camera: its form, what each
// control changes at once, its warnings, and the Setting action that runs it.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGraphicsView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#include "appsettings.h"
#include "mainwindow.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "dialogcamera.h"

namespace {

template<class T = QWidget>
T *control(const QObject &dialog, const QString &name)
{
    T *found = dialog.findChild<T *>(name);
    if (!found)
        qFatal("the dialog has no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

void typeInto(QLineEdit *field, const QString &text)
{
    field->setText(text);
    QTest::keyClick(field, Qt::Key_Return);
}

// Stops the one-second readout so that only the readouts a change schedules
// update the actual line rate.
void stopReadoutTimer(settingdialog &dialog)
{
    for (QTimer *timer : dialog.findChildren<QTimer *>()) {
        if (timer->interval() == 1000)
            timer->stop();
    }
}

// Answers the folder dialog instead of the operator.
class FolderAnsweringDialog : public settingdialog
{
public:
    using settingdialog::settingdialog;
    QString answer, askedTitle, askedStart;

protected:
    QString chooseSaveDirectory(const QString &title, const QString &startDir) override
    {
        askedTitle = title;
        askedStart = startDir;
        return answer;
    }
};

// Triggers the Setting action; hands each settings dialog that runs modally
// to check and closes it as the operator would. Returns how many ran.
int runSetting(MainWindow &window, const std::function<void(settingdialog *)> &check)
{
    int seen = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<settingdialog *>(QApplication::activeModalWidget())) {
            ++seen;
            check(dialog);
            dialog->reject();
        }
    });
    poll.start(10);
    window.findChild<QAction *>(QStringLiteral("actionSetting"))->trigger();
    return seen;
}

} // namespace

class SettingDialogTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void formCarriesItsNamesAndTexts_data();
    void formCarriesItsNamesAndTexts();
    void everyControlWritesItsKeyBeforeItsHandlerReturns_data();
    void everyControlWritesItsKeyBeforeItsHandlerReturns();
    void switchingFormatsShowsEachFormatsStoredQuality();
    void lowerCaseStoredFormatIsUpperCased();
    void choosingTheWorkingDirectoryStoresDot();
    void onlyAnotherDirectionDiscardsTheOpenBatch();
    void invalidFrameCountWarnsAndRestoresTheDefaultOfFifteen();
    void requestedLineRateIsJudgedAgainstTheCeiling_data();
    void requestedLineRateIsJudgedAgainstTheCeiling();
    void refusedLineRateWarnsAndKeepsTheStoredRate_data();
    void refusedLineRateWarnsAndKeepsTheStoredRate();
    void cameraWithoutLineRateControlWarnsTwiceAndEndsUnchecked();
    void settingWithoutOpenCameraWarnsAndOpensNothing();
    void settingRunsTheDialogModallyWiredToTheWindow();
};

void SettingDialogTest::formCarriesItsNamesAndTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const QString rows = QStringLiteral(
        "groupBox_20 参数 Exposurelabel 曝光 Gainlabel 增益 cbAcquisitionLineRateEnable 行频控制 "
        "acquisitionLineRateLabel 采集行频 label_4 实际行频 groupBox_18 显示 cbLeftStitch 左拼接 "
        "cbRightStitch 右拼接 cbTopStitch 上拼接 cbBottomStitch 下拼接 label_3 拼接图像数量 "
        "cbPartialStitch 不完整帧触发拼接 cbSaveStitchImage 保存拼接图像 cbShowLiveView 实时采集画面 "
        "groupBox_19 图像保存 rdButtonBmp BMP rdButtonJpg JPG rdButtonPng PNG rdButtonTiff TIFF "
        "label_15 图像质量 btnSaveImage 保存 btnSelectSaveDir 选择路径");
    const QStringList words = rows.split(QLatin1Char(' '));
    for (int i = 0; i + 1 < words.size(); i += 2)
        QTest::newRow(qPrintable(words[i])) << words[i] << words[i + 1];
}

void SettingDialogTest::formCarriesItsNamesAndTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    settingdialog dialog(nullptr, nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("设置"));
    QWidget *widget = control(dialog, name);
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        QCOMPARE(button->text(), text);
    else
        QCOMPARE(control<QGroupBox>(dialog, name)->title(), text);
}

void SettingDialogTest::everyControlWritesItsKeyBeforeItsHandlerReturns_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("input"); // typed, or a value to set; buttons are clicked
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    const auto row = [](const char *name, const char *input, const char *key, const char *value) {
        QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(name), QLatin1String(input))))
            << QString::fromLatin1(name) << QString::fromLatin1(input) << QString::fromLatin1(key)
            << QString::fromLatin1(value);
    };
    row("cbLeftStitch", "", AppSettings::kStitchDirection, "0");
    row("cbRightStitch", "", AppSettings::kStitchDirection, "1");
    row("cbBottomStitch", "", AppSettings::kStitchDirection, "2");
    row("cbTopStitch", "", AppSettings::kStitchDirection, "3");
    row("leFrameCount", "12", AppSettings::kMaxStitchCount, "12");
    row("cbPartialStitch", "", AppSettings::kPartialStitch, "false");
    row("cbSaveStitchImage", "", AppSettings::kSaveStitchImage, "false");
    row("cbShowLiveView", "", AppSettings::kShowLiveView, "true");
    row("rdButtonJpg", "", AppSettings::kFormat, "JPG");
    row("rdButtonTiff", "", AppSettings::kFormat, "TIF");
    row("rdButtonBmp", "", AppSettings::kFormat, "BMP");
    row("sbQuality", "2", AppSettings::kPngQuality, "2");
    row("slQuality", "7", AppSettings::kPngQuality, "7");
    row("slExposure", "300", AppSettings::kExposure, "300");
    row("leExposure", "400", AppSettings::kExposure, "400");
    row("slGain", "12", AppSettings::kGain, "12");
    row("leGain", "7", AppSettings::kGain, "7");
    row("cbAcquisitionLineRateEnable", "", AppSettings::kLineRateEnable, "true");
    row("leAcquisitionLineRate", "5000", AppSettings::kLineRate, "5000");
}

void SettingDialogTest::everyControlWritesItsKeyBeforeItsHandlerReturns()
{
    QFETCH(QString, name);
    QFETCH(QString, input);
    QFETCH(QString, key);
    QFETCH(QString, value);
    store(AppSettings::kFormat, QStringLiteral("PNG"));
    store(AppSettings::kStitchDirection, 9); // differs from every button's direction
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    QWidget *widget = control(dialog, name);

    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        button->click();
    else if (auto *field = qobject_cast<QLineEdit *>(widget))
        typeInto(field, input);
    else if (auto *slider = qobject_cast<QSlider *>(widget))
        slider->setValue(input.toInt());
    else
        control<QSpinBox>(dialog, name)->setValue(input.toInt());

    QCOMPARE(stored(key).toString(), value);
}

void SettingDialogTest::switchingFormatsShowsEachFormatsStoredQuality()
{
    store(AppSettings::kJpgQuality, 80);
    store(AppSettings::kPngQuality, 3);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    auto *slider = control<QSlider>(dialog, QStringLiteral("slQuality"));
    auto *spin = control<QSpinBox>(dialog, QStringLiteral("sbQuality"));

    // TIFF and BMP have no quality: the controls go grey and keep the last one.
    const struct {
        const char *button;
        bool enabled;
        int quality;
    } steps[] = {{"rdButtonJpg", true, 80},
                 {"rdButtonPng", true, 3},
                 {"rdButtonTiff", false, 3},
                 {"rdButtonJpg", true, 80},
                 {"rdButtonBmp", false, 80}};
    for (const auto &step : steps) {
        control<QRadioButton>(dialog, QLatin1String(step.button))->click();
        QCOMPARE(slider->isEnabled(), step.enabled);
        QCOMPARE(spin->isEnabled(), step.enabled);
        QCOMPARE(slider->value(), step.quality);
        QCOMPARE(spin->value(), step.quality);
    }
}

void SettingDialogTest::lowerCaseStoredFormatIsUpperCased()
{
    store(AppSettings::kFormat, QStringLiteral("jpeg"));
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::imageFormatChanged);

    control<QSpinBox>(dialog, QStringLiteral("sbQuality"))->setValue(70);

    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.at(0).at(0).toString(), QStringLiteral("JPG"));
}

void SettingDialogTest::choosingTheWorkingDirectoryStoresDot()
{
    store(AppSettings::kSaveDir, QStringLiteral("/somewhere/else"));
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    FolderAnsweringDialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::sigSaveDirChanged);
    dialog.answer = QDir::currentPath();
    auto *choose = control<QPushButton>(dialog, QStringLiteral("btnSelectSaveDir"));

    choose->click();
    QCOMPARE(dialog.askedTitle, QStringLiteral("选择保存目录"));
    QCOMPARE(dialog.askedStart, QStringLiteral("/somewhere/else"));
    QCOMPARE(stored(AppSettings::kSaveDir).toString(), QStringLiteral("."));
    QCOMPARE(control<QLineEdit>(dialog, QStringLiteral("leCurrentSavePath"))->text(), QStringLiteral("."));
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.at(0).at(0).toString(), QStringLiteral("."));

    choose->click(); // "." opens the folder dialog on the working directory
    QCOMPARE(dialog.askedStart, QDir::currentPath());
}

void SettingDialogTest::onlyAnotherDirectionDiscardsTheOpenBatch()
{
    store(AppSettings::kStitchDirection, 3);
    MainWindow window;
    window.m_stitchDirection = 3;
    window.m_batchFrames = {QImage(8, 8, QImage::Format_Grayscale8), QImage(8, 8, QImage::Format_Grayscale8)};
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    control<QRadioButton>(dialog, QStringLiteral("cbTopStitch"))->click(); // the current one
    QCOMPARE(window.m_stitchDirection, 3);
    QCOMPARE(window.m_batchFrames.size(), 2);
    control<QRadioButton>(dialog, QStringLiteral("cbBottomStitch"))->click();
    QCOMPARE(window.m_stitchDirection, 2);
    QVERIFY(window.m_batchFrames.isEmpty());
}

void SettingDialogTest::invalidFrameCountWarnsAndRestoresTheDefaultOfFifteen()
{
    MainWindow window;
    window.m_maxStitchCount = 5;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    auto *field = control<QLineEdit>(dialog, QStringLiteral("leFrameCount"));
    typeInto(field, QStringLiteral("0"));

    expectBoxes(boxes, 1, QMessageBox::Warning, QStringLiteral("Segment Frame Limit"),
                QStringLiteral("Please enter a valid frame count (>0)."));
    QCOMPARE(field->text(), QStringLiteral("15"));
    QVERIFY(!stored(AppSettings::kMaxStitchCount).isValid());
    QCOMPARE(window.m_maxStitchCount, 5);
}

void SettingDialogTest::requestedLineRateIsJudgedAgainstTheCeiling_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<float>("exposureAfterwards");
    QTest::addColumn<QString>("shown");
    // The ceiling is 8000, read while line rate control was off (125 us).
    QTest::newRow("5000 under the ceiling") << 5000 << 125.0f << "5000";
    QTest::newRow("5000 under the ceiling, camera slower") << 5000 << 250.0f << "5000";
    QTest::newRow("9000 over the ceiling") << 9000 << 125.0f << "8000";
    QTest::newRow("9000 over the ceiling, camera slower") << 9000 << 250.0f << "4000";
}

void SettingDialogTest::requestedLineRateIsJudgedAgainstTheCeiling()
{
    QFETCH(int, requested);
    QFETCH(float, exposureAfterwards);
    QFETCH(QString, shown);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    stopReadoutTimer(dialog);
    MessageBoxRecorder boxes;

    control<QCheckBox>(dialog, QStringLiteral("cbAcquisitionLineRateEnable"))->click();
    QCOMPARE(MV_CC_SetFloatValue(camera.handle(), "ExposureTime", exposureAfterwards), int(MV_OK));
    typeInto(control<QLineEdit>(dialog, QStringLiteral("leAcquisitionLineRate")), QString::number(requested));

    QCOMPARE(camera.intFeature("AcquisitionLineRate"), qint64(requested));
    auto *result = control<QLineEdit>(dialog, QStringLiteral("leResultingLineRate"));
    QCOMPARE(result->text(), shown);
    QTest::qWait(50); // the readout the change schedules judges the same way
    QCOMPARE(result->text(), shown);
    QVERIFY(boxes.isEmpty());
}

void SettingDialogTest::refusedLineRateWarnsAndKeepsTheStoredRate_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::newRow("above the camera's maximum of 20000")
        << "30000"
        << "Failed to set acquisition line rate, error code: -2147483636";
    QTest::newRow("not a number") << "fast"
                                  << "Please enter a valid line rate value!";
}

void SettingDialogTest::refusedLineRateWarnsAndKeepsTheStoredRate()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    store(AppSettings::kLineRate, 1200);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    typeInto(control<QLineEdit>(dialog, QStringLiteral("leAcquisitionLineRate")), typed);

    expectBoxes(boxes, 1, QMessageBox::Warning, QStringLiteral("Line Rate Control"), text);
    QCOMPARE(camera.intFeature("AcquisitionLineRate"), qint64(1000));
    QCOMPARE(stored(AppSettings::kLineRate).toInt(), 1200);
}

void SettingDialogTest::cameraWithoutLineRateControlWarnsTwiceAndEndsUnchecked()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-NORATE");
    settingdialog dialog(&window, &window);
    auto *box = control<QCheckBox>(dialog, QStringLiteral("cbAcquisitionLineRateEnable"));
    MessageBoxRecorder boxes;

    box->click();

    expectBoxes(boxes, 2, QMessageBox::Warning, QStringLiteral("Line Rate Control"),
                QStringLiteral("Failed to set line rate enable, error code: -2147483638"));
    QVERIFY(!box->isChecked());
    QCOMPARE(stored(AppSettings::kLineRateEnable).toString(), QStringLiteral("false"));
}

void SettingDialogTest::settingWithoutOpenCameraWarnsAndOpensNothing()
{
    MainWindow window;
    MessageBoxRecorder boxes;
    QCOMPARE(runSetting(window, [](settingdialog *) {}), 0);
    expectBoxes(boxes, 1, QMessageBox::Warning, QStringLiteral("setting"),
                QStringLiteral("please open camera"));
    QVERIFY(window.findChildren<settingdialog *>().isEmpty());
}

void SettingDialogTest::settingRunsTheDialogModallyWiredToTheWindow()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    auto *liveView = window.findChild<QGraphicsView *>(QStringLiteral("gv"));
    QVERIFY(liveView && liveView->isHidden());
    const int ran = runSetting(window, [&](settingdialog *dialog) {
        QVERIFY(dialog->isModal());
        QVERIFY(dialog->parent() == &window);
        control<QRadioButton>(*dialog, QStringLiteral("rdButtonPng"))->click();
        QCOMPARE(window.m_imageFormat, QStringLiteral("PNG"));
        QCOMPARE(window.m_pngQuality, 8);
        control<QCheckBox>(*dialog, QStringLiteral("cbShowLiveView"))->click();
        QVERIFY(!liveView->isHidden());
        QVERIFY(QMetaObject::invokeMethod(dialog, "sigSaveDirChanged",
                                          Q_ARG(QString, QStringLiteral("/data/l3"))));
        QCOMPARE(window.m_saveDir, QStringLiteral("/data/l3"));
    });

    QCOMPARE(ran, 1);
    QVERIFY(window.findChildren<settingdialog *>().isEmpty());
}

QTEST_MAIN(SettingDialogTest)
#include "tst_settingdialog.moc"
