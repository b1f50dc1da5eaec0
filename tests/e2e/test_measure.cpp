// Measured runs: the display, the summary, the log and the CSV file.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "support/Text.h"
#include "tests/e2e/Harness.h"
#include "tests/support/TestPlatform.h"

namespace {

// Slow enough frames for a calibration that settles on 10 frames a sample.
const std::string kSlowClip = "frames=300\nframe_delay_us=2000\n";

// The console lines as a person would read them: each "\r" starts the line
// anew, trailing blanks dropped.
std::vector<std::string> ScreenLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
        size_t lastReturn = line.find_last_of('\r', line.size() > 1 ? line.size() - 2 : 0);
        if (line.size() > 1 && lastReturn != std::string::npos && lastReturn + 1 < line.size())
            line = line.substr(lastReturn + 1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// True when `text` has the shape: every '#' of the shape stands for a number
// (digits, optionally with a decimal point and more digits), everything else
// for itself.
bool MatchesShape(const std::string& text, const std::string& shape) {
    size_t at = 0;
    for (char expected : shape) {
        if (expected != '#') {
            if (at >= text.size() || text[at] != expected) return false;
            ++at;
            continue;
        }
        const size_t start = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
        if (at == start) return false;
        if (at + 1 < text.size() && text[at] == '.' && std::isdigit(static_cast<unsigned char>(text[at + 1]))) {
            ++at;
            while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
        }
    }
    return at == text.size();
}

bool HasLineShaped(const std::vector<std::string>& lines, const std::string& shape) {
    for (const std::string& line : lines)
        if (MatchesShape(line, shape)) return true;
    return false;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

struct CsvRow {
    unsigned frame;
    double fps, average, tpf, averageTpf;
    unsigned cpu, threads, physical, virtualMb;
    std::string text;
};

std::vector<CsvRow> ParseCsv(const std::string& text, std::string& header) {
    std::vector<CsvRow> rows;
    std::vector<std::string> lines = SplitCrLf(text);
    if (lines.empty()) return rows;
    header = lines[0];
    for (size_t index = 1; index < lines.size(); ++index) {
        CsvRow row{};
        row.text = lines[index];
        std::sscanf(lines[index].c_str(), "%u,%lf,%lf,%lf,%lf,%u,%u,%u,%u", &row.frame, &row.fps, &row.average, &row.tpf,
                    &row.averageTpf, &row.cpu, &row.threads, &row.physical, &row.virtualMb);
        rows.push_back(row);
    }
    return rows;
}

// The log row of a CSV row: the same sample, formatted to the log's widths
// (the CSV carries the same rounded numbers as text).
std::string ExpectedLogRow(const CsvRow& row) {
    std::vector<std::string> fields;
    std::istringstream stream(row.text);
    for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
    if (fields.size() != 9) return "malformed CSV row: " + row.text;
    auto right = [](const std::string& text, size_t width) {
        return text.size() < width ? Blanks(width - text.size()) + text : text;
    };
    return right(fields[0], 12) + " " + right(fields[1], 13) + " " + right(fields[3], 16) + " " + right(fields[5], 8) +
           " " + right(fields[6], 9) + " " + right(fields[7], 13) + " " + right(fields[8], 13);
}

const char* const kCsvHeader =
    "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),Threads,PhysMEM(MB),"
    "VirtMEM(MB)";
const char* const kLogHeader =
    "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   Threads   PhysMEM(MB)   VirtMEM(MB)";

// The [General info] lines of this machine, read back from "-avsinfo".
std::vector<std::string> GeneralInfoLines(TachoroRun& tachoro, const std::string& script,
                                          const std::string& switches) {
    ProcessResult info = tachoro.Run({"-avsinfo"});
    std::map<std::string, std::string> facts;
    std::istringstream stream(info.Out);
    for (std::string line; std::getline(stream, line);) {
        size_t colon = line.find(':');
        if (colon != std::string::npos) facts[line.substr(0, colon)] = line.substr(29);
    }
    std::vector<std::string> lines = {
        "[General info]",
        "Log file created with:                 Tachoro 2.1.3 (x64)",
        "Script file:                           " + script,
    };
    if (!switches.empty()) lines.push_back("Command line switches:                 " + switches);
    lines.insert(lines.end(), {
                                  "Avisynth version string:               " + facts["Avisynth version string"],
                                  "Avisynth file version:                 " + facts["File version"],
                                  "Avisynth Interface Version:            " + facts["Avisynth Interface Version"],
                                  "Avisynth MT support:                   " + facts["Muli-threading support"],
                                  "Avisynth.dll linker/compiler version:  " + facts["Linker/compiler version"],
                                  "Avisynth.dll location:                 " + facts["Avisynth DLL location"],
                                  "Avisynth.dll time stamp:               " + facts["Avisynth DLL time stamp"],
                              });
    return lines;
}

TEST_BOTH_INTERFACES(MeasuredRun, WritesTheSummaryLogAndCsv) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ProcessResult result = tachoro.Run({script, "-log", "-csv"});
    EXPECT_EXIT_CODE(result, 0);

    // One request per frame of the range, each released before the next.
    auto loads = ReadCounterLines(tachoro.CountersFile());
    ASSERT_FALSE(loads.empty());
    auto& main = loads.back();
    EXPECT_EQ(main["frames_requested"], 300);
    EXPECT_EQ(main["max_frames_alive"], 1);
    EXPECT_EQ(main["frames_alive_at_delete"], 0);
    EXPECT_EQ(main["clips_alive_at_delete"], 0);
    EXPECT_EQ(main["environments_deleted"], 1);
    EXPECT_EQ(main["handle_ops_after_delete"], 0);

    const std::vector<std::string> screen = ScreenLines(result.Err);
    EXPECT_TRUE(HasLineShaped(screen, "Frames processed:               300 (0 - 299)"));
    EXPECT_TRUE(HasLineShaped(screen, "FPS (min | max | average):      # | # | #"));
    EXPECT_TRUE(HasLineShaped(screen, "Memory usage (phys | virt):     # | # MB"));
    EXPECT_TRUE(HasLineShaped(screen, "Thread count:                   #"));
    EXPECT_TRUE(HasLineShaped(screen, "CPU usage (average):            #%"));
    EXPECT_TRUE(HasLineShaped(screen, "Time (elapsed):                 #:#:#"));
    // Standard input is a pipe: the display names Ctrl+C, not Esc.
    EXPECT_NE(result.Err.find("\nPress Ctrl+C to cancel the process...\n\n"), std::string::npos) << result.Err;
    EXPECT_EQ(result.Err.find("Press 'Esc'"), std::string::npos);
    // The summary ends with the two blanked prompt lines.
    const std::string ending = "\r" + Padded("") + "\n\r" + Padded("") + "\n";
    EXPECT_EQ(result.Err.substr(result.Err.size() - ending.size()), ending);

    // CSV: one row per ten frames, the frame column counted from 1.
    std::string header;
    const std::string csv = ReadBytes(tachoro.Path("clip.csv"));
    const std::vector<CsvRow> rows = ParseCsv(csv, header);
    EXPECT_EQ(header, kCsvHeader);
    // 2 ms frames calibrate to ten frames a sample; on a heavily loaded
    // machine a frame may take over 10 ms, which gives one.
    ASSERT_FALSE(rows.empty());
    const unsigned interval = rows[0].frame;
    ASSERT_TRUE(interval == 10 || interval == 1) << interval;
    ASSERT_EQ(rows.size(), 300u / interval);
    for (size_t index = 0; index < rows.size(); ++index) {
        EXPECT_EQ(rows[index].frame, interval * (index + 1));
        EXPECT_TRUE(MatchesShape(rows[index].text, "#,#,#,#,#,#,#,#,#")) << rows[index].text;
        EXPECT_EQ(rows[index].text.find('.') - rows[index].text.find(',') - 1 + 4,
                  rows[index].text.find(',', rows[index].text.find(',') + 1) - rows[index].text.find(',') - 1)
            << "three decimals in Frames/sec: " << rows[index].text;
    }
    EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");

    // Log: the sections in order, CR LF everywhere, rows matching the CSV.
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    const std::vector<std::string> logLines = SplitCrLf(log);
    std::vector<std::string> expected = GeneralInfoLines(tachoro, script, "-log -csv");
    expected.insert(expected.end(), {"", "", "[Clip info]", "Number of frames:                  300",
                                     "Length (hh:mm:ss.ms):     00:00:12.000", "Frame width:                       640",
                                     "Frame height:                      480", "Framerate:                      25.000 (25/1)",
                                     "Colorspace:                       YV12", "Audio channels:                    n/a",
                                     "Audio bits/sample:                 n/a", "Audio sample rate:                 n/a",
                                     "Audio samples:                     n/a", "", "", "[Runtime info]"});
    ASSERT_GE(logLines.size(), expected.size() + 6);
    for (size_t index = 0; index < expected.size(); ++index) EXPECT_EQ(logLines[index], expected[index]) << index;
    size_t line = expected.size();
    EXPECT_EQ(logLines[line], "Frames processed:               300 (0 - 299)");
    line += 6;
    EXPECT_EQ(logLines[line++], "");
    EXPECT_EQ(logLines[line++], "");
    EXPECT_EQ(logLines[line++], "[Script]");
    EXPECT_EQ(logLines[line++], "frames=300");
    EXPECT_EQ(logLines[line++], "frame_delay_us=2000");
    EXPECT_EQ(logLines[line++], "");
    EXPECT_EQ(logLines[line++], "");
    EXPECT_EQ(logLines[line++], "[Performance data]");
    EXPECT_EQ(logLines[line++], kLogHeader);
    for (const CsvRow& row : rows) EXPECT_EQ(logLines[line++], ExpectedLogRow(row));
    EXPECT_EQ(line, logLines.size());
    EXPECT_EQ(log.find('\n'), log.find("\r\n") + 1);  // no bare LF anywhere
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), std::count(log.begin(), log.end(), '\r'));

}

