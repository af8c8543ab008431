// Who uses an NVIDIA GPU, through the driver's per-process queries: the processes running
// compute and graphics work (their memory), and the driver's samples of each process's
// use since the last read. Shared by the NVML library and the library over every GPU.
//
// The samples are percentages; a process's engine time grows by its mean share over the
// samples since the last read, times the time since then. No sample for a process is zero
// use, not a failure. On a partitioned GPU (MIG) the driver gives no per-process use:
// memory only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gpu_clients.h"
#include "nvml_api.h"

// What the last read saw, kept between reads.
struct NvmlProcessHistory {
    unsigned long long lastSeenUs = 0;  // the newest sample's timestamp
    uint64_t atNs = 0;                  // when; 0 before the first read
    struct Known {
        uint64_t startTicks;
        uint64_t busyNs[kGpuEngineClasses];
    };
    std::map<uint32_t, Known> byPid;
    bool partitioned = false;  // MIG: no per-process use
};

// Reads who uses `device` at `nowNs` (a monotonic clock): the clients, their GPU numbers
// left to the caller. A process that the driver no longer lists is forgotten; one whose
// start changed (a reused pid) starts again from nothing.
// Processes are named from `root`'s /proc ("" for the real one).
std::vector<GpuClient> nvml_read_processes(const NvmlFunctions& nvml, nvmlDevice_t device,
                                           const std::string& root, uint64_t nowNs,
                                           NvmlProcessHistory* history);
// Whether the GPU is partitioned into instances (MIG mode on).
bool nvml_partitioned(const NvmlFunctions& nvml, nvmlDevice_t device);
