// The first stages of a run: settings file, banner, arguments, the lock.
#include <chrono>
#include <thread>

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "tests/e2e/Harness.h"

namespace {

std::string UsageText() {
    std::string usage;
    for (const std::string& line : UsageLines()) usage += line;
    return usage + "\n";
}

TEST(Startup, CreatesTheDefaultSettingsFileByteForByte) {
    TachoroRun tachoro;
    ASSERT_FALSE(PathExists(tachoro.SettingsPath()));
    ProcessResult result = tachoro.Run({});
    // No frame server is configured on this machine, so the run ends early;
    // the settings file exists by then.
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(tachoro.SettingsText(), DefaultSettingsFileText("2.1.3"));
    EXPECT_FALSE(PathExists(tachoro.SettingsPath() + ".bak"));
}

TEST(Startup, ReplacesAnOutdatedSettingsFileAndKeepsABackup) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string outdated = "[Main]\r\nVersion=2.1.2\r\nDisplayFPS=0\r\n";
    WriteBytes(tachoro.SettingsPath(), outdated);
    tachoro.Run({"-avsinfo"});
    EXPECT_EQ(tachoro.SettingsText(), DefaultSettingsFileText("2.1.3"));
    EXPECT_EQ(ReadBytes(tachoro.SettingsPath() + ".bak"), outdated);

    // A second outdated file replaces the older backup.
    const std::string second = "Version=1.0.0\r\nCreateLog=1\r\n";
    WriteBytes(tachoro.SettingsPath(), second);
    tachoro.Run({"-avsinfo"});
    EXPECT_EQ(ReadBytes(tachoro.SettingsPath() + ".bak"), second);
}

TEST(Startup, CurrentSettingsFileIsLeftAlone) {
    TachoroRun tachoro;
    tachoro.WriteSettings({"DisplayFPS=0"});
    const std::string before = tachoro.SettingsText();
    tachoro.Run({"-avsinfo"});
    EXPECT_EQ(tachoro.SettingsText(), before);
    EXPECT_FALSE(PathExists(tachoro.SettingsPath() + ".bak"));
}

TEST(Startup, WithoutArgumentsShowsTheUsageOnStandardOutput) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    ProcessResult result = tachoro.Run({});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Out, UsageText());
    EXPECT_EQ(result.Err, BannerWithVersion());
}

TEST(Startup, ConsoleTextGoesToStandardOutputWhenConfigured) {
    TachoroRun tachoro;
    tachoro.WriteSettings({"ConUseSTDOUT=1"});
    ProcessResult result = tachoro.Run({"-bogus"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, "");
    EXPECT_EQ(result.Out, BannerWithVersion() + "\nInvalid argument: \"-bogus\"\n");
}

TEST(Startup, BadArgumentsPrintTheirMessage) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string existing = tachoro.WriteScript("clip.avs", "frames=10\n");
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"-logx"}, "\nInvalid argument: \"-logx\"\n"},
        {{""}, "\nInvalid argument: \"\"\n"},
        {{"-range=12"}, "\nInvalid parameter format: \"-range=12\"\n"},
        {{"-priority=4"}, "\nInvalid parameter value: \"-priority=4\"\nValue must be between 1 and 3\n"},
        {{"-timelimit=0"}, "\nInvalid parameter value: \"-timelimit=0\"\nValue must be between 1 and 999999\n"},
        {{"missing.avs"}, "\nFile not found: \"missing.avs\"\n"},
        {{"-avsinfo", "missing.avs"}, "\nFile not found: \"missing.avs\"\n"},
        {{existing, "-LOG", "-x"}, "\nInvalid argument: \"-x\"\n"},
        {{"-log"}, "\nNo script file specified\n"},
    };
    for (const auto& testCase : cases) {
        ProcessResult result = tachoro.Run(testCase.arguments);
        EXPECT_EXIT_CODE(result, -1);
        EXPECT_EQ(result.Err, BannerWithVersion() + testCase.message) << testCase.message;
        EXPECT_EQ(result.Out, "");
    }
}

// No frame server and no settings file: help and version are answered
// before either is needed, and none is created.
TEST(Startup, HelpAndVersionNeedNoFrameServerAndNoSettingsFile) {
    TachoroRun tachoro;
    const std::string version = "Tachoro 2.1.3\n";
    const struct {
        std::vector<std::string> arguments;
        std::string output;
    } cases[] = {
        {{"--help"}, UsageText()},
        {{"-h"}, UsageText()},
        {{"-?"}, UsageText()},
        {{" -H "}, UsageText()},
        {{"clip.avs", "-log", "--help"}, UsageText()},
        {{"--version"}, version},
        {{"--VERSION", "--help"}, version},
        {{"-bogus", "--version"}, version},
    };
    for (const auto& testCase : cases) {
        ProcessResult result = tachoro.Run(testCase.arguments);
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_EQ(result.Out, testCase.output) << testCase.arguments.back();
        EXPECT_EQ(result.Err, "");
    }
    EXPECT_FALSE(PathExists(tachoro.SettingsPath()));
}

TEST(Startup, CompletesTheScriptExtensionWhenConfigured) {
    TachoroRun tachoro;
    tachoro.WriteSettings({"AutoCompleteExtension=1"});
    ProcessResult result = tachoro.Run({"clip"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, BannerWithVersion() + "\nFile not found: \"clip.avs\"\n");
}

TEST(Startup, ASecondInstanceIsRefusedWhileTheFirstRuns) {
    TachoroRun tachoro;
    tachoro.WriteSettings({"AllowOnlyOneInstance=1"});
    // Slow frames keep the first instance busy for a while.
    const std::string script = tachoro.WriteScript("slow.avs", "frames=100000\nframe_delay_us=1000\n");
    ProcessResult first;
    std::thread firstRun([&] { first = tachoro.Run({script, "-timelimit=4"}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ProcessResult second = tachoro.Run({script, "-timelimit=1"});
    firstRun.join();
    EXPECT_EXIT_CODE(second, -1);
    EXPECT_EQ(second.Err, BannerWithVersion() + "\nOne instance of Tachoro is already running\n");
    EXPECT_EXIT_CODE(first, 0);

    // A killed instance does not hold the lock any longer.
    ProcessResult killed = tachoro.Run({script, "-timelimit=100"}, {}, "", 2500);
    EXPECT_TRUE(killed.TimedOut);
    ProcessResult next = tachoro.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(next, 0);
}

TEST(Startup, WithoutTheLockTwoRunsProceedSideBySide) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("slow.avs", "frames=100000\nframe_delay_us=1000\n");
    ProcessResult first;
    std::thread firstRun([&] { first = tachoro.Run({script, "-timelimit=3"}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ProcessResult second = tachoro.Run({"-avsinfo"});
    firstRun.join();
    EXPECT_EXIT_CODE(second, 0);
    EXPECT_EXIT_CODE(first, 0);
}

}  // namespace
