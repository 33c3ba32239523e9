#include "filesizelimit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThreadPool>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

enum class ChildEnd { Answered, Hung };

// A child that gives no answer in this time is taken as hung and killed.
constexpr int kChildDeadlineMs = 60000;

int pooledThreads()
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("Thread (pooled)"))
            ++count;
    }
    return count;
}

// Qt's pool threads are detached: waitForDone() returns while they are still
// ending, and an ending thread may hold an allocator lock (the address
// sanitizer's has no fork handler) that the child would then wait for
// forever. Waits until they are gone, for at most a few seconds.
void waitForPoolThreadsToEnd()
{
    QThreadPool::globalInstance()->waitForDone();
    QElapsedTimer clock;
    clock.start();
    while (pooledThreads() > 0 && clock.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A hang is a fault to be found, not only retried: the hung child's stacks
// go to the test's output while it can still be looked at.
void printStacksOf(pid_t child)
{
    const QString gdb = QStandardPaths::findExecutable(QStringLiteral("gdb"));
    if (gdb.isEmpty())
        return;
    QProcess dump;
    dump.setProcessChannelMode(QProcess::MergedChannels);
    dump.start(gdb,
               {QStringLiteral("-p"), QString::number(child), QStringLiteral("-batch"), QStringLiteral("-nx"),
                QStringLiteral("-ex"), QStringLiteral("thread apply all bt")});
    if (!dump.waitForFinished(60000))
        dump.kill();
    qWarning("runWithFileSizeLimit: stacks of the hung child %d:\n%s", int(child),
             dump.readAll().constData());
}

long long addressSpaceBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

bool limitResource(int resource, long long bytes)
{
    struct rlimit limit;
    ::getrlimit(resource, &limit);
    limit.rlim_cur = rlim_t(bytes);
    return ::setrlimit(resource, &limit) == 0;
}

ChildEnd runOnce(const std::function<bool()> &limitChild, const std::function<QByteArray()> &work,
                 QByteArray &answer)
{
    // QImage converts large pictures on the global thread pool. A child
    // inherits the pool's bookkeeping but none of its threads and would wait
    // for them forever; an empty pool starts fresh threads in the child.
    waitForPoolThreadsToEnd();
    int channel[2];
    const pid_t child = ::pipe(channel) == 0 ? ::fork() : -1;
    if (child < 0) {
        answer = QByteArrayLiteral("pipe or fork failed");
        return ChildEnd::Answered;
    }
    if (child == 0) {
        ::close(channel[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        if (!limitChild())
            ::_exit(3);
        const QByteArray result = work();
        const char *data = result.constData();
        qsizetype left = result.size();
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
    answer.clear();
    QElapsedTimer clock;
    clock.start();
    bool hung = false;
    char chunk[4096];
    for (;;) {
        pollfd ready{channel[0], POLLIN, 0};
        const int left = kChildDeadlineMs - int(clock.elapsed());
        const int polled = left > 0 ? ::poll(&ready, 1, left) : 0;
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0) {
            hung = true;
            printStacksOf(child);
            ::kill(child, SIGKILL);
            break;
        }
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
    if (hung)
        return ChildEnd::Hung;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        answer = QByteArrayLiteral("child died: ") + QByteArray::number(status);
    return ChildEnd::Answered;
}

QByteArray runLimited(const std::function<bool()> &limitChild, const std::function<QByteArray()> &work,
                      const std::function<void()> &afterHang)
{
    // A child of a threaded process can still inherit a lock some thread of
    // the parent held at the fork: such a child is killed and the work tried
    // once more in a new one. A child that hangs twice is a failure.
    QByteArray answer;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (runOnce(limitChild, work, answer) == ChildEnd::Answered)
            return answer;
        qWarning("runWithFileSizeLimit: the child hung and was killed");
        if (afterHang)
            afterHang();
    }
    return QByteArrayLiteral("child hung");
}

} // namespace

QByteArray runWithFileSizeLimit(long long limitBytes, const std::function<QByteArray()> &work,
                                const std::function<void()> &afterHang)
{
    return runLimited([limitBytes] { return limitResource(RLIMIT_FSIZE, limitBytes); }, work, afterHang);
}

QByteArray runWithMemoryHeadroom(long long headroomBytes, const std::function<QByteArray()> &work)
{
    return runLimited(
        [headroomBytes] { return limitResource(RLIMIT_AS, addressSpaceBytes() + headroomBytes); }, work, {});
}
