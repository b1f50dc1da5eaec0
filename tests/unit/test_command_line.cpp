#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

// A file system of our own: full paths live under /work, and only the
// listed files exist.
struct FakePaths {
    std::set<std::string> files;
    PathServices services() const {
        PathServices paths;
        paths.FullPath = [](const std::string& path, std::string& full) {
            if (path.empty()) return false;
            full = "/work/" + path;
            return true;
        };
        paths.Inspect = [this](const std::string& path) {
            platform::FileFacts facts;
            if (files.count(path) > 0) facts.Kind = platform::FileKind::Regular;
            return facts;
        };
        return paths;
    }
};

struct Parsed {
    std::string error;
    Invocation call;
};

Parsed Parse(std::vector<std::string> args, const FakePaths& paths = FakePaths(), Invocation call = {}) {
    Parsed parsed;
    parsed.call = call;
    parsed.error = ParseArguments(args, paths.services(), parsed.call);
    return parsed;
}

TEST(CommandLine, SwitchesMatchWithoutRegardToCase) {
    for (const char* log : {"-LOG", "-Log", "-l", "-L"}) {
        Parsed parsed = Parse({log});
        EXPECT_EQ(parsed.error, "") << log;
        EXPECT_EQ(parsed.call.CreateLog, 1) << log;
    }
    Parsed parsed = Parse({"-csv", "-GPU", "-i", " -avsinfo "});
    EXPECT_EQ(parsed.call.CreateCSV, 1);
    EXPECT_EQ(parsed.call.MonitorGPULoad, 1);
    EXPECT_TRUE(parsed.call.InfoOnly);
    EXPECT_TRUE(parsed.call.AvsInfoMode);
    EXPECT_EQ(parsed.call.SwitchesText, "-csv -GPU -i -avsinfo");
}

TEST(CommandLine, UnknownWordsAreInvalidArguments) {
    EXPECT_EQ(Parse({"-logx"}).error, "\nInvalid argument: \"-logx\"\n");
    EXPECT_EQ(Parse({""}).error, "\nInvalid argument: \"\"\n");
}

