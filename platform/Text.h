// Text between the system's encodings: the OEM and ANSI code pages on
// Windows, UTF-8 on POSIX.
#pragma once

#include <cstddef>
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

}  // namespace platform
