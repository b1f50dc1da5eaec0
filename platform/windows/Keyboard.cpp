// The keyboard and standard input on Win32.
#include "platform/Keyboard.h"
#include "platform/windows/WindowsInternal.h"

#include <conio.h>
#include <windows.h>

namespace platform {

bool StdinIsInteractive() { return windows::IsConsoleHandle(GetStdHandle(STD_INPUT_HANDLE)); }

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