TEST(CommandLine, RangeValuesAreParsedOrRejected) {
    Parsed parsed = Parse({"-range=0,-1"});
    EXPECT_EQ(parsed.call.FrameRange.First, 0);
    EXPECT_EQ(parsed.call.FrameRange.Last, -1);
    EXPECT_EQ(parsed.call.FrameRange.Text, "FrameRange=0,-1");
    parsed = Parse({"-range=5,2"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.call.FrameRange.First, 5);
    parsed = Parse({"-range=-7,-0"});
    EXPECT_EQ(parsed.call.FrameRange.First, -7);
    EXPECT_EQ(parsed.call.FrameRange.Last, 0);
    // A minus sign belongs in front of the digits only.
    // So is a number that does not fit 64 bits.
    for (const char* bad : {"-range=1,", "-range=,5", "-range=12", "-range=a,b", "-RANGE=x", "-range=1-2,3",
                            "-range=-,-", "-range=0,-", "-range=5-,9", "-range=--1,5", "-range=0,99999999999999999999",
                            "-range=-9223372036854775809,0"}) {
        parsed = Parse({bad});
        EXPECT_EQ(parsed.error, std::string("\nInvalid parameter format: \"") + bad + "\"\n") << bad;
        EXPECT_EQ(parsed.call.FrameRange.First, InvalidRangeMarker) << bad;
        EXPECT_FALSE(parsed.call.FrameRange.Valid) << bad;
    }
    parsed = Parse({"-range=-9223372036854775808,9223372036854775807"});
    EXPECT_EQ(parsed.call.FrameRange.First, INT64_MIN);
    EXPECT_EQ(parsed.call.FrameRange.Last, INT64_MAX);
    EXPECT_TRUE(parsed.call.FrameRange.Valid);
    parsed = Parse({"-range=1,2", "-range=3,4"});
    EXPECT_EQ(parsed.call.FrameRange.First, 3);
    EXPECT_EQ(parsed.call.SwitchesText, "-range=1,2 -range=3,4");
}

TEST(CommandLine, PriorityAndTimeLimitHaveRanges) {
    EXPECT_EQ(Parse({"-priority=3"}).call.ProcessPriority, 3);
    for (const char* bad : {"-priority=0", "-priority=4", "-priority=257", "-priority=x", "-priority=", "-priority=2-",
                            "-priority=-"}) {
        EXPECT_EQ(Parse({bad}).error,
                  std::string("\nInvalid parameter value: \"") + bad + "\"\nValue must be between 1 and 3\n");
    }
    EXPECT_EQ(Parse({"-timelimit=999999"}).call.TimeLimit, 999999);
    for (const char* bad : {"-timelimit=0", "-timelimit=1000000", "-timelimit=99999999999", "-timelimit=1-",
                            "-timelimit=5-3"}) {
        EXPECT_EQ(Parse({bad}).error,
                  std::string("\nInvalid parameter value: \"") + bad + "\"\nValue must be between 1 and 999999\n");
    }
}

TEST(CommandLine, ScriptsMustExist) {
    FakePaths paths;
    paths.files = {"/work/clip.AVS", "/work/other.avs"};
    Parsed parsed = Parse({"clip.AVS"}, paths);
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.call.ScriptPaths, std::vector<std::string>{"/work/clip.AVS"});
    EXPECT_EQ(Parse({"missing.avs"}, paths).error, "\nFile not found: \"missing.avs\"\n");
    // Scripts are taken in the order named.
    EXPECT_EQ(Parse({"clip.AVS", "other.avs"}, paths).call.ScriptPaths.back(), "/work/other.avs");
    // Without the completion setting a bare name is no script.
    EXPECT_EQ(Parse({"other"}, paths).error, "\nInvalid argument: \"other\"\n");
}

TEST(CommandLine, CompletesTheExtensionOfTheFirstScriptOnlyWhenAsked) {
    FakePaths paths;
    paths.files = {"/work/other.avs"};
    Invocation completing;
    completing.AutoCompleteExtension = true;
    Parsed parsed = Parse({"other"}, paths, completing);
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.call.ScriptPaths, std::vector<std::string>{"/work/other.avs"});
    EXPECT_EQ(Parse({"clip"}, paths, completing).error, "\nFile not found: \"clip.avs\"\n");
    EXPECT_EQ(Parse({"other", "other"}, paths, completing).error,
              "\nInvalid argument: \"other\"\n");
    // An argument ending in .avs is not completed again.
    EXPECT_EQ(Parse({"x.avs"}, paths, completing).error, "\nFile not found: \"x.avs\"\n");
}

TEST(CommandLine, StopsAtTheFirstBadArgument) {
    Parsed parsed = Parse({"-log", "-bad", "-csv"});
    EXPECT_EQ(parsed.error, "\nInvalid argument: \"-bad\"\n");
    EXPECT_EQ(parsed.call.CreateLog, 1);
    EXPECT_EQ(parsed.call.CreateCSV, 0);
}

// Made from the table of options: its first block is specified, the
// switches added since follow it.
TEST(UsageText, IsTheSpecifiedTextWithTheAddedBlock) {
    std::string usage;
    for (const std::string& line : UsageLines()) usage += line;
    EXPECT_EQ(usage,
              "\nUsage:  Tachoro script.avs [switches]\n\n"
              "Switches:\n"
              "  -avsinfo            Display Avisynth info\n"
              "  -info [-i]          Display clip info\n"
              "  -log  [-l]          Create log file\n"
              "  -csv                Create csv file\n"
              "  -gpu                Monitor GPU/VPU usage\n"
              "  -range=first,last   Set frame range\n"
              "  -timelimit=n        Set time limit (seconds)\n"
              "  -priority=n         Set process priority (1:low, 2:normal, 3:high)\n\n"
              "  For more info on the command line switches and INI file\n"
              "  options, read the documentation (Tachoro.html) included\n"
              "  in the distribution package.\n"
              "\nResults and comparisons:  Tachoro script.avs [script2.avs ...] [switches]\n\n"
              "  -json               Create json file\n"
              "  -plot               Create svg chart of the frame rate\n"
              "  -runs=n             Measure each script n times (1 to 100)\n"
              "  -frametimes         Time every frame (median, percentiles, slowest)\n"
              "  -gpu=n              Monitor GPU/VPU usage of GPU n (0: the first)\n"
              "  -baseline=file.json[,threshold] Compare with an earlier json file\n"
              "  -profile            Measure each statement's cost\n"
              "  -vary=name=values   Measure the script for each value of a global\n"
              "  Several scripts are measured in turn and compared.\n");
}

