#include "triggercontrols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "MvCameraControl.h"
#include "appsettings.h"
#include "cameraerror.h"

namespace TriggerRules {

/*
 * Reads one enumeration of the trigger now selected: its entry in force and
 * the entries offered. A camera without the feature gives MV_E_NOTFOUND in
 * status. Caller holds the camera lock; GUI thread.
 */
TriggerFeature readTriggerFeature(void *handle, const char *feature)
{
    TriggerFeature result;
    MVCC_ENUMENTRY_LIST list{};
    result.status = MV_CC_GetEnumEntries(handle, feature, &list);
    if (result.status != MV_OK)
        return result;
    result.current = QString::fromLatin1(list.chCurSymbolic);
    for (unsigned int i = 0; i < list.nSupportedNum; ++i)
        result.entries << QString::fromLatin1(list.chSymbolic[i]);
    return result;
}

/*
 * Reads a trigger: selects it (when the camera offers that selector entry)
 * and reads its mode, source and edge. Caller holds the camera lock.
 */
TriggerState readTrigger(void *handle, const char *selector)
{
    TriggerState state;
    const TriggerFeature selectors = readTriggerFeature(handle, "TriggerSelector");
    const int missing = selectors.status != MV_OK ? selectors.status : static_cast<int>(MV_E_NOTFOUND);
    state.mode.status = state.source.status = state.activation.status = missing;
    if (!selectors.entries.contains(QLatin1String(selector))
        || MV_CC_SetEnumValueByString(handle, "TriggerSelector", selector) != MV_OK)
        return state;
    state.selectable = true;
    state.mode = readTriggerFeature(handle, "TriggerMode");
    state.source = readTriggerFeature(handle, "TriggerSource");
    state.activation = readTriggerFeature(handle, "TriggerActivation");
    return state;
}

int writeTrigger(void *handle, const char *selector, const char *feature, const QString &entry)
{
    const int selected = MV_CC_SetEnumValueByString(handle, "TriggerSelector", selector);
    if (selected != MV_OK)
        return selected;
    return MV_CC_SetEnumValueByString(handle, feature, entry.toLatin1().constData());
}

} // namespace TriggerRules

using namespace TriggerRules;

namespace {

// Fills a list with the camera's entries and shows the one in force, or
// disables it with the reason as its tooltip.
void showFeature(QWidget *control, const TriggerFeature &feature, const QString &tip, const QString &lacking)
{
    if (auto *list = qobject_cast<QComboBox *>(control)) {
        const QSignalBlocker block(list);
        list->clear();
        list->addItems(feature.entries);
        list->setCurrentIndex(feature.entries.indexOf(feature.current));
    }
    control->setEnabled(feature.present());
    if (feature.present())
        control->setToolTip(tip);
    else if (feature.status == static_cast<int>(MV_E_NOTFOUND) || feature.status == MV_OK)
        control->setToolTip(lacking);
    else
        control->setToolTip(
            QCoreApplication::translate("TriggerControls", "Cannot read this camera setting: %1")
                .arg(cameraErrorText(feature.status)));
}

} // namespace

/*
 * Builds the two trigger rows inside `group` and fills them from the camera.
 * Nothing is written to the camera or the settings file. GUI thread.
 */
TriggerControls::TriggerControls(QGroupBox *group, QLineEdit *lineRateField, QLineEdit *actualRateField,
                                 void *handle, QMutex *cameraMutex)
    : QObject(group), m_handle(handle), m_cameraMutex(cameraMutex), m_lineRateField(lineRateField),
      m_actualRateField(actualRateField), m_dialog(group->window())
{
    m_lines.selector = "LineStart";
    m_lines.modeKey = kLineTrigger;
    m_lines.sourceKey = kLineTriggerSource;
    m_lines.activationKey = kLineTriggerActivation;
    m_lines.name = QStringLiteral("line trigger");
    m_frames.selector = "FrameStart";
    m_frames.modeKey = kFrameTrigger;
    m_frames.sourceKey = kFrameTriggerSource;
    m_frames.activationKey = kFrameTriggerActivation;
    m_frames.name = QStringLiteral("frame trigger");

    new QVBoxLayout(group);
    buildRow(m_lines, group, tr("行触发"), QStringLiteral("LineTrigger"));
    buildRow(m_frames, group, tr("帧触发"), QStringLiteral("FrameTrigger"));

    if (m_handle) {
        QMutexLocker lock(m_cameraMutex);
        m_lines.state = readTrigger(m_handle, m_lines.selector);
        m_frames.state = readTrigger(m_handle, m_frames.selector);
    }
    showRow(m_lines);
    showRow(m_frames);
    applyLineTriggerToRateFields();
}

