// zarmite-host: a small monitoring host. It loads a plug-in, prints the descriptor of
// every source and polls the sources for a number of rounds, as a monitoring application
// does; or shows them live in the terminal (--watch), or writes their values for scripts
// (--csv, --json), or serves them to Prometheus (--serve, --textfile). One loop of rounds
// feeds every output.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gpu_list.h"
#include "gpu_processes.h"
#include "gpu_sources.h"
#include "host_options.h"
#include "host_source.h"
#include "host_text.h"
#include "line_writer.h"
#include "metrics_output.h"
#include "no_source_reason.h"
#include "platform.h"
#include "plugin_api.h"
#include "poll_loop.h"
#include "sample_period.h"
#include "script_output.h"
#if defined(ZARMITE_HOST_WATCH)
#include "watch_view.h"
#endif

namespace {

// A text field of the descriptor, which the plug-in may have left unterminated.
void PrintField(const char* label, const char* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != '\0') ++length;
    printf("  %-12s %s\n", label, PrintableText(std::string(text, length)).c_str());
}

void PrintDescriptors(const PluginApi& api, uint32_t count, uint32_t version) {
    for (uint32_t i = 0; i < count; ++i) {
        HOST_SOURCE_DESC desc;
        memset(&desc, 0, sizeof desc);
        desc.version = version;
        if (api.getSourceDesc(i, &desc) == 0) {
            printf("Source %" PRIu32 ": descriptor refused\n", i);
            continue;
        }
        printf("Source %" PRIu32 "\n", i);
        PrintField("Name:", desc.name, sizeof desc.name);
        PrintField("Units:", desc.units, sizeof desc.units);
        printf("  %-12s %f\n  %-12s %f\n  %-12s %f\n", "MaxLimit:", desc.maxLimit,
               "MinLimit:", desc.minLimit, "GridDim:", desc.gridDim);
        PrintField("Description:", desc.description, sizeof desc.description);
        if (version >= kHostDescVersionWithGroup)
            PrintField("Group:", desc.group, sizeof desc.group);
    }
}

// Who uses the GPU, as JSON members of a round; said once where the counter library
// does not tell.
std::string ProcessMembers(GpuProcessReader& reader, const HostOptions& options, bool* told) {
    const GpuProcessRound round = FilterProcesses(reader.Take(), options.gpu, options.pid);
    if (!round.offered && !*told)
        fprintf(stderr, "zarmite-host: the counter library gives no per-process data\n");
    *told = true;
    return JsonProcesses(round);
}

// A round as one output line: the rows, CSV or JSON; nothing for the daemon.
std::string RoundLine(const HostOptions& options, const std::vector<HostSource>& sources,
                      const HostRound& round, const std::string& members) {
    switch (options.mode) {
        case HostMode::kCsv:
            return CsvRound(round.localTimestamp, round.values);
        case HostMode::kJson:
            return JsonRound(round.localTimestamp, sources, round.values, members);
        case HostMode::kRows: {
            std::string line = "Round " + std::to_string(round.number) + ":";
            for (float value : round.values) {
                char text[64];
                snprintf(text, sizeof text, " %f", static_cast<double>(value));
                line += text;
            }
            return line + "\n";
        }
        default:
            return "";
    }
}

// The rows' sources need no descriptor beyond the ones printed: just their positions.
std::vector<HostSource> Positions(uint32_t count) {
    std::vector<HostSource> sources(count, HostSource{0, false, "", "", "", "", 0, 0, 0});
    for (uint32_t i = 0; i < count; ++i) sources[i].index = i;
    return sources;
}

// What comes before the rounds on standard output; false when it could not be written.
int WriteHead(const PluginApi& api, const std::vector<HostSource>& sources, uint32_t count,
              const HostOptions& options) {
    std::string head;
    if (options.mode == HostMode::kCsv) head = CsvHeader(sources);
    if (options.mode == HostMode::kJson) head = JsonDescriptors(sources);
    if (options.mode == HostMode::kRows) {
        printf("Sources: %" PRIu32 "%s\n", count, options.countGiven ? " (not asked)" : "");
        uint32_t capability = 0;
        const int32_t hasCapability = api.getSourceCaps(0, 1, &capability);
        printf("Capability 1: %s (value %" PRIu32 ")\n", hasCapability ? "yes" : "no", capability);
        PrintDescriptors(api, count, options.descVersion);
    }
    if (options.mode == HostMode::kDaemon) return -1;
    const Written written = WriteLine(head);
    return written == Written::kYes ? -1 : OutputLost(written);
}

// Says once, after the first round, where no source could be added.
void SayWhenNothingIsAdded(const HostRound& round, bool* said) {
    if (*said) return;
    *said = true;
    const std::string reason = NothingAddedReason(round.values);
    if (!reason.empty()) fprintf(stderr, "zarmite-host: warning: %s\n", reason.c_str());
}

// The sources an output shows: with --gpu, that GPU's only.
std::vector<HostSource> ShownSources(std::vector<HostSource> sources, const HostOptions& options) {
    if (options.gpu < 0) return sources;
    std::vector<HostSource> kept = SourcesOfGpu(sources, options.gpu);
    if (kept.empty())
        fprintf(stderr, "zarmite-host: no source of GPU %d among the plug-in's %zu\n",
                static_cast<int>(options.gpu), sources.size());
    return kept;
}

