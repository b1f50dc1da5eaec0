// The part of the frame-server session that does not depend on the
// interface: the library, the names, the lengths.
// SessionClass.cpp and SessionC.cpp hold the rest, one of them per build.
#include "frameserver/Session.h"

#include <exception>

#include "platform/Files.h"
#include "platform/Guard.h"
#include "platform/Library.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "support/SEException.h"

const char* const kWorkerFaultLine = "The fault happened on a worker thread of the frame server.";
const char* const kCannotLoadLibrary = "Cannot load avisynth.dll";

// A worker thread of the frame server faulted and is parked: deleting the
// environment or unloading the library would wait for it.
bool FrameServerStranded() { return platform::WorkerFaultCode() != 0; }

RunEnding FaultResult(uint32_t code) {
    RunEnding result;
    result.How = RunEnding::Kind::Fault;
    result.FaultCode = code;
    result.Message = ExceptionCodeText(code);
    result.OnWorkerThread = FrameServerStranded();
    if (result.OnWorkerThread) result.Message += std::string("\n") + kWorkerFaultLine;
    return result;
}

std::string UnloadFailureText() { return WithSystemErrorText("Cannot unload avisynth.dll"); }

std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& error) {
        const char* text = error.what();
        if (!text) return std::string();
        size_t length = 0;
        while (length < 1024 && text[length] != '\0') ++length;
        return std::string(text, length);
    } catch (...) {
        return std::string();
    }
}

std::string FrameServerLibraryName(const std::string& configuredPath) {
    return configuredPath.empty() ? std::string(platform::DefaultFrameServerLibrary()) : configuredPath;
}

int64_t ClipLengthMsFor(unsigned numerator, unsigned denominator, int frames) {
    // A rate with a zero part has no meaningful length (and must not divide
    // by zero).
    if (numerator == 0 || denominator == 0) return 0;
    double length = static_cast<double>(denominator) * static_cast<double>(static_cast<uint32_t>(frames)) * 1000.0 /
                        static_cast<double>(numerator) + 0.5;
    return static_cast<int64_t>(length);
}

bool FrameServerContext::Load(const std::string& libraryPath) {
    Library = platform::LoadDynamicLibrary(FrameServerLibraryName(libraryPath));
    return Library != nullptr;
}

void* FrameServerContext::LibrarySymbol(const char* name) const {
    return Library ? platform::DynamicSymbol(Library, name) : nullptr;
}

bool FrameServerContext::Unload(bool settle) {
    ForgetLibrary();
    const bool freed = Library && !FrameServerStranded() ? platform::FreeDynamicLibrary(Library) : true;
    Library = nullptr;
    Environment = nullptr;
    if (settle && SettlesThreads()) platform::SleepMs(50);
    return freed;
}

bool FrameServerContext::SettlesThreads() const { return static_cast<uint32_t>(Clip.ActiveMTMode) - 1u <= 3u; }

std::string ImportFolderOf(const std::string& scriptPath) {
    const size_t last = scriptPath.find_last_of(platform::PathSeparators());
    return last == std::string::npos ? std::string() : scriptPath.substr(0, last + 1);
}

std::vector<ImportGlobal> ImportGlobalsOf(const std::string& scriptPath) {
    const std::string folder = ImportFolderOf(scriptPath);
    const std::string file = scriptPath.substr(folder.size());
    const std::string ansi[] = {scriptPath, file, folder};
    const std::string utf8[] = {platform::NarrowToUtf8(scriptPath), platform::NarrowToUtf8(file),
                                platform::NarrowToUtf8(folder)};
    static const char* const names[][3] = {
        {"$ScriptName$", "$ScriptFile$", "$ScriptDir$"},
        {"$ScriptNameUtf8$", "$ScriptFileUtf8$", "$ScriptDirUtf8$"},
        {"$MainScriptName$", "$MainScriptFile$", "$MainScriptDir$"},
        {"$MainScriptNameUtf8$", "$MainScriptFileUtf8$", "$MainScriptDirUtf8$"},
    };
    std::vector<ImportGlobal> globals;
    for (size_t set = 0; set < 4; ++set)
        for (size_t part = 0; part < 3; ++part)
            globals.push_back(ImportGlobal{names[set][part], set % 2 == 0 ? ansi[part] : utf8[part], set < 2});
    return globals;
}

WorkingFolderScope::WorkingFolderScope(const std::string& folder) : previous(platform::WorkingFolder()) {
    // A folder that cannot be entered leaves the working folder as it is,
    // as the frame server's Import does.
    changed = !previous.empty() && !folder.empty() && platform::SetWorkingFolder(folder);
}

WorkingFolderScope::~WorkingFolderScope() {
    if (changed) platform::SetWorkingFolder(previous);
}
