// The GPU-Z window search and its shared-memory block, and the NVIDIA
// management library's names, on Win32.
#include "platform/Errors.h"
#include "platform/Gpu.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

namespace {

struct TitleVisit {
    void (*visit)(const char*, void*);
    void* context;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
    const TitleVisit* target = reinterpret_cast<const TitleVisit*>(parameter);
    char title[64] = {0};
    GetWindowTextA(window, title, sizeof title);
    title[sizeof title - 1] = '\0';
    target->visit(title, target->context);
    return TRUE;
}

}  // namespace

void ForEachWindowTitle(void (*visit)(const char* title, void* context), void* context) {
    TitleVisit target{visit, context};
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&target));
}

bool OpenSharedBlock(const char* name, SharedBlock& block, std::string& error) {
    error.clear();
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (mapping == nullptr) {
        error = SystemErrorText();
        return false;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr) {
        error = SystemErrorText();
        CloseHandle(mapping);
        return false;
    }
    // The block's size is whatever its writer created; the view's extent is
    // the one bound the reader can trust.
    MEMORY_BASIC_INFORMATION region;
    size_t size = 0;
    if (VirtualQuery(view, &region, sizeof region) != 0) size = region.RegionSize;
    block.data = static_cast<const uint8_t*>(view);
    block.size = size;
    block.handle = mapping;
    return true;
}

void CloseSharedBlockHandle(SharedBlock& block) {
    if (block.handle != nullptr) CloseHandle(static_cast<HANDLE>(block.handle));
    block.handle = nullptr;
}

std::vector<std::string> NvmlLibraryNames() {
    std::vector<std::string> names{"nvml.dll"};
    // A 32-bit process would see the 32-bit folder as ProgramFiles; the
    // 64-bit one is ProgramW6432 in both.
    const char* programs = std::getenv("ProgramW6432");
    if (programs == nullptr || *programs == '\0') programs = std::getenv("ProgramFiles");
    if (programs != nullptr && *programs != '\0')
        names.push_back(std::string(programs) + "\\NVIDIA Corporation\\NVSMI\\nvml.dll");
    return names;
}

bool SysfsGraphicsDevices() { return false; }

}  // namespace platform
