#include "engine_usage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace {

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

// One engine of one client at this look: its share since the client's last look (0 to
// 1), with `now` (the last look's counts on the way in) made this look's. A first look
// takes a baseline; a counter that went backwards is a new one; growth beyond what the
// time passed allows is refused, until it has been seen kMaxRefused times in a row.
double EngineGrowth(const EngineCount& engine, const EngineHistory::Counts* last, uint64_t nowNs,
                    EngineHistory::Counts* now) {
    const uint64_t busy = engine.hasCycles ? engine.cycles : engine.ns;
    const uint64_t total = engine.hasCycles ? engine.totalCycles : 0;
    const auto baseline = [&] {
        now->busy = busy;
        now->total = total;
        now->atNs = nowNs;
        now->refused = 0;
    };
    if (last == nullptr || nowNs <= last->atNs) {
        baseline();
        return 0;
    }
    const double wallNs = static_cast<double>(nowNs - last->atNs);
    double share = 0;
    if (engine.percent >= 0) {
        share = std::min(1.0, engine.percent / 100.0);  // the driver's own recent share
    } else if (busy < last->busy || total < last->total) {
        baseline();  // the driver started the counter again
        return 0;
    } else {
        const double grew =
            static_cast<double>(busy - last->busy) / std::max<uint32_t>(engine.capacity, 1);
        const double limit = engine.hasCycles ? static_cast<double>(total - last->total) : wallNs;
        if (grew > limit * kGrowthSlack && ++now->refused < kMaxRefused) return 0;
        share = now->refused >= kMaxRefused ? 0 : (limit > 0 ? std::min(1.0, grew / limit) : 0);
    }
    baseline();
    now->usedNs = last->usedNs + share * wallNs;
    return share;
}

}  // namespace

EngineShares engine_shares(const std::vector<std::string>& paths, ReadFdinfo read,
                           EngineHistory* history, uint64_t nowNs, const std::string& pdev) {
    std::vector<FileText> texts(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        texts[i].error = read(paths[i], kFdinfoLimit, &texts[i].text);
    return engine_shares_of(paths, texts, history, nowNs, pdev);
}

EngineShares engine_shares_of(const std::vector<std::string>& paths,
                              const std::vector<FileText>& texts, EngineHistory* history,
                              uint64_t nowNs, const std::string& pdev) {
    // Each client once, by its device and its id there.
    std::map<std::string, std::map<std::string, EngineCount>> clients;
    std::map<std::string, EngineClient> users;
    EngineShares shares;
    for (size_t i = 0; i < texts.size() && i < paths.size(); ++i) {
        FdinfoClient client;
        const int error = texts[i].error;
        if (error == EACCES || error == EPERM) shares.denied.push_back(i);
        if (error == ETIMEDOUT) shares.late.push_back(i);
        if (error != 0 || !fdinfo_parse(texts[i].text, &client)) continue;
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
    decltype(history->clients) seen;
    for (const auto& client : clients) {
        const auto before = history->clients.find(client.first);
        for (const auto& entry : client.second) {
            const EngineHistory::Counts* last = nullptr;
            if (before != history->clients.end()) {
                const auto found = before->second.find(entry.first);
                if (found != before->second.end()) last = &found->second;
            }
            EngineHistory::Counts now = last == nullptr ? EngineHistory::Counts{} : *last;
            const double share = EngineGrowth(entry.second, last, nowNs, &now);
            uint64_t& used = users[client.first].busyNs[engine_class_of(entry.first)];
            used += static_cast<uint64_t>(now.usedNs);
            seen[client.first][entry.first] = now;
            double& sum = shares.byEngine[entry.first];
            sum = std::min(1.0, sum + share);
        }
    }
    // Clients this look missed, and engines a client did not print this time, keep their
    // time for a while; a client that is here still counts the time of such an engine.
    for (const auto& client : history->clients) {
        const auto here = users.find(client.first);
        for (const auto& engine : client.second) {
            if (nowNs - std::min(nowNs, engine.second.atNs) >= kClientGraceNs) continue;
            auto& engines = seen[client.first];
            if (!engines.emplace(engine.first, engine.second).second) continue;
            if (here != users.end())
                here->second.busyNs[engine_class_of(engine.first)] +=
                    static_cast<uint64_t>(engine.second.usedNs);
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
