#include "report/ProfileSection.h"

#include <algorithm>

#include "report/PlotFile.h"
#include "report/SeriesReport.h"
#include "support/Text.h"

namespace {

constexpr size_t kStatementWidth = 40;

// Blanks after a text of at most 40 characters (a UTF-8 sequence counts as
// one), so that the columns after it line up.
std::string Padded(const std::string& text) {
    size_t characters = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
    return text + std::string(characters < kStatementWidth ? kStatementWidth - characters : 0, ' ');
}

std::string Figure(const std::optional<double>& value, const char* format) {
    return value ? FormatText(format, *value) : std::string("-");
}

std::vector<std::string> MessageLines(const std::string& message) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= message.size()) {
        size_t end = message.find('\n', start);
        if (end == std::string::npos) end = message.size();
        std::string line = message.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// What stands in a stage's row instead of its figures.
std::string Outcome(const ProfileStage& stage) {
    const RunEnding::Kind how = stage.Ending.How;
    if (how == RunEnding::Kind::Completed || how == RunEnding::Kind::StoppedByTimeLimit)
        return "too few frames for a sample";
    return RunEndingText(how);
}

}  // namespace

std::vector<ProfileFigures> ProfileFiguresOf(const ScriptProfile& profile) {
    std::vector<ProfileFigures> figures;
    std::optional<double> before;
    const std::optional<double> whole =
        profile.WholeFps && *profile.WholeFps > 0 ? std::optional<double>(1000.0 / *profile.WholeFps) : std::nullopt;
    for (const ProfileStage& stage : profile.Stages) {
        ProfileFigures row;
        if (stage.Fps && *stage.Fps > 0) {
            row.MsPerFrame = 1000.0 / *stage.Fps;
            row.AddedMs = *row.MsPerFrame - before.value_or(0.0);
            if (whole) row.SharePercent = *row.AddedMs / *whole * 100.0;
            before = row.MsPerFrame;
        }
        figures.push_back(row);
    }
    return figures;
}

std::vector<std::string> ProfileLines(const ScriptProfile& profile) {
    std::vector<std::string> lines;
    lines.push_back(FormatText("Profile: each stage measured for at most %lld s",
                               static_cast<long long>(profile.StageTimeLimit)));
    if (profile.PrefetchLine)
        lines.push_back(FormatText("Prefetch(%s) of line %u is applied to every stage.",
                                   profile.PrefetchArguments.c_str(), *profile.PrefetchLine));
    if (profile.WholeFps && *profile.WholeFps > 0)
        lines.push_back(FormatText("Whole script: %.2f fps, %.3f ms/frame", *profile.WholeFps,
                                   1000.0 / *profile.WholeFps));
    lines.push_back("Line " + Padded("Statement") + "       fps ms/frame added ms share %");
    const std::vector<ProfileFigures> figures = ProfileFiguresOf(profile);
    for (size_t index = 0; index < profile.Stages.size(); ++index) {
        const ProfileStage& stage = profile.Stages[index];
        const ProfileFigures& row = figures[index];
        std::string line = FormatText("%4u ", stage.Line) + Padded(stage.Text);
        if (row.MsPerFrame) {
            line += FormatText(" %9.1f %8.3f %8s %7s", *stage.Fps, *row.MsPerFrame,
                               Figure(row.AddedMs, "%+.3f").c_str(), Figure(row.SharePercent, "%.1f").c_str());
            lines.push_back(line);
            continue;
        }
        const std::vector<std::string> message = MessageLines(stage.Ending.Message);
        line += "  " + std::string(Outcome(stage));
        if (stage.Ending.Failed() && !message.front().empty()) line += ": " + message.front();
        lines.push_back(line);
        if (stage.Ending.Failed())
            for (size_t more = 1; more < message.size(); ++more) lines.push_back("     " + message[more]);
    }
    if (profile.NotReached > 0)
        lines.push_back(FormatText("%u more stage%s not measured: the profile was ended.", profile.NotReached,
                                   profile.NotReached == 1 ? "" : "s"));
    return lines;
}

std::string ProfileLogSection(const ScriptProfile& profile) {
    std::string text = "\n\n[Profile]\n";
    for (const std::string& line : ProfileLines(profile)) text += line + "\n";
    return text;
}

std::string ProfileBars(const ScriptProfile& profile, double top, double width, double& height) {
    constexpr double kRow = 22, kLabels = 330, kMargin = 40;
    const std::vector<ProfileFigures> figures = ProfileFiguresOf(profile);
    double low = 0, high = 0;
    for (const ProfileFigures& row : figures)
        if (row.AddedMs) {
            low = std::min(low, *row.AddedMs);
            high = std::max(high, *row.AddedMs);
        }
    const double span = high > low ? high - low : 1;
    // Room on the right for the longest bar's label.
    const double area = width - kLabels - kMargin - 70;
    auto x = [&](double value) { return kLabels + kMargin + (value - low) / span * area; };
    auto number = [](double value) {
        std::string text;
        AppendFixed(text, value, 1);
        return text;
    };

    std::string svg = "<g class=\"profile\">\n";
    svg += "<text x=\"" + number(width / 2) + "\" y=\"" + number(top + 24) +
           "\" text-anchor=\"middle\" font-size=\"16\">Added time per frame of each stage (ms)</text>\n";
    double y = top + 40;
    for (size_t index = 0; index < profile.Stages.size(); ++index) {
        const ProfileStage& stage = profile.Stages[index];
        const ProfileFigures& row = figures[index];
        svg += "<text x=\"10\" y=\"" + number(y + 15) + "\">" +
               Xml(FormatText("%u: ", stage.Line) + stage.Text) + "</text>\n";
        if (row.AddedMs) {
            const double from = std::min(x(0), x(*row.AddedMs)), to = std::max(x(0), x(*row.AddedMs));
            svg += "<rect x=\"" + number(from) + "\" y=\"" + number(y + 3) + "\" width=\"" +
                   number(std::max(to - from, 0.5)) + "\" height=\"" + number(kRow - 6) + "\" fill=\"" +
                   (*row.AddedMs < 0 ? "#2ca02c" : "#1f77b4") + "\"/>\n";
            svg += "<text x=\"" + number(to + 4) + "\" y=\"" + number(y + 15) + "\">" +
                   FormatText("%+.3f", *row.AddedMs) + "</text>\n";
        } else {
            svg += "<text x=\"" + number(x(0) + 4) + "\" y=\"" + number(y + 15) + "\" fill=\"#d62728\">" +
                   Xml(Outcome(stage)) + "</text>\n";
        }
        y += kRow;
    }
    svg += "<line x1=\"" + number(x(0)) + "\" y1=\"" + number(top + 40) + "\" x2=\"" + number(x(0)) + "\" y2=\"" +
           number(y) + "\" stroke=\"#000000\"/>\n";
    svg += "</g>\n";
    height = y + 10 - top;
    return svg;
}
