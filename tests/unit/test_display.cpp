#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "measure/Display.h"
#include "report/SeriesReport.h"
#include "support/Console.h"
#include "support/Text.h"

TEST(RateFormatters, BoundariesAndValuesBeyondThirtyTwoBits) {
    EXPECT_EQ(FormatFPS(5.25), "5.250");
    EXPECT_EQ(FormatFPS(9.9995), "10.00");
    EXPECT_EQ(FormatFPS(23.976), "23.98");
    EXPECT_EQ(FormatFPS(120.5), "120.5");
    EXPECT_EQ(FormatFPS(999.95), "1000");
    EXPECT_EQ(FormatTPF(0.5), "0.5000");
    EXPECT_EQ(FormatTPF(40.0), "40.00");
    EXPECT_EQ(FormatTPF(999.94), "999.9");
    EXPECT_EQ(FormatFPS(9.9989), "9.999");
    EXPECT_EQ(FormatFPS(99.99), "100.0");
    EXPECT_EQ(FormatFPS(2500.5), "2501");
    EXPECT_EQ(FormatTPF(0.00012), "0.0001");
    EXPECT_EQ(FormatTPF(1000.0), "1000");
    // An interval measured as 0 s at N = 10000 reads 1e10 frames/s; a frame
    // of 58 days takes 5e9 ms.
    EXPECT_EQ(FormatFPS(1e10), "10000000000");
    EXPECT_EQ(FormatTPF(5e9), "5000000000");
    // Frame times below a microsecond keep four significant digits.
    EXPECT_EQ(FormatFrameTime(0.000027), "0.00002700");
    EXPECT_EQ(FormatFrameTime(0.00095), "0.0009500");
    EXPECT_EQ(FormatFrameTime(0.000001), "0.000001000");
    EXPECT_EQ(FormatFrameTime(0.0012), "0.0012");
    EXPECT_EQ(FormatFrameTime(0.0), "0.0000");
}

namespace {

RunStatistics SampleStats() {
    RunStatistics s;
    s.FramesToProcess = 1000;
    s.FirstFrame = 0;
    s.LastFrame = 999;
    s.CurrentFrame = 499;
    s.FramesProcessed = 500;
    s.SamplingInterval = 100;
    s.FPSCurrent = 250.0;
    s.FPSMin = 200.0;
    s.FPSMax = 400.0;
    s.FPSAverage = 312.5;
    s.CPUAverage = 37;
    s.GPUAverage = 12;
    s.VPUAverage = 8;
    s.PhysMemPeakMB = 512;
    s.VirtMemPeakMB = 640;
    s.ElapsedMs = 1600;
    s.EstimatedMs = 3200;
    return s;
}

SamplerReadings SampleReadings() {
    SamplerReadings r;
    r.CPUUsage = 41;
    r.ThreadCount = 9;
    r.PhysMemMB = 500;
    r.VirtMemMB = 600;
    r.GPULoad = 13;
    r.VideoEngineLoad = 7;
    r.MemoryUsed = 1024;
    r.MemoryDedicated = 900;
    r.MemoryDynamic = 124;
    return r;
}

std::vector<std::string> Texts(const std::vector<ScreenLine>& lines) {
    std::vector<std::string> texts;
    for (const ScreenLine& line : lines) {
        switch (line.Kind) {
        case LineKind::Text: texts.push_back(line.Text); break;
        case LineKind::Blank: texts.push_back("<blank>"); break;
        case LineKind::EscPrompt: texts.push_back("<esc>"); break;
        }
    }
    return texts;
}

// Every value column starts at column 32, after the label's colon.
void ExpectValuesAligned(const std::vector<ScreenLine>& lines) {
    for (const ScreenLine& line : lines) {
        if (line.Kind != LineKind::Text) continue;
        const size_t colon = line.Text.find(':');
        ASSERT_NE(colon, std::string::npos) << line.Text;
        EXPECT_EQ(line.Text.find_first_not_of(' ', colon + 1), 32u) << line.Text;
    }
}

}  // namespace

