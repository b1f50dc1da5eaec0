// Processor faults inside guarded calls become SE_Exception.
//
// Throwing from the signal handler does not work: the faulting instruction
// lies in the frame server's code, which has no unwind entry for it, and the
// runtime would call std::terminate. Instead the guarded call records its
// context; the handler, running on an alternate stack, stores the code and
// goes back to it, and the guarded call throws from its own frame. The way
// back is setcontext, not the C library's longjmp: that one runs the cleanup
// handlers of the abandoned frames (a condition wait's takes its mutex
// again, which a faulted thread may hold for good).
//
// A fault on a thread without a guard while the program talks to the frame
// server is one of the frame server's worker threads (Prefetch). That thread
// cannot go on: it records the code and is parked for good, and it sends the
// guarding thread (which usually waits inside the frame server for it) a
// signal whose handler leaves through that thread's guard, the same way.
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cfenv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/Guard.h"
#include "platform/posix/PosixInternal.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TACHORO_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TACHORO_ASAN)
#include <sanitizer/asan_interface.h>
#define TACHORO_ASAN 1
#endif

namespace platform {

namespace {

struct GuardFrame {
    ucontext_t resume;
    volatile bool jumped;
    GuardFrame* volatile previous;
    volatile uint32_t code;
};

thread_local GuardFrame* t_currentGuard = nullptr;
thread_local bool t_alternateStackReady = false;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction g_previousActions[NSIG];
bool g_handlersInstalled = false;

// The thread of the latest outermost guarded call: the one a worker's fault
// is reported to.
pthread_t g_guardingThread;
std::atomic<bool> g_guardingThreadKnown{false};
// The first worker fault's code, and whether a guard has thrown it yet.
std::atomic<uint32_t> g_workerFault{0};
std::atomic<bool> g_workerFaultThrown{false};
int WorkerFaultSignal() { return SIGRTMIN + 2; }

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

// Back into GuardedCall's frame, from a handler.
[[noreturn]] void LeaveThroughGuard(GuardFrame* guard) {
#if defined(TACHORO_ASAN)
    // What the sanitizer's longjmp does: the abandoned frames' stack is
    // free again.
    __asan_handle_no_return();
#endif
    guard->jumped = true;
    setcontext(&guard->resume);
    std::abort();  // setcontext does not return unless it failed
}

void Pause(long milliseconds) {
    struct timespec pause = {0, milliseconds * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

// A worker that faulted: the first one tells the guarding thread until a
// guard has thrown the fault; every one of them stays here for good.
[[noreturn]] void ParkFaultedWorker(uint32_t code) {
    uint32_t none = 0;
    const bool first = g_workerFault.compare_exchange_strong(none, code);
    for (;;) {
        if (first && !g_workerFaultThrown.load()) pthread_kill(g_guardingThread, WorkerFaultSignal());
        Pause(20);
    }
}

// True when the interrupted thread waits in the kernel (a futex wait about to
// be restarted, or a wait the signal broke off), not halfway through a lock
// of its own or the allocator's, which leaving through the guard would keep
// locked for good.
bool InSystemCall(void* context) {
    const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    const uint8_t* at = reinterpret_cast<const uint8_t*>(uc->uc_mcontext.gregs[REG_RIP]);
    const long long result = uc->uc_mcontext.gregs[REG_RAX];
    auto isSyscall = [](const uint8_t* code) { return code[0] == 0x0F && code[1] == 0x05; };
    if (isSyscall(at)) return result == SYS_futex || result == SYS_restart_syscall;
    return isSyscall(at - 2) && result == -EINTR;
#elif defined(__aarch64__)
    const uint32_t* at = reinterpret_cast<const uint32_t*>(uc->uc_mcontext.pc);
    return at[0] == 0xD4000001u || at[-1] == 0xD4000001u;
#else
    (void)uc;
    return true;
#endif
}

// On the guarding thread: leave through its guard when it waits in the
// kernel; otherwise the worker asks again shortly, or the next guarded call
// throws the fault.
void WorkerFaultNotice(int, siginfo_t*, void* context) {
    GuardFrame* guard = t_currentGuard;
    if (!guard || !InSystemCall(context) || g_workerFaultThrown.exchange(true)) return;
    guard->code = g_workerFault.load();
    LeaveThroughGuard(guard);
}

void FaultHandler(int signal, siginfo_t* info, void* context) {
    GuardFrame* guard = t_currentGuard;
    if (guard) {
        guard->code = CodeFor(signal, info, context);
        LeaveThroughGuard(guard);
    }
    if (g_guardingThreadKnown.load() && !pthread_equal(g_guardingThread, pthread_self()))
        ParkFaultedWorker(CodeFor(signal, info, context));
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
    struct sigaction notice {};
    notice.sa_sigaction = WorkerFaultNotice;
    notice.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER | SA_RESTART;
    sigemptyset(&notice.sa_mask);
    sigaction(WorkerFaultSignal(), &notice, nullptr);
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
    // The handlers run with SA_NODEFER; the mask is the one of this moment
    // again after the jump anyway.
    guard.jumped = false;
    getcontext(&guard.resume);
    if (guard.jumped) {
        fesetenv(&floatingPoint);
        t_currentGuard = guard.previous;
        throw SE_Exception{guard.code};
    }
    t_currentGuard = &guard;
    if (guard.previous == nullptr) {
        g_guardingThread = pthread_self();
        g_guardingThreadKnown.store(true);
    }
    // A worker's fault that no guard has thrown yet (it came while this
    // thread was outside every guard) ends this call before it starts.
    if (g_workerFault.load() != 0 && !g_workerFaultThrown.exchange(true)) {
        t_currentGuard = guard.previous;
        throw SE_Exception{g_workerFault.load()};
    }
    try {
        fn(context);
    } catch (...) {
        t_currentGuard = guard.previous;
        throw;
    }
    t_currentGuard = guard.previous;
}

uint32_t WorkerFaultCode() { return g_workerFault.load(); }

void SetWorkerFaultEnding(void (*)(uint32_t, void*), void*) {}

void EndProcessNow(int exitCode) {
    std::fflush(nullptr);
    _exit(exitCode);
}

}  // namespace platform
