// Measured runs with GPU monitoring: without any source; against a
// published GPU-Z block with and without a video engine; against the
// drivers' stand-ins (the fake NVML library, a sysfs tree of amdgpu files).
#include <set>
#include <sstream>

#include "platform/Gpu.h"
#include "platform/Library.h"
#include "tests/e2e/Harness.h"
#include "tests/support/GpuFakes.h"
#include "tests/support/PublishedBlock.h"

namespace {

const std::string kSlowClip = "frames=300\nframe_delay_us=2000\n";
// The CSV header of a source with GPU load alone.
const char* const kCsvHeaderWithGpu =
    "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),GPU(%),Threads,PhysMEM(MB),"
    "VirtMEM(MB)";

// The prompt when no source has a GPU: on Windows GPU-Z's, as it always was;
// on Linux it names the drivers looked for.
std::string PromptStart(const std::string& notes = std::string()) {
    return BannerWithVersion() + notes + "\nIn order to measure GPU usage, " +
           (kOnWindows ? "GPU-Z must be running" : "an NVIDIA (NVML) or amdgpu driver is needed") + ".\n" +
           "Continue without GPU monitoring? [y/n]";
}

// A system NVML of the machine the tests run on would be found first.
bool SystemHasNvml() {
    for (const std::string& name : platform::NvmlLibraryNames()) {
        void* library = platform::LoadDynamicLibrary(name);
        if (library == nullptr) continue;
        platform::FreeDynamicLibrary(library);
        return true;
    }
    return false;
}

#define REQUIRE_NO_SYSTEM_NVML() \
    if (SystemHasNvml()) GTEST_SKIP() << "this machine has an NVML library of its own"

// The environment of a run that finds no driver but what the test gives: an
// empty sysfs tree, and the fake NVML's `variant` ("full", "minimal"; none
// when empty) answering `answers`, its calls logged in calls.txt.
std::vector<std::pair<std::string, std::string>> DriverEnvironment(const ScratchDir& dir, const char* variant = "",
                                                                   const std::string& answers = std::string()) {
    std::vector<std::pair<std::string, std::string>> environment = {
        {"TACHORO_TEST_SYSFS_ROOT", NativePath(dir.Path("nosys"))}};
    if (*variant == '\0') return environment;
    environment.push_back(LibrarySearchPath(FakeNvmlDirectory(variant)));
    environment.push_back(FakeNvmlAnswers(dir, answers + "\ncalls=" + NativePath(dir.Path("calls.txt")) + "\n"));
    return environment;
}

std::vector<std::string> CsvFields(const std::string& row) {
    std::vector<std::string> fields;
    std::istringstream stream(row);
    for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
    return fields;
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
    REQUIRE_NO_SYSTEM_NVML();
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir dir;
    ProcessResult result = tachoro.Run({script, "-gpu"}, DriverEnvironment(dir), "n");
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, PromptStart() + ClearedPrompt());
    // Nothing was evaluated: only the installation query loaded the library.
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 2u);
}

TEST(GpuRun, WithoutGpuZTheUserCanGoOnWithoutGpuFigures) {
    REQUIRE_NO_SYSTEM_NVML();
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir dir;
    ProcessResult result = tachoro.Run({script, "-gpu", "-log", "-csv"}, DriverEnvironment(dir), "y");
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
        const std::vector<std::string> fields = CsvFields(csv[row]);
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
    EXPECT_EQ(csv[0], kCsvHeaderWithGpu);
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
        const std::vector<std::string> fields = CsvFields(csv[row]);
        ASSERT_EQ(fields.size(), 12u) << csv[row];
        runs.insert(fields[0]);
        EXPECT_EQ(fields[7], "40") << csv[row];
        EXPECT_EQ(fields[8], "13") << csv[row];
    }
    EXPECT_EQ(runs, (std::set<std::string>{"1", "2"}));
}

const char* const kNvidiaCard =
    "name=NVIDIA GeForce RTX 3060\ndriver=550.54.14\ncuda=12040\ncapability=8.6\nmemory=12288,2048\n"
    "utilization=40\nencoder=5\ndecoder=12\nprocess=other:90,self:30\n";

