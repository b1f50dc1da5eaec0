// Repeated runs and several scripts: the order of the steps, where a series
// ends, the exit code, and the log and CSV file of a series.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/Series.h"
#include "report/CsvFile.h"
#include "report/LogFile.h"
#include "tests/support/ReportTestSupport.h"
#include "tests/support/TestPlatform.h"

namespace {

// Steps whose cycles end as a table says: outcome per script and run.
class ScriptedSteps final : public ScriptSteps {
public:
    std::map<std::string, std::vector<RunEnding::Kind>> Outcomes;
    std::map<std::string, CycleEnd> Ends;  // a cycle that adds no run
    std::vector<std::string> FailingCalibrations;
    std::vector<std::string> Trace;
    // The frame server is lost once this many cycles ran (-1: never).
    int LostAfterCycles = -1;
    int Cycles = 0;
    bool Lost = false;
    // A cycle lost while the frame server closed: its run stands.
    bool LostRunStands = false;
    // The step during which a worker's fault ends the measurement from
    // outside; that step then never returns (it throws StuckForGood).
    std::string LostIn;
    ScriptsMeasurement* Measurement = nullptr;
    int LostExitCode = 0;
    struct StuckForGood {};
    // The step during which an interruption comes; in a cycle, before the
    // measurement when InterruptBeforeMeasuring.
    std::string InterruptIn;
    bool InterruptBeforeMeasuring = false;
    bool Interrupted = false;
    bool FilesFail = false;
    std::vector<std::string> FailingProfiles;  // their profile ends in a fault

