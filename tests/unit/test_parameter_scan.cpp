// The values of -vary: their types, rows and the messages of bad input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frameserver/ParameterScan.h"

namespace {

// "type: row row ...", or the error.
std::string Read(const std::string& text) {
    const ScanParse parse = ParseParameterScan(text);
    if (!parse.Error.empty()) return parse.Error;
    std::string rows = ScanTypeName(parse.Scan.Type) + std::string(":");
    for (size_t i = 0; i < parse.Scan.Values.size(); ++i) rows += " " + ScanRowName(parse.Scan, i);
    return rows;
}

TEST(ParameterScan, ValuesTypedByTheirForm) {
    const struct {
        const char* Text;
        const char* Rows;
    } cases[] = {
        {"threads=4,8,16", "int: threads=4 threads=8 threads=16"},
        {"threads=1..4", "int: threads=1 threads=2 threads=3 threads=4"},
        {"t=2..16:5", "int: t=2 t=7 t=12"},
        {"t=8..5", "int: t=8 t=7 t=6 t=5"},
        {"t=-1..-7:3", "int: t=-1 t=-4 t=-7"},
        {"t=3..3", "int: t=3"},
        {"t=1..2, 8 ,+016", "int: t=1 t=2 t=8 t=16"},
        {"t=-2147483648,2147483647", "int: t=-2147483648 t=2147483647"},
        {"radius=0.5,1.5,.25,2.,+3.0", "float: radius=0.5 radius=1.5 radius=.25 radius=2. radius=3.0"},
        {"Sharp=true,FALSE", "bool: Sharp=true Sharp=false"},
        {"preset=\"fast\",\"slow, steady\"", "string: preset=\"fast\" preset=\"slow, steady\""},
        {"p=\"\"\"say \"hi\"\"\"\",e\"a\\tb\"", "string: p=\"\"\"say \"hi\"\"\"\" p=e\"a\\tb\""},
        {"p=\"\"", "string: p=\"\""},
    };
    for (const auto& test : cases) EXPECT_EQ(Read(test.Text), test.Rows) << test.Text;

    // The values themselves, as the frame server gets them.
    const ScanParse strings = ParseParameterScan("p=\"\"\"say \"hi\"\"\"\",e\"a\\tb\\\"c\\q\"");
    ASSERT_EQ(strings.Scan.Values.size(), 2u) << strings.Error;
    EXPECT_EQ(strings.Scan.Values[0].String, "say \"hi\"");
    EXPECT_EQ(strings.Scan.Values[1].String, "a\tb\"c\\q");
    const ScanParse numbers = ParseParameterScan("r=0.1,-2.5");
    ASSERT_EQ(numbers.Scan.Values.size(), 2u) << numbers.Error;
    EXPECT_EQ(numbers.Scan.Values[0].Float, 0.1);
    EXPECT_EQ(numbers.Scan.Values[1].Float, -2.5);
    EXPECT_EQ(ParseParameterScan("t=-5").Scan.Values[0].Integer, -5);
    EXPECT_TRUE(ParseParameterScan("b=TRUE").Scan.Values[0].Bool);
}

TEST(ParameterScan, BadInputIsRefusedWithItsReason) {
    const struct {
        const char* Text;
        const char* Error;
    } cases[] = {
        {"threads", "Expected name=values, e.g. threads=1..8"},
        {"=1,2", "Not a variable name: \"\" (a letter or _, then letters, digits or _)"},
        {"2x=1", "Not a variable name: \"2x\" (a letter or _, then letters, digits or _)"},
        {"a-b=1", "Not a variable name: \"a-b\" (a letter or _, then letters, digits or _)"},
        {"Last=1", "The frame server reserves the name Last"},
        {"global=1", "The frame server reserves the name global"},
        {"t=", "An empty value in the list"},
        {"t=1,,2", "An empty value in the list"},
        {"t=1,", "An empty value in the list"},
        {"t=fast", "Not a value: fast (a whole number, a number with a decimal point, true, false or a quoted string)"},
        {"t=1e3", "Not a value: 1e3 (a whole number, a number with a decimal point, true, false or a quoted string)"},
        {"t=.", "Not a value: . (a whole number, a number with a decimal point, true, false or a quoted string)"},
        {"t=1.2.3", "Not a value: 1.2.3 (a whole number, a number with a decimal point, true, false or a quoted string)"},
        {"t=2147483648", "Out of range: 2147483648 (whole numbers go from -2147483648 to 2147483647)"},
        {"t=99999999999999999999", "Out of range: 99999999999999999999 (whole numbers go from -2147483648 to 2147483647)"},
        {"t=0..3000000000", "Out of range: 0..3000000000 (whole numbers go from -2147483648 to 2147483647)"},
        {"t=1..8:0", "Not a range: 1..8:0 (first..last or first..last:step, whole numbers, step above 0)"},
        {"t=1..8:-2", "Not a range: 1..8:-2 (first..last or first..last:step, whole numbers, step above 0)"},
        {"t=0.5..2", "Not a range: 0.5..2 (first..last or first..last:step, whole numbers, step above 0)"},
        {"t=1..", "Not a range: 1.. (first..last or first..last:step, whole numbers, step above 0)"},
        {"t=1...3", "Not a range: 1...3 (first..last or first..last:step, whole numbers, step above 0)"},
        {"t=1..101", "More than 100 values"},
        {"t=-2147483648..2147483647", "More than 100 values"},
        {"t=1..60,61..101", "More than 100 values"},
        {"t=1,2.5", "The values mix whole numbers and numbers with a decimal point"},
        {"t=\"a\",true", "The values mix strings and true/false"},
        {"t=1..4,3", "The value 3 comes twice"},
        {"t=\"a\",\"a\"", "The value \"a\" comes twice"},
        {"t=\"open", "A string is not closed: \"open"},
        {"t=\"a\"b", "Not one string: \"a\"b"},
        {"t=e\"a\\0b\"", "A string cannot hold \\0: e\"a\\0b\""},
    };
    for (const auto& test : cases) EXPECT_EQ(Read(test.Text), test.Error) << test.Text;
}

}  // namespace
