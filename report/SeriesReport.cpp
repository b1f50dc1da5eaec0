#include "report/SeriesReport.h"

#include "measure/FrameLoop.h"

const char* RunEndingText(RunEnding::Kind how) {
    switch (how) {
    case RunEnding::Kind::Completed: return "completed";
    case RunEnding::Kind::StoppedByEsc: return "stopped by Esc";
    case RunEnding::Kind::StoppedByTimeLimit: return "stopped by the time limit";
    case RunEnding::Kind::StoppedBySignal: return "stopped by a signal";
    case RunEnding::Kind::FrameServerError: return "frame-server error";
    case RunEnding::Kind::Fault: return "fault";
    case RunEnding::Kind::Exception: return "exception";
    }
    return "";
}

const char* RunEndingName(RunEnding::Kind how) {
    switch (how) {
    case RunEnding::Kind::Completed: return "completed";
    case RunEnding::Kind::StoppedByEsc: return "stoppedByEsc";
    case RunEnding::Kind::StoppedByTimeLimit: return "stoppedByTimeLimit";
    case RunEnding::Kind::StoppedBySignal: return "stoppedBySignal";
    case RunEnding::Kind::FrameServerError: return "frameServerError";
    case RunEnding::Kind::Fault: return "fault";
    case RunEnding::Kind::Exception: return "exception";
    }
    return "";
}

bool RunRecord::Counted() const { return Measured && !Ending.Failed() && Stats.SamplesStored > 0; }

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
        line.Ending = RunEndingText(run.Ending.How);
        if (!run.Counted() && !run.Ending.Failed()) line.Ending = "too few frames for a sample";
        lines.push_back(line);
    }
    return lines;
}

std::string LoggedErrorOf(const RunRecord& run) {
    const RunEnding& ending = run.Ending;
    if (!(ending.How == RunEnding::Kind::FrameServerError || ending.OnWorkerThread || (ending.Failed() && !run.Measured)))
        return std::string();
    return ending.FailedFrame ? FrameReadFailureText(ending.Message, *ending.FailedFrame) : ending.Message;
}

RunReport RunReportOf(const SeriesReport& series, size_t index) {
    RunReport report;
    report.ScriptPath = series.ScriptPath;
    report.General = series.General;
    report.Clip = series.Clip;
    report.GraphicsCard = series.GraphicsCard;
    report.ScriptBytes = series.ScriptBytes;
    report.Columns = series.Columns;
    if (series.CalibrationFailure) report.LoggedError = *series.CalibrationFailure;
    if (index < series.Runs.size()) {
        const RunRecord& run = series.Runs[index];
        report.Run = &run;
        report.Samples = run.Samples.empty() ? nullptr : run.Samples.data();
        report.SampleCount = static_cast<uint32_t>(run.Samples.size());
        report.LoggedError = LoggedErrorOf(run);
    }
    return report;
}

SeriesEnding SeriesEndingOf(const SeriesReport& series) {
    SeriesEnding ending;
    if (series.CalibrationFailure) {
        ending.Name = "calibrationFailed";
        ending.Message = *series.CalibrationFailure;
        return ending;
    }
    if (series.RangeRefused) {
        ending.Name = "rangeRefused";
        return ending;
    }
    for (const RunRecord& run : series.Runs) {
        if (run.Ending.How == RunEnding::Kind::Completed) continue;
        ending.Name = RunEndingName(run.Ending.How);
        ending.Message = run.Ending.Message;
        return ending;
    }
    if (series.Interrupted) ending.Name = RunEndingName(RunEnding::Kind::StoppedBySignal);
    return ending;
}
