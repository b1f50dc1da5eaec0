#include "measure/ProcessInfo.h"

#include <cstdint>

#include "measure/Timer.h"
#include "platform/Time.h"

namespace {
// Shared by all instances: the throttles hold for the process, not per
// sampler.
uint64_t LastUpdateTick = 0;
uint64_t LastThreadCountTick = 0;
}  // namespace

uint32_t BytesToMB(uint64_t bytes) {
    const double mb = static_cast<double>(bytes) / 1048576.0 + 0.5;
    if (mb >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(mb);
}

bool CpuSharePercent(const platform::CpuTimes& before, const platform::CpuTimes& after, uint8_t& percent) {
    const uint64_t system = (after.systemKernel - before.systemKernel) + (after.systemUser - before.systemUser);
    if (system == 0) return false;
    const uint64_t process = (after.processUser - before.processUser) + (after.processKernel - before.processKernel);
    const double share = static_cast<double>(process) * 100.0 / static_cast<double>(system);
    percent = share >= 255.0 ? 255 : static_cast<uint8_t>(share);
    return true;
}

uint16_t CPUUsageFromPercent(uint8_t percent) {
    return (percent >= 1 && percent <= 100) ? percent : 0;
}

bool SamplerRefreshDue(uint64_t nowMs, uint64_t lastUpdateMs) {
    return nowMs - lastUpdateMs >= 100;
}

bool ThreadCountRefreshDue(uint64_t nowMs, uint64_t lastCountMs) {
    return nowMs - lastCountMs > 1000;
}

CProcessInfo::CProcessInfo() : ProcessHandle(platform::OpenOwnProcess()) {
    ThreadCount = CountThreads();
}

CProcessInfo::~CProcessInfo() = default;

void CProcessInfo::Update() {
    if (!SamplerRefreshDue(ProcessTickMs(), LastUpdateTick)) return;

    const uint8_t percent = ComputeCPUUsage();
    LastCPUValue = percent;
    FirstCall = false;
    CPUUsage = CPUUsageFromPercent(percent);

    if (ThreadCountRefreshDue(ProcessTickMs(), LastThreadCountTick)) {
        ThreadCount = CountThreads();
        LastThreadCountTick = ProcessTickMs();
    }

    // A failed query keeps the previous counters, as the figures are shown
    // whatever the call returned.
    platform::ReadMemoryCounters(ProcessHandle, Counters);
    PhysMemMB = BytesToMB(Counters.workingSetBytes);
    VirtMemMB = BytesToMB(Counters.privateBytes);

    LastUpdateTick = ProcessTickMs();
}

uint8_t CProcessInfo::ComputeCPUUsage() {
    if (Busy.fetch_add(1) == 0) {
        platform::CpuTimes now;
        if (platform::ReadCpuTimes(now)) {
            uint8_t percent = 0;
            if (!FirstCall && CpuSharePercent(Previous, now, percent)) {
                LastCPUValue = percent;
                CPUMeasured = true;
            }
            Previous = now;
        }
    }
    Busy.fetch_sub(1);
    return LastCPUValue;
}

uint16_t CProcessInfo::CountThreads() {
    return platform::CountOwnThreads();
}

void CProcessInfo::CloseHandles() {
    if (ProcessHandle != nullptr) {
        platform::CloseOwnProcess(ProcessHandle);
        ProcessHandle = nullptr;
    }
}

uint64_t CProcessInfo::ProcessTickMs() { return platform::MonotonicMs(); }
