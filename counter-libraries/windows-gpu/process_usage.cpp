#include "process_usage.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace {

// The process id at the start of an instance's name ("pid_1234_luid_..."); false where
// there is none.
bool PidOf(const std::string& name, uint32_t* pid) {
    if (name.compare(0, 4, "pid_") != 0) return false;
    const char* start = name.c_str() + 4;
    char* end = nullptr;
    const unsigned long value = strtoul(start, &end, 10);
    if (end == start || *end != '_' || value > UINT32_MAX) return false;
    *pid = static_cast<uint32_t>(value);
    return true;
}

// A counter's value as a whole number of its unit: 0 for garbage, at most 2^63.
uint64_t WholeValue(double value) {
    if (!std::isfinite(value) || value <= 0) return 0;
    return value >= 9.2e18 ? static_cast<uint64_t>(9.2e18) : static_cast<uint64_t>(value);
}

ProcessUse& UseOf(std::map<uint32_t, ProcessUse>* uses, uint32_t pid) {
    auto found = uses->find(pid);
    if (found == uses->end()) {
        ProcessUse use;
        memset(&use, 0, sizeof use);
        use.pid = pid;
        found = uses->emplace(pid, use).first;
    }
    return found->second;
}

}  // namespace

uint32_t windows_engine_class(const std::string& type) {
    static const struct {
        const char* prefix;
        uint32_t engineClass;
    } kClasses[] = {{"3D", kEngineGraphics},
                    {"Compute", kEngineCompute},
                    {"Copy", kEngineCopy},
                    {"VideoDecode", kEngineVideoDecode},
                    {"VideoEncode", kEngineVideoEncode},
                    {"VideoProcessing", kEngineVideoEnhance}};
    for (const auto& entry : kClasses)
        if (type.compare(0, strlen(entry.prefix), entry.prefix) == 0) return entry.engineClass;
    return kEngineOther;
}

std::vector<ProcessUse> ProcessUsesOf(const AdapterLuid& adapter,
                                      const std::vector<CounterItem>& runningTime,
                                      const std::vector<CounterItem>& dedicated,
                                      const std::vector<CounterItem>& shared) {
    // Each class's engines (physical adapter and engine number), whoever used them.
    std::set<std::pair<uint32_t, uint32_t>> engines[kGpuEngineClasses];
    std::map<uint32_t, std::array<uint64_t, kGpuEngineClasses>> time100ns;
    std::map<uint32_t, ProcessUse> uses;
    for (const CounterItem& item : runningTime) {
        GpuInstance instance;
        uint32_t pid = 0;
        if (!ParseGpuInstance(item.instance, &instance) || !(instance.luid == adapter) ||
            !PidOf(item.instance, &pid))
            continue;
        const uint32_t engineClass = windows_engine_class(instance.engineType);
        engines[engineClass].insert({instance.phys, instance.engine});
        UseOf(&uses, pid);
        if (!item.valid) continue;
        uint64_t& sum = time100ns[pid][engineClass];
        const uint64_t value = WholeValue(item.value);
        sum = value > UINT64_MAX / 100 - sum ? UINT64_MAX / 100 : sum + value;
    }
    for (auto& entry : time100ns) {
        ProcessUse& use = UseOf(&uses, entry.first);
        for (uint32_t c = 0; c < kGpuEngineClasses; ++c)
            if (!engines[c].empty()) use.busyNs[c] = entry.second[c] * 100 / engines[c].size();
    }
    for (const auto* list : {&dedicated, &shared}) {
        for (const CounterItem& item : *list) {
            GpuInstance instance;
            uint32_t pid = 0;
            if (!item.valid || !ParseGpuInstance(item.instance, &instance) ||
                !(instance.luid == adapter) || !PidOf(item.instance, &pid))
                continue;
            ProcessUse& use = UseOf(&uses, pid);
            uint64_t& bytes = list == &dedicated ? use.dedicatedBytes : use.sharedBytes;
            const uint64_t value = WholeValue(item.value);
            bytes = value > UINT64_MAX - bytes ? UINT64_MAX : bytes + value;
        }
    }
    std::vector<ProcessUse> out;
    for (const auto& entry : uses) out.push_back(entry.second);
    return out;
}
