// zarmite-host: a small monitoring host. It loads a plug-in, prints the descriptor of
// every source and polls the sources for a number of rounds, as a monitoring application
// does; or shows them live in the terminal (--watch), or writes their values for scripts
// (--csv, --json).
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_source.h"
#include "platform.h"
#include "plugin_api.h"
#include "script_output.h"
#if defined(ZARMITE_HOST_WATCH)
#include "watch_view.h"
#endif

namespace {

const char kUsage[] =
    "Usage: zarmite-host --plugin PATH [--watch | --csv | --json] [--rounds N]\n"
    "                    [--interval-ms MS] [--desc-version V] [--count N] [--no-unload]\n"
    "\n"
    "Loads a monitoring plug-in, prints the descriptor of each of its sources and, with\n"
    "--rounds, polls every source N times, one row per round.\n"
    "\n"
    "  --plugin PATH       the plug-in to load (Zarmite.so, Zarmite.dll)\n"
    "  --watch             a live view in the terminal: every source as a graph between\n"
    "                      its limits (q or Esc quits, space pauses, + and - change the\n"
    "                      pace, arrows or j/k scroll); Linux build only\n"
    "  --csv               for scripts: a header line, then a line of values a round\n"
    "  --json              for scripts: JSON Lines, the descriptors, then an object a round\n"
    "  --rounds N          rounds of polling (default 0: descriptors only; with --csv and\n"
    "                      --json, 0 polls until the reader goes away)\n"
    "  --interval-ms MS    pause between rounds (default 1000)\n"
    "  --desc-version V    descriptor version the host announces (default 0x00010002;\n"
    "                      below it the descriptors carry no group)\n"
    "  --count N           take N as the number of sources without asking the plug-in\n"
    "  --no-unload         exit without unloading the plug-in, as some hosts do\n"
    "  --help              this text\n";

enum class Mode { kRows, kWatch, kCsv, kJson };

struct Options {
    const char* plugin = nullptr;
    Mode mode = Mode::kRows;
    unsigned long rounds = 0;
    unsigned long intervalMs = 1000;
    unsigned long descVersion = kHostDescVersionWithGroup;
    bool countGiven = false;
    unsigned long count = 0;
    bool unload = true;
};

bool ParseNumber(const char* text, unsigned long* out) {
    if (text == nullptr || *text == '\0' || *text == '-') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFul) return false;
    *out = value;
    return true;
}

// Returns 0 to go on, 1 after --help, 2 on a usage error.
int ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (strcmp(option, "--help") == 0) {
            fputs(kUsage, stdout);
            return 1;
        }
        if (strcmp(option, "--no-unload") == 0) {
            options->unload = false;
            continue;
        }
        const Mode modes[] = {Mode::kWatch, Mode::kCsv, Mode::kJson};
        const char* const modeNames[] = {"--watch", "--csv", "--json"};
        bool isMode = false;
        for (int m = 0; m < 3; ++m) {
            if (strcmp(option, modeNames[m]) != 0) continue;
            if (options->mode != Mode::kRows && options->mode != modes[m]) {
                fprintf(stderr, "zarmite-host: choose one of --watch, --csv and --json\n");
                return 2;
            }
            options->mode = modes[m];
            isMode = true;
        }
        if (isMode) continue;
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = value != nullptr;
        if (strcmp(option, "--plugin") == 0)
            options->plugin = value;
        else if (strcmp(option, "--rounds") == 0)
            ok = ok && ParseNumber(value, &options->rounds);
        else if (strcmp(option, "--interval-ms") == 0)
            ok = ok && ParseNumber(value, &options->intervalMs);
        else if (strcmp(option, "--desc-version") == 0)
            ok = ok && ParseNumber(value, &options->descVersion);
        else if (strcmp(option, "--count") == 0) {
            ok = ok && ParseNumber(value, &options->count);
            options->countGiven = true;
        } else {
            fprintf(stderr, "zarmite-host: unknown option %s\n%s", option, kUsage);
            return 2;
        }
        if (!ok) {
            fprintf(stderr, "zarmite-host: %s needs a value%s\n", option,
                    strcmp(option, "--plugin") == 0 ? "" : " that is a whole number");
            return 2;
        }
        ++i;
    }
    if (options->plugin == nullptr) {
        fprintf(stderr, "zarmite-host: --plugin is required\n%s", kUsage);
        return 2;
    }
    return 0;
}

