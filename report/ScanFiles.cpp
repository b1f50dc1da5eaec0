#include "report/ScanFiles.h"

#include "report/CsvFile.h"
#include "report/LogFile.h"

namespace {

// The value's field: a string always quoted, its quotes doubled, so that
// a comma or a line end in it cannot shift the columns.
std::string CsvValue(const ScanValue& value) {
    if (value.Type != ScanType::String) return value.Text;
    std::string field = "\"";
    for (char c : value.String) field += c == '"' ? std::string("\"\"") : std::string(1, c);
    return field + "\"";
}

}  // namespace

void ProduceScanLog(const SeriesReport& scan, const std::string& scriptFileBytes, TextSink& sink) {
    bool first = true;
    for (const SeriesReport& value : scan.ScanValues) {
        if (!value.Scan) continue;
        sink.Write(std::string(first ? "" : "\n\n") + "[Parameter scan: " + value.Scan->Row + ", value " +
                   std::to_string(value.Scan->Index + 1) + " of " + std::to_string(value.Scan->Count) + "]\n");
        first = false;
        ProduceSeriesLog(value, scriptFileBytes, sink);
    }
}

void ProduceScanCsv(const SeriesReport& scan, TextSink& sink) {
    bool header = true;
    for (const SeriesReport& value : scan.ScanValues) {
        if (!value.Scan) continue;
        StringSink text;
        ProduceSeriesCsv(value, text);
        // Every value's series has the same columns: one header for all.
        size_t start = 0;
        for (size_t end = text.Text.find('\n'); end != std::string::npos; end = text.Text.find('\n', start)) {
            const std::string line = text.Text.substr(start, end + 1 - start);
            if (start == 0 && header) sink.Write("Value," + line);
            else if (start != 0) sink.Write(CsvValue(value.Scan->Value) + "," + line);
            start = end + 1;
        }
        header = false;
    }
}
