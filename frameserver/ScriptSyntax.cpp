#include "frameserver/ScriptSyntax.h"

namespace {

bool IsNameStart(char c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool IsScriptName(const std::string& text) {
    if (text.empty() || !IsNameStart(text[0])) return false;
    for (char c : text)
        if (!IsNameStart(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

bool SameScriptName(const std::string& first, const std::string& second) {
    if (first.size() != second.size()) return false;
    for (size_t i = 0; i < first.size(); ++i)
        if (Lower(first[i]) != Lower(second[i])) return false;
    return true;
}

size_t ScriptStringEnd(const std::string& text, size_t at) {
    const bool escaped = at < text.size() && text[at] == 'e';
    if (escaped) ++at;
    if (at >= text.size() || text[at] != '"') return std::string::npos;
    const bool triple = text.compare(at, 3, "\"\"\"") == 0;
    const std::string closing = triple ? "\"\"\"" : "\"";
    size_t from = at + closing.size();
    size_t end = std::string::npos;
    for (;;) {
        end = text.find(closing, from);
        if (end == std::string::npos) return end;
        // The character before the quotes is inside the literal or its opening.
        if (!(escaped && text[end - 1] == '\\')) break;
        from = end + 1;
    }
    if (triple)
        while (end + 3 < text.size() && text[end + 3] == '"') ++end;
    return end + closing.size();
}

bool ScriptStringValue(const std::string& literal, std::string& value) {
    if (literal.empty() || ScriptStringEnd(literal, 0) != literal.size()) return false;
    const bool escaped = literal[0] == 'e';
    const size_t open = escaped ? 1 : 0;
    const size_t quotes = literal.compare(open, 3, "\"\"\"") == 0 && literal.size() >= open + 6 ? 3 : 1;
    const std::string content = literal.substr(open + quotes, literal.size() - open - 2 * quotes);
    if (!escaped) {
        value = content;
        return true;
    }
    static const char kEscapes[] = "n\nr\rt\t0\0a\af\f\\\\\"\"''b\bv\v";
    value.clear();
    for (size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\\' && i + 1 < content.size()) {
            bool replaced = false;
            for (size_t e = 0; e + 1 < sizeof kEscapes; e += 2) {
                if (content[i + 1] != kEscapes[e]) continue;
                value += kEscapes[e + 1];
                ++i;
                replaced = true;
                break;
            }
            if (replaced) continue;
        }
        value += content[i];
    }
    return true;
}
