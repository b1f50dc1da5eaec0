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
#include "platform/Platform.h"

#include <malloc.h>  // _resetstkoflw
#include <windows.h>

#include <cstdint>


namespace {

// One per active GuardedCall on a thread, innermost first.
struct GuardFrame {
    uint64_t resumeRsp = 0;  // written by guard_run; must stay the first member
    uint32_t code = 0;
    GuardFrame* outer = nullptr;
};

DWORD g_frameSlot = TLS_OUT_OF_INDEXES;

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

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (!IsProcessorFault(code)) return EXCEPTION_CONTINUE_SEARCH;

    // TlsGetValue clears the last error; the faulting code may still need it.
    const DWORD lastError = GetLastError();
    GuardFrame* frame = static_cast<GuardFrame*>(TlsGetValue(g_frameSlot));
    SetLastError(lastError);
    if (frame == nullptr) return EXCEPTION_CONTINUE_SEARCH;

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

uint32_t WorkerFaultCode() { return 0; }

}  // namespace platform
