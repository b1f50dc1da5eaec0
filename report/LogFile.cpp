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

std::string LogPerformanceHeader(bool monitorGPU, bool hasVideoEngine) {
    return "\n[Performance data]\n" +
           JoinColumns(ColumnSet::Log, SampleColumnChoice{monitorGPU, hasVideoEngine}, ' ',
                       [](std::string& text, const SampleColumn& column) {
                           const std::string title = column.Title;
                           text.append(static_cast<size_t>(column.LogWidth) - title.size(), ' ');
                           text += title;
                       }) +
           "\n";
}

std::string LogPerformanceRow(const FrameSample& sample, bool monitorGPU, bool hasVideoEngine) {
    return JoinColumns(ColumnSet::Log, SampleColumnChoice{monitorGPU, hasVideoEngine}, ' ',
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
        sink.Write(LogPerformanceHeader(c.MonitorGPU, c.HasVideoEngine));
        for (uint32_t i = 0; i < report.SampleCount; ++i)
            sink.Write(LogPerformanceRow(report.Samples[i], c.MonitorGPU, c.HasVideoEngine));
    }
    sink.Write(LogErrorSection(report.FrameServerError));
}

std::string WriteLogFile(const RunReport& report, bool keepPrevious) {
    std::string scriptBytes;
    if (report.ScriptBytes)
        scriptBytes = *report.ScriptBytes;
    else if (ReadFileText(report.ScriptPath, scriptBytes) != platform::FileRead::Done)
        return CannotOpenMessage(report.ScriptPath);
    return WriteReportFile(LogFileName(report.ScriptPath), report.ScriptPath,
                           [&](TextSink& sink) { ProduceLog(report, scriptBytes, sink); }, keepPrevious);
}

