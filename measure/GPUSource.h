// What every GPU source hands the monitor: the card's facts as plain data,
// the readings it offers, and the outcome of opening it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class GPUSourceKind { None, GPUZ, NVML, Amdgpu };

// Which readings the source offers; the rest read 0 and are not shown.
struct GPUFeatures {
    bool HasVideoEngine = false;
    bool HasMemoryUsed = false;
    bool HasMemoryDedicated = false;
    bool HasMemoryDynamic = false;
    bool HasProcessLoad = false;  // this process's own share of the GPU
};

// The graphics card as its source tells it, for the log's graphics-card
// section and the JSON file (report/). An empty text is a fact the source did not
// give.
struct GraphicsCardFacts {
    GPUSourceKind Kind = GPUSourceKind::None;
    std::string Source;  // "GPU-Z 2.61.0", "NVML", "amdgpu"
    uint32_t Device = 0;  // counted from 0 among the source's devices
    uint32_t DeviceCount = 0;
    std::string CardName;
    std::string GPUName;
    std::string MemorySize;  // "12288 MB"
    std::string OpenCLVersion;
    std::string DriverVersion;
    std::string CudaVersion;        // "12.4"
    std::string ComputeCapability;  // "8.6"
};

enum class GPUOpen {
    Device,    // the device is open
    NoDevice,  // the source is not there or has no device; the note may say why
    Refused,   // the device asked for is beyond the source's count; the note says so
};

// "There is no GPU 2: NVML reports 2 GPUs, counted from 0."
std::string DeviceRefusal(const char* source, uint32_t device, uint32_t count);

// A driver's version number as NVML gives it (12040) as text ("12.4");
// empty for a value that is no version.
std::string CudaVersionText(int version);

// Text from a driver as Tachoro shows it: up to the first zero byte within
// `size` bytes, trimmed, at most 255 bytes, every byte that is not printable
// ASCII replaced by '?'. Nothing a driver says reaches the console or a file
// unchecked.
std::string DriverText(const char* bytes, size_t size);