    SeriesReport NewSeries(const std::string& script, const std::optional<ScanStep>& scan) override {
        SeriesReport series;
        series.ScriptPath = script;
        series.Scan = scan;
        series.RunsRequested = 3;
        return series;
    }
    // The script, and the value of a scan ("a@n=2").
    static std::string Key(const SeriesReport& series) {
        return series.ScriptPath + (series.Scan ? "@" + series.Scan->Row : "");
    }
    bool Calibrate(SeriesReport& series) override {
        Trace.push_back("calibrate " + Key(series));
        LoseHere();
        InterruptHere();
        for (const std::string& failing : FailingCalibrations)
            if (failing == Key(series)) return false;
        return true;
    }
    CycleEnd Cycle(SeriesReport& series, uint32_t run) override {
        Trace.push_back("cycle " + Key(series) + " " + std::to_string(run));
        ++Cycles;
        LoseHere();
        if (InterruptHere() && InterruptBeforeMeasuring) return CycleEnd::Interrupted;
        if (Ends.count(series.ScriptPath)) {
            series.RangeRefused = Ends[series.ScriptPath] == CycleEnd::RangeRefused;
            return Ends[series.ScriptPath];
        }
        RunRecord record;
        record.Number = run;
        const std::vector<RunEnding::Kind>& outcomes = Outcomes[series.ScriptPath];
        record.Ending.How = run <= outcomes.size() ? outcomes[run - 1] : RunEnding::Kind::Completed;
        record.Measured = true;
        record.Stats.SamplesStored = 1;
        record.Stats.FPSAverage = 10.0 * run;
        series.Runs.push_back(record);
        return CycleEnd::Ran;
    }
    bool WriteFiles(const SeriesReport& series) override {
        Trace.push_back("files " + Key(series) + " " + std::to_string(series.Runs.size()) +
                        (series.Interrupted ? " interrupted" : "") + (series.Baseline ? " compared" : "") +
                        (series.ScanValues.empty() ? "" : " values " + std::to_string(series.ScanValues.size())));
        InterruptHere();
        return !FilesFail;
    }
    bool Profile(SeriesReport& series) override {
        Trace.push_back("profile " + series.ScriptPath);
        LoseHere();
        series.Profile.emplace();
        for (const std::string& failing : FailingProfiles)
            if (failing == series.ScriptPath) return false;
        return true;
    }
    void ProfileLost(SeriesReport& series, uint32_t code) override {
        Trace.push_back("profile lost " + series.ScriptPath + " " + std::to_string(code));
    }
    void ShowLines(const std::vector<std::string>& lines) override {
        Trace.push_back("show " + lines.front());
    }
    bool FrameServerLost() const override { return Lost || (LostAfterCycles >= 0 && Cycles >= LostAfterCycles); }
    int Interruption() const override { return Interrupted ? 130 : 0; }
    void CalibrationLost(SeriesReport& series, uint32_t code) override {
        Trace.push_back("calibration lost " + series.ScriptPath + " " + std::to_string(code));
    }
    void CycleLost(SeriesReport& series, uint32_t run, uint32_t code) override {
        Trace.push_back("cycle lost " + series.ScriptPath + " " + std::to_string(run) + " " + std::to_string(code));
        RunRecord record;
        record.Number = run;
        record.Ending.How = LostRunStands ? RunEnding::Kind::Completed : RunEnding::Kind::Fault;
        series.Runs.push_back(record);
    }

private:
    bool InterruptHere() {
        if (Trace.back() != InterruptIn) return false;
        Interrupted = true;
        return true;
    }
    void LoseHere() {
        if (Trace.back() != LostIn) return;
        Lost = true;
        LostExitCode = Measurement->EndAfterLostWork(5);
        throw StuckForGood{};
    }
};

// A call of the scripts, each measured `runs` times.
Invocation Call(const std::vector<std::string>& scripts, int32_t runs) {
    Invocation call;
    call.ScriptPaths = scripts;
    call.Runs = runs;
    return call;
}

const RunEnding::Kind kDone = RunEnding::Kind::Completed;
const char* const kTableHead = "show Script  Runs  FPS (mean | sd)    Relative speed";
const char* const kRunLine = "show Run 1:                          10.00 fps, completed";

TEST(ScriptsMeasurement, WhereASeriesEndsAndWhatFollows) {
    const struct {
        const char* name;
        std::vector<std::string> scripts;
        uint32_t runs;
        std::map<std::string, std::vector<RunEnding::Kind>> outcomes;
        std::vector<std::string> failingCalibrations;
        int exitCode;
        std::vector<std::string> trace;
        int lostAfterCycles = -1;  // the frame server is lost in that cycle (0: in the calibration)
        // An interruption in this step (in a cycle, before the measurement
        // when beforeMeasuring); files that fail.
        std::string interruptIn = "";
        bool beforeMeasuring = false;
        bool filesFail = false;
    } cases[] = {
        {"one script, one run: nothing shown besides the run",
         {"a"}, 1, {{"a", {kDone}}}, {}, 0,
         {"calibrate a", "cycle a 1", "files a 1"}},
        {"three runs after one calibration, then the runs' figures",
         {"a"}, 3, {{"a", {kDone, kDone, RunEnding::Kind::StoppedByTimeLimit}}}, {}, 0,
         {"calibrate a", "cycle a 1", "cycle a 2", "cycle a 3", "show Run 1:                          10.00 fps, completed",
          "files a 3"}},
        {"an error in run 2 of 3 ends that series; the next script follows",
         {"a", "b"}, 3, {{"a", {kDone, RunEnding::Kind::FrameServerError}}, {"b", {kDone, kDone, kDone}}}, {}, -1,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2",
          "show Run 1:                          10.00 fps, completed", "files a 2", "show Script 2 of 2: b",
          "calibrate b", "cycle b 1", "cycle b 2", "cycle b 3", "show Run 1:                          10.00 fps, completed",
          "files b 3", kTableHead}},
        {"Esc ends everything after the files of its script",
         {"a", "b"}, 1, {{"a", {RunEnding::Kind::StoppedByEsc}}}, {}, 0,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "files a 1",
          kTableHead}},
        {"a failed calibration skips its script",
         {"a", "b"}, 1, {{"b", {kDone}}}, {"a"}, -1,
         {"show Script 1 of 2: a", "calibrate a", "show Script 2 of 2: b", "calibrate b", "cycle b 1", "files b 1",
          kTableHead}},
        {"a fault that loses the frame server ends everything after the files of its script",
         {"a", "b"}, 3, {{"a", {kDone, RunEnding::Kind::Fault}}}, {}, -1,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2",
          "show Run 1:                          10.00 fps, completed", "files a 2", kTableHead}, 2},
        {"so does a calibration that loses it",
         {"a", "b"}, 1, {}, {"a"}, -1, {"show Script 1 of 2: a", "calibrate a", kTableHead}, 0},
        // An interruption outside the measurement ends everything after the
        // files of the runs finished so far; the exit code says so, unless a
        // file failed.
        {"an interruption after the last look of run 2: run 3 is not begun",
         {"a", "b"}, 3, {}, {}, 130,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2", kRunLine, "files a 2 interrupted",
          kTableHead}, -1, "cycle a 2"},
        {"one in the evaluation of run 2: nothing more is measured",
         {"a", "b"}, 3, {}, {}, 130,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2", kRunLine, "files a 1 interrupted",
          kTableHead}, -1, "cycle a 2", true},
        {"one in the calibration of the next script",
         {"a", "b"}, 3, {}, {}, 130,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2", "cycle a 3", kRunLine, "files a 3",
          "show Script 2 of 2: b", "calibrate b", kTableHead}, -1, "calibrate b"},
        {"one while the files are written",
         {"a", "b"}, 3, {}, {}, 130,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2", "cycle a 3", kRunLine, "files a 3",
          kTableHead}, -1, "files a 3"},
        {"one with a file that failed",
         {"a", "b"}, 3, {}, {}, -1,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2", kRunLine, "files a 2 interrupted",
          kTableHead}, -1, "cycle a 2", false, true},
        {"and a run that stands, lost while the frame server closed, without failing",
         {"a", "b"}, 3, {{"a", {kDone}}}, {}, 0,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "show Run 1:                          10.00 fps, completed",
          "files a 1", kTableHead}, 1},
    };
    for (const auto& c : cases) {
        ScriptedSteps steps;
        steps.Outcomes = c.outcomes;
        steps.FailingCalibrations = c.failingCalibrations;
        steps.LostAfterCycles = c.lostAfterCycles;
        steps.InterruptIn = c.interruptIn;
        steps.InterruptBeforeMeasuring = c.beforeMeasuring;
        steps.FilesFail = c.filesFail;
        EXPECT_EQ(ScriptsMeasurement(Call(c.scripts, c.runs), steps).Run(), c.exitCode) << c.name;
        EXPECT_EQ(steps.Trace, c.trace) << c.name;
    }
}

