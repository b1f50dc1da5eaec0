// The calibration: a load of the frame server of its own that fetches frames
// for up to five seconds and yields the sampling interval.
#pragma once

#include <cstdint>
#include <string>

// The sampling interval for a calibration that fetched `fetched` frames in
// `elapsedSeconds`.
uint32_t SamplingIntervalFor(double elapsedSeconds, uint32_t fetched);

// Returns the sampling interval, 0 on failure with errorText set.
uint32_t AnalyseScript(const std::string& scriptPath, const std::string& libraryPath, int interfaceVersion,
                       bool invokeDistributor, std::string& errorText);
