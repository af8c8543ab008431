#include "gpu_overview.h"

#include <algorithm>
#include <cmath>

#include "gpu_sources.h"
#include "host_text.h"
#include "readings.h"
#include "value_units.h"

namespace {

constexpr int kBlockRows = 5;  // name, busy, memory, the other figures, a blank row
constexpr int kBlockMinWidth = 64;
constexpr int kBarWidth = 20;

// The newest reading of a figure, false where the GPU has none or it failed.
bool Reading(const OverviewGpu& gpu, const std::vector<float>& latest, const char* figure,
             double* value) {
    const auto found = gpu.figures.find(figure);
    if (found == gpu.figures.end() || found->second >= latest.size()) return false;
    const float reading = latest[found->second];
    if (!std::isfinite(reading) || FailedReadingName(reading) != nullptr) return false;
    *value = reading;
    return true;
}

std::string UnitsOf(const OverviewGpu& gpu, const std::vector<HostSource>& sources,
                    const char* figure) {
    const auto found = gpu.figures.find(figure);
    return found == gpu.figures.end() ? "" : sources[found->second].units;
}

// "37 %", "187 W": the figure's reading with its units, or "-".
std::string FigureText(const OverviewGpu& gpu, const std::vector<HostSource>& sources,
                       const std::vector<float>& latest, const char* figure) {
    double value = 0;
    if (!Reading(gpu, latest, figure, &value)) return "-";
    return ValueWithUnits(value, UnitsOf(gpu, sources, figure));
}

// Memory used and its total ("1 of 15.98 GiB") and the share used; -1 where unknown.
std::string MemoryText(const OverviewGpu& gpu, const std::vector<HostSource>& sources,
                       const std::vector<float>& latest, double* share) {
    *share = -1;
    double used = 0;
    const double total = MemoryTotalOf(gpu, latest);
    if (!Reading(gpu, latest, "memory_used", &used)) return "-";
    const std::string units = UnitsOf(gpu, sources, "memory_used");
    if (!(total > 0)) return ValueWithUnits(used, units);
    *share = 100 * used / total;
    const UnitStep step = UnitStepFor(total, units);
    return StepNumber(used, step) + " of " + StepNumber(total, step) +
           (step.units.empty() ? "" : " " + step.units);
}

class Canvas {
public:
    Canvas(int width, int rows, ChartGlyphs glyphs) : width_(width), glyphs_(glyphs) {
        cells_.text.assign(static_cast<size_t>(std::max(rows, 0)),
                           std::u32string(static_cast<size_t>(std::max(width, 0)), U' '));
        cells_.kinds.assign(cells_.text.size(),
                            std::string(cells_.text.empty() ? 0 : width, kCellBlank));
    }

    // Text from (row, column) on, cut at `end`; the column after it.
    int Text(int row, int column, const std::string& text, ChartCell kind, int end) {
        std::u32string shown = CodePoints(PrintableText(text));
        for (char32_t c : shown) {
            if (column >= std::min(end, width_)) break;
            Put(row, column++, glyphs_ == ChartGlyphs::kAscii && c > 0x7E ? U'?' : c, kind);
        }
        return column;
    }

    // A bar of `width` cells filled to `share` percent, coloured by how full it is.
    int Bar(int row, int column, int width, double share, int end) {
        const bool blocks = glyphs_ == ChartGlyphs::kBlocks;
        column = Text(row, column, "[", kCellAxis, end);
        const double fraction = share < 0 ? 0 : std::fmin(share, 100) / 100;
        const int filled = static_cast<int>(std::lround(fraction * width));
        const ChartCell heat = HeatOf(share < 0 ? 0 : share, ChartScale{0, 100, false});
        for (int i = 0; i < width && column < end; ++i, ++column) {
            if (i < filled)
                Put(row, column, blocks ? U'\u2588' : U'#', heat);
            else
                Put(row, column, blocks ? U'\u2591' : U'.', kCellGrid);
        }
        return Text(row, column, "]", kCellAxis, end);
    }

    PanelCells Take() { return std::move(cells_); }

private:
    void Put(int row, int column, char32_t c, ChartCell kind) {
        if (row < 0 || row >= static_cast<int>(cells_.text.size()) || column < 0 ||
            column >= width_)
            return;
        cells_.text[row][column] = c;
        cells_.kinds[row][column] = kind;
    }

