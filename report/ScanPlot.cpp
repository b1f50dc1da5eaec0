// The chart of a parameter scan: one point per value at its mean frame rate,
// a bar of one standard deviation either side, the values evenly spaced in
// the order they were measured and named under the axis.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "report/PlotFile.h"
#include "support/Text.h"

namespace {

constexpr double kLeft = 90;
constexpr double kRight = 930;
constexpr double kTop = 80;
constexpr double kBottom = 440;

struct ScanPoint {
    std::string Label;
    std::optional<SeriesFigures> Figures;  // absent when no run counted
};

}  // namespace

void ProduceScanPlot(const SeriesReport& scan, TextSink& sink) {
    std::vector<ScanPoint> points;
    double high = 0;
    for (const SeriesReport& value : scan.ScanValues) {
        ScanPoint point{value.Scan ? value.Scan->Value.Text : std::string(), std::nullopt};
        const SeriesFigures figures = SeriesFiguresOf(value);
        if (figures.Runs > 0) {
            point.Figures = figures;
            high = std::max(high, figures.Mean + figures.StandardDeviation.value_or(0));
        }
        points.push_back(point);
    }
    const double step = NiceStep((high > 0 ? high * 1.05 : 1.0) / 6);
    const double top = std::ceil((high > 0 ? high * 1.05 : 1.0) / step) * step;
    auto y = [&](double fps) { return kBottom - fps / top * (kBottom - kTop); };
    auto x = [&](size_t index) { return kLeft + (index + 0.5) * (kRight - kLeft) / points.size(); };
    const std::string name = scan.Scan ? scan.Scan->Name : std::string();

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"960\" height=\"540\" "
           "viewBox=\"0 0 960 540\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<title>" + Xml(FileNameOf(scan.ScriptPath)) + "</title>\n";
    svg += "<rect width=\"960\" height=\"540\" fill=\"#ffffff\"/>\n";
    svg += "<text class=\"title\" x=\"480\" y=\"30\" text-anchor=\"middle\" font-size=\"18\">" +
           Xml(FileNameOf(scan.ScriptPath)) + "</text>\n";
    std::string subtitle =
        scan.General ? scan.General->FrameServer.FrameServerVersion : std::string("frame server unknown");
    subtitle += " - " + scan.StartedLocal + " - " + std::to_string(points.size()) + " values of " + name;
    if (scan.RunsRequested > 1) subtitle += ", " + std::to_string(scan.RunsRequested) + " runs each";
    svg += "<text class=\"subtitle\" x=\"480\" y=\"52\" text-anchor=\"middle\">" + Xml(subtitle) + "</text>\n";

    svg += RateAxes(kLeft, kRight, kTop, kBottom, top, step);

    for (size_t index = 0; index < points.size(); ++index) {
        const ScanPoint& point = points[index];
        const std::string px = Coordinate(x(index));
        svg += "<g class=\"value\" data-value=\"" + Xml(point.Label) + "\">\n";
        svg += "<text x=\"" + px + "\" y=\"" + Coordinate(kBottom + 20) + "\" text-anchor=\"middle\">" +
               Xml(point.Label) + "</text>\n";
        if (!point.Figures) {
            svg += "<text class=\"no-result\" x=\"" + px + "\" y=\"" + Coordinate(kBottom - 8) +
                   "\" text-anchor=\"middle\">no result</text>\n</g>\n";
            continue;
        }
        const SeriesFigures& figures = *point.Figures;
        if (figures.StandardDeviation) {
            const double low = std::max(0.0, figures.Mean - *figures.StandardDeviation);
            const double upper = figures.Mean + *figures.StandardDeviation;
            svg += "<line class=\"sd\" x1=\"" + px + "\" y1=\"" + Coordinate(y(low)) + "\" x2=\"" + px + "\" y2=\"" +
                   Coordinate(y(upper)) + "\" stroke=\"#1f77b4\" stroke-width=\"1.5\"/>";
            for (double end : {low, upper})
                svg += "<line x1=\"" + Coordinate(x(index) - 6) + "\" y1=\"" + Coordinate(y(end)) + "\" x2=\"" +
                       Coordinate(x(index) + 6) + "\" y2=\"" + Coordinate(y(end)) +
                       "\" stroke=\"#1f77b4\" stroke-width=\"1.5\"/>";
            svg += "\n";
        }
        svg += "<circle class=\"mean\" cx=\"" + px + "\" cy=\"" + Coordinate(y(figures.Mean)) +
               "\" r=\"4\" fill=\"#1f77b4\"/>\n";
        svg += "<text x=\"" + Coordinate(x(index) + 8) + "\" y=\"" + Coordinate(y(figures.Mean) - 6) + "\">" +
               Xml(FormatFPS(figures.Mean)) + "</text>\n</g>\n";
    }
    svg += "<text class=\"x-label\" x=\"" + Coordinate((kLeft + kRight) / 2) +
           "\" y=\"485\" text-anchor=\"middle\">" + Xml(name) + "</text>\n";
    svg += "<text class=\"y-label\" x=\"20\" y=\"" + Coordinate((kTop + kBottom) / 2) +
           "\" text-anchor=\"middle\" transform=\"rotate(-90 20 " + Coordinate((kTop + kBottom) / 2) +
           ")\">frames per second (fps), mean and standard deviation</text>\n";
    svg += "</svg>\n";
    sink.Write(svg);
}
