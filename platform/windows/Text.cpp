// Text between the ANSI, OEM and UTF-8 code pages on Win32.
#include <windows.h>

#include <vector>

#include "platform/Text.h"

namespace platform {

std::string ToOem(const std::string& text) {
    std::vector<char> buffer(text.size() + 1, '\0');
    if (!CharToOemA(text.c_str(), buffer.data())) return text;
    return std::string(buffer.data());
}

namespace {

// The ANSI form of the first `count` code units; empty when there is none.
std::string AnsiOf(const std::u16string& units, size_t count) {
    if (count == 0) return std::string();
    const wchar_t* source = reinterpret_cast<const wchar_t*>(units.data());
    int size = WideCharToMultiByte(CP_ACP, 0, source, static_cast<int>(count), nullptr, 0, " ", nullptr);
    if (size <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(size));
    size = WideCharToMultiByte(CP_ACP, 0, source, static_cast<int>(count), buffer.data(), size, " ", nullptr);
    return size > 0 ? std::string(buffer.data(), static_cast<size_t>(size)) : std::string();
}

}  // namespace

std::string WideToNarrow(const std::u16string& units, size_t maxBytes) {
    // Converted whole, then shortened by whole characters (never inside a
    // surrogate pair or a double-byte character) until it fits.
    size_t count = units.size();
    std::string text = AnsiOf(units, count);
    while (text.size() > maxBytes && count > 0) {
        --count;
        if (count > 0 && units[count] >= 0xDC00 && units[count] <= 0xDFFF && units[count - 1] >= 0xD800 &&
            units[count - 1] <= 0xDBFF)
            --count;
        text = AnsiOf(units, count);
    }
    return text;
}

std::string NarrowToUtf8(const std::string& text) {
    if (text.empty()) return text;
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0) return text;
    std::vector<wchar_t> wide(static_cast<size_t>(units));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return text;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace platform
