// Measured runs against the real frame server: the CSV rows, the log rows and
// the summary agree; a failure mid-run keeps the samples so far; the stops.
#include <algorithm>
#include <cmath>
#include <csignal>

#include "tests/realfs/RealFS.h"
#include "tests/support/TestPlatform.h"

namespace {

// 2 ms frames: the calibration settles on ten frames a sample (on a heavily
// loaded machine a frame may take over 10 ms, which gives one).
const std::string kClip = "BlankClip(length=300, width=320, height=240, pixel_type=\"YV12\").SlowFrames(2000)";

const char kCsvHeader[] =
    "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),Threads,PhysMEM(MB),"
    "VirtMEM(MB)";

using Row = std::vector<std::string>;

// The CSV rows, each checked against the log row of the same sample: frame,
// rate, time per frame, CPU, threads and memory carry the same text.
std::vector<Row> CsvRowsMatchingTheLog(const TachoroRun& tachoro, const std::string& name) {
    const std::vector<std::string> csv = CrLfLines(ReadBytes(tachoro.Path(name + ".csv")));
    const std::vector<std::string> log = Section(CrLfLines(ReadBytes(tachoro.Path(name + ".log"))), "[Performance data]");
    std::vector<Row> rows;
    if (csv.empty() || log.empty()) {
        ADD_FAILURE() << "no CSV rows or no performance data in the log";
        return rows;
    }
    EXPECT_EQ(csv[0], kCsvHeader);
    EXPECT_EQ(log.size(), csv.size());
    for (size_t index = 1; index < csv.size(); ++index) {
        rows.push_back(Fields(csv[index], ','));
        const Row& row = rows.back();
        if (row.size() != 9 || index >= log.size()) {
            ADD_FAILURE() << "CSV row " << csv[index];
            continue;
        }
        EXPECT_EQ(Fields(log[index], ' '), Row({row[0], row[1], row[3], row[5], row[6], row[7], row[8]})) << index;
    }
    return rows;
}

// The frames per sample: the first row closes the first sample.
unsigned IntervalOf(const std::vector<Row>& rows) {
    const unsigned interval = rows.empty() ? 0 : std::stoul(rows[0][0]);
    EXPECT_TRUE(interval == 10 || interval == 1) << interval;
    for (size_t index = 0; index < rows.size(); ++index) EXPECT_EQ(std::stoul(rows[index][0]), interval * (index + 1));
    return interval;
}

// A number as the summary prints it is the CSV's figure, rounded to fewer places.
void ExpectSameFigure(const std::string& printed, double figure, const char* what) {
    const size_t point = printed.find('.');
    const double lastPlace = point == std::string::npos ? 1.0 : std::pow(10.0, -double(printed.size() - point - 1));
    EXPECT_NEAR(std::stod(printed), figure, lastPlace / 2 + 0.0006) << what;
}

TEST(RealFS, AMeasuredRunsRowsAndSummaryAgree) {
    for (const char* threading : {"", ".Prefetch(2)"}) {
        RealRun tachoro;
        const std::string script = tachoro.Script("clip.avs", kClip + threading + "\n");
        ProcessResult result = tachoro.Run({script, "-log", "-csv"});
        EXPECT_EXIT_CODE(result, 0);

        const std::vector<Row> rows = CsvRowsMatchingTheLog(tachoro, "clip");
        const unsigned interval = IntervalOf(rows);
        ASSERT_EQ(rows.size(), interval ? 300u / interval : 0u) << threading;

        const std::vector<std::string> screen = ScreenLines(result.Err);
        EXPECT_EQ(ValueOf(screen, "Frames processed:"), "300 (0 - 299)");
        const Row fps = Fields(ValueOf(screen, "FPS (min | max | average):"), ' ');
        ASSERT_EQ(fps.size(), 5u) << result.Err;
        double least = 1e300, most = 0;
        for (const Row& row : rows) {
            least = std::min(least, std::stod(row[1]));
            most = std::max(most, std::stod(row[1]));
        }
        ExpectSameFigure(fps[0], least, "minimum");
        ExpectSameFigure(fps[2], most, "maximum");
        ExpectSameFigure(fps[4], std::stod(rows.back()[2]), "average");  // the last sample closed the run

        // The log's summary is the one on the screen.
        const std::vector<std::string> logged =
            Section(CrLfLines(ReadBytes(tachoro.Path("clip.log"))), "[Runtime info]");
        EXPECT_GE(logged.size(), 5u);
        for (const std::string& line : logged)
            EXPECT_NE(std::find(screen.begin(), screen.end(), line), screen.end()) << line;

        // The samples before the first processor reading carry it: no 0 %
        // at the start of a run that reads a share at all.
        const bool anyShare = std::any_of(rows.begin(), rows.end(), [](const Row& row) { return row[5] != "0"; });
        if (anyShare) {
            EXPECT_NE(rows[0][5], "0") << threading;
        }
    }
}

// Prefetch renders frames ahead on four threads: they arrive in bursts
// within microseconds of each other. Such intervals are merged into spans of
// at least 10 ms (samples of one span share its rate) and no sample shows
// the burst's rate.
TEST(RealFS, BurstsOfPrefetchedFramesAreMergedIntoSpans) {
    RealRun tachoro;
    const std::string script = tachoro.Script("clip.avs", "BlankClip(length=40).SlowFrames(100000).Prefetch(4)\n");
    ProcessResult result = tachoro.Run({script, "-log", "-csv", "-json"});
    EXPECT_EXIT_CODE(result, 0);
    const std::vector<Row> rows = CsvRowsMatchingTheLog(tachoro, "clip");
    ASSERT_EQ(rows.size(), 40u) << "about 25 ms a frame: one frame a sample";
    bool merged = false;
    double most = 0;
    for (size_t index = 0; index < rows.size(); ++index) {
        most = std::max(most, std::stod(rows[index][1]));
        if (index > 0 && rows[index][1] == rows[index - 1][1]) merged = true;
    }
    EXPECT_TRUE(merged) << "no burst merged into a span";
    // Four threads of 100 ms frames: about 40 fps; at most a burst of eight
    // frames ahead in 10 ms.
    EXPECT_LE(most, 800.0);
    const Row fps = Fields(ValueOf(ScreenLines(result.Err), "FPS (min | max | average):"), ' ');
    ASSERT_EQ(fps.size(), 5u) << result.Err;
    ExpectSameFigure(fps[2], most, "maximum");
    EXPECT_LE(std::stod(JsonValue(ReadBytes(tachoro.Path("clip.json")), "fpsMax")), 800.0);
}

struct Failure {
    const char* kind;
    std::string text;  // the message's start: the frame server's error, or the fault's name
    bool frameServerError;
};

// Frame 150 of the measured run fails: the summary of the 150 frames read,
// the message with the frame, exit -1, the log forced on, the CSV with the
// fifteen samples (or 150) read before it, the JSON ending at frame 149.
void ExpectSamplesKept(const Failure& failure) {
    SCOPED_TRACE(failure.kind);
    RealRun tachoro;
    const std::string script = tachoro.Script(
        "clip.avs", kClip + ".FailAt(150, \"" + failure.kind + "\", instance=2, message=\"Frame 150 failed\")\n");
    ProcessResult result = tachoro.Run({script, "-csv", "-json"});
    EXPECT_EXIT_CODE(result, -1);
    // The summary with its two blanked lines, then the message and the frame.
    const std::string ending = "\r" + Padded("") + "\n\r" + Padded("") + "\n\n" + failure.text;
    const size_t at = result.Err.rfind(ending);
    ASSERT_NE(at, std::string::npos) << result.Err;
    EXPECT_EQ(result.Err.substr(at + ending.size()), "\n(while reading frame 150)\n") << result.Err;
    EXPECT_EQ(ValueOf(ScreenLines(result.Err), "Frames processed:"), "150 (0 - 149)") << result.Err;

    const std::vector<Row> rows = CsvRowsMatchingTheLog(tachoro, "clip");
    const unsigned interval = IntervalOf(rows);
    ASSERT_EQ(rows.size(), interval ? 150u / interval : 0u);
    const std::vector<std::string> log = CrLfLines(ReadBytes(tachoro.Path("clip.log")));
    EXPECT_EQ(Section(log, "[Runtime info]").at(0), "Frames processed:               150 (0 - 149)");
    if (failure.frameServerError)
        EXPECT_EQ(Section(log, "[AviSynth error]"), (std::vector<std::string>{failure.text, "(while reading frame 150)"}));
    else
        EXPECT_EQ(std::find(log.begin(), log.end(), "[AviSynth error]"), log.end());

    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    const size_t summary = json.find("\"summary\":");
    EXPECT_EQ(JsonValue(json, "lastFrame", summary), "149");
    EXPECT_EQ(JsonValue(json, "estimatedMs", summary), JsonValue(json, "elapsedMs", summary));
    EXPECT_EQ(JsonValue(json, "last", json.find("\"range\":")), "299");
}

TEST(RealFS, AFailureMidRunKeepsTheSamplesSoFar) {
    SKIP_UNDER_WINE_OVER_CLASS(kUnloadedUnderItsThreads);
    for (const Failure& failure : {Failure{"error", "Frame 150 failed", true},
                                   Failure{"stack_overflow", "Exception 0xC00000FD\nSTATUS_STACK_OVERFLOW", false}})
        ExpectSamplesKept(failure);
}

TEST(RealFS, AProcessorFaultInAPlugInMidRunKeepsTheSamplesSoFar) {
    for (const Failure& failure : {Failure{"access_violation", "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION", false},
                                   Failure{"divide_by_zero", "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO", false}})
        ExpectSamplesKept(failure);
}

TEST(RealFS, AnExceptionOfAPlugInsOwnRuntimeMidRunKeepsTheSamplesSoFar) {
    ExpectSamplesKept({"runtime_error", "Unknown exception\nFrame 150 failed", false});
}

// The message names the frame; the log asked for has the general
// information, the clip, the script and the error; nothing was measured.
TEST(RealFS, AFailureInTheCalibrationIsReported) {
    SKIP_UNDER_WINE_OVER_CLASS(kUnloadedUnderItsThreads);
    for (const Failure& failure : {Failure{"error", "Frame 150 failed", true},
                                   Failure{"access_violation", "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION", false}}) {
        RealRun tachoro;
        const std::string script = tachoro.Script(
            "clip.avs", kClip + ".FailAt(150, \"" + failure.kind + "\", instance=1, message=\"Frame 150 failed\")\n");
        ProcessResult result = tachoro.Run({script, "-log", "-csv"});
        EXPECT_EXIT_CODE(result, -1);
        EXPECT_EQ(result.Err, RealBanner() + StatusShownAndCleared("Analysing script...") + "\n" + failure.text +
                                  "\n(while reading frame 150)\n");
        const std::vector<std::string> log = CrLfLines(ReadBytes(tachoro.Path("clip.log")));
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0], "[General info]");
        EXPECT_EQ(Section(log, "[Clip info]").at(0), "Number of frames:                  300");
        EXPECT_EQ(Section(log, "[Script]").back(), kClip + ".FailAt(150, \"" + failure.kind +
                                                       "\", instance=1, message=\"Frame 150 failed\")");
        std::vector<std::string> error = Fields(failure.text, '\n');
        error.push_back("(while reading frame 150)");
        EXPECT_EQ(Section(log, "[AviSynth error]"), error);
        EXPECT_EQ(std::find(log.begin(), log.end(), "[Performance data]"), log.end());
        EXPECT_FALSE(PathExists(tachoro.Path("clip.csv")));
    }
}