// A text as typed (a table of its own: no switch of the program's takes
// one yet), and -gpu's device number, which may be left out.
TEST(CommandLine, TextsAndOptionalValues) {
    std::vector<Option> table = Options();
    table.push_back(TextOption("-dll", &Invocation::AVSDLL));
    const struct {
        std::vector<std::string> args;
        std::string dll;
        bool gpu;
        int32_t device;
        std::string error;
    } cases[] = {
        {{"-DLL=C:\\Frame Server\\AviSynth.dll"}, "C:\\Frame Server\\AviSynth.dll", false, 0, ""},
        {{"-dll="}, "", false, 0, ""},
        {{"-gpu"}, "", true, 0, ""},
        {{"-GPU=5"}, "", true, 5, ""},
        {{"-gpu=256"}, "", false, 0, "\nInvalid parameter value: \"-gpu=256\"\nValue must be between 0 and 255\n"},
        {{"-dll"}, "", false, 0, "\nInvalid argument: \"-dll\"\n"},
    };
    for (const auto& c : cases) {
        Invocation call;
        EXPECT_EQ(ParseArguments(c.args, FakePaths().services(), call, table), c.error) << c.args[0];
        if (!c.error.empty()) continue;
        EXPECT_EQ(call.AVSDLL, c.dll) << c.args[0];
        EXPECT_EQ(call.MonitorGPULoad, c.gpu) << c.args[0];
        EXPECT_EQ(call.GPUDevice, c.device) << c.args[0];
        EXPECT_EQ(call.SwitchesText, c.args[0]);
    }
}

TEST(CommandLine, ResultSwitchesAndSeveralScripts) {
    FakePaths paths;
    paths.files = {"/work/a.avs", "/work/b.avs"};
    Parsed parsed = Parse({"a.avs", "-JSON", "-plot", "b.avs", "-runs=7", "-frametimes"}, paths);
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.call.ScriptPaths, (std::vector<std::string>{"/work/a.avs", "/work/b.avs"}));
    EXPECT_TRUE(parsed.call.Json && parsed.call.Plot && parsed.call.FrameTimes);
    EXPECT_EQ(parsed.call.Runs, 7);
    EXPECT_EQ(parsed.call.SwitchesText, "-JSON -plot -runs=7 -frametimes");
    EXPECT_EQ(Parse({"a.avs"}, paths).call.Runs, 1);
    EXPECT_EQ(Parse({"-runs=100"}).call.Runs, 100);
    for (const char* bad : {"-runs=0", "-runs=101", "-runs=x", "-runs="})
        EXPECT_EQ(Parse({bad}).error,
                  std::string("\nInvalid parameter value: \"") + bad + "\"\nValue must be between 1 and 100\n");
    // The same script twice would write the same files twice.
    EXPECT_EQ(Parse({"a.avs", "b.avs", "a.avs"}, paths).error,
              "\nTwo scripts would share their report files: \"a.avs\"\n");
    // A second script that is missing stops the run before anything is measured.
    EXPECT_EQ(Parse({"a.avs", "c.avs"}, paths).error, "\nFile not found: \"c.avs\"\n");
}

}  // namespace
