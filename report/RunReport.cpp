#include "report/RunReport.h"

#include "report/ClipReport.h"
#include "report/FrameServerReport.h"
#include "report/SeriesReport.h"

std::string ClosingFaultText(const std::string& fault) {
    return "\nEvery requested frame was rendered; the frame server then faulted while closing:\n" + fault + "\n";
}

std::string RuntimeInfoSection(const RunRecord& run, const std::string& heading) {
    if (!run.Summary) return std::string();
    std::string text = "\n\n" + heading + "\n";
    const RunSummary summary = BuildRunSummary(run.Stats, run.Readings, *run.Summary);
    if (summary.Insufficient) {
        text += summary.Lines.back().Text;
    } else {
        for (const ScreenLine& line : summary.Lines)
            if (line.Kind == LineKind::Text) text += line.Text + "\n";
        if (run.FrameTimes)
            for (const std::string& line : FrameTimeLines(*run.FrameTimes)) text += line + "\n";
    }
    if (run.Ending.WhileClosing) {
        // On a line of its own, also after the one line of too short a run.
        if (text.back() != '\n') text += "\n";
        text += ClosingFaultText(run.Ending.Message).substr(1);
    }
    return text;
}

std::string ReportSectionsText(const RunReport& report) {
    std::string text;
    if (report.General) {
        const GeneralInfo& general = *report.General;
        text += GeneralInfoSection(general.VersionText, general.ScriptPath, general.SwitchesText, general.FrameServer);
    }
    if (report.Clip) text += ClipInfoSection(*report.Clip);
    if (report.Run) text += RuntimeInfoSection(*report.Run, "[Runtime info]");
    return text;
}
