// Text between the system's encodings: the OEM and ANSI code pages on
// Windows, UTF-8 on POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Converts ANSI text to the OEM code page (identity on POSIX).
std::string ToOem(const std::string& text);

// UTF-16 text as narrow text: the ANSI code page on Windows (characters
// without an ANSI form become blanks), UTF-8 on POSIX. Cut at a whole
// character so that the result holds at most maxBytes bytes.
std::string WideToNarrow(const std::u16string& text, size_t maxBytes);

// Narrow text as UTF-8: converted from the ANSI code page on Windows; POSIX
// narrow text is UTF-8 already and comes back unchanged (invalid sequences
// included: the caller repairs them).
std::string NarrowToUtf8(const std::string& text);

// Appends a Unicode code point (at most 0x10FFFF) encoded as UTF-8: the same
// on every system, for the readers of UTF-16 and of JSON escapes.
inline void AppendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace platform
