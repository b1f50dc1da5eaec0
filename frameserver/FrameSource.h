// The frames of an evaluated clip, for the loops that request them. A final
// class whose call inlines: the measuring loop pays for nothing but the frame
// server's own request and release.
#pragma once

#include <cstdint>

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
