// Files on Win32: what a path names, reading a file whole, where a write
// lands (links), what tells files apart, the replacement of a file through a
// temporary file of our own, and the spelling of paths. Where a write lands
// and the replacement go to the wide calls with the "\\?\" prefix, so that a
// name at the system's limit (a 255-character name, a path past MAX_PATH) can
// be written.
#include "platform/Files.h"

#include <windows.h>
// after windows.h
#include <psapi.h>

#include <fcntl.h>
#include <io.h>

#include <cctype>
#include <cstring>
#include <vector>

namespace platform {

namespace {

std::wstring Widened(const std::string& text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

// The full path of `path` with the prefix that lifts MAX_PATH.
std::wstring ExtendedPath(const std::string& path) {
    const std::wstring wide = Widened(path);
    std::vector<wchar_t> full(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return wide;
        if (length < full.size()) {
            const std::wstring result(full.data(), length);
            if (result.compare(0, 4, L"\\\\?\\") == 0 || result.compare(0, 4, L"\\\\.\\") == 0) return result;
            if (result.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + result.substr(2);
            return L"\\\\?\\" + result;
        }
        full.resize(length + 1);
    }
    return wide;
}

// The narrow form of a final path ("\\?\C:\x" -> "C:\x", "\\?\UNC\s\x" ->
// "\\s\x"); false when a character has no narrow form.
bool NarrowPath(std::wstring path, std::string& narrow) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) path = L"\\\\" + path.substr(8);
    else if (path.compare(0, 4, L"\\\\?\\") == 0) path = path.substr(4);
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr,
                                         &lossy);
    if (size <= 0 || lossy) return false;
    narrow.assign(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &narrow[0], size, nullptr, nullptr);
    return true;
}

// No access rights: asks only for the file's identity, never waits, and
// works for folders too (backup semantics).
HANDLE OpenForQuery(const std::wstring& path) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
HANDLE OpenForQuery(const std::string& path) {
    return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The path of an open file with every link resolved; empty on failure.
std::wstring FinalPath(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), VOLUME_NAME_DOS);
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
    return std::wstring();
}

// A runtime-library stream over a handle opened for writing; the handle is
// closed on failure.
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

constexpr int kTemporarySlots = 16;

std::string TemporaryName(int slot) { return ".tachoro-" + std::to_string(slot) + ".tmp"; }

}  // namespace

std::string WriteTarget(const std::string& path, bool* dangling) {
    if (dangling) *dangling = false;
    const std::wstring extended = ExtendedPath(path);
    const DWORD attributes = GetFileAttributesW(extended.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return path;
    const HANDLE file = OpenForQuery(extended);
    if (file == INVALID_HANDLE_VALUE) {
        if (dangling) *dangling = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        return path;
    }
    const std::wstring final = FinalPath(file);
    CloseHandle(file);
    std::string target;
    return !final.empty() && NarrowPath(final, target) ? target : path;
}

FileIdentity IdentifyFile(const std::string& path) {
    FileIdentity identity;
    const std::wstring extended = ExtendedPath(path);
    HANDLE file = OpenForQuery(extended);
    BY_HANDLE_FILE_INFORMATION information;
    if (file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &information)) {
        identity.Exists = true;
        identity.Device = information.dwVolumeSerialNumber;
        identity.Index = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
        CloseHandle(file);
        return identity;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    // Not there yet: the folder's final path and the name.
    std::wstring place = extended;
    const size_t slash = extended.rfind(L'\\');
    const HANDLE folder = OpenForQuery(extended.substr(0, slash));
    if (folder != INVALID_HANDLE_VALUE) {
        const std::wstring final = FinalPath(folder);
        if (!final.empty()) place = final + extended.substr(slash);
        CloseHandle(folder);
    }
    CharLowerBuffW(&place[0], static_cast<DWORD>(place.size()));
    const int size = WideCharToMultiByte(CP_UTF8, 0, place.data(), static_cast<int>(place.size()), nullptr, 0,
                                         nullptr, nullptr);
    identity.Place.assign(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, place.data(), static_cast<int>(place.size()), &identity.Place[0], size,
                            nullptr, nullptr);
    return identity;
}

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
    if (!stream) return;
    // Removed on closing, while no other process can have opened it.
    FILE_DISPOSITION_INFO remove = {TRUE};
    SetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), FileDispositionInfo,
                               &remove, sizeof remove);
    std::fclose(stream);
    stream = nullptr;
}

bool FileReplacement::Begin(const std::string& targetPath, const std::string&) {
    Discard();
    target = targetPath;
    // Access and modes are the folder's to give (inherited permissions).
    const size_t slash = targetPath.find_last_of("\\/");
    const std::string folderPart = slash == std::string::npos ? std::string() : targetPath.substr(0, slash + 1);
    DWORD error = ERROR_SHARING_VIOLATION;
    for (int slot = 0; slot < kTemporarySlots; ++slot) {
        const std::wstring path = ExtendedPath(folderPart + TemporaryName(slot));
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            continue;  // none of ours
        // No sharing but deletion (the rename): while it is open, no other
        // process can open it, so one that opens is free to empty it.
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            if (error == ERROR_SHARING_VIOLATION) continue;
            break;
        }
        temporary = folderPart + TemporaryName(slot);
        stream = WritingStream(file);
        if (stream) return true;
        error = GetLastError();
        break;
    }
    SetLastError(error);
    return false;
}

bool FileReplacement::Sync() {
    if (!stream) return false;
    if (std::fflush(stream) != 0 || std::ferror(stream) ||
        !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))))
        return false;
    return true;
}

bool FileReplacement::Commit() {
    if (!stream) return false;
    if (!MoveFileExW(ExtendedPath(temporary).c_str(), ExtendedPath(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        Discard();
        SetLastError(error);
        return false;
    }
    std::fclose(stream);
    stream = nullptr;
    return true;
}

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

std::FILE* OpenExistingForWriting(const std::string& path) {
    return WritingStream(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void ReportFileSizeLimitAsError() {}

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