TEST(MeasuredRun, MeasuresAFrameRange) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    ProcessResult result = tachoro.Run({script, "-range=10,59", "-csv"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_NE(result.Err.find(Status("Reading frames...")), std::string::npos);
    EXPECT_TRUE(HasLineShaped(ScreenLines(result.Err), "Frames processed:               50 (10 - 59)"));
    std::string header;
    const std::vector<CsvRow> rows = ParseCsv(ReadBytes(tachoro.Path("clip.csv")), header);
    ASSERT_FALSE(rows.empty());
    const unsigned interval = rows.front().frame - 10;
    ASSERT_TRUE(interval == 10 || interval == 1) << interval;
    EXPECT_EQ(rows.size(), 50u / interval);
    EXPECT_EQ(rows.back().frame, 60u);
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).back()["frames_requested"], 50);
}

TEST(MeasuredRun, ASingleFrameIsTooLittleForASample) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    // Frames that cost nothing: the calibration settles on thousands of
    // frames a sample however loaded the machine is (a slow clip on a busy
    // machine can calibrate to one frame a sample).
    const std::string script = tachoro.WriteScript("clip.avs", "frames=300\n");
    ProcessResult result = tachoro.Run({script, "-range=7,7", "-csv", "-log"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_NE(result.Err.find(Status("Reading frame...") + "\r" + Padded("Insufficient data for measurements") + "\n"),
              std::string::npos);
    EXPECT_EQ(ReadBytes(tachoro.Path("clip.csv")), std::string(kCsvHeader) + "\r\n");
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("[Runtime info]\r\nInsufficient data for measurements\r\n\r\n[Script]\r\n"), std::string::npos);
    EXPECT_EQ(log.find("[Performance data]"), std::string::npos);
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).back()["frames_requested"], 1);
}

