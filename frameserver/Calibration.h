// The calibration: a load of the frame server of its own that fetches frames
// for up to five seconds and yields the sampling interval.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "frameserver/Session.h"

// The sampling interval for a calibration that fetched `fetched` frames in
// `elapsedSeconds`.
uint32_t SamplingIntervalFor(double elapsedSeconds, uint32_t fetched);

// What the calibration found, filled as it goes, so that what a calibration
// that cannot return had found can be read from another thread.
struct CalibrationResult {
    uint32_t Interval = 0;  // the sampling interval; 0 on failure, ErrorText says why
    std::string ErrorText;  // naming the frame when a frame request failed
    // How far it got, for the report of its failure: the clip once the
    // script was evaluated, the frame requested last while frames are read.
    std::optional<ClipFacts> Clip;
    std::optional<uint32_t> Reading;
    // Set once every frame the calibration requested was rendered and the
    // frame server is being closed: a failure from then on leaves Interval
    // as found, with its text in ClosingFault.
    bool Closing = false;
    std::string ClosingFault;
};

// A look at the clip once the script is evaluated, before any frame is read:
// a text ends the calibration with it as the failure, nothing read.
using ClipCheck = std::function<std::string(const ClipFacts& clip)>;

// `global`, when given, is set before the script is evaluated.
void AnalyseScript(const std::string& scriptPath, const std::string& libraryPath, int interfaceVersion,
                   bool invokeDistributor, CalibrationResult& result, const ClipCheck& clipCheck = nullptr,
                   const std::optional<ScriptGlobal>& global = std::nullopt);