TEST(LiveDisplay, DefaultLines) {
    const DisplayOptions options;  // FPS on, TPF off, no GPU
    const std::vector<ScreenLine> lines = LiveDisplayLines(SampleStats(), SampleReadings(), options);
    const std::vector<std::string> expected = {
        "Frame (current | last):         499 | 999",
        "FPS (cur | min | max | avg):    250.0 | 200.0 | 400.0 | 312.5",
        "Memory usage (phys | virt):     500 | 600 MB",
        "Thread count:                   9",
        "CPU usage (current | average):  41% | 37%",
        "<blank>",
        "Time (elapsed | estimated):     00:00:01.600 | 00:00:03.200",
        "<esc>",
    };
    EXPECT_EQ(Texts(lines), expected);
    EXPECT_EQ(ScreenLineCount(lines), 10u);
    ExpectValuesAligned(lines);
}

TEST(LiveDisplay, GPULines) {
    DisplayOptions options;
    options.MonitorGPULoad = true;
    const std::vector<ScreenLine> gpuOnly = LiveDisplayLines(SampleStats(), SampleReadings(), options);
    const std::vector<std::string> gpuTexts = Texts(gpuOnly);
    ASSERT_EQ(gpuTexts.size(), 10u);
    EXPECT_EQ(gpuTexts[5], "<blank>");
    EXPECT_EQ(gpuTexts[6], "GPU usage (current | average):  13% | 12%");
    EXPECT_EQ(gpuTexts[7], "<blank>");
    EXPECT_EQ(ScreenLineCount(gpuOnly), 12u);

    options.DisplayTPF = true;
    options.HasVideoEngine = options.HasMemoryUsed = options.HasMemoryDedicated = options.HasMemoryDynamic = true;
    const std::vector<ScreenLine> lines = LiveDisplayLines(SampleStats(), SampleReadings(), options);
    const std::vector<std::string> texts = Texts(lines);
    ASSERT_EQ(texts.size(), 15u);
    // The largest time per frame comes from the smallest rate.
    EXPECT_EQ(texts[2], "TPF (cur | max | min | avg):    4.000 | 5.000 | 2.500 | 3.200 ms");
    EXPECT_EQ(texts[7], "GPU usage (current | average):  13% | 12%");
    EXPECT_EQ(texts[8], "Video engine load (cur | avg):  7% | 8%");
    EXPECT_EQ(texts[9], "GPU memory usage:               1024 MB");
    EXPECT_EQ(texts[10], "GPU memory usage (Dedicated):   900 MB");
    EXPECT_EQ(texts[11], "GPU memory usage (Dynamic):     124 MB");
    ExpectValuesAligned(lines);
}

TEST(LiveDisplay, TPFRightAfterFrameWhenFPSIsOff) {
    DisplayOptions options;
    options.DisplayFPS = false;
    options.DisplayTPF = true;
    const std::vector<std::string> texts = Texts(LiveDisplayLines(SampleStats(), SampleReadings(), options));
    EXPECT_EQ(texts[1].rfind("TPF (cur | max | min | avg):", 0), 0u) << texts[1];
    EXPECT_EQ(texts[2].rfind("Memory usage", 0), 0u) << texts[2];
}

TEST(RunSummaryText, FullSummaryAndReport) {
    DisplayOptions options;
    options.DisplayTPF = true;
    const RunSummary summary = BuildRunSummary(SampleStats(), SampleReadings(), options);
    EXPECT_FALSE(summary.Insufficient);
    const std::vector<std::string> expected = {
        "Frames processed:               500 (0 - 999)",
        "FPS (min | max | average):      200.0 | 400.0 | 312.5",
        "TPF (max | min | average):      5.000 | 2.500 | 3.200 ms",
        "Memory usage (phys | virt):     512 | 640 MB",
        "Thread count:                   9",
        "CPU usage (average):            37%",
        "<blank>",
        "Time (elapsed):                 00:00:01.600",
    };
    EXPECT_EQ(Texts(summary.Lines), expected);
    ExpectValuesAligned(summary.Lines);
    // The log's section has the same lines.
    std::string report = "\n\n[Runtime info]\n";
    for (const std::string& line : expected)
        if (line != "<blank>") report += line + "\n";
    RunRecord run;
    run.Stats = SampleStats();
    run.Readings = SampleReadings();
    run.Summary = options;
    EXPECT_EQ(RuntimeInfoSection(run, "[Runtime info]"), report);
}

