// The one process-wide configuration record, its defaults and the settings
// file reader.
#pragma once

#include <cstdint>
#include <string>

// Both range ends hold this while a range is parsed; a value that does not
// parse leaves it in place, and the range check then rejects it.
constexpr int64_t InvalidRangeMarker = 0xFFFFFFFFFFLL;

struct SettingsRecord {
    std::string AVSDLL;
    int32_t DisplayFPS = 1;
    int32_t DisplayTPF = 0;
    int32_t CreateLog = 0;
    int32_t CreateCSV = 0;
    int32_t PauseBeforeExit = 0;
    int64_t FrameFirst = 0;
    int64_t FrameLast = -1;
    std::string FrameRangeText;
    int64_t TimeLimit = -1;
    int32_t InvokeDistributor = 1;
    int32_t AllowOnlyOneInstance = 1;
    int32_t UseColor = 1;
    int32_t MonitorGPULoad = 0;
    uint8_t ProcessPriority = 2;
    int32_t ConUseSTDOUT = 0;
    int32_t LogEstimatedTime = 0;
    int32_t AutoCompleteExtension = 0;
};

extern SettingsRecord Settings;

// The program's version text: the file version cut to five characters
// ("2.1.3" for 2.1.3.0).
std::string ProgramVersionShort();

// The default settings file, CR LF line ends, for the given version text.
std::string DefaultSettingsFileText(const std::string& versionText);

// True when a line of `content` proves the file current for versionText.
bool SettingsFileIsCurrent(const std::string& content, const std::string& versionText);

// Applies the keys of a settings file's content to `settings` (over the
// values it holds).
void ApplySettingsText(const std::string& content, SettingsRecord& settings);

// Fills Settings: defaults, then the file (created or replaced when missing
// or outdated). Returns the message to show, empty on success.
std::string LoadSettings();
