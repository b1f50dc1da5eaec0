#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

#include "platform/Console.h"

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

}  // namespace platform
