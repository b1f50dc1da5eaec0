#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "platform/Library.h"
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

bool FileVersion(const std::string& fileName, uint16_t parts[4]) {
    if (fileName.empty()) {
        parts[0] = TACHORO_VERSION_MAJOR;
        parts[1] = TACHORO_VERSION_MINOR;
        parts[2] = TACHORO_VERSION_PATCH;
        parts[3] = TACHORO_VERSION_TWEAK;
        return true;
    }
    // A shared library carries its version in its real file name after the
    // links are resolved: libavisynth.so.3.7.5 is 3.7.5.0.
    char* resolved = realpath(fileName.c_str(), nullptr);
    if (!resolved) return false;
    std::string name(resolved);
    std::free(resolved);
    name = name.substr(name.find_last_of('/') + 1);
    size_t marker = name.find(".so.");
    if (marker == std::string::npos) return false;
    std::string rest = name.substr(marker + 4);
    uint16_t found[4] = {0, 0, 0, 0};
    int count = 0;
    size_t position = 0;
    while (count < 4 && position < rest.size() && std::isdigit(static_cast<unsigned char>(rest[position]))) {
        unsigned long value = 0;
        while (position < rest.size() && std::isdigit(static_cast<unsigned char>(rest[position]))) {
            value = value * 10 + static_cast<unsigned long>(rest[position] - '0');
            if (value > 65535) return false;
            ++position;
        }
        found[count++] = static_cast<uint16_t>(value);
        if (position < rest.size() && rest[position] == '.') ++position;
        else break;
    }
    if (count == 0) return false;
    for (int index = 0; index < 4; ++index) parts[index] = found[index];
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

}  // namespace platform
