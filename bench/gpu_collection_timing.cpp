// zarmite-gpu-collection-timing: what one collection of Windows' GPU counters costs the
// Windows GPU library's sampler: the collection, the three counter arrays and what they
// come to per adapter. Over whichever pdh.dll the system loads (under Wine, the tests'
// stand-in with a scenario of many engine instances).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "gpu_counters.h"
#include "gpu_instances.h"

int main() {
    const int32_t opened = plat_gpu_counters_open();
    if (opened != 0) {
        fprintf(stderr, "zarmite-gpu-collection-timing: the GPU counters do not open (%d)\n",
                static_cast<int>(opened));
        return 1;
    }
    PlatGpuCollection collection;
    plat_gpu_counters_collect(collection);
    std::vector<PlatCounterItem> memory = collection.dedicated;
    const std::vector<AdapterLuid> adapters = AdaptersNamed(collection.engines, memory);
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        const auto start = std::chrono::steady_clock::now();
        plat_gpu_counters_collect(collection);
        for (const AdapterLuid& adapter : adapters)
            LoadOf(adapter, collection.engines, collection.dedicated, collection.shared);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    printf(
        "%zu engine instances, %zu adapters: a collection %.3f ms (median of 200), worst %.3f ms\n",
        collection.engines.size(), adapters.size(), times[times.size() / 2], times.back());
    plat_gpu_counters_close();
    return 0;
}
