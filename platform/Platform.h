// The one interface between Tachoro and the operating system. Two
// implementations exist: platform/windows (Win32) and platform/posix (Linux).
// Nothing outside platform/ includes an operating-system header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A processor (structured) exception turned into a C++ exception object:
// what GuardedCall throws for a fault, with the Windows exception code.
class SE_Exception {
public:
    uint32_t ExceptionCode;
};

namespace platform {

// ---------------------------------------------------------------- console

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

// Converts ANSI text to the OEM code page (identity on POSIX).
std::string ToOem(const std::string& text);

// UTF-16 text as narrow text: the ANSI code page on Windows (characters
// without an ANSI form become blanks), UTF-8 on POSIX. Cut at a whole
// character so that the result holds at most maxBytes bytes.
std::string WideToNarrow(const std::u16string& text, size_t maxBytes);

// --------------------------------------------------------------- keyboard

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

// ------------------------------------------------------------------- time

struct CounterReading {
    int64_t count = 0;
    int64_t frequency = 0;
};

// The high-resolution counter (Windows: performance counter read with the
// thread pinned to the first processor; POSIX: CLOCK_MONOTONIC in ns).
CounterReading ReadPerformanceCounter();

// False when the high-resolution counter cannot be queried at all.
bool PerformanceCounterWorks();

// True when the high-resolution counter and the tick clock (MonotonicMs) are
// read from one source, so that neither can be checked against the other
// (POSIX: CLOCK_MONOTONIC; Windows: the performance counter and the tick
// count are separate).
bool CounterIsTickClock();

// Milliseconds since an arbitrary start, 64 bits wide: it never wraps
// (GetTickCount64; POSIX: CLOCK_MONOTONIC).
uint64_t MonotonicMs();

void SleepMs(uint32_t milliseconds);

// --------------------------------------------------------------- process

enum class LockResult { Acquired, AlreadyRunning, Failed };

// The single-instance lock, held until the process ends (never released
// explicitly; the system drops it when the process dies).
LockResult AcquireSingleInstanceLock(const char* name);

// The standard streams the way the program relies on them, called first
// thing: any of descriptors 0, 1 and 2 that is closed is opened on the null
// device, so that no file opened later (the single-instance lock) takes its
// number and receives console text; and output to a pipe whose reader has
// gone fails as an error instead of ending the process (SIGPIPE ignored).
// No effect on Windows: files never take the place of a standard handle, and
// a write to a broken pipe only fails there.
void PrepareStandardStreams();

// 1 = idle/lowest, 3 = high, anything else = normal. Failures are ignored.
void SetProcessPriority(int level);

// Full path of the running executable; empty on failure.
std::string ExecutablePath();

// Where the settings file lives: beside the executable on Windows,
// $XDG_CONFIG_HOME/tachoro/Tachoro.ini on POSIX. Empty when unknown; then
// `missing` says what is missing (POSIX: "neither HOME nor XDG_CONFIG_HOME
// is set").
std::string SettingsFilePath(std::string* missing = nullptr);

// Creates the directory that will hold `filePath` when it is missing
// (POSIX settings directory). True when it exists afterwards.
bool EnsureParentDirectory(const std::string& filePath);

// Full absolute path of `path` (GetFullPathNameA / realpath-like, without
// requiring the file to exist). False when it cannot be formed.
bool FullPath(const std::string& path, std::string& result);

// The four parts of a file version. An empty name means the program itself.
// False when there is none.
bool FileVersion(const std::string& fileName, uint16_t parts[4]);

// ------------------------------------------------------------------ files

// What a path names, symbolic links followed. Special: a device, a pipe, a
// socket: nothing that holds a fixed text. NameTooLong: the path is longer
// than the system's limit, so nothing can be said about the file.
enum class FileKind { Missing, Regular, Directory, Special, NameTooLong };
struct FileFacts {
    FileKind Kind = FileKind::Missing;
    uint64_t Size = 0;  // regular files only
};
FileFacts InspectFile(const std::string& path);

enum class FileRead { Done, CannotOpen, NotRegular, TooLarge, Failed };
// Reads a regular file of at most maxBytes bytes whole. Opening never waits
// (a pipe without a writer, a device), and no more than maxBytes + 1 bytes
// are ever read, so a device that never ends cannot exhaust memory.
FileRead ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes);

