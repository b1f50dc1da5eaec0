// The benchmark: the frame loop with its sampling points. It measures and
// shows the live display; the run sequence checks the range before and
// prints the summary, writes the files and tears down after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measure/Display.h"
#include "measure/FrameTimes.h"
#include "measure/ProcessInfo.h"
#include "measure/Statistics.h"
#include "platform/Platform.h"
#include "support/SEException.h"

class CGPUMonitor;

// ------------------------------------------------------------ pure parts

// The display options with the GPU facts the monitor has shown so far.
DisplayOptions WithGPUFacts(DisplayOptions options, const CGPUMonitor& gpu);

// N grows by factors of 10 while more than 500000 intervals would result.
// An interval of 0 is taken as 1.
uint32_t EnlargeSamplingInterval(uint32_t framesToProcess, uint32_t samplingInterval);

// Entries of the sample array: one per possible interval plus two.
size_t SampleArrayEntries(uint32_t framesToProcess, uint32_t samplingInterval);

// "Reading frames..." or, for exactly one frame, "Reading frame...".
const char* ReadingMessage(uint32_t framesToProcess);

enum class SamplingOutcome {
    PartialInterval,  // the last frame closed a short interval: counted, not stored
    Stored,           // a sample was stored; no refresh due yet
    StoredRefresh,    // a sample was stored and the display is due (LastDisplayTime = now)
};

// The arithmetic of one sampling point over values: counts, averages,
// elapsed and estimated time, peaks, the stored sample, the rate of the
// span it closes and whether the display is due. `now` is the clock read
// right after the frame request; the readings are those taken after it.
//
// Rates: a sample's rate is that of its span, the samples since the last
// span closed, over at least 10 ms: an interval shorter than that stays
// open and is merged with the following ones (frames rendered ahead arrive
// in bursts within microseconds). The current rate, the minimum and the
// maximum are those of the closed spans. Where every interval lasts 10 ms
// or more, each sample's rate is that of its own interval.
//
// CPU: readings before the first one (CPUPending) are no figure; the first
// reading, which covers the time since the start, is carried back to them,
// in the average and in their stored samples.
SamplingOutcome ApplySamplingPoint(RunStatistics& stats, double now, const SamplerReadings& readings,
                                   bool monitorGPU, FrameSample* samples, size_t capacity);

// The end of the run's samples, however it ended: the samples of a last
// span shorter than 10 ms take the rate of the span before it (their frames
// count in the average); when no span reached 10 ms, every sample takes the
// rate over all the time they took.
void CloseSamples(RunStatistics& stats, FrameSample* samples);

// A failed frame request's message followed by the frame it was reading:
// "<message>\n(while reading frame N)".
std::string FrameReadFailureText(const std::string& message, uint32_t frame);

// The time limit in seconds (-1: none) against the elapsed milliseconds.
bool TimeLimitReached(int64_t elapsedMs, int64_t timeLimitSeconds);

// -------------------------------------------------------- the loop state

struct BenchmarkState;

// What a sampling point reads and does besides the arithmetic. The live
// versions use the timer, the samplers, the console and the keyboard; the
// tests and the loop benchmark replace some of them.
struct SamplingHooks {
    void (*Begin)(BenchmarkState& state);         // samplers' first readings, before the start time
    double (*Now)(BenchmarkState& state);         // the clock
    void (*ReadSamplers)(BenchmarkState& state);  // fills state.Readings
    void (*Refresh)(BenchmarkState& state);       // the live display
    bool (*EscPressed)(BenchmarkState& state);    // reads one waiting key; true for Esc
};
SamplingHooks LiveSamplingHooks();

enum class BenchmarkOutcome {
    NotRun,    // no frame was requested
    Measured,  // the loop ran to its end, the time limit or Esc
    Failed,    // a frame request failed; ErrorText says how
};

// Why a measured loop ended before the last frame of its range.
enum class StopReason { None, TimeLimit, Esc, Signal };

