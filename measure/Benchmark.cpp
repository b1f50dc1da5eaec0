#include "measure/Benchmark.h"

#include <cstdint>

#include "app/Settings.h"
#include "frameserver/Avisynth.h"
#include "frameserver/FrameServer.h"
#include "measure/GPUInfo.h"
#include "measure/Timer.h"
#include "platform/Platform.h"
#include "support/Console.h"
#include "support/SEException.h"

namespace {

constexpr uint32_t MaxIntervals = 500000;
constexpr double ShortestInterval = 0.000001;  // seconds
constexpr double DisplayPeriod = 0.25;         // seconds
constexpr int EscKey = 27;

uint32_t RoundedMean(uint32_t sum, uint32_t count) {
    return static_cast<uint32_t>(static_cast<double>(sum) / static_cast<double>(count) + 0.5);
}

// ------------------------------------------------------------ live hooks

void LiveBegin(BenchmarkState& state) {
    state.Process.emplace();
    if (state.MonitorGPU && state.GPU != nullptr) state.GPU->ReadSensors();
    state.Process->Update();
}

double LiveNow(BenchmarkState&) {
    return Timer.GetTime();
}

void LiveReadSamplers(BenchmarkState& state) {
    CProcessInfo& process = *state.Process;
    process.Update();
    SamplerReadings& r = state.Readings;
    r.CPUUsage = process.CPUUsage;
    r.ThreadCount = process.ThreadCount;
    r.PhysMemMB = process.PhysMemMB;
    r.VirtMemMB = process.VirtMemMB;
    if (state.MonitorGPU && state.GPU != nullptr) {
        CGPUInfo& gpu = *state.GPU;
        gpu.ReadSensors();
        r.GPULoad = gpu.GPULoad;
        r.VideoEngineLoad = gpu.VideoEngineLoad;
        r.MemoryUsed = gpu.MemoryUsed;
        r.MemoryDedicated = gpu.MemoryDedicated;
        r.MemoryDynamic = gpu.MemoryDynamic;
    }
}

DisplayOptions OptionsFor(const BenchmarkState& state) {
    if (state.GPU != nullptr) return DisplayOptionsFor(Settings, *state.GPU);
    DisplayOptions options;
    options.DisplayFPS = Settings.DisplayFPS != 0;
    options.DisplayTPF = Settings.DisplayTPF != 0;
    options.LogEstimatedTime = Settings.LogEstimatedTime != 0;
    return options;
}

void LiveRefresh(BenchmarkState& state) {
    RefreshDisplay(state.Stats, state.Readings, OptionsFor(state));
}

bool LiveEscPressed(BenchmarkState& state) {
    // Without an interactive keyboard nothing can be read without blocking.
    if (!state.KeyboardInteractive || !platform::KeyWaiting()) return false;
    return platform::ReadKey() == EscKey;
}

// Raw key mode for the loop, restored however the loop ends.
class KeyboardSession {
public:
    KeyboardSession() { platform::KeyboardBegin(); }
    ~KeyboardSession() { platform::KeyboardEnd(); }
    KeyboardSession(const KeyboardSession&) = delete;
    KeyboardSession& operator=(const KeyboardSession&) = delete;
};

// The prompt for an invalid range; true when the user accepts the whole clip.
bool AcceptDefaultRange(uint32_t clipFrames) {
    const int stream = Settings.ConUseSTDOUT;
    Utils.ClearLine();
    ConsolePrint(stream, ColourError, "\rInvalid frame range specified:\n");
    ConsolePrint(stream, ColourError, "\r\"%s\"\n", Settings.FrameRangeText.c_str());
    ConsolePrint(stream, ColourReport, "\rProceed with default (%u,%u)? [y/n]", 0u, clipFrames - 1);
    const bool accepted = AskYesNo(100);
    // The prompt, the range text and the heading, from the bottom up; the
    // cursor ends on the heading's line.
    Utils.ClearLine();
    Utils.MoveCursorUp(1);
    Utils.ClearLine();
    Utils.MoveCursorUp(1);
    Utils.ClearLine();
    return accepted;
}

}  // namespace

// ------------------------------------------------------------ pure parts

uint32_t EnlargeSamplingInterval(uint32_t framesToProcess, uint32_t samplingInterval) {
    uint32_t n = samplingInterval == 0 ? 1 : samplingInterval;
    while (framesToProcess / n > MaxIntervals) n *= 10;
    return n;
}