TEST(RunSummaryText, GPUBlock) {
    DisplayOptions options;
    options.MonitorGPULoad = true;
    options.HasVideoEngine = options.HasMemoryDynamic = true;
    const std::vector<std::string> texts = Texts(BuildRunSummary(SampleStats(), SampleReadings(), options).Lines);
    const std::vector<std::string> gpu(texts.begin() + 4, texts.end());
    const std::vector<std::string> expected = {
        "CPU usage (average):            37%",
        "<blank>",
        "GPU usage (average):            12%",
        "Video engine load (average):    8%",
        "GPU memory usage (Dynamic):     124 MB",
        "<blank>",
        "Time (elapsed):                 00:00:01.600",
    };
    EXPECT_EQ(gpu, expected);
}

// A driver's readings: this process's share, and the end of the readings
// when the GPU was lost, in the summary and the display alike.
TEST(RunSummaryText, DriverLines) {
    DisplayOptions options;
    options.MonitorGPULoad = options.HasProcessLoad = true;
    options.GPUReadingsEnded = "GPU is lost";
    RunStatistics stats = SampleStats();
    stats.ProcessGPUAverage = 5;
    const RunSummary summary = BuildRunSummary(stats, SampleReadings(), options);
    const std::vector<std::string> texts = Texts(summary.Lines);
    const std::vector<std::string> gpu(texts.begin() + 6, texts.end() - 2);
    EXPECT_EQ(gpu, (std::vector<std::string>{"GPU usage (average):            12%",
                                             "GPU usage of Tachoro (average): 5%",
                                             "GPU readings ended:             GPU is lost"}));
    ExpectValuesAligned(summary.Lines);
    const std::vector<std::string> live = Texts(LiveDisplayLines(stats, SampleReadings(), options));
    EXPECT_EQ(std::count(live.begin(), live.end(), "GPU readings ended:             GPU is lost"), 1);
}

TEST(RunSummaryText, FramesProcessedVariants) {
    RunStatistics s = SampleStats();
    s.FramesToProcess = s.FramesProcessed = s.SamplingInterval = 1;
    s.FirstFrame = s.LastFrame = 7;
    EXPECT_EQ(BuildRunSummary(s, SampleReadings(), DisplayOptions()).Lines[0].Text,
              "Frames processed:               1 (7)");
    s.FirstFrame = s.LastFrame = 0;
    EXPECT_EQ(BuildRunSummary(s, SampleReadings(), DisplayOptions()).Lines[0].Text, "Frames processed:               1");
    s.LastFrame = 4;
    s.FramesProcessed = 5;
    EXPECT_EQ(BuildRunSummary(s, SampleReadings(), DisplayOptions()).Lines[0].Text,
              "Frames processed:               5 (0 - 4)");
}

TEST(RunSummaryText, EstimateOnlyForAStoppedRunWhenAsked) {
    RunStatistics stopped = SampleStats();  // 500 of 1000 frames
    DisplayOptions options;
    options.LogEstimatedTime = true;
    EXPECT_EQ(BuildRunSummary(stopped, SampleReadings(), options).Lines.back().Text,
              "Time (elapsed | estimated):     00:00:01.600 | 00:00:03.200");
    options.LogEstimatedTime = false;
    EXPECT_EQ(BuildRunSummary(stopped, SampleReadings(), options).Lines.back().Text,
              "Time (elapsed):                 00:00:01.600");
    RunStatistics finished = SampleStats();
    finished.FramesProcessed = finished.FramesToProcess;
    options.LogEstimatedTime = true;
    EXPECT_EQ(BuildRunSummary(finished, SampleReadings(), options).Lines.back().Text,
              "Time (elapsed):                 00:00:01.600");
}

