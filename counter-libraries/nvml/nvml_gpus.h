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
#include "busy_time.h"
#include "metrics.h"
#include "nvml_api.h"
#include "nvml_processes.h"

struct NvmlGpu {
    uint32_t index;       // the driver's index, used where there is no address
    std::string address;  // the PCI address; empty: by index
    nvmlDevice_t device = nullptr;
    int32_t handleStatus = 0;  // why there is no handle, while there is none
    bool asking = false;       // a worker is asking the driver for the handle
    std::string name;
    // Who used it, read with its busy: the clients at the last read and when.
    NvmlProcessHistory processes;
    bool readingProcesses = false;
    std::vector<GpuClient> users;
    uint64_t usersAtNs = 0;
    BusyTime busy;        // its own busy figure, as engine time
    uint64_t scanNs = 0;  // what the last read of its processes took
    MetricOffer offer;    // which of the later metrics it offers, as the start found
    MetricMemory memory;  // what its reads keep from one period to the next
    // A read of GPM, or of the health query, is using its part of `memory`.
    bool readingGpm = false, readingHealth = false;
};

// Never destroyed where a read may still be in the driver when the process ends.
struct NvmlGpus {
    const NvmlFunctions* driver = nullptr;
    std::mutex lock;  // held only between driver calls
    std::vector<NvmlGpu> gpus;
};

// Asks the driver for the handle, the name and what each GPU (index or address set)
// offers, then makes them the GPUs read. The driver is started.
void nvml_gpus_set(NvmlGpus* state, const NvmlFunctions* driver, std::vector<NvmlGpu> gpus);
// Gives back what the reads kept in the driver (samples, event sets): before the driver
// stops, while no read is in it.
void nvml_gpus_clear(NvmlGpus* state);
// One query of GPU `slot`: out[0] to out[count - 1], the query's metrics.
// A query that measures over an interval waits on `sampler` for its first one.
void nvml_gpus_read(NvmlGpus* state, Sampler* sampler, uint32_t slot, MetricQuery query,
                    CounterReading* out);
// Who used GPU `slot` at its last busy reading, appended to `out` (their GPU numbers left
// to the caller), and its own busy time in `device`; when, on the steady clock. Never a
// call into the driver.
uint64_t nvml_gpus_clients(NvmlGpus* state, uint32_t slot, std::vector<GpuClient>* out,
                           GpuDevice* device);
// How many GPUs are read.
uint32_t nvml_gpus_count(NvmlGpus* state);
// Whether GPU `slot` is partitioned (MIG), so that its per-process use is not known.
bool nvml_gpus_partitioned(NvmlGpus* state, uint32_t slot);
// The driver's name for GPU `slot`, or "" for none.
std::string nvml_gpus_name(NvmlGpus* state, uint32_t slot);
// What metric `metric` means on GPU `slot` (metric_meaning).
std::string nvml_gpus_meaning(NvmlGpus* state, uint32_t slot, uint32_t metric);
