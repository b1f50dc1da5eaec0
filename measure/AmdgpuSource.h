// GPU readings from the amdgpu kernel driver's files in sysfs: a device under
// /sys/class/drm/card*/device with the vendor 0x1002 and a gpu_busy_percent
// file.
#pragma once

#include <cstdint>
#include <string>

#include "measure/GPUSource.h"
#include "measure/Statistics.h"

class CAmdgpuSource {
public:
    // Looks for the devices under `root` (the file system's root for the
    // system's own; the tests give a tree of their own) and opens device
    // `device` among them, counted from 0 in the order of the card numbers.
    GPUOpen Open(const std::string& root, uint32_t device, std::string& note);
    // One reading of the load and the memory used. A file that cannot be read
    // or holds no value in range keeps that figure's previous value; a device
    // that is gone ends the readings (all 0, LostText says so).
    void Read(GPUReadings& readings);

    GraphicsCardFacts Facts;
    GPUFeatures Features;
    std::string LostText;

private:
    std::string DevicePath;  // .../sys/class/drm/cardN/device
    std::string BusyPath;
    std::string MemoryUsedPath;
    uint64_t MemoryTotal = 0;
};
