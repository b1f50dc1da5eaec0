#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/CsvFile.h"
#include "tests/support/ReportTestSupport.h"
#include "tests/support/ScratchDir.h"

namespace {

class CsvFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.Valid());
        ScriptPath = Dir.Path("clip.avs");
        CsvPath = Dir.Path("clip.csv");
    }
    ScratchDir Dir;
    std::string ScriptPath;
    std::string CsvPath;
};

}  // namespace

TEST_F(CsvFileTest, WithoutGPUMonitoring) {
    std::vector<FrameSample> samples = {MakeSample(0, 50.0, 40.0, 12, 99, 99, 7, 100, 200),
                                        MakeSample(999, 3.0, 7.0, 100, 99, 99, 65535, 4294967295u, 0)};
    ASSERT_EQ(WriteCSVFile(SampleReport(ScriptPath, samples.data(), 2, false, true)), "");
    EXPECT_EQ(ReadBytes(CsvPath),
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),Threads,"
              "PhysMEM(MB),VirtMEM(MB)\r\n"
              "1,50.000,40.000,20.000000,25.000000,12,7,100,200\r\n"
              "1000,3.000,7.000,333.333333,142.857143,100,65535,4294967295,0\r\n");
}

TEST_F(CsvFileTest, GPUMonitoringWithoutVideoEngine) {
    FrameSample sample = MakeSample(41, 50.0, 40.0, 3, 97, 45, 12, 1024, 2048);
    ASSERT_EQ(WriteCSVFile(SampleReport(ScriptPath, &sample, 1, true, false)), "");
    EXPECT_EQ(ReadBytes(CsvPath),
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),GPU(%),Threads,"
              "PhysMEM(MB),VirtMEM(MB)\r\n"
              "42,50.000,40.000,20.000000,25.000000,3,97,12,1024,2048\r\n");
}

TEST_F(CsvFileTest, GPUMonitoringWithVideoEngine) {
    FrameSample sample = MakeSample(41, 50.0, 40.0, 3, 97, 45, 12, 1024, 2048);
    ASSERT_EQ(WriteCSVFile(SampleReport(ScriptPath, &sample, 1, true, true)), "");
    EXPECT_EQ(ReadBytes(CsvPath),
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),GPU(%),VPU(%),"
              "Threads,PhysMEM(MB),VirtMEM(MB)\r\n"
              "42,50.000,40.000,20.000000,25.000000,3,97,45,12,1024,2048\r\n");
}

TEST_F(CsvFileTest, NoSamplesLeavesTheHeaderAloneInPlaceOfAnOldFile) {
    ASSERT_TRUE(WriteBytes(CsvPath, "old content\r\n"));
    ASSERT_EQ(WriteCSVFile(SampleReport(ScriptPath, nullptr, 0, false, false)), "");
    EXPECT_EQ(ReadBytes(CsvPath),
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),Threads,"
              "PhysMEM(MB),VirtMEM(MB)\r\n");
}

TEST_F(CsvFileTest, FileThatCannotBeCreatedIsReported) {
    std::filesystem::create_directory(CsvPath);
    FrameSample sample = MakeSample(0, 1.0, 1.0, 1, 0, 0, 1, 1, 1);
    EXPECT_EQ(WriteCSVFile(SampleReport(ScriptPath, &sample, 1, false, false)), "\nCannot create \"" + CsvPath + "\"\nIt is a folder.\n");
}

TEST_F(CsvFileTest, ScriptWhoseNameIsTheCsvNameIsNotOverwritten) {
    std::string script = Dir.Path("keep.csv");
    ASSERT_TRUE(WriteBytes(script, "Version()\n"));
    FrameSample sample = MakeSample(0, 1.0, 1.0, 1, 0, 0, 1, 1, 1);
    std::string result = WriteCSVFile(SampleReport(script, &sample, 1, false, false));
    EXPECT_EQ(result.rfind("\nCannot create \"" + script + "\"\n", 0), 0u) << result;
    EXPECT_EQ(ReadBytes(script), "Version()\n");
}

#ifdef __linux__
TEST_F(CsvFileTest, WriteErrorsAreReportedNotIgnored) {
    std::filesystem::create_symlink("/dev/full", CsvPath);
    FrameSample sample = MakeSample(0, 1.0, 1.0, 1, 0, 0, 1, 1, 1);
    EXPECT_EQ(WriteCSVFile(SampleReport(ScriptPath, &sample, 1, false, false)), "\nCannot write \"" + CsvPath + "\"\n");
}
#endif

TEST_F(CsvFileTest, ManyRowsAreWrittenWhole) {
    // More than one write buffer's worth of rows.
    std::vector<FrameSample> samples;
    for (uint32_t i = 0; i < 5000; ++i) samples.push_back(MakeSample(i, 25.0, 25.0, 1, 0, 0, 1, 1, 1));
    ASSERT_EQ(WriteCSVFile(SampleReport(ScriptPath, samples.data(), static_cast<uint32_t>(samples.size()), false, false)), "");
    std::string content = ReadBytes(CsvPath);
    size_t lines = 0, bareLineFeeds = 0;
    for (size_t i = 0; i < content.size(); ++i) {
        if (content[i] != '\n') continue;
        ++lines;
        if (i == 0 || content[i - 1] != '\r') ++bareLineFeeds;
    }
    EXPECT_EQ(lines, 5001u);
    EXPECT_EQ(bareLineFeeds, 0u);
    std::string last = "\r\n5000,25.000,25.000,40.000000,40.000000,1,1,1,1\r\n";
    ASSERT_GE(content.size(), last.size());
    EXPECT_EQ(content.substr(content.size() - last.size()), last);
}
