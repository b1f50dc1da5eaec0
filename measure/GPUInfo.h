// GPU load monitor: reads GPU-Z's shared-memory block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "measure/GPUSource.h"
#include "measure/Statistics.h"

// The GPU-Z block as read: a 12-byte header, 128 data records of 1024 bytes
// (UTF-16LE key and value, 512 bytes each), then 128 sensor records of 540
// bytes (UTF-16LE name in 512 bytes, 20 unread bytes, a little-endian double).
namespace gpuz {
constexpr size_t kRecordCount = 128;
constexpr size_t kTextFieldSize = 512;
constexpr size_t kDataRecordOffset = 12;
constexpr size_t kDataRecordSize = 1024;
constexpr size_t kDataValueOffset = 512;
constexpr size_t kSensorRecordOffset = kDataRecordOffset + kRecordCount * kDataRecordSize;
constexpr size_t kSensorRecordSize = 540;
constexpr size_t kSensorValueOffset = 532;
constexpr size_t kBlockSize = kSensorRecordOffset + kRecordCount * kSensorRecordSize;
// Converted values are cut to this many bytes.
constexpr size_t kMaxValueBytes = 259;
}  // namespace gpuz

// The window-title rule: the title cut to 63 characters and lower-cased (A-Z
// only) must contain "gpu-z". Then `version` is the trailing run of digits
// and dots when that is longer than five characters and starts with a digit
// ("GPU-Z 2.61.0" -> "2.61.0"), else the last five characters.
bool MatchGPUZWindowTitle(const std::string& title, std::string& version);

class CGPUInfo : public GPUReadings {
public:
    // Searches the top-level windows for GPU-Z, then waits 100 ms.
    CGPUInfo();
    // No window search: the outcome of one is given (tests, synthetic blocks).
    CGPUInfo(bool windowFound, std::string titleVersion);
    virtual ~CGPUInfo();

    int OpenSharedMemory();
    void ReadCardInfo();
    void CloseSharedMemory();
    void ReadSensors();
    static uint64_t TickMs();
    // The card's facts as the block gave them.
    GraphicsCardFacts Facts() const;

    // Reads from `view` (size bytes) from now on; OpenSharedMemory uses it
    // for the mapped block. Records that do not fit wholly are not read.
    void AttachView(const uint8_t* view, size_t size);

    std::string GPUZVersion;
    std::string CardName;
    std::string GPUName;
    std::string MemSize;
    std::string OpenCLVersion;
    std::string DriverVersion;
    bool HasVideoEngine = false;
    bool HasMemoryUsed = false;
    bool HasMemoryDynamic = false;
    bool HasMemoryDedicated = false;
    bool WindowFound = false;
    bool SharedMemoryOpen = false;
    std::string ErrorText;

    // The throttle's clock; tests replace it to feed tick values.
    uint64_t (*Clock)() = &CGPUInfo::TickMs;

private:
    std::string TitleVersion;
    uint64_t LastRefreshTick = 0;
    void* MappingHandle = nullptr;
    const uint8_t* View = nullptr;
    size_t ViewSize = 0;
};
