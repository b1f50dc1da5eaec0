#include "report/JsonReader.h"

#include <charconv>
#include <set>

#include "platform/Text.h"
#include "report/ReportFile.h"

namespace {

// Longer numbers are no numbers Tachoro wrote, and a bound keeps the
// conversion cheap.
constexpr size_t kMaxNumberLength = 400;

struct ParseError {
    size_t Offset;
    const char* What;
};

class Reader {
public:
    Reader(const char* text, size_t size, const JsonLimits& limits) : Text(text), Size(size), Limits(limits) {}

    void Document(JsonValue& value) {
        if (Size >= 3 && Text[0] == '\xEF' && Text[1] == '\xBB' && Text[2] == '\xBF') Pos = 3;
        Value(&value, 0);
        SkipSpace();
        if (Pos != Size) Fail("text after the value");
    }

private:
    [[noreturn]] void Fail(const char* what) const { throw ParseError{Pos, what}; }
    char Peek() const { return Pos < Size ? Text[Pos] : '\0'; }
    bool AtEnd() const { return Pos >= Size; }
    void SkipSpace() {
        while (Pos < Size && (Text[Pos] == ' ' || Text[Pos] == '\t' || Text[Pos] == '\n' || Text[Pos] == '\r')) ++Pos;
    }
    void Expect(char c, const char* what) {
        SkipSpace();
        if (Peek() != c || AtEnd()) Fail(AtEnd() ? "unexpected end of the text" : what);
        ++Pos;
    }

    // Reads one value into `out`, or only checks it when `out` is null.
    void Value(JsonValue* out, size_t depth) {
        SkipSpace();
        if (AtEnd()) Fail("unexpected end of the text");
        if (out && ++Kept > Limits.MaxValues) Fail("too many values");
        const char c = Text[Pos];
        if (c == '{' || c == '[') {
            if (depth >= Limits.MaxDepth) Fail("nested too deeply");
            if (c == '{') Object(out, depth + 1);
            else Array(out, depth + 1);
        } else if (c == '"') {
            std::string text;
            String(text);
            if (out) {
                out->Kind = JsonValue::Type::String;
                out->Text = std::move(text);
            }
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            Number(out);
        } else if (Word("true") || Word("false")) {
            if (out) {
                out->Kind = JsonValue::Type::Bool;
                out->Bool = c == 't';
            }
        } else if (!Word("null")) {
            Fail("expected a value");
        }
    }

    bool Word(const char* word) {
        const std::string text(word);
        if (Size - Pos < text.size() || text.compare(0, text.size(), Text + Pos, text.size()) != 0) return false;
        Pos += text.size();
        return true;
    }

    void Object(JsonValue* out, size_t depth) {
        ++Pos;
        if (out) out->Kind = JsonValue::Type::Object;
        std::set<std::string> keys;
        SkipSpace();
        if (Peek() == '}') {
            ++Pos;
            return;
        }
        for (;;) {
            SkipSpace();
            if (Peek() != '"' || AtEnd()) Fail(AtEnd() ? "unexpected end of the text" : "expected a member name");
            const size_t keyAt = Pos;
            std::string key;
            String(key);
            Expect(':', "expected ':'");
            bool skipped = !out;
            for (const std::string& name : Limits.SkippedMembers) skipped = skipped || key == name;
            if (skipped) {
                Value(nullptr, depth);
            } else {
                if (!keys.insert(key).second) {
                    Pos = keyAt;
                    Fail("a member name comes twice");
                }
                out->Keys.push_back(std::move(key));
                out->Items.emplace_back();
                Value(&out->Items.back(), depth);
            }
            SkipSpace();
            if (Peek() == ',' && !AtEnd()) {
                ++Pos;
                continue;
            }
            Expect('}', "expected ',' or '}'");
            return;
        }
    }

    void Array(JsonValue* out, size_t depth) {
        ++Pos;
        if (out) out->Kind = JsonValue::Type::Array;
        SkipSpace();
        if (Peek() == ']' && !AtEnd()) {
            ++Pos;
            return;
        }
        for (;;) {
            if (out) out->Items.emplace_back();
            Value(out ? &out->Items.back() : nullptr, depth);
            SkipSpace();
            if (Peek() == ',' && !AtEnd()) {
                ++Pos;
                continue;
            }
            Expect(']', "expected ',' or ']'");
            return;
        }
    }

