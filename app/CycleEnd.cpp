// The end of a cycle, however its work ended: the failure's message, the
// library's release, and the run's record in the series.
#include "app/Dialogs.h"
#include "app/FrameServerSteps.h"
#include "platform/Platform.h"
#include "support/Console.h"

namespace {

// How a measured loop ended.
RunOutcome OutcomeOf(StopReason stop) {
    switch (stop) {
    case StopReason::None: return RunOutcome::Completed;
    case StopReason::TimeLimit: return RunOutcome::StoppedByTimeLimit;
    case StopReason::Esc: return RunOutcome::StoppedByEsc;
    case StopReason::Signal: return RunOutcome::StoppedBySignal;
    }
    return RunOutcome::Completed;
}

RunOutcome OutcomeOf(RegionEnd end) {
    switch (end) {
    case RegionEnd::FrameServerError: return RunOutcome::FrameServerError;
    case RegionEnd::ProcessorFault: return RunOutcome::Fault;
    case RegionEnd::OtherException: return RunOutcome::Exception;
    case RegionEnd::Finished: break;
    }
    return RunOutcome::Completed;
}

// The record of a run from what the benchmark left, however it ended.
RunRecord RecordOf(const BenchmarkState& benchmark, uint32_t number) {
    RunRecord record;
    record.Number = number;
    record.Measured = !benchmark.DisplayNotStarted;
    record.Stats = benchmark.Stats;
    record.Readings = benchmark.Readings;
    if (benchmark.Samples)
        record.Samples.assign(benchmark.Samples.get(), benchmark.Samples.get() + benchmark.Stats.SamplesStored);
    if (benchmark.FrameTimes)
        record.FrameTimes = SummariseFrameTimes(*benchmark.FrameTimes, platform::FrameCounterFrequency());
    return record;
}

}  // namespace

void FrameServerSteps::CycleLost(SeriesReport& series, uint32_t number, uint32_t code) {
    CycleWork none;
    EndCycle(series, number, cycleWork ? *cycleWork : none, FaultResult(code), false);
}

// The first steps of every handler of a caught exception; after a failed
// frame request, the summary of the frames read before it.
void FrameServerSteps::BeginExceptionPath(CycleWork& cycle) {
    cycle.exceptionPathBegun = true;
    ClearStatus();
    writeLog = true;
    BenchmarkState& benchmark = cycle.benchmark;
    if (benchmark.DisplayNotStarted) return;
    if (benchmark.Outcome == BenchmarkOutcome::NotRun) {
        cycle.failedFrame = benchmark.Stats.CurrentFrame;
        EndFailedRun(benchmark);
        ShowCycleSummary(cycle, DisplayOptionsOf(call, monitorGPU));
        return;
    }
    Utils.MoveCursorUp(2);
    PrintPermanentLine(ColourUnchanged, "");
    PrintPermanentLine(ColourUnchanged, "");
    Utils.MoveCursorUp(2);
}

// Shows what ended the frame-server work; a failed frame request says which
// frame, below the summary of the frames read before it.
void FrameServerSteps::ReportFailure(const RegionResult& failure, CycleWork& cycle) {
    BenchmarkState& benchmark = cycle.benchmark;
    benchmark.Outcome = BenchmarkOutcome::Failed;
    benchmark.ErrorText = failure.Text;
    std::string text = failure.Text;
    if (failure.End != RegionEnd::FrameServerError && text.empty()) text = "Unknown exception";
    if (cycle.failedFrame) text = FrameReadFailureText(text, *cycle.failedFrame);
    switch (failure.End) {
    case RegionEnd::FrameServerError:
        ConsolePrint(MessageStream(), ColourError,
                     benchmark.DisplayNotStarted || cycle.failedFrame ? "\n%s\n" : "\r%s\n", text.c_str());
        break;
    case RegionEnd::ProcessorFault:
    case RegionEnd::OtherException:
        ConsolePrint(MessageStream(), ColourError, "\n%s\n", text.c_str());
        break;
    case RegionEnd::Finished:
        break;
    }
}

CycleEnd FrameServerSteps::EndCycle(SeriesReport& series, uint32_t number, CycleWork& cycle,
                                    const RegionResult& work, bool unload) {
    // The library goes only now that the handler has ended: the exception
    // object may have come from the frame server's own runtime.
    // A failure while the frame server closed, after every requested frame
    // was rendered, leaves the run as it was measured: its summary, then
    // what happened.
    const bool closingFault = work.Failed() && cycle.closing;
    if (closingFault) {
        if (!cycle.summaryShown) ShowCycleSummary(cycle, cycle.display);
        const std::string text = ClosingFaultText(work.Text.empty() ? "Unknown exception" : work.Text);
        PrintError(text);
        cycle.runtimeInfo += text.substr(1);
    } else if (work.Failed()) {
        if (!cycle.exceptionPathBegun) BeginExceptionPath(cycle);
        ReportFailure(work, cycle);
    }
    if (work.Failed() && unload) cycle.session.UnloadAfter(work.End);
    if (cycle.earlyEnd != CycleEnd::Ran && !work.Failed()) {
        cycle.session.Unload();
        return cycle.earlyEnd;
    }

    RunRecord record = RecordOf(cycle.benchmark, number);
    record.RuntimeInfo = cycle.runtimeInfo;
    record.Outcome = work.Failed() && !closingFault ? OutcomeOf(work.End) : OutcomeOf(cycle.benchmark.Stop);
    if (work.Failed()) record.Message = work.Text.empty() ? std::string("Unknown exception") : work.Text;
    record.FailedFrame = cycle.failedFrame;
    record.WorkerFault = work.OnWorkerThread && !closingFault;
    if (series.InfoOnly && !series.Runs.empty()) series.Runs.pop_back();  // the evaluation failed after all
    series.Runs.push_back(record);
    series.Columns.MonitorGPU = monitorGPU;
    series.Columns.HasVideoEngine = gpu.Features.HasVideoEngine;
    series.Columns.HasProcessLoad = gpu.Features.HasProcessLoad;
    return CycleEnd::Ran;
}
