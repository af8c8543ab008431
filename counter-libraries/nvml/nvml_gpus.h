// The GPUs that the driver's management library reads, and how one query of one of them is
// read: shared by the NVML counter library (GPUs by the driver's index) and the library
// over every GPU (GPUs by PCI address). A GPU without a handle, or one that has fallen off
// the bus, is asked for its handle again on its next read, by one worker at a time.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "background_sampler.h"
#include "metrics.h"
#include "nvml_api.h"

struct NvmlGpu {
    uint32_t index;       // the driver's index, used where there is no address
    std::string address;  // the PCI address; empty: by index
    nvmlDevice_t device = nullptr;
    int32_t handleStatus = 0;  // why there is no handle, while there is none
    bool asking = false;       // a worker is asking the driver for the handle
    std::string name;
};

// Never destroyed where a read may still be in the driver when the process ends.
struct NvmlGpus {
    const NvmlFunctions* driver = nullptr;
    std::mutex lock;  // held only between driver calls
    std::vector<NvmlGpu> gpus;
};

// Asks the driver for the handle and the name of each GPU (index or address set), then
// makes them the GPUs read. The driver is started.
void nvml_gpus_set(NvmlGpus* state, const NvmlFunctions* driver, std::vector<NvmlGpu> gpus);
void nvml_gpus_clear(NvmlGpus* state);
// One query of GPU `slot`: out[0] to out[count - 1], the query's metrics.
void nvml_gpus_read(NvmlGpus* state, uint32_t slot, MetricQuery query, CounterReading* out);
// The driver's name for GPU `slot`, or "" for none.
std::string nvml_gpus_name(NvmlGpus* state, uint32_t slot);
