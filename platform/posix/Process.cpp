#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

thread_local std::string t_lastError;

const char* EnvOrNull(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// Reads the "Key:   value kB" line of /proc/self/status; false when absent.
bool StatusField(const char* key, uint64_t& value) {
    std::ifstream status("/proc/self/status");
    std::string line;
    size_t keyLength = std::strlen(key);
    while (std::getline(status, line)) {
        if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength && line[keyLength] == ':') {
            value = std::strtoull(line.c_str() + keyLength + 1, nullptr, 10);
            return true;
        }
    }
    return false;
}

uint64_t MonotonicNanoseconds() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace

namespace posix {
void SetLastErrorText(const std::string& text) { t_lastError = text; }
void SetLastErrorFromErrno() { t_lastError = std::strerror(errno); }
}  // namespace posix

std::string SystemErrorText() { return t_lastError; }
void ClearSystemError() { t_lastError.clear(); }

// ------------------------------------------------------------------- time

CounterReading ReadPerformanceCounter() {
    CounterReading reading;
    reading.count = static_cast<int64_t>(MonotonicNanoseconds());
    reading.frequency = 1000000000;
    return reading;
}

bool PerformanceCounterWorks() {
    struct timespec now {};
    return clock_gettime(CLOCK_MONOTONIC, &now) == 0;
}

uint64_t MonotonicMs() { return MonotonicNanoseconds() / 1000000ull; }

bool CounterIsTickClock() { return true; }

void SleepMs(uint32_t milliseconds) {
    struct timespec request {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

// ---------------------------------------------------------------- process

LockResult AcquireSingleInstanceLock(const char* name) {
    const char* runtimeDirectory = EnvOrNull("XDG_RUNTIME_DIR");
    std::string path = std::string(runtimeDirectory ? runtimeDirectory : "/tmp") + "/" + name;
    int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        posix::SetLastErrorFromErrno();
        return LockResult::Failed;
    }
    if (flock(descriptor, LOCK_EX | LOCK_NB) == 0) return LockResult::Acquired;  // held until exit
    int error = errno;
    posix::SetLastErrorFromErrno();
    close(descriptor);
    return error == EWOULDBLOCK ? LockResult::AlreadyRunning : LockResult::Failed;
}

void SetProcessPriority(int level) {
    if (level == 1)
        setpriority(PRIO_PROCESS, 0, 19);
    else if (level == 3)
        setpriority(PRIO_PROCESS, 0, -10);
}

std::string ExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", &buffer[0], buffer.size());
        if (length < 0) {
            posix::SetLastErrorFromErrno();
            return std::string();
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string SettingsFilePath(std::string* missing) {
    std::string base;
    if (const char* config = EnvOrNull("XDG_CONFIG_HOME"); config && config[0] == '/') {
        base = config;
    } else if (const char* home = EnvOrNull("HOME")) {
        base = std::string(home) + "/.config";
    } else {
        if (missing) *missing = "neither HOME nor XDG_CONFIG_HOME is set";
        return std::string();
    }
    return base + "/tachoro/Tachoro.ini";
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

// ------------------------------------------------------------------ files

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

void PrepareStandardStreams() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // open takes the lowest free number: the one just found closed.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != descriptor) close(opened);
    }
    signal(SIGPIPE, SIG_IGN);
}

void ReportFileSizeLimitAsError() { signal(SIGXFSZ, SIG_IGN); }

// ------------------------------------------------------ processor / memory

bool ReadCpuTimes(CpuTimes& times) {
    std::ifstream stat("/proc/stat");
    std::string label;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    if (!(stat >> label >> user >> nice >> system >> idle) || label != "cpu") return false;
    stat >> iowait >> irq >> softirq >> steal;  // absent on very old kernels
    long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (ticksPerSecond <= 0) return false;
    const uint64_t unitsPerTick = 10000000ull / static_cast<uint64_t>(ticksPerSecond);
    // Idle time counts as kernel time, so the process's share is of all
    // processors together.
    times.systemKernel = (system + idle + iowait + irq + softirq + steal) * unitsPerTick;
    times.systemUser = (user + nice) * unitsPerTick;

    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return false;
    auto toUnits = [](const struct timeval& value) {
        return static_cast<uint64_t>(value.tv_sec) * 10000000ull + static_cast<uint64_t>(value.tv_usec) * 10ull;
    };
    times.processKernel = toUnits(usage.ru_stime);
    times.processUser = toUnits(usage.ru_utime);
    return true;
}

void* OpenOwnProcess() {
    static int ownProcess;
    return &ownProcess;  // /proc/self needs no handle
}

void CloseOwnProcess(void*) {}

bool ReadMemoryCounters(void* processHandle, MemoryCounters& counters) {
    if (!processHandle) return false;
    uint64_t residentKb = 0, anonymousKb = 0, swapKb = 0;
    if (!StatusField("VmRSS", residentKb)) return false;
    StatusField("RssAnon", anonymousKb);
    StatusField("VmSwap", swapKb);
    counters.workingSetBytes = residentKb * 1024;
    counters.privateBytes = (anonymousKb + swapKb) * 1024;
    return true;
}

uint16_t CountOwnThreads() {
    uint64_t threads = 0;
    if (!StatusField("Threads", threads)) return 0;
    return static_cast<uint16_t>(threads);
}

}  // namespace platform
