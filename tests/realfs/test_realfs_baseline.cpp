// -baseline against the real frame server: a slower variant fails with exit
// code 3, the same script shows no change, a file of another clip is refused.
#include <filesystem>

#include "tests/realfs/RealFS.h"
#include "tests/support/TestPlatform.h"

namespace {

// Frames at a fixed pace: rates that a loaded machine (or Wine's coarse
// sleeps) barely changes.
std::string Clip(int frames, int frameMicroseconds) {
    return "BlankClip(length=" + std::to_string(frames) + ", width=320, height=240, pixel_type=\"YV12\").SlowFrames(" +
           std::to_string(frameMicroseconds) + ", paced=true)\n";
}

// The run's JSON file kept under another name, to serve as a baseline.
std::string Keep(const RealRun& tachoro, const std::string& name) {
    std::filesystem::rename(tachoro.Path("clip.json"), tachoro.Path(name));
    return tachoro.Path(name);
}

TEST(RealFS, ABaselineTellsASlowerVariantTheSameScriptAndAnotherClip) {
    RealRun tachoro;
    const std::string script = tachoro.Script("clip.avs", Clip(60, 5000));
    ProcessResult result = tachoro.Run({script, "-json"});
    EXPECT_EXIT_CODE(result, 0);
    const std::string faster = Keep(tachoro, "faster.json");

    // Four times as slow per frame.
    tachoro.Script("clip.avs", Clip(60, 20000));
    result = tachoro.Run({script, "-json", "-baseline=" + faster});
    EXPECT_EXIT_CODE(result, 3);
    EXPECT_EQ(ValueOf(ScreenLines(result.Err), "Verdict:"), "slower by more than the 2 % threshold") << result.Err;
    const std::string same = Keep(tachoro, "same.json");

    // The same script against its own file: single runs, where the
    // threshold stands for the noise.
    result = tachoro.Run({script, "-baseline=" + same + ",20"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(ValueOf(ScreenLines(result.Err), "Verdict:"), "no change within the noise") << result.Err;

    // Another clip: refused once the script is evaluated, nothing measured.
    tachoro.Script("clip.avs", Clip(40, 20000));
    result = tachoro.Run({script, "-json", "-baseline=" + same});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_NE(result.Err.find("is of another clip: 60 frames, 320x240, YV12; this script's clip: 40 frames, "
                              "320x240, YV12\n"),
              std::string::npos)
        << result.Err;
    EXPECT_EQ(ValueOf(ScreenLines(result.Err), "Frames processed:"), "");
    EXPECT_FALSE(PathExists(tachoro.Path("clip.json")));
}

}  // namespace
