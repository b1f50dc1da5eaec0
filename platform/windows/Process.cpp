// Process, file and resource services on Win32.
#include "platform/Platform.h"
#include "platform/windows/WindowsInternal.h"

#include <windows.h>
// after windows.h
#include <psapi.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

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

bool EnsureParentDirectory(const std::string& filePath) {
    const size_t slash = filePath.find_last_of("\\/");
    if (slash == std::string::npos) return true;
    const std::string directory = filePath.substr(0, slash + 1);
    DWORD attributes = GetFileAttributesA(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryA(directory.c_str(), nullptr);
        attributes = GetFileAttributesA(directory.c_str());
    }
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FullPath(const std::string& path, std::string& result) {
    if (path.empty()) return false;
    std::vector<char> buffer(MAX_PATH);
    // The needed size can change between calls (another thread changing the
    // current directory), hence the loop.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return false;
        if (length < buffer.size()) {
            result.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length + 1);
    }
    return false;
}

bool FileVersion(const std::string& fileName, uint16_t parts[4]) {
    std::string file = fileName;
    if (file.empty()) {
        file = ExecutablePath();
        if (file.empty()) return false;
    } else if (file.size() > MAX_PATH - 1) {
        return false;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || info == nullptr ||
        infoSize < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    parts[0] = HIWORD(info->dwFileVersionMS);
    parts[1] = LOWORD(info->dwFileVersionMS);
    parts[2] = HIWORD(info->dwFileVersionLS);
    parts[3] = LOWORD(info->dwFileVersionLS);
    return true;
}

// ------------------------------------------------------------------ files

namespace {

HANDLE OpenForQuery(const std::string& path) {
    // No access rights: asks only for the file's identity, never waits, and
    // works for folders too (backup semantics).
    return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

FileFacts InspectFile(const std::string& path) {
    FileFacts facts;
    if (path.empty()) return facts;
    // Without long-path awareness the ANSI calls (the frame server's too)
    // refuse such a path, even where a system would take it.
    if (path.size() >= MAX_PATH) {
        facts.Kind = FileKind::NameTooLong;
        return facts;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        if (GetLastError() == ERROR_FILENAME_EXCED_RANGE) facts.Kind = FileKind::NameTooLong;
        return facts;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        facts.Kind = FileKind::Directory;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        facts.Kind = FileKind::Special;
    } else {
        facts.Kind = FileKind::Regular;
        facts.Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return facts;
}

FileRead ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    bytes.clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileRead::CannotOpen;
    FileRead result = FileRead::Done;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        result = FileRead::NotRegular;
    } else if (!GetFileSizeEx(file, &size)) {
        result = FileRead::Failed;
    } else if (static_cast<uint64_t>(size.QuadPart) > maxBytes) {
        result = FileRead::TooLarge;
    } else {
        bytes.reserve(static_cast<size_t>(size.QuadPart));
        unsigned char chunk[65536];
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file, chunk, sizeof chunk, &read, nullptr)) {
                result = FileRead::Failed;
                break;
            }
            if (read == 0) break;
            if (bytes.size() + read > maxBytes) {  // it grew while being read
                result = FileRead::TooLarge;
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + read);
        }
    }
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    if (result != FileRead::Done) bytes.clear();
    return result;
}

bool SameFile(const std::string& first, const std::string& second) {
    BY_HANDLE_FILE_INFORMATION a, b;
    HANDLE handles[2] = {OpenForQuery(first), OpenForQuery(second)};
    const bool known = handles[0] != INVALID_HANDLE_VALUE && handles[1] != INVALID_HANDLE_VALUE &&
                       GetFileInformationByHandle(handles[0], &a) && GetFileInformationByHandle(handles[1], &b);
    for (HANDLE handle : handles)
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return known && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

namespace windows {

std::FILE* WritingStream(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "wb");
    if (!file) _close(descriptor);
    return file;
}

}  // namespace windows

std::FILE* OpenExistingForWriting(const std::string& path) {
    return windows::WritingStream(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void PrepareStandardStreams() {}

void ReportFileSizeLimitAsError() {}

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

}  // namespace platform