void TriggerControls::buildRow(Row &row, QGroupBox *group, const QString &label, const QString &objectPrefix)
{
    auto *line = new QHBoxLayout;
    row.mode = new QCheckBox(label, group);
    row.mode->setObjectName(QStringLiteral("cb") + objectPrefix);
    auto *sourceLabel = new QLabel(tr("触发源"), group);
    sourceLabel->setObjectName(QStringLiteral("lbl") + objectPrefix + QStringLiteral("Source"));
    row.source = new QComboBox(group);
    row.source->setObjectName(QStringLiteral("cbx") + objectPrefix + QStringLiteral("Source"));
    auto *edgeLabel = new QLabel(tr("触发沿"), group);
    edgeLabel->setObjectName(QStringLiteral("lbl") + objectPrefix + QStringLiteral("Activation"));
    row.activation = new QComboBox(group);
    row.activation->setObjectName(QStringLiteral("cbx") + objectPrefix + QStringLiteral("Activation"));
    line->addWidget(row.mode, 30);
    line->addWidget(sourceLabel, 15);
    line->addWidget(row.source, 20);
    line->addWidget(edgeLabel, 15);
    line->addWidget(row.activation, 20);
    static_cast<QVBoxLayout *>(group->layout())->addLayout(line);

    connect(row.mode, &QCheckBox::clicked, this, [this, &row](bool checked) {
        change(row, "TriggerMode", checked ? QStringLiteral("On") : QStringLiteral("Off"), row.name);
    });
    connect(row.source, QOverload<int>::of(&QComboBox::activated), this, [this, &row](int index) {
        change(row, "TriggerSource", row.source->itemText(index), row.name + QStringLiteral(" source"));
    });
    connect(row.activation, QOverload<int>::of(&QComboBox::activated), this, [this, &row](int index) {
        change(row, "TriggerActivation", row.activation->itemText(index), row.name + QStringLiteral(" edge"));
    });
}

/* Shows a trigger as the camera last reported it. */
void TriggerControls::showRow(Row &row)
{
    const TriggerState &state = row.state;
    const bool lines = &row == &m_lines;
    // Without the selector entry the whole trigger is missing; otherwise
    // only the one feature.
    auto lacking = [&](const char *feature) {
        if (!state.selectable)
            return lines ? tr("This camera has no line trigger (TriggerSelector offers no LineStart)")
                         : tr("This camera has no frame trigger (TriggerSelector offers no FrameStart)");
        return (lines ? tr("This camera has no %1 for its line trigger")
                      : tr("This camera has no %1 for its frame trigger"))
            .arg(QLatin1String(feature));
    };
    {
        const QSignalBlocker block(row.mode);
        row.mode->setChecked(state.on());
    }
    showFeature(row.mode, state.mode,
                lines ? tr("Lines are triggered by the chosen source, such as the conveyor's encoder, "
                           "instead of running at the line rate")
                      : tr("Each frame is started by the chosen source, such as a light barrier or a PLC"),
                lacking("TriggerMode"));
    showFeature(row.source, state.source, tr("The camera input that triggers"), lacking("TriggerSource"));
    showFeature(row.activation, state.activation, tr("The signal edge that triggers"),
                lacking("TriggerActivation"));
}

/*
 * Writes one change to the camera, reads the trigger back and shows it as the
 * camera reports it. A refused change is warned about; only an accepted one
 * is stored, with the value the camera reports.
 */
void TriggerControls::change(Row &row, const char *feature, const QString &entry, const QString &what)
{
    if (!m_handle)
        return;
    int status = MV_OK;
    {
        QMutexLocker lock(m_cameraMutex);
        status = writeTrigger(m_handle, row.selector, feature, entry);
    }
    if (status != MV_OK)
        QMessageBox::warning(m_dialog, tr("Trigger Control"),
                             tr("Failed to set %1: %2").arg(what, cameraErrorText(status)), QMessageBox::Ok);
    {
        QMutexLocker lock(m_cameraMutex);
        row.state = readTrigger(m_handle, row.selector);
    }
    showRow(row);
    if (status == MV_OK) {
        const QLatin1String name(feature);
        if (name == QLatin1String("TriggerMode"))
            AppSettings::setValue(row.modeKey, row.state.on());
        else if (name == QLatin1String("TriggerSource"))
            AppSettings::setValue(row.sourceKey, row.state.source.current);
        else
            AppSettings::setValue(row.activationKey, row.state.activation.current);
    }
    applyLineTriggerToRateFields();
}

void TriggerControls::applyLineTriggerToRateFields()
{
    if (lineTriggerOn())
        m_lineRateField->setEnabled(false);
    else if (m_handle)
        m_lineRateField->setEnabled(true);
    refreshMeasuredLineRate();
}

bool TriggerControls::refreshMeasuredLineRate()
{
    if (!lineTriggerOn() || !m_handle)
        return false;
    MVCC_INTVALUE_EX measured{};
    if (MV_CC_GetIntValueEx(m_handle, "ResultingLineRate", &measured) == MV_OK)
        m_actualRateField->setText(QString::number(measured.nCurValue));
    else
        m_actualRateField->setText(QStringLiteral("N/A"));
    return true;
}
