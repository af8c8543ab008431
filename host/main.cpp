// zarmite-host: a small monitoring host. It loads a plug-in, prints the descriptor of
// every source and polls the sources for a number of rounds, as a monitoring application
// does.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "plugin_api.h"

namespace {

const char kUsage[] =
    "Usage: zarmite-host --plugin PATH [--rounds N] [--interval-ms MS] [--desc-version V]\n"
    "                    [--count N] [--no-unload]\n"
    "\n"
    "Loads a monitoring plug-in, prints the descriptor of each of its sources and, with\n"
    "--rounds, polls every source N times, one row per round.\n"
    "\n"
    "  --plugin PATH       the plug-in to load (Zarmite.so, Zarmite.dll)\n"
    "  --rounds N          rounds of polling (default 0: descriptors only)\n"
    "  --interval-ms MS    pause between rounds (default 1000)\n"
    "  --desc-version V    descriptor version the host announces (default 0x00010002;\n"
    "                      below it the descriptors carry no group)\n"
    "  --count N           take N as the number of sources without asking the plug-in\n"
    "  --no-unload         exit without unloading the plug-in, as some hosts do\n"
    "  --help              this text\n";

struct Options {
    const char* plugin = nullptr;
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

    PluginApi api;
    char error[600];
    if (!LoadPlugin(options.plugin, &api, error, sizeof error)) {
        fprintf(stderr, "zarmite-host: %s: %s\n", options.plugin, error);
        return 3;
    }
    const uint32_t count =
        options.countGiven ? static_cast<uint32_t>(options.count) : api.getSourcesNum();
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
