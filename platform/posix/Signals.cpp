// Interruption of the measured run: the first SIGINT, SIGTERM or SIGHUP asks
// the loop to stop (it polls the flag where it polls the Esc key); the second
// ends the process with the action it had before, at once or, while files
// are written, once they are.
#include <signal.h>

#include "platform/Signals.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t g_interruption = 0;  // the first signal's number
volatile sig_atomic_t g_holds = 0;         // nested holds
volatile sig_atomic_t g_deferred = 0;      // a second signal that came while held
struct sigaction g_before[NSIG];
bool g_armed[NSIG] = {};
int g_armings = 0;

// The signal's action from before ArmInterruption, as if we had never
// caught it.
void EndWith(int signal) {
    posix::RestoreTerminalForSignal();
    sigaction(signal, &g_before[signal], nullptr);
    raise(signal);
}

void OnInterruption(int signal) {
    if (g_interruption == 0) {
        g_interruption = signal;
        return;
    }
    if (g_holds > 0) {
        g_deferred = signal;
        return;
    }
    // The signal is blocked while this runs: raised again, it arrives with
    // the old action as soon as the handler returns.
    EndWith(signal);
}

}  // namespace

void ArmInterruption() {
    if (g_armings++ > 0) return;
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
    if (g_armings == 0 || --g_armings > 0) return;
    for (int signal : kInterruptions) {
        if (!g_armed[signal]) continue;
        sigaction(signal, &g_before[signal], nullptr);
        g_armed[signal] = false;
    }
}

void HoldInterruption() { g_holds = g_holds + 1; }

void ReleaseInterruption() {
    if (g_holds == 0) return;
    g_holds = g_holds - 1;
    if (g_holds > 0 || g_deferred == 0) return;
    // Not in the handler: the signal is not blocked, and raised it arrives
    // before raise returns.
    EndWith(g_deferred);
}

bool InterruptionRequested() { return g_interruption != 0; }

int InterruptionExitCode() { return g_interruption == 0 ? 0 : 128 + g_interruption; }

}  // namespace platform
