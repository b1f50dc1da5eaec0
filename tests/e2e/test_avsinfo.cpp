// The frame-server check at start-up and the "-avsinfo" report.
#include <cctype>

#include "frameserver/ImageInspect.h"
#include "tests/e2e/Harness.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TestPlatform.h"

namespace {

std::string ReportStart() { return BannerWithVersion() + "\r" + Padded("") + "\n"; }

// The linker text of the test frame server, read from its image.
std::string TestFSLinkerText() {
    const std::string bytes = ReadBytes(NativePath(TESTFS_LIBRARY));
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const ImageFacts facts = kOnWindows ? InspectPEImage(data, bytes.size()) : InspectELFImage(data, bytes.size());
    return facts.LinkerVersion + CompilerLabel(facts.LinkerVersion);
}

bool IsTimeStamp(const std::string& text) {
    // "March 5, 2015, 14:03:09"
    static const char* const months[] = {"January", "Febuary", "March",     "April",   "May",      "June",
                                         "July",    "August",  "September", "October", "November", "December"};
    for (const char* month : months) {
        const std::string prefix = std::string(month) + " ";
        if (text.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = text.substr(prefix.size());
        size_t comma = rest.find(", ");
        if (comma == std::string::npos || comma == 0 || comma > 2) return false;
        const std::string tail = rest.substr(comma + 2);
        return tail.size() == 14 && tail[4] == ',' && tail[5] == ' ' && tail[8] == ':' && tail[11] == ':' &&
               std::isdigit(static_cast<unsigned char>(tail[0])) && std::isdigit(static_cast<unsigned char>(tail[13]));
    }
    return false;
}

TEST_BOTH_INTERFACES(AvsInfo, ReportsTheTestFrameServer) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    ProcessResult result = tachoro.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Err, ReportStart() + "\n");

    std::vector<std::string> lines;
    std::istringstream stream(result.Out);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 7u) << result.Out;
    EXPECT_EQ(lines[0], "Avisynth version string:     TestFS 1.0 test frame server");
    EXPECT_EQ(lines[1], "File version:                0.0.0.0");
    EXPECT_EQ(lines[2], "Avisynth Interface Version:  7");
    EXPECT_EQ(lines[3], "Muli-threading support:      Yes");
    EXPECT_EQ(lines[4], "Linker/compiler version:     " + TestFSLinkerText());
    const std::string locationLabel = "Avisynth DLL location:       ";
    ASSERT_EQ(lines[5].compare(0, locationLabel.size(), locationLabel), 0) << lines[5];
    const std::string location = lines[5].substr(locationLabel.size());
    if (!kOnWindows) {
        EXPECT_EQ(location, std::filesystem::canonical(TESTFS_LIBRARY).string());
    }
    const std::string stampLabel = "Avisynth DLL time stamp:     ";
    ASSERT_EQ(lines[6].compare(0, stampLabel.size(), stampLabel), 0);
    EXPECT_TRUE(IsTimeStamp(lines[6].substr(stampLabel.size()))) << lines[6];
    EXPECT_EQ(result.Out.back(), '\n');
}

TEST_BOTH_INTERFACES(AvsInfo, FollowsTheInterfaceAndFunctionsOfTheLibrary) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    for (const char* version : {"5", "6"}) {
        ProcessResult result = tachoro.Run({"-avsinfo"}, {{"TESTFS_MAX_INTERFACE", version}});
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_NE(result.Out.find(std::string("Avisynth Interface Version:  ") + version + "\n"), std::string::npos)
            << version;
    }
    ProcessResult withoutMT = tachoro.Run({"-avsinfo"}, {{"TESTFS_FUNCTIONS", "VersionString"}});
    EXPECT_NE(withoutMT.Out.find("Muli-threading support:      No\n"), std::string::npos);
    ProcessResult setMT = tachoro.Run({"-avsinfo"}, {{"TESTFS_FUNCTIONS", "VersionString,SetMTMode"}});
    EXPECT_NE(setMT.Out.find("Muli-threading support:      Yes\n"), std::string::npos);

    // Without "VersionString" the version is unknown, and the run goes on.
    ProcessResult unknown = tachoro.Run({"-avsinfo"}, {{"TESTFS_FUNCTIONS", "Prefetch"}});
    EXPECT_EXIT_CODE(unknown, 0);
    EXPECT_EQ(unknown.Err, BannerWithVersion("Unknown Avisynth Version") + "\r" + Padded("") + "\n\n");
    EXPECT_NE(unknown.Out.find("Avisynth version string:     Unknown Avisynth Version\n"), std::string::npos);

    // A version text naming the ICL 10 build replaces the linker text.
    ProcessResult icl = tachoro.Run({"-avsinfo"}, {{"TESTFS_VERSION_STRING", "AviSynth 2.60 (ICL10)"}});
    EXPECT_NE(icl.Out.find("Linker/compiler version:     6.0 (ICL 10.1)\n"), std::string::npos);
}

