#include "app/CommandLine.h"

#include "platform/Platform.h"
#include "support/Console.h"
#include "support/Text.h"

namespace {

std::string Quoted(const char* format, const std::string& argument) { return FormatText(format, argument.c_str()); }

// Two scripts whose report files would be the same files (the same script
// twice, or names that differ only in the extension's letter case).
bool ShareReportFiles(std::string a, std::string b) {
    a = a.size() > 4 ? a.substr(0, a.size() - 4) : a;
    b = b.size() > 4 ? b.substr(0, b.size() - 4) : b;
    if (platform::FileNamesIgnoreCase()) {
        ToLowerText(a);
        ToLowerText(b);
    }
    return a == b;
}

// Why a script file cannot be used; null when it can. Only a regular file of
// a text file's size is handed to the frame server: a pipe would make it
// wait forever, a device that never ends would fill the memory.
const char* ScriptFileError(const platform::FileFacts& facts) {
    switch (facts.Kind) {
    case platform::FileKind::Regular:
        return facts.Size > kTextFileLimit ? "\nFile too large: \"%s\"\n" : nullptr;
    case platform::FileKind::Special:
        return "\nNot a regular file: \"%s\"\n";
    case platform::FileKind::NameTooLong:
        return "\nPath too long: \"%s\"\n";
    case platform::FileKind::Directory:
        return "\nFolder, not a file: \"%s\"\n";
    case platform::FileKind::Missing:
        break;
    }
    return "\nFile not found: \"%s\"\n";
}

// Full path of a script candidate; false when no full path can be formed.
// Sets ScriptPath and, when the file cannot be used, the error.
bool TakeScript(const std::string& candidate, const std::string& shownName, const PathServices& paths,
                CommandLineResult& result) {
    std::string fullPath;
    if (!paths.FullPath(candidate, fullPath)) {
        // Windows cannot even complete a name beyond its path limit.
        if (paths.Inspect(candidate).Kind != platform::FileKind::NameTooLong) return false;
        fullPath = candidate;
    }
    result.ScriptPath = fullPath;
    if (const char* error = ScriptFileError(paths.Inspect(fullPath))) {
        result.ErrorMessage = Quoted(error, shownName);
        return true;
    }
    for (const std::string& earlier : result.ScriptPaths)
        if (ShareReportFiles(earlier, fullPath)) {
            result.ErrorMessage = Quoted("\nTwo scripts would share their report files: \"%s\"\n", shownName);
            return true;
        }
    result.ScriptPaths.push_back(fullPath);
    result.ScriptArguments.push_back(shownName);
    return true;
}

bool EndsWithAvs(const std::string& lowered) {
    return lowered.size() > 4 && lowered.compare(lowered.size() - 4, 4, ".avs") == 0;
}

}  // namespace

PathServices SystemPathServices() {
    PathServices services;
    services.FullPath = [](const std::string& path, std::string& fullPath) { return platform::FullPath(path, fullPath); };
    services.Inspect = [](const std::string& path) { return platform::InspectFile(path); };
    return services;
}

