// A script's profile (-profile): each stage of the script measured on its
// own, and the texts made from it: the table of the console and the log, the
// bars of the chart. The JSON file writes the same rows (JsonFile.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/RunEnding.h"

// One stage: the script cut after a statement that left a clip.
struct ProfileStage {
    uint32_t Line = 1;   // of its statement, from 1
    std::string Text;    // the statement's first 40 characters
    RunEnding Ending;    // how its evaluation and measurement ended; a failure with its message
    uint32_t Frames = 0;  // frames read
    // Its average frame rate; absent after a failure, or when not one
    // sampling interval was read.
    std::optional<double> Fps;
};

struct ScriptProfile {
    int64_t StageTimeLimit = 10;  // seconds
    // The Prefetch call applied to every stage: its line and its arguments.
    std::optional<uint32_t> PrefetchLine;
    std::string PrefetchArguments;
    // The whole script's mean frame rate, which the shares are of; absent
    // when its runs gave none.
    std::optional<double> WholeFps;
    std::vector<ProfileStage> Stages;
    // Stages that were not reached: a fault, Esc or an interruption ended
    // the profile.
    uint32_t NotReached = 0;
};

// A stage's figures: its time per frame, what it adds to the stage before it
// in the text that was measured (the first: all of its own), and that
// addition as a percentage of the whole script's time per frame.
struct ProfileFigures {
    std::optional<double> MsPerFrame;
    std::optional<double> AddedMs;
    std::optional<double> SharePercent;
};
std::vector<ProfileFigures> ProfileFiguresOf(const ScriptProfile& profile);

// The heading, the note on Prefetch, the table (a failed stage on its line
// with the message, its further lines below) and what ended it early.
std::vector<std::string> ProfileLines(const ScriptProfile& profile);

// The log's section: "[Profile]" and the lines.
std::string ProfileLogSection(const ScriptProfile& profile);

// The chart of the stages' added time per frame, one horizontal bar each
// (negative additions to the left of the axis), as an SVG group placed at
// `top` in a chart `width` wide; its height in `height`.
std::string ProfileBars(const ScriptProfile& profile, double top, double width, double& height);
