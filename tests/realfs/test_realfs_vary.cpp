// Parameter scans against the real frame server: the global reaches the
// script typed as its form says, one comparison row per value, the files
// hold every value.
#include "tests/realfs/RealFS.h"

namespace {

// The comparison's rows: the lines after its ruler.
std::vector<std::string> ComparisonRows(const std::string& output) {
    const std::vector<std::string> screen = ScreenLines(output);
    std::vector<std::string> rows;
    bool inTable = false;
    for (const std::string& line : screen) {
        if (inTable && (line.empty() || line.rfind("Value ", 0) == 0)) break;
        if (inTable) rows.push_back(line);
        if (line.rfind("------", 0) == 0) inTable = true;
    }
    return rows;
}

}  // namespace

TEST(RealFS, AThreadsScanGivesOneRowPerValueAndAChart) {
    RealRun tachoro;
    const std::string script = tachoro.Script(
        "threads.avs", "BlankClip(length=600, width=320, height=240, pixel_type=\"YV12\").SlowFrames(2000)"
                       ".Prefetch(threads)\n");
    const ProcessResult result = tachoro.Run({script, "-vary=threads=1..4", "-plot", "-json", "-csv"});
    EXPECT_EXIT_CODE(result, 0);
    const std::vector<std::string> rows = ComparisonRows(result.Err);
    ASSERT_EQ(rows.size(), 4u) << result.Err;
    size_t fastest = 0;
    for (size_t index = 0; index < rows.size(); ++index) {
        EXPECT_EQ(rows[index].rfind("threads=" + std::to_string(index + 1), 0), 0u) << rows[index];
        if (rows[index].find("(fastest)") != std::string::npos) ++fastest;
    }
    EXPECT_EQ(fastest, 1u) << result.Err;

    const std::string chart = ReadBytes(tachoro.Path("threads.svg"));
    size_t means = 0;
    for (size_t at = chart.find("class=\"mean\""); at != std::string::npos; at = chart.find("class=\"mean\"", at + 1))
        ++means;
    EXPECT_EQ(means, 4u);
    const std::string json = ReadBytes(tachoro.Path("threads.json"));
    EXPECT_NE(json.find("\"scan\": {"), std::string::npos);
    EXPECT_NE(json.find("\"row\": \"threads=4\""), std::string::npos);
    const std::vector<std::string> csv = CrLfLines(ReadBytes(tachoro.Path("threads.csv")));
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv[0].rfind("Value,Frame,", 0), 0u);
    EXPECT_EQ(csv.back().rfind("4,", 0), 0u);
}

// The script refuses a value of another type or another value than stated.
TEST(RealFS, ScannedStringsFloatsAndBoolsReachTheScriptTyped) {
    struct Case {
        const char* vary;
        const char* check;
    } const cases[] = {
        {"-vary=preset=\"fast\",e\"slow, \\\"quoted\\\"\"",
         "Assert(IsString(preset) && (preset == \"fast\" || preset == \"slow, \"+Chr(34)+\"quoted\"+Chr(34)), "
         "\"not the string\")"},
        {"-vary=strength=0.5,1.25", "Assert(IsFloat(strength) && !IsInt(strength) && (strength == 0.5 || "
                                    "strength == 1.25), \"not the float\")"},
        {"-vary=on=true,false", "Assert(IsBool(on), \"not a bool\")"},
        {"-vary=n=-3,7", "Assert(IsInt(n) && (n == -3 || n == 7), \"not the int\")"},
    };
    for (const Case& c : cases) {
        RealRun tachoro;
        const std::string script =
            tachoro.Script("typed.avs", std::string(c.check) + "\nBlankClip(length=100, width=64, height=64)\n");
        const ProcessResult result = tachoro.Run({script, c.vary});
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_EQ(ComparisonRows(result.Err).size(), 2u) << c.vary << result.Err;
    }
}
