// Interruption of the measured run: the first Ctrl+C, Ctrl+Break or closing
// of the console asks the loop to stop (it polls the flag where it polls the
// Esc key); the second goes on to the system's handler, which ends the
// process with STATUS_CONTROL_C_EXIT, at once or, while files are written,
// once they are.
#include <windows.h>

#include "platform/Signals.h"

namespace platform {

namespace {

constexpr int kControlCExit = static_cast<int>(0xC000013Au);
// The holds of files being written; kEnding once a second event has claimed
// the process: from then on no hold is taken, so that the system's end never
// falls between two files of one run.
constexpr LONG kEnding = -1;
volatile LONG g_events = 0;
volatile LONG g_holds = 0;
int g_armings = 0;

BOOL WINAPI OnConsoleEvent(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    if (InterlockedIncrement(&g_events) > 1) {
        // Each event has a thread of its own: this one waits for the files
        // being written, then claims the process for the system's handler.
        while (InterlockedCompareExchange(&g_holds, kEnding, 0) > 0) Sleep(10);
        return FALSE;
    }
    // Closing the console ends the process as soon as this returns: wait
    // here, so that the run can stop and write its files first (the system
    // allows a few seconds).
    if (type == CTRL_CLOSE_EVENT) Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void ArmInterruption() {
    if (g_armings++ == 0) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void DisarmInterruption() {
    if (g_armings > 0 && --g_armings == 0) SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

void HoldInterruption() {
    for (;;) {
        const LONG holds = InterlockedCompareExchange(&g_holds, 0, 0);
        // The process is being ended: nothing more is written.
        if (holds == kEnding) Sleep(INFINITE);
        if (InterlockedCompareExchange(&g_holds, holds + 1, holds) == holds) return;
    }
}

void ReleaseInterruption() {
    for (;;) {
        const LONG holds = InterlockedCompareExchange(&g_holds, 0, 0);
        if (holds <= 0) return;
        if (InterlockedCompareExchange(&g_holds, holds - 1, holds) != holds) continue;
        if (holds > 1) return;
        break;
    }
    // A second event waits on its own thread to end the process: nothing
    // more is done here meanwhile.
    if (InterlockedCompareExchange(&g_events, 0, 0) > 1)
        for (int wait = 0; wait < 500; ++wait) Sleep(10);
}

bool InterruptionRequested() { return g_events != 0; }

int InterruptionExitCode() { return g_events == 0 ? 0 : kControlCExit; }

}  // namespace platform
