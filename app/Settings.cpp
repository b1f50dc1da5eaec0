#include "app/Settings.h"

#include <charconv>
#include <cstdio>
#include <vector>

#include "platform/Platform.h"
#include "report/ReportFile.h"
#include "support/Console.h"
#include "support/Text.h"

namespace {

// Lower case, trimmed, every blank removed (tabs inside stay): keys match
// whatever their case and spacing.
std::string Normalise(std::string line) {
    ToLowerText(line);
    TrimText(line);
    std::string result;
    for (char character : line)
        if (character != ' ') result += character;
    return result;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

char LastCharacter(const std::string& text) { return text.empty() ? '\0' : text.back(); }

// Why a settings file could not be read, as the message shows it.
std::string CannotReadMessage(const std::string& path, platform::FileRead result) {
    std::string message = FormatText("\nCannot open \"%s\"\n", path.c_str());
    if (result == platform::FileRead::NotRegular) message += "It is not a regular file.\n";
    if (result == platform::FileRead::TooLarge)
        message += FormatText("It is larger than %u MB.\n", static_cast<unsigned>(kTextFileLimit >> 20));
    return message;
}

void ApplyFrameRange(const std::string& rawLine, const std::string& normalised, Settings& settings) {
    std::string echoed = rawLine;
    while (!echoed.empty() && (echoed.back() == '\r' || echoed.back() == '\n')) echoed.pop_back();
    settings.FrameRangeText = echoed;
    settings.FrameRangeValid =
        ParseFrameRange(normalised.substr(std::string("framerange=").size()), settings.FrameFirst, settings.FrameLast);
}

}  // namespace

std::string DecodeSettingsText(const std::string& bytes) {
    const auto startsWith = [&](const char* mark, size_t length) { return bytes.compare(0, length, mark, length) == 0; };
    if (startsWith("\xEF\xBB\xBF", 3)) return bytes.substr(3);
    const bool littleEndian = startsWith("\xFF\xFE", 2);
    if (!littleEndian && !startsWith("\xFE\xFF", 2)) return bytes;
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]), second = static_cast<unsigned char>(bytes[i + 1]);
        wide += static_cast<char16_t>(littleEndian ? first | second << 8 : first << 8 | second);
    }
    return platform::WideToNarrow(wide, wide.size() * 3);
}

