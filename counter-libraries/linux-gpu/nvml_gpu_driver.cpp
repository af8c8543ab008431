#include "nvml_gpu_driver.h"

#include "metrics.h"
#include "nvml_driver.h"
#include "nvml_gpus.h"

namespace {

// Never destroyed: a read may still be in the driver when the process ends.
struct Nvidia {
    NvmlGpus gpus;
    std::mutex lock;
    std::vector<uint32_t> slotOf;  // by found GPU: its place in gpus, or UINT32_MAX
};

Nvidia& State() {
    static Nvidia* nvidia = new Nvidia;
    return *nvidia;
}

// Takes the GPUs whose kernel driver is NVIDIA's, where the driver's library loads and
// starts; without it they are left to no driver.
void Start(std::vector<FoundGpu>* found, std::vector<bool>* owned) {
    std::vector<uint32_t> slotOf(found->size(), UINT32_MAX);
    std::vector<NvmlGpu> gpus;
    for (size_t f = 0; f < found->size(); ++f) {
        if ((*found)[f].driver != "nvidia") continue;
        slotOf[f] = static_cast<uint32_t>(gpus.size());
        gpus.push_back(NvmlGpu{});
        gpus.back().index = slotOf[f];  // NVML numbers GPUs by PCI address too
        gpus.back().address = (*found)[f].address;
    }
    const NvmlFunctions* driver = gpus.empty() ? nullptr : nvml_driver();
    if (driver == nullptr || driver->nvmlInit_v2() != NVML_SUCCESS) return;
    if (driver->nvmlDeviceGetHandleByPciBusId_v2 == nullptr)
        for (NvmlGpu& gpu : gpus) gpu.address.clear();  // by index, then
    nvml_gpus_set(&State().gpus, driver, gpus);
    for (size_t f = 0; f < found->size(); ++f) {
        if (slotOf[f] == UINT32_MAX) continue;
        (*owned)[f] = true;
        const std::string name = nvml_gpus_name(&State().gpus, slotOf[f]);
        if (!name.empty()) (*found)[f].model = name;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    State().slotOf.swap(slotOf);
}

void Stop() {
    Nvidia& nvidia = State();
    const NvmlFunctions* driver = nvidia.gpus.driver;
    nvml_gpus_clear(&nvidia.gpus);
    driver->nvmlShutdown();
    std::lock_guard<std::mutex> guard(nvidia.lock);
    nvidia.slotOf.clear();
}

CounterUnit UnitMetrics(uint32_t, uint32_t unit) {
    return metric_query_metrics(static_cast<MetricQuery>(unit % kQueryCount));
}

void Read(Sampler* sampler, uint32_t gpu, uint32_t unit, CounterReading* out) {
    Nvidia& nvidia = State();
    uint32_t slot = UINT32_MAX;
    {
        std::lock_guard<std::mutex> guard(nvidia.lock);
        if (gpu < nvidia.slotOf.size()) slot = nvidia.slotOf[gpu];
    }
    nvml_gpus_read(&nvidia.gpus, sampler, slot, static_cast<MetricQuery>(unit % kQueryCount), out);
}

uint64_t Clients(uint32_t gpu, std::vector<GpuClient>* out, std::vector<uint32_t>*,
                 GpuDevice* device) {
    Nvidia& nvidia = State();
    uint32_t slot = UINT32_MAX;
    {
        std::lock_guard<std::mutex> guard(nvidia.lock);
        if (gpu < nvidia.slotOf.size()) slot = nvidia.slotOf[gpu];
    }
    // The driver lists every process, whoever asks: none is unreadable.
    return nvml_gpus_clients(&nvidia.gpus, slot, out, device);
}

std::string Meaning(uint32_t gpu, uint32_t metric) {
    Nvidia& nvidia = State();
    uint32_t slot = UINT32_MAX;
    {
        std::lock_guard<std::mutex> guard(nvidia.lock);
        if (gpu < nvidia.slotOf.size()) slot = nvidia.slotOf[gpu];
    }
    return nvml_gpus_meaning(&nvidia.gpus, slot, metric);
}

}  // namespace

// Its processes are read with its busy.
const GpuDriver kNvmlGpuDriver = {Start, Stop,    kQueryCount, UnitMetrics,
                                  Read,  Meaning, Clients,     kBusy};