size_t SampleArrayEntries(uint32_t framesToProcess, uint32_t samplingInterval) {
    const uint32_t n = samplingInterval == 0 ? 1 : samplingInterval;
    return static_cast<size_t>(framesToProcess / n) + 2;
}

FrameRange ResolveFrameRange(int64_t frameFirst, int64_t frameLast, uint32_t clipFrames) {
    FrameRange range;
    const int64_t frames = clipFrames;
    if (frameLast == -1) frameLast = frames - 1;
    range.ResolvedLast = frameLast;
    range.Valid = !(frameFirst < 0 || frameFirst > frameLast || frameLast >= frames);
    if (range.Valid) {
        range.First = static_cast<uint32_t>(frameFirst);
        range.Last = static_cast<uint32_t>(frameLast);
    }
    return range;
}

const char* ReadingMessage(uint32_t framesToProcess) {
    return framesToProcess == 1 ? "Reading frame..." : "Reading frames...";
}

SamplingOutcome ApplySamplingPoint(RunStatistics& s, double now, const SamplerReadings& r, bool monitorGPU,
                                   FrameSample* samples, size_t capacity) {
    s.SampleCount += 1;
    if (monitorGPU) {
        s.GPUSum += r.GPULoad;
        s.GPUAverage = RoundedMean(s.GPUSum, s.SampleCount);
        s.VPUSum += r.VideoEngineLoad;
        s.VPUAverage = RoundedMean(s.VPUSum, s.SampleCount);
    }

    const double elapsed = now - s.StartTime;
    s.ElapsedMs = static_cast<int64_t>(elapsed * 1000.0 + 0.5);
    s.EstimatedMs = static_cast<int64_t>(static_cast<double>(s.ElapsedMs) * static_cast<double>(s.FramesToProcess) /
                                         static_cast<double>(s.FramesProcessed));

    s.CPUSum += r.CPUUsage;
    s.CPUAverage = RoundedMean(s.CPUSum, s.SampleCount);

    if (r.PhysMemMB > s.PhysMemPeakMB) s.PhysMemPeakMB = r.PhysMemMB;
    if (r.VirtMemMB > s.VirtMemPeakMB) s.VirtMemPeakMB = r.VirtMemMB;

    // The same floor as the interval rate: an average over no measurable
    // time would otherwise be infinite.
    s.FPSAverage = static_cast<double>(s.FramesProcessed) / (elapsed > ShortestInterval ? elapsed : ShortestInterval);

    if (s.FramesProcessed % s.SamplingInterval != 0) return SamplingOutcome::PartialInterval;

    const double dt = now - s.LastSampleTime;
    s.FPSCurrent = static_cast<double>(s.SamplingInterval) / (dt > ShortestInterval ? dt : ShortestInterval);
    if (s.FPSCurrent > s.FPSMax) s.FPSMax = s.FPSCurrent;
    if (s.FPSCurrent < s.FPSMin) s.FPSMin = s.FPSCurrent;

    if (s.SamplesStored < capacity) {
        FrameSample& sample = samples[s.SamplesStored];
        sample.FrameNumber = s.CurrentFrame;
        sample.FPS = s.FPSCurrent;
        sample.FPSAverage = s.FPSAverage;
        sample.CPUUsage = r.CPUUsage;
        sample.GPULoad = monitorGPU ? r.GPULoad : 0;
        sample.VideoEngineLoad = monitorGPU ? r.VideoEngineLoad : 0;
        sample.ThreadCount = r.ThreadCount;
        sample.PhysMemMB = r.PhysMemMB;
        sample.VirtMemMB = r.VirtMemMB;
        s.SamplesStored += 1;
    }
    s.LastSampleTime = now;

    if (now - s.LastDisplayTime < DisplayPeriod) return SamplingOutcome::Stored;
    s.LastDisplayTime = now;
    return SamplingOutcome::StoredRefresh;
}

bool TimeLimitReached(int64_t elapsedMs, int64_t timeLimitSeconds) {
    if (timeLimitSeconds == -1) return false;
    // Limits beyond what milliseconds can hold are never reached (or, when
    // negative, reached at once) instead of overflowing.
    if (timeLimitSeconds > INT64_MAX / 1000) return false;
    if (timeLimitSeconds < INT64_MIN / 1000) return true;
    return elapsedMs >= timeLimitSeconds * 1000;
}

