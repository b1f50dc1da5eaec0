// A JSON reader for the files Tachoro reads back (its own result files, which
// may have been edited, cut short or replaced by anything). Strict RFC 8259
// text, UTF-8 (a byte order mark before it is allowed), and bounded: nesting
// depth, the number of values kept, numbers that fit a double, strings of
// valid UTF-8 without lone surrogates. Members of the names the caller
// skips (a run's samples) are checked as they are read but not kept, so a
// file of millions of samples costs little memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type Kind = Type::Null;
    bool Bool = false;
    std::string Text;                // a string's value, or a number as written
    std::vector<JsonValue> Items;    // an array's values, an object's member values
    std::vector<std::string> Keys;   // an object's member names, one per item

    // The member of that name; null when there is none or this is no object.
    const JsonValue* Member(const std::string& key) const;
    // A number's value (always finite).
    std::optional<double> Number() const;
    // A number written as a whole number (no fraction, no exponent) within
    // 64 bits.
    std::optional<int64_t> Integer() const;
};

struct JsonLimits {
    size_t MaxDepth = 64;
    size_t MaxValues = 100000;                // kept values
    std::vector<std::string> SkippedMembers;  // read and checked, not kept
};

struct JsonParse {
    JsonValue Value;
    std::string Error;  // empty when the text was read; else "line 3, column 7: expected ':'"
};

JsonParse ParseJson(const char* text, size_t size, const JsonLimits& limits = JsonLimits());
