// Runs the built program the way a user does: in a directory of its own, with
// its own settings file, against the test frame server.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Process.h"

// 79 blanks: the padded empty line of an 80-column console (the width used
// when the output is not a terminal).
std::string Blanks(size_t count);
std::string Padded(const std::string& text);
// The status-line convention: "\r" + padded text + "\r".
std::string Status(const std::string& text);
// A status line shown and then cleared.
std::string StatusShownAndCleared(const std::string& text);

// The console output of stages 1 to 4 with the test frame server.
std::string BannerWithVersion(const std::string& versionString = "TestFS 1.0 test frame server");

// Counters the test frame server appended at each unload: one map per load.
std::vector<std::map<std::string, long long>> ReadCounterLines(const std::string& path);

// The text of the first value named `key` in a JSON file's text (a number,
// true, false, null or a quoted string as written), after `from`; empty when
// there is none.
std::string JsonValue(const std::string& json, const std::string& key, size_t from = 0);

// "class" or "c": the frame-server interface of the program the runs start.
std::string InterfaceUnderTest();

class TachoroRun {
public:
    // The program is the one built with the tests, or the one the variable
    // TACHORO_UNDER_TEST names (the build over the other interface).
    TachoroRun();

    // The settings file: the defaults of this version, the test frame server
    // as AVSDLL, no single-instance lock (tests run side by side), then the
    // given extra lines (later lines win).
    void WriteSettings(const std::vector<std::string>& extraLines = {}, bool withFrameServer = true);
    std::string SettingsPath() const;
    std::string SettingsText() const;

    // A script for the test frame server; returns its full path.
    std::string WriteScript(const std::string& name, const std::string& directives);

    // Runs the program with the arguments; `environment` adds variables
    // (TESTFS_... for the test frame server), `input` is standard input.
    ProcessResult Run(const std::vector<std::string>& arguments,
                      const std::vector<std::pair<std::string, std::string>>& environment = {},
                      const std::string& input = std::string(), unsigned timeoutMs = 120000);

    // The same with the other settings of `run` (its executable, directory
    // and file-size limit are the harness's; its environment is added).
    ProcessResult RunWith(ProcessRun run);

    std::string Path(const std::string& name) const { return Directory.Path(name); }
    std::string PathOfLength(size_t length, const std::string& name) const {
        return Directory.PathOfLength(length, name);
    }
    // The names in the run's directory.
    std::vector<std::string> FileNames() const;

    // POSIX: the largest file the program may write in the runs that follow
    // (0: no limit).
    uint64_t FileSizeLimit = 0;
    std::string CountersFile() const { return Path("counters.txt"); }

private:
    ScratchDir Directory;
    std::string Executable;
};

// An end-to-end test that also runs through the program over the other
// frame-server interface: one of the cases where the interface does the
// work. tests/CMakeLists.txt finds these by this name.
#define TEST_BOTH_INTERFACES(suite, name) TEST(suite, name)

#define EXPECT_EXIT_CODE(result, value)                                   \
    do {                                                                  \
        EXPECT_TRUE((result).Started) << (result).StartError;             \
        EXPECT_FALSE((result).TimedOut);                                  \
        EXPECT_EQ((result).ExitCode, ExitCodeFor(value)) << (result).Err; \
    } while (0)
