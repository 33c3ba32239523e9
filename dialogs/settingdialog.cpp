#include "settingdialog.h"
#include "ui_settingdialog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "acquisitionsession.h"
#include "appsettings.h"
#include "camera.h"
#include "cameraerror.h"
#include "fieldentry.h"
#include "flatfieldcontrols.h"
#include "imageformat.h"
#include "naming.h"
#include "triggercontrols.h"

namespace SettingRules {

/*
 * Maps a stored format name to one of "JPG", "PNG", "TIF" or "BMP", the way
 * the saves read it (imageFormatFromSetting()). Pure; any thread.
 */
QString canonicalFormatName(const QString &storedName)
{
    return imageFormatName(imageFormatFromSetting(storedName));
}

/*
 * Returns the quality range of a canonical format name: JPEG quality 55..99,
 * PNG compression level 0..9; BMP and TIF are not adjustable. Pure; any
 * thread.
 */
QualityRange qualityRangeFor(const QString &format)
{
    if (format == kFormatJpg)
        return {true, 55, 99};
    if (format == kFormatPng)
        return {true, 0, 9};
    return {};
}

/*
 * Truncates a camera value toward zero. Cameras report ranges as floats that
 * may exceed int or be NaN; those saturate (NaN gives 0) instead of being
 * undefined. Pure; any thread.
 */
int truncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

/*
 * Returns the decimal text with the fewest decimals that reads back as value,
 * so a camera's 12.5 or 3.7 is shown as the camera holds it, without an
 * exponent; values too large or small for that get 9 significant digits.
 * Pure; any thread.
 */
QString cameraValueText(float value)
{
    if (std::isfinite(value) && std::fabs(value) < 1e15f) {
        for (int decimals = 0; decimals <= 9; ++decimals) {
            const QString text = QString::number(static_cast<double>(value), 'f', decimals);
            if (text.toFloat() == value)
                return text;
        }
    }
    return QString::number(static_cast<double>(value), 'g', 9);
}

/*
 * Returns the whole numbers inside a camera's float range [minimum, maximum]:
 * the minimum rounded up, the maximum rounded down, so that every slider
 * position is a value the camera accepts. A range too narrow for a whole
 * number gives one position, the rounded-up minimum. Pure; any thread.
 */
SliderRange sliderRangeWithin(float minimum, float maximum)
{
    const int low = truncateToInt(std::ceil(static_cast<double>(minimum)));
    const int high = truncateToInt(std::floor(static_cast<double>(maximum)));
    return {low, std::max(low, high)};
}

namespace {

// Blanks around are allowed; what is between must be the number alone.
const QRegularExpression kPlainDecimal(QStringLiteral("^\\s*-?(\\d+\\.?\\d*|\\.\\d+)\\s*$"));

} // namespace

/*
 * Reads a typed camera value as a plain decimal number. Returns false for
 * anything else (empty, letters, an exponent, a plus sign, inf). Pure; any
 * thread.
 */
bool parseCameraValue(const QString &text, double *value)
{
    if (!kPlainDecimal.match(text).hasMatch())
        return false;
    bool ok = false;
    const double parsed = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(parsed))
        return false;
    *value = parsed;
    return true;
}

/*
 * Reads a typed whole number in decimal. Returns false for anything else (an
 * exponent, a point, letters) and for numbers beyond 64 bits. Pure; any thread.
 */
bool parseWholeNumber(const QString &text, qint64 *value)
{
    bool ok = false;
    const qint64 parsed = text.toLongLong(&ok, 10);
    if (!ok)
        return false;
    *value = parsed;
    return true;
}

/*
 * The camera's range [cameraMinimum, cameraMaximum] narrowed to the program's
 * line rate limits; the limits alone when the camera gives no range or one
 * that does not meet them. Pure; any thread.
 */
WholeRange lineRateRange(bool cameraGivesRange, qint64 cameraMinimum, qint64 cameraMaximum)
{
    const WholeRange limits{kMinLineRate, kMaxLineRate};
    if (!cameraGivesRange)
        return limits;
    const WholeRange narrowed{std::max(cameraMinimum, kMinLineRate), std::min(cameraMaximum, kMaxLineRate)};
    return narrowed.minimum <= narrowed.maximum ? narrowed : limits;
}

