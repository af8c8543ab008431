#include "host_options.h"

#include <cstring>

const char kHostUsage[] =
    "Usage: zarmite-host --plugin PATH [--watch [--no-color] | --csv | --json [--processes]]\n"
    "                    [--gpu N] [--pid P] [--rounds N] [--interval-ms MS]\n"
    "                    [--desc-version V] [--count N] [--no-unload]\n"
    "                    [--serve [ADDR:]PORT [--web-config FILE]] [--textfile PATH]\n"
    "                    [--process-metrics [--process-group KEY] [--process-groups N]]\n"
    "       zarmite-host --gpus [--gpu N]\n"
    "\n"
    "Loads a monitoring plug-in, prints the descriptor of each of its sources and, with\n"
    "--rounds, polls every source N times, one row per round.\n"
    "\n"
    "  --gpus              list the GPUs the counter library finds: each one's make,\n"
    "                      driver, address and model, what it reads now, and what it\n"
    "                      cannot and why (no plug-in needed)\n"
    "  --plugin PATH       the plug-in file to load (Zarmite.so, Zarmite.dll); a bare\n"
    "                      name is the file in the current folder\n"
    "  --watch             a live view in the terminal: an overview of every GPU (v\n"
    "                      switches to the graphs: every source between its limits, n\n"
    "                      narrows them to one GPU), who uses the GPU under it (p hides\n"
    "                      it, o orders it, [ and ] scroll it); q or Esc quits, space\n"
    "                      pauses, + and - change the pace, arrows or j/k scroll, ? or\n"
    "                      h shows the keys; Linux build only\n"
    "  --no-color          the live view without colour (as NO_COLOR=1 does)\n"
    "  --csv               for scripts: a header line, then a line of values a round\n"
    "  --json              for scripts: JSON Lines, the descriptors, then an object a round\n"
    "  --processes         with --json: who uses the GPU, in every round (where the\n"
    "                      counter library tells)\n"
    "  --gpu N             only GPU N: its sources in the view, CSV and JSON, its\n"
    "                      processes, its entry of --gpus\n"
    "  --pid P             with --watch or --json --processes: only process P\n"
    "  --rounds N          rounds of polling (default 0: descriptors only; with --csv and\n"
    "                      --json, 0 polls until the reader goes away)\n"
    "  --interval-ms MS    pause between rounds (default 1000)\n"
    "  --desc-version V    descriptor version the host announces (default 0x00010002;\n"
    "                      below it the descriptors carry no group)\n"
    "  --count N           take N as the number of sources without asking the plug-in\n"
    "                      (at most 65536)\n"
    "  --no-unload         exit without unloading the plug-in, as some hosts do\n"
    "  --serve [ADDR:]PORT serve every round to Prometheus at http://ADDR:PORT/metrics\n"
    "                      (a bare port or localhost:PORT: the loopback only; :PORT or\n"
    "                      [::]:PORT: every interface, IPv4 and IPv6; 0.0.0.0:PORT: every\n"
    "                      IPv4 one); until SIGINT, SIGTERM or SIGHUP, or --rounds N;\n"
    "                      Linux build only\n"
    "  --web-config FILE   TLS and basic authentication for --serve, in the exporters'\n"
    "                      web configuration file (YAML)\n"
    "  --textfile PATH     write every round's exposition to PATH, replaced at once\n"
    "                      (for node_exporter's or windows_exporter's textfile collector)\n"
    "                      --serve and --textfile work alone, or beside another output\n"
    "  --process-metrics   with --serve or --textfile: who uses the GPU, by group, as\n"
    "                      counters of engine time (off by default: process names are\n"
    "                      more than every scraper may need to see)\n"
    "  --process-group KEY what a group is: name (the default), user, unit (the systemd\n"
    "                      unit), container (its id, or the pod's uid) or pid\n"
    "  --process-groups N  at most N groups a GPU (default 50, at most 10000); new ones\n"
    "                      past it are counted as \"other\"\n"
    "  -h, --help          this text\n"
    "  --version           the host's version\n"
    "\n"
    "Numbers are decimal; --desc-version also takes 0x and hexadecimal digits.\n"
    "\n"
    "Exit status: 0 done (the sources' readings may still have failed: they say so);\n"
    "1 --watch found no source that could be read, --gpus found no GPU, or the output\n"
    "could not be written; 2 a usage error; 3 the plug-in could not be loaded, or\n"
    "--gpus found no counter library.\n";