TEST(DriverRun, NvmlReadingsReachEveryOutput) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir dir;
    ProcessResult result =
        tachoro.Run({script, "-gpu", "-log", "-csv", "-json"}, DriverEnvironment(dir, "full", kNvidiaCard));
    EXPECT_EXIT_CODE(result, 0);
    for (const char* line : {"GPU usage (current | average):  40% | 40%", "Video engine load (cur | avg):  12% | 12%",
                             "GPU memory usage:               2048 MB", "GPU usage (average):            40%",
                             "Video engine load (average):    12%", "GPU usage of Tachoro (average): 30%"})
        EXPECT_TRUE(ScreenHasLine(result.Err, line)) << line << "\n" << result.Err;
    // The connection ends with the run.
    EXPECT_EQ(ReadBytes(dir.Path("calls.txt")), "nvmlInit_v2\nnvmlShutdown\n");

    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("GPU usage of Tachoro (average): 30%\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\n\r\n[Graphics card info]\r\n"
                       "Card name:               NVIDIA GeForce RTX 3060\r\n"
                       "GPU name:                NVIDIA GeForce RTX 3060\r\n"
                       "Memory size:             12288 MB\r\n"
                       "OpenCL version:          n/a\r\n"
                       "Driver version:          550.54.14\r\n"
                       "CUDA version:            12.4\r\n"
                       "Compute capability:      8.6\r\n"
                       "Device:                  0 (of 1, counted from 0)\r\n"
                       "Info collected with:     NVML\r\n\r\n\r\n[Performance data]\r\n"
                       "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   VPU(%)   Threads   "
                       "PhysMEM(MB)   VirtMEM(MB)   ProcessGPU(%)\r\n"),
              std::string::npos)
        << log;
    const std::vector<std::string> csv = CrLfLines(ReadBytes(tachoro.Path("clip.csv")));
    ASSERT_GE(csv.size(), 2u);
    EXPECT_EQ(csv[0],
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),GPU(%),VPU(%),"
              "Threads,PhysMEM(MB),VirtMEM(MB),ProcessGPU(%)");
    for (size_t row = 1; row < csv.size(); ++row) {
        const std::vector<std::string> fields = CsvFields(csv[row]);
        ASSERT_EQ(fields.size(), 12u) << csv[row];
        EXPECT_EQ(fields[6] + " " + fields[7] + " " + fields[11], "40 12 30");
    }
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    for (const char* part : {"\"graphicsCard\": {\r\n    \"source\": \"NVML\",\r\n    \"device\": 0,\r\n    \"devices\": 1,",
                             "\"memorySize\": \"12288 MB\"", "\"openCLVersion\": null", "\"cudaVersion\": \"12.4\"",
                             "\"computeCapability\": \"8.6\"", "\"gpuProcessAverage\": 30",
                             "\"gpu\":40,\"vpu\":12,\"gpuProcess\":30,"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
}

// Out-of-range loads, a name with control characters, and a GPU lost
// mid-run: the run ends as usual, and nothing unchecked is shown or kept.
TEST(DriverRun, BadAnswersNeverReachTheConsoleOrTheFiles) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", "frames=1500\nframe_delay_us=1000\n");
    ScratchDir dir;
    ProcessResult result = tachoro.Run(
        {script, "-gpu", "-log", "-json"},
        DriverEnvironment(dir, "full",
                          "name=\\x1b[2JEvil\\x07GPU\nutilization=40,250\nencoder=150\ndecoder=20\n"
                          "process=self:300\nlost_after=3\n"));
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Err.find_first_of("\x1b\x07"), std::string::npos) << result.Err;
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU readings ended:             GPU is lost")) << result.Err;
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("Card name:               ?[2JEvil?GPU\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("GPU readings ended:             GPU is lost\r\n"), std::string::npos);
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    for (size_t at = json.find("\"gpu\":"); at != std::string::npos; at = json.find("\"gpu\":", at + 1))
        EXPECT_LE(std::stoi(json.substr(at + 6)), 100) << json.substr(at, 40);
    EXPECT_NE(json.find("\"gpu\":0,\"vpu\":0,\"gpuProcess\":0,"), std::string::npos) << "lost: all 0";
    EXPECT_EQ(ReadBytes(dir.Path("calls.txt")), "nvmlInit_v2\nnvmlShutdown\n");
}

TEST(DriverRun, WithoutTheOptionalFunctionsOnlyTheLoadIsShown) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir dir;
    ProcessResult result =
        tachoro.Run({script, "-gpu", "-log", "-csv"}, DriverEnvironment(dir, "minimal", kNvidiaCard));
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU usage (average):            40%")) << result.Err;
    for (const char* absent : {"Video engine", "GPU memory usage", "of Tachoro"})
        EXPECT_EQ(result.Err.find(absent), std::string::npos) << absent;
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("Card name:               n/a\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Info collected with:     NVML\r\n"), std::string::npos);
    EXPECT_EQ(CrLfLines(ReadBytes(tachoro.Path("clip.csv")))[0], kCsvHeaderWithGpu);
}

// A driver that is there but gives no GPU says why, in its own words, above
// the prompt; that line stays when the prompt goes.
TEST(DriverRun, ADriverWithoutAGpuSaysWhyBeforeThePrompt) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir dir;
    ProcessResult result = tachoro.Run({script, "-gpu"}, DriverEnvironment(dir, "full", "nvmlInit_v2=9\n"), "y");
    EXPECT_EXIT_CODE(result, 0);
    const std::string prompt = PromptStart("\nNVML: Driver Not Loaded") + ClearedPrompt();
    EXPECT_EQ(result.Err.compare(0, prompt.size(), prompt), 0) << result.Err;
    EXPECT_EQ(result.Err.find("GPU usage ("), std::string::npos);
}

