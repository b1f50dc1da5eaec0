// The values of a parameter scan: NAME=VALUES names a frame-server global
// variable and the values it takes in turn, each typed by its form as the
// frame server's own literals are. Pure functions of text.
//
//   4,8,16              whole numbers (32-bit)
//   0.5,1.5  .5  2.     numbers with a decimal point (no exponent, as in scripts)
//   true,false          truth values, in any case
//   "fast","slow"       strings: "...", """...""" or e"..." with its escapes
//   1..8  2..16:2       ranges of whole numbers, first..last[:step]; a last
//                       below the first counts down (8..1, 16..2:2); the
//                       step is above 0, and the range stops at the last
//                       value that does not pass `last`
//
// List items and ranges mix freely (1..4,8,16) but not types; a value may
// not come twice; at most kMaxScanValues values. A leading sign is allowed
// on numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kMaxScanValues = 100;

enum class ScanType { Integer, Float, Bool, String };

// "int", "float", "bool", "string": the frame server's names of the types.
const char* ScanTypeName(ScanType type);

struct ScanValue {
    ScanType Type = ScanType::Integer;
    int32_t Integer = 0;
    double Float = 0;
    bool Bool = false;
    std::string String;  // the literal's value, escapes replaced
    // As the rows show it: the number in decimal, a decimal number and a
    // string as typed, true or false.
    std::string Text;
};

// A global variable set before a script is evaluated: one value of a scan.
struct ScriptGlobal {
    std::string Name;
    ScanValue Value;
};

struct ParameterScan {
    std::string Name;  // as typed
    ScanType Type = ScanType::Integer;
    std::vector<ScanValue> Values;
};

// The row of value `index`: "threads=4", "preset=\"fast\"".
std::string ScanRowName(const ParameterScan& scan, size_t index);

struct ScanParse {
    ParameterScan Scan;
    std::string Error;  // empty when the text was understood; else why not, one line
};

// Reads NAME=VALUES (what follows "-vary=").
ScanParse ParseParameterScan(const std::string& text);
