// What a path names, reading a file whole, where a write lands (links), what
// tells files apart, the replacement of a file through a temporary file of
// our own, and the spelling of paths.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

// The folder part of a path ("." for a bare name) and the name.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows the symbolic links of the last part of `path`, as the system does
// (at most 40); the result need not exist. The links of the folders are the
// system's to follow.
std::string FollowLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::string text(static_cast<size_t>(info.st_size) + 1, '\0');
        const ssize_t length = readlink(path.c_str(), &text[0], text.size());
        if (length <= 0 || static_cast<size_t>(length) >= text.size()) break;  // changed meanwhile
        text.resize(static_cast<size_t>(length));
        const size_t slash = path.rfind('/');
        path = text[0] == '/' || slash == std::string::npos ? text : path.substr(0, slash + 1) + text;
    }
    return path;
}

constexpr int kTemporarySlots = 16;

std::string TemporaryName(int slot) { return ".tachoro-" + std::to_string(slot) + ".tmp"; }

// True when the open file is the regular file that `name` in `folder` names.
bool NamedBy(int descriptor, int folder, const std::string& name) {
    struct stat open {}, named {};
    return fstat(descriptor, &open) == 0 && fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino && S_ISREG(named.st_mode);
}

enum class Slot { Taken, Busy, Failed };

// Takes the temporary name `name` in `folder` for a new file, locked. A file
// of that name that no process holds locked was left by one that ended while
// writing it, and is removed first. Busy: another process writes it, or it
// is none of ours (a link, a folder, another user's file). Failed: errno
// says why no file can be made in the folder.
Slot TakeSlot(int folder, const std::string& name, mode_t mode, int& descriptor) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        descriptor = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (descriptor >= 0) {
            // Where the file system has no locks, a file we created is still
            // ours. Another process may have taken it over (or removed it)
            // before the lock: then try again.
            const bool locked = flock(descriptor, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
            if (locked && NamedBy(descriptor, folder, name)) return Slot::Taken;
            close(descriptor);
            continue;
        }
        if (errno != EEXIST) return Slot::Failed;
        const int stale = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (stale < 0) {
            if (errno == ENOENT) continue;
            return Slot::Busy;
        }
        const bool unlocked = flock(stale, LOCK_EX | LOCK_NB) == 0;
        const bool ours = unlocked && NamedBy(stale, folder, name);
        if (ours) unlinkat(folder, name.c_str(), 0);
        close(stale);
        if (!unlocked) return Slot::Busy;
    }
    return Slot::Busy;
}

}  // namespace

std::string WriteTarget(const std::string& path, bool* dangling) {
    const std::string target = FollowLinks(path);
    struct stat info {};
    if (dangling) *dangling = target != path && stat(path.c_str(), &info) != 0;
    return target;
}

FileIdentity IdentifyFile(const std::string& path) {
    FileIdentity identity;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        identity.Exists = true;
        identity.Device = static_cast<uint64_t>(info.st_dev);
        identity.Index = static_cast<uint64_t>(info.st_ino);
        return identity;
    }
    std::string folder, name;
    SplitPath(FollowLinks(path), folder, name);
    if (char* resolved = realpath(folder.c_str(), nullptr)) {
        const std::string base(resolved);
        std::free(resolved);
        identity.Place = (base == "/" ? base : base + "/") + name;
    } else if (!FullPath(folder + "/" + name, identity.Place)) {
        identity.Place = path;
    }
    return identity;
}

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
    // Removed while still locked, so that no other process can have taken
    // it over.
    if (stream) {
        unlinkat(static_cast<int>(folder), temporary.c_str(), 0);
        std::fclose(stream);
        stream = nullptr;
    }
    if (folder >= 0) close(static_cast<int>(folder));
    folder = -1;
}

bool FileReplacement::Begin(const std::string& targetPath, const std::string& modeOf) {
    Discard();
    std::string folderPath;
    SplitPath(targetPath, folderPath, target);
    // Every call names the files from the folder, so that no path grows past
    // the system's limit.
    const int opened = open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) {
        posix::SetLastErrorFromErrno();
        return false;
    }
    folder = opened;
    struct stat old {};
    keepMode = (modeOf.empty() ? fstatat(opened, target.c_str(), &old, 0) : stat(modeOf.c_str(), &old)) == 0 &&
               S_ISREG(old.st_mode);
    mode = old.st_mode & 07777;
    owner = old.st_uid;
    group = old.st_gid;
    // Private until it has the old file's mode; otherwise a new file's mode.
    const mode_t createMode = keepMode ? 0600 : 0666;
    int error = 0;
    for (int slot = 0; slot < kTemporarySlots && error == 0; ++slot) {
        int descriptor = -1;
        const Slot taken = TakeSlot(opened, TemporaryName(slot), createMode, descriptor);
        if (taken == Slot::Failed) error = errno;
        if (taken != Slot::Taken) continue;
        temporary = TemporaryName(slot);
        stream = fdopen(descriptor, "wb");
        if (stream) return true;
        posix::SetLastErrorFromErrno();
        unlinkat(opened, temporary.c_str(), 0);
        close(descriptor);
        Discard();
        return false;
    }
    errno = error;
    if (error == 0)
        posix::SetLastErrorText("Every temporary name in the folder is in use by another process");
    else
        posix::SetLastErrorFromErrno();
    Discard();
    return false;
}

