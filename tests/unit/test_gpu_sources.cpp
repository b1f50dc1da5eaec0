// The driver sources of the GPU monitor: NVML against the fake library,
// amdgpu against a sysfs tree of the test's own, and the monitor's choice.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "measure/GPUMonitor.h"
#include "report/LogFile.h"
#include "tests/support/GpuFakes.h"

namespace {

void SetVariable(const std::pair<std::string, std::string>& variable) {
#if defined(_WIN32)
    _putenv_s(variable.first.c_str(), variable.second.c_str());
#else
    setenv(variable.first.c_str(), variable.second.c_str(), 1);
#endif
}

const char* const kCard =
    "name=NVIDIA GeForce RTX 3060\ndriver=550.54.14\ncuda=12040\ncapability=8.6\nmemory=12288,2048\n"
    "utilization=40\nencoder=5\ndecoder=12\nprocess=other:90,self:30\n";

class NvmlSource : public ::testing::Test {
protected:
    GPUOpen Open(const std::string& answers, const char* variant = "full", uint32_t device = 0) {
        SetVariable(FakeNvmlAnswers(dir, answers + "\ncalls=" + NativePath(dir.Path("calls.txt")) + "\n"));
        return source.Open({NativePath(FakeNvmlLibrary(variant))}, device, note);
    }
    GPUReadings Read() {
        source.Read(readings);
        return readings;
    }
    std::string Calls() const { return ReadBytes(dir.Path("calls.txt")); }

