// The result switches end to end: repeated runs, several scripts compared,
// frame times, the JSON file and the chart beside the script. (The JSON
// schema and the chart's structure are checked by tests/results.)
#include <filesystem>
#include <regex>

#include "tests/e2e/Harness.h"
#include "tests/support/TestPlatform.h"

namespace {

// 2 ms frames: ten frames a sample, about 0.6 s a run.
const std::string kClip = "frames=300\nframe_delay_us=2000\n";

std::string Line(const std::string& text) { return "\r" + Padded(text) + "\n"; }

bool HasLine(const std::string& output, const std::string& pattern) {
    return std::regex_search(output, std::regex("\r" + pattern + " *\n"));
}

// Each line of a CR LF text.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

TEST_BOTH_INTERFACES(RepeatedRuns, EachRunIsAFullCycleAfterOneCalibration) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kClip);
    ProcessResult result = tachoro.Run({script, "-runs=3", "-log", "-csv"});
    EXPECT_EXIT_CODE(result, 0);

    // Two loads for the installation query, one calibration, three runs:
    // each requests every frame and deletes its environment.
    auto loads = ReadCounterLines(tachoro.CountersFile());
    ASSERT_EQ(loads.size(), 6u);
    for (size_t load = 3; load < 6; ++load) {
        EXPECT_EQ(loads[load]["frames_requested"], 300) << load;
        EXPECT_EQ(loads[load]["environments_deleted"], 1) << load;
    }

    for (const char* heading : {"Run 1 of 3", "Run 2 of 3", "Run 3 of 3"})
        EXPECT_NE(result.Err.find(Line(heading)), std::string::npos) << heading;
    EXPECT_TRUE(HasLine(result.Err, "Run 3:                          [0-9.]+ fps, completed"));
    EXPECT_TRUE(HasLine(result.Err, "Runs counted:                   3 of 3"));
    EXPECT_TRUE(HasLine(result.Err, "FPS average \\(mean \\| sd\\):        [0-9.]+ \\| [0-9.]+"));
    EXPECT_TRUE(HasLine(result.Err, "FPS average \\(min \\| max\\):        [0-9.]+ \\| [0-9.]+"));

    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    size_t at = 0;
    for (const char* section : {"[Runtime info, run 1 of 3]", "[Runtime info, run 3 of 3]", "[Runs]", "[Script]",
                                "[Performance data, run 1 of 3]", "[Performance data, run 3 of 3]"}) {
        at = log.find(std::string("\r\n") + section + "\r\n", at);
        EXPECT_NE(at, std::string::npos) << section;
    }

    // One table, the run's number first.
    const std::vector<std::string> csv = Lines(ReadBytes(tachoro.Path("clip.csv")));
    ASSERT_GT(csv.size(), 3u);
    EXPECT_EQ(csv[0].substr(0, 16), "Run,Frame,Frames");
    std::vector<int> rowsPerRun(4, 0);
    for (size_t row = 1; row < csv.size(); ++row) {
        const int run = std::stoi(csv[row]);
        ASSERT_TRUE(run >= 1 && run <= 3) << csv[row];
        EXPECT_GE(run, csv[row - 1][0] == 'R' ? 1 : std::stoi(csv[row - 1])) << "runs in order";
        ++rowsPerRun[run];
    }
    EXPECT_EQ(rowsPerRun[1], rowsPerRun[3]);
    EXPECT_GT(rowsPerRun[2], 0);
}

TEST_BOTH_INTERFACES(ScriptComparison, EachScriptHasItsOwnFilesThenTheTable) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string slow = tachoro.WriteScript("slow.avs", kClip);
    // Twice the calibration's shortest time (0.2 s) on the tick clock, which
    // is coarse on Windows: 300 frames of this script were too few at times.
    const std::string fast = tachoro.WriteScript("fast.avs", "frames=600\nframe_delay_us=700\n");
    ProcessResult result = tachoro.Run({slow, fast, "-csv"});
    EXPECT_EXIT_CODE(result, 0);
    // One calibration and one run each.
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 6u);
    EXPECT_NE(result.Err.find(Line("Script 1 of 2: " + slow)), std::string::npos);
    EXPECT_NE(result.Err.find(Line("Script 2 of 2: " + fast)), std::string::npos);
    // A single run's CSV file for each.
    for (const char* file : {"slow.csv", "fast.csv"})
        EXPECT_EQ(ReadBytes(tachoro.Path(file)).substr(0, 6), "Frame,") << file;
    EXPECT_TRUE(HasLine(result.Err, "Script    Runs  FPS \\(mean \\| sd\\)    Relative speed"));
    EXPECT_TRUE(HasLine(result.Err, "slow.avs     1  [0-9.]+ \\| n/a +0\\.[0-9]{3}")) << result.Err;
    EXPECT_TRUE(HasLine(result.Err, "fast.avs     1  [0-9.]+ \\| n/a +1\\.000 \\(fastest\\)"));
}

