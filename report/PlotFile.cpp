#include "report/PlotFile.h"

#include <algorithm>
#include <cmath>

#include "platform/Files.h"
#include "report/ProfileSection.h"
#include "support/Text.h"

namespace {

constexpr double kLeft = 90;
constexpr double kTop = 80;
constexpr double kBottom = 460;
constexpr double kRight = kLeft + kPlotColumns;
constexpr size_t kLegendEntries = 8;

const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e",
                                "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};

}  // namespace

// Text content and attribute values: UTF-8, the five XML specials escaped,
// control characters (which XML does not allow) shown as '?'.
std::string Xml(const std::string& narrow) {
    std::string text;
    for (char character : Utf8Text(narrow)) {
        switch (character) {
        case '&': text += "&amp;"; break;
        case '<': text += "&lt;"; break;
        case '>': text += "&gt;"; break;
        case '"': text += "&quot;"; break;
        case '\'': text += "&apos;"; break;
        default:
            text += static_cast<unsigned char>(character) < 0x20 && character != '\t' ? '?' : character;
        }
    }
    return text;
}

std::string Fixed(double value, int decimals) {
    std::string text;
    AppendFixed(text, value, decimals);
    return text;
}

std::string Coordinate(double value) { return Fixed(value, 1); }

double NiceStep(double rough) {
    if (!(rough > 0)) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double fraction = rough / power;
    const double nice = fraction < 1.5 ? 1 : fraction < 3.5 ? 2 : fraction < 7.5 ? 5 : 10;
    return nice * power;
}

