#include "app/Invocation.h"

ConsoleOptions ConsoleOptionsOf(const Invocation& call) {
    return ConsoleOptions{call.ConUseSTDOUT, call.UseColor, call.PauseBeforeExit};
}

DisplayOptions DisplayOptionsOf(const Invocation& call, bool monitorGPU) {
    DisplayOptions options;
    options.DisplayFPS = call.DisplayFPS;
    options.DisplayTPF = call.DisplayTPF;
    options.LogEstimatedTime = call.LogEstimatedTime;
    options.MonitorGPULoad = monitorGPU;
    return options;
}

std::optional<FrameSpan> ResolveFrameRange(const FrameRangeSetting& range, uint32_t clipFrames) {
    const int64_t frames = clipFrames;
    const int64_t first = range.First;
    const int64_t last = range.Last == -1 ? frames - 1 : range.Last;
    if (first < 0 || first > last || last >= frames) return std::nullopt;
    return FrameSpan{static_cast<uint32_t>(first), static_cast<uint32_t>(last)};
}
