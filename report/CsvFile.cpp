#include "report/CsvFile.h"

#include "app/Settings.h"
#include "report/ReportFile.h"

std::string CsvFileName(const std::string& scriptPath) { return ReportFileName(scriptPath, ".csv"); }

std::string CsvHeader(bool monitorGPU, int hasVideoEngine) {
    if (!monitorGPU)
        return "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),Threads,"
               "PhysMEM(MB),VirtMEM(MB)\n";
    if (!hasVideoEngine)
        return "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),GPU(%),Threads,"
               "PhysMEM(MB),VirtMEM(MB)\n";
    return "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),GPU(%),VPU(%),"
           "Threads,PhysMEM(MB),VirtMEM(MB)\n";
}

std::string CsvRow(const FrameSample& sample, bool monitorGPU, int hasVideoEngine) {
    std::string row;
    AppendUnsigned(row, static_cast<uint32_t>(sample.FrameNumber + 1u));
    row += ',';
    AppendFixed(row, sample.FPS, 3);
    row += ',';
    AppendFixed(row, sample.FPSAverage, 3);
    row += ',';
    AppendFixed(row, 1000.0 / sample.FPS, 6);
    row += ',';
    AppendFixed(row, 1000.0 / sample.FPSAverage, 6);
    row += ',';
    AppendUnsigned(row, sample.CPUUsage);
    if (monitorGPU) {
        row += ',';
        AppendUnsigned(row, sample.GPULoad);
        if (hasVideoEngine) {
            row += ',';
            AppendUnsigned(row, sample.VideoEngineLoad);
        }
    }
    row += ',';
    AppendUnsigned(row, sample.ThreadCount);
    row += ',';
    AppendUnsigned(row, sample.PhysMemMB);
    row += ',';
    AppendUnsigned(row, sample.VirtMemMB);
    row += '\n';
    return row;
}

std::string WriteCSVFile(const std::string& scriptPath, const FrameSample* samples, uint32_t sampleCount,
                         int hasVideoEngine) {
    std::string fileName = CsvFileName(scriptPath);
    if (ReportWouldReplaceScript(fileName, scriptPath)) return WouldReplaceScriptMessage(fileName);
    ReportFileWriter writer(fileName);
    if (!writer.Open()) return CannotCreateMessage(fileName);

    bool monitorGPU = Settings.MonitorGPULoad != 0;
    if (sampleCount > 0 && samples) {
        writer.Write(CsvHeader(monitorGPU, hasVideoEngine));
        for (uint32_t i = 0; i < sampleCount; ++i) writer.Write(CsvRow(samples[i], monitorGPU, hasVideoEngine));
    }
    // A short file is left where it is, but never reported as written.
    if (!writer.Finish()) return CannotWriteMessage(fileName);
    return std::string();
}
