// A source's panel as a monitoring host draws it, in character cells: the name, the
// minimum, average and maximum on screen and the current value with its units on the first
// row, then a strip chart of the last values, newest on the right, scaled between the
// limits, with a grid line every grid step and the limits labelled on the left. Pure
// cells (a character and what it shows), so that it is drawn by any terminal layer and
// tested without one.
#pragma once

#include <string>
#include <vector>

#include "host_source.h"

// What a cell shows, for the drawing layer to colour.
enum ChartCell : char {
    kCellBlank = ' ',
    kCellTitle = 't',
    kCellValue = 'v',
    kCellStats = 's',  // min, avg and max in the title
    kCellLabel = 'l',
    kCellAxis = 'a',
    kCellMark = 'm',  // a value outside the limits or failed: its mark, or the title's value
    kCellGrid = 'g',
    kCellHeat0 = '0',  // a bar, by how high its value stands on the scale: 0 lowest,
    kCellHeat4 = '4',  // kCellHeat0 + kHeatSteps - 1 highest
};
constexpr int kHeatSteps = 5;

// ASCII (#, -, |, ^ and v) for any terminal; block characters where the terminal shows
// UTF-8: eight levels a row, box-drawing axis and grid, triangles for marks.
enum class ChartGlyphs { kAscii, kBlocks };

struct ChartScale {
    double low;
    double high;
    bool fromValues;  // the limits give no range, so the values seen set it
};

// The limits; or, when maxLimit is not above minLimit: from 0 (or a round number below the
// lowest value, where one is negative) to 100 for a share (or a round number above the
// highest value, where one is above 100), to `knownHigh` for another source where that is
// given (a limit the counter library knows, such as the memory's total) and no value is
// above it, else to a round number (1, 2, 2.5 or 5 times a power of ten) at or above the
// highest value.
ChartScale ScaleFor(const HostSource& source, const SourceHistory& history, double knownHigh = 0);

// The smallest of 1, 2, 2.5 and 5 times a power of ten that is not below `value`; 1 for a
// value that is not above 0.
double NiceCeiling(double value);

// The row of a value in a chart of `rows` rows, 0 at the top. `clamped` is 1 for a value
// above the scale, -1 below it, 0 inside; a value that is not a number has no row (-1).
int ChartRow(double value, const ChartScale& scale, int rows, int* clamped);

// The height of a value's bar in eighths of a row, 1 (the low end) to rows * 8 (the high
// end), clamped as ChartRow does; -1 for a value that is not a number.
int BarEighths(double value, const ChartScale& scale, int rows, int* clamped);

// The block character filling `eighths` (1 to 8) of a cell from the bottom; a space for 0.
char32_t BlockGlyph(int eighths);

// The cell kind of a bar: how high the value stands between the scale's ends, in
// kHeatSteps steps; values outside the scale take the nearest end's.
ChartCell HeatOf(double value, const ChartScale& scale);

// The rows that hold a grid line: every multiple of gridDim above the low end and below
// the high end; where that is more lines than rows, the multiples of n steps for the
// smallest n that fits. None when gridDim is not above zero.
std::vector<int> GridRows(const ChartScale& scale, double gridDim, int rows);

// The number in at most `width` characters (6 at least), with fewer digits where the
// exponent would not fit otherwise.
std::string NumberFitting(double value, size_t width);

// The value as the host shows it: the number with its units, a large one in a larger unit
// or with an SI prefix (value_units.h); a failed reading
// (one of the plug-in's failure values) as "failed: <what>", never as its number. A failed
// reading has no bar in the chart, only a mark (x) at the bottom, and counts in no
// statistic and no scale.
std::string ValueText(float value, const std::string& units);

struct ValueStats {
    size_t count;  // finite values among those looked at; the rest is 0 without any
    double min;
    double avg;
    double max;
};

// The minimum, average and maximum of the finite values among the `newest` latest.
ValueStats StatsOf(const SourceHistory& history, size_t newest);

// "min 1 avg 2.5 max 4 %", with four significant digits, the three in the unit the largest
// is shown in; empty without a finite value.
std::string StatsText(const ValueStats& stats, const std::string& units);

struct PanelCells {
    std::vector<std::u32string> text;  // one character a cell, `width` cells a row
    std::vector<std::string> kinds;    // the ChartCell of every cell
};

// A row of cells as UTF-8 text.
std::string RowText(const PanelCells& cells, size_t row);

// Lays out one panel of `width` x `height` cells (height 3 at least: title, chart rows,
// and a blank separator row at the bottom). With kAscii, every cell is ASCII: characters
// of a name that are not are shown as '?'.
// `knownHigh`: as for ScaleFor.
PanelCells RenderPanel(const HostSource& source, const SourceHistory& history, int width,
                       int height, ChartGlyphs glyphs = ChartGlyphs::kAscii, double knownHigh = 0);