// True when both paths name one existing file, however it is reached
// (symbolic or hard links): device and inode, or volume and file ID.
bool SameFile(const std::string& first, const std::string& second);

// The file a write to `path` reaches: the path itself, or, where it is a
// symbolic link, the file the link leads to (through every link on the way;
// Windows: the final path of an existing file, which also resolves the
// links Wine shows as plain files). `dangling` is set when the path is a
// link that leads to no file.
std::string WriteTarget(const std::string& path, bool* dangling = nullptr);

// What tells two files apart: an existing file's device and inode (volume
// serial and file ID), links followed; for a file that does not exist yet,
// the full path it would have once the links of its name and its folders
// are resolved (Windows: in lower case, as names ignore case there).
struct FileIdentity {
    bool Exists = false;
    uint64_t Device = 0;
    uint64_t Index = 0;
    std::string Place;
};
FileIdentity IdentifyFile(const std::string& path);
inline bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
    if (a.Exists != b.Exists) return false;
    return a.Exists ? a.Device == b.Device && a.Index == b.Index : a.Place == b.Place;
}

// A new file that replaces `target` whole or not at all. It is written
// under a temporary name of our own in the target's folder,
// ".tachoro-<n>.tmp" (n from 0 to 15): short, so that a target whose name or
// path is at the system's limit can be written too. While it is open it is
// locked against other processes (POSIX: flock; Windows: no sharing), so
// one that is not locked was left by a process that ended while writing it:
// it is removed (POSIX) or emptied (Windows) and used. The target is named
// as given: a link there is replaced by the file (see WriteTarget).
// Destroyed before Commit, the temporary file is removed.
class FileReplacement {
public:
    FileReplacement() = default;
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Creates the temporary file. POSIX: it will take the mode and owner
    // (where the process may set it) of the regular file `modeOf`, by
    // default the target; where there is none, those of any new file.
    // False with the system's reason (SystemErrorText).
    bool Begin(const std::string& target, const std::string& modeOf = std::string());
    // Where the content goes (binary).
    std::FILE* Stream() const { return stream; }
    // Flushes the content to the disk and sets the mode. False with the
    // system's reason.
    bool Sync();
    // Gives the synced file the target's name, replacing the old file in one
    // step (rename; MoveFileEx with MOVEFILE_REPLACE_EXISTING), and closes
    // it. False with the system's reason; the temporary file is then removed.
    bool Commit();

private:
    void Discard();

    std::FILE* stream = nullptr;
    std::string target;
    std::string temporary;  // POSIX: the name in the folder; Windows: the path
    intptr_t folder = -1;   // POSIX: the target's folder, open
    bool keepMode = false;
    uint32_t mode = 0, owner = 0, group = 0;
};

// Opens an existing file, device or pipe for writing in binary mode without
// waiting (a pipe without a reader fails at once). Null on failure.
std::FILE* OpenExistingForWriting(const std::string& path);

// Renames `from` to `to`, replacing an existing `to` in one step (rename;
// MoveFileExA with MOVEFILE_REPLACE_EXISTING).
bool MoveFileReplacing(const std::string& from, const std::string& to);

// The names in a directory, "." and ".." left out, in no particular order;
// empty when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& path);

// A write beyond the process's file-size limit fails with an error instead of
// ending the process (POSIX: SIGXFSZ ignored). No effect on Windows.
void ReportFileSizeLimitAsError();

// -------------------------------------------------- processor time/memory

// Times in 100 ns units. System kernel time includes idle time.
struct CpuTimes {
    uint64_t systemKernel = 0;
    uint64_t systemUser = 0;
    uint64_t processKernel = 0;
    uint64_t processUser = 0;
};
bool ReadCpuTimes(CpuTimes& times);

struct MemoryCounters {
    uint64_t workingSetBytes = 0;
    uint64_t privateBytes = 0;
};

// A handle to the own process for memory queries (OpenProcess on Windows).
void* OpenOwnProcess();
void CloseOwnProcess(void* handle);
bool ReadMemoryCounters(void* processHandle, MemoryCounters& counters);

// Threads of the own process; 0 on failure.
uint16_t CountOwnThreads();

