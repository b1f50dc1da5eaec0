// The log file written beside the script: the run report's sections, a
// fresh copy of the script, the graphics-card section (with GPU monitoring),
// one row per sample and the frame-server error.
#pragma once

#include <optional>
#include <string>

#include "measure/GPUSource.h"
#include "report/ReportFile.h"
#include "report/RunReport.h"
#include "report/SeriesReport.h"

// Writes the log with the script as it was loaded (read now when the report
// holds no copy). With keepPrevious an existing log is kept as "<name>.bak".
// Returns the empty text on success, else the message to show.
std::string WriteLogFile(const RunReport& report, bool keepPrevious = false);

// The script's bytes for the log: the copy taken when it was loaded, else the
// file read now. False when neither is at hand.
bool LoggedScriptBytes(const std::optional<std::string>& loaded, const std::string& path, std::string& bytes);

// The log's text for the script's bytes. "\n" becomes CR LF only
// on writing.
void ProduceLog(const RunReport& report, const std::string& scriptFileBytes, TextSink& sink);

std::string LogFileName(const std::string& scriptPath);

// The script as copied into the log: CR LF turned into "\n", trimmed.
std::string LogScriptCopy(const std::string& scriptFileBytes);

// The "[Graphics card info]" section: GPU-Z's lines as they always were (a
// missing fact empty); a driver's with its CUDA version, compute capability
// and device, a missing fact "n/a".
std::string GraphicsCardSection(const GraphicsCardFacts& facts);

// Report text, "[Script]" section and, when monitorGPU, the graphics card's
// section.
std::string LogHeadText(const std::string& reportText, const std::string& scriptCopy,
                        const std::optional<GraphicsCardFacts>& graphicsCard, bool monitorGPU);

std::string LogPerformanceHeader(const SampleColumnChoice& columns,
                                 const std::string& heading = "[Performance data]");
// One table row, ended by "\n".
std::string LogPerformanceRow(const FrameSample& sample, const SampleColumnChoice& columns);

// The error section under `heading`; empty for an empty error text.
std::string LogErrorSection(const std::string& loggedError, const std::string& heading = "[AviSynth error]");

// ------------------------------------------------------- several runs

// The log of a series: with one run requested, the log of that run (as
// above, byte for byte); with more, the runs' summaries under "[Runtime
// info, run r of n]", the "[Runs]" section, the script, then each run's
// rows under "[Performance data, run r of n]" and a frame-server error under
// "[AviSynth error, run r of n]". A comparison with a baseline ends either
// with its "[Baseline]" section.
void ProduceSeriesLog(const SeriesReport& series, const std::string& scriptFileBytes, TextSink& sink);

// "[Heading]" with ", run r of n" added inside the brackets.
std::string RunHeading(const std::string& heading, uint32_t run, uint32_t runs);
