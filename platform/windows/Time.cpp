// Clocks on Win32.
#include "platform/Time.h"

#include <windows.h>

namespace platform {

// The counter is read on the first processor only: on some older systems
// the processors' counters are not synchronised.
CounterReading ReadPerformanceCounter() {
    const DWORD_PTR previousMask = SetThreadAffinityMask(GetCurrentThread(), 1);
    Sleep(0);
    LARGE_INTEGER frequency;
    LARGE_INTEGER count;
    frequency.QuadPart = 0;
    count.QuadPart = 0;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    if (previousMask != 0) SetThreadAffinityMask(GetCurrentThread(), previousMask);
    Sleep(0);
    CounterReading reading;
    reading.count = count.QuadPart;
    reading.frequency = frequency.QuadPart;
    return reading;
}

bool PerformanceCounterWorks() {
    LARGE_INTEGER value;
    return QueryPerformanceFrequency(&value) != 0 && value.QuadPart != 0 &&
           QueryPerformanceCounter(&value) != 0;
}

uint64_t MonotonicMs() { return GetTickCount64(); }

bool CounterIsTickClock() { return false; }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

int64_t ReadFrameCounter() {
    LARGE_INTEGER count;
    count.QuadPart = 0;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

int64_t FrameCounterFrequency() {
    LARGE_INTEGER frequency;
    frequency.QuadPart = 0;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

}  // namespace platform
