// Repeated runs (-runs=n) and comparisons of scripts: the statistics of the
// runs' average frame rates and the texts that show them. Pure functions of
// values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The average frame rates of the runs that counted.
struct SeriesFigures {
    uint32_t Runs = 0;
    double Mean = 0;
    // Sample standard deviation (divisor n - 1); absent for fewer than two runs.
    std::optional<double> StandardDeviation;
    double Min = 0;
    double Max = 0;
    // Standard error of the mean, sd / sqrt(n); absent with the deviation.
    std::optional<double> StandardError() const;
};

SeriesFigures SummariseSeries(const std::vector<double>& averages);

// A script's speed relative to the fastest: ratio = mean / fastest mean, and
// its uncertainty by first-order error propagation from the standard errors
// of both means:
//   u(ratio) = ratio * sqrt((u(mean) / mean)^2 + (u(fastest) / fastest)^2).
// The fastest itself is exactly 1 with no uncertainty. Absent when either
// standard error is absent.
struct RelativeSpeed {
    double Ratio = 0;
    std::optional<double> Uncertainty;
};
RelativeSpeed RelativeTo(const SeriesFigures& script, const SeriesFigures& fastest, bool isFastest);

// One run as the runs' section lists it.
struct RunLine {
    uint32_t Number = 0;
    bool Counted = false;   // its average frame rate enters the figures
    double AverageFps = 0;
    std::string Ending;     // "completed", "stopped by Esc", "frame-server error", ...
};

// The lines after a series of runs: one per run, then how many counted and
// the mean, standard deviation, minimum and maximum of their average rates.
std::vector<std::string> SeriesLines(const std::vector<RunLine>& runs, uint32_t runsRequested,
                                     const SeriesFigures& figures);

// One script of a comparison.
struct ComparedScript {
    std::string Name;
    std::optional<SeriesFigures> Figures;  // absent when no run counted
    std::string Failure;                   // why the script has no figures, or what cut its series short
};

// The comparison table: each script's mean and standard deviation and its
// speed relative to the fastest.
std::vector<std::string> ComparisonLines(const std::vector<ComparedScript>& scripts);
