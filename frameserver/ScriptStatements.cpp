#include "frameserver/ScriptStatements.h"

#include "frameserver/ScriptSyntax.h"
#include "support/Text.h"

const char* const kStageVariable = "__tachoro_stage";

namespace {

constexpr size_t kDisplayCharacters = 40;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

enum class TokenType { End, LineEnd, Name, String, Number, Operator };

struct Token {
    TokenType Type = TokenType::End;
    size_t Begin = 0;
    size_t End = 0;
    bool Spaced = false;  // blanks, comments or continuations before it
};

// The tokens of the code as the frame server's tokenizer finds them; line
// ends only where they separate statements. Anything the frame server would
// refuse becomes a one-character operator.
class Scanner {
public:
    explicit Scanner(const std::string& code) : Code(code) {}

    std::string Code;  // cut where __END__ stands once it is met

    std::vector<Token> Tokens() {
        std::vector<Token> tokens;
        do tokens.push_back(Next());
        while (tokens.back().Type != TokenType::End);
        return tokens;
    }

private:
    char At(size_t at) const { return at < Code.size() ? Code[at] : '\0'; }
    void SkipBlanks() {
        while (IsBlank(At(Pos))) ++Pos;
    }
    // One line end: CR, LF, CR LF or LF CR.
    void SkipLineEnd() {
        if (!IsLineEnd(At(Pos))) return;
        const char first = Code[Pos++];
        if (IsLineEnd(At(Pos)) && At(Pos) != first) ++Pos;
    }
    size_t Find(const char* what, size_t from) const {
        return from >= Code.size() ? std::string::npos : Code.find(what, from);
    }
    // After a nestable comment that begins at Pos, with the frame server's
    // rule: each opening met before the closing found so far moves the
    // closing on by one.
    size_t NestedCommentEnd() const {
        size_t end = Find("*]", Pos + 2);
        size_t nest = Find("[*", Pos + 2);
        while (nest != std::string::npos && end != std::string::npos && nest + 1 < end) {
            end = Find("*]", end + 2);
            nest = Find("[*", nest + 2);
        }
        return end == std::string::npos ? Code.size() : end + 2;
    }

    // Blanks, comments and continued lines, then the token.
    Token Next() {
        const size_t start = Pos;
        for (;;) {
            SkipBlanks();
            const char c = At(Pos);
            if (c == '\\') {
                size_t after = Pos + 1;
                while (IsBlank(At(after))) ++after;
                if (!IsLineEnd(At(after))) break;
                Pos = after;
                SkipLineEnd();
            } else if (IsLineEnd(c)) {
                const size_t lineEnd = Pos;
                do {
                    SkipLineEnd();
                    SkipBlanks();
                } while (IsLineEnd(At(Pos)));
                if (At(Pos) == '\\') {
                    ++Pos;
                    continue;
                }
                // A "{" on a later line joins it; else the line end is a token.
                if (At(Pos) != '{') Pos = lineEnd;
                break;
            } else if (c == '#') {
                // The line end after a comment is always one: no continuation.
                while (Pos < Code.size() && !IsLineEnd(Code[Pos])) ++Pos;
                break;
            } else if (c == '/' && At(Pos + 1) == '*') {
                const size_t close = Find("*/", Pos + 2);
                Pos = close == std::string::npos ? Code.size() : close + 2;
            } else if (c == '[' && At(Pos + 1) == '*') {
                Pos = NestedCommentEnd();
            } else {
                break;
            }
        }
        Token token;
        token.Begin = Pos;
        token.Spaced = Pos != start;
        token.Type = Kind();
        token.End = Pos;
        return token;
    }

