#include "tests/realfs/RealFS.h"

#include <sstream>

const char* const kUnloadedUnderItsThreads =
    "the library is unloaded under the running threads of its undeleted environment";

RealRun::RealRun(const std::vector<std::string>& settings) {
    std::vector<std::string> lines = {"AVSDLL=" + NativePath(REAL_FRAMESERVER)};
    lines.insert(lines.end(), settings.begin(), settings.end());
    WriteSettings(lines, false);
}

std::string RealRun::Script(const std::string& name, const std::string& body) {
    return WriteScript(name, "LoadPlugin(\"" + NativePath(FAULT_PLUGIN) + "\")\n" + body);
}

std::string RealBanner() {
    static const std::string banner = [] {
        RealRun tachoro;
        const std::string out = tachoro.Run({"-avsinfo"}).Out;
        auto fact = [&out](const std::string& label) {
            const size_t at = out.find(label);
            return at == std::string::npos ? std::string("?")
                                           : out.substr(at + 29, out.find('\n', at) - at - 29);
        };
        return "\nTachoro 2.1.3 (x64)\n" + StatusShownAndCleared("Query Avisynth info...") + "\r" +
               fact("Avisynth version string:") + " (" + fact("File version:") + ")\n";
    }();
    return banner;
}

std::vector<std::string> ScreenLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
        const size_t lastReturn = line.rfind('\r');
        if (lastReturn != std::string::npos) line = line.substr(lastReturn + 1);
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> Section(const std::vector<std::string>& lines, const std::string& heading) {
    std::vector<std::string> section;
    size_t at = 0;
    while (at < lines.size() && lines[at] != heading) ++at;
    for (++at; at < lines.size() && !lines[at].empty(); ++at) section.push_back(lines[at]);
    return section;
}

std::vector<std::string> Fields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::istringstream stream(line);
    if (separator == ' ') {
        for (std::string field; stream >> field;) fields.push_back(field);
    } else {
        for (std::string field; std::getline(stream, field, separator);) fields.push_back(field);
    }
    return fields;
}

std::string ValueOf(const std::vector<std::string>& lines, const std::string& label) {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->compare(0, label.size(), label) == 0) {
            const size_t value = line->find_first_not_of(' ', label.size());
            return value == std::string::npos ? std::string() : line->substr(value);
        }
    return std::string();
}