CommandLineResult ParseArguments(const std::vector<std::string>& args, Settings& settings,
                                 const PathServices& paths) {
    CommandLineResult result;
    for (const std::string& raw : args) {
        std::string trimmed = raw;
        TrimText(trimmed);
        std::string lowered = trimmed;
        ToLowerText(lowered);

        auto recordSwitch = [&]() { result.SwitchesText += trimmed + " "; };
        auto isPrefix = [&](const char* prefix, size_t length) { return lowered.compare(0, length, prefix) == 0; };

        if (lowered == "-avsinfo") {
            recordSwitch();
            result.AvsInfoMode = true;
        } else if (lowered == "-i" || lowered == "-info") {
            recordSwitch();
            result.InfoOnly = true;
        } else if (lowered == "-l" || lowered == "-log") {
            recordSwitch();
            settings.CreateLog = true;
        } else if (lowered == "-csv") {
            recordSwitch();
            settings.CreateCSV = true;
        } else if (lowered == "-gpu") {
            recordSwitch();
            settings.MonitorGPULoad = true;
        } else if (lowered == "-json") {
            recordSwitch();
            result.Results.Json = true;
        } else if (lowered == "-plot") {
            recordSwitch();
            result.Results.Plot = true;
        } else if (lowered == "-frametimes") {
            recordSwitch();
            result.Results.FrameTimes = true;
        } else if (isPrefix("-runs=", 6)) {
            recordSwitch();
            int32_t runs = 0;
            if (ParseBoundedInteger(lowered.substr(6), 1, 100, runs) != BoundedValue::Valid) {
                result.ErrorMessage =
                    Quoted("\nInvalid parameter value: \"%s\"\nValue must be between 1 and 100\n", raw);
                return result;
            }
            result.Results.Runs = static_cast<uint32_t>(runs);
        } else if (isPrefix("-range=", 7)) {
            recordSwitch();
            const std::string value = lowered.substr(7);
            settings.FrameRangeText = "FrameRange=" + value;
            settings.FrameRangeValid = ParseFrameRange(value, settings.FrameFirst, settings.FrameLast);
            if (!settings.FrameRangeValid) {
                result.ErrorMessage = Quoted("\nInvalid parameter format: \"%s\"\n", raw);
                return result;
            }
        } else if (isPrefix("-priority=", 10)) {
            recordSwitch();
            int32_t priority = 0;
            if (ParseBoundedInteger(lowered.substr(10), 1, 3, priority) != BoundedValue::Valid) {
                result.ErrorMessage =
                    Quoted("\nInvalid parameter value: \"%s\"\nValue must be between 1 and 3\n", raw);
                return result;
            }
            settings.ProcessPriority = static_cast<uint8_t>(priority);
        } else if (isPrefix("-timelimit=", 11)) {
            recordSwitch();
            int32_t limit = 0;
            if (ParseBoundedInteger(lowered.substr(11), 1, 999999, limit) != BoundedValue::Valid) {
                result.ErrorMessage =
                    Quoted("\nInvalid parameter value: \"%s\"\nValue must be between 1 and 999999\n", raw);
                return result;
            }
            settings.TimeLimit = limit;
        } else {
            if (EndsWithAvs(lowered) && TakeScript(raw, raw, paths, result)) {
                if (!result.ErrorMessage.empty()) return result;
                continue;
            }
            if (settings.AutoCompleteExtension && result.ScriptPath.empty() && !lowered.empty()) {
                std::string candidate = raw + ".avs";
                if (TakeScript(candidate, candidate, paths, result)) {
                    if (!result.ErrorMessage.empty()) return result;
                    continue;
                }
            }
            result.ErrorMessage = Quoted("\nInvalid argument: \"%s\"\n", raw);
            return result;
        }
    }
    return result;
}

const std::vector<std::string>& UsageLines() {
    static const std::vector<std::string> lines = {
        "\nUsage:  Tachoro script.avs [switches]\n\n",
        "Switches:\n",
        "  -avsinfo            Display Avisynth info\n",
        "  -info [-i]          Display clip info\n",
        "  -log  [-l]          Create log file\n",
        "  -csv                Create csv file\n",
        "  -gpu                Monitor GPU/VPU usage\n",
        "  -range=first,last   Set frame range\n",
        "  -timelimit=n        Set time limit (seconds)\n",
        "  -priority=n         Set process priority (1:low, 2:normal, 3:high)\n\n",
        "  For more info on the command line switches and INI file\n",
        "  options, read the documentation (Tachoro.html) included\n",
        "  in the distribution package.\n",
        "\nResults and comparisons:  Tachoro script.avs [script2.avs ...] [switches]\n\n",
        "  -json               Create json file\n",
        "  -plot               Create svg chart of the frame rate\n",
        "  -runs=n             Measure each script n times (1 to 100)\n",
        "  -frametimes         Time every frame (median, percentiles, slowest)\n",
        "  Several scripts are measured in turn and compared.\n",
    };
    return lines;
}

void PrintUsage() {
    for (const std::string& line : UsageLines()) ConsolePrint(1, ColourReport, "%s", line.c_str());
    ConsolePrint(1, ColourUnchanged, "\n");
}

InformationRequest FindInformationRequest(const std::vector<std::string>& args) {
    for (const std::string& raw : args) {
        std::string lowered = raw;
        TrimText(lowered);
        ToLowerText(lowered);
        if (lowered == "--help" || lowered == "-h" || lowered == "-?") return InformationRequest::Help;
        if (lowered == "--version") return InformationRequest::Version;
    }
    return InformationRequest::None;
}

const std::vector<std::string>& InformationSwitches() {
    static const std::vector<std::string> switches = {"--help", "-h", "-?", "--version"};
    return switches;
}

void PrintInformation(InformationRequest request) {
    // Uncoloured: the settings file, which may switch colour off, is not read
    // for these.
    if (request == InformationRequest::Version) {
        ConsolePrint(1, ColourUnchanged, "Tachoro %s\n", ProgramVersionShort().c_str());
    } else if (request == InformationRequest::Help) {
        for (const std::string& line : UsageLines()) ConsolePrint(1, ColourUnchanged, "%s", line.c_str());
        ConsolePrint(1, ColourUnchanged, "\n");
    }
}
