// zarmite-poll-latency: how long the host's polls of the real plug-in take, one by one,
// over whichever counter library the search path finds. Prints the median, the 99th
// percentile and the worst poll for rounds over 16, 160 and 1,600 sources (the cost of a
// round is its polls), says which counter library it measured, and fails when the 99th
// percentile of 16 sources exceeds --max-p99-us. With --against-median-us M (another
// library's median of 16 sources, as this prints it), the ratio of this one's to it.
//
//   zarmite-poll-latency [--rounds N] [--max-p99-us US] [--against-median-us M]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_fixture.h"
#include "no_source_reason.h"

namespace {

// Sources over the first 16 counters, the metrics of one GPU of the NVML library.
std::string Config(uint32_t sources) {
    std::string text = "[Settings]\nLoggingLevel=0\n";
    for (uint32_t i = 0; i < sources; ++i)
        text += "[Source" + std::to_string(i) + "]\nID=" + std::to_string(i % 16) + "\n";
    return text;
}

struct Figures {
    double median;
    double p99;
    double worst;
    double round;
};

Figures Measure(uint32_t sources, int rounds) {
    PluginCopy plugin(Config(sources), "latency-" + std::to_string(sources));
    const PluginApi& api = plugin.Api();
    if (api.getSourcesNum() != sources) {
        fprintf(stderr, "zarmite-poll-latency: the sources did not load\n");
        exit(1);
    }
    for (uint32_t i = 0; i < sources; ++i) api.getSourceData(i);  // first readings
    std::vector<double> polls;
    polls.reserve(static_cast<size_t>(rounds) * sources);
    double total = 0;
    for (int round = 0; round < rounds; ++round) {
        for (uint32_t i = 0; i < sources; ++i) {
            const auto start = std::chrono::steady_clock::now();
            volatile float value = api.getSourceData(i);
            (void)value;
            const double us =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count();
            polls.push_back(us);
            total += us;
        }
    }
    std::sort(polls.begin(), polls.end());
    return Figures{polls[polls.size() / 2], polls[polls.size() * 99 / 100], polls.back(),
                   total / rounds};
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 2000;
    double maxP99 = 0, against = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--rounds") == 0) rounds = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--max-p99-us") == 0) maxP99 = atof(argv[i + 1]);
        if (strcmp(argv[i], "--against-median-us") == 0) against = atof(argv[i + 1]);
    }
    if (rounds < 1) rounds = 1;
    double p99Of16 = 0, medianOf16 = 0;
    for (uint32_t sources : {16u, 160u, 1600u}) {
        const int roundsHere = std::max(1, rounds * 16 / static_cast<int>(sources));
        const Figures figures = Measure(sources, roundsHere);
        if (sources == 16) p99Of16 = figures.p99, medianOf16 = figures.median;
        if (sources == 16) printf("counter library: %s\n", LoadedCounterLibrary().c_str());
        printf(
            "%5u sources: poll median %.2f us, p99 %.2f us, worst %.1f us; a round %.1f us "
            "(%.2f us a source)\n",
            sources, figures.median, figures.p99, figures.worst, figures.round,
            figures.round / sources);
    }
    if (against > 0)
        printf("ratio of the median of 16 sources to %.2f us: %.2f\n", against,
               medianOf16 / against);
    if (maxP99 > 0 && p99Of16 > maxP99) {
        fprintf(stderr, "zarmite-poll-latency: p99 of 16 sources %.2f us, above %.2f us\n", p99Of16,
                maxP99);
        return 1;
    }
    return 0;
}
