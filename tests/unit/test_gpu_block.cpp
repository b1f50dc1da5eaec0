#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "measure/GPUInfo.h"
#include "report/LogFile.h"
#include "tests/support/ScratchDir.h"
#include "tests/support/TestPlatform.h"

namespace {

// A GPU-Z block built in memory, laid out as GPU-Z lays it out.
class Block {
public:
    explicit Block(size_t size = gpuz::kBlockSize) : Bytes(size, 0) {}

    void Data(size_t index, const std::u16string& key, const std::u16string& value) {
        size_t record = gpuz::kDataRecordOffset + index * gpuz::kDataRecordSize;
        Text(record, key, true);
        Text(record + gpuz::kDataValueOffset, value, true);
    }
    void Sensor(size_t index, const std::u16string& name, double value) {
        size_t record = gpuz::kSensorRecordOffset + index * gpuz::kSensorRecordSize;
        Text(record, name, true);
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (size_t i = 0; i < 8; ++i) Put(record + gpuz::kSensorValueOffset + i, static_cast<uint8_t>(bits >> (8 * i)));
    }
    // Writes UTF-16LE code units, with a terminator when asked and room is left.
    void Text(size_t offset, const std::u16string& text, bool terminate) {
        for (size_t i = 0; i < text.size(); ++i) {
            Put(offset + 2 * i, static_cast<uint8_t>(text[i] & 0xFF));
            Put(offset + 2 * i + 1, static_cast<uint8_t>(text[i] >> 8));
        }
        if (terminate && text.size() < gpuz::kTextFieldSize / 2) {
            Put(offset + 2 * text.size(), 0);
            Put(offset + 2 * text.size() + 1, 0);
        }
    }
    const uint8_t* View() const { return Bytes.data(); }
    size_t Size() const { return Bytes.size(); }

private:
    void Put(size_t offset, uint8_t value) {
        if (offset < Bytes.size()) Bytes[offset] = value;
    }
    std::vector<uint8_t> Bytes;
};

// Feeds the throttle's clock from a list; the last value repeats.
std::deque<uint64_t> Ticks;
uint64_t FakeClock() {
    uint64_t now = Ticks.front();
    if (Ticks.size() > 1) Ticks.pop_front();
    return now;
}

CGPUInfo ReadCard(const Block& block, const std::string& titleVersion = "0.8.5") {
    CGPUInfo gpu(1, titleVersion);
    gpu.AttachView(block.View(), block.Size());
    gpu.ReadCardInfo();
    return gpu;
}

// One refresh with a fresh throttle.
void Refresh(CGPUInfo& gpu, uint64_t now = 1000) {
    Ticks = {now};
    gpu.Clock = &FakeClock;
    gpu.ReadSensors();
}

}  // namespace

TEST(GPUZWindowTitle, FindsGPUZAnywhereInAnyCase) {
    std::string version;
    EXPECT_TRUE(MatchGPUZWindowTitle("GPU-Z 0.8.5", version));
    EXPECT_EQ(version, "0.8.5");
    EXPECT_TRUE(MatchGPUZWindowTitle("GPU-Z", version));
    EXPECT_EQ(version, "gpu-z");
    EXPECT_TRUE(MatchGPUZWindowTitle("Download TechPowerUp Gpu-Z - Mozilla Firefox", version));
    EXPECT_EQ(version, "refox");
    EXPECT_FALSE(MatchGPUZWindowTitle("GPU Z monitor", version));
    EXPECT_FALSE(MatchGPUZWindowTitle("", version));
}

TEST(GPUZWindowTitle, LongVersionsAreKeptWhole) {
    std::string version;
    EXPECT_TRUE(MatchGPUZWindowTitle("TechPowerUp GPU-Z 2.61.0", version));
    EXPECT_EQ(version, "2.61.0");
    // A trailing run that starts with a dot keeps the five-character rule.
    EXPECT_TRUE(MatchGPUZWindowTitle("GPU-Z v.2.61.0", version));
    EXPECT_EQ(version, ".61.0");
}

