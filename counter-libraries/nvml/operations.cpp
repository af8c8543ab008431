// The counter library's query entry and operations, answered from the driver's management
// library. Counter g * 16 + m is metric m of GPU g in the driver's order (metrics.h).
// Readings are taken by the background sampler; the host's Sample only publishes them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "background_sampler.h"
#include "counter_library.h"
#include "metrics.h"
#include "nvml_driver.h"
#include "plat_export.h"
#include "query_answer.h"
#include "sampled_operations.h"

namespace {

// Statuses of this library's own. The driver's failures are its codes (positive), and a
// failed start is the negative driver code.
constexpr int32_t kNoDriverLibrary = -12;
static_assert(kSampledNotStarted == NVML_ERROR_UNINITIALIZED, "the driver's own code for it");
static_assert(kSampledBadArgument == NVML_ERROR_INVALID_ARGUMENT, "the driver's own code for it");
constexpr uint32_t kDefaultPeriodMs = 500;
// The first reading of a newly added counter; a reading of every metric of a few GPUs
// takes well under this even with the slowest queries.
constexpr uint32_t kFirstReadingTimeoutMs = 5000;

struct Gpu {
    nvmlDevice_t device;
    int32_t handleStatus;  // why there is no device handle, while there is none
    char name[kNvmlDeviceNameBufferSize];
};

// Never destroyed, like the sampler: a host may exit while the sampler reads.
struct Library {
    SampledLibrary core;  // the lock, whether started, the count
    bool exiting = false;
    const NvmlFunctions* nvml = nullptr;
    std::mutex gpuLock;  // the GPUs' handles, shared with the sampler's thread
    std::vector<Gpu> gpus;
};

Library& State() {
    static Library* library = new Library;
    return *library;
}

uint32_t CounterCount(const Library& library) {
    return static_cast<uint32_t>(library.gpus.size()) * kMetricsPerGpu;
}

void AcquireHandle(const NvmlFunctions& nvml, uint32_t index, Gpu* gpu) {
    nvmlDevice_t device = nullptr;
    const nvmlReturn_t status = nvml.nvmlDeviceGetHandleByIndex_v2(index, &device);
    gpu->device = status == NVML_SUCCESS ? device : nullptr;
    gpu->handleStatus = status == NVML_SUCCESS ? 0 : status;
}

// The sampler's reading: GPU by GPU, only the wanted metrics. A GPU without a handle, or
// one that has fallen off the bus, is asked for its handle again every time.
void ReadWanted(void*, const uint8_t* wanted, size_t count, CounterReading* out) {
    Library& library = State();
    const NvmlFunctions& nvml = *library.nvml;
    for (size_t first = 0; first + kMetricsPerGpu <= count; first += kMetricsPerGpu) {
        bool any = false;
        for (uint32_t m = 0; m < kMetricsPerGpu; ++m) any = any || wanted[first + m] != 0;
        if (!any) continue;
        const uint32_t index = static_cast<uint32_t>(first / kMetricsPerGpu);
        nvmlDevice_t device;
        int32_t handleStatus;
        {
            std::lock_guard<std::mutex> guard(library.gpuLock);
            if (index >= library.gpus.size()) return;  // ended while a reading was overdue
            Gpu& gpu = library.gpus[index];
            if (gpu.device == nullptr) AcquireHandle(nvml, index, &gpu);
            device = gpu.device;
            handleStatus = gpu.handleStatus;
        }
        read_gpu_metrics(nvml, device, handleStatus, wanted + first, out + first);
        bool lost = false;
        for (uint32_t m = 0; m < kMetricsPerGpu; ++m)
            lost = lost || out[first + m].status == NVML_ERROR_GPU_IS_LOST;
        if (lost) {
            std::lock_guard<std::mutex> guard(library.gpuLock);
            if (index >= library.gpus.size()) return;
            library.gpus[index].device = nullptr;
            library.gpus[index].handleStatus = NVML_ERROR_GPU_IS_LOST;
        }
    }
}

void EndLocked(Library& library) {
    if (!library.core.started) return;
    sampler_stop();
    library.nvml->nvmlShutdown();
    library.core.started = false;
    library.core.counters = 0;
    std::lock_guard<std::mutex> guard(library.gpuLock);
    library.gpus.clear();
}

// At exit, before the driver library's own teardown: stop reading and end the driver's
// use once. Calls that come later (a host's static destructors) find nothing to end.
void EndAtExit() {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    if (library.core.started) {
        sampler_stop_at_exit();
        library.nvml->nvmlShutdown();
        library.core.started = false;
    }
    library.exiting = true;
}

int32_t StartLocked(Library& library) {
    library.nvml = nvml_driver();
    if (library.nvml == nullptr) return kNoDriverLibrary;
    const nvmlReturn_t started = library.nvml->nvmlInit_v2();
    if (started != NVML_SUCCESS) return -started;
    unsigned int count = 0;
    const nvmlReturn_t counted = library.nvml->nvmlDeviceGetCount_v2(&count);
    // More GPUs than counter indices can name are not offered.
    const unsigned int maxGpus = static_cast<unsigned int>(INT32_MAX / kMetricsPerGpu);
    if (counted != NVML_SUCCESS) {
        library.nvml->nvmlShutdown();
        return -counted;
    }
    if (count > maxGpus) count = maxGpus;
    {
        std::lock_guard<std::mutex> guard(library.gpuLock);
        library.gpus.assign(count, Gpu{nullptr, 0, ""});
        for (unsigned int g = 0; g < count; ++g) {
            Gpu& gpu = library.gpus[g];
            AcquireHandle(*library.nvml, g, &gpu);
            if (gpu.device != nullptr && library.nvml->nvmlDeviceGetName != nullptr &&
                library.nvml->nvmlDeviceGetName(gpu.device, gpu.name, sizeof gpu.name) ==
                    NVML_SUCCESS)
                gpu.name[sizeof gpu.name - 1] = '\0';  // the driver's text, terminated or not
            else
                snprintf(gpu.name, sizeof gpu.name, "name unknown");
        }
    }
    if (!sampler_start(CounterCount(library), sampler_period_ms(kDefaultPeriodMs), ReadWanted,
                       nullptr)) {
        library.nvml->nvmlShutdown();
        std::lock_guard<std::mutex> guard(library.gpuLock);
        library.gpus.clear();
        return -NVML_ERROR_UNINITIALIZED;
    }
    static std::once_flag registered;
    std::call_once(registered, [] { atexit(EndAtExit); });
    library.core.counters = CounterCount(library);
    library.core.started = true;
    return 0;
}

int32_t COUNTER_CALL NvmlInitialize() {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    if (library.exiting) return -NVML_ERROR_UNINITIALIZED;
    if (library.core.started) return 0;  // the plug-in starts the library before every poll
    return StartLocked(library);
}

int32_t COUNTER_CALL NvmlShutdown() {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    EndLocked(library);
    return 0;
}

int32_t COUNTER_CALL NvmlGetNumCounters(uint32_t* count) {
    return SampledGetNumCounters(State().core, count);
}

int32_t CounterText(int32_t index, bool description, char* buffer, uint32_t* length) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    if (int32_t status = SampledCheck(library.core, index)) return status;
    const uint32_t gpu = static_cast<uint32_t>(index) / kMetricsPerGpu;
    const MetricInfo& metric = metric_info(static_cast<uint32_t>(index) % kMetricsPerGpu);
    std::string text;
    if (description) {
        std::lock_guard<std::mutex> gpuGuard(library.gpuLock);
        text = std::string(metric.meaning) + " (GPU " + std::to_string(gpu) + ", " +
               library.gpus[gpu].name + ")";
    } else {
        text = "gpu" + std::to_string(gpu) + "_" + metric.name;
    }
    return CopyCounterText(text, buffer, length, kSampledBadArgument);
}

