// The settings record, its defaults and the settings file reader. The run
// sequence owns the one record of a run; the layers below receive what they
// need of it as values or small option records.
#pragma once

#include <cstdint>
#include <string>

// Both range ends hold this while a range is parsed; a value that does not
// parse leaves it in place, and the range check then rejects it.
constexpr int64_t InvalidRangeMarker = 0xFFFFFFFFFFLL;

// Fields carry the settings file's key names; flags are 0/1 in the file.
struct Settings {
    std::string AVSDLL;
    bool DisplayFPS = true;
    bool DisplayTPF = false;
    bool CreateLog = false;
    bool CreateCSV = false;
    bool PauseBeforeExit = false;
    int64_t FrameFirst = 0;
    int64_t FrameLast = -1;
    bool FrameRangeValid = true;  // false: the range given did not parse (both ends hold the marker)
    std::string FrameRangeText;
    int64_t TimeLimit = -1;
    bool InvokeDistributor = true;
    bool AllowOnlyOneInstance = true;
    bool UseColor = true;
    bool MonitorGPULoad = false;
    uint8_t ProcessPriority = 2;
    bool ConUseSTDOUT = false;
    bool LogEstimatedTime = false;
    bool AutoCompleteExtension = false;
};

// The program's version text: the file version cut to five characters
// ("2.1.3" for 2.1.3.0).
std::string ProgramVersionShort();

// The default settings file, CR LF line ends, for the given version text.
std::string DefaultSettingsFileText(const std::string& versionText);

// True when a line of `content` proves the file current for versionText.
bool SettingsFileIsCurrent(const std::string& content, const std::string& versionText);

// Applies the keys of a settings file's content to `settings` (over the
// values it holds).
void ApplySettingsText(const std::string& content, Settings& settings);

// The text of a settings file's bytes as editors save them: UTF-16 (little
// or big endian, with its byte-order mark) as narrow text, a UTF-8 mark
// dropped; other bytes unchanged.
std::string DecodeSettingsText(const std::string& bytes);

// Fills `settings`: defaults, then the file (created or replaced when missing
// or outdated). Returns the message to show, empty on success; when an
// existing file was replaced, `notice` gets the line that says so.
std::string LoadSettings(Settings& settings, std::string* notice = nullptr);

// "first,last" of a frame range (lower-cased, blanks removed): true with both
// ends set when it parses; otherwise (a number that does not fit 64 bits
// included) false with both ends at the marker.
bool ParseFrameRange(const std::string& value, int64_t& first, int64_t& last);

// An integer text checked against [low, high] (32-bit parsing, as both the
// settings file and the command line read these values).
enum class BoundedValue { NotANumber, OutOfRange, Valid };
BoundedValue ParseBoundedInteger(const std::string& text, int32_t low, int32_t high, int32_t& value);