TEST(GPUZWindowTitle, TitleIsCutToSixtyThreeCharactersFirst) {
    std::string version;
    std::string padding(56, 'x');
    // "GPU-Z 2.61.0" straddles the cut: the title ends "gpu-z 2" after it.
    ASSERT_EQ((padding + "GPU-Z 2.61.0").size(), 68u);
    EXPECT_TRUE(MatchGPUZWindowTitle(padding + "GPU-Z 2.61.0", version));
    EXPECT_EQ(version, "u-z 2");
    // "gpu-z" beyond character 63 is not seen.
    EXPECT_FALSE(MatchGPUZWindowTitle(std::string(65, 'x') + "GPU-Z", version));
}

TEST(GPUZCardInfo, VersionComesFromTheTitleWhenItIsDigitsAndDots) {
    Block block;
    EXPECT_EQ(ReadCard(block, "0.8.5").GPUZVersion, "0.8.5");
    EXPECT_EQ(ReadCard(block, "2.61.0").GPUZVersion, "2.61.0");
    EXPECT_EQ(ReadCard(block, "gpu-z").GPUZVersion, "Unknown");
    EXPECT_EQ(ReadCard(block, "").GPUZVersion, "Unknown");
}

TEST(GPUZCardInfo, ReadsEveryKeyTrimmedAndSkipsTheRest) {
    Block block;
    block.Data(0, u"CardName", u"  NVIDIA GeForce RTX 3060 \t");
    block.Data(1, u"GPUName", u"GA106");
    block.Data(2, u"MemSize", u"12288 MB");
    block.Data(3, u"OpenCL_Version", u"OpenCL 3.0");
    block.Data(4, u"DriverVersion", u"31.0.15.3179");
    block.Data(5, u"cardname", u"wrong case");
    block.Data(6, u"CardName2", u"longer key");
    block.Data(7, u"CardNam", u"shorter key");
    block.Data(127, u"BIOSVersion", u"94.06.2f");
    CGPUInfo gpu = ReadCard(block);
    EXPECT_EQ(gpu.CardName, "NVIDIA GeForce RTX 3060");
    EXPECT_EQ(gpu.GPUName, "GA106");
    EXPECT_EQ(gpu.MemSize, "12288 MB");
    EXPECT_EQ(gpu.OpenCLVersion, "OpenCL 3.0");
    EXPECT_EQ(gpu.DriverVersion, "31.0.15.3179");
    EXPECT_EQ(gpu.HasVideoEngine, 0);
}

TEST(GPUZCardInfo, HighestRecordWinsAndBlankValuesAreSkipped) {
    Block block;
    block.Data(3, u"GPUName", u"first");
    block.Data(90, u"GPUName", u"last");
    block.Data(10, u"CardName", u"kept");
    block.Data(120, u"CardName", u" \t ");
    CGPUInfo gpu = ReadCard(block);
    EXPECT_EQ(gpu.GPUName, "last");
    EXPECT_EQ(gpu.CardName, "kept");
}

TEST(GPUZCardInfo, VideoEngineNeedsCudaAndCapabilityOfAtLeastOne) {
    struct Case {
        std::u16string cuda, capability;
        int32_t expected;
    };
    for (const Case& c : {Case{u"1", u"8.6", 1}, Case{u"1", u"1.0", 1}, Case{u"1", u"0.9", 0},
                          Case{u"0", u"8.6", 0}, Case{u"Yes", u"8.6", 0}, Case{u"2 (enabled)", u"7.5 ", 1},
                          Case{u"256", u"8.6", 0},  // kept in 8 bits
                          Case{u"1", u"n/a", 0}, Case{u"1", u"", 0}}) {
        Block block;
        block.Data(0, u"CUDA", c.cuda);
        block.Data(1, u"CUDA_Capability", c.capability);
        std::string label(c.cuda.begin(), c.cuda.end());
        label += " / " + std::string(c.capability.begin(), c.capability.end());
        EXPECT_EQ(ReadCard(block).HasVideoEngine, c.expected) << label;
    }
}

