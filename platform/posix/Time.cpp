#include <time.h>

#include <cerrno>
#include <cstdint>

#include "platform/Time.h"

namespace platform {

namespace {

uint64_t MonotonicNanoseconds() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace

CounterReading ReadPerformanceCounter() {
    CounterReading reading;
    reading.count = static_cast<int64_t>(MonotonicNanoseconds());
    reading.frequency = 1000000000;
    return reading;
}

bool PerformanceCounterWorks() {
    struct timespec now {};
    return clock_gettime(CLOCK_MONOTONIC, &now) == 0;
}

uint64_t MonotonicMs() { return MonotonicNanoseconds() / 1000000ull; }

bool CounterIsTickClock() { return true; }

void SleepMs(uint32_t milliseconds) {
    struct timespec request {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

int64_t ReadFrameCounter() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + static_cast<int64_t>(now.tv_nsec);
}

int64_t FrameCounterFrequency() { return 1000000000; }

}  // namespace platform