    ScratchDir dir;
    CNvmlSource source;
    std::string note;
    GPUReadings readings;
};

// A function that is missing or does not answer drops only its own reading.
TEST_F(NvmlSource, EachOptionalReadingGoesAlone) {
    struct Case {
        const char* Answers;
        bool VideoEngine, Memory, Process;
        uint16_t Vpu;
        uint32_t MemoryUsed;
    };
    const Case cases[] = {
        {"nvmlDeviceGetEncoderUtilization=3\n", true, true, true, 12, 2048},
        {"nvmlDeviceGetEncoderUtilization=3\nnvmlDeviceGetDecoderUtilization=3\n", false, true, true, 0, 2048},
        // The driver's reserved memory counts as used only where the newer
        // call is refused.
        {"reserved=512\n", true, true, true, 12, 2048},
        {"reserved=512\nnvmlDeviceGetMemoryInfo_v2=25\n", true, true, true, 12, 2560},
        {"nvmlDeviceGetMemoryInfo_v2=3\nnvmlDeviceGetMemoryInfo=3\n", true, false, true, 12, 0},
        {"nvmlDeviceGetProcessUtilization=3\n", true, true, false, 12, 2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Answers);
        ASSERT_EQ(Open(std::string(kCard) + c.Answers), GPUOpen::Device) << note;
        EXPECT_EQ(source.Features.HasVideoEngine, c.VideoEngine);
        EXPECT_EQ(source.Features.HasMemoryUsed, c.Memory);
        EXPECT_EQ(source.Features.HasProcessLoad, c.Process);
        EXPECT_EQ(source.Facts.MemorySize.empty(), !c.Memory);
        readings = GPUReadings();
        EXPECT_EQ(Read().VideoEngineLoad, c.Vpu);
        EXPECT_EQ(readings.GPULoad, 40);
        EXPECT_EQ(readings.MemoryUsed, c.MemoryUsed);
    }
    ASSERT_EQ(Open(std::string(kCard) + "nvmlDeviceGetName=3\nnvmlSystemGetCudaDriverVersion=3\n"), GPUOpen::Device);
    EXPECT_EQ(source.Facts.CardName, "");
    EXPECT_EQ(source.Facts.CudaVersion, "");
    EXPECT_EQ(source.Facts.DriverVersion, "550.54.14");

    // Only what cannot be done without.
    ASSERT_EQ(Open(kCard, "minimal"), GPUOpen::Device) << note;
    EXPECT_FALSE(source.Features.HasVideoEngine || source.Features.HasMemoryUsed || source.Features.HasProcessLoad);
    EXPECT_EQ(source.Facts.CardName + source.Facts.DriverVersion + source.Facts.ComputeCapability, "");
    readings = GPUReadings();
    EXPECT_EQ(Read().GPULoad, 40);
}

TEST_F(NvmlSource, BadAnswersAreCheckedOrKeepThePreviousValue) {
    ASSERT_EQ(Open("name=\\x1b[31mEvil\\x07GPU" + std::string(120, 'x') +
                   "\ncapability=500.1\nmemory=1000,2000\nutilization=40,250\nencoder=150\ndecoder=20\n"
                   "process=self:300,other:50\n"),
              GPUOpen::Device);
    // Cut to the library's buffer, which it filled without a terminator.
    EXPECT_EQ(source.Facts.CardName, "?[31mEvil?GPU" + std::string(96 - 13, 'x'));
    EXPECT_EQ(source.Facts.ComputeCapability, "");
    EXPECT_FALSE(source.Features.HasMemoryUsed);  // more used than there is
    EXPECT_EQ(Read().GPULoad, 40);
    EXPECT_EQ(Read().GPULoad, 40);  // 250 % is no load
    EXPECT_EQ(readings.VideoEngineLoad, 20);
    EXPECT_EQ(readings.ProcessGPULoad, 0);
}

TEST_F(NvmlSource, OpeningFailsWithTheLibrarysOwnWords) {
    struct Case {
        const char* Answers;
        uint32_t Device;
        GPUOpen Opened;
        const char* Note;
        const char* Calls;
    };
    const Case cases[] = {
        {"nvmlInit_v2=9\n", 0, GPUOpen::NoDevice, "NVML: Driver Not Loaded", "nvmlInit_v2\n"},
        {"count=0\n", 0, GPUOpen::NoDevice, "NVML reports no GPU", "nvmlInit_v2\nnvmlShutdown\n"},
        // A text no library should give reaches nobody unchecked.
        {"nvmlDeviceGetCount_v2=77\n", 0, GPUOpen::NoDevice, "NVML: Bad?[2J? news", "nvmlInit_v2\nnvmlShutdown\n"},
        {"nvmlDeviceGetHandleByIndex_v2=15\n", 0, GPUOpen::NoDevice, "NVML, GPU 0: GPU is lost",
         "nvmlInit_v2\nnvmlShutdown\n"},
        {"count=2\n", 2, GPUOpen::Refused, "There is no GPU 2: NVML reports 2 GPUs, counted from 0.",
         "nvmlInit_v2\nnvmlShutdown\n"},
        {"count=2\n", 1, GPUOpen::Device, "", "nvmlInit_v2\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Answers);
        std::filesystem::remove(dir.Path("calls.txt"));
        EXPECT_EQ(Open(c.Answers, "full", c.Device), c.Opened);
        EXPECT_EQ(note, c.Note);
        EXPECT_EQ(Calls(), c.Calls);
    }
    EXPECT_EQ(source.Facts.Device, 1u);
    EXPECT_EQ(source.Facts.DeviceCount, 2u);
}

TEST_F(NvmlSource, TheFirstLibraryWithTheFunctionsIsTaken) {
    const std::string missing = NativePath(dir.Path("libnvidia-ml.so.1"));
    const std::string other = NativePath(TESTFS_LIBRARY);  // a library, but not NVML
    SetVariable(FakeNvmlAnswers(dir, kCard));
    EXPECT_EQ(source.Open({missing}, 0, note), GPUOpen::NoDevice);
    EXPECT_EQ(note, "");
    EXPECT_EQ(source.Open({missing, other}, 0, note), GPUOpen::NoDevice);
    EXPECT_EQ(note, "NVML (" + other + ") has no nvmlInit_v2");
    EXPECT_EQ(source.Open({missing, other, NativePath(FakeNvmlLibrary("full"))}, 0, note), GPUOpen::Device);
    EXPECT_EQ(note, "");
}

class AmdgpuSource : public ::testing::Test {
protected:
    void SetUp() override { WriteTree(dir.Path("root"), AmdgpuTree()); }
    std::string Device(const std::string& file) const { return dir.Path("root/sys/class/drm/card1/device/" + file); }

    ScratchDir dir;
    CAmdgpuSource source;
    std::string note;
    GPUReadings readings;
};

TEST_F(AmdgpuSource, FindsTheAmdCardAmongTheOthers) {
    ASSERT_EQ(source.Open(dir.Path("root"), 0, note), GPUOpen::Device);
    const GraphicsCardFacts& facts = source.Facts;
    EXPECT_EQ(facts.Source, "amdgpu");
    EXPECT_EQ(facts.CardName, "AMD Radeon RX 6800");
    EXPECT_EQ(facts.MemorySize, "16368 MB");
    EXPECT_EQ(facts.DriverVersion, "kernel 6.1.0-test");
    EXPECT_EQ(facts.CudaVersion + facts.ComputeCapability + facts.OpenCLVersion, "");
    EXPECT_EQ(facts.DeviceCount, 1u);
    EXPECT_TRUE(source.Features.HasMemoryUsed);
    EXPECT_FALSE(source.Features.HasVideoEngine || source.Features.HasProcessLoad);
    source.Read(readings);
    EXPECT_EQ(readings.GPULoad, 37);
    EXPECT_EQ(readings.MemoryUsed, 1024u);

    EXPECT_EQ(source.Open(dir.Path("root"), 1, note), GPUOpen::Refused);
    EXPECT_EQ(note, "There is no GPU 1: amdgpu reports 1 GPU, counted from 0.");
    EXPECT_EQ(source.Open(dir.Path("nothing"), 0, note), GPUOpen::NoDevice);
}

TEST_F(AmdgpuSource, FactsTheCardDoesNotNameComeFromItsIds) {
    std::filesystem::remove(Device("product_name"));
    WriteTree(dir.Path("root"), {{"sys/module/amdgpu/version", "6.5.2\n"}});
    ASSERT_EQ(source.Open(dir.Path("root"), 0, note), GPUOpen::Device);
    EXPECT_EQ(source.Facts.CardName, "1002:73bf");
    EXPECT_EQ(source.Facts.DriverVersion, "6.5.2");
}

TEST_F(AmdgpuSource, BadValuesKeepThePreviousOnesAndAGoneDeviceEndsTheReadings) {
    ASSERT_EQ(source.Open(dir.Path("root"), 0, note), GPUOpen::Device);
    source.Read(readings);
    for (const char* busy : {"250\n", "4x\n", "", "-1\n"}) {
        WriteBytes(Device("gpu_busy_percent"), busy);
        WriteBytes(Device("mem_info_vram_used"), "99999999999999\n");  // beyond the card's memory
        source.Read(readings);
        EXPECT_EQ(readings.GPULoad, 37) << busy;
        EXPECT_EQ(readings.MemoryUsed, 1024u);
    }
    EXPECT_EQ(source.LostText, "");
    std::filesystem::remove_all(dir.Path("root/sys/class/drm/card1"));
    source.Read(readings);
    EXPECT_EQ(source.LostText, "the device is gone");
    EXPECT_EQ(readings.GPULoad + readings.MemoryUsed, 0u);
}

uint64_t g_tick = 0;
uint64_t TestTick() { return g_tick; }

TEST(GPUMonitor, ChoosesTheFirstSourceThatHasTheDevice) {
    ScratchDir dir;
    WriteTree(dir.Path("root"), AmdgpuTree());
    GPUSearch search;
    search.NvmlLibraries = {NativePath(FakeNvmlLibrary("full"))};
    search.Amdgpu = true;
    search.SysfsRoot = dir.Path("root");
    struct Case {
        const char* Answers;
        std::vector<std::string> Libraries;
        bool Amdgpu;
        uint32_t Device;
        GPUConnect Outcome;
        GPUSourceKind Source;
        std::vector<std::string> Notes;
        const char* Error;
    };
    const std::vector<Case> cases = {
        {"", search.NvmlLibraries, true, 0, GPUConnect::Connected, GPUSourceKind::NVML, {}, ""},
        {"", {}, true, 0, GPUConnect::Connected, GPUSourceKind::Amdgpu, {}, ""},
        // A driver that gives no device does not keep the next one from it.
        {"nvmlInit_v2=9\n", search.NvmlLibraries, true, 0, GPUConnect::Connected, GPUSourceKind::Amdgpu,
         {"NVML: Driver Not Loaded"}, ""},
        {"nvmlInit_v2=9\n", search.NvmlLibraries, false, 0, GPUConnect::NotFound, GPUSourceKind::None,
         {"NVML: Driver Not Loaded"}, ""},
        {"", {}, false, 0, GPUConnect::NotFound, GPUSourceKind::None, {}, ""},
        // A device beyond the count is refused, not looked for elsewhere.
        {"", search.NvmlLibraries, true, 1, GPUConnect::Refused, GPUSourceKind::None, {},
         "There is no GPU 1: NVML reports 1 GPU, counted from 0."},
        {"", {}, true, 3, GPUConnect::Refused, GPUSourceKind::None, {},
         "There is no GPU 3: amdgpu reports 1 GPU, counted from 0."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Answers + std::to_string(c.Libraries.size()) + std::to_string(c.Amdgpu));
        SetVariable(FakeNvmlAnswers(dir, c.Answers));
        CGPUMonitor monitor(false, std::string());
        search.NvmlLibraries = c.Libraries;
        search.Amdgpu = c.Amdgpu;
        search.Device = c.Device;
        EXPECT_EQ(monitor.Connect(search), c.Outcome);
        EXPECT_EQ(monitor.Source, c.Source);
        EXPECT_EQ(monitor.Notes, c.Notes);
        EXPECT_EQ(monitor.ErrorText, c.Error);
    }
}

// The drivers are read as GPU-Z's block is: at most once per 300 ms.
TEST(GPUMonitor, ReadsADriverAtMostEveryThreeHundredMilliseconds) {
    ScratchDir dir;
    SetVariable(FakeNvmlAnswers(dir, "utilization=10,20,30\n"));
    CGPUMonitor monitor(false, std::string());
    monitor.Clock = &TestTick;
    GPUSearch search;
    search.NvmlLibraries = {NativePath(FakeNvmlLibrary("full"))};
    ASSERT_EQ(monitor.Connect(search), GPUConnect::Connected);
    EXPECT_TRUE(monitor.Features.HasVideoEngine && monitor.Features.HasMemoryUsed && monitor.Features.HasProcessLoad);
    EXPECT_EQ(monitor.Facts().Source, "NVML");
    const std::vector<std::pair<uint64_t, uint16_t>> steps = {{1000, 10}, {1299, 10}, {1300, 20}, {1400, 20}, {1650, 30}};
    for (const auto& step : steps) {
        g_tick = step.first;
        monitor.ReadSensors();
        EXPECT_EQ(monitor.GPULoad, step.second) << step.first;
    }
}

TEST(GraphicsCardSection, ADriverSaysWhatItCannotTell) {
    GraphicsCardFacts facts;
    facts.Kind = GPUSourceKind::Amdgpu;
    facts.Source = "amdgpu";
    facts.Device = 1;
    facts.DeviceCount = 2;
    facts.CardName = facts.GPUName = "1002:73bf";
    facts.DriverVersion = "kernel 6.1.0";
    EXPECT_EQ(GraphicsCardSection(facts),
              "\n\n[Graphics card info]\n"
              "Card name:               1002:73bf\n"
              "GPU name:                1002:73bf\n"
              "Memory size:             n/a\n"
              "OpenCL version:          n/a\n"
              "Driver version:          kernel 6.1.0\n"
              "CUDA version:            n/a\n"
              "Compute capability:      n/a\n"
              "Device:                  1 (of 2, counted from 0)\n"
              "Info collected with:     amdgpu\n\n");
}

TEST(DriverTexts, VersionsAndCheckedText) {
    EXPECT_EQ(CudaVersionText(12040), "12.4");
    EXPECT_EQ(CudaVersionText(11080), "11.8");
    EXPECT_EQ(CudaVersionText(0), "");
    EXPECT_EQ(CudaVersionText(-12040), "");
    const char bytes[] = "  Caf\xc3\xa9\tGPU\x1b  \0hidden";
    EXPECT_EQ(DriverText(bytes, sizeof bytes), "Caf???GPU?");
    EXPECT_EQ(DriverText(std::string(300, 'a').c_str(), 300), std::string(255, 'a'));
}

}  // namespace
