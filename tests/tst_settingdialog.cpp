// The settings dialog built directly on a window with a simulated camera: what
// it shows when opened and what each control changes at once.
#include <QAbstractButton>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "appsettings.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "tst_settingdialog_camera.h"

namespace {

template<class T>
T *control(const QObject &dialog, const char *name)
{
    T *found = dialog.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("the dialog has no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

QVariant stored(const char *key)
{
    return QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).value(QLatin1String(key));
}

bool isStored(const char *key)
{
    return QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).contains(QLatin1String(key));
}

void store(const char *key, const QVariant &value)
{
    QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).setValue(QLatin1String(key), value);
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

void typeInto(QLineEdit *field, const QString &text)
{
    field->setText(text);
    QTest::keyClick(field, Qt::Key_Return);
}

// Answers the folder dialog instead of the operator.
class FolderAnsweringDialog : public settingdialog
{
public:
    using settingdialog::settingdialog;

    QString answer;
    QString askedTitle;
    QString askedStart;
    int asked = 0;

protected:
    QString chooseSaveDirectory(const QString &title, const QString &startDir) override
    {
        ++asked;
        askedTitle = title;
        askedStart = startDir;
        return answer;
    }
};

} // namespace

class SettingDialogTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    // Form.
    void formCarriesItsNamesAndTexts_data();
    void formCarriesItsNamesAndTexts();
    void rowsShareTheirWidthInTheGivenProportions_data();
    void rowsShareTheirWidthInTheGivenProportions();
    void dialogHasItsTitleTabsAndGeometry();
    void directionAndFormatButtonsAreEachExclusive();
    void fieldsAcceptOnlyTheirIntegerRanges();
    void readoutTimerRunsEverySecond();

    // Opening.
    void storedFormatChecksItsButton_data();
    void storedFormatChecksItsButton();
    void lowerCaseStoredFormatIsUpperCased();
    void storedSaveDirIsShownAsDotWhenEmpty_data();
    void storedSaveDirIsShownAsDotWhenEmpty();
    void storedDirectionChecksExactlyOneButton_data();
    void storedDirectionChecksExactlyOneButton();
    void storedOptionsAreShown();
    void openingTheDialogWritesNothingAndTellsTheWindowNothing();
    void withoutCameraTheDialogIsDisabledAndShowsTheStoredLineRate();

    // Stitch and display options.
    void choosingADirectionWritesItsCodeAtOnce_data();
    void choosingADirectionWritesItsCodeAtOnce();
    void onlyAnotherDirectionDiscardsTheOpenBatch_data();
    void onlyAnotherDirectionDiscardsTheOpenBatch();
    void validFrameCountIsStoredAndReachesTheWindow();
    void invalidFrameCountWarnsAndRestoresTheStoredCount_data();
    void invalidFrameCountWarnsAndRestoresTheStoredCount();
    void frameCountOutsideTheAcceptedRangeIsIgnoredSilently_data();
    void frameCountOutsideTheAcceptedRangeIsIgnoredSilently();
    void partialAndSaveOptionsReachTheWindow_data();
    void partialAndSaveOptionsReachTheWindow();
    void liveViewBoxIsStoredAndAnnounced();

    // Output format, quality and folder.
    void switchingFormatsShowsEachFormatsStoredQuality();
    void tiffAndBmpDisableTheQualityControlsKeepingTheLastValue_data();
    void tiffAndBmpDisableTheQualityControlsKeepingTheLastValue();
    void choosingJpgOrPngFirstTimeStoresTheDefaultQuality_data();
    void choosingJpgOrPngFirstTimeStoresTheDefaultQuality();
    void formatChoiceIsStoredAndAnnounced();
    void qualityEditIsStoredAndAnnouncedOnce_data();
    void qualityEditIsStoredAndAnnouncedOnce();
    void storedQualityOutsideItsRangeIsShownClamped();
    void choosingTheWorkingDirectoryStoresDot();
    void choosingAnotherFolderStoresItsPath();
    void cancelledFolderChoiceChangesNothing();

    // Camera parameters.
    void cameraValuesReplaceTheStoredLineRate();
    void fractionalExposureAndGainAreShownWithTheirFraction();
    void movingTheExposureSliderSetsTimedManualExposure();
    void movingTheGainSliderSendsAndStoresIt();
    void typedExposureOrGainMovesTheSliderAndIsSentAsTyped_data();
    void typedExposureOrGainMovesTheSliderAndIsSentAsTyped();
    void requestedLineRateIsJudgedAgainstTheCeiling_data();
    void requestedLineRateIsJudgedAgainstTheCeiling();
    void exposureChangeWithoutLineRateControlRecordsANewCeiling();
    void switchingLineRateControlOffShowsTheCameraRate();
    void cameraWithoutLineRateControlWarnsTwiceAndEndsUnchecked();
    void rejectedLineRateWarnsAndRestoresTheCameraValue();
    void unreadableLineRateWarns();
    void unreadableResultingLineRateShowsNotAvailable_data();
    void unreadableResultingLineRateShowsNotAvailable();
};

// ---- Form -------------------------------------------------------------------

