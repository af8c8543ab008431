#include "strip_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host_text.h"
#include "readings.h"
#include "value_units.h"

namespace {

constexpr int kLabelWidth = 10;  // limit labels, then the axis

struct Glyphs {
    char32_t bar;  // ASCII only: a whole row of a bar
    char32_t axis;
    char32_t grid;
    char32_t above;
    char32_t below;
    char32_t failed;  // a failed reading
};
constexpr Glyphs kAsciiGlyphs{U'#', U'|', U'-', U'^', U'v', U'x'};
constexpr Glyphs kBlockGlyphs{U'\u2588', U'\u2502', U'\u2500', U'\u25B2', U'\u25BC', U'\u00D7'};

// One cell, where it is inside the panel.
void PutCell(PanelCells& cells, int row, int column, char32_t c, ChartCell kind) {
    if (row < 0 || row >= static_cast<int>(cells.text.size())) return;
    if (column < 0 || column >= static_cast<int>(cells.text[row].size())) return;
    cells.text[row][column] = c;
    cells.kinds[row][column] = kind;
}

void Put(PanelCells& cells, int row, int column, const std::u32string& text, ChartCell kind) {
    for (size_t i = 0; i < text.size(); ++i)
        PutCell(cells, row, column + static_cast<int>(i), text[i], kind);
}

// Text for cells: its characters, with '?' for those an ASCII panel cannot show.
std::u32string CellText(const std::string& text, ChartGlyphs glyphs) {
    std::u32string cells = CodePoints(text);
    if (glyphs == ChartGlyphs::kAscii)
        for (char32_t& c : cells)
            if (c > 0x7E) c = U'?';
    return cells;
}

std::string Number(double value, int precision = 6) {
    char text[32];
    snprintf(text, sizeof text, "%.*g", precision, value);
    return text;
}

double Fraction(double value, const ChartScale& scale) {
    return (value - scale.low) / (scale.high - scale.low);
}

}  // namespace

double NiceCeiling(double value) {
    if (!(value > 0) || !std::isfinite(value)) return 1;
    const double decade = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (value <= step * decade * (1 + 1e-9)) return step * decade;
    return 10 * decade;
}

ChartScale ScaleFor(const HostSource& source, const SourceHistory& history, double knownHigh) {
    if (source.maxLimit > source.minLimit)
        return ChartScale{source.minLimit, source.maxLimit, false};
    double low = INFINITY;
    double high = -INFINITY;
    for (size_t age = 0; age < history.Size(); ++age) {
        const double value = history.Back(age);
        if (!std::isfinite(value) || FailedReadingName(history.Back(age)) != nullptr) continue;
        low = std::fmin(low, value);
        high = std::fmax(high, value);
    }
    // From 0, or from below it where a value is: a bar's height is then the value itself.
    const double bottom = low < 0 ? -NiceCeiling(-low) : 0;
    // A share is drawn out of 100, unless a value goes past it (a fan's speed may).
    if (source.units == "%") return ChartScale{bottom, high > 100 ? NiceCeiling(high) : 100, true};
    // A limit the counter library knows (the memory's total), else a round ceiling above
    // the values: never a band around a constant, which would draw noise as swings.
    if (knownHigh > 0 && std::isfinite(knownHigh) && !(high > knownHigh))
        return ChartScale{bottom, knownHigh, true};
    return ChartScale{bottom, NiceCeiling(high), true};
}

int ChartRow(double value, const ChartScale& scale, int rows, int* clamped) {
    *clamped = 0;
    if (std::isnan(value) || rows <= 0) return -1;
    if (value > scale.high) *clamped = 1;
    if (value < scale.low) *clamped = -1;
    if (*clamped > 0) return 0;
    if (*clamped < 0) return rows - 1;
    const int fromBottom = static_cast<int>(std::lround(Fraction(value, scale) * (rows - 1)));
    return rows - 1 - fromBottom;
}

int BarEighths(double value, const ChartScale& scale, int rows, int* clamped) {
    if (ChartRow(value, scale, rows, clamped) < 0) return -1;
    if (*clamped > 0) return rows * 8;
    if (*clamped < 0) return 1;
    const long eighths = std::lround(Fraction(value, scale) * rows * 8);
    return static_cast<int>(std::max(1L, std::min<long>(eighths, rows * 8)));
}

char32_t BlockGlyph(int eighths) {
    if (eighths <= 0) return U' ';
    return static_cast<char32_t>(0x2580 + std::min(eighths, 8));  // U+2581 is one eighth
}