    // Reads the token at Pos and says what it is.
    TokenType Kind() {
        if (Pos >= Code.size()) return TokenType::End;
        const size_t begin = Pos;
        const char c = Code[Pos];
        if (IsLineEnd(c)) {
            SkipLineEnd();
            return TokenType::LineEnd;
        }
        if (c == '"' || (c == 'e' && At(Pos + 1) == '"')) {
            const size_t end = ScriptStringEnd(Code, Pos);
            Pos = end == std::string::npos ? Code.size() : end;
            return TokenType::String;
        }
        if (IsDigit(c) || (c == '.' && IsDigit(At(Pos + 1)))) {
            while (IsDigit(At(Pos)) || At(Pos) == '.') ++Pos;
            return TokenType::Number;
        }
        if (c == '$') {
            ++Pos;
            while (IsNameChar(At(Pos))) ++Pos;
            return TokenType::Number;
        }
        if (IsNameStart(c)) {
            while (IsNameChar(At(Pos))) ++Pos;
            if (Pos - begin == 7 && SameScriptName(Code.substr(begin, 7), "__END__")) {
                Pos = begin;
                Code.resize(begin);
                return TokenType::End;
            }
            return TokenType::Name;
        }
        const char next = At(Pos + 1);
        const bool pair = (c == '<' && (next == '=' || next == '>')) ||
                          ((c == '>' || c == '!' || c == '=') && next == '=') ||
                          ((c == '+' || c == '&' || c == '|') && next == c);
        Pos += pair ? 2 : 1;
        return TokenType::Operator;
    }

