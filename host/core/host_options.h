// zarmite-host's command line.
#pragma once

#include <cstdint>
#include <cstdio>

// What a group of processes is, for --process-metrics.
enum class ProcessGroupKey { kName, kUser, kUnit, kContainer, kPid };

// kDaemon: only --serve or --textfile, nothing on standard output.
enum class HostMode { kRows, kWatch, kCsv, kJson, kDaemon };

// The most sources the host takes from a plug-in or --count: far more than any
// configuration holds, and few enough that every output's tables stay small.
constexpr uint32_t kMaxHostSources = 65536;

struct HostOptions {
    const char* plugin = nullptr;
    HostMode mode = HostMode::kRows;
    uint32_t rounds = 0;
    uint32_t intervalMs = 1000;
    uint32_t descVersion = 0x00010002;
    bool countGiven = false;
    uint32_t count = 0;
    bool unload = true;
    bool noColour = false;        // the live view without colour
    const char* serve = nullptr;  // [ADDR:]PORT of the metrics endpoint
    const char* textfile = nullptr;
    const char* webConfig = nullptr;
    bool gpus = false;            // only list the GPUs the counter library found
    bool processes = false;       // who uses the GPU, in every JSON round
    bool processMetrics = false;  // and by group, for --serve and --textfile
    ProcessGroupKey processGroup = ProcessGroupKey::kName;
    uint32_t processGroups = 50;  // groups a GPU, "other" beyond
    int32_t gpu = -1;             // --gpu: only this GPU's sources and processes; -1 all
    int64_t pid = -1;             // --pid: only this process; -1 every one
};

// The most groups a GPU --process-groups takes.
constexpr uint32_t kMaxProcessGroups = 10000;

// "name", "user", "unit", "container" or "pid"; false for another word.
bool ParseProcessGroupKey(const char* text, ProcessGroupKey* key);

extern const char kHostUsage[];

// A whole number as the command line gives it: decimal digits, a leading zero meaning
// nothing; with `hexAllowed`, also 0x and hexadecimal digits. At most 4294967295.
bool ParseHostNumber(const char* text, bool hexAllowed, uint32_t* out);

// Returns 0 to go on, 1 after --help or --version (printed to `out`), 2 on a usage error
// (one message on `err`).
int ParseHostOptions(int argc, const char* const* argv, HostOptions* options, FILE* out, FILE* err);
