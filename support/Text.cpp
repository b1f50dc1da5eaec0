#include "support/Text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

std::string FormatTextV(const char* format, va_list args) {
    if (!format) return std::string();
    // Most texts fit the first buffer; longer ones are formatted again with
    // the exact size, so nothing is ever cut or lost.
    char buffer[256];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    if (needed < 0) return std::string();
    if (static_cast<size_t>(needed) < sizeof buffer) return std::string(buffer, static_cast<size_t>(needed));
    std::vector<char> large(static_cast<size_t>(needed) + 1);
    va_copy(copy, args);
    std::vsnprintf(large.data(), large.size(), format, copy);
    va_end(copy);
    return std::string(large.data(), static_cast<size_t>(needed));
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return text;
}

void ToLowerText(std::string& text) {
    for (char& character : text)
        if (character >= 'A' && character <= 'Z') character = static_cast<char>(character - 'A' + 'a');
}

namespace {
bool IsTrimmed(char character) {
    return character == ' ' || character == '\t' || character == '\n' || character == '\r';
}
}  // namespace

void TrimText(std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsTrimmed(text[end - 1])) --end;
    size_t start = 0;
    while (start < end && IsTrimmed(text[start])) ++start;
    text = text.substr(start, end - start);
}

std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find_first_of("\r\n", start);
        if (end == std::string::npos) end = content.size();
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
        if (end < content.size() && content[end] == '\r' && start < content.size() && content[start] == '\n') ++start;
    }
    return lines;
}

bool IsIntegerText(const std::string& text) {
    // A minus sign elsewhere ("1-2", "5-", "-") once passed and was read as
    // a different number, or as 0.
    const size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    if (start == text.size()) return false;
    for (size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

std::string PadLine(std::string text, int consoleWidth) {
    int64_t blanks = static_cast<int64_t>(consoleWidth) - static_cast<int64_t>(text.size()) - 1;
    if (blanks >= 0 && blanks <= 999) text.append(static_cast<size_t>(blanks), ' ');
    return text;
}

int64_t ParseInt64(const std::string& text) {
    errno = 0;
    long long value = std::strtoll(text.c_str(), nullptr, 10);  // saturates on overflow
    return static_cast<int64_t>(value);
}

int32_t ParseInt32(const std::string& text) {
    int64_t value = ParseInt64(text);
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::string ControlsReplaced(const std::string& text, bool keepLineBreaks) {
    std::string result = text;
    for (size_t i = 0; i < result.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(result[i]);
        if (keepLineBreaks && (byte == '\n' || byte == '\r' || byte == '\t')) continue;
        if (byte < 0x20 || byte == 0x7F) {
            result[i] = '?';
        } else if (byte == 0xC2 && i + 1 < result.size() && static_cast<unsigned char>(result[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(result[i + 1]) <= 0x9F) {
            result.replace(i, 2, "?");
        }
    }
    return result;
}

std::string ShortenedText(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
}

std::string LastPathPart(const std::string& path, const char* separators) {
    const size_t at = path.find_last_of(separators);
    return at == std::string::npos ? path : path.substr(at + 1);
}
