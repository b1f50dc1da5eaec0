#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "frameserver/AvisynthInfo.h"
#include "report/FrameServerReport.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/ScratchDir.h"
#include "tests/unit/TestFSSession.h"
#include "tests/support/TestPlatform.h"

namespace {

const char* const kMonths[] = {"January", "Febuary", "March",     "April",   "May",      "June",
                               "July",    "August",  "September", "October", "November", "December"};

// "Month d, yyyy, hh:mm:ss" with a known month name and a one- or two-digit day.
bool IsTimeStamp(const std::string& text) {
    const size_t space = text.find(' ');
    if (space == std::string::npos) return false;
    if (std::find(std::begin(kMonths), std::end(kMonths), text.substr(0, space)) == std::end(kMonths)) return false;
    std::string shape = text.substr(space + 1);
    for (char& c : shape)
        if (c >= '0' && c <= '9') c = '9';
    return shape == "9, 9999, 99:99:99" || shape == "99, 9999, 99:99:99";
}

std::string Identity(const std::string& text) { return text; }

// The value of `key` in a counters line of the test frame server; -1 when absent.
long long CounterValue(const std::string& line, const std::string& key) {
    std::istringstream items(line);
    std::string item;
    while (items >> item)
        if (item.compare(0, key.size() + 1, key + "=") == 0) return std::stoll(item.substr(key.size() + 1));
    return -1;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

struct QueryResult {
    int Result = 0;
    std::string ErrorText;
    FrameServerFacts Info;
};

QueryResult RunQuery(const std::string& library) {
    QueryResult run;
    run.Result = QueryFrameServer(run.Info, run.ErrorText, library);
    return run;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

const char* const kSyntheticName = kOnWindows ? "avisynth.dll" : "libavisynth.so.2.5.8";

const char kLoadPrefix[] = "Cannot load avisynth.dll\n";

// A synthetic library with the exports of both interfaces, every function
// the same code: what the program calls is its interface's factory.
testimage::PEOptions BothInterfaces() {
    testimage::PEOptions options;
    for (const char* name :
         {"avs_create_script_environment", "avs_delete_script_environment", "avs_get_error", "avs_check_version",
          "avs_function_exists", "avs_invoke", "avs_release_value", "avs_take_clip", "avs_release_clip",
          "avs_get_video_info", "avs_get_frame", "avs_release_video_frame", "avs_clip_get_error"})
        options.ExportNames.push_back(name);
    // The loader looks names up by binary search.
    std::sort(options.ExportNames.begin(), options.ExportNames.end());
    return options;
}

}  // namespace

// ----------------------------------------------------------- pure texts

TEST(AvisynthInfoText, TimeStamps) {
    EXPECT_EQ(FormatFileTimeStamp(2015, 3, 5, 14, 3, 9), "March 5, 2015, 14:03:09");
    EXPECT_EQ(FormatFileTimeStamp(1999, 12, 31, 23, 59, 59), "December 31, 1999, 23:59:59");
    EXPECT_EQ(FormatFileTimeStamp(2000, 0, 1, 1, 2, 3), "??? 1, 2000, 01:02:03");
    EXPECT_EQ(FormatFileTimeStamp(2000, 13, 1, 1, 2, 3), "??? 1, 2000, 01:02:03");
    for (unsigned month = 1; month <= 12; ++month)
        EXPECT_EQ(FormatFileTimeStamp(2020, month, 10, 10, 10, 10), std::string(kMonths[month - 1]) + " 10, 2020, 10:10:10");
    EXPECT_FALSE(IsTimeStamp(FormatFileTimeStamp(2015, 0, 5, 14, 3, 9)));

    ScratchDir scratch;
    ASSERT_TRUE(scratch.Valid());
    const std::string path = scratch.Path("file.bin");
    ASSERT_TRUE(WriteBytes(path, "x"));
    EXPECT_TRUE(IsTimeStamp(FileTimeStamp(path))) << FileTimeStamp(path);
    EXPECT_EQ(FileTimeStamp(scratch.Path("missing.bin")), "???");
    EXPECT_EQ(FileTimeStamp(""), "???");
}

TEST(AvisynthInfoText, PluginDirectoryLineLayout) {
    const std::string entry = "PluginDir+    (HKLM, x64):\tC:\\Program Files (x86)\\AviSynth+\\plugins64+";
    EXPECT_EQ(PluginDirDisplayLine(entry, "   "),
              "PluginDir+    (HKLM, x64):   C:\\Program Files (x86)\\AviSynth+\\plugins64+");
    EXPECT_EQ(PluginDirDisplayLine(entry, std::string(13, ' ')),
              "PluginDir+    (HKLM, x64):             C:\\Program Files (x86)\\AviSynth+\\plugins64+");
    // Only the first colon-tab is the separator; a tab later in the path stays.
    EXPECT_EQ(PluginDirDisplayLine("PluginDir     (user):\t/a:\tb", "   "), "PluginDir     (user):   /a:\tb");
    EXPECT_EQ(PluginDirDisplayLine("no separator: here", "   "), "no separator: here");
}

TEST(AvisynthInfoText, ReportLinesAndWhatIsConverted) {
    FrameServerFacts info;
    info.FrameServerVersion = "AviSynth+ 3.7.3 (r4003, 3.7, x86_64) 100%";
    info.FileVersion = "3.7.3.0";
    info.InterfaceVersion = 7;
    info.MTSupport = 1;
    info.LinkerVersion = "14.0 (VS2015)";
    info.DLLLocation = "C:\\Windows\\system32\\avisynth.dll";
    info.TimeStamp = "March 5, 2015, 14:03:09";
    info.PluginDirLines = {"PluginDir+    (HKCU, x86):\tC:\\plugins32", "PluginDir+    (HKLM, x64):\tC:\\plugins64+",
                           "PluginDir2_5  (HKLM, x64):\tC:\\plugins64"};

    auto mark = [](const std::string& text) { return "<" + text + ">"; };
    const std::vector<std::string> expected = {
        "Avisynth version string:     AviSynth+ 3.7.3 (r4003, 3.7, x86_64) 100%",
        "File version:                3.7.3.0",
        "Avisynth Interface Version:  7",
        "Muli-threading support:      Yes",
        "Linker/compiler version:     14.0 (VS2015)",
        "Avisynth DLL location:       <C:\\Windows\\system32\\avisynth.dll>",
        "Avisynth DLL time stamp:     March 5, 2015, 14:03:09",
        "<PluginDir+    (HKCU, x86):   C:\\plugins32>",
        "<PluginDir+    (HKLM, x64):   C:\\plugins64+>",
        "<PluginDir2_5  (HKLM, x64):   C:\\plugins64>",
    };
    EXPECT_EQ(AvisynthReportLines(info, mark), expected);

    info.MTSupport = 0;
    info.InterfaceVersion = 5;
    info.PluginDirLines.clear();
    const std::vector<std::string> lines = AvisynthReportLines(info, Identity);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], "Avisynth Interface Version:  5");
    EXPECT_EQ(lines[3], "Muli-threading support:      No");

