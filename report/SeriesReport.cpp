#include "report/SeriesReport.h"

#include "measure/Benchmark.h"

const char* RunOutcomeText(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Completed: return "completed";
    case RunOutcome::StoppedByEsc: return "stopped by Esc";
    case RunOutcome::StoppedByTimeLimit: return "stopped by the time limit";
    case RunOutcome::StoppedBySignal: return "stopped by a signal";
    case RunOutcome::FrameServerError: return "frame-server error";
    case RunOutcome::Fault: return "fault";
    case RunOutcome::Exception: return "exception";
    }
    return "";
}

const char* RunOutcomeName(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Completed: return "completed";
    case RunOutcome::StoppedByEsc: return "stoppedByEsc";
    case RunOutcome::StoppedByTimeLimit: return "stoppedByTimeLimit";
    case RunOutcome::StoppedBySignal: return "stoppedBySignal";
    case RunOutcome::FrameServerError: return "frameServerError";
    case RunOutcome::Fault: return "fault";
    case RunOutcome::Exception: return "exception";
    }
    return "";
}

bool RunFailed(RunOutcome outcome) {
    return outcome == RunOutcome::FrameServerError || outcome == RunOutcome::Fault || outcome == RunOutcome::Exception;
}

bool RunRecord::Counted() const { return Measured && !RunFailed(Outcome) && Stats.SamplesStored > 0; }

SeriesFigures SeriesFiguresOf(const SeriesReport& series) {
    std::vector<double> averages;
    for (const RunRecord& run : series.Runs)
        if (run.Counted()) averages.push_back(run.Stats.FPSAverage);
    return SummariseSeries(averages);
}

std::vector<RunLine> RunLinesOf(const SeriesReport& series) {
    std::vector<RunLine> lines;
    for (const RunRecord& run : series.Runs) {
        RunLine line;
        line.Number = run.Number;
        line.Counted = run.Counted();
        line.AverageFps = run.Stats.FPSAverage;
        line.Ending = RunOutcomeText(run.Outcome);
        if (!run.Counted() && !RunFailed(run.Outcome)) line.Ending = "too few frames for a sample";
        lines.push_back(line);
    }
    return lines;
}

std::string LoggedErrorOf(const RunRecord& run) {
    if (!(run.Outcome == RunOutcome::FrameServerError || run.WorkerFault || (RunFailed(run.Outcome) && !run.Measured)))
        return std::string();
    return run.FailedFrame ? FrameReadFailureText(run.Message, *run.FailedFrame) : run.Message;
}

std::string GraphicsCardTextOf(const SeriesReport& series) {
    return series.GraphicsCard ? GraphicsCardSection(*series.GraphicsCard) : std::string();
}

RunReport RunReportOf(const SeriesReport& series, size_t index) {
    RunReport report;
    report.ScriptPath = series.ScriptPath;
    report.General = series.General;
    report.Clip = series.Clip;
    report.GraphicsCardText = GraphicsCardTextOf(series);
    report.ScriptBytes = series.ScriptBytes;
    report.Columns = series.Columns;
    if (index < series.Runs.size()) {
        const RunRecord& run = series.Runs[index];
        report.RuntimeInfo = run.RuntimeInfo;
        report.Samples = run.Samples.empty() ? nullptr : run.Samples.data();
        report.SampleCount = static_cast<uint32_t>(run.Samples.size());
        report.FrameServerError = LoggedErrorOf(run);
    }
    return report;
}

SeriesEnding SeriesEndingOf(const SeriesReport& series) {
    SeriesEnding ending;
    if (series.RangeRefused) {
        ending.Name = "rangeRefused";
        return ending;
    }
    for (const RunRecord& run : series.Runs) {
        if (run.Outcome == RunOutcome::Completed) continue;
        ending.Name = RunOutcomeName(run.Outcome);
        ending.Message = run.Message;
        return ending;
    }
    if (series.Interrupted) ending.Name = RunOutcomeName(RunOutcome::StoppedBySignal);
    return ending;
}
