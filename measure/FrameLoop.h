// The frame loop: every frame of the range requested in turn, with a
// sampling point every N frames. Its state holds the result the run sequence
// reads however the loop ended; what a sampling point reads and shows comes
// through hooks (the live ones are the benchmark's, Benchmark.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measure/Display.h"
#include "measure/FrameTimes.h"
#include "measure/ProcessInfo.h"
#include "measure/RunEnding.h"
#include "measure/Statistics.h"
#include "platform/Time.h"

class CGPUMonitor;

// How far the loop got.
enum class LoopProgress {
    NotStarted,  // not prepared: nothing was measured and no display shown
    Running,     // prepared; it has not come to its end (a frame request failed, when it is over)
    Ended,       // it ran to its end, the time limit, Esc or an interruption
};

// What the loop leaves for the run sequence: plain data, readable at any
// moment, also while or after a frame request fails. It lives with the
// caller, never in the loop's frame, which a processor fault may abandon.
struct BenchmarkResult {
    LoopProgress Progress = LoopProgress::NotStarted;
    std::unique_ptr<FrameSample[]> Samples;
    size_t SampleCapacity = 0;
    RunStatistics Stats;
    SamplerReadings Readings;  // the last readings
    // How the loop ended: completed, or stopped (time limit, Esc, signal).
    RunEnding::Kind Stop = RunEnding::Kind::Completed;
    // Each frame's time, only when asked for (allocated by PrepareRun).
    std::unique_ptr<FrameTimeRecorder> FrameTimes;
};

struct BenchmarkState;

// What a sampling point reads and does besides the arithmetic. The live
// versions use the timer, the samplers, the console and the keyboard; the
// tests and the loop benchmark replace some of them.
struct SamplingHooks {
    void (*Begin)(BenchmarkState& state) = nullptr;         // samplers' first readings, before the start time
    double (*Now)(BenchmarkState& state) = nullptr;         // the clock
    void (*ReadSamplers)(BenchmarkState& state) = nullptr;  // fills Result.Readings
    void (*Refresh)(BenchmarkState& state) = nullptr;       // the live display
    bool (*EscPressed)(BenchmarkState& state) = nullptr;    // reads one waiting key; true for Esc
};

// The loop's machinery around its result.
struct BenchmarkState {
    BenchmarkResult Result;
    bool MonitorGPU = false;
    int64_t TimeLimit = -1;
    DisplayOptions Display;
    bool KeyboardInteractive = false;
    SamplingHooks Hooks;
    std::optional<CProcessInfo> Process;
    CGPUMonitor* GPU = nullptr;
    bool TimeFrames = false;  // PrepareRun allocates Result.FrameTimes
    void* User = nullptr;     // free for replaced hooks
};

// Preparation: enlarges N, allocates the zeroed sample array (and the frame
// times when TimeFrames is set), resets the statistics for frames
// first..last; the loop is then Running.
void PrepareRun(BenchmarkState& state, uint32_t firstFrame, uint32_t lastFrame, uint32_t samplingInterval);

// The samplers' first readings, then the start time.
void StartMeasurement(BenchmarkState& state);

// One sampling point; true when the run is to stop (time limit, an
// interruption, or Esc).
bool SamplingPoint(BenchmarkState& state);

// After a frame request failed in the loop: the run's last frame is the last
// one read, its estimated time is the time measured (nothing is
// extrapolated), and its samples are closed.
void EndFailedRun(BenchmarkResult& result);

// A failed frame request's message followed by the frame it was reading:
// "<message>\n(while reading frame N)".
std::string FrameReadFailureText(const std::string& message, uint32_t frame);

// The loop's per-frame timing: nothing at all by default, so that the
// default loop is the same code as without the policy.
struct NoFrameTiming {
    void Start() {}
    void Frame(const RunStatistics&) {}
    void Restart() {}
};

// -frametimes: one counter reading per frame; the time of a frame runs from
// the previous reading to its own. The counter is read again after a
// sampling point, so that the sampling, the display and the key check are no
// frame's time.
class FrameTiming {
public:
    explicit FrameTiming(FrameTimeRecorder& recorder) : Recorder(recorder) {}
    void Start() { Previous = platform::ReadFrameCounter(); }
    void Frame(const RunStatistics& stats) {
        const int64_t now = platform::ReadFrameCounter();
        Recorder.Record(now - Previous, stats.CurrentFrame);
        Previous = now;
    }
    void Restart() { Previous = platform::ReadFrameCounter(); }

private:
    FrameTimeRecorder& Recorder;
    int64_t Previous = 0;
};

// Requests every frame of the prepared range from `frames` (Fetch(n):
// request and release). Between sampling points it does only the request,
// the count, one compare and the release: instantiated for the concrete
// frame source, nothing else stands between the loop and the frame server.
// The timing policy is chosen once, before the loop, by instantiation.
template <class Frames, class Timing = NoFrameTiming>
void RunFrameLoop(const Frames& frames, BenchmarkState& state, Timing timing = Timing()) {
    RunStatistics& s = state.Result.Stats;
    const uint32_t total = s.FramesToProcess;
    const uint32_t interval = s.SamplingInterval;
    if (total == 0 || interval == 0) return;
    // The frame count of the next sampling point: the next multiple of N,
    // or the last frame when that comes first. One compare per frame.
    uint32_t nextPoint = interval < total ? interval : total;
    timing.Start();
    for (;;) {
        frames.Fetch(s.CurrentFrame);
        timing.Frame(s);
        if (++s.FramesProcessed != nextPoint) {
            ++s.CurrentFrame;
            continue;
        }
        if (SamplingPoint(state)) {
            s.LastFrame = s.CurrentFrame;
            return;
        }
        ++s.CurrentFrame;
        if (s.FramesProcessed == total) return;
        nextPoint = total - nextPoint > interval ? nextPoint + interval : total;
        timing.Restart();
    }
}