    // A plug-in the frame server could not load: its message on one line,
    // after the folders, converted like them.
    info.PluginLoadFailure = "Cannot load file 'C:/p/old.dll'. Platform returned code 193:\n%1 is not a valid Win32 "
                             "application.\r\n";
    EXPECT_EQ(AvisynthReportLines(info, mark).back(),
              "<Plug-in auto-load failed:    Cannot load file 'C:/p/old.dll'. Platform returned code 193: %1 is not a "
              "valid Win32 application.>");
}

// -------------------------------------------- query without a frame server

// Cases whose outcome depends on the system's loader.
enum class Only { Both, Windows, Posix };

TEST(AvisynthInfoQuery, UnusableLibrariesAreRefusedWithTheirReason) {
    struct Case {
        const char* what;
        std::function<std::vector<uint8_t>()> image;  // null: no file at all
        int notFound;
        int is64Bit;
        std::string error;  // exact, or a prefix when it ends in "\n"
        bool probed;        // got as far as loading the library
        Only only = Only::Both;
    };
    const Case cases[] = {
        {"missing file", nullptr, 1, 0, "Cannot load avisynth.dll", false},
        // The system would refuse to map it, so it is not called 32-bit.
        {"not an image", [] { return std::vector<uint8_t>(4096, 'Z'); }, 1, 0, kLoadPrefix, false},
        {"32-bit", [] { return testimage::BuildNativeImage(false, true); }, 0, 0, "Cannot load avisynth.dll", false},
        {"damaged export table",
         [] {
             if (kOnWindows) {
                 testimage::PELayout layout;
                 std::vector<uint8_t> image = testimage::BuildPE(testimage::PEOptions(), &layout);
                 testimage::Poke32(image, layout.ExportDirectory + 24, 0xFFFFFFFF);
                 return image;
             }
             testimage::ELFLayout layout;
             std::vector<uint8_t> image = testimage::BuildELF(testimage::ELFOptions(), &layout);
             testimage::Poke64(image, layout.SectionTable + 64 * layout.DynSymIndex + 24, 1ull << 40);
             return image;
         },
         0, 1, kLoadPrefix, false},
        // Windows: the loader takes the image; its factory (of either
        // interface) returns null.
        {"factory fails", [] { return testimage::BuildPE(BothInterfaces()); }, 0, 1,
         "Could not create IScriptenvironment (AVISYNTH_INTERFACE_VERSION = 5)", true, Only::Windows},
        {"fault inside the library",
         [] {
             testimage::PEOptions options = BothInterfaces();
             options.FunctionCode = testimage::PEOptions::Code::Fault;
             return testimage::BuildPE(options);
         },
         0, 1, "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION", true, Only::Windows},
        // Elsewhere, without program headers the loader refuses it, and says why.
        {"loader refuses", [] { return testimage::BuildNativeImage(true, true); }, 0, 1, kLoadPrefix, true,
         Only::Posix},
    };
    for (const Case& c : cases) {
        if (c.only == (kOnWindows ? Only::Posix : Only::Windows)) continue;
        ScratchDir scratch;
        const std::string path = scratch.Path(kSyntheticName);
        if (c.image) {
            ASSERT_TRUE(testimage::WriteFileBytes(path, c.image())) << c.what;
        }
        QueryResult run = RunQuery(path);
        EXPECT_EQ(run.Result, 0) << c.what;
        EXPECT_EQ(run.Info.DLLNotFound, c.notFound) << c.what;
        EXPECT_EQ(run.Info.Is64Bit, c.is64Bit) << c.what;
        EXPECT_EQ(run.Info.InterfaceVersion, 0) << c.what;
        if (c.error.back() == '\n') {
            EXPECT_TRUE(StartsWith(run.ErrorText, c.error) && run.ErrorText.size() > c.error.size())
                << c.what << ": " << run.ErrorText;
        } else if (c.image) {
            EXPECT_EQ(run.ErrorText, c.error) << c.what;
        } else {
            EXPECT_TRUE(StartsWith(run.ErrorText, c.error)) << c.what << ": " << run.ErrorText;
        }
        // The time stamp is only read once the image has passed its checks.
        EXPECT_EQ(IsTimeStamp(run.Info.TimeStamp), c.probed) << c.what;
    }

    // The process runs on normally after whatever happened above.
    QueryResult next = RunQuery(TESTFS_LIBRARY);
    EXPECT_EQ(next.Result, 1) << next.ErrorText;
}

