// The CSV file of the per-interval measurements, written beside the script.
#pragma once

#include <cstdint>
#include <string>

#include "measure/Statistics.h"

// Writes the header and one line per sample (an empty file when there are
// none). Returns the empty text on success, else the message to show. Reads
// Settings.MonitorGPULoad.
std::string WriteCSVFile(const std::string& scriptPath, const FrameSample* samples, uint32_t sampleCount,
                         int hasVideoEngine);

// ---- pure builders; "\n" becomes CR LF only on writing

std::string CsvFileName(const std::string& scriptPath);
std::string CsvHeader(bool monitorGPU, int hasVideoEngine);
// One line, ended by "\n".
std::string CsvRow(const FrameSample& sample, bool monitorGPU, int hasVideoEngine);
