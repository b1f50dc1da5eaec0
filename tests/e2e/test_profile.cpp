// -profile end to end over the test frame server, whose directives make the
// statements: every stage evaluated in a session of its own after the runs,
// a failing stage reported on its line, a fault ending the profile with the
// stages measured so far kept. (A stage that is no clip needs the real frame
// server's language: tests/realfs.)
#include <string>

#include "tests/e2e/Harness.h"
#include "tests/support/TestPlatform.h"

namespace {

// The line of the profile's table that begins with `start`, from the
// console's bytes; empty when there is none.
std::string TableLine(const std::string& output, const std::string& start) {
    const size_t at = output.find("\r" + start);
    if (at == std::string::npos) return std::string();
    return output.substr(at + 1, output.find('\n', at) - at - 1);
}

// A stage's row with its frame rate after the statement's 40 characters.
bool HasFigures(const std::string& row) {
    const size_t figure = row.find_first_not_of(' ', 45);
    return figure != std::string::npos && row[figure] >= '0' && row[figure] <= '9';
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST_BOTH_INTERFACES(Profile, EveryStageInASessionOfItsOwnAFailingOneOnItsLine) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    // Loads 1 and 2 are the installation query, 3 the calibration, 4 the
    // run; the stages follow, one load each: line 4's stage is load 8.
    const std::string script = tachoro.WriteScript("clip.avs",
                                                   "frames=100\n"
                                                   "frame_delay_us=2000\n"
                                                   "fail_in_load=8\n"
                                                   "fail_at=2\n"
                                                   "frame_delay_us=3000\n");
    ProcessResult result = tachoro.Run({script, "-profile", "-log", "-json", "-plot"});
    EXPECT_EXIT_CODE(result, 0);

    auto loads = ReadCounterLines(tachoro.CountersFile());
    ASSERT_EQ(loads.size(), 9u) << result.Err;
    EXPECT_EQ(loads[7]["frames_requested"], 3);  // the failing stage, up to its failed frame
    for (const size_t load : {4, 5, 6, 8}) EXPECT_EQ(loads[load]["frames_requested"], 100) << load;

    for (const char* stage : {"   1 frames=100 ", "   2 frame_delay_us=2000 ", "   3 fail_in_load=8 ",
                              "   5 frame_delay_us=3000 "})
        EXPECT_TRUE(HasFigures(TableLine(result.Err, stage))) << stage << "\n" << result.Err;
    EXPECT_NE(TableLine(result.Err, "   4 fail_at=2 ").find("frame-server error: frame 2 failed"), std::string::npos)
        << result.Err;

    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("\r\n[Profile]\r\nProfile: each stage measured for at most 10 s\r\n"), std::string::npos);
    EXPECT_NE(log.find("\r\n   4 fail_at=2 "), std::string::npos);
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    EXPECT_NE(json.find("\"profile\": ["), std::string::npos);
    EXPECT_EQ(Count(json, "\"statement\": "), 5u);
    EXPECT_NE(json.find("\"message\": \"frame 2 failed\""), std::string::npos);
    EXPECT_EQ(Count(ReadBytes(tachoro.Path("clip.svg")), "<rect x="), 4u);
}

TEST(Profile, AFaultEndsTheProfileWithTheStagesSoFar) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs",
                                                   "frames=100\n"
                                                   "frame_delay_us=2000\n"
                                                   "fail_in_load=9\n"
                                                   "fail_with=access_violation\n"
                                                   "fail_at=1\n"
                                                   "frame_delay_us=2500\n");
    ProcessResult result = tachoro.Run({script, "-profile", "-log", "-json"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 9u);
    EXPECT_TRUE(HasFigures(TableLine(result.Err, "   4 fail_with=access_violation "))) << result.Err;
    EXPECT_NE(TableLine(result.Err, "   5 fail_at=1 ").find("fault: "), std::string::npos) << result.Err;
    EXPECT_NE(result.Err.find("\r1 more stage not measured: the profile was ended."), std::string::npos);
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("\r\n   5 fail_at=1 "), std::string::npos) << log;
    EXPECT_EQ(Count(ReadBytes(tachoro.Path("clip.json")), "\"statement\": "), 5u);
}

}  // namespace