/*
 * The actual line rate to show while line rate control is on. A requested rate
 * the camera reached without control (at most `ceiling`) is met, so it is shown;
 * a higher one is limited by the camera, whose own reading `cameraRate` is
 * shown instead. Pure; any thread.
 */
int shownResultingLineRate(int requestedRate, int ceiling, qint64 cameraRate)
{
    if (requestedRate > ceiling)
        return static_cast<int>(std::clamp<qint64>(cameraRate, INT_MIN, INT_MAX));
    return requestedRate;
}

/*
 * Returns the text stored for a folder chosen by the operator: "." when it is
 * the working directory `currentDir` (so the setting follows the directory the
 * program is started in), otherwise `chosenDir` as given. Touches the file
 * system to resolve links; any thread.
 */
QString saveDirForChoice(const QString &chosenDir, const QString &currentDir)
{
    const QString chosen = QFileInfo(chosenDir).canonicalFilePath();
    const QString current = QFileInfo(currentDir).canonicalFilePath();
    if (!chosen.isEmpty() && chosen == current)
        return QStringLiteral(".");
    return chosenDir;
}

/*
 * Returns the camera library's image type and the file extension for a
 * canonical format name; unknown names give BMP. Pure; any thread.
 */
SnapshotKind snapshotKindFor(const QString &format)
{
    if (format == kFormatJpg)
        return {MV_Image_Jpeg, QStringLiteral("jpg")};
    if (format == kFormatPng)
        return {MV_Image_Png, QStringLiteral("png")};
    if (format == kFormatTif)
        return {MV_Image_Tif, QStringLiteral("tif")};
    return {MV_Image_Bmp, QStringLiteral("bmp")};
}

/*
 * Returns the text reporting a saved snapshot at `path`; JPEG and PNG add the
 * quality they were saved with. Pure; GUI thread (uses the translation lookup).
 */
QString snapshotSuccessText(const QString &path, int imageType, int quality)
{
    QString text = QCoreApplication::translate("settingdialog", "图片保存成功:\n%1\n").arg(path);
    if (imageType == MV_Image_Jpeg)
        text += QCoreApplication::translate("settingdialog", "JPG质量: %1 (55-99)").arg(quality);
    else if (imageType == MV_Image_Png)
        text += QCoreApplication::translate("settingdialog", "PNG压缩级别: %1 (0-9, 0=不压缩)").arg(quality);
    return text;
}

} // namespace SettingRules

using namespace SettingRules;

/*
 * Builds the dialog for `camera` (null when none is open: the dialog is then
 * disabled) and fills it from "setting.ini", from `options`, which it keeps
 * and writes, and from the camera. The flat-field controls work on
 * `flatField` (null: they stay disabled). Connections to the window are the
 * caller's. GUI thread.
 */
