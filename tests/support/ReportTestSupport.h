// Shared by the tests of the log and CSV writers.
#pragma once

#include <cstdint>

#include <optional>
#include <string>

#include "measure/Statistics.h"
#include "report/RunReport.h"

// A run report with these samples and columns; `run` gives the report
// sections that precede the script in the log.
inline RunReport SampleReport(const std::string& scriptPath, const FrameSample* samples, uint32_t count,
                              bool monitorGPU, bool hasVideoEngine, const RunRecord* run = nullptr,
                              const std::optional<GraphicsCardFacts>& graphicsCard = std::nullopt,
                              const std::string& loggedError = std::string()) {
    RunReport report;
    report.ScriptPath = scriptPath;
    report.Run = run;
    report.GraphicsCard = graphicsCard;
    report.Columns.MonitorGPU = monitorGPU;
    report.Columns.HasVideoEngine = hasVideoEngine;
    report.Samples = samples;
    report.SampleCount = count;
    report.LoggedError = loggedError;
    return report;
}

inline FrameSample MakeSample(uint32_t frameNumber, double fps, double average, uint16_t cpu, uint16_t gpu,
                              uint16_t vpu, uint16_t threads, uint32_t phys, uint32_t virt) {
    FrameSample sample{};
    sample.FrameNumber = frameNumber;
    sample.FPS = fps;
    sample.FPSAverage = average;
    sample.CPUUsage = cpu;
    sample.GPULoad = gpu;
    sample.VideoEngineLoad = vpu;
    sample.ThreadCount = threads;
    sample.PhysMemMB = phys;
    sample.VirtMemMB = virt;
    return sample;
}
