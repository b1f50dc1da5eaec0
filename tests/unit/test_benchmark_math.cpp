#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "frameserver/Session.h"
#include "measure/Benchmark.h"
#include "measure/Sampling.h"

// ------------------------------------------------------------ pure parts

TEST(SamplingInterval, EnlargedWhileMoreThanHalfAMillionIntervals) {
    EXPECT_EQ(EnlargeSamplingInterval(10000000, 10), 100u);
    EXPECT_EQ(SampleArrayEntries(10000000, 100), 100002u);
    EXPECT_EQ(EnlargeSamplingInterval(5000000, 10), 10u);  // exactly 500000 intervals
    EXPECT_EQ(EnlargeSamplingInterval(5000010, 10), 100u);
    EXPECT_EQ(EnlargeSamplingInterval(UINT32_MAX, 1), 10000u);
    EXPECT_EQ(EnlargeSamplingInterval(25, 10000), 10000u);
    EXPECT_EQ(EnlargeSamplingInterval(1000, 0), 1u);  // never divide by zero
    EXPECT_EQ(SampleArrayEntries(25, 10), 4u);
    EXPECT_EQ(SampleArrayEntries(5, 10), 2u);
    EXPECT_EQ(SampleArrayEntries(UINT32_MAX, 1), size_t{UINT32_MAX} + 2);  // no 32-bit wrap
}

TEST(ReadingMessage, OneFrameOrMore) {
    EXPECT_STREQ(ReadingMessage(1), "Reading frame...");
    EXPECT_STREQ(ReadingMessage(2), "Reading frames...");
    EXPECT_STREQ(ReadingMessage(0), "Reading frames...");
}

TEST(TimeLimit, CheckedInWholeSeconds) {
    EXPECT_FALSE(TimeLimitReached(1000000, -1));
    EXPECT_FALSE(TimeLimitReached(4999, 5));
    EXPECT_TRUE(TimeLimitReached(5000, 5));
    EXPECT_TRUE(TimeLimitReached(0, 0));
    EXPECT_FALSE(TimeLimitReached(INT64_MAX, INT64_MAX));  // no overflow
}

namespace {
RunStatistics FreshStats(uint32_t frames, uint32_t interval, double start) {
    RunStatistics s;
    s.FramesToProcess = frames;
    s.LastFrame = frames - 1;
    s.SamplingInterval = interval;
    s.StartTime = s.LastSampleTime = s.LastDisplayTime = s.SpanStartTime = start;
    return s;
}
}  // namespace

