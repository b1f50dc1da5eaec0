// The benchmark: frame-range check, the frame loop with its sampling points,
// and the teardown that leads to the summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measure/Display.h"
#include "measure/ProcessInfo.h"
#include "measure/Statistics.h"

class IClip;
class IScriptEnvironment;
class CGPUInfo;
struct FrameServerContext;

// ------------------------------------------------------------ pure parts

// N grows by factors of 10 while more than 500000 intervals would result.
// An interval of 0 is taken as 1.
uint32_t EnlargeSamplingInterval(uint32_t framesToProcess, uint32_t samplingInterval);

// Entries of the sample array: one per possible interval plus two.
size_t SampleArrayEntries(uint32_t framesToProcess, uint32_t samplingInterval);

struct FrameRange {
    bool Valid = false;
    uint32_t First = 0;
    uint32_t Last = 0;
    // The last frame after -1 has been replaced by the clip's last frame.
    int64_t ResolvedLast = 0;
};
FrameRange ResolveFrameRange(int64_t frameFirst, int64_t frameLast, uint32_t clipFrames);

// "Reading frames..." or, for exactly one frame, "Reading frame...".
const char* ReadingMessage(uint32_t framesToProcess);

enum class SamplingOutcome {
    PartialInterval,  // the last frame closed a short interval: counted, not stored
    Stored,           // a sample was stored; no refresh due yet
    StoredRefresh,    // a sample was stored and the display is due (LastDisplayTime = now)
};

// The arithmetic of one sampling point over values: counts, averages,
// elapsed and estimated time, peaks, the interval rate, the stored sample
// and whether the display is due. `now` is the clock read right after the
// frame request; the readings are those taken after it.
SamplingOutcome ApplySamplingPoint(RunStatistics& stats, double now, const SamplerReadings& readings,
                                   bool monitorGPU, FrameSample* samples, size_t capacity);

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

// Everything the run sequence must still have after the loop, also when a
// frame request threw: the loop keeps its counters here, not in its frame.
struct BenchmarkState {
    std::unique_ptr<FrameSample[]> Samples;
    size_t SampleCapacity = 0;
    RunStatistics Stats;
    SamplerReadings Readings;
    // Cleared while the loop is prepared; the run sequence's error handlers
    // blank the display lines only when it is clear.
    bool DisplayNotStarted = true;

    bool MonitorGPU = false;
    int64_t TimeLimit = -1;
    bool KeyboardInteractive = false;
    SamplingHooks Hooks = LiveSamplingHooks();
    std::optional<CProcessInfo> Process;
    CGPUInfo* GPU = nullptr;
    void* User = nullptr;  // free for replaced hooks
};

// Preparation: enlarges N, allocates the zeroed sample array, resets the
// statistics for frames first..last and clears DisplayNotStarted.
void PrepareRun(BenchmarkState& state, uint32_t firstFrame, uint32_t lastFrame, uint32_t samplingInterval);

// The samplers' first readings, then the start time.
void StartMeasurement(BenchmarkState& state);

// One sampling point; true when the run is to stop (time limit or Esc).
bool SamplingPoint(BenchmarkState& state);

// Requests every frame of the prepared range. Between sampling points it
// does only the request, the count, one compare and the release.
void RunFrameLoop(IClip* clip, IScriptEnvironment* env, BenchmarkState& state);

enum class BenchmarkOutcome {
    RangeRefused,  // the user refused the default range: no frame was read
    Measured,      // loop done, script released, summary printed
};

// The whole benchmark of a loaded script: range check (and prompt), loop,
// teardown (process handle, GPU block, ReleaseScript) and the summary, which
// is appended to reportText. Frame-server errors and translated faults
// propagate; `state` then holds the samples stored so far.
BenchmarkOutcome RunBenchmark(FrameServerContext& context, uint32_t samplingInterval, CGPUInfo& gpu,
                              BenchmarkState& state, std::string& reportText);