TEST(ScriptComparison, AFailedRunEndsItsSeriesAndTheNextScriptFollows) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    // Load 5 of the process is the second run of the first script.
    const std::string failing = tachoro.WriteScript(
        "failing.avs", kClip + "fail_at=150\nfail_in_load=5\nfail_message=Filter crashed at 150\n");
    const std::string other = tachoro.WriteScript("other.avs", kClip);
    ProcessResult result = tachoro.Run({failing, other, "-runs=2"});
    EXPECT_EXIT_CODE(result, -1);
    // Query (2), calibration and two runs of the first, then the second's three.
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 8u);
    EXPECT_TRUE(HasLine(result.Err, "Run 2:                          frame-server error"));
    // Its first run still counts (faster or slower than the other script).
    EXPECT_TRUE(HasLine(result.Err, "failing.avs     1  [0-9.]+ \\| n/a +[01]\\.[0-9]{3}( \\(fastest\\))? "
                                    "\\(frame-server error in run 2\\)"));
    // The error forces the log of that script on, with the run it ended.
    const std::string log = ReadBytes(tachoro.Path("failing.log"));
    EXPECT_NE(log.find("\r\n[AviSynth error, run 2 of 2]\r\nFilter crashed at 150\r\n"), std::string::npos);
    EXPECT_NE(log.find("[Runtime info, run 1 of 2]"), std::string::npos);
    EXPECT_FALSE(PathExists(tachoro.Path("other.log")));
}

TEST(ScriptComparison, AMissingScriptStopsBeforeAnythingIsMeasured) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kClip);
    ProcessResult result = tachoro.Run({script, "missing.avs", "-runs=2"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_NE(result.Err.find("\nFile not found: \"missing.avs\"\n"), std::string::npos);
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 2u);  // the installation query only
}

// Report files are told apart by what they are, not by their names: one
// folder under two names, or a report name linked to another, would make one
// file of two, which the second would replace.
TEST(ScriptComparison, ReportFilesThatAreOneFileStopBeforeAnythingIsMeasured) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string a = tachoro.WriteScript("a.avs", kClip), b = tachoro.WriteScript("b.avs", kClip);
    WriteBytes(tachoro.Path("a.log"), "earlier log");
    std::filesystem::create_hard_link(tachoro.Path("a.log"), tachoro.Path("b.json"));
    std::filesystem::create_hard_link(tachoro.Path("a.log"), tachoro.Path("a.svg"));
    const SymbolicLink here(tachoro.Path(""), tachoro.Path("here"));
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"b.avs", "-json", "a.avs"}, "\nTwo scripts would share their report files: \"a.avs\"\n"},
        {{"a.avs", "-plot"},
         "\nTwo report files would be one file: \"" + tachoro.Path("a.log") + "\" and \"" + tachoro.Path("a.svg") + "\"\n"},
        {{"b.avs", "here/b.avs"}, "\nTwo scripts would share their report files: \"here/b.avs\"\n"},
    };
    for (const auto& c : cases) {
        if (!here.Made() && c.arguments[1] == "here/b.avs") continue;
        SCOPED_TRACE(c.message);
        std::filesystem::remove(tachoro.CountersFile());
        ProcessResult result = tachoro.Run(c.arguments);
        EXPECT_EXIT_CODE(result, -1);
        EXPECT_EQ(result.Err, BannerWithVersion() + c.message);
        EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 2u);  // the installation query only
    }
    EXPECT_EQ(ReadBytes(tachoro.Path("a.log")), "earlier log");
    EXPECT_FALSE(PathExists(tachoro.Path("b.log")));
}

