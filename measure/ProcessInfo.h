// What the benchmark costs Tachoro's own process (where the frame server and
// its plug-ins run): CPU share of the whole machine, threads, memory.
#pragma once

#include <atomic>
#include <cstdint>

#include "measure/Statistics.h"
#include "platform/Process.h"

// Bytes to MB (1048576 bytes), rounded half up; saturates at the 32-bit limit.
uint32_t BytesToMB(uint64_t bytes);

// The process's share in percent of all processors' capacity between two
// readings (system kernel time includes idle time). False when no system
// time passed. Results above 255 saturate at 255 so that they still read
// as "above 100" instead of wrapping into a plausible small value.
bool CpuSharePercent(const platform::CpuTimes& before, const platform::CpuTimes& after, uint8_t& percent);

// CPUUsage shown for a computed percentage: 1..100 as is, anything else 0.
uint16_t CPUUsageFromPercent(uint8_t percent);

// A full refresh at most every 100 ms; the thread count at most about once a
// second. Tick values are 64-bit milliseconds; differences are unsigned.
bool SamplerRefreshDue(uint64_t nowMs, uint64_t lastUpdateMs);
bool ThreadCountRefreshDue(uint64_t nowMs, uint64_t lastCountMs);

class CProcessInfo : public ProcessReadings {
public:
    CProcessInfo();
    virtual ~CProcessInfo();

    CProcessInfo(const CProcessInfo&) = delete;
    CProcessInfo& operator=(const CProcessInfo&) = delete;

    // Refreshes the four public fields; does nothing within 100 ms of the
    // previous refresh of any instance.
    void Update();
    // The CPU percentage since the previous computation; the first call of an
    // instance only records the times. Re-entrant calls get the last value.
    uint8_t ComputeCPUUsage();
    // A percentage has been computed: CPUUsage is a reading, not the 0 it
    // starts with.
    bool HasCPUReading() const { return CPUMeasured; }
    static uint16_t CountThreads();
    // Closes the process handle (the destructor leaves it open).
    void CloseHandles();
    // The throttles' clock: 64-bit milliseconds.
    static uint64_t ProcessTickMs();

private:
    uint8_t LastCPUValue = 0;
    bool FirstCall = true;
    bool CPUMeasured = false;
    platform::CpuTimes Previous{};
    void* ProcessHandle = nullptr;
    platform::MemoryCounters Counters{};
    std::atomic<int32_t> Busy{0};
};