// The frame server faults while it deletes an environment, after every frame
// asked of it was rendered (the test plug-in's AtExit callback): in the
// calibration its sampling interval stands and the run is measured; in the
// measured run the results and files stand. Either way the run completes.
TEST(RealFS, AFaultWhileTheFrameServerClosesKeepsWhatWasMeasured) {
    const std::string notice =
        "\nEvery requested frame was rendered; the frame server then faulted while closing:\n"
        "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION\n";
    for (const char* instance : {"1", "2"}) {
        SCOPED_TRACE(instance);
        RealRun tachoro;
        const std::string script = tachoro.Script(
            "clip.avs", kClip + ".FailAt(-2, \"access_violation\", instance=" + instance + ")\n");
        ProcessResult result = tachoro.Run({script, "-log", "-csv", "-json"});
        EXPECT_EXIT_CODE(result, 0);
        if (std::string(instance) == "1") {
            EXPECT_EQ(result.Err.rfind(RealBanner() + StatusShownAndCleared("Analysing script...") + notice, 0), 0u)
                << result.Err;
        } else {
            // After the summary, and in the log's copy of it.
            EXPECT_EQ(result.Err.substr(result.Err.size() - std::min(result.Err.size(), notice.size())), notice);
            const std::vector<std::string> logged =
                Section(CrLfLines(ReadBytes(tachoro.Path("clip.log"))), "[Runtime info]");
            ASSERT_GE(logged.size(), 3u);
            EXPECT_EQ(std::vector<std::string>(logged.end() - 3, logged.end()),
                      std::vector<std::string>({"Every requested frame was rendered; the frame server then faulted "
                                                "while closing:",
                                                "Exception 0xC0000005", "STATUS_ACCESS_VIOLATION"}));
            const std::string json = ReadBytes(tachoro.Path("clip.json"));
            const size_t message = json.find("\"message\": \"Exception 0xC0000005\\nSTATUS_ACCESS_VIOLATION\"");
            ASSERT_NE(message, std::string::npos) << json;
            EXPECT_EQ(json.rfind("\"kind\": ", message), json.rfind("\"kind\": \"completed\"", message));
        }
        EXPECT_EQ(ValueOf(ScreenLines(result.Err), "Frames processed:"), "300 (0 - 299)");
        const std::vector<Row> rows = CsvRowsMatchingTheLog(tachoro, "clip");
        const unsigned interval = IntervalOf(rows);
        EXPECT_EQ(rows.size(), interval ? 300u / interval : 0u);
    }
}

