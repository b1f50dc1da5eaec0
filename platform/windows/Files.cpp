// Where a write lands (links), what tells files apart, and the replacement of
// a file through a temporary file of our own, on Win32. The paths go to the
// wide calls with the "\\?\" prefix, so that a name at the system's limit
// (a 255-character name, a path past MAX_PATH) can be written.
#include "platform/Platform.h"
#include "platform/windows/WindowsInternal.h"

#include <windows.h>

#include <io.h>

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

HANDLE OpenForQuery(const std::wstring& path) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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
        stream = windows::WritingStream(file);
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

}  // namespace platform