bool ParseHostNumber(const char* text, bool hexAllowed, uint32_t* out) {
    if (text == nullptr || *text == '\0') return false;
    uint64_t base = 10;
    if (hexAllowed && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        if (*text == '\0') return false;
    }
    uint64_t value = 0;
    for (; *text != '\0'; ++text) {
        const char c = *text;
        uint64_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint64_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<uint64_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<uint64_t>(c - 'A' + 10);
        else
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseProcessGroupKey(const char* text, ProcessGroupKey* key) {
    const struct {
        const char* word;
        ProcessGroupKey key;
    } kKeys[] = {{"name", ProcessGroupKey::kName},
                 {"user", ProcessGroupKey::kUser},
                 {"unit", ProcessGroupKey::kUnit},
                 {"container", ProcessGroupKey::kContainer},
                 {"pid", ProcessGroupKey::kPid}};
    for (const auto& entry : kKeys)
        if (text != nullptr && strcmp(text, entry.word) == 0) {
            *key = entry.key;
            return true;
        }
    return false;
}

namespace {

bool ParseMode(const char* option, HostMode* mode, bool* isMode, FILE* err) {
    const HostMode modes[] = {HostMode::kWatch, HostMode::kCsv, HostMode::kJson};
    const char* const names[] = {"--watch", "--csv", "--json"};
    for (int m = 0; m < 3; ++m) {
        if (strcmp(option, names[m]) != 0) continue;
        *isMode = true;
        if (*mode != HostMode::kRows && *mode != modes[m]) {
            fprintf(err, "zarmite-host: choose one of --watch, --csv and --json\n");
            return false;
        }
        *mode = modes[m];
    }
    return true;
}

}  // namespace

int ParseHostOptions(int argc, const char* const* argv, HostOptions* options, FILE* out,
                     FILE* err) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (strcmp(option, "--help") == 0 || strcmp(option, "-h") == 0) {
            fputs(kHostUsage, out);
            return 1;
        }
        if (strcmp(option, "--version") == 0) {
            fputs("zarmite-host " ZARMITE_VERSION "\n", out);
            return 1;
        }
        if (strcmp(option, "--no-color") == 0) {
            options->noColour = true;
            continue;
        }
        if (strcmp(option, "--no-unload") == 0) {
            options->unload = false;
            continue;
        }
        if (strcmp(option, "--processes") == 0) {
            options->processes = true;
            continue;
        }
        if (strcmp(option, "--gpus") == 0) {
            options->gpus = true;
            continue;
        }
        if (strcmp(option, "--process-metrics") == 0) {
            options->processMetrics = true;
            continue;
        }
        bool isMode = false;
        if (!ParseMode(option, &options->mode, &isMode, err)) return 2;
        if (isMode) continue;
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = value != nullptr;
        if (strcmp(option, "--plugin") == 0) {
            options->plugin = value;
            ok = ok && *value != '\0';
        } else if (strcmp(option, "--rounds") == 0) {
            ok = ok && ParseHostNumber(value, false, &options->rounds);
        } else if (strcmp(option, "--interval-ms") == 0) {
            ok = ok && ParseHostNumber(value, false, &options->intervalMs);
        } else if (strcmp(option, "--desc-version") == 0) {
            ok = ok && ParseHostNumber(value, true, &options->descVersion);
        } else if (strcmp(option, "--serve") == 0) {
            options->serve = value;
        } else if (strcmp(option, "--textfile") == 0) {
            options->textfile = value;
            ok = ok && *value != '\0';
        } else if (strcmp(option, "--web-config") == 0) {
            options->webConfig = value;
        } else if (strcmp(option, "--process-group") == 0) {
            ok = ok && ParseProcessGroupKey(value, &options->processGroup);
        } else if (strcmp(option, "--process-groups") == 0) {
            ok = ok && ParseHostNumber(value, false, &options->processGroups) &&
                 options->processGroups >= 1 && options->processGroups <= kMaxProcessGroups;
        } else if (strcmp(option, "--gpu") == 0) {
            uint32_t number = 0;
            ok = ok && ParseHostNumber(value, false, &number) && number < 100000;
            options->gpu = static_cast<int32_t>(number);
        } else if (strcmp(option, "--pid") == 0) {
            uint32_t number = 0;
            ok = ok && ParseHostNumber(value, false, &number);
            options->pid = number;
        } else if (strcmp(option, "--count") == 0) {
            ok = ok && ParseHostNumber(value, false, &options->count);
            options->countGiven = true;
        } else {
            fprintf(err, "zarmite-host: unknown option %s\n%s", option, kHostUsage);
            return 2;
        }
        if (!ok) {
            const bool number =
                strcmp(option, "--rounds") == 0 || strcmp(option, "--interval-ms") == 0 ||
                strcmp(option, "--desc-version") == 0 || strcmp(option, "--count") == 0 ||
                strcmp(option, "--gpu") == 0 || strcmp(option, "--pid") == 0;
            const char* needs = number ? "a value that is a whole number" : "a value";
            if (strcmp(option, "--process-group") == 0)
                needs = "one of name, user, unit, container and pid";
            if (strcmp(option, "--process-groups") == 0) needs = "a whole number from 1 to 10000";
            fprintf(err, "zarmite-host: %s needs %s\n", option, needs);
            return 2;
        }
        ++i;
    }
    if (options->gpus) return 0;  // nothing else is asked; --gpu picks the GPU listed
    if (options->plugin == nullptr) {
        fprintf(err, "zarmite-host: --plugin is required\n%s", kHostUsage);
        return 2;
    }
    if (options->webConfig != nullptr && options->serve == nullptr) {
        fprintf(err, "zarmite-host: --web-config is for --serve\n");
        return 2;
    }
    if (options->processes && options->mode != HostMode::kJson) {
        fprintf(err, "zarmite-host: --processes is for --json\n");
        return 2;
    }
    const bool metrics = options->serve != nullptr || options->textfile != nullptr;
    if (options->processMetrics && !metrics) {
        fprintf(err, "zarmite-host: --process-metrics is for --serve and --textfile\n");
        return 2;
    }
    if (options->gpu >= 0 && (options->mode == HostMode::kRows || options->countGiven)) {
        fprintf(err, "zarmite-host: --gpu is for --watch, --csv, --json and --gpus\n");
        return 2;
    }
    if (options->pid >= 0 && options->mode != HostMode::kWatch && !options->processes) {
        fprintf(err, "zarmite-host: --pid is for --watch and --json --processes\n");
        return 2;
    }
    if (metrics && options->mode == HostMode::kRows) options->mode = HostMode::kDaemon;
    if (options->countGiven && options->count > kMaxHostSources) {
        fprintf(err, "zarmite-host: --count %u is more than the %u sources a host takes\n",
                options->count, kMaxHostSources);
        return 2;
    }
    return 0;
}
