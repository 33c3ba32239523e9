// The settings dialog driven as a person drives it: real clicks on the check
// box, typing, Return, Enter, Tab and clicks into other fields, with every
// message box counted.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QtTest>

#include <memory>

#include "appsettings.h"
#include "mainwindow.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "dialogcamera.h"

namespace {

// A window with a simulated camera open and the settings dialog shown and
// active, so that focus moves and keys reach it as on a desktop.
struct ShownDialog {
    explicit ShownDialog(const char *serial) : camera(window, serial), dialog(&window, &window)
    {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        if (!QTest::qWaitForWindowActive(&dialog))
            qFatal("the settings dialog did not become active");
        // Only the readouts a change schedules update the actual line rate.
        for (QTimer *timer : dialog.findChildren<QTimer *>()) {
            if (timer->interval() == 1000)
                timer->stop();
        }
    }

    template<class T = QLineEdit>
    T *control(const char *name)
    {
        T *found = dialog.findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("the dialog has no %s", name);
        return found;
    }

    MainWindow window;
    SimulatedCamera camera;
    settingdialog dialog;
};

// Clicks into the field and replaces its text by typing, as far as the
// field's validator lets the characters through.
void retype(QLineEdit *field, const QString &text)
{
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

// Ends the entry the way named: "Return", "Enter", "Tab", or "click" into
// `elsewhere`.
void confirm(QLineEdit *field, const QString &how, QWidget *elsewhere)
{
    if (how == QLatin1String("Return"))
        QTest::keyClick(field, Qt::Key_Return);
    else if (how == QLatin1String("Enter"))
        QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
    else if (how == QLatin1String("Tab"))
        QTest::keyClick(field, Qt::Key_Tab);
    else
        QTest::mouseClick(elsewhere, Qt::LeftButton);
}

// The point of a check box a click toggles: its indicator.
QPoint indicatorOf(QCheckBox *box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    return box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
}

} // namespace

class SettingDialogInputTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void refusedLineRateControlWarnsTwiceOnEveryClick();
    void lineRateControlFollowsEveryClick();
    void refusedEntryWarnsOnceWhateverEndsIt_data();
    void refusedEntryWarnsOnceWhateverEndsIt();
    void exposureAndGainAcceptOnlyTheCamerasRange_data();
    void exposureAndGainAcceptOnlyTheCamerasRange();
    void fieldsLeftUnchangedKeepTheCamerasFractionalValues_data();
    void fieldsLeftUnchangedKeepTheCamerasFractionalValues();
    void actualLineRateShowsOnlyWhatTheCameraReports_data();
    void actualLineRateShowsOnlyWhatTheCameraReports();
    void returnOnTheCaptureTabPressesNoButton_data();
    void returnOnTheCaptureTabPressesNoButton();
};

void SettingDialogInputTest::refusedLineRateControlWarnsTwiceOnEveryClick()
{
    ShownDialog shown("DLG-NORATE");
    auto *box = shown.control<QCheckBox>("cbAcquisitionLineRateEnable");
    MessageBoxRecorder boxes;

    // On the box, on its label (the middle of the widget) and with the space bar.
    for (int click = 1; click <= 3; ++click) {
        if (click == 1)
            QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicatorOf(box));
        else if (click == 2)
            QTest::mouseClick(box, Qt::LeftButton);
        else
            QTest::keyClick(box, Qt::Key_Space);
        expectBoxes(boxes, 2 * click, QMessageBox::Warning, QStringLiteral("Line Rate Control"),
                    QStringLiteral("Failed to set line rate enable, error code: -2147483638"));
        QVERIFY(!box->isChecked());
        QCOMPARE(stored(AppSettings::kLineRateEnable).toString(), QStringLiteral("false"));
    }
}

