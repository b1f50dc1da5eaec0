// Every stage of the splitter's scripts evaluated by the real frame server,
// each in an environment of its own as a profile will: a clip, or a value
// that is no clip, and never an error of the stage's making.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frameserver/ScriptStatements.h"
#include "frameserver/Session.h"
#include "platform/Files.h"
#include "tests/realfs/RealFS.h"
#include "tests/support/ProfileScripts.h"
#include "tests/support/ScratchDir.h"

namespace {

const char* const kNotAClip = "no clip: %s";

// The rows of a profile's table on the console.
std::vector<std::string> ProfileTable(const std::vector<std::string>& lines) {
    size_t at = 0;
    while (at < lines.size() && lines[at].compare(0, 15, "Line Statement ") != 0) ++at;
    std::vector<std::string> rows;
    for (++at; at < lines.size() && !lines[at].empty(); ++at) rows.push_back(lines[at]);
    return rows;
}

// 'c' for a clip, 'n' for a value that is no clip, else the error. With a
// text, that text is evaluated as if it were the file's.
std::string Evaluated(const std::string& path, const std::string* text = nullptr) {
    const OpenedSession opened = OpenSession(REAL_FRAMESERVER, 7);
    if (!opened.Session) return opened.Text;
    FrameServerContext& session = *opened.Session;
    bool clip = false;
    const SessionResult evaluated = RunSession(
        session,
        [&] {
            ScriptChecks checks;
            checks.NotAClip = kNotAClip;
            if (text) session.EvaluateText(path, *text, checks, true);
            else session.Evaluate(path, checks, true);
            clip = session.Facts().HasVideo;
            session.ReleaseScript();
        },
        [] { return std::string("an exception"); });
    const RunEnding& work = evaluated.Work;
    if (!work.Failed()) return clip ? "c" : "no video";
    return work.Message == "no clip: " + path ? "n" : work.Message;
}

TEST(RealFS, EveryStageOfASplitScriptEvaluates) {
    ScratchDir dir;
    for (const ProfileScript& script : ProfileScripts()) {
        const ScriptOutline outline = OutlineScript(script.Text);
        ASSERT_EQ(outline.Statements.size(), std::string(script.Stages).size()) << script.Name;
        // The whole script first: the stages are cut from a script that works.
        const std::string whole = dir.Path("whole.avs");
        ASSERT_TRUE(WriteBytes(whole, script.Text));
        EXPECT_EQ(Evaluated(whole), "c") << script.Name;
        for (size_t index = 0; index < outline.Statements.size(); ++index) {
            const char expected = script.Stages[index];
            EXPECT_EQ(IsStageCandidate(outline.Statements[index]), expected != '-') << script.Name << ", " << index;
            if (expected == '-') continue;
            const std::string stage = dir.Path("stage" + std::to_string(index) + ".avs");
            const std::string text = StageScript(script.Text, outline, index);
            ASSERT_TRUE(WriteBytes(stage, text));
            EXPECT_EQ(Evaluated(stage), std::string(1, expected)) << script.Name << ", stage " << index << ":\n" << text;
        }
    }
}

// What the splitter relies on, as the frame server does it.
TEST(RealFS, TheLanguageAsTheSplitterReadsIt) {
    const struct {
        const char* Rule;
        const char* Script;
        const char* Outcome;  // c for a clip, else the start of the error
    } cases[] = {
        {"a line end inside parentheses ends the statement", "BlankClip(length=20,\n pixel_type=\"YV12\")\n",
         "Script error: syntax error"},
        {"no continuation after a comment", "BlankClip() # \\\n\\ .Blur(0.5)\n",
         "Script error: `\\' can only appear at the beginning or end of a line"},
        {"a continuation after blank lines", "BlankClip()\n\n\n  \\ .Blur(0.5)\n", "c"},
        {"a function defined after a return", "return F(BlankClip())\nfunction F(clip c) { c }\nInvert()\n", "c"},
        {"nothing after __END__", "BlankClip()\n__end__\nInvert(\n", "c"},
    };
    ScratchDir dir;
    const std::string path = dir.Path("rule.avs");
    for (const auto& test : cases) {
        ASSERT_TRUE(WriteBytes(path, test.Script));
        const std::string outcome = Evaluated(path);
        EXPECT_EQ(outcome.substr(0, std::string(test.Outcome).size()), test.Outcome) << test.Rule << ": " << outcome;
    }
}

// A text evaluated as the file would be: the script-name globals as the
// frame server's Import sets them (the same checks pass both ways), a
// relative Import from the script's folder, the working folder set back.
TEST(RealFS, ATextIsEvaluatedAsImportEvaluatesTheFile) {
    ScratchDir dir;
    const std::string path = dir.Path("probe.avs");
    const std::string folder = path.substr(0, path.size() - std::string("probe.avs").size());
    auto quoted = [](const std::string& text) { return "\"\"\"" + text + "\"\"\""; };
    const std::string text =
        "Assert(ScriptName() == " + quoted(path) + ", \"name: \" + ScriptName())\n"
        "Assert(ScriptFile() == \"probe.avs\", \"file: \" + ScriptFile())\n"
        "Assert(ScriptDir() == " + quoted(folder) + ", \"dir: \" + ScriptDir())\n"
        "Assert(ScriptDirUtf8() == ScriptDir(), \"utf8: \" + ScriptDirUtf8())\n"
        "Import(\"part.avsi\")\n";
    ASSERT_TRUE(WriteBytes(path, text));
    ASSERT_TRUE(WriteBytes(dir.Path("part.avsi"), "BlankClip(length=10, pixel_type=\"YV12\")\n"));
    const std::string before = platform::WorkingFolder();
    EXPECT_EQ(Evaluated(path), "c");
    EXPECT_EQ(Evaluated(path, &text), "c");
    EXPECT_EQ(platform::WorkingFolder(), before);
    // An error names the script and the line, as one of the file's would.
    const std::string failing = "BlankClip()\nNoSuchFunction()\n";
    EXPECT_NE(Evaluated(path, &failing).find("probe.avs, line 2"), std::string::npos) << Evaluated(path, &failing);
}

// The profile of a script of five statements: five stages whose time per
// frame rises with each filter (the test plug-in's filters cost a fixed
// time per frame, several times what the stage before costs, far beyond the
// noise of a loaded machine), the Prefetch call applied to every stage;
// nothing new beside the script but the files asked for.
TEST(RealFS, AProfileOfFiveStatements) {
    RealRun tachoro;
    const std::string script = tachoro.Script("five.avs",
                                              "BlankClip(length=100000, width=640, height=480, pixel_type=\"YV12\")\n"
                                              "SlowFrames(2000)\n"
                                              "SlowFrames(8000)\n"
                                              "Spline64Resize(5760, 4320)\n"
                                              "Prefetch(2)\n");
    std::vector<std::string> names = tachoro.FileNames();
    names.push_back("five.json");
    ProcessResult result = tachoro.Run({script, "-profile", "-timelimit=2", "-json"});
    EXPECT_EXIT_CODE(result, 0);
    const std::vector<std::string> lines = ScreenLines(result.Err);
    const std::vector<std::string> heading = Section(lines, "Profile: each stage measured for at most 2 s");
    ASSERT_FALSE(heading.empty()) << result.Err;
    EXPECT_EQ(heading[0], "Prefetch(2) of line 6 is applied to every stage.");
    const std::vector<std::string> table = ProfileTable(lines);
    ASSERT_EQ(table.size(), 5u) << result.Err;
    std::string rows;
    for (const std::string& row : table) rows += row + "\n";
    std::vector<double> ms;
    for (size_t stage = 0; stage < 5; ++stage) {
        const std::vector<std::string> fields = Fields(table[stage].substr(45), ' ');
        ASSERT_EQ(fields.size(), 4u) << rows;
        EXPECT_EQ(table[stage].substr(0, 5), "   " + std::to_string(stage + 2) + " ");
        ms.push_back(std::stod(fields[1]));
    }
#if defined(_WIN32)
    // Under Wine the threads of Prefetch are scheduled with a scatter of
    // several milliseconds a frame on a loaded machine (a bare source from 1
    // to 15 ms): only the largest step, the resize to 5760x4320, is checked
    // there.
    EXPECT_GT(ms[3], ms[0]) << rows;
#else
    // Each filter adds to the stage before it; the last stage adds nothing
    // but a Prefetch call that every stage has.
    for (size_t stage = 1; stage < 4; ++stage) EXPECT_GT(ms[stage], ms[stage - 1]) << rows;
#endif
    EXPECT_NE(ReadBytes(tachoro.Path("five.json")).find("\"statement\": \"Spline64Resize(5760, 4320)\""),
              std::string::npos);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(tachoro.FileNames(), names);
}

// A stage that fails is reported on its line with the message; the others
// are measured; a statement whose value is no clip gives no stage.
TEST(RealFS, AProfileGoesOnAfterAStageThatFails) {
    SKIP_UNDER_WINE_OVER_CLASS(kUnloadedUnderItsThreads);
    RealRun tachoro;
    // The FailAt of the calibration is the first, the run's the second, the
    // stage of line 4 makes the third.
    const std::string script = tachoro.Script("clip.avs",
                                              "BlankClip(length=300, width=320, height=240, pixel_type=\"YV12\").SlowFrames(2000)\n"
                                              "radius = 1.0\n"
                                              "FailAt(10, \"error\", instance=3, message=\"Stage failed\")\n"
                                              "Blur(radius)\n");
    ProcessResult result = tachoro.Run({script, "-profile", "-timelimit=1"});
    EXPECT_EXIT_CODE(result, 0);
    const std::vector<std::string> table = ProfileTable(ScreenLines(result.Err));
    ASSERT_EQ(table.size(), 3u) << result.Err;
    EXPECT_EQ(table[0].substr(0, 5), "   2 ");
    EXPECT_EQ(table[1].substr(0, 5), "   4 ");
    EXPECT_NE(table[1].find("frame-server error: Stage failed"), std::string::npos) << table[1];
    EXPECT_EQ(table[2].substr(0, 5), "   5 ");
    EXPECT_EQ(Fields(table[2].substr(45), ' ').size(), 4u) << table[2];
}

}  // namespace
