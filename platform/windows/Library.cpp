// Dynamic libraries and the facts about the frame-server file on Win32.
#include "platform/Files.h"
#include "platform/Library.h"
#include "platform/Process.h"
#include "platform/windows/WindowsInternal.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace platform {

namespace {

bool SearchFile(const std::string& name, std::string& path) {
    std::vector<char> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length =
            SearchPathA(nullptr, name.c_str(), ".dll", static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return false;
        if (length < buffer.size()) {
            path.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length + 1);
    }
    return false;
}

// The trimmed text of a registry value under Software\Avisynth; empty when
// there is none or it is blank.
std::string PluginValue(HKEY root, REGSAM view, const char* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, "Software\\Avisynth", 0, KEY_READ | view, &key) != ERROR_SUCCESS) return std::string();
    // Two spare zero bytes so that a value of exactly the limit still ends.
    char buffer[2050];
    std::memset(buffer, 0, sizeof buffer);
    DWORD size = 2048;
    std::string folder;
    if (RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS) {
        const std::string text(buffer, strnlen(buffer, 2048));
        const char* blanks = " \t\r\n";
        const size_t begin = text.find_first_not_of(blanks);
        if (begin != std::string::npos) folder = text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
    }
    RegCloseKey(key);
    return folder;
}

}  // namespace

const char* DefaultFrameServerLibrary() { return "avisynth"; }

ImageFormat NativeLibraryFormat() { return ImageFormat::PE; }

void* LoadDynamicLibrary(const std::string& name) { return LoadLibraryA(name.c_str()); }

void* DynamicSymbol(void* library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool FreeDynamicLibrary(void* library) {
    return library != nullptr && FreeLibrary(static_cast<HMODULE>(library)) != 0;
}

bool ResolveLibraryFile(const std::string& name, std::string& path) {
    if (name.empty()) return false;
    // Asking the loader itself gives its search order (application
    // directory, system directories, PATH, known DLLs). Without resolving
    // references no other library is loaded and no initialisation runs.
    HMODULE module = LoadLibraryExA(name.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (module != nullptr) {
        const std::string found = windows::ModuleFileName(module);
        FreeLibrary(module);
        if (!found.empty()) {
            path = found;
            return true;
        }
    }
    // The loader refuses files it cannot run in this process (a 32-bit
    // library, a damaged image); those must still be found so that the
    // caller can say what is wrong with them.
    const DWORD loadError = GetLastError();
    std::string found;
    if (SearchFile(name, found) && InspectFile(found).Kind == FileKind::Regular) {
        path = found;
        return true;
    }
    SetLastError(loadError);
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

std::vector<PluginFolderSource> PluginFolderSources(bool is64Bit, const std::string&) {
    const REGSAM view = is64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    static const struct {
        HKEY root;
        const char* value;
        const char* label64;
        const char* label32;
        bool older;
    } kValues[] = {
        {HKEY_CURRENT_USER, "PluginDir+", "PluginDir+    (HKCU, x64):\t", "PluginDir+    (HKCU, x86):\t", true},
        {HKEY_LOCAL_MACHINE, "PluginDir+", "PluginDir+    (HKLM, x64):\t", "PluginDir+    (HKLM, x86):\t", true},
        {HKEY_CURRENT_USER, "PluginDir2_5", "PluginDir2_5  (HKCU, x64):\t", "PluginDir2_5  (HKCU, x86):\t", true},
        {HKEY_LOCAL_MACHINE, "PluginDir2_5", "PluginDir2_5  (HKLM, x64):\t", "PluginDir2_5  (HKLM, x86):\t", true},
        // Read only by builds made with GCC; only their own list names them.
        {HKEY_CURRENT_USER, "PluginDir+GCC", "PluginDir+GCC (HKCU, x64):\t", "PluginDir+GCC (HKCU, x86):\t", false},
        {HKEY_LOCAL_MACHINE, "PluginDir+GCC", "PluginDir+GCC (HKLM, x64):\t", "PluginDir+GCC (HKLM, x86):\t", false},
    };
    std::vector<PluginFolderSource> sources;
    for (const auto& entry : kValues) {
        const std::string folder = PluginValue(entry.root, view, entry.value);
        if (!folder.empty()) sources.push_back({is64Bit ? entry.label64 : entry.label32, folder, entry.older});
    }
    return sources;
}

}  // namespace platform
