// Processor faults inside GuardedCall become SE_Exception (MinGW build).
//
// MinGW has no working _set_se_translator, so a vectored exception handler
// does the job. It acts only on processor fault codes and only while the
// faulting thread is inside a GuardedCall; everything else, C++ exceptions of
// any runtime included, goes on to the system's normal dispatch.
//
// A fault never unwinds the faulting frames: they belong to the frame server
// or a plug-in, which are not built with -fnon-call-exceptions (MSVC-built
// ones have no GCC unwind data at all), so the C++ runtime would find no call
// site at the faulting instruction and terminate. Instead the handler sends
// the thread straight back into the frame of tachoro_guard_run (its saved
// stack pointer, callee-saved registers and floating-point control state,
// like longjmp), and GuardedCall throws from its own frame. The frames in
// between are abandoned without destructors, as the interface allows.
//
// A fault on a thread without a guard while another thread guards its work
// is one of the frame server's worker threads (Prefetch). That thread cannot
// go on: it records the code and is parked for good. The guarding thread
// throws the fault at its next guarded call; but it usually waits in the
// kernel for that very worker, and no change of its context gets it out of
// such a wait. So a thread of our own gives it a short while, then suspends
// it where it is and hands the run's end to the ending the program set.
#include "platform/Guard.h"

#include <malloc.h>  // _resetstkoflw
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>


namespace {

// One per active GuardedCall on a thread, innermost first.
struct GuardFrame {
    uint64_t resumeRsp = 0;  // written by guard_run; must stay the first member
    uint32_t code = 0;
    GuardFrame* outer = nullptr;
};

DWORD g_frameSlot = TLS_OUT_OF_INDEXES;

// The thread of the latest outermost guarded call: the one a worker's fault
// is reported to.
std::atomic<DWORD> g_guardingThread{0};
// The first worker fault's code, and whether its end is taken yet (by the
// guarding thread's throw or by the ending thread).
std::atomic<uint32_t> g_workerFault{0};
std::atomic<bool> g_workerFaultTaken{false};
// How long the guarding thread has to leave by itself.
constexpr DWORD kNoticeMilliseconds = 750;

std::atomic<void (*)(uint32_t, void*)> g_ending{nullptr};
std::atomic<void*> g_endingContext{nullptr};

}  // namespace

extern "C" {
// int tachoro_guard_run(GuardFrame* frame, void (*fn)(void*), void* context):
// returns 0 after fn returned, 1 when a fault sent the thread back to
// tachoro_guard_resume. All non-volatile registers (xmm6-xmm15 included),
// MXCSR and the x87 control word are saved before fn runs; the resume path
// restores them, so the caller finds what the ABI promises it whatever the
// faulting code left behind.
int tachoro_guard_run(GuardFrame* frame, void (*fn)(void*), void* context);
void tachoro_guard_resume();
}

// The frame of tachoro_guard_run: 32 bytes of home space for fn, xmm6-xmm15
// at 32..191, MXCSR at 192, the x87 control word at 196, then the pushed
// registers.
// clang-format off
asm(R"(
    .text
    .p2align 4
    .globl tachoro_guard_run
    .def tachoro_guard_run; .scl 2; .type 32; .endef
    .seh_proc tachoro_guard_run
tachoro_guard_run:
    pushq %rbp
    .seh_pushreg %rbp
    pushq %rbx
    .seh_pushreg %rbx
    pushq %rsi
    .seh_pushreg %rsi
    pushq %rdi
    .seh_pushreg %rdi
    pushq %r12
    .seh_pushreg %r12
    pushq %r13
    .seh_pushreg %r13
    pushq %r14
    .seh_pushreg %r14
    pushq %r15
    .seh_pushreg %r15
    subq $200, %rsp
    .seh_stackalloc 200
    movaps %xmm6, 32(%rsp)
    .seh_savexmm %xmm6, 32
    movaps %xmm7, 48(%rsp)
    .seh_savexmm %xmm7, 48
    movaps %xmm8, 64(%rsp)
    .seh_savexmm %xmm8, 64
    movaps %xmm9, 80(%rsp)
    .seh_savexmm %xmm9, 80
    movaps %xmm10, 96(%rsp)
    .seh_savexmm %xmm10, 96
    movaps %xmm11, 112(%rsp)
    .seh_savexmm %xmm11, 112
    movaps %xmm12, 128(%rsp)
    .seh_savexmm %xmm12, 128
    movaps %xmm13, 144(%rsp)
    .seh_savexmm %xmm13, 144
    movaps %xmm14, 160(%rsp)
    .seh_savexmm %xmm14, 160
    movaps %xmm15, 176(%rsp)
    .seh_savexmm %xmm15, 176
    .seh_endprologue
    stmxcsr 192(%rsp)
    fnstcw 196(%rsp)
    movq %rsp, (%rcx)
    movq %rdx, %rax
    movq %r8, %rcx
    callq *%rax
    xorl %eax, %eax
    jmp 1f
    .globl tachoro_guard_resume
tachoro_guard_resume:
    fninit
    fldcw 196(%rsp)
    ldmxcsr 192(%rsp)
    movl $1, %eax
1:
    movaps 32(%rsp), %xmm6
    movaps 48(%rsp), %xmm7
    movaps 64(%rsp), %xmm8
    movaps 80(%rsp), %xmm9
    movaps 96(%rsp), %xmm10
    movaps 112(%rsp), %xmm11
    movaps 128(%rsp), %xmm12
    movaps 144(%rsp), %xmm13
    movaps 160(%rsp), %xmm14
    movaps 176(%rsp), %xmm15
    addq $200, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rdi
    popq %rsi
    popq %rbx
    popq %rbp
    retq
    .seh_endproc
)");
// clang-format on

