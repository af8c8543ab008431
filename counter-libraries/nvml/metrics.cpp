#include "metrics.h"

#include <algorithm>

#include "nvml_health.h"

namespace {

// Meanings are at most 30 characters, so that with the GPU's index and a usual name they fit
// the 63 characters of a host's descriptor.
const MetricInfo kMetrics[kAllMetricsPerGpu] = {
    {"busy", "Share of time the GPU was busy", true, kQueryUtilization, false},
    {"memory_busy", "Share of time memory was busy", true, kQueryUtilization, false},
    {"encoder_busy", "Share of time encoder was busy", true, kQueryEncoder, false},
    {"decoder_busy", "Share of time decoder was busy", true, kQueryDecoder, false},
    {"graphics_clock_mhz", "Graphics clock, MHz", false, kQueryGraphicsClock, false},
    {"sm_clock_mhz", "SM clock, MHz", false, kQuerySmClock, false},
    {"memory_clock_mhz", "Memory clock, MHz", false, kQueryMemoryClock, false},
    {"video_clock_mhz", "Video clock, MHz", false, kQueryVideoClock, false},
    {"temperature_c", "GPU temperature, degrees C", false, kQueryTemperature, false},
    {"power_mw", "Board power draw, mW", false, kQueryPower, false},
    {"fan_speed", "Fan speed, % (may exceed 100)", true, kQueryFan, false},
    {"memory_used_mib", "GPU memory used, MiB", false, kQueryMemory, false},
    {"memory_free_mib", "GPU memory free, MiB", false, kQueryMemory, false},
    {"memory_total_mib", "GPU memory total, MiB", false, kQueryMemory, false},
    {"pcie_rx_kbps", "PCIe received, KB/s", false, kQueryPcieRx, false},
    {"pcie_tx_kbps", "PCIe sent, KB/s", false, kQueryPcieTx, false},
    {"sm_active", "Share of SMs busy", true, kQueryGpm, false},
    {"sm_occupancy", "SM warps resident of maximum", true, kQueryGpm, false},
    {"tensor_active", "Time SMs ran tensor work", true, kQueryGpm, false},
    {"fp64_active", "FP64 pipe activity", true, kQueryGpm, false},
    {"fp32_active", "FP32 pipe activity", true, kQueryGpm, false},
    {"fp16_active", "FP16 pipe activity", true, kQueryGpm, false},
    {"dram_active", "Memory bandwidth used", true, kQueryGpm, false},
    {"nvlink_rx_kbps", "NVLink received, KB/s", false, kQueryGpm, false},
    {"nvlink_tx_kbps", "NVLink sent, KB/s", false, kQueryGpm, false},
    {"power_limited", "Clocks held by a power limit", true, kQueryHealth, false},
    {"thermal_limited", "Clocks held by temperature", true, kQueryHealth, false},
    {"other_limited", "Clocks held by other limits", true, kQueryHealth, false},
    {"energy_j", "Energy since driver start, J", false, kQueryHealth, true},
    {"temperature_hotspot_c", "Hotspot temperature, degrees C", false, kQueryHealth, false},
    {"temperature_memory_c", "Memory temperature, degrees C", false, kQueryHealth, false},
    {"idle_residency", "Time in deepest idle state", true, kQueryHealth, false},
    {"ecc_corrected", "Corrected memory errors", false, kQueryHealth, true},
    {"ecc_uncorrected", "Uncorrected memory errors", false, kQueryHealth, true},
    {"xid_errors", "XID errors since start", false, kQueryHealth, true},
    {"last_xid", "Last XID error code, 0: none", false, kQueryHealth, false},
    {"remapped_rows_pending", "Row remap waits for a reset", false, kQueryHealth, false},
    {"remapped_rows_failed", "A row remap failed", false, kQueryHealth, false},
    {"pcie_replays", "PCIe replays", false, kQueryHealth, true},
};

constexpr uint64_t kMiB = 1024 * 1024;

CounterReading Percent(nvmlReturn_t status, unsigned int value) {
    return status == NVML_SUCCESS ? CounterReading{0, value, 100} : CounterReading{status, 0, 0};
}

// A raw value's cycle is 1: one reading.
CounterReading Raw(nvmlReturn_t status, uint64_t value) {
    return status == NVML_SUCCESS ? CounterReading{0, value, 1} : CounterReading{status, 0, 0};
}

nvmlReturn_t ClockInfo(const NvmlFunctions& nvml, nvmlDevice_t device, nvmlClockType_t type,
                       unsigned int* mhz) {
    if (nvml.nvmlDeviceGetClockInfo == nullptr) return NVML_ERROR_FUNCTION_NOT_FOUND;
    return nvml.nvmlDeviceGetClockInfo(device, type, mhz);
}

// Memory information v2 where the driver has it: v1's "used" counts reserved memory too.
nvmlReturn_t MemoryInfo(const NvmlFunctions& nvml, nvmlDevice_t device, uint64_t* used,
                        uint64_t* free, uint64_t* total) {
    if (nvml.nvmlDeviceGetMemoryInfo_v2 != nullptr) {
        nvmlMemory_v2_t memory{};
        memory.version = nvmlMemory_v2;
        const nvmlReturn_t status = nvml.nvmlDeviceGetMemoryInfo_v2(device, &memory);
        if (status == NVML_SUCCESS) {
            *used = memory.used;
            *free = memory.free;
            *total = memory.total;
            return status;
        }
        if (status != NVML_ERROR_NOT_SUPPORTED && status != NVML_ERROR_FUNCTION_NOT_FOUND &&
            status != NVML_ERROR_ARGUMENT_VERSION_MISMATCH)
            return status;
    }
    if (nvml.nvmlDeviceGetMemoryInfo == nullptr) return NVML_ERROR_FUNCTION_NOT_FOUND;
    nvmlMemory_t memory{};
    const nvmlReturn_t status = nvml.nvmlDeviceGetMemoryInfo(device, &memory);
    *used = memory.used;
    *free = memory.free;
    *total = memory.total;
    return status;
}

nvmlReturn_t Unsigned(nvmlReturn_t (*query)(nvmlDevice_t, unsigned int*), nvmlDevice_t device,
                      unsigned int* value) {
    return query == nullptr ? NVML_ERROR_FUNCTION_NOT_FOUND : query(device, value);
}

// A share of the interval (0 to 100 %) in hundredths of a percent; beyond 0 to 100 it is a
// figure no GPU gives.
CounterReading Share(nvmlReturn_t status, double percent) {
    if (status != NVML_SUCCESS) return CounterReading{status, 0, 0};
    if (!(percent >= 0 && percent <= 100.5)) return CounterReading{NVML_ERROR_UNKNOWN, 0, 0};
    return CounterReading{0, static_cast<uint64_t>(std::min(percent, 100.0) * 100 + 0.5), 10000};
}

// A state known only as it is now, held for the interval: 0 or 100 %.
CounterReading State(nvmlReturn_t status, bool on) {
    return Percent(status, on ? 100 : 0);
}

// A first read, which only starts an interval, takes its second sample this long after.
constexpr uint32_t kGpmBaselineMs = 100;

void ReadGpm(const NvmlFunctions& nvml, nvmlDevice_t device, Sampler* sampler, GpmState* state,
             CounterReading* out) {
    const bool first = !state->haveOlder;
    GpmReading reading = nvml_gpm_read(nvml, device, state);
    if (first && state->haveOlder && sampler_sleep(sampler, kGpmBaselineMs))
        reading = nvml_gpm_read(nvml, device, state);
    for (uint32_t m = 0; m < kGpmMetricCount; ++m) {
        const uint32_t metric = kSmActive + m;
        if (metric_info(metric).percent) {
            out[metric] = Share(reading.status[m], reading.value[m]);
        } else {  // MiB/s, as KB/s
            const double kbps = reading.value[m] * kMiB / 1000;
            out[metric] =
                reading.status[m] != NVML_SUCCESS || !(kbps >= 0 && kbps < 1e15)
                    ? CounterReading{reading.status[m] != NVML_SUCCESS ? reading.status[m]
                                                                       : NVML_ERROR_UNKNOWN,
                                     0, 0}
                    : Raw(NVML_SUCCESS, static_cast<uint64_t>(kbps));
        }
    }
}

CounterReading Count(nvmlReturn_t status, CumulativeCount* count, uint64_t raw) {
    return status == NVML_SUCCESS ? Raw(status, cumulative_take(count, raw))
                                  : CounterReading{status, 0, 0};
}

void ReadHealth(const NvmlFunctions& nvml, nvmlDevice_t device, MetricMemory* memory,
                CounterReading* out) {
    const NvmlHealth health = nvml_read_health(nvml, device);
    out[kPowerLimited] = State(health.limitsStatus, health.powerLimited);
    out[kThermalLimited] = State(health.limitsStatus, health.thermalLimited);
    out[kOtherLimited] = State(health.limitsStatus, health.otherLimited);
    // Joules counted from the driver's millijoules: the rest stays in the driver's figure.
    out[kEnergy] = Count(health.energyStatus, &memory->energy, health.energyMillijoules);
    if (out[kEnergy].status == 0) out[kEnergy].value /= 1000;
    out[kHotspotTemperature] = CounterReading{NVML_ERROR_NOT_SUPPORTED, 0, 0};
    out[kMemoryTemperature] = Raw(health.memoryTemperatureStatus, health.memoryTemperatureC);
    out[kIdleResidency] = CounterReading{NVML_ERROR_NOT_SUPPORTED, 0, 0};
    out[kEccCorrected] = Count(health.eccStatus[0], &memory->ecc[0], health.ecc[0]);
    out[kEccUncorrected] = Count(health.eccStatus[1], &memory->ecc[1], health.ecc[1]);
    const nvmlReturn_t xid = nvml_xid_read(nvml, device, &memory->xid);
    out[kXidErrors] = Raw(xid, memory->xid.count);
    out[kLastXid] = Raw(xid, memory->xid.last);
    out[kRemapPending] = Raw(health.remapStatus, health.remapPending ? 1 : 0);
    out[kRemapFailed] = Raw(health.remapStatus, health.remapFailed ? 1 : 0);
    out[kPcieReplays] = Count(health.replaysStatus, &memory->replays, health.replays);
}

void ReadQuery(const NvmlFunctions& nvml, nvmlDevice_t device, MetricQuery query, Sampler* sampler,
               MetricMemory* memory, CounterReading* out) {
    unsigned int value = 0;
    unsigned int period = 0;
    nvmlReturn_t status = NVML_ERROR_FUNCTION_NOT_FOUND;
    switch (query) {
        case kQueryUtilization: {
            nvmlUtilization_t rates{};
            if (nvml.nvmlDeviceGetUtilizationRates != nullptr)
                status = nvml.nvmlDeviceGetUtilizationRates(device, &rates);
            out[kBusy] = Percent(status, rates.gpu);
            out[kMemoryBusy] = Percent(status, rates.memory);
            break;
        }
        case kQueryEncoder:
            if (nvml.nvmlDeviceGetEncoderUtilization != nullptr)
                status = nvml.nvmlDeviceGetEncoderUtilization(device, &value, &period);
            out[kEncoderBusy] = Percent(status, value);
            break;
        case kQueryDecoder:
            if (nvml.nvmlDeviceGetDecoderUtilization != nullptr)
                status = nvml.nvmlDeviceGetDecoderUtilization(device, &value, &period);
            out[kDecoderBusy] = Percent(status, value);
            break;
        case kQueryGraphicsClock:
            status = ClockInfo(nvml, device, NVML_CLOCK_GRAPHICS, &value);
            out[kGraphicsClock] = Raw(status, value);
            break;
        case kQuerySmClock:
            status = ClockInfo(nvml, device, NVML_CLOCK_SM, &value);
            out[kSmClock] = Raw(status, value);
            break;
        case kQueryMemoryClock:
            status = ClockInfo(nvml, device, NVML_CLOCK_MEM, &value);
            out[kMemoryClock] = Raw(status, value);
            break;
        case kQueryVideoClock:
            status = ClockInfo(nvml, device, NVML_CLOCK_VIDEO, &value);
            out[kVideoClock] = Raw(status, value);
            break;
        case kQueryTemperature:
            if (nvml.nvmlDeviceGetTemperature != nullptr)
                status = nvml.nvmlDeviceGetTemperature(device, NVML_TEMPERATURE_GPU, &value);
            out[kTemperature] = Raw(status, value);
            break;
        case kQueryPower:
            status = Unsigned(nvml.nvmlDeviceGetPowerUsage, device, &value);
            out[kPower] = Raw(status, value);
            break;
        case kQueryFan:
            status = Unsigned(nvml.nvmlDeviceGetFanSpeed, device, &value);
            out[kFanSpeed] = Percent(status, value);
            break;
        case kQueryMemory: {
            uint64_t used = 0, free = 0, total = 0;
            status = MemoryInfo(nvml, device, &used, &free, &total);
            out[kMemoryUsed] = Raw(status, used / kMiB);
            out[kMemoryFree] = Raw(status, free / kMiB);
            out[kMemoryTotal] = Raw(status, total / kMiB);
            break;
        }
        case kQueryPcieRx:
        case kQueryPcieTx:
            if (nvml.nvmlDeviceGetPcieThroughput != nullptr)
                status = nvml.nvmlDeviceGetPcieThroughput(
                    device,
                    query == kQueryPcieRx ? NVML_PCIE_UTIL_RX_BYTES : NVML_PCIE_UTIL_TX_BYTES,
                    &value);
            out[query == kQueryPcieRx ? kPcieRx : kPcieTx] = Raw(status, value);
            break;
        case kQueryGpm:
            if (memory->partitioned)
                for (uint32_t m = kSmActive; m <= kNvlinkTx; ++m)
                    out[m] = CounterReading{NVML_ERROR_NOT_SUPPORTED, 0, 0};
            else
                ReadGpm(nvml, device, sampler, &memory->gpm, out);
            break;
        case kQueryHealth:
            ReadHealth(nvml, device, memory, out);
            break;
        case kQueryCount:
            break;
    }
}

// Why a GPU does not offer a metric, from the driver's answer to its query.
std::string WhyNot(nvmlReturn_t status) {
    switch (status) {
        case NVML_SUCCESS:
            return "";
        case NVML_ERROR_FUNCTION_NOT_FOUND:
            return "the driver is too old";
        case NVML_ERROR_NO_PERMISSION:
            return "permission refused";
        case NVML_ERROR_NOT_SUPPORTED:
            return "not supported by this GPU or driver";
        default:
            return "the driver said " + std::to_string(status);
    }
}

}  // namespace

