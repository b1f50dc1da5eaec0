#include "measure/Benchmark.h"

#include "measure/GPUMonitor.h"
#include "measure/Sampling.h"
#include "measure/Timer.h"
#include "platform/Keyboard.h"
#include "platform/Signals.h"

namespace {

constexpr int kEscKey = 27;

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
    SamplerReadings& readings = state.Result.Readings;
    process.Update();
    static_cast<ProcessReadings&>(readings) = process;
    readings.CPUPending = !process.HasCPUReading();
    if (state.MonitorGPU && state.GPU != nullptr) {
        state.GPU->ReadSensors();
        static_cast<GPUReadings&>(readings) = *state.GPU;
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
    RefreshDisplay(state.Result.Stats, state.Result.Readings, OptionsFor(state));
}

bool LiveEscPressed(BenchmarkState& state) {
    // Without an interactive keyboard nothing can be read without blocking.
    if (!state.KeyboardInteractive || !platform::KeyWaiting()) return false;
    return platform::ReadKey() == kEscKey;
}

}  // namespace

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

const char* ReadingMessage(uint32_t framesToProcess) {
    return framesToProcess == 1 ? "Reading frame..." : "Reading frames...";
}

SamplingHooks LiveSamplingHooks() {
    return SamplingHooks{LiveBegin, LiveNow, LiveReadSamplers, LiveRefresh, LiveEscPressed};
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
    BenchmarkResult& result = state.Result;
    // An interruption after the last look at the flag still ends the series.
    if (result.Stop == RunEnding::Kind::Completed && platform::InterruptionRequested())
        result.Stop = RunEnding::Kind::StoppedBySignal;
    state.Process->CloseHandles();
    CloseSamples(result.Stats, result.Samples.get());
    result.Progress = LoopProgress::Ended;
}
