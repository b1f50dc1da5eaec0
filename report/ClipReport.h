// The clip's properties as text: printed before the benchmark and written
// to the log, both made from the clip's facts by BuildClipReport.
#pragma once

#include <string>
#include <vector>

#include "frameserver/Session.h"

struct ClipReportText {
    std::vector<std::string> VideoLines;  // frames, length, width, height, frame rate
    std::string ColourSpaceName;          // right-aligned to seven characters, a longer name whole
    std::string MTModeLine;               // empty when the frame server has no "GetMTMode"
    std::vector<std::string> AudioLines;  // for the log only
};

ClipReportText BuildClipReport(const ClipFacts& facts);

// The colour-space name, as the JSON file and a baseline name it: the
// classic name a predicate gave, else the frame server's own name of the
// format, else "Unknown" ("n/a" without video).
std::string ColourSpaceName(ColourSpace colour, const std::string& pixelTypeName);

// The label before the colour-space name.
extern const char* const kColourSpaceLabel;

// The "[Clip info]" section of the log.
std::string ClipInfoSection(const ClipFacts& facts);

// Bits per sample for a sample-type code (8, 16, 24, 32; float: 32); other
// codes are shown as they are.
int BitsPerSample(int sampleType);
