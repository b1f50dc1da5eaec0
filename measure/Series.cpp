#include "measure/Series.h"

#include <algorithm>
#include <cmath>

#include "support/Text.h"

namespace {

std::string Labelled(const std::string& label, const std::string& value) {
    std::string line = label;
    if (line.size() < 32) line.append(32 - line.size(), ' ');
    return line + value;
}

std::string PaddedRight(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string PaddedLeft(const std::string& text, size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string MeanAndDeviation(const SeriesFigures& figures) {
    return FormatFPS(figures.Mean) + " | " +
           (figures.StandardDeviation ? FormatFPS(*figures.StandardDeviation) : std::string("n/a"));
}

}  // namespace

std::optional<double> SeriesFigures::StandardError() const {
    if (!StandardDeviation || Runs == 0) return std::nullopt;
    return *StandardDeviation / std::sqrt(static_cast<double>(Runs));
}

SeriesFigures SummariseSeries(const std::vector<double>& averages) {
    SeriesFigures figures;
    figures.Runs = static_cast<uint32_t>(averages.size());
    if (averages.empty()) return figures;
    double sum = 0;
    for (double value : averages) sum += value;
    figures.Mean = sum / static_cast<double>(averages.size());
    figures.Min = *std::min_element(averages.begin(), averages.end());
    figures.Max = *std::max_element(averages.begin(), averages.end());
    if (averages.size() >= 2) {
        // Deviations from the mean rather than the sum of squares, which
        // loses the digits of close values of high rates.
        double squares = 0;
        for (double value : averages) squares += (value - figures.Mean) * (value - figures.Mean);
        figures.StandardDeviation = std::sqrt(squares / static_cast<double>(averages.size() - 1));
    }
    return figures;
}

RelativeSpeed RelativeTo(const SeriesFigures& script, const SeriesFigures& fastest, bool isFastest) {
    RelativeSpeed speed;
    if (isFastest) {
        speed.Ratio = 1.0;
        return speed;
    }
    if (fastest.Mean <= 0) return speed;
    speed.Ratio = script.Mean / fastest.Mean;
    const std::optional<double> own = script.StandardError();
    const std::optional<double> best = fastest.StandardError();
    if (own && best && script.Mean > 0) {
        const double a = *own / script.Mean;
        const double b = *best / fastest.Mean;
        speed.Uncertainty = speed.Ratio * std::sqrt(a * a + b * b);
    }
    return speed;
}

std::vector<std::string> SeriesLines(const std::vector<RunLine>& runs, uint32_t runsRequested,
                                     const SeriesFigures& figures) {
    std::vector<std::string> lines;
    for (const RunLine& run : runs) {
        const std::string value = run.Counted ? FormatFPS(run.AverageFps) + " fps, " + run.Ending : run.Ending;
        lines.push_back(Labelled(FormatText("Run %u:", run.Number), value));
    }
    lines.push_back(Labelled("Runs counted:", FormatText("%u of %u", figures.Runs, runsRequested)));
    if (figures.Runs > 0) {
        lines.push_back(Labelled("FPS average (mean | sd):", MeanAndDeviation(figures)));
        lines.push_back(Labelled("FPS average (min | max):", FormatFPS(figures.Min) + " | " + FormatFPS(figures.Max)));
    }
    return lines;
}

std::vector<std::string> ComparisonLines(const std::vector<ComparedScript>& scripts) {
    const ComparedScript* fastest = nullptr;
    for (const ComparedScript& script : scripts)
        if (script.Figures && (!fastest || script.Figures->Mean > fastest->Figures->Mean)) fastest = &script;

    size_t nameWidth = 6;
    for (const ComparedScript& script : scripts) nameWidth = std::max(nameWidth, script.Name.size());
    const size_t rateWidth = 17;
    auto row = [&](const std::string& name, const std::string& runs, const std::string& rate,
                   const std::string& relative) {
        std::string line = PaddedRight(name, nameWidth) + "  " + PaddedLeft(runs, 4) + "  " +
                           PaddedRight(rate, rateWidth) + "  " + relative;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        return line;
    };

    std::vector<std::string> lines;
    lines.push_back(row("Script", "Runs", "FPS (mean | sd)", "Relative speed"));
    lines.push_back(row(std::string(nameWidth, '-'), "----", std::string(rateWidth, '-'), "---------------"));
    for (const ComparedScript& script : scripts) {
        if (!script.Figures) {
            lines.push_back(row(script.Name, "0", "-", "no result: " + script.Failure));
            continue;
        }
        const bool isFastest = &script == fastest;
        const RelativeSpeed speed = RelativeTo(*script.Figures, *fastest->Figures, isFastest);
        std::string relative = FormatText("%.3f", speed.Ratio);
        if (isFastest) relative += " (fastest)";
        else if (speed.Uncertainty) relative += FormatText(" +/- %.3f", *speed.Uncertainty);
        if (!script.Failure.empty()) relative += " (" + script.Failure + ")";
        lines.push_back(row(script.Name, FormatText("%u", script.Figures->Runs), MeanAndDeviation(*script.Figures),
                            relative));
    }
    return lines;
}
