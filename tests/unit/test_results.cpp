// The pure parts of the result switches: frame-time statistics, the series'
// figures and the comparison, the chart's thinning and axes, JSON and UTF-8
// text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "measure/FrameTimes.h"
#include "measure/Series.h"
#include "report/JsonFile.h"
#include "report/PlotFile.h"
#include "report/ReportFile.h"
#include "tests/support/ReportTestSupport.h"
#include "tests/support/TestPlatform.h"

namespace {

TEST(FrameTimeBuckets, HoldTheirValueWithinOneBucketWidth) {
    const uint64_t values[] = {0,       1,          255,     256,         257,        383,
                               1000,    123456789,  (uint64_t{1} << 40) + 5,     std::numeric_limits<uint64_t>::max()};
    size_t previous = 0;
    for (uint64_t value : values) {
        const size_t bucket = FrameTimeRecorder::BucketOf(value);
        ASSERT_LT(bucket, FrameTimeRecorder::kBuckets) << value;
        EXPECT_GE(bucket, previous) << value;
        previous = bucket;
        const uint64_t low = FrameTimeRecorder::BucketLow(bucket), high = FrameTimeRecorder::BucketHigh(bucket);
        EXPECT_LE(low, value);
        if (value != std::numeric_limits<uint64_t>::max()) {
            EXPECT_LT(value, high);
        }
        // Exact below 256 ticks; above, no wider than 1/128 of the lower bound.
        if (value < 256) {
            EXPECT_EQ(high - low, 1u) << value;
        } else {
            EXPECT_LE(high - low, low / 128) << value;
        }
        if (bucket + 1 < FrameTimeRecorder::kBuckets) {
            EXPECT_EQ(FrameTimeRecorder::BucketLow(bucket + 1), high);
        }
    }
}

FrameTimeRecorder Recorded(const std::vector<int64_t>& ticks) {
    FrameTimeRecorder recorder;
    for (size_t frame = 0; frame < ticks.size(); ++frame) recorder.Record(ticks[frame], static_cast<uint32_t>(frame));
    return recorder;
}

TEST(FrameTimes, PercentilesOfKnownInputs) {
    std::vector<int64_t> oneToHundred;
    for (int64_t t = 1; t <= 100; ++t) oneToHundred.push_back(101 - t);
    std::vector<int64_t> steadyWithOneStall(999, 100);
    steadyWithOneStall.push_back(200);
    // 2000 frames of 10000 ticks (bucket [9984, 10048)) and 5 of 40000.
    std::vector<int64_t> slowTail(2000, 10000);
    slowTail.insert(slowTail.end(), 5, 40000);
    const struct {
        const char* name;
        std::vector<int64_t> ticks;
        double median, p99, p999;
    } cases[] = {
        {"1..100 (exact buckets, nearest rank)", oneToHundred, 50, 99, 100},
        {"one stall in 1000", steadyWithOneStall, 100, 100, 100},
        {"a tail of five in 2005", slowTail, 10016, 10016, 40000},
        {"one frame", {7}, 7, 7, 7},
        {"nothing", {}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const FrameTimeRecorder recorder = Recorded(c.ticks);
        EXPECT_DOUBLE_EQ(PercentileTicks(recorder, 0.5), c.median) << c.name;
        EXPECT_DOUBLE_EQ(PercentileTicks(recorder, 0.99), c.p99) << c.name;
        EXPECT_DOUBLE_EQ(PercentileTicks(recorder, 0.999), c.p999) << c.name;
    }
}

TEST(FrameTimes, TheTenSlowestWithTheirFramesEarlierFirstOnTies) {
    std::vector<int64_t> ticks(30, 5);
    for (uint32_t frame : {3u, 9u, 12u, 17u, 20u, 21u, 22u, 25u, 28u}) ticks[frame] = 100 + frame;
    ticks[29] = 50;
    ticks[0] = 50;  // ties with frame 29: the earlier stays
    ticks[1] = -4;  // a counter that stepped back counts as 0
    const FrameTimeRecorder recorder = Recorded(ticks);
    const std::vector<uint32_t> expected = {28, 25, 22, 21, 20, 17, 12, 9, 3, 0};
    ASSERT_EQ(recorder.Slowest().size(), 10u);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(recorder.Slowest()[i].Frame, expected[i]) << i;
    EXPECT_EQ(recorder.BucketCount(0), 1u);

    // In milliseconds at 1000 ticks a second (one tick a millisecond), with
    // bins that hold every frame.
    const FrameTimeSummary summary = SummariseFrameTimes(recorder, 1000);
    EXPECT_EQ(summary.Frames, 30u);
    EXPECT_DOUBLE_EQ(summary.Slowest[0].Ms, 128.0);
    EXPECT_DOUBLE_EQ(summary.MedianMs, 5.0);
    uint64_t binned = 0;
    for (size_t i = 0; i < summary.Bins.size(); ++i) {
        binned += summary.Bins[i].Count;
        EXPECT_GT(summary.Bins[i].Count, 0u);
        EXPECT_LT(summary.Bins[i].FromMs, summary.Bins[i].ToMs);
        if (i > 0) {
            EXPECT_LE(summary.Bins[i - 1].ToMs, summary.Bins[i].FromMs);
        }
    }
    EXPECT_EQ(binned, 30u);
}

TEST(FrameTimes, LinesFitTheConsoleAndNameEverySlowFrame) {
    FrameTimeRecorder recorder;
    for (uint32_t frame = 0; frame < 20; ++frame) recorder.Record(1000000 + frame * 100000, 1000000 + frame);
    const std::vector<std::string> lines = FrameTimeLines(SummariseFrameTimes(recorder, 1000000000));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Frame time (med | p99 | p99.9): 1.896 | 2.900 | 2.900 ms");
    EXPECT_EQ(lines[1].substr(0, 44), "Slowest frames (frame: ms):     1000019: 2.9");
    std::string all;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 79u) << line;
        all += line;
    }
    for (uint32_t frame = 1000010; frame < 1000020; ++frame)
        EXPECT_NE(all.find(std::to_string(frame) + ": "), std::string::npos) << frame;
    EXPECT_EQ(all.find("1000009: "), std::string::npos);
    EXPECT_TRUE(FrameTimeLines(FrameTimeSummary()).empty());

