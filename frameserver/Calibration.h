// The calibration: a load of the frame server of its own that fetches frames
// for up to five seconds and yields the sampling interval.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "frameserver/Session.h"

// The sampling interval for a calibration that fetched `fetched` frames in
// `elapsedSeconds`.
uint32_t SamplingIntervalFor(double elapsedSeconds, uint32_t fetched);

// How far the calibration got, for the report of its failure: the clip once
// the script was evaluated, the frame requested last while frames are read.
struct CalibrationProgress {
    std::optional<ClipFacts> Clip;
    std::optional<uint32_t> Reading;
};

// Returns the sampling interval, 0 on failure with errorText set (naming the
// frame when a frame request failed).
uint32_t AnalyseScript(const std::string& scriptPath, const std::string& libraryPath, int interfaceVersion,
                       bool invokeDistributor, std::string& errorText, CalibrationProgress& progress);
