#include "measure/FrameTimes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "support/Text.h"

namespace {

// Index of the highest set bit; value > 0.
int HighestBit(uint64_t value) {
#if defined(__GNUC__)
    return 63 - __builtin_clzll(value);
#else
    int bit = 0;
    while (value >>= 1) ++bit;
    return bit;
#endif
}

constexpr int kExactBits = 8;  // log2 of kExactTicks
constexpr int kSubBits = 7;    // log2 of kSubBuckets

// The coarse bins of the summary: 16 per power of two. A coarse bin is a run
// of whole buckets, so its bounds are bucket bounds.
constexpr uint64_t kCoarsePerOctave = 16;

uint64_t CoarseKey(size_t bucket) {
    if (bucket < FrameTimeRecorder::kExactTicks) {
        const uint64_t value = bucket;
        if (value == 0) return 0;
        const int octave = HighestBit(value);
        const uint64_t width = std::max<uint64_t>(1, (uint64_t{1} << octave) / kCoarsePerOctave);
        return (static_cast<uint64_t>(octave + 1) << 32) | ((value - (uint64_t{1} << octave)) / width);
    }
    const size_t k = bucket - FrameTimeRecorder::kExactTicks;
    const uint64_t octave = kExactBits + k / FrameTimeRecorder::kSubBuckets;
    const uint64_t sub = k % FrameTimeRecorder::kSubBuckets;
    return ((octave + 1) << 32) | (sub / (FrameTimeRecorder::kSubBuckets / kCoarsePerOctave));
}

}  // namespace

FrameTimeRecorder::FrameTimeRecorder() : Buckets(kBuckets, 0) { SlowFrames.reserve(kSlowest + 1); }

size_t FrameTimeRecorder::BucketOf(uint64_t ticks) {
    if (ticks < kExactTicks) return static_cast<size_t>(ticks);
    const int bit = HighestBit(ticks);
    const int shift = bit - kSubBits;
    const uint64_t mantissa = ticks >> shift;  // kSubBuckets .. 2 * kSubBuckets - 1
    return kExactTicks + static_cast<size_t>(bit - kExactBits) * kSubBuckets +
           static_cast<size_t>(mantissa - kSubBuckets);
}

uint64_t FrameTimeRecorder::BucketLow(size_t bucket) {
    if (bucket < kExactTicks) return bucket;
    const size_t k = bucket - kExactTicks;
    const int shift = kExactBits + static_cast<int>(k / kSubBuckets) - kSubBits;
    return static_cast<uint64_t>(kSubBuckets + k % kSubBuckets) << shift;
}

uint64_t FrameTimeRecorder::BucketHigh(size_t bucket) {
    if (bucket < kExactTicks) return bucket + 1;
    if (bucket + 1 >= kBuckets) return std::numeric_limits<uint64_t>::max();
    const size_t k = bucket - kExactTicks;
    const int shift = kExactBits + static_cast<int>(k / kSubBuckets) - kSubBits;
    return static_cast<uint64_t>(kSubBuckets + k % kSubBuckets + 1) << shift;
}

void FrameTimeRecorder::InsertSlow(int64_t ticks, uint32_t frame) {
    // Slowest first; an equal time stays behind the earlier frame.
    auto at = std::upper_bound(SlowFrames.begin(), SlowFrames.end(), ticks,
                               [](int64_t value, const SlowFrame& slow) { return value > slow.Ticks; });
    SlowFrames.insert(at, SlowFrame{frame, ticks});
    if (SlowFrames.size() > kSlowest) SlowFrames.pop_back();
    if (SlowFrames.size() == kSlowest) SlowThreshold = SlowFrames.back().Ticks;
}