void SettingDialogTest::formCarriesItsNamesAndTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, const char *className, const QString &text) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className) << text;
    };
    row("groupBox_20", "QGroupBox", QStringLiteral("参数"));
    row("Exposurelabel", "QLabel", QStringLiteral("曝光"));
    row("slExposure", "QSlider", QString());
    row("leExposure", "QLineEdit", QString());
    row("Gainlabel", "QLabel", QStringLiteral("增益"));
    row("slGain", "QSlider", QString());
    row("leGain", "QLineEdit", QString());
    row("cbAcquisitionLineRateEnable", "QCheckBox", QStringLiteral("行频控制"));
    row("acquisitionLineRateLabel", "QLabel", QStringLiteral("采集行频"));
    row("leAcquisitionLineRate", "QLineEdit", QString());
    row("label_4", "QLabel", QStringLiteral("实际行频"));
    row("leResultingLineRate", "QLineEdit", QString());
    row("groupBox_18", "QGroupBox", QStringLiteral("显示"));
    row("cbLeftStitch", "QRadioButton", QStringLiteral("左拼接"));
    row("cbRightStitch", "QRadioButton", QStringLiteral("右拼接"));
    row("cbTopStitch", "QRadioButton", QStringLiteral("上拼接"));
    row("cbBottomStitch", "QRadioButton", QStringLiteral("下拼接"));
    row("label_3", "QLabel", QStringLiteral("拼接图像数量"));
    row("leFrameCount", "QLineEdit", QString());
    row("cbPartialStitch", "QCheckBox", QStringLiteral("不完整帧触发拼接"));
    row("cbSaveStitchImage", "QCheckBox", QStringLiteral("保存拼接图像"));
    row("cbShowLiveView", "QCheckBox", QStringLiteral("实时采集画面"));
    row("groupBox_19", "QGroupBox", QStringLiteral("图像保存"));
    row("rdButtonBmp", "QRadioButton", QStringLiteral("BMP"));
    row("rdButtonJpg", "QRadioButton", QStringLiteral("JPG"));
    row("rdButtonPng", "QRadioButton", QStringLiteral("PNG"));
    row("rdButtonTiff", "QRadioButton", QStringLiteral("TIFF"));
    row("label_15", "QLabel", QStringLiteral("图像质量"));
    row("slQuality", "QSlider", QString());
    row("sbQuality", "QSpinBox", QString());
    row("btnSaveImage", "QPushButton", QStringLiteral("保存"));
    row("leCurrentSavePath", "QLineEdit", QString());
    row("btnSelectSaveDir", "QPushButton", QStringLiteral("选择路径"));
}

void SettingDialogTest::formCarriesItsNamesAndTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);

    settingdialog dialog(nullptr, nullptr);
    QWidget *widget = dialog.findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        QCOMPARE(button->text(), text);
    else if (auto *box = qobject_cast<QGroupBox *>(widget))
        QCOMPARE(box->title(), text);
    if (auto *slider = qobject_cast<QSlider *>(widget))
        QCOMPARE(slider->orientation(), Qt::Horizontal);
}

void SettingDialogTest::rowsShareTheirWidthInTheGivenProportions_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QList<int>>("stretch");
    QTest::newRow("exposure") << "horizontalLayout_22" << QList<int>{20, 60, 20};
    QTest::newRow("gain") << "horizontalLayout_23" << QList<int>{20, 60, 20};
    QTest::newRow("line rate") << "horizontalLayout_39" << QList<int>{50, 20, 30, 0, 0};
    QTest::newRow("output folder") << "horizontalLayout_26" << QList<int>{0, 20};
}

void SettingDialogTest::rowsShareTheirWidthInTheGivenProportions()
{
    QFETCH(QString, layout);
    QFETCH(QList<int>, stretch);

    settingdialog dialog(nullptr, nullptr);
    auto *row = dialog.findChild<QBoxLayout *>(layout);
    QVERIFY(row);
    QCOMPARE(row->count(), stretch.size());
    for (int i = 0; i < stretch.size(); ++i)
        QCOMPARE(row->stretch(i), stretch.at(i));
}

void SettingDialogTest::dialogHasItsTitleTabsAndGeometry()
{
    settingdialog dialog(nullptr, nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("设置"));
    QCOMPARE(dialog.size(), QSize(513, 494));
    auto *tabs = control<QTabWidget>(dialog, "tabWidget");
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("tab"));
    QCOMPARE(tabs->tabText(0), QStringLiteral(" 图像 "));
    QCOMPARE(tabs->widget(1)->objectName(), QStringLiteral("tab_2"));
    QCOMPARE(tabs->tabText(1), QStringLiteral(" 捕获 "));
    QVERIFY(!tabs->widget(1)->layout());
    QCOMPARE(control<QGroupBox>(dialog, "groupBox_19")->geometry(), QRect(10, 10, 437, 112));
    QCOMPARE(control<QPushButton>(dialog, "btnSelectSaveDir")->maximumWidth(), 100);
}

void SettingDialogTest::directionAndFormatButtonsAreEachExclusive()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    const QList<QRadioButton *> directions
        = control<QGroupBox>(dialog, "groupBox_18")->findChildren<QRadioButton *>();
    const QList<QRadioButton *> formats
        = control<QGroupBox>(dialog, "groupBox_19")->findChildren<QRadioButton *>();
    QCOMPARE(directions.size(), 4);
    QCOMPARE(formats.size(), 4);
    for (const QList<QRadioButton *> &group : {directions, formats}) {
        for (QRadioButton *chosen : group) {
            chosen->click();
            for (QRadioButton *other : group)
                QCOMPARE(other->isChecked(), other == chosen);
        }
    }
    // Choosing a format leaves the direction alone.
    control<QRadioButton>(dialog, "cbTopStitch")->click();
    control<QRadioButton>(dialog, "rdButtonPng")->click();
    QVERIFY(control<QRadioButton>(dialog, "cbTopStitch")->isChecked());
}

void SettingDialogTest::fieldsAcceptOnlyTheirIntegerRanges()
{
    settingdialog dialog(nullptr, nullptr);
    const auto *frames
        = qobject_cast<const QIntValidator *>(control<QLineEdit>(dialog, "leFrameCount")->validator());
    QVERIFY(frames);
    QCOMPARE(frames->bottom(), 1);
    QCOMPARE(frames->top(), 1000000);
    const auto *rate = qobject_cast<const QIntValidator *>(
        control<QLineEdit>(dialog, "leAcquisitionLineRate")->validator());
    QVERIFY(rate);
    QCOMPARE(rate->bottom(), 10);
    QCOMPARE(rate->top(), 10000000);
    QVERIFY(!control<QLineEdit>(dialog, "leResultingLineRate")->isEnabled());
}

void SettingDialogTest::readoutTimerRunsEverySecond()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    auto *shown = control<QLineEdit>(dialog, "leResultingLineRate");
    QCOMPARE(shown->text(), QStringLiteral("8000"));

    // The camera slows down by itself; only the periodic readout notices.
    QCOMPARE(MV_CC_SetFloatValue(camera.handle(), "ExposureTime", 500.0f), int(MV_OK));
    QTRY_COMPARE_WITH_TIMEOUT(shown->text(), QStringLiteral("2000"), 2500);
}

// ---- Opening ----------------------------------------------------------------

