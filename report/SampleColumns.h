// The one table of sample columns shared by the log and the CSV file: title,
// width in the log, number format and which GPU reading the column needs.
#pragma once

#include <cstddef>
#include <string>

#include "measure/Statistics.h"

enum class ColumnFormat { Count, Fixed3, Fixed6 };
enum class ColumnNeed { Always, GPUMonitoring, VideoEngine, ProcessLoad };

struct SampleColumn {
    const char* Title;
    int LogWidth;  // right-aligned width in the log; 0: the log leaves it out
    ColumnFormat Format;
    ColumnNeed Need;
    double (*Value)(const FrameSample& sample);
};

struct SampleColumnChoice {
    bool MonitorGPU = false;
    bool HasVideoEngine = false;  // only counts with MonitorGPU
    bool HasProcessLoad = false;  // likewise
};

// The columns in their order.
const SampleColumn* SampleColumnsBegin();
const SampleColumn* SampleColumnsEnd();

// The log carries the columns with a width; the CSV file carries them all.
enum class ColumnSet { Log, Csv };

bool ColumnShown(const SampleColumn& column, const SampleColumnChoice& choice, ColumnSet set);

// The shown columns' cells, separated by `separator`: cell(text, column)
// appends one.
template <class Cell>
std::string JoinColumns(ColumnSet set, const SampleColumnChoice& choice, char separator, Cell&& cell) {
    std::string text;
    bool first = true;
    for (const SampleColumn* column = SampleColumnsBegin(); column != SampleColumnsEnd(); ++column) {
        if (!ColumnShown(*column, choice, set)) continue;
        if (!first) text += separator;
        first = false;
        cell(text, *column);
    }
    return text;
}

// The column's value of a sample, right-aligned in `width` (0: no padding),
// always with a full stop as decimal separator.
void AppendColumnValue(std::string& out, const SampleColumn& column, const FrameSample& sample, int width);
