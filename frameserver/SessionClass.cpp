// The frame-server session over the class interface: for a program built
// with the same C++ ABI as the library.
#include "frameserver/Session.h"

#include "frameserver/Avisynth.h"
#include "frameserver/FrameSource.h"
#include "frameserver/SessionFacts.h"
#include "platform/Guard.h"
#include "platform/Time.h"
#include "support/Text.h"

// The values that hold references into the library. They are constructed
// empty before the table exists and made the library's own empty values
// once it does.
struct FrameServerContext::Values {
    AVSValue Script;
    AVSValue MTMode;
    PClip Clip;
    VideoInfo Info{};
};

namespace {

IScriptEnvironment* EnvironmentOf(void* environment) { return static_cast<IScriptEnvironment*>(environment); }

}  // namespace

const char* FrameServerInterfaceName() { return "class"; }

void FrameServerGuardedCall(void (*fn)(void*), void* context) {
    try {
        platform::GuardedCall(fn, context);
    } catch (AvisynthError& error) {
        // The object belongs to the library's runtime: only its text leaves.
        throw FrameServerError{error.msg ? error.msg : ""};
    }
}

FrameServerContext::FrameServerContext() : Held(new Values) {}

FrameServerContext::~FrameServerContext() {
    if (Library) Unload();
}

EnvironmentOutcome FrameServerContext::CreateEnvironment(int interfaceVersion) {
    auto create = reinterpret_cast<CreateScriptEnvironmentFunc>(LibrarySymbol("CreateScriptEnvironment"));
    if (!create) return EnvironmentOutcome::NoFactory;
    IScriptEnvironment* environment = nullptr;
    FrameServerGuarded([&] { environment = create(interfaceVersion); });
    if (!environment) return EnvironmentOutcome::NoEnvironment;
    Environment = environment;
    AVS_linkage = environment->GetAVSLinkage();
    Held->Script = AVSValue();
    Held->MTMode = AVSValue();
    Held->Clip = static_cast<IClip*>(nullptr);
    return EnvironmentOutcome::Ready;
}

bool FrameServerContext::AcceptsVersion(int version) {
    try {
        FrameServerGuarded([&] { EnvironmentOf(Environment)->CheckVersion(version); });
        return true;
    } catch (FrameServerError&) {
        return false;
    }
}

bool FrameServerContext::FunctionExists(const char* name) {
    bool exists = false;
    FrameServerGuarded([&] { exists = EnvironmentOf(Environment)->FunctionExists(name); });
    return exists;
}

BuiltIn FrameServerContext::HasBuiltIn(const char* name) {
    BuiltIn answer = BuiltIn::Unknown;
    FrameServerGuarded([&] {
        try {
            const AVSValue result = EnvironmentOf(Environment)->Invoke("InternalFunctionExists", AVSValue(name));
            if (result.IsBool()) answer = result.AsBool() ? BuiltIn::Yes : BuiltIn::No;
        } catch (IScriptEnvironment::NotFound&) {
        }
    });
    return answer;
}

bool FrameServerContext::CallTextFunction(const char* name, std::string& text) {
    bool found = false;
    FrameServerGuarded([&] {
        try {
            AVSValue result = EnvironmentOf(Environment)->Invoke(name, AVSValue(nullptr, 0));
            const char* value = result.AsString();
            if (value) {
                text = value;
                found = true;
            }
        } catch (IScriptEnvironment::NotFound&) {
        }
    });
    return found;
}

void FrameServerContext::Evaluate(const std::string& scriptPath, const ScriptChecks& checks, bool invokeDistributor) {
    IScriptEnvironment* environment = EnvironmentOf(Environment);
    Values& held = *Held;
    FrameServerGuarded([&] { held.Script = environment->Invoke("Import", AVSValue(scriptPath.c_str())); });
    Conclude(scriptPath, checks, invokeDistributor);
}

void FrameServerContext::EvaluateText(const std::string& scriptPath, const std::string& text,
                                      const ScriptChecks& checks, bool invokeDistributor) {
    IScriptEnvironment* environment = EnvironmentOf(Environment);
    Values& held = *Held;
    const std::vector<ImportGlobal> globals = ImportGlobalsOf(scriptPath);
    {
        // Outside the guarded call, so that a fault in it still sets the
        // folder back.
        const WorkingFolderScope folder(ImportFolderOf(scriptPath));
        FrameServerGuarded([&] {
            for (const ImportGlobal& global : globals)
                environment->SetGlobalVar(global.Name, AVSValue(environment->SaveString(global.Value.c_str())));
            const AVSValue arguments[] = {AVSValue(text.c_str()), AVSValue(scriptPath.c_str())};
            held.Script = environment->Invoke("Eval", AVSValue(arguments, 2));
        });
    }
    FrameServerGuarded([&] {
        for (const ImportGlobal& global : globals)
            if (global.SetBack) environment->SetGlobalVar(global.Name, AVSValue());
    });
    Conclude(scriptPath, checks, invokeDistributor);
}