    size_t Pos = 0;
};

// Cuts `text` after `count` characters: a byte and up to three UTF-8
// continuation bytes after it count as one.
std::string FirstCharacters(const std::string& text, size_t count) {
    size_t at = 0;
    for (size_t characters = 0; at < text.size() && characters < count; ++characters) {
        const size_t lead = at++;
        while (at < text.size() && at - lead < 4 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    }
    return text.substr(0, at);
}

// Reads the statements from the tokens.
class StatementReader {
public:
    StatementReader(const std::string& code, const std::vector<Token>& tokens) : Code(code), Tokens(tokens) {}

    std::vector<ScriptStatement> Statements() {
        std::vector<ScriptStatement> statements;
        bool returned = false;
        LineCursor cursor;
        while (Tokens[At].Type != TokenType::End) {
            if (Tokens[At].Type == TokenType::LineEnd) {
                ++At;
                continue;
            }
            const size_t first = At;
            ScriptStatement statement;
            statement.Kind = Read();
            size_t last = At - 1;
            while (last > first && Tokens[last].Type == TokenType::LineEnd) --last;
            statement.Begin = Tokens[first].Begin;
            statement.End = Tokens[last].End;
            statement.Text = Code.substr(statement.Begin, statement.End - statement.Begin);
            statement.Line = cursor.LineOf(Code, statement.Begin);
            statement.Display = Display(first, last);
            if (statement.Kind == StatementKind::Assignment) statement.Variable = TextOf(first);
            if (statement.Kind == StatementKind::GlobalAssignment) statement.Variable = TextOf(first + 1);
            if (statement.Kind != StatementKind::FunctionDefinition) FindPrefetch(first, last, statement);
            statement.Reached = !returned;
            returned = returned || statement.Kind == StatementKind::Return;
            statements.push_back(std::move(statement));
        }
        return statements;
    }

private:
    // Counts lines forwards: CR, LF, CR LF and LF CR end one.
    struct LineCursor {
        size_t Offset = 0;
        uint32_t Line = 1;
        uint32_t LineOf(const std::string& code, size_t offset) {
            while (Offset < offset) {
                const char c = code[Offset++];
                if (!IsLineEnd(c)) continue;
                ++Line;
                if (Offset < offset && IsLineEnd(code[Offset]) && code[Offset] != c) ++Offset;
            }
            return Line;
        }
    };

    std::string TextOf(size_t index) const {
        return Code.substr(Tokens[index].Begin, Tokens[index].End - Tokens[index].Begin);
    }
    bool IsOperator(size_t index, const char* text) const {
        return Tokens[index].Type == TokenType::Operator && TextOf(index) == text;
    }
    bool IsWord(size_t index, const char* word) const {
        return Tokens[index].Type == TokenType::Name && SameScriptName(TextOf(index), word);
    }
    size_t SkipLineEnds(size_t index) const {
        while (Tokens[index].Type == TokenType::LineEnd) ++index;
        return index;
    }

    // The token after the bracket that closes the one at `index`, or the end.
    size_t AfterClosing(size_t index, const char* open, const char* close) const {
        int depth = 0;
        for (; Tokens[index].Type != TokenType::End; ++index) {
            if (IsOperator(index, open)) ++depth;
            if (IsOperator(index, close) && --depth == 0) return index + 1;
        }
        return index;
    }
    void SkipParentheses() {
        if (IsOperator(At, "(")) At = AfterClosing(At, "(", ")");
    }
    // A { } block, line ends before it allowed; false when none follows.
    bool ReadBlock() {
        const size_t open = SkipLineEnds(At);
        if (!IsOperator(open, "{")) return false;
        At = AfterClosing(open, "{", "}");
        return true;
    }
    // A block, or what the line holds where the frame server wanted one.
    void ReadBody() {
        if (!ReadBlock()) ReadToLineEnd();
    }
    // Up to a line end outside any { } block.
    void ReadToLineEnd() {
        int depth = 0;
        for (; Tokens[At].Type != TokenType::End; ++At) {
            if (Tokens[At].Type == TokenType::LineEnd && depth == 0) return;
            if (IsOperator(At, "{")) ++depth;
            if (IsOperator(At, "}") && depth > 0) --depth;
        }
    }
    // A word after line ends: consumed when it is there.
    bool FollowedBy(const char* word) {
        const size_t next = SkipLineEnds(At);
        if (!IsWord(next, word)) return false;
        At = next + 1;
        return true;
    }

    // if (...) { } with its else if and else parts.
    void ReadIf() {
        for (;;) {
            ++At;
            SkipParentheses();
            if (!ReadBlock()) return ReadToLineEnd();
            if (!FollowedBy("else")) return;
            if (!IsWord(At, "if")) return ReadBody();
        }
    }

    // Reads one statement from At; leaves At after it.
    StatementKind Read() {
        if (IsWord(At, "function") && Tokens[At + 1].Type == TokenType::Name) {
            At += 2;
            SkipParentheses();
            ReadBody();
            return StatementKind::FunctionDefinition;
        }
        if (IsWord(At, "if")) {
            ReadIf();
            return StatementKind::Block;
        }
        if (IsWord(At, "while") || IsWord(At, "for")) {
            ++At;
            SkipParentheses();
            ReadBody();
            return StatementKind::Block;
        }
        if (IsWord(At, "try")) {
            ++At;
            if (!ReadBlock()) {
                ReadToLineEnd();
            } else if (FollowedBy("catch")) {
                SkipParentheses();
                ReadBody();
            }
            return StatementKind::Block;
        }
        StatementKind kind = StatementKind::Expression;
        if (IsWord(At, "return")) {
            kind = StatementKind::Return;
        } else if (IsWord(At, "global") && Tokens[At + 1].Type == TokenType::Name && IsOperator(At + 2, "=")) {
            kind = StatementKind::GlobalAssignment;
        } else if (Tokens[At].Type == TokenType::Name && IsOperator(At + 1, "=")) {
            kind = StatementKind::Assignment;
        }
        ReadToLineEnd();
        return kind;
    }

    std::string Display(size_t first, size_t last) const {
        std::string text;
        bool gap = false;
        for (size_t index = first; index <= last; ++index) {
            if (Tokens[index].Type == TokenType::LineEnd) {
                gap = true;
                continue;
            }
            if ((gap || Tokens[index].Spaced) && !text.empty()) text += ' ';
            gap = false;
            // Blanks and line ends inside a token (a string) collapse too.
            for (char c : TextOf(index)) {
                if (IsBlank(c) || IsLineEnd(c)) {
                    if (text.empty() || text.back() != ' ') text += ' ';
                } else {
                    text += c;
                }
            }
        }
        text = FirstCharacters(text, kDisplayCharacters);
        if (!text.empty() && text.back() == ' ') text.pop_back();
        return text;
    }

    // A Prefetch call outside any block: Prefetch(...), x.Prefetch(...) or
    // x.Prefetch.
    void FindPrefetch(size_t first, size_t last, ScriptStatement& statement) const {
        int depth = 0;
        for (size_t index = first; index <= last; ++index) {
            if (IsOperator(index, "{")) ++depth;
            if (IsOperator(index, "}")) --depth;
            if (depth != 0 || !IsWord(index, "Prefetch")) continue;
            const bool called = index < last && IsOperator(index + 1, "(");
            const bool method = index > first && IsOperator(index - 1, ".");
            if (!called && !method) continue;
            statement.CallsPrefetch = true;
            if (called) {
                // Up to the closing parenthesis, or the statement's end.
                size_t end = Tokens[last].End;
                int nesting = 0;
                for (size_t inner = index + 1; inner <= last; ++inner) {
                    if (IsOperator(inner, "(")) ++nesting;
                    if (IsOperator(inner, ")") && --nesting == 0) {
                        end = Tokens[inner].Begin;
                        break;
                    }
                }
                const size_t begin = Tokens[index + 1].End;
                statement.PrefetchArguments = Code.substr(begin, end - begin);
                TrimText(statement.PrefetchArguments);
            }
            return;
        }
    }

    const std::string& Code;
    const std::vector<Token>& Tokens;
    size_t At = 0;
};

// The names in a piece of code (and any in its strings: a name too many
// costs nothing).
std::vector<std::string> NamesIn(const std::string& code) {
    std::vector<std::string> names;
    for (size_t at = 0; at < code.size();) {
        if (!IsNameStart(code[at]) || (at > 0 && IsNameChar(code[at - 1]))) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < code.size() && IsNameChar(code[end])) ++end;
        names.push_back(code.substr(at, end - at));
        at = end;
    }
    return names;
}

bool HasName(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& candidate : names)
        if (SameScriptName(candidate, name)) return true;
    return false;
}

}  // namespace

