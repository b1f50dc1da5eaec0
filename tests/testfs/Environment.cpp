// The script environment of the test frame server and its factory.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/testfs/TestFS.h"

namespace testfs {

namespace {

std::string LowerName(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

const char* const kOptionalFunctions[] = {"VersionString", "GetMTMode", "Distributor",
                                         "SetMTMode",     "Prefetch",  "PixelType"};

// What the environment variables ask for, read when an environment is made.
struct Configuration {
    int maxInterface = 7;
    std::vector<std::string> functions{"VersionString", "Prefetch", "PixelType"};
    std::string versionString = "TestFS 1.0 test frame server";
    bool mtModeIsString = false;
    int mtMode = 0;
    bool hasLinkageSize = false;
    int linkageSize = 0;
};

bool ParseInt(const char* text, int& value) {
    int64_t number = 0;
    if (!ParseInteger(text, INT32_MIN, INT32_MAX, number)) return false;
    value = static_cast<int>(number);
    return true;
}

// False with `error` when a variable holds something unusable.
bool ReadConfiguration(Configuration& config, std::string& error) {
    if (const char* text = std::getenv("TESTFS_MAX_INTERFACE")) {
        if (!ParseInt(text, config.maxInterface)) {
            error = "TESTFS_MAX_INTERFACE is not a number";
            return false;
        }
    }
    if (const char* text = std::getenv("TESTFS_FUNCTIONS")) {
        config.functions.clear();
        std::stringstream list(text);
        std::string name;
        while (std::getline(list, name, ',')) {
            name.erase(0, name.find_first_not_of(' '));
            name.erase(name.find_last_not_of(' ') + 1);
            if (name.empty()) continue;
            bool known = false;
            for (const char* optional : kOptionalFunctions) known = known || SameName(name, optional);
            if (!known) {
                error = "TESTFS_FUNCTIONS names an unknown function: " + name;
                return false;
            }
            config.functions.push_back(name);
        }
    }
    if (const char* text = std::getenv("TESTFS_VERSION_STRING")) config.versionString = text;
    if (const char* text = std::getenv("TESTFS_MTMODE")) {
        config.mtModeIsString = std::string(text) == "string";
        if (!config.mtModeIsString && !ParseInt(text, config.mtMode)) {
            error = "TESTFS_MTMODE is neither a number nor \"string\"";
            return false;
        }
    }
    if (const char* text = std::getenv("TESTFS_LINKAGE_SIZE")) {
        config.hasLinkageSize = true;
        if (!ParseInt(text, config.linkageSize)) {
            error = "TESTFS_LINKAGE_SIZE is not a number";
            return false;
        }
    }
    return true;
}

class Environment : public IScriptEnvironment {
public:
    explicit Environment(const Configuration& config) : config_(config) { ++Counters().environments_created; }

    int GetCPUFlags() override { return 0; }

    char* SaveString(const char* s, int length) override {
        if (s == nullptr) return nullptr;
        strings_.emplace_back(length < 0 ? std::string(s) : std::string(s, static_cast<size_t>(length)));
        return &strings_.back()[0];
    }

    char* Sprintf(const char* fmt, ...) override {
        va_list args;
        va_start(args, fmt);
        char* text = VSprintf(fmt, args);
        va_end(args);
        return text;
    }

    char* VSprintf(const char* fmt, va_list args) override {
        va_list measure;
        va_copy(measure, args);
        const int length = std::vsnprintf(nullptr, 0, fmt, measure);
        va_end(measure);
        if (length < 0) return SaveString("", -1);
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), fmt, args);
        return SaveString(text.c_str(), length);
    }

    void ThrowError(const char* fmt, ...) override {
        va_list args;
        va_start(args, fmt);
        const char* message = VSprintf(fmt, args);
        va_end(args);
        throw AvisynthError(message);
    }

    void AddFunction(const char* name, const char*, ApplyFunc, void*) override {
        ThrowError("testfs: AddFunction(\"%s\") is not supported", name ? name : "");
    }

