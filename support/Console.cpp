#include "support/Console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/Keyboard.h"
#include "platform/Library.h"
#include "platform/Signals.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace {

// The most characters of standard input a prompt reads for its answer.
constexpr int kTypedAheadLimit = 4096;

FILE* FileFor(platform::Stream stream) { return stream == platform::Stream::Out ? stdout : stderr; }

}  // namespace

CUtils Utils;

CUtils::CUtils()
    : SavedAttributes(platform::CurrentTextAttribute()), ConsoleWidth(platform::ConsoleWidth()) {}

CUtils::~CUtils() {
    // Whatever UseColor says now: a colour set earlier must not outlive us.
    if (ColourChanged) platform::RestoreTextAttribute(LastColourStream, SavedAttributes);
}

void CUtils::SetTextColour(platform::Stream stream, uint16_t attribute, bool enabled) {
    if (!enabled) return;
    ColourChanged = true;
    LastColourStream = stream;
    platform::SetTextAttribute(LastColourStream, attribute);
}

void CUtils::RestoreTextColour(platform::Stream stream, bool enabled) {
    if (enabled) platform::RestoreTextAttribute(stream, SavedAttributes);
}

void CUtils::MoveCursorUp(int lines) {
    std::fflush(FileFor(MessageStream()));
    platform::MoveCursorUp(MessageStream(), lines);
}

void CUtils::ClearLine() { ConsolePrint(MessageStream(), ColourUnchanged, "\r%s", PadLine("", ConsoleWidth).c_str()); }

platform::Stream MessageStream() { return Utils.Options.UseStdout ? platform::Stream::Out : platform::Stream::Err; }

void ConsolePrint(platform::Stream stream, uint16_t colour, const char* format, ...) {
    if (!format) return;
    if (colour != ColourUnchanged) Utils.SetTextColour(stream, colour, Utils.Options.UseColor);
    FILE* file = FileFor(stream);
    va_list args;
    va_start(args, format);
    // Names, settings values and the frame server's messages come from
    // outside: none of their control sequences reaches the terminal.
    const std::string text = ControlsReplaced(FormatTextV(format, args), true);
    va_end(args);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
    if (colour != ColourUnchanged) {
        Utils.RestoreTextColour(stream, Utils.Options.UseColor);
        std::fflush(file);
    }
}

void ShowStatus(const std::string& text) {
    ConsolePrint(MessageStream(), ColourUnchanged, "\r%s\r", PadLine(text, Utils.ConsoleWidth).c_str());
}

void ClearStatus() { ShowStatus(std::string()); }

void PrintPermanentLine(uint16_t colour, const std::string& text) {
    ConsolePrint(MessageStream(), colour, "\r%s\n", PadLine(text, Utils.ConsoleWidth).c_str());
}

void WaitBeforeExit() {
    if (!Utils.Options.PauseBeforeExit) return;
    // Without a keyboard no key can come: do not wait for one.
    if (!platform::StdinIsInteractive()) return;
    ConsolePrint(MessageStream(), ColourUnchanged, "\nPress any key to exit...");
    platform::KeyboardBegin();
    do {
        platform::SleepMs(100);
    } while (!platform::KeyWaiting() && !platform::InterruptionRequested());
    platform::KeyboardEnd();
    Utils.ClearLine();
}

bool AskYesNo(unsigned pollMs) {
    if (!platform::StdinIsInteractive()) {
        // Answers typed ahead or piped in; end of input answers no, and so
        // does input that never answers (</dev/zero) or an interruption.
        for (int read = 0; read < kTypedAheadLimit && !platform::InterruptionRequested(); ++read) {
            int character = platform::ReadStdinChar();
            if (character < 0 || character == 'N' || character == 'n') return false;
            if (character == 'Y' || character == 'y') return true;
        }
        return false;
    }
    platform::KeyboardBegin();
    bool answer = false;
    while (!platform::InterruptionRequested()) {
        platform::SleepMs(pollMs);
        if (!platform::KeyWaiting()) continue;
        int key = platform::ReadKey();
        if (key == 'Y' || key == 'y') {
            answer = true;
            break;
        }
        if (key == 'N' || key == 'n') break;
    }
    platform::KeyboardEnd();
    return answer;
}

platform::FileRead ReadFileText(const std::string& path, std::string& content, uint64_t maxBytes) {
    std::vector<uint8_t> bytes;
    const platform::FileRead result = platform::ReadRegularFile(path, maxBytes, bytes);
    content.assign(bytes.begin(), bytes.end());
    return result;
}

std::string GetFileVersionText(const std::string& fileName) {
    uint16_t parts[4];
    if (!platform::FileVersion(fileName, parts)) return "0.0.0.0";
    return FormatText("%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
}

std::string ToOemText(const std::string& text) { return platform::ToOem(text); }
