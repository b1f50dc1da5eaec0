#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "report/CsvFile.h"
#include "report/FrameServerReport.h"
#include "report/JsonFile.h"
#include "report/LogFile.h"
#include "report/PlotFile.h"
#include "tests/support/ReportTestSupport.h"
#include "tests/support/ScratchDir.h"

namespace {

// A run too short for a sample: its section is what precedes the script.
RunRecord ShortRun() {
    RunRecord run;
    run.Summary = DisplayOptions();
    run.Stats.SamplingInterval = 10;
    return run;
}
const RunRecord Report = ShortRun();
const char* const ReportCrLf = "\r\n\r\n[Runtime info]\r\nInsufficient data for measurements\r\n";
const char* const ScriptBytes = "\r\n\r\n  v = BlankClip()\r\n\r\nreturn v\r\n\r\n";
const char* const ScriptCopyCrLf = "\r\n[Script]\r\nv = BlankClip()\r\n\r\nreturn v\r\n\r\n";

GraphicsCardFacts TestCard() {
    GraphicsCardFacts card;
    card.Kind = GPUSourceKind::GPUZ;
    card.CardName = "Test card";
    card.Source = "GPU-Z 0.8.5";
    return card;
}
const GraphicsCardFacts GraphicsCard = TestCard();
const char* const GraphicsCrLf = "\r\n\r\n[Graphics card info]\r\nCard name:               Test card\r\n"
                                 "GPU name:                \r\nMemory size:             \r\n"
                                 "OpenCL version:          \r\nDriver version:          \r\n"
                                 "Info collected with:     GPU-Z 0.8.5\r\n\r\n";

}  // namespace

TEST(LogFileName, DropsTheLastFourCharactersWhateverTheyAre) {
    EXPECT_EQ(LogFileName("D:\\clips\\test.avs"), "D:\\clips\\test.log");
    // Four characters go even without an extension.
    EXPECT_EQ(LogFileName("E:\\x\\myscript"), "E:\\x\\mysc.log");
    EXPECT_EQ(LogFileName("abcd"), "abcd.log");
    EXPECT_EQ(LogFileName("abcde"), "a.log");
    EXPECT_EQ(CsvFileName("D:\\clips\\test.avs"), "D:\\clips\\test.csv");
    EXPECT_EQ(CsvFileName("abc"), "abc.csv");
}

TEST(LogPerformanceRow, ColumnsEndUnderTheirTitles) {
    // Every column title must end where the values below it end.
    FrameSample sample = MakeSample(41, 50.0, 50.0, 100, 100, 100, 999, 4000000, 4000000);
    sample.ProcessGPULoad = 100;
    for (SampleColumnChoice c : {SampleColumnChoice{false, false, false}, SampleColumnChoice{true, false, false},
                                 SampleColumnChoice{true, true, false}, SampleColumnChoice{true, true, true}}) {
        std::string header = LogPerformanceHeader(c);
        std::string titles = header.substr(header.find('\n', 1) + 1);
        titles.pop_back();
        std::string row = LogPerformanceRow(sample, c);
        row.pop_back();
        ASSERT_EQ(titles.size(), row.size()) << titles;
        for (size_t i = 0; i + 1 < row.size(); ++i) {
            bool titleEnds = titles[i] != ' ' && titles[i + 1] == ' ';
            bool valueEnds = row[i] != ' ' && row[i + 1] == ' ';
            EXPECT_EQ(titleEnds, valueEnds) << "column ending at " << i << " in " << titles;
        }
    }
}

TEST(LogScriptCopy, TrimsOuterBlankLinesKeepsInnerOnesAndFoldsCrLf) {
    EXPECT_EQ(LogScriptCopy(ScriptBytes), "v = BlankClip()\n\nreturn v");
    EXPECT_EQ(LogScriptCopy("a\nb\n"), "a\nb");
    EXPECT_EQ(LogScriptCopy(" \t\r\n"), "");
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.Valid());
        ScriptPath = Dir.Path("clip.avs");
        LogPath = Dir.Path("clip.log");
        ASSERT_TRUE(WriteBytes(ScriptPath, ScriptBytes));
    }
    ScratchDir Dir;
    std::string ScriptPath;
    std::string LogPath;
};