// ------------------------------------------------------ dynamic libraries

// The library name used when none is configured: "avisynth" on Windows,
// "libavisynth.so" on POSIX.
const char* DefaultFrameServerLibrary();

// The image format of the libraries the system's loader takes.
enum class ImageFormat { PE, ELF };
ImageFormat NativeLibraryFormat();

// True when the file system ignores the case of file names (Windows).
bool FileNamesIgnoreCase();
// The characters that separate a path's folders: "\\/" on Windows, "/" on
// POSIX (where a backslash is part of a name).
const char* PathSeparators();
// The process's working folder; empty when it cannot be read. Setting it is
// false when the system refuses.
std::string WorkingFolder();
bool SetWorkingFolder(const std::string& folder);

// (Not named LoadLibrary/FreeLibrary: those are macros in the Windows headers.)
void* LoadDynamicLibrary(const std::string& name);
void* DynamicSymbol(void* library, const char* name);
bool FreeDynamicLibrary(void* library);

// The file the loader would use for `name`: a path as given, a bare name
// through the system's search. False when it cannot be found.
bool ResolveLibraryFile(const std::string& name, std::string& path);

// The path of an existing file in its canonical form (Windows: device path
// mapped back to a drive letter; POSIX: realpath). False when the file could
// not be mapped/resolved at all; true with `path` unchanged when no drive
// letter matched.
bool CanonicalFilePath(const std::string& file, std::string& path);

