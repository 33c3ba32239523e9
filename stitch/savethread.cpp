#include "savethread.h"

#include <cerrno>

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

bool yieldToAcquisition()
{
#if defined(__linux__)
    // On Linux a nice value belongs to the thread, not the process: this
    // thread alone gives way. Raising it needs no privilege; lowering it
    // again would, so it is done on threads that only save. A thread starts
    // with its creator's value: the target is counted from the main
    // thread's, so that helpers of helpers are not pushed further down.
    errno = 0;
    const int process = ::getpriority(PRIO_PROCESS, id_t(::getpid()));
    if (process == -1 && errno != 0)
        return false;
    const id_t thread = id_t(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0)
        return false;
    const int target = process + kSaveThreadNiceness;
    return current >= target || ::setpriority(PRIO_PROCESS, thread, target) == 0;
#else
    return false;
#endif
}
