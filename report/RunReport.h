// One run as the report files tell it: plain data gathered by the run
// sequence step by step, so that a report can be produced at any moment
// from what is known so far. The log and the CSV file are two serialisations
// of it (LogFile.h, CsvFile.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "frameserver/AvisynthInfo.h"
#include "frameserver/Session.h"
#include "measure/Statistics.h"
#include "report/SampleColumns.h"

// The facts of the "[General info]" section.
struct GeneralInfo {
    std::string VersionText;
    std::string ScriptPath;
    std::string SwitchesText;
    CAvisynthInfo FrameServer;
};

struct RunReport {
    std::string ScriptPath;
    std::optional<std::string> ScriptBytes;  // the script as it was loaded, once read
    std::optional<GeneralInfo> General;   // once the script was evaluated
    std::optional<ClipFacts> Clip;        // once the script was evaluated
    std::string RuntimeInfo;              // the run summary's part, heading included; empty before it
    std::string GraphicsCardText;         // "[Graphics card info]" (written only with GPU monitoring)
    SampleColumnChoice Columns;           // which sample columns the files carry
    const FrameSample* Samples = nullptr;  // owned by the benchmark's result
    uint32_t SampleCount = 0;
    std::string FrameServerError;         // the frame server's message that ended the run
};

// The "[General info]" section, each line ended by "\n".
std::string GeneralInfoSection(const std::string& versionText, const std::string& scriptPath,
                               const std::string& switchesText, const CAvisynthInfo& info);

// The report sections in their order: general info, clip info, runtime info.
std::string ReportSectionsText(const RunReport& report);
