// Replacing a file whole: the temporary files of our own naming, links,
// modes and owners, names and paths at the system's limits, and what tells
// two files apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/Files.h"
#include "report/ReportFile.h"
#include "tests/support/Process.h"
#include "tests/support/ScratchDir.h"
#include "tests/support/TestPlatform.h"

namespace {

namespace fs = std::filesystem;

std::string TemporaryName(int slot) { return ".tachoro-" + std::to_string(slot) + ".tmp"; }

std::vector<std::string> TemporaryFiles(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path("")))
        if (entry.path().filename().string().rfind(".tachoro-", 0) == 0) names.push_back(entry.path().filename().string());
    return names;
}

// "\nCannot create \"<name>\"\n<reason>\n": the reason, or "" when the
// message has another form.
std::string CreateReason(const std::string& message, const std::string& name) {
    const std::string head = "\nCannot create \"" + name + "\"\n";
    if (message.rfind(head, 0) != 0 || message.back() != '\n') return std::string();
    return message.substr(head.size(), message.size() - head.size() - 1);
}

TEST(FileReplacement, StaleTemporaryFilesAreTakenOverLiveOnesLeftAlone) {
    ScratchDir dir;
    // Left by processes that ended while writing: every name of ours.
    for (int slot = 0; slot < 16; ++slot) ASSERT_TRUE(WriteBytes(dir.Path(TemporaryName(slot)), "stale"));
    // A process that writes now holds the first name.
    platform::FileReplacement held;
    ASSERT_TRUE(held.Begin(dir.Path("held.txt")));
    std::fputs("held", held.Stream());
    EXPECT_EQ(ReplaceFileContent(dir.Path("other.txt"), "other", ReplaceOptions()), "");
    ASSERT_TRUE(held.Sync());
    ASSERT_TRUE(held.Commit());
    EXPECT_EQ(ReadBytes(dir.Path("held.txt")), "held");
    EXPECT_EQ(ReadBytes(dir.Path("other.txt")), "other");
    // The two names used are gone; the others wait for the next writes.
    EXPECT_EQ(TemporaryFiles(dir).size(), 14u);

    // Abandoned before it was complete: no trace.
    {
        platform::FileReplacement abandoned;
        ASSERT_TRUE(abandoned.Begin(dir.Path("held.txt")));
        std::fputs("half", abandoned.Stream());
    }
    EXPECT_EQ(ReadBytes(dir.Path("held.txt")), "held");
    EXPECT_EQ(TemporaryFiles(dir).size(), 14u);
}

TEST(FileReplacement, ARefusalSaysWhy) {
    ScratchDir dir;
    const std::string inMissingFolder = dir.Path("missing/x.log");
    EXPECT_NE(CreateReason(ReplaceFileContent(inMissingFolder, "x", ReplaceOptions()), inMissingFolder), "");
}

TEST(FileReplacement, ALinkIsFollowedOrReplacedAsAsked) {
    ScratchDir dir;
    fs::create_directory(dir.Path("dotfiles"));
    ASSERT_TRUE(WriteBytes(dir.Path("dotfiles/real.ini"), "old"));
    const SymbolicLink link(dir.Path("dotfiles/real.ini"), dir.Path("link.ini"));
    if (!link.Made()) GTEST_SKIP() << "this system makes no symbolic links for us";
    EXPECT_EQ(ReplaceFileContent(dir.Path("link.ini"), "through", ReplaceOptions()), "");
    EXPECT_EQ(ReadBytes(dir.Path("dotfiles/real.ini")), "through");
    EXPECT_EQ(ReadBytes(dir.Path("link.ini")), "through");  // still the link

    ReplaceOptions replaceTheLink;
    replaceTheLink.ThroughLink = false;
    EXPECT_EQ(ReplaceFileContent(dir.Path("link.ini"), "own", replaceTheLink), "");
    EXPECT_EQ(ReadBytes(dir.Path("link.ini")), "own");
    EXPECT_EQ(ReadBytes(dir.Path("dotfiles/real.ini")), "through");
}

