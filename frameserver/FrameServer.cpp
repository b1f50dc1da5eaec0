#include "frameserver/FrameServer.h"

#include "app/Settings.h"
#include "frameserver/AvisynthInfo.h"
#include "measure/Timer.h"
#include "platform/Platform.h"
#include "support/SEException.h"
#include "support/Text.h"

namespace {

// The frame server's multi-threading convention: ask for the active mode and,
// for modes 1 to 4, let "Distributor" wrap the script's result. A frame
// server without these functions is not an error.
void ApplyMTConvention(IScriptEnvironment* environment, AVSValue& scriptValue, AVSValue& modeValue,
                       int32_t& modeQueried, int32_t& activeMode) {
    modeQueried = 1;
    activeMode = 0;
    try {
        Guarded([&] { modeValue = environment->Invoke("GetMTMode", AVSValue(false)); });
        activeMode = modeValue.IsInt() ? modeValue.AsInt() : 0;
        if (static_cast<uint32_t>(activeMode) - 1u <= 3u && Settings.InvokeDistributor) {
            Guarded([&] {
                AVSValue copy = scriptValue;
                scriptValue = environment->Invoke("Distributor", copy);
            });
        }
    } catch (IScriptEnvironment::NotFound&) {
        modeQueried = 0;
    }
}

AVSValue ImportScript(IScriptEnvironment* environment, const std::string& scriptPath) {
    AVSValue result;
    Guarded([&] { result = environment->Invoke("Import", AVSValue(scriptPath.c_str())); });
    return result;
}

}  // namespace

std::string FrameServerLibraryName(const std::string& configuredPath) {
    return configuredPath.empty() ? std::string(platform::DefaultFrameServerLibrary()) : configuredPath;
}

uint32_t SamplingIntervalFor(double elapsedSeconds, uint32_t fetched) {
    if (!(elapsedSeconds > 0.2) || fetched == 0) return 10000;
    const double msPerFrame = elapsedSeconds * 1000.0 / fetched;
    static const struct {
        double threshold;
        uint32_t interval;
    } kRows[] = {{10, 1},    {1, 10},      {0.5, 20},    {0.2, 50},    {0.1, 100},
                 {0.05, 200}, {0.02, 500}, {0.01, 1000}, {0.005, 2000}, {0.002, 5000}};
    for (const auto& row : kRows)
        if (msPerFrame > row.threshold) return row.interval;
    return 10000;
}

int64_t ClipLengthMsFor(unsigned numerator, unsigned denominator, int frames) {
    // A rate with a zero part has no meaningful length (and must not divide
    // by zero).
    if (numerator == 0 || denominator == 0) return 0;
    double length = static_cast<double>(denominator) * static_cast<double>(static_cast<uint32_t>(frames)) * 1000.0 /
                        static_cast<double>(numerator) + 0.5;
    return static_cast<int64_t>(length);
}

IScriptEnvironment* CreateEnvironment(void* library, int interfaceVersion, EnvironmentOutcome& outcome) {
    auto create =
        reinterpret_cast<CreateScriptEnvironmentFunc>(platform::DynamicSymbol(library, "CreateScriptEnvironment"));
    IScriptEnvironment* environment = create ? create(interfaceVersion) : nullptr;
    outcome = !create ? EnvironmentOutcome::NoFactory
                      : !environment ? EnvironmentOutcome::NoEnvironment : EnvironmentOutcome::Ready;
    return environment;
}