// What the benchmark leaves for the run sequence: plain data, readable at
// any moment, also while or after a frame request fails. It lives with the
// caller, never in the loop's frame, which a processor fault may abandon.
struct BenchmarkResult {
    BenchmarkOutcome Outcome = BenchmarkOutcome::NotRun;
    std::unique_ptr<FrameSample[]> Samples;
    size_t SampleCapacity = 0;
    RunStatistics Stats;
    SamplerReadings Readings;  // the last readings
    // Cleared while the loop is prepared; the run sequence's error handlers
    // blank the display lines only when it is clear.
    bool DisplayNotStarted = true;
    std::string ErrorText;
    StopReason Stop = StopReason::None;
    // Each frame's time, only when asked for (allocated by PrepareRun).
    std::unique_ptr<FrameTimeRecorder> FrameTimes;
};

// The result and the machinery of the loop.
struct BenchmarkState : BenchmarkResult {
    bool MonitorGPU = false;
    int64_t TimeLimit = -1;
    DisplayOptions Display;
    bool KeyboardInteractive = false;
    SamplingHooks Hooks = LiveSamplingHooks();
    std::optional<CProcessInfo> Process;
    CGPUMonitor* GPU = nullptr;
    bool TimeFrames = false;  // PrepareRun allocates FrameTimes
    void* User = nullptr;     // free for replaced hooks
};

// Preparation: enlarges N, allocates the zeroed sample array (and the frame
// times when TimeFrames is set), resets the statistics for frames
// first..last and clears DisplayNotStarted.
void PrepareRun(BenchmarkState& state, uint32_t firstFrame, uint32_t lastFrame, uint32_t samplingInterval);

// The samplers' first readings, then the start time.
void StartMeasurement(BenchmarkState& state);

// One sampling point; true when the run is to stop (time limit, an
// interruption, or Esc).
bool SamplingPoint(BenchmarkState& state);

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
    RunStatistics& s = state.Stats;
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

// The whole benchmark of a loaded script: range check (and prompt), loop,
// teardown (process handle, GPU block, ReleaseScript) and the summary, which
// is appended to reportText. Frame-server errors and translated faults
// propagate; `state` then holds the samples stored so far.
// What the run asks of the benchmark, taken from the settings.
struct BenchmarkSetup {
    uint32_t FirstFrame = 0;
    uint32_t LastFrame = 0;
    uint32_t SamplingInterval = 0;
    int64_t TimeLimit = -1;  // seconds, -1: none
    DisplayOptions Display;  // MonitorGPULoad also switches the GPU readings on
    bool FrameTimes = false;  // time every frame
};

// Raw key mode and the interruption flag for the loop (a signal stops it as
// Esc does), both given back however the loop ends.
class KeyboardSession {
public:
    KeyboardSession();
    ~KeyboardSession();
    KeyboardSession(const KeyboardSession&) = delete;
    KeyboardSession& operator=(const KeyboardSession&) = delete;
};

// The live hooks, the preparation and the start time.
void BeginBenchmark(const BenchmarkSetup& setup, CGPUMonitor& gpu, BenchmarkState& state);
// Closes the process sampler's handle and the samples; the outcome becomes
// Measured.
void EndBenchmark(BenchmarkState& state);
// After a frame request failed in the loop: the run's last frame is the last
// one read, its estimated time is the time measured (nothing is
// extrapolated), and its samples are closed.
void EndFailedRun(BenchmarkState& state);

// The benchmark of an evaluated script over its frame source. Frame-server
// errors and translated faults propagate (run it in a frame-server region);
// `state` then holds what was measured so far.
template <class Frames>
void RunBenchmark(const Frames& frames, const BenchmarkSetup& setup, CGPUMonitor& gpu, BenchmarkState& state) {
    BeginBenchmark(setup, gpu, state);
    {
        KeyboardSession keyboard;
        if (state.FrameTimes)
            Guarded([&state, &frames] { RunFrameLoop(frames, state, FrameTiming(*state.FrameTimes)); });
        else
            Guarded([&state, &frames] { RunFrameLoop(frames, state); });
    }
    EndBenchmark(state);
}