// A sample's rate is that of its span of at least 10 ms; intervals of 10 ms
// or more are spans of their own, with exactly the rate of the interval.
TEST(SamplingPointArithmetic, RatesAreOverSpansOfAtLeastTenMilliseconds) {
    const struct {
        const char* what;
        uint32_t interval;
        std::vector<double> times;  // of the sampling points, after a start at 0
        std::vector<double> rates;  // of the samples, once closed
    } cases[] = {
        {"intervals of 10 ms or more", 10, {0.010, 0.030, 0.070}, {10 / 0.010, 10 / (0.030 - 0.010), 10 / (0.070 - 0.030)}},
        {"a burst after a slow frame", 1, {0.040, 0.040001, 0.040002, 0.040003, 0.080},
         {1 / 0.040, 4 / (0.080 - 0.040), 4 / (0.080 - 0.040), 4 / (0.080 - 0.040), 4 / (0.080 - 0.040)}},
        {"a last span under 10 ms takes the rate before it", 1, {0.020, 0.021, 0.022}, {1 / 0.020, 1 / 0.020, 1 / 0.020}},
        {"no span of 10 ms: the rate over all their time", 1, {0.001, 0.002, 0.004}, {3 / 0.004, 3 / 0.004, 3 / 0.004}},
        {"no measurable time counts as 1 us", 10, {0.0}, {10 / 0.000001}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunStatistics s = FreshStats(1000, c.interval, 0.0);
        std::vector<FrameSample> samples(c.times.size() + 2);
        for (size_t i = 0; i < c.times.size(); ++i) {
            s.FramesProcessed = c.interval * static_cast<uint32_t>(i + 1);
            ApplySamplingPoint(s, c.times[i], SamplerReadings(), false, samples.data(), samples.size());
        }
        CloseSamples(s, samples.data());
        ASSERT_EQ(s.SamplesStored, c.rates.size());
        for (size_t i = 0; i < c.rates.size(); ++i) EXPECT_EQ(samples[i].FPS, c.rates[i]) << i;
        EXPECT_EQ(s.FPSMin, *std::min_element(c.rates.begin(), c.rates.end()));
        EXPECT_EQ(s.FPSMax, *std::max_element(c.rates.begin(), c.rates.end()));
        EXPECT_EQ(s.FPSCurrent, c.rates.back());
    }
}

TEST(SamplingPointArithmetic, TimesAndAverageOverNoTime) {
    RunStatistics s = FreshStats(100, 10, 5.0);
    std::vector<FrameSample> samples(4);
    s.FramesProcessed = 10;
    EXPECT_EQ(ApplySamplingPoint(s, 5.0, SamplerReadings(), false, samples.data(), samples.size()),
              SamplingOutcome::Stored);
    // The average over no time is held to a floor of 1 us, not infinite.
    EXPECT_DOUBLE_EQ(s.FPSAverage, 10.0 * 1000000);
    EXPECT_EQ(s.ElapsedMs, 0);

    s.FramesProcessed = 20;  // elapsed rounds half up, the estimate truncates
    ApplySamplingPoint(s, 5.0 + 1.2346, SamplerReadings(), false, samples.data(), samples.size());
    EXPECT_EQ(s.ElapsedMs, 1235);
    EXPECT_EQ(s.EstimatedMs, 6175);
}

// The sampling points before the first processor reading take it: in the
// average and in their samples.
TEST(SamplingPointArithmetic, TheFirstCpuReadingIsCarriedBack) {
    RunStatistics s = FreshStats(100, 10, 0.0);
    std::vector<FrameSample> samples(12);
    SamplerReadings pending, first, later;
    pending.CPUPending = true;
    first.CPUUsage = 40;
    later.CPUUsage = 10;
    const SamplerReadings* readings[] = {&pending, &pending, &first, &later};
    for (uint32_t i = 0; i < 4; ++i) {
        s.FramesProcessed = 10 * (i + 1);
        ApplySamplingPoint(s, 0.1 * (i + 1), *readings[i], false, samples.data(), samples.size());
        if (i == 1) {
            EXPECT_EQ(s.CPUAverage, 0u) << "no figure yet";
        }
    }
    EXPECT_EQ(s.CPUAverage, 33u);  // (3 * 40 + 10) / 4 rounded
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(samples[i].CPUUsage, i < 3 ? 40 : 10) << i;
}

TEST(SamplingPointArithmetic, GPUCountsOnlyWhenMonitored) {
    RunStatistics s = FreshStats(40, 10, 0.0);
    std::vector<FrameSample> samples(6);
    SamplerReadings r;
    r.GPULoad = 50;
    r.VideoEngineLoad = 3;
    s.FramesProcessed = 10;
    ApplySamplingPoint(s, 1.0, r, false, samples.data(), samples.size());
    EXPECT_EQ(s.GPUSum, 0u);
    EXPECT_EQ(s.GPUAverage, 0u);
    EXPECT_EQ(samples[0].GPULoad, 0);
    EXPECT_EQ(samples[0].VideoEngineLoad, 0);

    s = FreshStats(40, 10, 0.0);
    s.FramesProcessed = 10;
    ApplySamplingPoint(s, 1.0, r, true, samples.data(), samples.size());
    r.GPULoad = 61;
    r.VideoEngineLoad = 4;
    s.FramesProcessed = 20;
    ApplySamplingPoint(s, 2.0, r, true, samples.data(), samples.size());
    EXPECT_EQ(s.GPUAverage, 56u);  // 55.5 rounds up
    EXPECT_EQ(s.VPUAverage, 4u);   // 3.5 rounds up
    EXPECT_EQ(samples[0].GPULoad, 50);
    EXPECT_EQ(samples[1].GPULoad, 61);
    EXPECT_EQ(samples[1].VideoEngineLoad, 4);
}

TEST(SamplingPointArithmetic, NeverWritesBeyondTheArray) {
    RunStatistics s = FreshStats(40, 10, 0.0);
    std::vector<FrameSample> samples(1);
    for (uint32_t i = 1; i <= 3; ++i) {
        s.FramesProcessed = 10 * i;
        ApplySamplingPoint(s, i, SamplerReadings(), false, samples.data(), samples.size());
    }
    EXPECT_EQ(s.SamplesStored, 1u);
    EXPECT_EQ(s.SampleCount, 3u);
}

// ------------------------------------------------- the loop, synthetically

namespace {

// A frame source whose frames cost nothing; it records what was requested
// and can fail a request.
class FakeClip {
public:
    void Fetch(uint32_t n) const {
        if (static_cast<int>(n) == FailAt) throw FrameServerError{"frame failed"};
        Requested.push_back(static_cast<int>(n));
    }

    mutable std::vector<int> Requested;
    int FailAt = -1;
};

// Clock readings and sampler values fed to the real sampling-point code.
struct Script {
    std::vector<double> Times;  // the start time first, then one per sampling point
    size_t NextTime = 0;
    std::vector<SamplerReadings> Readings;
    size_t NextReading = 0;
    int Refreshes = 0;
    int EscChecks = 0;
    int EscAtCheck = -1;  // 1-based check that reports Esc
    bool BeganBeforeClock = false;
};

Script& ScriptOf(BenchmarkState& state) {
    return *static_cast<Script*>(state.User);
}

SamplingHooks ScriptedHooks() {
    SamplingHooks hooks;
    hooks.Begin = [](BenchmarkState& state) { ScriptOf(state).BeganBeforeClock = ScriptOf(state).NextTime == 0; };
    hooks.Now = [](BenchmarkState& state) {
        Script& script = ScriptOf(state);
        return script.Times.at(script.NextTime++);
    };
    hooks.ReadSamplers = [](BenchmarkState& state) {
        Script& script = ScriptOf(state);
        if (script.NextReading < script.Readings.size()) state.Result.Readings = script.Readings[script.NextReading++];
    };
    hooks.Refresh = [](BenchmarkState& state) { ++ScriptOf(state).Refreshes; };
    hooks.EscPressed = [](BenchmarkState& state) {
        Script& script = ScriptOf(state);
        return ++script.EscChecks == script.EscAtCheck;
    };
    return hooks;
}

void Prepare(BenchmarkState& state, Script& script, uint32_t first, uint32_t last, uint32_t interval) {
    state.Hooks = ScriptedHooks();
    state.User = &script;
    PrepareRun(state, first, last, interval);
    StartMeasurement(state);
}

SamplerReadings Reading(uint16_t cpu, uint32_t phys, uint32_t virt, uint16_t threads) {
    SamplerReadings r;
    r.CPUUsage = cpu;
    r.PhysMemMB = phys;
    r.VirtMemMB = virt;
    r.ThreadCount = threads;
    return r;
}

}  // namespace

TEST(FrameLoop, PartialLastIntervalCountsButStoresNoSample) {
    FakeClip clip;
    Script script;
    script.Times = {10.0, 11.0, 11.5, 12.0};
    script.Readings = {Reading(10, 100, 50, 3), Reading(20, 300, 40, 4), Reading(40, 200, 60, 5)};
    BenchmarkState state;
    Prepare(state, script, 100, 124, 10);
    EXPECT_TRUE(script.BeganBeforeClock);
    EXPECT_EQ(state.Result.Progress, LoopProgress::Running);

    RunFrameLoop(clip, state);

    const RunStatistics& s = state.Result.Stats;
    ASSERT_EQ(clip.Requested.size(), 25u);
    EXPECT_EQ(clip.Requested.front(), 100);
    EXPECT_EQ(clip.Requested.back(), 124);
    EXPECT_EQ(s.FramesProcessed, 25u);
    EXPECT_EQ(s.SampleCount, 3u);
    ASSERT_EQ(s.SamplesStored, 2u);
    EXPECT_EQ(script.Refreshes, 2) << "no refresh for the partial interval";

    const FrameSample* samples = state.Result.Samples.get();
    EXPECT_EQ(samples[0].FrameNumber, 109u);
    EXPECT_DOUBLE_EQ(samples[0].FPS, 10.0);
    EXPECT_DOUBLE_EQ(samples[0].FPSAverage, 10.0);
    EXPECT_EQ(samples[0].CPUUsage, 10);
    EXPECT_EQ(samples[0].ThreadCount, 3);
    EXPECT_EQ(samples[1].FrameNumber, 119u);
    EXPECT_DOUBLE_EQ(samples[1].FPS, 20.0);
    EXPECT_DOUBLE_EQ(samples[1].FPSAverage, 20.0 / 1.5);
    EXPECT_EQ(samples[1].PhysMemMB, 300u);
    EXPECT_EQ(samples[2].FrameNumber, 0u);  // the zeroed rest of the array
    EXPECT_EQ(samples[2].FPS, 0.0);

    EXPECT_DOUBLE_EQ(s.FPSMin, 10.0);
    EXPECT_DOUBLE_EQ(s.FPSMax, 20.0);
    EXPECT_DOUBLE_EQ(s.FPSCurrent, 20.0);
    EXPECT_DOUBLE_EQ(s.FPSAverage, 12.5);  // the partial interval counts
    EXPECT_EQ(s.CPUAverage, 23u);          // 70 / 3 rounded
    EXPECT_EQ(s.PhysMemPeakMB, 300u);
    EXPECT_EQ(s.VirtMemPeakMB, 60u);
    EXPECT_EQ(s.ElapsedMs, 2000);
    EXPECT_EQ(s.EstimatedMs, 2000);
    EXPECT_EQ(s.LastFrame, 124u);
    EXPECT_EQ(s.CurrentFrame, 125u);
}

TEST(FrameLoop, RefreshAtMostEveryQuarterSecondAndKeysOnlyThen) {
    FakeClip clip;
    Script script;
    script.Times.push_back(0.0);
    for (int i = 1; i <= 10; ++i) script.Times.push_back(0.125 * i);
    BenchmarkState state;
    Prepare(state, script, 0, 99, 10);
    RunFrameLoop(clip, state);
    EXPECT_EQ(state.Result.Stats.SamplesStored, 10u);
    EXPECT_EQ(script.Refreshes, 5);
    EXPECT_EQ(script.EscChecks, 5);
    EXPECT_DOUBLE_EQ(state.Result.Stats.LastDisplayTime, 1.25);
}

TEST(FrameLoop, TimeLimitStopsAtTheFirstRefreshPastIt) {
    FakeClip clip;
    Script script;
    script.Times = {0.0, 0.3, 0.6, 0.9, 1.2, 1.5};
    BenchmarkState state;
    state.TimeLimit = 1;
    Prepare(state, script, 50, 149, 10);
    RunFrameLoop(clip, state);
    const RunStatistics& s = state.Result.Stats;
    EXPECT_EQ(clip.Requested.size(), 40u);
    EXPECT_EQ(s.LastFrame, 89u);
    EXPECT_EQ(s.FramesProcessed, s.LastFrame - s.FirstFrame + 1);
    EXPECT_EQ(s.ElapsedMs, 1200);
    EXPECT_EQ(s.EstimatedMs, 3000);
    EXPECT_EQ(s.SamplesStored, 4u);
    EXPECT_EQ(script.EscChecks, 3) << "the time limit is checked before the keyboard";
}

TEST(FrameLoop, EscStopsOtherKeysDoNot) {
    FakeClip clip;
    Script script;
    script.Times = {0.0, 0.5, 1.0, 1.5, 2.0};
    script.EscAtCheck = 2;
    BenchmarkState state;
    Prepare(state, script, 0, 99, 10);
    RunFrameLoop(clip, state);
    EXPECT_EQ(clip.Requested.size(), 20u);
    EXPECT_EQ(state.Result.Stats.LastFrame, 19u);
    EXPECT_EQ(state.Result.Stats.FramesProcessed, 20u);
}

TEST(FrameLoop, FailedRequestLeavesTheSamplesSoFar) {
    FakeClip clip;
    clip.FailAt = 14;
    Script script;
    script.Times = {0.0, 1.0, 2.0, 3.0};
    BenchmarkState state;
    Prepare(state, script, 0, 29, 5);
    EXPECT_THROW(RunFrameLoop(clip, state), FrameServerError);
    EXPECT_EQ(state.Result.Progress, LoopProgress::Running);
    EXPECT_EQ(state.Result.Stats.SamplesStored, 2u);
    EXPECT_EQ(state.Result.Stats.FramesProcessed, 14u);
    EXPECT_EQ(state.Result.Samples[1].FrameNumber, 9u);
    EXPECT_EQ(state.Result.Stats.EstimatedMs, 6000);

    // The run ends at the last frame read, with nothing extrapolated.
    EndFailedRun(state.Result);
    EXPECT_EQ(state.Result.Stats.LastFrame, 13u);
    EXPECT_EQ(state.Result.Stats.ElapsedMs, 2000);
    EXPECT_EQ(state.Result.Stats.EstimatedMs, 2000);
    EXPECT_EQ(FrameReadFailureText("frame failed", 14), "frame failed\n(while reading frame 14)");
}

TEST(FrameLoop, ClipWithoutFramesRequestsNothing) {
    // The default range of an empty clip, accepted at the prompt.
    FakeClip clip;
    Script script;
    script.Times = {0.0};
    BenchmarkState state;
    Prepare(state, script, 0, UINT32_MAX, 10);
    EXPECT_EQ(state.Result.Stats.FramesToProcess, 0u);
    RunFrameLoop(clip, state);
    EXPECT_TRUE(clip.Requested.empty());
    EXPECT_EQ(state.Result.Stats.FramesProcessed, 0u);
}

TEST(Preparation, EnlargesAllocatesZeroedAndResets) {
    BenchmarkState state;
    state.Result.Stats.FramesProcessed = 99;
    state.Result.Stats.FPSMin = 3;
    state.Result.Stats.DisplayShown = true;
    PrepareRun(state, 0, 9999999, 10);
    EXPECT_EQ(state.Result.Stats.SamplingInterval, 100u);
    ASSERT_EQ(state.Result.SampleCapacity, 100002u);
    for (size_t i = 0; i < state.Result.SampleCapacity; i += 9999) {
        EXPECT_EQ(state.Result.Samples[i].FrameNumber, 0u);
        EXPECT_EQ(state.Result.Samples[i].FPS, 0.0);
        EXPECT_EQ(state.Result.Samples[i].VirtMemMB, 0u);
    }
    EXPECT_EQ(state.Result.Samples[state.Result.SampleCapacity - 1].ThreadCount, 0);
    EXPECT_EQ(state.Result.Stats.FramesToProcess, 10000000u);
    EXPECT_EQ(state.Result.Stats.FramesProcessed, 0u);
    EXPECT_EQ(state.Result.Stats.FPSMin, 1e20);
    EXPECT_FALSE(state.Result.Stats.DisplayShown);
    EXPECT_EQ(state.Result.Progress, LoopProgress::Running);
}