settingdialog::settingdialog(Camera *camera, SessionOptions &options, FlatFieldCorrector *flatField,
                             QWidget *parent)
    : QDialog(parent), ui(new Ui::settingdialog), m_camera(camera), m_options(options)
{
    ui->setupUi(this);
    m_loading = true;
    setWindowTitle(tr("设置"));

    m_exposureEntry = new FieldEntry(ui->leExposure, this);
    m_gainEntry = new FieldEntry(ui->leGain, this);
    m_lineRateEntry = new FieldEntry(ui->leAcquisitionLineRate, this);
    m_frameCountEntry = new FieldEntry(ui->leFrameCount, this);
    connect(m_exposureEntry, &FieldEntry::entered, this,
            [this](const QString &text) { enterFloatFeature("ExposureTime", text); });
    connect(m_gainEntry, &FieldEntry::entered, this,
            [this](const QString &text) { enterFloatFeature("Gain", text); });
    connect(m_lineRateEntry, &FieldEntry::entered, this, &settingdialog::enterLineRate);
    connect(m_frameCountEntry, &FieldEntry::entered, this, &settingdialog::enterFrameCount);
    // Inside a click QCheckBox announces nothing for a change made by the slot
    // it called, yet remembers the state it announced last; a refused change
    // would leave that memory stale and swallow the next click. Bring it up to
    // date quietly once the click is over.
    connect(ui->cbAcquisitionLineRateEnable, &QCheckBox::clicked, this, [this] {
        const QSignalBlocker quiet(ui->cbAcquisitionLineRateEnable);
        ui->cbAcquisitionLineRateEnable->setChecked(ui->cbAcquisitionLineRateEnable->isChecked());
    });

    loadSettingsIntoControls();
    onImageFormatChanged();

    // The typed fields have no validator: one would drop a minus or an
    // exponent as it is typed and so turn the entry into another number
    // unseen; each entry is judged whole when it ends, and a refusal says why.
    ui->leResultingLineRate->setEnabled(false);

    if (cameraAvailable()) {
        loadExposureAndGain();
        loadLineRateControls();
    } else {
        setEnabled(false);
    }
    m_triggerControls = new TriggerControls(ui->groupBoxTrigger, ui->leAcquisitionLineRate,
                                            ui->leResultingLineRate, cameraAvailable() ? m_camera : nullptr);

    new FlatFieldControls(
        ui->groupBoxFlatField, cameraAvailable() ? flatField : nullptr,
        cameraAvailable() && m_camera->isGrabbing(),
        std::max(AppSettings::intValue(AppSettings::kFlatFieldLines, AppSettings::kDefaultFlatFieldLines),
                 AppSettings::kMinimumFlatFieldLines));

    m_readoutTimer = new QTimer(this);
    m_readoutTimer->setInterval(1000);
    connect(m_readoutTimer, &QTimer::timeout, this, &settingdialog::refreshResultingLineRate);
    m_readoutTimer->start();

    for (QRadioButton *button : {ui->rdButtonBmp, ui->rdButtonJpg, ui->rdButtonPng, ui->rdButtonTiff})
        connect(button, &QRadioButton::toggled, this, &settingdialog::onRadioButtonToggled);

    m_loading = false;

    // Deliberately after loading: the box's slot writes the value back and
    // announces it, which nothing receives while the dialog is being built.
    ui->cbShowLiveView->setChecked(
        AppSettings::boolValue(AppSettings::kShowLiveView, AppSettings::kDefaultShowLiveView));
}

/*
 * Destroys the form; the readout timer and pending delayed readouts go with
 * the dialog. GUI thread.
 */
settingdialog::~settingdialog()
{
    // Hiding the dialog takes the focus from a field; an entry left there
    // must not be judged by a dialog that is going away.
    delete m_exposureEntry;
    delete m_gainEntry;
    delete m_lineRateEntry;
    delete m_frameCountEntry;
    delete ui;
}

// A camera closed behind the dialog is no longer available.
bool settingdialog::cameraAvailable() const
{
    return m_camera && m_camera->hasHandle();
}

void settingdialog::warn(const QString &title, const QString &text)
{
    QMessageBox::warning(this, title, text, QMessageBox::Ok);
}

void settingdialog::loadSettingsIntoControls()
{
    using namespace AppSettings;

    const QString saveDir = stringValue(kSaveDir, kDefaultSaveDir);
    m_saveDirText = (saveDir.isEmpty() || saveDir == QLatin1String(".")) ? QStringLiteral(".") : saveDir;
    ui->leCurrentSavePath->setText(m_saveDirText);

    // The format, qualities and frame count in force are the options': the
    // file may lack them, and the options then hold the window's defaults.
    m_formatName = canonicalFormatName(m_options.imageFormat);
    if (m_formatName == kFormatJpg)
        ui->rdButtonJpg->setChecked(true);
    else if (m_formatName == kFormatPng)
        ui->rdButtonPng->setChecked(true);
    else if (m_formatName == kFormatTif)
        ui->rdButtonTiff->setChecked(true);
    else
        ui->rdButtonBmp->setChecked(true);
    m_dlgJpgQuality = m_options.jpgQuality;
    m_dlgPngQuality = m_options.pngQuality;

    {
        const QSignalBlocker blockBox(ui->cbAcquisitionLineRateEnable);
        const QSignalBlocker blockRate(ui->leAcquisitionLineRate);
        ui->cbAcquisitionLineRateEnable->setChecked(boolValue(kLineRateEnable, kDefaultLineRateEnable));
        m_lineRateEntry->commit(QString::number(intValue(kLineRate, kDefaultLineRate)));
    }

    if (QRadioButton *direction = directionButton(intValue(kStitchDirection, kDefaultStitchDirection)))
        direction->setChecked(true);

    ui->cbPartialStitch->setChecked(boolValue(kPartialStitch, kDefaultPartialStitch));
    ui->cbSaveStitchImage->setChecked(boolValue(kSaveStitchImage, kDefaultSaveStitchImage));
    ui->cbKeepCameraPixels->setChecked(boolValue(kKeepCameraPixels, kDefaultKeepCameraPixels));

    m_frameCountEntry->commit(QString::number(frameCountInForce()));
}

