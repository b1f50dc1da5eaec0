// One evaluate-measure-release cycle: open the frame server, evaluate the
// script, resolve the frame range, measure, summarise; the ending is in
// app/CycleEnd.cpp.
#include "app/Dialogs.h"
#include "app/FrameServerSteps.h"
#include "platform/Console.h"
#include "platform/Signals.h"
#include "platform/Time.h"
#include "report/ClipReport.h"
#include "support/Console.h"

namespace {

// The console lines of the clip report (the audio lines go to the log only).
void PrintClipReport(const ClipReportText& report) {
    const platform::Stream stream = MessageStream();
    for (const std::string& line : report.VideoLines) ConsolePrint(stream, ColourUnchanged, "\n%s", line.c_str());
    ConsolePrint(stream, ColourUnchanged, "\n%s", kColourSpaceLabel);
    ConsolePrint(stream, ColourUnchanged, "%s\n", report.ColourSpaceName.c_str());
    if (!report.MTModeLine.empty()) ConsolePrint(stream, ColourUnchanged, "%s\n", report.MTModeLine.c_str());
}

// The summary over the live display, with the frame-time lines.
void ShowSummary(const BenchmarkResult& benchmark, const DisplayOptions& options) {
    const RunSummary summary = PrintRunSummary(benchmark.Stats, benchmark.Readings, options);
    if (benchmark.FrameTimes && !summary.Insufficient) {
        const FrameTimeSummary times = SummariseFrameTimes(*benchmark.FrameTimes, platform::FrameCounterFrequency());
        for (const std::string& line : FrameTimeLines(times)) PrintPermanentLine(ColourReport, line);
    }
}

}  // namespace

CycleEnd FrameServerSteps::Cycle(SeriesReport& series, uint32_t number) {
    // GPU-Z's block is closed after each measurement (not after a failed
    // one); later cycles open it anew.
    if (monitorGPU && !firstCycle && !gpu.Resume()) {
        PrintError(FormatText("\nCannot initialize GPU-Z shared memory:\n%s", gpu.ErrorText.c_str()));
        return CycleEnd::SetupFailed;
    }
    firstCycle = false;
    CatchInterruptions();

    // The main connection: the library and an environment.
    const OpenedSession opened = OpenSession(call.AVSDLL, avisynthInfo.InterfaceVersion);
    if (!opened.Session) {
        PrintError("\n" + opened.Text + "\n");
        return CycleEnd::SetupFailed;
    }
    CycleWork cycle;
    cycle.session = opened.Session.get();
    cycleWork = &cycle;
    const SessionResult work = RunSession(*cycle.session, [&] { CycleInRegion(series, number, cycle); },
                                          [&] {
                                              // The system's text is read after the display lines are
                                              // cleared, as for the other failures (the summary follows a
                                              // failure while closing).
                                              if (!cycle.closing) BeginExceptionPath(cycle);
                                              return std::string("Unknown exception");
                                          });
    cycleWork = nullptr;
    return EndCycle(series, number, cycle, work.Work);
}

void FrameServerSteps::CycleInRegion(SeriesReport& series, uint32_t number, CycleWork& cycle) {
    if (!EvaluateScript(series, number, cycle)) return;
    if (call.InfoOnly) {
        EndInformationRun(series, number, cycle);
        return;
    }
    std::optional<BenchmarkSetup> setup = ResolveRange(series, number, cycle);
    if (!setup || EndedByInterruption(cycle)) return;
    Measure(series, number, cycle, *setup);
    Summarise(cycle, *setup);
}

