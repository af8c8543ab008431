#include "gpu_processes.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform.h"

namespace {

// A snapshot holds at most this many clients: a machine with more is shown in part.
constexpr uint32_t kMaxClients = 65536;
// And the own busy figures of at most this many GPUs, as many as a library reads.
constexpr uint32_t kMaxGpus = 1024;

std::string Field(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

}  // namespace

GpuProcessRound GpuProcessesFrom(const std::vector<GpuClient>& clients,
                                 const std::vector<GpuDevice>& devices, uint64_t atNs,
                                 uint32_t unreadable, GpuProcessHistory* history) {
    GpuProcessRound round;
    round.offered = true;
    round.unreadable = unreadable;
    // Each GPU's look: its own time where the library gives one, else the snapshot's. A
    // GPU's shares are its growth over its own interval, so that GPUs read at different
    // times never tear a round.
    std::map<uint32_t, uint64_t> lookNs;
    for (const GpuClient& client : clients) lookNs[client.gpu] = atNs;
    for (const GpuDevice& device : devices)
        lookNs[device.gpu] = device.atNs != 0 ? device.atNs : atNs;
    // A GPU's look now and at the last round; 0 where there was none. Looked up, never
    // added: a GPU of the last round's rows that this snapshot lacks stays out of the map.
    const auto at = [](const std::map<uint32_t, uint64_t>& times, uint32_t gpu) {
        const auto found = times.find(gpu);
        return found == times.end() ? uint64_t{0} : found->second;
    };
    // A GPU not looked at again since the last round (rounds quicker than the library's
    // reads) shows that round's rows again rather than no time at all.
    const auto stale = [&](uint32_t gpu) {
        const uint64_t now = at(lookNs, gpu);
        return now != 0 && now == at(history->gpuAtNs, gpu);
    };
    const auto wallOf = [&](uint32_t gpu) {
        const uint64_t now = at(lookNs, gpu);
        const uint64_t before = at(history->gpuAtNs, gpu);
        return before != 0 && now > before ? static_cast<double>(now - before) : 0.0;
    };
    std::map<std::pair<uint32_t, uint32_t>, GpuProcess> byProcess;
    decltype(history->clients) seen;
    std::map<uint32_t, double> attributed;  // by GPU: its clients' graphics and compute
    for (const GpuProcess& process : history->processes)
        if (stale(process.gpu))
            byProcess.emplace(std::make_pair(process.gpu, process.pid), process);
    for (const GpuClient& client : clients) {
        if (stale(client.gpu)) continue;
        const auto key = std::make_pair(client.gpu, client.id);
        std::array<uint64_t, kGpuEngineClasses> now;
        std::copy(std::begin(client.busyNs), std::end(client.busyNs), now.begin());
        const auto before = history->clients.find(key);
        // Over the time since the client was last seen: its GPU's interval, or longer where
        // the last round's look missed it.
        const uint64_t lookNow = at(lookNs, client.gpu);
        const double wallNs = before == history->clients.end() ? 0.0
                              : lookNow > before->second.atNs
                                  ? static_cast<double>(lookNow - before->second.atNs)
                                  : wallOf(client.gpu);
        auto found = byProcess.find({client.gpu, client.pid});
        if (found == byProcess.end()) {
            GpuProcess process{client.gpu,
                               client.pid,
                               Field(client.name, sizeof client.name),
                               Field(client.user, sizeof client.user),
                               {},
                               0,
                               0,
                               false,
                               {}};
            process.busyPercent.fill(-1);
            found = byProcess.emplace(std::make_pair(client.gpu, client.pid), process).first;
        }
        GpuProcess& process = found->second;
        const bool counted = seen.count(key) > 0;  // a shared client's other processes
        if (std::find(process.clients.begin(), process.clients.end(), client.id) ==
            process.clients.end())
            process.clients.insert(
                std::upper_bound(process.clients.begin(), process.clients.end(), client.id),
                client.id);
        double busiest = 0;
        for (uint32_t c = 0; c < kGpuEngineClasses; ++c) {
            // A counter that went backwards keeps its larger value, and counts no time.
            if (before != history->clients.end())
                now[c] = std::max(now[c], before->second.busyNs[c]);
            if (now[c] == 0) continue;
            double share = 0;
            if (before != history->clients.end() && wallNs > 0)
                share = 100.0 * static_cast<double>(now[c] - before->second.busyNs[c]) / wallNs;
            process.busyPercent[c] = std::min(100.0, std::max(process.busyPercent[c], 0.0) + share);
            if (c == kEngineGraphics || c == kEngineCompute) busiest = std::max(busiest, share);
        }
        if (!counted) attributed[client.gpu] += busiest;
        process.deviceBytes = SaturatingSum(process.deviceBytes, client.deviceBytes);
        process.systemBytes = SaturatingSum(process.systemBytes, client.systemBytes);
        process.shared = process.shared || (client.flags & kGpuClientShared) != 0;
        seen[key] = GpuProcessHistory::Seen{now, lookNow};
    }
    // Clients of GPUs not looked at again, and those a look missed, for a while.
    for (const auto& client : history->clients) {
        const uint32_t gpu = client.first.first;
        const uint64_t lookNow = at(lookNs, gpu);
        const bool missed =
            lookNow != 0 && lookNow - std::min(lookNow, client.second.atNs) < kMissedClientGraceNs;
        if (seen.count(client.first) == 0 && (stale(gpu) || missed)) seen.insert(client);
    }
    for (const GpuDevice& device : devices)
        if (device.lateClients > 0 || device.leftOut > 0)
            round.unread.push_back(GpuUnread{device.gpu, device.lateClients, device.leftOut});
    std::map<uint32_t, uint64_t> deviceBusy;
    for (const GpuUnattributed& busy : history->unattributed)
        if (stale(busy.gpu)) round.unattributed.push_back(busy);
    for (const GpuDevice& device : devices) {
        if (device.known == 0) continue;
        const auto before = history->deviceBusyNs.find(device.gpu);
        if (stale(device.gpu)) {
            if (before != history->deviceBusyNs.end()) deviceBusy[device.gpu] = before->second;
            continue;
        }
        const uint64_t busyNs = before == history->deviceBusyNs.end()
                                    ? device.busyNs
                                    : std::max(device.busyNs, before->second);
        deviceBusy[device.gpu] = busyNs;
        const double wallNs = wallOf(device.gpu);
        if (before == history->deviceBusyNs.end() || wallNs <= 0) continue;
        const double share =
            std::min(100.0, 100.0 * static_cast<double>(busyNs - before->second) / wallNs);
        const double clientsShare = std::min(100.0, attributed[device.gpu]);
        round.unattributed.push_back(
            GpuUnattributed{device.gpu, std::max(0.0, share - clientsShare)});
    }
    std::sort(round.unattributed.begin(), round.unattributed.end(),
              [](const GpuUnattributed& a, const GpuUnattributed& b) { return a.gpu < b.gpu; });
    history->clients.swap(seen);
    history->deviceBusyNs.swap(deviceBusy);
    history->gpuAtNs.swap(lookNs);
    for (auto& entry : byProcess) round.processes.push_back(std::move(entry.second));
    history->processes = round.processes;
    history->unattributed = round.unattributed;
    return round;
}

GpuProcessRound GpuProcessReader::Take() {
    if (!looked_) {
        looked_ = true;
        library_ = plat_library_loaded(kCounterLibraryFileName);
        entry_ =
            reinterpret_cast<GpuClientsEntry>(plat_library_symbol(library_, kGpuClientsEntryName));
        if (entry_ == nullptr) Close();
    }
    if (entry_ == nullptr) return GpuProcessRound{};
    if (devices_.empty()) devices_.resize(kMaxGpus);
    GpuClients snapshot;
    for (int attempt = 0; attempt < 2; ++attempt) {
        memset(&snapshot, 0, sizeof snapshot);
        snapshot.size = sizeof snapshot;
        snapshot.clientSize = sizeof(GpuClient);
        snapshot.capacity = static_cast<uint32_t>(buffer_.size());
        snapshot.clients = buffer_.data();
        snapshot.deviceCapacity = static_cast<uint32_t>(devices_.size());
        snapshot.devices = devices_.data();
        snapshot.deviceSize = sizeof(GpuDevice);
        if (entry_(&snapshot) != 0) {
            GpuProcessRound none;
            none.offered = true;
            return none;
        }
        if (snapshot.total <= snapshot.capacity || buffer_.size() >= kMaxClients) break;
        buffer_.resize(std::min(kMaxClients, snapshot.total + snapshot.total / 4 + 8));
    }
    const uint32_t count = std::min(snapshot.count, static_cast<uint32_t>(buffer_.size()));
    const uint32_t gpus = std::min(snapshot.deviceCount, static_cast<uint32_t>(devices_.size()));
    std::vector<GpuClient> clients(buffer_.begin(), buffer_.begin() + count);
    const std::vector<GpuDevice> devices(devices_.begin(), devices_.begin() + gpus);
    GpuProcessRound round =
        GpuProcessesFrom(clients, devices, snapshot.atNs, snapshot.unreadable, &history_);
    for (const GpuDevice& device : devices)
        round.scanSeconds += static_cast<double>(device.scanNs) / 1e9;
    round.clients = std::move(clients);
    return round;
}

void GpuProcessReader::Close() {
    entry_ = nullptr;
    if (library_ != nullptr) plat_library_close(library_);
    library_ = nullptr;
}

GpuProcessRound FilterProcesses(GpuProcessRound round, int gpu, int64_t pid) {
    const auto otherGpu = [gpu](uint32_t of) {
        return gpu != kNoGpu && of != static_cast<uint32_t>(gpu);
    };
    round.processes.erase(std::remove_if(round.processes.begin(), round.processes.end(),
                                         [&](const GpuProcess& p) {
                                             return otherGpu(p.gpu) ||
                                                    (pid != kAnyProcess && p.pid != pid);
                                         }),
                          round.processes.end());
    round.unattributed.erase(
        std::remove_if(round.unattributed.begin(), round.unattributed.end(),
                       [&](const GpuUnattributed& u) { return otherGpu(u.gpu); }),
        round.unattributed.end());
    round.unread.erase(std::remove_if(round.unread.begin(), round.unread.end(),
                                      [&](const GpuUnread& u) { return otherGpu(u.gpu); }),
                       round.unread.end());
    return round;
}
