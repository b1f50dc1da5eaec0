// Measured runs with GPU monitoring: without GPU-Z, and against a published
// block with and without a video engine.
#include <set>
#include <sstream>

#include "tests/e2e/Harness.h"
#include "tests/support/PublishedBlock.h"

namespace {

const std::string kSlowClip = "frames=300\nframe_delay_us=2000\n";

std::string PromptStart() {
    return BannerWithVersion() + "\nIn order to measure GPU usage, GPU-Z must be running.\n" +
           "Continue without GPU monitoring? [y/n]";
}

std::string ClearedPrompt() { return "\r" + Padded("") + "\r" + Padded(""); }

std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The lines between the last carriage return and the line end, as a
// terminal would show them.
bool ScreenHasLine(const std::string& output, const std::string& wanted) {
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
        size_t lastReturn = line.find_last_of('\r');
        if (lastReturn != std::string::npos) line = line.substr(lastReturn + 1);
        if (line == wanted) return true;
    }
    return false;
}

#define REQUIRE_PUBLISHED(block)                                                                       \
    if (!(block).WaitReady()) {                                                                        \
        if ((block).Problem.find("window") != std::string::npos) GTEST_SKIP() << (block).Problem;      \
        FAIL() << (block).Problem;                                                                     \
    }

TEST(GpuRun, WithoutGpuZTheUserCanStop) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ProcessResult result = tachoro.Run({script, "-gpu"}, {}, "n");
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, PromptStart() + ClearedPrompt());
    // Nothing was evaluated: only the installation query loaded the library.
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 2u);
}

TEST(GpuRun, WithoutGpuZTheUserCanGoOnWithoutGpuFigures) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ProcessResult result = tachoro.Run({script, "-gpu", "-log", "-csv"}, {}, "y");
    EXPECT_EXIT_CODE(result, 0);
    ASSERT_EQ(result.Err.compare(0, PromptStart().size() + ClearedPrompt().size(), PromptStart() + ClearedPrompt()), 0)
        << result.Err;
    EXPECT_EQ(result.Err.find("GPU usage ("), std::string::npos);
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_EQ(log.find("[Graphics card info]"), std::string::npos);
    EXPECT_NE(log.find("\r\n       Frame    Frames/sec   Time/frame(ms)   CPU(%)   Threads   PhysMEM(MB)   VirtMEM(MB)\r\n"),
              std::string::npos);
    const std::string csv = ReadBytes(tachoro.Path("clip.csv"));
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),Threads,"
              "PhysMEM(MB),VirtMEM(MB)");
}

TEST(GpuRun, ACudaCardGivesGpuAndVideoEngineFigures) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir blockDirectory;
    PublishedBlock block(blockDirectory,
                         "title=TechPowerUp GPU-Z 2.61.0\n"
                         "data CardName=NVIDIA GeForce RTX 3060\n"
                         "data GPUName=GA106\n"
                         "data MemSize=12288 MB\n"
                         "data OpenCL_Version=OpenCL 3.0\n"
                         "data DriverVersion=31.0.15.3623\n"
                         "data CUDA=1\n"
                         "data CUDA_Capability=8.6\n"
                         "sensor GPU Load=40\n"
                         "sensor Video Engine Load=12.5\n"
                         "sensor Memory Used=2048\n");
    REQUIRE_PUBLISHED(block);
    ProcessResult result = tachoro.Run({script, "-gpu", "-log", "-csv"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU usage (current | average):  40% | 40%")) << result.Err;
    EXPECT_TRUE(ScreenHasLine(result.Err, "Video engine load (cur | avg):  13% | 13%"));
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU memory usage:               2048 MB"));
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU usage (average):            40%"));
    EXPECT_TRUE(ScreenHasLine(result.Err, "Video engine load (average):    13%"));
    EXPECT_FALSE(ScreenHasLine(result.Err, "GPU memory usage (Dedicated):   0 MB"));

    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("frame_delay_us=2000\r\n\r\n\r\n\r\n[Graphics card info]\r\n"
                       "Card name:               NVIDIA GeForce RTX 3060\r\n"
                       "GPU name:                GA106\r\n"
                       "Memory size:             12288 MB\r\n"
                       "OpenCL version:          OpenCL 3.0\r\n"
                       "Driver version:          31.0.15.3623\r\n"
                       "Info collected with:     GPU-Z 2.61.0\r\n\r\n\r\n[Performance data]\r\n"
                       "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   VPU(%)   Threads   "
                       "PhysMEM(MB)   VirtMEM(MB)\r\n"),
              std::string::npos)
        << log;
    const std::vector<std::string> csv = CrLfLines(ReadBytes(tachoro.Path("clip.csv")));
    ASSERT_GE(csv.size(), 2u);
    EXPECT_EQ(csv[0],
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),GPU(%),VPU(%),"
              "Threads,PhysMEM(MB),VirtMEM(MB)");
    for (size_t row = 1; row < csv.size(); ++row) {
        std::vector<std::string> fields;
        std::istringstream stream(csv[row]);
        for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
        ASSERT_EQ(fields.size(), 11u) << csv[row];
        EXPECT_EQ(fields[6], "40");
        EXPECT_EQ(fields[7], "13");
    }
}