// The script and the report facts; false when an interruption ended the
// cycle meanwhile.
bool FrameServerSteps::EvaluateScript(SeriesReport& series, uint32_t number, CycleWork& cycle) {
    ShowStatus("Loading script...");
    ScriptChecks checks;
    checks.NotAClip = "\"%s\":\nScript did not return a clip";
    if (series.Scan) cycle.session->SetGlobal(series.Scan->Name, series.Scan->Value);
    cycle.session->Evaluate(series.ScriptPath, checks, call.InvokeDistributor);
    ClearStatus();
    if (EndedByInterruption(cycle)) return false;
    const ClipFacts& clip = cycle.session->Facts();
    if (monitorGPU) series.GraphicsCard = gpu.Facts();
    series.Clip = clip;
    if (number == 1) PrintClipReport(BuildClipReport(clip));
    return true;
}

// An evaluation cannot be interrupted safely; one that came meanwhile ends
// the series now, before anything is measured.
bool FrameServerSteps::EndedByInterruption(CycleWork& cycle) {
    if (!platform::InterruptionRequested()) return false;
    cycle.session->ReleaseScript();
    cycle.earlyEnd = CycleEnd::Interrupted;
    return true;
}

// Information only (-info): the clip's facts are the run.
void FrameServerSteps::EndInformationRun(SeriesReport& series, uint32_t number, CycleWork& cycle) {
    cycle.session->ReleaseScript();
    RunRecord record;
    record.Number = number;
    series.Runs.push_back(record);
    WriteEarlyLog(series, ColourError);
    cycle.earlyEnd = CycleEnd::InfoOnly;
}

// The frames to read: the range asked for, or the whole clip when that
// range does not fit the clip and the user accepts (asked once per script);
// none when the user declines.
std::optional<BenchmarkSetup> FrameServerSteps::ResolveRange(SeriesReport& series, uint32_t number,
                                                             CycleWork& cycle) {
    if (number == 1) ConsolePrint(MessageStream(), ColourUnchanged, "\n");
    const uint32_t clipFrames = series.Clip->FramesToRead;
    BenchmarkSetup setup;
    if (const std::optional<FrameSpan> range = ResolveFrameRange(call.FrameRange, clipFrames)) {
        setup.FirstFrame = range->First;
        setup.LastFrame = range->Last;
        return setup;
    }
    if (!defaultRangeAccepted && !AcceptDefaultRange(clipFrames, call.FrameRange.Text)) {
        if (EndedByInterruption(cycle)) return std::nullopt;
        cycle.session->ReleaseScript();
        series.RangeRefused = true;
        WriteEarlyLog(series, ColourUnchanged);
        cycle.earlyEnd = CycleEnd::RangeRefused;
        return std::nullopt;
    }
    defaultRangeAccepted = true;
    setup.FirstFrame = 0;
    setup.LastFrame = clipFrames - 1;
    return setup;
}

void FrameServerSteps::Measure(const SeriesReport& series, uint32_t number, CycleWork& cycle,
                               BenchmarkSetup& setup) {
    if (series.RunsRequested > 1) {
        if (number > 1) ConsolePrint(MessageStream(), ColourUnchanged, "\n");
        PrintPermanentLine(ColourReport, FormatText("Run %u of %u", number, series.RunsRequested));
    }
    ShowStatus(ReadingMessage(setup.LastFrame - setup.FirstFrame + 1));
    setup.SamplingInterval = samplingInterval;
    setup.TimeLimit = call.TimeLimit;
    setup.Display = DisplayOptionsOf(call, monitorGPU);
    setup.FrameTimes = call.FrameTimes;
    MeasureFrames(*cycle.session, setup, gpu, cycle.benchmark);
}

// The summary and the teardown of the frame server.
void FrameServerSteps::Summarise(CycleWork& cycle, const BenchmarkSetup& setup) {
    if (monitorGPU) gpu.Suspend();
    cycle.display = setup.Display;
    cycle.closing = true;
    cycle.session->ReleaseScript();
    ShowCycleSummary(cycle, cycle.display);
}

// The run's summary on the console; the log's has the same lines.
void FrameServerSteps::ShowCycleSummary(CycleWork& cycle, const DisplayOptions& display) {
    cycle.summary = WithGPUFacts(display, gpu);
    ShowSummary(cycle.benchmark.Result, *cycle.summary);
}
