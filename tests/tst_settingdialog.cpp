// The settings dialog driven by clicks and keys on a simulated camera: what an entry does to the
// camera, the settings file and the options in force, its warnings (each once), the rules behind.
#include <climits>
#include <functional>

#include "appsettings.h"
#include "dialogcamera.h"
#include "mainwindow.h"
#include "scratchdirectory.h"

using namespace AppSettings;
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
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->widget(i)->isAncestorOf(widget))
            QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, Qt::NoModifier,
                              tabs->tabBar()->tabRect(i).center());
    if (auto *box = qobject_cast<QCheckBox *>(widget))
        clickIndicator(box);
    else
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(6, widget->height() / 2));
}

class FolderAnsweringDialog : public settingdialog
{
public:
    using settingdialog::settingdialog;
    QString answer, askedStart;
    QString chooseSaveDirectory(const QString &, const QString &startDir) override
    {
        askedStart = startDir;
        return answer;
    }
};

} // namespace

class SettingDialogTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    SessionOptions m_options; // in force as in the window; each test sets what it relies on

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void typedEntryEndsOnceWithItsOutcome_data()
    {
        // The field, what is typed, how the entry ends, the words its one box names (empty: no box),
        // the field afterwards. A minus or an exponent is refused, never read as another number.
        QTest::addColumn<QStringList>("row");
        const QString exposure = QStringLiteral("2 1000 µs"), gain = QStringLiteral("0 20 dB");
        const QString rate = QStringLiteral("10 20000 lines/s"), count = QStringLiteral("1 1000000 frames");
        const QStringList every = {"Return", "Enter", "Tab", "click", "close"};
        const auto rows = [](const char *field, const QString &typed, const QStringList &ways,
                             const QString &message, const char *shown, const char *refusing = "") {
            for (const QString &how : ways)
                QTest::addRow("%s \"%s\", %s%s", field, qPrintable(typed), qPrintable(how), refusing)
                    << QStringList{field, typed, how, message, shown, refusing};
        };
        // DLG-FRACTION: exposure 12.5 of 2..1000, gain 3.7 of 0..20, line rate 1000 of 10..20000.
        rows("leExposure", "7.25", {"Return", "close"}, "", "7.25");
        rows("leExposure", "1000", {"Tab"}, "", "1000");
        rows("leExposure", "2", {"click"}, "", "2");
        rows("leExposure", "5000", every, exposure, "12.5");
        rows("leExposure", "1.5", {"Return"}, exposure, "12.5");
        rows("leExposure", "", {"Tab"}, exposure, "12.5");
        rows("leExposure", "-5", {"Return"}, exposure, "12.5");
        rows("leExposure", "1e3", {"Tab"}, exposure, "12.5");
        rows("leGain", "0.3", {"Enter"}, "", "0.3");
        rows("leGain", "20", {"Return"}, "", "20");
        rows("leGain", "25", {"Return", "click"}, gain, "3.7");
        rows("leGain", "5", {"Tab"}, "5 dB MV_E_ACCESS_RW", "3.7", ", refused");
        rows("leAcquisitionLineRate", "5000", {"Return", "close"}, "", "5000");
        rows("leAcquisitionLineRate", "20000", {"click"}, "", "20000");
        rows("leAcquisitionLineRate", "60000", every, rate, "1000");
        rows("leAcquisitionLineRate", "9", {"Return", "close"}, rate, "1000");
        rows("leAcquisitionLineRate", "", {"Tab", "click"}, rate, "1000");
        rows("leFrameCount", "12", {"Return", "close"}, "", "12");
        rows("leFrameCount", "1000000", {"click"}, "", "1000000");
        rows("leFrameCount", "0", every, count, "40");
        rows("leFrameCount", "2000000", {"Enter", "Tab"}, count, "40");
        rows("leFrameCount", "", {"Return", "click"}, count, "40");
        rows("leFrameCount", "0", {"Return"}, count, "40", ", nothing stored"); // the window's count is shown
    }

    void typedEntryEndsOnceWithItsOutcome()
    {
        QFETCH(QStringList, row);
        const QString &field = row[0], &typed = row[1], &how = row[2], &message = row[3], &shown = row[4];
        const struct {
            const char *field, *feature, *key, *current;
        } kinds[] = {{"leExposure", "ExposureTime", kExposure, "12.5"},
                     {"leGain", "Gain", kGain, "3.7"},
                     {"leAcquisitionLineRate", "AcquisitionLineRate", kLineRate, "1000"},
                     {"leFrameCount", nullptr, kMaxStitchCount, "40"}};
        const auto kind = *std::find_if(std::begin(kinds), std::end(kinds),
                                        [&](const auto &k) { return field == QLatin1String(k.field); });
        const bool countStored = !kind.feature && row[5] != QLatin1String(", nothing stored");
        if (countStored)
            store(kind.key, 40);
        m_options.maxStitchCount = 40; // in force, shown when the dialog opens
        ShownDialog dialog(m_options, "DLG-FRACTION");
        QLineEdit *edit = dialog.control(field);
        QCOMPARE(edit->text(), QString(kind.current)); // the value in force
        QLineEdit *elsewhere = dialog.control(kind.feature ? "leFrameCount" : "leGain");
        if (row[5] == QLatin1String(", refused"))
            mvsim::setFault("MV_CC_SetFloatValue", static_cast<int>(MV_E_ACCESS_RW), "DLG-FRACTION");
        MessageBoxRecorder boxes;
        retype(edit, typed);
        QVERIFY(edit->hasFocus());
        QCOMPARE(edit->text(), typed); // the validator let it through
        if (how == QLatin1String("click"))
            QTest::mouseClick(elsewhere, Qt::LeftButton);
        else if (how == QLatin1String("Enter"))
            QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
        else if (how == QLatin1String("Tab"))
            QTest::keyClick(edit, Qt::Key_Tab);
        else
            QTest::keyClick(edit, how == QLatin1String("close") ? Qt::Key_Escape : Qt::Key_Return);
        if (how == QLatin1String("close")) {
            QTRY_VERIFY(!dialog.dialog.isVisible());
        } else {
            // Leaving the field, coming back and leaving it unchanged says and
            // writes nothing more.
            QTest::mouseClick(elsewhere, Qt::LeftButton);
            QTest::mouseClick(edit, Qt::LeftButton);
            QTest::keyClick(edit, Qt::Key_Tab);
        }
        QCOMPARE(boxes.count(), message.isEmpty() ? 0 : 1);
        for (const QString &word : message.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QRegularExpression named("(?<![\\w.])" + QRegularExpression::escape(word) + "(?!\\w)");
            QVERIFY2(named.match(boxes.last().text).hasMatch(),
                     qPrintable(word + " in " + boxes.last().text));
        }
        const QString value = message.isEmpty() ? typed : QString(kind.current);
        if (kind.feature)
            QCOMPARE(float(dialog.camera.feature(kind.feature)), value.toFloat());
        else
            QCOMPARE(m_options.maxStitchCount, value.toInt());
        QCOMPARE(stored(kind.key).toString(), message.isEmpty() ? typed : QString(countStored ? "40" : ""));
        QCOMPARE(edit->text(), shown);
    }

    void lineRateControlFollowsEveryClickOrWarnsTwice_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::newRow("camera with line rate control") << "DLG-1";
        QTest::newRow("camera without it, refusing") << "DLG-NORATE";
    }

    void lineRateControlFollowsEveryClickOrWarnsTwice()
    {
        QFETCH(QString, serial);
        const bool refused = serial == QLatin1String("DLG-NORATE");
        ShownDialog shown(m_options, qPrintable(serial));
        auto *box = shown.control<QCheckBox>("cbAcquisitionLineRateEnable");
        MessageBoxRecorder boxes;
        for (int click = 1; click <= 2; ++click) {
            clickIndicator(box);
            const bool on = !refused && click % 2 == 1;
            QCOMPARE(box->isChecked(), on);
            bool cameraOn = false; // a camera without the feature has it off
            MV_CC_GetBoolValue(shown.camera.handle(), "AcquisitionLineRateEnable", &cameraOn);
            QCOMPARE(cameraOn, on);
            QCOMPARE(stored(kLineRateEnable).toBool(), on);
            QCOMPARE(boxes.count(), refused ? 2 * click : 0);
        }
    }

    void requestedLineRateIsJudgedAgainstTheCeiling_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<QString>("shown");
        // The ceiling is 8000, read while line rate control was off (125 us);
        // then the exposure doubles and the camera reaches only 4000.
        QTest::newRow("8000 at the ceiling") << 8000 << "8000";
        QTest::newRow("9000 over the ceiling") << 9000 << "4000";
    }

    void requestedLineRateIsJudgedAgainstTheCeiling()
    {
        QFETCH(int, requested);
        QFETCH(QString, shown);
        ShownDialog dialog(m_options, "DLG-1");
        auto *field = dialog.control("leAcquisitionLineRate");
        auto *result = dialog.control("leResultingLineRate");
        MessageBoxRecorder boxes;
        clickIndicator(dialog.control<QCheckBox>("cbAcquisitionLineRateEnable"));
        QCOMPARE(MV_CC_SetFloatValue(dialog.camera.handle(), "ExposureTime", 250), int(MV_OK));
        retype(field, QString::number(requested));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(dialog.camera.feature("AcquisitionLineRate"), double(requested));
        QCOMPARE(result->text(), shown);
        // A rate being typed is not the camera's: the periodic readout ignores it.
        retype(field, QStringLiteral("5"));
        QVERIFY(dialog.waitForReadout());
        QCOMPARE(result->text(), shown);
        QVERIFY(boxes.isEmpty());
    }

    void everyOtherControlWritesItsKeyAtOnceAndReturnPressesNoButton_data()
    {
        // The control, a key for sliders or what is typed in fields (else a
        // click), the key it writes and the value written.
        QTest::addColumn<QStringList>("row");
        // clang-format off
        const char *const rows[][4] = {
            {"cbLeftStitch", "", kStitchDirection, "0"},      {"cbRightStitch", "", kStitchDirection, "1"},
            {"cbBottomStitch", "", kStitchDirection, "2"},    {"cbTopStitch", "", kStitchDirection, "3"},
            {"cbPartialStitch", "", kPartialStitch, "false"}, {"cbSaveStitchImage", "", kSaveStitchImage, "false"},
            {"cbShowLiveView", "", kShowLiveView, "true"},    {"rdButtonJpg", "", kFormat, "JPG"},
            {"rdButtonBmp", "", kFormat, "BMP"},              {"sbQuality", "2", kPngQuality, "2"},
            {"slQuality", "End", kPngQuality, "9"},           {"leCurrentSavePath", "/elsewhere", kSaveDir, ""},
            {"slExposure", "End", kExposure, "1000"},         {"slGain", "Home", kGain, "0"},
            {"cbKeepCameraPixels", "", kKeepCameraPixels, "true"}};
        // clang-format on
        for (const auto &row : rows)
            QTest::addRow("%s %s", row[0], row[1]) << QStringList{row[0], row[1], row[2], row[3]};
    }

    void everyOtherControlWritesItsKeyAtOnceAndReturnPressesNoButton()
    {
        QFETCH(QStringList, row);
        const QString &name = row[0], &input = row[1], &key = row[2], &value = row[3];
        m_options.imageFormat = QStringLiteral("PNG"); // the dialog shows the format in force
        store(kStitchDirection, 9);                    // differs from every button's direction
        m_options.stitchDirection = 9;
        ShownDialog shown(m_options, "DLG-1");
        QWidget *widget = shown.control<QWidget>(name);
        MessageBoxRecorder boxes;
        clickOnItsTab(widget);
        if (qobject_cast<QSlider *>(widget)) {
            QTest::keyClick(widget, input == QLatin1String("End") ? Qt::Key_End : Qt::Key_Home);
        } else if (!input.isEmpty()) {
            QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(widget, input);
        }
        QCOMPARE(stored(key).toString(), value);
        if (key == QLatin1String(kStitchDirection))
            QCOMPARE(m_options.stitchDirection, value.toInt());
        // Return in a field or on a button takes no snapshot and closes nothing.
        widget->setFocus(Qt::MouseFocusReason);
        QVERIFY(widget->hasFocus());
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.texts().join('|'))); // not even "No image data"
        QVERIFY(shown.dialog.isVisible());
        QCOMPARE(shown.control("leCurrentSavePath")->text(), QStringLiteral("."));
    }

    void chosenFolderIsStoredAsDotWhenItIsTheWorkingDirectory_data()
    {
        QTest::addColumn<QString>("answer");   // below the working directory; null: cancelled
        QTest::addColumn<QString>("expected"); // null: the answer as given
        const QString rows[][3] = {{"itself", "", "."},
                                   {"with a slash", "/", "."},
                                   {"through ..", "/sub/..", "."},
                                   {"through a link", "/sub/back", "."},
                                   {"a folder in it", "/sub/", QString()},
                                   {"a missing folder", "/missing", QString()},
                                   {"cancelled", QString(), "/somewhere/else"}};
        for (const auto &row : rows)
            QTest::newRow(qPrintable(row[0])) << row[1] << row[2];
    }

    void chosenFolderIsStoredAsDotWhenItIsTheWorkingDirectory()
    {
        QFETCH(QString, answer);
        QFETCH(QString, expected);
        const QString work = QDir::currentPath();
        QVERIFY(QDir().mkdir(QStringLiteral("sub")));
        QVERIFY(QFile::link(work, QStringLiteral("sub/back")));
        store(kSaveDir, QStringLiteral("/somewhere/else"));
        SimulatedCamera camera("DLG-1");
        FolderAnsweringDialog dialog(&camera, m_options);
        dialog.show();
        QSignalSpy announced(&dialog, &settingdialog::sigSaveDirChanged);
        dialog.answer = answer.isNull() ? QString() : work + answer;
        if (expected.isNull())
            expected = dialog.answer;
        auto *choose = findControl<QPushButton>(dialog, QStringLiteral("btnSelectSaveDir"));
        clickOnItsTab(choose);
        QCOMPARE(dialog.askedStart, QStringLiteral("/somewhere/else"));
        QCOMPARE(stored(kSaveDir).toString(), expected);
        QCOMPARE(findControl<QLineEdit>(dialog, QStringLiteral("leCurrentSavePath"))->text(), expected);
        QCOMPARE(QList<QVariantList>(announced),
                 answer.isNull() ? QList<QVariantList>() : QList<QVariantList>{{expected}});
        QTest::mouseClick(choose, Qt::LeftButton); // "." opens the folder dialog on the working directory
        QCOMPARE(dialog.askedStart, expected == QLatin1String(".") ? work : expected);
        // Two folders that do not exist are not the same folder.
        QCOMPARE(saveDirForChoice(work + "/missing", work + "/missing"), work + "/missing");
    }

    void settingActionNeedsAnOpenCameraAndRunsTheDialogWiredToTheWindow()
    {
        MainWindow window;
        // Checks each settings dialog that runs modally, then closes it as the operator would.
        std::function<void(settingdialog *)> check = [](settingdialog *) {};
        int ran = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (auto *dialog = qobject_cast<settingdialog *>(QApplication::activeModalWidget())) {
                ++ran;
                check(dialog);
                dialog->reject();
            }
        });
        poll.start(10);
        auto *setting = findControl<QAction>(window, QStringLiteral("actionSetting"));
        MessageBoxRecorder boxes;
        setting->trigger();
        expectBoxes(boxes, 1, QMessageBox::Warning, QStringLiteral("setting"),
                    QStringLiteral("please open camera"));
        QCOMPARE(ran, 0);

        openSimulatedCamera(window.camera(), "DLG-1");
        window.m_isOpen = true;
        // In force, though the fresh folder's file holds no format: JPG at 80.
        window.m_imageFormat = QStringLiteral("JPG");
        window.m_jpgQuality = 80;
        window.m_pngQuality = -3; // out of PNG's range 0..9
        auto *liveView = findControl<QGraphicsView>(window, QStringLiteral("gv"));
        QVERIFY(liveView->isHidden());
        check = [&](settingdialog *dialog) {
            QVERIFY(dialog->isModal() && dialog->parent() == &window);
            QVERIFY(findControl<QRadioButton>(*dialog, QStringLiteral("rdButtonJpg"))->isChecked());
            QCOMPARE(findControl<QSpinBox>(*dialog, QStringLiteral("sbQuality"))->value(), 80);
            clickOnItsTab(findControl<QRadioButton>(*dialog, QStringLiteral("rdButtonPng")));
            QCOMPARE(window.m_pngQuality, 0); // its own quality, brought within its range
            clickOnItsTab(findControl<QCheckBox>(*dialog, QStringLiteral("cbShowLiveView")));
            QVERIFY(!liveView->isHidden());
            clickOnItsTab(findControl<QRadioButton>(*dialog, QStringLiteral("cbTopStitch")));
            QVERIFY(QMetaObject::invokeMethod(dialog, "maxStitchCountChosen", Q_ARG(int, 12)));
            QCOMPARE(QPoint(window.m_stitchDirection, window.m_maxStitchCount), QPoint(3, 12));
        };
        setting->trigger();
        QCOMPARE(ran, 1);
        QVERIFY(window.findChildren<settingdialog *>().isEmpty());
    }

    void rulesBetweenCameraOperatorAndFile()
    {
        // Camera floats become ints truncated toward zero, saturated, NaN as 0.
        const std::pair<double, int> truncated[]
            = {{12.9, 12}, {-3.7, -3}, {1e12, INT_MAX}, {-1e12, INT_MIN}, {qQNaN(), 0}};
        for (const auto &[value, whole] : truncated)
            QCOMPARE(truncateToInt(value), whole);
        // A slider offers only whole numbers inside the camera's range.
        const float ranges[][4] = {{2.5f, 999.9f, 3, 999}, {-3.5f, 3.5f, -3, 3}, {2.2f, 2.8f, 3, 3}};
        for (const auto &[low, high, minimum, maximum] : ranges) {
            const SliderRange range = sliderRangeWithin(low, high);
            QCOMPARE(QPoint(range.minimum, range.maximum), QPoint(int(minimum), int(maximum)));
        }
        // Stored format names: long forms and any case; anything else is BMP.
        const char *const formats[][2] = {{"jpeg", "JPG"}, {"Jpg", "JPG"}, {"png", "PNG"}, {"tiff", "TIF"},
                                          {"TIF", "TIF"},  {"gif", "BMP"}, {" jpg", "BMP"}};
        for (const auto &[name, format] : formats)
            QCOMPARE(canonicalFormatName(QLatin1String(name)), QLatin1String(format));
        // A snapshot's record takes no more than fits, and a quality the library accepts.
        unsigned char buffer[64] = {};
        MV_FRAME_OUT_INFO_EX info{};
        info.enPixelType = PixelType_Gvsp_Mono8;
        info.nFrameLen = 128; // more than the buffer holds
        MV_SAVE_IMG_TO_FILE_PARAM param{};
        const auto prepare = &Camera::prepareSnapshotParam;
        QCOMPARE(prepare(info, nullptr, 64, "a.bmp", MV_Image_Bmp, 0, &param), int(MV_E_NODATA));
        QCOMPARE(prepare(info, buffer, 64, QByteArray(256, 'a'), MV_Image_Bmp, 0, &param),
                 int(MV_E_PARAMETER));
        QCOMPARE(prepare(info, buffer, 64, QByteArray(255, 'a'), MV_Image_Bmp, 0, &param), int(MV_OK));
        QCOMPARE(qstrlen(param.pImagePath), 255u);
        QCOMPARE(param.nDataLen, 64u);
        info.enPixelType = PixelType_Gvsp_RGB8_Packed; // a colour flag, not a vendor's own type
        // Quality within the library's range per image type.
        const int qualities[][3]
            = {{MV_Image_Jpeg, 80, 80}, {MV_Image_Jpeg, 30, 55}, {MV_Image_Jpeg, 100, 99},
               {MV_Image_Png, -1, 0},   {MV_Image_Png, 12, 9},   {MV_Image_Tif, 80, 0}};
        for (const auto &quality : qualities) {
            QCOMPARE(prepare(info, buffer, 64, "a", quality[0], quality[1], &param), int(MV_OK));
            QCOMPARE(int(param.nQuality), quality[2]);
        }
    }
};

QTEST_MAIN(SettingDialogTest)
#include "tst_settingdialog.moc"
