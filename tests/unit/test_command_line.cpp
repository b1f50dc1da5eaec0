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
    CommandLineResult result;
    Settings settings;
};

Parsed Parse(std::vector<std::string> args, const FakePaths& paths = FakePaths(), Settings settings = {}) {
    Parsed parsed;
    parsed.settings = settings;
    parsed.result = ParseArguments(args, parsed.settings, paths.services());
    return parsed;
}

TEST(CommandLine, SwitchesMatchWithoutRegardToCase) {
    for (const char* log : {"-LOG", "-Log", "-l", "-L"}) {
        Parsed parsed = Parse({log});
        EXPECT_EQ(parsed.result.ErrorMessage, "") << log;
        EXPECT_EQ(parsed.settings.CreateLog, 1) << log;
    }
    Parsed parsed = Parse({"-csv", "-GPU", "-i", " -avsinfo "});
    EXPECT_EQ(parsed.settings.CreateCSV, 1);
    EXPECT_EQ(parsed.settings.MonitorGPULoad, 1);
    EXPECT_TRUE(parsed.result.InfoOnly);
    EXPECT_TRUE(parsed.result.AvsInfoMode);
    EXPECT_EQ(parsed.result.SwitchesText, "-csv -GPU -i -avsinfo ");
}

TEST(CommandLine, UnknownWordsAreInvalidArguments) {
    EXPECT_EQ(Parse({"-logx"}).result.ErrorMessage, "\nInvalid argument: \"-logx\"\n");
    EXPECT_EQ(Parse({""}).result.ErrorMessage, "\nInvalid argument: \"\"\n");
}

TEST(CommandLine, RangeValuesAreParsedOrRejected) {
    Parsed parsed = Parse({"-range=0,-1"});
    EXPECT_EQ(parsed.settings.FrameFirst, 0);
    EXPECT_EQ(parsed.settings.FrameLast, -1);
    EXPECT_EQ(parsed.settings.FrameRangeText, "FrameRange=0,-1");
    parsed = Parse({"-range=5,2"});
    EXPECT_EQ(parsed.result.ErrorMessage, "");
    EXPECT_EQ(parsed.settings.FrameFirst, 5);
    parsed = Parse({"-range=-7,-0"});
    EXPECT_EQ(parsed.settings.FrameFirst, -7);
    EXPECT_EQ(parsed.settings.FrameLast, 0);
    // A minus sign belongs in front of the digits only.
    // So is a number that does not fit 64 bits.
    for (const char* bad : {"-range=1,", "-range=,5", "-range=12", "-range=a,b", "-RANGE=x", "-range=1-2,3",
                            "-range=-,-", "-range=0,-", "-range=5-,9", "-range=--1,5", "-range=0,99999999999999999999",
                            "-range=-9223372036854775809,0"}) {
        parsed = Parse({bad});
        EXPECT_EQ(parsed.result.ErrorMessage, std::string("\nInvalid parameter format: \"") + bad + "\"\n") << bad;
        EXPECT_EQ(parsed.settings.FrameFirst, InvalidRangeMarker) << bad;
        EXPECT_FALSE(parsed.settings.FrameRangeValid) << bad;
    }
    parsed = Parse({"-range=-9223372036854775808,9223372036854775807"});
    EXPECT_EQ(parsed.settings.FrameFirst, INT64_MIN);
    EXPECT_EQ(parsed.settings.FrameLast, INT64_MAX);
    EXPECT_TRUE(parsed.settings.FrameRangeValid);
    parsed = Parse({"-range=1,2", "-range=3,4"});
    EXPECT_EQ(parsed.settings.FrameFirst, 3);
    EXPECT_EQ(parsed.result.SwitchesText, "-range=1,2 -range=3,4 ");
}

TEST(CommandLine, PriorityAndTimeLimitHaveRanges) {
    EXPECT_EQ(Parse({"-priority=3"}).settings.ProcessPriority, 3);
    for (const char* bad : {"-priority=0", "-priority=4", "-priority=257", "-priority=x", "-priority=", "-priority=2-",
                            "-priority=-"}) {
        EXPECT_EQ(Parse({bad}).result.ErrorMessage,
                  std::string("\nInvalid parameter value: \"") + bad + "\"\nValue must be between 1 and 3\n");
    }
    EXPECT_EQ(Parse({"-timelimit=999999"}).settings.TimeLimit, 999999);
    for (const char* bad : {"-timelimit=0", "-timelimit=1000000", "-timelimit=99999999999", "-timelimit=1-",
                            "-timelimit=5-3"}) {
        EXPECT_EQ(Parse({bad}).result.ErrorMessage,
                  std::string("\nInvalid parameter value: \"") + bad + "\"\nValue must be between 1 and 999999\n");
    }
}

