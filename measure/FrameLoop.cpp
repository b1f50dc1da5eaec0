#include "measure/FrameLoop.h"

#include "measure/Sampling.h"
#include "platform/Signals.h"

void PrepareRun(BenchmarkState& state, uint32_t firstFrame, uint32_t lastFrame, uint32_t samplingInterval) {
    BenchmarkResult& result = state.Result;
    const uint32_t frames = lastFrame - firstFrame + 1;
    const uint32_t interval = EnlargeSamplingInterval(frames, samplingInterval);
    const size_t entries = SampleArrayEntries(frames, interval);
    result.Samples.reset(new FrameSample[entries]());
    result.SampleCapacity = entries;
    result.FrameTimes.reset(state.TimeFrames ? new FrameTimeRecorder() : nullptr);
    result.Stop = RunEnding::Kind::Completed;

    result.Stats = RunStatistics();
    RunStatistics& s = result.Stats;
    s.FramesToProcess = frames;
    s.FirstFrame = firstFrame;
    s.LastFrame = lastFrame;
    s.CurrentFrame = firstFrame;
    s.SamplingInterval = interval;
    result.Readings = SamplerReadings();
    result.Progress = LoopProgress::Running;
}

void StartMeasurement(BenchmarkState& state) {
    state.Hooks.Begin(state);
    const double start = state.Hooks.Now(state);
    RunStatistics& s = state.Result.Stats;
    s.StartTime = start;
    s.LastSampleTime = start;
    s.LastDisplayTime = start;
    s.SpanStartTime = start;
}

bool SamplingPoint(BenchmarkState& state) {
    BenchmarkResult& result = state.Result;
    const double now = state.Hooks.Now(state);
    state.Hooks.ReadSamplers(state);
    const SamplingOutcome outcome = ApplySamplingPoint(result.Stats, now, result.Readings, state.MonitorGPU,
                                                       result.Samples.get(), result.SampleCapacity);
    // At every sampling point: an interruption asks to stop now, and no
    // display is due for it.
    if (platform::InterruptionRequested()) {
        result.Stop = RunEnding::Kind::StoppedBySignal;
        return true;
    }
    if (outcome != SamplingOutcome::StoredRefresh) return false;
    state.Hooks.Refresh(state);
    if (TimeLimitReached(result.Stats.ElapsedMs, state.TimeLimit)) {
        result.Stop = RunEnding::Kind::StoppedByTimeLimit;
        return true;
    }
    if (!state.Hooks.EscPressed(state)) return false;
    result.Stop = RunEnding::Kind::StoppedByEsc;
    return true;
}

void EndFailedRun(BenchmarkResult& result) {
    RunStatistics& s = result.Stats;
    if (s.FramesProcessed > 0) s.LastFrame = s.FirstFrame + s.FramesProcessed - 1;
    // The range cannot be finished: the time is what was measured.
    s.EstimatedMs = s.ElapsedMs;
    CloseSamples(s, result.Samples.get());
}

std::string FrameReadFailureText(const std::string& message, uint32_t frame) {
    return message + "\n(while reading frame " + std::to_string(frame) + ")";
}