std::string RangePrompt(const std::string& rangeText, unsigned last) {
    return "\n\r" + Padded("") + "\rInvalid frame range specified:\n\r\"" + rangeText + "\"\n\rProceed with default (0," +
           std::to_string(last) + ")? [y/n]";
}

TEST(MeasuredRun, AnInvalidRangeOffersTheWholeClip) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    const std::string clearedPrompt = "\r" + Padded("") + "\r" + Padded("") + "\r" + Padded("");

    // Keys other than y and n are ignored; y measures the whole clip.
    ProcessResult accepted = tachoro.Run({script, "-range=5,1000"}, {}, "xq\ny");
    EXPECT_EXIT_CODE(accepted, 0);
    EXPECT_NE(accepted.Err.find("YV12\n" + RangePrompt("FrameRange=5,1000", 299) + clearedPrompt +
                                Status("Reading frames...")),
              std::string::npos)
        << accepted.Err;
    EXPECT_TRUE(HasLineShaped(ScreenLines(accepted.Err), "Frames processed:               300 (0 - 299)"));

    // n ends the run without reading a frame; the log is still written.
    ProcessResult refused = tachoro.Run({script, "-range=-3,10", "-log"}, {}, "n");
    EXPECT_EXIT_CODE(refused, 0);
    const std::string expectedEnd = RangePrompt("FrameRange=-3,10", 299) + clearedPrompt;
    EXPECT_EQ(refused.Err.substr(refused.Err.size() - expectedEnd.size()), expectedEnd);
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).back()["frames_requested"], 0);
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).back()["environments_deleted"], 1);
    const std::string log = ReadBytes(tachoro.Path("clip.log"));
    EXPECT_NE(log.find("[Clip info]"), std::string::npos);
    EXPECT_EQ(log.find("[Runtime info]"), std::string::npos);

    // Without any input the answer is no: nothing waits for a key.
    ProcessResult noInput = tachoro.Run({script, "-range=400,500"}, {}, "");
    EXPECT_EXIT_CODE(noInput, 0);

    // A range from the settings file is echoed as written.
    tachoro.WriteSettings({"FrameRange = abc"});
    ProcessResult fromSettings = tachoro.Run({script}, {}, "n");
    EXPECT_NE(fromSettings.Err.find(RangePrompt("FrameRange = abc", 299)), std::string::npos);

    // ... but harmless: no escape sequence reaches the terminal, and of a
    // value of megabytes only the start.
    tachoro.WriteSettings({"FrameRange=\x1b[2J" + std::string(7 << 20, '9')});
    ProcessResult hostile = tachoro.Run({script}, {}, "n");
    EXPECT_EXIT_CODE(hostile, 0);
    EXPECT_NE(hostile.Err.find(RangePrompt("FrameRange=?[2J" + std::string(185, '9') + "...", 299)), std::string::npos);
    EXPECT_LT(hostile.Err.size(), 10000u);

    // Input that never answers is no answer.
    if (kOnWindows) return;
    tachoro.WriteSettings();
    ProcessRun endless;
    endless.Arguments = {script, "-range=5,1"};
    endless.InputPath = "/dev/zero";
    endless.TimeoutMs = 30000;
    EXPECT_EXIT_CODE(tachoro.RunWith(endless), 0);
}

