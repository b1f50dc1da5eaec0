// What the GPU's driver sources need from the system: the NVML library's
// names, directory listings, the process id.
#include "platform/Platform.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace platform {

std::vector<std::string> DirectoryEntries(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
        names.emplace_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::vector<std::string> NvmlLibraryNames() {
    std::vector<std::string> names{"nvml.dll"};
    // A 32-bit process would see the 32-bit folder as ProgramFiles; the
    // 64-bit one is ProgramW6432 in both.
    const char* programs = std::getenv("ProgramW6432");
    if (programs == nullptr || *programs == '\0') programs = std::getenv("ProgramFiles");
    if (programs != nullptr && *programs != '\0')
        names.push_back(std::string(programs) + "\\NVIDIA Corporation\\NVSMI\\nvml.dll");
    return names;
}

bool SysfsGraphicsDevices() { return false; }

uint32_t OwnProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

}  // namespace platform
