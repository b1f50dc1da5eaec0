// A plug-in for the tests against the real frame server. It is built the way
// plug-ins usually are (optimised, no unwind tables for every instruction)
// so that its failures reach Tachoro exactly as a broken plug-in's would.
//
//   FailAt(clip, int frame, string kind, int "instance", string "message", bool "worker")
//     Fails when frame `frame` is requested, while the script is evaluated
//     when `frame` is -1, or while the frame server deletes the environment
//     (a callback of its AtExit, on the deleting thread; processor faults
//     only) when `frame` is -2. kind: "error" (the frame server's
//     ThrowError with `message`), "access_violation" (a write through a null
//     pointer), "divide_by_zero" (an integer division), "stack_overflow" (an
//     unbounded recursion), "runtime_error" (a std::runtime_error of this
//     plug-in's own runtime, with `message`).
//     instance: only the Nth FailAt created in this process fails (1 is the
//     first script evaluation, Tachoro's calibration; 2 the measured run);
//     0, the default, every one.
//     worker: fail only when the frame is rendered on another thread than
//     the one that evaluated the script (a frame-server worker, as with
//     Prefetch); on the evaluating thread the frame passes.
//   SlowFrames(clip, int "microseconds", int "evaluation", bool "paced")
//     Every frame busy-waits this long (default 2000) on a monotonic clock,
//     so it costs processor time as real filtering does; the evaluation of
//     the script busy-waits `evaluation` microseconds (default 0). paced:
//     the k-th request (from 0) sleeps instead until k times `microseconds`
//     after the first, a source of a fixed rate whose average a loaded
//     machine barely changes (late wake-ups do not add up).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <avisynth.h>

const AVS_Linkage* AVS_linkage = nullptr;

namespace {

enum class Failure { FrameServerError, AccessViolation, DivideByZero, StackOverflow, RuntimeError };

struct FailureName {
    const char* name;
    Failure failure;
};

const FailureName kFailures[] = {
    {"error", Failure::FrameServerError},     {"access_violation", Failure::AccessViolation},
    {"divide_by_zero", Failure::DivideByZero}, {"stack_overflow", Failure::StackOverflow},
    {"runtime_error", Failure::RuntimeError},
};

// The count of FailAt filters created in this process. Kept in the process
// environment because the frame server unloads the plug-in with each of its
// environments, and static data would start again at every load.
const char kInstanceVariable[] = "TACHORO_FAILAT_INSTANCES";

int NextInstance() {
    char text[32] = "0";
#if defined(_WIN32)
    if (GetEnvironmentVariableA(kInstanceVariable, text, sizeof text) == 0) std::strcpy(text, "0");
#else
    if (const char* value = std::getenv(kInstanceVariable)) std::snprintf(text, sizeof text, "%s", value);
#endif
    const int instance = std::atoi(text) + 1;
    std::snprintf(text, sizeof text, "%d", instance);
#if defined(_WIN32)
    SetEnvironmentVariableA(kInstanceVariable, text);
#else
    setenv(kInstanceVariable, text, 1);
#endif
    return instance;
}

// Read through volatile objects so that the compiler cannot see the null
// pointer or the zero and replace the fault by a trap of its own.
int* volatile gNullTarget = nullptr;
volatile int gZero = 0;
volatile int gDividend = 1;
volatile int gRecursionEnd = -1;  // never reached

int __attribute__((noinline)) Recurse(int depth) {
    volatile char frame[512];
    frame[depth % 512] = static_cast<char>(depth);
    if (depth == gRecursionEnd) return 0;
    // The frame is read after the call, so the call cannot become a jump.
    return Recurse(depth + 1) + frame[(depth * 7) % 512];
}

enum : int { kWhileEvaluated = -1, kWhileClosing = -2 };

void Fail(Failure kind, const std::string& message, int frame, IScriptEnvironment* env) {
    switch (kind) {
        case Failure::FrameServerError:
            env->ThrowError("%s", message.c_str());
            break;
        case Failure::AccessViolation:
            *gNullTarget = frame;
            break;
        case Failure::DivideByZero:
            gDividend = gDividend / gZero;
            break;
        case Failure::StackOverflow:
            gDividend = Recurse(0);
            break;
        case Failure::RuntimeError:
            throw std::runtime_error(message);
    }
}

// Outlives the filter, which is gone before the environment.
struct ClosingFailure {
    Failure Kind;
    std::string Message;
};

void __cdecl FailWhileClosing(void* data, IScriptEnvironment* env) {
    const ClosingFailure* failure = static_cast<const ClosingFailure*>(data);
    Fail(failure->Kind, failure->Message, kWhileClosing, env);
}

class FailAt : public GenericVideoFilter {
public:
    FailAt(PClip child, int frame, Failure failure, const char* message, bool armed, bool workerOnly,
           IScriptEnvironment* env)
        : GenericVideoFilter(child), Frame(frame), Kind(failure), Message(message), Armed(armed),
          WorkerOnly(workerOnly), EvaluatingThread(std::this_thread::get_id()) {
        if (Armed && Frame == kWhileEvaluated) Fail(Kind, Message, Frame, env);
        if (Armed && Frame == kWhileClosing) env->AtExit(FailWhileClosing, new ClosingFailure{Kind, Message});
    }

    PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override {
        if (Armed && n == Frame && (!WorkerOnly || std::this_thread::get_id() != EvaluatingThread))
            Fail(Kind, Message, Frame, env);
        return child->GetFrame(n, env);
    }

    int __stdcall SetCacheHints(int hints, int) override { return hints == CACHE_GET_MTMODE ? MT_NICE_FILTER : 0; }

private:
    const int Frame;
    const Failure Kind;
    const std::string Message;
    const bool Armed;
    const bool WorkerOnly;
    const std::thread::id EvaluatingThread;
};

AVSValue __cdecl CreateFailAt(AVSValue args, void*, IScriptEnvironment* env) {
    const int frame = args[1].AsInt();
    const char* kind = args[2].AsString();
    const FailureName* found = nullptr;
    for (const FailureName& entry : kFailures)
        if (std::strcmp(entry.name, kind) == 0) found = &entry;
    if (!found) env->ThrowError("FailAt: unknown kind \"%s\"", kind);
    // An exception cannot leave the frame server's destructor.
    if (frame == kWhileClosing && (found->failure == Failure::FrameServerError || found->failure == Failure::RuntimeError))
        env->ThrowError("FailAt: only a processor fault can happen while closing");
    const int instance = args[3].AsInt(0);
    const int created = NextInstance();
    const std::string fallback = "FailAt: frame " + std::to_string(frame) + " failed";
    const char* message = args[4].AsString(fallback.c_str());
    return new FailAt(args[0].AsClip(), frame, found->failure, message, instance == 0 || instance == created,
                      args[5].AsBool(false), env);
}

void BusyWait(std::chrono::microseconds delay) {
    const auto end = std::chrono::steady_clock::now() + delay;
    while (std::chrono::steady_clock::now() < end) {
    }
}

class SlowFrames : public GenericVideoFilter {
public:
    SlowFrames(PClip child, int microseconds, bool paced)
        : GenericVideoFilter(child), Delay(microseconds), Paced(paced) {}

    PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override {
        if (!Paced) {
            BusyWait(Delay);
        } else {
            if (Requests == 0) First = std::chrono::steady_clock::now();
            std::this_thread::sleep_until(First + Delay * Requests++);
        }
        return child->GetFrame(n, env);
    }

    int __stdcall SetCacheHints(int hints, int) override { return hints == CACHE_GET_MTMODE ? MT_NICE_FILTER : 0; }

private:
    const std::chrono::microseconds Delay;
    const bool Paced;
    std::chrono::steady_clock::time_point First;
    int64_t Requests = 0;
};

AVSValue __cdecl CreateSlowFrames(AVSValue args, void*, IScriptEnvironment* env) {
    const int microseconds = args[1].AsInt(2000);
    const int evaluation = args[2].AsInt(0);
    if (microseconds < 0 || evaluation < 0) env->ThrowError("SlowFrames: microseconds must not be negative");
    BusyWait(std::chrono::microseconds(evaluation));
    return new SlowFrames(args[0].AsClip(), microseconds, args[3].AsBool(false));
}

}  // namespace

extern "C" __declspec(dllexport) const char* __stdcall AvisynthPluginInit3(IScriptEnvironment* env,
                                                                          const AVS_Linkage* const vectors) {
    AVS_linkage = vectors;
    env->AddFunction("FailAt", "cis[instance]i[message]s[worker]b", CreateFailAt, nullptr);
    env->AddFunction("SlowFrames", "c[microseconds]i[evaluation]i[paced]b", CreateSlowFrames, nullptr);
    return "Failures and slow frames for Tachoro's tests";
}
