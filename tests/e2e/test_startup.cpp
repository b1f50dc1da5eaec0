// The first stages of a run: settings file, banner, arguments, the lock.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <thread>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "platform/Library.h"
#include "tests/e2e/Harness.h"
#include "tests/support/TestPlatform.h"

namespace {

void MakePipe(const std::string& path) {
#if defined(_WIN32)
    (void)path;
#else
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
#endif
}

void MakeSparseFile(const std::string& path, uint64_t size) {
    ASSERT_TRUE(WriteBytes(path, "frames=1\n"));
    std::filesystem::resize_file(path, size);
}

// A script whose full path is longer than the system takes (4096 bytes on
// Linux; the 260 of the ANSI calls on Windows). Linux refuses such a path in
// every call, so the deepest folders are made, and removed, from inside
// their parent.
class DeepScript {
public:
    explicit DeepScript(const std::string& base) {
        std::filesystem::path path = base;
        for (int level = 0; level < (kOnWindows ? 1 : 15); ++level) path /= Folder;
        std::filesystem::create_directories(path);
        Parent = path;
        InParent([&] {
            std::filesystem::create_directories(Inner().parent_path());
            std::ofstream(Inner()) << "frames=10\n";
        });
        Path = (Parent / Inner()).make_preferred().string();
    }
    ~DeepScript() {
        InParent([&] { std::filesystem::remove_all(kOnWindows ? Inner() : std::filesystem::path(Folder)); });
    }
    std::string Path;

private:
    // The script's path from inside the parent.
    std::filesystem::path Inner() const {
        return kOnWindows ? Parent / "clip.avs" : std::filesystem::path(Folder) / Folder / "clip.avs";
    }
    template <class Work>
    void InParent(Work work) {
        const std::filesystem::path start = std::filesystem::current_path();
        if (!kOnWindows) std::filesystem::current_path(Parent);
        work();
        std::filesystem::current_path(start);
    }
    const std::string Folder = std::string(250, 'd');
    std::filesystem::path Parent;
};

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

    // A second outdated file replaces the older backup; one line says so.
    const std::string second = "Version=1.0.0\r\nCreateLog=1\r\n";
    WriteBytes(tachoro.SettingsPath(), second);
    ProcessResult result = tachoro.Run({"-avsinfo"});
    EXPECT_EQ(ReadBytes(tachoro.SettingsPath() + ".bak"), second);
    EXPECT_EQ(result.Err.rfind("\nTachoro 2.1.3 (x64)\n\nOutdated settings file replaced; the old one is kept as \"" +
                                   tachoro.SettingsPath() + ".bak\"\n",
                               0),
              0u)
        << result.Err;
}

// Two starts at the same moment over an outdated settings file (both before
// the single-instance check): each reads the old file or the new one, never
// one half written, so the backup always holds the old values.
TEST(Startup, TwoStartsAtOnceNeverLoseTheOldSettings) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string outdated = "[Main]\r\nVersion=2.1.2\r\nCreateLog=1\r\nAVSDLL=my own\r\n";
    const std::string backup = tachoro.SettingsPath() + ".bak";
    // 200 rounds, as long as they take less than a minute (under Wine they
    // take longer).
    const auto begin = std::chrono::steady_clock::now();
    int rounds = 0;
    for (; rounds < 200 && std::chrono::steady_clock::now() - begin < std::chrono::seconds(60); ++rounds) {
        ASSERT_TRUE(WriteBytes(tachoro.SettingsPath(), outdated));
        std::filesystem::remove(backup);
        std::thread other([&] { tachoro.Run({"-avsinfo"}); });
        tachoro.Run({"-avsinfo"});
        other.join();
        ASSERT_EQ(ReadBytes(backup), outdated) << "round " << rounds;
        ASSERT_EQ(tachoro.SettingsText(), DefaultSettingsFileText("2.1.3")) << "round " << rounds;
    }
    std::cout << rounds << " rounds\n";
    EXPECT_GE(rounds, 20);
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(backup).parent_path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

