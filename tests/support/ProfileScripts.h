// Scripts split into their statements, shared by the splitter's unit test
// and the test that evaluates every stage in the real frame server (so they
// use only its internal filters).
#pragma once

#include <string>
#include <vector>

struct ProfileScript {
    const char* Name;
    std::string Text;
    // Per statement: line, kind (expr, assign NAME, global NAME, block,
    // return, function), "prefetch(ARGUMENTS)" when it calls Prefetch,
    // "unreached" after a top-level return, then ": " and its display text.
    std::vector<std::string> Statements;
    // Per statement, what its stage evaluates to in the frame server: c a
    // clip, n a value that is no clip, - no stage.
    const char* Stages;
};

inline const std::vector<ProfileScript>& ProfileScripts() {
    static const std::vector<ProfileScript> scripts = {
        {"comments, strings, continuations and a function defined after its use",
         "# a comment line\n"
         "src = BlankClip(length=20, width=320, height=240, pixel_type=\"YV12\")\n"
         "/* a block comment\n"
         "   over two lines */ src.Twice()\n"
         "Sharpen(0.3) \\\t\n"
         "\n"
         "  \\ .Invert()\n"
         "[* nested [* block *] comment *] Spline36Resize(640, 480)\n"
         "title = \"\"\"a \"quoted\" word\n"
         "and\ta second line\"\"\"\n"
         "StrLen(title)\n"
         "tag = e\"# and /* in a \\\"string\\\"\" # a comment \\\n"
         "Blur(0.1)\n"
         "function Twice(clip c)\n"
         "\n"
         "{\n"
         "  c.Blur(0.5)\n"
         "  return last.Blur(0.5)\n"
         "}\n",
         {"2 assign src: src = BlankClip(length=20, width=320, he", "4 expr: src.Twice()",
          "5 expr: Sharpen(0.3) .Invert()", "8 expr: Spline36Resize(640, 480)",
          "9 assign title: title = \"\"\"a \"quoted\" word and a second", "11 expr: StrLen(title)",
          "12 assign tag: tag = e\"# and /* in a \\\"string\\\"\"", "13 expr: Blur(0.1)",
          "14 function: function Twice(clip c) { c.Blur(0.5) ret"},
         "ccccnnnc-"},
        {"blocks, a global and a return",
         "BlankClip(length=20, pixel_type=\"YV12\")\n"
         "if (Width() > 100) {\n"
         "  Blur(0.2)\n"
         "} else if (Width() > 50) {\n"
         "  Blur(0.3)\n"
         "}\n"
         "else\n"
         "{\n"
         "  Blur(0.4)\n"
         "}\n"
         "try {\n"
         "  Invert()\n"
         "}\n"
         "# a comment between try and catch\n"
         "catch (message) {\n"
         "  BlankClip()\n"
         "}\n"
         "for (i = 1, 2) { Blur(0.1) } Sharpen(0.1)\n"
         "While (false) { Blur(0.1) }\n"
         "global frames = FrameCount()\n"
         "return last.Sharpen(0.2)\n"
         "Invert()\n"
         "function Unused(clip c) { c }\n",
         {"1 expr: BlankClip(length=20, pixel_type=\"YV12\")",
          "2 block: if (Width() > 100) { Blur(0.2) } else if", "11 block: try { Invert() } catch (message) { Blank",
          "18 block: for (i = 1, 2) { Blur(0.1) }", "18 expr: Sharpen(0.1)", "19 block: While (false) { Blur(0.1) }",
          "20 global frames: global frames = FrameCount()", "21 return: return last.Sharpen(0.2)",
          "22 expr unreached: Invert()", "23 function unreached: function Unused(clip c) { c }"},
         "ccccccnc--"},
        {"Prefetch on a variable",
         "threads = 2\r\n"
         "src = BlankClip(length=20, pixel_type=\"YV12\")\r\n"
         "x = src.Blur(0.5)\r\n"
         "x = x.Prefetch(threads)\r\n"
         "x\r\n",
         {"1 assign threads: threads = 2", "2 assign src: src = BlankClip(length=20, pixel_type=\"Y",
          "3 assign x: x = src.Blur(0.5)", "4 assign x prefetch(threads): x = x.Prefetch(threads)", "5 expr: x"},
         "ncccc"},
        {"Prefetch of last, its threads set late, then __END__",
         "BlankClip(length=20, pixel_type=\"YV12\")\n"
         "Blur(0.5).Sharpen(0.5)\n"
         "threads = 2\n"
         "last.Prefetch( threads ) # on every stage\n"
         "__End__ nothing here is read: { \" [*\n",
         {"1 expr: BlankClip(length=20, pixel_type=\"YV12\")", "2 expr: Blur(0.5).Sharpen(0.5)",
          "3 assign threads: threads = 2", "4 expr prefetch(threads): last.Prefetch( threads )"},
         "ccnc"},
    };
    return scripts;
}