    bool FunctionExists(const char* name) override { return name && (SameName(name, "Import") || Offers(name)); }

    AVSValue Invoke(const char* name, const AVSValue args, const char* const*) override {
        TestFSCounters& counters = Counters();
        ++counters.invoke_calls;
        const std::string function = name ? name : "";
        if (SameName(function, "GetMTMode")) ++counters.getmtmode_calls;
        if (SameName(function, "Distributor")) ++counters.distributor_calls;

        // A single value is the only argument; an array holds the arguments.
        std::vector<const AVSValue*> arguments;
        if (args.IsArray()) {
            for (int i = 0; i < args.ArraySize(); ++i) arguments.push_back(&args[i]);
        } else if (args.Defined()) {
            arguments.push_back(&args);
        }

        if (SameName(function, "Import")) {
            ++counters.imports;
            if (arguments.size() != 1 || !arguments[0]->IsString()) throw NotFound();
            return Import(arguments[0]->AsString());
        }
        if (SameName(function, "Eval")) {
            ++counters.imports;
            if (arguments.size() != 2 || !arguments[0]->IsString() || !arguments[1]->IsString()) throw NotFound();
            return Evaluate(arguments[0]->AsString(), arguments[1]->AsString());
        }
        if (!Offers(function)) throw NotFound();
        if (SameName(function, "VersionString")) {
            if (!arguments.empty()) throw NotFound();
            return AVSValue(SaveString(config_.versionString.c_str(), -1));
        }
        if (SameName(function, "GetMTMode")) {
            if (arguments.size() > 1 || (arguments.size() == 1 && !arguments[0]->IsBool())) throw NotFound();
            if (config_.mtModeIsString) return AVSValue(SaveString("mode", -1));
            return AVSValue(config_.mtMode);
        }
        if (SameName(function, "Distributor")) {
            if (arguments.size() != 1 || !arguments[0]->IsClip()) throw NotFound();
            return AVSValue(NewDistributorClip(arguments[0]->AsClip()));
        }
        if (SameName(function, "PixelType")) {
            if (arguments.size() != 1 || !arguments[0]->IsClip()) throw NotFound();
            const PixelFormat* format = PixelFormatOf(arguments[0]->AsClip()->GetVideoInfo().pixel_type);
            return AVSValue(SaveString(format ? format->name : "", -1));
        }
        if (SameName(function, "Prefetch")) {
            if (arguments.empty() || !arguments[0]->IsClip()) throw NotFound();
            return *arguments[0];
        }
        return AVSValue();  // SetMTMode
    }

    // Global variables set from outside: the script-name globals a client
    // sets as Import would, and those the `frame_delay_from` directive reads.
    AVSValue GetVar(const char* name) override {
        const auto found = globals_.find(LowerName(name ? name : ""));
        if (found == globals_.end() || !found->second.Defined()) throw NotFound();
        return found->second;
    }
    bool SetVar(const char* name, const AVSValue&) override {
        ThrowError("testfs: SetVar(\"%s\") is not supported", name ? name : "");
        return false;
    }
    bool SetGlobalVar(const char* name, const AVSValue& value) override {
        if (!name) ThrowError("testfs: SetGlobalVar without a name");
        globals_[LowerName(name)] = value;
        return true;
    }
    AVSValue GetVarDef(const char* name, const AVSValue& def) override {
        const auto found = globals_.find(LowerName(name ? name : ""));
        return found == globals_.end() || !found->second.Defined() ? def : found->second;
    }
    void PushContext(int) override {}
    void PopContext() override {}

    PVideoFrame NewVideoFrame(const VideoInfo& vi, int) override {
        return PVideoFrame(AsVideoFrame(new Frame(vi)));
    }
    bool MakeWritable(PVideoFrame*) override { return false; }

    void BitBlt(BYTE* dst, int dstPitch, const BYTE* src, int srcPitch, int rowSize, int height) override {
        for (int y = 0; y < height; ++y) {
            std::copy(src, src + rowSize, dst);
            dst += dstPitch;
            src += srcPitch;
        }
    }

