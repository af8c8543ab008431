// zarmite-host: a small monitoring host. It loads a plug-in, prints the descriptor of
// every source and polls the sources for a number of rounds, as a monitoring application
// does; or shows them live in the terminal (--watch), or writes their values for scripts
// (--csv, --json).
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display_text.h"
#include "host_options.h"
#include "host_source.h"
#include "platform.h"
#include "plugin_api.h"
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

enum class Written { kYes, kReaderGone, kFailed };

// Writes a line at once. A reader that has gone (SIGPIPE is ignored, so the write fails)
// is told apart from output that is lost: a full disk, a closed output.
Written WriteLine(const std::string& line) {
    errno = 0;
    const bool written = fwrite(line.data(), 1, line.size(), stdout) == line.size();
    if (fflush(stdout) == 0 && written) return Written::kYes;
    return plat_write_failed_for_broken_pipe() ? Written::kReaderGone : Written::kFailed;
}

// The exit status once output could not be written: a reader that went away is the
// normal end of a pipeline; anything else is reported once.
int OutputLost(Written written) {
    if (written == Written::kReaderGone) return 0;
    fprintf(stderr, "zarmite-host: standard output could not be written\n");
    return 1;
}

// --csv and --json: a first line, then a line a round, until the rounds are done (0: no
// end) or the reader goes away.
int WriteForScripts(const PluginApi& api, const std::vector<HostSource>& sources,
                    const HostOptions& options) {
    const bool csv = options.mode == HostMode::kCsv;
    Written written = WriteLine(csv ? CsvHeader(sources) : JsonDescriptors(sources));
    if (written != Written::kYes) return OutputLost(written);
    std::vector<float> values(sources.size());
    for (uint32_t round = 1; options.rounds == 0 || round <= options.rounds; ++round) {
        if (round > 1) plat_sleep_ms(options.intervalMs);
        const std::string timestamp = IsoTimestamp(plat_local_time(), plat_utc_offset_minutes());
        for (size_t i = 0; i < sources.size(); ++i) values[i] = api.getSourceData(sources[i].index);
        written =
            WriteLine(csv ? CsvRound(timestamp, values) : JsonRound(timestamp, sources, values));
        if (written != Written::kYes) return OutputLost(written);
        if (round == UINT32_MAX) break;
    }
    return 0;
}

int Poll(const PluginApi& api, uint32_t count, const HostOptions& options) {
    for (uint32_t round = 1; round <= options.rounds; ++round) {
        if (round > 1) plat_sleep_ms(options.intervalMs);
        std::string line = "Round " + std::to_string(round) + ":";
        for (uint32_t i = 0; i < count; ++i) {
            char value[64];
            snprintf(value, sizeof value, " %f", static_cast<double>(api.getSourceData(i)));
            line += value;
        }
        const Written written = WriteLine(line + "\n");
        if (written != Written::kYes) return OutputLost(written);
        if (round == UINT32_MAX) break;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    if (int result = ParseHostOptions(argc, argv, &options, stdout, stderr))
        return result == 1 ? 0 : 2;
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
    // Output that cannot be written is reported, never taken by a file opened later.
    plat_guard_closed_stdout();
    plat_ignore_broken_pipe();

    PluginApi api;
    char error[600];
    if (!LoadPlugin(options.plugin, &api, error, sizeof error)) {
        fprintf(stderr, "zarmite-host: %s: %s\n", options.plugin, error);
        return 3;
    }
    const uint32_t count = options.countGiven ? options.count : api.getSourcesNum();
    if (count > kMaxHostSources) {
        fprintf(stderr,
                "zarmite-host: the plug-in offers %" PRIu32 " sources, more than the %" PRIu32
                " a host takes\n",
                count, kMaxHostSources);
        if (options.unload) UnloadPlugin(&api);
        return 2;
    }
    int status = 0;
    if (options.mode != HostMode::kRows) {
        const std::vector<HostSource> sources = ReadSources(api, count, options.descVersion);
#if defined(ZARMITE_HOST_WATCH)
        if (options.mode == HostMode::kWatch)
            status = RunWatch(api, sources, options.intervalMs);
        else
#endif
            status = WriteForScripts(api, sources, options);
    } else {
        printf("Sources: %" PRIu32 "%s\n", count, options.countGiven ? " (not asked)" : "");
        uint32_t capability = 0;
        int32_t hasCapability = api.getSourceCaps(0, 1, &capability);
        printf("Capability 1: %s (value %" PRIu32 ")\n", hasCapability ? "yes" : "no", capability);
        PrintDescriptors(api, count, options.descVersion);
        const Written written = WriteLine("");
        status = written == Written::kYes ? Poll(api, count, options) : OutputLost(written);
    }
    if (options.unload) UnloadPlugin(&api);
    return status;
}
