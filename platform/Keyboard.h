// Keys and characters from standard input.
#pragma once

namespace platform {

// True when standard input is an interactive console/terminal.
bool StdinIsInteractive();

// Puts an interactive terminal into non-canonical, no-echo mode (POSIX) for
// key polling. Nested calls are counted; the mode is restored by the last
// KeyboardEnd, at process exit and on fatal signals. No effect on Windows.
void KeyboardBegin();
void KeyboardEnd();

// True when a key is waiting (interactive input only; never blocks).
bool KeyWaiting();

// Reads one waiting key without echo (interactive input). -1 when none.
int ReadKey();

// Reads one character from a non-interactive standard input, blocking.
// -1 at end of input or on error, and (POSIX) when an interruption comes
// while it waits.
int ReadStdinChar();

}  // namespace platform
