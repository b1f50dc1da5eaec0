// Processor faults turned into C++ exceptions, and the process's end after
// one on another thread.
#pragma once

#include <cstdint>

// A processor (structured) exception turned into a C++ exception object:
// what GuardedCall throws for a fault, with the Windows exception code.
class SE_Exception {
public:
    uint32_t ExceptionCode;
};

namespace platform {

// Runs fn(context). A processor fault (access violation, division by zero,
// stack overflow, ...) raised on this thread while fn runs makes GuardedCall
// throw SE_Exception with the Windows exception code. C++ exceptions thrown
// by fn pass through unchanged. Faults outside every guarded call keep the
// system's default behaviour. Frames between the fault and GuardedCall are
// abandoned without running destructors (they are never unwound from the
// faulting instruction), so fn must keep everything that must survive
// outside its own frame. The caller's registers and floating-point control
// state are as they were before the call.
void GuardedCall(void (*fn)(void*), void* context);

// A processor fault on another thread (a frame-server worker) while a thread
// is inside GuardedCall, or was in one before, ends that thread's innermost
// guarded call the same way, with the worker's code; the faulting thread is
// parked for good (it cannot go on). POSIX: the guarding thread leaves its
// guard as soon as it waits in the kernel (for the worker, as a rule), else
// at its next guarded call. Windows: at its next guarded call, else see
// SetWorkerFaultEnding. The code of the first such fault; 0 while there was
// none. After one, the frame server's environment and library must be left
// alone: they may wait for the parked thread.
uint32_t WorkerFaultCode();

// Windows: the main thread may wait in the kernel for the faulted worker,
// and no change of its context gets it out of such a wait. When it has not
// left through a guard by itself shortly after a worker's fault, the guarding
// thread is suspended where it is and ending(code, context) runs on a thread
// of the fault guard's own: it must finish the run from state kept outside
// the abandoned frames and end the process (EndProcessNow); if it returns,
// the process ends with -1. Set it before the guarded work, clear it with a
// null ending. POSIX keeps it unused: there the guarding thread always
// leaves through its guard.
void SetWorkerFaultEnding(void (*ending)(uint32_t code, void* context), void* context);

// Ends the process with exitCode, from any thread, after flushing the C
// streams: the program's own exit handlers do not run (the thread that is
// held may be inside what they tear down) and no library is unloaded first.
// Windows: the other threads end, then the libraries get their
// process-detach notification as at any process end. POSIX: _exit.
[[noreturn]] void EndProcessNow(int exitCode);

}  // namespace platform
