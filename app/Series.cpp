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
      runs(call.InfoOnly ? 1 : static_cast<uint32_t>(call.Runs)),
      names(ComparisonNames(call.ScriptPaths)) {}

int ScriptsMeasurement::Run() {
    for (size_t index = 0; index < call.ScriptPaths.size(); ++index) {
        if (several)
            steps.ShowLines({FormatText("Script %u of %u: %s", static_cast<unsigned>(index + 1),
                                        static_cast<unsigned>(call.ScriptPaths.size()),
                                        ControlsReplaced(call.ScriptPaths[index], false).c_str())});
        SeriesReport current = steps.NewSeries(call.ScriptPaths[index]);
        ComparedScript currentEntry;
        currentEntry.Name = names[index];
        series = &current;
        entry = &currentEntry;
        run = 0;
        if (!call.InfoOnly && !steps.Calibrate(current)) {
            CalibrationFailed(current, currentEntry);
            series = nullptr;
            if (steps.FrameServerLost() || steps.Interruption()) break;
            continue;
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
        // An interruption while the files were written ends it too.
        if (stopAll || steps.Interruption()) break;
    }
    Compare();
    return ExitCode();
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
    // Nothing to write when not even the frame server could be opened.
    if ((!finished.Runs.empty() || finished.RangeRefused) && !steps.WriteFiles(finished)) filesFailed = true;

    if (figures.Runs > 0) finishedEntry.Figures = figures;
    finishedEntry.Failure = FailureOf(finished, true);
    compared.push_back(finishedEntry);
}

void ScriptsMeasurement::Compare() {
    if (!several || call.InfoOnly) return;
    // Scripts never reached (after Esc) are listed as such.
    for (size_t index = compared.size(); index < call.ScriptPaths.size(); ++index)
        compared.push_back(ComparedScript{names[index], std::nullopt, "not measured"});
    steps.ShowLines(ComparisonLines(compared));
}
