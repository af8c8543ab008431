#include "strip_chart.h"

#include <cmath>
#include <cstdio>

#include "display_text.h"

namespace {

constexpr int kLabelWidth = 10;  // limit labels, then the axis

// One cell, where it is inside the panel.
void PutCell(PanelCells& cells, int row, int column, char c, ChartCell kind) {
    if (row < 0 || row >= static_cast<int>(cells.text.size())) return;
    if (column < 0 || column >= static_cast<int>(cells.text[row].size())) return;
    cells.text[row][column] = c;
    cells.kinds[row][column] = kind;
}

void Put(PanelCells& cells, int row, int column, const std::string& text, ChartCell kind) {
    if (row < 0 || row >= static_cast<int>(cells.text.size())) return;
    std::string& line = cells.text[row];
    std::string& kinds = cells.kinds[row];
    for (size_t i = 0; i < text.size(); ++i) {
        const int at = column + static_cast<int>(i);
        if (at < 0 || at >= static_cast<int>(line.size())) continue;
        line[at] = text[i];
        kinds[at] = kind;
    }
}

std::string Number(double value, int precision = 6) {
    char text[32];
    snprintf(text, sizeof text, "%.*g", precision, value);
    return text;
}

}  // namespace

ChartScale ScaleFor(const HostSource& source, const SourceHistory& history) {
    if (source.maxLimit > source.minLimit)
        return ChartScale{source.minLimit, source.maxLimit, false};
    double low = INFINITY;
    double high = -INFINITY;
    for (size_t age = 0; age < history.Size(); ++age) {
        const double value = history.Back(age);
        if (!std::isfinite(value)) continue;
        low = std::fmin(low, value);
        high = std::fmax(high, value);
    }
    if (!(low <= high)) return ChartScale{0, 1, true};  // nothing finite seen yet
    if (high - low < 1e-9 * std::fmax(1.0, std::fabs(high))) {
        const double margin = std::fmax(1.0, std::fabs(high) * 0.1);
        return ChartScale{low - margin, high + margin, true};
    }
    return ChartScale{low, high, true};
}

int ChartRow(double value, const ChartScale& scale, int rows, int* clamped) {
    *clamped = 0;
    if (std::isnan(value) || rows <= 0) return -1;
    if (value > scale.high) *clamped = 1;
    if (value < scale.low) *clamped = -1;
    if (*clamped > 0) return 0;
    if (*clamped < 0) return rows - 1;
    const double fraction = (value - scale.low) / (scale.high - scale.low);
    const int fromBottom = static_cast<int>(std::lround(fraction * (rows - 1)));
    return rows - 1 - fromBottom;
}

std::vector<int> GridRows(const ChartScale& scale, double gridDim, int rows) {
    std::vector<int> result;
    if (!(gridDim > 0) || !std::isfinite(gridDim) || rows <= 0) return result;
    const double span = scale.high - scale.low;
    if (!(span > 0)) return result;
    const double first = std::floor(scale.low / gridDim) + 1;
    const double last = std::ceil(scale.high / gridDim) - 1;
    if (last - first + 1 > rows) return result;  // more lines than rows
    for (double k = first; k <= last; ++k) {
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
    std::string text = Number(value);
    if (!units.empty()) text += " " + units;
    return text;
}

PanelCells RenderPanel(const HostSource& source, const SourceHistory& history, int width,
                       int height) {
    PanelCells cells;
    if (width < kLabelWidth + 4 || height < 3) return cells;
    cells.text.assign(height, std::string(width, ' '));
    cells.kinds.assign(height, std::string(width, kCellBlank));
    const int rows = height - 2;  // the title above, a separator below
    const int top = 1;

    // Title: the name on the left, the current value on the right.
    const std::string value =
        history.Size() > 0 ? PrintableText(ValueText(history.Back(0), source.units)) : "-";
    Put(cells, 0, 0, PrintableText(source.name).substr(0, static_cast<size_t>(width - 1)),
        kCellTitle);
    const int valueColumn = width - static_cast<int>(value.size());
    Put(cells, 0, valueColumn > 0 ? valueColumn : 0, value, kCellValue);

    // The limits on the left, the axis after them.
    const ChartScale scale = ScaleFor(source, history);
    const std::string high = NumberFitting(scale.high, kLabelWidth - 1);
    const std::string low = NumberFitting(scale.low, kLabelWidth - 1);
    Put(cells, top, kLabelWidth - 1 - static_cast<int>(high.size()), high, kCellLabel);
    Put(cells, top + rows - 1, kLabelWidth - 1 - static_cast<int>(low.size()), low, kCellLabel);
    for (int r = 0; r < rows; ++r) PutCell(cells, top + r, kLabelWidth - 1, '|', kCellAxis);

    const int chartWidth = width - kLabelWidth;
    for (int row : GridRows(scale, source.gridDim, rows))
        Put(cells, top + row, kLabelWidth, std::string(chartWidth, '-'), kCellGrid);

    // Newest on the right: column chartWidth - 1 is the latest value.
    for (int column = 0; column < chartWidth; ++column) {
        const size_t age = static_cast<size_t>(chartWidth - 1 - column);
        if (age >= history.Size()) continue;
        int clamped = 0;
        const int row = ChartRow(history.Back(age), scale, rows, &clamped);
        if (row < 0) continue;
        for (int r = row; r < rows; ++r)
            PutCell(cells, top + r, kLabelWidth + column, '#', kCellBar);
        if (clamped != 0)
            PutCell(cells, top + row, kLabelWidth + column, clamped > 0 ? '^' : 'v', kCellMark);
    }
    return cells;
}
