// The frame-server session over the C interface: works with a library from
// any compiler of the platform. What the run prints, logs and writes is the
// same as over the class interface: a failure the C interface returns as a
// value or an error text becomes the FrameServerError the class interface's
// AvisynthError would have been, and its "no such function" the same
// outcome as the class interface's NotFound.
#include "frameserver/Session.h"

#include <cstring>

#include "frameserver/AvisynthC.h"
#include "frameserver/FrameSource.h"
#include "frameserver/SessionFacts.h"
#include "platform/Guard.h"
#include "platform/Time.h"
#include "support/Text.h"

namespace {

// The text of a call of a function that does not exist, or that takes
// other arguments.
const char kFunctionNotFound[] = "Function Not Found";

// What the class interface's NotFound is: no handler of ours names it, so a
// path that does not expect it ends as an unknown exception there too.
struct FunctionNotFound {};

struct CFunctions {
    avs_create_script_environment_func CreateEnvironment = nullptr;
    avs_delete_script_environment_func DeleteEnvironment = nullptr;
    avs_get_error_func GetError = nullptr;
    avs_check_version_func CheckVersion = nullptr;
    avs_function_exists_func FunctionExists = nullptr;
    avs_invoke_func Invoke = nullptr;
    avs_release_value_func ReleaseValue = nullptr;
    avs_take_clip_func TakeClip = nullptr;
    avs_release_clip_func ReleaseClip = nullptr;
    avs_get_video_info_func GetVideoInfo = nullptr;
    avs_get_frame_func GetFrame = nullptr;
    avs_release_video_frame_func ReleaseFrame = nullptr;
    avs_clip_get_error_func ClipError = nullptr;
    // Only a text evaluated as Import evaluates a file, and a parameter scan,
    // need these.
    avs_save_string_func SaveString = nullptr;
    avs_set_global_var_func SetGlobalVar = nullptr;
};

AVS_Value VoidValue() {
    AVS_Value value;
    std::memset(&value, 0, sizeof value);
    value.type = 'v';
    return value;
}

AVS_Value StringValue(const char* text) {
    AVS_Value value = VoidValue();
    value.type = 's';
    value.d.string = text;
    return value;
}

AVS_Value BoolValue(bool flag) {
    AVS_Value value = VoidValue();
    value.type = 'b';
    value.d.boolean = flag ? 1 : 0;
    return value;
}

AVS_Value NoArguments() {
    AVS_Value value = VoidValue();
    value.type = 'a';
    value.array_size = 0;
    value.d.array = nullptr;
    return value;
}

AVS_ScriptEnvironment* EnvironmentOf(void* environment) { return static_cast<AVS_ScriptEnvironment*>(environment); }

}  // namespace

const char* FrameServerInterfaceName() { return "c"; }

// The resolved functions and the values that hold references into the
// library; a value or clip is held only once the library made it.
struct FrameServerContext::Values {
    CFunctions Calls;
    AVS_Value Script = VoidValue();
    bool HoldsScript = false;
    AVS_Clip* Clip = nullptr;
    CVideoInfo Info;

    // Releases the references through the library.
    void Release() {
        if (Clip) Calls.ReleaseClip(Clip);
        if (HoldsScript) Calls.ReleaseValue(Script);
        Abandon();
    }

    // Forgets the references without calling the library (it is gone, or
    // may not be called any more).
    void Abandon() {
        HoldsScript = false;
        Script = VoidValue();
        Clip = nullptr;
    }
};

namespace {

// The environment's error text after a call that sets it, raised as a
// frame-server error.
void CheckEnvironment(const CFunctions& calls, AVS_ScriptEnvironment* environment) {
    const char* error = calls.GetError(environment);
    if (error) throw FrameServerError{error};
}

// Calls a script function. The library's error value becomes a
// frame-server error with its text (copied at once: the text lives only
// until the next call), or FunctionNotFound.
AVS_Value Invoke(const CFunctions& calls, AVS_ScriptEnvironment* environment, const char* name, AVS_Value args) {
    AVS_Value result = VoidValue();
    FrameServerGuarded([&] { result = calls.Invoke(environment, name, args, nullptr); });
    if (result.type == 'e') {
        // An error value holds nothing of the library's to release.
        const std::string message = result.d.string ? result.d.string : "";
        if (message == kFunctionNotFound) throw FunctionNotFound();
        throw FrameServerError{message};
    }
    if (const char* error = calls.GetError(environment)) {
        const std::string message = error;
        calls.ReleaseValue(result);
        throw FrameServerError{message};
    }
    return result;
}

}  // namespace