// A text field of the descriptor, which the plug-in may have left unterminated.
void PrintField(const char* label, const char* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != '\0') ++length;
    printf("  %-12s %.*s\n", label, static_cast<int>(length), text);
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

// Writes a line for scripts at once. False when it could not be written: the reader has
// gone (SIGPIPE is ignored, so the write fails) or the disk is full.
bool WriteLine(const std::string& line) {
    const bool written = fwrite(line.data(), 1, line.size(), stdout) == line.size();
    return fflush(stdout) == 0 && written;
}

// --csv and --json: a first line, then a line a round, until the rounds are done (0: no
// end) or the reader goes away.
int WriteForScripts(const PluginApi& api, const std::vector<HostSource>& sources,
                    const Options& options) {
    plat_ignore_broken_pipe();
    const bool csv = options.mode == Mode::kCsv;
    if (!WriteLine(csv ? CsvHeader(sources) : JsonDescriptors(sources))) return 0;
    std::vector<float> values(sources.size());
    for (unsigned long round = 1; options.rounds == 0 || round <= options.rounds; ++round) {
        if (round > 1) plat_sleep_ms(static_cast<uint32_t>(options.intervalMs));
        const std::string timestamp = IsoTimestamp(plat_local_time(), plat_utc_offset_minutes());
        for (size_t i = 0; i < sources.size(); ++i) values[i] = api.getSourceData(sources[i].index);
        if (!WriteLine(csv ? CsvRound(timestamp, values) : JsonRound(timestamp, sources, values)))
            return 0;  // nobody reads any more: stop quietly
    }
    return 0;
}

void Poll(const PluginApi& api, uint32_t count, const Options& options) {
    for (unsigned long round = 1; round <= options.rounds; ++round) {
        if (round > 1) plat_sleep_ms(static_cast<uint32_t>(options.intervalMs));
        printf("Round %lu:", round);
        for (uint32_t i = 0; i < count; ++i)
            printf(" %f", static_cast<double>(api.getSourceData(i)));
        printf("\n");
        fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (int result = ParseOptions(argc, argv, &options)) return result == 1 ? 0 : 2;
    if (options.mode == Mode::kWatch) {
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

    PluginApi api;
    char error[600];
    if (!LoadPlugin(options.plugin, &api, error, sizeof error)) {
        fprintf(stderr, "zarmite-host: %s: %s\n", options.plugin, error);
        return 3;
    }
    const uint32_t count =
        options.countGiven ? static_cast<uint32_t>(options.count) : api.getSourcesNum();
    if (options.mode != Mode::kRows) {
        const std::vector<HostSource> sources =
            ReadSources(api, count, static_cast<uint32_t>(options.descVersion));
        int status = 0;
#if defined(ZARMITE_HOST_WATCH)
        if (options.mode == Mode::kWatch)
            status = RunWatch(api, sources, static_cast<uint32_t>(options.intervalMs));
        else
#endif
            status = WriteForScripts(api, sources, options);
        if (options.unload) UnloadPlugin(&api);
        return status;
    }
    printf("Sources: %" PRIu32 "%s\n", count, options.countGiven ? " (not asked)" : "");
    uint32_t capability = 0;
    int32_t hasCapability = api.getSourceCaps(0, 1, &capability);
    printf("Capability 1: %s (value %" PRIu32 ")\n", hasCapability ? "yes" : "no", capability);
    PrintDescriptors(api, count, static_cast<uint32_t>(options.descVersion));
    fflush(stdout);
    Poll(api, count, options);
    if (options.unload) UnloadPlugin(&api);
    return 0;
}
