#include "measure/Sampling.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr uint32_t kMaxIntervals = 500000;
constexpr double kShortestInterval = 0.000001;  // seconds
// The shortest span a rate is computed over: longer than a burst of frames
// rendered ahead, and far beyond the clock's resolution.
constexpr double kShortestSpan = 0.010;         // seconds
constexpr double kDisplayPeriod = 0.25;         // seconds

uint32_t RoundedMean(uint32_t sum, uint32_t count) {
    return static_cast<uint32_t>(static_cast<double>(sum) / static_cast<double>(count) + 0.5);
}

}  // namespace

uint32_t EnlargeSamplingInterval(uint32_t framesToProcess, uint32_t samplingInterval) {
    uint32_t n = samplingInterval == 0 ? 1 : samplingInterval;
    while (framesToProcess / n > kMaxIntervals) n *= 10;
    return n;
}

size_t SampleArrayEntries(uint32_t framesToProcess, uint32_t samplingInterval) {
    const uint32_t n = samplingInterval == 0 ? 1 : samplingInterval;
    return static_cast<size_t>(framesToProcess / n) + 2;
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

bool TimeLimitReached(int64_t elapsedMs, int64_t timeLimitSeconds) {
    if (timeLimitSeconds == -1) return false;
    // Limits beyond what milliseconds can hold are never reached (or, when
    // negative, reached at once) instead of overflowing.
    if (timeLimitSeconds > INT64_MAX / 1000) return false;
    if (timeLimitSeconds < INT64_MIN / 1000) return true;
    return elapsedMs >= timeLimitSeconds * 1000;
}
