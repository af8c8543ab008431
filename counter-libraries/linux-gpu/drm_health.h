// What a GPU the kernel's files describe says of itself beside the driver's summary: how
// busy its memory controller was, what held its clocks down, its energy count, its hottest
// point and its memory's temperature, its idle residency and its memory errors, read in one
// unit a period (one gpu_metrics read, a few small files). The metrics that only NVIDIA's
// driver measures are not available here.
#pragma once

#include <cstdint>
#include <string>

#include "background_sampler.h"
#include "cumulative_count.h"
#include "drm_gpus.h"
#include "intel_limits.h"

// The run of metrics the unit reads: dram_active to ecc_uncorrected.
constexpr uint32_t kHealthFirstMetric = 22;  // kDramActive
constexpr uint32_t kHealthMetrics = 12;

// What a GPU's reads keep between one period and the next.
struct DrmHealthMemory {
    IdleHistory idle;
    CumulativeCount energy;     // µJ
    CumulativeCount errors[2];  // corrected, uncorrected
};

// Reads the unit into out[0] to out[kHealthMetrics - 1]; a metric the GPU does not offer
// fails as not available. A first read of the idle residency, which only takes a baseline,
// reads again a moment later, waiting on `sampler`.
void drm_read_health(const DrmSources& sources, DrmHealthMemory* memory, Sampler* sampler,
                     CounterReading* out);
// "" where the GPU offers later metric `metric`, else why not.
std::string drm_health_why_not(const DrmSources& sources, uint32_t metric);