int settingdialog::frameCountInForce() const
{
    return m_options.maxStitchCount;
}

// ---- Camera parameters ------------------------------------------------------

void settingdialog::loadExposureAndGain()
{
    loadFloatFeature("ExposureTime", ui->slExposure, m_exposureEntry);
    loadFloatFeature("Gain", ui->slGain, m_gainEntry);
    ui->slGain->setSingleStep(1);
}

/*
 * Shows a float feature of the camera: the slider over the whole numbers of
 * its range at the value's whole part, the field with the value as the camera
 * holds it, and gives that value in *current when asked. A feature that cannot
 * be read leaves both alone and returns false. GUI thread.
 */
bool settingdialog::loadFloatFeature(const char *feature, QSlider *slider, FieldEntry *entry, float *current)
{
    Camera::FloatFeature value;
    if (m_camera->floatFeature(feature, &value) != MV_OK)
        return false;
    const SliderRange range = sliderRangeWithin(value.minimum, value.maximum);
    const QSignalBlocker quiet(slider);
    slider->setRange(range.minimum, range.maximum);
    slider->setValue(truncateToInt(value.current));
    entry->commit(cameraValueText(value.current));
    if (current)
        *current = value.current;
    return true;
}

void settingdialog::loadLineRateControls()
{
    bool controlOn = false;
    m_camera->boolFeature("AcquisitionLineRateEnable", &controlOn);
    if (!controlOn)
        recordResultingLineRateCeiling();

    {
        const QSignalBlocker blockBox(ui->cbAcquisitionLineRateEnable);
        ui->cbAcquisitionLineRateEnable->setChecked(controlOn);
    }
    enableLineRateField();
    Camera::IntFeature rate;
    if (m_camera->intFeature("AcquisitionLineRate", &rate) == MV_OK)
        m_lineRateEntry->commit(QString::number(rate.current));
    else
        m_lineRateEntry->commit(QString());
    refreshResultingLineRate();
}

void settingdialog::recordResultingLineRateCeiling()
{
    Camera::IntFeature resulting;
    if (m_camera->intFeature("ResultingLineRate", &resulting) == MV_OK)
        m_resultingLineRate = static_cast<int>(std::clamp<qint64>(resulting.current, INT_MIN, INT_MAX));
}

/* The requested line rate means nothing while an encoder clocks the lines. */
void settingdialog::enableLineRateField()
{
    ui->leAcquisitionLineRate->setEnabled(!m_triggerControls || !m_triggerControls->lineTriggerOn());
}

void settingdialog::refreshResultingLineRate()
{
    if (!cameraAvailable())
        return;
    if (m_triggerControls && m_triggerControls->refreshMeasuredLineRate())
        return;
    Camera::IntFeature resulting;
    if (ui->cbAcquisitionLineRateEnable->isChecked()) {
        const int status = m_camera->intFeature("ResultingLineRate", &resulting);
        if (status != MV_OK) {
            ui->leResultingLineRate->setText(QStringLiteral("N/A"));
            qDebug() << "Failed to get ResultingLineRate, error code:" << status;
            return;
        }
        // The requested rate is the camera's, not whatever is being typed.
        Camera::IntFeature requested;
        if (m_camera->intFeature("AcquisitionLineRate", &requested) != MV_OK) {
            ui->leResultingLineRate->setText(QString::number(resulting.current));
            return;
        }
        const int requestedRate = static_cast<int>(std::clamp<qint64>(requested.current, INT_MIN, INT_MAX));
        ui->leResultingLineRate->setText(
            QString::number(shownResultingLineRate(requestedRate, m_resultingLineRate, resulting.current)));
        return;
    }
    if (m_camera->intFeature("ResultingLineRate", &resulting) != MV_OK) {
        ui->leResultingLineRate->setText(QStringLiteral("N/A"));
        return;
    }
    m_resultingLineRate = static_cast<int>(std::clamp<qint64>(resulting.current, INT_MIN, INT_MAX));
    ui->leResultingLineRate->setText(QString::number(m_resultingLineRate));
}