TEST(CommandLine, ScriptsMustExist) {
    FakePaths paths;
    paths.files = {"/work/clip.AVS", "/work/other.avs"};
    Parsed parsed = Parse({"clip.AVS"}, paths);
    EXPECT_EQ(parsed.result.ErrorMessage, "");
    EXPECT_EQ(parsed.result.ScriptPath, "/work/clip.AVS");
    EXPECT_EQ(Parse({"missing.avs"}, paths).result.ErrorMessage, "\nFile not found: \"missing.avs\"\n");
    // A later script replaces an earlier one.
    EXPECT_EQ(Parse({"clip.AVS", "other.avs"}, paths).result.ScriptPath, "/work/other.avs");
    // Without the completion setting a bare name is no script.
    EXPECT_EQ(Parse({"other"}, paths).result.ErrorMessage, "\nInvalid argument: \"other\"\n");
}

TEST(CommandLine, CompletesTheExtensionOfTheFirstScriptOnlyWhenAsked) {
    FakePaths paths;
    paths.files = {"/work/other.avs"};
    Settings completing;
    completing.AutoCompleteExtension = 1;
    Parsed parsed = Parse({"other"}, paths, completing);
    EXPECT_EQ(parsed.result.ErrorMessage, "");
    EXPECT_EQ(parsed.result.ScriptPath, "/work/other.avs");
    EXPECT_EQ(Parse({"clip"}, paths, completing).result.ErrorMessage, "\nFile not found: \"clip.avs\"\n");
    EXPECT_EQ(Parse({"other", "other"}, paths, completing).result.ErrorMessage,
              "\nInvalid argument: \"other\"\n");
    // An argument ending in .avs is not completed again.
    EXPECT_EQ(Parse({"x.avs"}, paths, completing).result.ErrorMessage, "\nFile not found: \"x.avs\"\n");
}

TEST(CommandLine, StopsAtTheFirstBadArgument) {
    Parsed parsed = Parse({"-log", "-bad", "-csv"});
    EXPECT_EQ(parsed.result.ErrorMessage, "\nInvalid argument: \"-bad\"\n");
    EXPECT_EQ(parsed.settings.CreateLog, 1);
    EXPECT_EQ(parsed.settings.CreateCSV, 0);
}

TEST(UsageText, ListsEverySwitch) {
    std::string usage;
    for (const std::string& line : UsageLines()) usage += line;
    EXPECT_EQ(usage.substr(0, 42), "\nUsage:  Tachoro script.avs [switches]\n\nSw");
    for (const char* name : {"-avsinfo", "-info [-i]", "-log  [-l]", "-csv", "-gpu", "-range=first,last",
                             "-timelimit=n", "-priority=n         Set process priority (1:low, 2:normal, 3:high)\n\n"})
        EXPECT_NE(usage.find(name), std::string::npos) << name;
    // The lines of every run stay first; the result switches follow them.
    ASSERT_GT(UsageLines().size(), 13u);
    EXPECT_EQ(UsageLines()[12], "  in the distribution package.\n");
    const std::string more = usage.substr(usage.find("  in the distribution package.\n"));
    for (const char* name : {"-json", "-plot", "-runs=n", "-frametimes", "script2.avs"})
        EXPECT_NE(more.find(name), std::string::npos) << name;
}

TEST(CommandLine, ResultSwitchesAndSeveralScripts) {
    FakePaths paths;
    paths.files = {"/work/a.avs", "/work/b.avs"};
    Parsed parsed = Parse({"a.avs", "-JSON", "-plot", "b.avs", "-runs=7", "-frametimes"}, paths);
    EXPECT_EQ(parsed.result.ErrorMessage, "");
    EXPECT_EQ(parsed.result.ScriptPaths, (std::vector<std::string>{"/work/a.avs", "/work/b.avs"}));
    EXPECT_TRUE(parsed.result.Results.Json && parsed.result.Results.Plot && parsed.result.Results.FrameTimes);
    EXPECT_EQ(parsed.result.Results.Runs, 7u);
    EXPECT_EQ(parsed.result.SwitchesText, "-JSON -plot -runs=7 -frametimes ");
    EXPECT_EQ(Parse({"a.avs"}, paths).result.Results.Runs, 1u);
    EXPECT_EQ(Parse({"-runs=100"}).result.Results.Runs, 100u);
    for (const char* bad : {"-runs=0", "-runs=101", "-runs=x", "-runs="})
        EXPECT_EQ(Parse({bad}).result.ErrorMessage,
                  std::string("\nInvalid parameter value: \"") + bad + "\"\nValue must be between 1 and 100\n");
    // The same script twice would write the same files twice.
    EXPECT_EQ(Parse({"a.avs", "b.avs", "a.avs"}, paths).result.ErrorMessage,
              "\nTwo scripts would share their report files: \"a.avs\"\n");
    // A second script that is missing stops the run before anything is measured.
    EXPECT_EQ(Parse({"a.avs", "c.avs"}, paths).result.ErrorMessage, "\nFile not found: \"c.avs\"\n");
}

}  // namespace
