#include "measure/Timer.h"

#include "platform/Platform.h"
#include "support/Text.h"

CTimer Timer;

double CounterSeconds(int64_t count, int64_t frequency) {
    // A zero frequency would turn every time into inf/NaN and poison all
    // the rates derived from it.
    if (frequency <= 0) return 0.0;
    return static_cast<double>(count) / static_cast<double>(frequency);
}

bool CounterRateIsPlausible(double before, double after) {
    const double measured = after - before;
    return measured > 0.3 && measured < 0.7;
}

std::string FormatDurationText(int64_t milliseconds, bool fixedWidth) {
    const long long ms = static_cast<long long>(milliseconds);
    const long long hours = ms / 3600000;
    const long long minutes = (ms / 60000) % 60;
    const long long seconds = (ms / 1000) % 60;
    const long long millis = ms % 1000;
    std::string text = hours < 100 ? FormatText("   %02lld:%02lld:%02lld.%03lld", hours, minutes, seconds, millis)
                                   : FormatText("%5lld:%02lld:%02lld.%03lld", hours, minutes, seconds, millis);
    if (!fixedWidth) {
        const size_t first = text.find_first_not_of(' ');
        text.erase(0, first == std::string::npos ? text.size() : first);
    }
    return text;
}

double CTimer::GetTime() const {
    const platform::CounterReading reading = platform::ReadPerformanceCounter();
    return CounterSeconds(reading.count, reading.frequency);
}

double CTimer::TickSeconds() const { return static_cast<double>(platform::MonotonicMs()) / 1000.0; }

bool CTimer::CheckPerformanceCounter() const {
    if (!platform::PerformanceCounterWorks()) return false;
    const double before = GetTime();
    platform::SleepMs(500);
    const double after = GetTime();
    return CounterRateIsPlausible(before, after);
}

std::string CTimer::FormatDuration(int64_t milliseconds, bool fixedWidth) const {
    return FormatDurationText(milliseconds, fixedWidth);
}
