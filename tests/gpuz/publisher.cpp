// gpuz_publisher: publishes a GPU-Z shared-memory block for tests, the way
// GPU-Z itself would, so that the GPU monitor can be tried without GPU-Z.
//
// Usage: gpuz_publisher DESCRIPTION [SECONDS]
//
// Publishes the block described by the file DESCRIPTION, prints "ready" on
// standard output once it can be read, and keeps it until its standard input
// reaches end of file or SECONDS (default 60) have passed; then removes it.
// Hold its standard input open (a pipe) for as long as the block is needed.
//
//   Linux:   POSIX shared memory "/GPUZShMem" and, with a title, the object
//            "/GPUZShMem.title" holding the title text.
//   Windows: the named file mapping "GPUZShMem" and, with a title, a hidden
//            top-level window with that title (needs a display under Wine).
//
// When the objects already exist (another publisher is running), it waits up
// to ten seconds for them to go away. A publisher that was killed leaves them
// behind on Linux: remove /dev/shm/GPUZShMem and /dev/shm/GPUZShMem.title.
//
// Description file: one item per line; empty lines and lines starting with
// '#' are ignored; the first '=' separates a name from its value; texts are
// UTF-8 and are stored as UTF-16LE.
//
//   title=TEXT             window title (see above); without it: no window
//                          (Windows), no title object (Linux)
//   size=BYTES             size of the block; default the full layout
//                          (12 + 128 * 1024 + 128 * 540 = 200204 bytes)
//   data KEY=VALUE         the next data record, from record 0 on
//   sensor NAME=VALUE      the next sensor record; VALUE a decimal number
//   after MS NAME=VALUE    MS milliseconds after "ready", every sensor record
//                          named NAME takes VALUE
//
// Exit status: 0 after a normal end, 1 for a bad command line or description,
// 2 when the block cannot be published.

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr size_t RecordCount = 128;
constexpr size_t DataOffset = 12;
constexpr size_t DataSize = 1024;
constexpr size_t SensorOffset = DataOffset + RecordCount * DataSize;
constexpr size_t SensorSize = 540;
constexpr size_t SensorValue = 532;
constexpr size_t FullSize = SensorOffset + RecordCount * SensorSize;
constexpr size_t FieldSize = 512;

struct Change {
    uint64_t atMs = 0;
    std::string name;
    double value = 0;
    bool done = false;
};

struct Description {
    bool hasTitle = false;
    std::string title;
    size_t size = FullSize;
    std::vector<std::pair<std::string, std::string>> data;
    std::vector<std::pair<std::string, double>> sensors;
    std::vector<Change> changes;
};

std::u16string Utf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        uint32_t code = lead;
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (length > 1) {
            code = lead & (0xFF >> (length + 1));
            for (size_t k = 1; k < length && i + k < text.size(); ++k)
                code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

bool ParseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0';
}

bool SplitAssignment(const std::string& text, std::string& name, std::string& value) {
    size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    name = text.substr(0, equals);
    value = text.substr(equals + 1);
    return true;
}

bool ReadDescription(const char* path, Description& description) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "gpuz_publisher: cannot open %s\n", path);
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::string name, value;
        bool ok = true;
        if (line.compare(0, 6, "title=") == 0) {
            description.hasTitle = true;
            description.title = line.substr(6);
        } else if (line.compare(0, 5, "size=") == 0) {
            double size = 0;
            ok = ParseNumber(line.substr(5), size) && size >= 1 && size <= 64.0 * 1024 * 1024;
            description.size = static_cast<size_t>(size);
        } else if (line.compare(0, 5, "data ") == 0 && SplitAssignment(line.substr(5), name, value)) {
            description.data.emplace_back(name, value);
            ok = description.data.size() <= RecordCount;
        } else if (line.compare(0, 7, "sensor ") == 0 && SplitAssignment(line.substr(7), name, value)) {
            double number = 0;
            ok = ParseNumber(value, number) && description.sensors.size() < RecordCount;
            description.sensors.emplace_back(name, number);
        } else if (line.compare(0, 6, "after ") == 0) {
            Change change;
            char* end = nullptr;
            change.atMs = std::strtoull(line.c_str() + 6, &end, 10);
            ok = end && *end == ' ' && SplitAssignment(end + 1, change.name, value) && ParseNumber(value, change.value);
            description.changes.push_back(change);
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "gpuz_publisher: %s:%d: cannot use \"%s\"\n", path, number, line.c_str());
            return false;
        }
    }
    return true;
}

