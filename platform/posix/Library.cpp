#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

void RecordDlError() {
    const char* text = dlerror();
    posix::SetLastErrorText(text ? text : "");
}

}  // namespace

const char* DefaultFrameServerLibrary() { return "libavisynth.so"; }

ImageFormat NativeLibraryFormat() { return ImageFormat::ELF; }

bool FileNamesIgnoreCase() { return false; }

const char* PathSeparators() { return "/"; }

std::string WorkingFolder() {
    std::string folder(256, '\0');
    while (getcwd(&folder[0], folder.size()) == nullptr) {
        if (errno != ERANGE) return std::string();
        folder.resize(folder.size() * 2);
    }
    folder.resize(std::strlen(folder.c_str()));
    return folder;
}

bool SetWorkingFolder(const std::string& folder) { return chdir(folder.c_str()) == 0; }

void* LoadDynamicLibrary(const std::string& name) {
    void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) RecordDlError();
    return library;
}

void* DynamicSymbol(void* library, const char* name) {
    dlerror();
    void* symbol = library ? dlsym(library, name) : nullptr;
    if (!symbol) RecordDlError();
    return symbol;
}

bool FreeDynamicLibrary(void* library) {
    if (!library) return false;
    if (dlclose(library) == 0) return true;
    RecordDlError();
    return false;
}

bool ResolveLibraryFile(const std::string& name, std::string& path) {
    if (name.find('/') != std::string::npos) {
        if (access(name.c_str(), F_OK) != 0) {
            posix::SetLastErrorFromErrno();
            return false;
        }
        path = name;
        return true;
    }
    // A bare name goes through the loader's own search: a trial load tells
    // which file it picks.
    void* library = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        RecordDlError();
        return false;
    }
    struct link_map* map = nullptr;
    bool found = dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name;
    if (found) path = map->l_name;
    dlclose(library);
    return found;
}

bool CanonicalFilePath(const std::string& file, std::string& path) {
    char* resolved = realpath(file.c_str(), nullptr);
    if (!resolved) {
        posix::SetLastErrorFromErrno();
        return false;
    }
    path = resolved;
    std::free(resolved);
    return true;
}

bool FileLastWriteTime(const std::string& path, LocalTime& time) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        posix::SetLastErrorFromErrno();
        return false;
    }
    struct tm local {};
    time_t seconds = info.st_mtime;
    if (!localtime_r(&seconds, &local)) return false;
    time.year = static_cast<unsigned>(local.tm_year + 1900);
    time.month = static_cast<unsigned>(local.tm_mon + 1);
    time.day = static_cast<unsigned>(local.tm_mday);
    time.hour = static_cast<unsigned>(local.tm_hour);
    time.minute = static_cast<unsigned>(local.tm_min);
    time.second = static_cast<unsigned>(local.tm_sec);
    return true;
}

std::vector<PluginFolderSource> PluginFolderSources(bool, const std::string& libraryPath) {
    std::vector<PluginFolderSource> sources;
    auto add = [&](const char* label, const std::string& folder) { sources.push_back({label, folder, true}); };
    const char* home = std::getenv("HOME");
    if (home && *home) {
        add("PluginDir     (user):\t", std::string(home) + "/.avisynth");
        add("PluginDir     (user, local):\t", std::string(home) + "/.local/lib/avisynth");
    }
    // Every entry, as the frame server splits the variable: an empty one
    // names "/avisynth", a colon at the end adds nothing.
    if (const char* searchPath = std::getenv("LD_LIBRARY_PATH")) {
        const std::string entries(searchPath);
        for (size_t start = 0; start < entries.size();) {
            size_t end = entries.find(':', start);
            if (end == std::string::npos) end = entries.size();
            add("PluginDir     (LD_LIBRARY_PATH):\t", entries.substr(start, end - start) + "/avisynth");
            start = end + 1;
        }
    }
    const size_t slash = libraryPath.find_last_of('/');
    if (slash != std::string::npos) add("PluginDir     (system):\t", libraryPath.substr(0, slash) + "/avisynth");
    return sources;
}

std::string NativePathText(const std::string& path) { return path; }

std::vector<std::string> FolderEntryNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* directory = opendir(folder.c_str());
    if (!directory) return names;
    while (const struct dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
    return names;
}

}  // namespace platform