TEST_BOTH_INTERFACES(AvsInfo, ListsThePluginDirectoriesThatExist) {
    if (kOnWindows) GTEST_SKIP() << "Windows reads the plug-in directories from the registry";
    TachoroRun tachoro;
    tachoro.WriteSettings();
    std::filesystem::create_directories(tachoro.Path("home/.avisynth"));
    ProcessResult result = tachoro.Run({"-avsinfo"}, {{"HOME", tachoro.Path("home")}});
    EXPECT_EXIT_CODE(result, 0);
    const std::string expected = "PluginDir     (user):   " + tachoro.Path("home/.avisynth") + "\n";
    EXPECT_EQ(result.Out.substr(result.Out.size() - expected.size()), expected);
    EXPECT_EQ(result.Out.find("(user, local)"), std::string::npos);
}

struct StartupRefusal {
    const char* name;
    std::string message;
};

TEST_BOTH_INTERFACES(AvsInfo, UnusableLibrariesAreRefusedAtStartup) {
    TachoroRun tachoro;
    const std::string missing = tachoro.Path("nowhere/avisynth.dll");
    tachoro.WriteSettings({"AVSDLL=" + missing});
    ProcessResult result = tachoro.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, "\nTachoro 2.1.3 (x64)\n" + Status("Query Avisynth info...") +
                              "Specified avisynth.dll does not exist:\n" + missing + "\n");

    const std::string thirtyTwo = tachoro.Path("avisynth32.dll");
    const std::vector<uint8_t> image32 = testimage::BuildNativeImage(false, true);
    WriteBytes(thirtyTwo, std::string(image32.begin(), image32.end()));
    tachoro.WriteSettings({"AVSDLL=" + thirtyTwo});
    result = tachoro.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, "\nTachoro 2.1.3 (x64)\n" + StatusShownAndCleared("Query Avisynth info...") +
                              "\nTachoro (x64) cannot load a 32 Bit avisynth.dll.\n");

    const std::string old = tachoro.Path("avisynth25.dll");
    const std::vector<uint8_t> image25 = testimage::BuildNativeImage(true, false);
    WriteBytes(old, std::string(image25.begin(), image25.end()));
    tachoro.WriteSettings({"AVSDLL=" + old});
    result = tachoro.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, "\nTachoro 2.1.3 (x64)\n" + StatusShownAndCleared("Query Avisynth info...") +
                              "\nAvisynth version is too old (0.0.0.0).\nPlease update to Avisynth 2.6 or Avisynth+.\n");

    // A library that creates no environment for interface 5.
    tachoro.WriteSettings();
    result = tachoro.Run({"-avsinfo"}, {{"TESTFS_MAX_INTERFACE", "4"}});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, "\nTachoro 2.1.3 (x64)\n" + StatusShownAndCleared("Query Avisynth info...") +
                              "\nCould not create IScriptenvironment (AVISYNTH_INTERFACE_VERSION = 5)\n");
}

TEST_BOTH_INTERFACES(AvsInfo, NoFrameServerInstalled) {
    TachoroRun tachoro;
    tachoro.WriteSettings({}, false);
    ProcessResult result = tachoro.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(result, -1);
    const std::string start = "\nTachoro 2.1.3 (x64)\n" + StatusShownAndCleared("Query Avisynth info...") +
                              "\nCannot load avisynth.dll\n";
    ASSERT_EQ(result.Err.compare(0, start.size(), start), 0) << result.Err;
    EXPECT_GT(result.Err.size(), start.size() + 1);  // the system's reason follows
}

}  // namespace
