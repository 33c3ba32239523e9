#include "terminationsignals.h"

#include <QDebug>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler may only do async-signal-safe work: it writes the signal number
// into a socket that the GUI thread watches. -1 while no instance exists.
int g_signalSocket[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
    (void)written; // nothing safe to do about a full socket here
    // A second signal of the same kind must still end a process whose close hangs.
    std::signal(signalNumber, SIG_DFL);
}

} // namespace

/*
 * Installs the handlers for SIGINT, SIGTERM and SIGHUP. When the socket pair
 * cannot be made, the handlers stay as they were and isActive() is false.
 * GUI thread.
 */
TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (g_signalSocket[0] != -1) {
        qWarning() << "TerminationSignals: only one instance can be active";
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0) {
        qWarning() << "TerminationSignals: socketpair failed; signals end the program as before";
        g_signalSocket[0] = g_signalSocket[1] = -1;
        return;
    }
    // Neither end may block: not the handler's write, not the drain loop.
    for (int fd : g_signalSocket)
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::onSignalPipeReadable);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kHandledSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

/* Restores the default actions and closes the socket pair. GUI thread. */
TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (int signalNumber : kHandledSignals)
        std::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_signalSocket[0]);
    ::close(g_signalSocket[1]);
    g_signalSocket[0] = g_signalSocket[1] = -1;
}

void TerminationSignals::onSignalPipeReadable()
{
    unsigned char byte = 0;
    while (::read(g_signalSocket[1], &byte, 1) == 1)
        emit terminationRequested(byte);
}
