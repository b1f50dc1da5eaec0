// The JSON file of a series (-json), written beside the script: the program,
// the frame server, the clip, the settings, how the series ended, every run
// with its summary, samples and frame times, the series' figures and its
// comparison with a baseline (-baseline). Its
// schema is docs/tachoro-results.schema.json; UTF-8, numbers without the
// locale.
#pragma once

#include <string>

#include "report/ReportFile.h"
#include "report/SeriesReport.h"

// The value of "schemaVersion": raised whenever a change could break a
// reader of the files.
constexpr int kResultsSchemaVersion = 1;

// The file's text. "\n" becomes CR LF only on writing.
void ProduceJson(const SeriesReport& series, TextSink& sink);

// A JSON string literal of narrow text (converted to UTF-8, quotes included).
std::string JsonString(const std::string& narrow);