// The settings file is replaced whole; a link to it (settings kept with the
// user's other dotfiles) is written through and stays a link; the backup is
// Tachoro's own file and replaces whatever is at its name; an empty file
// holds no values to keep.
TEST(Startup, TheSettingsFileIsWrittenThroughALinkTheBackupIsOurOwn) {
    const std::string outdated = "Version=1.0.0\r\nCreateLog=1\r\n";
    const std::string defaults = DefaultSettingsFileText("2.1.3");
    const struct {
        const char* what;
        std::function<void(TachoroRun&, std::optional<SymbolicLink>& link)> prepare;
        std::function<void(TachoroRun&, const ProcessResult&)> check;
    } cases[] = {
        {"the settings file a link to a file elsewhere",
         [&](TachoroRun& t, std::optional<SymbolicLink>& link) {
             std::filesystem::create_directory(t.Path("dotfiles"));
             WriteBytes(t.Path("dotfiles/Tachoro.ini"), outdated);
             std::filesystem::remove(t.SettingsPath());
             link.emplace(t.Path("dotfiles/Tachoro.ini"), t.SettingsPath());
         },
         [&](TachoroRun& t, const ProcessResult&) {
             EXPECT_EQ(ReadBytes(t.Path("dotfiles/Tachoro.ini")), defaults);
             EXPECT_EQ(t.SettingsText(), defaults);
             EXPECT_EQ(ReadBytes(t.SettingsPath() + ".bak"), outdated);
             EXPECT_TRUE(kOnWindows || std::filesystem::is_symlink(t.SettingsPath()));
         }},
        {"the backup's name a link to another file",
         [&](TachoroRun& t, std::optional<SymbolicLink>& link) {
             WriteBytes(t.Path("precious.txt"), "precious");
             WriteBytes(t.SettingsPath(), outdated);
             link.emplace(t.Path("precious.txt"), t.SettingsPath() + ".bak");
         },
         [&](TachoroRun& t, const ProcessResult&) {
             EXPECT_EQ(ReadBytes(t.Path("precious.txt")), "precious");
             EXPECT_EQ(ReadBytes(t.SettingsPath() + ".bak"), outdated);
         }},
        {"an empty settings file",
         [&](TachoroRun& t, std::optional<SymbolicLink>&) {
             WriteBytes(t.SettingsPath() + ".bak", outdated);
             WriteBytes(t.SettingsPath(), "");
         },
         [&](TachoroRun& t, const ProcessResult& result) {
             EXPECT_EQ(ReadBytes(t.SettingsPath() + ".bak"), outdated);
             EXPECT_EQ(t.SettingsText(), defaults);
             EXPECT_EQ(result.Err.find("Outdated settings file replaced"), std::string::npos);
         }},
        {"a folder at the backup's name",
         [&](TachoroRun& t, std::optional<SymbolicLink>&) {
             std::filesystem::create_directory(t.SettingsPath() + ".bak");
             WriteBytes(t.SettingsPath(), outdated);
         },
         [&](TachoroRun& t, const ProcessResult& result) {
             const std::string refusal = "\nCannot create \"" + t.SettingsPath() + ".bak\"\n";
             EXPECT_EQ(result.Out.rfind(refusal, 0), 0u) << result.Out;
             EXPECT_GT(result.Out.size(), refusal.size() + 1) << "no reason given";
             EXPECT_EQ(t.SettingsText(), outdated);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TachoroRun tachoro;
        tachoro.WriteSettings();
        std::optional<SymbolicLink> link;
        c.prepare(tachoro, link);
        if (link && !link->Made()) {
            std::cout << "skipped (no symbolic links here): " << c.what << "\n";
            continue;
        }
        const ProcessResult result = tachoro.Run({"-avsinfo"});
        c.check(tachoro, result);
    }
#if !defined(_WIN32)
    // A private settings file stays private, and so does its copy.
    TachoroRun tachoro;
    tachoro.WriteSettings();
    WriteBytes(tachoro.SettingsPath(), outdated);
    chmod(tachoro.SettingsPath().c_str(), 0600);
    tachoro.Run({"-avsinfo"});
    for (const std::string& file : {tachoro.SettingsPath(), tachoro.SettingsPath() + ".bak"}) {
        struct stat info {};
        stat(file.c_str(), &info);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
    }
#endif
}

// A settings file as an editor saves it (UTF-16 with its mark) is read, and
// kept.
TEST(Startup, ReadsASettingsFileSavedAsUtf16) {
    TachoroRun tachoro;
    tachoro.WriteSettings();  // with AVSDLL: without it no frame server loads
    std::string utf16 = "\xFF\xFE";
    for (char c : tachoro.SettingsText()) utf16 += std::string{c, '\0'};
    WriteBytes(tachoro.SettingsPath(), utf16);
    ProcessResult result = tachoro.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Err, BannerWithVersion() + "\r" + Padded("") + "\n\n");
    EXPECT_EQ(tachoro.SettingsText(), utf16);
    EXPECT_FALSE(PathExists(tachoro.SettingsPath() + ".bak"));
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
    std::filesystem::create_directory(tachoro.Path("folder.avs"));
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
        {{"folder.avs"}, "\nFolder, not a file: \"folder.avs\"\n"},
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

// Files that are no regular text files, or far too large, are refused at
// once with one message: nothing waits on a pipe or reads a device that never
// ends.
TEST(Startup, RefusesSpecialAndHugeFiles) {
    enum Place { SettingsFile, Library, Script };
    const struct {
        const char* what;
        bool posixOnly;
        Place place;
        std::function<void(const std::string& path)> make;
    } cases[] = {
        {"a pipe as settings file", true, SettingsFile, [](const std::string& p) { MakePipe(p); }},
        {"a device as settings file", true, SettingsFile,
         [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); }},
        {"a huge settings file", false, SettingsFile,
         [](const std::string& p) { MakeSparseFile(p, 9u << 20); }},
        {"a pipe as AVSDLL", true, Library, [](const std::string& p) { MakePipe(p); }},
        {"a device as AVSDLL", true, Library,
         [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); }},
        {"a huge AVSDLL", false, Library, [](const std::string& p) { MakeSparseFile(p, 600u << 20); }},
        {"a pipe as script", true, Script, [](const std::string& p) { MakePipe(p); }},
        {"a device as script", true, Script,
         [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); }},
        {"a huge script", false, Script, [](const std::string& p) { MakeSparseFile(p, 9u << 20); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.posixOnly && kOnWindows) continue;
        TachoroRun tachoro;
        const std::string odd = tachoro.Path(c.place == Library ? "odd.so" : "odd.avs");
        c.make(odd);
        const bool special = std::string(c.what).find("huge") == std::string::npos;
        if (c.place == SettingsFile) {
            tachoro.WriteSettings();
            std::filesystem::remove(tachoro.SettingsPath());
            c.make(tachoro.SettingsPath());
        } else {
            tachoro.WriteSettings(c.place == Library ? std::vector<std::string>{"AVSDLL=" + NativePath(odd)}
                                                     : std::vector<std::string>{});
        }
        ProcessResult result = tachoro.Run({c.place == Script ? odd : "-avsinfo"}, {}, "", 20000);
        EXPECT_EXIT_CODE(result, -1);
        if (c.place == SettingsFile) {
            EXPECT_EQ(result.Out, "\nCannot open \"" + tachoro.SettingsPath() + "\"\n" +
                                      (special ? "It is not a regular file.\n" : "It is larger than 8 MB.\n"));
        } else if (c.place == Library) {
            EXPECT_EQ(result.Err, "\nTachoro 2.1.3 (x64)\n" + Status("Query Avisynth info...") +
                                      "Specified avisynth.dll " + (special ? "is not a regular file" : "is too large") +
                                      ":\n" + NativePath(odd) + "\n");
        } else {
            EXPECT_EQ(result.Err, BannerWithVersion() + (special ? "\nNot a regular file: \"" : "\nFile too large: \"") +
                                      odd + "\"\n");
        }
    }
}

