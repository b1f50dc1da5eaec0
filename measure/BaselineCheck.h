// This run against a baseline (an earlier measurement of the same script):
// its relative speed with the uncertainty of a comparison of scripts, a
// verdict, and whether it is slower by more than the noise and a threshold.
// Pure arithmetic on the series figures of both (Series.h).
#pragma once

#include "measure/Series.h"

// Percent, when -baseline names none.
constexpr double kDefaultBaselineThreshold = 2.0;

enum class BaselineVerdict { Faster, NoChange, Slower };

// "faster", "no change within the noise", "slower".
const char* BaselineVerdictText(BaselineVerdict verdict);

struct BaselineComparison {
    // This run's mean over the baseline's, with the uncertainty RelativeTo
    // gives: propagated from both standard errors, absent when either side
    // has a single run (no standard deviation).
    RelativeSpeed Speed;
    // Faster or slower when the change (ratio - 1) is larger than the
    // noise: the uncertainty, or without one the threshold.
    BaselineVerdict Verdict = BaselineVerdict::NoChange;
    // Slower by more than the threshold and by more than the uncertainty:
    // the change that fails a build.
    bool SlowerBeyondThreshold = false;
};

// Both figures need a counted run and a mean above 0; thresholdPercent is
// 0 to 100.
BaselineComparison CompareWithBaseline(const SeriesFigures& current, const SeriesFigures& baseline,
                                       double thresholdPercent);
