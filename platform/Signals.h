// Interruptions by the user or the system (signals; console events on
// Windows).
#pragma once

namespace platform {

// While armed, the first interruption (POSIX: SIGINT, SIGTERM, SIGHUP;
// Windows: Ctrl+C, Ctrl+Break, closing the console) only raises a flag that
// InterruptionRequested reads; a second one ends the process at once, the
// way it would have ended without us (terminal restored). A signal the
// process was started to ignore stays ignored. Disarmed, the actions are
// those from before ArmInterruption; the flag stays raised. Arming nests:
// only the outermost pair changes the actions.
void ArmInterruption();
void DisarmInterruption();
// While held (armed; holds nest), a second interruption ends the process
// only when the outermost hold is released: files being written are
// finished first.
void HoldInterruption();
void ReleaseInterruption();
bool InterruptionRequested();
// The exit code that says the run was interrupted: 128 + the signal number
// (POSIX), 0xC000013A, the Ctrl+C exit status (Windows); 0 when no
// interruption came.
int InterruptionExitCode();

}  // namespace platform