TEST(MeasuredRun, ATimeLimitStopsTheRun) {
    for (bool estimated : {false, true}) {
        TachoroRun tachoro;
        tachoro.WriteSettings({estimated ? "LogEstimatedTime=1" : "LogEstimatedTime=0"});
        const std::string script = tachoro.WriteScript("long.avs", "frames=1000000\nframe_delay_us=2000\n");
        ProcessResult result = tachoro.Run({script, "-timelimit=1", "-csv"});
        EXPECT_EXIT_CODE(result, 0);
        const std::vector<std::string> screen = ScreenLines(result.Err);
        EXPECT_TRUE(HasLineShaped(screen, "Frames processed:               # (0 - #)"));
        if (estimated)
            EXPECT_TRUE(HasLineShaped(screen, "Time (elapsed | estimated):     00:00:01.# | #:#:#"));
        else
            EXPECT_TRUE(HasLineShaped(screen, "Time (elapsed):                 00:00:01.#"));
        // It stops at the first refresh after one second, with far fewer
        // frames than the clip has.
        const long long requested = ReadCounterLines(tachoro.CountersFile()).back()["frames_requested"];
        EXPECT_GT(requested, 10);
        EXPECT_LT(requested, 2000);
    }
}

TEST_BOTH_INTERFACES(MeasuredRun, AFrameServerErrorKeepsTheSamplesSoFar) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script =
        tachoro.WriteScript("clip.avs", kSlowClip + "fail_at=150\nfail_in_load=4\nfail_message=Filter crashed at 150\n");
    ProcessResult result = tachoro.Run({script, "-csv", "-json"});
    EXPECT_EXIT_CODE(result, -1);
    // The summary of the frames read before it, then the message and the
    // frame it came from.
    const std::string summary = "Frames processed:               150 (0 - 149)";
    EXPECT_TRUE(HasLineShaped(ScreenLines(result.Err), summary)) << result.Err;
    const std::string ending =
        "\r" + Padded("") + "\n\r" + Padded("") + "\n\nFilter crashed at 150\n(while reading frame 150)\n";
    ASSERT_GE(result.Err.size(), ending.size());
    EXPECT_EQ(result.Err.substr(result.Err.size() - ending.size()), ending) << result.Err;

    const std::string log = ReadBytes(tachoro.Path("clip.log"));  // written although -log was not given
    std::string header;
    const std::vector<CsvRow> rows = ParseCsv(ReadBytes(tachoro.Path("clip.csv")), header);
    // Frames 0 to 149 were read: fifteen samples, the last closed by frame 150.
    ASSERT_FALSE(rows.empty());
    const unsigned interval = rows.front().frame;
    ASSERT_TRUE(interval == 10 || interval == 1) << interval;
    ASSERT_EQ(rows.size(), 150u / interval);
    EXPECT_EQ(rows.back().frame, 150u);
    const std::string tail = ExpectedLogRow(rows.back()) +
                             "\r\n\r\n\r\n[AviSynth error]\r\nFilter crashed at 150\r\n(while reading frame 150)\r\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_NE(log.find("\r\n[Runtime info]\r\n" + summary + "\r\n"), std::string::npos) << log;

    // The JSON file ends the run at the last frame read, with the time
    // measured and nothing extrapolated; its message is the frame server's.
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    const size_t summaryAt = json.find("\"summary\":");
    EXPECT_EQ(JsonValue(json, "framesProcessed", summaryAt), "150");
    EXPECT_EQ(JsonValue(json, "lastFrame", summaryAt), "149");
    EXPECT_EQ(JsonValue(json, "estimatedMs", summaryAt), JsonValue(json, "elapsedMs", summaryAt));
    EXPECT_EQ(JsonValue(json, "last", json.find("\"range\":")), "299");
    EXPECT_EQ(JsonValue(json, "message"), "\"Filter crashed at 150\"");
    // Over the class interface the frame server is unloaded on this path
    // without deleting the environment; over the C interface, which returned
    // the error and is intact, the environment is deleted first.
    std::map<std::string, long long> main = ReadCounterLines(tachoro.CountersFile()).back();
    EXPECT_EQ(main["environments_deleted"], InterfaceUnderTest() == "c" ? 1 : 0);
    if (InterfaceUnderTest() == "c") {
        EXPECT_EQ(main["clips_alive_at_delete"], 0);
        EXPECT_EQ(main["frames_alive_at_delete"], 0);
    }
}

