// The GPU monitor against a block published the way GPU-Z publishes it.
#include <gtest/gtest.h>

#include <string>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "measure/GPUInfo.h"
#include "platform/Time.h"
#include "tests/support/PublishedBlock.h"

TEST(GPUZPublishedBlock, MonitorFindsReadsAndFollowsTheBlock) {
    ScratchDir dir;
    ASSERT_TRUE(dir.Valid());
    PublishedBlock published(dir,
                             "title=TechPowerUp GPU-Z 2.61.0\n"
                             "data CardName=NVIDIA GeForce RTX 3060\n"
                             "data CUDA=1\n"
                             "data CUDA_Capability=8.6\n"
                             "sensor GPU Load=40\n"
                             "sensor Video Engine Load=12.5\n"
                             "sensor Memory Used=2048\n"
                             "after 1500 GPU Load=80\n");
    if (!published.WaitReady()) {
        if (published.Problem.find("window") != std::string::npos) GTEST_SKIP() << published.Problem;
        FAIL() << published.Problem;
    }
    CGPUInfo gpu;
    EXPECT_EQ(gpu.WindowFound, 1);
    ASSERT_EQ(gpu.OpenSharedMemory(), 1) << gpu.ErrorText;
    EXPECT_EQ(gpu.SharedMemoryOpen, 1);
    EXPECT_EQ(gpu.GPUZVersion, "2.61.0");
    EXPECT_EQ(gpu.CardName, "NVIDIA GeForce RTX 3060");
    EXPECT_EQ(gpu.HasVideoEngine, 1);
    gpu.ReadSensors();
    EXPECT_EQ(gpu.GPULoad, 40);
    EXPECT_EQ(gpu.VideoEngineLoad, 13);
    EXPECT_EQ(gpu.MemoryUsed, 2048u);
    // The publisher raises the load while the block stays mapped.
    for (int i = 0; i < 100 && gpu.GPULoad != 80; ++i) {
        platform::SleepMs(100);
        gpu.ReadSensors();
    }
    EXPECT_EQ(gpu.GPULoad, 80);
    gpu.CloseSharedMemory();
    EXPECT_EQ(gpu.SharedMemoryOpen, 1);
}

TEST(GPUZPublishedBlock, BlockShorterThanTheLayoutIsRefused) {
    ScratchDir dir;
    ASSERT_TRUE(dir.Valid());
    PublishedBlock published(dir, "title=GPU-Z 0.8.5\nsize=4096\nsensor GPU Load=40\n");
    if (!published.WaitReady()) {
        if (published.Problem.find("window") != std::string::npos) GTEST_SKIP() << published.Problem;
        FAIL() << published.Problem;
    }
    CGPUInfo gpu;
    EXPECT_EQ(gpu.WindowFound, 1);
    EXPECT_EQ(gpu.OpenSharedMemory(), 0);
    EXPECT_EQ(gpu.SharedMemoryOpen, 0);
    EXPECT_NE(gpu.ErrorText.find(std::to_string(gpuz::kBlockSize)), std::string::npos) << gpu.ErrorText;
}

#if !defined(_WIN32)
// A pipe in the block's place neither stops the search for GPU-Z nor opens
// as a block: one message, at once.
TEST(GPUZPublishedBlock, APipeInPlaceOfTheBlockIsRefusedAtOnce) {
    const char* const path = "/dev/shm/GPUZShMem";
    ASSERT_EQ(mkfifo(path, 0600), 0);
    CGPUInfo gpu;
    const bool opened = gpu.OpenSharedMemory() != 0;
    unlink(path);
    EXPECT_EQ(gpu.WindowFound, 1);
    EXPECT_FALSE(opened);
    EXPECT_EQ(gpu.ErrorText, "The shared memory block is not a regular file");
}
#endif
