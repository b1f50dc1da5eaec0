// The files a series writes beside its script, one row each: the switch
// that asks for it (its flag in the invocation), the extension that takes
// the place of the script's, when it is written, and the function of
// report/ that produces its text. A new format is a producer, a row here and
// the switch's row in the table of options.
#pragma once

#include <string>
#include <vector>

#include "app/Invocation.h"
#include "report/ReportFile.h"
#include "report/SeriesReport.h"

enum class Written {
    WhenAsked,         // whatever ended the series
    AfterMeasurement,  // only for a series with a measured run (not -info)
    AlsoAfterFailure,  // the log: also, keeping the earlier one, after a failure when not asked for
};

struct ResultFile {
    bool Invocation::*Switch;
    const char* Extension;
    Written When;
    void (*Produce)(const SeriesReport& series, TextSink& sink);
    // The log's producer: it also copies the script.
    void (*ProduceWithScript)(const SeriesReport& series, const std::string& scriptBytes, TextSink& sink) = nullptr;
};

// The formats in the order they are written; the log is the first.
const std::vector<ResultFile>& ResultFiles();

// Writes the series' file of that format (WriteReportFile); the message when
// it failed, else the empty text.
std::string WriteResultFile(const ResultFile& file, const SeriesReport& series, bool keepPrevious);

// The message that refuses a call when two of the report files it may
// write (the log of every script, and the other files where they are asked
// for) are one file: the same existing file (links, a folder reached under
// two names), or the same place for files that do not exist yet. Empty when
// every file is a file of its own.
std::string SharedReportFileMessage(const Invocation& call);
