#ifndef FLATFIELDCONTROLS_H
#define FLATFIELDCONTROLS_H

#include <QObject>

QT_BEGIN_NAMESPACE
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
QT_END_NAMESPACE

class FlatFieldCorrector;

/*
 * The flat-field group of the settings dialog: capture the dark and the white
 * reference from the running camera, switch the correction on, choose the
 * level white comes out at, and reset. Builds its controls inside `group` and
 * only wires them to the corrector, which does the work. Capturing needs a
 * grabbing camera; without one the buttons are disabled and say why. GUI
 * thread.
 */
class FlatFieldControls : public QObject
{
    Q_OBJECT

public:
    // corrector null: no camera; every control is disabled.
    FlatFieldControls(QGroupBox *group, FlatFieldCorrector *corrector, bool grabbing, int captureLines);

private:
    void capture(int kind);
    void refresh();

    FlatFieldCorrector *m_corrector = nullptr;
    bool m_grabbing = false;
    int m_captureLines = 0;
    QPushButton *m_captureDark = nullptr;
    QPushButton *m_captureWhite = nullptr;
    QPushButton *m_reset = nullptr;
    QCheckBox *m_enable = nullptr;
    QSpinBox *m_target = nullptr;
    QLabel *m_state = nullptr;
};

#endif // FLATFIELDCONTROLS_H
