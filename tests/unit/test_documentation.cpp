// The user documentation has an entry for every switch and every settings key
// the program knows: Tachoro.html a <dt>, tachoro.1 a .TP tag. The lists come
// from the program (its usage text and its default settings file), so a
// switch or key added without documentation fails here.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/Settings.h"

namespace {

std::string DocumentText(const std::string& name) {
    std::ifstream file(std::string(TEST_SOURCE_DIR) + "/../docs/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool IsWordCharacter(char character) {
    return std::isalnum(static_cast<unsigned char>(character)) || character == '_' || character == '-';
}

// The switches of the usage text ("-range=first,last" gives "-range=") and
// those that only ask for information.
std::vector<std::string> ProgramSwitches() {
    std::vector<std::string> switches = InformationSwitches();
    for (const std::string& line : UsageLines()) {
        if (line.compare(0, 3, "  -") != 0) continue;
        for (size_t i = 1; i < line.size(); ++i) {
            if (line[i] != '-' || (line[i - 1] != ' ' && line[i - 1] != '[')) continue;
            size_t end = i + 1;
            while (end < line.size() && std::isalpha(static_cast<unsigned char>(line[end]))) ++end;
            if (end < line.size() && line[end] == '=') ++end;
            if (end > i + 1) switches.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return switches;
}

std::vector<std::string> ProgramSettingsKeys() {
    std::vector<std::string> keys;
    std::istringstream lines(DefaultSettingsFileText(ProgramVersionShort()));
    std::string line;
    while (std::getline(lines, line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos && equals > 0) keys.push_back(line.substr(0, equals));
    }
    return keys;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The text of every <dt>, tags removed, entities decoded.
std::vector<std::string> HtmlEntries(const std::string& html) {
    std::vector<std::string> entries;
    for (size_t start = html.find("<dt"); start != std::string::npos; start = html.find("<dt", start + 1)) {
        const size_t end = html.find("</dt>", start);
        if (end == std::string::npos) break;
        std::string entry;
        bool inTag = false;
        for (size_t i = start; i < end; ++i) {
            if (html[i] == '<') inTag = true;
            else if (html[i] == '>') inTag = false;
            else if (!inTag) entry += html[i];
        }
        ReplaceAll(entry, "&lt;", "<");
        ReplaceAll(entry, "&gt;", ">");
        ReplaceAll(entry, "&amp;", "&");
        entries.push_back(entry);
    }
    return entries;
}

// The tag line after every .TP, without its macro, font escapes and quotes.
std::vector<std::string> ManEntries(const std::string& roff) {
    std::vector<std::string> entries;
    std::istringstream lines(roff);
    std::string line;
    bool tagNext = false;
    while (std::getline(lines, line)) {
        if (tagNext) {
            if (line.compare(0, 1, ".") == 0) line.erase(0, std::min(line.find(' '), line.size()));
            for (const char* font : {"\\fB", "\\fI", "\\fR", "\\fP", "\\&", "\""}) ReplaceAll(line, font, "");
            ReplaceAll(line, "\\-", "-");
            entries.push_back(line);
        }
        tagNext = line.compare(0, 3, ".TP") == 0;
    }
    return entries;
}

// True when some entry holds `name` as a word of its own ("-i" is not found
// in "-info", "-h" not in "--help").
bool HasEntryFor(const std::vector<std::string>& entries, const std::string& name) {
    for (const std::string& entry : entries) {
        for (size_t at = entry.find(name); at != std::string::npos; at = entry.find(name, at + 1)) {
            const size_t after = at + name.size();
            const bool startsWord = at == 0 || !IsWordCharacter(entry[at - 1]);
            const bool endsWord = name.back() == '=' || after == entry.size() || !IsWordCharacter(entry[after]);
            if (startsWord && endsWord) return true;
        }
    }
    return false;
}

TEST(Documentation, EverySwitchAndSettingsKeyHasAnEntry) {
    const std::vector<std::string> switches = ProgramSwitches();
    const std::vector<std::string> keys = ProgramSettingsKeys();
    // The lists themselves must have been found.
    ASSERT_GE(switches.size(), 18u);
    ASSERT_GE(keys.size(), 17u);
    EXPECT_TRUE(HasEntryFor({"-info -i"}, "-i"));
    EXPECT_FALSE(HasEntryFor({"-info --help"}, "-h"));

    const struct {
        const char* document;
        std::function<std::vector<std::string>(const std::string&)> entriesOf;
    } documents[] = {{"Tachoro.html", HtmlEntries}, {"tachoro.1", ManEntries}};
    for (const auto& document : documents) {
        const std::string text = DocumentText(document.document);
        ASSERT_FALSE(text.empty()) << document.document;
        const std::vector<std::string> entries = document.entriesOf(text);
        for (const std::string& name : switches)
            EXPECT_TRUE(HasEntryFor(entries, name)) << document.document << " has no entry for the switch " << name;
        for (const std::string& name : keys)
            EXPECT_TRUE(HasEntryFor(entries, name)) << document.document << " has no entry for the key " << name;
    }
}

// Readable offline, and nothing runs: no script, no style sheet, image or
// frame from elsewhere; every link of the contents leads somewhere.
TEST(Documentation, PageIsSelfContained) {
    std::string html = DocumentText("Tachoro.html");
    ASSERT_FALSE(html.empty());
    for (char& character : html) character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
    for (const char* pattern : {"<script", "<link", "<iframe", "<object", "<embed", "src=", "url(", "@import"})
        EXPECT_EQ(html.find(pattern), std::string::npos) << pattern;
    size_t links = 0;
    for (size_t at = html.find("href=\"#"); at != std::string::npos; at = html.find("href=\"#", at + 1), ++links) {
        const size_t start = at + 7;
        const std::string anchor = html.substr(start, html.find('"', start) - start);
        EXPECT_NE(html.find("id=\"" + anchor + "\""), std::string::npos) << "#" << anchor;
    }
    EXPECT_GE(links, 10u);
}

}  // namespace
