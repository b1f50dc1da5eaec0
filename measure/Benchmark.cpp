#include "measure/Benchmark.h"

#include <algorithm>
#include <cstdint>

#include "measure/GPUMonitor.h"
#include "measure/Timer.h"
#include "platform/Platform.h"
#include "support/Console.h"
#include "support/SEException.h"

namespace {

constexpr uint32_t kMaxIntervals = 500000;
constexpr double kShortestInterval = 0.000001;  // seconds
// The shortest span a rate is computed over: longer than a burst of frames
// rendered ahead, and far beyond the clock's resolution.
constexpr double kShortestSpan = 0.010;  // seconds
constexpr double kDisplayPeriod = 0.25;         // seconds
constexpr int kEscKey = 27;

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
    static_cast<ProcessReadings&>(state.Readings) = process;
    state.Readings.CPUPending = !process.HasCPUReading();
    if (state.MonitorGPU && state.GPU != nullptr) {
        state.GPU->ReadSensors();
        static_cast<GPUReadings&>(state.Readings) = *state.GPU;
    }
}

// The GPU's lines follow what the monitor offered so far.
DisplayOptions OptionsFor(const BenchmarkState& state) {
    if (state.GPU != nullptr) return WithGPUFacts(state.Display, *state.GPU);
    DisplayOptions options = state.Display;
    options.MonitorGPULoad = false;
    return options;
}

void LiveRefresh(BenchmarkState& state) {
    RefreshDisplay(state.Stats, state.Readings, OptionsFor(state));
}

bool LiveEscPressed(BenchmarkState& state) {
    // Without an interactive keyboard nothing can be read without blocking.
    if (!state.KeyboardInteractive || !platform::KeyWaiting()) return false;
    return platform::ReadKey() == kEscKey;
}

}  // namespace

// ------------------------------------------------------------ pure parts

DisplayOptions WithGPUFacts(DisplayOptions options, const CGPUMonitor& gpu) {
    const GPUFeatures& features = gpu.Features;
    options.HasVideoEngine = features.HasVideoEngine;
    options.HasMemoryUsed = features.HasMemoryUsed;
    options.HasMemoryDedicated = features.HasMemoryDedicated;
    options.HasMemoryDynamic = features.HasMemoryDynamic;
    options.HasProcessLoad = features.HasProcessLoad;
    options.GPUReadingsEnded = gpu.LostText;
    return options;
}

uint32_t EnlargeSamplingInterval(uint32_t framesToProcess, uint32_t samplingInterval) {
    uint32_t n = samplingInterval == 0 ? 1 : samplingInterval;
    while (framesToProcess / n > kMaxIntervals) n *= 10;
    return n;
}

size_t SampleArrayEntries(uint32_t framesToProcess, uint32_t samplingInterval) {
    const uint32_t n = samplingInterval == 0 ? 1 : samplingInterval;
    return static_cast<size_t>(framesToProcess / n) + 2;
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
        s.ProcessGPUSum += r.ProcessGPULoad;
        s.ProcessGPUAverage = RoundedMean(s.ProcessGPUSum, s.SampleCount);
    }

    const double elapsed = now - s.StartTime;
    s.ElapsedMs = static_cast<int64_t>(elapsed * 1000.0 + 0.5);
    s.EstimatedMs = static_cast<int64_t>(static_cast<double>(s.ElapsedMs) * static_cast<double>(s.FramesToProcess) /
                                         static_cast<double>(s.FramesProcessed));

    // Before the first reading there is no figure; the first one covers the
    // time from the start and is carried back to the points before it.
    if (r.CPUPending) {
        s.CPUPendingPoints += 1;
    } else {
        const uint32_t carried = std::min(s.CPUPendingPoints, s.SamplesStored);
        for (uint32_t i = s.SamplesStored - carried; i < s.SamplesStored; ++i) samples[i].CPUUsage = r.CPUUsage;
        s.CPUSum += r.CPUUsage * (s.CPUPendingPoints + 1);
        s.CPUPendingPoints = 0;
        s.CPUAverage = RoundedMean(s.CPUSum, s.SampleCount);
    }

    if (r.PhysMemMB > s.PhysMemPeakMB) s.PhysMemPeakMB = r.PhysMemMB;
    if (r.VirtMemMB > s.VirtMemPeakMB) s.VirtMemPeakMB = r.VirtMemMB;

    // The same floor as the interval rate: an average over no measurable
    // time would otherwise be infinite.
    s.FPSAverage = static_cast<double>(s.FramesProcessed) / (elapsed > kShortestInterval ? elapsed : kShortestInterval);

    if (s.FramesProcessed % s.SamplingInterval != 0) return SamplingOutcome::PartialInterval;

    if (s.SamplesStored < capacity) {
        FrameSample& sample = samples[s.SamplesStored];
        static_cast<ProcessReadings&>(sample) = r;
        sample.FrameNumber = s.CurrentFrame;
        sample.FPSAverage = s.FPSAverage;
        sample.GPULoad = monitorGPU ? r.GPULoad : 0;
        sample.VideoEngineLoad = monitorGPU ? r.VideoEngineLoad : 0;
        sample.ProcessGPULoad = monitorGPU ? r.ProcessGPULoad : 0;
        s.SamplesStored += 1;
    }
    s.LastSampleTime = now;

    // The span closes once it is long enough to hold a rate: its frames over
    // its time, for each of its samples. With intervals of 10 ms or more
    // every span is one interval.
    const double span = now - s.SpanStartTime;
    if (span >= kShortestSpan) {
        s.FPSCurrent = static_cast<double>(s.FramesProcessed - s.SpanStartFrames) / span;
        if (s.FPSCurrent > s.FPSMax) s.FPSMax = s.FPSCurrent;
        if (s.FPSCurrent < s.FPSMin) s.FPSMin = s.FPSCurrent;
        for (uint32_t i = s.SpanFirstSample; i < s.SamplesStored; ++i) samples[i].FPS = s.FPSCurrent;
        s.SpanStartTime = now;
        s.SpanStartFrames = s.FramesProcessed;
        s.SpanFirstSample = s.SamplesStored;
    }

    if (now - s.LastDisplayTime < kDisplayPeriod) return SamplingOutcome::Stored;
    s.LastDisplayTime = now;
    return SamplingOutcome::StoredRefresh;
}