TEST(AvisynthInfoQuery, LibraryWithoutLinkageExportIsTooOld) {
    ScratchDir scratch;
    const std::string path = scratch.Path(kSyntheticName);
    ASSERT_TRUE(testimage::WriteFileBytes(path, testimage::BuildNativeImage(true, false)));
    QueryResult run = RunQuery(path);
    EXPECT_EQ(run.Result, 0);
    EXPECT_EQ(run.Info.DLLNotFound, 0);
    EXPECT_EQ(run.Info.Is64Bit, 1);
    if (kOnWindows) {
        EXPECT_EQ(run.Info.FileVersion, "0.0.0.0");
        EXPECT_EQ(run.Info.LinkerVersion, "14.0 (VS2015)");
    } else {
        EXPECT_EQ(run.Info.FileVersion, "2.5.8.0");
        EXPECT_EQ(run.Info.LinkerVersion, "GCC: (test) 1.0");
        EXPECT_EQ(run.Info.DLLLocation, std::filesystem::canonical(path).string());
    }
    EXPECT_EQ(run.ErrorText, "Avisynth version is too old (" + run.Info.FileVersion +
                                 ").\nPlease update to Avisynth 2.6 or Avisynth+.");
    EXPECT_EQ(run.Info.TimeStamp, "");
    EXPECT_EQ(run.Info.InterfaceVersion, 0);
    EXPECT_EQ(run.Info.MTSupport, 0);
}

// ----------------------------------------------- query of the test server

