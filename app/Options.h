// The one table of options: every switch of the command line and every key
// of the settings file, with the field of the invocation it sets. The
// command line's parser, the settings file's reader and writer, the usage
// text, the information switches and the documentation's test all walk it,
// so a new switch is one row (app/Options.cpp) and the code that uses its
// field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Invocation.h"

// The switches answered before anything else (--help, --version).
enum class InformationRequest { None, Help, Version };

// The sections of the settings file, in their order.
enum class SettingsSection { Main, Miscellaneous };

struct Option {
    // The switch ("-log"; one that takes a value is named without its "=":
    // "-runs") and up to two short forms; null: a settings key only.
    const char* Switch = nullptr;
    const char* Short[2] = {nullptr, nullptr};
    // The settings key and its section; null: the command line only.
    const char* Key = nullptr;
    SettingsSection Section = SettingsSection::Main;

    // The field it sets, which is also its kind:
    // - a flag, set by the bare switch; in the settings file a line that
    //   starts with the key moves it from its default when the line's last
    //   character is the other digit;
    // - a number within Low..High ("-runs=n"); in the settings file a number
    //   out of bounds gives the default, anything else leaves the value;
    // - a frame range ("-range=first,last");
    // - a text ("-name=text", the value as typed; "AVSDLL=path", trimmed).
    // A row with a flag and a value takes the value optionally ("-gpu" or
    // "-gpu=1": both set the flag).
    bool Invocation::*Flag = nullptr;
    int32_t Invocation::*Number = nullptr;
    int32_t Low = 0;
    int32_t High = 0;
    FrameRangeSetting Invocation::*Range = nullptr;
    std::string Invocation::*Text = nullptr;
    InformationRequest Information = InformationRequest::None;

    // The usage text: the value's name ("n"), the description (none: not
    // listed), and the line in the first block, whose order is fixed (0: in
    // the block of the switches added since, in the table's order).
    const char* ValueName = "";
    const char* Usage = nullptr;
    int UsageLine = 0;
    // The id of its entry in docs/Tachoro.html: the switch's, else the key's.
    const char* Anchor = nullptr;

    // A number after "=" ("-runs=n"); on a flag's row, one that may be left
    // out ("-gpu" or "-gpu=1").
    Option& WithNumber(int32_t Invocation::*field, int32_t low, int32_t high) {
        Number = field;
        Low = low;
        High = high;
        return *this;
    }
    Option& Also(const char* shortForm) {
        Short[Short[0] ? 1 : 0] = shortForm;
        return *this;
    }
    Option& Setting(const char* key, SettingsSection section = SettingsSection::Main) {
        Key = key;
        Section = section;
        return *this;
    }
    Option& Listed(const char* usage, const char* valueName = "", int usageLine = 0) {
        Usage = usage;
        ValueName = valueName;
        UsageLine = usageLine;
        return *this;
    }
    Option& Documented(const char* anchor) {
        Anchor = anchor;
        return *this;
    }
    bool TakesValue() const { return Number || Range || Text; }
};

// The rows, by kind of field.
Option FlagOption(const char* name, bool Invocation::*field);
Option NumberOption(const char* name, int32_t Invocation::*field, int32_t low, int32_t high);
Option RangeOption(const char* name, FrameRangeSetting Invocation::*field);
Option TextOption(const char* name, std::string Invocation::*field);
Option InformationOption(const char* name, InformationRequest request);

// The program's table.
const std::vector<Option>& Options();

// The row a switch written as `lowered` (trimmed, lower case) names among
// `options`, with the value after its "=" (taken from `typed`, the same
// argument with its case); no row when it names none.
struct SwitchMatch {
    const Option* Row = nullptr;
    bool HasValue = false;
    std::string Value;
};
SwitchMatch MatchSwitch(const std::vector<Option>& options, const std::string& lowered, const std::string& typed);

// "first,last" of a frame range (lower-cased, blanks removed): true with both
// ends set when it parses; otherwise (a number that does not fit 64 bits
// included) false with both ends at the marker.
bool ParseFrameRange(const std::string& value, int64_t& first, int64_t& last);

// An integer text checked against [low, high] (32-bit parsing, as both the
// settings file and the command line read these values).
enum class BoundedValue { NotANumber, OutOfRange, Valid };
BoundedValue ParseBoundedInteger(const std::string& text, int32_t low, int32_t high, int32_t& value);
