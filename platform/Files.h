// Files, folders and paths: what a path names, reading and replacing files
// whole, the system's spelling of paths.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// What a path names, symbolic links followed. Special: a device, a pipe, a
// socket: nothing that holds a fixed text. NameTooLong: the path is longer
// than the system's limit, so nothing can be said about the file.
enum class FileKind { Missing, Regular, Directory, Special, NameTooLong };
struct FileFacts {
    FileKind Kind = FileKind::Missing;
    uint64_t Size = 0;  // regular files only
};
FileFacts InspectFile(const std::string& path);

enum class FileRead { Done, CannotOpen, NotRegular, TooLarge, Failed };
// Reads a regular file of at most maxBytes bytes whole. Opening never waits
// (a pipe without a writer, a device), and no more than maxBytes + 1 bytes
// are ever read, so a device that never ends cannot exhaust memory.
FileRead ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes);

// True when both paths name one existing file, however it is reached
// (symbolic or hard links): device and inode, or volume and file ID.
bool SameFile(const std::string& first, const std::string& second);

// The file a write to `path` reaches: the path itself, or, where it is a
// symbolic link, the file the link leads to (through every link on the way;
// Windows: the final path of an existing file, which also resolves the
// links Wine shows as plain files). `dangling` is set when the path is a
// link that leads to no file.
std::string WriteTarget(const std::string& path, bool* dangling = nullptr);

// What tells two files apart: an existing file's device and inode (volume
// serial and file ID), links followed; for a file that does not exist yet,
// the full path it would have once the links of its name and its folders
// are resolved (Windows: in lower case, as names ignore case there).
struct FileIdentity {
    bool Exists = false;
    uint64_t Device = 0;
    uint64_t Index = 0;
    std::string Place;
};
FileIdentity IdentifyFile(const std::string& path);
inline bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
    if (a.Exists != b.Exists) return false;
    return a.Exists ? a.Device == b.Device && a.Index == b.Index : a.Place == b.Place;
}

// A new file that replaces `target` whole or not at all. It is written
// under a temporary name of our own in the target's folder,
// ".tachoro-<n>.tmp" (n from 0 to 15): short, so that a target whose name or
// path is at the system's limit can be written too. While it is open it is
// locked against other processes (POSIX: flock; Windows: no sharing), so
// one that is not locked was left by a process that ended while writing it:
// it is removed (POSIX) or emptied (Windows) and used. The target is named
// as given: a link there is replaced by the file (see WriteTarget).
// Destroyed before Commit, the temporary file is removed.
class FileReplacement {
public:
    FileReplacement() = default;
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Creates the temporary file. POSIX: it will take the mode and owner
    // (where the process may set it) of the regular file `modeOf`, by
    // default the target; where there is none, those of any new file.
    // False with the system's reason (SystemErrorText).
    bool Begin(const std::string& target, const std::string& modeOf = std::string());
    // Where the content goes (binary).
    std::FILE* Stream() const { return stream; }
    // Flushes the content to the disk and sets the mode. False with the
    // system's reason.
    bool Sync();
    // Gives the synced file the target's name, replacing the old file in one
    // step (rename; MoveFileEx with MOVEFILE_REPLACE_EXISTING), and closes
    // it. False with the system's reason; the temporary file is then removed.
    bool Commit();

private:
    void Discard();

    std::FILE* stream = nullptr;
    std::string target;
    std::string temporary;  // POSIX: the name in the folder; Windows: the path
    intptr_t folder = -1;   // POSIX: the target's folder, open
    bool keepMode = false;
    uint32_t mode = 0, owner = 0, group = 0;
};

// Opens an existing file, device or pipe for writing in binary mode without
// waiting (a pipe without a reader fails at once). Null on failure.
std::FILE* OpenExistingForWriting(const std::string& path);

// Renames `from` to `to`, replacing an existing `to` in one step (rename;
// MoveFileExA with MOVEFILE_REPLACE_EXISTING).
bool MoveFileReplacing(const std::string& from, const std::string& to);

// The names in a directory, "." and ".." left out, in no particular order;
// empty when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& path);

// A write beyond the process's file-size limit fails with an error instead of
// ending the process (POSIX: SIGXFSZ ignored). No effect on Windows.
void ReportFileSizeLimitAsError();

// Creates the directory that will hold `filePath` when it is missing
// (POSIX settings directory). True when it exists afterwards.
bool EnsureParentDirectory(const std::string& filePath);

// Full absolute path of `path` (GetFullPathNameA / realpath-like, without
// requiring the file to exist). False when it cannot be formed.
bool FullPath(const std::string& path, std::string& result);

// True when the file system ignores the case of file names (Windows).
bool FileNamesIgnoreCase();
// The characters that separate a path's folders: "\\/" on Windows, "/" on
// POSIX (where a backslash is part of a name).
const char* PathSeparators();
// The process's working folder; empty when it cannot be read. Setting it is
// false when the system refuses.
std::string WorkingFolder();
bool SetWorkingFolder(const std::string& folder);

// The path of an existing file in its canonical form (Windows: device path
// mapped back to a drive letter; POSIX: realpath). False when the file could
// not be mapped/resolved at all; true with `path` unchanged when no drive
// letter matched.
bool CanonicalFilePath(const std::string& file, std::string& path);

struct LocalTime {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// Last-write time of a file in local time. False when it cannot be read.
bool FileLastWriteTime(const std::string& path, LocalTime& time);

// A path in the system's own spelling (Windows: backslashes for slashes).
std::string NativePathText(const std::string& path);

// The names of the entries of a folder ("." and ".." left out); empty when it
// cannot be read.
std::vector<std::string> FolderEntryNames(const std::string& folder);

}  // namespace platform
