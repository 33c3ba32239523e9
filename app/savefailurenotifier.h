#ifndef SAVEFAILURENOTIFIER_H
#define SAVEFAILURENOTIFIER_H

#include <QObject>
#include <QPointer>
#include <QString>

class QLabel;
class QMessageBox;
class QStatusBar;
class QWidget;

/*
 * Tells the operator about failed saves without ever stacking boxes: at most
 * one "Save Image" box is open at a time, and it is modeless, so it runs no
 * event loop of its own (no box opens inside another) and the window still
 * answers Close. Failures while it is open are counted in a lasting status-bar
 * label and told in the next box. GUI thread.
 */
class SaveFailureNotifier : public QObject
{
    Q_OBJECT

public:
    SaveFailureNotifier(QWidget *window, QStatusBar *statusBar);

    void report(const QString &text);

    bool isShowing() const { return !m_box.isNull(); }
    // Failures that came while the box was open and have not been told yet.
    int untoldFailures() const { return m_untold; }

private:
    QWidget *m_window;
    QLabel *m_label = nullptr;
    QPointer<QMessageBox> m_box;
    int m_untold = 0;
};

QString untoldSaveFailuresText(int count);

#endif // SAVEFAILURENOTIFIER_H
