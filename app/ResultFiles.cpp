#include "app/ResultFiles.h"

#include "platform/Files.h"
#include "report/CsvFile.h"
#include "report/JsonFile.h"
#include "report/LogFile.h"
#include "report/PlotFile.h"
#include "support/Text.h"

const std::vector<ResultFile>& ResultFiles() {
    using I = Invocation;
    static const std::vector<ResultFile> files = {
        {&I::CreateLog, ".log", Written::AlsoAfterFailure, nullptr, ProduceSeriesLog},
        {&I::CreateCSV, ".csv", Written::AfterMeasurement, ProduceSeriesCsv},
        {&I::Json, ".json", Written::WhenAsked, ProduceJson},
        {&I::Plot, ".svg", Written::AfterMeasurement, ProducePlot},
    };
    return files;
}

std::string WriteResultFile(const ResultFile& file, const SeriesReport& series, bool keepPrevious) {
    std::string scriptBytes;
    if (file.ProduceWithScript && !LoggedScriptBytes(series.ScriptBytes, series.ScriptPath, scriptBytes))
        return CannotOpenMessage(series.ScriptPath);
    return WriteReportFile(
        ReportFileName(series.ScriptPath, file.Extension), series.ScriptPath,
        [&](TextSink& sink) {
            if (file.ProduceWithScript) file.ProduceWithScript(series, scriptBytes, sink);
            else file.Produce(series, sink);
        },
        keepPrevious);
}

std::string SharedReportFileMessage(const Invocation& call) {
    struct ReportFile {
        std::string Name;
        size_t Script;
        platform::FileIdentity Identity;
    };
    std::vector<ReportFile> files;
    for (size_t script = 0; script < call.ScriptPaths.size(); ++script) {
        for (const ResultFile& format : ResultFiles()) {
            // A failed run writes the log even when nobody asked for it.
            if (format.When != Written::AlsoAfterFailure && !(call.*format.Switch)) continue;
            const std::string name = ReportFileName(call.ScriptPaths[script], format.Extension);
            const ReportFile file{name, script, platform::IdentifyFile(name)};
            for (const ReportFile& earlier : files) {
                if (!platform::SameIdentity(earlier.Identity, file.Identity)) continue;
                if (earlier.Script != script)
                    return FormatText("\nTwo scripts would share their report files: \"%s\"\n",
                                      call.ScriptArguments[script].c_str());
                return FormatText("\nTwo report files would be one file: \"%s\" and \"%s\"\n", earlier.Name.c_str(),
                                  name.c_str());
            }
            files.push_back(file);
        }
    }
    return std::string();
}
