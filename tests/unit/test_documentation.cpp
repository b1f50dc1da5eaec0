// The user documentation has an entry for every switch and every settings key
// the program knows: Tachoro.html a <dt> with the row's anchor, tachoro.1 a
// .TP tag. The names come from the table of options, so a switch or key added
// without documentation fails here.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Options.h"

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

// The names a row is documented under: "-log", "-l", "-range=", "AVSDLL".
std::vector<std::string> NamesOf(const Option& option) {
    std::vector<std::string> names;
    for (const char* name : {option.Switch, option.Short[0], option.Short[1]})
        if (name) names.push_back(std::string(name) + (option.TakesValue() ? "=" : ""));
    if (option.Key) names.push_back(option.Key);
    return names;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The text of every <dt> (of the one with id="anchor" when one is named),
// tags removed, entities decoded.
std::vector<std::string> HtmlEntries(const std::string& html, const std::string& anchor = std::string()) {
    std::vector<std::string> entries;
    const std::string opening = anchor.empty() ? "<dt" : "<dt id=\"" + anchor + "\">";
    for (size_t start = html.find(opening); start != std::string::npos; start = html.find(opening, start + 1)) {
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
    ASSERT_TRUE(HasEntryFor({"-info -i"}, "-i"));
    ASSERT_FALSE(HasEntryFor({"-info --help"}, "-h"));
    const std::string html = DocumentText("Tachoro.html");
    const std::string man = DocumentText("tachoro.1");
    ASSERT_FALSE(html.empty());
    ASSERT_FALSE(man.empty());
    const std::vector<std::string> htmlEntries = HtmlEntries(html), manEntries = ManEntries(man);
    for (const Option& option : Options()) {
        const std::vector<std::string> names = NamesOf(option);
        ASSERT_NE(option.Anchor, nullptr) << names.front();
        // The row's own entry names its switch (or key); every name has an
        // entry in both documents.
        EXPECT_TRUE(HasEntryFor(HtmlEntries(html, option.Anchor), names.front()))
            << "Tachoro.html has no <dt id=\"" << option.Anchor << "\"> for " << names.front();
        for (const std::string& name : names) {
            EXPECT_TRUE(HasEntryFor(htmlEntries, name)) << "Tachoro.html has no entry for " << name;
            EXPECT_TRUE(HasEntryFor(manEntries, name)) << "tachoro.1 has no entry for " << name;
        }
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