void FrameServerGuardedCall(void (*fn)(void*), void* context) {
    // The library returns its errors; only faults and plug-ins' own
    // exceptions arrive here.
    platform::GuardedCall(fn, context);
}

void RaiseClipError(AVS_Clip* clip, avs_clip_get_error_func clipError) {
    const char* error = clipError(clip);
    if (error) throw FrameServerError{error};
}

FrameServerContext::FrameServerContext() : Held(new Values) {}

FrameServerContext::~FrameServerContext() {
    if (Library) Unload();
}

EnvironmentOutcome FrameServerContext::CreateEnvironment(int interfaceVersion) {
    CFunctions calls;
    auto resolve = [this](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(LibrarySymbol(name));
        return function != nullptr;
    };
    const bool complete =
        resolve(calls.CreateEnvironment, "avs_create_script_environment") &&
        resolve(calls.DeleteEnvironment, "avs_delete_script_environment") &&
        resolve(calls.GetError, "avs_get_error") && resolve(calls.CheckVersion, "avs_check_version") &&
        resolve(calls.FunctionExists, "avs_function_exists") && resolve(calls.Invoke, "avs_invoke") &&
        resolve(calls.ReleaseValue, "avs_release_value") && resolve(calls.TakeClip, "avs_take_clip") &&
        resolve(calls.ReleaseClip, "avs_release_clip") && resolve(calls.GetVideoInfo, "avs_get_video_info") &&
        resolve(calls.GetFrame, "avs_get_frame") && resolve(calls.ReleaseFrame, "avs_release_video_frame") &&
        resolve(calls.ClipError, "avs_clip_get_error");
    if (!complete) return EnvironmentOutcome::NoFactory;
    resolve(calls.SaveString, "avs_save_string");
    resolve(calls.SetGlobalVar, "avs_set_global_var");

    // A handle comes back even when the version is refused; it carries the
    // error then, and is deleted all the same.
    AVS_ScriptEnvironment* environment = nullptr;
    bool refused = false;
    FrameServerGuarded([&] {
        environment = calls.CreateEnvironment(interfaceVersion);
        if (environment && calls.GetError(environment)) {
            refused = true;
            calls.DeleteEnvironment(environment);
        }
    });
    if (!environment || refused) return EnvironmentOutcome::NoEnvironment;
    Environment = environment;
    Held->Calls = calls;
    Held->Abandon();
    return EnvironmentOutcome::Ready;
}

bool FrameServerContext::AcceptsVersion(int version) {
    int answer = -1;
    FrameServerGuarded([&] { answer = Held->Calls.CheckVersion(EnvironmentOf(Environment), version); });
    return answer == 0;
}

bool FrameServerContext::FunctionExists(const char* name) {
    bool exists = false;
    FrameServerGuarded([&] { exists = Held->Calls.FunctionExists(EnvironmentOf(Environment), name) != 0; });
    CheckEnvironment(Held->Calls, EnvironmentOf(Environment));
    return exists;
}

BuiltIn FrameServerContext::HasBuiltIn(const char* name) {
    const CFunctions& calls = Held->Calls;
    AVS_Value result = VoidValue();
    try {
        result = Invoke(calls, EnvironmentOf(Environment), "InternalFunctionExists", StringValue(name));
    } catch (FunctionNotFound&) {
        return BuiltIn::Unknown;
    }
    const BuiltIn answer = result.type != 'b' ? BuiltIn::Unknown : result.d.boolean ? BuiltIn::Yes : BuiltIn::No;
    calls.ReleaseValue(result);
    return answer;
}