ScriptOutline OutlineScript(const std::string& script) {
    Scanner scanner(script.substr(0, script.find('\0')));
    const std::vector<Token> tokens = scanner.Tokens();
    ScriptOutline outline;
    outline.CodeEnd = scanner.Code.size();
    outline.Statements = StatementReader(scanner.Code, tokens).Statements();
    return outline;
}

bool IsStageCandidate(const ScriptStatement& statement) {
    return statement.Reached && statement.Kind != StatementKind::FunctionDefinition;
}

size_t PrefetchAfter(const ScriptOutline& outline, size_t index) {
    for (size_t later = index + 1; later < outline.Statements.size(); ++later) {
        const ScriptStatement& statement = outline.Statements[later];
        if (statement.Reached && statement.CallsPrefetch) return later;
    }
    return std::string::npos;
}

std::string StageScript(const std::string& script, const ScriptOutline& outline, size_t index) {
    if (index >= outline.Statements.size() || outline.CodeEnd > script.size()) return std::string();
    const ScriptStatement& stage = outline.Statements[index];
    const size_t prefetch = PrefetchAfter(outline, index);
    const std::vector<std::string> argumentNames =
        prefetch == std::string::npos ? std::vector<std::string>() : NamesIn(outline.Statements[prefetch].PrefetchArguments);
    std::string text = script.substr(0, outline.CodeEnd);
    for (size_t later = index + 1; later < outline.Statements.size(); ++later) {
        const ScriptStatement& statement = outline.Statements[later];
        if (statement.Kind == StatementKind::FunctionDefinition) continue;
        // An assignment between the stage and the Prefetch call of a name
        // its arguments use stays (threads = 4 before Prefetch(threads)).
        if (later < prefetch && !statement.Variable.empty() && !SameScriptName(statement.Variable, stage.Variable) &&
            HasName(argumentNames, statement.Variable))
            continue;
        for (size_t at = statement.Begin; at < statement.End; ++at)
            if (!IsLineEnd(text[at])) text[at] = ' ';
    }
    std::string clip = stage.Variable;
    if (stage.Kind == StatementKind::Block) clip = "last";
    if (stage.Kind == StatementKind::Expression || stage.Kind == StatementKind::Return) {
        clip = kStageVariable;
        // The same expression follows "return" as follows an assignment's "=".
        const size_t keyword = stage.Kind == StatementKind::Return ? 6 : 0;
        text.replace(stage.Begin, keyword, clip + " = ");
    }
    // Two line ends: a backslash after the statement continues its line.
    text += "\n\n";
    if (prefetch == std::string::npos) {
        text += clip;
    } else {
        text += "IsClip(" + clip + ") ? " + clip + ".Prefetch(" + outline.Statements[prefetch].PrefetchArguments +
                ") : " + clip;
    }
    return text + "\n";
}
