#include "frameserver/ParameterScan.h"

#include <charconv>

#include "frameserver/ScriptSyntax.h"
#include "support/Text.h"

namespace {

// Words the frame server's parser reads as statements, its end marker, and
// its predefined variables: a global of that name would change the script.
const char* const kReservedNames[] = {"function", "global",   "return", "if",   "else",  "while", "for",
                                      "try",      "catch",    "break",  "continue", "__END__", "true",
                                      "false",    "yes",      "no",     "last"};

bool IsDigits(const std::string& text, size_t from, size_t to) {
    if (from >= to) return false;
    for (size_t at = from; at < to; ++at)
        if (text[at] < '0' || text[at] > '9') return false;
    return true;
}

size_t SignLength(const std::string& text) { return !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0; }

// A whole number with an optional sign, within 64 bits.
bool WholeNumber(const std::string& text, int64_t& value) {
    const size_t sign = SignLength(text);
    if (!IsDigits(text, sign, text.size())) return false;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const std::from_chars_result result = std::from_chars(first, text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// digits.digits, digits. or .digits, with an optional sign.
bool DecimalNumber(const std::string& text, double& value) {
    const size_t sign = SignLength(text);
    const size_t point = text.find('.', sign);
    if (point == std::string::npos) return false;
    const bool before = IsDigits(text, sign, point), after = IsDigits(text, point + 1, text.size());
    if (!(before || after) || (!before && point != sign) || (!after && point + 1 != text.size())) return false;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const std::from_chars_result result = std::from_chars(first, text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool Fits32(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

bool SameValue(const ScanValue& a, const ScanValue& b) {
    switch (a.Type) {
    case ScanType::Integer: return a.Integer == b.Integer;
    case ScanType::Float: return a.Float == b.Float;
    case ScanType::Bool: return a.Bool == b.Bool;
    case ScanType::String: return a.String == b.String;
    }
    return false;
}

const char* TypeWords(ScanType type) {
    switch (type) {
    case ScanType::Integer: return "whole numbers";
    case ScanType::Float: return "numbers with a decimal point";
    case ScanType::Bool: return "true/false";
    case ScanType::String: return "strings";
    }
    return "";
}

ScanValue IntegerValue(int32_t number) {
    ScanValue value;
    value.Integer = number;
    value.Text = std::to_string(number);
    return value;
}

class ValueReader {
public:
    explicit ValueReader(ParameterScan& scan) : Scan(scan) {}

    // One item of the list, blanks around it removed.
    std::string Add(const std::string& item) {
        if (item.empty()) return "An empty value in the list";
        if (item[0] == '"' || (item[0] == 'e' && item.size() > 1 && item[1] == '"')) return AddString(item);
        if (SameScriptName(item, "true") || SameScriptName(item, "false")) {
            ScanValue value;
            value.Type = ScanType::Bool;
            value.Bool = SameScriptName(item, "true");
            value.Text = value.Bool ? "true" : "false";
            return Take(value);
        }
        if (item.find("..") != std::string::npos) return AddRange(item);
        int64_t whole = 0;
        if (IsDigits(item, SignLength(item), item.size())) {
            if (!WholeNumber(item, whole) || !Fits32(whole))
                return "Out of range: " + item + " (whole numbers go from -2147483648 to 2147483647)";
            return Take(IntegerValue(static_cast<int32_t>(whole)));
        }
        ScanValue value;
        if (DecimalNumber(item, value.Float)) {
            value.Type = ScanType::Float;
            value.Text = item[0] == '+' ? item.substr(1) : item;
            return Take(value);
        }
        return "Not a value: " + item + " (a whole number, a number with a decimal point, true, false or a quoted string)";
    }

private:
    std::string AddString(const std::string& item) {
        ScanValue value;
        value.Type = ScanType::String;
        if (!ScriptStringValue(item, value.String)) return "Not one string: " + item;
        if (value.String.find('\0') != std::string::npos) return "A string cannot hold \\0: " + item;
        value.Text = item;
        return Take(value);
    }

    std::string AddRange(const std::string& item) {
        const std::string form = "Not a range: " + item + " (first..last or first..last:step, whole numbers, step above 0)";
        const size_t dots = item.find("..");
        const size_t colon = item.find(':', dots);
        int64_t first = 0, last = 0, step = 1;
        if (!WholeNumber(item.substr(0, dots), first) ||
            !WholeNumber(item.substr(dots + 2, colon == std::string::npos ? std::string::npos : colon - dots - 2), last) ||
            (colon != std::string::npos && !WholeNumber(item.substr(colon + 1), step)) || step < 1)
            return form;
        if (!Fits32(first) || !Fits32(last))
            return "Out of range: " + item + " (whole numbers go from -2147483648 to 2147483647)";
        // Counted before any value is made: a range of a billion values is
        // refused, not built.
        const uint64_t span = static_cast<uint64_t>(last > first ? last - first : first - last);
        if (span / static_cast<uint64_t>(step) + 1 > kMaxScanValues) return TooMany();
        const int64_t direction = last >= first ? 1 : -1;
        for (int64_t number = first; direction * (last - number) >= 0; number += direction * step) {
            const std::string error = Take(IntegerValue(static_cast<int32_t>(number)));
            if (!error.empty()) return error;
        }
        return std::string();
    }

    std::string Take(const ScanValue& value) {
        if (!Scan.Values.empty() && Scan.Values[0].Type != value.Type)
            return std::string("The values mix ") + TypeWords(Scan.Values[0].Type) + " and " + TypeWords(value.Type);
        for (const ScanValue& earlier : Scan.Values)
            if (SameValue(earlier, value)) return "The value " + value.Text + " comes twice";
        if (Scan.Values.size() == kMaxScanValues) return TooMany();
        Scan.Type = value.Type;
        Scan.Values.push_back(value);
        return std::string();
    }

    static std::string TooMany() { return FormatText("More than %u values", static_cast<unsigned>(kMaxScanValues)); }

    ParameterScan& Scan;
};

void ReadScan(const std::string& text, ScanParse& parse) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        parse.Error = "Expected name=values, e.g. threads=1..8";
        return;
    }
    ParameterScan& scan = parse.Scan;
    scan.Name = text.substr(0, equals);
    if (!IsScriptName(scan.Name)) {
        parse.Error = "Not a variable name: \"" + scan.Name + "\" (a letter or _, then letters, digits or _)";
        return;
    }
    for (const char* reserved : kReservedNames) {
        if (SameScriptName(scan.Name, reserved)) {
            parse.Error = "The frame server reserves the name " + scan.Name;
            return;
        }
    }

    // Items end at commas outside string literals.
    ValueReader reader(scan);
    size_t at = equals + 1;
    for (;;) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        size_t end = text.find(',', at);
        const bool literal = at < text.size() && (text[at] == '"' || (text[at] == 'e' && at + 1 < text.size() &&
                                                                      text[at + 1] == '"'));
        if (literal) {
            const size_t close = ScriptStringEnd(text, at);
            if (close == std::string::npos) {
                parse.Error = "A string is not closed: " + text.substr(at);
                return;
            }
            end = text.find(',', close);
        }
        std::string item = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        TrimText(item);
        parse.Error = reader.Add(item);
        if (!parse.Error.empty() || end == std::string::npos) return;
        at = end + 1;
    }
}

}  // namespace

const char* ScanTypeName(ScanType type) {
    switch (type) {
    case ScanType::Integer: return "int";
    case ScanType::Float: return "float";
    case ScanType::Bool: return "bool";
    case ScanType::String: return "string";
    }
    return "";
}

std::string ScanRowName(const ParameterScan& scan, size_t index) { return scan.Name + "=" + scan.Values[index].Text; }

ScanParse ParseParameterScan(const std::string& text) {
    ScanParse parse;
    ReadScan(text, parse);
    if (!parse.Error.empty()) parse.Scan = ParameterScan();
    return parse;
}