TEST(GPUZCardInfo, ValueWithoutTerminatorEndsWithItsField) {
    Block block;
    block.Data(0, u"CardName", u"");
    block.Text(gpuz::kDataRecordOffset + gpuz::kDataValueOffset, std::u16string(256, u'A'), false);
    block.Data(1, u"GPUName", u"next");  // right behind the unterminated value
    CGPUInfo gpu = ReadCard(block);
    EXPECT_EQ(gpu.CardName, std::string(256, 'A'));
    EXPECT_EQ(gpu.GPUName, "next");
}

TEST(GPUZCardInfo, LongValuesAreCutAtWholeCharacters) {
    Block block;
    block.Data(0, u"CardName", std::u16string(200, u'\u00E9'));  // two bytes each
    block.Data(1, u"GPUName", u"G\u20AC\U0001F600");           // three and four bytes
    block.Data(2, u"MemSize", std::u16string(1, u'\xD800') + u"x");  // unpaired surrogate
    CGPUInfo gpu = ReadCard(block);
    if (kOnWindows) {
        // The ANSI code page has one byte for each of these (or a blank).
        EXPECT_EQ(gpu.CardName.size(), 200u);
        EXPECT_EQ(gpu.GPUName.substr(0, 1), "G");
    } else {
        std::string e9 = "\xC3\xA9";
        std::string expected;
        for (int i = 0; i < 129; ++i) expected += e9;  // 258 bytes; a 130th would pass 259
        EXPECT_EQ(gpu.CardName, expected);
        EXPECT_EQ(gpu.GPUName, "G\xE2\x82\xAC\xF0\x9F\x98\x80");
    }
    EXPECT_EQ(gpu.MemSize, "x");  // the blank it became is trimmed
}

TEST(GPUZCardInfo, KeyWithoutTerminatorDoesNotMatch) {
    Block block;
    block.Data(0, u"CardName", u"value");
    block.Text(gpuz::kDataRecordOffset, u"CardName" + std::u16string(248, u' '), false);
    EXPECT_EQ(ReadCard(block).CardName, "");
}

TEST(GPUZSensors, ReadsEachSensorRounded) {
    Block block;
    block.Data(0, u"CUDA", u"1");
    block.Data(1, u"CUDA_Capability", u"8.6");
    block.Sensor(0, u"GPU Load", 49.5);
    block.Sensor(1, u"Video Engine Load", 49.49);
    block.Sensor(2, u"Memory Used", 1023.5);
    block.Sensor(3, u"Memory Usage (Dedicated)", 700.2);
    block.Sensor(4, u"Memory Usage (Dynamic)", -0.7);
    block.Sensor(5, u"GPU Temperature", 60.0);
    CGPUInfo gpu = ReadCard(block);
    ASSERT_EQ(gpu.HasVideoEngine, 1);
    Refresh(gpu);
    EXPECT_EQ(gpu.GPULoad, 50);
    EXPECT_EQ(gpu.VideoEngineLoad, 49);
    EXPECT_EQ(gpu.MemoryUsed, 1024u);
    EXPECT_EQ(gpu.MemoryDedicated, 700u);
    EXPECT_EQ(gpu.MemoryDynamic, 0u);
    EXPECT_EQ(gpu.HasMemoryUsed, 1);
    EXPECT_EQ(gpu.HasMemoryDedicated, 1);
    EXPECT_EQ(gpu.HasMemoryDynamic, 1);
    // Without the video engine its load is not read.
    gpu.HasVideoEngine = 0;
    Refresh(gpu, 5000);
    EXPECT_EQ(gpu.VideoEngineLoad, 0);
    EXPECT_EQ(gpu.GPULoad, 50);
}

TEST(GPUZSensors, MemoryUsedAloneSetsOnlyItsFlag) {
    Block block;
    block.Sensor(7, u"Memory Used", 512.0);
    CGPUInfo gpu = ReadCard(block);
    Refresh(gpu);
    EXPECT_EQ(gpu.MemoryUsed, 512u);
    EXPECT_EQ(gpu.HasMemoryUsed, 1);
    EXPECT_EQ(gpu.HasMemoryDedicated, 0);
    EXPECT_EQ(gpu.HasMemoryDynamic, 0);
}

