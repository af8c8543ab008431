#include "cumulative_sources.h"

#include <set>
#include <utility>

#include "counter_library.h"
#include "counter_text.h"
#include "gpu_sources.h"
#include "platform.h"

namespace {

constexpr uint32_t kMostCounters = 100000;

}  // namespace

std::vector<bool> SourcesShowing(const std::vector<HostSource>& sources,
                                 const std::vector<std::string>& cumulative) {
    std::set<std::pair<int, std::string>> counts;
    for (const std::string& name : cumulative) {
        uint32_t gpu = 0;
        std::string figure;
        if (SplitGpuCounterName(name, &gpu, &figure))
            counts.emplace(static_cast<int>(gpu), FigureWithoutUnits(figure));
    }
    std::vector<bool> showing(sources.size(), false);
    for (size_t i = 0; i < sources.size(); ++i) {
        const SourceGpu shown = GpuOfSource(sources[i]);
        showing[i] = shown.gpu != kNoGpu && counts.count({shown.gpu, shown.figure}) != 0;
    }
    return showing;
}

std::vector<bool> CumulativeSources(const std::vector<HostSource>& sources) {
    // Never a load of its own: a library the plug-in could not load is not tried again.
    if (sources.empty() || plat_library_loaded(kCounterLibraryFileName) == nullptr ||
        BindCounterLibrary() != 0)
        return std::vector<bool>(sources.size(), false);
    uint32_t count = 0;
    if (GetNumCounters(&count) != 0) count = 0;
    std::vector<std::string> cumulative;
    for (uint32_t i = 0; i < count && i < kMostCounters; ++i) {
        uint64_t only = 0;
        CounterTextBuffer name;
        if (GetCounterAttribute(static_cast<int32_t>(i), kCounterCumulativeAttribute, &only) == 0 &&
            only != 0 && QueryCounterName(static_cast<int32_t>(i), &name) == 0)
            cumulative.push_back(name.text);
    }
    return SourcesShowing(sources, cumulative);
}
