#include "report/ClipReport.h"

#include "frameserver/Avisynth.h"
#include "measure/Timer.h"
#include "support/Text.h"

const char* const kColourSpaceLabel = "Colorspace:                    ";

namespace {

std::string FrameRateLine(const ClipFacts& clip) {
    const unsigned numerator = clip.FpsNumerator, denominator = clip.FpsDenominator;
    const double rate = denominator == 0 ? 0.0 : static_cast<double>(numerator) / static_cast<double>(denominator);
    if (clip.TopFieldFirst)
        return FormatText("Framerate:                 %11.3f (%u/%u, TFF)", rate, numerator, denominator);
    if (clip.BottomFieldFirst)
        return FormatText("Framerate:                 %11.3f (%u/%u, BFF)", rate, numerator, denominator);
    return FormatText("Framerate:                 %11.3f (%u/%u)", rate, numerator, denominator);
}

const char* ClassicColourSpaceName(ColourSpace colour) {
    switch (colour) {
    case ColourSpace::YV411: return "YV411";
    case ColourSpace::YV24: return "YV24";
    case ColourSpace::YV16: return "YV16";
    case ColourSpace::Y8: return "Y8";
    case ColourSpace::YV12: return "YV12";
    case ColourSpace::YUY2: return "YUY2";
    case ColourSpace::RGB24: return "RGB24";
    case ColourSpace::RGB32: return "RGB32";
    case ColourSpace::Unknown: return "Unknown";
    case ColourSpace::NoVideo: break;
    }
    return "n/a";
}

// A name from the library goes onto the console and into the log as it is:
// only a short run of printable characters is taken for one.
bool UsableFormatName(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    for (char c : name) {
        if (c < '!' || c > '~') return false;
    }
    return true;
}

std::string AudioLine(const char* label, long long quantity) {
    if (quantity == 0) return std::string(label) + "                n/a";
    return std::string(label) + FormatText("%19lld", quantity);
}

}  // namespace

std::string ColourSpaceName(ColourSpace colour, const std::string& pixelTypeName) {
    if (colour == ColourSpace::Unknown && UsableFormatName(pixelTypeName)) return pixelTypeName;
    return ClassicColourSpaceName(colour);
}

int BitsPerSample(int sampleType) {
    switch (sampleType) {
    case SAMPLE_INT8: return 8;
    case SAMPLE_INT16: return 16;
    case SAMPLE_INT24: return 24;
    case SAMPLE_INT32: return 32;
    case SAMPLE_FLOAT: return 32;
    default: return sampleType;
    }
}

ClipReportText BuildClipReport(const ClipFacts& clip) {
    ClipReportText report;
    if (clip.AudioOnly) {
        report.VideoLines = {
            "Number of frames:                  n/a", "Length (hh:mm:ss.ms):              n/a",
            "Frame width:                       n/a", "Frame height:                      n/a",
            "Framerate:                         n/a",
        };
    } else {
        report.VideoLines = {
            FormatText("Number of frames:          %11u", static_cast<unsigned>(clip.FrameCount)),
            FormatText("Length (hh:mm:ss.ms):  %s", Timer.FormatDuration(clip.LengthMs, true).c_str()),
            FormatText("Frame width:               %11u", static_cast<unsigned>(clip.Width)),
            FormatText("Frame height:              %11u", static_cast<unsigned>(clip.Height)),
            FrameRateLine(clip),
        };
    }
    report.ColourSpaceName = FormatText("%7s", ColourSpaceName(clip.Colour, clip.PixelTypeName).c_str());
    if (clip.MTModeQueried) report.MTModeLine = FormatText("Active MT Mode:                      %d", clip.ActiveMTMode);
    report.AudioLines = {
        AudioLine("Audio channels:    ", clip.AudioChannels),
        AudioLine("Audio bits/sample: ", BitsPerSample(clip.SampleType)),
        AudioLine("Audio sample rate: ", clip.SamplesPerSecond),
        AudioLine("Audio samples:     ", static_cast<long long>(clip.AudioSamples)),
    };
    return report;
}

std::string ClipInfoSection(const ClipFacts& facts) {
    const ClipReportText report = BuildClipReport(facts);
    std::string text = "\n\n[Clip info]\n";
    for (const std::string& line : report.VideoLines) text += line + "\n";
    text += kColourSpaceLabel + report.ColourSpaceName + "\n";
    if (!report.MTModeLine.empty()) text += report.MTModeLine + "\n";
    for (const std::string& line : report.AudioLines) text += line + "\n";
    return text;
}
