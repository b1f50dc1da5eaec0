// Loading the frame server, evaluating the script and the calibration run.
#pragma once

#include <cstdint>
#include <string>

#include "frameserver/Avisynth.h"

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

// Outcome of OpenFrameServer.
enum class OpenResult { Opened, LibraryNotLoaded, NoFactory, NoEnvironment };

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
