// The file, library, error, lock and interruption services of the platform
// layer, checked against the real system on each platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Gpu.h"
#include "platform/Library.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "platform/Time.h"
#include "tests/support/Process.h"
#include "tests/support/TestPlatform.h"

namespace fs = std::filesystem;

namespace {

// Child part of the interruption test: writes "files" under a hold, telling
// on standard error how far it got.
[[noreturn]] void PlayInterruptedChild() {
    const auto say = [](const char* text) {
        std::fputs(text, stderr);
        std::fflush(stderr);
    };
    platform::ArmInterruption();
    platform::HoldInterruption();
    say("holding\n");
    for (int wait = 0; wait < 1000 && !platform::InterruptionRequested(); ++wait) platform::SleepMs(10);
    say(platform::InterruptionRequested() ? "first\n" : "none\n");
    platform::SleepMs(1000);  // the second one comes meanwhile
    say("released\n");
    platform::ReleaseInterruption();
    say("survived\n");
    std::_Exit(3);
}

// Child part of the lock test: tries the lock named in TACHORO_TEST_NAME and
// reports what it got.
bool PlayChildIfAsked() {
    const char* mode = std::getenv("TACHORO_TEST_CHILD");
    if (mode != nullptr && std::string(mode) == "interruption") PlayInterruptedChild();
    if (mode == nullptr || std::string(mode) != "lock") return false;
    const char* name = std::getenv("TACHORO_TEST_NAME");
    const platform::LockResult result = platform::AcquireSingleInstanceLock(name != nullptr ? name : "");
    std::printf("%s\n", result == platform::LockResult::Acquired         ? "acquired"
                        : result == platform::LockResult::AlreadyRunning ? "already running"
                                                                         : "failed");
    std::fflush(stdout);
    std::_Exit(0);
}

[[maybe_unused]] const bool kPlayedChild = PlayChildIfAsked();

std::string TryLockInChild(const std::string& name) {
    ProcessRun run;
    run.Executable = platform::ExecutablePath();
    run.Arguments = {"--gtest_filter=-*"};
    run.Environment = {{"TACHORO_TEST_CHILD", "lock"}, {"TACHORO_TEST_NAME", name}};
    const ProcessResult result = RunProcess(run);
    if (!result.Started) return "not started: " + result.StartError;
    std::string out = result.Out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace

TEST(PlatformFiles, ExistenceAndWholeFileReads) {
    ScratchDir dir;
    ASSERT_TRUE(dir.Valid());
    const std::string bytes("line\r\nnul\0byte\xff", 15);
    ASSERT_TRUE(WriteBytes(dir.Path("data.bin"), bytes));
    ASSERT_TRUE(WriteBytes(dir.Path("empty.bin"), ""));

    EXPECT_EQ(platform::InspectFile(dir.Path("data.bin")).Kind, platform::FileKind::Regular);
    EXPECT_EQ(platform::InspectFile(dir.Path("missing.bin")).Kind, platform::FileKind::Missing);
    EXPECT_EQ(platform::InspectFile(dir.Path("")).Kind, platform::FileKind::Directory);

    std::vector<uint8_t> read{9, 9};
    ASSERT_EQ(platform::ReadRegularFile(dir.Path("data.bin"), 100, read), platform::FileRead::Done);
    EXPECT_EQ(std::string(read.begin(), read.end()), bytes);
    ASSERT_EQ(platform::ReadRegularFile(dir.Path("empty.bin"), 100, read), platform::FileRead::Done);
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(platform::ReadRegularFile(dir.Path("missing.bin"), 100, read), platform::FileRead::CannotOpen);
}

TEST(PlatformFiles, FullPathOfFilesThatNeedNotExist) {
    std::string full;
    ASSERT_TRUE(platform::FullPath("some dir/clip.avs", full));
    EXPECT_TRUE(fs::path(full).is_absolute()) << full;
    EXPECT_EQ(fs::path(full).filename().string(), "clip.avs");
    EXPECT_TRUE(fs::equivalent(fs::path(full).parent_path().parent_path(), fs::current_path())) << full;
    EXPECT_FALSE(platform::FullPath("", full));
}

TEST(PlatformFiles, ExecutableAndSettingsPaths) {
    const std::string executable = platform::ExecutablePath();
    ASSERT_FALSE(executable.empty());
    EXPECT_EQ(platform::InspectFile(executable).Kind, platform::FileKind::Regular) << executable;
    const std::string settings = platform::SettingsFilePath();
    EXPECT_EQ(fs::path(settings).filename().string(), "Tachoro.ini");
    if (kOnWindows) {
        EXPECT_EQ(settings, executable.substr(0, executable.rfind('\\')) + "\\Tachoro.ini");
    }
}

// The canonical path names the same file; on Windows it starts with a drive.
TEST(PlatformFiles, CanonicalPathAndTimeOfAFile) {
    ScratchDir dir;
    ASSERT_TRUE(dir.Valid());
    const std::string file = dir.Path("stamp.txt");
    ASSERT_TRUE(WriteBytes(file, "x"));

    std::string canonical;
    ASSERT_TRUE(platform::CanonicalFilePath(file, canonical));
    ASSERT_FALSE(canonical.empty());
    EXPECT_TRUE(fs::equivalent(canonical, file)) << canonical;
    if (kOnWindows) {
        ASSERT_GE(canonical.size(), 3u);
        EXPECT_EQ(canonical.substr(1, 2), ":\\") << canonical;
    }
    std::string untouched = "before";
    EXPECT_FALSE(platform::CanonicalFilePath(dir.Path("missing.txt"), untouched));

    // Compared with the local time now; the file was written a moment ago.
    platform::LocalTime stamp;
    ASSERT_TRUE(platform::FileLastWriteTime(file, stamp));
    const std::time_t now = std::time(nullptr);
    const std::tm local = *std::localtime(&now);
    std::tm written{};
    written.tm_year = static_cast<int>(stamp.year) - 1900;
    written.tm_mon = static_cast<int>(stamp.month) - 1;
    written.tm_mday = static_cast<int>(stamp.day);
    written.tm_hour = static_cast<int>(stamp.hour);
    written.tm_min = static_cast<int>(stamp.minute);
    written.tm_sec = static_cast<int>(stamp.second);
    written.tm_isdst = local.tm_isdst;
    EXPECT_LT(std::abs(std::difftime(std::mktime(&written), now)), 120.0)
        << stamp.year << "-" << stamp.month << "-" << stamp.day << " " << stamp.hour << ":" << stamp.minute;
    EXPECT_FALSE(platform::FileLastWriteTime(dir.Path("missing.txt"), stamp));
}

TEST(PlatformLibraries, ResolveLoadAndErrors) {
    std::string resolved;
    ASSERT_TRUE(platform::ResolveLibraryFile(TESTFS_LIBRARY, resolved));
    EXPECT_TRUE(fs::equivalent(resolved, NativePath(TESTFS_LIBRARY))) << resolved;

    void* library = platform::LoadDynamicLibrary(TESTFS_LIBRARY);
    ASSERT_NE(library, nullptr) << platform::SystemErrorText();
    EXPECT_NE(platform::DynamicSymbol(library, "CreateScriptEnvironment"), nullptr);
    EXPECT_EQ(platform::DynamicSymbol(library, "NoSuchExportAnywhere"), nullptr);
    EXPECT_TRUE(platform::FreeDynamicLibrary(library));

    ScratchDir dir;
    const std::string missing = dir.Path("no-such-library-here");
    platform::ClearSystemError();
    EXPECT_EQ(platform::SystemErrorText(), "");
    EXPECT_EQ(platform::LoadDynamicLibrary(missing), nullptr);
    const std::string text = platform::SystemErrorText();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(platform::SystemErrorText(), text);  // asking again gives the same answer
    EXPECT_FALSE(platform::ResolveLibraryFile(missing, resolved));
    platform::ClearSystemError();
    EXPECT_EQ(platform::SystemErrorText(), "");
}

TEST(PlatformSharedBlock, MissingBlockGivesTheSystemText) {
    platform::SharedBlock block;
    std::string error;
    EXPECT_FALSE(platform::OpenSharedBlock("TachoroNoSuchBlock4711", block, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(block.data, nullptr);
}

// Held by this process, the lock is refused to another one; a different
// name is not affected.
TEST(PlatformLock, SecondProcessIsRefused) {
    std::random_device random;
    const std::string name = "tachoro-test-lock-" + std::to_string(random());
    ASSERT_EQ(platform::AcquireSingleInstanceLock(name.c_str()), platform::LockResult::Acquired);
    EXPECT_EQ(TryLockInChild(name), "already running");
    EXPECT_EQ(TryLockInChild(name + "-other"), "acquired");
}

// The first interruption only raises the flag; a second one while files are
// written (held) waits until they are, then ends the process as it would
// have ended at once.
TEST(PlatformInterruption, ASecondOneWaitsForTheFilesBeingWritten) {
    ProcessRun run;
    run.Executable = platform::ExecutablePath();
    run.Arguments = {"--gtest_filter=-*"};
    run.Environment = {{"TACHORO_TEST_CHILD", "interruption"}};
    run.InterruptWhen = "holding";
    run.InterruptSignal = SIGTERM;
    run.InterruptCount = 2;
    run.InterruptIntervalMs = 300;
    const ProcessResult result = RunProcess(run);
    ASSERT_TRUE(result.Started) << result.StartError;
    EXPECT_FALSE(result.TimedOut);
    std::string said = result.Err;
    said.erase(std::remove(said.begin(), said.end(), '\r'), said.end());
    EXPECT_EQ(said, "holding\nfirst\nreleased\n");
    // (Wine ends a process on an unhandled Ctrl+C with 0, Windows with
    // STATUS_CONTROL_C_EXIT.)
    if (kOnWindows)
        EXPECT_EQ(result.ExitCode, RunningUnderWine() ? 0u : 0xC000013Au);
    else
        EXPECT_EQ(result.Signal, SIGTERM);
}