void SettingDialogTest::storedFormatChecksItsButton_data()
{
    QTest::addColumn<QVariant>("storedFormat");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("qualityEnabled");
    QTest::addColumn<int>("quality");
    QTest::newRow("JPG") << QVariant("JPG") << "rdButtonJpg" << true << 81;
    QTest::newRow("JPEG") << QVariant("JPEG") << "rdButtonJpg" << true << 81;
    QTest::newRow("png") << QVariant("png") << "rdButtonPng" << true << 4;
    QTest::newRow("TIF") << QVariant("TIF") << "rdButtonTiff" << false << 0;
    QTest::newRow("tiff") << QVariant("tiff") << "rdButtonTiff" << false << 0;
    QTest::newRow("BMP") << QVariant("BMP") << "rdButtonBmp" << false << 0;
    QTest::newRow("unknown gif") << QVariant("gif") << "rdButtonBmp" << false << 0;
    QTest::newRow("absent") << QVariant() << "rdButtonBmp" << false << 0;
}

void SettingDialogTest::storedFormatChecksItsButton()
{
    QFETCH(QVariant, storedFormat);
    QFETCH(QString, button);
    QFETCH(bool, qualityEnabled);
    QFETCH(int, quality);

    if (storedFormat.isValid())
        store(AppSettings::kFormat, storedFormat);
    store(AppSettings::kJpgQuality, 81);
    store(AppSettings::kPngQuality, 4);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    QVERIFY(control<QRadioButton>(dialog, qPrintable(button))->isChecked());
    QCOMPARE(control<QSlider>(dialog, "slQuality")->isEnabled(), qualityEnabled);
    QCOMPARE(control<QSpinBox>(dialog, "sbQuality")->isEnabled(), qualityEnabled);
    if (qualityEnabled) {
        QCOMPARE(control<QSlider>(dialog, "slQuality")->value(), quality);
        QCOMPARE(control<QSpinBox>(dialog, "sbQuality")->value(), quality);
    }
}

void SettingDialogTest::lowerCaseStoredFormatIsUpperCased()
{
    store(AppSettings::kFormat, QStringLiteral("jpeg"));
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::imageFormatChanged);

    control<QSpinBox>(dialog, "sbQuality")->setValue(70);
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.at(0).at(0).toString(), QStringLiteral("JPG"));
}

void SettingDialogTest::storedSaveDirIsShownAsDotWhenEmpty_data()
{
    QTest::addColumn<QVariant>("saveDir");
    QTest::addColumn<QString>("shown");
    QTest::newRow("absent") << QVariant() << ".";
    QTest::newRow("empty") << QVariant(QString()) << ".";
    QTest::newRow("dot") << QVariant(".") << ".";
    QTest::newRow("folder") << QVariant("/data/line 3") << "/data/line 3";
}

void SettingDialogTest::storedSaveDirIsShownAsDotWhenEmpty()
{
    QFETCH(QVariant, saveDir);
    QFETCH(QString, shown);
    if (saveDir.isValid())
        store(AppSettings::kSaveDir, saveDir);
    settingdialog dialog(nullptr, nullptr);
    QCOMPARE(control<QLineEdit>(dialog, "leCurrentSavePath")->text(), shown);
}

void SettingDialogTest::storedDirectionChecksExactlyOneButton_data()
{
    QTest::addColumn<QVariant>("direction");
    QTest::addColumn<QString>("button");
    QTest::newRow("left") << QVariant(0) << "cbLeftStitch";
    QTest::newRow("right") << QVariant(1) << "cbRightStitch";
    QTest::newRow("bottom is 2") << QVariant(2) << "cbBottomStitch";
    QTest::newRow("top is 3") << QVariant(3) << "cbTopStitch";
    QTest::newRow("absent means right") << QVariant() << "cbRightStitch";
}

void SettingDialogTest::storedDirectionChecksExactlyOneButton()
{
    QFETCH(QVariant, direction);
    QFETCH(QString, button);
    if (direction.isValid())
        store(AppSettings::kStitchDirection, direction);
    settingdialog dialog(nullptr, nullptr);
    for (const char *name : {"cbLeftStitch", "cbRightStitch", "cbTopStitch", "cbBottomStitch"})
        QCOMPARE(control<QRadioButton>(dialog, name)->isChecked(), button == QLatin1String(name));
}

void SettingDialogTest::storedOptionsAreShown()
{
    store(AppSettings::kPartialStitch, false);
    store(AppSettings::kSaveStitchImage, false);
    store(AppSettings::kMaxStitchCount, 42);
    store(AppSettings::kShowLiveView, true);
    {
        settingdialog dialog(nullptr, nullptr);
        QVERIFY(!control<QCheckBox>(dialog, "cbPartialStitch")->isChecked());
        QVERIFY(!control<QCheckBox>(dialog, "cbSaveStitchImage")->isChecked());
        QCOMPARE(control<QLineEdit>(dialog, "leFrameCount")->text(), QStringLiteral("42"));
        QVERIFY(control<QCheckBox>(dialog, "cbShowLiveView")->isChecked());
    }
    QFile::remove(QStringLiteral("setting.ini"));
    settingdialog dialog(nullptr, nullptr);
    QVERIFY(control<QCheckBox>(dialog, "cbPartialStitch")->isChecked());
    QVERIFY(control<QCheckBox>(dialog, "cbSaveStitchImage")->isChecked());
    QCOMPARE(control<QLineEdit>(dialog, "leFrameCount")->text(), QStringLiteral("30"));
    QVERIFY(!control<QCheckBox>(dialog, "cbShowLiveView")->isChecked());
}

void SettingDialogTest::openingTheDialogWritesNothingAndTellsTheWindowNothing()
{
    store(AppSettings::kStitchDirection, 3);
    store(AppSettings::kMaxStitchCount, 12);
    store(AppSettings::kFormat, QStringLiteral("png"));
    MainWindow window;
    window.m_stitchDirection = 0;
    window.m_maxStitchCount = 7;
    window.m_partialStitch = false;
    window.m_batchFrames = {QImage(8, 8, QImage::Format_Grayscale8)};
    SimulatedCamera camera(window, "DLG-1");
    const QStringList keysBefore = QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).allKeys();

    settingdialog dialog(&window, &window);

    QCOMPARE(QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).allKeys(), keysBefore);
    QCOMPARE(stored(AppSettings::kFormat).toString(), QStringLiteral("png"));
    QCOMPARE(window.m_stitchDirection, 0);
    QCOMPARE(window.m_maxStitchCount, 7);
    QCOMPARE(window.m_partialStitch, false);
    QCOMPARE(window.m_batchFrames.size(), 1);
}