TEST(RealFS, ATimeLimitStopsTheRun) {
    RealRun tachoro({"LogEstimatedTime=1"});
    const std::string script =
        tachoro.Script("long.avs", "BlankClip(length=1000000, pixel_type=\"YV12\").SlowFrames(2000)\n");
    ProcessResult result = tachoro.Run({script, "-timelimit=1", "-log", "-csv"});
    EXPECT_EXIT_CODE(result, 0);
    const std::vector<std::string> screen = ScreenLines(result.Err);
    const Row processed = Fields(ValueOf(screen, "Frames processed:"), ' ');  // N (0 - N-1)
    ASSERT_EQ(processed.size(), 4u) << result.Err;
    const unsigned frames = std::stoul(processed[0]);
    EXPECT_EQ(processed[3], std::to_string(frames - 1) + ")");
    EXPECT_GT(frames, 10u);
    EXPECT_LT(frames, 1000000u);
    EXPECT_EQ(ValueOf(screen, "Time (elapsed | estimated):").rfind("00:00:01.", 0), 0u) << result.Err;
    const std::vector<Row> rows = CsvRowsMatchingTheLog(tachoro, "long");
    ASSERT_FALSE(rows.empty());
    EXPECT_LE(std::stoul(rows.back()[0]), frames);
}