void SettingDialogInputTest::lineRateControlFollowsEveryClick()
{
    ShownDialog shown("DLG-1");
    auto *box = shown.control<QCheckBox>("cbAcquisitionLineRateEnable");
    MessageBoxRecorder boxes;

    for (const bool on : {true, false, true}) {
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicatorOf(box));
        QCOMPARE(box->isChecked(), on);
        bool cameraOn = !on;
        QCOMPARE(MV_CC_GetBoolValue(shown.camera.handle(), "AcquisitionLineRateEnable", &cameraOn),
                 int(MV_OK));
        QCOMPARE(cameraOn, on);
        QCOMPARE(stored(AppSettings::kLineRateEnable).toBool(), on);
    }
    QVERIFY(boxes.isEmpty());
}

void SettingDialogInputTest::refusedEntryWarnsOnceWhateverEndsIt_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shownAgain");
    const QString rate = QStringLiteral("Line Rate Control");
    const QString refused = QStringLiteral("Failed to set acquisition line rate, error code: -2147483636");
    const QString invalidRate = QStringLiteral("Please enter a valid line rate value!");
    const QString count = QStringLiteral("Segment Frame Limit");
    const QString invalidCount = QStringLiteral("Please enter a valid frame count (>0).");
    for (const char *how : {"Return", "Enter", "Tab", "click"}) {
        const auto row = [how](const char *name) {
            return &QTest::newRow(
                qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(name), QLatin1String(how))));
        };
        *row("line rate above the camera's maximum") << "leAcquisitionLineRate"
                                                     << "30000" << how << rate << refused << "1000";
        *row("line rate below ten") << "leAcquisitionLineRate"
                                    << "5" << how << rate << invalidRate << "1000";
        *row("line rate emptied") << "leAcquisitionLineRate"
                                  << "" << how << rate << invalidRate << "1000";
        *row("frame count 0") << "leFrameCount"
                              << "0" << how << count << invalidCount << "40";
        *row("frame count 2000000") << "leFrameCount"
                                    << "2000000" << how << count << invalidCount << "40";
        *row("frame count emptied") << "leFrameCount"
                                    << "" << how << count << invalidCount << "40";
    }
}

void SettingDialogInputTest::refusedEntryWarnsOnceWhateverEndsIt()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, how);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, shownAgain);
    store(AppSettings::kMaxStitchCount, 40);
    ShownDialog shown("DLG-FRACTION");
    shown.window.m_maxStitchCount = 40;
    auto *edit = shown.control(qPrintable(field));
    auto *elsewhere = shown.control(field == QLatin1String("leFrameCount") ? "leGain" : "leFrameCount");
    MessageBoxRecorder boxes;

    retype(edit, typed);
    QCOMPARE(edit->text(), typed);
    confirm(edit, how, elsewhere);
    QTest::mouseClick(elsewhere, Qt::LeftButton); // and leave the field, if still in it
    QTest::mouseClick(edit, Qt::LeftButton);      // come back
    QTest::keyClick(edit, Qt::Key_Tab);           // and leave it unchanged

    expectBoxes(boxes, 1, QMessageBox::Warning, title, text);
    QCOMPARE(edit->text(), shownAgain);
    QCOMPARE(shown.camera.intFeature("AcquisitionLineRate"), qint64(1000));
    QVERIFY(!stored(AppSettings::kLineRate).isValid());
    QCOMPARE(stored(AppSettings::kMaxStitchCount).toInt(), 40);
    QCOMPARE(shown.window.m_maxStitchCount, 40);
}

