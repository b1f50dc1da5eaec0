// The benchmark: the frame loop driven live, with the timer, the samplers,
// the GPU monitor, the live display and the keyboard. It measures and shows
// the live display; the run sequence checks the range before and prints the
// summary, writes the files and tears down after.
#pragma once

#include <cstdint>

#include "measure/Display.h"
#include "measure/FrameLoop.h"
#include "support/SEException.h"

class CGPUMonitor;

// The display options with the GPU facts the monitor has shown so far.
DisplayOptions WithGPUFacts(DisplayOptions options, const CGPUMonitor& gpu);

// "Reading frames..." or, for exactly one frame, "Reading frame...".
const char* ReadingMessage(uint32_t framesToProcess);

// The live hooks: the timer, the process sampler and the GPU monitor, the
// display on the console, Esc from an interactive keyboard.
SamplingHooks LiveSamplingHooks();

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
// Closes the process sampler's handle and the samples; the loop has Ended.
void EndBenchmark(BenchmarkState& state);

// The benchmark of an evaluated script over its frame source. Frame-server
// errors and translated faults propagate (run it in a frame-server region);
// `state.Result` then holds what was measured so far.
template <class Frames>
void RunBenchmark(const Frames& frames, const BenchmarkSetup& setup, CGPUMonitor& gpu, BenchmarkState& state) {
    BeginBenchmark(setup, gpu, state);
    {
        KeyboardSession keyboard;
        if (state.Result.FrameTimes)
            Guarded([&state, &frames] { RunFrameLoop(frames, state, FrameTiming(*state.Result.FrameTimes)); });
        else
            Guarded([&state, &frames] { RunFrameLoop(frames, state); });
    }
    EndBenchmark(state);
}
