// The frame-rate and time-per-frame texts of the live display and summary.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "support/Text.h"

namespace {
// "%u" of truncate(x + 0.5), widened to 64 bits: a rate of N x 1,000,000
// (an interval measured as 0 s) exceeds 32 bits, and an out-of-range
// conversion would print garbage.
std::string RoundedWhole(double x) {
    const double rounded = x + 0.5;
    if (std::isnan(rounded) || rounded < 0.0) return "0";
    if (rounded >= 18446744073709551615.0) return FormatText("%llu", 18446744073709551615ULL);
    return FormatText("%llu", static_cast<unsigned long long>(rounded));
}
}  // namespace

std::string FormatFPS(double fps) {
    if (fps < 9.999) return FormatText("%.3f", fps);
    if (fps < 99.99) return FormatText("%.2f", fps);
    if (fps < 999.9) return FormatText("%.1f", fps);
    return RoundedWhole(fps);
}

std::string FormatTPF(double milliseconds) {
    if (milliseconds < 1) return FormatText("%.4f", milliseconds);
    if (milliseconds < 10) return FormatText("%.3f", milliseconds);
    if (milliseconds < 100) return FormatText("%.2f", milliseconds);
    if (milliseconds < 1000) return FormatText("%.1f", milliseconds);
    return RoundedWhole(milliseconds);
}

std::string FormatFrameTime(double milliseconds) {
    if (!(milliseconds > 0) || milliseconds >= 0.001) return FormatTPF(milliseconds);
    const int decimals = std::min(15, 3 - static_cast<int>(std::floor(std::log10(milliseconds))));
    return FormatText("%.*f", decimals, milliseconds);
}