TEST(RunSummaryText, InsufficientData) {
    RunStatistics s = SampleStats();
    s.FramesProcessed = 99;  // fewer than one interval of 100
    const RunSummary summary = BuildRunSummary(s, SampleReadings(), DisplayOptions());
    EXPECT_TRUE(summary.Insufficient);
    ASSERT_EQ(summary.Lines.size(), 1u);
    EXPECT_EQ(summary.Lines[0].Text, "Insufficient data for measurements");
    RunRecord run;
    run.Stats = s;
    run.Summary = DisplayOptions();
    EXPECT_EQ(RuntimeInfoSection(run, "[Runtime info]"), "\n\n[Runtime info]\nInsufficient data for measurements");
    // A fault while closing follows on a line of its own.
    run.Ending.WhileClosing = true;
    run.Ending.Message = "boom";
    EXPECT_EQ(RuntimeInfoSection(run, "[Runtime info, run 2 of 3]"),
              "\n\n[Runtime info, run 2 of 3]\nInsufficient data for measurements\n"
              "Every requested frame was rendered; the frame server then faulted while closing:\nboom\n");
}

// The printed form: with output redirected nothing but the lines reaches the
// stream (no colours or cursor moves), padded to the console width.
class DisplayOutput : public ::testing::Test {
protected:
    void SetUp() override {
        savedWidth = Utils.ConsoleWidth;
        savedStream = Utils.Options.UseStdout;
        Utils.ConsoleWidth = 70;
        Utils.Options.UseStdout = false;
    }
    void TearDown() override {
        Utils.ConsoleWidth = savedWidth;
        Utils.Options.UseStdout = savedStream;
    }
    static std::string Padded(const std::string& text) { return "\r" + text + std::string(69 - text.size(), ' ') + "\n"; }

    int32_t savedWidth = 0;
    bool savedStream = false;
};

TEST_F(DisplayOutput, RefreshPrintsTheLinesAndCountsThem) {
    RunStatistics s = SampleStats();
    testing::internal::CaptureStderr();
    RefreshDisplay(s, SampleReadings(), DisplayOptions());
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(s.DisplayShown);
    EXPECT_EQ(s.DisplayLines, 10u);
    const std::string expected = Padded("Frame (current | last):         499 | 999") +
                                 Padded("FPS (cur | min | max | avg):    250.0 | 200.0 | 400.0 | 312.5") +
                                 Padded("Memory usage (phys | virt):     500 | 600 MB") +
                                 Padded("Thread count:                   9") +
                                 Padded("CPU usage (current | average):  41% | 37%") + "\n" +
                                 Padded("Time (elapsed | estimated):     00:00:01.600 | 00:00:03.200") +
                                 "\nPress 'Esc' to cancel the process...\n\n";
    EXPECT_EQ(out, expected);

    // Without a keyboard to read Esc from, the prompt names Ctrl+C.
    DisplayOptions noKeyboard;
    noKeyboard.EscKeyRead = false;
    testing::internal::CaptureStderr();
    RefreshDisplay(s, SampleReadings(), noKeyboard);
    const std::string again = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.DisplayLines, 10u);
    const std::string prompt = "\nPress Ctrl+C to cancel the process...\n\n";
    ASSERT_GE(again.size(), prompt.size());
    EXPECT_EQ(again.substr(again.size() - prompt.size()), prompt);
}

TEST_F(DisplayOutput, SummaryOverwritesTheDisplay) {
    RunStatistics s = SampleStats();
    s.DisplayShown = true;
    s.DisplayLines = 10;
    testing::internal::CaptureStderr();
    PrintRunSummary(s, SampleReadings(), DisplayOptions());
    const std::string out = testing::internal::GetCapturedStderr();
    const std::string blank = "\r" + std::string(69, ' ') + "\n";
    const std::string expected = Padded("Frames processed:               500 (0 - 999)") +
                                 Padded("FPS (min | max | average):      200.0 | 400.0 | 312.5") +
                                 Padded("Memory usage (phys | virt):     512 | 640 MB") +
                                 Padded("Thread count:                   9") +
                                 Padded("CPU usage (average):            37%") + "\n" +
                                 Padded("Time (elapsed):                 00:00:01.600") + blank + blank;
    EXPECT_EQ(out, expected);
}
