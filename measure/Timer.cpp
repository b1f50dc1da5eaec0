#include "measure/Timer.h"

#include "platform/Time.h"
#include "support/Text.h"

CTimer Timer;

double CounterSeconds(int64_t count, int64_t frequency) {
    // A zero frequency would turn every time into inf/NaN and poison all
    // the rates derived from it.
    if (frequency <= 0) return 0.0;
    return static_cast<double>(count) / static_cast<double>(frequency);
}

bool CounterRateIsPlausible(double counterSeconds, double tickSeconds) {
    return tickSeconds > 0 && counterSeconds > 0.6 * tickSeconds && counterSeconds < 1.4 * tickSeconds;
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

std::string CTimer::FormatDuration(int64_t milliseconds, bool fixedWidth) const {
    return FormatDurationText(milliseconds, fixedWidth);
}

CounterCheck::CounterCheck() : usable(platform::PerformanceCounterWorks()) {
    if (!usable || platform::CounterIsTickClock()) return;
    counterStart = Timer.GetTime();
    tickStart = Timer.TickSeconds();
}

bool CounterCheck::Passed() const {
    if (!usable) return false;
    if (platform::CounterIsTickClock()) return true;
    // The tick clock advances in steps of up to about 16 ms: half a second
    // keeps its error within a few per cent.
    const double spent = Timer.TickSeconds() - tickStart;
    if (spent < 0.5) platform::SleepMs(static_cast<uint32_t>((0.5 - spent) * 1000.0) + 1);
    return CounterRateIsPlausible(Timer.GetTime() - counterStart, Timer.TickSeconds() - tickStart);
}
