// Console output and keyboard on Win32. Console calls that fail (output
// redirected, no console at all) are ignored, as the callers expect.
#include "platform/Platform.h"

#include <conio.h>
#include <windows.h>

#include <vector>

namespace platform {

namespace {

HANDLE OutputHandle() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool ReadScreenInfo(CONSOLE_SCREEN_BUFFER_INFO& info) {
    return GetConsoleScreenBufferInfo(OutputHandle(), &info) != 0;
}

bool IsConsoleHandle(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

bool IsTerminal(Stream stream) {
    return IsConsoleHandle(GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE));
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

std::string ToOem(const std::string& text) {
    std::vector<char> buffer(text.size() + 1, '\0');
    if (!CharToOemA(text.c_str(), buffer.data())) return text;
    return std::string(buffer.data());
}

bool StdinIsInteractive() { return IsConsoleHandle(GetStdHandle(STD_INPUT_HANDLE)); }

// The console delivers keys without line buffering already.
void KeyboardBegin() {}
void KeyboardEnd() {}

bool KeyWaiting() { return StdinIsInteractive() && _kbhit() != 0; }

int ReadKey() {
    if (!KeyWaiting()) return -1;
    return _getch();
}

int ReadStdinChar() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return -1;
    unsigned char byte = 0;
    DWORD read = 0;
    if (!ReadFile(input, &byte, 1, &read, nullptr) || read != 1) return -1;
    return byte;
}

}  // namespace platform
