// Who uses the GPU, as a host shows it: the snapshot of the GPU clients that the counter
// library the plug-in loaded hands out (gpu_clients.h), taken once a round and made into
// one row a process and GPU, with each engine class's busy share over the round.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gpu_clients.h"
#include "gpu_sources.h"

struct GpuProcess {
    uint32_t gpu;
    uint32_t pid;
    std::string name;  // as the library gave it, cut at its field: untrusted
    std::string user;
    // Percent of the round, by engine class; negative for a class the process never used.
    std::array<double, kGpuEngineClasses> busyPercent;
    uint64_t deviceBytes;
    uint64_t systemBytes;
    bool shared;  // one of its clients is shared with another process
    // Its clients' numbers on the GPU, in order: a shared client is in the rows of every
    // process that holds it, with the same number.
    std::vector<uint64_t> clients;
};

// Busy that no visible client accounts for: a GPU's own busy share over the round less
// what its clients' graphics and compute add up to (each client once), never below 0.
struct GpuUnattributed {
    uint32_t gpu;
    double busyPercent;
};

// What a GPU's last look could not see: clients' files not read in time, descriptors left
// unread at a cap. Listed only for a GPU where either is above 0.
struct GpuUnread {
    uint32_t gpu;
    uint32_t lateClients;
    uint32_t leftOut;
};

struct GpuProcessRound {
    bool offered = false;               // whether the counter library gives per-process data
    std::vector<GpuProcess> processes;  // by GPU, then pid
    uint32_t unreadable = 0;
    std::vector<GpuUnattributed> unattributed;  // by GPU, where its own busy is known
    std::vector<GpuUnread> unread;              // by GPU
    // The snapshot itself, for the groups of the process metrics.
    std::vector<GpuClient> clients;
    double scanSeconds = 0;  // what the library's last pass over the clients took
};

// What the last snapshot held, for the next round's shares.
struct GpuProcessHistory {
    // Each client's engine time, by GPU and client number, and the look of its GPU that
    // last saw it. A client that a look misses is kept a while: back, its share is over the
    // time since it was last seen.
    struct Seen {
        std::array<uint64_t, kGpuEngineClasses> busyNs;
        uint64_t atNs;
    };
    std::map<std::pair<uint32_t, uint64_t>, Seen> clients;
    std::map<uint32_t, uint64_t> deviceBusyNs;  // each GPU's own, where known
    std::map<uint32_t, uint64_t> gpuAtNs;       // when each GPU was looked at
    // The rows of that snapshot: a round that finds no newer one (rounds quicker than the
    // library's reads) shows them again rather than no time at all.
    std::vector<GpuProcess> processes;
    std::vector<GpuUnattributed> unattributed;
};

class GpuProcessReader {
public:
    GpuProcessReader() = default;
    GpuProcessReader(const GpuProcessReader&) = delete;
    GpuProcessReader& operator=(const GpuProcessReader&) = delete;
    ~GpuProcessReader() { Close(); }

    // The round's processes. The first call looks the entry up in the counter library the
    // plug-in has loaded (never another copy of it); without one nothing is offered.
    GpuProcessRound Take();
    // Lets the counter library go; before the plug-in is unloaded.
    void Close();

private:
    bool looked_ = false;
    void* library_ = nullptr;
    GpuClientsEntry entry_ = nullptr;
    std::vector<GpuClient> buffer_;
    std::vector<GpuDevice> devices_;
    GpuProcessHistory history_;
};

// The rows from two snapshots (for the tests): `history` is updated to this one.
GpuProcessRound GpuProcessesFrom(const std::vector<GpuClient>& clients,
                                 const std::vector<GpuDevice>& devices, uint64_t atNs,
                                 uint32_t unreadable, GpuProcessHistory* history);

constexpr int64_t kAnyProcess = -1;
// How long a client that the library's looks miss keeps its history.
constexpr uint64_t kMissedClientGraceNs = 60000000000ULL;

// a + b, or the largest value where the sum would wrap: a sum of memory sizes, each of
// which the library may have saturated already.
inline uint64_t SaturatingSum(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The round's rows of GPU `gpu` (kNoGpu: every GPU) and process `pid` (kAnyProcess: every
// process) only; the unattributed figures of that GPU only. The snapshot stays whole.
GpuProcessRound FilterProcesses(GpuProcessRound round, int gpu, int64_t pid);
