#ifndef TRIGGERCONTROLS_H
#define TRIGGERCONTROLS_H

#include <QObject>
#include <QString>

#include "triggerrules.h"

QT_BEGIN_NAMESPACE
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
QT_END_NAMESPACE

class Camera;

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
    // camera null: no camera; every control is disabled.
    TriggerControls(QGroupBox *group, QLineEdit *lineRateField, QLineEdit *actualRateField, Camera *camera);

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

    Camera *m_camera = nullptr;
    QLineEdit *m_lineRateField = nullptr;
    QLineEdit *m_actualRateField = nullptr;
    QWidget *m_dialog = nullptr;
    Row m_lines;
    Row m_frames;
};

#endif // TRIGGERCONTROLS_H
