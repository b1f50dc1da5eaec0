// How a run ends when its surroundings end it: a reader that goes away,
// standard streams that were never open, an interruption. The results of the
// run are never lost to them.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "tests/e2e/Harness.h"
#include "support/Text.h"
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

// How the program ended when the interruption ended it at once. (Wine ends
// a process on an unhandled Ctrl+C with 0, Windows with
// STATUS_CONTROL_C_EXIT.)
void ExpectEndedBy(const ProcessResult& result, int signal) {
    if (kOnWindows)
        EXPECT_EQ(result.ExitCode, RunningUnderWine() ? 0u : 0xC000013Au) << result.Err;
    else
        EXPECT_EQ(result.Signal, signal) << result.Err;
}

// SIGINT, SIGTERM and SIGHUP (Windows: Ctrl+C) during the measured run
// stop it as Esc does and keep its results; a second one, or one outside the
// measured run, ends the process at once.
TEST(Endings, AnInterruptionKeepsTheResults) {
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

namespace {

// A second to evaluate: the signal comes while the frame server evaluates.
const std::string kSlowEvaluation = "frames=30\nframe_delay_us=10000\nimport_delay_us=1000000\n";
const std::string kQuickClip = "frames=30\nframe_delay_us=10000\n";

// The runs a JSON file holds.
size_t JsonRuns(const std::string& json) {
    size_t runs = 0;
    for (size_t at = 0; (at = json.find("\r\n      \"run\": ", at)) != std::string::npos; ++at) ++runs;
    return runs;
}

// From the first run until the files are written an interruption ends the
// series, not the process: the runs finished so far are written and the
// scripts finished so far compared. An evaluation under way (a calibration's
// too) is finished first: it cannot be interrupted safely. A second
// interruption ends the process at once.
TEST(Endings, AnInterruptionBetweenRunsKeepsTheFinishedRuns) {
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> scripts;
        const char* runs;
        const char* when;
        int occurrence;
        int signal;
        int count;
        std::vector<size_t> runsWritten;  // per script; 0: no file
    } cases[] = {
        {"SIGINT in the evaluation of run 2 of 3", {{"clip", kSlowEvaluation}}, "-runs=3", "Loading script...", 2,
         SIGINT, 1, {1}},
        {"SIGTERM in the calibration of the second of three scripts",
         {{"a", kQuickClip}, {"b", kSlowEvaluation}, {"c", kQuickClip}}, "-runs=1", "Script 2 of 3", 1, SIGTERM, 1,
         {1, 0, 0}},
        {"a second SIGINT in that evaluation", {{"clip", kSlowEvaluation}}, "-runs=3", "Loading script...", 2, SIGINT,
         2, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (kOnWindows && c.signal != SIGINT) continue;
        TachoroRun tachoro;
        tachoro.WriteSettings();
        ProcessRun run;
        for (const auto& script : c.scripts) run.Arguments.push_back(tachoro.WriteScript(script.first + ".avs", script.second));
        run.Arguments.insert(run.Arguments.end(), {c.runs, "-log", "-csv", "-json"});
        run.InterruptWhen = c.when;
        run.InterruptOccurrence = c.occurrence;
        run.InterruptSignal = c.signal;
        run.InterruptCount = c.count;
        run.InterruptIntervalMs = 200;
        ProcessResult result = tachoro.RunWith(run);
        EXPECT_FALSE(result.TimedOut);
        if (c.count > 1) {
            ExpectEndedBy(result, c.signal);
        } else {
            EXPECT_EQ(result.Signal, 0);
            EXPECT_EQ(result.ExitCode, kOnWindows ? 0xC000013Au : 128u + static_cast<unsigned>(c.signal)) << result.Err;
        }
        for (size_t i = 0; i < c.scripts.size(); ++i) {
            const std::string name = c.scripts[i].first;
            SCOPED_TRACE(name);
            const size_t written = c.runsWritten[i];
            EXPECT_EQ(PathExists(tachoro.Path(name + ".log")), written > 0);
            EXPECT_EQ(PathExists(tachoro.Path(name + ".csv")), written > 0);
            if (written == 0) {
                EXPECT_FALSE(PathExists(tachoro.Path(name + ".json")));
                continue;
            }
            const std::string json = ReadBytes(tachoro.Path(name + ".json"));
            EXPECT_EQ(JsonRuns(json), written) << json;
            // A series that stopped between its runs says so.
            if (std::string(c.runs) != "-runs=1") {
                EXPECT_NE(json.find("\r\n  \"outcome\": {\r\n    \"kind\": \"stoppedBySignal\""), std::string::npos);
            }
        }
        // Nothing was measured after the interruption.
        EXPECT_EQ(result.Err.find("Run 2 of 3"), std::string::npos);
        if (c.scripts.size() > 1) {
            EXPECT_NE(result.Err.find("Script  Runs  FPS (mean | sd)    Relative speed"), std::string::npos);
            for (const char* name : {"\rb.avs", "\rc.avs"})
                EXPECT_NE(result.Err.find(name + std::string("      0  -                  no result: not measured")),
                          std::string::npos)
                    << result.Err;
        }
    }
}

// A file that was asked for and could not be written makes the run a
// failure, whatever ended it (here the log, whose name a folder holds).
TEST(Endings, AFileNotWrittenIsAFailureWhateverEndedTheRun) {
    const struct {
        const char* what;
        std::vector<std::string> switches;
        const char* interruptWhen;
        std::string input;
    } cases[] = {
        {"an interruption", {"-log", "-csv"}, kStopPrompt, ""},
        {"-info", {"-info", "-log"}, nullptr, ""},
        {"a declined range", {"-log", "-range=5,1"}, nullptr, "n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TachoroRun tachoro;
        tachoro.WriteSettings();
        ProcessRun run;
        run.Arguments = {tachoro.WriteScript("clip.avs", kClip)};
        run.Arguments.insert(run.Arguments.end(), c.switches.begin(), c.switches.end());
        std::filesystem::create_directory(tachoro.Path("clip.log"));
        if (c.interruptWhen) {
            run.InterruptWhen = c.interruptWhen;
            run.InterruptSignal = SIGINT;
        }
        run.Input = c.input;
        ProcessResult result = tachoro.RunWith(run);
        EXPECT_EXIT_CODE(result, -1);
        EXPECT_NE(result.Err.find("\nCannot create \"" + tachoro.Path("clip.log") + "\"\n"), std::string::npos)
            << result.Err;
    }
}

// A signal at any moment of a series of five runs or of a comparison of
// three scripts leaves, for each script, either its old files untouched or
// whole new ones that hold every run it measured, and no other file. The
// moments come from a fixed seed (TACHORO_TEST_SEED chooses another), shown
// with every failure; the rounds end after a time budget.
TEST(Endings, ASignalAtAnyMomentLeavesOldFilesOrWholeNewOnes) {
    unsigned seed = 20;
    if (const char* given = std::getenv("TACHORO_TEST_SEED")) seed = static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    std::mt19937 random(seed);
    // (Windows: each is a Ctrl+C.)
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    const char* const extensions[] = {".log", ".csv", ".json", ".svg"};
    // 0.15 s to evaluate, 0.3 s to measure: about 5 s for either call.
    const std::string clip = "frames=30\nframe_delay_us=10000\nimport_delay_us=150000\n";
    const auto budgetEnd = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int round = 0; round < 16 && std::chrono::steady_clock::now() < budgetEnd; ++round) {
        const bool comparison = round % 2 == 1;
        ProcessRun run;
        run.InterruptAfterMs = std::uniform_int_distribution<unsigned>(0, 6000)(random);
        run.InterruptSignal = signals[std::uniform_int_distribution<int>(0, 2)(random)];
        run.InterruptCount = std::uniform_int_distribution<int>(0, 2)(random) == 0 ? 2 : 1;
        run.InterruptIntervalMs = std::uniform_int_distribution<unsigned>(0, 400)(random);
        SCOPED_TRACE(FormatText("seed %u, round %d (%s): signal %d after %u ms, %d of them %u ms apart", seed, round,
                                comparison ? "three scripts" : "five runs", run.InterruptSignal, run.InterruptAfterMs,
                                run.InterruptCount, run.InterruptIntervalMs));
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::vector<std::string> names = comparison ? std::vector<std::string>{"a", "b", "c"}
                                                          : std::vector<std::string>{"clip"};
        for (const std::string& name : names) {
            run.Arguments.push_back(tachoro.WriteScript(name + ".avs", clip));
            for (const char* extension : extensions) WriteBytes(tachoro.Path(name + extension), "old\r\n");
        }
        run.Arguments.insert(run.Arguments.end(), {"-log", "-csv", "-json", "-plot", comparison ? "-runs=1" : "-runs=5"});
        const std::vector<std::string> before = tachoro.FileNames();
        ProcessResult result = tachoro.RunWith(run);
        ASSERT_FALSE(result.TimedOut);
        // Only a second signal may end it at once after a run began (on
        // Windows the exit code does not tell that from an end with the
        // files).
        const bool endedAtOnce = run.InterruptCount > 1 && (result.Signal != 0 || kOnWindows);
        const uint32_t interrupted = kOnWindows ? 0xC000013Au : 128u + static_cast<unsigned>(run.InterruptSignal);
        if (result.Signal == 0) {
            EXPECT_TRUE(result.ExitCode == 0 || result.ExitCode == interrupted) << result.ExitCode << "\n" << result.Err;
        }
        // No temporary file left (the test frame server's counters aside).
        std::vector<std::string> after = tachoro.FileNames();
        after.erase(std::remove(after.begin(), after.end(), "counters.txt"), after.end());
        EXPECT_EQ(after, before);

        for (size_t i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i]);
            // The runs whose measurement began: each is in the files.
            const auto heading = [](size_t number) { return "Script " + std::to_string(number) + " of 3"; };
            const size_t from = comparison ? result.Err.find(heading(i + 1)) : 0;
            const size_t to = comparison ? result.Err.find(heading(i + 2)) : std::string::npos;
            size_t measured = 0;
            for (size_t at = from == std::string::npos ? result.Err.size() : from;
                 (at = result.Err.find("Reading frames...", at)) < to; ++at)
                ++measured;
            std::vector<std::string> files;
            size_t old = 0;
            for (const char* extension : extensions) {
                files.push_back(ReadBytes(tachoro.Path(names[i] + extension)));
                old += files.back() == "old\r\n";
            }
            if (old == files.size()) {
                // Untouched: nothing measured, or a second signal ended it.
                EXPECT_TRUE(measured == 0 || endedAtOnce) << measured << " runs measured\n" << result.Err;
                continue;
            }
            EXPECT_EQ(old, 0u) << "files of two generations";
            EXPECT_EQ(JsonRuns(files[2]), measured) << files[2];
            EXPECT_EQ(files[2].substr(files[2].size() - 3), "}\r\n");
            EXPECT_EQ(files[3].substr(files[3].size() - 8), "</svg>\r\n");
            EXPECT_NE(files[0].find("\r\n[Script]\r\n"), std::string::npos);
            EXPECT_EQ(files[1].rfind(comparison ? "Frame," : "Run,Frame,", 0), 0u);
        }
    }
}

}  // namespace
