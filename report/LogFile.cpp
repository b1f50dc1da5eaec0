#include "report/LogFile.h"

#include "report/SampleColumns.h"
#include "report/ScanFiles.h"
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

namespace {

std::string CardLine(const char* label, const std::string& value, const char* missing) {
    return std::string(label) + (value.empty() ? std::string(missing) : value) + "\n";
}

}  // namespace

std::string GraphicsCardSection(const GraphicsCardFacts& facts) {
    const bool gpuz = facts.Kind == GPUSourceKind::GPUZ;
    const char* missing = gpuz ? "" : "n/a";
    std::string text = "\n\n[Graphics card info]\n";
    text += CardLine("Card name:               ", facts.CardName, missing);
    text += CardLine("GPU name:                ", facts.GPUName, missing);
    text += CardLine("Memory size:             ", facts.MemorySize, missing);
    text += CardLine("OpenCL version:          ", facts.OpenCLVersion, missing);
    text += CardLine("Driver version:          ", facts.DriverVersion, missing);
    if (!gpuz) {
        text += CardLine("CUDA version:            ", facts.CudaVersion, missing);
        text += CardLine("Compute capability:      ", facts.ComputeCapability, missing);
        text += FormatText("Device:                  %u (of %u, counted from 0)\n", facts.Device, facts.DeviceCount);
    }
    text += "Info collected with:     " + facts.Source + "\n\n";
    return text;
}

std::string LogHeadText(const std::string& reportText, const std::string& scriptCopy,
                        const std::optional<GraphicsCardFacts>& graphicsCard, bool monitorGPU) {
    std::string text = reportText + "\n";
    text += "\n[Script]\n" + scriptCopy + "\n\n";
    if (monitorGPU && graphicsCard) text += GraphicsCardSection(*graphicsCard);
    return text;
}

std::string LogPerformanceHeader(const SampleColumnChoice& columns, const std::string& heading) {
    return "\n" + heading + "\n" +
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

std::string LogErrorSection(const std::string& loggedError, const std::string& heading) {
    if (loggedError.empty()) return std::string();
    return "\n\n" + heading + "\n" + loggedError + "\n";
}

void ProduceLog(const RunReport& report, const std::string& scriptFileBytes, TextSink& sink) {
    const SampleColumnChoice& c = report.Columns;
    sink.Write(LogHeadText(ReportSectionsText(report), LogScriptCopy(scriptFileBytes), report.GraphicsCard,
                           c.MonitorGPU));
    if (report.SampleCount > 0 && report.Samples) {
        sink.Write(LogPerformanceHeader(c));
        for (uint32_t i = 0; i < report.SampleCount; ++i) sink.Write(LogPerformanceRow(report.Samples[i], c));
    }
    sink.Write(LogErrorSection(report.LoggedError));
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

std::string RunHeading(const std::string& heading, uint32_t run, uint32_t runs) {
    if (heading.size() < 2 || heading.back() != ']') return heading;
    return heading.substr(0, heading.size() - 1) + ", run " + std::to_string(run) + " of " + std::to_string(runs) + "]";
}

void ProduceSeriesLog(const SeriesReport& series, const std::string& scriptFileBytes, TextSink& sink) {
    if (!series.ScanValues.empty()) {
        ProduceScanLog(series, scriptFileBytes, sink);
        return;
    }
    if (series.RunsRequested <= 1 || series.Runs.empty()) {
        ProduceLog(RunReportOf(series, 0), scriptFileBytes, sink);
        sink.Write(BaselineLogSection(series.Baseline));
        if (series.Profile) sink.Write(ProfileLogSection(*series.Profile));
        return;
    }
    const uint32_t runs = series.RunsRequested;
    // The facts, then every run's summary and the runs' section.
    std::string report = ReportSectionsText(RunReportOf(series, series.Runs.size()));
    for (const RunRecord& run : series.Runs) {
        std::string section = RuntimeInfoSection(run, RunHeading("[Runtime info]", run.Number, runs));
        if (section.empty()) continue;
        if (section.back() != '\n') section += "\n";
        report += section;
    }
    if (report.empty() || report.back() != '\n') report += "\n";
    report += "\n\n[Runs]\n";
    for (const std::string& line : SeriesLines(RunLinesOf(series), runs, SeriesFiguresOf(series))) report += line + "\n";

    const SampleColumnChoice& c = series.Columns;
    sink.Write(LogHeadText(report, LogScriptCopy(scriptFileBytes), series.GraphicsCard, c.MonitorGPU));
    for (const RunRecord& run : series.Runs) {
        if (run.Samples.empty()) continue;
        sink.Write(LogPerformanceHeader(c, RunHeading("[Performance data]", run.Number, runs)));
        for (const FrameSample& sample : run.Samples) sink.Write(LogPerformanceRow(sample, c));
    }
    for (const RunRecord& run : series.Runs) {
        const std::string error = LoggedErrorOf(run);
        sink.Write(LogErrorSection(error, RunHeading("[AviSynth error]", run.Number, runs)));
    }
    sink.Write(BaselineLogSection(series.Baseline));
    if (series.Profile) sink.Write(ProfileLogSection(*series.Profile));
}
