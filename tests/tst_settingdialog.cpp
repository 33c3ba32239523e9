// The settings dialog driven by clicks and keys on a window with a simulated
// camera: what an entry does to the camera, the settings file and the window,
// the warnings it gives (each once), and the rules behind the fields.
#include <QAction>
#include <QDir>
#include <QGraphicsView>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

#include <climits>
#include <cmath>
#include <functional>
#include <memory>

#include "appsettings.h"
#include "dialogcamera.h"
#include "scratchdirectory.h"

using namespace SettingRules;

namespace {

// Clicks into the field and replaces its text by typing, as far as the
// field's validator lets the characters through.
void retype(QLineEdit *field, const QString &text)
{
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

// Brings the widget's tab to the front by clicking the tab, then clicks the widget.
void clickOnItsTab(QWidget *widget)
{
    auto *tabs = findControl<QTabWidget>(*widget->window(), QStringLiteral("tabWidget"));
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->widget(i)->isAncestorOf(widget))
            QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, Qt::NoModifier,
                              tabs->tabBar()->tabRect(i).center());
    }
    if (auto *box = qobject_cast<QCheckBox *>(widget))
        clickIndicator(box);
    else
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(6, widget->height() / 2));
}

// Answers the folder dialog instead of the operator.
class FolderAnsweringDialog : public settingdialog
{
public:
    using settingdialog::settingdialog;
    QString answer, askedStart;

protected:
    QString chooseSaveDirectory(const QString &, const QString &startDir) override
    {
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
    findControl<QAction>(window, QStringLiteral("actionSetting"))->trigger();
    return seen;
}

} // namespace

class SettingDialogTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window; // one for all: each costs a few hundred ms