TEST(GPUZSensors, HighestRecordWinsAndReadingsWithoutIntegerFormGiveZero) {
    Block block;
    block.Sensor(2, u"GPU Load", 10.0);
    block.Sensor(100, u"GPU Load", 90.0);
    block.Sensor(3, u"Memory Used", std::numeric_limits<double>::quiet_NaN());
    block.Sensor(4, u"Memory Usage (Dedicated)", 1e300);
    CGPUInfo gpu = ReadCard(block);
    Refresh(gpu);
    EXPECT_EQ(gpu.GPULoad, 90);
    EXPECT_EQ(gpu.MemoryUsed, 0u);
    EXPECT_EQ(gpu.MemoryDedicated, 0u);
}

TEST(GPUZSensors, ReadingsResetEachScanWhileFlagsStay) {
    Block block;
    block.Sensor(0, u"GPU Load", 80.0);
    block.Sensor(1, u"Memory Used", 100.0);
    CGPUInfo gpu = ReadCard(block);
    Refresh(gpu, 1000);
    ASSERT_EQ(gpu.GPULoad, 80);
    block.Sensor(0, u"Fan Speed", 80.0);
    block.Sensor(1, u"Fan Speed", 100.0);
    Refresh(gpu, 2000);
    EXPECT_EQ(gpu.GPULoad, 0);
    EXPECT_EQ(gpu.MemoryUsed, 0u);
    EXPECT_EQ(gpu.HasMemoryUsed, 1);
    gpu.ReadCardInfo();  // only this clears the flags
    EXPECT_EQ(gpu.HasMemoryUsed, 0);
}

TEST(GPUZSensors, RefreshesAtMostEvery300MillisecondsAfterTheLastScanEnded) {
    Block block;
    block.Sensor(0, u"GPU Load", 10.0);
    CGPUInfo gpu = ReadCard(block);
    gpu.Clock = &FakeClock;
    Ticks = {1000, 1250};  // the scan ends at 1250
    gpu.ReadSensors();
    ASSERT_EQ(gpu.GPULoad, 10);
    block.Sensor(0, u"GPU Load", 20.0);
    Ticks = {1549};
    gpu.ReadSensors();
    EXPECT_EQ(gpu.GPULoad, 10);
    Ticks = {1550};
    gpu.ReadSensors();
    EXPECT_EQ(gpu.GPULoad, 20);
    // Across a wrap of the 32-bit tick: 272 ms after the last scan.
    Ticks = {0xFFFFFF00ull};
    gpu.ReadSensors();
    block.Sensor(0, u"GPU Load", 30.0);
    Ticks = {0x100000010ull};
    gpu.ReadSensors();
    EXPECT_EQ(gpu.GPULoad, 20);
}

TEST(GPUZBlock, ShortViewIsReadOnlyUpToItsEnd) {
    // One byte short: the last sensor record does not fit and is not read.
    // (Built with AddressSanitizer, any read past the end fails the test.)
    Block block(gpuz::kBlockSize - 1);
    block.Data(127, u"CardName", u"fits");
    block.Sensor(126, u"Memory Used", 5.0);
    block.Sensor(127, u"GPU Load", 50.0);
    CGPUInfo gpu = ReadCard(block);
    Refresh(gpu);
    EXPECT_EQ(gpu.CardName, "fits");
    EXPECT_EQ(gpu.MemoryUsed, 5u);
    EXPECT_EQ(gpu.GPULoad, 0);
}

TEST(GraphicsCardSection, ListsTheCardFacts) {
    Block block;
    block.Data(0, u"CardName", u"Radeon RX 6600");
    block.Data(1, u"DriverVersion", u"31.0.21001");
    CGPUInfo gpu = ReadCard(block, "2.61.0");
    EXPECT_EQ(GraphicsCardSection(gpu.Facts()),
              "\n\n[Graphics card info]\n"
              "Card name:               Radeon RX 6600\n"
              "GPU name:                \n"
              "Memory size:             \n"
              "OpenCL version:          \n"
              "Driver version:          31.0.21001\n"
              "Info collected with:     GPU-Z 2.61.0\n\n");
}
