// The counter library over the driver's management library: what is its own beside the
// shared skeleton. GPUs are in the driver's order, their counters numbered as metrics.h
// says; each of a GPU's queries is a unit of its own, so that a query that never
// returns holds up no other, on the same GPU neither.
#include <algorithm>
#include <string>
#include <vector>

#include "clients_snapshot.h"
#include "driver_library.h"
#include "metrics.h"
#include "nvml_driver.h"
#include "nvml_gpus.h"
#include "plat_export.h"

namespace {

// Statuses of this library's own. The driver's failures are its codes (positive), and a
// failed start is the negative driver code.
constexpr int32_t kNoDriverLibrary = -12;
static_assert(kDriverNotStarted == NVML_ERROR_UNINITIALIZED, "the driver's own code for it");
static_assert(kDriverBadArgument == NVML_ERROR_INVALID_ARGUMENT, "the driver's own code for it");
static_assert(kDriverReadingLate == NVML_ERROR_TIMEOUT, "the driver's own code for it");
constexpr uint32_t kDefaultPeriodMs = 500;

NvmlGpus& State() {
    static NvmlGpus* gpus = new NvmlGpus;
    return *gpus;
}

int32_t Start(uint32_t* counters, std::vector<CounterUnit>* units) {
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
    std::vector<NvmlGpu> gpus(count);
    for (unsigned int g = 0; g < count; ++g) {
        gpus[g].index = g;
        for (int q = 0; q < kQueryCount; ++q) {
            const CounterUnit metrics = metric_query_metrics(static_cast<MetricQuery>(q));
            units->push_back(CounterUnit{numbering_counter(kGpuNumbering, count, g, metrics.first),
                                         metrics.count});
        }
    }
    nvml_gpus_set(&State(), driver, std::move(gpus));
    *counters = numbering_counters(kGpuNumbering, count);
    return 0;
}

void Stop() {
    const NvmlFunctions* driver = State().driver;
    nvml_gpus_clear(&State());
    driver->nvmlShutdown();
}

// GPU and metric of a counter; false beyond the GPUs'.
bool Place(uint32_t counter, uint32_t* g, uint32_t* metric) {
    return numbering_metric(kGpuNumbering, nvml_gpus_count(&State()), counter, g, metric);
}

// One query of one GPU: each of a GPU's queries is a unit of its own.
void Read(Sampler* sampler, void*, uint32_t unit, CounterReading* out) {
    nvml_gpus_read(&State(), sampler, unit / kQueryCount,
                   static_cast<MetricQuery>(unit % kQueryCount), out);
}

std::string Text(uint32_t counter, bool description) {
    uint32_t g = 0, metric = 0;
    if (!Place(counter, &g, &metric)) return "";
    if (!description) return "gpu" + std::to_string(g) + "_" + metric_info(metric).name;
    std::string name = nvml_gpus_name(&State(), g);
    if (name.empty()) name = "name unknown";
    return nvml_gpus_meaning(&State(), g, metric) + " (GPU " + std::to_string(g) + ", " + name +
           ")";
}

bool Percent(uint32_t counter) {
    uint32_t g = 0, metric = 0;
    return Place(counter, &g, &metric) && metric_info(metric).percent;
}

bool Cumulative(uint32_t counter) {
    uint32_t g = 0, metric = 0;
    return Place(counter, &g, &metric) && metric_info(metric).cumulative;
}

const DriverParts kParts = {
    Start,      Stop,    Read,
    Text,       Percent, kDefaultPeriodMs,
    1000,  // late: far beyond the slowest query a healthy driver answers (PCIe, 20 ms)
    4,          true,    -NVML_ERROR_UNINITIALIZED,
    Cumulative,
};

}  // namespace

extern "C" PLAT_EXPORT CounterEntry COUNTER_CALL NVPMQueryInterface(uint32_t identifier) {
    return DriverQueryInterface(kParts, identifier);
}

// Who uses the GPUs: the clients' entry (gpu_clients.h), from the processes read with each
// GPU's busy.
extern "C" PLAT_EXPORT int32_t COUNTER_CALL ZarmiteGpuClients(GpuClients* snapshot) {
    if (!ClientsSnapshotUsable(snapshot)) return kDriverBadArgument;
    std::vector<GpuClient> clients;
    std::vector<GpuDevice> devices;
    uint64_t atNs = 0;
    try {
        const uint32_t count = nvml_gpus_count(&State());
        for (uint32_t g = 0; g < count; ++g) {
            const size_t first = clients.size();
            GpuDevice device{g, 0, 0, 0, 0, 0, 0};
            // Each GPU is read with its own busy, at a time of its own.
            device.atNs = nvml_gpus_clients(&State(), g, &clients, &device);
            atNs = std::max(atNs, device.atNs);
            for (size_t c = first; c < clients.size(); ++c) clients[c].gpu = g;
            devices.push_back(device);
        }
    } catch (...) {
        return kDriverBadArgument;  // memory ran out
    }
    // Each GPU's processes are read with its busy, whatever the host added.
    std::vector<uint32_t> busy;
    for (const GpuDevice& device : devices)
        busy.push_back(numbering_counter(kGpuNumbering, static_cast<uint32_t>(devices.size()),
                                         device.gpu, kBusy));
    driver_want_counters(busy);
    ClientsSnapshotStart(snapshot, 0, atNs);
    for (const GpuClient& client : clients) ClientsSnapshotAdd(snapshot, client);
    for (const GpuDevice& device : devices) ClientsSnapshotAddDevice(snapshot, device);
    return 0;
}
