// The clip's facts read from either interface's record, whose predicates
// carry the same names (VideoInfo, CVideoInfo). For the session's own files.
#pragma once

#include "frameserver/Session.h"

template <class Info>
ColourSpace ColourSpaceOf(const Info& info) {
    if (info.IsYV411()) return ColourSpace::YV411;
    if (info.IsYV24()) return ColourSpace::YV24;
    if (info.IsYV16()) return ColourSpace::YV16;
    if (info.IsY8()) return ColourSpace::Y8;
    if (info.IsYV12()) return ColourSpace::YV12;
    if (info.IsYUY2()) return ColourSpace::YUY2;
    if (info.IsRGB24()) return ColourSpace::RGB24;
    if (info.IsRGB32()) return ColourSpace::RGB32;
    return info.HasVideo() ? ColourSpace::Unknown : ColourSpace::NoVideo;
}

template <class Info>
void FrameServerContext::ReadClip(const Info& info, const std::string& scriptPath, const ScriptChecks& checks) {
    Clip.HasVideo = info.HasVideo();
    if (checks.NoVideo && !Clip.HasVideo) RaiseError(checks.NoVideo, scriptPath);
    // Requesting frame 0 of an empty clip would fail inside the frame
    // server, or spin for the whole calibration time.
    if (checks.NoFrames && info.num_frames <= 0) RaiseError(checks.NoFrames, scriptPath);

    Clip.AudioOnly = !Clip.HasVideo && info.HasAudio();
    Clip.FrameCount = info.num_frames;
    if (!Clip.AudioOnly) {
        Clip.FramesToRead = static_cast<uint32_t>(info.num_frames);
        Clip.LengthMs = ClipLengthMsFor(info.fps_numerator, info.fps_denominator, info.num_frames);
    }
    Clip.Width = info.width;
    Clip.Height = info.height;
    Clip.FpsNumerator = info.fps_numerator;
    Clip.FpsDenominator = info.fps_denominator;
    const bool fieldBased = info.IsFieldBased();
    Clip.TopFieldFirst = fieldBased && info.IsTFF();
    Clip.BottomFieldFirst = fieldBased && !Clip.TopFieldFirst && info.IsBFF();
    Clip.Colour = ColourSpaceOf(info);
    if (Clip.Colour == ColourSpace::Unknown) Clip.PixelTypeName = AskPixelType();
    Clip.AudioChannels = info.AudioChannels();
    Clip.SampleType = info.SampleType();
    Clip.SamplesPerSecond = info.SamplesPerSecond();
    Clip.AudioSamples = info.num_audio_samples;
}
