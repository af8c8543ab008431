// zarmite-load-timing: how long the real plug-in takes to read a configuration of 10,
// 1,000 and 10,000 sources, measured as a host sees it (the first GetSourcesNum of a
// freshly loaded module). It needs no benchmark library, so it runs on every build,
// under Wine too.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "bench_fixture.h"

int main() {
    for (uint32_t sources : {10u, 1000u, 10000u}) {
        double best = 1e9;
        for (int run = 0; run < 5; ++run) {
            PluginCopy plugin(BenchConfig(sources, false), "load-" + std::to_string(sources));
            const auto start = std::chrono::steady_clock::now();
            const uint32_t loaded = plugin.Api().getSourcesNum();
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            if (loaded != sources) {
                fprintf(stderr, "zarmite-load-timing: %u of %u sources loaded\n", loaded, sources);
                return 1;
            }
            best = std::min(best, ms);
        }
        printf("load %5u sources: %8.3f ms (best of 5)\n", sources, best);
    }
    return 0;
}
