// The stable counter table. Configurations name counters by number, so no metric ever
// moves: a GPU's first 16 metrics are counters g * 16 + m on a machine of N GPUs, and the
// 23 that came later follow every GPU's first ones, GPU by GPU: metric 16 + j of GPU g is
// counter 16N + 23g + j (counter_numbering.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "background_sampler.h"
#include "counter_numbering.h"
#include "cumulative_count.h"
#include "nvml_api.h"
#include "nvml_gpm.h"
#include "nvml_xid.h"

constexpr uint32_t kMetricsPerGpu = 16;
constexpr uint32_t kLaterMetricsPerGpu = 23;
constexpr uint32_t kAllMetricsPerGpu = kMetricsPerGpu + kLaterMetricsPerGpu;
constexpr CounterNumbering kGpuNumbering = {kMetricsPerGpu, kLaterMetricsPerGpu};

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
    kQueryGpm,     // the SMs' own counters, between two samples
    kQueryHealth,  // why the clocks are held down, energy, errors, remapped rows, replays
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
    kPcieTx,
    // What the GPU itself measures: its SMs, pipes, memory and links (percent, KB/s).
    kSmActive,
    kSmOccupancy,
    kTensorActive,
    kFp64Active,
    kFp32Active,
    kFp16Active,
    kDramActive,
    kNvlinkRx,
    kNvlinkTx,
    // Why its clocks are held down: the share of the interval each limit held them.
    kPowerLimited,
    kThermalLimited,
    kOtherLimited,
    kEnergy,  // J, cumulative
    kHotspotTemperature,
    kMemoryTemperature,
    kIdleResidency,
    // Its health: counts that only grow, and states.
    kEccCorrected,
    kEccUncorrected,
    kXidErrors,
    kLastXid,
    kRemapPending,
    kRemapFailed,
    kPcieReplays
};
static_assert(kPcieReplays + 1 == kAllMetricsPerGpu, "every metric has its place");

struct MetricInfo {
    const char* name;     // after "gpu<g>_"
    const char* meaning;  // the start of the description
    bool percent;         // a share: value of cycle 100; otherwise a raw value
    MetricQuery query;
    bool cumulative;  // a count that only grows (the driver's figure never followed down)
};

const MetricInfo& metric_info(uint32_t metric);

// What a GPU's reads keep between one period and the next: the GPM samples, the XID
// events, the cumulative counts. Used by one read at a time.
struct MetricMemory {
    // Split into instances at the start (MIG): its SM counters would measure the whole GPU
    // in a way no instance's user can read, so they are not read.
    bool partitioned = false;
    GpmState gpm;
    XidState xid;
    CumulativeCount energy, ecc[2], replays;
};

// Asks the driver one query of a GPU: fills the readings of the metrics it serves in `out`,
// the GPU's kAllMetricsPerGpu readings.
// A first GPM read takes its second sample a moment later, waiting on `sampler`.
void read_metric_query(const NvmlFunctions& nvml, nvmlDevice_t device, MetricQuery query,
                       Sampler* sampler, MetricMemory* memory, CounterReading* out);

// Whether a GPU offers each of the later metrics, asked of the driver once at the start,
// and why not: "" where it does.
struct MetricOffer {
    std::string why[kLaterMetricsPerGpu];
};
// Asks each of the later metrics' queries once, on the start's thread. `partitioned`: the
// GPU is split into instances (MIG), which its SM counters do not measure here.
MetricOffer metric_offer(const NvmlFunctions& nvml, nvmlDevice_t device, bool partitioned);
// Says in the offer whether the GPU's XID events could be registered (`status`).
void metric_offer_events(MetricOffer* offer, nvmlReturn_t status);
// What metric `metric` means on a GPU of that offer: its meaning, and for a metric it does
// not offer, ": not available on this GPU (<why>)".
std::string metric_meaning(uint32_t metric, const MetricOffer& offer);
// The metrics a query serves: always a run of neighbours in the table.
CounterUnit metric_query_metrics(MetricQuery query);
