#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Gpu.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

// A window title is short; more is never read.
constexpr size_t kTitleLimit = 4096;
// Far beyond GPU-Z's layout; a larger object is not GPU-Z's.
constexpr off_t kBlockLimit = 64 << 20;

// Opens a shared-memory object without waiting (an object that is a pipe
// would wait for a writer).
int OpenShared(const char* name, int access) { return shm_open(name, access | O_NONBLOCK, 0); }

// Reads the start of a shared-memory object as text; false when it does not
// exist or is no regular file.
bool ReadSharedText(const char* name, std::string& text) {
    int descriptor = OpenShared(name, O_RDONLY);
    if (descriptor < 0) return false;
    struct stat info {};
    bool ok = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        text.assign(std::min(static_cast<size_t>(info.st_size), kTitleLimit), '\0');
        ssize_t count = text.empty() ? 0 : pread(descriptor, &text[0], text.size(), 0);
        ok = count >= 0;
        if (ok) text.resize(strnlen(text.c_str(), static_cast<size_t>(count)));
    }
    close(descriptor);
    return ok;
}

}  // namespace

void ForEachWindowTitle(void (*visit)(const char* title, void* context), void* context) {
    int descriptor = OpenShared("/GPUZShMem", O_RDONLY);
    if (descriptor < 0) return;
    close(descriptor);
    std::string title;
    if (!ReadSharedText("/GPUZShMem.title", title)) title = "GPU-Z";
    visit(title.c_str(), context);
}

bool OpenSharedBlock(const char* name, SharedBlock& block, std::string& error) {
    std::string objectName = std::string("/") + name;
    int descriptor = OpenShared(objectName.c_str(), O_RDWR);
    if (descriptor < 0) {
        error = std::strerror(errno);
        posix::SetLastErrorText(error);
        return false;
    }
    struct stat info {};
    std::string refusal;
    if (fstat(descriptor, &info) != 0)
        refusal = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        refusal = "The shared memory block is not a regular file";
    else if (info.st_size <= 0)
        refusal = "The shared memory block is empty";
    else if (info.st_size > kBlockLimit)
        refusal = "The shared memory block is larger than " + std::to_string(kBlockLimit >> 20) + " MB";
    if (!refusal.empty()) {
        error = refusal;
        close(descriptor);
        return false;
    }
    void* view = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
    if (view == MAP_FAILED) {
        error = std::strerror(errno);
        close(descriptor);
        return false;
    }
    block.data = static_cast<const uint8_t*>(view);
    block.size = static_cast<size_t>(info.st_size);
    block.handle = reinterpret_cast<void*>(static_cast<intptr_t>(descriptor) + 1);  // +1: descriptor 0 is valid
    return true;
}

void CloseSharedBlockHandle(SharedBlock& block) {
    if (block.handle) close(static_cast<int>(reinterpret_cast<intptr_t>(block.handle) - 1));
    block.handle = nullptr;
    block.data = nullptr;
}

// The versioned name: the unversioned link comes only with the development
// package.
std::vector<std::string> NvmlLibraryNames() { return {"libnvidia-ml.so.1"}; }

bool SysfsGraphicsDevices() { return true; }

}  // namespace platform
