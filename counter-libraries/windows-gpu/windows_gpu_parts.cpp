// The counter library over Windows' own GPU performance counters: what is its own beside
// the shared skeleton. Counter a * 16 + m is metric m of adapter a (adapter_counters.h),
// adapters in DXGI's order, or in ascending LUID order where DXGI does not answer. One
// collection serves every counter: the library has one unit.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "adapter_counters.h"
#include "busy_time.h"
#include "clients_snapshot.h"
#include "driver_library.h"
#include "gpu_counters.h"
#include "gpu_instances.h"
#include "plat_export.h"
#include "process_usage.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kDefaultPeriodMs = 1000;
// The rates' first interval: a period, but never so long that the first reading is late.
constexpr uint32_t kFirstIntervalMs = 1000;

struct Adapter {
    AdapterLuid luid;
    std::string name;
    AdapterTotals totals;
};

// A process as the last collection saw it: when it was created (a reused pid is another
// process) and its engine time, which only grows.
struct KnownProcess {
    uint64_t created;
    uint64_t busyNs[kGpuEngineClasses];
};

// Who used an adapter at the last collection.
struct AdapterUsers {
    std::map<uint32_t, KnownProcess> byPid;
    std::vector<GpuClient> clients;  // their GPU numbers set
    BusyTime busy;
};

// Never destroyed: a collection may still be in the system when the process ends.
struct WindowsGpu {
    std::mutex lock;  // held only between system calls
    std::vector<Adapter> adapters;
    Clock::time_point baseline;  // when the rates' first collection was taken
    uint32_t periodMs = kDefaultPeriodMs;
    bool firstReading = true;
    std::vector<AdapterUsers> users;  // by adapter
    uint32_t unreadable = 0;          // processes the system would not open
    uint64_t usersAtNs = 0;
    uint64_t scanNs = 0;  // what the last reading of the processes took
};

WindowsGpu& State() {
    static WindowsGpu* state = new WindowsGpu;
    return *state;
}

std::string LuidName(const AdapterLuid& luid) {
    char text[48];
    snprintf(text, sizeof text, "LUID 0x%08X_0x%08X", luid.high, luid.low);
    return text;
}

// DXGI's adapters where it answers; otherwise those the baseline collection names.
std::vector<Adapter> FindAdapters() {
    std::vector<Adapter> adapters;
    std::vector<PlatGpuAdapter> found;
    // DXGI that answers with no hardware adapter (a headless system) is no answer either.
    if (plat_gpu_adapters(found) && !found.empty()) {
        for (const PlatGpuAdapter& a : found)
            adapters.push_back(Adapter{{a.luidHigh, a.luidLow}, a.description, {false, 0, 0}});
    } else {
        PlatGpuCollection collection;
        plat_gpu_counters_collect(collection);
        std::vector<CounterItem> memory = collection.dedicated;
        memory.insert(memory.end(), collection.shared.begin(), collection.shared.end());
        for (const AdapterLuid& luid : AdaptersNamed(collection.engines, memory))
            adapters.push_back(Adapter{luid, LuidName(luid), {false, 0, 0}});
    }
    for (Adapter& adapter : adapters) {
        adapter.totals.known =
            plat_gpu_segment_sizes(adapter.luid.high, adapter.luid.low,
                                   &adapter.totals.dedicatedBytes, &adapter.totals.sharedBytes);
    }
    return adapters;
}

int32_t Start(uint32_t* counters, std::vector<CounterUnit>* units) {
    const int32_t opened = plat_gpu_counters_open();
    if (opened != 0) return opened;
    std::vector<Adapter> adapters = FindAdapters();
    if (adapters.size() > kMaxDevices) {
        plat_gpu_counters_close();
        return kDriverTooManyDevices;
    }
    *counters = static_cast<uint32_t>(adapters.size()) * kAdapterMetrics;
    if (*counters > 0) units->push_back(CounterUnit{0, *counters});
    WindowsGpu& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.adapters.swap(adapters);
    // The rates' baseline is the collection taken last: the open's, or FindAdapters' own.
    state.baseline = Clock::now();
    state.periodMs = sampler_period_ms(kDefaultPeriodMs);
    state.firstReading = true;
    state.users.assign(state.adapters.size(), AdapterUsers{});
    state.unreadable = 0;
    return 0;
}

void Stop() {
    plat_gpu_counters_close();
    WindowsGpu& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.adapters.clear();
    state.users.clear();
}

uint64_t NowNs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count());
}

struct Identity {
    bool opened;
    std::string name, user;
    uint64_t created;
};

