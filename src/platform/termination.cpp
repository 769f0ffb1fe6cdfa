#include "platform/termination.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler may only do async-signal-safe things: it notes the signal and writes its number into
// a pipe, which the watcher reads on its own thread.
int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_lastSignal = 0;
constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int signalNumber) {
    g_lastSignal = signalNumber;
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_pipe[1] >= 0)
        (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TTerminationWatcher::TTerminationWatcher(QObject* parent) : QObject(parent) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1)
            emit terminationRequested(byte);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : Signals)
        ::sigaction(s, &action, nullptr);
}

TTerminationWatcher::~TTerminationWatcher() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int s : Signals)
        ::sigaction(s, &action, nullptr);
    delete m_notifier;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

int TTerminationWatcher::LastRequest() {
    return g_lastSignal;
}

void TTerminationWatcher::IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
#ifdef SIGXFSZ
    // A write beyond the file size limit fails (and is reported, the old file kept) instead of
    // ending the program with the seller's work unsaved.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}
