// The log file written beside the script at the end of a run, and the
// "[General info]" section that starts the report text.
#pragma once

#include <cstdint>
#include <string>

#include "frameserver/AvisynthInfo.h"
#include "measure/Statistics.h"

// Writes the log: the report text, a fresh copy of the script, the
// graphics-card text (when GPU monitoring is on), one row per sample and the
// frame-server error. Returns the empty text on success, else the message to
// show. Reads Settings.MonitorGPULoad.
std::string WriteLogFile(const std::string& scriptPath, const std::string& reportText,
                         const std::string& graphicsCardText, const FrameSample* samples, uint32_t sampleCount,
                         const std::string& runErrorText, int hasVideoEngine);

// The "[General info]" section, each line ended by "\n".
std::string GeneralInfoSection(const std::string& versionText, const std::string& scriptPath,
                               const std::string& switchesText, const CAvisynthInfo& info);

// ---- pure builders of the log's content; "\n" becomes CR LF only on writing

std::string LogFileName(const std::string& scriptPath);

// The script as copied into the log: CR LF turned into "\n", trimmed.
std::string LogScriptCopy(const std::string& scriptFileBytes);

// Report text, "[Script]" section and, when monitorGPU, the graphics-card text.
std::string LogHeadText(const std::string& reportText, const std::string& scriptCopy,
                        const std::string& graphicsCardText, bool monitorGPU);

std::string LogPerformanceHeader(bool monitorGPU, int hasVideoEngine);
// One table row, ended by "\n".
std::string LogPerformanceRow(const FrameSample& sample, bool monitorGPU, int hasVideoEngine);

// "[AviSynth error]" section; empty for an empty error text.
std::string LogErrorSection(const std::string& runErrorText);
