#include "app/Series.h"

#include "platform/Files.h"
#include "support/Text.h"

namespace {

// Why a script's series has no figures, or what cut it short.
std::string FailureOf(const SeriesReport& series, bool calibrated) {
    if (!calibrated) return "calibration failed";
    if (series.RangeRefused) return "range declined";
    for (const RunRecord& run : series.Runs)
        if (run.Ending.Failed())
            return std::string(RunEndingText(run.Ending.How)) + " in run " + std::to_string(run.Number);
    if (series.Runs.empty()) return "not measured";
    return SeriesFiguresOf(series).Runs == 0 ? "too few frames for a sample" : "";
}

}  // namespace

std::string ScriptName(const std::string& path) { return LastPathPart(path, platform::PathSeparators()); }

std::vector<std::string> ComparisonNames(const std::vector<std::string>& scripts) {
    std::vector<std::string> names;
    for (const std::string& script : scripts) names.push_back(ScriptName(script));
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = 0; j < names.size(); ++j)
            if (i != j && ScriptName(scripts[i]) == ScriptName(scripts[j])) names[i] = scripts[i];
    // Each on its line of the table, whatever the name holds.
    for (std::string& name : names) name = ControlsReplaced(name, false);
    return names;
}

ScriptsMeasurement::ScriptsMeasurement(const Invocation& call, ScriptSteps& steps)
    : call(call),
      steps(steps),
      several(call.ScriptPaths.size() > 1),
      compares(several || call.Scan),
      runs(call.InfoOnly ? 1 : static_cast<uint32_t>(call.Runs)),
      values(call.Scan ? call.Scan->Values.size() : 1),
      names(ComparisonNames(call.ScriptPaths)) {
    // A value's row: "threads=4", after the script's name when there are several.
    for (const std::string& name : names)
        for (size_t value = 0; value < values; ++value) {
            if (!call.Scan) entryNames.push_back(name);
            else entryNames.push_back((several ? name + " " : std::string()) +
                                      ControlsReplaced(ScanRowName(*call.Scan, value), false));
        }
}

int ScriptsMeasurement::Run() {
    for (size_t index = 0; index < call.ScriptPaths.size(); ++index) {
        if (several)
            steps.ShowLines({FormatText("Script %u of %u: %s", static_cast<unsigned>(index + 1),
                                        static_cast<unsigned>(call.ScriptPaths.size()),
                                        ControlsReplaced(call.ScriptPaths[index], false).c_str())});
        bool stopAll = false;
        for (size_t value = 0; value < values && !stopAll; ++value) stopAll = MeasureEntry(index, value);
        WriteScanFiles();
        // An interruption while the files were written ends it too.
        if (stopAll || steps.Interruption()) break;
    }
    Compare();
    return ExitCode();
}

bool ScriptsMeasurement::MeasureEntry(size_t index, size_t value) {
    std::optional<ScanStep> scan;
    if (call.Scan) {
        scan = ScanStep{call.Scan->Name, call.Scan->Values[value], ScanRowName(*call.Scan, value),
                        static_cast<uint32_t>(value), static_cast<uint32_t>(values)};
        steps.ShowLines({FormatText("Value %u of %u: %s", static_cast<unsigned>(value + 1),
                                    static_cast<unsigned>(values), ControlsReplaced(scan->Row, false).c_str())});
    }
    SeriesReport current = steps.NewSeries(call.ScriptPaths[index], scan);
    ComparedScript currentEntry;
    currentEntry.Name = entryNames[index * values + value];
    series = &current;
    entry = &currentEntry;
    run = 0;
    if (!call.InfoOnly && !steps.Calibrate(current)) {
        CalibrationFailed(current, currentEntry);
        series = nullptr;
        return steps.FrameServerLost() || steps.Interruption();
    }

    bool stopAll = false;
    for (run = 1; run <= runs; ++run) {
        // One that came in the calibration or after the last look of
        // the run before.
        if (steps.Interruption()) break;
        const CycleEnd end = steps.Cycle(current, run);
        if (end == CycleEnd::SetupFailed) {
            exitCode = -1;
            stopAll = true;
            break;
        }
        if (end != CycleEnd::Ran) break;
        const RunEnding& ending = current.Runs.back().Ending;
        if (ending.Failed()) {
            exitCode = -1;
            stopAll = steps.FrameServerLost();
            break;
        }
        // Esc, a signal, or a frame server lost while it closed after a
        // run that stands.
        if (ending.How == RunEnding::Kind::StoppedByEsc || ending.How == RunEnding::Kind::StoppedBySignal ||
            steps.FrameServerLost()) {
            stopAll = true;
            break;
        }
    }
    if (call.Profile && !call.InfoOnly && !stopAll && !steps.Interruption() && !current.Runs.empty() &&
        !current.Runs.back().Ending.Failed()) {
        // The runs' section first, then the profile's table.
        ShowRuns(current);
        profiling = true;
        if (!steps.Profile(current)) exitCode = -1;
        profiling = false;
        // Esc ends everything, as in a run.
        stopAll = steps.FrameServerLost() ||
                  (current.Profile && !current.Profile->Stages.empty() &&
                   current.Profile->Stages.back().Ending.How == RunEnding::Kind::StoppedByEsc);
    }
    if (steps.Interruption()) {
        stopAll = true;
        current.Interrupted = run <= runs;
    }
    FinishScript(current, currentEntry);
    series = nullptr;
    return stopAll || steps.Interruption();
}

