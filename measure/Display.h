// The live display rewritten in place during the benchmark, and the run
// summary that overwrites it at the end (the log's "[Runtime info]" section
// has the same lines, report/RunReport.h). The texts are built by pure
// functions from values; the Print/Refresh functions only write them out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/Statistics.h"

// The current readings of the last sampling point.
struct SamplerReadings : ProcessReadings, GPUReadings {
    // The process sampler has not read the processor use yet (it needs two
    // readings 100 ms apart): CPUUsage is no figure.
    bool CPUPending = false;
};

// Which lines the display and summary carry.
struct DisplayOptions {
    bool DisplayFPS = true;
    bool DisplayTPF = false;
    bool MonitorGPULoad = false;
    bool LogEstimatedTime = false;
    bool HasVideoEngine = false;
    bool HasMemoryUsed = false;
    bool HasMemoryDedicated = false;
    bool HasMemoryDynamic = false;
    bool HasProcessLoad = false;
    // Why the driver's readings ended during the run; empty while they go on.
    std::string GPUReadingsEnded;
    // Esc can be read (standard input is a keyboard); otherwise the prompt
    // names Ctrl+C, which stops the run there.
    bool EscKeyRead = true;
};

enum class LineKind {
    Text,       // padded, "\r%s\n", one line
    Blank,      // "\n" unpadded, colour 0, one line
    EscPrompt,  // "\nPress 'Esc' to cancel the process...\n\n" (or Ctrl+C), colour 0, three lines
};

struct ScreenLine {
    LineKind Kind;
    std::string Text;
};

// Console lines the given screen lines occupy.
uint32_t ScreenLineCount(const std::vector<ScreenLine>& lines);

std::vector<ScreenLine> LiveDisplayLines(const RunStatistics& stats, const SamplerReadings& readings,
                                         const DisplayOptions& options);

struct RunSummary {
    // Fewer frames than one sampling interval: only the notice is shown.
    bool Insufficient = false;
    std::vector<ScreenLine> Lines;
};

RunSummary BuildRunSummary(const RunStatistics& stats, const SamplerReadings& readings,
                           const DisplayOptions& options);

// One refresh of the live display: back to its first line when it has been
// shown, then its lines; updates DisplayShown and DisplayLines.
void RefreshDisplay(RunStatistics& stats, const SamplerReadings& readings, const DisplayOptions& options);

// Prints the summary over the display; returns it.
RunSummary PrintRunSummary(const RunStatistics& stats, const SamplerReadings& readings, const DisplayOptions& options);