TEST(AvisynthInfoTestFS, DefaultsAndCleanTeardown) {
    ScratchDir scratch;
    const std::string countersFile = scratch.Path("counters.txt");
    ScopedVariable counters("TESTFS_COUNTERS_FILE", countersFile.c_str());
    ScopedVariable maxInterface("TESTFS_MAX_INTERFACE", nullptr);
    ScopedVariable functions("TESTFS_FUNCTIONS", nullptr);
    ScopedVariable version("TESTFS_VERSION_STRING", nullptr);
    QueryResult run = RunQuery(TESTFS_LIBRARY);
    ASSERT_EQ(run.Result, 1) << run.ErrorText;
    EXPECT_EQ(run.ErrorText, "");
    EXPECT_EQ(run.Info.FrameServerVersion, "TestFS 1.0 test frame server");
    EXPECT_EQ(run.Info.InterfaceVersion, 7);
    EXPECT_EQ(run.Info.MTSupport, 1);
    EXPECT_EQ(run.Info.Is64Bit, 1);
    EXPECT_EQ(run.Info.DLLNotFound, 0);
    EXPECT_EQ(run.Info.FileVersion, "0.0.0.0");
    EXPECT_FALSE(run.Info.LinkerVersion.empty());
    EXPECT_TRUE(IsTimeStamp(run.Info.TimeStamp)) << run.Info.TimeStamp;
    if (kOnWindows) {
        ASSERT_GE(run.Info.DLLLocation.size(), 3u);
        EXPECT_EQ(run.Info.DLLLocation[1], ':') << run.Info.DLLLocation;
        EXPECT_EQ(run.Info.DLLLocation.substr(run.Info.DLLLocation.size() - 10), "testfs.dll");
    } else {
        EXPECT_EQ(run.Info.DLLLocation, std::filesystem::canonical(TESTFS_LIBRARY).string());
    }

    // Two loads (probe, version text), each deleting its one environment and
    // leaving nothing of the server's alive.
    const std::vector<std::string> loads = Lines(ReadBytes(countersFile));
    ASSERT_EQ(loads.size(), 2u) << ReadBytes(countersFile);
    for (const std::string& load : loads) {
        EXPECT_EQ(CounterValue(load, "environments_created"), 1) << load;
        EXPECT_EQ(CounterValue(load, "environments_deleted"), 1) << load;
        EXPECT_EQ(CounterValue(load, "values_alive"), 0) << load;
        EXPECT_EQ(CounterValue(load, "handle_ops_after_delete"), 0) << load;
    }
    EXPECT_EQ(CounterValue(loads[0], "invoke_calls"), 0) << "the probe constructs no values";
    // "VersionString", then "InternalFunctionExists" for "SetMTMode",
    // "Prefetch" and "ListAutoloadDirs" (which the test frame server lacks).
    EXPECT_EQ(CounterValue(loads[1], "invoke_calls"), 4);
}

TEST(AvisynthInfoTestFS, InterfaceVersionIsTheHighestAccepted) {
    for (const char* highest : {"5", "6", "7", "9"}) {
        ScopedVariable maxInterface("TESTFS_MAX_INTERFACE", highest);
        QueryResult run = RunQuery(TESTFS_LIBRARY);
        EXPECT_EQ(run.Result, 1) << highest << ": " << run.ErrorText;
        EXPECT_EQ(run.Info.InterfaceVersion, std::min(std::stoi(highest), 7)) << highest;
    }

    ScratchDir scratch;
    const std::string countersFile = scratch.Path("counters.txt");
    ScopedVariable counters("TESTFS_COUNTERS_FILE", countersFile.c_str());
    ScopedVariable maxInterface("TESTFS_MAX_INTERFACE", "4");
    QueryResult run = RunQuery(TESTFS_LIBRARY);
    EXPECT_EQ(run.Result, 0);
    EXPECT_EQ(run.Info.InterfaceVersion, 0);
    EXPECT_EQ(run.ErrorText, "Could not create IScriptenvironment (AVISYNTH_INTERFACE_VERSION = 5)");
    // The probe unloaded the library and no second load followed.
    EXPECT_EQ(Lines(ReadBytes(countersFile)).size(), 1u);
}

