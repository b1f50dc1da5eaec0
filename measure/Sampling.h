// The sampling arithmetic: the interval, the sample array, what a sampling
// point adds to the run's statistics and how the run's samples are closed.
// Pure functions of values, tested without a clock or a frame server.
#pragma once

#include <cstddef>
#include <cstdint>

#include "measure/Display.h"
#include "measure/Statistics.h"

// N grows by factors of 10 while more than 500000 intervals would result.
// An interval of 0 is taken as 1.
uint32_t EnlargeSamplingInterval(uint32_t framesToProcess, uint32_t samplingInterval);

// Entries of the sample array: one per possible interval plus two.
size_t SampleArrayEntries(uint32_t framesToProcess, uint32_t samplingInterval);

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

// The time limit in seconds (-1: none) against the elapsed milliseconds.
bool TimeLimitReached(int64_t elapsedMs, int64_t timeLimitSeconds);
