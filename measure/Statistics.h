// The per-interval measurement record and the loop's running aggregates.
#pragma once

#include <cstdint>

struct FrameSample {
    uint32_t FrameNumber;
    double FPS;
    double FPSAverage;
    uint16_t CPUUsage;
    uint16_t GPULoad;
    uint16_t VideoEngineLoad;
    uint32_t PhysMemMB;
    uint32_t VirtMemMB;
    uint16_t ThreadCount;
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
    double LastSampleTime = 0;
    double LastDisplayTime = 0;
    double FPSCurrent = 0;
    double FPSMin = 1e20;
    double FPSMax = 0;
    double FPSAverage = 0;
    uint32_t CPUSum = 0, CPUAverage = 0;
    uint32_t GPUSum = 0, GPUAverage = 0;
    uint32_t VPUSum = 0, VPUAverage = 0;
    uint32_t PhysMemPeakMB = 0, VirtMemPeakMB = 0;
    int64_t ElapsedMs = 0;
    int64_t EstimatedMs = 0;
    bool DisplayShown = false;
    uint32_t DisplayLines = 0;
};
