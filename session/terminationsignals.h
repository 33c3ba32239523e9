#ifndef TERMINATIONSIGNALS_H
#define TERMINATIONSIGNALS_H

#include <QObject>

class QSocketNotifier;

/*
 * Turns SIGINT, SIGTERM and SIGHUP into a Qt signal delivered in the GUI
 * thread, so that Ctrl+C in a terminal or a service manager's stop closes the
 * window the usual way: settings written, grab thread stopped, camera released.
 * Without it the process would die with the camera still grabbing. A second
 * signal of the same kind ends the process at once (default action).
 *
 * One instance at a time; create it in the GUI thread after the application.
 */
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void onSignalPipeReadable();

    QSocketNotifier *m_notifier = nullptr;
};

#endif // TERMINATIONSIGNALS_H
