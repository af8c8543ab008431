#include "engine_usage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

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
    std::map<std::string, EngineClient> users;
    EngineShares shares;
    std::string text;
    for (size_t i = 0; i < paths.size(); ++i) {
        FdinfoClient client;
        const int error = read(paths[i], kFdinfoLimit, &text);
        if (error == EACCES || error == EPERM) shares.denied.push_back(i);
        if (error != 0 || !fdinfo_parse(text, &client)) continue;
        if (!pdev.empty() && !client.pdev.empty() && !SameAddress(client.pdev, pdev)) continue;
        // A client without an id is one descriptor: counted on its own.
        const std::string key = client.pdev + "/" + (client.id.empty() ? paths[i] : client.id);
        std::map<std::string, EngineCount>& engines = clients[key];
        EngineClient& user = users[key];
        user.id = client.id;
        if (!client.name.empty()) user.name = client.name;
        user.paths.push_back(i);
        uint64_t device = 0, system = 0;
        for (const auto& region : client.residentBytes) {
            uint64_t& sum = device_memory_region(region.first) ? device : system;
            sum = region.second > UINT64_MAX - sum ? UINT64_MAX : sum + region.second;
        }
        user.deviceBytes = std::max(user.deviceBytes, device);  // one client, read twice
        user.systemBytes = std::max(user.systemBytes, system);
        for (const EngineCount& engine : client.engines) {
            auto found = engines.find(engine.engine);
            if (found == engines.end())
                engines[engine.engine] = engine;
            else
                Merge(&found->second, engine);
        }
    }
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
                                      engine.hasCycles ? engine.totalCycles : 0, 0};
            const EngineHistory::Counts* last = nullptr;
            if (before != history->clients.end()) {
                const auto found = before->second.find(entry.first);
                if (found != before->second.end()) last = &found->second;
            }
            if (engine.percent >= 0) {
                share = engine.percent / 100.0;  // the driver's own recent share
            } else if (engine.hasNs || engine.hasCycles) {
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
            // The client's time counts from its second look, at most the whole engine.
            share = std::min(1.0, std::max(0.0, share));
            now.usedNs =
                last == nullptr ? 0 : last->usedNs + (shares.measured ? share * wallNs : 0);
            uint64_t& used = users[client.first].busyNs[engine_class_of(entry.first)];
            used += static_cast<uint64_t>(now.usedNs);
            seen[client.first][entry.first] = now;
            double& sum = shares.byEngine[entry.first];
            sum = std::min(1.0, sum + std::max(0.0, share));
        }
    }
    history->clients.swap(seen);
    history->atNs = nowNs;
    for (auto& user : users) shares.byClient.push_back(std::move(user.second));
    return shares;
}

uint32_t engine_class_of(const std::string& engine) {
    static const std::map<std::string, uint32_t> kClasses = {{"gfx", kEngineGraphics},
                                                             {"render", kEngineGraphics},
                                                             {"rcs", kEngineGraphics},
                                                             {"compute", kEngineCompute},
                                                             {"ccs", kEngineCompute},
                                                             {"dma", kEngineCopy},
                                                             {"copy", kEngineCopy},
                                                             {"bcs", kEngineCopy},
                                                             {"video", kEngineVideo},
                                                             {"vcs", kEngineVideo},
                                                             {"dec", kEngineVideoDecode},
                                                             {"jpeg", kEngineVideoDecode},
                                                             {"enc", kEngineVideoEncode},
                                                             {"vpe", kEngineVideoEnhance},
                                                             {"video-enhance", kEngineVideoEnhance},
                                                             {"vecs", kEngineVideoEnhance}};
    const auto found = kClasses.find(engine);
    return found == kClasses.end() ? kEngineOther : found->second;
}

bool device_memory_region(const std::string& region) {
    return region == "vram" || region.compare(0, 5, "local") == 0;
}

double engine_share_of(const EngineShares& shares, const std::vector<std::string>& names) {
    double share = 0;
    for (const auto& entry : shares.byEngine)
        if (names.empty() || std::find(names.begin(), names.end(), entry.first) != names.end())
            share = std::max(share, entry.second);
    return share;
}
