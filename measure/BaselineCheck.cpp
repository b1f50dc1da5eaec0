#include "measure/BaselineCheck.h"

const char* BaselineVerdictText(BaselineVerdict verdict) {
    switch (verdict) {
    case BaselineVerdict::Faster: return "faster";
    case BaselineVerdict::Slower: return "slower";
    case BaselineVerdict::NoChange: break;
    }
    return "no change within the noise";
}

BaselineComparison CompareWithBaseline(const SeriesFigures& current, const SeriesFigures& baseline,
                                       double thresholdPercent) {
    BaselineComparison comparison;
    comparison.Speed = RelativeTo(current, baseline, false);
    const double change = comparison.Speed.Ratio - 1.0;
    const double threshold = thresholdPercent / 100.0;
    // One run on either side gives no measure of the noise; the threshold
    // stands in for it.
    const double noise = comparison.Speed.Uncertainty ? *comparison.Speed.Uncertainty : threshold;
    if (change > noise) comparison.Verdict = BaselineVerdict::Faster;
    if (change < -noise) comparison.Verdict = BaselineVerdict::Slower;
    comparison.SlowerBeyondThreshold = -change > threshold && -change > noise;
    return comparison;
}
