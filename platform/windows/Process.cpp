// The running program on Win32: its lock, priority, paths and use of the
// processors and memory.
#include "platform/Process.h"
#include "platform/windows/WindowsInternal.h"

#include <windows.h>
// after windows.h
#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

namespace platform {

namespace {

uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

namespace windows {

// The full path of a loaded module, however long: the call truncates
// silently when the buffer is too small, so grow until it fits.
std::string ModuleFileName(HMODULE module) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) return std::string(buffer.data(), length);
        if (buffer.size() >= 65536) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace windows

LockResult AcquireSingleInstanceLock(const char* name) {
    // The handle is never closed: the system releases the mutex when the
    // process ends, whatever the end.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    if (mutex == nullptr) return LockResult::Failed;
    if (GetLastError() == ERROR_ALREADY_EXISTS) return LockResult::AlreadyRunning;
    return LockResult::Acquired;
}

void SetProcessPriority(int level) {
    DWORD priorityClass = NORMAL_PRIORITY_CLASS;
    if (level == 1) priorityClass = IDLE_PRIORITY_CLASS;
    if (level == 3) priorityClass = HIGH_PRIORITY_CLASS;
    SetPriorityClass(GetCurrentProcess(), priorityClass);
}

std::string ExecutablePath() { return windows::ModuleFileName(nullptr); }

std::string SettingsFilePath(std::string* missing) {
    const std::string executable = ExecutablePath();
    if (executable.empty()) {
        if (missing) *missing = "the program's own path is unknown";
        return std::string();
    }
    const size_t slash = executable.rfind('\\');
    if (slash == std::string::npos) return "\\Tachoro.ini";
    return executable.substr(0, slash) + "\\Tachoro.ini";
}

void PrepareStandardStreams() {}

bool ReadCpuTimes(CpuTimes& times) {
    FILETIME idle, kernel, user, creation, exitTime, processKernel, processUser;
    if (!GetSystemTimes(&idle, &kernel, &user)) return false;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exitTime, &processKernel, &processUser)) return false;
    times.systemKernel = FileTimeValue(kernel);
    times.systemUser = FileTimeValue(user);
    times.processKernel = FileTimeValue(processKernel);
    times.processUser = FileTimeValue(processUser);
    return true;
}

void* OpenOwnProcess() {
    return OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId());
}

void CloseOwnProcess(void* handle) {
    if (handle != nullptr) CloseHandle(static_cast<HANDLE>(handle));
}

bool ReadMemoryCounters(void* processHandle, MemoryCounters& counters) {
    if (processHandle == nullptr) return false;
    PROCESS_MEMORY_COUNTERS memory;
    ZeroMemory(&memory, sizeof memory);
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(static_cast<HANDLE>(processHandle), &memory, sizeof memory)) return false;
    counters.workingSetBytes = memory.WorkingSetSize;
    counters.privateBytes = memory.PagefileUsage;
    return true;
}

uint16_t CountOwnThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    uint32_t count = 0;
    const DWORD self = GetCurrentProcessId();
    if (Thread32First(snapshot, &entry)) {
        do {
            if (entry.th32OwnerProcessID == self) ++count;
            entry.dwSize = sizeof entry;
        } while (Thread32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return count > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count);
}

uint32_t OwnProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

const char* SystemName() { return "Windows x64"; }

}  // namespace platform