void FrameServerContext::Conclude(const std::string& scriptPath, const ScriptChecks& checks, bool invokeDistributor) {
    IScriptEnvironment* environment = EnvironmentOf(Environment);
    Values& held = *Held;
    if (!held.Script.IsClip()) RaiseError(checks.NotAClip, scriptPath);

    // A frame server without the multi-threading functions is not an error.
    Clip = ClipFacts();
    Clip.MTModeQueried = HasBuiltIn("GetMTMode") != BuiltIn::No;
    if (Clip.MTModeQueried) {
        try {
            FrameServerGuarded([&] { held.MTMode = environment->Invoke("GetMTMode", AVSValue(false)); });
            Clip.ActiveMTMode = held.MTMode.IsInt() ? held.MTMode.AsInt() : 0;
            if (static_cast<uint32_t>(Clip.ActiveMTMode) - 1u <= 3u && invokeDistributor) {
                FrameServerGuarded([&] {
                    AVSValue copy = held.Script;
                    held.Script = environment->Invoke("Distributor", copy);
                });
            }
        } catch (IScriptEnvironment::NotFound&) {
            Clip.MTModeQueried = false;
        }
    }

    held.Clip = held.Script.AsClip();
    FrameServerGuarded([&] { held.Info = held.Clip->GetVideoInfo(); });
    ReadClip(held.Info, scriptPath, checks);
}

void FrameServerContext::SetGlobal(const std::string& name, const ScanValue& value) {
    IScriptEnvironment* environment = EnvironmentOf(Environment);
    FrameServerGuarded([&] {
        // The variable table keeps the pointers it is given: both texts go
        // into the environment's own store first.
        const char* savedName = environment->SaveString(name.c_str(), static_cast<int>(name.size()));
        AVSValue typed;
        switch (value.Type) {
        case ScanType::Integer: typed = AVSValue(static_cast<int>(value.Integer)); break;
        // The library makes the float it reads as its own literals.
        case ScanType::Float: typed = AVSValue(value.Float); break;
        case ScanType::Bool: typed = AVSValue(value.Bool); break;
        case ScanType::String:
            typed = AVSValue(environment->SaveString(value.String.c_str(), static_cast<int>(value.String.size())));
            break;
        }
        environment->SetGlobalVar(savedName, typed);
    });
}

// A library without "PixelType", or whose "PixelType" takes no clip, throws
// NotFound: no name.
std::string FrameServerContext::AskPixelType() {
    std::string name;
    IScriptEnvironment* environment = EnvironmentOf(Environment);
    FrameServerGuarded([&] {
        try {
            const AVSValue result = environment->Invoke("PixelType", Held->Script);
            const char* text = result.IsString() ? result.AsString() : nullptr;
            if (text) name = text;
        } catch (IScriptEnvironment::NotFound&) {
        }
    });
    return name;
}

const ClipFacts& FrameServerContext::Facts() const { return Clip; }

void FrameServerContext::RaiseError(const char* format, const std::string& argument) {
    FrameServerGuarded([&] { EnvironmentOf(Environment)->ThrowError(format, argument.c_str()); });
    // ThrowError does not return; a library whose version does is still
    // stopped here.
    throw FrameServerError{FormatText(format, argument.c_str())};
}

FrameSource FrameServerContext::Frames() const {
    return FrameSource(Held->Clip.get(), EnvironmentOf(Environment));
}

void FrameServerContext::ReleaseScript() {
    // Without the table every value operation does nothing: a stranded
    // session abandons its values.
    if (FrameServerStranded()) ForgetLibrary();
    Held->Clip = static_cast<IClip*>(nullptr);
    Held->Script = AVSValue(0);
    Held->MTMode = AVSValue(0);
    if (SettlesThreads()) platform::SleepMs(100);
    if (Environment && !FrameServerStranded())
        FrameServerGuarded([&] { EnvironmentOf(Environment)->DeleteScriptEnvironment(); });
    Environment = nullptr;
}

bool FrameServerContext::Close() {
    // The values go while the table still belongs to the loaded library.
    if (FrameServerStranded()) ForgetLibrary();
    Held->Clip = static_cast<IClip*>(nullptr);
    Held->MTMode = AVSValue();
    Held->Script = AVSValue();
    return Unload(true);
}

bool FrameServerContext::UnloadAfter(RunEnding::Kind, bool settle) {
    // The values are abandoned: a fault may have left them half made.
    return Unload(settle);
}

void FrameServerContext::ForgetLibrary() { AVS_linkage = nullptr; }
