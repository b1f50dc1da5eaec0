// The chart of a series (-plot), written beside the script as an SVG file:
// the frame rate of every sample against its frame number, one colour per
// run, the average as a dashed line, the slowest and fastest sample marked,
// axes with ticks and units, a title with the script's name, the frame
// server and the date. Self-contained: no script, no external font, style
// or image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/Statistics.h"
#include "report/ReportFile.h"
#include "report/SeriesReport.h"

// The samples of one run thinned for drawing: one entry per pixel column
// that holds a sample, with the lowest and highest rate among its samples,
// so that no minimum or maximum is lost however long the run.
struct PlotColumn {
    uint32_t Column = 0;
    double Min = 0;
    double Max = 0;
};

// Columns 0..columns-1 span frames first..last evenly.
std::vector<PlotColumn> ThinToColumns(const std::vector<FrameSample>& samples, uint32_t first, uint32_t last,
                                      uint32_t columns);

// Tick values for an axis from low to high: steps of 1, 2 or 5 times a
// power of ten, about `count` of them, multiples of the step within
// [low, high].
std::vector<double> AxisTicks(double low, double high, int count);

// The drawing's pixel columns (the width of the plot area).
constexpr uint32_t kPlotColumns = 840;

void ProducePlot(const SeriesReport& series, TextSink& sink);

// A scan's chart (report/ScanPlot.cpp): each value's mean frame rate with its
// standard deviation, against the value.
void ProduceScanPlot(const SeriesReport& scan, TextSink& sink);

// The pieces both charts draw with: text escaped for XML, a number with
// `decimals` decimals, a coordinate, a round step near `rough`, a rate
// axis's tick label, a path's file name, the axes.
std::string Xml(const std::string& narrow);
std::string Fixed(double value, int decimals);
std::string Coordinate(double value);
double NiceStep(double rough);
std::string RateTick(double value, double step, double top);
std::string FileNameOf(const std::string& path);
// The two axes and the rate axis's ticks and grid, for a plot from `left` to
// `right` and from topY to bottomY whose rate axis runs from 0 to `top`.
std::string RateAxes(double left, double right, double topY, double bottomY, double top, double step);
