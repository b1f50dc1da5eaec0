// The running program: its single-instance lock, standard streams,
// priority, where it and its settings live, and what it uses of the
// processors and memory.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

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

// The own process's id, as the drivers report processes.
uint32_t OwnProcessId();

// The system the program was built for, as the result files name it:
// "Windows x64", "Linux x64".
const char* SystemName();

}  // namespace platform
