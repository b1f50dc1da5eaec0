// One script's series of runs as the report files tell it: the facts shared
// by every run (program, frame server, clip, settings) and one record per
// evaluate-measure-release cycle. With one run the log and the CSV file are
// those of RunReportOf(series, 0), byte for byte; with more they keep every
// run (LogFile.h, CsvFile.h). The JSON file and the chart are made from it
// too (JsonFile.h, PlotFile.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frameserver/ParameterScan.h"
#include "measure/Display.h"
#include "measure/FrameTimes.h"
#include "measure/GPUSource.h"
#include "measure/RunEnding.h"
#include "measure/Series.h"
#include "measure/Statistics.h"
#include "report/BaselineReport.h"
#include "report/ProfileSection.h"
#include "report/RunReport.h"

// "completed", "stopped by Esc", ... as the console and the log say it.
const char* RunEndingText(RunEnding::Kind how);
// "completed", "stoppedByEsc", ... as the JSON file says it.
const char* RunEndingName(RunEnding::Kind how);

struct RunRecord;
// The text of the log's error section for the run; empty when it has none.
// A frame-server error has one, and so has a fault on a worker thread or
// any failure before the measurement began; a failed frame request names
// its frame.
std::string LoggedErrorOf(const RunRecord& run);

struct RunRecord {
    uint32_t Number = 1;  // counted from 1
    RunEnding Ending;
    bool Measured = false;  // the benchmark loop was prepared
    RunStatistics Stats;
    SamplerReadings Readings;  // the last readings
    std::vector<FrameSample> Samples;
    // The lines of the summary the console showed (the log's "[Runtime
    // info]" section has the same, RuntimeInfoSection); none when no summary
    // was shown.
    std::optional<DisplayOptions> Summary;
    std::optional<FrameTimeSummary> FrameTimes;

    // Its average frame rate enters the series figures: it was measured to
    // its end or stopped, with at least one whole sampling interval.
    bool Counted() const;
};

// The settings a series was measured with.
struct MeasurementSettings {
    bool FrameRangeValid = true;  // false: no range could be read from what was given
    int64_t FrameFirst = 0;
    int64_t FrameLast = -1;
    int64_t TimeLimit = -1;  // seconds, -1: none
    int ProcessPriority = 2;
    uint32_t Runs = 1;
    bool FrameTimes = false;
    bool MonitorGPU = false;
    bool InvokeDistributor = true;
    std::string Switches;  // as typed
};

// One value of a parameter scan (-vary), as a series was measured with it.
struct ScanStep {
    std::string Name;  // the global, as typed
    ScanValue Value;
    std::string Row;   // "threads=4"
    uint32_t Index = 0;  // counted from 0
    uint32_t Count = 1;
};

struct SeriesReport {
    std::string ScriptPath;
    std::string ProgramVersion;      // "2.1.3"
    std::string Platform;            // "Linux x64", "Windows x64"
    std::string FrameServerInterface;  // "class" or "c"
    std::string StartedUtc;          // "2024-05-01T10:34:56Z"
    std::string StartedLocal;        // "2024-05-01 12:34"
    std::optional<GeneralInfo> General;  // once the script was evaluated
    std::optional<ClipFacts> Clip;       // once the script was evaluated
    std::optional<GraphicsCardFacts> GraphicsCard;  // with GPU monitoring, once the script was evaluated
    std::optional<std::string> ScriptBytes;  // the script as it was loaded, once read
    SampleColumnChoice Columns;
    MeasurementSettings Settings;
    bool InfoOnly = false;
    bool RangeRefused = false;  // the default range was declined: nothing was measured
    bool Interrupted = false;   // an interruption ended the series before its last run
    uint32_t RunsRequested = 1;
    std::vector<RunRecord> Runs;
    // With -baseline, once the runs were compared with it.
    std::optional<BaselineOutcome> Baseline;
    std::optional<ScriptProfile> Profile;  // with -profile, once the runs are measured
    // Measured with one value of a parameter scan; absent otherwise. Such a
    // value's calibration may fail while the scan goes on: its text, as the
    // log and the JSON file give it.
    std::optional<ScanStep> Scan;
    std::optional<std::string> CalibrationFailure;
    // The report that stands for a whole scan of the script (its files are
    // written from it): every value's series in order, this report's own
    // facts those of the last value measured. Empty otherwise.
    std::vector<SeriesReport> ScanValues;
};

// The figures of the runs that counted, and the lines of the runs' section.
SeriesFigures SeriesFiguresOf(const SeriesReport& series);
std::vector<RunLine> RunLinesOf(const SeriesReport& series);

// The one-run view of run `index` (the report of a single run).
RunReport RunReportOf(const SeriesReport& series, size_t index);

// The ending of the whole series: calibrationFailed (a scan's value), else
// the first run that did not complete, else stoppedBySignal when an
// interruption left runs out, else completed.
struct SeriesEnding {
    const char* Name = "completed";  // as the JSON file says it; "rangeRefused" too
    std::string Message;
};
SeriesEnding SeriesEndingOf(const SeriesReport& series);
