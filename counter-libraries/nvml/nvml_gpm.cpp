#include "nvml_gpm.h"

#include <utility>

namespace {

GpmReading Failed(nvmlReturn_t status) {
    GpmReading reading;
    for (uint32_t m = 0; m < kGpmMetricCount; ++m) {
        reading.status[m] = status;
        reading.value[m] = 0;
    }
    return reading;
}

bool HasGpm(const NvmlFunctions& nvml) {
    return nvml.nvmlGpmQueryDeviceSupport != nullptr && nvml.nvmlGpmSampleAlloc != nullptr &&
           nvml.nvmlGpmSampleFree != nullptr && nvml.nvmlGpmSampleGet != nullptr &&
           nvml.nvmlGpmMetricsGet != nullptr;
}

// Asks once whether the GPU measures, and allocates the two samples where it does.
nvmlReturn_t Support(const NvmlFunctions& nvml, nvmlDevice_t device, GpmState* state) {
    if (state->asked) return state->support;
    state->asked = true;
    nvmlGpmSupport_t support{NVML_GPM_SUPPORT_VERSION, 0};
    state->support = nvml.nvmlGpmQueryDeviceSupport(device, &support);
    if (state->support == NVML_SUCCESS && support.isSupportedDevice == 0)
        state->support = NVML_ERROR_NOT_SUPPORTED;
    if (state->support == NVML_SUCCESS && (nvml.nvmlGpmSampleAlloc(&state->older) != NVML_SUCCESS ||
                                           nvml.nvmlGpmSampleAlloc(&state->newer) != NVML_SUCCESS))
        state->support = NVML_ERROR_UNKNOWN;
    return state->support;
}

}  // namespace

GpmReading nvml_gpm_read(const NvmlFunctions& nvml, nvmlDevice_t device, GpmState* state) {
    if (!HasGpm(nvml)) return Failed(NVML_ERROR_FUNCTION_NOT_FOUND);
    const nvmlReturn_t support = Support(nvml, device, state);
    if (support != NVML_SUCCESS) return Failed(support);
    const nvmlReturn_t sampled = nvml.nvmlGpmSampleGet(device, state->newer);
    if (sampled != NVML_SUCCESS) {
        state->haveOlder = false;
        return Failed(sampled);
    }
    std::swap(state->older, state->newer);  // the new sample is the next interval's start
    if (!state->haveOlder) {
        state->haveOlder = true;
        return Failed(NVML_ERROR_NOT_FOUND);
    }
    nvmlGpmMetricsGet_t<kGpmMetricCount> get{};
    get.version = NVML_GPM_METRICS_GET_VERSION;
    get.numMetrics = kGpmMetricCount;
    get.sample1 = state->newer;  // after the swap: the older sample
    get.sample2 = state->older;
    for (uint32_t m = 0; m < kGpmMetricCount; ++m) get.metrics[m].metricId = kGpmMetricIds[m];
    const nvmlReturn_t measured = nvml.nvmlGpmMetricsGet(&get);
    if (measured != NVML_SUCCESS) return Failed(measured);
    GpmReading reading;
    for (uint32_t m = 0; m < kGpmMetricCount; ++m) {
        reading.status[m] = get.metrics[m].metricId == kGpmMetricIds[m] ? get.metrics[m].nvmlReturn
                                                                        : NVML_ERROR_UNKNOWN;
        reading.value[m] = reading.status[m] == NVML_SUCCESS ? get.metrics[m].value : 0;
    }
    return reading;
}

void nvml_gpm_free(const NvmlFunctions& nvml, GpmState* state) {
    for (nvmlGpmSample_t* sample : {&state->older, &state->newer}) {
        if (*sample != nullptr && nvml.nvmlGpmSampleFree != nullptr)
            nvml.nvmlGpmSampleFree(*sample);
        *sample = nullptr;
    }
    *state = GpmState{};
}