    void AtExit(ShutdownFunc function, void* userData) override { atExit_.emplace_back(function, userData); }

    void CheckVersion(int version) override {
        if (version > config_.maxInterface) {
            ThrowError("testfs: interface version %d requested, %d supported", version, config_.maxInterface);
        }
    }

    PVideoFrame Subframe(PVideoFrame, int, int, int, int) override {
        ThrowError("testfs: Subframe is not supported");
        return PVideoFrame();
    }
    int SetMemoryMax(int) override { return 0; }
    int SetWorkingDir(const char*) override { return 0; }
    void* ManageCache(int, void*) override { return nullptr; }
    bool PlanarChromaAlignment(int) override { return true; }
    PVideoFrame SubframePlanar(PVideoFrame, int, int, int, int, int, int, int) override {
        ThrowError("testfs: SubframePlanar is not supported");
        return PVideoFrame();
    }

    void DeleteScriptEnvironment() override {
        TestFSCounters& counters = Counters();
        counters.frames_alive_at_delete = counters.frames_alive;
        counters.clips_alive_at_delete = counters.clips_alive;
        for (auto it = atExit_.rbegin(); it != atExit_.rend(); ++it) it->first(it->second, this);
        delete this;
        ++counters.environments_deleted;
    }

    void ApplyMessage(PVideoFrame*, const VideoInfo&, const char*, int, int, int, int) override {}
    const AVS_Linkage* GetAVSLinkage() override { return &Table(); }

private:
    bool Offers(const std::string& name) const {
        for (const std::string& offered : config_.functions) {
            if (SameName(offered, name)) return true;
        }
        return false;
    }

    AVSValue Import(const char* path) {
        std::ifstream file(path, std::ios::binary);
        if (!file) ThrowError("Import: couldn't open \"%s\"", path);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        return Evaluate(text, path);
    }

    // A script's text as Import evaluates a file's; a line of one name alone
    // (as the script of a profile's stage ends) stands for the clip.
    AVSValue Evaluate(const std::string& text, const char* path) {
        ScriptSpec spec;
        std::string error;
        if (!ParseScript(text, spec, error)) ThrowError("testfs: %s, %s", path, error.c_str());
        SpendMicroseconds(spec.importDelayUs);
        if (spec.importFault != Fault::None) RaiseFault(spec.importFault, this, "");
        if (spec.hasImportError) ThrowError("%s", spec.importError.c_str());
        if (!spec.delayGlobal.empty()) {
            const auto global = globals_.find(LowerName(spec.delayGlobal));
            if (global == globals_.end() || !global->second.IsInt())
                ThrowError("testfs: the global \"%s\" is not an int", spec.delayGlobal.c_str());
            spec.clip.frameDelayUs = global->second.AsInt();
        }
        switch (spec.result) {
            case ResultKind::Int: return AVSValue(42);
            case ResultKind::String: return AVSValue("text");
            case ResultKind::Float: return AVSValue(1.5);
            case ResultKind::Clip: break;
        }
        return AVSValue(NewScriptClip(spec.clip));
    }

    const Configuration config_;
    std::list<std::string> strings_;  // a list: saved strings never move
    std::map<std::string, AVSValue> globals_;  // by lower-case name, as the frame server compares them
    std::vector<std::pair<ShutdownFunc, void*>> atExit_;
};

}  // namespace

}  // namespace testfs

extern "C" TESTFS_EXPORT IScriptEnvironment* CreateScriptEnvironment(int version) {
    testfs::Configuration config;
    std::string error;
    if (!testfs::ReadConfiguration(config, error)) {
        std::fprintf(stderr, "testfs: %s\n", error.c_str());
        return nullptr;
    }
    if (version > config.maxInterface) return nullptr;
    if (config.hasLinkageSize) {
        if (!testfs::SetReportedTableSize(config.linkageSize)) {
            std::fprintf(stderr, "testfs: TESTFS_LINKAGE_SIZE is larger than the table storage\n");
            return nullptr;
        }
    } else {
        testfs::ResetReportedTableSize();
    }
    return new testfs::Environment(config);
}
