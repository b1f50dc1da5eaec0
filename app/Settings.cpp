#include "app/Settings.h"

#include <string>
#include <vector>

#include "app/Options.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Text.h"
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

// The default's text as the settings file writes it.
std::string DefaultValueText(const Option& option) {
    const Invocation defaults;
    if (option.Flag) return defaults.*option.Flag ? "1" : "0";
    if (option.Number) return std::to_string(defaults.*option.Number);
    if (option.Range) return std::to_string((defaults.*option.Range).First) + "," +
                             std::to_string((defaults.*option.Range).Last);
    if (option.Text) return defaults.*option.Text;
    return std::string();
}

// A key of the table as the lines are matched against it.
struct KeyRule {
    const Option* Row;
    std::string Key;  // lower case
};

// One line of a settings file applied to the row of a key: `line` as
// Normalise made it, `rawLine` as it stands in the file.
void ApplySettingsLine(const KeyRule& rule, const std::string& rawLine, const std::string& line,
                       const Invocation& defaults, Invocation& call) {
    const Option& option = *rule.Row;
    if (line.compare(0, rule.Key.size(), rule.Key) != 0) return;
    if (option.Flag) {
        // Read by the line's last character: only the digit that is not the
        // default moves the flag.
        const bool byDefault = defaults.*option.Flag;
        if (LastCharacter(line) == (byDefault ? '0' : '1')) call.*option.Flag = !byDefault;
        return;
    }
    if (line.compare(rule.Key.size(), 1, "=") != 0) return;
    const std::string value = line.substr(rule.Key.size() + 1);
    if (option.Number) {
        // A number out of range falls back to the default; anything else
        // leaves the value alone.
        int32_t number = 0;
        const BoundedValue read = ParseBoundedInteger(value, option.Low, option.High, number);
        if (read != BoundedValue::NotANumber)
            call.*option.Number = read == BoundedValue::Valid ? number : defaults.*option.Number;
    } else if (option.Range) {
        FrameRangeSetting& range = call.*option.Range;
        std::string echoed = rawLine;
        while (!echoed.empty() && (echoed.back() == '\r' || echoed.back() == '\n')) echoed.pop_back();
        range.Text = echoed;
        range.Valid = ParseFrameRange(value, range.First, range.Last);
    } else if (option.Text) {
        // A path keeps its case and inner blanks: only the key is matched
        // loosely.
        std::string text = rawLine.substr(rawLine.find('=') + 1);
        TrimText(text);
        call.*option.Text = text;
    }
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

std::string ProgramVersionShort() {
    std::string version = GetFileVersionText(std::string());
    if (version.size() > 5) version.resize(5);
    return version;
}

std::string ProgramVersionText() { return ProgramVersionShort() + " (x64)"; }

std::string DefaultSettingsFileText(const std::string& versionText) {
    const char* const sections[] = {"Main", "Miscellaneous"};
    std::string text;
    for (const SettingsSection section : {SettingsSection::Main, SettingsSection::Miscellaneous}) {
        if (section != SettingsSection::Main) text += "\r\n";
        text += "[" + std::string(sections[static_cast<int>(section)]) + "]\r\n";
        if (section == SettingsSection::Main) text += "Version=" + versionText + "\r\n";
        for (const Option& option : Options())
            if (option.Key && option.Section == section)
                text += std::string(option.Key) + "=" + DefaultValueText(option) + "\r\n";
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

void ApplySettingsText(const std::string& content, Invocation& call) {
    std::vector<KeyRule> rules;
    for (const Option& option : Options()) {
        if (!option.Key) continue;
        rules.push_back({&option, option.Key});
        ToLowerText(rules.back().Key);
    }
    const Invocation defaults;
    for (const std::string& rawLine : SplitLines(content)) {
        const std::string line = Normalise(rawLine);
        for (const KeyRule& rule : rules) ApplySettingsLine(rule, rawLine, line, defaults, call);
    }
}

std::string LoadSettings(Invocation& call, std::string* notice) {
    std::string missing;
    const std::string path = platform::SettingsFilePath(&missing);
    call = Invocation();
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

    ApplySettingsText(content, call);
    return std::string();
}
