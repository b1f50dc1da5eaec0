// The process runner used by the end-to-end tests, exercised with this test
// program itself as the child: when TACHORO_TEST_CHILD is set, the program
// plays the child's part before any test starts and exits.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "tests/support/Process.h"
#include "tests/support/TestPlatform.h"

namespace {

[[noreturn]] void Finish(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}

const char* Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// echo: standard input to standard output, a line on standard error, exit
// code from TACHORO_TEST_EXIT. report: arguments, one variable and the
// working directory. sleep: outlives any test's patience.
bool PlayChildIfAsked() {
    const std::string mode = Variable("TACHORO_TEST_CHILD");
    if (mode == "echo") {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) std::fwrite(buffer, 1, n, stdout);
        std::fputs("to standard error\n", stderr);
        Finish(std::atoi(Variable("TACHORO_TEST_EXIT")));
    }
    if (mode == "report") {
        for (const std::string& argument : OwnArguments()) std::printf("arg[%s]\n", argument.c_str());
        std::printf("var[%s]\n", Variable(Variable("TACHORO_TEST_NAME")));
        std::printf("cwd[%s]\n", std::filesystem::current_path().string().c_str());
        Finish(0);
    }
    if (mode == "sleep") {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        Finish(0);
    }
    return false;
}

[[maybe_unused]] const bool kPlayedChild = PlayChildIfAsked();

std::string WithoutCR(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

ProcessRun Child(const std::string& mode) {
    ProcessRun run;
    run.Executable = platform::ExecutablePath();
    run.Environment.push_back({"TACHORO_TEST_CHILD", mode});
    run.TimeoutMs = 60000;
    return run;
}

}  // namespace

TEST(ProcessHelper, FeedsInputCapturesStreamsAndExitCode) {
    ProcessRun run = Child("echo");
    run.Input = "first line\nsecond line\n";
    run.Environment.push_back({"TACHORO_TEST_EXIT", "3"});
    const ProcessResult result = RunProcess(run);
    ASSERT_TRUE(result.Started) << result.StartError;
    EXPECT_FALSE(result.TimedOut);
    EXPECT_EQ(result.ExitCode, 3u);
    EXPECT_EQ(WithoutCR(result.Out), "first line\nsecond line\n");
    EXPECT_EQ(WithoutCR(result.Err), "to standard error\n");
}

TEST(ProcessHelper, MinusOneAndEmptyInput) {
    ProcessRun run = Child("echo");
    run.Environment.push_back({"TACHORO_TEST_EXIT", "-1"});
    const ProcessResult result = RunProcess(run);
    ASSERT_TRUE(result.Started) << result.StartError;
    EXPECT_FALSE(result.TimedOut);  // the child saw the end of an empty input
    EXPECT_EQ(result.ExitCode, ExitCodeFor(-1));
    if (kOnWindows) {
        EXPECT_EQ(result.ExitCode, 0xFFFFFFFFu);
    } else {
        EXPECT_EQ(result.ExitCode, 255u);
    }
    EXPECT_EQ(result.Out, "");
}

// Both directions carry far more than a pipe holds: a runner that writes all
// input before reading any output would wait for ever here.
TEST(ProcessHelper, LargeInputAndOutputDoNotDeadlock) {
    ProcessRun run = Child("echo");
    std::string input;
    for (int i = 0; input.size() < 3 * 1024 * 1024; ++i) input += "line " + std::to_string(i) + "\n";
    run.Input = input;
    const ProcessResult result = RunProcess(run);
    ASSERT_TRUE(result.Started) << result.StartError;
    EXPECT_FALSE(result.TimedOut);
    EXPECT_EQ(result.ExitCode, 0u);
    EXPECT_TRUE(WithoutCR(result.Out) == input) << "output of " << result.Out.size() << " bytes differs";
}

