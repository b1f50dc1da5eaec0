// The clip's properties: printed before the benchmark and kept for the log.
#pragma once

#include <string>
#include <vector>

#include "frameserver/FrameServer.h"

struct ClipReportText {
    std::vector<std::string> VideoLines;  // frames, length, width, height, frame rate
    std::string ColourSpaceName;          // seven characters
    std::string MTModeLine;               // empty when the frame server has no "GetMTMode"
    std::vector<std::string> AudioLines;  // for the log only
};

// Builds the report from the context (its VideoInfo predicates call through
// the linkage table).
ClipReportText BuildClipReport(const FrameServerContext& context);

// Prints the report and appends it to reportText.
void ReportClipInfo(const FrameServerContext& context, std::string& reportText);

// Bits per sample for a sample-type code (8, 16, 24, 32; float: 32); other
// codes are shown as they are.
int BitsPerSample(int sampleType);