int ScriptsMeasurement::EndAfterLostWork(uint32_t code) {
    if (series && run == 0) {
        steps.CalibrationLost(*series, code);
        CalibrationFailed(*series, *entry);
    } else if (series && profiling) {
        steps.ProfileLost(*series, code);
        exitCode = -1;
        FinishScript(*series, *entry);
    } else if (series) {
        steps.CycleLost(*series, run, code);
        // A run lost while the frame server closed stands as measured.
        if (series->Runs.empty() || series->Runs.back().Ending.Failed()) exitCode = -1;
        FinishScript(*series, *entry);
    } else {
        exitCode = -1;
    }
    series = nullptr;
    WriteScanFiles();
    Compare();
    return ExitCode();
}

int ScriptsMeasurement::ExitCode() const {
    // Files that were asked for and are missing make it a failure, whatever
    // ended the work.
    if (filesFailed) return -1;
    if (const int interrupted = steps.Interruption()) return interrupted;
    if (exitCode == 0 && slowerThanBaseline) return kSlowerThanBaseline;
    return exitCode;
}

void ScriptsMeasurement::CalibrationFailed(SeriesReport& failed, ComparedScript& failedEntry) {
    exitCode = -1;
    failedEntry.Failure = FailureOf(failed, false);
    compared.push_back(failedEntry);
    if (call.Scan) scanned.push_back(failed);
}

void ScriptsMeasurement::ShowRuns(const SeriesReport& finished) {
    if (runsShown || runs <= 1 || finished.Runs.empty()) return;
    steps.ShowLines(SeriesLines(RunLinesOf(finished), runs, SeriesFiguresOf(finished)));
    runsShown = true;
}

void ScriptsMeasurement::FinishScript(SeriesReport& finished, ComparedScript& finishedEntry) {
    ShowRuns(finished);
    runsShown = false;
    const SeriesFigures figures = SeriesFiguresOf(finished);
    // The runs that counted against the baseline, before the files that
    // hold the comparison are written.
    if (call.BaselineUsed && !call.InfoOnly && figures.Runs > 0) {
        const Invocation::BaselineChoice& baseline = *call.BaselineUsed;
        finished.Baseline = BaselineOutcome{baseline.Path, baseline.ThresholdPercent, baseline.Facts.Figures,
                                            CompareWithBaseline(figures, baseline.Facts.Figures,
                                                                baseline.ThresholdPercent)};
        steps.ShowLines(BaselineLines(*finished.Baseline));
        if (finished.Baseline->Comparison.SlowerBeyondThreshold) slowerThanBaseline = true;
    }
    // Nothing to write when not even the frame server could be opened; a
    // scanned script's files follow its last value.
    if (!call.Scan && (!finished.Runs.empty() || finished.RangeRefused) && !steps.WriteFiles(finished))
        filesFailed = true;

    if (figures.Runs > 0) finishedEntry.Figures = figures;
    finishedEntry.Failure = FailureOf(finished, true);
    compared.push_back(finishedEntry);
    // The value's samples are kept once, for the scan's files.
    if (call.Scan) scanned.push_back(std::move(finished));
}

void ScriptsMeasurement::WriteScanFiles() {
    if (scanned.empty()) return;
    // The facts of the last value that was measured, else of the last one.
    // Nothing to write when not even the frame server could be opened.
    size_t last = scanned.size() - 1;
    bool anything = false;
    for (size_t value = 0; value < scanned.size(); ++value) {
        const SeriesReport& series = scanned[value];
        if (!series.Runs.empty() || series.RangeRefused) last = value;
        anything = anything || !series.Runs.empty() || series.RangeRefused || series.CalibrationFailure;
    }
    SeriesReport scan = scanned[last];
    scan.ScanValues = std::move(scanned);
    scanned.clear();
    if (anything && !steps.WriteFiles(scan)) filesFailed = true;
}

void ScriptsMeasurement::Compare() {
    if (!compares || call.InfoOnly) return;
    // Scripts and values never reached (after Esc) are listed as such.
    for (size_t index = compared.size(); index < entryNames.size(); ++index)
        compared.push_back(ComparedScript{entryNames[index], std::nullopt, "not measured"});
    steps.ShowLines(ComparisonLines(compared));
}