TEST(ScriptsMeasurement, CyclesThatAddNoRun) {
    const struct {
        CycleEnd end;
        int exitCode;
        std::vector<std::string> trace;
    } cases[] = {
        // Nothing measured, nothing to write, and nothing after it: the frame
        // server could not be opened.
        {CycleEnd::SetupFailed, -1, {"show Script 1 of 2: a", "calibrate a", "cycle a 1", kTableHead}},
        // A declined range ends the series (its log was written in the cycle).
        {CycleEnd::RangeRefused, 0,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "files a 0", "show Script 2 of 2: b", "calibrate b",
          "cycle b 1", "cycle b 2", "show Run 1:                          10.00 fps, completed", "files b 2",
          kTableHead}},
    };
    for (const auto& c : cases) {
        ScriptedSteps steps;
        steps.Ends["a"] = c.end;
        EXPECT_EQ(ScriptsMeasurement(Call({"a", "b"}, 2), steps).Run(), c.exitCode);
        EXPECT_EQ(steps.Trace, c.trace);
    }
    // -info: no calibration and one cycle per script, no comparison.
    ScriptedSteps info;
    info.Ends["a"] = info.Ends["b"] = CycleEnd::InfoOnly;
    Invocation infoCall = Call({"a", "b"}, 5);
    infoCall.InfoOnly = true;
    EXPECT_EQ(ScriptsMeasurement(infoCall, info).Run(), 0);
    EXPECT_EQ(info.Trace, (std::vector<std::string>{"show Script 1 of 2: a", "cycle a 1", "show Script 2 of 2: b",
                                                      "cycle b 1"}));
}

