#include "filesizelimit.h"

#include <QThreadPool>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

QByteArray runWithFileSizeLimit(long long limitBytes, const std::function<QByteArray()> &work)
{
    // QImage converts large pictures on the global thread pool. A child
    // inherits the pool's bookkeeping but none of its threads and would wait
    // for them forever; an empty pool starts fresh threads in the child.
    QThreadPool::globalInstance()->waitForDone();
    int channel[2];
    if (::pipe(channel) != 0)
        return QByteArrayLiteral("pipe failed");
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        return QByteArrayLiteral("fork failed");
    }
    if (child == 0) {
        ::close(channel[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit;
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = rlim_t(limitBytes);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(3);
        const QByteArray answer = work();
        const char *data = answer.constData();
        qsizetype left = answer.size();
        while (left > 0) {
            const ssize_t written = ::write(channel[1], data, size_t(left));
            if (written <= 0)
                ::_exit(4);
            data += written;
            left -= written;
        }
        // No exit handlers: the parent's test state must not run twice.
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray answer;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(channel[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        answer.append(chunk, int(got));
    }
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QByteArrayLiteral("child died: ") + QByteArray::number(status);
    return answer;
}
