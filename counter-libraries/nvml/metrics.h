// The stable counter table: GPU g's metric m is counter g * 16 + m. Configurations name
// these numbers, so neither the order nor the count of metrics ever changes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "background_sampler.h"
#include "nvml_api.h"

constexpr uint32_t kMetricsPerGpu = 16;

// The driver query that yields a metric; one query serves every metric that needs it.
enum MetricQuery {
    kQueryUtilization,
    kQueryEncoder,
    kQueryDecoder,
    kQueryGraphicsClock,
    kQuerySmClock,
    kQueryMemoryClock,
    kQueryVideoClock,
    kQueryTemperature,
    kQueryPower,
    kQueryFan,
    kQueryMemory,
    kQueryPcieRx,
    kQueryPcieTx,
    kQueryCount
};

struct MetricInfo {
    const char* name;     // after "gpu<g>_"
    const char* meaning;  // the start of the description
    bool percent;         // a share: value of cycle 100; otherwise a raw value
    MetricQuery query;
};

const MetricInfo& metric_info(uint32_t metric);

// Reads every wanted metric of one GPU into `out` (its 16 readings), one driver query per
// MetricQuery needed. `device` null: every wanted metric fails with `handleStatus`.
void read_gpu_metrics(const NvmlFunctions& nvml, nvmlDevice_t device, int32_t handleStatus,
                      const uint8_t* wanted, CounterReading* out);
