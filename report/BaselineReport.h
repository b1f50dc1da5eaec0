// A series compared with an earlier measurement of its script (-baseline):
// the record the report files take, and its lines for the console and the
// log's "[Baseline]" section.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "measure/BaselineCheck.h"
#include "measure/Series.h"

struct BaselineOutcome {
    std::string Path;  // the file as named
    double ThresholdPercent = 0;
    SeriesFigures Baseline;  // the file's figures
    BaselineComparison Comparison;
};

// The file, its figures, the relative speed with its uncertainty, the verdict.
std::vector<std::string> BaselineLines(const BaselineOutcome& outcome);

// The log's section; empty without a comparison.
std::string BaselineLogSection(const std::optional<BaselineOutcome>& outcome);