void SettingDialogInputTest::exposureAndGainAcceptOnlyTheCamerasRange_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");   // typed where the field lets it, else pasted past its validator
    QTest::addColumn<QString>("warning"); // empty: accepted
    QTest::addColumn<float>("exposure");
    QTest::addColumn<float>("gain");
    QTest::addColumn<QString>("shown");
    const QString exposureRange = QStringLiteral("Please enter an exposure time from 2 to 1000!");
    const QString gainRange = QStringLiteral("Please enter a gain from 0 to 20!");
    QTest::newRow("exposure letters") << "leExposure"
                                      << "abc" << exposureRange << 12.5f << 3.7f << "12.5";
    QTest::newRow("exposure empty") << "leExposure"
                                    << "" << exposureRange << 12.5f << 3.7f << "12.5";
    QTest::newRow("exposure huge") << "leExposure"
                                   << "99999999999" << exposureRange << 12.5f << 3.7f << "12.5";
    QTest::newRow("exposure negative") << "leExposure"
                                       << "-50" << exposureRange << 12.5f << 3.7f << "12.5";
    QTest::newRow("exposure above") << "leExposure"
                                    << "5000" << exposureRange << 12.5f << 3.7f << "12.5";
    QTest::newRow("exposure below") << "leExposure"
                                    << "1.5" << exposureRange << 12.5f << 3.7f << "12.5";
    QTest::newRow("exposure fraction") << "leExposure"
                                       << "7.25"
                                       << "" << 7.25f << 3.7f << "7.25";
    QTest::newRow("exposure at its maximum") << "leExposure"
                                             << "1000"
                                             << "" << 1000.0f << 3.7f << "1000";
    QTest::newRow("gain letters") << "leGain"
                                  << "abc" << gainRange << 12.5f << 3.7f << "3.7";
    QTest::newRow("gain negative") << "leGain"
                                   << "-1" << gainRange << 12.5f << 3.7f << "3.7";
    QTest::newRow("gain above") << "leGain"
                                << "25" << gainRange << 12.5f << 3.7f << "3.7";
    QTest::newRow("gain fraction") << "leGain"
                                   << "0.3"
                                   << "" << 12.5f << 0.3f << "0.3";
}

void SettingDialogInputTest::exposureAndGainAcceptOnlyTheCamerasRange()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, warning);
    QFETCH(float, exposure);
    QFETCH(float, gain);
    QFETCH(QString, shown);
    ShownDialog dialog("DLG-FRACTION");
    auto *edit = dialog.control(qPrintable(field));
    MessageBoxRecorder boxes;

    retype(edit, typed);
    if (edit->text() != typed)
        edit->setText(typed);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Tab);

    QCOMPARE(dialog.camera.floatFeature("ExposureTime"), exposure);
    QCOMPARE(dialog.camera.floatFeature("Gain"), gain);
    QCOMPARE(edit->text(), shown);
    const char *key = field == QLatin1String("leExposure") ? AppSettings::kExposure : AppSettings::kGain;
    if (warning.isEmpty()) {
        QVERIFY(boxes.isEmpty());
        QCOMPARE(stored(key).toString(), shown);
    } else {
        expectBoxes(boxes, 1, QMessageBox::Warning,
                    field == QLatin1String("leExposure") ? QStringLiteral("Exposure")
                                                         : QStringLiteral("Gain"),
                    warning);
        QVERIFY(!stored(key).isValid());
    }
}

void SettingDialogInputTest::fieldsLeftUnchangedKeepTheCamerasFractionalValues_data()
{
    QTest::addColumn<QString>("how");
    for (const char *how : {"Return", "Enter", "Tab", "click"})
        QTest::newRow(how) << QString::fromLatin1(how);
}

