#include "report/BaselineReport.h"

#include "support/Text.h"

namespace {

// Label and value in the columns of the runs' section.
std::string Labelled(const char* label, const std::string& value) { return FormatText("%-32s%s", label, value.c_str()); }

}  // namespace

std::vector<std::string> BaselineLines(const BaselineOutcome& outcome) {
    const SeriesFigures& figures = outcome.Baseline;
    const RelativeSpeed& speed = outcome.Comparison.Speed;
    const std::string threshold = FormatText("the %g %% threshold", outcome.ThresholdPercent);
    std::string verdict = BaselineVerdictText(outcome.Comparison.Verdict);
    if (outcome.Comparison.SlowerBeyondThreshold) verdict += " by more than " + threshold;
    else if (outcome.Comparison.Verdict == BaselineVerdict::Slower) verdict += ", within " + threshold;
    return {
        Labelled("Baseline file:", ControlsReplaced(outcome.Path, false)),
        Labelled("Baseline runs counted:", FormatText("%u", figures.Runs)),
        Labelled("Baseline FPS (mean | sd):",
                 FormatFPS(figures.Mean) + " | " +
                     (figures.StandardDeviation ? FormatFPS(*figures.StandardDeviation) : std::string("n/a"))),
        Labelled("Speed relative to baseline:",
                 FormatText("%.3f", speed.Ratio) +
                     (speed.Uncertainty ? FormatText(" +/- %.3f", *speed.Uncertainty)
                                        : std::string(" (one run on a side: no uncertainty)"))),
        Labelled("Verdict:", verdict),
    };
}

std::string BaselineLogSection(const std::optional<BaselineOutcome>& outcome) {
    if (!outcome) return std::string();
    std::string section = "\n\n[Baseline]\n";
    for (const std::string& line : BaselineLines(*outcome)) section += line + "\n";
    return section;
}