void SettingDialogTest::withoutCameraTheDialogIsDisabledAndShowsTheStoredLineRate()
{
    store(AppSettings::kLineRateEnable, true);
    store(AppSettings::kLineRate, 777);
    MainWindow window;
    settingdialog dialog(&window, &window);

    QVERIFY(!dialog.isEnabled());
    QVERIFY(control<QCheckBox>(dialog, "cbAcquisitionLineRateEnable")->isChecked());
    QCOMPARE(control<QLineEdit>(dialog, "leAcquisitionLineRate")->text(), QStringLiteral("777"));
    QVERIFY(control<QLineEdit>(dialog, "leResultingLineRate")->text().isEmpty());
}

// ---- Stitch and display options ---------------------------------------------

void SettingDialogTest::choosingADirectionWritesItsCodeAtOnce_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("direction");
    QTest::newRow("left") << "cbLeftStitch" << 0;
    QTest::newRow("right") << "cbRightStitch" << 1;
    QTest::newRow("bottom") << "cbBottomStitch" << 2;
    QTest::newRow("top") << "cbTopStitch" << 3;
}

void SettingDialogTest::choosingADirectionWritesItsCodeAtOnce()
{
    QFETCH(QString, button);
    QFETCH(int, direction);

    // Start on a direction that differs from every row's.
    store(AppSettings::kStitchDirection, 9);
    MainWindow window;
    window.m_stitchDirection = 9;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    control<QRadioButton>(dialog, qPrintable(button))->click();

    QCOMPARE(stored(AppSettings::kStitchDirection).toInt(), direction);
    QCOMPARE(window.m_stitchDirection, direction);
    for (const char *name : {"cbLeftStitch", "cbRightStitch", "cbTopStitch", "cbBottomStitch"})
        QCOMPARE(control<QRadioButton>(dialog, name)->isChecked(), button == QLatin1String(name));
}

void SettingDialogTest::onlyAnotherDirectionDiscardsTheOpenBatch_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("framesLeft");
    // Top is the current direction (3); it reacts to clicks, so choosing it
    // again reaches the window.
    QTest::newRow("top again keeps the batch") << "cbTopStitch" << 3 << 2;
    QTest::newRow("bottom discards it") << "cbBottomStitch" << 2 << 0;
    QTest::newRow("right discards it") << "cbRightStitch" << 1 << 0;
}

void SettingDialogTest::onlyAnotherDirectionDiscardsTheOpenBatch()
{
    QFETCH(QString, button);
    QFETCH(int, direction);
    QFETCH(int, framesLeft);
    store(AppSettings::kStitchDirection, 3);
    MainWindow window;
    window.m_stitchDirection = 3;
    window.m_batchFrames = {QImage(8, 8, QImage::Format_Grayscale8), QImage(8, 8, QImage::Format_Grayscale8)};
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    control<QRadioButton>(dialog, qPrintable(button))->click();

    QCOMPARE(stored(AppSettings::kStitchDirection).toInt(), direction);
    QCOMPARE(window.m_stitchDirection, direction);
    QCOMPARE(window.m_batchFrames.size(), framesLeft);
}

void SettingDialogTest::validFrameCountIsStoredAndReachesTheWindow()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    typeInto(control<QLineEdit>(dialog, "leFrameCount"), QStringLiteral("12"));

    QCOMPARE(stored(AppSettings::kMaxStitchCount).toInt(), 12);
    QCOMPARE(window.m_maxStitchCount, 12);
    QVERIFY(boxes.isEmpty());
}

void SettingDialogTest::invalidFrameCountWarnsAndRestoresTheStoredCount_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QVariant>("storedCount");
    QTest::addColumn<QString>("restored");
    QTest::newRow("letters, stored 40") << "abc" << QVariant(40) << "40";
    QTest::newRow("zero, nothing stored") << "0" << QVariant() << "15";
    QTest::newRow("empty, nothing stored") << "" << QVariant() << "15";
    QTest::newRow("negative, stored 8") << "-3" << QVariant(8) << "8";
}

void SettingDialogTest::invalidFrameCountWarnsAndRestoresTheStoredCount()
{
    QFETCH(QString, typed);
    QFETCH(QVariant, storedCount);
    QFETCH(QString, restored);

    if (storedCount.isValid())
        store(AppSettings::kMaxStitchCount, storedCount);
    MainWindow window;
    window.m_maxStitchCount = 5;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    // The validator keeps such text from finishing an edit, so the handler is
    // run as the field would run it.
    auto *field = control<QLineEdit>(dialog, "leFrameCount");
    field->setText(typed);
    QVERIFY(QMetaObject::invokeMethod(&dialog, "on_leFrameCount_editingFinished"));

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Warning);
    QCOMPARE(boxes.last().title, QStringLiteral("Segment Frame Limit"));
    QCOMPARE(boxes.last().text, QStringLiteral("Please enter a valid frame count (>0)."));
    QCOMPARE(field->text(), restored);
    QCOMPARE(isStored(AppSettings::kMaxStitchCount), storedCount.isValid());
    QCOMPARE(window.m_maxStitchCount, 5);
}

void SettingDialogTest::frameCountOutsideTheAcceptedRangeIsIgnoredSilently_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("zero") << "0";
    QTest::newRow("above a million") << "1000001";
}

void SettingDialogTest::frameCountOutsideTheAcceptedRangeIsIgnoredSilently()
{
    QFETCH(QString, typed);
    store(AppSettings::kMaxStitchCount, 20);
    MainWindow window;
    window.m_maxStitchCount = 20;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    typeInto(control<QLineEdit>(dialog, "leFrameCount"), typed);
    QTest::qWait(50);

    QVERIFY(boxes.isEmpty());
    QCOMPARE(stored(AppSettings::kMaxStitchCount).toInt(), 20);
    QCOMPARE(window.m_maxStitchCount, 20);
}

void SettingDialogTest::partialAndSaveOptionsReachTheWindow_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("key");
    QTest::newRow("incomplete frame triggers stitching") << "cbPartialStitch" << AppSettings::kPartialStitch;
    QTest::newRow("save stitched image") << "cbSaveStitchImage" << AppSettings::kSaveStitchImage;
}