void settingdialog::on_slExposure_valueChanged(int value)
{
    if (m_loading || !cameraAvailable()) {
        ui->leExposure->setText(QString::number(value));
        return;
    }
    applyFloatFeature("ExposureTime", value);
}

void settingdialog::on_leExposure_editingFinished()
{
    m_exposureEntry->finish();
}

void settingdialog::on_slGain_valueChanged(int value)
{
    if (m_loading || !cameraAvailable()) {
        ui->leGain->setText(QString::number(value));
        return;
    }
    applyFloatFeature("Gain", value);
}

void settingdialog::on_leGain_editingFinished()
{
    m_gainEntry->finish();
}

/*
 * A typed exposure or gain: a number inside the camera's range goes to the
 * camera; anything else is refused with a warning naming the range, and the
 * camera's value is shown again. GUI thread.
 */
void settingdialog::enterFloatFeature(const char *feature, const QString &text)
{
    if (!cameraAvailable())
        return;
    const bool exposure = std::strcmp(feature, "ExposureTime") == 0;
    double value = 0;
    const bool number = parseCameraValue(text, &value);
    Camera::FloatFeature range;
    const bool rangeKnown = m_camera->floatFeature(feature, &range) == MV_OK;
    // Compared as the float the camera receives, so its own limits typed back pass.
    const float sent = static_cast<float>(value);
    if (!number || (rangeKnown && !(sent >= range.minimum && sent <= range.maximum))) {
        const QString title = exposure ? tr("Exposure") : tr("Gain");
        const QString from = cameraValueText(range.minimum), to = cameraValueText(range.maximum);
        if (!rangeKnown)
            warn(title,
                 exposure ? tr("Please enter an exposure time in µs.") : tr("Please enter a gain in dB."));
        else if (exposure)
            warn(title, tr("Please enter an exposure time from %1 to %2 µs.").arg(from, to));
        else
            warn(title, tr("Please enter a gain from %1 to %2 dB.").arg(from, to));
        FieldEntry *entry = exposure ? m_exposureEntry : m_gainEntry;
        if (!loadFloatFeature(feature, exposure ? ui->slExposure : ui->slGain, entry))
            entry->commit(entry->committed());
        return;
    }
    applyFloatFeature(feature, value);
}

/*
 * Sends an exposure time or gain to the camera and shows, and stores, what the
 * camera then holds; a refused value shows a warning with the status and the
 * camera's value again, and stores nothing. GUI thread.
 */
void settingdialog::applyFloatFeature(const char *feature, double value)
{
    const bool exposure = std::strcmp(feature, "ExposureTime") == 0;
    // A camera ignores an exposure time outside the timed mode with auto
    // exposure off, which setExposureUs switches to; the gain is written as it is.
    const int status = exposure ? m_camera->setExposureUs(value) : m_camera->setFloat(feature, value);
    if (status != MV_OK) {
        const QString shown = cameraValueText(static_cast<float>(value));
        if (exposure)
            warn(tr("Exposure"),
                 tr("Failed to set the exposure time to %1 µs: %2").arg(shown, cameraErrorText(status)));
        else
            warn(tr("Gain"), tr("Failed to set the gain to %1 dB: %2").arg(shown, cameraErrorText(status)));
    }
    FieldEntry *entry = exposure ? m_exposureEntry : m_gainEntry;
    float held = static_cast<float>(value);
    if (!loadFloatFeature(feature, exposure ? ui->slExposure : ui->slGain, entry, &held))
        entry->commit(cameraValueText(held));
    if (status != MV_OK)
        return;
    // Stored as shown: the float's own digits beyond the camera's would only mislead.
    AppSettings::setValue(exposure ? AppSettings::kExposure : AppSettings::kGain,
                          cameraValueText(held).toDouble());

    // The camera needs a moment before its resulting line rate follows the new
    // value; without line rate control that reading is also the new ceiling.
    if (!exposure) {
        QTimer::singleShot(100, this, &settingdialog::refreshResultingLineRate);
    } else if (ui->cbAcquisitionLineRateEnable->isChecked()) {
        QTimer::singleShot(200, this, &settingdialog::refreshResultingLineRate);
    } else {
        QTimer::singleShot(200, this, [this] {
            if (!cameraAvailable())
                return;
            recordResultingLineRateCeiling();
            refreshResultingLineRate();
        });
    }
}

