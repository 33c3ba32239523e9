#include "savethread.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

#if defined(__linux__)
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

std::atomic<int> s_cpu{int(SaveCpuPriority::Nicer)};
std::atomic<int> s_niceness{kSaveThreadNiceness};
std::atomic<int> s_io{int(SaveIoPriority::BestEffortLowest)};

#if defined(__linux__)
// The kernel's I/O priority encoding (linux/ioprio.h), which glibc does not
// wrap.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassShift = 13;
constexpr int kIoprioClassBestEffort = 2;
constexpr int kIoprioClassIdle = 3;

bool lowerIoPriority(SaveIoPriority io, id_t thread)
{
    if (io == SaveIoPriority::Unchanged)
        return true;
    const int value = io == SaveIoPriority::Idle ? kIoprioClassIdle << kIoprioClassShift
                                                 : (kIoprioClassBestEffort << kIoprioClassShift) | 7;
    return ::syscall(SYS_ioprio_set, kIoprioWhoProcess, int(thread), value) == 0;
}

// On Linux a nice value belongs to the thread, not the process: this thread
// alone gives way. The target is counted from the main thread's, so that
// helpers of helpers are not pushed further down.
bool raiseNiceness(int steps, id_t thread)
{
    errno = 0;
    const int process = ::getpriority(PRIO_PROCESS, id_t(::getpid()));
    if (process == -1 && errno != 0)
        return false;
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0)
        return false;
    const int target = std::min(process + steps, 19);
    return current >= target || ::setpriority(PRIO_PROCESS, thread, target) == 0;
}
#endif

} // namespace

void setSavePriority(const SavePriority &priority)
{
    s_cpu.store(int(priority.cpu));
    s_niceness.store(priority.niceness);
    s_io.store(int(priority.io));
}

SavePriority savePriority()
{
    SavePriority priority;
    priority.cpu = SaveCpuPriority(s_cpu.load());
    priority.niceness = s_niceness.load();
    priority.io = SaveIoPriority(s_io.load());
    return priority;
}

bool yieldToAcquisition()
{
#if defined(__linux__)
    const SavePriority priority = savePriority();
    const id_t thread = id_t(::syscall(SYS_gettid));
    bool ok = lowerIoPriority(priority.io, thread);
    if (priority.cpu == SaveCpuPriority::Idle) {
        sched_param param{};
        ok = (::sched_getscheduler(0) == SCHED_IDLE || ::sched_setscheduler(0, SCHED_IDLE, &param) == 0)
            && ok;
    } else {
        ok = raiseNiceness(priority.niceness, thread) && ok;
    }
    return ok;
#else
    return false;
#endif
}
