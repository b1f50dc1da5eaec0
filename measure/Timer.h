// Tachoro's clock: the high-resolution time of the benchmark loop, the coarse
// tick time of the calibration, the counter check and the duration text.
#pragma once

#include <cstdint>
#include <string>

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
    // Seconds from the 64-bit millisecond clock (it never wraps).
    double TickSeconds() const;
    // True when the high-resolution counter exists and runs at the right rate.
    bool CheckPerformanceCounter() const;
    std::string FormatDuration(int64_t milliseconds, bool fixedWidth) const;
};

extern CTimer Timer;