// Writes within the block only; a short block simply loses what does not fit.
void PutBytes(uint8_t* block, size_t size, size_t offset, const void* bytes, size_t count) {
    if (offset >= size) return;
    std::memcpy(block + offset, bytes, std::min(count, size - offset));
}

void PutText(uint8_t* block, size_t size, size_t offset, const std::string& text) {
    std::u16string units = Utf16(text);
    units.resize(std::min(units.size(), FieldSize / 2 - 1));
    std::vector<uint8_t> bytes;
    for (char16_t unit : units) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    PutBytes(block, size, offset, bytes.data(), bytes.size());
}

void PutDouble(uint8_t* block, size_t size, size_t offset, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    PutBytes(block, size, offset, bytes, sizeof bytes);
}

void FillBlock(uint8_t* block, const Description& description) {
    size_t size = description.size;
    std::memset(block, 0, size);
    for (size_t i = 0; i < description.data.size(); ++i) {
        PutText(block, size, DataOffset + i * DataSize, description.data[i].first);
        PutText(block, size, DataOffset + i * DataSize + FieldSize, description.data[i].second);
    }
    for (size_t i = 0; i < description.sensors.size(); ++i) {
        PutText(block, size, SensorOffset + i * SensorSize, description.sensors[i].first);
        PutDouble(block, size, SensorOffset + i * SensorSize + SensorValue, description.sensors[i].second);
    }
}

// Applies the changes that are due; returns the milliseconds until the next
// one, or UINT64_MAX when none is left.
uint64_t ApplyChanges(uint8_t* block, Description& description, uint64_t elapsedMs) {
    uint64_t next = UINT64_MAX;
    for (Change& change : description.changes) {
        if (change.done) continue;
        if (change.atMs > elapsedMs) {
            next = std::min(next, change.atMs - elapsedMs);
            continue;
        }
        for (size_t i = 0; i < description.sensors.size(); ++i)
            if (description.sensors[i].first == change.name)
                PutDouble(block, description.size, SensorOffset + i * SensorSize + SensorValue, change.value);
        change.done = true;
    }
    return next;
}

void SayReady() {
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
}

#ifndef _WIN32

volatile sig_atomic_t StopRequested = 0;
void OnSignal(int) { StopRequested = 1; }

uint64_t NowMs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// Creates a new object; waits while another publisher's object exists.
int CreateExclusive(const char* name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int descriptor = shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0600);
        if (descriptor >= 0 || errno != EEXIST) return descriptor;
        usleep(100000);
    }
    errno = EEXIST;
    return -1;
}

