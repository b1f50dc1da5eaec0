// The GPU monitor: chooses a source when it connects (GPU-Z when its window
// is found; else the NVIDIA driver's NVML; else, where the kernel has them,
// an amdgpu device) and reads it at the sampling points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/AmdgpuSource.h"
#include "measure/GPUInfo.h"
#include "measure/GPUSource.h"
#include "measure/NvmlSource.h"
#include "measure/Statistics.h"

// Where the monitor looks for a driver source, and which device it takes.
struct GPUSearch {
    std::vector<std::string> NvmlLibraries;  // tried in order
    bool Amdgpu = false;                     // look for amdgpu devices in sysfs
    std::string SysfsRoot;                   // prefix of the /sys and /proc paths; empty: the system's
    uint32_t Device = 0;                     // counted from 0 among the chosen source's devices
};

// The system's places. The variable TACHORO_TEST_SYSFS_ROOT, which only the
// tests set, moves the amdgpu search to a tree of their own.
GPUSearch SystemGPUSearch(uint32_t device);

enum class GPUConnect {
    Connected,
    NotFound,     // no source has a device; Notes say what was found and why it gave none
    BlockFailed,  // GPU-Z's window is there but not its block; ErrorText is the system's text
    Refused,      // the device asked for is beyond the source's count; ErrorText says so
};

class CGPUMonitor : public GPUReadings {
public:
    // Searches the top-level windows for GPU-Z (CGPUInfo), always.
    CGPUMonitor();
    // No window search: its outcome is given (tests).
    CGPUMonitor(bool windowFound, std::string titleVersion);
    virtual ~CGPUMonitor();
    CGPUMonitor(const CGPUMonitor&) = delete;
    CGPUMonitor& operator=(const CGPUMonitor&) = delete;

    GPUConnect Connect(const GPUSearch& search);
    // Fresh readings, at most once per 300 ms (GPU-Z's block: CGPUInfo's own
    // rule).
    void ReadSensors();
    // Around every measurement after the first: GPU-Z's block is closed after
    // a measurement and opened anew before the next (false with ErrorText
    // when it cannot be). The drivers stay connected.
    void Suspend();
    bool Resume();
    // Ends the driver's session (nvmlShutdown); the destructor does it too.
    void Disconnect();
    GraphicsCardFacts Facts() const;

    GPUSourceKind Source = GPUSourceKind::None;
    GPUFeatures Features;  // of the source connected
    std::string ErrorText;
    std::vector<std::string> Notes;
    // Why a driver's readings ended during the run; empty while they go on.
    std::string LostText;

    // The throttle's clock; tests replace it.
    uint64_t (*Clock)() = &CGPUInfo::TickMs;

private:
    void TakeGPUZ();

    CGPUInfo GPUZ;
    CNvmlSource Nvml;
    CAmdgpuSource Amdgpu;
    uint64_t LastRefreshTick = 0;
};
