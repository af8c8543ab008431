#include "metrics.h"

namespace {

// Meanings are at most 30 characters, so that with the GPU's index and a usual name they fit
// the 63 characters of a host's descriptor.
const MetricInfo kMetrics[kMetricsPerGpu] = {
    {"busy", "Share of time the GPU was busy", true, kQueryUtilization},
    {"memory_busy", "Share of time memory was busy", true, kQueryUtilization},
    {"encoder_busy", "Share of time encoder was busy", true, kQueryEncoder},
    {"decoder_busy", "Share of time decoder was busy", true, kQueryDecoder},
    {"graphics_clock_mhz", "Graphics clock, MHz", false, kQueryGraphicsClock},
    {"sm_clock_mhz", "SM clock, MHz", false, kQuerySmClock},
    {"memory_clock_mhz", "Memory clock, MHz", false, kQueryMemoryClock},
    {"video_clock_mhz", "Video clock, MHz", false, kQueryVideoClock},
    {"temperature_c", "GPU temperature, degrees C", false, kQueryTemperature},
    {"power_mw", "Board power draw, mW", false, kQueryPower},
    {"fan_speed", "Fan speed, % (may exceed 100)", true, kQueryFan},
    {"memory_used_mib", "GPU memory used, MiB", false, kQueryMemory},
    {"memory_free_mib", "GPU memory free, MiB", false, kQueryMemory},
    {"memory_total_mib", "GPU memory total, MiB", false, kQueryMemory},
    {"pcie_rx_kbps", "PCIe received, KB/s", false, kQueryPcieRx},
    {"pcie_tx_kbps", "PCIe sent, KB/s", false, kQueryPcieTx},
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

void ReadQuery(const NvmlFunctions& nvml, nvmlDevice_t device, MetricQuery query,
               CounterReading* out) {
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
        case kQueryCount:
            break;
    }
}

}  // namespace

const MetricInfo& metric_info(uint32_t metric) {
    return kMetrics[metric % kMetricsPerGpu];
}

void read_metric_query(const NvmlFunctions& nvml, nvmlDevice_t device, MetricQuery query,
                       CounterReading* out) {
    ReadQuery(nvml, device, query, out);
}

CounterUnit metric_query_metrics(MetricQuery query) {
    uint32_t first = kMetricsPerGpu;
    uint32_t count = 0;
    for (uint32_t m = 0; m < kMetricsPerGpu; ++m) {
        if (kMetrics[m].query != query) continue;
        if (first == kMetricsPerGpu) first = m;
        ++count;
    }
    return CounterUnit{first, count};
}