// ------------------------------------------------------------- the loop

SamplingHooks LiveSamplingHooks() {
    return SamplingHooks{LiveBegin, LiveNow, LiveReadSamplers, LiveRefresh, LiveEscPressed};
}

void PrepareRun(BenchmarkState& state, uint32_t firstFrame, uint32_t lastFrame, uint32_t samplingInterval) {
    const uint32_t frames = lastFrame - firstFrame + 1;
    const uint32_t interval = EnlargeSamplingInterval(frames, samplingInterval);
    const size_t entries = SampleArrayEntries(frames, interval);
    state.Samples.reset(new FrameSample[entries]());
    state.SampleCapacity = entries;

    state.Stats = RunStatistics();
    RunStatistics& s = state.Stats;
    s.FramesToProcess = frames;
    s.FirstFrame = firstFrame;
    s.LastFrame = lastFrame;
    s.CurrentFrame = firstFrame;
    s.SamplingInterval = interval;
    state.Readings = SamplerReadings();
    state.DisplayNotStarted = false;
}

void StartMeasurement(BenchmarkState& state) {
    state.Hooks.Begin(state);
    const double start = state.Hooks.Now(state);
    state.Stats.StartTime = start;
    state.Stats.LastSampleTime = start;
    state.Stats.LastDisplayTime = start;
}

bool SamplingPoint(BenchmarkState& state) {
    const double now = state.Hooks.Now(state);
    state.Hooks.ReadSamplers(state);
    const SamplingOutcome outcome = ApplySamplingPoint(state.Stats, now, state.Readings, state.MonitorGPU,
                                                       state.Samples.get(), state.SampleCapacity);
    if (outcome != SamplingOutcome::StoredRefresh) return false;
    state.Hooks.Refresh(state);
    if (TimeLimitReached(state.Stats.ElapsedMs, state.TimeLimit)) return true;
    return state.Hooks.EscPressed(state);
}

void RunFrameLoop(IClip* clip, IScriptEnvironment* env, BenchmarkState& state) {
    RunStatistics& s = state.Stats;
    const uint32_t total = s.FramesToProcess;
    const uint32_t interval = s.SamplingInterval;
    if (total == 0 || interval == 0) return;
    // The frame count of the next sampling point: the next multiple of N,
    // or the last frame when that comes first. One compare per frame.
    uint32_t nextPoint = interval < total ? interval : total;
    for (;;) {
        PVideoFrame frame = clip->GetFrame(static_cast<int>(s.CurrentFrame), env);
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
    }
}

BenchmarkOutcome RunBenchmark(FrameServerContext& context, uint32_t samplingInterval, CGPUInfo& gpu,
                              BenchmarkState& state, std::string& reportText) {
    const uint32_t clipFrames = context.ClipFrameCount;
    const FrameRange range = ResolveFrameRange(Settings.FrameFirst, Settings.FrameLast, clipFrames);
    Settings.FrameLast = range.ResolvedLast;

    uint32_t first = range.First;
    uint32_t last = range.Last;
    if (!range.Valid) {
        if (!AcceptDefaultRange(clipFrames)) return BenchmarkOutcome::RangeRefused;
        first = 0;
        last = clipFrames - 1;
    }
    ShowStatus(ReadingMessage(last - first + 1));

    state.GPU = &gpu;
    state.MonitorGPU = Settings.MonitorGPULoad != 0;
    state.TimeLimit = Settings.TimeLimit;
    state.KeyboardInteractive = platform::StdinIsInteractive();
    state.Hooks = LiveSamplingHooks();
    PrepareRun(state, first, last, samplingInterval);
    StartMeasurement(state);
    {
        KeyboardSession keyboard;
        IClip* clip = context.Clip.get();
        IScriptEnvironment* env = context.Environment;
        Guarded([&state, clip, env] { RunFrameLoop(clip, env, state); });
    }

    state.Process->CloseHandles();
    if (state.MonitorGPU) gpu.CloseSharedMemory();
    ReleaseScript(context);
    PrintRunSummary(state.Stats, state.Readings, DisplayOptionsFor(Settings, gpu), reportText);
    return BenchmarkOutcome::Measured;
}
