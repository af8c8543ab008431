// The live view's overview: every GPU at a glance, a block each (its name; busy and memory
// used of total as short bars; temperature, power, fan, clocks, video engines), all GPUs
// on one screen, as a GPU monitor shows them; a line a GPU where blocks would not fit.
// Pure cells, so that the tests lay it out without a terminal.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "host_source.h"
#include "strip_chart.h"

struct OverviewGpu {
    int gpu;
    std::string what;  // what its counters say of it: "amdgpu 0000:03:00.0, Navi 21"
    std::map<std::string, size_t> figures;  // "busy", "memory_used", ...: the source's position
};

// The GPUs that the sources show, by number; none where no source names a GPU.
std::vector<OverviewGpu> OverviewGpus(const std::vector<HostSource>& sources);

// A GPU's memory total as the sources read it last (memory_total, or used and free added),
// for the scale of its memory's graphs; 0 where unknown.
double MemoryTotalOf(const OverviewGpu& gpu, const std::vector<float>& latest);

// The rows the overview takes at `width` columns in blocks (false: a line a GPU).
int OverviewRows(size_t gpus, int width, bool blocks);

// Lays the overview out in `width` columns: blocks where `blocks`, else a line a GPU.
// `latest` holds each source's newest reading (NaN where none came yet).
PanelCells RenderOverview(const std::vector<OverviewGpu>& gpus,
                          const std::vector<HostSource>& sources, const std::vector<float>& latest,
                          int width, bool blocks, ChartGlyphs glyphs = ChartGlyphs::kAscii);
