// -baseline: the JSON reader, the baseline read from a results file, the
// checks that it fits this script, the switch's value and the comparison.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "measure/BaselineCheck.h"
#include "report/BaselineFile.h"
#include "report/BaselineReport.h"
#include "report/JsonFile.h"
#include "report/JsonReader.h"
#include "tests/support/ReportTestSupport.h"
#include "tests/support/ScratchDir.h"

namespace {

JsonParse Parse(const std::string& text, const JsonLimits& limits = JsonLimits()) {
    return ParseJson(text.data(), text.size(), limits);
}

TEST(JsonReader, ReadsValuesAndRefusesWhatIsNoJson) {
    const JsonParse parse = Parse("\xEF\xBB\xBF {\"a\": [1, -2.5e1, true, null, \"x\\u00e9\\ud83d\\ude00\\n\"],"
                                  " \"big\": 12345678901234567890, \"b\": {}}\r\n");
    ASSERT_EQ(parse.Error, "");
    const JsonValue* a = parse.Value.Member("a");
    ASSERT_TRUE(a && a->Items.size() == 5u);
    EXPECT_EQ(*a->Items[0].Integer(), 1);
    EXPECT_EQ(*a->Items[1].Number(), -25.0);
    EXPECT_FALSE(a->Items[1].Integer());
    EXPECT_TRUE(a->Items[2].Bool);
    EXPECT_EQ(a->Items[3].Kind, JsonValue::Type::Null);
    EXPECT_EQ(a->Items[4].Text, "x\xC3\xA9\xF0\x9F\x98\x80\n");
    EXPECT_FALSE(parse.Value.Member("big")->Integer());  // beyond 64 bits: a number, not a whole one
    EXPECT_EQ(*parse.Value.Member("big")->Number(), 12345678901234567890.0);
    EXPECT_EQ(parse.Value.Member("b")->Kind, JsonValue::Type::Object);
    EXPECT_EQ(parse.Value.Member("c"), nullptr);

    const struct {
        std::string Text;
        const char* Error;
    } bad[] = {
        {"", "line 1, column 1: unexpected end of the text"},
        {"{\"a\":1,}", "line 1, column 8: expected a member name"},
        {"{\"a\" 1}", "line 1, column 6: expected ':'"},
        {"[1 2]", "line 1, column 4: expected ',' or ']'"},
        {"{\"a\":1\n\"b\":2}", "line 2, column 1: expected ',' or '}'"},
        {"{\"a\":1,\"a\":2}", "line 1, column 8: a member name comes twice"},
        {"[1] x", "line 1, column 5: text after the value"},
        {"[01]", "line 1, column 3: expected ',' or ']'"},
        {"[1.]", "line 1, column 4: invalid number"},
        {"[-]", "line 1, column 3: invalid number"},
        {"[1e400]", "line 1, column 2: a number out of range"},
        {"[" + std::string(401, '1') + "]", "line 1, column 2: a number too long"},
        {"[tru]", "line 1, column 2: expected a value"},
        {"[\"a\tb\"]", "line 1, column 4: a control character in a string"},
        {"[\"\\x\"]", "line 1, column 4: invalid escape"},
        {"[\"\\u12g4\"]", "line 1, column 7: invalid \\u escape"},
        {"[\"\\udc00\"]", "line 1, column 3: a lone surrogate"},
        {"[\"\\ud800x\"]", "line 1, column 3: a lone surrogate"},
        {"[\"\\ud800\\u0041\"]", "line 1, column 3: a lone surrogate"},
        {"[\"\xC3\"]", "line 1, column 2: invalid UTF-8 in a string"},
        {"[\"\xED\xA0\x80\"]", "line 1, column 2: invalid UTF-8 in a string"},
        {"[\"abc", "line 1, column 6: unexpected end of the text"},
        {std::string("[1,\0]", 5), "line 1, column 4: expected a value"},
        {std::string(65, '[') + std::string(65, ']'), "line 1, column 65: nested too deeply"},
    };
    for (const auto& test : bad) {
        const JsonParse refused = Parse(test.Text);
        EXPECT_EQ(refused.Error, test.Error) << test.Text;
        EXPECT_EQ(refused.Value.Kind, JsonValue::Type::Null) << test.Text;
    }
    EXPECT_EQ(Parse(std::string(64, '[') + std::string(64, ']')).Error, "");
}

TEST(JsonReader, SkippedMembersAreCheckedButNotKeptAndKeptValuesAreBounded) {
    JsonLimits limits;
    limits.SkippedMembers = {"samples"};
    limits.MaxValues = 4;
    // Six values in the samples, four kept: the root, a, b and its value.
    const JsonParse parse = Parse("{\"a\":1,\"samples\":[{\"x\":1,\"x\":2},[3]],\"b\":[true]}", limits);
    ASSERT_EQ(parse.Error, "");
    EXPECT_EQ(parse.Value.Member("samples"), nullptr);
    EXPECT_EQ(parse.Value.Keys, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Parse("{\"a\":1,\"samples\":[\"\xC3\"]}", limits).Error, "line 1, column 19: invalid UTF-8 in a string");
    EXPECT_EQ(Parse("{\"a\":1,\"b\":[1,2]}", limits).Error, "line 1, column 15: too many values");
}

// A series of `rates` (one counted run each) of a 720x576 YV12 clip of 250
// frames over frames 10..109, as ProduceJson writes it.
std::string ResultsFile(const std::vector<double>& rates, const std::string& script = "C:\\clips\\Test.avs") {
    SeriesReport series;
    series.ScriptPath = script;
    ClipFacts clip;
    clip.HasVideo = true;
    clip.FrameCount = 250;
    clip.Width = 720;
    clip.Height = 576;
    clip.Colour = ColourSpace::YV12;
    series.Clip = clip;
    series.RunsRequested = static_cast<uint32_t>(rates.size());
    for (double rate : rates) {
        RunRecord run;
        run.Number = static_cast<uint32_t>(series.Runs.size() + 1);
        run.Measured = true;
        run.Stats.FirstFrame = 10;
        run.Stats.FramesToProcess = 100;
        run.Stats.SamplesStored = 1;
        run.Stats.FPSMin = run.Stats.FPSMax = run.Stats.FPSAverage = rate;
        run.Samples = {MakeSample(109, rate, rate, 1, 0, 0, 1, 1, 1)};
        series.Runs.push_back(run);
    }
    StringSink json;
    ProduceJson(series, json);
    return json.Text;
}

BaselineRead FromJson(const std::string& text) { return BaselineFromJson(text.data(), text.size(), "b.json"); }

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(BaselineFile, ReadsWhatTheResultsFileSays) {
    const BaselineRead three = FromJson(ResultsFile({40, 50, 60}));
    ASSERT_TRUE(three.Facts) << three.Error;
    const Baseline& baseline = *three.Facts;
    EXPECT_EQ(baseline.ScriptPath, "C:\\clips\\Test.avs");
    EXPECT_EQ(baseline.ScriptName, "Test.avs");
    EXPECT_EQ(baseline.Clip.Frames, 250);
    EXPECT_EQ(baseline.Clip.Width, 720);
    EXPECT_EQ(baseline.Clip.Height, 576);
    EXPECT_EQ(baseline.Clip.ColourSpace, "YV12");
    EXPECT_EQ(baseline.Clip.FirstFrame, 10u);
    EXPECT_EQ(baseline.Clip.LastFrame, 109u);
    EXPECT_EQ(baseline.Figures.Runs, 3u);
    EXPECT_EQ(baseline.Figures.Mean, 50);
    EXPECT_EQ(*baseline.Figures.StandardDeviation, 10);
    EXPECT_EQ(baseline.Figures.Min, 40);
    EXPECT_EQ(baseline.Figures.Max, 60);

    const BaselineRead one = FromJson(ResultsFile({42.5}, "/home/u/test.avs"));
    ASSERT_TRUE(one.Facts) << one.Error;
    EXPECT_EQ(one.Facts->ScriptName, "test.avs");
    EXPECT_EQ(one.Facts->Figures.Mean, 42.5);
    EXPECT_FALSE(one.Facts->Figures.StandardDeviation);
}

TEST(BaselineFile, RefusesWhatIsNoMeasurementOfThisKind) {
    const std::string file = ResultsFile({40, 50});
    const std::string notResults = "The baseline file \"b.json\" is not a Tachoro results file";
    const struct {
        std::string Text;
        std::string Error;
    } cases[] = {
        {"{\"format\": \"other\"}", notResults},
        {"[1]", notResults},
        {file.substr(0, file.size() / 2), notResults + ": not JSON (line "},
        {Replaced(file, "\"schemaVersion\": 1", "\"schemaVersion\": 2"),
         "The baseline file \"b.json\" has results of format version 2; this Tachoro reads version 1"},
        {Replaced(file, "\"schemaVersion\": 1", "\"schemaVersion\": \"1\""),
         notResults + ": schemaVersion is missing or not a whole number from 0 to 2147483647"},
        {Replaced(file, "\"mode\": \"measure\"", "\"mode\": \"info\""), "The baseline file \"b.json\" holds no measured run"},
        {Replaced(file, "\"mode\": \"measure\"", "\"mode\": 1"), notResults + ": mode is missing or not a string"},
        {Replaced(file, "\"frames\": 250", "\"frames\": 1e3"),
         notResults + ": clip.frames is missing or not a whole number from 0 to 2147483647"},
        {Replaced(file, "\"width\": 720", "\"width\": 99999999999"),
         notResults + ": clip.width is missing or not a whole number from 0 to 2147483647"},
        {Replaced(file, "\"fpsMean\": 45", "\"fpsMean\": 0"), notResults + ": series.fpsMean is missing or not a number above 0"},
        {Replaced(file, "\"fpsStandardDeviation\": 7.", "\"fpsStandardDeviation\": -7."),
         notResults + ": series.fpsStandardDeviation is missing or not a number of at least 0"},
        {Replaced(Replaced(file, "\"counted\": true", "\"counted\": false"), "\"counted\": true",
                  "\"counted\": false"),
         notResults + ": runs[].counted is missing or not true for any run"},
    };
    for (const auto& test : cases) {
        const BaselineRead read = FromJson(test.Text);
        EXPECT_FALSE(read.Facts);
        EXPECT_EQ(read.Error.substr(0, test.Error.size()), test.Error) << read.Error;
    }
    // The range of the first run that counted.
    const BaselineRead second = FromJson(Replaced(file, "\"counted\": true", "\"counted\": false"));
    ASSERT_TRUE(second.Facts) << second.Error;
    EXPECT_EQ(second.Facts->Clip.FirstFrame, 10u);
    const std::string series = file.substr(file.find("\"series\""));
    const std::string noSeries = Replaced(file, series, "\"series\": null\n}\n");
    EXPECT_EQ(FromJson(noSeries).Error, "The baseline file \"b.json\" holds no measured run");
}

TEST(BaselineFile, FileFailuresAreNamed) {
    ScratchDir dir;
    EXPECT_EQ(ReadBaselineFile(dir.Path("none.json")).Error,
              "Cannot open the baseline file \"" + dir.Path("none.json") + "\"");
    std::filesystem::create_directory(dir.Path("folder.json"));
    const BaselineRead folder = ReadBaselineFile(dir.Path("folder.json"));
    EXPECT_NE(folder.Error.find("folder.json"), std::string::npos) << folder.Error;
    EXPECT_FALSE(folder.Facts);
    ASSERT_TRUE(WriteBytes(dir.Path("good.json"), ResultsFile({30})));
    EXPECT_TRUE(ReadBaselineFile(dir.Path("good.json")).Facts);
}

TEST(BaselineFile, MustBeOfThisScriptClipAndRange) {
    const Baseline baseline = *FromJson(ResultsFile({40})).Facts;
    EXPECT_EQ(BaselineScriptMismatch(baseline, "b.json", "/other/place/TEST.AVS"), "");
    EXPECT_EQ(BaselineScriptMismatch(baseline, "b.json", "C:\\clips\\test2.avs"),
              "The baseline file \"b.json\" is of another script: C:\\clips\\Test.avs");

    ClipFacts facts;
    facts.FrameCount = 250;
    facts.Width = 720;
    facts.Height = 576;
    facts.Colour = ColourSpace::YV12;
    EXPECT_EQ(BaselineClipMismatch(baseline, "b.json", BaselineClipOf(facts, 10, 109)), "");
    EXPECT_EQ(BaselineClipMismatch(baseline, "b.json", BaselineClipOf(facts, 0, 109)),
              "The baseline file \"b.json\" measured frames 10 to 109; this run measures frames 0 to 109");
    facts.Colour = ColourSpace::Unknown;
    facts.PixelTypeName = "YUV420P10";
    EXPECT_EQ(BaselineClipMismatch(baseline, "b.json", BaselineClipOf(facts, 10, 109)),
              "The baseline file \"b.json\" is of another clip: 250 frames, 720x576, YV12; this script's clip: "
              "250 frames, 720x576, YUV420P10");
    facts.Colour = ColourSpace::YV12;
    facts.Height = 480;
    EXPECT_NE(BaselineClipMismatch(baseline, "b.json", BaselineClipOf(facts, 10, 109)), "");
    facts.Height = 576;
    facts.FrameCount = 251;
    EXPECT_NE(BaselineClipMismatch(baseline, "b.json", BaselineClipOf(facts, 10, 109)), "");
}

TEST(BaselineArgument, AFileNameAndAThresholdAfterTheLastComma) {
    const struct {
        const char* Value;
        const char* Path;
        double Threshold;
        const char* Error;
    } cases[] = {
        {"old.json", "old.json", 2, ""},
        {"old.json,5", "old.json", 5, ""},
        {"old.json,0.5", "old.json", 0.5, ""},
        {"a,b.json", "a,b.json", 2, ""},
        {"a,b.json,.5", "a,b.json", 0.5, ""},
        {"old.json,0", "old.json", 0, ""},
        {"old.json,100", "old.json", 100, ""},
        {"old.json,100.5", "old.json", 100.5, "The threshold is a percentage from 0 to 100: 100.5"},
        {"old.json,-1", "old.json,-1", 2, ""},
        {"old.json,1.2.3", "old.json,1.2.3", 2, ""},
        {",5", "", 5, "The baseline needs a file name"},
        {"", "", 2, "The baseline needs a file name"},
    };
    for (const auto& test : cases) {
        const BaselineArgument argument = ParseBaselineArgument(test.Value);
        EXPECT_EQ(argument.Path, test.Path) << test.Value;
        EXPECT_EQ(argument.ThresholdPercent, test.Threshold) << test.Value;
        EXPECT_EQ(argument.Error, test.Error) << test.Value;
    }
}

TEST(BaselineComparison, VerdictAndFailureByNoiseAndThreshold) {
    const struct {
        const char* Case;
        std::vector<double> Now, Before;
        double Threshold;
        BaselineVerdict Verdict;
        bool Fails;
    } cases[] = {
        {"the same", {99, 100, 101}, {99, 100, 101}, 2, BaselineVerdict::NoChange, false},
        {"10 % slower, little noise", {89, 90, 91}, {99, 100, 101}, 2, BaselineVerdict::Slower, true},
        {"1.5 % slower beyond the noise, within the threshold", {98.4, 98.5, 98.6}, {99.9, 100, 100.1}, 2,
         BaselineVerdict::Slower, false},
        {"5 % slower within much noise", {75, 95, 115}, {80, 100, 120}, 2, BaselineVerdict::NoChange, false},
        {"10 % faster", {109, 110, 111}, {99, 100, 101}, 2, BaselineVerdict::Faster, false},
        {"3 % slower within a threshold of 5", {96.9, 97, 97.1}, {99.9, 100, 100.1}, 5, BaselineVerdict::Slower, false},
        {"0.5 % slower beyond the noise, threshold 0", {99.45, 99.5, 99.55}, {99.9, 100, 100.1}, 0,
         BaselineVerdict::Slower, true},
        // One run on either side: no noise known, the threshold stands in.
        {"one run each, 1 % slower", {99}, {100}, 2, BaselineVerdict::NoChange, false},
        {"one run each, 3 % slower", {97}, {100}, 2, BaselineVerdict::Slower, true},
        {"one run each, 3 % faster", {103}, {100}, 2, BaselineVerdict::Faster, false},
        {"five runs against one, 3 % slower", {96, 97, 97, 97, 98}, {100}, 2, BaselineVerdict::Slower, true},
        {"exactly the threshold slower", {75}, {100}, 25, BaselineVerdict::NoChange, false},
    };
    for (const auto& test : cases) {
        const BaselineComparison comparison =
            CompareWithBaseline(SummariseSeries(test.Now), SummariseSeries(test.Before), test.Threshold);
        EXPECT_EQ(comparison.Verdict, test.Verdict) << test.Case;
        EXPECT_EQ(comparison.SlowerBeyondThreshold, test.Fails) << test.Case;
        EXPECT_EQ(comparison.Speed.Uncertainty.has_value(), test.Now.size() > 1 && test.Before.size() > 1) << test.Case;
    }
    // The ratio and its uncertainty are those of a comparison of scripts.
    const SeriesFigures now = SummariseSeries({89, 90, 91}), before = SummariseSeries({99, 100, 101});
    const BaselineComparison comparison = CompareWithBaseline(now, before, 2);
    EXPECT_DOUBLE_EQ(comparison.Speed.Ratio, 0.9);
    EXPECT_DOUBLE_EQ(*comparison.Speed.Uncertainty, *RelativeTo(now, before, false).Uncertainty);
    EXPECT_STREQ(BaselineVerdictText(BaselineVerdict::NoChange), "no change within the noise");
    EXPECT_STREQ(BaselineVerdictText(BaselineVerdict::Slower), "slower");
    EXPECT_STREQ(BaselineVerdictText(BaselineVerdict::Faster), "faster");
}

// The e2e tests see a verdict beyond the threshold; these are the others.
TEST(BaselineReport, AVerdictWithinTheThresholdAndSingleRuns) {
    const auto lines = [](std::vector<double> now, std::vector<double> before, double threshold) {
        const SeriesFigures was = SummariseSeries(before);
        return BaselineLines(BaselineOutcome{"base\x1b.json", threshold, was,
                                             CompareWithBaseline(SummariseSeries(now), was, threshold)});
    };
    const std::vector<std::string> within = lines({96.9, 97, 97.1}, {99.9, 100, 100.1}, 5.5);
    EXPECT_EQ(within[0], "Baseline file:                  base?.json");
    EXPECT_EQ(within[3], "Speed relative to baseline:     0.970 +/- 0.001");
    EXPECT_EQ(within[4], "Verdict:                        slower, within the 5.5 % threshold");
    const std::vector<std::string> single = lines({101}, {100}, 2);
    EXPECT_EQ(single[2], "Baseline FPS (mean | sd):       100.0 | n/a");
    EXPECT_EQ(single[3], "Speed relative to baseline:     1.010 (one run on a side: no uncertainty)");
    EXPECT_EQ(single[4], "Verdict:                        no change within the noise");
}

}  // namespace