const MetricInfo& metric_info(uint32_t metric) {
    return kMetrics[metric < kAllMetricsPerGpu ? metric : 0];
}

void read_metric_query(const NvmlFunctions& nvml, nvmlDevice_t device, MetricQuery query,
                       Sampler* sampler, MetricMemory* memory, CounterReading* out) {
    ReadQuery(nvml, device, query, sampler, memory, out);
}

MetricOffer metric_offer(const NvmlFunctions& nvml, nvmlDevice_t device, bool partitioned) {
    MetricOffer offer;
    std::string gpm;
    if (partitioned) {
        gpm = "a partitioned GPU";
    } else if (nvml.nvmlGpmQueryDeviceSupport == nullptr || nvml.nvmlGpmMetricsGet == nullptr) {
        gpm = "the driver is too old";
    } else {
        nvmlGpmSupport_t support{NVML_GPM_SUPPORT_VERSION, 0};
        const nvmlReturn_t status = nvml.nvmlGpmQueryDeviceSupport(device, &support);
        gpm = status == NVML_SUCCESS && support.isSupportedDevice == 0 ? "GPM needs Hopper or later"
                                                                       : WhyNot(status);
    }
    for (uint32_t m = kSmActive; m <= kNvlinkTx; ++m) offer.why[m - kMetricsPerGpu] = gpm;
    const NvmlHealth health = nvml_read_health(nvml, device);
    const struct {
        uint32_t first, last;
        nvmlReturn_t status;
    } asked[] = {
        {kPowerLimited, kOtherLimited, health.limitsStatus},
        {kEnergy, kEnergy, health.energyStatus},
        {kMemoryTemperature, kMemoryTemperature, health.memoryTemperatureStatus},
        {kEccCorrected, kEccCorrected, health.eccStatus[0]},
        {kEccUncorrected, kEccUncorrected, health.eccStatus[1]},
        {kRemapPending, kRemapFailed, health.remapStatus},
        {kPcieReplays, kPcieReplays, health.replaysStatus},
    };
    for (const auto& query : asked)
        for (uint32_t m = query.first; m <= query.last; ++m)
            offer.why[m - kMetricsPerGpu] = WhyNot(query.status);
    offer.why[kHotspotTemperature - kMetricsPerGpu] = "the driver does not publish it";
    offer.why[kIdleResidency - kMetricsPerGpu] = "the driver does not publish it";
    metric_offer_events(&offer, NVML_ERROR_NOT_SUPPORTED);
    return offer;
}

void metric_offer_events(MetricOffer* offer, nvmlReturn_t status) {
    for (uint32_t m : {kXidErrors, kLastXid}) offer->why[m - kMetricsPerGpu] = WhyNot(status);
}

std::string metric_meaning(uint32_t metric, const MetricOffer& offer) {
    const std::string meaning = metric_info(metric).meaning;
    if (metric < kMetricsPerGpu || metric >= kAllMetricsPerGpu) return meaning;
    const std::string& why = offer.why[metric - kMetricsPerGpu];
    return why.empty() ? meaning : meaning + ": not available on this GPU (" + why + ")";
}

CounterUnit metric_query_metrics(MetricQuery query) {
    uint32_t first = kAllMetricsPerGpu;
    uint32_t count = 0;
    for (uint32_t m = 0; m < kAllMetricsPerGpu; ++m) {
        if (kMetrics[m].query != query) continue;
        if (first == kAllMetricsPerGpu) first = m;
        ++count;
    }
    return CounterUnit{first, count};
}