    unsigned HexDigit() {
        const char c = Peek();
        if (AtEnd()) Fail("unexpected end of the text");
        ++Pos;
        if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
        --Pos;
        Fail("invalid \\u escape");
    }
    unsigned Hex4() {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) value = value * 16 + HexDigit();
        return value;
    }

    // A string from its opening quote; its value into `text`.
    void String(std::string& text) {
        const size_t open = Pos++;
        bool beyondAscii = false;
        for (;;) {
            if (AtEnd()) Fail("unexpected end of the text");
            const char c = Text[Pos];
            if (c == '"') break;
            if (static_cast<unsigned char>(c) < 0x20) Fail("a control character in a string");
            if (c != '\\') {
                text += c;
                beyondAscii = beyondAscii || static_cast<unsigned char>(c) >= 0x80;
                ++Pos;
                continue;
            }
            ++Pos;
            const char escape = Peek();
            if (AtEnd()) Fail("unexpected end of the text");
            static const char kEscapes[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
            const char* found = nullptr;
            for (size_t e = 0; e + 1 < sizeof kEscapes; e += 2)
                if (kEscapes[e] == escape) found = &kEscapes[e + 1];
            ++Pos;
            if (found) {
                text += *found;
                continue;
            }
            if (escape != 'u') {
                --Pos;
                Fail("invalid escape");
            }
            // A surrogate must be the first of a pair; the error points at it.
            const size_t escapeAt = Pos - 2;
            uint32_t code = Hex4();
            bool paired = !(code >= 0xDC00 && code <= 0xDFFF);
            if (paired && code >= 0xD800 && code <= 0xDBFF) {
                const unsigned low = Word("\\u") ? Hex4() : 0;
                paired = low >= 0xDC00 && low <= 0xDFFF;
                if (paired) code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            if (!paired) {
                Pos = escapeAt;
                Fail("a lone surrogate");
            }
            platform::AppendUtf8(text, code);
        }
        if (beyondAscii && RepairUtf8(text) != text) {
            Pos = open;
            Fail("invalid UTF-8 in a string");
        }
        ++Pos;
    }

    void Digits() {
        if (!(Peek() >= '0' && Peek() <= '9') || AtEnd()) Fail("invalid number");
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++Pos;
    }

    void Number(JsonValue* out) {
        const size_t begin = Pos;
        if (Peek() == '-') ++Pos;
        if (Peek() == '0' && !AtEnd()) ++Pos;
        else Digits();
        if (Peek() == '.' && !AtEnd()) {
            ++Pos;
            Digits();
        }
        if ((Peek() == 'e' || Peek() == 'E') && !AtEnd()) {
            ++Pos;
            if ((Peek() == '+' || Peek() == '-') && !AtEnd()) ++Pos;
            Digits();
        }
        if (Pos - begin > kMaxNumberLength) {
            Pos = begin;
            Fail("a number too long");
        }
        double value = 0;
        const std::from_chars_result result = std::from_chars(Text + begin, Text + Pos, value);
        if (result.ec != std::errc() || result.ptr != Text + Pos) {
            Pos = begin;
            Fail("a number out of range");
        }
        if (out) {
            out->Kind = JsonValue::Type::Number;
            out->Text.assign(Text + begin, Pos - begin);
        }
    }

    const char* Text;
    size_t Size;
    const JsonLimits& Limits;
    size_t Pos = 0;
    size_t Kept = 0;
};

}  // namespace

const JsonValue* JsonValue::Member(const std::string& key) const {
    if (Kind != Type::Object) return nullptr;
    for (size_t i = 0; i < Keys.size(); ++i)
        if (Keys[i] == key) return &Items[i];
    return nullptr;
}

std::optional<double> JsonValue::Number() const {
    if (Kind != Type::Number) return std::nullopt;
    double value = 0;
    std::from_chars(Text.data(), Text.data() + Text.size(), value);
    return value;
}

std::optional<int64_t> JsonValue::Integer() const {
    if (Kind != Type::Number) return std::nullopt;
    int64_t value = 0;
    const std::from_chars_result result = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (result.ec != std::errc() || result.ptr != Text.data() + Text.size()) return std::nullopt;
    return value;
}

JsonParse ParseJson(const char* text, size_t size, const JsonLimits& limits) {
    JsonParse parse;
    try {
        Reader(text, size, limits).Document(parse.Value);
    } catch (const ParseError& error) {
        size_t line = 1, column = 1;
        for (size_t at = 0; at < error.Offset && at < size; ++at) {
            if (text[at] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        parse.Value = JsonValue();
        parse.Error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + error.What;
    }
    return parse;
}
