// The SMs' own counters of an NVIDIA GPU (GPU Performance Monitoring, Hopper and later),
// measured between two samples a period apart: each read takes a sample, measures from the
// last one, and keeps the new one as the next interval's start. Each metric carries its own
// status, so that one the GPU cannot measure fails alone.
#pragma once

#include <cstdint>

#include "nvml_api.h"

// The metrics read, in this order: SM activity, SM occupancy, any tensor activity, FP64,
// FP32 and FP16 (non-tensor) activity, DRAM bandwidth (all percent); NVLink received and
// sent (MiB/s).
constexpr uint32_t kGpmMetricCount = 9;
constexpr unsigned int kGpmMetricIds[kGpmMetricCount] = {2, 3, 5, 11, 12, 13, 10, 60, 61};

// Between reads of one GPU: its support, and the sample that starts the next interval.
struct GpmState {
    bool asked = false;  // whether the GPU's support was asked
    nvmlReturn_t support = NVML_ERROR_NOT_SUPPORTED;
    nvmlGpmSample_t older = nullptr;
    nvmlGpmSample_t newer = nullptr;
    bool haveOlder = false;
};

struct GpmReading {
    nvmlReturn_t status[kGpmMetricCount];  // NVML_SUCCESS where value holds
    double value[kGpmMetricCount];
};

// Takes a sample of `device` and measures from the last one. The first read (and one after
// a failed sample) only starts the interval: every status is NVML_ERROR_NOT_FOUND then. A
// GPU without GPM, or a driver without it, fails every metric with the reason.
GpmReading nvml_gpm_read(const NvmlFunctions& nvml, nvmlDevice_t device, GpmState* state);
// Gives the state's samples back to the driver.
void nvml_gpm_free(const NvmlFunctions& nvml, GpmState* state);
