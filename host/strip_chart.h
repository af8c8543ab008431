// A source's panel as a monitoring host draws it, in character cells: the name and the
// current value with its units on the first row, then a strip chart of the last values,
// newest on the right, scaled between the limits, with a grid line every grid step and
// the limits labelled on the left. Pure text, so that it is drawn by any terminal layer
// and tested without one.
#pragma once

#include <string>
#include <vector>

#include "host_source.h"

// What a cell shows, for the drawing layer to colour.
enum ChartCell : char {
    kCellBlank = ' ',
    kCellTitle = 't',
    kCellValue = 'v',
    kCellLabel = 'l',
    kCellAxis = 'a',
    kCellBar = 'b',
    kCellMark = 'm',  // a value outside the limits, drawn at the edge
    kCellGrid = 'g',
};

struct ChartScale {
    double low;
    double high;
    bool fromValues;  // the limits give no range, so the values seen set it
};

// The limits, or, when maxLimit is not above minLimit, the range of the values seen.
ChartScale ScaleFor(const HostSource& source, const SourceHistory& history);

// The row of a value in a chart of `rows` rows, 0 at the top. `clamped` is 1 for a value
// above the scale, -1 below it, 0 inside; a value that is not a number has no row (-1).
int ChartRow(double value, const ChartScale& scale, int rows, int* clamped);

// The rows that hold a grid line: every multiple of gridDim above the low end and below
// the high end. None when gridDim is not above zero or there would be more lines than rows.
std::vector<int> GridRows(const ChartScale& scale, double gridDim, int rows);

// The number in at most `width` characters (6 at least), with fewer digits where the
// exponent would not fit otherwise.
std::string NumberFitting(double value, size_t width);

// The value as the host shows it: the number as it is, with the units.
std::string ValueText(float value, const std::string& units);

struct PanelCells {
    std::vector<std::string> text;   // one string of `width` characters a row
    std::vector<std::string> kinds;  // the ChartCell of every character
};

// Lays out one panel of `width` x `height` cells (height 3 at least: title, chart rows,
// and a blank separator row at the bottom).
PanelCells RenderPanel(const HostSource& source, const SourceHistory& history, int width,
                       int height);
