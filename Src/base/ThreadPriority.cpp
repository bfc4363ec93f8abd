#include "base/ThreadPriority.h"

#include "base/FFmpegLogger.h"

#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarnel {

namespace {

int NiceValue(TThreadPriority priority) {
    switch (priority) {
    case tpIdle:
    case tpLowest:
        return 19;
    case tpLower:
        return 10;
    case tpNormal:
        return 0;
    case tpHigher:
        return -5;
    case tpHighest:
        return -10;
    case tpTimeCritical:
        return -15;
    }
    return 0;
}

void WarnRefused(const char* what) {
    Logger().LogFmt(nullptr, llWarning, "Cannot set thread priority (%s): %s", what, std::strerror(errno));
}

} // namespace

void ApplyThreadPriority(TThreadPriority priority) {
    if (priority == tpNormal)
        return;
    if (priority == tpIdle) {
        sched_param param{};
        if (const int error = pthread_setschedparam(pthread_self(), SCHED_IDLE, &param)) {
            errno = error;
            WarnRefused("idle");
        }
        return;
    }
    // On Linux the nice value is per thread when given the thread's own id.
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), NiceValue(priority)) != 0)
        WarnRefused("nice");
}

} // namespace tarnel
