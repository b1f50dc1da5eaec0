// Shared by the tests of the log and CSV writers.
#pragma once

#include <cstdint>

#include "app/Settings.h"
#include "measure/Statistics.h"

// Sets MonitorGPULoad for one test and restores it afterwards: the writers
// read it from the process-wide settings record.
class MonitorGPUSetting {
public:
    explicit MonitorGPUSetting(int32_t value) : Saved(Settings.MonitorGPULoad) { Settings.MonitorGPULoad = value; }
    ~MonitorGPUSetting() { Settings.MonitorGPULoad = Saved; }
    MonitorGPUSetting(const MonitorGPUSetting&) = delete;
    MonitorGPUSetting& operator=(const MonitorGPUSetting&) = delete;

private:
    int32_t Saved;
};

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