uint32_t AnalyseScript(const std::string& scriptPath, std::string& errorText) {
    errorText.clear();
    if (!Timer.CheckPerformanceCounter()) {
        errorText = "QueryPerformanceCounter() is not supported";
        return 0;
    }
    void* library = platform::LoadDynamicLibrary(FrameServerLibraryName(Settings.AVSDLL));
    if (!library) {
        errorText = "Failed to load avisynth.dll";
        return 0;
    }

    uint32_t interval = 0;
    EnvironmentOutcome outcome = EnvironmentOutcome::Ready;
    const bool analysed = RunFrameServerRegion(
        [&] {
            IScriptEnvironment* environment = CreateEnvironment(library, AvisynthInfo.InterfaceVersion, outcome);
            if (!environment) {
                errorText = outcome == EnvironmentOutcome::NoFactory ? "Failed to load CreateScriptEnvironment()"
                                                                     : "Could not create IScriptenvironment";
                return;
            }
            AVS_linkage = environment->GetAVSLinkage();
            AVSValue result;
            AVSValue modeValue;
            PClip clip;
            int32_t modeQueried = 0, activeMode = 0;
            result = ImportScript(environment, scriptPath);
            if (!result.IsClip())
                environment->ThrowError("Script did not return a video clip:\n(%s)", scriptPath.c_str());
            ApplyMTConvention(environment, result, modeValue, modeQueried, activeMode);
            clip = result.AsClip();
            const VideoInfo info = clip->GetVideoInfo();
            if (!info.HasVideo())
                environment->ThrowError("Script did not return a video clip:\n(%s)", scriptPath.c_str());
            // Requesting frame 0 of an empty clip would fail inside the frame
            // server, or spin for the whole calibration time.
            if (info.num_frames <= 0)
                environment->ThrowError("Script returned a video clip without frames:\n(%s)", scriptPath.c_str());

            const uint32_t frameCount = static_cast<uint32_t>(info.num_frames);
            uint32_t fetched = 0;
            double elapsed = 0;
            const double start = Timer.TickSeconds();
            for (;;) {
                PVideoFrame frame = clip->GetFrame(static_cast<int>(fetched), environment);
                ++fetched;
                elapsed = Timer.TickSeconds() - start;
                if (elapsed >= 5.0 || fetched == frameCount) break;
            }
            interval = SamplingIntervalFor(elapsed, fetched);

            clip = static_cast<IClip*>(nullptr);
            result = AVSValue(0);
            modeValue = AVSValue(0);
            platform::SleepMs(100);
            environment->DeleteScriptEnvironment();
        },
        errorText,
        [] {
            const std::string system = SystemErrorText();
            return system.empty() ? std::string("Unknown exception") : system;
        });
    if (outcome != EnvironmentOutcome::Ready) {
        platform::FreeDynamicLibrary(library);
        return 0;
    }
    if (!analysed) interval = 0;
    AVS_linkage = nullptr;
    if (!platform::FreeDynamicLibrary(library)) {
        interval = 0;
        errorText = WithSystemErrorText("Cannot unload avisynth.dll");
    }
    platform::SleepMs(50);
    return interval;
}

OpenResult OpenFrameServer(FrameServerContext& context, const std::string& libraryPath, int interfaceVersion) {
    context.Library = platform::LoadDynamicLibrary(FrameServerLibraryName(libraryPath));
    if (!context.Library) return OpenResult::LibraryNotLoaded;
    EnvironmentOutcome outcome = EnvironmentOutcome::Ready;
    IScriptEnvironment* environment = nullptr;
    Guarded([&] { environment = CreateEnvironment(context.Library, interfaceVersion, outcome); });
    context.Environment = environment;
    if (outcome == EnvironmentOutcome::NoFactory) return OpenResult::NoFactory;
    if (!context.Environment) return OpenResult::NoEnvironment;
    AVS_linkage = context.Environment->GetAVSLinkage();
    // The values were constructed empty before the table existed; make them
    // the library's own empty values.
    context.ScriptValue = AVSValue();
    context.MTModeValue = AVSValue();
    context.Clip = static_cast<IClip*>(nullptr);
    return OpenResult::Opened;
}

void LoadScript(FrameServerContext& context, const std::string& scriptPath) {
    IScriptEnvironment* environment = context.Environment;
    context.ScriptValue = ImportScript(environment, scriptPath);
    if (!context.ScriptValue.IsClip())
        environment->ThrowError("\"%s\":\nScript did not return a clip", scriptPath.c_str());
    ApplyMTConvention(environment, context.ScriptValue, context.MTModeValue, context.MTModeQueried,
                      context.ActiveMTMode);
    context.Clip = context.ScriptValue.AsClip();
    Guarded([&] { context.ClipInfo = context.Clip->GetVideoInfo(); });
    const VideoInfo& info = context.ClipInfo;
    context.AudioOnly = !info.HasVideo() && info.HasAudio() ? 1 : 0;
    if (context.AudioOnly) {
        context.ClipFrameCount = 0;
        context.ClipLengthMs = 0;
    } else {
        context.ClipFrameCount = static_cast<uint32_t>(info.num_frames);
        context.ClipLengthMs = ClipLengthMsFor(info.fps_numerator, info.fps_denominator, info.num_frames);
    }
}

void ReleaseScript(FrameServerContext& context) {
    context.Clip = static_cast<IClip*>(nullptr);
    context.ScriptValue = AVSValue(0);
    context.MTModeValue = AVSValue(0);
    platform::SleepMs(100);
    if (context.Environment) Guarded([&] { context.Environment->DeleteScriptEnvironment(); });
    context.Environment = nullptr;
}

void CloseFrameServer(FrameServerContext& context) {
    // The values go while the table still belongs to the loaded library.
    context.Clip = static_cast<IClip*>(nullptr);
    context.MTModeValue = AVSValue();
    context.ScriptValue = AVSValue();
    UnloadFrameServer(context);
}

void UnloadFrameServer(FrameServerContext& context) {
    AVS_linkage = nullptr;
    if (context.Library) platform::FreeDynamicLibrary(context.Library);
    context.Library = nullptr;
}
