// The samplers' readings, the per-interval measurement record and the
// loop's running aggregates.
#pragma once

#include <cstdint>

// What the process sampler reads; CProcessInfo holds these fields.
struct ProcessReadings {
    uint16_t CPUUsage = 0;
    uint16_t ThreadCount = 0;
    uint32_t PhysMemMB = 0;
    uint32_t VirtMemMB = 0;
};

// What the GPU monitor reads; CGPUInfo and CGPUMonitor hold these fields.
struct GPUReadings {
    uint16_t GPULoad = 0;
    uint16_t VideoEngineLoad = 0;
    uint32_t MemoryUsed = 0;
    uint32_t MemoryDedicated = 0;
    uint32_t MemoryDynamic = 0;
    uint16_t ProcessGPULoad = 0;  // this process's own share, where the driver tells it
};

// One stored measurement: the process readings, the GPU loads and the rates
// at a sampling point.
struct FrameSample : ProcessReadings {
    uint32_t FrameNumber = 0;
    double FPS = 0;
    double FPSAverage = 0;
    uint16_t GPULoad = 0;
    uint16_t VideoEngineLoad = 0;
    uint16_t ProcessGPULoad = 0;
};

struct RunStatistics {
    uint32_t FramesToProcess = 0;
    uint32_t FirstFrame = 0;
    uint32_t LastFrame = 0;
    uint32_t CurrentFrame = 0;
    uint32_t FramesProcessed = 0;
    uint32_t SamplingInterval = 0;
    uint32_t SampleCount = 0;
    uint32_t SamplesStored = 0;
    double StartTime = 0;
    double LastSampleTime = 0;  // the last stored sample's sampling point
    double LastDisplayTime = 0;
    // The open span of samples whose rate is not known yet: a span closes at
    // the first sampling point at least 10 ms after its start, and each of
    // its samples gets the rate over the whole span.
    double SpanStartTime = 0;
    uint32_t SpanStartFrames = 0;  // frames processed when the span began
    uint32_t SpanFirstSample = 0;  // its first stored sample
    double FPSCurrent = 0;
    double FPSMin = 1e20;
    double FPSMax = 0;
    double FPSAverage = 0;
    uint32_t CPUSum = 0, CPUAverage = 0;
    uint32_t CPUPendingPoints = 0;  // sampling points before the first CPU reading
    uint32_t GPUSum = 0, GPUAverage = 0;
    uint32_t VPUSum = 0, VPUAverage = 0;
    uint32_t ProcessGPUSum = 0, ProcessGPUAverage = 0;
    uint32_t PhysMemPeakMB = 0, VirtMemPeakMB = 0;
    int64_t ElapsedMs = 0;
    int64_t EstimatedMs = 0;
    bool DisplayShown = false;
    uint32_t DisplayLines = 0;
};
