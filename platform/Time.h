// Clocks and waiting.
#pragma once

#include <cstdint>

namespace platform {

struct CounterReading {
    int64_t count = 0;
    int64_t frequency = 0;
};

// The high-resolution counter (Windows: performance counter read with the
// thread pinned to the first processor; POSIX: CLOCK_MONOTONIC in ns).
CounterReading ReadPerformanceCounter();

// False when the high-resolution counter cannot be queried at all.
bool PerformanceCounterWorks();

// True when the high-resolution counter and the tick clock (MonotonicMs) are
// read from one source, so that neither can be checked against the other
// (POSIX: CLOCK_MONOTONIC; Windows: the performance counter and the tick
// count are separate).
bool CounterIsTickClock();

// Milliseconds since an arbitrary start, 64 bits wide: it never wraps
// (GetTickCount64; POSIX: CLOCK_MONOTONIC).
uint64_t MonotonicMs();

void SleepMs(uint32_t milliseconds);

// The counter for timing single frames: cheap enough to read once per frame
// (Windows: QueryPerformanceCounter without pinning the thread, which is
// consistent across processors on every supported system; POSIX:
// CLOCK_MONOTONIC in ns). Ticks, and ticks per second (never 0).
int64_t ReadFrameCounter();
int64_t FrameCounterFrequency();

}  // namespace platform
