// What the GPU sources read: GPU-Z's shared block, the NVIDIA management
// library's names, the kernel's graphics devices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Calls visit(title, context) for the title of every top-level window
// (Windows). POSIX has no windows: when the shared object "/GPUZShMem"
// exists it calls visit once, with the text of the companion object
// "/GPUZShMem.title" when that exists, else with "GPU-Z"; otherwise never.
void ForEachWindowTitle(void (*visit)(const char* title, void* context), void* context);

struct SharedBlock {
    const uint8_t* data = nullptr;
    size_t size = 0;
    void* handle = nullptr;
};
// Opens and maps the named block read/write ("GPUZShMem"). False with the
// system's error text in `error` on failure.
bool OpenSharedBlock(const char* name, SharedBlock& block, std::string& error);
// Closes the mapping handle; the view stays mapped until the process ends.
void CloseSharedBlockHandle(SharedBlock& block);

// The names the NVIDIA management library (NVML) is loaded by, in the order
// tried: Windows "nvml.dll" through the system's search (where the driver
// installs it), then its older place, NVSMI under the Program Files folder;
// POSIX "libnvidia-ml.so.1" through the dynamic loader's search.
std::vector<std::string> NvmlLibraryNames();

// True where the kernel lists the graphics devices under /sys/class/drm
// (POSIX: Linux); there the amdgpu driver's files are read.
bool SysfsGraphicsDevices();

}  // namespace platform
