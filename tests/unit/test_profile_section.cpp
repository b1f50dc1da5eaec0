// The figures and texts of a profile, and the script-name globals a stage is
// evaluated with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frameserver/Session.h"
#include "report/ProfileSection.h"
#include "tests/support/TestPlatform.h"

namespace {

ProfileStage Stage(uint32_t line, const std::string& text, std::optional<double> fps,
                   RunEnding::Kind how = RunEnding::Kind::Completed, const std::string& message = "") {
    ProfileStage stage;
    stage.Line = line;
    stage.Text = text;
    stage.Fps = fps;
    stage.Ending.How = how;
    stage.Ending.Message = message;
    return stage;
}

// Each stage adds to the one before it in the text that was measured; a
// failed stage has no figures and is passed over; a faster stage adds a
// negative time.
TEST(ProfileSection, FiguresAndTable) {
    ScriptProfile profile;
    profile.WholeFps = 100;  // 10 ms a frame
    profile.PrefetchLine = 6;
    profile.PrefetchArguments = "threads";
    profile.Stages = {Stage(1, "BlankClip()", 1000), Stage(2, "Blur(1.0)", 400),
                      Stage(3, "Fails()", std::nullopt, RunEnding::Kind::FrameServerError, "Script error\n(line 3)"),
                      Stage(4, "Crop(0, 0, 8, 8)", 500), Stage(5, "Tiny()", std::nullopt)};
    profile.NotReached = 1;
    const std::vector<ProfileFigures> figures = ProfileFiguresOf(profile);
    const struct {
        std::optional<double> ms, added, share;
    } expected[] = {{1, 1, 10}, {2.5, 1.5, 15}, {}, {2, -0.5, -5}, {}};
    ASSERT_EQ(figures.size(), 5u);
    for (size_t i = 0; i < figures.size(); ++i) {
        EXPECT_EQ(figures[i].MsPerFrame, expected[i].ms) << i;
        EXPECT_EQ(figures[i].AddedMs, expected[i].added) << i;
        EXPECT_EQ(figures[i].SharePercent, expected[i].share) << i;
    }
    EXPECT_EQ(ProfileLines(profile),
              (std::vector<std::string>{
                  "Profile: each stage measured for at most 10 s",
                  "Prefetch(threads) of line 6 is applied to every stage.",
                  "Whole script: 100.00 fps, 10.000 ms/frame",
                  "Line Statement                                      fps ms/frame added ms share %",
                  "   1 BlankClip()                                 1000.0    1.000   +1.000    10.0",
                  "   2 Blur(1.0)                                    400.0    2.500   +1.500    15.0",
                  "   3 Fails()                                   frame-server error: Script error",
                  "     (line 3)",
                  "   4 Crop(0, 0, 8, 8)                             500.0    2.000   -0.500    -5.0",
                  "   5 Tiny()                                    too few frames for a sample",
                  "1 more stage not measured: the profile was ended."}));
    // Without the whole script's figures there is no share.
    profile.WholeFps.reset();
    EXPECT_FALSE(ProfileFiguresOf(profile)[0].SharePercent);
}

TEST(ProfileSection, ScriptNameGlobalsAsImportSetsThem) {
    const std::string folder = kOnWindows ? "C:\\scripts\\" : "/scripts/";
    const std::vector<ImportGlobal> globals = ImportGlobalsOf(folder + "clip.avs");
    ASSERT_EQ(globals.size(), 12u);
    for (size_t set = 0; set < 4; ++set) {
        EXPECT_EQ(globals[set * 3].Value, folder + "clip.avs") << globals[set * 3].Name;
        EXPECT_EQ(globals[set * 3 + 1].Value, "clip.avs") << globals[set * 3 + 1].Name;
        EXPECT_EQ(globals[set * 3 + 2].Value, folder) << globals[set * 3 + 2].Name;
    }
    EXPECT_STREQ(globals[2].Name, "$ScriptDir$");
    EXPECT_TRUE(globals[2].SetBack);
    EXPECT_STREQ(globals[11].Name, "$MainScriptDirUtf8$");
    EXPECT_FALSE(globals[11].SetBack);
}

}  // namespace