TEST_F(LogFileTest, WithoutGPUMonitoringWritesReportScriptAndRowsWithCrLf) {
    std::vector<FrameSample> samples = {MakeSample(0, 25.0, 25.0, 12, 0, 0, 7, 100, 200),
                                        MakeSample(999999999, 3.0, 3.0, 100, 0, 0, 65535, 4294967295u, 0)};
    // The graphics text is left out while MonitorGPULoad is off.
    ASSERT_EQ(WriteLogFile(SampleReport(ScriptPath, samples.data(), 2, false, true, &Report, GraphicsCard, "")), "");
    std::string expected = std::string(ReportCrLf) + ScriptCopyCrLf +
        "\r\n[Performance data]\r\n"
        "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   Threads   PhysMEM(MB)   VirtMEM(MB)\r\n"
        "           1        25.000        40.000000       12         7           100           200\r\n"
        "  1000000000         3.000       333.333333      100     65535    4294967295             0\r\n";
    EXPECT_EQ(ReadBytes(LogPath), expected);
}

TEST_F(LogFileTest, WithVideoEngineHasGraphicsSectionBothLoadColumnsAndTheError) {
    FrameSample sample = MakeSample(41, 50.0, 50.0, 3, 97, 45, 12, 1024, 2048);
    ASSERT_EQ(WriteLogFile(SampleReport(ScriptPath, &sample, 1, true, true, &Report, GraphicsCard, "Script error: bad\n(line 3)")), "");
    std::string expected = std::string(ReportCrLf) + ScriptCopyCrLf + GraphicsCrLf +
        "\r\n[Performance data]\r\n"
        "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   VPU(%)   Threads   PhysMEM(MB)   VirtMEM(MB)\r\n"
        "          42        50.000        20.000000        3       97       45        12          1024          2048\r\n"
        "\r\n\r\n[AviSynth error]\r\nScript error: bad\r\n(line 3)\r\n";
    EXPECT_EQ(ReadBytes(LogPath), expected);
}

TEST_F(LogFileTest, GPUMonitoringWithoutVideoEngineHasOnlyTheGPUColumn) {
    FrameSample sample = MakeSample(41, 50.0, 50.0, 3, 97, 45, 12, 1024, 2048);
    ASSERT_EQ(WriteLogFile(SampleReport(ScriptPath, &sample, 1, true, false, &Report)), "");
    std::string log = ReadBytes(LogPath);
    std::string tail = "\r\n[Performance data]\r\n"
        "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   Threads   PhysMEM(MB)   VirtMEM(MB)\r\n"
        "          42        50.000        20.000000        3       97        12          1024          2048\r\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(LogFileTest, WithoutSamplesThereIsNoPerformanceHeaderAndTheErrorFollowsTheScript) {
    ASSERT_EQ(WriteLogFile(SampleReport(ScriptPath, nullptr, 0, false, false, nullptr, std::nullopt, "Import: file not found")), "");
    std::string expected = std::string("\r\n") + ScriptCopyCrLf + "\r\n\r\n[AviSynth error]\r\nImport: file not found\r\n";
    EXPECT_EQ(ReadBytes(LogPath), expected);
}

TEST_F(LogFileTest, ReplacesAnOlderLogAndCopiesTheScriptAsItIsAtWritingTime) {
    ASSERT_TRUE(WriteBytes(LogPath, std::string(10000, 'x')));
    ASSERT_TRUE(WriteBytes(ScriptPath, "Version()\n"));
    ASSERT_EQ(WriteLogFile(SampleReport(ScriptPath, nullptr, 0, false, false)), "");
    EXPECT_EQ(ReadBytes(LogPath), "\r\n\r\n[Script]\r\nVersion()\r\n\r\n");
}

