#include "nvml_gpus.h"

#include "driver_library.h"
#include "drm_files.h"
#include "drm_readings.h"

namespace {

// A handle the driver hands back as a success but null is no handle.
nvmlReturn_t AskHandle(const NvmlFunctions& driver, const NvmlGpu& gpu, nvmlDevice_t* device) {
    *device = nullptr;
    nvmlReturn_t status;
    if (gpu.address.empty())
        status = driver.nvmlDeviceGetHandleByIndex_v2(gpu.index, device);
    else if (driver.nvmlDeviceGetHandleByPciBusId_v2 != nullptr)
        status = driver.nvmlDeviceGetHandleByPciBusId_v2(gpu.address.c_str(), device);
    else
        status = NVML_ERROR_FUNCTION_NOT_FOUND;
    if (status == NVML_SUCCESS && *device == nullptr) return NVML_ERROR_UNKNOWN;
    return status;
}

std::string NameOf(const NvmlFunctions& driver, nvmlDevice_t device) {
    char name[kNvmlDeviceNameBufferSize] = "";
    if (device == nullptr || driver.nvmlDeviceGetName == nullptr ||
        driver.nvmlDeviceGetName(device, name, sizeof name) != NVML_SUCCESS)
        return "";
    name[sizeof name - 1] = '\0';  // the driver's text, terminated or not
    return name;
}

void Fail(CounterReading* out, uint32_t count, int32_t status) {
    for (uint32_t i = 0; i < count; ++i) out[i] = CounterReading{status, 0, 0};
}

// With each busy reading: keeps it as engine time, and reads who uses the GPU, on one
// worker at a time. The lock is not held.
void ReadUsers(NvmlGpus* state, uint32_t slot, nvmlDevice_t device, const CounterReading& busy) {
    NvmlProcessHistory history;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        if (slot >= state->gpus.size()) return;
        NvmlGpu& gpu = state->gpus[slot];
        busy_time_add(&gpu.busy, busy.status == 0, static_cast<double>(busy.value) / 100,
                      drm_now_ns());
        if (gpu.readingProcesses) return;
        gpu.readingProcesses = true;
        history = gpu.processes;
    }
    const uint64_t now = drm_now_ns();
    std::vector<GpuClient> users;
    try {
        users = nvml_read_processes(*state->driver, device, drm_root(), now, &history);
    } catch (...) {
        history = NvmlProcessHistory{};  // memory ran out: start again at the next read
    }
    std::lock_guard<std::mutex> guard(state->lock);
    if (slot >= state->gpus.size()) return;
    NvmlGpu& gpu = state->gpus[slot];
    gpu.readingProcesses = false;
    gpu.processes = std::move(history);
    gpu.users.swap(users);
    gpu.usersAtNs = now;
    gpu.scanNs = drm_now_ns() - now;
}

}  // namespace

void nvml_gpus_set(NvmlGpus* state, const NvmlFunctions* driver, std::vector<NvmlGpu> gpus) {
    for (NvmlGpu& gpu : gpus) {
        gpu.handleStatus = AskHandle(*driver, gpu, &gpu.device);
        gpu.name = NameOf(*driver, gpu.device);
        if (gpu.device != nullptr) {
            gpu.memory.partitioned = nvml_partitioned(*driver, gpu.device);
            gpu.offer = metric_offer(*driver, gpu.device, gpu.memory.partitioned);
            // Its XID events are counted from the start: the set is registered now, once.
            metric_offer_events(&gpu.offer, nvml_xid_read(*driver, gpu.device, &gpu.memory.xid));
        } else
            for (std::string& why : gpu.offer.why) why = "the GPU could not be reached";
    }
    std::lock_guard<std::mutex> guard(state->lock);
    state->driver = driver;
    state->gpus.swap(gpus);
}

void nvml_gpus_clear(NvmlGpus* state) {
    std::vector<NvmlGpu> gpus;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        gpus.swap(state->gpus);
    }
    for (NvmlGpu& gpu : gpus) {
        nvml_gpm_free(*state->driver, &gpu.memory.gpm);
        nvml_xid_free(*state->driver, &gpu.memory.xid);
    }
}

