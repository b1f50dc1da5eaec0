// Console output and the console-bound utilities. Every line the program
// shows goes through ConsolePrint.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Console.h"
#include "platform/Files.h"
#include "support/Text.h"

// Colour numbers (Windows console attributes) used by the program.
enum : uint16_t {
    ColourUnchanged = 0,
    ColourBanner = 10,
    ColourError = 11,
    ColourVersion = 12,
    ColourReport = 15,
};

// What the console needs of the settings, handed down by the run sequence.
struct ConsoleOptions {
    bool UseStdout = false;  // the program's messages go to standard output
    bool UseColor = true;
    bool PauseBeforeExit = false;
};

// Prints to `stream` (MessageStream() for the program's messages; standard
// output for what is asked for: the usage text, the frame-server report) in
// `colour` (0 leaves the colour alone), and flushes. A null format prints
// nothing. Control characters other than CR, LF and tab are shown as '?'
// (ControlsReplaced).
void ConsolePrint(platform::Stream stream, uint16_t colour, const char* format, ...) TACHORO_PRINTF(3, 4);

// The exit pause: waits for a key when PauseBeforeExit is on and a keyboard
// can answer; an interruption ends the wait.
void WaitBeforeExit();

// Waits for Y/y (true) or N/n (false), polling every pollMs. Without an
// interactive keyboard it reads standard input; end of input, a few thousand
// characters without an answer, and an interruption answer no.
bool AskYesNo(unsigned pollMs);

// Console state: the attribute and width found at start-up. Destruction
// restores the start-up colour.
class CUtils {
public:
    CUtils();
    virtual ~CUtils();

    void Configure(const ConsoleOptions& options) { Options = options; }

    void SetTextColour(platform::Stream stream, uint16_t attribute, bool enabled);
    void RestoreTextColour(platform::Stream stream, bool enabled);
    void MoveCursorUp(int lines);
    // "\r" and a padded empty line on the message stream.
    void ClearLine();

    uint16_t SavedAttributes;
    int32_t ConsoleWidth;
    ConsoleOptions Options;

private:
    bool ColourChanged = false;
    platform::Stream LastColourStream = platform::Stream::Err;
};

extern CUtils Utils;

// The stream of the program's messages: standard error, or standard output
// when the settings say so.
platform::Stream MessageStream();

// Short-hands for the console conventions, on the message stream.
void ShowStatus(const std::string& text);   // "\r%s\r", padded, colour 0
void ClearStatus();                         // ShowStatus("")
void PrintPermanentLine(uint16_t colour, const std::string& text);  // "\r%s\n", padded

// The largest text file the program reads (the settings file, the script):
// "a few MB" is far beyond any real one and still harmless to hold.
constexpr uint64_t kTextFileLimit = 8u << 20;
// The whole file as bytes, only from a regular file of at most maxBytes; any
// other outcome leaves `content` empty, so a half-read file is never taken
// for the whole.
platform::FileRead ReadFileText(const std::string& path, std::string& content,
                                uint64_t maxBytes = kTextFileLimit);
// "%u.%u.%u.%u" of the file's version; empty name = the program itself;
// "0.0.0.0" on any failure.
std::string GetFileVersionText(const std::string& fileName);
std::string ToOemText(const std::string& text);
