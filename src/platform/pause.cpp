#include "platform/pause.h"

#include <QThread>

#if defined(Q_OS_LINUX)
#include <sys/prctl.h>

#include <cerrno>
#include <ctime>
#endif

void PauseFor(qint64 microseconds) {
    if (microseconds <= 0)
        return;
#if defined(Q_OS_LINUX)
    // The thread's timer slack is the oversleep the kernel may add; 1 ns asks for none, and the
    // thread's own setting is restored after.
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += time_t(microseconds / 1000000);
    until.tv_nsec += long(microseconds % 1000000) * 1000;
    if (until.tv_nsec >= 1000000000) {
        ++until.tv_sec;
        until.tv_nsec -= 1000000000;
    }
    // A deadline rather than a length, so a signal that wakes the thread early does not lengthen
    // the pause when it sleeps again.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    if (slack > 0)
        prctl(PR_SET_TIMERSLACK, ulong(slack), 0, 0, 0);
#else
    QThread::usleep(ulong(microseconds));
#endif
}