TEST(GpuRun, ACardWithoutVideoEngineGivesTheGpuColumnOnly) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir blockDirectory;
    PublishedBlock block(blockDirectory,
                         "title=GPU-Z 0.8.5\n"
                         "data CardName=Radeon\n"
                         "data CUDA_Capability=0.9\n"
                         "sensor GPU Load=49.5\n"
                         "sensor Video Engine Load=77\n"
                         "sensor Memory Usage (Dedicated)=512\n"
                         "sensor Memory Usage (Dynamic)=64\n");
    REQUIRE_PUBLISHED(block);
    ProcessResult result = tachoro.Run({script, "-gpu", "-log", "-csv"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU usage (average):            50%")) << result.Err;
    EXPECT_EQ(result.Err.find("Video engine"), std::string::npos);
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU memory usage (Dedicated):   512 MB"));
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU memory usage (Dynamic):     64 MB"));
    EXPECT_EQ(result.Err.find("GPU memory usage:  "), std::string::npos);

    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("Info collected with:     GPU-Z 0.8.5\r\n"), std::string::npos);
    EXPECT_NE(log.find("   CPU(%)   GPU(%)   Threads   "), std::string::npos);
    EXPECT_EQ(log.find("VPU(%)"), std::string::npos);
    const std::vector<std::string> csv = CrLfLines(ReadBytes(tachoro.Path("clip.csv")));
    ASSERT_GE(csv.size(), 2u);
    EXPECT_EQ(csv[0],
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),GPU(%),Threads,"
              "PhysMEM(MB),VirtMEM(MB)");
}

// The block is closed after each measurement: every run reads it anew.
TEST(GpuRun, EveryRunOfASeriesReadsTheGpu) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir blockDirectory;
    PublishedBlock block(blockDirectory, "title=GPU-Z 2.61.0\ndata CUDA=1\ndata CUDA_Capability=8.6\n"
                                         "sensor GPU Load=40\nsensor Video Engine Load=12.5\n");
    REQUIRE_PUBLISHED(block);
    ProcessResult result = tachoro.Run({script, "-gpu", "-runs=2", "-csv"});
    EXPECT_EXIT_CODE(result, 0);
    const std::vector<std::string> csv = CrLfLines(ReadBytes(tachoro.Path("clip.csv")));
    ASSERT_GE(csv.size(), 3u);
    EXPECT_EQ(csv[0].substr(0, 4), "Run,");
    std::set<std::string> runs;
    for (size_t row = 1; row < csv.size(); ++row) {
        std::vector<std::string> fields;
        std::istringstream stream(csv[row]);
        for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
        ASSERT_EQ(fields.size(), 12u) << csv[row];
        runs.insert(fields[0]);
        EXPECT_EQ(fields[7], "40") << csv[row];
        EXPECT_EQ(fields[8], "13") << csv[row];
    }
    EXPECT_EQ(runs, (std::set<std::string>{"1", "2"}));
}

}  // namespace
