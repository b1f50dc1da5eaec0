#include "app/Series.h"

#include "support/Text.h"

namespace {

// Why a script's series has no figures, or what cut it short.
std::string FailureOf(const SeriesReport& series, bool calibrated) {
    if (!calibrated) return "calibration failed";
    if (series.RangeRefused) return "range declined";
    for (const RunRecord& run : series.Runs)
        if (RunFailed(run.Outcome))
            return std::string(RunOutcomeText(run.Outcome)) + " in run " + std::to_string(run.Number);
    if (series.Runs.empty()) return "not measured";
    return SeriesFiguresOf(series).Runs == 0 ? "too few frames for a sample" : "";
}

}  // namespace

std::string ScriptName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> ComparisonNames(const std::vector<std::string>& scripts) {
    std::vector<std::string> names;
    for (const std::string& script : scripts) names.push_back(ScriptName(script));
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = 0; j < names.size(); ++j)
            if (i != j && ScriptName(scripts[i]) == ScriptName(scripts[j])) names[i] = scripts[i];
    return names;
}

int MeasureScripts(const SeriesPlan& plan, ScriptSteps& steps) {
    int exitCode = 0;
    const bool several = plan.Scripts.size() > 1;
    const uint32_t runs = plan.InfoOnly ? 1 : plan.Runs;
    const std::vector<std::string> names = ComparisonNames(plan.Scripts);
    std::vector<ComparedScript> compared;

    for (size_t index = 0; index < plan.Scripts.size(); ++index) {
        if (several)
            steps.ShowLines({FormatText("Script %u of %u: %s", static_cast<unsigned>(index + 1),
                                        static_cast<unsigned>(plan.Scripts.size()), plan.Scripts[index].c_str())});
        SeriesReport series = steps.NewSeries(plan.Scripts[index]);
        ComparedScript entry;
        entry.Name = names[index];
        if (!plan.InfoOnly && !steps.Calibrate(series)) {
            exitCode = -1;
            entry.Failure = FailureOf(series, false);
            compared.push_back(entry);
            if (steps.FrameServerLost()) break;
            continue;
        }

        bool stopAll = false;
        for (uint32_t run = 1; run <= runs; ++run) {
            const CycleEnd end = steps.Cycle(series, run);
            if (end == CycleEnd::SetupFailed) {
                exitCode = -1;
                stopAll = true;
                break;
            }
            if (end != CycleEnd::Ran) break;
            const RunOutcome outcome = series.Runs.back().Outcome;
            if (RunFailed(outcome)) {
                exitCode = -1;
                stopAll = steps.FrameServerLost();
                break;
            }
            if (outcome == RunOutcome::StoppedByEsc || outcome == RunOutcome::StoppedBySignal) {
                stopAll = true;
                break;
            }
        }

        if (runs > 1 && !series.Runs.empty())
            steps.ShowLines(SeriesLines(RunLinesOf(series), runs, SeriesFiguresOf(series)));
        // Nothing to write when not even the frame server could be opened.
        if ((!series.Runs.empty() || series.RangeRefused) && !steps.WriteFiles(series)) exitCode = -1;

        const SeriesFigures figures = SeriesFiguresOf(series);
        if (figures.Runs > 0) entry.Figures = figures;
        entry.Failure = FailureOf(series, true);
        compared.push_back(entry);
        if (stopAll) break;
    }

    if (several && !plan.InfoOnly) {
        // Scripts never reached (after Esc) are listed as such.
        for (size_t index = compared.size(); index < plan.Scripts.size(); ++index)
            compared.push_back(ComparedScript{names[index], std::nullopt, "not measured"});
        steps.ShowLines(ComparisonLines(compared));
    }
    return exitCode;
}
