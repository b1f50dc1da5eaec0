#include "report/LogFile.h"

#include "report/SampleColumns.h"
#include "support/Console.h"
#include "support/Text.h"

std::string LogFileName(const std::string& scriptPath) { return ReportFileName(scriptPath, ".log"); }

std::string LogScriptCopy(const std::string& scriptFileBytes) {
    // Read in binary mode and CR LF folded here, so a script with Windows line
    // ends gives the same copy on every platform.
    std::string text;
    text.reserve(scriptFileBytes.size());
    for (size_t i = 0; i < scriptFileBytes.size(); ++i) {
        if (scriptFileBytes[i] == '\r' && i + 1 < scriptFileBytes.size() && scriptFileBytes[i + 1] == '\n') continue;
        text += scriptFileBytes[i];
    }
    TrimText(text);
    return text;
}

std::string LogHeadText(const std::string& reportText, const std::string& scriptCopy,
                        const std::string& graphicsCardText, bool monitorGPU) {
    std::string text = reportText + "\n";
    text += "\n[Script]\n" + scriptCopy + "\n\n";
    if (monitorGPU) text += graphicsCardText;
    return text;
}

std::string LogPerformanceHeader(const SampleColumnChoice& columns) {
    return "\n[Performance data]\n" +
           JoinColumns(ColumnSet::Log, columns, ' ',
                       [](std::string& text, const SampleColumn& column) {
                           const std::string title = column.Title;
                           text.append(static_cast<size_t>(column.LogWidth) - title.size(), ' ');
                           text += title;
                       }) +
           "\n";
}

std::string LogPerformanceRow(const FrameSample& sample, const SampleColumnChoice& columns) {
    return JoinColumns(ColumnSet::Log, columns, ' ',
                       [&](std::string& text, const SampleColumn& column) {
                           AppendColumnValue(text, column, sample, column.LogWidth);
                       }) +
           "\n";
}

std::string LogErrorSection(const std::string& runErrorText) {
    if (runErrorText.empty()) return std::string();
    return "\n\n[AviSynth error]\n" + runErrorText + "\n";
}

void ProduceLog(const RunReport& report, const std::string& scriptFileBytes, TextSink& sink) {
    const SampleColumnChoice& c = report.Columns;
    sink.Write(LogHeadText(ReportSectionsText(report), LogScriptCopy(scriptFileBytes), report.GraphicsCardText,
                           c.MonitorGPU));
    if (report.SampleCount > 0 && report.Samples) {
        sink.Write(LogPerformanceHeader(c));
        for (uint32_t i = 0; i < report.SampleCount; ++i) sink.Write(LogPerformanceRow(report.Samples[i], c));
    }
    sink.Write(LogErrorSection(report.FrameServerError));
}

bool LoggedScriptBytes(const std::optional<std::string>& loaded, const std::string& path, std::string& bytes) {
    if (loaded) {
        bytes = *loaded;
        return true;
    }
    return ReadFileText(path, bytes) == platform::FileRead::Done;
}

std::string WriteLogFile(const RunReport& report, bool keepPrevious) {
    std::string scriptBytes;
    if (!LoggedScriptBytes(report.ScriptBytes, report.ScriptPath, scriptBytes))
        return CannotOpenMessage(report.ScriptPath);
    return WriteReportFile(LogFileName(report.ScriptPath), report.ScriptPath,
                           [&](TextSink& sink) { ProduceLog(report, scriptBytes, sink); }, keepPrevious);
}


// ------------------------------------------------------- several runs

namespace {

// A section heading as the single-run log writes it, for a run of a series.
std::string RenumberedSection(const std::string& text, const char* heading, uint32_t run, uint32_t runs) {
    const size_t at = text.find(heading);
    if (at == std::string::npos) return text;
    return text.substr(0, at) + RunHeading(heading, run, runs) + text.substr(at + std::char_traits<char>::length(heading));
}

}  // namespace

std::string RunHeading(const std::string& heading, uint32_t run, uint32_t runs) {
    if (heading.size() < 2 || heading.back() != ']') return heading;
    return heading.substr(0, heading.size() - 1) + ", run " + std::to_string(run) + " of " + std::to_string(runs) + "]";
}

void ProduceSeriesLog(const SeriesReport& series, const std::string& scriptFileBytes, TextSink& sink) {
    if (series.RunsRequested <= 1 || series.Runs.empty()) {
        ProduceLog(RunReportOf(series, 0), scriptFileBytes, sink);
        return;
    }
    const uint32_t runs = series.RunsRequested;
    // The facts, then every run's summary and the runs' section.
    std::string report = ReportSectionsText(RunReportOf(series, series.Runs.size()));
    for (const RunRecord& run : series.Runs) {
        if (run.RuntimeInfo.empty()) continue;
        std::string section = RenumberedSection(run.RuntimeInfo, "[Runtime info]", run.Number, runs);
        if (section.back() != '\n') section += "\n";
        report += section;
    }
    if (report.empty() || report.back() != '\n') report += "\n";
    report += "\n\n[Runs]\n";
    for (const std::string& line : SeriesLines(RunLinesOf(series), runs, SeriesFiguresOf(series))) report += line + "\n";

    const SampleColumnChoice& c = series.Columns;
    sink.Write(LogHeadText(report, LogScriptCopy(scriptFileBytes), GraphicsCardTextOf(series), c.MonitorGPU));
    for (const RunRecord& run : series.Runs) {
        if (run.Samples.empty()) continue;
        sink.Write(RenumberedSection(LogPerformanceHeader(c), "[Performance data]", run.Number, runs));
        for (const FrameSample& sample : run.Samples) sink.Write(LogPerformanceRow(sample, c));
    }
    for (const RunRecord& run : series.Runs) {
        const std::string error = LoggedErrorOf(run);
        if (!error.empty()) sink.Write(RenumberedSection(LogErrorSection(error), "[AviSynth error]", run.Number, runs));
    }
}