ChartCell HeatOf(double value, const ChartScale& scale) {
    const double fraction =
        std::isnan(value) ? 0 : std::fmax(0, std::fmin(Fraction(value, scale), 1));
    const int step = std::min(static_cast<int>(fraction * kHeatSteps), kHeatSteps - 1);
    return static_cast<ChartCell>(kCellHeat0 + step);
}

std::vector<int> GridRows(const ChartScale& scale, double gridDim, int rows) {
    std::vector<int> result;
    if (!(gridDim > 0) || !std::isfinite(gridDim) || rows <= 0) return result;
    const double span = scale.high - scale.low;
    if (!(span > 0)) return result;
    double first = std::floor(scale.low / gridDim) + 1;
    const double last = std::ceil(scale.high / gridDim) - 1;
    // More lines than rows: every n-th line, the multiples of n steps, so that they fit.
    const double every = std::fmax(1, std::ceil((last - first + 1) / rows));
    if (!std::isfinite(every) || every > 1e15) return result;
    first = std::ceil(first / every) * every;
    for (double k = first; k <= last; k += every) {
        int clamped = 0;
        const int row = ChartRow(k * gridDim, scale, rows, &clamped);
        if (clamped == 0 && row >= 0 && (result.empty() || result.back() != row))
            result.push_back(row);
    }
    return result;
}

std::string NumberFitting(double value, size_t width) {
    std::string text = Number(value);
    for (int precision = 5; text.size() > width && precision >= 1; --precision)
        text = Number(value, precision);
    return text;
}

std::string ValueText(float value, const std::string& units) {
    if (const char* failed = FailedReadingName(value)) return "failed: " + std::string(failed);
    return ValueWithUnits(value, units);
}

ValueStats StatsOf(const SourceHistory& history, size_t newest) {
    ValueStats stats{0, 0, 0, 0};
    double sum = 0;
    for (size_t age = 0; age < newest && age < history.Size(); ++age) {
        const double value = history.Back(age);
        if (!std::isfinite(value) || FailedReadingName(history.Back(age)) != nullptr) continue;
        stats.min = stats.count == 0 ? value : std::fmin(stats.min, value);
        stats.max = stats.count == 0 ? value : std::fmax(stats.max, value);
        sum += value;
        ++stats.count;
    }
    if (stats.count > 0) stats.avg = sum / static_cast<double>(stats.count);
    return stats;
}

std::string StatsText(const ValueStats& stats, const std::string& units) {
    if (stats.count == 0) return "";
    // The three in one unit: the one the largest of them is shown in.
    const UnitStep step = UnitStepFor(std::fmax(std::fabs(stats.min), std::fabs(stats.max)), units);
    const auto number = [&step](double value) {
        return step.divisor == 1 ? Number(value, 4) : StepNumber(value, step);
    };
    std::string text =
        "min " + number(stats.min) + " avg " + number(stats.avg) + " max " + number(stats.max);
    if (!step.units.empty()) text += " " + step.units;
    return text;
}

std::string RowText(const PanelCells& cells, size_t row) {
    std::string text;
    if (row >= cells.text.size()) return text;
    for (char32_t c : cells.text[row]) text += Utf8Of(c);
    return text;
}

