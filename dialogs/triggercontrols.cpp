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
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "MvCameraControl.h"
#include "appsettings.h"
#include "camera.h"
#include "cameraerror.h"

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
                                 Camera *camera)
    : QObject(group), m_camera(camera), m_lineRateField(lineRateField), m_actualRateField(actualRateField),
      m_dialog(group->window())
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

    if (m_camera) {
        m_lines.state = readTrigger(*m_camera, m_lines.selector);
        m_frames.state = readTrigger(*m_camera, m_frames.selector);
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
    if (!m_camera)
        return;
    const int status = writeTrigger(*m_camera, row.selector, feature, entry);
    if (status != MV_OK)
        QMessageBox::warning(m_dialog, tr("Trigger Control"),
                             tr("Failed to set %1: %2").arg(what, cameraErrorText(status)), QMessageBox::Ok);
    row.state = readTrigger(*m_camera, row.selector);
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
    else if (m_camera)
        m_lineRateField->setEnabled(true);
    refreshMeasuredLineRate();
}

bool TriggerControls::refreshMeasuredLineRate()
{
    if (!lineTriggerOn() || !m_camera)
        return false;
    Camera::IntFeature measured;
    if (m_camera->intFeature("ResultingLineRate", &measured) == MV_OK)
        m_actualRateField->setText(QString::number(measured.current));
    else
        m_actualRateField->setText(QStringLiteral("N/A"));
    return true;
}