    int width_;
    ChartGlyphs glyphs_;
    PanelCells cells_;
};

// "45 C  187 W  fan 20 %  graphics 1340 MHz  memory 1000 MHz  encoder 0 %  decoder 0 %":
// what the GPU has of these.
std::string OtherFigures(const OverviewGpu& gpu, const std::vector<HostSource>& sources,
                         const std::vector<float>& latest) {
    static const struct {
        const char* figure;
        const char* label;
    } kOthers[] = {{"temperature", ""},          {"power", ""},
                   {"fan_speed", "fan "},        {"graphics_clock", "graphics "},
                   {"sm_clock", "SM "},          {"memory_clock", "memory "},
                   {"encoder_busy", "encoder "}, {"decoder_busy", "decoder "}};
    std::string text;
    for (const auto& other : kOthers) {
        if (gpu.figures.count(other.figure) == 0) continue;
        // SM clock only where no graphics clock is shown: on most GPUs they are the same.
        if (std::string(other.figure) == "sm_clock" && gpu.figures.count("graphics_clock") != 0)
            continue;
        text += (text.empty() ? "" : "  ") + std::string(other.label) +
                FigureText(gpu, sources, latest, other.figure);
    }
    return text;
}

void Block(Canvas& canvas, const OverviewGpu& gpu, const std::vector<HostSource>& sources,
           const std::vector<float>& latest, int top, int left, int width) {
    const int end = left + width;
    int column = canvas.Text(top, left, "GPU " + std::to_string(gpu.gpu), kCellTitle, end);
    if (!gpu.what.empty()) canvas.Text(top, column + 2, gpu.what, kCellLabel, end);

    double busy = -1;
    Reading(gpu, latest, "busy", &busy);
    column = canvas.Text(top + 1, left + 1, "busy   ", kCellLabel, end);
    column = canvas.Bar(top + 1, column, kBarWidth, busy, end);
    column =
        canvas.Text(top + 1, column + 1, FigureText(gpu, sources, latest, "busy"), kCellValue, end);
    if (gpu.figures.count("memory_busy") != 0)
        canvas.Text(top + 1, column + 3,
                    "memory busy " + FigureText(gpu, sources, latest, "memory_busy"), kCellStats,
                    end);

    double share = -1;
    const std::string memory = MemoryText(gpu, sources, latest, &share);
    column = canvas.Text(top + 2, left + 1, "memory ", kCellLabel, end);
    column = canvas.Bar(top + 2, column, kBarWidth, share, end);
    canvas.Text(top + 2, column + 1, memory, kCellValue, end);

    canvas.Text(top + 3, left + 1, OtherFigures(gpu, sources, latest), kCellStats, end);
}

// "GPU 0 [#####....] 37 %  memory 1 of 16 GiB  45 C  187 W ...  Navi 21": one row.
void Line(Canvas& canvas, const OverviewGpu& gpu, const std::vector<HostSource>& sources,
          const std::vector<float>& latest, int row, int width) {
    double busy = -1, share = -1;
    Reading(gpu, latest, "busy", &busy);
    int column = canvas.Text(row, 0, "GPU " + std::to_string(gpu.gpu) + " ", kCellTitle, width);
    column = canvas.Bar(row, column, 10, busy, width);
    column =
        canvas.Text(row, column + 1, FigureText(gpu, sources, latest, "busy"), kCellValue, width);
    const std::string memory = MemoryText(gpu, sources, latest, &share);
    column = canvas.Text(row, column + 2, "memory " + memory, kCellValue, width);
    column = canvas.Text(row, column + 2, OtherFigures(gpu, sources, latest), kCellStats, width);
    if (!gpu.what.empty()) canvas.Text(row, column + 2, gpu.what, kCellLabel, width);
}

int BlockColumns(size_t gpus, int width) {
    const int fit = std::max(1, width / kBlockMinWidth);
    return std::max(1, std::min(fit, static_cast<int>(gpus)));
}

}  // namespace

std::vector<OverviewGpu> OverviewGpus(const std::vector<HostSource>& sources) {
    std::map<int, OverviewGpu> gpus;
    for (size_t i = 0; i < sources.size(); ++i) {
        const SourceGpu of = GpuOfSource(sources[i]);
        if (of.gpu == kNoGpu) continue;
        OverviewGpu& gpu = gpus[of.gpu];
        gpu.gpu = of.gpu;
        if (gpu.what.empty())
            gpu.what = GpuOfDescription(PrintableText(sources[i].description),
                                        static_cast<uint32_t>(of.gpu));
        gpu.figures.emplace(of.figure, i);  // the first source of a figure shows it
    }
    std::vector<OverviewGpu> list;
    for (auto& entry : gpus) list.push_back(std::move(entry.second));
    return list;
}

double MemoryTotalOf(const OverviewGpu& gpu, const std::vector<float>& latest) {
    double total = 0, used = 0, free = 0;
    if (Reading(gpu, latest, "memory_total", &total) && total > 0) return total;
    if (Reading(gpu, latest, "memory_used", &used) && Reading(gpu, latest, "memory_free", &free))
        return used + free;
    return 0;
}

int OverviewRows(size_t gpus, int width, bool blocks) {
    if (!blocks) return static_cast<int>(gpus);
    const int columns = BlockColumns(gpus, width);
    return static_cast<int>((gpus + columns - 1) / columns) * kBlockRows;
}

PanelCells RenderOverview(const std::vector<OverviewGpu>& gpus,
                          const std::vector<HostSource>& sources, const std::vector<float>& latest,
                          int width, bool blocks, ChartGlyphs glyphs) {
    Canvas canvas(width, OverviewRows(gpus.size(), width, blocks), glyphs);
    const int columns = BlockColumns(gpus.size(), width);
    const int blockWidth = width / columns;
    for (size_t g = 0; g < gpus.size(); ++g) {
        if (blocks)
            Block(canvas, gpus[g], sources, latest, static_cast<int>(g / columns) * kBlockRows,
                  static_cast<int>(g % columns) * blockWidth, blockWidth - 2);
        else
            Line(canvas, gpus[g], sources, latest, static_cast<int>(g), width);
    }
    return canvas.Take();
}
