// RunBenchmark against the test frame server, followed by what the run
// sequence does after it: every frame requested once and released before the
// next, the release of the script, the summary, and what a failing frame
// request leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "frameserver/FrameSource.h"
#include "frameserver/Session.h"
#include "measure/Benchmark.h"
#include "measure/GPUMonitor.h"
#include "platform/Guard.h"
#include "platform/Keyboard.h"
#include "support/SEException.h"
#include "tests/support/ScratchDir.h"
#include "tests/testfs/TestFSCounters.h"

namespace {

// Opens the test frame server and evaluates a script with these lines.
void Open(FrameServerContext& session, ScratchDir& scratch, const std::string& name, const std::string& scriptText) {
    const std::string path = scratch.Path(name);
    ASSERT_TRUE(WriteBytes(path, scriptText));
    ASSERT_TRUE(session.Load(TESTFS_LIBRARY));
    ASSERT_EQ(session.CreateEnvironment(7), EnvironmentOutcome::Ready);
    session.Evaluate(path, ScriptChecks{"not a clip: %s"}, true);
}

// The benchmark of the whole clip; on success the script is released and
// the summary printed, as the run sequence does.
LoopProgress Measure(FrameServerContext& session, uint32_t interval, int64_t timeLimit, CGPUMonitor& gpu,
                     BenchmarkState& state, std::string& report) {
    BenchmarkSetup setup;
    setup.FirstFrame = 0;
    setup.LastFrame = session.Facts().FramesToRead - 1;
    setup.SamplingInterval = interval;
    setup.TimeLimit = timeLimit;
    FrameServerGuarded([&] { RunBenchmark(session.Frames(), setup, gpu, state); });
    session.ReleaseScript();
    for (const ScreenLine& line : PrintRunSummary(state.Result.Stats, state.Result.Readings, setup.Display).Lines)
        report += line.Text + "\n";
    return state.Result.Progress;
}

class BenchmarkRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch.Valid()); }

    void Load(const std::string& scriptText) {
        Open(session, scratch, "clip.avs", scriptText);
        counters = reinterpret_cast<TestFSGetCountersFunc>(session.LibrarySymbol(kTestFSGetCountersSymbol));
        ASSERT_NE(counters, nullptr);
    }

    LoopProgress Run(uint32_t interval, int64_t timeLimit = -1) {
        testing::internal::CaptureStderr();
        LoopProgress outcome = LoopProgress::NotStarted;
        try {
            outcome = Measure(session, interval, timeLimit, gpu, state, report);
        } catch (...) {
            console = testing::internal::GetCapturedStderr();
            throw;
        }
        console = testing::internal::GetCapturedStderr();
        return outcome;
    }

    ScratchDir scratch;
    FrameServerContext session;
    TestFSGetCountersFunc counters = nullptr;
    CGPUMonitor gpu;
    BenchmarkState state;
    std::string report;
    std::string console;
};

}  // namespace

TEST_F(BenchmarkRun, EveryFrameOnceEachReleasedBeforeTheNext) {
    Load("frames=2500\n");
    ASSERT_EQ(Run(100), LoopProgress::Ended);

    const TestFSCounters& c = *counters();
    EXPECT_EQ(c.frames_requested, 2500);
    EXPECT_EQ(c.max_frames_alive, 1);
    EXPECT_EQ(c.frames_alive_at_delete, 0);
    EXPECT_EQ(c.environments_deleted, 1) << "the script is released after the loop";

    EXPECT_EQ(state.Result.Stats.LastFrame, 2499u);
    EXPECT_EQ(state.Result.Stats.FramesProcessed, 2500u);
    ASSERT_EQ(state.Result.Stats.SamplesStored, 25u);
    for (uint32_t i = 0; i < 25; ++i) EXPECT_EQ(state.Result.Samples[i].FrameNumber, 100 * i + 99);
    EXPECT_GT(state.Result.Stats.FPSMin, 0.0);

    // The benchmark itself prints only the live display.
    EXPECT_EQ(console.find("Reading frames"), std::string::npos) << console;
    EXPECT_NE(report.find("Frames processed:               2500 (0 - 2499)\n"), std::string::npos)
        << report;
}

TEST_F(BenchmarkRun, ShortRangeHasInsufficientData) {
    Load("frames=5\n");
    ASSERT_EQ(Run(10), LoopProgress::Ended);
    EXPECT_EQ(state.Result.Stats.SamplesStored, 0u);
    EXPECT_EQ(report, "Insufficient data for measurements\n");
}

TEST_F(BenchmarkRun, FrameServerErrorKeepsTheSamplesSoFar) {
    Load("frames=1000\nfail_at=500\nfail_message=broken frame\n");
    try {
        Run(100);
        FAIL() << "no exception";
    } catch (const FrameServerError& error) {
        EXPECT_EQ(error.Message, "broken frame");
    }
    EXPECT_EQ(state.Result.Progress, LoopProgress::Running) << "the run sequence ends the failed run";
    EXPECT_EQ(state.Result.Stats.SamplesStored, 5u);
    EXPECT_EQ(state.Result.Stats.FramesProcessed, 500u);
    EXPECT_EQ(counters()->environments_deleted, 0) << "the error path does not delete the environment";
    session.ReleaseScript();  // the test's own cleanup
    EXPECT_EQ(counters()->environments_deleted, 1);
}

TEST_F(BenchmarkRun, AccessViolationBecomesSEExceptionAndTheProcessGoesOn) {
    Load("frames=1000\nfail_at=300\nfail_with=access_violation\n");
    try {
        Run(100);
        FAIL() << "no exception";
    } catch (const SE_Exception& exception) {
        EXPECT_EQ(exception.ExceptionCode, 0xC0000005u);
    }
    EXPECT_EQ(state.Result.Stats.SamplesStored, 3u);
    EXPECT_EQ(state.Result.Samples[2].FrameNumber, 299u);
    session.ReleaseScript();
    session.Close();

    // A second benchmark in the same process still works.
    FrameServerContext again;
    Open(again, scratch, "again.avs", "frames=300\n");
    BenchmarkState second;
    std::string secondReport;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Measure(again, 100, -1, gpu, second, secondReport), LoopProgress::Ended);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(second.Result.Stats.SamplesStored, 3u);
    again.Close();
}

TEST_F(BenchmarkRun, TimeLimitStopsTheRunEarly) {
    Load("frames=100000\nframe_delay_us=1000\n");
    ASSERT_EQ(Run(10, 1), LoopProgress::Ended);
    const RunStatistics& s = state.Result.Stats;
    EXPECT_GE(s.ElapsedMs, 1000);
    EXPECT_LT(s.ElapsedMs, 5000);
    EXPECT_LT(s.FramesProcessed, 100000u);
    EXPECT_EQ(s.FramesProcessed, s.LastFrame - s.FirstFrame + 1);
    EXPECT_EQ(counters()->frames_requested, static_cast<int64_t>(s.FramesProcessed));
    EXPECT_GT(s.EstimatedMs, s.ElapsedMs);
    // The live display ran and its prompt was printed: Esc where it can be
    // read, else Ctrl+C.
    EXPECT_NE(console.find(platform::StdinIsInteractive() ? "Press 'Esc' to cancel the process..."
                                                          : "Press Ctrl+C to cancel the process..."),
              std::string::npos);
}