struct LocalTime {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// Last-write time of a file in local time. False when it cannot be read.
bool FileLastWriteTime(const std::string& path, LocalTime& time);

// A place the frame server takes a plug-in auto-load folder from: the label
// that says which (label, ":", tab) and the folder it names there (the
// registry's text, or the path formed).
struct PluginFolderSource {
    std::string Label;
    std::string Folder;
    // Read by the frame server's versions that do not name their folders.
    bool Older = true;
};

// The places AviSynth+ 3.7.5 builds its auto-load list from, in its order.
// POSIX: ~/.avisynth, ~/.local/lib/avisynth, "avisynth" in every entry of
// LD_LIBRARY_PATH, "avisynth" beside the library (`libraryPath`). Windows,
// the registry key Software\Avisynth in the view of `is64Bit`: "PluginDir+"
// of HKCU and HKLM, then "PluginDir2_5" of HKCU and HKLM (builds made with
// MSVC), and "PluginDir+GCC" of HKCU and HKLM (builds made with GCC, which
// read no other value); only the values present.
std::vector<PluginFolderSource> PluginFolderSources(bool is64Bit, const std::string& libraryPath);

// A path in the system's own spelling (Windows: backslashes for slashes).
std::string NativePathText(const std::string& path);

// The names of the entries of a folder ("." and ".." left out); empty when it
// cannot be read.
std::vector<std::string> FolderEntryNames(const std::string& folder);

// --------------------------------------------------------------- errors

// The system's text for the calling thread's last error (FormatMessageA of
// GetLastError; POSIX: the text the last failing platform call recorded, for
// example dlerror). Empty when there is none.
std::string SystemErrorText();

// Forgets the last error (SetLastError(0) / clears the recorded text).
void ClearSystemError();

// ------------------------------------------------------- fault guarding

// Runs fn(context). A processor fault (access violation, division by zero,
// stack overflow, ...) raised on this thread while fn runs makes GuardedCall
// throw SE_Exception with the Windows exception code. C++ exceptions thrown
// by fn pass through unchanged. Faults outside every guarded call keep the
// system's default behaviour. Frames between the fault and GuardedCall are
// abandoned without running destructors (they are never unwound from the
// faulting instruction), so fn must keep everything that must survive
// outside its own frame. The caller's registers and floating-point control
// state are as they were before the call.
void GuardedCall(void (*fn)(void*), void* context);

// A processor fault on another thread (a frame-server worker) while a thread
// is inside GuardedCall, or was in one before, ends that thread's innermost
// guarded call the same way, with the worker's code; the faulting thread is
// parked for good (it cannot go on). POSIX: the guarding thread leaves its
// guard as soon as it waits in the kernel (for the worker, as a rule), else
// at its next guarded call. Windows: at its next guarded call, else see
// SetWorkerFaultEnding. The code of the first such fault; 0 while there was
// none. After one, the frame server's environment and library must be left
// alone: they may wait for the parked thread.
uint32_t WorkerFaultCode();

// Windows: the main thread may wait in the kernel for the faulted worker,
// and no change of its context gets it out of such a wait. When it has not
// left through a guard by itself shortly after a worker's fault, the guarding
// thread is suspended where it is and ending(code, context) runs on a thread
// of the fault guard's own: it must finish the run from state kept outside
// the abandoned frames and end the process (EndProcessNow); if it returns,
// the process ends with -1. Set it before the guarded work, clear it with a
// null ending. POSIX keeps it unused: there the guarding thread always
// leaves through its guard.
void SetWorkerFaultEnding(void (*ending)(uint32_t code, void* context), void* context);

// Ends the process with exitCode, from any thread, after flushing the C
// streams: the program's own exit handlers do not run (the thread that is
// held may be inside what they tear down) and no library is unloaded first.
// Windows: the other threads end, then the libraries get their
// process-detach notification as at any process end. POSIX: _exit.
[[noreturn]] void EndProcessNow(int exitCode);

// ---------------------------------------------------------- interruption

// While armed, the first interruption (POSIX: SIGINT, SIGTERM, SIGHUP;
// Windows: Ctrl+C, Ctrl+Break, closing the console) only raises a flag that
// InterruptionRequested reads; a second one ends the process at once, the
// way it would have ended without us (terminal restored). A signal the
// process was started to ignore stays ignored. Disarmed, the actions are
// those from before ArmInterruption; the flag stays raised. Arming nests:
// only the outermost pair changes the actions.
void ArmInterruption();
void DisarmInterruption();
// While held (armed; holds nest), a second interruption ends the process
// only when the outermost hold is released: files being written are
// finished first.
void HoldInterruption();
void ReleaseInterruption();
bool InterruptionRequested();
// The exit code that says the run was interrupted: 128 + the signal number
// (POSIX), 0xC000013A, the Ctrl+C exit status (Windows); 0 when no
// interruption came.
int InterruptionExitCode();

// ----------------------------------------------------------- GPU monitor

// Calls visit(title, context) for the title of every top-level window
// (Windows). POSIX has no windows: when the shared object "/GPUZShMem"
// exists it calls visit once, with the text of the companion object
// "/GPUZShMem.title" when that exists, else with "GPU-Z"; otherwise never.
void ForEachWindowTitle(void (*visit)(const char* title, void* context), void* context);

struct SharedBlock {
    const uint8_t* data = nullptr;
    size_t size = 0;
    void* handle = nullptr;
};
// Opens and maps the named block read/write ("GPUZShMem"). False with the
// system's error text in `error` on failure.
bool OpenSharedBlock(const char* name, SharedBlock& block, std::string& error);
// Closes the mapping handle; the view stays mapped until the process ends.
void CloseSharedBlockHandle(SharedBlock& block);

// The names the NVIDIA management library (NVML) is loaded by, in the order
// tried: Windows "nvml.dll" through the system's search (where the driver
// installs it), then its older place, NVSMI under the Program Files folder;
// POSIX "libnvidia-ml.so.1" through the dynamic loader's search.
std::vector<std::string> NvmlLibraryNames();

// True where the kernel lists the graphics devices under /sys/class/drm
// (POSIX: Linux); there the amdgpu driver's files are read.
bool SysfsGraphicsDevices();

// The own process's id, as the drivers report processes.
uint32_t OwnProcessId();

// ---------------------------------------------------------------- results

// The counter for timing single frames: cheap enough to read once per frame
// (Windows: QueryPerformanceCounter without pinning the thread, which is
// consistent across processors on every supported system; POSIX:
// CLOCK_MONOTONIC in ns). Ticks, and ticks per second (never 0).
int64_t ReadFrameCounter();
int64_t FrameCounterFrequency();

// Narrow text as UTF-8: converted from the ANSI code page on Windows; POSIX
// narrow text is UTF-8 already and comes back unchanged (invalid sequences
// included: the caller repairs them).
std::string NarrowToUtf8(const std::string& text);

// The system the program was built for, as the result files name it:
// "Windows x64", "Linux x64".
const char* SystemName();

}  // namespace platform