namespace {

// Fault codes raised by the processor. Software exceptions (C++ throws of any
// compiler, RaiseException, debugger events, guard pages used on purpose) are
// left alone.
bool IsProcessorFault(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
        return true;
    default:
        return false;
    }
}

// Runs on a thread of its own, with a fresh stack (the faulted worker's may
// be all but used up): waits for the guarding thread to take the fault, else
// takes it, suspends that thread so that what the ending reads stays still,
// and ends the run.
DWORD WINAPI EndRunUnlessGuardTakesFault(void* parameter) {
    const DWORD guarding = static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
    for (DWORD waited = 0; waited < kNoticeMilliseconds; waited += 10) {
        if (g_workerFaultTaken.load()) return 0;
        Sleep(10);
    }
    if (g_workerFaultTaken.exchange(true)) return 0;
    if (HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, guarding)) {
        SuspendThread(thread);
        CloseHandle(thread);
    }
    if (auto ending = g_ending.load()) ending(g_workerFault.load(), g_endingContext.load());
    platform::EndProcessNow(-1);
}

// A worker that faulted: the first one starts the thread that sees the run
// ended; every one of them stays here for good.
[[noreturn]] void ParkFaultedWorker(DWORD code, DWORD guarding) {
    uint32_t none = 0;
    if (g_workerFault.compare_exchange_strong(none, code)) {
        HANDLE ender = CreateThread(nullptr, 256 * 1024, EndRunUnlessGuardTakesFault,
                                    reinterpret_cast<void*>(static_cast<uintptr_t>(guarding)), 0, nullptr);
        if (ender != nullptr) CloseHandle(ender);
    }
    for (;;) Sleep(INFINITE);
}

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (!IsProcessorFault(code)) return EXCEPTION_CONTINUE_SEARCH;

    // TlsGetValue clears the last error; the faulting code may still need it.
    const DWORD lastError = GetLastError();
    GuardFrame* frame = static_cast<GuardFrame*>(TlsGetValue(g_frameSlot));
    SetLastError(lastError);
    if (frame == nullptr) {
        const DWORD guarding = g_guardingThread.load();
        if (guarding == 0 || guarding == GetCurrentThreadId()) return EXCEPTION_CONTINUE_SEARCH;
        ParkFaultedWorker(code, guarding);
    }

    CONTEXT* context = info->ContextRecord;
    context->EFlags &= ~0x400u;  // the ABI wants the direction flag clear
    frame->code = code;
    context->Rsp = frame->resumeRsp;
    context->Rip = reinterpret_cast<DWORD64>(&tachoro_guard_resume);
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool InstallHandler() {
    g_frameSlot = TlsAlloc();
    if (g_frameSlot == TLS_OUT_OF_INDEXES) return false;
    return AddVectoredExceptionHandler(1, FaultHandler) != nullptr;
}

}  // namespace

namespace platform {

void GuardedCall(void (*fn)(void*), void* context) {
    static const bool installed = InstallHandler();
    if (!installed) {
        // Without the handler a fault ends the process as it would anyway.
        fn(context);
        return;
    }
    GuardFrame frame;
    const DWORD lastError = GetLastError();  // TlsGetValue clears it
    frame.outer = static_cast<GuardFrame*>(TlsGetValue(g_frameSlot));
    if (frame.outer == nullptr) g_guardingThread.store(GetCurrentThreadId());
    // A worker's fault that nobody has taken yet ends this call before it
    // starts.
    if (g_workerFault.load() != 0 && !g_workerFaultTaken.exchange(true)) {
        SetLastError(lastError);
        throw SE_Exception{g_workerFault.load()};
    }
    TlsSetValue(g_frameSlot, &frame);
    SetLastError(lastError);
    int faulted = 0;
    try {
        faulted = tachoro_guard_run(&frame, fn, context);
    } catch (...) {
        TlsSetValue(g_frameSlot, frame.outer);
        throw;
    }
    TlsSetValue(g_frameSlot, frame.outer);
    if (faulted) {
        // The overflow consumed the stack's guard page; put it back so that
        // the next overflow is reported again instead of ending the process.
        if (frame.code == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
        throw SE_Exception{frame.code};
    }
}

uint32_t WorkerFaultCode() { return g_workerFault.load(); }

void SetWorkerFaultEnding(void (*ending)(uint32_t code, void* context), void* context) {
    g_endingContext.store(context);
    g_ending.store(ending);
}

void EndProcessNow(int exitCode) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace platform
