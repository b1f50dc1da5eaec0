// Numbers as text without the C locale, and the frame-rate and
// time-per-frame texts of the display, the summary and the files.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "support/Text.h"

namespace {

void AppendPadded(std::string& out, const char* text, size_t length, int width) {
    if (width > 0 && length < static_cast<size_t>(width)) out.append(static_cast<size_t>(width) - length, ' ');
    out.append(text, length);
}

// "%u" of truncate(x + 0.5), widened to 64 bits: a rate of N x 1,000,000
// (an interval measured as 0 s) exceeds 32 bits, and an out-of-range
// conversion would print garbage.
std::string RoundedWhole(double x) {
    const double rounded = x + 0.5;
    if (std::isnan(rounded) || rounded < 0.0) return "0";
    if (rounded >= 18446744073709551615.0) return FormatText("%llu", 18446744073709551615ULL);
    return FormatText("%llu", static_cast<unsigned long long>(rounded));
}

std::string Fixed(double value, int decimals) {
    std::string text;
    AppendFixed(text, value, decimals);
    return text;
}

}  // namespace

void AppendFixed(std::string& out, double value, int precision, int width) {
    // to_chars never consults the locale, so a comma locale set by a plug-in
    // or the environment cannot change the console's texts or the files. The
    // spellings of the non-finite values are glibc's, so both platforms write
    // the same bytes.
    if (std::isnan(value)) {
        const char* text = std::signbit(value) ? "-nan" : "nan";
        AppendPadded(out, text, std::char_traits<char>::length(text), width);
        return;
    }
    if (std::isinf(value)) {
        const char* text = value < 0 ? "-inf" : "inf";
        AppendPadded(out, text, std::char_traits<char>::length(text), width);
        return;
    }
    char buffer[400];  // the largest double in fixed notation has 309 digits
    std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc()) return;
    AppendPadded(out, buffer, static_cast<size_t>(result.ptr - buffer), width);
}

void AppendUnsigned(std::string& out, uint64_t value, int width) {
    char buffer[24];
    std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
    AppendPadded(out, buffer, static_cast<size_t>(result.ptr - buffer), width);
}

bool AppendSignificant(std::string& out, double value, int digits) {
    if (!std::isfinite(value)) return false;
    char buffer[64];
    std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    if (result.ec != std::errc()) return false;
    out.append(buffer, static_cast<size_t>(result.ptr - buffer));
    return true;
}

std::string FormatFPS(double fps) {
    if (fps < 9.999) return Fixed(fps, 3);
    if (fps < 99.99) return Fixed(fps, 2);
    if (fps < 999.9) return Fixed(fps, 1);
    return RoundedWhole(fps);
}

std::string FormatTPF(double milliseconds) {
    if (milliseconds < 1) return Fixed(milliseconds, 4);
    if (milliseconds < 10) return Fixed(milliseconds, 3);
    if (milliseconds < 100) return Fixed(milliseconds, 2);
    if (milliseconds < 1000) return Fixed(milliseconds, 1);
    return RoundedWhole(milliseconds);
}

std::string FormatFrameTime(double milliseconds) {
    if (!(milliseconds > 0) || milliseconds >= 0.001) return FormatTPF(milliseconds);
    const int decimals = std::min(15, 3 - static_cast<int>(std::floor(std::log10(milliseconds))));
    return Fixed(milliseconds, decimals);
}