// The counted runs against the baseline before the files, and exit code 3
// only when nothing else set one.
TEST(ScriptsMeasurement, TheBaselineComparisonAndItsExitCode) {
    const RunEnding::Kind kError = RunEnding::Kind::FrameServerError;
    const struct {
        const char* name;
        double baselineMean;  // the runs' rates are 10, 20, 30
        std::vector<RunEnding::Kind> outcomes;
        bool filesFail;
        std::string interruptIn;
        int exitCode;
    } cases[] = {
        {"slower beyond the noise and the threshold", 40, {}, false, "", 3},
        {"no change", 20, {}, false, "", 0},
        {"faster", 10, {}, false, "", 0},
        {"a failed run keeps its code", 40, {kDone, kDone, kError}, false, "", -1},
        {"so does a file that failed", 40, {}, true, "", -1},
        {"and an interruption", 40, {}, false, "cycle a 3", 130},
    };
    for (const auto& c : cases) {
        ScriptedSteps steps;
        steps.Outcomes["a"] = c.outcomes;
        steps.FilesFail = c.filesFail;
        steps.InterruptIn = c.interruptIn;
        Invocation call = Call({"a"}, 3);
        call.BaselineUsed = Invocation::BaselineChoice{"base.json", 2, {}};
        call.BaselineUsed->Facts.Figures = SummariseSeries({c.baselineMean - 1, c.baselineMean, c.baselineMean + 1});
        EXPECT_EQ(ScriptsMeasurement(call, steps).Run(), c.exitCode) << c.name;
        // Shown, then in the files.
        EXPECT_EQ(steps.Trace.end()[-2], "show Baseline file:                  base.json") << c.name;
        EXPECT_NE(steps.Trace.back().find(" compared"), std::string::npos) << c.name;
    }
}

// A scan: each value as a script of its own (a failed calibration ends only
// its value), one row each, the script's files once, after its last value.
TEST(ScriptsMeasurement, EachValueOfAScanIsAnEntryAndTheFilesFollowTheLast) {
    ScriptedSteps steps;
    steps.FailingCalibrations = {"a@n=2"};
    Invocation call = Call({"a"}, 1);
    call.Scan = ParseParameterScan("n=1..3").Scan;
    EXPECT_EQ(ScriptsMeasurement(call, steps).Run(), -1);
    EXPECT_EQ(steps.Trace, (std::vector<std::string>{"show Value 1 of 3: n=1", "calibrate a@n=1", "cycle a@n=1 1",
                                                      "show Value 2 of 3: n=2", "calibrate a@n=2",
                                                      "show Value 3 of 3: n=3", "calibrate a@n=3", "cycle a@n=3 1",
                                                      "files a@n=3 1 values 3", kTableHead}));
}

TEST(ComparisonNames, FileNamesUnlessTwoShareOne) {
    EXPECT_EQ(ComparisonNames({"/x/a.avs", "/y/b.avs"}), (std::vector<std::string>{"a.avs", "b.avs"}));
    EXPECT_EQ(ComparisonNames({"/x/a.avs", "/y/a.avs", "/z/c.avs"}),
              (std::vector<std::string>{"/x/a.avs", "/y/a.avs", "c.avs"}));
    // A backslash separates folders on Windows only; elsewhere it is part of
    // the name.
    const std::vector<std::string> names = ComparisonNames({"/x/a.avs", "/y/b\\a.avs"});
    EXPECT_EQ(names, kOnWindows ? (std::vector<std::string>{"/x/a.avs", "/y/b\\a.avs"})
                                : (std::vector<std::string>{"a.avs", "b\\a.avs"}));
    EXPECT_EQ(ComparisonNames({"/x/a\nb.avs"}), std::vector<std::string>{"a?b.avs"});  // one line of the table
}

