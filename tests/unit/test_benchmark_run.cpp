// RunBenchmark against the test frame server: every frame requested once and
// released before the next, the teardown, the summary, and what a failing
// frame request leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "app/Settings.h"
#include "frameserver/Avisynth.h"
#include "frameserver/FrameServer.h"
#include "measure/Benchmark.h"
#include "measure/GPUInfo.h"
#include "platform/Platform.h"
#include "support/SEException.h"
#include "tests/support/ScratchDir.h"
#include "tests/testfs/TestFSCounters.h"

namespace {

class BenchmarkRun : public ::testing::Test {
protected:
    void SetUp() override {
        saved = Settings;
        Settings.FrameFirst = 0;
        Settings.FrameLast = -1;
        Settings.TimeLimit = -1;
        Settings.MonitorGPULoad = 0;
        Settings.ConUseSTDOUT = 0;
        ASSERT_TRUE(scratch.Valid());
    }
    void TearDown() override {
        if (context.Library) CloseFrameServer(context);
        Settings = saved;
    }

    // Opens the test frame server and loads a script with these lines.
    void Load(const std::string& scriptText) {
        const std::string path = scratch.Path("clip.avs");
        ASSERT_TRUE(WriteBytes(path, scriptText));
        ASSERT_EQ(OpenFrameServer(context, TESTFS_LIBRARY, 7), OpenResult::Opened);
        LoadScript(context, path);
        counters = reinterpret_cast<TestFSGetCountersFunc>(
            platform::DynamicSymbol(context.Library, kTestFSGetCountersSymbol));
        ASSERT_NE(counters, nullptr);
    }

    BenchmarkOutcome Run(uint32_t interval) {
        testing::internal::CaptureStderr();
        BenchmarkOutcome outcome = BenchmarkOutcome::RangeRefused;
        try {
            outcome = RunBenchmark(context, interval, gpu, state, report);
        } catch (...) {
            console = testing::internal::GetCapturedStderr();
            throw;
        }
        console = testing::internal::GetCapturedStderr();
        return outcome;
    }

    SettingsRecord saved;
    ScratchDir scratch;
    FrameServerContext context;
    TestFSGetCountersFunc counters = nullptr;
    CGPUInfo gpu;
    BenchmarkState state;
    std::string report;
    std::string console;
};

}  // namespace

TEST_F(BenchmarkRun, EveryFrameOnceEachReleasedBeforeTheNext) {
    Load("frames=2500\n");
    ASSERT_EQ(Run(100), BenchmarkOutcome::Measured);

    const TestFSCounters& c = *counters();
    EXPECT_EQ(c.frames_requested, 2500);
    EXPECT_EQ(c.max_frames_alive, 1);
    EXPECT_EQ(c.frames_alive_at_delete, 0);
    EXPECT_EQ(c.environments_deleted, 1) << "the script is released after the loop";
    EXPECT_EQ(context.Environment, nullptr);

    EXPECT_EQ(Settings.FrameLast, 2499);
    EXPECT_EQ(state.Stats.FramesProcessed, 2500u);
    ASSERT_EQ(state.Stats.SamplesStored, 25u);
    for (uint32_t i = 0; i < 25; ++i) EXPECT_EQ(state.Samples[i].FrameNumber, 100 * i + 99);
    EXPECT_GT(state.Stats.FPSMin, 0.0);
    EXPECT_FALSE(state.DisplayNotStarted);

    EXPECT_EQ(console.rfind("\rReading frames...", 0), 0u) << console;
    EXPECT_NE(report.find("\n\n[Runtime info]\nFrames processed:               2500 (0 - 2499)\n"), std::string::npos)
        << report;
}

TEST_F(BenchmarkRun, ShortRangeHasInsufficientData) {
    Load("frames=5\n");
    ASSERT_EQ(Run(10), BenchmarkOutcome::Measured);
    EXPECT_EQ(state.Stats.SamplesStored, 0u);
    EXPECT_EQ(report, "\n\n[Runtime info]\nInsufficient data for measurements");
}

TEST_F(BenchmarkRun, FrameServerErrorKeepsTheSamplesSoFar) {
    Load("frames=1000\nfail_at=500\nfail_message=broken frame\n");
    try {
        Run(100);
        FAIL() << "no exception";
    } catch (const AvisynthError& error) {
        EXPECT_STREQ(error.msg, "broken frame");
    }
    EXPECT_FALSE(state.DisplayNotStarted);
    EXPECT_EQ(state.Stats.SamplesStored, 5u);
    EXPECT_EQ(state.Stats.FramesProcessed, 500u);
    EXPECT_EQ(counters()->environments_deleted, 0) << "the error path does not delete the environment";
    EXPECT_NE(context.Environment, nullptr);
    ReleaseScript(context);  // the test's own cleanup
}

TEST_F(BenchmarkRun, AccessViolationBecomesSEExceptionAndTheProcessGoesOn) {
    Load("frames=1000\nfail_at=300\nfail_with=access_violation\n");
    try {
        Run(100);
        FAIL() << "no exception";
    } catch (const SE_Exception& exception) {
        EXPECT_EQ(exception.ExceptionCode, 0xC0000005u);
    }
    EXPECT_EQ(state.Stats.SamplesStored, 3u);
    EXPECT_EQ(state.Samples[2].FrameNumber, 299u);
    ReleaseScript(context);
    CloseFrameServer(context);

    // A second benchmark in the same process still works.
    Settings.FrameLast = -1;  // the first run resolved it to its clip's last frame
    FrameServerContext again;
    const std::string path = scratch.Path("again.avs");
    ASSERT_TRUE(WriteBytes(path, "frames=300\n"));
    ASSERT_EQ(OpenFrameServer(again, TESTFS_LIBRARY, 7), OpenResult::Opened);
    LoadScript(again, path);
    BenchmarkState second;
    std::string secondReport;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunBenchmark(again, 100, gpu, second, secondReport), BenchmarkOutcome::Measured);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(second.Stats.SamplesStored, 3u);
    CloseFrameServer(again);
}

TEST_F(BenchmarkRun, TimeLimitStopsTheRunEarly) {
    Load("frames=100000\nframe_delay_us=1000\n");
    Settings.TimeLimit = 1;
    ASSERT_EQ(Run(10), BenchmarkOutcome::Measured);
    const RunStatistics& s = state.Stats;
    EXPECT_GE(s.ElapsedMs, 1000);
    EXPECT_LT(s.ElapsedMs, 5000);
    EXPECT_LT(s.FramesProcessed, 100000u);
    EXPECT_EQ(s.FramesProcessed, s.LastFrame - s.FirstFrame + 1);
    EXPECT_EQ(counters()->frames_requested, static_cast<int64_t>(s.FramesProcessed));
    EXPECT_GT(s.EstimatedMs, s.ElapsedMs);
    // The live display ran and its prompt was printed.
    EXPECT_NE(console.find("Press 'Esc' to cancel the process..."), std::string::npos);
}
