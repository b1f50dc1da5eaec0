// Parameter scans end to end: each value set as a global before the script
// is evaluated, calibrated and measured like a script of a comparison; one
// row per value; the script's files hold every value. (The JSON schema and
// the chart's structure are checked by tests/results.)
#include <regex>

#include "frameserver/ParameterScan.h"
#include "tests/e2e/Harness.h"

namespace {

bool HasLine(const std::string& output, const std::string& pattern) {
    return std::regex_search(output, std::regex("\r" + pattern + " *\n"));
}

}  // namespace

// The test frame server waits as many microseconds a frame as the global
// says: the value reached the script when the slow value is the slow row.
TEST_BOTH_INTERFACES(ParameterScan, EachValueIsMeasuredAndTheFilesHoldEveryValue) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("scan.avs", "frames=300\nframe_delay_from=delay\n");
    ProcessResult result = tachoro.Run({script, "-vary=Delay=3000,1000", "-runs=2", "-log", "-csv", "-json", "-plot"});
    EXPECT_EXIT_CODE(result, 0);
    // The query's two loads, then a calibration and two runs per value.
    auto loads = ReadCounterLines(tachoro.CountersFile());
    ASSERT_EQ(loads.size(), 8u);
    for (size_t load : {3, 4, 6, 7}) EXPECT_EQ(loads[load]["frames_requested"], 300) << load;

    EXPECT_TRUE(HasLine(result.Err, "Value 1 of 2: Delay=3000"));
    EXPECT_TRUE(HasLine(result.Err, "Value 2 of 2: Delay=1000"));
    EXPECT_TRUE(HasLine(result.Err, "Delay=3000     2  [0-9.]+ \\| [0-9.]+ +0\\.[0-9]{3} \\+/- [0-9.]+")) << result.Err;
    EXPECT_TRUE(HasLine(result.Err, "Delay=1000     2  [0-9.]+ \\| [0-9.]+ +1\\.000 \\(fastest\\)"));

    // One log, a section per value, each a series of two runs.
    const std::string log = ReadBytes(tachoro.Path("scan.log"));
    EXPECT_EQ(log.rfind("[Parameter scan: Delay=3000, value 1 of 2]\r\n", 0), 0u);
    const size_t second = log.find("\r\n[Parameter scan: Delay=1000, value 2 of 2]\r\n");
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(log.find("[Performance data, run 2 of 2]"), std::string::npos);
    EXPECT_NE(log.find("[Performance data, run 2 of 2]", second), std::string::npos);

    // One CSV table, the value before the run.
    const std::string csv = ReadBytes(tachoro.Path("scan.csv"));
    EXPECT_EQ(csv.rfind("Value,Run,Frame,", 0), 0u);
    EXPECT_NE(csv.find("\r\n3000,2,"), std::string::npos);
    EXPECT_NE(csv.find("\r\n1000,1,"), std::string::npos);
    EXPECT_EQ(csv.find("\r\nValue,"), std::string::npos) << "one header";

    const std::string json = ReadBytes(tachoro.Path("scan.json"));
    EXPECT_TRUE(std::regex_search(json, std::regex("\"scan\": \\{\\s*\"name\": \"Delay\",\\s*\"type\": \"int\"")));
    // The clip is each value's, not the file's.
    EXPECT_GT(json.find("\"clip\""), json.find("\"row\": \"Delay=3000\""));
    EXPECT_NE(ReadBytes(tachoro.Path("scan.svg")).find("class=\"mean\""), std::string::npos);
}

// A bad value, or a scan beside -profile, stops the call before anything runs.
TEST(ParameterScan, ABadValueStopsTheCallBeforeAnythingRuns) {
    const ScanParse parse = ParseParameterScan("delay=1,fast");
    ASSERT_FALSE(parse.Error.empty());
    const struct {
        std::vector<std::string> switches;
        std::string message;
    } cases[] = {
        {{"-vary=delay=1,fast"}, "\nInvalid parameter format: \"-vary=delay=1,fast\"\n" + parse.Error + "\n"},
        {{"-vary=delay=1,2", "-profile"}, "\n-profile and -vary cannot be combined\n"},
    };
    for (const auto& c : cases) {
        TachoroRun tachoro;
        tachoro.WriteSettings();
        std::vector<std::string> arguments = {tachoro.WriteScript("scan.avs", "frames=300\nframe_delay_from=delay\n"),
                                              "-log"};
        arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
        ProcessResult result = tachoro.Run(arguments);
        EXPECT_EXIT_CODE(result, -1);
        EXPECT_NE(result.Err.find(c.message), std::string::npos) << result.Err;
        EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 2u);  // the installation query only
        EXPECT_FALSE(PathExists(tachoro.Path("scan.log")));
    }
}

// A value whose calibration fails is reported and the scan goes on; the log
// and the JSON file keep its failure.
TEST(ParameterScan, AFailedValueIsReportedAndTheNextMeasured) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    // Load 3 is the first value's calibration.
    const std::string script = tachoro.WriteScript(
        "scan.avs", "frames=300\nframe_delay_from=delay\nfail_at=10\nfail_in_load=3\nfail_message=Broken at 10\n");
    ProcessResult result = tachoro.Run({script, "-vary=delay=1000,2000", "-log", "-json"});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_TRUE(HasLine(result.Err, "delay=1000     0  -  +no result: calibration failed")) << result.Err;
    EXPECT_TRUE(HasLine(result.Err, "delay=2000     1  [0-9.]+ \\| n/a +1\\.000 \\(fastest\\)"));
    const std::string log = ReadBytes(tachoro.Path("scan.log"));
    const size_t second = log.find("[Parameter scan: delay=2000, value 2 of 2]");
    EXPECT_LT(log.find("[AviSynth error]\r\nBroken at 10"), second);
    EXPECT_NE(log.find("[Performance data]", second), std::string::npos);
    EXPECT_TRUE(std::regex_search(ReadBytes(tachoro.Path("scan.json")),
                                  std::regex("\"kind\": \"calibrationFailed\",\\s*\"message\": \"Broken at 10")));
}
