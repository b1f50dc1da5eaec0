// The script splitter of -profile and the scripts of its stages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frameserver/ScriptStatements.h"
#include "tests/support/ProfileScripts.h"

namespace {

std::string Described(const ScriptStatement& statement) {
    static const char* const kKinds[] = {"expr", "assign ", "global ", "block", "return", "function"};
    std::string text = std::to_string(statement.Line) + " " + kKinds[static_cast<int>(statement.Kind)] +
                       statement.Variable;
    if (statement.CallsPrefetch) text += " prefetch(" + statement.PrefetchArguments + ")";
    if (!statement.Reached) text += " unreached";
    return text + ": " + statement.Display;
}

std::vector<std::string> Outline(const std::string& script) {
    std::vector<std::string> lines;
    for (const ScriptStatement& statement : OutlineScript(script).Statements) lines.push_back(Described(statement));
    return lines;
}

TEST(ScriptStatements, SplitAsTheFrameServerParses) {
    for (const ProfileScript& script : ProfileScripts()) {
        EXPECT_EQ(Outline(script.Text), script.Statements) << script.Name;
        // Each statement's text is its bytes, which begin on its line.
        const ScriptOutline outline = OutlineScript(script.Text);
        for (const ScriptStatement& statement : outline.Statements) {
            EXPECT_EQ(statement.Text, script.Text.substr(statement.Begin, statement.End - statement.Begin));
            EXPECT_EQ(statement.Display.substr(0, 4), statement.Text.substr(0, 4)) << script.Name;
        }
    }
}

TEST(ScriptStatements, WhatEndsTheScriptAndWhatTheFrameServerWouldRefuse) {
    const struct {
        const char* Case;
        std::string Script;
        std::vector<std::string> Statements;
    } cases[] = {
        {"lone CR line ends", "a = 1\rb = 2\r\rBlur(1)", {"1 assign a: a = 1", "2 assign b: b = 2", "4 expr: Blur(1)"}},
        {"a NUL byte", std::string("Blur(1)\n\0Invert()\n", 18), {"1 expr: Blur(1)"}},
        {"__END__ within a line", "Blur(1) __END__ Invert()", {"1 expr: Blur(1)"}},
        {"a string never closed", "x = \"abc\nBlur(1)\n", {"1 assign x: x = \"abc Blur(1)"}},
        {"a block comment never closed", "Blur(1)\n/* Invert()\nSharpen(1)\n", {"1 expr: Blur(1)"}},
        {"a line end inside parentheses", "Blur(1,\n2)\n", {"1 expr: Blur(1,", "2 expr: 2)"}},
        {"a comment ends a continuation", "Blur(1) # \\\n\\ .Invert()\n", {"1 expr: Blur(1)", "2 expr: \\ .Invert()"}},
        {"a stray brace and backslash, a brace after a line end joining it", "}\nBlur(1) \\ x\n{", {"1 expr: }", "2 expr: Blur(1) \\ x {"}},
        {"else and catch after comments",
         "if (a) { b }\n# note\n\nelse { c }\ntry { d } catch (e) { f } g\n",
         {"1 block: if (a) { b } else { c }", "5 block: try { d } catch (e) { f }", "5 expr: g"}},
        {"a block never closed", "if (a) {\nBlur(1)\n", {"1 block: if (a) { Blur(1)"}},
        {"names that only begin like keywords", "iffy = 1\nglobal_x = 2\nelsewhere()\n",
         {"1 assign iffy: iffy = 1", "2 assign global_x: global_x = 2", "3 expr: elsewhere()"}},
        {"Prefetch forms",
         "x.Prefetch\nBlur(1).Prefetch(threads=2, frames=4)\nprefetch = 3\nif (true) { Prefetch(2) }\n"
         "y = Prefetch(2\n",
         {"1 expr prefetch(): x.Prefetch", "2 expr prefetch(threads=2, frames=4): Blur(1).Prefetch(threads=2, frames=4)",
          "3 assign prefetch: prefetch = 3", "4 block: if (true) { Prefetch(2) }", "5 assign y prefetch(2): y = Prefetch(2"}},
        {"forty characters, a UTF-8 sequence counting as one",
         "s = \"\xC3\xA9\xC3\xA9\xC3\xA9\tabcdefghijklmnopqrstuvwxyz0123456789\"",
         {"1 assign s: s = \"\xC3\xA9\xC3\xA9\xC3\xA9 abcdefghijklmnopqrstuvwxyz01234"}},
    };
    for (const auto& test : cases) EXPECT_EQ(Outline(test.Script), test.Statements) << test.Case;
    EXPECT_EQ(OutlineScript("Blur(1) __END__ Invert()").CodeEnd, 8u);
    EXPECT_EQ(OutlineScript(std::string("Blur(1)\n\0x", 10)).CodeEnd, 8u);
}

TEST(StageScripts, CutAfterTheStageKeepingLinesFunctionsAndThePrefetch) {
    const std::string script =
        "src = BlankClip()\n"
        "src.Late()\n"
        "threads = 2\n"
        "Prefetch(threads)\n"
        "function Late(clip c) { c.Invert() }\n";
    const ScriptOutline outline = OutlineScript(script);
    ASSERT_EQ(outline.Statements.size(), 5u);
    const std::string function = "function Late(clip c) { c.Invert() }\n\n\n";
    EXPECT_EQ(StageScript(script, outline, 0),
              "src = BlankClip()\n          \nthreads = 2\n                 \n" + function +
                  "IsClip(src) ? src.Prefetch(threads) : src\n");
    EXPECT_EQ(StageScript(script, outline, 2),
              "src = BlankClip()\nsrc.Late()\nthreads = 2\n                 \n" + function +
                  "IsClip(threads) ? threads.Prefetch(threads) : threads\n");
    EXPECT_EQ(StageScript(script, outline, 3),
              "src = BlankClip()\nsrc.Late()\nthreads = 2\n__tachoro_stage = Prefetch(threads)\n" + function +
                  "__tachoro_stage\n");

    const std::string blocks = "if (true) { BlankClip() }\nreturn last\nInvert()";
    const ScriptOutline blockOutline = OutlineScript(blocks);
    EXPECT_EQ(StageScript(blocks, blockOutline, 0), "if (true) { BlankClip() }\n           \n        \n\nlast\n");
    EXPECT_EQ(StageScript(blocks, blockOutline, 1),
              "if (true) { BlankClip() }\n__tachoro_stage =  last\n        \n\n__tachoro_stage\n");
    EXPECT_FALSE(IsStageCandidate(blockOutline.Statements[2]));
    EXPECT_EQ(PrefetchAfter(blockOutline, 0), std::string::npos);
}

}  // namespace
