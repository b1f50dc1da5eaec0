// -baseline end to end: a slower variant fails against the file of a faster
// one, the same script shows no change, and a file that cannot serve is
// refused before anything is measured.
#include <filesystem>

#include "tests/e2e/Harness.h"
#include "tests/support/TestPlatform.h"

namespace {

// 60 frames at 20 ms each, and a variant four times as fast: a fixed pace,
// which a loaded machine (or Wine's coarse sleeps) barely changes.
const std::string kClip = "frames=60\nframe_pace_us=20000\n";
const std::string kFaster = "frames=60\nframe_pace_us=5000\n";

// A measured run of `directives` as `name`, its JSON file kept as
// base.json; the counters start afresh.
std::string MakeBaseline(TachoroRun& tachoro, const std::string& name, const std::string& directives) {
    const std::string script = tachoro.WriteScript(name, directives);
    const ProcessResult result = tachoro.Run({script, "-json"});
    EXPECT_EXIT_CODE(result, 0);
    const std::string stem = name.substr(0, name.size() - 4);
    std::filesystem::rename(tachoro.Path(stem + ".json"), tachoro.Path("base.json"));
    std::filesystem::remove(tachoro.CountersFile());
    return tachoro.Path("base.json");
}

TEST(Baseline, ASlowerVariantEndsWithExitCode3AndTheFilesSaySo) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string base = MakeBaseline(tachoro, "clip.avs", kFaster);
    const std::string script = tachoro.WriteScript("clip.avs", kClip);
    const ProcessResult result = tachoro.Run({script, "-baseline=" + base, "-log", "-json"});
    EXPECT_EXIT_CODE(result, 3);
    const std::string verdict = "Verdict:                        slower by more than the 2 % threshold";
    EXPECT_NE(result.Err.find("\r" + Padded(verdict) + "\n"), std::string::npos) << result.Err;
    const std::string label = "\rSpeed relative to baseline:     ";
    const size_t ratio = result.Err.find(label);
    ASSERT_NE(ratio, std::string::npos);
    EXPECT_LT(std::stod(result.Err.substr(ratio + label.size(), 5)), 0.7);

    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("\r\n\r\n[Baseline]\r\nBaseline file:                  " + base + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("\r\n" + verdict + "\r\n"), std::string::npos);
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    const size_t at = json.find("\"baseline\"");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(JsonValue(json, "threshold", at), "2");
    EXPECT_EQ(JsonValue(json, "uncertainty", at), "null");
    EXPECT_EQ(JsonValue(json, "verdict", at), "\"slower\"");
    EXPECT_EQ(JsonValue(json, "slowerBeyondThreshold", at), "true");
}

TEST(Baseline, TheSameScriptAgainShowsNoChange) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string base = MakeBaseline(tachoro, "clip.avs", kClip);
    // Single runs: the threshold stands for the noise.
    const ProcessResult result = tachoro.Run({tachoro.Path("clip.avs"), "-baseline=" + base + ",20"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_NE(result.Err.find(Padded("Verdict:                        no change within the noise")),
              std::string::npos)
        << result.Err;
}

TEST(Baseline, AFileThatCannotServeIsRefusedBeforeAFrameIsMeasured) {
    const struct {
        const char* name;
        std::string baselineScript, baselineClip, clip;
        std::vector<std::string> more;  // arguments
        std::string message;
        size_t loads;  // of the frame server: 2 for the installation query, 3 with the calibration's
    } cases[] = {
        {"no such file", "", "", kClip, {}, "\nCannot open the baseline file \"missing.json\"\n", 2},
        {"another script's", "other.avs", kClip, kClip, {}, "\" is of another script: ", 2},
        {"two scripts named", "clip.avs", kClip, kClip, {"two.avs"},
         "\nA baseline is compared with one script; 2 scripts are named\n", 2},
        {"a parameter scan", "clip.avs", kClip, kClip, {"-vary=n=1,2"},
         "\nA baseline is compared with one script's runs, not with a parameter scan\n", 2},
        {"another clip", "clip.avs", kClip, "frames=40\nframe_pace_us=20000\n", {},
         "\" is of another clip: 60 frames, 640x480, YV12; this script's clip: 40 frames, 640x480, YV12\n", 3},
        {"another range", "clip.avs", kClip, kClip, {"-range=0,29"},
         "\" measured frames 0 to 59; this run measures frames 0 to 29\n", 3},
    };
    for (const auto& c : cases) {
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string base =
            c.baselineScript.empty() ? "missing.json" : MakeBaseline(tachoro, c.baselineScript, c.baselineClip);
        std::vector<std::string> arguments = {tachoro.WriteScript("clip.avs", c.clip), "-baseline=" + base, "-json"};
        for (const std::string& argument : c.more)
            arguments.push_back(argument.find(".avs") != std::string::npos ? tachoro.WriteScript(argument, kClip)
                                                                            : argument);
        const ProcessResult result = tachoro.Run(arguments);
        EXPECT_EXIT_CODE(result, -1);
        EXPECT_NE(result.Err.find(c.message), std::string::npos) << c.name << "\n" << result.Err;
        auto loads = ReadCounterLines(tachoro.CountersFile());
        ASSERT_EQ(loads.size(), c.loads) << c.name;
        if (c.loads == 3) {
            EXPECT_EQ(loads[2]["frames_requested"], 0) << c.name;
        }
        EXPECT_FALSE(PathExists(tachoro.Path("clip.json"))) << c.name;
    }
}

}  // namespace
