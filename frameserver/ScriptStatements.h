// A script divided into its top-level statements as the frame server's
// parser divides it, and the script of a stage: the script cut after one
// statement, evaluating to that statement's clip. Pure functions of text.
//
// Every statement the frame server evaluates, a function definition aside,
// is a stage candidate: whether it leaves a clip only its evaluation tells.
// A stage whose value is not a clip evaluates to that value (the frame
// server's Prefetch is applied only to a clip), so a caller that finds no
// clip drops the candidate; an error is the stage's own failure.
//
// What the splitter follows: "#" comments to the line's end; /* */ and
// nestable [* *] block comments, within which line ends do not end a
// statement; "...", """...""" and e"..." strings over any number of lines; a
// backslash at the end of a line, or as the first non-blank of the next one
// (blank lines between allowed), continuing the line; a line end before a
// "{" (blank lines between allowed) joining it; { } blocks; if/else (else if
// chains), while, for and try/catch as one statement each, however their
// lines run ("else" and "catch" may follow after line ends); __END__ in any
// case, and a NUL byte, ending the script. A line end inside parentheses ends
// the statement, as it does for the frame server (which then refuses the
// script); two statements on one line count as one, unless the first is a
// block. Where the frame server would refuse the script the splitter goes
// on without complaint: a script is evaluated whole before it is split.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class StatementKind {
    Expression,          // its value becomes `last` when it is a clip
    Assignment,          // name = expression
    GlobalAssignment,    // global name = expression
    Block,               // if, while, for, try: its value becomes `last`
    Return,              // return expression: the script's value
    FunctionDefinition,  // function name(...) { }: defined before anything runs
};

struct ScriptStatement {
    StatementKind Kind = StatementKind::Expression;
    uint32_t Line = 1;    // of its first character, from 1
    size_t Begin = 0;     // its bytes in the script: [Begin, End), from its
    size_t End = 0;       // first character to its last, comments after it not included
    std::string Text;     // those bytes
    // Its first 40 characters (a UTF-8 sequence counts as one) on one line:
    // comments and continuation backslashes left out, each run of blanks and
    // line ends one blank.
    std::string Display;
    std::string Variable;     // the name assigned, as written (Assignment, GlobalAssignment)
    bool Reached = true;      // false after a top-level return: parsed, never evaluated
    bool CallsPrefetch = false;     // calls Prefetch outside any { } block
    std::string PrefetchArguments;  // what stands between that call's parentheses
};

struct ScriptOutline {
    std::vector<ScriptStatement> Statements;
    size_t CodeEnd = 0;  // where the frame server stops reading: __END__, a NUL byte or the end
};

ScriptOutline OutlineScript(const std::string& script);

// Evaluated and not a function definition.
bool IsStageCandidate(const ScriptStatement& statement);

// The first reached statement after `index` that calls Prefetch; npos when
// there is none.
size_t PrefetchAfter(const ScriptOutline& outline, size_t index);

// The variable that holds an expression's or a return's value in a stage.
extern const char* const kStageVariable;

// The script of stage `index` (a stage candidate of `outline`, the outline of
// `script`): the script up to where the frame server stops reading, with
// every later statement blanked out but its line ends (so that every line
// keeps its number), then a line that gives the stage's clip: the variable
// assigned, `last` after a block, or kStageVariable, which the statement
// itself (an expression or a return) is made to assign. When PrefetchAfter
// names a statement, that line applies its Prefetch call to the clip:
//   IsClip(v) ? v.Prefetch(<its arguments>) : v
// Later statements that stay: function definitions (the frame server
// defines them wherever they stand), and assignments before that Prefetch
// call of a name its arguments use (threads = 4 before Prefetch(threads)).
// Any other name the arguments use must be set before the stage.
std::string StageScript(const std::string& script, const ScriptOutline& outline, size_t index);
