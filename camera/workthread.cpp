// Placeholder until the grab loop lands.
#include "workthread.h"

WorkThread::WorkThread(MainWindow *owner, QObject *parent) : QThread(parent), m_owner(owner) {}
WorkThread::~WorkThread() = default;
void WorkThread::setRunning(bool on)
{
    m_running.store(on);
    if (!on)
        m_reportChanges.store(false);
}
void WorkThread::run() {}