void settingdialog::on_cbAcquisitionLineRateEnable_stateChanged(int state)
{
    if (!cameraAvailable())
        return;
    const bool controlOn = state == Qt::Checked;
    AppSettings::setValue(AppSettings::kLineRateEnable, controlOn);

    const int status = m_camera->setBool("AcquisitionLineRateEnable", controlOn);
    if (status != MV_OK) {
        warn(tr("Line Rate Control"),
             tr("Failed to switch line rate control %1: %2")
                 .arg(controlOn ? tr("on") : tr("off"), cameraErrorText(status)));
        bool actual = false;
        if (m_camera->boolFeature("AcquisitionLineRateEnable", &actual) != MV_OK)
            actual = false;
        {
            // Within a click a change announced from here would be lost, so the
            // box is set quietly and the round for the camera's actual state,
            // which settles the file and the camera on it, runs directly.
            const QSignalBlocker quiet(ui->cbAcquisitionLineRateEnable);
            ui->cbAcquisitionLineRateEnable->setChecked(actual);
        }
        enableLineRateField();
        if (actual != controlOn && !m_settlingLineRateControl) {
            m_settlingLineRateControl = true;
            on_cbAcquisitionLineRateEnable_stateChanged(actual ? Qt::Checked : Qt::Unchecked);
            m_settlingLineRateControl = false;
        }
    } else {
        enableLineRateField();
        if (!controlOn) {
            // Without control the camera settles on its own rate a little later;
            // that rate becomes the ceiling for requested rates.
            // A camera closed and opened again meanwhile has a ceiling of its own.
            QTimer::singleShot(100, this, [this, handle = m_camera->handle()] {
                if (!cameraAvailable() || m_camera->handle() != handle)
                    return;
                recordResultingLineRateCeiling();
                QTimer::singleShot(10, this, &settingdialog::refreshResultingLineRate);
            });
        }
    }
    QTimer::singleShot(10, this, &settingdialog::refreshResultingLineRate);
}

void settingdialog::on_leAcquisitionLineRate_editingFinished()
{
    m_lineRateEntry->finish();
}

/*
 * A typed line rate: a whole number within the camera's range (and the
 * program's limits) goes to the camera and, once accepted, to the settings
 * file. Anything else, or a rate the camera refuses, is answered with one
 * warning naming the range or the camera's error, and the camera's values are
 * shown again. GUI thread.
 */
void settingdialog::enterLineRate(const QString &text)
{
    if (!cameraAvailable())
        return;
    Camera::IntFeature camera;
    const bool cameraGivesRange = m_camera->intFeature("AcquisitionLineRate", &camera) == MV_OK;
    const WholeRange allowed = lineRateRange(cameraGivesRange, camera.minimum, camera.maximum);
    qint64 rate = 0;
    if (!parseWholeNumber(text, &rate) || !allowed.contains(rate)) {
        warn(tr("Line Rate Control"),
             tr("Please enter a line rate from %1 to %2 lines/s.").arg(allowed.minimum).arg(allowed.maximum));
        loadLineRateControls();
        return;
    }
    const int status = m_camera->setInt("AcquisitionLineRate", rate);
    if (status == MV_OK) {
        m_lineRateEntry->commit(QString::number(rate));
        AppSettings::setValue(AppSettings::kLineRate, int(rate));
        refreshResultingLineRate();
        return;
    }
    warn(tr("Line Rate Control"),
         tr("Failed to set the line rate to %1 lines/s: %2").arg(rate).arg(cameraErrorText(status)));
    loadLineRateControls();
}

// ---- Stitch and display options ---------------------------------------------

// The button of a direction code: 0 left, 1 right, 2 bottom, 3 top; null for
// any other code.
QRadioButton *settingdialog::directionButton(int direction) const
{
    switch (direction) {
    case 0:
        return ui->cbLeftStitch;
    case 1:
        return ui->cbRightStitch;
    case 2:
        return ui->cbBottomStitch;
    case 3:
        return ui->cbTopStitch;
    default:
        return nullptr;
    }
}