int DecimalsFor(double step) {
    if (step >= 1) return 0;
    return static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

// A tick label of the rate axis; high rates in thousands or millions
// ("250k", "2.5M"), so that the labels stay short.
std::string RateTick(double value, double step, double top) {
    if (top >= 1e7) return Fixed(value / 1e6, DecimalsFor(step / 1e6)) + "M";
    if (top >= 1e4) return Fixed(value / 1e3, DecimalsFor(step / 1e3)) + "k";
    return Fixed(value, DecimalsFor(step));
}

std::string FileNameOf(const std::string& path) { return LastPathPart(path, platform::PathSeparators()); }

std::string RateAxes(double left, double right, double topY, double bottomY, double top, double step) {
    auto y = [&](double fps) { return bottomY - fps / top * (bottomY - topY); };
    std::string svg = "<g class=\"axes\" stroke=\"#000000\" fill=\"none\">\n";
    svg += "<line x1=\"" + Coordinate(left) + "\" y1=\"" + Coordinate(bottomY) + "\" x2=\"" + Coordinate(right) +
           "\" y2=\"" + Coordinate(bottomY) + "\"/>\n";
    svg += "<line x1=\"" + Coordinate(left) + "\" y1=\"" + Coordinate(topY) + "\" x2=\"" + Coordinate(left) +
           "\" y2=\"" + Coordinate(bottomY) + "\"/>\n";
    svg += "</g>\n";

    svg += "<g class=\"y-ticks\">\n";
    for (double tick : AxisTicks(0, top, static_cast<int>(std::lround(top / step)))) {
        const std::string ty = Coordinate(y(tick));
        svg += "<line x1=\"" + Coordinate(left - 5) + "\" y1=\"" + ty + "\" x2=\"" + Coordinate(right) +
               "\" y2=\"" + ty + "\" stroke=\"" + (tick == 0 ? "#000000" : "#e0e0e0") + "\"/>";
        svg += "<text x=\"" + Coordinate(left - 8) + "\" y=\"" + Coordinate(y(tick) + 4) +
               "\" text-anchor=\"end\">" + RateTick(tick, step, top) + "</text>\n";
    }
    svg += "</g>\n";
    return svg;
}

namespace {

struct Extreme {
    bool Found = false;
    double Fps = 0;
    uint32_t Frame = 0;
    uint32_t Run = 0;
};

class Chart {
public:
    explicit Chart(const SeriesReport& series) : Series(series) {
        bool any = false;
        for (const RunRecord& run : series.Runs) {
            if (!run.Measured || run.Stats.FramesToProcess == 0) continue;
            const uint32_t last = run.Stats.FirstFrame + run.Stats.FramesToProcess - 1;
            First = any ? std::min(First, run.Stats.FirstFrame) : run.Stats.FirstFrame;
            Last = any ? std::max(Last, last) : last;
            any = true;
            for (const FrameSample& sample : run.Samples) {
                if (!Low.Found || sample.FPS < Low.Fps) Low = Extreme{true, sample.FPS, sample.FrameNumber, run.Number};
                if (!High.Found || sample.FPS > High.Fps)
                    High = Extreme{true, sample.FPS, sample.FrameNumber, run.Number};
            }
        }
        if (!any) Last = First + 1;
        const double step = NiceStep((High.Found ? High.Fps * 1.05 : 1.0) / 6);
        YStep = step;
        YTop = std::ceil((High.Found ? High.Fps * 1.05 : 1.0) / step) * step;
    }

    double X(double frame) const {
        const double span = static_cast<double>(Last) - First + 1;
        return kLeft + (frame - First + 0.5) * kPlotColumns / span;
    }
    double ColumnX(uint32_t column) const { return kLeft + column + 0.5; }
    double Y(double fps) const { return kBottom - fps / YTop * (kBottom - kTop); }

    std::string Draw() const {
        std::string svg;
        svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        // A profile's bars go below the frame rate's chart.
        double barsHeight = 0;
        const std::string bars = Series.Profile ? ProfileBars(*Series.Profile, 540, 960, barsHeight) : std::string();
        const std::string height = std::to_string(540 + static_cast<int>(std::ceil(barsHeight)));
        svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"960\" height=\"" + height +
               "\" viewBox=\"0 0 960 " + height + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
        svg += "<title>" + Xml(FileNameOf(Series.ScriptPath)) + "</title>\n";
        svg += "<rect width=\"960\" height=\"" + height + "\" fill=\"#ffffff\"/>\n";
        DrawHeading(svg);
        DrawAxes(svg);
        DrawRuns(svg);
        DrawAverage(svg);
        DrawExtremes(svg);
        svg += bars;
        svg += "</svg>\n";
        return svg;
    }

private:
    void DrawHeading(std::string& svg) const {
        svg += "<text class=\"title\" x=\"480\" y=\"30\" text-anchor=\"middle\" font-size=\"18\">" +
               Xml(FileNameOf(Series.ScriptPath)) + "</text>\n";
        std::string subtitle =
            Series.General ? Series.General->FrameServer.FrameServerVersion : std::string("frame server unknown");
        subtitle += " - " + Series.StartedLocal;
        if (Series.RunsRequested > 1) subtitle += " - " + std::to_string(Series.Runs.size()) + " runs";
        svg += "<text class=\"subtitle\" x=\"480\" y=\"52\" text-anchor=\"middle\">" + Xml(subtitle) + "</text>\n";
        if (Series.Runs.size() < 2) return;
        double x = kLeft;
        size_t shown = 0;
        for (const RunRecord& run : Series.Runs) {
            if (shown == kLegendEntries) {
                svg += "<text x=\"" + Coordinate(x) + "\" y=\"72\">+" +
                       std::to_string(Series.Runs.size() - kLegendEntries) + " more</text>\n";
                break;
            }
            svg += "<rect x=\"" + Coordinate(x) + "\" y=\"63\" width=\"10\" height=\"10\" fill=\"" + Colour(run) +
                   "\"/><text x=\"" + Coordinate(x + 14) + "\" y=\"72\">run " + std::to_string(run.Number) +
                   "</text>\n";
            x += 62;
            ++shown;
        }
    }

    void DrawAxes(std::string& svg) const {
        svg += RateAxes(kLeft, kRight, kTop, kBottom, YTop, YStep);

        svg += "<g class=\"x-ticks\">\n";
        const double span = static_cast<double>(Last) - First;
        for (double tick : AxisTicks(First, Last, span < 6 ? static_cast<int>(span) + 1 : 6)) {
            const std::string x = Coordinate(X(tick));
            svg += "<line x1=\"" + x + "\" y1=\"" + Coordinate(kBottom) + "\" x2=\"" + x + "\" y2=\"" +
                   Coordinate(kBottom + 5) + "\" stroke=\"#000000\"/>";
            svg += "<text x=\"" + x + "\" y=\"" + Coordinate(kBottom + 20) + "\" text-anchor=\"middle\">" +
                   Fixed(tick, 0) + "</text>\n";
        }
        svg += "</g>\n";
        svg += "<text class=\"x-label\" x=\"" + Coordinate((kLeft + kRight) / 2) +
               "\" y=\"505\" text-anchor=\"middle\">frame number</text>\n";
        svg += "<text class=\"y-label\" x=\"20\" y=\"" + Coordinate((kTop + kBottom) / 2) +
               "\" text-anchor=\"middle\" transform=\"rotate(-90 20 " + Coordinate((kTop + kBottom) / 2) +
               ")\">frames per second (fps)</text>\n";
    }

    std::string Colour(const RunRecord& run) const {
        return kColours[(run.Number - 1) % (sizeof kColours / sizeof kColours[0])];
    }

    std::string Points(const std::vector<PlotColumn>& columns, bool highest) const {
        std::string points;
        for (const PlotColumn& column : columns) {
            if (!points.empty()) points += ' ';
            points += Coordinate(ColumnX(column.Column)) + "," + Coordinate(Y(highest ? column.Max : column.Min));
        }
        return points;
    }

    void DrawRuns(std::string& svg) const {
        bool anySamples = false;
        for (const RunRecord& run : Series.Runs) {
            if (run.Samples.empty()) continue;
            anySamples = true;
            const std::vector<PlotColumn> columns = ThinToColumns(run.Samples, First, Last, kPlotColumns);
            const std::string colour = Colour(run);
            const std::string number = std::to_string(run.Number);
            svg += "<g class=\"run\" data-run=\"" + number + "\">\n";
            const bool spread = std::any_of(columns.begin(), columns.end(),
                                            [](const PlotColumn& column) { return column.Min < column.Max; });
            if (spread) {
                // The band between the lowest and highest rate of each column.
                std::string band = Points(columns, true);
                for (auto column = columns.rbegin(); column != columns.rend(); ++column)
                    band += " " + Coordinate(ColumnX(column->Column)) + "," + Coordinate(Y(column->Min));
                svg += "<polygon class=\"fps-band\" points=\"" + band + "\" fill=\"" + colour +
                       "\" fill-opacity=\"0.25\" stroke=\"none\"/>\n";
            }
            svg += "<polyline class=\"fps-max\" points=\"" + Points(columns, true) + "\" fill=\"none\" stroke=\"" +
                   colour + "\" stroke-width=\"1\"/>\n";
            svg += "<polyline class=\"fps-min\" points=\"" + Points(columns, false) + "\" fill=\"none\" stroke=\"" +
                   colour + "\" stroke-width=\"1\"/>\n";
            svg += "</g>\n";
        }
        if (!anySamples)
            svg += "<text class=\"no-samples\" x=\"" + Coordinate((kLeft + kRight) / 2) + "\" y=\"" +
                   Coordinate((kTop + kBottom) / 2) +
                   "\" text-anchor=\"middle\">No samples: no run measured a whole sampling interval</text>\n";
    }

    // The dashed line across the plot; its label stands at the right of the
    // heading, where it hides no sample.
    void DrawAverage(std::string& svg) const {
        const SeriesFigures figures = SeriesFiguresOf(Series);
        if (figures.Runs == 0) return;
        const std::string y = Coordinate(Y(figures.Mean));
        svg += "<g class=\"average\">\n<line x1=\"" + Coordinate(kLeft) + "\" y1=\"" + y + "\" x2=\"" +
               Coordinate(kRight) + "\" y2=\"" + y + "\" stroke=\"#000000\" stroke-dasharray=\"6 4\"/>\n";
        const std::string label = (figures.Runs > 1 ? "mean of the averages " : "average ") + FormatFPS(figures.Mean) + " fps";
        svg += "<line x1=\"" + Coordinate(kRight - 250) + "\" y1=\"68\" x2=\"" + Coordinate(kRight - 226) +
               "\" y2=\"68\" stroke=\"#000000\" stroke-dasharray=\"6 4\"/>";
        svg += "<text x=\"" + Coordinate(kRight) + "\" y=\"72\" text-anchor=\"end\">" + Xml(label) + "</text>\n</g>\n";
    }

    // The label goes above the point for the maximum and below it for the
    // minimum, unless that would leave the plot.
    void DrawExtreme(std::string& svg, const Extreme& extreme, const char* name, bool above) const {
        const double x = X(extreme.Frame);
        const double y = Y(extreme.Fps);
        if (above && y - 8 < kTop + 12) above = false;
        else if (!above && y + 16 > kBottom - 4) above = true;
        const double labelOffset = above ? -8 : 16;
        std::string label = std::string(name) + " " + FormatFPS(extreme.Fps) + " fps (frame " +
                            std::to_string(extreme.Frame) + ")";
        if (Series.Runs.size() > 1) label += " run " + std::to_string(extreme.Run);
        const bool leftOfPoint = x > (kLeft + kRight) / 2;
        svg += "<g class=\"" + std::string(name) + "\">\n<circle cx=\"" + Coordinate(x) + "\" cy=\"" + Coordinate(y) +
               "\" r=\"4\" fill=\"none\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n";
        svg += "<text x=\"" + Coordinate(leftOfPoint ? x - 8 : x + 8) + "\" y=\"" + Coordinate(y + labelOffset) +
               "\" text-anchor=\"" + (leftOfPoint ? "end" : "start") +
               "\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\">" + Xml(label) + "</text>\n</g>\n";
    }

    void DrawExtremes(std::string& svg) const {
        if (!High.Found) return;
        DrawExtreme(svg, High, "max", true);
        DrawExtreme(svg, Low, "min", false);
    }

    const SeriesReport& Series;
    uint32_t First = 0;
    uint32_t Last = 0;
    Extreme Low, High;
    double YStep = 1;
    double YTop = 1;
};

}  // namespace

std::vector<PlotColumn> ThinToColumns(const std::vector<FrameSample>& samples, uint32_t first, uint32_t last,
                                      uint32_t columns) {
    std::vector<PlotColumn> result;
    if (columns == 0 || last < first) return result;
    const uint64_t span = static_cast<uint64_t>(last) - first + 1;
    for (const FrameSample& sample : samples) {
        if (sample.FrameNumber < first || sample.FrameNumber > last) continue;
        const uint64_t scaled = (static_cast<uint64_t>(sample.FrameNumber) - first) * columns / span;
        const uint32_t column = static_cast<uint32_t>(std::min<uint64_t>(scaled, columns - 1));
        if (!result.empty() && result.back().Column == column) {
            result.back().Min = std::min(result.back().Min, sample.FPS);
            result.back().Max = std::max(result.back().Max, sample.FPS);
        } else {
            result.push_back(PlotColumn{column, sample.FPS, sample.FPS});
        }
    }
    return result;
}

std::vector<double> AxisTicks(double low, double high, int count) {
    std::vector<double> ticks;
    if (!(high >= low) || count < 1) return ticks;
    const double step = high > low ? NiceStep((high - low) / count) : 1;
    for (double k = std::ceil(low / step - 1e-9); k * step <= high + step * 1e-9; k += 1) ticks.push_back(k * step + 0.0);  // never -0
    return ticks;
}

void ProducePlot(const SeriesReport& series, TextSink& sink) {
    if (!series.ScanValues.empty()) {
        ProduceScanPlot(series, sink);
        return;
    }
    sink.Write(Chart(series).Draw());
}
