// The stable counter table of the Windows GPU library: adapter a's metric m is counter
// a * 16 + m. Configurations name these numbers, so neither the order nor the count of
// metrics ever changes; 10 to 15 are reserved.
#pragma once

#include <cstdint>
#include <string>

#include "background_sampler.h"
#include "gpu_instances.h"

constexpr uint32_t kAdapterMetrics = 16;
// Percentages are read as percent x 100 of a cycle of 10,000, so two decimals survive.
constexpr uint64_t kPercentCycle = 10000;
// The status of a counter that has no value: reserved, or a total the system did not give.
constexpr int32_t kNoSuchValue = 3;
// The status of every counter when a collection failed.
constexpr int32_t kCollectionFailed = 4;

struct AdapterMetric {
    const char* name;     // after "gpu<a>_"; null for a reserved one
    const char* meaning;  // the start of the description
    bool percent;
};
const AdapterMetric& adapter_metric(uint32_t metric);
// "gpu<a>_<name>", or "gpu<a>_reserved<m>".
std::string adapter_counter_name(uint32_t adapter, uint32_t metric);

struct AdapterTotals {
    bool known;
    uint64_t dedicatedBytes;
    uint64_t sharedBytes;
};

// The 16 readings of an adapter from its load in one collection.
void adapter_readings(const AdapterLoad& load, const AdapterTotals& totals, CounterReading* out);