// A fault on one of the frame server's worker threads ends the run as one on
// the main thread does.
TEST(RealFS, AFaultOnAWorkerThreadKeepsTheSamplesSoFar) {
    RealRun tachoro;
    const std::string script = tachoro.Script(
        "clip.avs", kClip + ".Blur(1.0).FailAt(150, \"access_violation\", instance=2, worker=true).Prefetch(2)\n");
    ProcessResult result = tachoro.Run({script, "-csv"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_NE(result.Err.find("STATUS_ACCESS_VIOLATION\nThe fault happened on a worker thread of the frame server.\n"),
              std::string::npos)
        << result.Err;
    const std::vector<Row> rows = CsvRowsMatchingTheLog(tachoro, "clip");
    EXPECT_FALSE(rows.empty());

    // In the calibration: the message, and nothing measured.
    RealRun calibrated;
    const std::string early = calibrated.Script(
        "clip.avs", kClip + ".Blur(1.0).FailAt(150, \"access_violation\", instance=1, worker=true).Prefetch(2)\n");
    result = calibrated.Run({early, "-csv"});
    EXPECT_EXIT_CODE(result, -1);
    // The frame the calibration was waiting for when a worker rendering
    // frames ahead faulted.
    const std::string shown = RealBanner() + StatusShownAndCleared("Analysing script...") +
                              "\nException 0xC0000005\nSTATUS_ACCESS_VIOLATION\n"
                              "The fault happened on a worker thread of the frame server.\n(while reading frame ";
    EXPECT_EQ(result.Err.substr(0, shown.size()), shown);
    const std::string frame = result.Err.substr(std::min(shown.size(), result.Err.size()));
    EXPECT_TRUE(frame.size() > 2 && frame.size() < 7 && frame.substr(frame.size() - 2) == ")\n") << frame;
    EXPECT_FALSE(PathExists(calibrated.Path("clip.csv")));
}

// An interruption while the frame server evaluates the script of run 2
// lets the evaluation end, then ends the series with run 1 written.
TEST(RealFS, AnInterruptionInASlowEvaluationKeepsTheFinishedRuns) {
    RealRun tachoro;
    const std::string script = tachoro.Script(
        "clip.avs", "BlankClip(length=100, width=320, height=240, pixel_type=\"YV12\").SlowFrames(2000, evaluation=1500000)\n");
    ProcessRun run;
    run.Arguments = {script, "-runs=3", "-csv", "-json"};
    run.InterruptWhen = "Loading script...";
    run.InterruptOccurrence = 2;
    run.InterruptSignal = SIGINT;
    ProcessResult result = tachoro.RunWith(run);
    EXPECT_FALSE(result.TimedOut);
    EXPECT_EQ(result.Signal, 0);
    EXPECT_EQ(result.ExitCode, kOnWindows ? 0xC000013Au : 128u + SIGINT) << result.Err;
    EXPECT_EQ(result.Err.find("Run 2 of 3"), std::string::npos) << result.Err;
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    EXPECT_NE(json.find("\r\n  \"outcome\": {\r\n    \"kind\": \"stoppedBySignal\""), std::string::npos) << json;
    EXPECT_NE(json.find("\r\n      \"run\": 1,"), std::string::npos);
    EXPECT_EQ(json.find("\r\n      \"run\": 2,"), std::string::npos);
    EXPECT_EQ(CrLfLines(ReadBytes(tachoro.Path("clip.csv"))).at(0).rfind("Run,Frame,", 0), 0u);
}

}  // namespace