// Clear messages where the system's limits or the environment stand in the
// way.
TEST(Startup, SaysWhatStandsInTheWay) {
    TachoroRun tachoro;
    tachoro.WriteSettings();

    // Neither HOME nor XDG_CONFIG_HOME: there is no place for the settings.
    if (!kOnWindows) {
        ProcessResult result = tachoro.Run({"-avsinfo"}, {{"HOME", ""}, {"XDG_CONFIG_HOME", ""}});
        EXPECT_EXIT_CODE(result, -1);
        EXPECT_EQ(result.Out, "\nCannot create the settings file: neither HOME nor XDG_CONFIG_HOME is set\n");
    }

    // A lock that cannot be taken for another reason than a running
    // instance: said once, and the run goes on.
    if (!kOnWindows) {
        tachoro.WriteSettings({"AllowOnlyOneInstance=1"});
        ProcessResult result = tachoro.Run({"-avsinfo"}, {{"XDG_RUNTIME_DIR", tachoro.Path("no such folder")}});
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_NE(result.Err.find(BannerWithVersion() +
                                  "\nSingle-instance lock not taken (No such file or directory); running without it\n"),
                  std::string::npos)
            << result.Err;
        tachoro.WriteSettings();
    }

    // A folder named as the library.
    TachoroRun folder;
    folder.WriteSettings({"AVSDLL=" + NativePath(folder.Path("avisynth.dll"))});
    std::filesystem::create_directory(folder.Path("avisynth.dll"));
    ProcessResult inFolder = folder.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(inFolder, -1);
    EXPECT_EQ(inFolder.Err, "\nTachoro 2.1.3 (x64)\n" + Status("Query Avisynth info...") +
                                "Specified avisynth.dll is a folder:\n" + NativePath(folder.Path("avisynth.dll")) + "\n");

    // A library that is no frame server at all.
    std::string library;
    ASSERT_TRUE(platform::ResolveLibraryFile(kOnWindows ? "version.dll" : "libm.so.6", library));
    TachoroRun other;
    other.WriteSettings({"AVSDLL=" + library});
    ProcessResult result = other.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err.rfind("\nTachoro 2.1.3 (x64)\n" + StatusShownAndCleared("Query Avisynth info...") +
                                   "\nThe library exports no frame-server interface:\n",
                               0),
              0u)
        << result.Err;

    // A script whose full path is longer than the system takes exists, but
    // cannot be named.
    const DeepScript deep(tachoro.Path("deep"));
    result = tachoro.Run({deep.Path});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, BannerWithVersion() + "\nPath too long: \"" + deep.Path + "\"\n");
}

}  // namespace
