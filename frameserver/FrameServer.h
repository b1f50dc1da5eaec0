// Loading the frame server, evaluating the script and the calibration run.
#pragma once

#include <cstdint>
#include <string>

#include "frameserver/Avisynth.h"
#include "support/SEException.h"
#include "support/Text.h"

struct FrameServerContext {
    void* Library = nullptr;
    IScriptEnvironment* Environment = nullptr;
    AVSValue ScriptValue;
    AVSValue MTModeValue;
    PClip Clip;
    VideoInfo ClipInfo{};
    int32_t MTModeQueried = 0;
    int32_t ActiveMTMode = 0;
    int32_t AudioOnly = 0;
    uint32_t ClipFrameCount = 0;
    int64_t ClipLengthMs = 0;
};

// Why no environment could be had; Ready when one was.
enum class EnvironmentOutcome { Ready, NoFactory, NoEnvironment };

// Resolves "CreateScriptEnvironment" in the loaded library and creates an
// environment for the interface version; null with the reason in outcome.
IScriptEnvironment* CreateEnvironment(void* library, int interfaceVersion, EnvironmentOutcome& outcome);

// Outcome of OpenFrameServer.
enum class OpenResult { Opened, LibraryNotLoaded, NoFactory, NoEnvironment };

// Runs a guarded region that talks to the frame server. True when it ended
// normally; otherwise false, with the text of what ended it in failureText:
// the frame server's message, the name of a processor fault, or otherText()
// for any other exception.
template <class Region, class OtherText>
bool RunFrameServerRegion(Region&& region, std::string& failureText, OtherText&& otherText) {
    try {
        Guarded(region);
        return true;
    } catch (AvisynthError& error) {
        failureText = FormatText("%s", error.msg ? error.msg : "");
    } catch (SE_Exception& fault) {
        failureText = ExceptionCodeText(fault.ExceptionCode);
    } catch (...) {
        failureText = otherText();
    }
    return false;
}

// The library name rule: the configured path, else the platform's default.
std::string FrameServerLibraryName(const std::string& configuredPath);

// The sampling interval for a calibration that fetched `fetched` frames in
// `elapsedSeconds`.
uint32_t SamplingIntervalFor(double elapsedSeconds, uint32_t fetched);

// Play length in ms of `frames` at numerator/denominator; 0 when the rate is
// unusable.
int64_t ClipLengthMsFor(unsigned numerator, unsigned denominator, int frames);

// The calibration pre-run: returns the sampling interval, 0 on failure with
// errorText set.
uint32_t AnalyseScript(const std::string& scriptPath, std::string& errorText);

OpenResult OpenFrameServer(FrameServerContext& context, const std::string& libraryPath, int interfaceVersion);
// Imports the script; frame-server errors propagate as AvisynthError.
void LoadScript(FrameServerContext& context, const std::string& scriptPath);
// Drops every reference, waits 100 ms and deletes the environment.
void ReleaseScript(FrameServerContext& context);
// Destroys the remaining values (through the table), clears the linkage
// pointer and unloads the library.
void CloseFrameServer(FrameServerContext& context);
// Only clears the linkage pointer and unloads the library (after an error).
void UnloadFrameServer(FrameServerContext& context);
