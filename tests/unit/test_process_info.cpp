#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "measure/ProcessInfo.h"
#include "measure/Timer.h"
#include "platform/Process.h"
#include "platform/Time.h"

TEST(SamplerArithmetic, BytesRoundHalfUpToMB) {
    EXPECT_EQ(BytesToMB(1572864), 2u);  // 1.5 MB
    EXPECT_EQ(BytesToMB(1048575), 1u);
    EXPECT_EQ(BytesToMB(524288), 1u);  // exactly half
    EXPECT_EQ(BytesToMB(524287), 0u);
    EXPECT_EQ(BytesToMB(0), 0u);
    EXPECT_EQ(BytesToMB(uint64_t{8} << 30), 8192u);
    EXPECT_EQ(BytesToMB(UINT64_MAX), UINT32_MAX);
}

namespace {
platform::CpuTimes Times(uint64_t sysKernel, uint64_t sysUser, uint64_t procKernel, uint64_t procUser) {
    platform::CpuTimes t;
    t.systemKernel = sysKernel;
    t.systemUser = sysUser;
    t.processKernel = procKernel;
    t.processUser = procUser;
    return t;
}
}  // namespace

TEST(SamplerArithmetic, CpuShareIsOfAllProcessors) {
    // One second on eight processors: 8e7 units of 100 ns, of which the
    // process used two processors' worth.
    const platform::CpuTimes before = Times(1000, 2000, 300, 400);
    const platform::CpuTimes after = Times(1000 + 60000000, 2000 + 20000000, 300 + 5000000, 400 + 15000000);
    uint8_t percent = 99;
    ASSERT_TRUE(CpuSharePercent(before, after, percent));
    EXPECT_EQ(percent, 25);
    EXPECT_EQ(CPUUsageFromPercent(percent), 25);

    ASSERT_TRUE(CpuSharePercent(Times(0, 0, 0, 0), Times(1000, 0, 339, 0), percent));
    EXPECT_EQ(percent, 33) << "truncated";
    percent = 42;
    EXPECT_FALSE(CpuSharePercent(Times(5, 5, 0, 0), Times(5, 5, 100, 0), percent)) << "no system time passed";
    EXPECT_EQ(percent, 42);
}

TEST(SamplerArithmetic, ImplausibleSharesShowAsZero) {
    // Process time above system time must not wrap into a small believable
    // percentage (300 % would read 44 in eight bits).
    uint8_t percent = 0;
    ASSERT_TRUE(CpuSharePercent(Times(0, 0, 0, 0), Times(100, 0, 300, 0), percent));
    EXPECT_EQ(percent, 255);
    EXPECT_EQ(CPUUsageFromPercent(percent), 0);
    EXPECT_EQ(CPUUsageFromPercent(101), 0);
    EXPECT_EQ(CPUUsageFromPercent(100), 100);
    EXPECT_EQ(CPUUsageFromPercent(1), 1);
    EXPECT_EQ(CPUUsageFromPercent(0), 0);
}

TEST(SamplerArithmetic, Throttles) {
    EXPECT_FALSE(SamplerRefreshDue(1099, 1000));
    EXPECT_TRUE(SamplerRefreshDue(1100, 1000));
    EXPECT_TRUE(SamplerRefreshDue(150, 0));  // the first update of the process
    EXPECT_FALSE(ThreadCountRefreshDue(2000, 1000));
    EXPECT_TRUE(ThreadCountRefreshDue(2001, 1000));
    // Readings past the 32-bit range differ by the real time.
    const uint64_t last = 0xFFFFFFC4u;  // 60 ms before 2^32
    EXPECT_FALSE(SamplerRefreshDue(0x100000014ull, last));
    EXPECT_TRUE(SamplerRefreshDue(0x100000028ull, last));
}

namespace {
void BurnCpu(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    volatile uint64_t sink = 0;
    while (std::chrono::steady_clock::now() < end) sink = sink + 1;
}
}  // namespace

TEST(ProcessInfoLive, FirstUpdateReadsZeroAndUpdatesAreThrottled) {
    platform::SleepMs(110);  // clear of any earlier update in this process
    CProcessInfo info;
    BurnCpu(150);
    info.Update();
    EXPECT_EQ(info.CPUUsage, 0) << "no earlier times to compare with";
    EXPECT_FALSE(info.HasCPUReading()) << "the 0 is no reading";
    EXPECT_GT(info.PhysMemMB, 0u);

    BurnCpu(50);
    info.Update();  // within 100 ms: nothing changes
    EXPECT_EQ(info.CPUUsage, 0);
    EXPECT_FALSE(info.HasCPUReading());

    BurnCpu(300);
    info.Update();
    EXPECT_TRUE(info.HasCPUReading());
    EXPECT_GT(info.CPUUsage, 0);
    EXPECT_LE(info.CPUUsage, 100);
    info.CloseHandles();
    info.CloseHandles();  // a second close is harmless
}

TEST(ProcessInfoLive, WorkingSetFollowsTouchedMemory) {
    platform::SleepMs(110);
    CProcessInfo info;
    info.Update();
    const uint32_t before = info.PhysMemMB;
    std::vector<char> block(64u << 20);
    for (size_t i = 0; i < block.size(); i += 4096) block[i] = static_cast<char>(i);
    platform::SleepMs(110);
    info.Update();
    EXPECT_GE(info.PhysMemMB, before + 48) << "64 MB touched";
    EXPECT_GE(info.VirtMemMB, 48u);
    EXPECT_EQ(block[4096], static_cast<char>(4096));
    info.CloseHandles();
}

TEST(ProcessInfoLive, ThreadCountRefreshesAboutOnceASecond) {
    platform::SleepMs(1010);  // clear of any earlier thread count in this process
    CProcessInfo info;
    EXPECT_GE(info.ThreadCount, 1);
    info.Update();  // the thread count is taken now
    const uint16_t counted = info.ThreadCount;

    std::mutex mutex;
    std::condition_variable released;
    bool done = false;
    std::thread worker([&] {
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return done; });
    });

    platform::SleepMs(150);
    info.Update();
    EXPECT_EQ(info.ThreadCount, counted) << "less than a second since the last count";

    platform::SleepMs(1000);
    info.Update();
    EXPECT_GE(info.ThreadCount, counted + 1);

    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    released.notify_all();
    worker.join();
    info.CloseHandles();
}

TEST(ProcessInfoLive, ProcessTickFollowsTheClock) {
    const uint64_t before = CProcessInfo::ProcessTickMs();
    platform::SleepMs(120);
    const uint64_t after = CProcessInfo::ProcessTickMs();
    EXPECT_GE(after - before, 100u);
    EXPECT_LT(after - before, 2000u);
}
