// The frame-server language's lexical rules that Tachoro needs outside the
// frame server: names, string literals and their values. Pure functions of
// text, as AviSynth+ 3.7's tokenizer reads it.
#pragma once

#include <cstddef>
#include <string>

// A name: a letter or '_', then letters, digits and '_' (ASCII only).
bool IsScriptName(const std::string& text);

// Names compare without regard to ASCII case, as the frame server's do.
bool SameScriptName(const std::string& first, const std::string& second);

// A string literal begins at `at`: "...", """...""" or either with the
// escape prefix e. Returns the offset just after its closing quotes, or
// std::string::npos when none begins there or it is never closed. A plain
// literal ends at the next quote; a triple one at the next three quotes,
// further quotes right after them belonging to it; in an escaped literal a
// quote after a backslash does not end it.
size_t ScriptStringEnd(const std::string& text, size_t at);

// The value of `literal` when it is exactly one string literal: the text
// between its quotes, with the escapes of an e literal (\n \r \t \0 \a \f
// \\ \" \' \b \v) replaced; a backslash before any other character stays.
bool ScriptStringValue(const std::string& literal, std::string& value);
