#include "frameserver/Session.h"

#include <exception>

#include "frameserver/Avisynth.h"
#include "frameserver/FrameSource.h"
#include "platform/Platform.h"
#include "support/SEException.h"
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

ColourSpace ColourSpaceOf(const VideoInfo& info) {
    if (info.IsYV411()) return ColourSpace::YV411;
    if (info.IsYV24()) return ColourSpace::YV24;
    if (info.IsYV16()) return ColourSpace::YV16;
    if (info.IsY8()) return ColourSpace::Y8;
    if (info.IsYV12()) return ColourSpace::YV12;
    if (info.IsYUY2()) return ColourSpace::YUY2;
    if (info.IsRGB24()) return ColourSpace::RGB24;
    if (info.IsRGB32()) return ColourSpace::RGB32;
    return info.HasVideo() ? ColourSpace::Unknown : ColourSpace::NoVideo;
}

}  // namespace

const char* const kWorkerFaultLine = "The fault happened on a worker thread of the frame server.";

bool FrameServerStranded() { return platform::WorkerFaultCode() != 0; }

void FrameServerGuardedCall(void (*fn)(void*), void* context) {
    try {
        platform::GuardedCall(fn, context);
    } catch (AvisynthError& error) {
        // The object belongs to the library's runtime: only its text leaves.
        throw FrameServerError{error.msg ? error.msg : ""};
    }
}

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

FrameServerContext::FrameServerContext() : Held(new Values) {}

FrameServerContext::~FrameServerContext() {
    if (Library) Unload();
}

bool FrameServerContext::Load(const std::string& libraryPath) {
    Library = platform::LoadDynamicLibrary(FrameServerLibraryName(libraryPath));
    return Library != nullptr;
}

void* FrameServerContext::LibrarySymbol(const char* name) const {
    return Library ? platform::DynamicSymbol(Library, name) : nullptr;
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
    if (!held.Script.IsClip()) RaiseError(checks.NotAClip, scriptPath);

    // A frame server without the multi-threading functions is not an error.
    Clip = ClipFacts();
    Clip.MTModeQueried = true;
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

    held.Clip = held.Script.AsClip();
    FrameServerGuarded([&] { held.Info = held.Clip->GetVideoInfo(); });
    const VideoInfo& info = held.Info;
    Clip.HasVideo = info.HasVideo();
    if (checks.NoVideo && !Clip.HasVideo) RaiseError(checks.NoVideo, scriptPath);
    // Requesting frame 0 of an empty clip would fail inside the frame
    // server, or spin for the whole calibration time.
    if (checks.NoFrames && info.num_frames <= 0) RaiseError(checks.NoFrames, scriptPath);

    Clip.AudioOnly = !Clip.HasVideo && info.HasAudio();
    Clip.FrameCount = info.num_frames;
    if (!Clip.AudioOnly) {
        Clip.FramesToRead = static_cast<uint32_t>(info.num_frames);
        Clip.LengthMs = ClipLengthMsFor(info.fps_numerator, info.fps_denominator, info.num_frames);
    }
    Clip.Width = info.width;
    Clip.Height = info.height;
    Clip.FpsNumerator = info.fps_numerator;
    Clip.FpsDenominator = info.fps_denominator;
    const bool fieldBased = info.IsFieldBased();
    Clip.TopFieldFirst = fieldBased && info.IsTFF();
    Clip.BottomFieldFirst = fieldBased && !Clip.TopFieldFirst && info.IsBFF();
    Clip.Colour = ColourSpaceOf(info);
    Clip.AudioChannels = info.AudioChannels();
    Clip.SampleType = info.SampleType();
    Clip.SamplesPerSecond = info.SamplesPerSecond();
    Clip.AudioSamples = info.num_audio_samples;
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
    // Without the table every value operation does nothing: they are
    // abandoned.
    if (FrameServerStranded()) AVS_linkage = nullptr;
    Held->Clip = static_cast<IClip*>(nullptr);
    Held->Script = AVSValue(0);
    Held->MTMode = AVSValue(0);
    platform::SleepMs(100);
    if (Environment && !FrameServerStranded())
        FrameServerGuarded([&] { EnvironmentOf(Environment)->DeleteScriptEnvironment(); });
    Environment = nullptr;
}

bool FrameServerContext::Close() {
    // The values go while the table still belongs to the loaded library.
    if (FrameServerStranded()) AVS_linkage = nullptr;
    Held->Clip = static_cast<IClip*>(nullptr);
    Held->MTMode = AVSValue();
    Held->Script = AVSValue();
    return Unload();
}

bool FrameServerContext::Unload(bool settle) {
    AVS_linkage = nullptr;
    const bool freed = Library && !FrameServerStranded() ? platform::FreeDynamicLibrary(Library) : true;
    Library = nullptr;
    Environment = nullptr;
    if (settle) platform::SleepMs(50);
    return freed;
}