void SettingDialogTest::partialAndSaveOptionsReachTheWindow()
{
    QFETCH(QString, box);
    QFETCH(QString, key);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    bool &option
        = box == QLatin1String("cbPartialStitch") ? window.m_partialStitch : window.m_saveStitchImage;
    auto *check = control<QCheckBox>(dialog, qPrintable(box));
    QVERIFY(check->isChecked());
    QVERIFY(option);

    check->click();
    QCOMPARE(stored(qPrintable(key)).toBool(), false);
    QCOMPARE(option, false);

    check->click();
    QCOMPARE(stored(qPrintable(key)).toBool(), true);
    QCOMPARE(option, true);
}

void SettingDialogTest::liveViewBoxIsStoredAndAnnounced()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::showLiveViewChanged);

    control<QCheckBox>(dialog, "cbShowLiveView")->click();
    QCOMPARE(stored(AppSettings::kShowLiveView).toBool(), true);
    control<QCheckBox>(dialog, "cbShowLiveView")->click();
    QCOMPARE(stored(AppSettings::kShowLiveView).toBool(), false);

    QCOMPARE(announced.size(), 2);
    QCOMPARE(announced.at(0).at(0).toBool(), true);
    QCOMPARE(announced.at(1).at(0).toBool(), false);
}

// ---- Output format, quality and folder --------------------------------------

void SettingDialogTest::switchingFormatsShowsEachFormatsStoredQuality()
{
    store(AppSettings::kJpgQuality, 80);
    store(AppSettings::kPngQuality, 3);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    auto *slider = control<QSlider>(dialog, "slQuality");
    auto *spin = control<QSpinBox>(dialog, "sbQuality");

    control<QRadioButton>(dialog, "rdButtonJpg")->click();
    QCOMPARE(slider->value(), 80);
    QCOMPARE(spin->value(), 80);
    QCOMPARE(slider->minimum(), 55);
    QCOMPARE(spin->maximum(), 99);

    control<QRadioButton>(dialog, "rdButtonPng")->click();
    QCOMPARE(slider->value(), 3);
    QCOMPARE(spin->value(), 3);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(spin->maximum(), 9);

    control<QRadioButton>(dialog, "rdButtonJpg")->click();
    QCOMPARE(spin->value(), 80);

    // Showing a quality is not an edit of it.
    QCOMPARE(stored(AppSettings::kJpgQuality).toInt(), 80);
    QCOMPARE(stored(AppSettings::kPngQuality).toInt(), 3);
}

void SettingDialogTest::tiffAndBmpDisableTheQualityControlsKeepingTheLastValue_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("kept");
    QTest::newRow("JPG to TIFF") << "rdButtonJpg"
                                 << "rdButtonTiff" << 80;
    QTest::newRow("PNG to BMP") << "rdButtonPng"
                                << "rdButtonBmp" << 3;
}

void SettingDialogTest::tiffAndBmpDisableTheQualityControlsKeepingTheLastValue()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, kept);
    store(AppSettings::kJpgQuality, 80);
    store(AppSettings::kPngQuality, 3);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    control<QRadioButton>(dialog, qPrintable(from))->click();
    QVERIFY(control<QSlider>(dialog, "slQuality")->isEnabled());
    control<QRadioButton>(dialog, qPrintable(to))->click();

    QVERIFY(!control<QSlider>(dialog, "slQuality")->isEnabled());
    QVERIFY(!control<QSpinBox>(dialog, "sbQuality")->isEnabled());
    QCOMPARE(control<QSlider>(dialog, "slQuality")->value(), kept);
    QCOMPARE(control<QSpinBox>(dialog, "sbQuality")->value(), kept);
}

void SettingDialogTest::choosingJpgOrPngFirstTimeStoresTheDefaultQuality_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("quality");
    QTest::newRow("JPG") << "rdButtonJpg" << AppSettings::kJpgQuality << 95;
    QTest::newRow("PNG") << "rdButtonPng" << AppSettings::kPngQuality << 8;
}

void SettingDialogTest::choosingJpgOrPngFirstTimeStoresTheDefaultQuality()
{
    QFETCH(QString, button);
    QFETCH(QString, key);
    QFETCH(int, quality);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    QFile::remove(QStringLiteral("setting.ini"));
    settingdialog dialog(&window, &window);
    QVERIFY(!isStored(qPrintable(key)));

    control<QRadioButton>(dialog, qPrintable(button))->click();

    QCOMPARE(stored(qPrintable(key)).toInt(), quality);
    QCOMPARE(control<QSpinBox>(dialog, "sbQuality")->value(), quality);
}

void SettingDialogTest::formatChoiceIsStoredAndAnnounced()
{
    store(AppSettings::kJpgQuality, 70);
    store(AppSettings::kPngQuality, 2);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::imageFormatChanged);

    const struct {
        const char *button;
        const char *format;
    } choices[]
        = {{"rdButtonPng", "PNG"}, {"rdButtonTiff", "TIF"}, {"rdButtonJpg", "JPG"}, {"rdButtonBmp", "BMP"}};
    for (const auto &choice : choices) {
        announced.clear();
        control<QRadioButton>(dialog, choice.button)->click();
        QCOMPARE(stored(AppSettings::kFormat).toString(), QLatin1String(choice.format));
        QCOMPARE(announced.size(), 1);
        QCOMPARE(announced.at(0).at(0).toString(), QLatin1String(choice.format));
        QCOMPARE(announced.at(0).at(1).toInt(), 70);
        QCOMPARE(announced.at(0).at(2).toInt(), 2);
    }
}

void SettingDialogTest::qualityEditIsStoredAndAnnouncedOnce_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("bySlider");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("jpg");
    QTest::addColumn<int>("png");
    QTest::newRow("JPG by spin box") << "rdButtonJpg" << false << 60 << AppSettings::kJpgQuality << "JPG"
                                     << 60 << 5;
    QTest::newRow("JPG by slider") << "rdButtonJpg" << true << 97 << AppSettings::kJpgQuality << "JPG" << 97
                                   << 5;
    QTest::newRow("PNG by spin box") << "rdButtonPng" << false << 1 << AppSettings::kPngQuality << "PNG" << 90
                                     << 1;
    QTest::newRow("PNG by slider") << "rdButtonPng" << true << 9 << AppSettings::kPngQuality << "PNG" << 90
                                   << 9;
}

