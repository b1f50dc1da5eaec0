#include "frameserver/ClipReport.h"

#include "app/Settings.h"
#include "measure/Timer.h"
#include "support/Console.h"
#include "support/Text.h"

namespace {

std::string FrameRateLine(const VideoInfo& info) {
    const unsigned numerator = info.fps_numerator, denominator = info.fps_denominator;
    const double rate = denominator == 0 ? 0.0 : static_cast<double>(numerator) / static_cast<double>(denominator);
    if (info.IsFieldBased() && info.IsTFF())
        return FormatText("Framerate:                 %11.3f (%u/%u, TFF)", rate, numerator, denominator);
    if (info.IsFieldBased() && info.IsBFF())
        return FormatText("Framerate:                 %11.3f (%u/%u, BFF)", rate, numerator, denominator);
    return FormatText("Framerate:                 %11.3f (%u/%u)", rate, numerator, denominator);
}

std::string ColourSpaceName(const VideoInfo& info) {
    if (info.IsYV411()) return "  YV411";
    if (info.IsYV24()) return "   YV24";
    if (info.IsYV16()) return "   YV16";
    if (info.IsY8()) return "     Y8";
    if (info.IsYV12()) return "   YV12";
    if (info.IsYUY2()) return "   YUY2";
    if (info.IsRGB24()) return "  RGB24";
    if (info.IsRGB32()) return "  RGB32";
    return info.HasVideo() ? "Unknown" : "    n/a";
}

std::string AudioLine(const char* label, long long quantity) {
    if (quantity == 0) return std::string(label) + "                n/a";
    return std::string(label) + FormatText("%19lld", quantity);
}

}  // namespace

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

ClipReportText BuildClipReport(const FrameServerContext& context) {
    const VideoInfo& info = context.ClipInfo;
    ClipReportText report;
    if (context.AudioOnly) {
        report.VideoLines = {
            "Number of frames:                  n/a", "Length (hh:mm:ss.ms):              n/a",
            "Frame width:                       n/a", "Frame height:                      n/a",
            "Framerate:                         n/a",
        };
    } else {
        report.VideoLines = {
            FormatText("Number of frames:          %11u", static_cast<unsigned>(info.num_frames)),
            FormatText("Length (hh:mm:ss.ms):  %s", Timer.FormatDuration(context.ClipLengthMs, true).c_str()),
            FormatText("Frame width:               %11u", static_cast<unsigned>(info.width)),
            FormatText("Frame height:              %11u", static_cast<unsigned>(info.height)),
            FrameRateLine(info),
        };
    }
    report.ColourSpaceName = ColourSpaceName(info);
    if (context.MTModeQueried == 1) report.MTModeLine = FormatText("Active MT Mode:                      %d", context.ActiveMTMode);
    report.AudioLines = {
        AudioLine("Audio channels:    ", info.AudioChannels()),
        AudioLine("Audio bits/sample: ", BitsPerSample(info.SampleType())),
        AudioLine("Audio sample rate: ", info.SamplesPerSecond()),
        AudioLine("Audio samples:     ", static_cast<long long>(info.num_audio_samples)),
    };
    return report;
}

void ReportClipInfo(const FrameServerContext& context, std::string& reportText) {
    const ClipReportText report = BuildClipReport(context);
    const int stream = Settings.ConUseSTDOUT;
    reportText += "\n\n[Clip info]\n";
    for (const std::string& line : report.VideoLines) {
        ConsolePrint(stream, ColourUnchanged, "\n%s", line.c_str());
        reportText += line + "\n";
    }
    const char* label = "Colorspace:                    ";
    ConsolePrint(stream, ColourUnchanged, "\n%s", label);
    ConsolePrint(stream, ColourUnchanged, "%s\n", report.ColourSpaceName.c_str());
    reportText += label + report.ColourSpaceName + "\n";
    if (!report.MTModeLine.empty()) {
        ConsolePrint(stream, ColourUnchanged, "%s\n", report.MTModeLine.c_str());
        reportText += report.MTModeLine + "\n";
    }
    for (const std::string& line : report.AudioLines) reportText += line + "\n";
}
