// Dynamic libraries and the facts about the frame-server file on Win32.
#include "platform/Platform.h"
#include "platform/windows/WindowsInternal.h"

#include <windows.h>
// after windows.h
#include <psapi.h>

#include <cctype>
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

bool EqualIgnoringCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Replaces the device part of an NT path ("\Device\HarddiskVolume2\x")
// with the drive letter that names the same device. False when none does.
bool DevicePathToDrive(const std::string& devicePath, std::string& path) {
    // Some systems (Wine) report the object-manager form of a drive path,
    // "\??\Z:\dir\file", which already carries the drive letter.
    if (devicePath.size() > 7 && devicePath.compare(0, 4, "\\??\\") == 0 &&
        std::isalpha(static_cast<unsigned char>(devicePath[4])) && devicePath[5] == ':' && devicePath[6] == '\\') {
        path = devicePath.substr(4);
        return true;
    }
    const DWORD needed = GetLogicalDriveStringsA(0, nullptr);
    if (needed == 0) return false;
    std::vector<char> drives(needed + 1, '\0');
    const DWORD length = GetLogicalDriveStringsA(static_cast<DWORD>(drives.size()), drives.data());
    if (length == 0 || length >= drives.size()) return false;
    std::vector<char> device(4096);
    for (const char* drive = drives.data(); *drive != '\0'; drive += std::strlen(drive) + 1) {
        const char name[3] = {drive[0], ':', '\0'};
        if (QueryDosDeviceA(name, device.data(), static_cast<DWORD>(device.size())) == 0) continue;
        const size_t deviceLength = std::strlen(device.data());
        if (deviceLength == 0 || deviceLength >= devicePath.size()) continue;
        if (!EqualIgnoringCase(devicePath.c_str(), device.data(), deviceLength)) continue;
        if (devicePath[deviceLength] != '\\') continue;
        path = std::string(name) + devicePath.substr(deviceLength);
        return true;
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

bool FileNamesIgnoreCase() { return true; }

const char* PathSeparators() { return "\\/"; }

std::string WorkingFolder() {
    const DWORD size = GetCurrentDirectoryA(0, nullptr);
    if (size == 0) return std::string();
    std::string folder(size, '\0');
    const DWORD length = GetCurrentDirectoryA(size, &folder[0]);
    if (length == 0 || length >= size) return std::string();
    folder.resize(length);
    return folder;
}

bool SetWorkingFolder(const std::string& folder) { return SetCurrentDirectoryA(folder.c_str()) != 0; }

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

bool CanonicalFilePath(const std::string& file, std::string& path) {
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    HANDLE mapping = CreateFileMappingA(handle, nullptr, PAGE_READONLY, 0, 1, nullptr);
    CloseHandle(handle);
    if (mapping == nullptr) return false;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 1);
    if (view == nullptr) {
        CloseHandle(mapping);
        return false;
    }
    // Large enough for any NT path, so the name is never cut.
    std::vector<char> mapped(32768);
    const DWORD length =
        GetMappedFileNameA(GetCurrentProcess(), view, mapped.data(), static_cast<DWORD>(mapped.size()));
    if (length != 0 && length < mapped.size()) DevicePathToDrive(std::string(mapped.data(), length), path);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return true;
}

bool FileLastWriteTime(const std::string& path, LocalTime& time) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0x27, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME creation, access, write;
    const BOOL haveTime = GetFileTime(file, &creation, &access, &write);
    if (!CloseHandle(file) || !haveTime) return false;
    FILETIME local;
    SYSTEMTIME fields;
    if (!FileTimeToLocalFileTime(&write, &local) || !FileTimeToSystemTime(&local, &fields)) return false;
    time.year = fields.wYear;
    time.month = fields.wMonth;
    time.day = fields.wDay;
    time.hour = fields.wHour;
    time.minute = fields.wMinute;
    time.second = fields.wSecond;
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

std::vector<std::string> FolderEntryNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

std::string NativePathText(const std::string& path) {
    std::string text = path;
    for (char& character : text)
        if (character == '/') character = '\\';
    return text;
}

}  // namespace platform
