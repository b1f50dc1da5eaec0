// What the result files need of the system: the per-frame counter and UTF-8
// text.
#include <time.h>

#include "platform/Platform.h"

namespace platform {

int64_t ReadFrameCounter() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + static_cast<int64_t>(now.tv_nsec);
}

int64_t FrameCounterFrequency() { return 1000000000; }

std::string NarrowToUtf8(const std::string& text) { return text; }

const char* SystemName() { return "Linux x64"; }

}  // namespace platform