void SettingDialogTest::qualityEditIsStoredAndAnnouncedOnce()
{
    QFETCH(QString, button);
    QFETCH(bool, bySlider);
    QFETCH(int, value);
    QFETCH(QString, key);
    QFETCH(QString, format);
    QFETCH(int, jpg);
    QFETCH(int, png);
    store(AppSettings::kJpgQuality, 90);
    store(AppSettings::kPngQuality, 5);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    control<QRadioButton>(dialog, qPrintable(button))->click();
    QSignalSpy announced(&dialog, &settingdialog::imageFormatChanged);

    if (bySlider)
        control<QSlider>(dialog, "slQuality")->setValue(value);
    else
        control<QSpinBox>(dialog, "sbQuality")->setValue(value);

    QCOMPARE(control<QSlider>(dialog, "slQuality")->value(), value);
    QCOMPARE(control<QSpinBox>(dialog, "sbQuality")->value(), value);
    QCOMPARE(stored(qPrintable(key)).toInt(), value);
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.at(0).at(0).toString(), format);
    QCOMPARE(announced.at(0).at(1).toInt(), jpg);
    QCOMPARE(announced.at(0).at(2).toInt(), png);
}

void SettingDialogTest::storedQualityOutsideItsRangeIsShownClamped()
{
    store(AppSettings::kFormat, QStringLiteral("JPG"));
    store(AppSettings::kJpgQuality, 120);
    store(AppSettings::kPngQuality, -3);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::imageFormatChanged);
    QCOMPARE(control<QSpinBox>(dialog, "sbQuality")->value(), 99);

    control<QRadioButton>(dialog, "rdButtonPng")->click();
    QCOMPARE(control<QSpinBox>(dialog, "sbQuality")->value(), 0);
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.at(0).at(1).toInt(), 99);
    QCOMPARE(announced.at(0).at(2).toInt(), 0);
}

void SettingDialogTest::choosingTheWorkingDirectoryStoresDot()
{
    store(AppSettings::kSaveDir, QStringLiteral("/somewhere/else"));
    store(AppSettings::kJpgQuality, 77);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    FolderAnsweringDialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::sigSaveDirChanged);
    dialog.answer = QDir::currentPath();

    control<QPushButton>(dialog, "btnSelectSaveDir")->click();
    QCOMPARE(dialog.asked, 1);
    QCOMPARE(dialog.askedTitle, QStringLiteral("选择保存目录"));
    QCOMPARE(dialog.askedStart, QStringLiteral("/somewhere/else"));
    QCOMPARE(stored(AppSettings::kSaveDir).toString(), QStringLiteral("."));
    QCOMPARE(control<QLineEdit>(dialog, "leCurrentSavePath")->text(), QStringLiteral("."));
    QCOMPARE(stored(AppSettings::kJpgQuality).toInt(), 77);
    QCOMPARE(stored(AppSettings::kPngQuality).toInt(), 8);
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.at(0).at(0).toString(), QStringLiteral("."));

    // With "." stored, the folder dialog opens on the working directory.
    control<QPushButton>(dialog, "btnSelectSaveDir")->click();
    QCOMPARE(dialog.askedStart, QDir::currentPath());
}

void SettingDialogTest::choosingAnotherFolderStoresItsPath()
{
    QVERIFY(QDir().mkdir(QStringLiteral("out")));
    const QString chosen = QDir::current().filePath(QStringLiteral("out"));
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    FolderAnsweringDialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::sigSaveDirChanged);
    dialog.answer = chosen;

    control<QPushButton>(dialog, "btnSelectSaveDir")->click();
    QCOMPARE(dialog.askedStart, QDir::currentPath());
    QCOMPARE(stored(AppSettings::kSaveDir).toString(), chosen);
    QCOMPARE(control<QLineEdit>(dialog, "leCurrentSavePath")->text(), chosen);
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.at(0).at(0).toString(), chosen);
}

void SettingDialogTest::cancelledFolderChoiceChangesNothing()
{
    store(AppSettings::kSaveDir, QStringLiteral("/data/out"));
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    FolderAnsweringDialog dialog(&window, &window);
    QSignalSpy announced(&dialog, &settingdialog::sigSaveDirChanged);

    control<QPushButton>(dialog, "btnSelectSaveDir")->click();

    QCOMPARE(dialog.asked, 1);
    QCOMPARE(stored(AppSettings::kSaveDir).toString(), QStringLiteral("/data/out"));
    QCOMPARE(control<QLineEdit>(dialog, "leCurrentSavePath")->text(), QStringLiteral("/data/out"));
    QVERIFY(!isStored(AppSettings::kJpgQuality));
    QVERIFY(announced.isEmpty());
}

// ---- Camera parameters ------------------------------------------------------

void SettingDialogTest::cameraValuesReplaceTheStoredLineRate()
{
    store(AppSettings::kLineRateEnable, true);
    store(AppSettings::kLineRate, 777);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    QVERIFY(dialog.isEnabled());
    QVERIFY(!control<QCheckBox>(dialog, "cbAcquisitionLineRateEnable")->isChecked());
    QCOMPARE(control<QLineEdit>(dialog, "leAcquisitionLineRate")->text(), QStringLiteral("1000"));
    QVERIFY(control<QLineEdit>(dialog, "leAcquisitionLineRate")->isEnabled());
    QCOMPARE(control<QLineEdit>(dialog, "leResultingLineRate")->text(), QStringLiteral("8000"));
    // Filling the controls from the camera neither writes the file nor tells the camera.
    QCOMPARE(stored(AppSettings::kLineRateEnable).toBool(), true);
    QCOMPARE(stored(AppSettings::kLineRate).toInt(), 777);
    QCOMPARE(camera.intFeature("AcquisitionLineRate"), qint64(1000));
}