bool FrameServerContext::CallTextFunction(const char* name, std::string& text) {
    const CFunctions& calls = Held->Calls;
    AVS_Value result = VoidValue();
    try {
        result = Invoke(calls, EnvironmentOf(Environment), name, NoArguments());
    } catch (FunctionNotFound&) {
        return false;
    }
    const bool found = result.type == 's' && result.d.string;
    if (found) text = result.d.string;
    calls.ReleaseValue(result);
    return found;
}

void FrameServerContext::Evaluate(const std::string& scriptPath, const ScriptChecks& checks, bool invokeDistributor) {
    AVS_ScriptEnvironment* environment = EnvironmentOf(Environment);
    Values& held = *Held;
    const CFunctions& calls = held.Calls;
    held.Script = Invoke(calls, environment, "Import", StringValue(scriptPath.c_str()));
    held.HoldsScript = true;
    Conclude(scriptPath, checks, invokeDistributor);
}

void FrameServerContext::EvaluateText(const std::string& scriptPath, const std::string& text,
                                      const ScriptChecks& checks, bool invokeDistributor) {
    AVS_ScriptEnvironment* environment = EnvironmentOf(Environment);
    Values& held = *Held;
    const CFunctions& calls = held.Calls;
    if (!calls.SaveString || !calls.SetGlobalVar)
        throw FrameServerError{"The frame server cannot set the script's name (avs_set_global_var)"};
    const std::vector<ImportGlobal> globals = ImportGlobalsOf(scriptPath);
    auto setGlobals = [&](bool named) {
        for (const ImportGlobal& global : globals) {
            if (!named && !global.SetBack) continue;
            FrameServerGuarded([&] {
                const AVS_Value value = named ? StringValue(calls.SaveString(environment, global.Value.c_str(), -1))
                                              : VoidValue();
                calls.SetGlobalVar(environment, global.Name, value);
            });
            CheckEnvironment(calls, environment);
        }
    };
    {
        const WorkingFolderScope folder(ImportFolderOf(scriptPath));
        setGlobals(true);
        const AVS_Value arguments[] = {StringValue(text.c_str()), StringValue(scriptPath.c_str())};
        AVS_Value list = NoArguments();
        list.array_size = 2;
        list.d.array = arguments;
        held.Script = Invoke(calls, environment, "Eval", list);
        held.HoldsScript = true;
    }
    setGlobals(false);
    Conclude(scriptPath, checks, invokeDistributor);
}

void FrameServerContext::Conclude(const std::string& scriptPath, const ScriptChecks& checks, bool invokeDistributor) {
    AVS_ScriptEnvironment* environment = EnvironmentOf(Environment);
    Values& held = *Held;
    const CFunctions& calls = held.Calls;
    if (held.Script.type != 'c') RaiseError(checks.NotAClip, scriptPath);

    // A frame server without the multi-threading functions is not an error.
    Clip = ClipFacts();
    Clip.MTModeQueried = HasBuiltIn("GetMTMode") != BuiltIn::No;
    if (Clip.MTModeQueried) {
        try {
            const AVS_Value mode = Invoke(calls, environment, "GetMTMode", BoolValue(false));
            Clip.ActiveMTMode = mode.type == 'i' ? mode.d.integer : 0;
            calls.ReleaseValue(mode);
            if (static_cast<uint32_t>(Clip.ActiveMTMode) - 1u <= 3u && invokeDistributor) {
                const AVS_Value wrapped = Invoke(calls, environment, "Distributor", held.Script);
                calls.ReleaseValue(held.Script);
                held.Script = wrapped;
            }
        } catch (FunctionNotFound&) {
            Clip.MTModeQueried = false;
        }
    }

    FrameServerGuarded([&] {
        // The environment's error is left from the calls before: taking the
        // clip does not set it.
        held.Clip = calls.TakeClip(held.Script, environment);
        held.Info = CVideoInfo(*calls.GetVideoInfo(held.Clip));
    });
    ReadClip(held.Info, scriptPath, checks);
}