void SettingDialogInputTest::fieldsLeftUnchangedKeepTheCamerasFractionalValues()
{
    QFETCH(QString, how);
    ShownDialog shown("DLG-FRACTION");
    MessageBoxRecorder boxes;
    QCOMPARE(shown.control("leExposure")->text(), QStringLiteral("12.5"));
    QCOMPARE(shown.control("leGain")->text(), QStringLiteral("3.7"));

    const char *fields[] = {"leExposure", "leGain", "leAcquisitionLineRate", "leFrameCount"};
    for (const char *name : fields) {
        QLineEdit *edit = shown.control(name);
        QTest::mouseClick(edit, Qt::LeftButton);
        QVERIFY(edit->hasFocus());
        confirm(edit, how, shown.control(name == fields[0] ? fields[1] : fields[0]));
    }
    QTest::mouseClick(shown.control(fields[0]), Qt::LeftButton);
    QTest::keyClick(shown.control(fields[0]), Qt::Key_Tab);

    QVERIFY(boxes.isEmpty());
    QCOMPARE(shown.camera.floatFeature("ExposureTime"), 12.5f);
    QCOMPARE(shown.camera.floatFeature("Gain"), 3.7f);
    QCOMPARE(shown.control("leExposure")->text(), QStringLiteral("12.5"));
    QCOMPARE(shown.control("leGain")->text(), QStringLiteral("3.7"));
    for (const char *key :
         {AppSettings::kExposure, AppSettings::kGain, AppSettings::kLineRate, AppSettings::kMaxStitchCount})
        QVERIFY2(!stored(key).isValid(), key);
}

void SettingDialogInputTest::actualLineRateShowsOnlyWhatTheCameraReports_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("a rate being typed") << "5";
    QTest::newRow("an emptied field") << "";
}

void SettingDialogInputTest::actualLineRateShowsOnlyWhatTheCameraReports()
{
    QFETCH(QString, typed);
    ShownDialog shown("DLG-1");
    auto *box = shown.control<QCheckBox>("cbAcquisitionLineRateEnable");
    auto *result = shown.control("leResultingLineRate");
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicatorOf(box));
    QVERIFY(box->isChecked());
    QTRY_COMPARE(result->text(), QStringLiteral("1000"));

    retype(shown.control("leAcquisitionLineRate"), typed);
    for (QTimer *timer : shown.dialog.findChildren<QTimer *>()) {
        if (timer->interval() == 1000)
            timer->start();
    }
    QTest::qWait(1200); // a turn of the one-second readout

    QCOMPARE(result->text(), QStringLiteral("1000"));
    QCOMPARE(shown.camera.intFeature("ResultingLineRate"), qint64(1000));
}

void SettingDialogInputTest::returnOnTheCaptureTabPressesNoButton_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("quality spin box") << "sbQuality";
    QTest::newRow("path field") << "leCurrentSavePath";
    QTest::newRow("format button") << "rdButtonJpg";
}

void SettingDialogInputTest::returnOnTheCaptureTabPressesNoButton()
{
    QFETCH(QString, control);
    store(AppSettings::kFormat, QStringLiteral("JPG"));
    ShownDialog shown("DLG-1");
    shown.control<QTabWidget>("tabWidget")->setCurrentIndex(1);
    auto *path = shown.control("leCurrentSavePath");
    QWidget *widget = shown.control<QWidget>(qPrintable(control));
    widget->setFocus(Qt::MouseFocusReason);
    QVERIFY(widget->hasFocus());
    MessageBoxRecorder boxes;

    QTest::keyClicks(path, QStringLiteral("/elsewhere"));
    QTest::keyClick(widget, Qt::Key_Return);
    QTest::keyClick(widget, Qt::Key_Enter, Qt::KeypadModifier);

    QVERIFY(boxes.isEmpty()); // no snapshot attempt, not even "No image data"
    QCOMPARE(path->text(), QStringLiteral("."));
    QVERIFY(shown.dialog.isVisible());
    QVERIFY(QDir::current().entryList(QStringList() << QStringLiteral("Image_*")).isEmpty());
    QVERIFY(path->isReadOnly());
    for (QPushButton *button : shown.dialog.findChildren<QPushButton *>()) {
        QVERIFY2(!button->isDefault(), qPrintable(button->objectName()));
        QVERIFY2(!button->autoDefault(), qPrintable(button->objectName()));
    }
}

QTEST_MAIN(SettingDialogInputTest)
#include "tst_settingdialog_input.moc"