namespace {

// A limit on the axis: in the larger unit that the scale's values are shown in, with that
// unit where it fits ("200 W", "16 GiB"); as a plain number otherwise.
std::string LimitLabel(double limit, const ChartScale& scale, const std::string& units) {
    const UnitStep step =
        UnitStepFor(std::fmax(std::fabs(scale.low), std::fabs(scale.high)), units);
    if (step.divisor == 1) return NumberFitting(limit, kLabelWidth - 1);
    std::string text = StepNumber(limit, step);
    if (limit != 0 && text.size() + 1 + step.units.size() <= kLabelWidth - 1)
        text += " " + step.units;
    return text.size() <= kLabelWidth - 1 ? text : NumberFitting(limit, kLabelWidth - 1);
}

// The first row: the name on the left, the current value on the right (marked when it
// is outside the limits), and min, avg and max just before the value where they fit.
void PutTitle(PanelCells& cells, const HostSource& source, const SourceHistory& history,
              const ChartScale& scale, int chartWidth, ChartGlyphs glyphs) {
    const int width = static_cast<int>(cells.text[0].size());
    int clamped = 0;
    const bool any = history.Size() > 0;
    if (any) ChartRow(history.Back(0), scale, 1, &clamped);
    if (any && FailedReadingName(history.Back(0)) != nullptr) clamped = 1;  // marked
    const std::u32string value =
        any ? CellText(PrintableText(ValueText(history.Back(0), source.units)), glyphs) : U"-";
    const int valueColumn = std::max(0, width - static_cast<int>(value.size()));

    // The value keeps its units at every width: the name gives way, a space before it.
    std::u32string name = CellText(PrintableText(source.name), glyphs);
    name.resize(std::min(name.size(), static_cast<size_t>(std::max(valueColumn - 1, 0))));
    Put(cells, 0, 0, name, kCellTitle);
    Put(cells, 0, valueColumn, value, clamped != 0 ? kCellMark : kCellValue);

    // With their units where they fit, else without (the value beside them has them).
    const ValueStats stats = StatsOf(history, static_cast<size_t>(chartWidth));
    for (const std::string& units : {source.units, std::string()}) {
        const std::u32string text = CellText(PrintableText(StatsText(stats, units)), glyphs);
        const int column = valueColumn - 2 - static_cast<int>(text.size());
        if (!text.empty() && column >= static_cast<int>(name.size()) + 2) {
            Put(cells, 0, column, text, kCellStats);
            return;
        }
    }
}

// One value's bar in a column of the chart, from the bottom up, and its mark; a failed
// reading has no bar, only its mark at the bottom.
void PutBar(PanelCells& cells, float reading, const ChartScale& scale, int top, int rows,
            int column, ChartGlyphs glyphs) {
    const Glyphs& g = glyphs == ChartGlyphs::kBlocks ? kBlockGlyphs : kAsciiGlyphs;
    if (FailedReadingName(reading) != nullptr) {
        PutCell(cells, top + rows - 1, column, g.failed, kCellMark);
        return;
    }
    const double value = reading;
    const ChartCell heat = HeatOf(value, scale);
    int clamped = 0;
    if (glyphs == ChartGlyphs::kAscii) {
        const int row = ChartRow(value, scale, rows, &clamped);
        if (row < 0) return;
        for (int r = row; r < rows; ++r) PutCell(cells, top + r, column, g.bar, heat);
    } else {
        const int eighths = BarEighths(value, scale, rows, &clamped);
        if (eighths < 0) return;
        for (int r = 0; r < rows; ++r) {
            const int fill = eighths - (rows - 1 - r) * 8;
            if (fill > 0) PutCell(cells, top + r, column, BlockGlyph(fill), heat);
        }
    }
    if (clamped > 0) PutCell(cells, top, column, g.above, kCellMark);
    if (clamped < 0) PutCell(cells, top + rows - 1, column, g.below, kCellMark);
}

}  // namespace

PanelCells RenderPanel(const HostSource& source, const SourceHistory& history, int width,
                       int height, ChartGlyphs glyphs, double knownHigh) {
    PanelCells cells;
    if (width < kLabelWidth + 4 || height < 3) return cells;
    cells.text.assign(height, std::u32string(width, U' '));
    cells.kinds.assign(height, std::string(width, kCellBlank));
    const Glyphs& g = glyphs == ChartGlyphs::kBlocks ? kBlockGlyphs : kAsciiGlyphs;
    const int rows = height - 2;  // the title above, a separator below
    const int top = 1;
    const int chartWidth = width - kLabelWidth;
    const ChartScale scale = ScaleFor(source, history, knownHigh);
    PutTitle(cells, source, history, scale, chartWidth, glyphs);

    // The limits on the left, the axis after them.
    const std::string high = LimitLabel(scale.high, scale, source.units);
    const std::string low = LimitLabel(scale.low, scale, source.units);
    Put(cells, top, kLabelWidth - 1 - static_cast<int>(high.size()), CodePoints(high), kCellLabel);
    Put(cells, top + rows - 1, kLabelWidth - 1 - static_cast<int>(low.size()), CodePoints(low),
        kCellLabel);
    for (int r = 0; r < rows; ++r) PutCell(cells, top + r, kLabelWidth - 1, g.axis, kCellAxis);

    for (int row : GridRows(scale, source.gridDim, rows))
        Put(cells, top + row, kLabelWidth, std::u32string(chartWidth, g.grid), kCellGrid);

    // Newest on the right: column chartWidth - 1 is the latest value.
    for (int column = 0; column < chartWidth; ++column) {
        const size_t age = static_cast<size_t>(chartWidth - 1 - column);
        if (age < history.Size())
            PutBar(cells, history.Back(age), scale, top, rows, kLabelWidth + column, glyphs);
    }
    return cells;
}
