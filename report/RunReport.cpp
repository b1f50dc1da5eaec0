#include "report/RunReport.h"

#include "frameserver/ClipReport.h"
#include "support/Text.h"

std::string GeneralInfoSection(const std::string& versionText, const std::string& scriptPath,
                               const std::string& switchesText, const CAvisynthInfo& info) {
    std::string text = "[General info]\n";
    text += "Log file created with:                 Tachoro " + versionText + "\n";
    // One line, whatever the name holds.
    text += "Script file:                           " + ControlsReplaced(scriptPath, false) + "\n";
    if (!switchesText.empty()) text += "Command line switches:                 " + switchesText + "\n";
    text += "Avisynth version string:               " + info.FrameServerVersion + "\n";
    text += "Avisynth file version:                 " + info.FileVersion + "\n";
    text += "Avisynth Interface Version:            " + std::to_string(info.InterfaceVersion) + "\n";
    text += std::string("Avisynth MT support:                   ") + (info.MTSupport ? "Yes" : "No") + "\n";
    text += "Avisynth.dll linker/compiler version:  " + info.LinkerVersion + "\n";
    text += "Avisynth.dll location:                 " + info.DLLLocation + "\n";
    text += "Avisynth.dll time stamp:               " + info.TimeStamp + "\n";
    // The tab after the label's colon becomes 13 blanks (the console report
    // uses three).
    for (const std::string& line : info.PluginDirDisplayLines("             ")) text += line + "\n";
    return text;
}

std::string ReportSectionsText(const RunReport& report) {
    std::string text;
    if (report.General) {
        const GeneralInfo& general = *report.General;
        text += GeneralInfoSection(general.VersionText, general.ScriptPath, general.SwitchesText, general.FrameServer);
    }
    if (report.Clip) text += ClipInfoSection(BuildClipReport(*report.Clip));
    return text + report.RuntimeInfo;
}
