// Every stage of the splitter's scripts evaluated by the real frame server,
// each in an environment of its own as a profile will: a clip, or a value
// that is no clip, and never an error of the stage's making.
#include <gtest/gtest.h>

#include <string>

#include "frameserver/ScriptStatements.h"
#include "frameserver/Session.h"
#include "tests/realfs/RealFS.h"
#include "tests/support/ProfileScripts.h"
#include "tests/support/ScratchDir.h"

namespace {

const char* const kNotAClip = "no clip: %s";

// 'c' for a clip, 'n' for a value that is no clip, else the error.
std::string Evaluated(const std::string& path) {
    const OpenedSession opened = OpenSession(REAL_FRAMESERVER, 7);
    if (!opened.Session) return opened.Text;
    FrameServerContext& session = *opened.Session;
    bool clip = false;
    const SessionResult evaluated = RunSession(
        session,
        [&] {
            ScriptChecks checks;
            checks.NotAClip = kNotAClip;
            session.Evaluate(path, checks, true);
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

}  // namespace