    // Frames of nanoseconds keep their digits.
    FrameTimeRecorder fast;
    for (uint32_t frame = 0; frame < 1000; ++frame) fast.Record(frame == 7 ? 950 : 27, frame);
    const std::vector<std::string> fastLines = FrameTimeLines(SummariseFrameTimes(fast, 1000000000));
    ASSERT_GE(fastLines.size(), 2u);
    EXPECT_EQ(fastLines[0], "Frame time (med | p99 | p99.9): 0.00002700 | 0.00002700 | 0.00002700 ms");
    EXPECT_EQ(fastLines[1].substr(0, 46), "Slowest frames (frame: ms):     7: 0.0009500 |");
}

TEST(SeriesFigures, MeanSampleDeviationAndExtremes) {
    const SeriesFigures three = SummariseSeries({10, 12, 14});
    EXPECT_EQ(three.Runs, 3u);
    EXPECT_DOUBLE_EQ(three.Mean, 12);
    EXPECT_DOUBLE_EQ(*three.StandardDeviation, 2);  // divisor n - 1
    EXPECT_DOUBLE_EQ(*three.StandardError(), 2 / std::sqrt(3.0));
    EXPECT_DOUBLE_EQ(three.Min, 10);
    EXPECT_DOUBLE_EQ(three.Max, 14);
    // Close values of a high rate keep their spread.
    EXPECT_NEAR(*SummariseSeries({1e9 + 1, 1e9 + 3}).StandardDeviation, std::sqrt(2.0), 1e-6);
    EXPECT_FALSE(SummariseSeries({5}).StandardDeviation);
    EXPECT_EQ(SummariseSeries({}).Runs, 0u);
}

