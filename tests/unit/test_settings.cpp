#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "app/Settings.h"

namespace {

Invocation Apply(const std::string& content) {
    Invocation settings;
    ApplySettingsText(content, settings);
    return settings;
}

TEST(SettingsDefaults, MatchTheDocumentedValues) {
    Invocation settings;
    EXPECT_EQ(settings.AVSDLL, "");
    EXPECT_EQ(settings.DisplayFPS, 1);
    EXPECT_EQ(settings.DisplayTPF, 0);
    EXPECT_EQ(settings.CreateLog, 0);
    EXPECT_EQ(settings.FrameRange.First, 0);
    EXPECT_EQ(settings.FrameRange.Last, -1);
    EXPECT_EQ(settings.TimeLimit, -1);
    EXPECT_EQ(settings.InvokeDistributor, 1);
    EXPECT_EQ(settings.AllowOnlyOneInstance, 1);
    EXPECT_EQ(settings.UseColor, 1);
    EXPECT_EQ(settings.ProcessPriority, 2);
    EXPECT_EQ(InvalidRangeMarker, 1099511627775LL);
}

TEST(DefaultSettingsFile, IsTwentyCrLfLines) {
    const std::string text = DefaultSettingsFileText("2.1.3");
    EXPECT_EQ(text,
              "[Main]\r\nVersion=2.1.3\r\nAVSDLL=\r\nDisplayFPS=1\r\nDisplayTPF=0\r\nCreateLog=0\r\nCreateCSV=0\r\n"
              "PauseBeforeExit=0\r\nFrameRange=0,-1\r\nInvokeDistributor=1\r\nAllowOnlyOneInstance=1\r\nUseColor=1\r\n"
              "MonitorGPULoad=0\r\nProcessPriority=2\r\nConUseSTDOUT=0\r\nTimeLimit=-1\r\n\r\n[Miscellaneous]\r\n"
              "LogEstimatedTime=0\r\nAutoCompleteExtension=0\r\n");
    // Applying the defaults to the defaults changes nothing.
    Invocation settings = Apply(text);
    EXPECT_EQ(settings.FrameRange.First, 0);
    EXPECT_EQ(settings.FrameRange.Last, -1);
    EXPECT_EQ(settings.FrameRange.Text, "FrameRange=0,-1");
    EXPECT_EQ(settings.ProcessPriority, 2);
}

TEST(SettingsVersionCheck, ComparesTheLastFiveCharactersOfTheVersionLine) {
    EXPECT_TRUE(SettingsFileIsCurrent("[Main]\r\nVersion=2.1.3\r\n", "2.1.3"));
    EXPECT_TRUE(SettingsFileIsCurrent(" version = 2.1.3 \n", "2.1.3"));
    EXPECT_FALSE(SettingsFileIsCurrent("Version=2.1.2\r\n", "2.1.3"));
    EXPECT_FALSE(SettingsFileIsCurrent("[Main]\r\nDisplayFPS=0\r\n", "2.1.3"));
    // UTF-16 text has a zero byte between its characters and never matches.
    const std::string utf16("V\0e\0r\0s\0i\0o\0n\0=\0002\0.\0001\0.\0003\0", 26);
    EXPECT_FALSE(SettingsFileIsCurrent(utf16, "2.1.3"));
    EXPECT_TRUE(SettingsFileIsCurrent("Version=0.2.1.3\r\n", "2.1.3"));
}

// Settings files as editors save them read like plain ones, for the version
// check and for the keys.
TEST(SettingsFileText, EditorsEncodingsAndLineEndsReadAsPlainText) {
    const std::string plain = "[Main]\r\nVersion=2.1.3\r\nDisplayFPS=0\r\nAVSDLL=C:\\fs\\avisynth.dll\r\n";
    auto utf16 = [&](bool littleEndian) {
        std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
        for (char c : plain) bytes += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
        return bytes;
    };
    std::string crOnly = plain, lfOnly = plain;
    crOnly.erase(std::remove(crOnly.begin(), crOnly.end(), '\n'), crOnly.end());
    lfOnly.erase(std::remove(lfOnly.begin(), lfOnly.end(), '\r'), lfOnly.end());
    for (const std::string& bytes : {plain, utf16(true), utf16(false), "\xEF\xBB\xBF" + plain, crOnly, lfOnly}) {
        const std::string text = DecodeSettingsText(bytes);
        EXPECT_TRUE(SettingsFileIsCurrent(text, "2.1.3")) << text;
        const Invocation settings = Apply(text);
        EXPECT_EQ(settings.DisplayFPS, 0) << text;
        EXPECT_EQ(settings.AVSDLL, "C:\\fs\\avisynth.dll") << text;
    }
    // A mark with an odd byte after it, or nothing: no more than there is.
    EXPECT_EQ(DecodeSettingsText("\xFF\xFE" "A"), "");
    EXPECT_EQ(DecodeSettingsText("\xFE\xFF"), "");
}

TEST(SettingsKeys, MatchWithoutRegardToCaseAndBlanks) {
    EXPECT_EQ(Apply("DisplayFPS = 0\r\n").DisplayFPS, 0);
    EXPECT_EQ(Apply("displayFPS=0").DisplayFPS, 0);
    EXPECT_EQ(Apply("\tCREATELOG=1\r\n").CreateLog, 1);
    EXPECT_EQ(Apply("[Main]\n;CreateLog=1\n").CreateLog, 0);
}

TEST(SettingsFlags, OnlyMoveAwayFromTheirDefault) {
    EXPECT_EQ(Apply("DisplayFPS=0\nDisplayFPS=1\n").DisplayFPS, 0);
    EXPECT_EQ(Apply("CreateLog=yes\n").CreateLog, 0);
    Invocation settings = Apply(
        "DisplayTPF=1\nCreateLog=1\nCreateCSV=1\nPauseBeforeExit=1\nInvokeDistributor=0\nAllowOnlyOneInstance=0\n"
        "UseColor=0\nMonitorGPULoad=1\nConUseSTDOUT=1\nLogEstimatedTime=1\nAutoCompleteExtension=1\n");
    EXPECT_EQ(settings.DisplayTPF, 1);
    EXPECT_EQ(settings.CreateLog, 1);
    EXPECT_EQ(settings.CreateCSV, 1);
    EXPECT_EQ(settings.PauseBeforeExit, 1);
    EXPECT_EQ(settings.InvokeDistributor, 0);
    EXPECT_EQ(settings.AllowOnlyOneInstance, 0);
    EXPECT_EQ(settings.UseColor, 0);
    EXPECT_EQ(settings.MonitorGPULoad, 1);
    EXPECT_EQ(settings.ConUseSTDOUT, 1);
    EXPECT_EQ(settings.LogEstimatedTime, 1);
    EXPECT_EQ(settings.AutoCompleteExtension, 1);
}

TEST(SettingsNumbers, FallBackOrStayAsTheRulesSay) {
    EXPECT_EQ(Apply("ProcessPriority=3").ProcessPriority, 3);
    EXPECT_EQ(Apply("ProcessPriority=7").ProcessPriority, 2);
    EXPECT_EQ(Apply("ProcessPriority=1\nProcessPriority=0").ProcessPriority, 2);
    EXPECT_EQ(Apply("ProcessPriority=1\nProcessPriority=high").ProcessPriority, 1);
    EXPECT_EQ(Apply("TimeLimit=60").TimeLimit, 60);
    EXPECT_EQ(Apply("TimeLimit=0").TimeLimit, -1);
    EXPECT_EQ(Apply("TimeLimit=1000000").TimeLimit, -1);
    EXPECT_EQ(Apply("TimeLimit=5\nTimeLimit=abc").TimeLimit, 5);
    // A malformed number is no number: it changes nothing.
    EXPECT_EQ(Apply("TimeLimit=5\nTimeLimit=1-").TimeLimit, 5);
    EXPECT_EQ(Apply("TimeLimit=-").TimeLimit, -1);
    EXPECT_EQ(Apply("ProcessPriority=3\nProcessPriority=1-").ProcessPriority, 3);
}

TEST(SettingsFrameRange, ParsesOrLeavesTheMarker) {
    Invocation settings = Apply("FrameRange=10,5\r\n");
    EXPECT_EQ(settings.FrameRange.First, 10);
    EXPECT_EQ(settings.FrameRange.Last, 5);
    settings = Apply("Frame Range = abc\r\n");
    EXPECT_EQ(settings.FrameRange.First, InvalidRangeMarker);
    EXPECT_EQ(settings.FrameRange.Last, InvalidRangeMarker);
    EXPECT_EQ(settings.FrameRange.Text, "Frame Range = abc");
    EXPECT_FALSE(settings.FrameRange.Valid);
    for (const char* bad : {"FrameRange=1,", "FrameRange=,5", "FrameRange=12", "FrameRange=a,b",
                            "FrameRange=1234567890123456789012345678,1", "FrameRange=1-2,3", "FrameRange=-,-",
                            "FrameRange=5-,9", "FrameRange=0,99999999999999999999"}) {
        settings = Apply(bad);
        EXPECT_EQ(settings.FrameRange.First, InvalidRangeMarker) << bad;
        EXPECT_EQ(settings.FrameRange.Last, InvalidRangeMarker) << bad;
        EXPECT_FALSE(settings.FrameRange.Valid) << bad;
    }
    EXPECT_TRUE(Apply("FrameRange=1,\nFrameRange=2,3").FrameRange.Valid);
}

TEST(FrameRangeCheck, ResolvesAndRejects) {
    const auto resolve = [](int64_t first, int64_t last, uint32_t frames) {
        FrameRangeSetting range;
        range.First = first;
        range.Last = last;
        const std::optional<FrameSpan> span = ResolveFrameRange(range, frames);
        return span ? std::to_string(span->First) + "," + std::to_string(span->Last) : std::string("none");
    };
    EXPECT_EQ(resolve(0, -1, 100), "0,99");
    EXPECT_EQ(resolve(7, 7, 100), "7,7");
    EXPECT_EQ(resolve(99, 99, 100), "99,99");
    EXPECT_EQ(resolve(0, 100, 100), "none");  // last beyond the clip
    EXPECT_EQ(resolve(-1, 10, 100), "none");
    EXPECT_EQ(resolve(10, 5, 100), "none");
    EXPECT_EQ(resolve(InvalidRangeMarker, InvalidRangeMarker, 100), "none");
    EXPECT_EQ(resolve(0, -1, 0), "none");  // a clip without frames
}

TEST(SettingsLibraryPath, KeepsItsCaseAndInnerBlanks) {
    EXPECT_EQ(Apply("AVSDLL = C:\\Frame Server\\avisynth.dll \r\n").AVSDLL, "C:\\Frame Server\\avisynth.dll");
    EXPECT_EQ(Apply("avsdll=/opt/Frame Server/libavisynth.so").AVSDLL, "/opt/Frame Server/libavisynth.so");
    EXPECT_EQ(Apply("AVSDLL=\r\n").AVSDLL, "");
}

}  // namespace