int Publish(Description& description, uint64_t lifetimeMs) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // The title object first: a reader that sees the block also sees it.
    bool titleCreated = false;
    if (description.hasTitle) {
        int descriptor = CreateExclusive("/GPUZShMem.title");
        if (descriptor < 0) {
            std::fprintf(stderr, "gpuz_publisher: /GPUZShMem.title: %s\n", std::strerror(errno));
            return 2;
        }
        titleCreated = true;
        bool written = write(descriptor, description.title.data(), description.title.size()) ==
                       static_cast<ssize_t>(description.title.size());
        close(descriptor);
        if (!written) {
            shm_unlink("/GPUZShMem.title");
            std::fprintf(stderr, "gpuz_publisher: cannot write the title\n");
            return 2;
        }
    }
    int descriptor = CreateExclusive("/GPUZShMem");
    if (descriptor < 0) {
        std::fprintf(stderr, "gpuz_publisher: /GPUZShMem: %s\n", std::strerror(errno));
        if (titleCreated) shm_unlink("/GPUZShMem.title");
        return 2;
    }
    void* view = MAP_FAILED;
    if (ftruncate(descriptor, static_cast<off_t>(description.size)) == 0)
        view = mmap(nullptr, description.size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
    close(descriptor);
    if (view == MAP_FAILED) {
        std::fprintf(stderr, "gpuz_publisher: cannot map the block: %s\n", std::strerror(errno));
        shm_unlink("/GPUZShMem");
        if (titleCreated) shm_unlink("/GPUZShMem.title");
        return 2;
    }
    uint8_t* block = static_cast<uint8_t*>(view);
    FillBlock(block, description);
    SayReady();

    uint64_t start = NowMs();
    bool inputOpen = true;
    while (!StopRequested) {
        uint64_t elapsed = NowMs() - start;
        if (elapsed >= lifetimeMs) break;
        uint64_t wait = std::min(ApplyChanges(block, description, elapsed), lifetimeMs - elapsed);
        wait = std::min<uint64_t>(wait, 1000);
        struct pollfd input {0, POLLIN, 0};
        int ready = poll(&input, inputOpen ? 1 : 0, static_cast<int>(wait));
        if (ready > 0) {
            char buffer[256];
            if (read(0, buffer, sizeof buffer) <= 0) break;  // end of input
        } else if (ready < 0 && errno != EINTR) {
            inputOpen = false;
        }
    }
    munmap(view, description.size);
    shm_unlink("/GPUZShMem");
    if (titleCreated) shm_unlink("/GPUZShMem.title");
    return 0;
}

#else

DWORD WINAPI WatchInput(LPVOID) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[256];
    DWORD count = 0;
    while (ReadFile(input, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    }
    return 0;
}

int Publish(Description& description, uint64_t lifetimeMs) {
    HANDLE mapping = nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     static_cast<DWORD>(description.size), "GPUZShMem");
        if (mapping && GetLastError() != ERROR_ALREADY_EXISTS) break;
        if (mapping) CloseHandle(mapping);
        mapping = nullptr;
        Sleep(100);
    }
    if (!mapping) {
        std::fprintf(stderr, "gpuz_publisher: cannot create the mapping GPUZShMem (error %lu)\n", GetLastError());
        return 2;
    }
    uint8_t* block = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!block) {
        std::fprintf(stderr, "gpuz_publisher: cannot map GPUZShMem (error %lu)\n", GetLastError());
        CloseHandle(mapping);
        return 2;
    }
    FillBlock(block, description);

    HWND window = nullptr;
    if (description.hasTitle) {
        WNDCLASSA windowClass {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "TachoroGpuzPublisher";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, windowClass.lpszClassName, description.title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0,
                                 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
        if (!window) {
            std::fprintf(stderr, "gpuz_publisher: cannot create the window (error %lu)\n", GetLastError());
            UnmapViewOfFile(block);
            CloseHandle(mapping);
            return 2;
        }
    }
    HANDLE watcher = CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr);
    SayReady();

    uint64_t start = GetTickCount64();
    for (;;) {
        uint64_t elapsed = GetTickCount64() - start;
        if (elapsed >= lifetimeMs) break;
        uint64_t wait = std::min(ApplyChanges(block, description, elapsed), lifetimeMs - elapsed);
        wait = std::min<uint64_t>(wait, 1000);
        DWORD handles = watcher ? 1 : 0;
        DWORD result = MsgWaitForMultipleObjects(handles, &watcher, FALSE, static_cast<DWORD>(wait), QS_ALLINPUT);
        if (watcher && result == WAIT_OBJECT_0) break;  // end of input
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (window) DestroyWindow(window);
    UnmapViewOfFile(block);
    CloseHandle(mapping);
    // The watcher may still wait for input; the process end stops it.
    return 0;
}

#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: gpuz_publisher DESCRIPTION [SECONDS]\n");
        return 1;
    }
    Description description;
    if (!ReadDescription(argv[1], description)) return 1;
    double seconds = 60;
    if (argc == 3 && (!ParseNumber(argv[2], seconds) || seconds <= 0)) {
        std::fprintf(stderr, "gpuz_publisher: bad number of seconds \"%s\"\n", argv[2]);
        return 1;
    }
    int status = Publish(description, static_cast<uint64_t>(seconds * 1000));
    std::fflush(stdout);
    // Skip static destructors and the watcher thread's wait (Windows).
    std::_Exit(status);
}
