#include "measure/Display.h"

#include "measure/Timer.h"
#include "support/Console.h"
#include "support/Text.h"

namespace {

const char* const kEscPromptText = "Press 'Esc' to cancel the process...";
const char* const kCtrlCPromptText = "Press Ctrl+C to cancel the process...";

void AddText(std::vector<ScreenLine>& lines, std::string text) {
    lines.push_back(ScreenLine{LineKind::Text, std::move(text)});
}

void AddBlank(std::vector<ScreenLine>& lines) {
    lines.push_back(ScreenLine{LineKind::Blank, std::string()});
}

// The GPU block shared by the display (current | average) and the summary
// (average only); the memory lines and the end of the readings are the same
// in both.
void AddMemoryLines(std::vector<ScreenLine>& lines, const SamplerReadings& r, const DisplayOptions& o) {
    if (o.HasMemoryUsed) AddText(lines, FormatText("GPU memory usage:               %u MB", r.MemoryUsed));
    if (o.HasMemoryDedicated)
        AddText(lines, FormatText("GPU memory usage (Dedicated):   %u MB", r.MemoryDedicated));
    if (o.HasMemoryDynamic) AddText(lines, FormatText("GPU memory usage (Dynamic):     %u MB", r.MemoryDynamic));
    if (!o.GPUReadingsEnded.empty()) AddText(lines, "GPU readings ended:             " + o.GPUReadingsEnded);
}

void PrintLines(const std::vector<ScreenLine>& lines, uint16_t textColour) {
    const platform::Stream stream = MessageStream();
    for (const ScreenLine& line : lines) {
        switch (line.Kind) {
        case LineKind::Text:
            PrintPermanentLine(textColour, line.Text);
            break;
        case LineKind::Blank:
            ConsolePrint(stream, ColourUnchanged, "\n");
            break;
        case LineKind::EscPrompt:
            ConsolePrint(stream, ColourUnchanged, "\n%s\n\n", line.Text.c_str());
            break;
        }
    }
}

}  // namespace

uint32_t ScreenLineCount(const std::vector<ScreenLine>& lines) {
    uint32_t count = 0;
    for (const ScreenLine& line : lines) count += line.Kind == LineKind::EscPrompt ? 3 : 1;
    return count;
}

std::vector<ScreenLine> LiveDisplayLines(const RunStatistics& s, const SamplerReadings& r, const DisplayOptions& o) {
    std::vector<ScreenLine> lines;
    lines.reserve(16);
    AddText(lines, FormatText("Frame (current | last):         %u | %u", s.CurrentFrame, s.LastFrame));
    if (o.DisplayFPS)
        AddText(lines, FormatText("FPS (cur | min | max | avg):    %s | %s | %s | %s", FormatFPS(s.FPSCurrent).c_str(),
                                  FormatFPS(s.FPSMin).c_str(), FormatFPS(s.FPSMax).c_str(),
                                  FormatFPS(s.FPSAverage).c_str()));
    if (o.DisplayTPF)
        AddText(lines, FormatText("TPF (cur | max | min | avg):    %s | %s | %s | %s ms",
                                  FormatTPF(1000.0 / s.FPSCurrent).c_str(), FormatTPF(1000.0 / s.FPSMin).c_str(),
                                  FormatTPF(1000.0 / s.FPSMax).c_str(), FormatTPF(1000.0 / s.FPSAverage).c_str()));
    AddText(lines, FormatText("Memory usage (phys | virt):     %u | %u MB", r.PhysMemMB, r.VirtMemMB));
    AddText(lines, FormatText("Thread count:                   %u", static_cast<unsigned>(r.ThreadCount)));
    AddText(lines, FormatText("CPU usage (current | average):  %u%% | %u%%", static_cast<unsigned>(r.CPUUsage),
                              s.CPUAverage));
    if (o.MonitorGPULoad) {
        AddBlank(lines);
        AddText(lines, FormatText("GPU usage (current | average):  %u%% | %u%%", static_cast<unsigned>(r.GPULoad),
                                  s.GPUAverage));
        if (o.HasVideoEngine)
            AddText(lines, FormatText("Video engine load (cur | avg):  %u%% | %u%%",
                                      static_cast<unsigned>(r.VideoEngineLoad), s.VPUAverage));
        AddMemoryLines(lines, r, o);
    }
    AddBlank(lines);
    AddText(lines, FormatText("Time (elapsed | estimated):     %s | %s", Timer.FormatDuration(s.ElapsedMs, false).c_str(),
                              Timer.FormatDuration(s.EstimatedMs, false).c_str()));
    lines.push_back(ScreenLine{LineKind::EscPrompt, o.EscKeyRead ? kEscPromptText : kCtrlCPromptText});
    return lines;
}

