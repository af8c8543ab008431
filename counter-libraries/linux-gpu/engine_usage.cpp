#include "engine_usage.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr size_t kFdinfoLimit = 16 * 1024;

// The larger of two readings of one client: two descriptors of one client print the same
// counters, read a moment apart.
void Merge(EngineCount* into, const EngineCount& other) {
    into->ns = std::max(into->ns, other.ns);
    into->cycles = std::max(into->cycles, other.cycles);
    into->totalCycles = std::max(into->totalCycles, other.totalCycles);
    into->percent = std::max(into->percent, other.percent);
    into->hasNs = into->hasNs || other.hasNs;
    into->hasCycles = into->hasCycles || other.hasCycles;
}

bool SameAddress(const std::string& address, const std::string& lowerCase) {
    if (address.size() != lowerCase.size()) return false;
    for (size_t i = 0; i < address.size(); ++i)
        if (tolower(static_cast<unsigned char>(address[i])) != lowerCase[i]) return false;
    return true;
}

}  // namespace

EngineShares engine_shares(const std::vector<std::string>& paths, ReadFdinfo read,
                           EngineHistory* history, uint64_t nowNs, const std::string& pdev) {
    // Each client once, by its device and its id there.
    std::map<std::string, std::map<std::string, EngineCount>> clients;
    std::string text;
    for (size_t i = 0; i < paths.size(); ++i) {
        FdinfoClient client;
        if (read(paths[i], kFdinfoLimit, &text) != 0 || !fdinfo_parse(text, &client)) continue;
        if (!pdev.empty() && !client.pdev.empty() && !SameAddress(client.pdev, pdev)) continue;
        // A client without an id is one descriptor: counted on its own.
        const std::string key = client.pdev + "/" + (client.id.empty() ? paths[i] : client.id);
        std::map<std::string, EngineCount>& engines = clients[key];
        for (const EngineCount& engine : client.engines) {
            auto found = engines.find(engine.engine);
            if (found == engines.end())
                engines[engine.engine] = engine;
            else
                Merge(&found->second, engine);
        }
    }
    EngineShares shares;
    shares.clients = static_cast<uint32_t>(clients.size());
    shares.measured = history->atNs != 0 && nowNs > history->atNs;
    const double wallNs = shares.measured ? static_cast<double>(nowNs - history->atNs) : 0;
    decltype(history->clients) seen;
    for (const auto& client : clients) {
        const auto before = history->clients.find(client.first);
        for (const auto& entry : client.second) {
            const EngineCount& engine = entry.second;
            double share = 0;
            EngineHistory::Counts now{engine.hasCycles ? engine.cycles : engine.ns,
                                      engine.hasCycles ? engine.totalCycles : 0};
            if (engine.percent >= 0) {
                share = engine.percent / 100.0;  // the driver's own recent share
            } else if (engine.hasNs || engine.hasCycles) {
                const EngineHistory::Counts* last = nullptr;
                if (before != history->clients.end()) {
                    const auto found = before->second.find(entry.first);
                    if (found != before->second.end()) last = &found->second;
                }
                if (last != nullptr && shares.measured) {
                    const uint64_t busy = now.busy > last->busy ? now.busy - last->busy : 0;
                    const uint64_t total = now.total > last->total ? now.total - last->total : 0;
                    if (engine.hasCycles && total > 0)
                        share = static_cast<double>(busy) / static_cast<double>(total);
                    else if (!engine.hasCycles)
                        share = static_cast<double>(busy) / wallNs;
                    share /= engine.capacity;
                }
                if (last != nullptr) {  // a counter that went backwards keeps the larger
                    now.busy = std::max(now.busy, last->busy);
                    now.total = std::max(now.total, last->total);
                }
            }
            seen[client.first][entry.first] = now;
            double& sum = shares.byEngine[entry.first];
            sum = std::min(1.0, sum + std::max(0.0, share));
        }
    }
    history->clients.swap(seen);
    history->atNs = nowNs;
    return shares;
}

double engine_share_of(const EngineShares& shares, const std::vector<std::string>& names) {
    double share = 0;
    for (const auto& entry : shares.byEngine)
        if (names.empty() || std::find(names.begin(), names.end(), entry.first) != names.end())
            share = std::max(share, entry.second);
    return share;
}
