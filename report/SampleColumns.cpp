#include "report/SampleColumns.h"

#include "report/ReportFile.h"

namespace {

// Counted from 1; 32-bit like the frame numbers themselves.
double FrameColumn(const FrameSample& s) { return static_cast<uint32_t>(s.FrameNumber + 1u); }
double RateColumn(const FrameSample& s) { return s.FPS; }
double AverageRateColumn(const FrameSample& s) { return s.FPSAverage; }
double TimeColumn(const FrameSample& s) { return 1000.0 / s.FPS; }
double AverageTimeColumn(const FrameSample& s) { return 1000.0 / s.FPSAverage; }
double CPUColumn(const FrameSample& s) { return s.CPUUsage; }
double GPUColumn(const FrameSample& s) { return s.GPULoad; }
double VPUColumn(const FrameSample& s) { return s.VideoEngineLoad; }
double ProcessGPUColumn(const FrameSample& s) { return s.ProcessGPULoad; }
double ThreadsColumn(const FrameSample& s) { return s.ThreadCount; }
double PhysColumn(const FrameSample& s) { return s.PhysMemMB; }
double VirtColumn(const FrameSample& s) { return s.VirtMemMB; }

const SampleColumn kColumns[] = {
    {"Frame", 12, ColumnFormat::Count, ColumnNeed::Always, FrameColumn},
    {"Frames/sec", 13, ColumnFormat::Fixed3, ColumnNeed::Always, RateColumn},
    {"Frames/sec(average)", 0, ColumnFormat::Fixed3, ColumnNeed::Always, AverageRateColumn},
    {"Time/frame(ms)", 16, ColumnFormat::Fixed6, ColumnNeed::Always, TimeColumn},
    {"Time/frame(average)(ms)", 0, ColumnFormat::Fixed6, ColumnNeed::Always, AverageTimeColumn},
    {"CPU(%)", 8, ColumnFormat::Count, ColumnNeed::Always, CPUColumn},
    {"GPU(%)", 8, ColumnFormat::Count, ColumnNeed::GPUMonitoring, GPUColumn},
    {"VPU(%)", 8, ColumnFormat::Count, ColumnNeed::VideoEngine, VPUColumn},
    {"Threads", 9, ColumnFormat::Count, ColumnNeed::Always, ThreadsColumn},
    {"PhysMEM(MB)", 13, ColumnFormat::Count, ColumnNeed::Always, PhysColumn},
    {"VirtMEM(MB)", 13, ColumnFormat::Count, ColumnNeed::Always, VirtColumn},
    // Last, so that the columns of every file without it stay where they were.
    {"ProcessGPU(%)", 15, ColumnFormat::Count, ColumnNeed::ProcessLoad, ProcessGPUColumn},
};

}  // namespace

const SampleColumn* SampleColumnsBegin() { return std::begin(kColumns); }
const SampleColumn* SampleColumnsEnd() { return std::end(kColumns); }

bool ColumnShown(const SampleColumn& column, const SampleColumnChoice& choice, ColumnSet set) {
    if (set == ColumnSet::Log && column.LogWidth == 0) return false;
    switch (column.Need) {
    case ColumnNeed::Always: return true;
    case ColumnNeed::GPUMonitoring: return choice.MonitorGPU;
    case ColumnNeed::VideoEngine: return choice.MonitorGPU && choice.HasVideoEngine;
    case ColumnNeed::ProcessLoad: return choice.MonitorGPU && choice.HasProcessLoad;
    }
    return false;
}

void AppendColumnValue(std::string& out, const SampleColumn& column, const FrameSample& sample, int width) {
    const double value = column.Value(sample);
    switch (column.Format) {
    case ColumnFormat::Count: AppendUnsigned(out, static_cast<uint64_t>(value), width); return;
    case ColumnFormat::Fixed3: AppendFixed(out, value, 3, width); return;
    case ColumnFormat::Fixed6: AppendFixed(out, value, 6, width); return;
    }
}
