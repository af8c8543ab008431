#include "adapter_counters.h"

#include <cmath>

namespace {

const AdapterMetric kMetrics[kAdapterMetrics] = {
    {"busy", "Busiest engine's share of time", true},
    {"3d_busy", "Busiest 3D engine's share", true},
    {"copy_busy", "Busiest copy engine's share", true},
    {"video_decode_busy", "Busiest video decoder's share", true},
    {"video_encode_busy", "Busiest video encoder's share", true},
    {"compute_busy", "Busiest compute engine's share", true},
    {"dedicated_used_mib", "Dedicated memory used, MiB", false},
    {"shared_used_mib", "Shared memory used, MiB", false},
    {"dedicated_total_mib", "Dedicated memory in all, MiB", false},
    {"shared_total_mib", "Shared memory in all, MiB", false},
    {nullptr, "Reserved", false},
    {nullptr, "Reserved", false},
    {nullptr, "Reserved", false},
    {nullptr, "Reserved", false},
    {nullptr, "Reserved", false},
    {nullptr, "Reserved", false},
};

constexpr double kMiB = 1024.0 * 1024.0;

CounterReading Percent(double percent) {
    return CounterReading{0, static_cast<uint64_t>(std::llround(percent * 100.0)), kPercentCycle};
}

CounterReading Mebibytes(double bytes) {
    return CounterReading{0, static_cast<uint64_t>(bytes > 0 ? bytes / kMiB : 0), 1};
}

}  // namespace

const AdapterMetric& adapter_metric(uint32_t metric) {
    return kMetrics[metric % kAdapterMetrics];
}

std::string adapter_counter_name(uint32_t adapter, uint32_t metric) {
    const AdapterMetric& info = adapter_metric(metric);
    return "gpu" + std::to_string(adapter) + "_" +
           (info.name != nullptr ? std::string(info.name) : "reserved" + std::to_string(metric));
}

void adapter_readings(const AdapterLoad& load, const AdapterTotals& totals, CounterReading* out) {
    out[0] = Percent(load.busy);
    for (int k = 0; k < kKindCount; ++k) out[1 + k] = Percent(load.kind[k]);
    out[6] = Mebibytes(load.dedicatedBytes);
    out[7] = Mebibytes(load.sharedBytes);
    const CounterReading none{kNoSuchValue, 0, 0};
    out[8] = totals.known ? Mebibytes(static_cast<double>(totals.dedicatedBytes)) : none;
    out[9] = totals.known ? Mebibytes(static_cast<double>(totals.sharedBytes)) : none;
    for (uint32_t m = 10; m < kAdapterMetrics; ++m) out[m] = none;
}
