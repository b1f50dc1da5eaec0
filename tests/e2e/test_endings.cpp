// How a run ends when its surroundings end it: a reader that goes away,
// standard streams that were never open, an interruption. The results of the
// run are never lost to them.
#include <csignal>

#include "tests/e2e/Harness.h"
#include "tests/support/TestPlatform.h"

namespace {

// Two seconds of calibration and two of measurement: time for a signal to
// come while the frames are read.
const std::string kClip = "frames=1000\nframe_delay_us=2000\n";
// The prompt of a run whose standard input is not a keyboard (a pipe here).
const char* const kStopPrompt = "Press Ctrl+C to cancel the process...";

// The CSV's sample rows.
size_t CsvRows(const TachoroRun& tachoro, const std::string& name) {
    const std::string csv = ReadBytes(tachoro.Path(name));
    size_t lines = 0;
    for (size_t at = 0; (at = csv.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    return lines > 0 ? lines - 1 : 0;
}

// The console's reader or the console's streams go: the run and its files go
// on ("| head -c1", "2>&-").
TEST(Endings, ConsoleStreamsThatAreGoneLoseNothing) {
    if (kOnWindows) GTEST_SKIP() << "POSIX descriptors and SIGPIPE; on Windows a write to a broken pipe only fails";
    const struct {
        const char* what;
        bool closeOutputEarly;
        std::vector<int> closed;
    } cases[] = {
        {"the reader of the output ends after one byte", true, {}},
        {"started with standard error closed", false, {2}},
        {"started with every standard stream closed", false, {0, 1, 2}},
        {"started with standard input closed", false, {0}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        TachoroRun tachoro;
        // The single-instance lock is a file that must not take the place
        // of a closed stream.
        tachoro.WriteSettings({"AllowOnlyOneInstance=1"});
        const std::string script = tachoro.WriteScript("clip.avs", "frames=300\nframe_delay_us=2000\n");
        ProcessRun run;
        run.Arguments = {script, "-log", "-csv"};
        run.CloseOutputEarly = testCase.closeOutputEarly;
        run.ClosedDescriptors = testCase.closed;
        ProcessResult result = tachoro.RunWith(run);
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_EQ(result.Signal, 0);
        EXPECT_GT(CsvRows(tachoro, "clip.csv"), 0u);
        EXPECT_NE(ReadBytes(tachoro.Path("clip.log")).find("[Performance data]"), std::string::npos);
        EXPECT_EQ(ReadBytes(tachoro.Path("__tachoro__single__instance__lock__")), "");
        // Where Esc cannot be read, the display says how to stop the run.
        if (!testCase.closeOutputEarly && testCase.closed == std::vector<int>{0}) {
            EXPECT_NE(result.Err.find(std::string("\n") + kStopPrompt + "\n"), std::string::npos) << result.Err;
            EXPECT_EQ(result.Err.find("Esc"), std::string::npos) << result.Err;
        }
    }
}

// A fault on a thread of the frame server's own ends the run as one on the
// main thread does, with the samples so far; the library, which would wait
// for that thread, is left loaded.
TEST(Endings, AFaultOnAWorkerThreadKeepsTheSamplesSoFar) {
    const std::string fault = "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION\n"
                              "The fault happened on a worker thread of the frame server.\n"
                              "(while reading frame 150)\n";
    const struct {
        const char* what;
        int load;  // of the library: 3 is the calibration's, 4 the measurement's
        bool measured;
    } cases[] = {
        {"in the measured run", 4, true},
        {"in the calibration", 3, false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script =
            tachoro.WriteScript("clip.avs", "frames=300\nframe_delay_us=2000\nworker_thread=1\nfail_at=150\n"
                                            "fail_with=access_violation\nfail_in_load=" +
                                                std::to_string(testCase.load) + "\n");
        ProcessResult result = tachoro.Run({script, "-csv"}, {}, "", 60000);
        EXPECT_EXIT_CODE(result, -1);
        ASSERT_GE(result.Err.size(), fault.size()) << result.Err;
        EXPECT_EQ(result.Err.substr(result.Err.size() - fault.size() - 1), "\n" + fault);
        // The faulted load's environment was never deleted (its counters
        // come at the process's end).
        const auto loads = ReadCounterLines(tachoro.CountersFile());
        ASSERT_EQ(loads.size(), static_cast<size_t>(testCase.load));
        EXPECT_EQ(loads.back().at("environments_deleted"), 0);
        if (!testCase.measured) {
            EXPECT_FALSE(PathExists(tachoro.Path("clip.csv")));
            continue;
        }
        const std::string csv = ReadBytes(tachoro.Path("clip.csv"));
        EXPECT_NE(csv.find("\r\n150,"), std::string::npos) << csv;  // the samples up to the fault
        // The log's error section says where the fault happened.
        const std::string logged = "\r\n[AviSynth error]\r\nException 0xC0000005\r\nSTATUS_ACCESS_VIOLATION\r\n"
                                   "The fault happened on a worker thread of the frame server.\r\n"
                                   "(while reading frame 150)\r\n";
        const std::string log = ReadBytes(tachoro.Path("clip.log"));
        EXPECT_NE(log.find("[Performance data]"), std::string::npos);
        ASSERT_GE(log.size(), logged.size());
        EXPECT_EQ(log.substr(log.size() - logged.size()), logged);
    }
}

#if defined(_WIN32)
#define SIGHUP 1  // a row that only POSIX has
#endif

// How the program ended when the interruption ended it at once.
void ExpectEndedBy(const ProcessResult& result, int signal) {
    if (kOnWindows)
        EXPECT_EQ(result.ExitCode, 0xC000013Au) << result.Err;
    else
        EXPECT_EQ(result.Signal, signal) << result.Err;
}

// SIGINT, SIGTERM and SIGHUP (Windows: Ctrl+Break) during the measured run
// stop it as Esc does and keep its results; a second one, or one outside the
// measured run, ends the process at once.
TEST(Endings, AnInterruptionKeepsTheResults) {
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine does not deliver Ctrl+Break to a program whose streams are pipes (the run goes on to "
                        "its end)";
    const struct {
        const char* what;
        int signal;
        const char* when;
        int count;
        bool keepsResults;
        std::string clip = kClip;
    } cases[] = {
        {"SIGINT while measuring", SIGINT, kStopPrompt, 1, true},
        {"SIGTERM while measuring", SIGTERM, kStopPrompt, 1, true},
        {"SIGHUP while measuring", SIGHUP, kStopPrompt, 1, true},
        // Frames of 0.3 s: the second signal comes while the first one
        // waits for the frame to end.
        {"a second SIGINT", SIGINT, kStopPrompt, 2, false, "frames=12\nframe_delay_us=300000\n"},
        {"SIGINT during the calibration", SIGINT, "Analysing script...", 1, false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        if (kOnWindows && testCase.signal != SIGINT) continue;
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = tachoro.WriteScript("clip.avs", testCase.clip);
        ProcessRun run;
        run.Arguments = {script, "-log", "-csv", "-json"};
        run.InterruptWhen = testCase.when;
        run.InterruptSignal = testCase.signal;
        run.InterruptCount = testCase.count;
        ProcessResult result = tachoro.RunWith(run);
        EXPECT_FALSE(result.TimedOut);
        if (!testCase.keepsResults) {
            ExpectEndedBy(result, testCase.signal);
            EXPECT_FALSE(PathExists(tachoro.Path("clip.csv")));
            continue;
        }
        EXPECT_EQ(result.Signal, 0);
        EXPECT_EQ(result.ExitCode, kOnWindows ? 0xC000013Au : 128u + static_cast<unsigned>(testCase.signal))
            << result.Err;
        EXPECT_NE(result.Err.find("Frames processed:"), std::string::npos) << result.Err;
        // Stopped early, with the samples so far.
        EXPECT_GT(CsvRows(tachoro, "clip.csv"), 0u);
        EXPECT_LT(ReadCounterLines(tachoro.CountersFile()).back()["frames_requested"], 1000);
        EXPECT_NE(ReadBytes(tachoro.Path("clip.log")).find("[Performance data]"), std::string::npos);
        EXPECT_NE(ReadBytes(tachoro.Path("clip.json")).find("\"stoppedBySignal\""), std::string::npos);
    }
}

}  // namespace
