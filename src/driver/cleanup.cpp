#include "driver/cleanup.hpp"

#include <limits.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace quellpack::driver {

namespace {

// Read by the handler, so it lives in static storage and is only changed
// with the signals blocked.
char pendingPath[PATH_MAX + 1];
struct termios terminalToRestore;
volatile sig_atomic_t terminalChanged = 0;
const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeAndReraise(int sig) {
    if (pendingPath[0] != '\0') ::unlink(pendingPath);
    if (terminalChanged) ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalToRestore);
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
}

sigset_t cleanupSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kCleanupSignals) sigaddset(&set, sig);
    return set;
}

sigset_t savedMask;

}  // namespace

void installCleanupHandlers() {
    for (const int sig : kCleanupSignals) {
        struct sigaction old = {};
        ::sigaction(sig, nullptr, &old);
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (old.sa_handler == SIG_IGN) continue;
        struct sigaction act = {};
        act.sa_handler = removeAndReraise;
        act.sa_mask = cleanupSignalSet();
        ::sigaction(sig, &act, nullptr);
    }
    ::signal(SIGXFSZ, SIG_IGN);
}

SignalBlock::SignalBlock() {
    const sigset_t set = cleanupSignalSet();
    ::sigprocmask(SIG_BLOCK, &set, &savedMask);
}

SignalBlock::~SignalBlock() { ::sigprocmask(SIG_SETMASK, &savedMask, nullptr); }

void restoreTerminalOnSignal(const struct termios* saved) {
    SignalBlock block;
    if (saved != nullptr) terminalToRestore = *saved;
    terminalChanged = saved != nullptr ? 1 : 0;
}

void registerForCleanup(const std::string& path) {
    const size_t n = path.size() <= PATH_MAX ? path.size() : 0;
    std::memcpy(pendingPath, path.data(), n);
    pendingPath[n] = '\0';
}

}  // namespace quellpack::driver