private slots:
    void initTestCase() { m_window = std::make_unique<MainWindow>(); }
    void cleanupTestCase() { m_window.reset(); }
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void typedEntryEndsOnceWithItsOutcome_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed"); // null: entered and left unchanged
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message"); // empty: no box
        QTest::addColumn<QString>("shown");   // in the field afterwards
        const QString exposure = QStringLiteral("Please enter an exposure time from 2 to 1000!");
        const QString gain = QStringLiteral("Please enter a gain from 0 to 20!");
        const QString rateRefused
            = QStringLiteral("Failed to set acquisition line rate, error code: -2147483636");
        const QString rate = QStringLiteral("Please enter a valid line rate value!");
        const QString count = QStringLiteral("Please enter a valid frame count (>0).");
        const QStringList every = {"Return", "Enter", "Tab", "click", "close"};
        const auto rows = [](const char *field, const QString &typed, const QStringList &ways,
                             const QString &message, const char *shown) {
            for (const QString &how : ways)
                QTest::addRow("%s %s, %s", field,
                              typed.isNull() ? "unchanged" : qPrintable('"' + typed + '"'), qPrintable(how))
                    << field << typed << how << message << shown;
        };
        // DLG-FRACTION: exposure 12.5 of 2..1000, gain 3.7 of 0..20, line rate 1000 of 10..20000.
        rows("leExposure", "7.25", {"Return", "close"}, "", "7.25");
        rows("leExposure", "1000", {"Tab"}, "", "1000");
        rows("leExposure", "2", {"click"}, "", "2");
        rows("leExposure", "5000", every, exposure, "12.5");
        rows("leExposure", "1.5", {"Return"}, exposure, "12.5");
        rows("leExposure", "", {"Tab"}, exposure, "12.5");
        rows("leExposure", QString(), every, "", "12.5");
        rows("leGain", "0.3", {"Enter"}, "", "0.3");
        rows("leGain", "20", {"Return"}, "", "20");
        rows("leGain", "25", {"Return", "click"}, gain, "3.7");
        rows("leGain", QString(), every, "", "3.7");
        rows("leAcquisitionLineRate", "5000", {"Return", "close"}, "", "5000");
        rows("leAcquisitionLineRate", "10", {"Tab"}, "", "10");
        rows("leAcquisitionLineRate", "20000", {"click"}, "", "20000");
        rows("leAcquisitionLineRate", "20001", every, rateRefused, "1000");
        rows("leAcquisitionLineRate", "9", every, rate, "1000");
        rows("leAcquisitionLineRate", "", every, rate, "1000");
        rows("leAcquisitionLineRate", QString(), every, "", "1000");
        rows("leFrameCount", "12", {"Return", "close"}, "", "12");
        rows("leFrameCount", "1", {"Tab"}, "", "1");
        rows("leFrameCount", "1000000", {"click"}, "", "1000000");
        rows("leFrameCount", "0", every, count, "40");
        rows("leFrameCount", "1000001", {"Enter", "Tab"}, count, "40");
        rows("leFrameCount", "", {"Return", "click"}, count, "40");
        rows("leFrameCount", "0", {"Return"}, count, "15"); // nothing stored: the count restored is 15
        rows("leFrameCount", QString(), every, "", "40");
    }

    void typedEntryEndsOnceWithItsOutcome()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, how);
        QFETCH(QString, message);
        QFETCH(QString, shown);
        const struct {
            const char *field, *feature, *key, *title, *current;
        } kinds[] = {{"leExposure", "ExposureTime", AppSettings::kExposure, "Exposure", "12.5"},
                     {"leGain", "Gain", AppSettings::kGain, "Gain", "3.7"},
                     {"leAcquisitionLineRate", "AcquisitionLineRate", AppSettings::kLineRate,
                      "Line Rate Control", "1000"},
                     {"leFrameCount", nullptr, AppSettings::kMaxStitchCount, "Segment Frame Limit", "40"}};
        const auto kind = *std::find_if(std::begin(kinds), std::end(kinds),
                                        [&](const auto &k) { return field == QLatin1String(k.field); });
        const bool accepted = message.isEmpty() && !typed.isNull();
        const bool countStored = !kind.feature && shown != QLatin1String("15");
        if (countStored)
            store(kind.key, 40);
        ShownDialog dialog(*m_window, "DLG-FRACTION");
        dialog.window.m_maxStitchCount = 40;
        QLineEdit *edit = dialog.control(field);
        QLineEdit *elsewhere = dialog.control(kind.feature ? "leFrameCount" : "leGain");
        MessageBoxRecorder boxes;

        if (typed.isNull())
            QTest::mouseClick(edit, Qt::LeftButton);
        else
            retype(edit, typed);
        QVERIFY(edit->hasFocus());
        QCOMPARE(edit->text(), typed.isNull() ? QString(kind.current) : typed);
        if (how == QLatin1String("Return"))
            QTest::keyClick(edit, Qt::Key_Return);
        else if (how == QLatin1String("Enter"))
            QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
        else if (how == QLatin1String("Tab"))
            QTest::keyClick(edit, Qt::Key_Tab);
        else if (how == QLatin1String("click"))
            QTest::mouseClick(elsewhere, Qt::LeftButton);
        else
            QTest::keyClick(edit, Qt::Key_Escape); // closes the dialog
        if (how == QLatin1String("close")) {
            QTRY_VERIFY(!dialog.dialog.isVisible());
        } else {
            // Leaving the field, coming back and leaving it unchanged says nothing more.
            QTest::mouseClick(elsewhere, Qt::LeftButton);
            QTest::mouseClick(edit, Qt::LeftButton);
            QTest::keyClick(edit, Qt::Key_Tab);
        }

        if (message.isEmpty())
            QVERIFY2(boxes.isEmpty(), qPrintable(boxes.texts().join('|')));
        else
            expectBoxes(boxes, 1, QMessageBox::Warning, QLatin1String(kind.title), message);
        const QString value = accepted ? typed : QString(kind.current);
        if (!kind.feature)
            QCOMPARE(dialog.window.m_maxStitchCount, value.toInt());
        else if (kind.feature == QLatin1String("AcquisitionLineRate"))
            QCOMPARE(dialog.camera.intFeature(kind.feature), value.toLongLong());
        else
            QCOMPARE(dialog.camera.floatFeature(kind.feature), value.toFloat());
        QCOMPARE(stored(kind.key).toString(), accepted ? typed : countStored ? QString("40") : QString());
        QCOMPARE(edit->text(), shown);
    }

    void lineRateControlFollowsEveryClickOrWarnsTwice_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<bool>("refused");
        QTest::newRow("camera with line rate control") << "DLG-1" << false;
        QTest::newRow("camera without it") << "DLG-NORATE" << true;
    }

    void lineRateControlFollowsEveryClickOrWarnsTwice()
    {
        QFETCH(QString, serial);
        QFETCH(bool, refused);
        ShownDialog shown(*m_window, qPrintable(serial));
        auto *box = shown.control<QCheckBox>("cbAcquisitionLineRateEnable");
        MessageBoxRecorder boxes;

        // On the indicator, on the label (the middle of the widget), with the space bar.
        for (int click = 1; click <= 4; ++click) {
            if (click == 2)
                QTest::mouseClick(box, Qt::LeftButton);
            else if (click == 3)
                QTest::keyClick(box, Qt::Key_Space);
            else
                clickIndicator(box);
            const bool on = !refused && click % 2 == 1;
            QCOMPARE(box->isChecked(), on);
            bool cameraOn = false; // a camera without the feature has it off
            MV_CC_GetBoolValue(shown.camera.handle(), "AcquisitionLineRateEnable", &cameraOn);
            QCOMPARE(cameraOn, on);
            QCOMPARE(stored(AppSettings::kLineRateEnable).toBool(), on);
            QCOMPARE(boxes.count(), refused ? 2 * click : 0);
        }
        if (refused)
            expectBoxes(boxes, 8, QMessageBox::Warning, QStringLiteral("Line Rate Control"),
                        QStringLiteral("Failed to set line rate enable, error code: -2147483638"));
    }

    void requestedLineRateIsJudgedAgainstTheCeiling_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<float>("exposureAfterwards");
        QTest::addColumn<QString>("shown");
        // The ceiling is 8000, read while line rate control was off (125 us).
        QTest::newRow("5000 under the ceiling") << 5000 << 125.0f << "5000";
        QTest::newRow("5000 under the ceiling, camera slower") << 5000 << 250.0f << "5000";
        QTest::newRow("8000 at the ceiling, camera slower") << 8000 << 250.0f << "8000";
        QTest::newRow("9000 over the ceiling") << 9000 << 125.0f << "8000";
        QTest::newRow("9000 over the ceiling, camera slower") << 9000 << 250.0f << "4000";
    }

    void requestedLineRateIsJudgedAgainstTheCeiling()
    {
        QFETCH(int, requested);
        QFETCH(float, exposureAfterwards);
        QFETCH(QString, shown);
        ShownDialog dialog(*m_window, "DLG-1");
        auto *field = dialog.control("leAcquisitionLineRate");
        auto *result = dialog.control("leResultingLineRate");
        MessageBoxRecorder boxes;

        clickIndicator(dialog.control<QCheckBox>("cbAcquisitionLineRateEnable"));
        QCOMPARE(MV_CC_SetFloatValue(dialog.camera.handle(), "ExposureTime", exposureAfterwards), int(MV_OK));
        retype(field, QString::number(requested));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(dialog.camera.intFeature("AcquisitionLineRate"), qint64(requested));
        QCOMPARE(result->text(), shown);

        // A rate being typed is not the camera's: the periodic readout ignores it.
        retype(field, QStringLiteral("5"));
        QVERIFY(dialog.waitForReadout());
        QCOMPARE(result->text(), shown);
        QVERIFY(boxes.isEmpty());
    }

    void everyOtherControlWritesItsKeyAtOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("input"); // a key for sliders, typed text for the spin box; else a click
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const char *const rows[][4] = {{"cbLeftStitch", "", AppSettings::kStitchDirection, "0"},
                                       {"cbRightStitch", "", AppSettings::kStitchDirection, "1"},
                                       {"cbBottomStitch", "", AppSettings::kStitchDirection, "2"},
                                       {"cbTopStitch", "", AppSettings::kStitchDirection, "3"},
                                       {"cbPartialStitch", "", AppSettings::kPartialStitch, "false"},
                                       {"cbSaveStitchImage", "", AppSettings::kSaveStitchImage, "false"},
                                       {"cbShowLiveView", "", AppSettings::kShowLiveView, "true"},
                                       {"rdButtonJpg", "", AppSettings::kFormat, "JPG"},
                                       {"rdButtonTiff", "", AppSettings::kFormat, "TIF"},
                                       {"rdButtonBmp", "", AppSettings::kFormat, "BMP"},
                                       {"sbQuality", "2", AppSettings::kPngQuality, "2"},
                                       {"slQuality", "End", AppSettings::kPngQuality, "9"},
                                       {"slExposure", "End", AppSettings::kExposure, "1000"},
                                       {"slGain", "Home", AppSettings::kGain, "0"}};
        for (const auto &row : rows)
            QTest::addRow("%s %s", row[0], row[1]) << row[0] << row[1] << row[2] << row[3];
    }

    void everyOtherControlWritesItsKeyAtOnce()
    {
        QFETCH(QString, name);
        QFETCH(QString, input);
        QFETCH(QString, key);
        QFETCH(QString, value);
        store(AppSettings::kFormat, QStringLiteral("PNG"));
        store(AppSettings::kStitchDirection, 9); // differs from every button's direction
        ShownDialog shown(*m_window, "DLG-1");
        shown.window.m_stitchDirection = 3;
        shown.window.m_batchFrames = {QImage(8, 8, QImage::Format_Grayscale8)};
        QWidget *widget = shown.control<QWidget>(name);

        clickOnItsTab(widget);
        if (qobject_cast<QSpinBox *>(widget)) {
            QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(widget, input);
        } else if (qobject_cast<QSlider *>(widget)) {
            QTest::keyClick(widget, input == QLatin1String("End") ? Qt::Key_End : Qt::Key_Home);
        }
        QCOMPARE(stored(key).toString(), value);
        if (key == QLatin1String(AppSettings::kStitchDirection)) {
            // The window's open batch goes only when the direction changes.
            QCOMPARE(shown.window.m_stitchDirection, value.toInt());
            QCOMPARE(shown.window.m_batchFrames.size(), value == QLatin1String("3") ? 1 : 0);
        }
    }

    void storedFormatNameSelectsItsButton()
    {
        const char *const rows[][2] = {
            {"jpeg", "rdButtonJpg"}, {"Jpg", "rdButtonJpg"}, {"png", "rdButtonPng"}, {"tiff", "rdButtonTiff"},
            {"TIF", "rdButtonTiff"}, {"gif", "rdButtonBmp"}, {" jpg", "rdButtonBmp"}};
        SimulatedCamera camera(*m_window, "DLG-1");
        for (const auto &row : rows) {
            store(AppSettings::kFormat, row[0]);
            settingdialog dialog(m_window.get(), m_window.get());
            for (QRadioButton *each : dialog.findChildren<QRadioButton *>(QRegularExpression("^rdButton")))
                QVERIFY2(each->isChecked() == (each->objectName() == row[1]), row[0]);
        }
    }

    void switchingFormatsShowsEachFormatsStoredQuality()
    {
        store(AppSettings::kJpgQuality, 80);
        store(AppSettings::kPngQuality, 3);
        ShownDialog shown(*m_window, "DLG-1");
        auto *slider = shown.control<QSlider>("slQuality");
        auto *spin = shown.control<QSpinBox>("sbQuality");

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
            clickOnItsTab(shown.control<QRadioButton>(step.button));
            QCOMPARE(slider->isEnabled(), step.enabled);
            QCOMPARE(spin->isEnabled(), step.enabled);
            QCOMPARE(slider->value(), step.quality);
            QCOMPARE(spin->value(), step.quality);
        }
    }

    void chosenFolderIsStoredAsDotWhenItIsTheWorkingDirectory_data()
    {
        QTest::addColumn<QString>("answer");   // below the working directory; null: cancelled
        QTest::addColumn<QString>("expected"); // null: the answer as given
        QTest::newRow("itself") << ""
                                << ".";
        QTest::newRow("with a slash") << "/"
                                      << ".";
        QTest::newRow("through ..") << "/sub/.."
                                    << ".";
        QTest::newRow("through a link") << "/sub/back"
                                        << ".";
        QTest::newRow("a folder in it") << "/sub/" << QString();
        QTest::newRow("a missing folder") << "/missing" << QString();
        QTest::newRow("cancelled") << QString() << "/somewhere/else";
    }

    void chosenFolderIsStoredAsDotWhenItIsTheWorkingDirectory()
    {
        QFETCH(QString, answer);
        QFETCH(QString, expected);
        const QString work = QDir::currentPath();
        QVERIFY(QDir().mkdir(QStringLiteral("sub")));
        QVERIFY(QFile::link(work, QStringLiteral("sub/back")));
        store(AppSettings::kSaveDir, QStringLiteral("/somewhere/else"));
        SimulatedCamera camera(*m_window, "DLG-1");
        FolderAnsweringDialog dialog(m_window.get(), m_window.get());
        dialog.show();
        QSignalSpy announced(&dialog, &settingdialog::sigSaveDirChanged);
        dialog.answer = answer.isNull() ? QString() : work + answer;
        if (expected.isNull())
            expected = dialog.answer;
        auto *choose = findControl<QPushButton>(dialog, QStringLiteral("btnSelectSaveDir"));

        clickOnItsTab(choose);
        QCOMPARE(dialog.askedStart, QStringLiteral("/somewhere/else"));
        QCOMPARE(stored(AppSettings::kSaveDir).toString(), expected);
        QCOMPARE(findControl<QLineEdit>(dialog, QStringLiteral("leCurrentSavePath"))->text(), expected);
        QCOMPARE(announced.size(), answer.isNull() ? 0 : 1);
        QCOMPARE(announced.value(0).value(0).toString(), answer.isNull() ? QString() : expected);

        QTest::mouseClick(choose, Qt::LeftButton); // "." opens the folder dialog on the working directory
        QCOMPARE(dialog.askedStart, expected == QLatin1String(".") ? work : expected);
        // Two folders that do not exist are not the same folder.
        QCOMPARE(saveDirForChoice(work + "/missing", work + "/missing"), work + "/missing");
    }

    void returnOnTheCaptureTabPressesNoButton_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("quality spin box") << "sbQuality";
        QTest::newRow("path field") << "leCurrentSavePath";
        QTest::newRow("format button") << "rdButtonJpg";
    }

    void returnOnTheCaptureTabPressesNoButton()
    {
        QFETCH(QString, control);
        store(AppSettings::kFormat, QStringLiteral("JPG"));
        ShownDialog shown(*m_window, "DLG-1");
        auto *path = shown.control("leCurrentSavePath");
        QWidget *widget = shown.control<QWidget>(control);
        clickOnItsTab(widget);
        widget->setFocus(Qt::MouseFocusReason);
        QVERIFY(widget->hasFocus());
        MessageBoxRecorder boxes;

        QTest::keyClicks(path, QStringLiteral("/elsewhere"));
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Enter, Qt::KeypadModifier);

        QVERIFY(boxes.isEmpty()); // no snapshot attempt, not even "No image data"
        QCOMPARE(path->text(), QStringLiteral("."));
        QVERIFY(shown.dialog.isVisible());
        QVERIFY(QDir::current().entryList({QStringLiteral("Image_*")}).isEmpty());
    }

    void settingActionNeedsAnOpenCameraAndRunsTheDialogWiredToTheWindow()
    {
        MainWindow &window = *m_window;
        {
            MessageBoxRecorder boxes;
            QCOMPARE(runSetting(window, [](settingdialog *) {}), 0);
            expectBoxes(boxes, 1, QMessageBox::Warning, QStringLiteral("setting"),
                        QStringLiteral("please open camera"));
        }
        SimulatedCamera camera(window, "DLG-1");
        store(AppSettings::kPngQuality, 12); // out of PNG's range 0..9
        auto *liveView = findControl<QGraphicsView>(window, QStringLiteral("gv"));
        QVERIFY(liveView->isHidden());
        const int ran = runSetting(window, [&](settingdialog *dialog) {
            QVERIFY(dialog->isModal());
            QVERIFY(dialog->parent() == &window);
            clickOnItsTab(findControl<QRadioButton>(*dialog, QStringLiteral("rdButtonPng")));
            QCOMPARE(window.m_imageFormat, QStringLiteral("PNG"));
            QCOMPARE(window.m_pngQuality, 9);
            clickOnItsTab(findControl<QCheckBox>(*dialog, QStringLiteral("cbShowLiveView")));
            QVERIFY(!liveView->isHidden());
            QVERIFY(QMetaObject::invokeMethod(dialog, "sigSaveDirChanged",
                                              Q_ARG(QString, QStringLiteral("/data/l3"))));
            QCOMPARE(window.m_saveDir, QStringLiteral("/data/l3"));
        });
        QCOMPARE(ran, 1);
        QVERIFY(window.findChildren<settingdialog *>().isEmpty());
    }

    void numbersBetweenCameraAndOperator()
    {
        // Camera floats become ints truncated toward zero, saturated, NaN as 0.
        QCOMPARE(truncateToInt(12.9), 12);
        QCOMPARE(truncateToInt(-3.7), -3);
        QCOMPARE(truncateToInt(1e12), INT_MAX);
        QCOMPARE(truncateToInt(-1e12), INT_MIN);
        QCOMPARE(truncateToInt(std::nan("")), 0);
        // Shown with the fewest digits that read back as the same float.
        const std::pair<float, const char *> texts[]
            = {{123456.7f, "123456.7"}, {-2.25f, "-2.25"}, {0.0f, "0"}, {1e-5f, "0.00001"}};
        for (const auto &[value, text] : texts)
            QCOMPARE(cameraValueText(value), QLatin1String(text));
        // A slider offers only whole numbers inside the camera's range.
        const float ranges[][4] = {{2.5f, 999.9f, 3, 999}, {-3.5f, 3.5f, -3, 3}, {2.2f, 2.8f, 3, 3}};
        for (const auto &range : ranges) {
            QCOMPARE(sliderRangeWithin(range[0], range[1]).minimum, int(range[2]));
            QCOMPARE(sliderRangeWithin(range[0], range[1]).maximum, int(range[3]));
        }
        // Typed values are finite decimals with a point.
        double parsed = 0;
        QVERIFY(parseCameraValue(QStringLiteral("-50"), &parsed) && parsed == -50);
        QVERIFY(parseCameraValue(QStringLiteral(" 12.5 "), &parsed) && parsed == 12.5);
        for (const char *refused : {"abc", "12,5", "inf", "nan"})
            QVERIFY2(!parseCameraValue(QLatin1String(refused), &parsed) && parsed == 12.5, refused);
    }

    void snapshotRecordTakesNoMoreThanFits()
    {
        unsigned char buffer[64] = {};
        MV_FRAME_OUT_INFO_EX info{};
        info.nWidth = 16;
        info.nHeight = 4;
        info.enPixelType = PixelType_Gvsp_Mono8;
        info.nFrameLen = 128; // more than the buffer holds
        MV_SAVE_IMG_TO_FILE_PARAM param{};
        param.nWidth = 777;
        QCOMPARE(prepareSnapshotParam(info, nullptr, 64, "a.bmp", MV_Image_Bmp, 0, &param), int(MV_E_NODATA));
        QCOMPARE(param.nWidth, 0u);
        QCOMPARE(prepareSnapshotParam(info, buffer, 64, QByteArray(256, 'a'), MV_Image_Bmp, 0, &param),
                 int(MV_E_PARAMETER));
        QCOMPARE(prepareSnapshotParam(info, buffer, 64, QByteArray(255, 'a'), MV_Image_Bmp, 0, &param),
                 int(MV_OK));
        QCOMPARE(qstrlen(param.pImagePath), 255u);
        QCOMPARE(param.nDataLen, 64u);
        info.enPixelType = PixelType_Gvsp_RGB8_Packed; // a colour flag, not a vendor's own type
        QCOMPARE(prepareSnapshotParam(info, buffer, 64, "a.bmp", MV_Image_Bmp, 0, &param), int(MV_OK));
        // Quality within the library's range per image type.
        const int qualities[][3]
            = {{MV_Image_Jpeg, 80, 80}, {MV_Image_Jpeg, 30, 55}, {MV_Image_Jpeg, 100, 99},
               {MV_Image_Png, -1, 0},   {MV_Image_Png, 12, 9},   {MV_Image_Tif, 80, 0}};
        for (const auto &quality : qualities) {
            QCOMPARE(prepareSnapshotParam(info, buffer, 64, "a", quality[0], quality[1], &param), int(MV_OK));
            QCOMPARE(int(param.nQuality), quality[2]);
        }
    }
};

QTEST_MAIN(SettingDialogTest)
#include "tst_settingdialog.moc"
