// A counter library whose GPUs are read through several drivers, each GPU owned by exactly
// one: the skeleton's parts (driver_library.h) made from each driver's share. The machine
// lists its GPUs in a stable order; each driver takes the GPUs it reads; those that no
// driver takes are left out, and the rest are numbered in that order. Metric m of GPU g is
// the same counter whichever driver reads it (counter_numbering.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "background_sampler.h"
#include "counter_library.h"
#include "counter_numbering.h"
#include "gpu_clients.h"

// A GPU as the machine lists it, before any driver has read it.
struct FoundGpu {
    std::string address;  // where it sits: the PCI address, "0000:03:00.0"
    std::string driver;   // the kernel's driver for it: "amdgpu", "i915", "nvidia"...
    std::string model;    // the model's name; empty where none is known
};

// One driver's share.
struct GpuDriver {
    // Starts reading those of `gpus` that this driver reads and marks each in `owned`
    // (as long as `gpus`, all false on the way in); may fill in their models. A driver that
    // owns none is not stopped. Runs on the start's thread and may take as long as the
    // driver.
    void (*start)(std::vector<FoundGpu>* gpus, std::vector<bool>* owned);
    void (*stop)();
    uint32_t unitsPerGpu;
    // The run of metrics that unit `unit` of GPU `gpu` serves, as fixed by the start; a
    // unit of no metric is none on that GPU.
    CounterUnit (*unitMetrics)(uint32_t gpu, uint32_t unit);
    // Reads unit `unit` of GPU `gpu` (its index in the list start was given) into
    // out[0] to out[count - 1]. Runs on a sampler's worker.
    void (*read)(Sampler* sampler, uint32_t gpu, uint32_t unit, CounterReading* out);
    // What metric `metric` of GPU `gpu` means there, from what start learned.
    std::string (*meaning)(uint32_t gpu, uint32_t metric);
    // Who used GPU `gpu` at its last reading, appended to `out` (their GPU numbers left to
    // the caller), the processes whose clients could not be read appended to `unreadable`
    // (one may be there twice), and the GPU's own busy time and what its look could not see
    // where the driver knows them (`device`, its number left to the caller); when, on the
    // library's monotonic clock. Never a call into the driver. Null for a driver that
    // cannot tell.
    uint64_t (*clients)(uint32_t gpu, std::vector<GpuClient>* out,
                        std::vector<uint32_t>* unreadable, GpuDevice* device);
    // The metric whose unit's read finds a GPU's clients: read from the first call of the
    // clients' entry on, whatever counters the host added.
    uint32_t clientsMetric;
};

struct GpuMachine {
    // The machine's GPUs in their stable order: 0, or the negative status of a failure.
    int32_t (*find)(std::vector<FoundGpu>* gpus);
    const GpuDriver* const* drivers;  // asked in this order; the first to take a GPU owns it
    uint32_t driverCount;
    CounterNumbering numbering;
    std::string (*name)(uint32_t gpu, uint32_t metric);  // gpu: the GPU's number
    bool (*percent)(uint32_t metric);
    bool (*cumulative)(uint32_t metric);
    // As the skeleton takes them (DriverParts).
    uint32_t defaultPeriodMs;
    uint32_t lateMs;
    uint32_t workers;
    int32_t exitingStatus;
};

// The query entry's answer for a library over `machine`, which must live for ever.
CounterEntry GpuDriversQueryInterface(const GpuMachine& machine, uint32_t identifier);
// Who uses the GPUs: the clients' entry (gpu_clients.h) of such a library, from what its
// drivers last read.
int32_t GpuDriversClients(GpuClients* snapshot);