// Frames that come in bursts of four every 60 ms, as frames rendered ahead
// do: one sample a frame, each with the rate of a span of at least 10 ms,
// never the microseconds between the frames of a burst.
TEST(MeasuredRun, BurstsOfFramesAreMeasuredOverTenMilliseconds) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", "frames=40\nframe_delay_us=60000\nburst=4\n");
    ProcessResult result = tachoro.Run({script, "-csv", "-json"});
    EXPECT_EXIT_CODE(result, 0);
    std::string header;
    const std::vector<CsvRow> rows = ParseCsv(ReadBytes(tachoro.Path("clip.csv")), header);
    ASSERT_EQ(rows.size(), 40u);  // 15 ms a frame calibrates to one frame a sample
    // At most three frames in 10 ms (a burst's frames after a slow one);
    // the steady rate is four in 60 ms.
    const double most = 3 / 0.010;
    for (const CsvRow& row : rows) EXPECT_LE(row.fps, most) << row.text;
    const std::string json = ReadBytes(tachoro.Path("clip.json"));
    EXPECT_LE(std::stod(JsonValue(json, "fpsMax")), most) << json;
}

TEST(MeasuredRun, ProcessorFaultsAreReportedAndLoggedWithoutErrorSection) {
    const struct {
        const char* fault;
        const char* text;
    } cases[] = {
        {"access_violation", "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION"},
        {"divide_by_zero", "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO"},
        {"stack_overflow", "Exception 0xC00000FD\nSTATUS_STACK_OVERFLOW"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.fault);
        const std::string faulting = kSlowClip + "fail_at=150\nfail_in_load=4\nfail_with=" + testCase.fault + "\n";
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = tachoro.WriteScript("clip.avs", faulting);
        ProcessResult result = tachoro.Run({script});
        EXPECT_EXIT_CODE(result, -1);
        // After the summary, the fault and the frame it came from.
        const std::string blanked = "\r" + Padded("") + "\n\r" + Padded("") + "\n";
        const std::string ending = blanked + "\n" + testCase.text + "\n(while reading frame 150)\n";
        ASSERT_GE(result.Err.size(), ending.size()) << result.Err;
        EXPECT_EQ(result.Err.substr(result.Err.size() - ending.size()), ending);
        const std::string log = ReadBytes(tachoro.Path("clip.log"));
        EXPECT_NE(log.find("[Performance data]"), std::string::npos);
        EXPECT_EQ(log.find("[AviSynth error]"), std::string::npos);
        EXPECT_FALSE(PathExists(tachoro.Path("clip.csv")));  // only with CreateCSV

        TachoroRun withCsv;
        withCsv.WriteSettings({"CreateCSV=1"});
        const std::string again = withCsv.WriteScript("clip.avs", faulting);
        EXPECT_EXIT_CODE(withCsv.Run({again}), -1);
        std::string header;
        const std::vector<CsvRow> rows = ParseCsv(ReadBytes(withCsv.Path("clip.csv")), header);
        EXPECT_EQ(header, kCsvHeader);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().frame, 150u);  // the samples up to the fault
    }
}

