// Runs a program for a test and waits for it: arguments, extra environment,
// working directory, text on standard input, a time limit; collects the exit
// code and both output streams separately.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// ScratchDir, WriteBytes, ReadBytes, PathExists.
#include "tests/support/ScratchDir.h"

struct ProcessRun {
    std::string Executable;  // a path; no search through PATH
    std::vector<std::string> Arguments;
    // Added to the current environment; a name that exists already is
    // replaced (on Windows names compare without regard to case).
    std::vector<std::pair<std::string, std::string>> Environment;
    std::string WorkingDirectory;  // empty: the current directory
    // Written to standard input, which is then closed, so the program sees
    // the end of its input (also when this is empty).
    std::string Input;
    // POSIX: standard input is this file instead (Input is then unused).
    std::string InputPath;
    unsigned TimeoutMs = 60000;  // the program is killed when it runs longer
    // POSIX: the largest file the program may write, in bytes (0: no limit).
    uint64_t FileSizeLimit = 0;
    // POSIX: the reading ends of both output pipes are closed once the first
    // bytes have come, as "2>&1 | head -c1" does; later output finds no
    // reader.
    bool CloseOutputEarly = false;
    // POSIX: standard descriptors (0, 1, 2) the program starts with closed.
    std::vector<int> ClosedDescriptors;
    // Once standard error holds this text InterruptOccurrence times (or,
    // without a text, InterruptAfterMs after the start), the program is
    // interrupted InterruptCount times, InterruptIntervalMs apart: POSIX
    // sends InterruptSignal, Windows a Ctrl+C to the program's own console
    // (it gets one).
    std::string InterruptWhen;
    int InterruptOccurrence = 1;
    unsigned InterruptAfterMs = 0;
    int InterruptSignal = 0;
    int InterruptCount = 1;
    unsigned InterruptIntervalMs = 20;
};

struct ProcessResult {
    bool Started = false;
    std::string StartError;  // why it could not be started
    // As the program ended: on POSIX 0..255 (128 + n when killed by signal
    // n), on Windows the full 32-bit exit code. Compare with ExitCodeFor().
    uint32_t ExitCode = 0;
    int Signal = 0;  // POSIX: the signal that ended the program, else 0
    bool TimedOut = false;
    std::string Out;  // standard output, byte for byte
    std::string Err;  // standard error, byte for byte
};

ProcessResult RunProcess(const ProcessRun& run);

// The exit code a test observes for a program whose main returned `value`:
// ExitCodeFor(-1) is 255 on POSIX and 0xFFFFFFFF on Windows.
uint32_t ExitCodeFor(int value);

// A path the system's file calls accept. Under Wine a Unix path such as
// /tmp/x/Tachoro.exe becomes Z:\tmp\x\Tachoro.exe; elsewhere unchanged.
std::string NativePath(const std::string& path);

// The arguments this process was started with, without the program name.
std::vector<std::string> OwnArguments();

// For a test program playing a child that crashes on purpose: an unhandled
// fault ends the process at once with the fault's code, without the
// system's crash reporting (under Wine with a display that is a dialog that
// waits for a click). No effect on POSIX, where the signal ends the process.
void EndQuietlyOnUnhandledFault();

// True when this process runs under Wine (always false on POSIX).
bool RunningUnderWine();

// A symbolic link `link` to `target` (a path, or one relative to the link's
// folder) for a test, removed with the object: declare it after the folder
// that holds it. Under Wine, whose CreateSymbolicLink makes nothing, the
// Unix system's shell makes and removes it (Wine shows a link as what it
// leads to, and its own calls cannot remove one that leads nowhere).
class SymbolicLink {
public:
    SymbolicLink(const std::string& target, const std::string& link);
    ~SymbolicLink();
    SymbolicLink(const SymbolicLink&) = delete;
    SymbolicLink& operator=(const SymbolicLink&) = delete;
    // False where the system makes none (Windows without the privilege).
    bool Made() const { return !Link.empty(); }

private:
    std::string Link;
};

// Copies a file byte for byte, replacing the target. False on any failure.
bool CopyFileBytes(const std::string& from, const std::string& to);

// The command line that hands `arguments` to a Windows program unchanged
// through the runtime library's argument parsing (each argument quoted
// where needed, backslashes before quotes doubled).
std::string WindowsCommandLine(const std::vector<std::string>& arguments);
