// The baseline of a comparison with an earlier measurement: what a results
// file that ProduceJson wrote (docs/tachoro-results.schema.json) says about
// its script, clip, frame range and frame rates, and whether it fits the
// script measured now. The messages are one or two lines, unframed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "frameserver/Session.h"
#include "measure/Series.h"

// The largest baseline file read: far beyond a long series with every sample.
constexpr uint64_t kBaselineFileLimit = 256u << 20;

struct BaselineClip {
    int64_t Frames = 0;
    int64_t Width = 0;
    int64_t Height = 0;
    std::string ColourSpace;  // as the results file names it: "YV12", "YUV420P10"
    uint32_t FirstFrame = 0;  // the range measured
    uint32_t LastFrame = 0;
};

struct Baseline {
    std::string ScriptPath;  // as the file has it
    std::string ScriptName;  // its last part, after the last / or backslash
    BaselineClip Clip;
    // The runs that counted: their mean and, with two or more, the
    // standard deviation of their average rates.
    SeriesFigures Figures;
};

struct BaselineRead {
    std::optional<Baseline> Facts;
    std::string Error;  // why there are none
};

// Reads and checks the file `path`: a Tachoro results file (format, schema
// version 1) of a measurement with at least one counted run.
BaselineRead ReadBaselineFile(const std::string& path);
// The same for its bytes; `path` names the file in the messages.
BaselineRead BaselineFromJson(const char* text, size_t size, const std::string& path);

// The clip measured now, as a baseline describes its clip.
BaselineClip BaselineClipOf(const ClipFacts& clip, uint32_t firstFrame, uint32_t lastFrame);

// Empty when the baseline is of the script at `scriptPath`: a script of the
// same file name (ASCII case aside), wherever it was; else why not.
std::string BaselineScriptMismatch(const Baseline& baseline, const std::string& path, const std::string& scriptPath);
// Empty when the baseline's clip has these frame count, size and format,
// and measured this range; else why not.
std::string BaselineClipMismatch(const Baseline& baseline, const std::string& path, const BaselineClip& clip);

// The value of -baseline=file.json[,threshold]: the text after the last
// comma is the threshold in percent when it is a number (digits, at most one
// decimal point) from 0 to 100; else the whole value is the file name.
struct BaselineArgument {
    std::string Path;
    double ThresholdPercent = 2.0;
    std::string Error;  // empty when the value was understood
};
BaselineArgument ParseBaselineArgument(const std::string& value);
