// The CSV file of the per-interval measurements, written beside the script:
// the run report's samples, one line each, under a header.
#pragma once

#include <string>

#include "report/ReportFile.h"
#include "report/RunReport.h"
#include "report/SeriesReport.h"

// Writes the file. Returns the empty text on success, else the message to
// show.
std::string WriteCSVFile(const RunReport& report);

// The file's text: the header and one line per sample. "\n" becomes CR LF only on writing.
void ProduceCsv(const RunReport& report, TextSink& sink);

std::string CsvFileName(const std::string& scriptPath);
std::string CsvHeader(const SampleColumnChoice& columns);
// One line, ended by "\n".
std::string CsvRow(const FrameSample& sample, const SampleColumnChoice& columns);

// The CSV file of a series: with one run requested, that of the run (byte
// for byte); with more, every run's rows under one header whose first column
// is "Run" (the run's number, from 1).
void ProduceSeriesCsv(const SeriesReport& series, TextSink& sink);
