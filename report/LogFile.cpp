#include "report/LogFile.h"

#include <cstdio>

#include "app/Settings.h"
#include "report/ReportFile.h"
#include "support/Text.h"

namespace {

// Reads the whole file; false when it cannot be opened or a read fails, so a
// half-read script is never copied into the log as if it were complete.
bool ReadFileBytes(const std::string& path, std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    char buffer[16384];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, count);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// The plug-in line of the log: the tab after the label's colon becomes 13
// blanks (the console report uses three).
std::string PluginDirLogLine(const std::string& entry) {
    size_t colon = entry.find(":\t");
    if (colon == std::string::npos) return entry;
    return entry.substr(0, colon + 1) + "             " + entry.substr(colon + 2);
}

}  // namespace

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

std::string LogPerformanceHeader(bool monitorGPU, int hasVideoEngine) {
    if (!monitorGPU)
        return "\n[Performance data]\n       Frame    Frames/sec   Time/frame(ms)   CPU(%)   Threads   "
               "PhysMEM(MB)   VirtMEM(MB)\n";
    if (!hasVideoEngine)
        return "\n[Performance data]\n       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   Threads   "
               "PhysMEM(MB)   VirtMEM(MB)\n";
    return "\n[Performance data]\n       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   VPU(%)   "
           "Threads   PhysMEM(MB)   VirtMEM(MB)\n";
}

std::string LogPerformanceRow(const FrameSample& sample, bool monitorGPU, int hasVideoEngine) {
    std::string row;
    // The frame value ends in column 12. Counted from 1; 32-bit like the
    // frame numbers themselves.
    AppendUnsigned(row, static_cast<uint32_t>(sample.FrameNumber + 1u), 12);
    row += ' ';
    AppendFixed(row, sample.FPS, 3, 13);
    row += ' ';
    AppendFixed(row, 1000.0 / sample.FPS, 6, 16);
    row += ' ';
    AppendUnsigned(row, sample.CPUUsage, 8);
    if (monitorGPU) {
        row += ' ';
        AppendUnsigned(row, sample.GPULoad, 8);
        if (hasVideoEngine) {
            row += ' ';
            AppendUnsigned(row, sample.VideoEngineLoad, 8);
        }
    }
    row += ' ';
    AppendUnsigned(row, sample.ThreadCount, 9);
    row += ' ';
    AppendUnsigned(row, sample.PhysMemMB, 13);
    row += ' ';
    AppendUnsigned(row, sample.VirtMemMB, 13);
    row += '\n';
    return row;
}

std::string LogErrorSection(const std::string& runErrorText) {
    if (runErrorText.empty()) return std::string();
    return "\n\n[AviSynth error]\n" + runErrorText + "\n";
}

std::string WriteLogFile(const std::string& scriptPath, const std::string& reportText,
                         const std::string& graphicsCardText, const FrameSample* samples, uint32_t sampleCount,
                         const std::string& runErrorText, int hasVideoEngine) {
    std::string scriptBytes;
    if (!ReadFileBytes(scriptPath, scriptBytes)) return CannotOpenMessage(scriptPath);

    std::string fileName = LogFileName(scriptPath);
    if (ReportWouldReplaceScript(fileName, scriptPath)) return WouldReplaceScriptMessage(fileName);
    ReportFileWriter writer(fileName);
    if (!writer.Open()) return CannotCreateMessage(fileName);

    bool monitorGPU = Settings.MonitorGPULoad != 0;
    writer.Write(LogHeadText(reportText, LogScriptCopy(scriptBytes), graphicsCardText, monitorGPU));
    if (sampleCount > 0 && samples) {
        writer.Write(LogPerformanceHeader(monitorGPU, hasVideoEngine));
        for (uint32_t i = 0; i < sampleCount; ++i) writer.Write(LogPerformanceRow(samples[i], monitorGPU, hasVideoEngine));
    }
    writer.Write(LogErrorSection(runErrorText));
    // A short file is left where it is, but never reported as written.
    if (!writer.Finish()) return CannotWriteMessage(fileName);
    return std::string();
}

std::string GeneralInfoSection(const std::string& versionText, const std::string& scriptPath,
                               const std::string& switchesText, const CAvisynthInfo& info) {
    std::string text = "[General info]\n";
    text += "Log file created with:                 Tachoro " + versionText + "\n";
    text += "Script file:                           " + scriptPath + "\n";
    if (!switchesText.empty()) text += "Command line switches:                 " + switchesText + "\n";
    text += "Avisynth version string:               " + info.FrameServerVersion + "\n";
    text += "Avisynth file version:                 " + info.FileVersion + "\n";
    text += "Avisynth Interface Version:            " + std::to_string(info.InterfaceVersion) + "\n";
    text += std::string("Avisynth MT support:                   ") + (info.MTSupport ? "Yes" : "No") + "\n";
    text += "Avisynth.dll linker/compiler version:  " + info.LinkerVersion + "\n";
    text += "Avisynth.dll location:                 " + info.DLLLocation + "\n";
    text += "Avisynth.dll time stamp:               " + info.TimeStamp + "\n";
    // A count above the number of slots must not read past them.
    size_t count = info.PluginDirCount < info.PluginDirLines.size() ? info.PluginDirCount : info.PluginDirLines.size();
    for (size_t slot = 0; slot < count; ++slot) {
        if (info.PluginDirLines[slot].empty()) continue;
        text += PluginDirLogLine(info.PluginDirLines[slot]) + "\n";
    }
    return text;
}