TEST(RepeatedRuns, TheTimeLimitHoldsForEachRun) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    // 1.4 s of frames: the calibration reads them all, each run stops at 1 s.
    const std::string script = tachoro.WriteScript("long.avs", "frames=700\nframe_delay_us=2000\n");
    ProcessResult result = tachoro.Run({script, "-runs=2", "-timelimit=1"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_TRUE(HasLine(result.Err, "Run 1:                          [0-9.]+ fps, stopped by the time limit"));
    EXPECT_TRUE(HasLine(result.Err, "Run 2:                          [0-9.]+ fps, stopped by the time limit"));
    auto loads = ReadCounterLines(tachoro.CountersFile());
    ASSERT_EQ(loads.size(), 5u);
    EXPECT_LT(loads[4]["frames_requested"], 700);
}

TEST_BOTH_INTERFACES(FrameTimes, PercentilesAndTheSlowestFramesInTheSummaryAndTheLog) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kClip);
    ProcessResult result = tachoro.Run({script, "-frametimes", "-log", "-json"});
    EXPECT_EXIT_CODE(result, 0);
    const std::string percentiles = "Frame time \\(med \\| p99 \\| p99\\.9\\): [0-9.]+ \\| [0-9.]+ \\| [0-9.]+ ms";
    const std::string slowest = "Slowest frames \\(frame: ms\\):     [0-9]+: [0-9.]+( \\| [0-9]+: [0-9.]+)*";
    EXPECT_TRUE(HasLine(result.Err, percentiles));
    EXPECT_TRUE(HasLine(result.Err, slowest));
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_TRUE(std::regex_search(log, std::regex("Time \\(elapsed\\): +[0-9:.]+\r\n" + percentiles + "\r\n" + slowest)));
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    EXPECT_NE(json.find("\"frameTimes\": {\r\n"), std::string::npos);
    EXPECT_NE(json.find("\"frames\": 300,"), std::string::npos);
}

// A name may hold a backslash (a folder's separator only on Windows), a line
// break or an escape sequence (POSIX): the files and the console show it
// whole, on one line, and harmless.
TEST_BOTH_INTERFACES(ResultFiles, AScriptNameIsShownWholeOnOneLineAndHarmless) {
    if (kOnWindows) GTEST_SKIP() << "such names are no file names on Windows";
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string odd = tachoro.WriteScript("e\x1b[31m\nx\\y.avs", kClip);
    const std::string plain = tachoro.WriteScript("plain.avs", kClip);
    ProcessResult result = tachoro.Run({odd, plain, "-log", "-plot"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Err.find('\x1b'), std::string::npos);
    EXPECT_NE(result.Err.find("\re?[31m?x\\y.avs "), std::string::npos) << result.Err;  // in the comparison
    const std::string log = ReadBytes(tachoro.Path("e\x1b[31m\nx\\y.log"));
    EXPECT_NE(log.find("\r\nScript file:                           " + tachoro.Path("e?[31m?x\\y.avs") + "\r\n"),
              std::string::npos)
        << log;
    const std::string svg = ReadBytes(tachoro.Path("e\x1b[31m\nx\\y.svg"));
    EXPECT_NE(svg.find("<title>e?[31m?x\\y.avs</title>"), std::string::npos) << svg;
}

TEST_BOTH_INTERFACES(ResultFiles, BesideTheScriptWhenAskedAndOnlyWhereTheyMeanSomething) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kClip);

    // -info: the clip's facts as JSON, no chart (nothing was measured). The
    // frame server's interface is the one the program was built over.
    ProcessResult info = tachoro.Run({script, "-info", "-json", "-plot", "-runs=3"});
    EXPECT_EXIT_CODE(info, 0);
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    EXPECT_NE(json.find("\"mode\": \"info\""), std::string::npos);
    EXPECT_EQ(JsonValue(json, "interface"), "\"" + InterfaceUnderTest() + "\"");
    EXPECT_FALSE(PathExists(tachoro.Path("clip.svg")));
    // No CSV file either, even when the evaluation failed.
    const std::string failing = tachoro.WriteScript("failing.avs", "import_error=no such filter\n");
    EXPECT_EXIT_CODE(tachoro.Run({failing, "-info", "-csv"}), -1);
    EXPECT_FALSE(PathExists(tachoro.Path("failing.csv")));

    // -avsinfo ends before any script: no files.
    std::filesystem::remove(tachoro.Path("clip.json"));
    EXPECT_EXIT_CODE(tachoro.Run({script, "-avsinfo", "-json", "-plot"}), 0);
    EXPECT_FALSE(PathExists(tachoro.Path("clip.json")));

    // A measured run: both, and the chart names the script.
    ProcessResult measured = tachoro.Run({script, "-json", "-plot"});
    EXPECT_EXIT_CODE(measured, 0);
    EXPECT_NE(ReadBytes(tachoro.Path("clip.json")).find("\"kind\": \"completed\""), std::string::npos);
    const std::string svg = ReadBytes(tachoro.Path("clip.svg"));
    EXPECT_EQ(svg.substr(0, 5), "<?xml");
    EXPECT_NE(svg.find(">clip.avs</text>"), std::string::npos);

    // A file that cannot be written is reported and the run fails.
    std::filesystem::remove(tachoro.Path("clip.svg"));
    std::filesystem::create_directory(tachoro.Path("clip.svg"));
    ProcessResult blocked = tachoro.Run({script, "-json", "-plot"});
    EXPECT_EXIT_CODE(blocked, -1);
    EXPECT_NE(blocked.Err.find("\nCannot create \"" + tachoro.Path("clip.svg") + "\"\n"), std::string::npos);
}

}  // namespace