void nvml_gpus_read(NvmlGpus* state, Sampler* sampler, uint32_t slot, MetricQuery query,
                    CounterReading* out) {
    const CounterUnit metrics = metric_query_metrics(query);
    nvmlDevice_t device = nullptr;
    NvmlGpu asked{};
    bool ask = false;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        if (slot >= state->gpus.size()) return Fail(out, metrics.count, kDriverNotStarted);
        NvmlGpu& gpu = state->gpus[slot];
        if (gpu.device == nullptr && gpu.asking)
            return Fail(out, metrics.count,
                        gpu.handleStatus != 0 ? gpu.handleStatus : kDriverReadingLate);
        ask = gpu.device == nullptr;
        gpu.asking = ask;
        device = gpu.device;
        asked.index = gpu.index;
        asked.address = gpu.address;
    }
    const NvmlFunctions& driver = *state->driver;
    if (ask) {
        const nvmlReturn_t status = AskHandle(driver, asked, &device);
        std::lock_guard<std::mutex> guard(state->lock);
        if (slot >= state->gpus.size()) return Fail(out, metrics.count, kDriverNotStarted);
        NvmlGpu& gpu = state->gpus[slot];
        gpu.asking = false;
        gpu.device = device;
        gpu.handleStatus = status;
        if (device == nullptr) return Fail(out, metrics.count, status);
    }
    CounterReading readings[kAllMetricsPerGpu] = {};
    // Queries that measure over the interval or count keep what they learn between reads;
    // one read of each at a time uses its part, and a late one holds up only its own query.
    bool NvmlGpu::*reading = query == kQueryGpm      ? &NvmlGpu::readingGpm
                             : query == kQueryHealth ? &NvmlGpu::readingHealth
                                                     : nullptr;
    MetricMemory memory;
    if (reading != nullptr) {
        std::lock_guard<std::mutex> guard(state->lock);
        if (slot >= state->gpus.size()) return Fail(out, metrics.count, kDriverNotStarted);
        NvmlGpu& gpu = state->gpus[slot];
        if (gpu.*reading) return Fail(out, metrics.count, kDriverReadingLate);
        gpu.*reading = true;
        memory = gpu.memory;
    }
    read_metric_query(driver, device, query, sampler, &memory, readings);
    if (reading != nullptr) {
        std::lock_guard<std::mutex> guard(state->lock);
        if (slot < state->gpus.size()) {
            NvmlGpu& gpu = state->gpus[slot];
            if (query == kQueryGpm) {
                gpu.memory.gpm = memory.gpm;
            } else {
                const GpmState gpm = gpu.memory.gpm;
                gpu.memory = memory;
                gpu.memory.gpm = gpm;
            }
            gpu.*reading = false;
        }
    }
    bool lost = false;
    for (uint32_t i = 0; i < metrics.count; ++i) {
        out[i] = readings[metrics.first + i];
        lost = lost || out[i].status == NVML_ERROR_GPU_IS_LOST;
    }
    if (lost) {
        std::lock_guard<std::mutex> guard(state->lock);
        if (slot < state->gpus.size() && state->gpus[slot].device == device) {
            state->gpus[slot].device = nullptr;
            state->gpus[slot].handleStatus = NVML_ERROR_GPU_IS_LOST;
        }
    } else if (query == kQueryUtilization) {
        ReadUsers(state, slot, device, readings[kBusy]);
    }
}

uint64_t nvml_gpus_clients(NvmlGpus* state, uint32_t slot, std::vector<GpuClient>* out,
                           GpuDevice* device) {
    std::lock_guard<std::mutex> guard(state->lock);
    if (slot >= state->gpus.size()) return 0;
    const NvmlGpu& gpu = state->gpus[slot];
    out->insert(out->end(), gpu.users.begin(), gpu.users.end());
    *device = busy_time_device(gpu.busy, device->gpu, gpu.scanNs);
    return gpu.usersAtNs;
}

uint32_t nvml_gpus_count(NvmlGpus* state) {
    std::lock_guard<std::mutex> guard(state->lock);
    return static_cast<uint32_t>(state->gpus.size());
}

bool nvml_gpus_partitioned(NvmlGpus* state, uint32_t slot) {
    std::lock_guard<std::mutex> guard(state->lock);
    return slot < state->gpus.size() && state->gpus[slot].processes.partitioned;
}

std::string nvml_gpus_meaning(NvmlGpus* state, uint32_t slot, uint32_t metric) {
    MetricOffer offer;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        if (slot < state->gpus.size()) offer = state->gpus[slot].offer;
    }
    return metric_meaning(metric, offer);
}

std::string nvml_gpus_name(NvmlGpus* state, uint32_t slot) {
    std::lock_guard<std::mutex> guard(state->lock);
    return slot < state->gpus.size() ? state->gpus[slot].name : "";
}
