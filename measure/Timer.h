// Tachoro's clock: the high-resolution time of the benchmark loop, the coarse
// tick time of the calibration, the counter check and the duration text.
#pragma once

#include <cstdint>
#include <string>

// Extends a 32-bit millisecond tick that wraps (about every 49.7 days) to 64
// bits. Every wrap seen since the first call adds 2^32 for good, so readings
// stay ordered: a difference against a reading taken before the wrap remains
// right for every later call, not only for the call that sees the wrap.
class TickExtender {
public:
    uint64_t Extend(uint32_t raw);

private:
    uint32_t Previous = 0;
    uint64_t Wraps = 0;
};

// count / frequency in seconds; 0 when the frequency is unusable.
double CounterSeconds(int64_t count, int64_t frequency);

// The counter runs at the expected rate when a 500 ms sleep measured from
// `before` to `after` lies strictly between 0.3 and 0.7 s.
bool CounterRateIsPlausible(double before, double after);

// "   hh:mm:ss.mmm" (three leading blanks below 100 hours, "%5d" hours
// above); without fixedWidth every leading blank is removed.
std::string FormatDurationText(int64_t milliseconds, bool fixedWidth);

class CTimer {
public:
    CTimer() = default;
    virtual ~CTimer() = default;

    // Seconds since an arbitrary origin from the high-resolution counter.
    double GetTime() const;
    // Seconds since system start from the wrapping millisecond tick.
    double TickSeconds();
    // 1 when the high-resolution counter exists and runs at the right rate.
    int32_t CheckPerformanceCounter() const;
    std::string FormatDuration(int64_t milliseconds, bool fixedWidth) const;
};

extern CTimer Timer;