TEST(ProcessHelper, ArgumentsEnvironmentAndWorkingDirectory) {
    ScratchDir dir;
    ASSERT_TRUE(dir.Valid());
    const std::string sub = dir.Path("with space");
    ASSERT_TRUE(std::filesystem::create_directory(sub));

    ProcessRun run = Child("report");
    run.Arguments = {"plain", "two words", "", "quote\"inside", "trailing\\", "back\\\\slash \\\"mix\"", "-x=1"};
    // Replacing a variable the parent has (PATH exists on both systems; on
    // Windows its name is matched without regard to case).
    if (kOnWindows) {
        run.Environment.push_back({"Path", "replaced value"});
    } else {
        run.Environment.push_back({"PATH", "replaced value"});
    }
    run.Environment.push_back({"TACHORO_TEST_NAME", "PATH"});
    run.WorkingDirectory = sub;
    const ProcessResult result = RunProcess(run);
    ASSERT_TRUE(result.Started) << result.StartError;
    ASSERT_EQ(result.ExitCode, 0u) << result.Err;

    std::istringstream lines(WithoutCR(result.Out));
    std::vector<std::string> seen;
    std::string line;
    while (std::getline(lines, line)) seen.push_back(line);
    ASSERT_EQ(seen.size(), run.Arguments.size() + 2) << result.Out;
    for (size_t i = 0; i < run.Arguments.size(); ++i) EXPECT_EQ(seen[i], "arg[" + run.Arguments[i] + "]");
    EXPECT_EQ(seen[run.Arguments.size()], "var[replaced value]");
    const std::string cwdLine = seen.back();
    ASSERT_GT(cwdLine.size(), 5u);
    const std::string cwd = cwdLine.substr(4, cwdLine.size() - 5);
    EXPECT_TRUE(std::filesystem::equivalent(cwd, sub)) << cwd << " vs " << sub;
}

TEST(ProcessHelper, TimeoutKillsAndReports) {
    ProcessRun run = Child("sleep");
    run.TimeoutMs = 2000;
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = RunProcess(run);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(result.Started) << result.StartError;
    EXPECT_TRUE(result.TimedOut);
    EXPECT_LT(seconds, 30);
    EXPECT_NE(result.ExitCode, 0u);
}

TEST(ProcessHelper, MissingProgramIsNotStarted) {
    ScratchDir dir;
    ProcessRun run;
    run.Executable = dir.Path("no-such-program.exe");
    const ProcessResult result = RunProcess(run);
    EXPECT_FALSE(result.Started);
    EXPECT_FALSE(result.StartError.empty());
}

TEST(ProcessHelper, WindowsQuotingRules) {
    EXPECT_EQ(WindowsCommandLine({"a", "b c", ""}), "a \"b c\" \"\"");
    // Backslashes are literal unless a quote follows them.
    EXPECT_EQ(WindowsCommandLine({"C:\\dir\\file"}), "C:\\dir\\file");
    EXPECT_EQ(WindowsCommandLine({"C:\\my dir\\"}), "\"C:\\my dir\\\\\"");
    EXPECT_EQ(WindowsCommandLine({"say \"hi\""}), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(WindowsCommandLine({"a\\\"b"}), "\"a\\\\\\\"b\"");
}

TEST(ProcessHelper, PathsAndFileCopies) {
    if (kOnWindows) {
        EXPECT_EQ(NativePath("/tmp/x/Tachoro.exe"), "Z:\\tmp\\x\\Tachoro.exe");
        EXPECT_EQ(NativePath("C:\\a\\b"), "C:\\a\\b");
        EXPECT_EQ(NativePath("relative/x"), "relative/x");
    } else {
        EXPECT_EQ(NativePath("/tmp/x/tachoro"), "/tmp/x/tachoro");
    }
    ScratchDir dir;
    ASSERT_TRUE(dir.Valid());
    std::string bytes("a\0b\r\n\x1a\xff", 7);
    ASSERT_TRUE(WriteBytes(dir.Path("source.bin"), bytes));
    ASSERT_TRUE(CopyFileBytes(dir.Path("source.bin"), dir.Path("copy.bin")));
    EXPECT_EQ(ReadBytes(dir.Path("copy.bin")), bytes);
    ASSERT_TRUE(WriteBytes(dir.Path("copy.bin"), "much longer old content"));
    ASSERT_TRUE(CopyFileBytes(dir.Path("source.bin"), dir.Path("copy.bin")));
    EXPECT_EQ(ReadBytes(dir.Path("copy.bin")), bytes);  // replaced, not merged
    EXPECT_FALSE(CopyFileBytes(dir.Path("missing.bin"), dir.Path("other.bin")));
}
