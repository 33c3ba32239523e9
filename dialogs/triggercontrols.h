#ifndef TRIGGERCONTROLS_H
#define TRIGGERCONTROLS_H

#include <QObject>
#include <QString>
#include <QStringList>

QT_BEGIN_NAMESPACE
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QMutex;
QT_END_NAMESPACE

/*
 * What a camera says about one of its triggers, free so that tests read a
 * camera directly.
 */
namespace TriggerRules {

// Settings keys, written only when the operator changes a control.
constexpr const char *kLineTrigger = "Camera/LineTrigger";
constexpr const char *kLineTriggerSource = "Camera/LineTriggerSource";
constexpr const char *kLineTriggerActivation = "Camera/LineTriggerActivation";
constexpr const char *kFrameTrigger = "Camera/FrameTrigger";
constexpr const char *kFrameTriggerSource = "Camera/FrameTriggerSource";
constexpr const char *kFrameTriggerActivation = "Camera/FrameTriggerActivation";

// One enumeration of a trigger: the status of reading it, the entry in force
// and the entries the camera offers now.
struct TriggerFeature {
    int status = 0;
    QString current;
    QStringList entries;
    bool present() const { return status == 0 && !entries.isEmpty(); }
};

// A trigger (selector "LineStart" or "FrameStart") as the camera reports it.
// Without that selector entry the camera lacks the trigger and every feature
// reads as missing.
struct TriggerState {
    bool selectable = false;
    TriggerFeature mode;       // "TriggerMode": "On" or "Off"
    TriggerFeature source;     // "TriggerSource"
    TriggerFeature activation; // "TriggerActivation"
    bool on() const { return mode.present() && mode.current == QLatin1String("On"); }
};

TriggerFeature readTriggerFeature(void *handle, const char *feature);
TriggerState readTrigger(void *handle, const char *selector);

// Selects the trigger, then sets feature to entry. Returns the first failing
// status, or 0.
int writeTrigger(void *handle, const char *selector, const char *feature, const QString &entry);

} // namespace TriggerRules

/*
 * The trigger group of the settings dialog: line trigger (lines from an
 * encoder) and frame trigger (frames from a light barrier or a PLC), each on
 * or off with its source and edge. Builds its controls inside `group`, fills
 * them from the camera and writes every change to the camera at once. While
 * the line trigger is on, the dialog's requested line rate field is disabled
 * and its actual line rate field shows what the camera measures. GUI thread.
 */
class TriggerControls : public QObject
{
    Q_OBJECT

public:
    // handle null: no camera; every control is disabled.
    TriggerControls(QGroupBox *group, QLineEdit *lineRateField, QLineEdit *actualRateField, void *handle,
                    QMutex *cameraMutex);

    bool lineTriggerOn() const { return m_lines.state.on(); }

    // While the line trigger is on, shows the camera's measured line rate (or
    // "N/A") in the actual line rate field and returns true; otherwise leaves
    // the field to the dialog and returns false.
    bool refreshMeasuredLineRate();

private:
    struct Row {
        const char *selector = nullptr;
        const char *modeKey = nullptr;
        const char *sourceKey = nullptr;
        const char *activationKey = nullptr;
        QString name; // how warnings call the trigger
        QCheckBox *mode = nullptr;
        QComboBox *source = nullptr;
        QComboBox *activation = nullptr;
        TriggerRules::TriggerState state;
    };

    void buildRow(Row &row, QGroupBox *group, const QString &label, const QString &objectPrefix);
    void showRow(Row &row);
    void change(Row &row, const char *feature, const QString &entry, const QString &what);
    void applyLineTriggerToRateFields();

    void *m_handle = nullptr;
    QMutex *m_cameraMutex = nullptr;
    QLineEdit *m_lineRateField = nullptr;
    QLineEdit *m_actualRateField = nullptr;
    QWidget *m_dialog = nullptr;
    Row m_lines;
    Row m_frames;
};

#endif // TRIGGERCONTROLS_H
