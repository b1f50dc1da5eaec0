#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/testfs/TestFS.h"

namespace testfs {

CountedClip::CountedClip() { ++Counters().clips_alive; }
CountedClip::~CountedClip() { --Counters().clips_alive; }

Frame::Frame(const VideoInfo& vi) {
    static int sequence = 0;
    rowSize = vi.width * BitsPerPixelOf(vi.pixel_type) / 8;
    height = vi.height;
    sequenceNumber = ++sequence;
    NoteFrameCreated();
}

Frame::~Frame() { NoteFrameDestroyed(); }

void SpendMicroseconds(int64_t microseconds) {
    if (microseconds <= 0) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
    while (std::chrono::steady_clock::now() < until) {
    }
}

namespace {

// Keeps the recursion below unbounded without the compiler being able to
// prove it (a provably endless recursion may be rejected or rewritten).
volatile bool keepRecursing = true;

__attribute__((noinline)) int Recurse(volatile char* previous) {
    volatile char frame[512];
    frame[0] = static_cast<char>(previous[0] + 1);
    // The result is used after the call, so this is no tail call.
    const int deeper = keepRecursing ? Recurse(frame) : 0;
    return deeper + frame[0];
}

// A thread that does one job at a time for a caller that waits for it, as a
// frame server's worker renders a frame the main thread asked for. What the
// job throws is thrown to the caller.
class WorkerThread {
public:
    WorkerThread() : thread_([this] { Serve(); }) {}
    ~WorkerThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void Do(const std::function<void()>& job) {
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = &job;
        failure_ = nullptr;
        changed_.notify_all();
        changed_.wait(lock, [this] { return job_ == nullptr; });
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    void Serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stopping_ || job_ != nullptr; });
            if (stopping_) return;
            try {
                (*job_)();
            } catch (...) {
                failure_ = std::current_exception();
            }
            job_ = nullptr;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    const std::function<void()>* job_ = nullptr;
    std::exception_ptr failure_;
    bool stopping_ = false;
    std::thread thread_;  // last: starts when the rest is ready
};

class ScriptClip : public CountedClip {
public:
    explicit ScriptClip(const ClipSpec& spec) : spec_(spec) {
        if (spec.workerThread) worker_.reset(new WorkerThread);
    }

    int GetVersion() override { return 6; }

    PVideoFrame GetFrame(int n, IScriptEnvironment* env) override {
        if (!worker_) return Render(n, env);
        PVideoFrame frame;
        worker_->Do([&] { frame = Render(n, env); });
        return frame;
    }

    PVideoFrame Render(int n, IScriptEnvironment* env) {
        ++Counters().frames_requested;
        if (n % spec_.burst == 0) SpendMicroseconds(spec_.frameDelayUs);
        if (spec_.framePaceUs > 0) {
            // Due times from the first request: late wake-ups do not add up.
            if (paced_ == 0) paceStart_ = std::chrono::steady_clock::now();
            std::this_thread::sleep_until(paceStart_ + std::chrono::microseconds(spec_.framePaceUs * paced_++));
        }
        if (n == spec_.failAt && (spec_.failInLoad == 0 || spec_.failInLoad == LoadIndex())) {
            // A processor fault abandons this frame without destructors: build
            // the message only for the failure that needs it.
            if (spec_.failWith != Fault::AvisynthError && spec_.failWith != Fault::RuntimeError)
                RaiseFault(spec_.failWith, env, std::string());
            const std::string message =
                spec_.failMessage.empty() ? "frame " + DecimalText(n) + " failed" : spec_.failMessage;
            RaiseFault(spec_.failWith, env, message);
        }
        return PVideoFrame(AsVideoFrame(new Frame(spec_.vi)));
    }

    bool GetParity(int) override { return (spec_.vi.image_type & kImageTFF) != 0; }

    void GetAudio(void* buffer, int64 /*start*/, int64 count, IScriptEnvironment*) override {
        const int64 bytes = count * spec_.vi.nchannels * BytesPerChannelSampleOf(spec_.vi.sample_type);
        if (buffer && bytes > 0) std::memset(buffer, 0, static_cast<size_t>(bytes));
    }

    int SetCacheHints(int, int) override { return 0; }
    const VideoInfo& GetVideoInfo() override { return spec_.vi; }

private:
    const ClipSpec spec_;
    std::chrono::steady_clock::time_point paceStart_;
    int64_t paced_ = 0;  // requests paced so far
    std::unique_ptr<WorkerThread> worker_;
};

class DistributorClip : public CountedClip {
public:
    explicit DistributorClip(const PClip& child) : child_(child) {}

    int GetVersion() override { return child_->GetVersion(); }
    PVideoFrame GetFrame(int n, IScriptEnvironment* env) override { return child_->GetFrame(n, env); }
    bool GetParity(int n) override { return child_->GetParity(n); }
    void GetAudio(void* buffer, int64 start, int64 count, IScriptEnvironment* env) override {
        child_->GetAudio(buffer, start, count, env);
    }
    int SetCacheHints(int hints, int range) override { return child_->SetCacheHints(hints, range); }
    const VideoInfo& GetVideoInfo() override { return child_->GetVideoInfo(); }

private:
    PClip child_;
};

}  // namespace

IClip* NewScriptClip(const ClipSpec& spec) { return new ScriptClip(spec); }
IClip* NewDistributorClip(const PClip& child) { return new DistributorClip(child); }

namespace {

// Stands for a filter's locals that need cleaning up (a frame it holds, for
// example); it owns nothing, so a frame abandoned at a fault leaks nothing.
volatile int cleanupsRun = 0;
struct Cleanup {
    ~Cleanup() { cleanupsRun = cleanupsRun + 1; }
};

}  // namespace

void RaiseFault(Fault fault, IScriptEnvironment* env, const std::string& message) {
    // Live across the faulting instruction, as a filter's locals are.
    // Compiled like a plug-in (no -fnon-call-exceptions), this frame has a
    // cleanup but no call site at that instruction: unwinding from there
    // would terminate.
    Cleanup pending;
    switch (fault) {
        case Fault::AccessViolation: {
            int* volatile target = nullptr;
            *target = 1;
            break;
        }
        case Fault::DivideByZero: {
            // Both operands volatile: with a constant dividend the compiler
            // may compute 1 / x without a division instruction.
            volatile int dividend = 1;
            volatile int divisor = 0;
            volatile int quotient = dividend / divisor;
            (void)quotient;
            break;
        }
        case Fault::StackOverflow: {
            volatile char seed[1] = {0};
            Recurse(seed);
            break;
        }
        case Fault::Foreign:
            throw ForeignException{42};
        case Fault::RuntimeError:
            throw std::runtime_error(message.empty() ? "testfs: runtime error" : message);
        case Fault::AvisynthError:
        case Fault::None:
            break;
    }
    // An AvisynthError, or a fault that did not fault after all: either way
    // the caller gets an error rather than a silent success.
    const std::string text =
        fault == Fault::AvisynthError || fault == Fault::None ? message : "testfs: the fault did not happen";
    if (env) env->ThrowError("%s", text.c_str());
    // Without an environment the message must outlive this frame.
    static std::string lastMessage;
    lastMessage = text;
    throw AvisynthError(lastMessage.c_str());
}

}  // namespace testfs