// Who used each adapter in `collection`, from the processes' own counters; the processes
// are asked who they are once each, with no lock held.
void ReadUsers(const std::vector<Adapter>& adapters, const PlatGpuCollection& collection,
               const std::vector<AdapterLoad>& loads) {
    const uint64_t startNs = NowNs();
    std::vector<std::vector<ProcessUse>> uses;
    std::map<uint32_t, Identity> identities;
    for (const Adapter& adapter : adapters) {
        uses.push_back(ProcessUsesOf(adapter.luid, collection.runningTime,
                                     collection.processDedicated, collection.processShared));
        for (const ProcessUse& use : uses.back()) identities[use.pid] = Identity{};
    }
    uint32_t unreadable = 0;
    for (auto& entry : identities) {
        Identity& identity = entry.second;
        identity.opened =
            plat_process_identity(entry.first, &identity.name, &identity.user, &identity.created);
        unreadable += identity.opened ? 0 : 1;
    }
    const uint64_t now = NowNs();
    WindowsGpu& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    for (size_t a = 0; a < uses.size() && a < state.users.size(); ++a) {
        AdapterUsers& users = state.users[a];
        busy_time_add(&users.busy, loads[a].seen, loads[a].busy / 100, now);
        std::map<uint32_t, KnownProcess> known;
        users.clients.clear();
        for (const ProcessUse& use : uses[a]) {
            const Identity& identity = identities[use.pid];
            KnownProcess process{identity.created, {}};
            const auto before = users.byPid.find(use.pid);
            const bool same =
                before != users.byPid.end() && before->second.created == identity.created;
            for (uint32_t c = 0; c < kGpuEngineClasses; ++c)
                process.busyNs[c] =
                    same ? std::max(use.busyNs[c], before->second.busyNs[c]) : use.busyNs[c];
            known[use.pid] = process;
            GpuClient client;
            memset(&client, 0, sizeof client);
            client.gpu = static_cast<uint32_t>(a);
            client.pid = use.pid;
            client.id = identity.created * 31 + use.pid;  // a reused pid is another client
            std::copy(std::begin(process.busyNs), std::end(process.busyNs), client.busyNs);
            client.deviceBytes = use.dedicatedBytes;
            client.systemBytes = use.sharedBytes;
            snprintf(client.name, sizeof client.name, "%s", identity.name.c_str());
            snprintf(client.user, sizeof client.user, "%s", identity.user.c_str());
            users.clients.push_back(client);
        }
        users.byPid.swap(known);
    }
    state.unreadable = unreadable;
    state.usersAtNs = now;
    state.scanNs = now - startNs;
}

// One collection for every counter. The first waits out a period (a second at most) after
// the baseline, so that the rates cover a real interval.
void Read(Sampler* sampler, void*, uint32_t, CounterReading* out) {
    WindowsGpu& state = State();
    std::vector<Adapter> adapters;
    Clock::time_point firstDue = Clock::time_point::min();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        adapters = state.adapters;
        if (state.firstReading)
            firstDue = state.baseline +
                       std::chrono::milliseconds(std::min(state.periodMs, kFirstIntervalMs));
        state.firstReading = false;
    }
    const auto now = Clock::now();
    if (firstDue > now &&
        !sampler_sleep(
            sampler,
            static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(firstDue - now).count())))
        return;
    PlatGpuCollection collection;
    const bool collected = plat_gpu_counters_collect(collection);
    std::vector<AdapterLoad> loads;
    for (size_t a = 0; a < adapters.size(); ++a) {
        CounterReading* readings = out + a * kAdapterMetrics;
        if (!collected) {
            for (uint32_t m = 0; m < kAdapterMetrics; ++m)
                readings[m] = CounterReading{kCollectionFailed, 0, 0};
            continue;
        }
        const Adapter& adapter = adapters[a];
        loads.push_back(
            LoadOf(adapter.luid, collection.engines, collection.dedicated, collection.shared));
        adapter_readings(loads.back(), adapter.totals, readings);
        // A memory counter the system lacks fails its value instead of reading 0.
        if (!collection.haveDedicated) readings[6] = CounterReading{kNoSuchValue, 0, 0};
        if (!collection.haveShared) readings[7] = CounterReading{kNoSuchValue, 0, 0};
    }
    if (collected) {
        try {
            ReadUsers(adapters, collection, loads);
        } catch (...) {
            // Memory ran out: who uses the GPU stays as the last collection saw it.
        }
    }
}

std::string Text(uint32_t counter, bool description) {
    const uint32_t adapter = counter / kAdapterMetrics;
    const uint32_t metric = counter % kAdapterMetrics;
    if (!description) return adapter_counter_name(adapter, metric);
    WindowsGpu& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    const std::string name = adapter < state.adapters.size() ? state.adapters[adapter].name : "";
    return std::string(adapter_metric(metric).meaning) + " (GPU " + std::to_string(adapter) + ", " +
           name + ")";
}

bool Percent(uint32_t counter) {
    return adapter_metric(counter % kAdapterMetrics).percent;
}

// At exit pdh.dll, which may already be gone, is not called: the system frees the query
// with the process.
const DriverParts kParts = {
    Start,   Stop, Read, Text, Percent, kDefaultPeriodMs, 1500, 1, false, kGpuCountersNoQuery,
    nullptr,
};

}  // namespace

extern "C" PLAT_EXPORT CounterEntry COUNTER_CALL NVPMQueryInterface(uint32_t identifier) {
    return DriverQueryInterface(kParts, identifier);
}

// Who uses the adapters: the clients' entry (gpu_clients.h), from the last collection.
extern "C" PLAT_EXPORT int32_t COUNTER_CALL ZarmiteGpuClients(GpuClients* snapshot) {
    if (!ClientsSnapshotUsable(snapshot)) return kDriverBadArgument;
    WindowsGpu& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ClientsSnapshotStart(snapshot, state.unreadable, state.usersAtNs);
    for (size_t a = 0; a < state.users.size(); ++a) {
        for (const GpuClient& client : state.users[a].clients) ClientsSnapshotAdd(snapshot, client);
        ClientsSnapshotAddDevice(
            snapshot,
            busy_time_device(state.users[a].busy, static_cast<uint32_t>(a), state.scanNs));
    }
    return 0;
}