TEST(AvisynthInfoTestFS, VersionTextAndMultiThreadingFollowTheServer) {
    const std::string plain = "AviSynth 2.60, build:Mar 31 2015 [16:38:54] 100% %s %n";
    const std::string intel = "AviSynth 2.60, build:Mar 31 2015 [16:38:54] (ICL10)";
    struct Case {
        const char* functions;  // (an empty value would remove the variable on Windows)
        std::string version;
        std::string expectedVersion;
        int mt;
    };
    const Case cases[] = {
        {"VersionString", plain, plain, 0},
        {"VersionString,SetMTMode", plain, plain, 1},
        {"VersionString,Prefetch", intel, intel, 1},
        {"SetMTMode,Prefetch", plain, "Unknown Avisynth Version", 1},
        {"GetMTMode,Distributor", plain, "Unknown Avisynth Version", 0},
    };
    for (const Case& c : cases) {
        ScopedVariable functions("TESTFS_FUNCTIONS", c.functions);
        ScopedVariable version("TESTFS_VERSION_STRING", c.version.c_str());
        QueryResult run = RunQuery(TESTFS_LIBRARY);
        EXPECT_EQ(run.Result, 1) << c.functions << ": " << run.ErrorText;
        EXPECT_EQ(run.Info.FrameServerVersion, c.expectedVersion) << c.functions;
        EXPECT_EQ(run.Info.MTSupport, c.mt) << c.functions;
        EXPECT_EQ(run.Info.LinkerVersion == "6.0 (ICL 10.1)", c.expectedVersion == intel) << c.functions;
    }
}

// Without a list of the frame server's own (the test frame server has none),
// the folders AviSynth+ forms on POSIX, in its order, those that exist, each
// once.
TEST(AvisynthInfoTestFS, PluginFoldersInTheFrameServersOrder) {
    if (kOnWindows) GTEST_SKIP() << "Windows reads the plug-in directories from the registry";
    ScratchDir scratch;
    const std::string home = scratch.Path("home");
    for (const char* folder : {"home/.avisynth", "home/.local/lib/avisynth", "one/avisynth", "two/avisynth"})
        std::filesystem::create_directories(scratch.Path(folder));
    ScopedVariable homeVariable("HOME", home.c_str());
    const std::string searchPath =
        scratch.Path("one") + "::" + scratch.Path("missing") + ":" + scratch.Path("two") + ":" + scratch.Path("one");
    ScopedVariable searchVariable("LD_LIBRARY_PATH", searchPath.c_str());
    QueryResult run = RunQuery(TESTFS_LIBRARY);
    ASSERT_EQ(run.Result, 1) << run.ErrorText;
    const std::vector<std::string> expected = {
        "PluginDir     (user):\t" + home + "/.avisynth",
        "PluginDir     (user, local):\t" + home + "/.local/lib/avisynth",
        "PluginDir     (LD_LIBRARY_PATH):\t" + scratch.Path("one") + "/avisynth",
        "PluginDir     (LD_LIBRARY_PATH):\t" + scratch.Path("two") + "/avisynth",
    };
    EXPECT_EQ(run.Info.PluginDirLines, expected);
    const std::vector<std::string> lines = AvisynthReportLines(run.Info, Identity);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[7], "PluginDir     (user):   " + home + "/.avisynth");
}

// The frame server's own list: the folders that exist, in its order, each
// once, labelled by the place that names them or as another.
TEST(AvisynthInfoText, PluginFoldersTheFrameServerNames) {
    ScratchDir scratch;
    for (const char* folder : {"home/.avisynth", "elsewhere", "second"})
        std::filesystem::create_directories(scratch.Path(folder));
    ScopedVariable homeVariable("HOME", scratch.Path("home").c_str());
    FrameServerFacts info;
    info.Is64Bit = true;
    info.PluginDirLines = {"stale"};
    ReadPluginDirs(info, std::vector<std::string>{scratch.Path("elsewhere") + "/", scratch.Path("missing") + "/",
                                                 scratch.Path("home/.avisynth") + "/", scratch.Path("second"),
                                                 scratch.Path("elsewhere/../elsewhere/")});
    // In the system's spelling: Windows paths with backslashes only.
    auto other = [](std::string path) {
        if (kOnWindows) std::replace(path.begin(), path.end(), '/', '\\');
        return "PluginDir     (other):\t" + path;
    };
    std::vector<std::string> expected = {other(scratch.Path("elsewhere")),
                                         "PluginDir     (user):\t" + scratch.Path("home/.avisynth"),
                                         other(scratch.Path("second"))};
    if (kOnWindows) expected[1] = other(scratch.Path("home/.avisynth"));  // HOME names none there
    EXPECT_EQ(info.PluginDirLines, expected);
    ReadPluginDirs(info, std::vector<std::string>{});
    EXPECT_TRUE(info.PluginDirLines.empty());
}
