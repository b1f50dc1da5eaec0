// Interruption of the measured run: the first SIGINT, SIGTERM or SIGHUP asks
// the loop to stop (it polls the flag where it polls the Esc key); the second
// ends the process with the action it had before.
#include <signal.h>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t g_interruption = 0;  // the first signal's number
struct sigaction g_before[NSIG];
bool g_armed[NSIG] = {};

void OnInterruption(int signal) {
    if (g_interruption == 0) {
        g_interruption = signal;
        return;
    }
    // The signal is blocked while this runs: raised again, it arrives with
    // the old action as soon as the handler returns.
    posix::RestoreTerminalForSignal();
    sigaction(signal, &g_before[signal], nullptr);
    raise(signal);
}

}  // namespace

void ArmInterruption() {
    for (int signal : kInterruptions) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0) continue;
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnInterruption;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (int other : kInterruptions) sigaddset(&action.sa_mask, other);
        if (sigaction(signal, &action, &g_before[signal]) == 0) g_armed[signal] = true;
    }
}

void DisarmInterruption() {
    for (int signal : kInterruptions) {
        if (!g_armed[signal]) continue;
        sigaction(signal, &g_before[signal], nullptr);
        g_armed[signal] = false;
    }
}

bool InterruptionRequested() { return g_interruption != 0; }

int InterruptionExitCode() { return g_interruption == 0 ? 0 : 128 + g_interruption; }

}  // namespace platform
