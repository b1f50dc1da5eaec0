// Console output on Win32. Console calls that fail (output redirected, no
// console at all) are ignored, as the callers expect.
#include "platform/Console.h"
#include "platform/windows/WindowsInternal.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE OutputHandle() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool ReadScreenInfo(CONSOLE_SCREEN_BUFFER_INFO& info) {
    return GetConsoleScreenBufferInfo(OutputHandle(), &info) != 0;
}

}  // namespace

namespace windows {

bool IsConsoleHandle(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace windows

bool IsTerminal(Stream stream) {
    return windows::IsConsoleHandle(GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE));
}

int ConsoleWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadScreenInfo(info)) return 80;
    return info.dwSize.X;
}

uint16_t CurrentTextAttribute() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadScreenInfo(info)) return 7;
    return info.wAttributes;
}

// The console has one attribute for both streams; it belongs to standard
// output's screen buffer whichever stream the text goes to.
void SetTextAttribute(Stream, uint16_t attribute) {
    SetConsoleTextAttribute(OutputHandle(), attribute);
}

void RestoreTextAttribute(Stream, uint16_t savedAttribute) {
    SetConsoleTextAttribute(OutputHandle(), savedAttribute);
}

void MoveCursorUp(Stream, int lines) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ReadScreenInfo(info)) return;
    COORD position;
    position.X = 0;
    position.Y = static_cast<SHORT>(info.dwCursorPosition.Y - lines);
    SetConsoleCursorPosition(OutputHandle(), position);
}

}  // namespace platform
