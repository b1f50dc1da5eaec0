#include "app/Dialogs.h"

#include "platform/Signals.h"
#include "support/Console.h"
#include "support/Text.h"

namespace {

// The most of a settings value that a message repeats: enough to recognise
// it, and a value of megabytes does not flood the console.
constexpr size_t kEchoedValueLimit = 200;

// Blanks the prompt line and the one above it, bottom up.
void ClearTwoLinesUpward() {
    for (int line = 0; line < 2; ++line) {
        Utils.ClearLine();
        Utils.MoveCursorUp(1);
    }
}

}  // namespace

void PrintError(const std::string& message) { ConsolePrint(MessageStream(), ColourError, "%s", message.c_str()); }

int Fail(const std::string& message) {
    PrintError(message);
    WaitBeforeExit();
    return -1;
}

int Closing(int exitCode) {
    // An interrupted run has kept its results; whoever interrupted it does
    // not want to press a key as well.
    if (!platform::InterruptionRequested()) WaitBeforeExit();
    return exitCode;
}

bool ContinueWithoutGPU(const std::vector<std::string>& notes, bool driverSources) {
    // A driver that is there but gave no GPU says why; that line stays.
    for (const std::string& note : notes) ConsolePrint(MessageStream(), ColourError, "\n%s", note.c_str());
    ConsolePrint(MessageStream(), ColourError, "\nIn order to measure GPU usage, %s.\n",
                 driverSources ? "an NVIDIA (NVML) or amdgpu driver is needed" : "GPU-Z must be running");
    ConsolePrint(MessageStream(), ColourReport, "Continue without GPU monitoring? [y/n]");
    const bool goOn = AskYesNo(10);
    ClearTwoLinesUpward();
    return goOn;
}

bool AcceptDefaultRange(uint32_t clipFrames, const std::string& rangeText) {
    Utils.ClearLine();
    ConsolePrint(MessageStream(), ColourError, "\rInvalid frame range specified:\n");
    ConsolePrint(MessageStream(), ColourError, "\r\"%s\"\n", ShortenedText(rangeText, kEchoedValueLimit).c_str());
    ConsolePrint(MessageStream(), ColourReport, "\rProceed with default (%u,%u)? [y/n]", 0u, clipFrames - 1);
    const bool accepted = AskYesNo(100);
    // The prompt, the range text and the heading, from the bottom up; the
    // cursor ends on the heading's line.
    Utils.ClearLine();
    Utils.MoveCursorUp(1);
    Utils.ClearLine();
    Utils.MoveCursorUp(1);
    Utils.ClearLine();
    return accepted;
}
