// zarmite-bench: what one poll of the plug-in costs, against the counter library calls it
// cannot avoid, and how polling and loading grow with the configuration. The simulated
// counter library answers; it must be on the library search path.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "bench_fixture.h"
#include "counter_library.h"
#include "load_sources.h"
#include "module_state.h"
#include "write_log.h"

namespace {

// The floor: the counter library calls of one poll, made directly. Every poll binds, so
// the bind is part of it.
void BM_PollFloor(benchmark::State& state) {
    for (auto _ : state) {
        BindCounterLibrary();
        AddCounter(0);
        uint32_t sampled = 0;
        Sample(nullptr, &sampled);
        uint64_t value = 0;
        uint64_t cycle = 0;
        GetCounterValue(0, 0, &value, &cycle);
        uint64_t kind = 0;
        GetCounterAttribute(0, kCounterKindAttribute, &kind);
        benchmark::DoNotOptimize(value + cycle + kind);
    }
}
BENCHMARK(BM_PollFloor);

void PollOneSource(benchmark::State& state, bool logging) {
    PluginCopy plugin(BenchConfig(1, logging), logging ? "poll-logging" : "poll");
    plugin.Api().getSourcesNum();
    for (auto _ : state) benchmark::DoNotOptimize(plugin.Api().getSourceData(0));
}

// One GetSourceData through the real shared library.
void BM_Poll(benchmark::State& state) {
    PollOneSource(state, false);
}
BENCHMARK(BM_Poll);

void BM_PollLogging(benchmark::State& state) {
    PollOneSource(state, true);
}
BENCHMARK(BM_PollLogging);

// Polls round-robin over N sources; one iteration is one poll.
void BM_PollRound(benchmark::State& state) {
    const uint32_t sources = static_cast<uint32_t>(state.range(0));
    PluginCopy plugin(BenchConfig(sources, false), "round-" + std::to_string(sources));
    if (plugin.Api().getSourcesNum() != sources) state.SkipWithError("sources did not load");
    uint32_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(plugin.Api().getSourceData(index));
        if (++index == sources) index = 0;
    }
}
BENCHMARK(BM_PollRound)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);

// Reads a configuration of N sources: parse, bind, and the library's texts for each.
void BM_LoadConfig(benchmark::State& state) {
    const uint32_t sources = static_cast<uint32_t>(state.range(0));
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("zarmite-bench-" + std::to_string(sources) + ".cfg");
    std::ofstream(path, std::ios::binary) << BenchConfig(sources, false);
    for (auto _ : state) {
        LoadSources(path.string().c_str());
        if (g_sources.Count() != sources) state.SkipWithError("sources did not load");
    }
    ClearSources();
    std::filesystem::remove(path);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadConfig)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// One entry: open, write, close.
void BM_LogEntry(benchmark::State& state) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "zarmite-bench.log";
    const PlatLocalTime time = plat_local_time();
    WriteLogAt(path.string().c_str(), "GetSourcesNum() called", 0, time);
    for (auto _ : state)
        WriteLogAt(path.string().c_str(), "GetSourceData(0) - GPU busy -  37.500000", 1, time);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LogEntry);

}  // namespace

BENCHMARK_MAIN();
