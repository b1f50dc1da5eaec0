#include "tests/e2e/Harness.h"

#include <cstdlib>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "app/Settings.h"

std::string Blanks(size_t count) { return std::string(count, ' '); }

std::string Padded(const std::string& text) { return text.size() < 79 ? text + Blanks(79 - text.size()) : text; }

std::string Status(const std::string& text) { return "\r" + Padded(text) + "\r"; }

std::string StatusShownAndCleared(const std::string& text) { return Status(text) + Status(""); }

std::string BannerWithVersion(const std::string& versionString) {
    return "\nTachoro 2.1.3 (x64)\n" + StatusShownAndCleared("Query Avisynth info...") + "\r" + versionString +
           " (0.0.0.0)\n";
}

std::string JsonValue(const std::string& json, const std::string& key, size_t from) {
    const std::string name = "\"" + key + "\":";
    const size_t at = json.find(name, from);
    if (at == std::string::npos) return std::string();
    size_t start = json.find_first_not_of(' ', at + name.size());
    if (start == std::string::npos) return std::string();
    size_t end = start;
    if (json[start] == '"') {
        // Up to the closing quote, stepping over escaped characters.
        for (end = start + 1; end < json.size() && json[end] != '"'; ++end)
            if (json[end] == '\\') ++end;
        return json.substr(start, end + 1 - start);
    }
    end = json.find_first_of(",}]\r\n", start);
    return json.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::vector<std::map<std::string, long long>> ReadCounterLines(const std::string& path) {
    std::vector<std::map<std::string, long long>> loads;
    std::istringstream lines(ReadBytes(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, long long> counters;
        std::istringstream fields(line);
        std::string field;
        while (fields >> field) {
            size_t equals = field.find('=');
            if (equals != std::string::npos) counters[field.substr(0, equals)] = std::stoll(field.substr(equals + 1));
        }
        loads.push_back(counters);
    }
    return loads;
}

namespace {

const char* OtherProgram() {
    const char* chosen = std::getenv("TACHORO_UNDER_TEST");
    return chosen && *chosen ? chosen : nullptr;
}

}  // namespace

std::string InterfaceUnderTest() { return OtherProgram() ? TACHORO_OTHER_INTERFACE_NAME : TACHORO_INTERFACE_NAME; }

TachoroRun::TachoroRun() {
    const std::string program = OtherProgram() ? OtherProgram() : TACHORO_EXECUTABLE;
#if defined(_WIN32)
    // Windows keeps the settings file beside the executable: every test gets
    // a copy of the program of its own.
    Executable = Directory.Path("Tachoro.exe");
    CopyFileBytes(NativePath(program), Executable);
#else
    Executable = program;
#endif
}

std::string TachoroRun::SettingsPath() const {
#if defined(_WIN32)
    return Directory.Path("Tachoro.ini");
#else
    return Directory.Path("config/tachoro/Tachoro.ini");
#endif
}

std::string TachoroRun::SettingsText() const { return ReadBytes(SettingsPath()); }

void TachoroRun::WriteSettings(const std::vector<std::string>& extraLines, bool withFrameServer) {
    // The defaults, with each given "Key=value" replacing the default line of
    // its key (flags can only be moved away from their default by a later
    // line, so appending would not do).
    std::vector<std::string> lines;
    std::istringstream defaults(DefaultSettingsFileText("2.1.3"));
    for (std::string line; std::getline(defaults, line);) lines.push_back(line.substr(0, line.size() - 1));
    std::vector<std::string> changes = {"AllowOnlyOneInstance=0"};
    if (withFrameServer) changes.push_back("AVSDLL=" + NativePath(TESTFS_LIBRARY));
    changes.insert(changes.end(), extraLines.begin(), extraLines.end());
    for (const std::string& change : changes) {
        const std::string key = change.substr(0, change.find('=') + 1);
        bool replaced = false;
        for (std::string& line : lines)
            if (!key.empty() && key != "=" && line.compare(0, key.size(), key) == 0) {
                line = change;
                replaced = true;
            }
        if (!replaced) lines.push_back(change);
    }
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
#if !defined(_WIN32)
    std::filesystem::create_directories(Directory.Path("config/tachoro"));
#endif
    ASSERT_TRUE(WriteBytes(SettingsPath(), text));
}

std::string TachoroRun::WriteScript(const std::string& name, const std::string& directives) {
    const std::string path = Directory.Path(name);
    WriteBytes(path, directives);
    return path;
}

std::vector<std::string> TachoroRun::FileNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Directory.Path("")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ProcessResult TachoroRun::Run(const std::vector<std::string>& arguments,
                              const std::vector<std::pair<std::string, std::string>>& environment,
                              const std::string& input, unsigned timeoutMs) {
    ProcessRun run;
    run.Arguments = arguments;
    run.Environment = environment;
    run.Input = input;
    run.TimeoutMs = timeoutMs;
    return RunWith(run);
}

ProcessResult TachoroRun::RunWith(ProcessRun run) {
    run.Executable = Executable;
    run.WorkingDirectory = Directory.Path("");
    run.FileSizeLimit = FileSizeLimit;
    const std::vector<std::pair<std::string, std::string>> environment = run.Environment;
    run.Environment = {
        {"XDG_CONFIG_HOME", Directory.Path("config")},
        {"XDG_RUNTIME_DIR", Directory.Path("")},
        {"TESTFS_COUNTERS_FILE", CountersFile()},
        // A run ended by a frame-server error leaves the library's
        // environment undeleted by design, and a fault abandons the frames it
        // crossed: the library's memory would be reported as leaked at exit.
        // Leak checking is done by the in-process unit tests instead.
        {"ASAN_OPTIONS", "detect_leaks=0"},
    };
    for (const auto& variable : environment) run.Environment.push_back(variable);
    ProcessResult result = RunProcess(run);
#if defined(_WIN32)
    // The console streams are in text mode on Windows: each "\n" the program
    // printed arrives as "\r\n". Undo exactly that, so that the expected
    // texts are the same on both systems.
    for (std::string* stream : {&result.Out, &result.Err}) {
        std::string plain;
        for (size_t index = 0; index < stream->size(); ++index)
            if (!((*stream)[index] == '\r' && index + 1 < stream->size() && (*stream)[index + 1] == '\n'))
                plain += (*stream)[index];
        *stream = plain;
    }
#endif
    return result;
}
