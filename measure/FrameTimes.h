// Frame times (-frametimes): the loop reads a counter once per frame and
// records each frame's time here. The memory is bounded whatever the frame
// count: a log-linear histogram of counter ticks (exact below 256 ticks,
// above that buckets no wider than 1/128 of their lower bound) and the ten
// slowest frames, exact. The statistics are pure functions of a recorder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SlowFrame {
    uint32_t Frame = 0;  // clip frame number, counted from 0
    int64_t Ticks = 0;
};

class FrameTimeRecorder {
public:
    static constexpr size_t kSlowest = 10;
    static constexpr size_t kExactTicks = 256;  // below this every tick value has a bucket of its own
    static constexpr size_t kSubBuckets = 128;  // buckets per power of two above that
    static constexpr size_t kBuckets = kExactTicks + (64 - 8) * kSubBuckets;

    FrameTimeRecorder();

    // One frame's time; negative times (a counter that stepped back) count
    // as 0. Ties with the tenth slowest keep the earlier frame.
    void Record(int64_t ticks, uint32_t frame) {
        if (ticks < 0) ticks = 0;
        ++Buckets[BucketOf(static_cast<uint64_t>(ticks))];
        ++Frames;
        TotalTicks += static_cast<uint64_t>(ticks);
        if (ticks > SlowThreshold) InsertSlow(ticks, frame);
    }

    static size_t BucketOf(uint64_t ticks);
    static uint64_t BucketLow(size_t bucket);
    static uint64_t BucketHigh(size_t bucket);  // exclusive

    uint64_t FrameCount() const { return Frames; }
    uint64_t SumTicks() const { return TotalTicks; }
    uint32_t BucketCount(size_t bucket) const { return Buckets[bucket]; }
    // Slowest first.
    const std::vector<SlowFrame>& Slowest() const { return SlowFrames; }

private:
    void InsertSlow(int64_t ticks, uint32_t frame);

    std::vector<uint32_t> Buckets;
    uint64_t Frames = 0;
    uint64_t TotalTicks = 0;
    std::vector<SlowFrame> SlowFrames;
    int64_t SlowThreshold = -1;  // a frame must be slower than this to enter the list
};

// A time that takes the value of a bucket: the tick value itself for the
// exact buckets, the middle of the bucket above them; never beyond the
// slowest frame. Nearest-rank percentile: the smallest time with at least
// fraction x frames at or below it. 0 without frames.
double PercentileTicks(const FrameTimeRecorder& recorder, double fraction);

struct FrameTimeBin {
    double FromMs = 0;  // inclusive
    double ToMs = 0;    // exclusive
    uint64_t Count = 0;
};

struct FrameTimeSummary {
    uint64_t Frames = 0;
    double MeanMs = 0;
    double MedianMs = 0;
    double P99Ms = 0;
    double P999Ms = 0;
    struct Slow {
        uint32_t Frame = 0;
        double Ms = 0;
    };
    std::vector<Slow> Slowest;      // slowest first
    std::vector<FrameTimeBin> Bins;  // the non-empty bins, 16 per power of two (fewer below 16 ticks)
};

// The summary in milliseconds for a counter of `frequency` ticks per second.
FrameTimeSummary SummariseFrameTimes(const FrameTimeRecorder& recorder, int64_t frequency);

// The lines the run summary gains: the percentiles and the slowest frames,
// packed into lines of at most 79 characters. None without frames.
std::vector<std::string> FrameTimeLines(const FrameTimeSummary& summary);