void settingdialog::chooseDirection(int direction, bool checked)
{
    if (m_loading || !checked)
        return;
    for (int other = 0; other < 4; ++other) {
        if (other != direction)
            directionButton(other)->setChecked(false);
    }
    AppSettings::setValueSynced(AppSettings::kStitchDirection, direction);
    emit stitchDirectionChosen(direction);
}

void settingdialog::on_cbLeftStitch_toggled(bool checked)
{
    chooseDirection(0, checked);
}

void settingdialog::on_cbRightStitch_toggled(bool checked)
{
    chooseDirection(1, checked);
}

void settingdialog::on_cbTopStitch_clicked(bool checked)
{
    chooseDirection(3, checked);
}

void settingdialog::on_cbBottomStitch_clicked(bool checked)
{
    chooseDirection(2, checked);
}

void settingdialog::on_leFrameCount_editingFinished()
{
    m_frameCountEntry->finish();
}

/*
 * A typed frame count: a whole number from 1 to 1000000 is stored and
 * announced; anything else is refused with a warning naming the range, and
 * the count in force is shown again. GUI thread.
 */
void settingdialog::enterFrameCount(const QString &text)
{
    qint64 count = 0;
    if (parseWholeNumber(text, &count) && count >= kMinFrameCount && count <= kMaxFrameCount) {
        m_frameCountEntry->commit(QString::number(count));
        AppSettings::setValue(AppSettings::kMaxStitchCount, int(count));
        emit maxStitchCountChosen(int(count));
        return;
    }
    warn(tr("Segment Frame Limit"),
         tr("Please enter a frame count from %1 to %2 frames.").arg(kMinFrameCount).arg(kMaxFrameCount));
    m_frameCountEntry->commit(QString::number(frameCountInForce()));
}

void settingdialog::on_cbPartialStitch_clicked(bool checked)
{
    AppSettings::setValue(AppSettings::kPartialStitch, checked);
    m_options.partialStitch = checked;
}

void settingdialog::on_cbSaveStitchImage_clicked(bool checked)
{
    AppSettings::setValue(AppSettings::kSaveStitchImage, checked);
    m_options.saveStitchImage = checked;
}

void settingdialog::on_cbKeepCameraPixels_clicked(bool checked)
{
    AppSettings::setValue(AppSettings::kKeepCameraPixels, checked);
    emit keepCameraPixelsChanged(checked);
}

void settingdialog::on_cbShowLiveView_toggled(bool checked)
{
    AppSettings::setValue(AppSettings::kShowLiveView, checked);
    emit showLiveViewChanged(checked);
}

// ---- Output format, quality, folder and snapshot ----------------------------

QString settingdialog::formatFromButtons() const
{
    if (ui->rdButtonJpg->isChecked())
        return kFormatJpg;
    if (ui->rdButtonPng->isChecked())
        return kFormatPng;
    if (ui->rdButtonTiff->isChecked())
        return kFormatTif;
    return kFormatBmp;
}

/*
 * Sets the quality controls up for the format of the checked button: range and
 * the quality in force for JPG and PNG, disabled (keeping range and value) for
 * BMP and TIF. Stores and announces nothing. GUI thread.
 */
void settingdialog::onImageFormatChanged()
{
    m_formatName = formatFromButtons();
    const QualityRange range = qualityRangeFor(m_formatName);
    ui->slQuality->setEnabled(range.adjustable);
    ui->sbQuality->setEnabled(range.adjustable);
    if (!range.adjustable)
        return;

    int &quality = (m_formatName == kFormatJpg) ? m_dlgJpgQuality : m_dlgPngQuality;
    quality = std::clamp(quality, range.minimum, range.maximum);

    m_refreshingQuality = true;
    ui->slQuality->setRange(range.minimum, range.maximum);
    ui->sbQuality->setRange(range.minimum, range.maximum);
    ui->slQuality->setValue(quality);
    ui->sbQuality->setValue(quality);
    m_refreshingQuality = false;

    if (m_formatName == kFormatJpg)
        qDebug() << "JPG format selected, quality:" << quality;
    else
        qDebug() << "PNG format selected, compression level:" << quality;
}

