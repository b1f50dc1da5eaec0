// The log and the CSV file of a parameter scan: the report that stands for
// the scan (SeriesReport::ScanValues) holds every value's series.
//
// The log is one section per value, in the order measured, each opened by
// "[Parameter scan: threads=4, value 1 of 4]" and holding that value's log as
// a script's series writes it (its facts, script, runs, samples, errors).
// The CSV file puts a column "Value" before the columns of a value's series
// (the value as a frame-server literal would give it: a number, true or
// false, or the string's text in double quotes) and has one header.
#pragma once

#include <string>

#include "report/ReportFile.h"
#include "report/SeriesReport.h"

void ProduceScanLog(const SeriesReport& scan, const std::string& scriptFileBytes, TextSink& sink);
void ProduceScanCsv(const SeriesReport& scan, TextSink& sink);