double PercentileTicks(const FrameTimeRecorder& recorder, double fraction) {
    const uint64_t frames = recorder.FrameCount();
    if (frames == 0) return 0;
    uint64_t rank = static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(frames)));
    rank = std::min(std::max<uint64_t>(rank, 1), frames);
    uint64_t seen = 0;
    for (size_t bucket = 0; bucket < FrameTimeRecorder::kBuckets; ++bucket) {
        seen += recorder.BucketCount(bucket);
        if (seen < rank) continue;
        const uint64_t low = FrameTimeRecorder::BucketLow(bucket);
        const uint64_t high = FrameTimeRecorder::BucketHigh(bucket);
        const double value = high - low == 1 ? static_cast<double>(low)
                                             : (static_cast<double>(low) + static_cast<double>(high)) / 2.0;
        const double slowest = recorder.Slowest().empty() ? value : static_cast<double>(recorder.Slowest()[0].Ticks);
        return std::min(value, slowest);
    }
    return 0;
}

FrameTimeSummary SummariseFrameTimes(const FrameTimeRecorder& recorder, int64_t frequency) {
    FrameTimeSummary summary;
    const double msPerTick = frequency > 0 ? 1000.0 / static_cast<double>(frequency) : 0.0;
    summary.Frames = recorder.FrameCount();
    if (summary.Frames == 0) return summary;
    summary.MeanMs = static_cast<double>(recorder.SumTicks()) / static_cast<double>(summary.Frames) * msPerTick;
    summary.MedianMs = PercentileTicks(recorder, 0.5) * msPerTick;
    summary.P99Ms = PercentileTicks(recorder, 0.99) * msPerTick;
    summary.P999Ms = PercentileTicks(recorder, 0.999) * msPerTick;
    for (const SlowFrame& slow : recorder.Slowest())
        summary.Slowest.push_back(FrameTimeSummary::Slow{slow.Frame, static_cast<double>(slow.Ticks) * msPerTick});

    bool open = false;
    uint64_t key = 0;
    for (size_t bucket = 0; bucket < FrameTimeRecorder::kBuckets; ++bucket) {
        const uint32_t count = recorder.BucketCount(bucket);
        const uint64_t bucketKey = CoarseKey(bucket);
        if (!open || bucketKey != key) {
            if (open && summary.Bins.back().Count == 0) summary.Bins.pop_back();
            summary.Bins.push_back(FrameTimeBin{static_cast<double>(FrameTimeRecorder::BucketLow(bucket)) * msPerTick,
                                                0, 0});
            open = true;
            key = bucketKey;
        }
        FrameTimeBin& bin = summary.Bins.back();
        bin.ToMs = static_cast<double>(FrameTimeRecorder::BucketHigh(bucket)) * msPerTick;
        bin.Count += count;
    }
    if (open && summary.Bins.back().Count == 0) summary.Bins.pop_back();
    return summary;
}

std::vector<std::string> FrameTimeLines(const FrameTimeSummary& summary) {
    std::vector<std::string> lines;
    if (summary.Frames == 0) return lines;
    lines.push_back(FormatText("Frame time (med | p99 | p99.9): %s | %s | %s ms",
                               FormatFrameTime(summary.MedianMs).c_str(), FormatFrameTime(summary.P99Ms).c_str(),
                               FormatFrameTime(summary.P999Ms).c_str()));
    const std::string label = "Slowest frames (frame: ms):     ";
    const size_t kWidth = 79;
    std::string line = label;
    bool lineHasEntry = false;
    for (const FrameTimeSummary::Slow& slow : summary.Slowest) {
        const std::string entry = FormatText("%u: %s", slow.Frame, FormatFrameTime(slow.Ms).c_str());
        const std::string separator = lineHasEntry ? " | " : "";
        if (lineHasEntry && line.size() + separator.size() + entry.size() > kWidth) {
            lines.push_back(line);
            line = std::string(label.size(), ' ');
            lineHasEntry = false;
        }
        line += (lineHasEntry ? " | " : "") + entry;
        lineHasEntry = true;
    }
    if (lineHasEntry) lines.push_back(line);
    return lines;
}
