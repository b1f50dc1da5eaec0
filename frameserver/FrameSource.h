// The frames of an evaluated clip, for the loops that request them. A final
// class whose call inlines: the measuring loop pays for nothing but the frame
// server's own request and release. Which interface it calls is chosen when
// the program is built (TACHORO_FRAMESERVER_C: the C interface).
#pragma once

#include <cstdint>

#if TACHORO_FRAMESERVER_C

#include "frameserver/AvisynthC.h"

// Raises the clip's error text as a frame-server error; returns when the clip
// has none (a library may deliver no frame without failing).
void RaiseClipError(AVS_Clip* clip, avs_clip_get_error_func clipError);

class FrameSource final {
public:
    FrameSource(AVS_Clip* clip, avs_get_frame_func getFrame, avs_release_video_frame_func releaseFrame,
                avs_clip_get_error_func clipError)
        : Clip(clip), GetFrame(getFrame), ReleaseFrame(releaseFrame), ClipError(clipError) {}

    // Requests frame n and releases it at once. A failed request raises
    // FrameServerError with the clip's text: run the loop in a
    // FrameServerGuarded region.
    void Fetch(uint32_t n) const {
        AVS_VideoFrame* frame = GetFrame(Clip, static_cast<int>(n));
        if (frame)
            ReleaseFrame(frame);
        else
            RaiseClipError(Clip, ClipError);
    }

private:
    AVS_Clip* Clip;
    avs_get_frame_func GetFrame;
    avs_release_video_frame_func ReleaseFrame;
    avs_clip_get_error_func ClipError;
};

#else

#include "frameserver/Avisynth.h"

class FrameSource final {
public:
    FrameSource(IClip* clip, IScriptEnvironment* environment) : Clip(clip), Environment(environment) {}

    // Requests frame n and releases it at once. Frame-server errors arrive
    // raw here: run the loop in a FrameServerGuarded region.
    void Fetch(uint32_t n) const { PVideoFrame frame = Clip->GetFrame(static_cast<int>(n), Environment); }

private:
    IClip* Clip;
    IScriptEnvironment* Environment;
};

#endif