// A series of `runs` runs of two samples each; run 2 failed with an error.
SeriesReport TwoRunSeries(uint32_t requested) {
    SeriesReport series;
    series.ScriptPath = "/x/clip.avs";
    series.RunsRequested = requested;
    for (uint32_t number = 1; number <= 2; ++number) {
        RunRecord run;
        run.Number = number;
        run.Measured = true;
        run.Stats.SamplesStored = 2;
        run.Stats.FPSAverage = 20.0 * number;
        run.Stats.FramesProcessed = 20;
        run.Stats.LastFrame = 19;
        run.Stats.SamplingInterval = 10;
        run.Summary = DisplayOptions();
        run.Summary->DisplayFPS = false;
        run.Samples = {MakeSample(9, 10, 10, 1, 0, 0, 1, 2, 3), MakeSample(19, 30, 20, 1, 0, 0, 1, 2, 3)};
        series.Runs.push_back(run);
    }
    series.Runs[1].Ending.How = RunEnding::Kind::FrameServerError;
    series.Runs[1].Ending.Message = "boom";
    series.Runs[1].Summary.reset();
    return series;
}

TEST(SeriesFiles, OneRunIsTheLogAndCsvOfThatRun) {
    const SeriesReport series = TwoRunSeries(1);
    const RunReport single = RunReportOf(series, 0);
    StringSink seriesLog, runLog, seriesCsv, runCsv;
    ProduceSeriesLog(series, "x = 1\n", seriesLog);
    ProduceLog(single, "x = 1\n", runLog);
    EXPECT_EQ(seriesLog.Text, runLog.Text);
    ProduceSeriesCsv(series, seriesCsv);
    ProduceCsv(single, runCsv);
    EXPECT_EQ(seriesCsv.Text, runCsv.Text);
    EXPECT_EQ(seriesCsv.Text.substr(0, 6), "Frame,");
}

TEST(SeriesFiles, SeveralRunsKeepEveryRun) {
    const SeriesReport series = TwoRunSeries(3);
    StringSink log, csv;
    ProduceSeriesLog(series, "x = 1\n", log);
    const std::string expectedParts[] = {
        "\n\n[Runtime info, run 1 of 3]\nFrames processed:               20 (0 - 19)\n",
        "Time (elapsed):                 00:00:00.000\n\n\n[Runs]\n"
        "Run 1:                          20.00 fps, completed\nRun 2:                          frame-server error\n"
        "Runs counted:                   1 of 3\n",
        "\n\n[Script]\nx = 1\n\n",
        "\n[Performance data, run 1 of 3]\n",
        "\n[Performance data, run 2 of 3]\n",
        "\n\n[AviSynth error, run 2 of 3]\nboom\n",
    };
    size_t at = 0;
    for (const std::string& part : expectedParts) {
        const size_t found = log.Text.find(part, at);
        ASSERT_NE(found, std::string::npos) << part << "\nin\n" << log.Text;
        at = found + part.size();
    }
    EXPECT_EQ(log.Text.find("[Runtime info, run 2"), std::string::npos);  // no summary for the failed run

    ProduceSeriesCsv(series, csv);
    const std::string header = "Run,Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),"
                               "Threads,PhysMEM(MB),VirtMEM(MB)\n";
    EXPECT_EQ(csv.Text, header +
                            "1,10,10.000,10.000,100.000000,100.000000,1,1,2,3\n"
                            "1,20,30.000,20.000,33.333333,50.000000,1,1,2,3\n"
                            "2,10,10.000,10.000,100.000000,100.000000,1,1,2,3\n"
                            "2,20,30.000,20.000,33.333333,50.000000,1,1,2,3\n");

    // Without a single sample the header is still there, as with one run.
    SeriesReport empty = TwoRunSeries(3);
    for (RunRecord& run : empty.Runs) run.Samples.clear();
    StringSink headerOnly;
    ProduceSeriesCsv(empty, headerOnly);
    EXPECT_EQ(headerOnly.Text, header);
}

