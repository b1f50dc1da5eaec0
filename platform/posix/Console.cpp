#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Platform.h"

namespace platform {

namespace {

FILE* FileOf(Stream stream) { return stream == Stream::Out ? stdout : stderr; }

// Windows console attribute -> ANSI colour: bit 0 blue, 1 green, 2 red,
// 3 intensity; ANSI orders the colours red, green, blue.
int AnsiForeground(uint16_t attribute) {
    int index = ((attribute & 4) ? 1 : 0) | ((attribute & 2) ? 2 : 0) | ((attribute & 1) ? 4 : 0);
    return ((attribute & 8) ? 90 : 30) + index;
}

}  // namespace

bool IsTerminal(Stream stream) { return isatty(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO) != 0; }

int ConsoleWidth() {
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (!isatty(fd)) continue;
        struct winsize size {};
        if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
        break;
    }
    return 80;
}

uint16_t CurrentTextAttribute() { return 7; }

void SetTextAttribute(Stream stream, uint16_t attribute) {
    if (!IsTerminal(stream)) return;
    std::fprintf(FileOf(stream), "\x1b[%dm", AnsiForeground(attribute));
}

void RestoreTextAttribute(Stream stream, uint16_t) {
    if (!IsTerminal(stream)) return;
    std::fputs("\x1b[0m", FileOf(stream));
}

void MoveCursorUp(Stream stream, int lines) {
    if (!IsTerminal(stream)) return;
    FILE* file = FileOf(stream);
    if (lines > 0) std::fprintf(file, "\x1b[%dA", lines);
    std::fputc('\r', file);
    std::fflush(file);
}

std::string ToOem(const std::string& text) { return text; }

}  // namespace platform

namespace platform {

namespace {

void AppendUtf8(std::string& out, uint32_t codePoint) {
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

}  // namespace

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

}  // namespace platform