void SettingDialogTest::fractionalExposureAndGainAreShownWithTheirFraction()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    QCOMPARE(MV_CC_SetFloatValue(camera.handle(), "ExposureTime", 250.75f), int(MV_OK));
    settingdialog dialog(&window, &window);

    auto *exposure = control<QSlider>(dialog, "slExposure");
    QCOMPARE(exposure->minimum(), 2);
    QCOMPARE(exposure->maximum(), 1000);
    QCOMPARE(exposure->value(), 250);
    QCOMPARE(control<QLineEdit>(dialog, "leExposure")->text(), QStringLiteral("250.75"));
    auto *gain = control<QSlider>(dialog, "slGain");
    QCOMPARE(gain->minimum(), 0);
    QCOMPARE(gain->maximum(), 20);
    QCOMPARE(gain->value(), 3);
    QCOMPARE(gain->singleStep(), 1);
    QCOMPARE(control<QLineEdit>(dialog, "leGain")->text(), QStringLiteral("3.25"));
    // Opening sends nothing back.
    QCOMPARE(camera.floatFeature("ExposureTime"), 250.75f);
    QCOMPARE(camera.floatFeature("Gain"), 3.25f);
    QVERIFY(!isStored(AppSettings::kExposure));
    QVERIFY(!isStored(AppSettings::kGain));
}

void SettingDialogTest::movingTheExposureSliderSetsTimedManualExposure()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    QCOMPARE(MV_CC_SetEnumValue(camera.handle(), "ExposureMode", 1), int(MV_OK));
    QCOMPARE(MV_CC_SetEnumValue(camera.handle(), "ExposureAuto", 2), int(MV_OK));
    settingdialog dialog(&window, &window);

    control<QSlider>(dialog, "slExposure")->setValue(300);

    MVCC_ENUMVALUE mode{}, automatic{};
    QCOMPARE(MV_CC_GetEnumValue(camera.handle(), "ExposureMode", &mode), int(MV_OK));
    QCOMPARE(MV_CC_GetEnumValue(camera.handle(), "ExposureAuto", &automatic), int(MV_OK));
    QCOMPARE(mode.nCurValue, 0u);
    QCOMPARE(automatic.nCurValue, 0u);
    QCOMPARE(camera.floatFeature("ExposureTime"), 300.0f);
    QCOMPARE(stored(AppSettings::kExposure).toInt(), 300);
    QCOMPARE(control<QLineEdit>(dialog, "leExposure")->text(), QStringLiteral("300"));
}

void SettingDialogTest::movingTheGainSliderSendsAndStoresIt()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    control<QSlider>(dialog, "slGain")->setValue(12);

    QCOMPARE(camera.floatFeature("Gain"), 12.0f);
    QCOMPARE(stored(AppSettings::kGain).toInt(), 12);
    QCOMPARE(control<QLineEdit>(dialog, "leGain")->text(), QStringLiteral("12"));
}

void SettingDialogTest::typedExposureOrGainMovesTheSliderAndIsSentAsTyped_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("slider");
    QTest::addColumn<QString>("feature");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("sliderValue");
    QTest::addColumn<float>("cameraValue");
    QTest::addColumn<int>("storedValue");
    QTest::addColumn<QString>("shown");
    // A letter reads as 0: the slider stops at its minimum and sends that,
    // then 0 itself is sent, which the camera refuses.
    QTest::newRow("exposure as a letter")
        << "leExposure"
        << "slExposure"
        << "ExposureTime" << AppSettings::kExposure << "x" << 2 << 2.0f << 0 << "0";
    QTest::newRow("exposure in range")
        << "leExposure"
        << "slExposure"
        << "ExposureTime" << AppSettings::kExposure << "300" << 300 << 300.0f << 300 << "300";
    QTest::newRow("gain above range") << "leGain"
                                      << "slGain"
                                      << "Gain" << AppSettings::kGain << "50" << 20 << 20.0f << 50 << "50";
    QTest::newRow("gain in range") << "leGain"
                                   << "slGain"
                                   << "Gain" << AppSettings::kGain << "7" << 7 << 7.0f << 7 << "7";
}

void SettingDialogTest::typedExposureOrGainMovesTheSliderAndIsSentAsTyped()
{
    QFETCH(QString, field);
    QFETCH(QString, slider);
    QFETCH(QString, feature);
    QFETCH(QString, key);
    QFETCH(QString, typed);
    QFETCH(int, sliderValue);
    QFETCH(float, cameraValue);
    QFETCH(int, storedValue);
    QFETCH(QString, shown);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);

    typeInto(control<QLineEdit>(dialog, qPrintable(field)), typed);

    QCOMPARE(control<QSlider>(dialog, qPrintable(slider))->value(), sliderValue);
    QCOMPARE(camera.floatFeature(qPrintable(feature)), cameraValue);
    QCOMPARE(stored(qPrintable(key)).toInt(), storedValue);
    QCOMPARE(control<QLineEdit>(dialog, qPrintable(field))->text(), shown);
}

void SettingDialogTest::requestedLineRateIsJudgedAgainstTheCeiling_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<float>("exposureAfterwards");
    QTest::addColumn<qint64>("cameraReports");
    QTest::addColumn<QString>("shown");
    // The ceiling is 8000, read while line rate control was off (125 us).
    QTest::newRow("5000 under the ceiling") << 5000 << 125.0f << qint64(5000) << "5000";
    QTest::newRow("5000 under the ceiling, camera slower") << 5000 << 250.0f << qint64(4000) << "5000";
    QTest::newRow("9000 over the ceiling") << 9000 << 125.0f << qint64(8000) << "8000";
    QTest::newRow("9000 over the ceiling, camera slower") << 9000 << 250.0f << qint64(4000) << "4000";
}

void SettingDialogTest::requestedLineRateIsJudgedAgainstTheCeiling()
{
    QFETCH(int, requested);
    QFETCH(float, exposureAfterwards);
    QFETCH(qint64, cameraReports);
    QFETCH(QString, shown);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    stopReadoutTimer(dialog);
    MessageBoxRecorder boxes;

    control<QCheckBox>(dialog, "cbAcquisitionLineRateEnable")->click();
    QVERIFY(camera.boolFeature("AcquisitionLineRateEnable"));
    QCOMPARE(stored(AppSettings::kLineRateEnable).toBool(), true);
    QCOMPARE(MV_CC_SetFloatValue(camera.handle(), "ExposureTime", exposureAfterwards), int(MV_OK));
    typeInto(control<QLineEdit>(dialog, "leAcquisitionLineRate"), QString::number(requested));

    QCOMPARE(camera.intFeature("AcquisitionLineRate"), qint64(requested));
    QCOMPARE(stored(AppSettings::kLineRate).toInt(), requested);
    QCOMPARE(camera.intFeature("ResultingLineRate"), cameraReports);
    QCOMPARE(control<QLineEdit>(dialog, "leResultingLineRate")->text(), shown);
    QTest::qWait(50); // the readout scheduled by the box judges the same way
    QCOMPARE(control<QLineEdit>(dialog, "leResultingLineRate")->text(), shown);
    QVERIFY(boxes.isEmpty());
}