void settingdialog::onRadioButtonToggled(bool checked)
{
    if (!checked || m_loading)
        return;
    m_formatName = formatFromButtons();
    AppSettings::setValue(AppSettings::kFormat, m_formatName);
    if (m_formatName == kFormatJpg && !AppSettings::contains(AppSettings::kJpgQuality))
        AppSettings::setValue(AppSettings::kJpgQuality, m_dlgJpgQuality);
    else if (m_formatName == kFormatPng && !AppSettings::contains(AppSettings::kPngQuality))
        AppSettings::setValue(AppSettings::kPngQuality, m_dlgPngQuality);
    onImageFormatChanged();
    emit imageFormatChanged(m_formatName, m_dlgJpgQuality, m_dlgPngQuality);
}

void settingdialog::on_sbQuality_valueChanged(int value)
{
    ui->slQuality->setValue(value);
}

void settingdialog::on_slQuality_valueChanged(int value)
{
    ui->sbQuality->setValue(value);
    if (m_loading || m_refreshingQuality)
        return;
    if (ui->rdButtonJpg->isChecked()) {
        m_formatName = kFormatJpg;
        m_dlgJpgQuality = value;
        AppSettings::setValue(AppSettings::kJpgQuality, value);
        qDebug() << "JPG quality saved to INI:" << value;
    } else if (ui->rdButtonPng->isChecked()) {
        m_formatName = kFormatPng;
        m_dlgPngQuality = value;
        AppSettings::setValue(AppSettings::kPngQuality, value);
        qDebug() << "PNG compression level saved to INI:" << value;
    } else {
        return;
    }
    emit imageFormatChanged(m_formatName, m_dlgJpgQuality, m_dlgPngQuality);
}

/*
 * Shows the modal folder dialog starting at `startDir` and returns the chosen
 * folder, empty when cancelled. GUI thread.
 */
QString settingdialog::chooseSaveDirectory(const QString &title, const QString &startDir)
{
    return QFileDialog::getExistingDirectory(this, title, startDir, QFileDialog::ShowDirsOnly);
}

void settingdialog::on_btnSelectSaveDir_clicked()
{
    const QString startDir = m_saveDirText == QLatin1String(".") ? QDir::currentPath() : m_saveDirText;
    const QString chosen = chooseSaveDirectory(tr("选择保存目录"), startDir);
    if (chosen.isEmpty())
        return;
    m_saveDirText = saveDirForChoice(chosen, QDir::currentPath());
    ui->leCurrentSavePath->setText(m_saveDirText);
    AppSettings::setValue(AppSettings::kSaveDir, m_saveDirText);
    AppSettings::setValue(AppSettings::kJpgQuality, m_dlgJpgQuality);
    AppSettings::setValue(AppSettings::kPngQuality, m_dlgPngQuality);
    emit sigSaveDirChanged(m_saveDirText);
}

void settingdialog::on_btnSaveImage_clicked()
{
    if (!cameraAvailable()) {
        warn(tr("Error"), tr("Camera is not open, cannot save image!"));
        return;
    }
    if (!m_camera->hasLatestFrame()) {
        warn(tr("Error"), tr("No image data, may not have started streaming!"));
        return;
    }

    const QString format = formatFromButtons();
    const SnapshotKind kind = snapshotKindFor(format);
    const int quality = format == kFormatJpg ? m_dlgJpgQuality : format == kFormatPng ? m_dlgPngQuality : 0;
    // Two snapshots within one millisecond get the same name; the library
    // then writes the second under a numbered one and says which.
    const QString path = QDir(resolveOutputFolder(m_saveDirText))
                             .filePath(snapshotFileName(currentTimestampText(), kind.extension));

    QString savedPath = path;
    int systemError = 0;
    const int status = m_camera->saveSnapshot(path, kind.imageType, quality, &savedPath, &systemError);
    if (status != MV_OK) {
        const QString reason
            = systemError != 0 ? tr("\n原因: %1").arg(qt_error_string(systemError)) : QString();
        warn(tr("保存失败"),
             tr("保存图片失败，错误码: %1").arg(status) + QLatin1Char('\n') + cameraErrorText(status)
                 + reason);
        return;
    }
    QMessageBox::information(this, tr("保存成功"), snapshotSuccessText(savedPath, kind.imageType, quality),
                             QMessageBox::Ok);
}