#if !defined(_WIN32)
TEST(FileReplacement, KeepsTheModeAndOwnerOfTheFileItReplaces) {
    ScratchDir dir;
    const auto modeOf = [&](const std::string& name) {
        struct stat info {};
        stat(dir.Path(name).c_str(), &info);
        return info.st_mode & 07777;
    };
    const mode_t mask = umask(022);
    for (mode_t mode : {0600, 0640, 0444}) {
        ASSERT_TRUE(WriteBytes(dir.Path("a.log"), "old"));
        chmod(dir.Path("a.log").c_str(), mode);
        EXPECT_EQ(ReplaceFileContent(dir.Path("a.log"), "new", ReplaceOptions()), "");
        EXPECT_EQ(modeOf("a.log"), mode) << std::oct << mode;
    }
    // A backup takes the mode of the file it copies; a new file that of any
    // new file.
    ReplaceOptions backup;
    backup.ModeOf = dir.Path("a.log");
    chmod(dir.Path("a.log").c_str(), 0600);
    EXPECT_EQ(ReplaceFileContent(dir.Path("a.log.bak"), "old", backup), "");
    EXPECT_EQ(modeOf("a.log.bak"), 0600u);
    EXPECT_EQ(ReplaceFileContent(dir.Path("new.log"), "new", ReplaceOptions()), "");
    EXPECT_EQ(modeOf("new.log"), 0644u);
    umask(mask);

    if (geteuid() != 0) return;  // only a privileged process may give a file away
    ASSERT_EQ(chown(dir.Path("a.log").c_str(), 4321, 4322), 0);
    EXPECT_EQ(ReplaceFileContent(dir.Path("a.log"), "theirs", ReplaceOptions()), "");
    struct stat info {};
    stat(dir.Path("a.log").c_str(), &info);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 4322u);
}
#endif

// The temporary name is short: a name or a path at the system's limit is
// written as any other; one past it is refused with the system's reason.
TEST(FileReplacement, NamesAndPathsAtTheSystemsLimit) {
    ScratchDir dir;
    const std::string longest = dir.Path(std::string(251, 'n') + ".log");
    EXPECT_EQ(ReplaceFileContent(longest, "255", ReplaceOptions()), "");
    EXPECT_EQ(ReadBytes(longest), "255");
    const std::string tooLong = dir.Path(std::string(252, 'n') + ".log");
    EXPECT_NE(CreateReason(ReplaceFileContent(tooLong, "256", ReplaceOptions()), tooLong), "");

    // A short name at the end of a path at the limit (Linux 4095 bytes; the
    // 259 characters of MAX_PATH on Windows, and past them).
    for (size_t length : kOnWindows ? std::vector<size_t>{259, 300} : std::vector<size_t>{4095}) {
        const std::string path = dir.PathOfLength(length, "a.log");
        ASSERT_EQ(path.size(), length);
        EXPECT_EQ(ReplaceFileContent(path, "at the limit", ReplaceOptions()), "") << length;
        EXPECT_EQ(ReadBytes(path), "at the limit") << length;
    }
    EXPECT_TRUE(TemporaryFiles(dir).empty());
}

// Report files of one call are compared by these.
TEST(FileIdentity, TellsFilesApartHoweverTheyAreReached) {
    ScratchDir dir;
    ASSERT_TRUE(WriteBytes(dir.Path("a.log"), "log"));
    fs::create_hard_link(dir.Path("a.log"), dir.Path("a.json"));
    const auto same = [&](const std::string& a, const std::string& b) {
        return platform::SameIdentity(platform::IdentifyFile(dir.Path(a)), platform::IdentifyFile(dir.Path(b)));
    };
    EXPECT_TRUE(same("a.log", "a.json"));
    EXPECT_FALSE(same("a.log", "b.log"));
    EXPECT_FALSE(same("b.log", "c.log"));
    EXPECT_TRUE(same("b.log", "./b.log"));
    EXPECT_EQ(same("b.log", "B.LOG"), kOnWindows);
    const SymbolicLink here(dir.Path(""), dir.Path("here"));
    if (!here.Made()) return;
    EXPECT_TRUE(same("a.log", "here/a.log"));
    EXPECT_TRUE(same("b.log", "here/b.log"));  // not there yet: the same place
    const SymbolicLink svg("b.log", dir.Path("b.svg"));
    if (svg.Made() && !RunningUnderWine()) {
        EXPECT_TRUE(same("b.log", "b.svg"));  // a link to where the log will be
    }
}

}  // namespace
