#include "gpu_instances.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <tuple>

namespace {

// The number after `key` in `name`, in `base`; false when the key is not there.
bool NumberAfter(const std::string& name, const char* key, int base, uint32_t* out) {
    const size_t at = name.find(key);
    if (at == std::string::npos) return false;
    const char* start = name.c_str() + at + std::char_traits<char>::length(key);
    char* end = nullptr;
    const unsigned long value = strtoul(start, &end, base);
    if (end == start) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

const char* const kKindPrefixes[kKindCount] = {"3D", "Copy", "VideoDecode", "VideoEncode",
                                               "Compute"};

int KindOf(const std::string& type) {
    for (int k = 0; k < kKindCount; ++k) {
        const std::string prefix = kKindPrefixes[k];
        if (type.compare(0, prefix.size(), prefix) == 0) return k;
    }
    return -1;  // another type: it counts towards the adapter's busiest engine only
}

}  // namespace

bool operator==(const AdapterLuid& a, const AdapterLuid& b) {
    return a.high == b.high && a.low == b.low;
}

bool operator<(const AdapterLuid& a, const AdapterLuid& b) {
    return std::tie(a.high, a.low) < std::tie(b.high, b.low);
}

bool ParseGpuInstance(const std::string& name, GpuInstance* out) {
    *out = GpuInstance{{0, 0}, 0, 0, ""};
    const size_t luid = name.find("luid_0x");
    if (luid == std::string::npos) return false;
    char* end = nullptr;
    const char* high = name.c_str() + luid + 7;
    out->luid.high = static_cast<uint32_t>(strtoul(high, &end, 16));
    if (end == high || std::string(end).compare(0, 3, "_0x") != 0) return false;
    const char* low = end + 3;
    out->luid.low = static_cast<uint32_t>(strtoul(low, &end, 16));
    if (end == low) return false;
    NumberAfter(name, "_phys_", 10, &out->phys);
    NumberAfter(name, "_eng_", 10, &out->engine);
    const size_t type = name.find("_engtype_");
    if (type != std::string::npos) out->engineType = name.substr(type + 9);
    return true;
}

AdapterLoad LoadOf(const AdapterLuid& adapter, const std::vector<CounterItem>& engines,
                   const std::vector<CounterItem>& dedicated,
                   const std::vector<CounterItem>& shared) {
    AdapterLoad load{0, {0, 0, 0, 0, 0}, 0, 0, false};
    // An engine is its physical adapter and engine number; its processes add up.
    std::map<std::pair<uint32_t, uint32_t>, std::pair<double, int>> totals;
    for (const CounterItem& item : engines) {
        GpuInstance instance;
        if (!item.valid || !ParseGpuInstance(item.instance, &instance) ||
            !(instance.luid == adapter))
            continue;
        load.seen = true;
        auto& total = totals[{instance.phys, instance.engine}];
        total.first += item.value;
        total.second = KindOf(instance.engineType);
    }
    for (const auto& entry : totals) {
        const double value = std::min(100.0, std::max(0.0, entry.second.first));
        load.busy = std::max(load.busy, value);
        if (entry.second.second >= 0)
            load.kind[entry.second.second] = std::max(load.kind[entry.second.second], value);
    }
    for (const auto* list : {&dedicated, &shared}) {
        for (const CounterItem& item : *list) {
            GpuInstance instance;
            if (!item.valid || !ParseGpuInstance(item.instance, &instance) ||
                !(instance.luid == adapter))
                continue;
            load.seen = true;
            (list == &dedicated ? load.dedicatedBytes : load.sharedBytes) += item.value;
        }
    }
    return load;
}

std::vector<AdapterLuid> AdaptersNamed(const std::vector<CounterItem>& engines,
                                       const std::vector<CounterItem>& memory) {
    std::vector<AdapterLuid> adapters;
    for (const auto* list : {&engines, &memory}) {
        for (const CounterItem& item : *list) {
            GpuInstance instance;
            if (ParseGpuInstance(item.instance, &instance)) adapters.push_back(instance.luid);
        }
    }
    std::sort(adapters.begin(), adapters.end());
    adapters.erase(std::unique(adapters.begin(), adapters.end()), adapters.end());
    return adapters;
}
