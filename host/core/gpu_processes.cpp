#include "gpu_processes.h"

#include <algorithm>
#include <cstring>

#include "platform.h"

namespace {

// A snapshot holds at most this many clients: a machine with more is shown in part.
constexpr uint32_t kMaxClients = 65536;

std::string Field(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

}  // namespace

GpuProcessRound GpuProcessesFrom(
    const std::vector<GpuClient>& clients, uint64_t atNs, uint32_t unreadable,
    std::map<std::pair<uint32_t, uint64_t>, std::array<uint64_t, kGpuEngineClasses>>* last,
    uint64_t* lastAtNs) {
    GpuProcessRound round;
    round.offered = true;
    round.unreadable = unreadable;
    const double wallNs =
        atNs > *lastAtNs && *lastAtNs != 0 ? static_cast<double>(atNs - *lastAtNs) : 0;
    std::map<std::pair<uint32_t, uint32_t>, GpuProcess> byProcess;
    std::map<std::pair<uint32_t, uint64_t>, std::array<uint64_t, kGpuEngineClasses>> seen;
    for (const GpuClient& client : clients) {
        const auto key = std::make_pair(client.gpu, client.id);
        std::array<uint64_t, kGpuEngineClasses> now;
        std::copy(std::begin(client.busyNs), std::end(client.busyNs), now.begin());
        const auto before = last->find(key);
        auto found = byProcess.find({client.gpu, client.pid});
        if (found == byProcess.end()) {
            GpuProcess process{client.gpu,
                               client.pid,
                               Field(client.name, sizeof client.name),
                               Field(client.user, sizeof client.user),
                               {},
                               0,
                               0,
                               false};
            process.busyPercent.fill(-1);
            found = byProcess.emplace(std::make_pair(client.gpu, client.pid), process).first;
        }
        GpuProcess& process = found->second;
        for (uint32_t c = 0; c < kGpuEngineClasses; ++c) {
            // A counter that went backwards keeps its larger value, and counts no time.
            if (before != last->end()) now[c] = std::max(now[c], before->second[c]);
            if (now[c] == 0) continue;
            double share = 0;
            if (before != last->end() && wallNs > 0)
                share = 100.0 * static_cast<double>(now[c] - before->second[c]) / wallNs;
            process.busyPercent[c] = std::min(100.0, std::max(process.busyPercent[c], 0.0) + share);
        }
        process.deviceBytes += client.deviceBytes;
        process.systemBytes += client.systemBytes;
        process.shared = process.shared || (client.flags & kGpuClientShared) != 0;
        seen[key] = now;
    }
    last->swap(seen);
    *lastAtNs = atNs;
    for (auto& entry : byProcess) round.processes.push_back(std::move(entry.second));
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
    GpuClients snapshot;
    for (int attempt = 0; attempt < 2; ++attempt) {
        memset(&snapshot, 0, sizeof snapshot);
        snapshot.size = sizeof snapshot;
        snapshot.clientSize = sizeof(GpuClient);
        snapshot.capacity = static_cast<uint32_t>(buffer_.size());
        snapshot.clients = buffer_.data();
        if (entry_(&snapshot) != 0) {
            GpuProcessRound none;
            none.offered = true;
            return none;
        }
        if (snapshot.total <= snapshot.capacity || buffer_.size() >= kMaxClients) break;
        buffer_.resize(std::min(kMaxClients, snapshot.total + snapshot.total / 4 + 8));
    }
    const uint32_t count = std::min(snapshot.count, static_cast<uint32_t>(buffer_.size()));
    const std::vector<GpuClient> clients(buffer_.begin(), buffer_.begin() + count);
    return GpuProcessesFrom(clients, snapshot.atNs, snapshot.unreadable, &last_, &lastAtNs_);
}

void GpuProcessReader::Close() {
    entry_ = nullptr;
    if (library_ != nullptr) plat_library_close(library_);
    library_ = nullptr;
}
