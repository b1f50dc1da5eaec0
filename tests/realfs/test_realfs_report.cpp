// The real frame server described, its clips reported, its script errors shown
// as it words them.
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "tests/realfs/RealFS.h"

namespace {

TEST(RealFS, AvsInfoDescribesTheLibrary) {
    RealRun tachoro;
    ProcessResult result = tachoro.Run({"-avsinfo"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Err, RealBanner() + "\r" + Padded("") + "\n\n");

    std::vector<std::string> lines = ScreenLines(result.Out);
    ASSERT_GE(lines.size(), 7u) << result.Out;
    EXPECT_EQ(lines[0].rfind("Avisynth version string:     AviSynth+ 3.7.5 (", 0), 0u) << lines[0];
#if defined(_WIN32)
    EXPECT_EQ(lines[1], "File version:                0.0.0.0");  // the MinGW build has no version resource
#else
    EXPECT_EQ(lines[1], "File version:                3.7.5.0");  // from the file name libavisynth.so.3.7.5
#endif
    // The library speaks a newer interface; Tachoro asks for no more than 7.
    EXPECT_EQ(lines[2], "Avisynth Interface Version:  7");
    EXPECT_EQ(lines[3], "Muli-threading support:      Yes");
    EXPECT_EQ(lines[4].rfind("Linker/compiler version:     ", 0), 0u) << lines[4];
    EXPECT_GT(lines[4].size(), std::string("Linker/compiler version:     ").size());
#if !defined(_WIN32)
    EXPECT_EQ(lines[5], "Avisynth DLL location:       " + std::filesystem::canonical(REAL_FRAMESERVER).string());
#else
    EXPECT_EQ(lines[5], "Avisynth DLL location:       " + NativePath(REAL_FRAMESERVER));
#endif
    EXPECT_EQ(lines[6].rfind("Avisynth DLL time stamp:     ", 0), 0u) << lines[6];
    EXPECT_EQ(lines[6].find("???"), std::string::npos) << lines[6];
}

std::string ClipLines(const std::string& rate, const std::string& colourSpace) {
    return "\nNumber of frames:                  250\nLength (hh:mm:ss.ms):     00:00:10.000"
           "\nFrame width:                       720\nFrame height:                      576"
           "\nFramerate:                 " +
           rate + "\nColorspace:                    " + colourSpace + "\n";
}

TEST(RealFS, InfoReportsEachFormat) {
    RealRun tachoro;
    const struct {
        const char* filters;
        const char* rate;
        const char* name;
    } cases[] = {
        {"pixel_type=\"YV12\")", "     25.000 (25/1)", "   YV12"},
        {"pixel_type=\"YUY2\")", "     25.000 (25/1)", "   YUY2"},
        {"pixel_type=\"RGB24\")", "     25.000 (25/1)", "  RGB24"},
        {"pixel_type=\"RGB32\")", "     25.000 (25/1)", "  RGB32"},
        {"pixel_type=\"Y8\")", "     25.000 (25/1)", "     Y8"},
        {"pixel_type=\"YV16\")", "     25.000 (25/1)", "   YV16"},
        {"pixel_type=\"YV24\")", "     25.000 (25/1)", "   YV24"},
        {"pixel_type=\"YV411\")", "     25.000 (25/1)", "  YV411"},
        {"pixel_type=\"YUY2\").AssumeFieldBased().AssumeTFF()", "     25.000 (25/1, TFF)", "   YUY2"},
        {"pixel_type=\"YUY2\").AssumeFieldBased().AssumeBFF()", "     25.000 (25/1, BFF)", "   YUY2"},
        // Formats no classic predicate knows: the frame server's own names.
        {"pixel_type=\"YUV420P10\")", "     25.000 (25/1)", "YUV420P10"},
        {"pixel_type=\"YUV444P16\")", "     25.000 (25/1)", "YUV444P16"},
        {"pixel_type=\"RGBP\")", "     25.000 (25/1)", "   RGBP"},
        {"pixel_type=\"RGBAP10\")", "     25.000 (25/1)", "RGBAP10"},
        {"pixel_type=\"YUVA420\")", "     25.000 (25/1)", "YUVA420"},
        {"pixel_type=\"Y16\")", "     25.000 (25/1)", "    Y16"},
        {"pixel_type=\"RGB48\")", "     25.000 (25/1)", "  RGB48"},
        {"pixel_type=\"RGB64\")", "     25.000 (25/1)", "  RGB64"},
        {"pixel_type=\"YUV420PS\")", "     25.000 (25/1)", "YUV420PS"},
        {"pixel_type=\"Y32\")", "     25.000 (25/1)", "    Y32"},
    };
    for (const auto& testCase : cases) {
        const std::string script = tachoro.Script(
            "clip.avs", std::string("BlankClip(length=250, width=720, height=576, fps=25, ") + testCase.filters + "\n");
        ProcessResult result = tachoro.Run({script, "-info"});
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_EQ(result.Err, RealBanner() + StatusShownAndCleared("Loading script...") +
                                  ClipLines(testCase.rate, testCase.name))
            << testCase.filters;
    }

    // The audio figures reach the log only.
    const std::string script = tachoro.Script(
        "audio.avs", "BlankClip(length=250, width=720, height=576, fps=25, pixel_type=\"YV12\", audio_rate=48000, "
                     "channels=2, sample_type=\"float\")\n");
    EXPECT_EXIT_CODE(tachoro.Run({script, "-info", "-log"}), 0);
    const std::vector<std::string> clipInfo = Section(CrLfLines(ReadBytes(tachoro.Path("audio.log"))), "[Clip info]");
    const std::vector<std::string> audio = {
        "Audio channels:                      2",
        "Audio bits/sample:                  32",
        "Audio sample rate:               48000",
        "Audio samples:                  480000",
    };
    ASSERT_GE(clipInfo.size(), audio.size());
    EXPECT_EQ(std::vector<std::string>(clipInfo.end() - 4, clipInfo.end()), audio);
}

TEST(RealFS, ScriptErrorsAreShownAsTheFrameServerWordsThem) {
    SKIP_UNDER_WINE_OVER_CLASS(kUnloadedUnderItsThreads);
    RealRun tachoro;
    const std::string path = tachoro.Path("clip.avs");
    // The frame server adds where in the script an error was raised.
    const std::string where = "\n(" + path + ", line 2)\n";
    const struct {
        const char* body;
        std::string measuring;  // after "Analysing script..."
        std::string info;       // after "Loading script..."
    } cases[] = {
        {"NoSuchFunction()\n", "\nScript error: There is no function named 'NoSuchFunction'." + where,
         "\nScript error: There is no function named 'NoSuchFunction'." + where},
        {"Assert(false, \"Stopped by the script\")\n", "\nStopped by the script" + where,
         "\nStopped by the script" + where},
        {"BlankClip().FailAt(-1, \"error\", message=\"Failed while evaluated\")\n", "\nFailed while evaluated" + where,
         "\nFailed while evaluated" + where},
        {"42\n", "\nScript did not return a video clip:\n(" + path + ")\n",
         "\n\"" + path + "\":\nScript did not return a clip\n"},
    };
    for (const auto& testCase : cases) {
        tachoro.Script("clip.avs", testCase.body);
        ProcessResult measuring = tachoro.Run({path});
        EXPECT_EXIT_CODE(measuring, -1);
        EXPECT_EQ(measuring.Err, RealBanner() + StatusShownAndCleared("Analysing script...") + testCase.measuring)
            << testCase.body;
        ProcessResult info = tachoro.Run({path, "-info"});
        EXPECT_EXIT_CODE(info, -1);
        EXPECT_EQ(info.Err, RealBanner() + StatusShownAndCleared("Loading script...") + testCase.info) << testCase.body;
    }
}

// With -log a script that fails writes the log: the general information,
// the script and the frame server's error; in the calibration's evaluation
// or (evaluated fine there) at the main load.
TEST(RealFS, AFailingScriptWritesTheLogAskedFor) {
    SKIP_UNDER_WINE_OVER_CLASS(kUnloadedUnderItsThreads);
    RealRun tachoro;
    const std::string path = tachoro.Path("clip.avs");
    const struct {
        const char* body;
        std::vector<std::string> error;
    } cases[] = {
        {"NoSuchFunction()", {"Script error: There is no function named 'NoSuchFunction'.", "(" + path + ", line 2)"}},
        {"BlankClip().FailAt(-1, \"error\", instance=2, message=\"Failed at the main load\")",
         {"Failed at the main load", "(" + path + ", line 2)"}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.body);
        tachoro.Script("clip.avs", std::string(testCase.body) + "\n");
        EXPECT_EXIT_CODE(tachoro.Run({path, "-log"}), -1);
        const std::vector<std::string> log = CrLfLines(ReadBytes(tachoro.Path("clip.log")));
        ASSERT_GT(log.size(), 3u);
        EXPECT_EQ(log[0], "[General info]");
        EXPECT_EQ(log[2], "Script file:                           " + path);
        EXPECT_EQ(std::find(log.begin(), log.end(), "[Clip info]"), log.end());
        EXPECT_EQ(Section(log, "[Script]").back(), testCase.body);
        EXPECT_EQ(Section(log, "[AviSynth error]"), testCase.error);
    }
}

}  // namespace
