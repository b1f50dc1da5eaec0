#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/Process.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

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

}  // namespace

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

void PrepareStandardStreams() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // open takes the lowest free number: the one just found closed.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != descriptor) close(opened);
    }
    signal(SIGPIPE, SIG_IGN);
}

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

uint32_t OwnProcessId() { return static_cast<uint32_t>(getpid()); }

const char* SystemName() { return "Linux x64"; }

}  // namespace platform