bool FileReplacement::Sync() {
    if (!stream) return false;
    if (std::fflush(stream) != 0 || std::ferror(stream)) {
        posix::SetLastErrorFromErrno();
        return false;
    }
    const int descriptor = fileno(stream);
    struct stat now {};
    if (keepMode && fstat(descriptor, &now) == 0) {
        // Only a privileged process may give a file away; any process may
        // choose among its own groups. Before the mode: a change of owner
        // clears the set-user and set-group bits.
        if ((now.st_uid != owner || now.st_gid != group) && fchown(descriptor, owner, group) != 0)
            (void)!fchown(descriptor, static_cast<uid_t>(-1), group);
        fchmod(descriptor, static_cast<mode_t>(mode));
    }
    if (fsync(descriptor) != 0) {
        posix::SetLastErrorFromErrno();
        return false;
    }
    return true;
}

bool FileReplacement::Commit() {
    if (!stream) return false;
    const int at = static_cast<int>(folder);
    if (renameat(at, temporary.c_str(), at, target.c_str()) != 0) {
        posix::SetLastErrorFromErrno();
        Discard();
        return false;
    }
    std::fclose(stream);  // synced: nothing is left to fail
    stream = nullptr;
    Discard();
    return true;
}

FileFacts InspectFile(const std::string& path) {
    FileFacts facts;
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) {
        const bool tooLong = !path.empty() && errno == ENAMETOOLONG;
        if (!path.empty()) posix::SetLastErrorFromErrno();
        if (tooLong) facts.Kind = FileKind::NameTooLong;
        return facts;
    }
    if (S_ISREG(info.st_mode)) {
        facts.Kind = FileKind::Regular;
        facts.Size = static_cast<uint64_t>(info.st_size);
    } else {
        facts.Kind = S_ISDIR(info.st_mode) ? FileKind::Directory : FileKind::Special;
    }
    return facts;
}

FileRead ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    bytes.clear();
    // Non-blocking: opening a FIFO for reading would otherwise wait for a
    // writer. Regular files ignore the flag.
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        posix::SetLastErrorFromErrno();
        return FileRead::CannotOpen;
    }
    struct stat info {};
    FileRead result = FileRead::Done;
    if (fstat(descriptor, &info) != 0) {
        posix::SetLastErrorFromErrno();
        result = FileRead::Failed;
    } else if (!S_ISREG(info.st_mode)) {
        result = FileRead::NotRegular;
    } else if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        result = FileRead::TooLarge;
    } else {
        bytes.reserve(static_cast<size_t>(info.st_size));
        uint8_t buffer[65536];
        for (;;) {
            const ssize_t count = read(descriptor, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) {
                posix::SetLastErrorFromErrno();
                result = FileRead::Failed;
                break;
            }
            if (count == 0) break;
            // The file may grow while it is read.
            if (bytes.size() + static_cast<size_t>(count) > maxBytes) {
                result = FileRead::TooLarge;
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + count);
        }
    }
    close(descriptor);
    if (result != FileRead::Done) bytes.clear();
    return result;
}

bool SameFile(const std::string& first, const std::string& second) {
    struct stat a {}, b {};
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::FILE* OpenExistingForWriting(const std::string& path) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        posix::SetLastErrorFromErrno();
        return nullptr;
    }
    // Writes block as usual once it is open.
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(descriptor, "wb");
    if (!file) close(descriptor);
    return file;
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    posix::SetLastErrorFromErrno();
    return false;
}

void ReportFileSizeLimitAsError() { signal(SIGXFSZ, SIG_IGN); }

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

bool EnsureParentDirectory(const std::string& filePath) {
    size_t slash = filePath.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return true;
    std::string directory = filePath.substr(0, slash);
    for (size_t position = 1; position <= directory.size(); ++position) {
        if (position != directory.size() && directory[position] != '/') continue;
        std::string part = directory.substr(0, position);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            posix::SetLastErrorFromErrno();
            return false;
        }
    }
    struct stat info {};
    return stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FullPath(const std::string& path, std::string& result) {
    if (path.empty()) return false;
    std::string combined;
    if (path[0] == '/') {
        combined = path;
    } else {
        std::string directory(256, '\0');
        while (getcwd(&directory[0], directory.size()) == nullptr) {
            if (errno != ERANGE) {
                posix::SetLastErrorFromErrno();
                return false;
            }
            directory.resize(directory.size() * 2);
        }
        directory.resize(std::strlen(directory.c_str()));
        combined = directory + "/" + path;
    }
    // Lexical normalisation, like GetFullPathName: no file needs to exist.
    std::vector<std::string> parts;
    std::stringstream stream(combined);
    std::string part;
    while (std::getline(stream, part, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    result.clear();
    for (const std::string& piece : parts) result += "/" + piece;
    if (result.empty()) result = "/";
    if (combined.back() == '/' && result != "/") result += "/";
    return true;
}

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