#if defined(ZARMITE_HOST_WATCH)
// The live view ends at once where no source could be added: nothing it drew would mean
// anything. The reason is said once the terminal is back, where the user sees it.
int Watch(const PluginApi& api, const std::vector<HostSource>& sources, const HostOptions& options,
          MetricsOutput& metrics) {
    bool checked = false;
    std::string nothingAdded;
    GpuProcessReader processes;  // let go before the plug-in, which holds the library
    const int status = RunWatch(
        sources, options.intervalMs, options.noColour,
        [&] { return FilterProcesses(processes.Take(), options.gpu, options.pid); },
        [&](PollSchedule& schedule, const RoundConsumer& draw, const RoundWait& keys) {
            return RunRounds(
                api, sources, 0, schedule,
                [&](const HostRound& round) {
                    if (!checked) nothingAdded = NothingAddedReason(round.values);
                    checked = true;
                    if (!nothingAdded.empty()) return RoundVerdict{true, 1};
                    metrics.Take(round);
                    return draw(round);
                },
                keys);
        });
    if (!nothingAdded.empty())
        fprintf(stderr, "zarmite-host: the live view has nothing to show: %s\n",
                nothingAdded.c_str());
    return status;
}
#endif

int Run(const PluginApi& api, uint32_t count, const HostOptions& options, MetricsOutput& metrics) {
    bool toldNothingAdded = false;
    const bool described = options.mode != HostMode::kRows || metrics.Active();
    const std::vector<HostSource> sources = ShownSources(
        described ? ReadSources(api, count, options.descVersion) : Positions(count), options);
    if (sources.empty() && options.gpu >= 0) return 1;
    metrics.SetSources(sources);
#if defined(ZARMITE_HOST_WATCH)
    if (options.mode == HostMode::kWatch) return Watch(api, sources, options, metrics);
#endif
    const int headStatus = WriteHead(api, sources, count, options);
    if (headStatus >= 0) return headStatus;
    // Rows with no rounds asked for are the descriptors alone; the others poll until told.
    if (options.mode == HostMode::kRows && options.rounds == 0) return 0;
    PollSchedule schedule(options.intervalMs);
    GpuProcessReader processes;  // let go before the plug-in, which holds the library
    bool told = false;
    return RunRounds(api, sources, options.rounds, schedule, [&](const HostRound& round) {
        SayWhenNothingIsAdded(round, &toldNothingAdded);
        metrics.Take(round);
        const std::string line = RoundLine(
            options, sources, round,
            options.processes ? ProcessMembers(processes, options, &told) : std::string());
        if (line.empty()) return RoundVerdict{false, 0};
        const Written written = WriteLine(line);
        return written == Written::kYes ? RoundVerdict{false, 0}
                                        : RoundVerdict{true, OutputLost(written)};
    });
}

}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    if (int result = ParseHostOptions(argc, argv, &options, stdout, stderr))
        return result == 1 ? 0 : 2;
    if (options.gpus) return ListGpus(options.gpu);
    if (options.mode == HostMode::kWatch) {
#if defined(ZARMITE_HOST_WATCH)
        if (!plat_stdout_is_terminal()) {
            fprintf(stderr,
                    "zarmite-host: --watch draws in a terminal, and standard output is none;\n"
                    "for a pipe or a file use --csv or --json\n");
            return 2;
        }
#else
        fprintf(stderr,
                "zarmite-host: --watch is in the Linux build only; here use --csv or --json\n");
        return 2;
#endif
    }
    if (*SamplePeriodWarning() != '\0')
        fprintf(stderr, "zarmite-host: warning: %s\n", SamplePeriodWarning());
    // Output that cannot be written is reported, never taken by a file opened later.
    plat_guard_closed_stdout();
    plat_ignore_broken_pipe();
    // SIGINT and SIGTERM end the rounds in order, the plug-in unloaded, from before the
    // endpoint answers its first request (the live view takes them over).
    plat_catch_termination();
    // The endpoint is bound before anything else: a port in use is a usage error.
    MetricsOutput metrics;
    if (!metrics.Start(options)) return 2;

    PluginApi api;
    char error[600];
    if (!LoadPlugin(options.plugin, &api, error, sizeof error)) {
        fprintf(stderr, "zarmite-host: %s: %s\n", options.plugin, error);
        return 3;
    }
    const uint32_t count = options.countGiven ? options.count : api.getSourcesNum();
    int status = 2;
    // Said once, whatever the output: rounds of nothing, a blank screen or an empty
    // exposition would not say why.
    if (count == 0 && !options.countGiven)
        fprintf(stderr, "zarmite-host: the plug-in offers no source: %s\n",
                NoSourceReason(options.plugin).c_str());
    if (count == 0 && !options.countGiven && options.mode == HostMode::kWatch)
        status = 1;  // nothing to draw
    else if (count > kMaxHostSources)
        fprintf(stderr,
                "zarmite-host: the plug-in offers %" PRIu32 " sources, more than the %" PRIu32
                " a host takes\n",
                count, kMaxHostSources);
    else
        status = Run(api, count, options, metrics);
    metrics.Stop();  // no scrape is answered once the plug-in is gone
    if (options.unload) UnloadPlugin(&api);
    return status;
}
