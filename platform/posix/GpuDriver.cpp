// What the GPU's driver sources need from the system: the NVML library's
// name, the directories of sysfs, the process id.
#include <dirent.h>
#include <unistd.h>

#include <cstring>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

std::vector<std::string> DirectoryEntries(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) {
        posix::SetLastErrorFromErrno();
        return names;
    }
    while (const dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        names.emplace_back(entry->d_name);
    }
    closedir(directory);
    return names;
}

// The versioned name: the unversioned link comes only with the development
// package.
std::vector<std::string> NvmlLibraryNames() { return {"libnvidia-ml.so.1"}; }

bool SysfsGraphicsDevices() { return true; }

uint32_t OwnProcessId() { return static_cast<uint32_t>(getpid()); }

}  // namespace platform