void SettingDialogTest::exposureChangeWithoutLineRateControlRecordsANewCeiling()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    stopReadoutTimer(dialog);
    auto *shown = control<QLineEdit>(dialog, "leResultingLineRate");

    control<QSlider>(dialog, "slExposure")->setValue(250);
    QCOMPARE(shown->text(), QStringLiteral("8000"));
    QTRY_COMPARE_WITH_TIMEOUT(shown->text(), QStringLiteral("4000"), 800);

    // 6000 would be under the old ceiling of 8000; under the new one of 4000
    // the camera's own reading is shown.
    control<QCheckBox>(dialog, "cbAcquisitionLineRateEnable")->click();
    QCOMPARE(MV_CC_SetFloatValue(camera.handle(), "ExposureTime", 200.0f), int(MV_OK));
    typeInto(control<QLineEdit>(dialog, "leAcquisitionLineRate"), QStringLiteral("6000"));
    QCOMPARE(shown->text(), QStringLiteral("5000"));
}

void SettingDialogTest::switchingLineRateControlOffShowsTheCameraRate()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    stopReadoutTimer(dialog);
    auto *box = control<QCheckBox>(dialog, "cbAcquisitionLineRateEnable");
    auto *shown = control<QLineEdit>(dialog, "leResultingLineRate");
    box->click();
    typeInto(control<QLineEdit>(dialog, "leAcquisitionLineRate"), QStringLiteral("3000"));
    QCOMPARE(shown->text(), QStringLiteral("3000"));

    QCOMPARE(MV_CC_SetFloatValue(camera.handle(), "ExposureTime", 250.0f), int(MV_OK));
    box->click();
    QVERIFY(!camera.boolFeature("AcquisitionLineRateEnable"));
    QCOMPARE(stored(AppSettings::kLineRateEnable).toBool(), false);
    QTRY_COMPARE_WITH_TIMEOUT(shown->text(), QStringLiteral("4000"), 500);

    // The rate read without control is the new ceiling: 6000 exceeds it, so
    // the camera's reading is shown rather than the request.
    QCOMPARE(MV_CC_SetFloatValue(camera.handle(), "ExposureTime", 200.0f), int(MV_OK));
    box->click();
    typeInto(control<QLineEdit>(dialog, "leAcquisitionLineRate"), QStringLiteral("6000"));
    QCOMPARE(shown->text(), QStringLiteral("5000"));
}

void SettingDialogTest::cameraWithoutLineRateControlWarnsTwiceAndEndsUnchecked()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-NORATE");
    settingdialog dialog(&window, &window);
    auto *box = control<QCheckBox>(dialog, "cbAcquisitionLineRateEnable");
    QVERIFY(!box->isChecked());
    MessageBoxRecorder boxes;

    box->click();

    QCOMPARE(boxes.count(), 2);
    for (const MessageBoxRecorder::Record &record : boxes.records()) {
        QCOMPARE(record.kind, QMessageBox::Warning);
        QCOMPARE(record.title, QStringLiteral("Line Rate Control"));
        QCOMPARE(record.text, QStringLiteral("Failed to set line rate enable, error code: -2147483638"));
    }
    QVERIFY(!box->isChecked());
    QCOMPARE(stored(AppSettings::kLineRateEnable).toBool(), false);
    QVERIFY(control<QLineEdit>(dialog, "leAcquisitionLineRate")->isEnabled());
}

void SettingDialogTest::rejectedLineRateWarnsAndRestoresTheCameraValue()
{
    store(AppSettings::kLineRate, 1200);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;
    auto *field = control<QLineEdit>(dialog, "leAcquisitionLineRate");

    typeInto(field, QStringLiteral("30000")); // the camera's maximum is 20000

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Warning);
    QCOMPARE(boxes.last().title, QStringLiteral("Line Rate Control"));
    QCOMPARE(boxes.last().text,
             QStringLiteral("Failed to set acquisition line rate, error code: -2147483636"));
    QCOMPARE(field->text(), QStringLiteral("1000"));
    QCOMPARE(camera.intFeature("AcquisitionLineRate"), qint64(1000));
    QCOMPARE(stored(AppSettings::kLineRate).toInt(), 1200);
}

void SettingDialogTest::unreadableLineRateWarns()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    MessageBoxRecorder boxes;

    // The validator keeps such text from finishing an edit; the handler still
    // refuses it when run.
    control<QLineEdit>(dialog, "leAcquisitionLineRate")->setText(QStringLiteral("fast"));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "on_leAcquisitionLineRate_editingFinished"));

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Line Rate Control"));
    QCOMPARE(boxes.last().text, QStringLiteral("Please enter a valid line rate value!"));
    QCOMPARE(camera.intFeature("AcquisitionLineRate"), qint64(1000));
    QVERIFY(!isStored(AppSettings::kLineRate));
}

void SettingDialogTest::unreadableResultingLineRateShowsNotAvailable_data()
{
    QTest::addColumn<bool>("controlOn");
    QTest::addColumn<QString>("before");
    QTest::newRow("line rate control off") << false << "8000";
    QTest::newRow("line rate control on") << true << "1000";
}

void SettingDialogTest::unreadableResultingLineRateShowsNotAvailable()
{
    QFETCH(bool, controlOn);
    QFETCH(QString, before);
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    settingdialog dialog(&window, &window);
    if (controlOn)
        control<QCheckBox>(dialog, "cbAcquisitionLineRateEnable")->click();
    QTest::qWait(50);
    auto *shown = control<QLineEdit>(dialog, "leResultingLineRate");
    QCOMPARE(shown->text(), before);

    mvsim::setFault("MV_CC_GetIntValueEx", int(MV_E_NODEVICE));
    if (controlOn)
        QTest::ignoreMessage(QtDebugMsg, "Failed to get ResultingLineRate, error code: -2147483639");
    QTRY_COMPARE_WITH_TIMEOUT(shown->text(), QStringLiteral("N/A"), 2500);
    mvsim::clearFaults();
}

QTEST_MAIN(SettingDialogTest)
#include "tst_settingdialog.moc"
