#include <cstdint>
#include <string>

#include "platform/Text.h"

namespace platform {

std::string ToOem(const std::string& text) { return text; }

std::string WideToNarrow(const std::u16string& units, size_t maxBytes) {
    std::string text;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t codePoint = units[i];
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        }
        // An unpaired surrogate has no character: a blank, as on Windows.
        if (codePoint >= 0xD800 && codePoint <= 0xDFFF) codePoint = ' ';
        const size_t before = text.size();
        AppendUtf8(text, codePoint);
        if (text.size() > maxBytes) {
            text.resize(before);
            break;
        }
    }
    return text;
}

std::string NarrowToUtf8(const std::string& text) { return text; }

}  // namespace platform
