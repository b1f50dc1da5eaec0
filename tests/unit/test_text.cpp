#include <gtest/gtest.h>

#include <string>

#include "support/SEException.h"
#include "support/Text.h"

namespace {

TEST(FormatText, KeepsTextsOfAnyLength) {
    EXPECT_EQ(FormatText("%s-%d", "a", 5), "a-5");
    EXPECT_EQ(FormatText(nullptr), "");
    for (size_t length : {255u, 256u, 300u, 5000u, 9000u, 100000u}) {
        const std::string long_text(length, 'x');
        EXPECT_EQ(FormatText("%s", long_text.c_str()), long_text) << length;
    }
}

TEST(TrimText, RemovesBlanksTabsAndLineEndsAtBothEnds) {
    std::string text = " \t abc \r\n";
    TrimText(text);
    EXPECT_EQ(text, "abc");
    text = "a b\tc";
    TrimText(text);
    EXPECT_EQ(text, "a b\tc");
    text = " \t\r\n ";
    TrimText(text);
    EXPECT_EQ(text, "");
}

TEST(ToLowerText, ChangesOnlyAsciiLetters) {
    std::string text = "AbC-Z\xC4\xD6";
    ToLowerText(text);
    EXPECT_EQ(text, "abc-z\xC4\xD6");
}

TEST(IsIntegerText, AcceptsAnOptionalLeadingMinusAndDigitsOnly) {
    for (const char* good : {"123", "-5", "0", "-0", "007"}) EXPECT_TRUE(IsIntegerText(good)) << good;
    for (const char* bad : {"", "+5", "1.5", " 1", "a", "1-2", "-", "5-", "--5", "1 "})
        EXPECT_FALSE(IsIntegerText(bad)) << bad;
}

TEST(ParseNumbers, StopAtTheFirstForeignCharacterAndSaturate) {
    EXPECT_EQ(ParseInt64("1-2"), 1);
    EXPECT_EQ(ParseInt64("-"), 0);
    EXPECT_EQ(ParseInt64("-17x"), -17);
    EXPECT_EQ(ParseInt64("99999999999999999999"), INT64_MAX);
    EXPECT_EQ(ParseInt64("-99999999999999999999"), INT64_MIN);
    EXPECT_EQ(ParseInt32("4294967297"), INT32_MAX);
    EXPECT_EQ(ParseInt32("-4294967297"), INT32_MIN);
}

TEST(ControlsReplaced, NoControlCharacterOrEscapeSequenceStays) {
    const struct {
        std::string text;
        bool keepLineBreaks;
        std::string shown;
    } cases[] = {
        {"a\x1b[2Jb\x07" "c\x7f", true, "a?[2Jb?c?"},
        {"line\r\nnext\tcell", true, "line\r\nnext\tcell"},
        {"line\r\nnext\tcell", false, "line??next?cell"},
        {"csi \xC2\x9B" "31m, caf\xC3\xA9, \xC2\xA0", true, "csi ?31m, caf\xC3\xA9, \xC2\xA0"},  // C1 as UTF-8
        {"cut \xC2", true, "cut \xC2"},
    };
    for (const auto& c : cases) EXPECT_EQ(ControlsReplaced(c.text, c.keepLineBreaks), c.shown) << c.text;
}

TEST(ShortenedText, KeepsTheStartWithoutCuttingACharacter) {
    EXPECT_EQ(ShortenedText("short", 5), "short");
    EXPECT_EQ(ShortenedText("longer", 4), "long...");
    EXPECT_EQ(ShortenedText("ab\xC3\xA9z", 3), "ab...");
    EXPECT_EQ(ShortenedText(std::string(7 << 20, 'x'), 200), std::string(200, 'x') + "...");
}

TEST(LastPathPart, AfterTheLastSeparatorGiven) {
    EXPECT_EQ(LastPathPart("/a/b\\c.avs", "/"), "b\\c.avs");
    EXPECT_EQ(LastPathPart("/a/b\\c.avs", "\\/"), "c.avs");
    EXPECT_EQ(LastPathPart("clip.avs", "/"), "clip.avs");
}

TEST(PadLine, FillsToOneColumnLessThanTheWidth) {
    EXPECT_EQ(PadLine("", 80), std::string(79, ' '));
    EXPECT_EQ(PadLine(std::string(79, 'a'), 80), std::string(79, 'a'));
    EXPECT_EQ(PadLine(std::string(100, 'a'), 80), std::string(100, 'a'));
    EXPECT_EQ(PadLine("ab", 5), "ab  ");
    EXPECT_EQ(PadLine("", 5000), "");  // an absurd width adds nothing
}

TEST(ExceptionCodeText, NamesKnownCodesAndFallsBackForOthers) {
    EXPECT_EQ(ExceptionCodeText(0xC0000094), "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO");
    EXPECT_EQ(ExceptionCodeText(0xC0000005), "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION");
    EXPECT_EQ(ExceptionCodeText(0xC06D007E), "Exception 0xC06D007E\nDelay-load module not found");
    EXPECT_EQ(ExceptionCodeText(0xDEADBEEF), "Exception 0xDEADBEEF\nUnknown system exception");
    EXPECT_EQ(ExceptionCodeText(0), "Exception 0x00000000\nUnknown system exception");
}

}  // namespace
