#include "report/FrameServerReport.h"

#include "support/Text.h"

// The label "Muli-threading support:" keeps its odd spelling on purpose:
// other tools parse the report and look for the text exactly as it is.

namespace {

std::vector<std::string> PluginDirDisplayLines(const FrameServerFacts& facts, const std::string& gap) {
    std::vector<std::string> lines;
    for (const std::string& entry : facts.PluginDirLines) lines.push_back(PluginDirDisplayLine(entry, gap));
    return lines;
}

}  // namespace

std::string PluginDirDisplayLine(const std::string& entry, const std::string& gap) {
    const size_t colon = entry.find(":\t");
    if (colon == std::string::npos) return entry;
    return entry.substr(0, colon + 1) + gap + entry.substr(colon + 2);
}

std::vector<std::string> AvisynthReportLines(const FrameServerFacts& info,
                                             const std::function<std::string(const std::string&)>& toOem) {
    std::vector<std::string> lines;
    lines.push_back(FormatText("Avisynth version string:     %s", info.FrameServerVersion.c_str()));
    lines.push_back(FormatText("File version:                %s", info.FileVersion.c_str()));
    lines.push_back(FormatText("Avisynth Interface Version:  %d", info.InterfaceVersion));
    lines.push_back(FormatText("Muli-threading support:      %s", info.MTSupport ? "Yes" : "No"));
    lines.push_back(FormatText("Linker/compiler version:     %s", info.LinkerVersion.c_str()));
    lines.push_back(FormatText("Avisynth DLL location:       %s", toOem(info.DLLLocation).c_str()));
    lines.push_back(FormatText("Avisynth DLL time stamp:     %s", info.TimeStamp.c_str()));
    for (const std::string& line : PluginDirDisplayLines(info, "   ")) lines.push_back(toOem(line));
    if (!info.PluginLoadFailure.empty()) {
        // The frame server's message can take several lines: one here.
        std::string failure;
        for (const std::string& part : SplitLines(info.PluginLoadFailure)) {
            std::string trimmed = part;
            TrimText(trimmed);
            if (!trimmed.empty()) failure += (failure.empty() ? "" : " ") + trimmed;
        }
        lines.push_back(toOem("Plug-in auto-load failed:    " + failure));
    }
    return lines;
}

std::string GeneralInfoSection(const std::string& versionText, const std::string& scriptPath,
                               const std::string& switchesText, const FrameServerFacts& info) {
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
    for (const std::string& line : PluginDirDisplayLines(info, "             ")) text += line + "\n";
    return text;
}
