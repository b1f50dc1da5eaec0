#include "app/CommandLine.h"

#include <algorithm>

#include "app/Settings.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "report/ReportFile.h"
#include "support/Console.h"
#include "support/Text.h"

namespace {

std::string Quoted(const char* format, const std::string& argument) { return FormatText(format, argument.c_str()); }

// Two scripts whose report files would be the same files (the same script
// twice, or names that differ only in the extension's letter case).
bool ShareReportFiles(const std::string& first, const std::string& second) {
    std::string a = ReportFileName(first, ""), b = ReportFileName(second, "");
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
// Adds the script to the call or, when the file cannot be used, sets the
// error.
bool TakeScript(const std::string& candidate, const std::string& shownName, const PathServices& paths,
                Invocation& call, std::string& error) {
    std::string fullPath;
    if (!paths.FullPath(candidate, fullPath)) {
        // Windows cannot even complete a name beyond its path limit.
        if (paths.Inspect(candidate).Kind != platform::FileKind::NameTooLong) return false;
        fullPath = candidate;
    }
    if (const char* problem = ScriptFileError(paths.Inspect(fullPath))) {
        error = Quoted(problem, shownName);
        return true;
    }
    for (const std::string& earlier : call.ScriptPaths)
        if (ShareReportFiles(earlier, fullPath)) {
            error = Quoted("\nTwo scripts would share their report files: \"%s\"\n", shownName);
            return true;
        }
    call.ScriptPaths.push_back(fullPath);
    call.ScriptArguments.push_back(shownName);
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

namespace {

// Sets the field of a switch's row; the message when its value is bad.
std::string ApplySwitch(const SwitchMatch& match, const std::string& raw, Invocation& call) {
    const Option& option = *match.Row;
    if (option.Flag) call.*option.Flag = true;
    if (!match.HasValue) return std::string();
    if (option.Number) {
        int32_t number = 0;
        if (ParseBoundedInteger(match.Value, option.Low, option.High, number) != BoundedValue::Valid)
            return FormatText("\nInvalid parameter value: \"%s\"\nValue must be between %d and %d\n", raw.c_str(),
                              option.Low, option.High);
        call.*option.Number = number;
    } else if (option.Range) {
        FrameRangeSetting& range = call.*option.Range;
        range.Text = std::string(option.Key ? option.Key : option.Switch) + "=" + match.Value;
        range.Valid = ParseFrameRange(match.Value, range.First, range.Last);
        if (!range.Valid) return Quoted("\nInvalid parameter format: \"%s\"\n", raw);
    } else if (option.Text) {
        call.*option.Text = match.Value;
        if (option.Text == &Invocation::Vary) {
            ScanParse scan = ParseParameterScan(match.Value);
            if (!scan.Error.empty()) return Quoted("\nInvalid parameter format: \"%s\"\n", raw) + scan.Error + "\n";
            call.Scan = std::move(scan.Scan);
        }
    }
    return std::string();
}

}  // namespace

std::string ParseArguments(const std::vector<std::string>& args, const PathServices& paths, Invocation& call,
                           const std::vector<Option>& options) {
    for (const std::string& raw : args) {
        std::string trimmed = raw;
        TrimText(trimmed);
        std::string lowered = trimmed;
        ToLowerText(lowered);

        // An information switch was answered before anything was read: here
        // it is no switch.
        const SwitchMatch match = MatchSwitch(options, lowered, trimmed);
        if (match.Row && match.Row->Information == InformationRequest::None) {
            call.SwitchesText += (call.SwitchesText.empty() ? "" : " ") + trimmed;
            const std::string error = ApplySwitch(match, raw, call);
            if (!error.empty()) return error;
            continue;
        }
        std::string error;
        if (EndsWithAvs(lowered) && TakeScript(raw, raw, paths, call, error)) {
            if (!error.empty()) return error;
            continue;
        }
        if (call.AutoCompleteExtension && call.ScriptPaths.empty() && !lowered.empty()) {
            const std::string candidate = raw + ".avs";
            if (TakeScript(candidate, candidate, paths, call, error)) {
                if (!error.empty()) return error;
                continue;
            }
        }
        return Quoted("\nInvalid argument: \"%s\"\n", raw);
    }
    return std::string();
}

namespace {

// A usage line: the switch with its value and short form, then what it does.
std::string UsageLine(const Option& option) {
    constexpr size_t kShortFormColumn = 6, kDescriptionColumn = 20;
    std::string name = option.Switch;
    if (option.TakesValue()) name += std::string("=") + option.ValueName;
    if (option.Short[0]) {
        name.resize(std::max(name.size(), kShortFormColumn), ' ');
        name += std::string("[") + option.Short[0] + "]";
    }
    name.resize(std::max(name.size() + 1, kDescriptionColumn), ' ');
    return "  " + name + option.Usage + "\n";
}

}  // namespace

const std::vector<std::string>& UsageLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> text = {"\nUsage:  Tachoro script.avs [switches]\n\n", "Switches:\n"};
        // The first block keeps its lines in their order.
        std::vector<const Option*> first, added;
        for (const Option& option : Options()) {
            if (option.Usage) (option.UsageLine > 0 ? first : added).push_back(&option);
        }
        std::stable_sort(first.begin(), first.end(),
                         [](const Option* a, const Option* b) { return a->UsageLine < b->UsageLine; });
        for (const Option* option : first) text.push_back(UsageLine(*option));
        text.back() += "\n";
        text.insert(text.end(), {"  For more info on the command line switches and INI file\n",
                                 "  options, read the documentation (Tachoro.html) included\n",
                                 "  in the distribution package.\n",
                                 "\nResults and comparisons:  Tachoro script.avs [script2.avs ...] [switches]\n\n"});
        for (const Option* option : added) text.push_back(UsageLine(*option));
        text.push_back("  Several scripts are measured in turn and compared.\n");
        return text;
    }();
    return lines;
}

namespace {

void PrintUsageIn(uint16_t colour) {
    for (const std::string& line : UsageLines()) ConsolePrint(platform::Stream::Out, colour, "%s", line.c_str());
    ConsolePrint(platform::Stream::Out, ColourUnchanged, "\n");
}

}  // namespace

void PrintUsage() { PrintUsageIn(ColourReport); }

InformationRequest FindInformationRequest(const std::vector<std::string>& args) {
    for (const std::string& raw : args) {
        std::string lowered = raw;
        TrimText(lowered);
        ToLowerText(lowered);
        const SwitchMatch match = MatchSwitch(Options(), lowered, lowered);
        if (match.Row && !match.HasValue && match.Row->Information != InformationRequest::None)
            return match.Row->Information;
    }
    return InformationRequest::None;
}

void PrintInformation(InformationRequest request) {
    // Uncoloured: the settings file, which may switch colour off, is not read
    // for these.
    if (request == InformationRequest::Version) {
        ConsolePrint(platform::Stream::Out, ColourUnchanged, "Tachoro %s\n", ProgramVersionShort().c_str());
    } else if (request == InformationRequest::Help) {
        PrintUsageIn(ColourUnchanged);
    }
}
