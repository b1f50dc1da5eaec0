#include "report/CsvFile.h"

#include "report/SampleColumns.h"
#include "report/ScanFiles.h"

std::string CsvFileName(const std::string& scriptPath) { return ReportFileName(scriptPath, ".csv"); }

std::string CsvHeader(const SampleColumnChoice& columns) {
    return JoinColumns(ColumnSet::Csv, columns, ',',
                       [](std::string& text, const SampleColumn& column) { text += column.Title; }) +
           "\n";
}

std::string CsvRow(const FrameSample& sample, const SampleColumnChoice& columns) {
    return JoinColumns(ColumnSet::Csv, columns, ',',
                       [&](std::string& text, const SampleColumn& column) {
                           AppendColumnValue(text, column, sample, 0);
                       }) +
           "\n";
}

void ProduceCsv(const RunReport& report, TextSink& sink) {
    // The header even without rows: an empty file tells a spreadsheet nothing.
    const SampleColumnChoice& c = report.Columns;
    sink.Write(CsvHeader(c));
    if (!report.Samples) return;
    for (uint32_t i = 0; i < report.SampleCount; ++i) sink.Write(CsvRow(report.Samples[i], c));
}

std::string WriteCSVFile(const RunReport& report) {
    return WriteReportFile(CsvFileName(report.ScriptPath), report.ScriptPath,
                           [&](TextSink& sink) { ProduceCsv(report, sink); });
}

void ProduceSeriesCsv(const SeriesReport& series, TextSink& sink) {
    if (!series.ScanValues.empty()) {
        ProduceScanCsv(series, sink);
        return;
    }
    if (series.RunsRequested <= 1) {
        ProduceCsv(RunReportOf(series, 0), sink);
        return;
    }
    // The header even without rows, as with one run.
    const SampleColumnChoice& c = series.Columns;
    sink.Write("Run," + CsvHeader(c));
    for (const RunRecord& run : series.Runs) {
        const std::string number = std::to_string(run.Number) + ",";
        for (const FrameSample& sample : run.Samples) sink.Write(number + CsvRow(sample, c));
    }
}
