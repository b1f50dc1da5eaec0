#include "measure/GPUMonitor.h"

#include <cstdlib>
#include <utility>

#include "platform/Gpu.h"

namespace {

// As GPU-Z's block: the drivers' loads are averages over their own sample
// periods (a sixth of a second and more), so a closer reading tells nothing
// new and only costs.
constexpr uint64_t kRefreshMs = 300;

}  // namespace

GPUSearch SystemGPUSearch(uint32_t device) {
    GPUSearch search;
    search.NvmlLibraries = platform::NvmlLibraryNames();
    search.Amdgpu = platform::SysfsGraphicsDevices();
    if (const char* root = std::getenv("TACHORO_TEST_SYSFS_ROOT")) search.SysfsRoot = root;
    search.Device = device;
    return search;
}

CGPUMonitor::CGPUMonitor() = default;

CGPUMonitor::CGPUMonitor(bool windowFound, std::string titleVersion) : GPUZ(windowFound, std::move(titleVersion)) {}

CGPUMonitor::~CGPUMonitor() { Disconnect(); }

// GPU-Z's readings and flags as its block showed them last.
void CGPUMonitor::TakeGPUZ() {
    static_cast<GPUReadings&>(*this) = GPUZ;
    Features.HasVideoEngine = GPUZ.HasVideoEngine;
    Features.HasMemoryUsed = GPUZ.HasMemoryUsed;
    Features.HasMemoryDedicated = GPUZ.HasMemoryDedicated;
    Features.HasMemoryDynamic = GPUZ.HasMemoryDynamic;
    Features.HasProcessLoad = false;
}

GPUConnect CGPUMonitor::Connect(const GPUSearch& search) {
    Disconnect();
    ErrorText.clear();
    Notes.clear();
    LostText.clear();
    if (GPUZ.WindowFound) {
        // GPU-Z shows the one card chosen in its window.
        if (search.Device != 0) {
            ErrorText = DeviceRefusal("GPU-Z", search.Device, 1);
            return GPUConnect::Refused;
        }
        if (!GPUZ.OpenSharedMemory()) {
            ErrorText = GPUZ.ErrorText;
            return GPUConnect::BlockFailed;
        }
        Source = GPUSourceKind::GPUZ;
        TakeGPUZ();
        return GPUConnect::Connected;
    }
    std::string note;
    GPUSourceKind kind = GPUSourceKind::NVML;
    GPUOpen opened = Nvml.Open(search.NvmlLibraries, search.Device, note);
    if (opened == GPUOpen::NoDevice) {
        if (!note.empty()) Notes.push_back(note);
        if (!search.Amdgpu) return GPUConnect::NotFound;
        kind = GPUSourceKind::Amdgpu;
        opened = Amdgpu.Open(search.SysfsRoot, search.Device, note);
        if (opened == GPUOpen::NoDevice) return GPUConnect::NotFound;
    }
    // A device beyond the count is refused, not looked for elsewhere.
    if (opened == GPUOpen::Refused) {
        ErrorText = note;
        return GPUConnect::Refused;
    }
    Source = kind;
    Features = kind == GPUSourceKind::NVML ? Nvml.Features : Amdgpu.Features;
    return GPUConnect::Connected;
}

void CGPUMonitor::ReadSensors() {
    switch (Source) {
    case GPUSourceKind::None: return;
    case GPUSourceKind::GPUZ:
        GPUZ.ReadSensors();
        TakeGPUZ();
        return;
    case GPUSourceKind::NVML:
    case GPUSourceKind::Amdgpu: break;
    }
    const uint64_t now = Clock();
    if (LastRefreshTick != 0 && now - LastRefreshTick < kRefreshMs) return;
    if (Source == GPUSourceKind::NVML) {
        Nvml.Read(*this);
        LostText = Nvml.LostText;
    } else {
        Amdgpu.Read(*this);
        LostText = Amdgpu.LostText;
    }
    LastRefreshTick = Clock();
}

void CGPUMonitor::Suspend() {
    if (Source == GPUSourceKind::GPUZ) GPUZ.CloseSharedMemory();
}

bool CGPUMonitor::Resume() {
    if (Source != GPUSourceKind::GPUZ) return true;
    GPUZ.CloseSharedMemory();
    if (!GPUZ.OpenSharedMemory()) {
        ErrorText = GPUZ.ErrorText;
        return false;
    }
    TakeGPUZ();
    return true;
}

void CGPUMonitor::Disconnect() {
    if (Source == GPUSourceKind::GPUZ) GPUZ.CloseSharedMemory();
    Nvml.Close();
    Source = GPUSourceKind::None;
}

GraphicsCardFacts CGPUMonitor::Facts() const {
    switch (Source) {
    case GPUSourceKind::GPUZ: return GPUZ.Facts();
    case GPUSourceKind::NVML: return Nvml.Facts;
    case GPUSourceKind::Amdgpu: return Amdgpu.Facts;
    case GPUSourceKind::None: break;
    }
    return GraphicsCardFacts();
}
