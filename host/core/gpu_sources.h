// Which GPU a source shows and which of its figures, from what its descriptor says: a
// group "GPU<g>" (as the fleet script writes them), a name "gpu<g>_<figure>" (the counter
// libraries' own), or a description that ends "(GPU <g>: ...)" or "(GPU <g>, ...)". The
// overview, --gpu and --gpus read sources by it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_source.h"

constexpr int kNoGpu = -1;

struct SourceGpu {
    int gpu;             // kNoGpu where the descriptor names none
    std::string figure;  // "busy", "memory_used", "power": the name without its GPU and units
};

SourceGpu GpuOfSource(const HostSource& source);

// "gpu3_busy": 3 and "busy"; false for a name of no GPU.
bool SplitGpuCounterName(const std::string& name, uint32_t* gpu, std::string* figure);

// What a counter's description says of GPU `gpu`: after "(GPU <g>: " or "(GPU <g>, " up to
// the last ")", as "amdgpu 0000:03:00.0, Navi 21"; "" where it says nothing.
std::string GpuOfDescription(const std::string& description, uint32_t gpu);

// A figure's name without the unit word that counter names end in ("power_mw": "power"),
// and the units that word stands for ("mW"); the name as it is and "" without one.
std::string FigureWithoutUnits(const std::string& figure, std::string* units = nullptr);

// The sources of GPU `gpu` only, in their order.
std::vector<HostSource> SourcesOfGpu(const std::vector<HostSource>& sources, int gpu);