int32_t COUNTER_CALL NvmlGetCounterName(int32_t index, char* buffer, uint32_t* length) {
    return CounterText(index, false, buffer, length);
}

int32_t COUNTER_CALL NvmlGetCounterDescription(int32_t index, char* buffer, uint32_t* length) {
    return CounterText(index, true, buffer, length);
}

int32_t COUNTER_CALL NvmlGetCounterAttribute(int32_t index, int32_t attribute, uint64_t* value) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    if (int32_t status = SampledCheck(library.core, index)) return status;
    if (attribute != kCounterKindAttribute || value == nullptr) return kSampledBadArgument;
    *value = metric_info(static_cast<uint32_t>(index) % kMetricsPerGpu).percent ? 0 : 1;
    return 0;
}

int32_t COUNTER_CALL NvmlAddCounter(int32_t index) {
    return SampledAddCounter(State().core, index);
}

int32_t COUNTER_CALL NvmlRemoveAllCounters() {
    return SampledRemoveAllCounters(State().core);
}

int32_t COUNTER_CALL NvmlSample(void*, uint32_t* count) {
    // Waits only for the first reading of counters added since the last one.
    return SampledSample(State().core, kFirstReadingTimeoutMs, count);
}

int32_t COUNTER_CALL NvmlGetCounterValue(int32_t index, int32_t, uint64_t* value, uint64_t* cycle) {
    return SampledGetCounterValue(State().core, index, value, cycle);
}

const CounterOperations kOperations = {
    AsCounterEntry(NvmlInitialize),
    AsCounterEntry(NvmlShutdown),
    AsCounterEntry(NvmlGetNumCounters),
    AsCounterEntry(NvmlGetCounterName),
    AsCounterEntry(NvmlGetCounterDescription),
    AsCounterEntry(NvmlGetCounterAttribute),
    AsCounterEntry(NvmlAddCounter),
    AsCounterEntry(NvmlRemoveAllCounters),
    AsCounterEntry(NvmlSample),
    AsCounterEntry(NvmlGetCounterValue),
};

}  // namespace

extern "C" PLAT_EXPORT CounterEntry COUNTER_CALL NVPMQueryInterface(uint32_t identifier) {
    return AnswerQuery(kOperations, identifier);
}