void CloseSamples(RunStatistics& s, FrameSample* samples) {
    if (s.SpanFirstSample >= s.SamplesStored) return;
    if (s.SpanFirstSample == 0) {
        // No span reached 10 ms: the samples share the rate over the time
        // they took, held to the same floor as the average.
        const double span = s.LastSampleTime - s.StartTime;
        const double frames = static_cast<double>(s.SamplesStored) * s.SamplingInterval;
        s.FPSCurrent = frames / (span > kShortestInterval ? span : kShortestInterval);
        s.FPSMin = s.FPSMax = s.FPSCurrent;
    }
    // A last span shorter than 10 ms has no rate of its own: its samples
    // take the one before; its frames count in the average.
    for (uint32_t i = s.SpanFirstSample; i < s.SamplesStored; ++i) samples[i].FPS = s.FPSCurrent;
    s.SpanFirstSample = s.SamplesStored;
}

void EndFailedRun(BenchmarkState& state) {
    RunStatistics& s = state.Stats;
    if (s.FramesProcessed > 0) s.LastFrame = s.FirstFrame + s.FramesProcessed - 1;
    // The range cannot be finished: the time is what was measured.
    s.EstimatedMs = s.ElapsedMs;
    CloseSamples(s, state.Samples.get());
}

std::string FrameReadFailureText(const std::string& message, uint32_t frame) {
    return message + "\n(while reading frame " + std::to_string(frame) + ")";
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
    state.FrameTimes.reset(state.TimeFrames ? new FrameTimeRecorder() : nullptr);
    state.Stop = StopReason::None;

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
    state.Stats.SpanStartTime = start;
}

bool SamplingPoint(BenchmarkState& state) {
    const double now = state.Hooks.Now(state);
    state.Hooks.ReadSamplers(state);
    const SamplingOutcome outcome = ApplySamplingPoint(state.Stats, now, state.Readings, state.MonitorGPU,
                                                       state.Samples.get(), state.SampleCapacity);
    // At every sampling point: an interruption asks to stop now, and no
    // display is due for it.
    if (platform::InterruptionRequested()) {
        state.Stop = StopReason::Signal;
        return true;
    }
    if (outcome != SamplingOutcome::StoredRefresh) return false;
    state.Hooks.Refresh(state);
    if (TimeLimitReached(state.Stats.ElapsedMs, state.TimeLimit)) {
        state.Stop = StopReason::TimeLimit;
        return true;
    }
    if (!state.Hooks.EscPressed(state)) return false;
    state.Stop = StopReason::Esc;
    return true;
}

KeyboardSession::KeyboardSession() {
    platform::KeyboardBegin();
    platform::ArmInterruption();
}
KeyboardSession::~KeyboardSession() {
    platform::DisarmInterruption();
    platform::KeyboardEnd();
}

void BeginBenchmark(const BenchmarkSetup& setup, CGPUMonitor& gpu, BenchmarkState& state) {
    state.GPU = &gpu;
    state.MonitorGPU = setup.Display.MonitorGPULoad;
    state.TimeLimit = setup.TimeLimit;
    state.Display = setup.Display;
    state.TimeFrames = setup.FrameTimes;
    state.KeyboardInteractive = platform::StdinIsInteractive();
    state.Display.EscKeyRead = state.KeyboardInteractive;
    state.Hooks = LiveSamplingHooks();
    PrepareRun(state, setup.FirstFrame, setup.LastFrame, setup.SamplingInterval);
    StartMeasurement(state);
}

void EndBenchmark(BenchmarkState& state) {
    // An interruption after the last look at the flag still ends the series.
    if (state.Stop == StopReason::None && platform::InterruptionRequested()) state.Stop = StopReason::Signal;
    state.Process->CloseHandles();
    CloseSamples(state.Stats, state.Samples.get());
    state.Outcome = BenchmarkOutcome::Measured;
}