// A report file that cannot be written leaves the old one as it was and no
// temporary file behind, and keeps no other file from being written; each
// failure is shown and the run ends with -1.
TEST(MeasuredRun, AReportFileIsReplacedWholeOrNotAtAll) {
    const std::string oldLog = "an earlier log\r\n" + std::string(3000, 'x');
    const std::string oldCsv = "an earlier CSV file\r\n";
    const struct {
        const char* what;
        bool posixOnly;
        std::function<void(TachoroRun&)> prepare;
        uint64_t fileSizeLimit;
        const char* logMessage;  // the failure of the log ("%s": its path); null: written
        const char* csvMessage;
    } cases[] = {
        {"a folder named like the log", false,
         [](TachoroRun& t) { std::filesystem::create_directory(t.Path("clip.log")); }, 0,
         "\nCannot create \"%s\"\nIt is a folder.\n",
         nullptr},
        {"the log's name a link to the script", true,
         [](TachoroRun& t) { std::filesystem::create_symlink(t.Path("clip.avs"), t.Path("clip.log")); }, 0,
         "\nCannot create \"%s\"\nThat name is the script itself.\n", nullptr},
        {"the CSV file's name another name of the script", false,
         [](TachoroRun& t) { std::filesystem::create_hard_link(t.Path("clip.avs"), t.Path("clip.csv")); }, 0,
         nullptr, "\nCannot create \"%s\"\nThat name is the script itself.\n"},
        {"the log's name a link that leads to no file", true,
         [](TachoroRun& t) { std::filesystem::create_symlink(t.Path("gone.log"), t.Path("clip.log")); }, 0,
         "\nCannot create \"%s\"\nIt is a link to a missing file.\n", nullptr},
        {"a file-size limit below both files", true,
         [&](TachoroRun& t) {
             WriteBytes(t.Path("clip.log"), oldLog);
             WriteBytes(t.Path("clip.csv"), oldCsv);
         },
         1024, "\nCannot write \"%s\"\n", "\nCannot write \"%s\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.posixOnly && kOnWindows) continue;
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
        c.prepare(tachoro);
        const std::vector<std::string> before = {ReadBytes(tachoro.Path("clip.log")), ReadBytes(tachoro.Path("clip.csv"))};
        tachoro.FileSizeLimit = c.fileSizeLimit;
        ProcessResult result = tachoro.Run({script, "-log", "-csv"});
        EXPECT_EXIT_CODE(result, -1);

        std::string messages;
        if (c.logMessage) messages += FormatText(c.logMessage, tachoro.Path("clip.log").c_str());
        if (c.csvMessage) messages += FormatText(c.csvMessage, tachoro.Path("clip.csv").c_str());
        ASSERT_GE(result.Err.size(), messages.size()) << result.Err;
        EXPECT_EQ(result.Err.substr(result.Err.size() - messages.size()), messages);
        EXPECT_EQ(ReadBytes(script), kSlowClip);
        const std::string log = ReadBytes(tachoro.Path("clip.log")), csv = ReadBytes(tachoro.Path("clip.csv"));
        if (c.logMessage)
            EXPECT_EQ(log, before[0]);
        else
            EXPECT_NE(log.find("[Performance data]"), std::string::npos);
        if (c.csvMessage)
            EXPECT_EQ(csv, before[1]);
        else
            EXPECT_EQ(csv.rfind(std::string(kCsvHeader) + "\r\n", 0), 0u);
        for (const std::string& name : tachoro.FileNames())
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
}

// Temporary files left by runs that were killed while writing keep no file
// from being written: ours are taken over, those of the naming of earlier
// versions ("clip.log.tmp", ".tmp1" to ".tmp99") are no longer in the way
// (and are not ours to remove).
TEST(MeasuredRun, LeftoverTemporaryFilesKeepNoFileFromBeingWritten) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    for (int n = 0; n < 100; ++n) WriteBytes(tachoro.Path("clip.log.tmp" + (n ? std::to_string(n) : "")), "earlier");
    for (int slot = 0; slot < 16; ++slot) WriteBytes(tachoro.Path(".tachoro-" + std::to_string(slot) + ".tmp"), "ours");
    ProcessResult result = tachoro.Run({script, "-log", "-csv"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_NE(ReadBytes(tachoro.Path("clip.log")).find("[Performance data]"), std::string::npos);
    EXPECT_EQ(ReadBytes(tachoro.Path("clip.csv")).rfind(kCsvHeader, 0), 0u);
    size_t earlier = 0, ours = 0;
    for (const std::string& name : tachoro.FileNames()) {
        earlier += name.rfind("clip.log.tmp", 0) == 0;
        ours += name.rfind(".tachoro-", 0) == 0;
    }
    EXPECT_EQ(earlier, 100u);
    EXPECT_EQ(ours, 15u);  // the first taken over, then used for each file in turn
}

// A path at the path limit that ends in a short name (the log at 4094
// bytes, the JSON file at 4095; past MAX_PATH on Windows) and a JSON name of
// 255 bytes (none fits in MAX_PATH) are written.
TEST(MeasuredRun, ReportNamesAndPathsAtTheSystemsLimitsAreWritten) {
    const struct {
        size_t length;  // of the script's path; 0: any
        std::string name;
    } scripts[] = {{kOnWindows ? 259u : 4094u, "a.avs"}, {0, std::string(250, 's') + ".avs"}};
    for (const auto& s : scripts) {
        if (kOnWindows && s.length == 0) continue;
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = s.length ? tachoro.PathOfLength(s.length, s.name) : tachoro.Path(s.name);
        ASSERT_TRUE(WriteBytes(script, kSlowClip));
        ProcessResult result = tachoro.Run({script, "-log", "-json"});
        EXPECT_EXIT_CODE(result, 0);
        const std::string base = script.substr(0, script.size() - 4);
        EXPECT_NE(ReadBytes(base + ".log").find("[Performance data]"), std::string::npos) << s.name;
        EXPECT_EQ(ReadBytes(base + ".json").rfind("{", 0), 0u) << s.name;
    }
}

// A replaced file keeps its mode (and owner where the process may set it):
// a private result stays private.
TEST(MeasuredRun, ReplacedFilesKeepTheirMode) {
    if (kOnWindows) GTEST_SKIP() << "the folder's inherited permissions apply on Windows";
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
    const struct {
        const char* name;
        std::filesystem::perms mode;
    } files[] = {{"clip.log", std::filesystem::perms(0600)}, {"clip.json", std::filesystem::perms(0640)}};
    for (const auto& file : files) {
        WriteBytes(tachoro.Path(file.name), "earlier");
        std::filesystem::permissions(tachoro.Path(file.name), file.mode);
    }
    ProcessResult result = tachoro.Run({script, "-log", "-json"});
    EXPECT_EXIT_CODE(result, 0);
    for (const auto& file : files) {
        EXPECT_NE(ReadBytes(tachoro.Path(file.name)), "earlier") << file.name;
        EXPECT_EQ(std::filesystem::status(tachoro.Path(file.name)).permissions(), file.mode) << file.name;
    }
}

// The log shows the script as it was loaded, whatever becomes of the file
// while the frames are read.
TEST(MeasuredRun, TheLogKeepsTheScriptAsItWasLoaded) {
    const std::string clip = "frames=1000000\nframe_delay_us=1000\n";
    for (bool deleted : {true, false}) {
        SCOPED_TRACE(deleted ? "deleted" : "rewritten");
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = tachoro.WriteScript("clip.avs", clip);
        // The counters file has a line per unloaded library: after three
        // (query, version, calibration) the measurement's load has begun.
        std::thread meddler([&] {
            for (int wait = 0; wait < 600 && ReadCounterLines(tachoro.CountersFile()).size() < 3; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            if (deleted)
                std::filesystem::remove(script);
            else
                WriteBytes(script, "frames=1\n");
        });
        ProcessResult result = tachoro.Run({script, "-timelimit=3", "-log", "-csv"});
        meddler.join();
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_EQ(PathExists(script), !deleted);
        const std::string log = ReadBytes(tachoro.Path("clip.log"));
        EXPECT_NE(log.find("\r\n[Script]\r\nframes=1000000\r\nframe_delay_us=1000\r\n\r\n"), std::string::npos) << log;
        EXPECT_EQ(ReadBytes(tachoro.Path("clip.csv")).rfind(kCsvHeader, 0), 0u);
    }
}

TEST(MeasuredRun, AFullDeviceIsReported) {
    if (kOnWindows) GTEST_SKIP() << "no /dev/full";
    for (const char* file : {"clip.log", "clip.csv"}) {
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = tachoro.WriteScript("clip.avs", kSlowClip);
        std::filesystem::create_symlink("/dev/full", tachoro.Path(file));
        ProcessResult result = tachoro.Run({script, "-log", "-csv"});
        EXPECT_EXIT_CODE(result, -1);
        const std::string message = "\nCannot write \"" + tachoro.Path(file) + "\"\n";
        EXPECT_EQ(result.Err.substr(result.Err.size() - message.size()), message) << file;
    }
}

}  // namespace
