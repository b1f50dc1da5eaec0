// Processor faults inside guarded calls become SE_Exception.
//
// Throwing from the signal handler does not work: the faulting instruction
// lies in the frame server's code, which has no unwind entry for it, and the
// runtime would call std::terminate. Instead the guarded call records a jump
// buffer; the handler, running on an alternate stack, stores the code and
// jumps back, and the guarded call throws from its own frame.
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <cfenv>
#include <cstdint>
#include <cstdlib>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

struct GuardFrame {
    sigjmp_buf jump;
    GuardFrame* volatile previous;
    volatile uint32_t code;
};

thread_local GuardFrame* t_currentGuard = nullptr;
thread_local bool t_alternateStackReady = false;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction g_previousActions[NSIG];
bool g_handlersInstalled = false;

constexpr uint32_t kAccessViolation = 0xC0000005;
constexpr uint32_t kInPageError = 0xC0000006;
constexpr uint32_t kIllegalInstruction = 0xC000001D;
constexpr uint32_t kFloatInexact = 0xC000008F;
constexpr uint32_t kFloatDivideByZero = 0xC000008E;
constexpr uint32_t kFloatInvalid = 0xC0000090;
constexpr uint32_t kFloatOverflow = 0xC0000091;
constexpr uint32_t kFloatUnderflow = 0xC0000093;
constexpr uint32_t kIntegerDivideByZero = 0xC0000094;
constexpr uint32_t kIntegerOverflow = 0xC0000095;
constexpr uint32_t kPrivilegedInstruction = 0xC0000096;
constexpr uint32_t kArrayBoundsExceeded = 0xC000008C;
constexpr uint32_t kStackOverflow = 0xC00000FD;

uintptr_t StackPointerOf(void* context) {
    const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.sp);
#else
    (void)uc;
    return 0;
#endif
}

uint32_t CodeFor(int signal, const siginfo_t* info, void* context) {
    switch (signal) {
    case SIGSEGV: {
        // A stack overflow faults in the guard area right below the stack
        // pointer; any other access violation lies elsewhere.
        uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
        uintptr_t stack = StackPointerOf(context);
        const uintptr_t window = 64 * 1024;
        if (stack != 0 && address + window >= stack && address <= stack + window) return kStackOverflow;
        return kAccessViolation;
    }
    case SIGBUS:
        return kInPageError;
    case SIGILL:
        return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? kPrivilegedInstruction
                                                                         : kIllegalInstruction;
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTOVF: return kIntegerOverflow;
        case FPE_FLTDIV: return kFloatDivideByZero;
        case FPE_FLTOVF: return kFloatOverflow;
        case FPE_FLTUND: return kFloatUnderflow;
        case FPE_FLTRES: return kFloatInexact;
        case FPE_FLTINV: return kFloatInvalid;
        case FPE_FLTSUB: return kArrayBoundsExceeded;
        default: return kIntegerDivideByZero;
        }
    default:
        return kAccessViolation;
    }
}

void FaultHandler(int signal, siginfo_t* info, void* context) {
    GuardFrame* guard = t_currentGuard;
    if (guard) {
        guard->code = CodeFor(signal, info, context);
        siglongjmp(guard->jump, 1);
    }
    // Outside every guarded call the fault keeps its usual behaviour: hand it
    // to whoever had it before us, else let the default action happen when
    // the instruction runs again.
    posix::RestoreTerminalForSignal();
    const struct sigaction& previous = g_previousActions[signal];
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    if (info->si_code <= 0) raise(signal);  // sent, not raised by an instruction
}

void EnsureAlternateStack() {
    if (t_alternateStackReady) return;
    t_alternateStackReady = true;
    stack_t current {};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) && current.ss_size >= 65536)
        return;  // one is in place already (a sanitizer's, for example)
    const size_t size = 256 * 1024;
    stack_t alternate {};
    // Mapped, not allocated: it lives as long as the thread, and a heap block
    // that only the kernel refers to would look leaked.
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return;
    alternate.ss_sp = memory;
    alternate.ss_size = size;
    alternate.ss_flags = 0;
    sigaltstack(&alternate, nullptr);
}

void EnsureHandlers() {
    EnsureAlternateStack();
    if (g_handlersInstalled) return;
    g_handlersInstalled = true;
    for (int signal : kFaultSignals) {
        struct sigaction action {};
        action.sa_sigaction = FaultHandler;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, &g_previousActions[signal]);
    }
}

}  // namespace

void GuardedCall(void (*fn)(void*), void* context) {
    EnsureHandlers();
    GuardFrame guard;
    guard.previous = t_currentGuard;
    guard.code = 0;
    // The kernel hands the handler a reset floating-point state and the jump
    // does not restore the caller's: keep it here.
    fenv_t floatingPoint;
    fegetenv(&floatingPoint);
    // The mask is not saved (no system call per guarded call); the handlers
    // run with SA_NODEFER, so jumping out of one leaves no signal blocked.
    if (sigsetjmp(guard.jump, 0) != 0) {
        fesetenv(&floatingPoint);
        t_currentGuard = guard.previous;
        throw SE_Exception{guard.code};
    }
    t_currentGuard = &guard;
    try {
        fn(context);
    } catch (...) {
        t_currentGuard = guard.previous;
        throw;
    }
    t_currentGuard = guard.previous;
}

}  // namespace platform