TEST(SeriesFigures, RatioToTheFastestWithPropagatedUncertainty) {
    SeriesFigures fast = SummariseSeries({99, 100, 101});   // sd 1, se 1/sqrt(3)
    SeriesFigures slow = SummariseSeries({49, 50, 51});     // sd 1, se 1/sqrt(3)
    const RelativeSpeed speed = RelativeTo(slow, fast, false);
    EXPECT_DOUBLE_EQ(speed.Ratio, 0.5);
    const double se = 1 / std::sqrt(3.0);
    EXPECT_NEAR(*speed.Uncertainty, 0.5 * std::sqrt(std::pow(se / 50, 2) + std::pow(se / 100, 2)), 1e-12);
    EXPECT_FALSE(RelativeTo(fast, fast, true).Uncertainty);
    EXPECT_FALSE(RelativeTo(SummariseSeries({40}), fast, false).Uncertainty);  // one run: no spread known
}

TEST(SeriesLines, TheRunsThenTheirFigures) {
    const std::vector<RunLine> runs = {{1, true, 20, "completed"}, {2, false, 0, "frame-server error"},
                                       {3, true, 30, "stopped by Esc"}};
    const std::vector<std::string> lines = SeriesLines(runs, 5, SummariseSeries({20, 30}));
    const std::vector<std::string> expected = {
        "Run 1:                          20.00 fps, completed",
        "Run 2:                          frame-server error",
        "Run 3:                          30.00 fps, stopped by Esc",
        "Runs counted:                   2 of 5",
        "FPS average (mean | sd):        25.00 | 7.071",
        "FPS average (min | max):        20.00 | 30.00",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(SeriesLines({}, 2, SeriesFigures()).back(), "Runs counted:                   0 of 2");
}

TEST(ComparisonLines, FastestFirstClassAndTheOthersRelativeToIt) {
    const std::vector<ComparedScript> scripts = {
        {"slow.avs", SummariseSeries({49, 50, 51}), ""},
        {"fast.avs", SummariseSeries({99, 100, 101}), ""},
        {"cut.avs", SummariseSeries({75}), "frame-server error in run 2"},
        {"broken.avs", std::nullopt, "calibration failed"},
    };
    const std::vector<std::string> expected = {
        "Script      Runs  FPS (mean | sd)    Relative speed",
        "----------  ----  -----------------  ---------------",
        "slow.avs       3  50.00 | 1.000      0.500 +/- 0.006",
        "fast.avs       3  100.0 | 1.000      1.000 (fastest)",
        "cut.avs        1  75.00 | n/a        0.750 (frame-server error in run 2)",
        "broken.avs     0  -                  no result: calibration failed",
    };
    EXPECT_EQ(ComparisonLines(scripts), expected);
}

TEST(PlotThinning, OnePointPerColumnWithItsLowestAndHighestRate) {
    // 500,000 samples over frames 0..4,999,999: about 595 a column.
    std::vector<FrameSample> samples;
    for (uint32_t i = 0; i < 500000; ++i)
        samples.push_back(MakeSample(i * 10 + 9, 100.0 + (i % 1000) + (i == 123457 ? 5000 : 0) - (i == 400001 ? 99.5 : 0),
                                     0, 0, 0, 0, 0, 0, 0));
    const std::vector<PlotColumn> columns = ThinToColumns(samples, 0, 4999999, kPlotColumns);
    ASSERT_EQ(columns.size(), kPlotColumns);
    double highest = 0, lowest = 1e9;
    for (size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(columns[i].Column, i);
        highest = std::max(highest, columns[i].Max);
        lowest = std::min(lowest, columns[i].Min);
    }
    EXPECT_DOUBLE_EQ(highest, 5000 + 100 + 457);
    EXPECT_DOUBLE_EQ(lowest, 1.5);
    // Fewer samples than columns: one column each, in frame order.
    const std::vector<FrameSample> few = {MakeSample(10, 5, 0, 0, 0, 0, 0, 0, 0), MakeSample(20, 7, 0, 0, 0, 0, 0, 0, 0)};
    const std::vector<PlotColumn> two = ThinToColumns(few, 0, 29, kPlotColumns);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].Column, 10u * kPlotColumns / 30);
    EXPECT_EQ(two[1].Min, 7);
}

