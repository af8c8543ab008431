// The counter library over the driver's management library: what is its own beside the
// shared skeleton. Counter g * 16 + m is metric m of GPU g in the driver's order
// (metrics.h); each of a GPU's queries is a unit of its own, so that a query that never
// returns holds up no other, on the same GPU neither.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "driver_library.h"
#include "metrics.h"
#include "nvml_driver.h"
#include "plat_export.h"

namespace {

// Statuses of this library's own. The driver's failures are its codes (positive), and a
// failed start is the negative driver code.
constexpr int32_t kNoDriverLibrary = -12;
static_assert(kDriverNotStarted == NVML_ERROR_UNINITIALIZED, "the driver's own code for it");
static_assert(kDriverBadArgument == NVML_ERROR_INVALID_ARGUMENT, "the driver's own code for it");
static_assert(kDriverReadingLate == NVML_ERROR_TIMEOUT, "the driver's own code for it");
constexpr uint32_t kDefaultPeriodMs = 500;

struct Gpu {
    nvmlDevice_t device;
    int32_t handleStatus;  // why there is no device handle, while there is none
    bool asking;           // a worker is asking the driver for the handle
    std::string name;
};

// Never destroyed: a read may still be in the driver when the process ends.
struct Nvml {
    const NvmlFunctions* driver = nullptr;
    std::mutex gpusLock;  // held only between driver calls
    std::vector<Gpu> gpus;
};

Nvml& State() {
    static Nvml* nvml = new Nvml;
    return *nvml;
}

// A handle the driver hands back as a success but null is no handle.
nvmlReturn_t AskHandle(const NvmlFunctions& driver, uint32_t index, nvmlDevice_t* device) {
    *device = nullptr;
    const nvmlReturn_t status = driver.nvmlDeviceGetHandleByIndex_v2(index, device);
    if (status == NVML_SUCCESS && *device == nullptr) return NVML_ERROR_UNKNOWN;
    return status;
}

std::string NameOf(const NvmlFunctions& driver, nvmlDevice_t device) {
    char name[kNvmlDeviceNameBufferSize] = "";
    if (device == nullptr || driver.nvmlDeviceGetName == nullptr ||
        driver.nvmlDeviceGetName(device, name, sizeof name) != NVML_SUCCESS)
        return "name unknown";
    name[sizeof name - 1] = '\0';  // the driver's text, terminated or not
    return name;
}

int32_t Start(uint32_t* counters, std::vector<CounterUnit>* units) {
    Nvml& nvml = State();
    const NvmlFunctions* driver = nvml_driver();
    if (driver == nullptr) return kNoDriverLibrary;
    const nvmlReturn_t started = driver->nvmlInit_v2();
    if (started != NVML_SUCCESS) return -started;
    unsigned int count = 0;
    const nvmlReturn_t counted = driver->nvmlDeviceGetCount_v2(&count);
    if (counted != NVML_SUCCESS || count > kMaxDevices) {
        driver->nvmlShutdown();
        return counted != NVML_SUCCESS ? -counted : kDriverTooManyDevices;
    }
    std::vector<Gpu> gpus(count, Gpu{nullptr, 0, false, ""});
    for (unsigned int g = 0; g < count; ++g) {
        gpus[g].handleStatus = AskHandle(*driver, g, &gpus[g].device);
        gpus[g].name = NameOf(*driver, gpus[g].device);
        for (int q = 0; q < kQueryCount; ++q) {
            const CounterUnit metrics = metric_query_metrics(static_cast<MetricQuery>(q));
            units->push_back(CounterUnit{g * kMetricsPerGpu + metrics.first, metrics.count});
        }
    }
    std::lock_guard<std::mutex> guard(nvml.gpusLock);
    nvml.driver = driver;
    nvml.gpus.swap(gpus);
    *counters = count * kMetricsPerGpu;
    return 0;
}

void Stop() {
    Nvml& nvml = State();
    nvml.driver->nvmlShutdown();
    std::lock_guard<std::mutex> guard(nvml.gpusLock);
    nvml.gpus.clear();
}

void Fail(CounterReading* out, uint32_t count, int32_t status) {
    for (uint32_t i = 0; i < count; ++i) out[i] = CounterReading{status, 0, 0};
}

// One query of one GPU. A GPU without a handle, or one that has fallen off the bus, is
// asked for its handle again, by one worker at a time.
void Read(Sampler*, void*, uint32_t unit, CounterReading* out) {
    Nvml& nvml = State();
    const uint32_t g = unit / kQueryCount;
    const MetricQuery query = static_cast<MetricQuery>(unit % kQueryCount);
    const CounterUnit metrics = metric_query_metrics(query);
    nvmlDevice_t device = nullptr;
    bool ask = false;
    {
        std::lock_guard<std::mutex> guard(nvml.gpusLock);
        if (g >= nvml.gpus.size()) return Fail(out, metrics.count, kDriverNotStarted);
        Gpu& gpu = nvml.gpus[g];
        if (gpu.device == nullptr && gpu.asking)
            return Fail(out, metrics.count,
                        gpu.handleStatus != 0 ? gpu.handleStatus : kDriverReadingLate);
        ask = gpu.device == nullptr;
        gpu.asking = ask;
        device = gpu.device;
    }
    const NvmlFunctions& driver = *nvml.driver;
    if (ask) {
        const nvmlReturn_t status = AskHandle(driver, g, &device);
        std::lock_guard<std::mutex> guard(nvml.gpusLock);
        if (g >= nvml.gpus.size()) return Fail(out, metrics.count, kDriverNotStarted);
        Gpu& gpu = nvml.gpus[g];
        gpu.asking = false;
        gpu.device = device;
        gpu.handleStatus = status;
        if (device == nullptr) return Fail(out, metrics.count, status);
    }
    CounterReading readings[kMetricsPerGpu] = {};
    read_metric_query(driver, device, query, readings);
    bool lost = false;
    for (uint32_t i = 0; i < metrics.count; ++i) {
        out[i] = readings[metrics.first + i];
        lost = lost || out[i].status == NVML_ERROR_GPU_IS_LOST;
    }
    if (lost) {
        std::lock_guard<std::mutex> guard(nvml.gpusLock);
        if (g < nvml.gpus.size() && nvml.gpus[g].device == device) {
            nvml.gpus[g].device = nullptr;
            nvml.gpus[g].handleStatus = NVML_ERROR_GPU_IS_LOST;
        }
    }
}

std::string Text(uint32_t counter, bool description) {
    const uint32_t g = counter / kMetricsPerGpu;
    const MetricInfo& metric = metric_info(counter % kMetricsPerGpu);
    if (!description) return "gpu" + std::to_string(g) + "_" + metric.name;
    Nvml& nvml = State();
    std::lock_guard<std::mutex> guard(nvml.gpusLock);
    const std::string name = g < nvml.gpus.size() ? nvml.gpus[g].name : "";
    return std::string(metric.meaning) + " (GPU " + std::to_string(g) + ", " + name + ")";
}

bool Percent(uint32_t counter) {
    return metric_info(counter % kMetricsPerGpu).percent;
}

const DriverParts kParts = {
    Start, Stop,    Read,
    Text,  Percent, kDefaultPeriodMs,
    1000,  // late: far beyond the slowest query a healthy driver answers (PCIe, 20 ms)
    4,     true,    -NVML_ERROR_UNINITIALIZED,
};

}  // namespace

extern "C" PLAT_EXPORT CounterEntry COUNTER_CALL NVPMQueryInterface(uint32_t identifier) {
    return DriverQueryInterface(kParts, identifier);
}
