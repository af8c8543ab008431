// The simulated GPU clients: a compositor shared with its child, a game, a video player
// and a compute job that runs for 100 of every 200 samples, a new process each time, each
// using the engines in a fixed share of the time; and one process whose clients cannot be
// read. The GPU's own busy figure is 3 % above what its clients' graphics and compute add
// up to: busy that no client accounts for. Who is there follows the samples, so that runs
// are repeatable; engine time follows the wall clock between them, so that no client's
// engine time ever grows faster than time passes, however often a host samples (a host's
// round samples once a source).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "clients_snapshot.h"
#include "plat_export.h"
#include "simulation.h"

namespace {

// The time the first sample stands for: there is no earlier one to measure from.
constexpr uint64_t kFirstSampleNs = 1000000;
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

// The wall time the samples stand for, kept as they are taken.
struct SimTime {
    std::mutex lock;
    uint64_t lastNs = 0;      // when the last sample was taken, on the steady clock
    uint64_t elapsedNs = 0;   // from the first sample to the last
    uint64_t jobRunNs = 0;    // the compute job's current run, from its first sample
    uint64_t jobTotalNs = 0;  // all its runs
};

SimTime& Time() {
    static SimTime time;
    return time;
}

struct SimTimes {
    uint64_t elapsedNs, jobRunNs, jobTotalNs;
};

SimTimes Times() {
    SimTime& time = Time();
    std::lock_guard<std::mutex> guard(time.lock);
    return SimTimes{time.elapsedNs, time.jobRunNs, time.jobTotalNs};
}

// `permille` thousandths of `ns`, to the nanosecond: a share measured over a short round
// reads as itself, not as a microsecond's rounding of it.
uint64_t PerMille(uint64_t ns, uint64_t permille) {
    return ns / 1000 * permille + ns % 1000 * permille / 1000;
}

// The client as it stands after `sample` samples; false where it is not there.
bool ClientAt(const SimClient& sim, uint64_t sample, const SimTimes& times, GpuClient* out) {
    uint64_t ns = times.elapsedNs;
    uint32_t pid = sim.pid;
    uint64_t id = sim.id;
    if (sim.job) {
        const uint64_t cycle = sample / kJobCycle, at = sample % kJobCycle;
        if (at < kJobStart || at >= kJobEnd) return false;
        ns = times.jobRunNs;
        pid += static_cast<uint32_t>(cycle % 1000);  // each run is a new process
        id += 100 * cycle;
    }
    memset(out, 0, sizeof *out);
    out->gpu = 0;
    out->pid = pid;
    out->id = id;
    for (uint32_t c = 0; c < kGpuEngineClasses; ++c) out->busyNs[c] = PerMille(ns, sim.permille[c]);
    out->deviceBytes = sim.deviceMiB * kMiB;
    out->systemBytes = sim.systemMiB * kMiB;
    out->flags = sim.shared ? kGpuClientShared : 0;
    snprintf(out->name, sizeof out->name, "%s", sim.name);
    snprintf(out->user, sizeof out->user, "%s", sim.user);
    return true;
}

// Client c of the scenario's many, as process p holds it after `elapsedNs`: busy
// (c % 10 + 1) per mille of the time in graphics.
GpuClient ManyClient(const SimScenario& scenario, uint32_t p, uint64_t elapsedNs) {
    const uint32_t c = p % scenario.manyClients;
    GpuClient client;
    memset(&client, 0, sizeof client);
    client.gpu = c % scenario.manyGpus;
    client.pid = 10000 + p;
    client.id = 1000 + c;
    client.busyNs[kEngineGraphics] = PerMille(elapsedNs, c % 10 + 1);
    client.deviceBytes = (c + 1) * kMiB;
    client.flags = scenario.manyProcesses > scenario.manyClients ? kGpuClientShared : 0;
    // Every hundredth name holds what a process may put in its name: quotes, backslashes,
    // a line feed and a byte that is no UTF-8.
    snprintf(client.name, sizeof client.name, p % 100 == 7 ? "odd\"\\\n\xff%u" : "app-%u", p);
    snprintf(client.user, sizeof client.user, "user%u", p % 7);
    return client;
}

}  // namespace

extern "C" PLAT_EXPORT int32_t COUNTER_CALL ZarmiteGpuClients(GpuClients* snapshot) {
    sim_record("GpuClients");
    if (!ClientsSnapshotUsable(snapshot)) return kSimBadArgument;
    const uint64_t sample = sim_sample_number();
    const SimTimes times = Times();
    ClientsSnapshotStart(snapshot, sample > 0 ? 1 : 0, times.elapsedNs);
    if (sample == 0) return 0;
    const SimScenario& scenario = sim_scenario();
    if (scenario.manyClients > 0) {
        for (uint32_t p = 0; p < scenario.manyProcesses; ++p)
            ClientsSnapshotAdd(snapshot, ManyClient(scenario, p, times.elapsedNs));
        return 0;
    }
    for (const SimClient& sim : kClients) {
        GpuClient client;
        if (ClientAt(sim, sample, times, &client)) ClientsSnapshotAdd(snapshot, client);
    }
    const uint64_t busyNs = PerMille(times.elapsedNs, kDeviceBusyPermille) +
                            PerMille(times.jobTotalNs, kJobBusyPermille);
    ClientsSnapshotAddDevice(snapshot, GpuDevice{0, 1, busyNs, 0, 0, 0, 0});
    return 0;
}

void sim_clients_sampled(uint64_t sample) {
    const uint64_t nowNs =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
    SimTime& time = Time();
    std::lock_guard<std::mutex> guard(time.lock);
    const uint64_t ns = time.lastNs == 0 ? kFirstSampleNs : nowNs - time.lastNs;
    time.lastNs = nowNs;
    time.elapsedNs += ns;
    const uint64_t at = sample % kJobCycle;
    if (at == kJobStart) time.jobRunNs = 0;  // a run counts from its first sample
    if (at > kJobStart && at < kJobEnd) {
        time.jobRunNs += ns;
        time.jobTotalNs += ns;
    }
}
