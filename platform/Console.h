// The console or terminal: whether a stream is one, its width, colours and
// cursor.
#pragma once

#include <cstdint>

namespace platform {

enum class Stream { Out, Err };

// True when the stream is an interactive console or terminal.
bool IsTerminal(Stream stream);

// Console width in columns at the time of the call: the screen buffer of
// standard output on Windows, the first terminal among stdout and stderr on
// POSIX; 80 when there is none.
int ConsoleWidth();

// The text attribute in force now (Windows console attribute); 7 (light grey
// on black) when there is no console.
uint16_t CurrentTextAttribute();

// Sets the text colour for output that follows on `stream`. Windows sets the
// console attribute of standard output whatever the stream; POSIX writes an
// ANSI sequence to the stream, only when it is a terminal.
void SetTextAttribute(Stream stream, uint16_t attribute);

// Restores the attribute saved at start-up (POSIX: resets the terminal colour
// on that stream when it is a terminal).
void RestoreTextAttribute(Stream stream, uint16_t savedAttribute);

// Moves the cursor to column 0 of the line `lines` above the current one.
// Windows: console of standard output; POSIX: ANSI sequence on `stream`, only
// when it is a terminal.
void MoveCursorUp(Stream stream, int lines);

}  // namespace platform