void FrameServerContext::SetGlobal(const std::string& name, const ScanValue& value) {
    const CFunctions& calls = Held->Calls;
    AVS_ScriptEnvironment* environment = EnvironmentOf(Environment);
    if (!calls.SaveString || !calls.SetGlobalVar)
        throw FrameServerError{"The frame server cannot set a global variable (avs_set_global_var)"};
    FrameServerGuarded([&] {
        AVS_Value typed = VoidValue();
        switch (value.Type) {
        case ScanType::Integer:
            typed.type = 'i';
            typed.d.integer = value.Integer;
            break;
        case ScanType::Float:
            // A library of interface 11 or later reads a 64-bit 'd'; older
            // ones know only the 32-bit 'f'.
            if (calls.CheckVersion(environment, 11) == 0) {
                typed.type = 'd';
                typed.d.double_pt = value.Float;
            } else {
                typed.type = 'f';
                typed.d.floating_pt = static_cast<float>(value.Float);
            }
            break;
        case ScanType::Bool: typed = BoolValue(value.Bool); break;
        // The variable table keeps the pointers it is given: the texts go
        // into the environment's own store first.
        case ScanType::String:
            typed = StringValue(
                calls.SaveString(environment, value.String.c_str(), static_cast<int>(value.String.size())));
            break;
        }
        const char* savedName = calls.SaveString(environment, name.c_str(), static_cast<int>(name.size()));
        calls.SetGlobalVar(environment, savedName, typed);
    });
    CheckEnvironment(calls, environment);
}

// A library without "PixelType", or whose "PixelType" takes no clip, answers
// "Function Not Found": no name.
std::string FrameServerContext::AskPixelType() {
    const CFunctions& calls = Held->Calls;
    AVS_Value result = VoidValue();
    try {
        result = Invoke(calls, EnvironmentOf(Environment), "PixelType", Held->Script);
    } catch (FunctionNotFound&) {
        return std::string();
    }
    std::string name;
    if (result.type == 's' && result.d.string) name = result.d.string;
    calls.ReleaseValue(result);
    return name;
}

const ClipFacts& FrameServerContext::Facts() const { return Clip; }

void FrameServerContext::RaiseError(const char* format, const std::string& argument) {
    throw FrameServerError{FormatText(format, argument.c_str())};
}

FrameSource FrameServerContext::Frames() const {
    const CFunctions& calls = Held->Calls;
    return FrameSource(Held->Clip, calls.GetFrame, calls.ReleaseFrame, calls.ClipError);
}

void FrameServerContext::ReleaseScript() {
    if (FrameServerStranded())
        Held->Abandon();
    else
        Held->Release();
    if (SettlesThreads()) platform::SleepMs(100);
    if (Environment && !FrameServerStranded())
        FrameServerGuarded([&] { Held->Calls.DeleteEnvironment(EnvironmentOf(Environment)); });
    Environment = nullptr;
}

bool FrameServerContext::Close() {
    if (Library && !FrameServerStranded()) Held->Release();
    return Unload(true);
}

bool FrameServerContext::UnloadAfter(RunEnding::Kind end, bool settle) {
    // After a processor fault the frames that were abandoned inside the
    // library may hold its locks and its threads may still run: deleting the
    // environment could hang or fault, unloading could pull the code from
    // under those threads. The library stays loaded until the process ends.
    bool keepLoaded = end == RunEnding::Kind::Fault;
    if (!keepLoaded && Environment) {
        // The failure came back as an error or unwound through the library,
        // which is intact: its environment is deleted (and its threads ended)
        // before the library goes.
        const RunEnding released = RunFrameServerRegion([&] { ReleaseScript(); }, [] { return std::string(); });
        keepLoaded = released.Failed();
    }
    if (keepLoaded) {
        ForgetLibrary();
        Library = nullptr;
        Environment = nullptr;
        return true;
    }
    return Unload(settle);
}

void FrameServerContext::ForgetLibrary() {
    Held->Abandon();
    Held->Calls = CFunctions();
}