TEST(PlotAxes, TicksAreRoundSteps) {
    const struct {
        double low, high;
        int count;
        std::vector<double> ticks;
    } cases[] = {
        {0, 300, 6, {0, 50, 100, 150, 200, 250, 300}},
        {0, 0.9, 3, {0, 0.2, 0.4, 0.6, 0.8}},
        {7, 7, 1, {7}},
        {13, 1000012, 6, {200000, 400000, 600000, 800000, 1000000}},
    };
    for (const auto& c : cases) {
        const std::vector<double> ticks = AxisTicks(c.low, c.high, c.count);
        ASSERT_EQ(ticks.size(), c.ticks.size()) << c.high;
        for (size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], c.ticks[i], 1e-9) << c.high;
        EXPECT_FALSE(std::signbit(ticks[0])) << "no -0";
    }
}

// The settings' range as it was asked for, or null when what was given was
// no range; a series that an interruption cut short says so.
TEST(JsonSeries, TheRangeAsAskedAndAnInterruptedSeries) {
    SeriesReport series;
    series.ScriptPath = "/x/clip.avs";
    series.Settings.FrameFirst = 5;
    series.Settings.FrameLast = 9;
    series.Runs.resize(1);
    StringSink asked;
    ProduceJson(series, asked);
    EXPECT_NE(asked.Text.find("\"frameRange\": {\n      \"first\": 5,\n      \"last\": 9\n    },"), std::string::npos)
        << asked.Text;
    EXPECT_NE(asked.Text.find("\"outcome\": {\n    \"kind\": \"completed\""), std::string::npos);

    series.Settings.FrameRangeValid = false;
    series.Interrupted = true;
    StringSink invalid;
    ProduceJson(series, invalid);
    EXPECT_NE(invalid.Text.find("\"frameRange\": null,"), std::string::npos) << invalid.Text;
    EXPECT_NE(invalid.Text.find("\"outcome\": {\n    \"kind\": \"stoppedBySignal\""), std::string::npos);
    // The run that ended the series names its own ending first.
    series.Runs[0].Ending.How = RunEnding::Kind::StoppedByEsc;
    EXPECT_STREQ(SeriesEndingOf(series).Name, "stoppedByEsc");
}

TEST(JsonText, EscapedAndValidUtf8) {
    const struct {
        std::string narrow;
        std::string json;
    } cases[] = {
        {"C:\\clips\\\"a\".avs", "\"C:\\\\clips\\\\\\\"a\\\".avs\""},
        {"tab\there\nline\x01", "\"tab\\there\\nline\\u0001\""},
        // Narrow text is UTF-8 on Linux, the ANSI code page (1252 here) on Windows.
        {kOnWindows ? "caf\xE9" : "caf\xC3\xA9", "\"caf\xC3\xA9\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.narrow), c.json);
}

TEST(Utf8Repair, InvalidSequencesBecomeReplacementCharacters) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string bytes, repaired;
    } cases[] = {
        {"plain", "plain"},
        {"\xE2\x82\xAC \xF0\x9F\x8E\xAC", "\xE2\x82\xAC \xF0\x9F\x8E\xAC"},  // 3- and 4-byte forms
        {"caf\xE9", "caf" + r},                                               // a Latin-1 byte
        {"\xC0\xAF", r + r},                                                  // overlong
        {"\xED\xA0\x80", r + r + r},                                          // a surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},                                  // beyond U+10FFFF
        {"\xE2\x82", r + r},                                                  // cut short
    };
    for (const auto& c : cases) EXPECT_EQ(RepairUtf8(c.bytes), c.repaired) << c.bytes;
}

TEST(SignificantDigits, WithoutTheLocaleAndNeverNonFinite) {
    std::string text;
    EXPECT_TRUE(AppendSignificant(text, 123.456789012345, 10));
    EXPECT_EQ(text, "123.456789");
    text.clear();
    EXPECT_TRUE(AppendSignificant(text, 1e20, 10));
    EXPECT_EQ(text, "1e+20");
    EXPECT_FALSE(AppendSignificant(text, std::numeric_limits<double>::infinity(), 10));
    EXPECT_FALSE(AppendSignificant(text, std::nan(""), 10));
}

}  // namespace