namespace {

// An integer text that fits 64 bits, as a whole.
bool ParseWholeInt64(const std::string& text, int64_t& value) {
    if (!IsIntegerText(text)) return false;
    const char* end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

}  // namespace

bool ParseFrameRange(const std::string& value, int64_t& first, int64_t& last) {
    first = last = InvalidRangeMarker;
    const size_t comma = value.find(',');
    if (value.size() < 3 || comma == std::string::npos || comma < 1 || comma > 27) return false;
    const std::string firstText = value.substr(0, comma), lastText = value.substr(comma + 1);
    int64_t firstValue = 0, lastValue = 0;
    if (!ParseWholeInt64(firstText, firstValue) || !ParseWholeInt64(lastText, lastValue)) return false;
    first = firstValue;
    last = lastValue;
    return true;
}

BoundedValue ParseBoundedInteger(const std::string& text, int32_t low, int32_t high, int32_t& value) {
    if (!IsIntegerText(text)) return BoundedValue::NotANumber;
    value = ParseInt32(text);
    return value >= low && value <= high ? BoundedValue::Valid : BoundedValue::OutOfRange;
}

std::string ProgramVersionShort() {
    std::string version = GetFileVersionText(std::string());
    if (version.size() > 5) version.resize(5);
    return version;
}

std::string DefaultSettingsFileText(const std::string& versionText) {
    static const char* const kLines[] = {
        "[Main]",
        nullptr,  // the version line
        "AVSDLL=",
        "DisplayFPS=1",
        "DisplayTPF=0",
        "CreateLog=0",
        "CreateCSV=0",
        "PauseBeforeExit=0",
        "FrameRange=0,-1",
        "InvokeDistributor=1",
        "AllowOnlyOneInstance=1",
        "UseColor=1",
        "MonitorGPULoad=0",
        "ProcessPriority=2",
        "ConUseSTDOUT=0",
        "TimeLimit=-1",
        "",
        "[Miscellaneous]",
        "LogEstimatedTime=0",
        "AutoCompleteExtension=0",
    };
    std::string text;
    for (const char* line : kLines) {
        text += line ? line : ("Version=" + versionText).c_str();
        text += "\r\n";
    }
    return text;
}

bool SettingsFileIsCurrent(const std::string& content, const std::string& versionText) {
    for (const std::string& line : SplitLines(content)) {
        std::string normalised = Normalise(line);
        if (!StartsWith(normalised, "version=")) continue;
        if (normalised.size() >= 5 && normalised.compare(normalised.size() - 5, 5, versionText) == 0) return true;
    }
    return false;
}

void ApplySettingsText(const std::string& content, Settings& settings) {
    for (const std::string& rawLine : SplitLines(content)) {
        const std::string line = Normalise(rawLine);
        if (StartsWith(line, "avsdll=")) {
            // The path keeps its case and inner blanks: only the key is
            // matched loosely.
            std::string value = rawLine.substr(rawLine.find('=') + 1);
            TrimText(value);
            settings.AVSDLL = value;
        }
        const char last = LastCharacter(line);
        if (StartsWith(line, "displayfps") && last == '0') settings.DisplayFPS = false;
        if (StartsWith(line, "displaytpf") && last == '1') settings.DisplayTPF = true;
        if (StartsWith(line, "createlog") && last == '1') settings.CreateLog = true;
        if (StartsWith(line, "createcsv") && last == '1') settings.CreateCSV = true;
        if (StartsWith(line, "pausebeforeexit") && last == '1') settings.PauseBeforeExit = true;
        if (StartsWith(line, "invokedistributor") && last == '0') settings.InvokeDistributor = false;
        if (StartsWith(line, "allowonlyoneinstance") && last == '0') settings.AllowOnlyOneInstance = false;
        if (StartsWith(line, "monitorgpuload") && last == '1') settings.MonitorGPULoad = true;
        // A number out of range falls back to the default; anything else
        // leaves the value alone.
        int32_t number = 0;
        if (StartsWith(line, "processpriority=")) {
            const BoundedValue priority = ParseBoundedInteger(line.substr(16), 1, 3, number);
            if (priority != BoundedValue::NotANumber)
                settings.ProcessPriority = static_cast<uint8_t>(priority == BoundedValue::Valid ? number : 2);
        }
        if (StartsWith(line, "timelimit=")) {
            const BoundedValue limit = ParseBoundedInteger(line.substr(10), 1, 999999, number);
            if (limit != BoundedValue::NotANumber) settings.TimeLimit = limit == BoundedValue::Valid ? number : -1;
        }
        if (StartsWith(line, "usecolor") && last == '0') settings.UseColor = false;
        if (StartsWith(line, "conusestdout") && last == '1') settings.ConUseSTDOUT = true;
        if (StartsWith(line, "framerange=")) ApplyFrameRange(rawLine, line, settings);
        if (StartsWith(line, "logestimatedtime") && last == '1') settings.LogEstimatedTime = true;
        if (StartsWith(line, "autocompleteextension") && last == '1') settings.AutoCompleteExtension = true;
    }
}

std::string LoadSettings(Settings& settings, std::string* notice) {
    std::string missing;
    const std::string path = platform::SettingsFilePath(&missing);
    settings = Settings();
    const std::string version = ProgramVersionShort();
    if (path.empty()) return FormatText("\nCannot create the settings file: %s\n", missing.c_str());

    // A folder of that name counts as no file; creating one then fails.
    const platform::FileKind kind = platform::InspectFile(path).Kind;
    const bool exists = kind == platform::FileKind::Regular || kind == platform::FileKind::Special;
    std::string bytes;
    if (exists) {
        const platform::FileRead read = ReadFileText(path, bytes);
        if (read != platform::FileRead::Done) return CannotReadMessage(path, read);
    }
    const std::string content = DecodeSettingsText(bytes);

    if (!exists || !SettingsFileIsCurrent(content, version)) {
        // Both files are replaced whole, never rewritten in place: a second
        // Tachoro started at the same moment reads either the old file or
        // the new one. An outdated file is kept beside the new one (as
        // Tachoro's own file, whatever was at that name), so the user's
        // values are never lost without a trace; an empty one holds none
        // and leaves an earlier backup alone.
        const std::string backup = path + ".bak";
        const bool keep = exists && !bytes.empty();
        if (keep) {
            ReplaceOptions asBackup;
            asBackup.ThroughLink = false;
            asBackup.ModeOf = path;
            const std::string error = ReplaceFileContent(backup, bytes, asBackup);
            if (!error.empty()) return error;
        }
        platform::ClearSystemError();
        if (!platform::EnsureParentDirectory(path)) {
            std::string reason = platform::SystemErrorText();
            TrimText(reason);
            return CannotCreateMessage(path, reason);
        }
        // A link is written through: the settings may live elsewhere.
        const std::string error = ReplaceFileContent(path, DefaultSettingsFileText(version), ReplaceOptions());
        if (!error.empty()) return error;
        if (keep && notice)
            *notice = FormatText("\nOutdated settings file replaced; the old one is kept as \"%s\"\n", backup.c_str());
        return std::string();
    }

    ApplySettingsText(content, settings);
    return std::string();
}
