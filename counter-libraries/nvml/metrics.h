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

// The metrics of a GPU, in counter order.
enum Metric : uint32_t {
    kBusy,
    kMemoryBusy,
    kEncoderBusy,
    kDecoderBusy,
    kGraphicsClock,
    kSmClock,
    kMemoryClock,
    kVideoClock,
    kTemperature,
    kPower,
    kFanSpeed,
    kMemoryUsed,
    kMemoryFree,
    kMemoryTotal,
    kPcieRx,
    kPcieTx
};

struct MetricInfo {
    const char* name;     // after "gpu<g>_"
    const char* meaning;  // the start of the description
    bool percent;         // a share: value of cycle 100; otherwise a raw value
    MetricQuery query;
};

const MetricInfo& metric_info(uint32_t metric);

// Asks the driver one query of a GPU: fills the readings of the metrics it serves in `out`,
// the GPU's 16 readings.
void read_metric_query(const NvmlFunctions& nvml, nvmlDevice_t device, MetricQuery query,
                       CounterReading* out);
// The metrics a query serves: always a run of neighbours in the table.
CounterUnit metric_query_metrics(MetricQuery query);
