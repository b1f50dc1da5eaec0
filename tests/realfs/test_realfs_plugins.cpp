// The frame server's plug-in auto-load folders: every one listed in its
// order, and a file in them that cannot be loaded fails no run of a script
// that needs no plug-in (Tachoro's own checks make the frame server load
// none); "-avsinfo" has it load them and says what failed.
#include <algorithm>
#include <filesystem>

#include "report/FrameServerReport.h"
#include "tests/realfs/RealFS.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TestPlatform.h"

namespace {

// Two auto-load folders of the frame server, made in the run's directory.
// Linux: ~/.avisynth and "avisynth" in the second entry of LD_LIBRARY_PATH. Windows:
// the build made with GCC reads only "PluginDir+GCC" from the registry; its
// other entries, and those whose value is missing, stay names relative to
// the working folder ("USER_PLUS_PLUGINS", "USER_CLASSIC_PLUGINS").
struct AutoLoadFolders {
    explicit AutoLoadFolders(const RealRun& tachoro) {
        if (kOnWindows) {
            First = tachoro.Path("USER_PLUS_PLUGINS");
            Second = tachoro.Path("USER_CLASSIC_PLUGINS");
            std::string shown[2] = {First, Second};
            for (std::string& path : shown) std::replace(path.begin(), path.end(), '/', '\\');
            Entries = {"PluginDir     (other):\t" + shown[0], "PluginDir     (other):\t" + shown[1]};
        } else {
            // And an empty folder between them.
            First = tachoro.Path("home/.avisynth");
            Second = tachoro.Path("two/avisynth");
            std::filesystem::create_directories(tachoro.Path("one/avisynth"));
            Environment = {{"HOME", tachoro.Path("home")},
                           {"LD_LIBRARY_PATH", tachoro.Path("one") + ":" + tachoro.Path("two")}};
            Entries = {"PluginDir     (user):\t" + First,
                       "PluginDir     (LD_LIBRARY_PATH):\t" + tachoro.Path("one/avisynth"),
                       "PluginDir     (LD_LIBRARY_PATH):\t" + Second};
        }
        std::filesystem::create_directories(First);
        std::filesystem::create_directories(Second);
        for (const std::string& entry : Entries) Lines.push_back(PluginDirDisplayLine(entry, "   "));
    }
    std::string First, Second;
    std::vector<std::pair<std::string, std::string>> Environment;
    std::vector<std::string> Entries;  // label, tab, folder
    std::vector<std::string> Lines;    // as "-avsinfo" shows them
};

const char* const kPluginExtension = kOnWindows ? ".dll" : ".so";

// The "-avsinfo" lines after the time stamp's.
std::vector<std::string> LinesAfterTheTimeStamp(const std::string& out) {
    std::vector<std::string> lines = ScreenLines(out);
    const auto stamp = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("Avisynth DLL time stamp:", 0) == 0;
    });
    if (stamp == lines.end()) return {};
    std::vector<std::string> after(stamp + 1, lines.end());
    while (!after.empty() && after.back().empty()) after.pop_back();
    return after;
}

struct BrokenFile {
    const char* what;
    std::string bytes;
    std::string failure;  // the start of the failure's text; empty: the frame server skips the file
};

TEST(RealFS, AFileThatIsNoLoadablePlugInFailsNoRunOfAScriptThatNeedsNone) {
    const std::string plugin = ReadBytes(FAULT_PLUGIN);
    const std::vector<uint8_t> otherImage = kOnWindows ? testimage::BuildNativeImage(false, true)  // 32-bit
                                                       : testimage::BuildPE();
    std::vector<BrokenFile> cases = {
        {"a truncated copy of a plug-in", plugin.substr(0, 4000), kOnWindows ? "" : "Exception 0x"},
        {kOnWindows ? "a 32-bit plug-in" : "a library of another system", std::string(otherImage.begin(), otherImage.end()),
         kOnWindows ? "Cannot load a 32 bit DLL in 64 bit Avisynth: '" : "Cannot load file '"},
    };
    for (const BrokenFile& broken : cases) {
        SCOPED_TRACE(broken.what);
        RealRun tachoro;
        const AutoLoadFolders folders(tachoro);
        ASSERT_TRUE(WriteBytes(folders.First + "/broken" + kPluginExtension, broken.bytes));

        ProcessResult report = tachoro.Run({"-avsinfo"}, folders.Environment);
        EXPECT_EXIT_CODE(report, 0);
        std::vector<std::string> lines = LinesAfterTheTimeStamp(report.Out);
        const size_t count = folders.Lines.size();
        ASSERT_EQ(lines.size(), broken.failure.empty() ? count : count + 1) << report.Out;
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + count), folders.Lines);
        if (!broken.failure.empty()) {
            EXPECT_EQ(lines[count].rfind("Plug-in auto-load failed:    " + broken.failure, 0), 0u) << lines[count];
            // The frame server's message names the file; after a fault
            // Tachoro names the damaged one.
            EXPECT_NE(lines[count].find("broken"), std::string::npos) << lines[count];
        }

        // No plug-in is needed: the calibration, the main load and the
        // clip report run as the frame server itself would.
        const std::string script = tachoro.WriteScript(
            "clip.avs", "BlankClip(length=100, width=1280, height=720, pixel_type=\"YV12\").Blur(1.0)\n");
        ProcessResult measured = tachoro.Run({script, "-log"}, folders.Environment);
        EXPECT_EXIT_CODE(measured, 0);
        const std::vector<std::string> general =
            Section(CrLfLines(ReadBytes(tachoro.Path("clip.log"))), "[General info]");
        ASSERT_GE(general.size(), 2u);
        EXPECT_EQ(general.back(), PluginDirDisplayLine(folders.Entries.back(), std::string(13, ' ')));
        EXPECT_EXIT_CODE(tachoro.Run({script, "-info"}, folders.Environment), 0);
    }
}

// The second folder is one the frame server loads from: a script calls the
// test plug-in found there without loading it.
TEST(RealFS, EveryAutoLoadFolderIsListedInTheFrameServersOrder) {
    RealRun tachoro;
    const AutoLoadFolders folders(tachoro);
    ASSERT_TRUE(WriteBytes(folders.Second + "/FaultPlugin" + kPluginExtension, ReadBytes(FAULT_PLUGIN)));
    ProcessResult report = tachoro.Run({"-avsinfo"}, folders.Environment);
    EXPECT_EXIT_CODE(report, 0);
    EXPECT_EQ(LinesAfterTheTimeStamp(report.Out), folders.Lines) << report.Out;

    const std::string script = tachoro.WriteScript(
        "clip.avs", "BlankClip(length=300, width=320, height=240, pixel_type=\"YV12\").SlowFrames(2000)\n");
    ProcessResult measured = tachoro.Run({script}, folders.Environment);
    EXPECT_EXIT_CODE(measured, 0);
    EXPECT_EQ(ValueOf(ScreenLines(measured.Err), "Frames processed:"), "300 (0 - 299)") << measured.Err;
}

}  // namespace
