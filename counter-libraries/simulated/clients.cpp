// The simulated GPU clients: a compositor shared with its child, a game, a video player
// and a compute job that runs for 100 of every 200 samples, a new process each time, each
// using the engines in a fixed pattern; and one process whose clients cannot be read. The
// GPU's own busy figure is 3 % above what its clients' graphics and compute add up to:
// busy that no client accounts for. Each sample is a simulated second, so that runs are
// repeatable (a host's round samples once a source).
#include <cstdio>
#include <cstring>

#include "clients_snapshot.h"
#include "plat_export.h"
#include "simulation.h"

namespace {

constexpr uint64_t kSecondNs = 1000000000;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kJobCycle = 200;  // the compute job runs from sample 50 to 149 of each
constexpr uint64_t kJobStart = 50, kJobEnd = 150;
// The GPU's own busy, per mille of a second: what the clients other than the job use of
// graphics or compute (50 + 600 + 20), 30 that no client accounts for, and the job's.
constexpr uint64_t kDeviceBusyPermille = 700;
constexpr uint64_t kJobBusyPermille = 250;

struct SimClient {
    uint32_t pid;
    uint64_t id;
    const char* name;
    const char* user;
    uint64_t permille[kGpuEngineClasses];  // of each second, by engine class
    uint64_t deviceMiB, systemMiB;
    bool shared;
    bool job;
};

const SimClient kClients[] = {
    {1180, 1, "compositor", "gdm", {50, 0, 10, 0, 0, 0, 0, 0}, 96, 24, true, false},
    {1181, 1, "compositor", "gdm", {50, 0, 10, 0, 0, 0, 0, 0}, 96, 24, true, false},
    {2400, 2, "game", "alice", {600, 0, 50, 0, 0, 0, 0, 0}, 2048, 256, false, false},
    {3100, 3, "video-player", "alice", {20, 0, 0, 0, 250, 0, 0, 0}, 128, 32, false, false},
    {4500,
     4,
     "compute-job",
     "bob",
     {0, kJobBusyPermille, 20, 0, 0, 0, 0, 0},
     4096,
     64,
     false,
     true},
};

// The client as it stands after `sample` samples; false where it is not there.
bool ClientAt(const SimClient& sim, uint64_t sample, GpuClient* out) {
    uint64_t seconds = sample;
    uint32_t pid = sim.pid;
    uint64_t id = sim.id;
    if (sim.job) {
        const uint64_t cycle = sample / kJobCycle, at = sample % kJobCycle;
        if (at < kJobStart || at >= kJobEnd) return false;
        seconds = at - kJobStart;
        pid += static_cast<uint32_t>(cycle % 1000);  // each run is a new process
        id += 100 * cycle;
    }
    memset(out, 0, sizeof *out);
    out->gpu = 0;
    out->pid = pid;
    out->id = id;
    for (uint32_t c = 0; c < kGpuEngineClasses; ++c)
        out->busyNs[c] = seconds * sim.permille[c] * (kSecondNs / 1000);
    out->deviceBytes = sim.deviceMiB * kMiB;
    out->systemBytes = sim.systemMiB * kMiB;
    out->flags = sim.shared ? kGpuClientShared : 0;
    snprintf(out->name, sizeof out->name, "%s", sim.name);
    snprintf(out->user, sizeof out->user, "%s", sim.user);
    return true;
}

// Client c of the scenario's many, as process p holds it after `sample` samples: busy
// (c % 10 + 1) per mille of each second in graphics.
GpuClient ManyClient(const SimScenario& scenario, uint32_t p, uint64_t sample) {
    const uint32_t c = p % scenario.manyClients;
    GpuClient client;
    memset(&client, 0, sizeof client);
    client.gpu = c % scenario.manyGpus;
    client.pid = 10000 + p;
    client.id = 1000 + c;
    client.busyNs[kEngineGraphics] = sample * (c % 10 + 1) * (kSecondNs / 1000);
    client.deviceBytes = (c + 1) * kMiB;
    client.flags = scenario.manyProcesses > scenario.manyClients ? kGpuClientShared : 0;
    // Every hundredth name holds what a process may put in its name: quotes, backslashes,
    // a line feed and a byte that is no UTF-8.
    snprintf(client.name, sizeof client.name, p % 100 == 7 ? "odd\"\\\n\xff%u" : "app-%u", p);
    snprintf(client.user, sizeof client.user, "user%u", p % 7);
    return client;
}

// The seconds the compute job has run after `sample` samples, over all its runs.
uint64_t JobSeconds(uint64_t sample) {
    const uint64_t at = sample % kJobCycle;
    const uint64_t inThisRun =
        at < kJobStart ? 0 : (at < kJobEnd ? at - kJobStart : kJobEnd - kJobStart);
    return sample / kJobCycle * (kJobEnd - kJobStart) + inThisRun;
}

}  // namespace

extern "C" PLAT_EXPORT int32_t COUNTER_CALL ZarmiteGpuClients(GpuClients* snapshot) {
    sim_record("GpuClients");
    if (!ClientsSnapshotUsable(snapshot)) return kSimBadArgument;
    const uint64_t sample = sim_sample_number();
    ClientsSnapshotStart(snapshot, sample > 0 ? 1 : 0, sample * kSecondNs);
    if (sample == 0) return 0;
    const SimScenario& scenario = sim_scenario();
    if (scenario.manyClients > 0) {
        for (uint32_t p = 0; p < scenario.manyProcesses; ++p)
            ClientsSnapshotAdd(snapshot, ManyClient(scenario, p, sample));
        return 0;
    }
    for (const SimClient& sim : kClients) {
        GpuClient client;
        if (ClientAt(sim, sample, &client)) ClientsSnapshotAdd(snapshot, client);
    }
    const uint64_t busyPermilleSeconds =
        sample * kDeviceBusyPermille + JobSeconds(sample) * kJobBusyPermille;
    ClientsSnapshotAddDevice(snapshot,
                             GpuDevice{0, 1, busyPermilleSeconds * (kSecondNs / 1000), 0, 0, 0, 0});
    return 0;
}