// Which failures the log's error section tells, and how.
TEST(SeriesFiles, TheErrorSectionOfEachKindOfFailure) {
    const struct {
        const char* what;
        RunEnding::Kind outcome;
        bool measured, workerFault;
        std::optional<uint32_t> failedFrame;
        std::string logged;
    } cases[] = {
        {"a frame-server error at a frame", RunEnding::Kind::FrameServerError, true, false, 150u,
         "boom\n(while reading frame 150)"},
        {"a frame-server error in the evaluation", RunEnding::Kind::FrameServerError, false, false, std::nullopt, "boom"},
        {"a fault in the evaluation", RunEnding::Kind::Fault, false, false, std::nullopt, "boom"},
        {"a fault at a frame", RunEnding::Kind::Fault, true, false, 7u, ""},
        {"a worker's fault at a frame", RunEnding::Kind::Fault, true, true, 7u, "boom\n(while reading frame 7)"},
        {"a stop", RunEnding::Kind::StoppedByEsc, true, false, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunRecord run;
        run.Ending.How = c.outcome;
        run.Ending.Message = "boom";
        run.Measured = c.measured;
        run.Ending.OnWorkerThread = c.workerFault;
        run.Ending.FailedFrame = c.failedFrame;
        EXPECT_EQ(LoggedErrorOf(run), c.logged);
    }
}

// A profile follows the runs of a script that did not fail; one that a
// fault ended, or that is lost to a worker's fault, fails the call, and the
// next script follows as after a failed run.
TEST(ScriptsMeasurement, AProfileAfterTheRunsOfEachScript) {
    const std::string runs = "show Run 1:                          10.00 fps, completed";
    {
        ScriptedSteps steps;
        steps.Outcomes = {{"b", {kDone, RunEnding::Kind::FrameServerError}}};
        steps.FailingProfiles = {"a"};
        Invocation call = Call({"a", "b", "c"}, 2);
        call.Profile = true;
        EXPECT_EQ(ScriptsMeasurement(call, steps).Run(), -1);
        EXPECT_EQ(steps.Trace,
                  (std::vector<std::string>{"show Script 1 of 3: a", "calibrate a", "cycle a 1", "cycle a 2",
                                            runs, "profile a", "files a 2", "show Script 2 of 3: b", "calibrate b",
                                            "cycle b 1", "cycle b 2", runs, "files b 2", "show Script 3 of 3: c",
                                            "calibrate c", "cycle c 1", "cycle c 2", runs, "profile c", "files c 2",
                                            kTableHead}));
    }
    ScriptedSteps steps;
    steps.LostIn = "profile a";
    Invocation call = Call({"a", "b"}, 1);
    call.Profile = true;
    ScriptsMeasurement measurement(call, steps);
    steps.Measurement = &measurement;
    EXPECT_THROW(measurement.Run(), ScriptedSteps::StuckForGood);
    EXPECT_EQ(steps.LostExitCode, -1);
    EXPECT_EQ(steps.Trace, (std::vector<std::string>{"show Script 1 of 2: a", "calibrate a", "cycle a 1", "profile a",
                                                     "profile lost a 5", "files a 1", kTableHead}));
}

// A worker's fault whose calibration or cycle never returns is ended from
// outside: the failure recorded, the script's files written as after a
// failed run, the comparison shown, nothing else measured.
TEST(ScriptsMeasurement, WorkLostToAWorkerFaultIsEndedFromOutside) {
    const struct {
        const char* lostIn;
        bool runStands;  // lost while the frame server closed
        int exitCode;
        std::vector<std::string> trace;
    } cases[] = {
        {"calibrate a", false, -1, {"show Script 1 of 2: a", "calibrate a", "calibration lost a 5", kTableHead}},
        {"cycle a 2", false, -1,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2", "cycle lost a 2 5",
          "show Run 1:                          10.00 fps, completed", "files a 2", kTableHead}},
        {"cycle a 2", true, 0,
         {"show Script 1 of 2: a", "calibrate a", "cycle a 1", "cycle a 2", "cycle lost a 2 5",
          "show Run 1:                          10.00 fps, completed", "files a 2", kTableHead}},
    };
    for (const auto& c : cases) {
        ScriptedSteps steps;
        steps.LostIn = c.lostIn;
        steps.LostRunStands = c.runStands;
        const Invocation call = Call({"a", "b"}, 3);
        ScriptsMeasurement measurement(call, steps);
        steps.Measurement = &measurement;
        EXPECT_THROW(measurement.Run(), ScriptedSteps::StuckForGood) << c.lostIn;
        EXPECT_EQ(steps.LostExitCode, c.exitCode) << c.lostIn;
        EXPECT_EQ(steps.Trace, c.trace) << c.lostIn;
    }
}

}  // namespace
