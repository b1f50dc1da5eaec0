// Our declarations of the part of the NVIDIA management library (NVML) that
// Tachoro calls, written from NVIDIA's documentation of nvml.h. The library
// is loaded at run time and each function looked up by its name; nothing
// links against it.
#pragma once

#include <cstddef>

namespace nvml {

// nvmlReturn_t: a C enumeration, int-sized on every supported ABI.
using Return = int;
constexpr Return kSuccess = 0;
constexpr Return kErrorNotSupported = 3;
constexpr Return kErrorNotFound = 6;
constexpr Return kErrorInsufficientSize = 7;
constexpr Return kErrorGpuIsLost = 15;

// nvmlDevice_t: a handle to a structure the library keeps to itself.
struct DeviceRecord;
using Device = DeviceRecord*;

// nvmlUtilization_t: percent over the driver's last sample period.
struct Utilization {
    unsigned int gpu;
    unsigned int memory;
};

// nvmlMemory_t: bytes.
struct Memory {
    unsigned long long total;
    unsigned long long free;
    unsigned long long used;
};

// nvmlProcessUtilizationSample_t: one process's shares at one driver sample
// (timeStamp: CPU time in microseconds).
struct ProcessUtilizationSample {
    unsigned int pid;
    unsigned long long timeStamp;
    unsigned int smUtil;
    unsigned int memUtil;
    unsigned int encUtil;
    unsigned int decUtil;
};
static_assert(sizeof(ProcessUtilizationSample) == 32 && offsetof(ProcessUtilizationSample, timeStamp) == 8 &&
                  offsetof(ProcessUtilizationSample, smUtil) == 16,
              "nvmlProcessUtilizationSample_t layout");
// nvmlMemory_v2_t: "used" without the memory the driver reserves for itself
// (which nvmlMemory_t counts as used), as nvidia-smi shows it.
struct MemoryV2 {
    unsigned int version;
    unsigned long long total;
    unsigned long long reserved;
    unsigned long long free;
    unsigned long long used;
};
// nvmlMemory_v2: the structure's size and its version in the top byte.
constexpr unsigned int kMemoryV2Version = static_cast<unsigned int>(sizeof(MemoryV2)) | (2u << 24);
static_assert(sizeof(Memory) == 24 && sizeof(MemoryV2) == 40 && sizeof(Utilization) == 8,
              "nvmlMemory_t, nvmlMemory_v2_t and nvmlUtilization_t layout");

// NVML_DEVICE_NAME_V2_BUFFER_SIZE, NVML_SYSTEM_DRIVER_VERSION_BUFFER_SIZE.
constexpr unsigned int kDeviceNameBufferSize = 96;
constexpr unsigned int kDriverVersionBufferSize = 80;

// The functions, by their exported names (the _v2 forms where the library
// has them; the older names take the same arguments).
using InitFunction = Return (*)();                                   // nvmlInit_v2, nvmlInit
using ShutdownFunction = Return (*)();                               // nvmlShutdown
using ErrorStringFunction = const char* (*)(Return);                 // nvmlErrorString
using CountFunction = Return (*)(unsigned int*);                     // nvmlDeviceGetCount_v2, nvmlDeviceGetCount
using HandleFunction = Return (*)(unsigned int, Device*);            // nvmlDeviceGetHandleByIndex_v2, ..ByIndex
using NameFunction = Return (*)(Device, char*, unsigned int);        // nvmlDeviceGetName
using UtilizationFunction = Return (*)(Device, Utilization*);        // nvmlDeviceGetUtilizationRates
using EngineFunction = Return (*)(Device, unsigned int*, unsigned int*);  // nvmlDeviceGet{En,De}coderUtilization
using MemoryFunction = Return (*)(Device, Memory*);                  // nvmlDeviceGetMemoryInfo
using MemoryV2Function = Return (*)(Device, MemoryV2*);              // nvmlDeviceGetMemoryInfo_v2
using ProcessFunction = Return (*)(Device, ProcessUtilizationSample*, unsigned int*,
                                   unsigned long long);              // nvmlDeviceGetProcessUtilization
using DriverVersionFunction = Return (*)(char*, unsigned int);       // nvmlSystemGetDriverVersion
using CudaVersionFunction = Return (*)(int*);                        // nvmlSystemGetCudaDriverVersion(_v2)
using CapabilityFunction = Return (*)(Device, int*, int*);           // nvmlDeviceGetCudaComputeCapability

}  // namespace nvml
