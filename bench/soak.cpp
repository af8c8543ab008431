// zarmite-soak: polls the real plug-in many times, with its log off and then on, and checks
// that neither memory nor open files grow. A host polls for hours; whatever one poll keeps
// would add up.
//
// zarmite-soak --plugin PATH [--polls N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "bench_fixture.h"
#include "platform.h"

namespace {

constexpr uint32_t kSources = 16;
constexpr uint64_t kMaxGrowthBytes = 1024 * 1024;

// Returns false when the run grew.
bool Soak(const std::string& plugin, bool logging, unsigned long polls) {
    PluginCopy copy(BenchConfig(kSources, logging), logging ? "soak-on" : "soak-off", plugin);
    const PluginApi& api = copy.Api();
    bool ok = api.getSourcesNum() == kSources;
    if (!ok) fprintf(stderr, "zarmite-soak: the plug-in did not load %u sources\n", kSources);
    // Warm up, so that what is allocated once is allocated before the first reading.
    for (uint32_t i = 0; i < 1000 * kSources; ++i) api.getSourceData(i % kSources);

    const uint64_t residentBefore = plat_resident_bytes();
    const long handlesBefore = plat_open_handle_count();
    const auto start = std::chrono::steady_clock::now();
    for (unsigned long i = 0; i < polls; ++i)
        api.getSourceData(static_cast<uint32_t>(i % kSources));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t residentAfter = plat_resident_bytes();
    const long handlesAfter = plat_open_handle_count();

    const long long growth =
        static_cast<long long>(residentAfter) - static_cast<long long>(residentBefore);
    printf(
        "logging %-3s %lu polls in %.2f s (%.2f us each): resident %llu -> %llu bytes "
        "(%+lld), handles %ld -> %ld\n",
        logging ? "on" : "off", polls, seconds, seconds * 1e6 / static_cast<double>(polls),
        static_cast<unsigned long long>(residentBefore),
        static_cast<unsigned long long>(residentAfter), growth, handlesBefore, handlesAfter);
    if (growth >= static_cast<long long>(kMaxGrowthBytes)) {
        fprintf(stderr, "zarmite-soak: resident memory grew by %lld bytes\n", growth);
        ok = false;
    }
    // Wine reports no handles at all (0); a real process always holds some.
    if (handlesBefore <= 0) {
        printf("(this system does not report the handle count)\n");
    } else if (handlesAfter != handlesBefore) {
        fprintf(stderr, "zarmite-soak: open handles went from %ld to %ld\n", handlesBefore,
                handlesAfter);
        ok = false;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const char* plugin = nullptr;
    unsigned long polls = 1000000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--plugin") == 0)
            plugin = argv[i + 1];
        else if (strcmp(argv[i], "--polls") == 0)
            polls = strtoul(argv[i + 1], nullptr, 10);
    }
    if (plugin == nullptr || polls == 0) {
        fprintf(stderr, "usage: zarmite-soak --plugin PATH [--polls N]\n");
        return 2;
    }
    bool ok = false;
    try {
        ok = Soak(plugin, false, polls);
        ok = Soak(plugin, true, polls) && ok;
    } catch (const std::exception& error) {
        fprintf(stderr, "zarmite-soak: %s\n", error.what());
        ok = false;
    }
    printf("%s\n", ok ? "soak: no growth" : "soak: FAILED");
    return ok ? 0 : 1;
}