// -gpu=n reads device n; one beyond the count ends the call before anything
// is measured, with the count.
TEST(DriverRun, GpuNPicksTheDeviceAndRefusesOneBeyondTheCount) {
    const struct {
        const char* argument;
        int exitCode;
        const char* wanted;  // in the JSON file, else on the console
    } cases[] = {
        {"-gpu=1", 0, "\"device\": 1,\r\n    \"devices\": 2,"},
        {"-gpu=2", -1, "\nThere is no GPU 2: NVML reports 2 GPUs, counted from 0.\n"},
        {"-gpu=-1", -1, "\nInvalid parameter value: \"-gpu=-1\"\nValue must be between 0 and 255\n"},
    };
    for (const auto& c : cases) {
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
        ScratchDir dir;
        ProcessResult result = tachoro.Run({script, c.argument, "-json"},
                                           DriverEnvironment(dir, "full", std::string(kNvidiaCard) + "count=2\n"));
        EXPECT_EXIT_CODE(result, c.exitCode);
        if (c.exitCode == 0) {
            const std::string json = ReadBytes(tachoro.Path("clip.json"));
            EXPECT_NE(json.find(c.wanted), std::string::npos) << c.argument << "\n" << json;
        } else {
            EXPECT_NE(result.Err.find(c.wanted), std::string::npos) << c.argument << "\n" << result.Err;
            EXPECT_FALSE(PathExists(tachoro.Path("clip.json"))) << c.argument;
        }
    }
}

TEST(DriverRun, AmdgpuReadingsReachEveryOutput) {
    if (!platform::SysfsGraphicsDevices()) GTEST_SKIP() << "amdgpu's files are read on Linux only";
    REQUIRE_NO_SYSTEM_NVML();
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir dir;
    WriteTree(dir.Path("sys"), AmdgpuTree());
    ProcessResult result = tachoro.Run({script, "-gpu", "-log", "-csv", "-json"},
                                       {{"TACHORO_TEST_SYSFS_ROOT", dir.Path("sys")}});
    EXPECT_EXIT_CODE(result, 0);
    for (const char* line : {"GPU usage (current | average):  37% | 37%", "GPU memory usage:               1024 MB",
                             "GPU usage (average):            37%"})
        EXPECT_TRUE(ScreenHasLine(result.Err, line)) << line << "\n" << result.Err;
    EXPECT_EQ(result.Err.find("Video engine"), std::string::npos);
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("Card name:               AMD Radeon RX 6800\r\n"
                       "GPU name:                AMD Radeon RX 6800\r\n"
                       "Memory size:             16368 MB\r\n"
                       "OpenCL version:          n/a\r\n"
                       "Driver version:          kernel 6.1.0-test\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Info collected with:     amdgpu\r\n"), std::string::npos);
    const std::vector<std::string> csv = CrLfLines(ReadBytes(tachoro.Path("clip.csv")));
    ASSERT_GE(csv.size(), 2u);
    EXPECT_EQ(csv[0], kCsvHeaderWithGpu);
    EXPECT_EQ(CsvFields(csv[1])[6], "37");
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    EXPECT_NE(json.find("\"source\": \"amdgpu\""), std::string::npos) << json;
    EXPECT_EQ(json.find("gpuProcess"), std::string::npos);
}

// GPU-Z comes first where its window is found, with today's outputs; the
// driver's library is not even initialised.
TEST(DriverRun, GpuZIsPreferredWhenBothAreThere) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ScratchDir blockDirectory;
    PublishedBlock block(blockDirectory, "title=GPU-Z 2.61.0\ndata CardName=Radeon\nsensor GPU Load=49.5\n");
    REQUIRE_PUBLISHED(block);
    ScratchDir dir;
    ProcessResult result = tachoro.Run({script, "-gpu", "-log", "-csv"}, DriverEnvironment(dir, "full", kNvidiaCard));
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_TRUE(ScreenHasLine(result.Err, "GPU usage (average):            50%")) << result.Err;
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("[Graphics card info]\r\n"
                       "Card name:               Radeon\r\n"
                       "GPU name:                \r\n"
                       "Memory size:             \r\n"
                       "OpenCL version:          \r\n"
                       "Driver version:          \r\n"
                       "Info collected with:     GPU-Z 2.61.0\r\n\r\n\r\n[Performance data]\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(CrLfLines(ReadBytes(tachoro.Path("clip.csv")))[0], kCsvHeaderWithGpu);
    EXPECT_FALSE(PathExists(dir.Path("calls.txt")));
}

}  // namespace
