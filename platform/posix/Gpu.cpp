#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

// Reads a whole shared-memory object as text; false when it does not exist.
bool ReadSharedText(const char* name, std::string& text) {
    int descriptor = shm_open(name, O_RDONLY, 0);
    if (descriptor < 0) return false;
    struct stat info {};
    bool ok = fstat(descriptor, &info) == 0;
    if (ok) {
        text.assign(static_cast<size_t>(info.st_size), '\0');
        ssize_t count = text.empty() ? 0 : pread(descriptor, &text[0], text.size(), 0);
        ok = count >= 0;
        if (ok) text.resize(strnlen(text.c_str(), static_cast<size_t>(count)));
    }
    close(descriptor);
    return ok;
}

}  // namespace

void ForEachWindowTitle(void (*visit)(const char* title, void* context), void* context) {
    int descriptor = shm_open("/GPUZShMem", O_RDONLY, 0);
    if (descriptor < 0) return;
    close(descriptor);
    std::string title;
    if (!ReadSharedText("/GPUZShMem.title", title)) title = "GPU-Z";
    visit(title.c_str(), context);
}

bool OpenSharedBlock(const char* name, SharedBlock& block, std::string& error) {
    std::string objectName = std::string("/") + name;
    int descriptor = shm_open(objectName.c_str(), O_RDWR, 0);
    if (descriptor < 0) {
        error = std::strerror(errno);
        posix::SetLastErrorText(error);
        return false;
    }
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || info.st_size <= 0) {
        error = info.st_size <= 0 ? "The shared memory block is empty" : std::strerror(errno);
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

}  // namespace platform