TEST_F(LogFileTest, MissingScriptIsReportedAndNoLogIsCreated) {
    std::string missing = Dir.Path("100% gone.avs");
    EXPECT_EQ(WriteLogFile(SampleReport(missing, nullptr, 0, false, false, &Report)), "\nCannot open \"" + missing + "\"\n");
    EXPECT_FALSE(PathExists(Dir.Path("100% gone.log")));
}

TEST_F(LogFileTest, LogThatCannotBeCreatedIsReported) {
    // A directory in the log's place cannot be opened for writing, even by root.
    std::filesystem::create_directory(LogPath);
    EXPECT_EQ(WriteLogFile(SampleReport(ScriptPath, nullptr, 0, false, false, &Report)), "\nCannot create \"" + LogPath + "\"\nIt is a folder.\n");
}

TEST_F(LogFileTest, ScriptWhoseNameIsTheLogNameIsNotOverwritten) {
    std::string script = Dir.Path("keep.log");
    ASSERT_TRUE(WriteBytes(script, "Version()\n"));
    std::string result = WriteLogFile(SampleReport(script, nullptr, 0, false, false, &Report));
    EXPECT_EQ(result.rfind("\nCannot create \"" + script + "\"\n", 0), 0u) << result;
    EXPECT_EQ(ReadBytes(script), "Version()\n");
}

#ifdef __linux__
TEST_F(LogFileTest, WriteErrorsAreReportedNotIgnored) {
    // The log's name leads to /dev/full: opening works, every write fails.
    std::filesystem::create_symlink("/dev/full", LogPath);
    FrameSample sample = MakeSample(0, 25.0, 25.0, 1, 0, 0, 1, 1, 1);
    EXPECT_EQ(WriteLogFile(SampleReport(ScriptPath, &sample, 1, false, false, &Report)), "\nCannot write \"" + LogPath + "\"\n");
}
#endif

