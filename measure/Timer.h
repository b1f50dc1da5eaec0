// Tachoro's clock: the high-resolution time of the benchmark loop, the coarse
// tick time of the calibration, the counter check and the duration text.
#pragma once

#include <cstdint>
#include <string>

// count / frequency in seconds; 0 when the frequency is unusable.
double CounterSeconds(int64_t count, int64_t frequency);

// The counter runs at the rate its frequency says when, over `tickSeconds`
// of the system's tick clock, it advanced strictly between 0.6 and 1.4 times
// as much.
bool CounterRateIsPlausible(double counterSeconds, double tickSeconds);

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
    std::string FormatDuration(int64_t milliseconds, bool fixedWidth) const;
};

extern CTimer Timer;

// Checks that the high-resolution counter runs at the right rate, against the
// tick clock over a span the caller spends anyway (the calibration):
// constructed at its start, asked at its end, where it waits for what the
// span lacks of 0.5 s. Where the counter is the tick clock's own source
// (POSIX: both are CLOCK_MONOTONIC) there is nothing to compare and no wait.
class CounterCheck {
public:
    CounterCheck();
    // True when the counter can be read at all (checked at construction).
    bool Usable() const { return usable; }
    bool Passed() const;

private:
    bool usable = false;
    double counterStart = 0;
    double tickStart = 0;
};