RunSummary BuildRunSummary(const RunStatistics& s, const SamplerReadings& r, const DisplayOptions& o) {
    RunSummary summary;
    if (s.FramesProcessed < s.SamplingInterval) {
        summary.Insufficient = true;
        AddText(summary.Lines, "Insufficient data for measurements");
        return summary;
    }

    std::vector<ScreenLine>& lines = summary.Lines;
    if (s.FirstFrame != s.LastFrame)
        AddText(lines, FormatText("Frames processed:               %u (%u - %u)", s.FramesProcessed, s.FirstFrame,
                                  s.LastFrame));
    else if (s.FirstFrame != 0)
        AddText(lines, FormatText("Frames processed:               %u (%u)", s.FramesProcessed, s.FirstFrame));
    else
        AddText(lines, FormatText("Frames processed:               %u", s.FramesProcessed));
    if (o.DisplayFPS)
        AddText(lines, FormatText("FPS (min | max | average):      %s | %s | %s", FormatFPS(s.FPSMin).c_str(),
                                  FormatFPS(s.FPSMax).c_str(), FormatFPS(s.FPSAverage).c_str()));
    if (o.DisplayTPF)
        AddText(lines, FormatText("TPF (max | min | average):      %s | %s | %s ms", FormatTPF(1000.0 / s.FPSMin).c_str(),
                                  FormatTPF(1000.0 / s.FPSMax).c_str(), FormatTPF(1000.0 / s.FPSAverage).c_str()));
    AddText(lines, FormatText("Memory usage (phys | virt):     %u | %u MB", s.PhysMemPeakMB, s.VirtMemPeakMB));
    AddText(lines, FormatText("Thread count:                   %u", static_cast<unsigned>(r.ThreadCount)));
    AddText(lines, FormatText("CPU usage (average):            %u%%", s.CPUAverage));
    if (o.MonitorGPULoad) {
        AddBlank(lines);
        AddText(lines, FormatText("GPU usage (average):            %u%%", s.GPUAverage));
        if (o.HasVideoEngine) AddText(lines, FormatText("Video engine load (average):    %u%%", s.VPUAverage));
        if (o.HasProcessLoad) AddText(lines, FormatText("GPU usage of Tachoro (average): %u%%", s.ProcessGPUAverage));
        AddMemoryLines(lines, r, o);
    }
    AddBlank(lines);
    if (o.LogEstimatedTime && s.FramesProcessed < s.FramesToProcess)
        AddText(lines, FormatText("Time (elapsed | estimated):     %s | %s",
                                  Timer.FormatDuration(s.ElapsedMs, false).c_str(),
                                  Timer.FormatDuration(s.EstimatedMs, false).c_str()));
    else
        AddText(lines, FormatText("Time (elapsed):                 %s", Timer.FormatDuration(s.ElapsedMs, false).c_str()));
    return summary;
}

void RefreshDisplay(RunStatistics& stats, const SamplerReadings& readings, const DisplayOptions& options) {
    if (stats.DisplayShown) Utils.MoveCursorUp(static_cast<int>(stats.DisplayLines));
    stats.DisplayLines = 0;
    stats.DisplayShown = true;
    const std::vector<ScreenLine> lines = LiveDisplayLines(stats, readings, options);
    PrintLines(lines, ColourReport);
    stats.DisplayLines = ScreenLineCount(lines);
}

RunSummary PrintRunSummary(const RunStatistics& stats, const SamplerReadings& readings, const DisplayOptions& options) {
    RunSummary summary = BuildRunSummary(stats, readings, options);
    if (summary.Insufficient) {
        PrintLines(summary.Lines, ColourUnchanged);
        return summary;
    }
    if (stats.DisplayShown) Utils.MoveCursorUp(static_cast<int>(stats.DisplayLines));
    PrintLines(summary.Lines, ColourReport);
    // Blank what is left of the display's Esc prompt, then stand on the line
    // after the summary.
    PrintPermanentLine(ColourUnchanged, std::string());
    PrintPermanentLine(ColourUnchanged, std::string());
    Utils.MoveCursorUp(2);
    return summary;
}
