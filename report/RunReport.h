// One run as the report files tell it: plain data gathered by the run
// sequence step by step, so that a report can be produced at any moment
// from what is known so far. The log and the CSV file are two serialisations
// of it (LogFile.h, CsvFile.h); the sections the log shares with the console
// are rendered from their records here and in ClipReport.h and
// FrameServerReport.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "frameserver/AvisynthInfo.h"
#include "frameserver/Session.h"
#include "measure/GPUSource.h"
#include "measure/Statistics.h"
#include "report/SampleColumns.h"

// The facts of the "[General info]" section.
struct GeneralInfo {
    std::string VersionText;
    std::string ScriptPath;
    std::string SwitchesText;
    FrameServerFacts FrameServer;
};

struct RunRecord;

struct RunReport {
    std::string ScriptPath;
    std::optional<std::string> ScriptBytes;  // the script as it was loaded, once read
    std::optional<GeneralInfo> General;   // once the script was evaluated
    std::optional<ClipFacts> Clip;        // once the script was evaluated
    const RunRecord* Run = nullptr;       // the run, once recorded (owned by the series)
    std::optional<GraphicsCardFacts> GraphicsCard;  // "[Graphics card info]" (written only with GPU monitoring)
    SampleColumnChoice Columns;           // which sample columns the files carry
    const FrameSample* Samples = nullptr;  // owned by the run's record
    uint32_t SampleCount = 0;
    // The text of the log's "[AviSynth error]" section: the frame server's
    // message that ended the run, a fault on a worker thread, or any failure
    // before the measurement (LoggedErrorOf).
    std::string LoggedError;
};

// "\nEvery requested frame was rendered; the frame server then faulted
// while closing:\n<fault>\n": a fault of the frame server while it closed,
// after every frame asked of it was rendered, which leaves what was measured
// standing.
std::string ClosingFaultText(const std::string& fault);

// The "[Runtime info]" section of a run under `heading`: the run's summary
// as the console showed it (and the frame-time lines), a fault while
// closing; empty when no summary was shown.
std::string RuntimeInfoSection(const RunRecord& run, const std::string& heading);

// The report sections in their order: general info, clip info, runtime info.
std::string ReportSectionsText(const RunReport& report);