TEST(LogAndCsvNumbers, UseFullStopsWhateverTheCLocaleSays) {
    std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* commaLocale = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252", "de-DE"}) {
        if (std::setlocale(LC_NUMERIC, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
            commaLocale = name;
            break;
        }
    }
    if (!commaLocale) {
        std::setlocale(LC_NUMERIC, saved.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    FrameSample sample = MakeSample(0, 25.0, 25.0, 1, 0, 0, 1, 1, 1);
    std::string row = LogPerformanceRow(sample, SampleColumnChoice());
    std::string csv = CsvRow(sample, SampleColumnChoice());
    // The JSON file and the chart of a run with one sample of 12.5 fps.
    SeriesReport series;
    series.ScriptPath = "/x/clip.avs";
    RunRecord run;
    run.Measured = true;
    run.Stats.SamplesStored = 1;
    run.Stats.FramesToProcess = 2;
    run.Stats.FPSMin = run.Stats.FPSMax = run.Stats.FPSAverage = 12.5;
    run.Samples = {MakeSample(0, 12.5, 12.5, 1, 0, 0, 1, 1, 1)};
    series.Runs = {run};
    StringSink json, chart;
    ProduceJson(series, json);
    ProducePlot(series, chart);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_NE(row.find("       25.000        40.000000"), std::string::npos) << commaLocale << ": " << row;
    EXPECT_EQ(csv, "1,25.000,25.000,40.000000,40.000000,1,1,1,1\n") << commaLocale;
    EXPECT_NE(json.Text.find("{\"frame\":0,\"fps\":12.5,\"fpsAverage\":12.5,\"timePerFrameMs\":80,"), std::string::npos)
        << json.Text;
    EXPECT_NE(chart.Text.find(">average 12.50 fps</text>"), std::string::npos) << chart.Text;
    EXPECT_EQ(chart.Text.find("12,5"), std::string::npos);
}

TEST(GeneralInfoSection, ListsTheFrameServerFactsAndPluginDirectories) {
    FrameServerFacts info;
    info.FrameServerVersion = "AviSynth+ 3.7.3 (r4003, 3.7, x86_64)";
    info.FileVersion = "3.7.3.0";
    info.InterfaceVersion = 10;
    info.MTSupport = 1;
    info.LinkerVersion = "14.36 (Visual Studio 2022)";
    info.DLLLocation = "C:\\Windows\\System32\\avisynth.dll";
    info.TimeStamp = "2023-07-16 10:05:30";
    info.PluginDirLines = {"PluginDir+    (HKCU, x64):\tC:\\plugins+", "PluginDir2_5  (HKCU, x64):\tD:\\p: old\\x",
                           "odd entry"};
    std::string expected =
        "[General info]\n"
        "Log file created with:                 Tachoro 2.1.3 (x64)\n"
        "Script file:                           C:\\v\\100%s.avs\n"
        "Command line switches:                 -log -gpu\n"
        "Avisynth version string:               AviSynth+ 3.7.3 (r4003, 3.7, x86_64)\n"
        "Avisynth file version:                 3.7.3.0\n"
        "Avisynth Interface Version:            10\n"
        "Avisynth MT support:                   Yes\n"
        "Avisynth.dll linker/compiler version:  14.36 (Visual Studio 2022)\n"
        "Avisynth.dll location:                 C:\\Windows\\System32\\avisynth.dll\n"
        "Avisynth.dll time stamp:               2023-07-16 10:05:30\n"
        "PluginDir+    (HKCU, x64):             C:\\plugins+\n"
        "PluginDir2_5  (HKCU, x64):             D:\\p: old\\x\n"
        "odd entry\n";
    EXPECT_EQ(GeneralInfoSection("2.1.3 (x64)", "C:\\v\\100%s.avs", "-log -gpu", info), expected);

    info.MTSupport = 0;
    info.PluginDirLines.clear();
    std::string withoutSwitches = GeneralInfoSection("2.1.3 (x64)", "a.avs", "", info);
    EXPECT_EQ(withoutSwitches.find("Command line switches"), std::string::npos);
    EXPECT_NE(withoutSwitches.find("Avisynth MT support:                   No\n"), std::string::npos);
    EXPECT_EQ(withoutSwitches.find("PluginDir"), std::string::npos);
    // A name with a line break (POSIX allows one) stays on its line.
    EXPECT_NE(GeneralInfoSection("v", "/x/a\nb\r.avs", "", info).find("Script file:                           /x/a?b?.avs\n"),
              std::string::npos);
}

// Producing a file's text is apart from writing it: the writer adds nothing
// but the CR before each LF.
TEST_F(LogFileTest, WrittenBytesAreTheProducedTextWithCrLf) {
    const FrameSample sample = MakeSample(41, 50.0, 40.0, 3, 97, 45, 12, 1024, 2048);
    const RunReport report = SampleReport(ScriptPath, &sample, 1, true, true, &Report, GraphicsCard, "oops");
    const struct {
        const char* name;
        std::function<std::string()> write;
        std::function<void(TextSink&)> produce;
    } formats[] = {
        {"clip.log", [&] { return WriteLogFile(report); },
         [&](TextSink& sink) { ProduceLog(report, ReadBytes(ScriptPath), sink); }},
        {"clip.csv", [&] { return WriteCSVFile(report); }, [&](TextSink& sink) { ProduceCsv(report, sink); }},
    };
    for (const auto& format : formats) {
        ASSERT_EQ(format.write(), "") << format.name;
        StringSink produced;
        format.produce(produced);
        std::string expected;
        for (char c : produced.Text) expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
        EXPECT_EQ(ReadBytes(Dir.Path(format.name)), expected) << format.name;
    }
}
