// The end of a cycle, however its work ended: the failure's message, the
// library's release, and the run's record in the series.
#include "app/Dialogs.h"
#include "app/FrameServerSteps.h"
#include "platform/Time.h"
#include "report/RunReport.h"
#include "support/Console.h"

namespace {

// The record of a run from what the benchmark left, however it ended.
RunRecord RecordOf(const BenchmarkResult& benchmark, uint32_t number) {
    RunRecord record;
    record.Number = number;
    record.Measured = benchmark.Progress != LoopProgress::NotStarted;
    record.Ending.How = benchmark.Stop;
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
    EndCycle(series, number, cycleWork ? *cycleWork : none, FaultResult(code));
}

// The first steps of every handler of a caught exception; after a failed
// frame request, the summary of the frames read before it.
void FrameServerSteps::BeginExceptionPath(CycleWork& cycle) {
    cycle.exceptionPathBegun = true;
    ClearStatus();
    writeLog = true;
    BenchmarkResult& benchmark = cycle.benchmark.Result;
    if (benchmark.Progress == LoopProgress::NotStarted) return;
    if (benchmark.Progress == LoopProgress::Running) {
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
void FrameServerSteps::ReportFailure(const RunEnding& failure, CycleWork& cycle) {
    const BenchmarkResult& benchmark = cycle.benchmark.Result;
    std::string text = failure.Message;
    if (failure.How != RunEnding::Kind::FrameServerError && text.empty()) text = "Unknown exception";
    if (cycle.failedFrame) text = FrameReadFailureText(text, *cycle.failedFrame);
    const bool newLine = failure.How != RunEnding::Kind::FrameServerError ||
                         benchmark.Progress == LoopProgress::NotStarted || cycle.failedFrame;
    ConsolePrint(MessageStream(), ColourError, newLine ? "\n%s\n" : "\r%s\n", text.c_str());
}

CycleEnd FrameServerSteps::EndCycle(SeriesReport& series, uint32_t number, CycleWork& cycle,
                                    const RunEnding& work) {
    // A failure while the frame server closed, after every requested frame
    // was rendered, leaves the run as it was measured: its summary, then
    // what happened.
    const bool closingFault = work.Failed() && cycle.closing;
    const std::string message = work.Message.empty() ? std::string("Unknown exception") : work.Message;
    if (closingFault) {
        if (!cycle.summary) ShowCycleSummary(cycle, cycle.display);
        PrintError(ClosingFaultText(message));
    } else if (work.Failed()) {
        if (!cycle.exceptionPathBegun) BeginExceptionPath(cycle);
        ReportFailure(work, cycle);
    }
    if (cycle.earlyEnd != CycleEnd::Ran && !work.Failed()) return cycle.earlyEnd;

    RunRecord record = RecordOf(cycle.benchmark.Result, number);
    record.Summary = cycle.summary;
    if (work.Failed() && !closingFault) record.Ending = work;
    if (work.Failed()) record.Ending.Message = message;
    record.Ending.WhileClosing = closingFault;
    record.Ending.FailedFrame = cycle.failedFrame;
    if (series.InfoOnly && !series.Runs.empty()) series.Runs.pop_back();  // the evaluation failed after all
    series.Runs.push_back(record);
    series.Columns.MonitorGPU = monitorGPU;
    series.Columns.HasVideoEngine = gpu.Features.HasVideoEngine;
    series.Columns.HasProcessLoad = gpu.Features.HasProcessLoad;
    return CycleEnd::Ran;
}
