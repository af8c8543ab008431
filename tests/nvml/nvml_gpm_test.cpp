// The SMs' own counters from the driver's answers as a fake driver table gives them: the
// support asked once with the plain version, samples taken in turn and measured older to
// newer, each metric's own status, a GPU without the counters.
#include "nvml_gpm.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct FakeGpm {
    bool supported = true;
    unsigned int supportVersion = 0;
    int supportCalls = 0;
    int taken = 0;                           // samples taken so far
    std::map<nvmlGpmSample_t, int> takenAt;  // each sample's turn
    int slots[2] = {0, 0};                   // the handles' storage
    int allocated = 0, freed = 0;
    nvmlReturn_t sampleStatus = NVML_SUCCESS;
    unsigned int numMetrics = 0;
    bool olderFirst = false;
};
FakeGpm g_gpm;

nvmlReturn_t Support(nvmlDevice_t, nvmlGpmSupport_t* support) {
    ++g_gpm.supportCalls;
    g_gpm.supportVersion = support->version;
    if (support->version != 1) return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
    support->isSupportedDevice = g_gpm.supported ? 1 : 0;
    return NVML_SUCCESS;
}
nvmlReturn_t Alloc(nvmlGpmSample_t* sample) {
    *sample = reinterpret_cast<nvmlGpmSample_t>(&g_gpm.slots[g_gpm.allocated++ % 2]);
    return NVML_SUCCESS;
}
nvmlReturn_t Free(nvmlGpmSample_t) {
    ++g_gpm.freed;
    return NVML_SUCCESS;
}
nvmlReturn_t Take(nvmlDevice_t, nvmlGpmSample_t sample) {
    if (g_gpm.sampleStatus != NVML_SUCCESS) return g_gpm.sampleStatus;
    g_gpm.takenAt[sample] = ++g_gpm.taken;
    return NVML_SUCCESS;
}
nvmlReturn_t Measure(void* record) {
    auto* get = static_cast<nvmlGpmMetricsGet_t<kGpmMetricCount>*>(record);
    if (get->version != 1) return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
    g_gpm.numMetrics = get->numMetrics;
    g_gpm.olderFirst = g_gpm.takenAt[get->sample1] < g_gpm.takenAt[get->sample2];
    for (unsigned int m = 0; m < get->numMetrics; ++m) {
        get->metrics[m].nvmlReturn = get->metrics[m].metricId == 60 ? NVML_ERROR_NOT_SUPPORTED : 0;
        get->metrics[m].value = get->metrics[m].metricId + 0.5;
    }
    return NVML_SUCCESS;
}

TEST(NvmlGpm, SamplesInTurnMeasuredOlderToNewerEachMetricOnItsOwn) {
    NvmlFunctions nvml{};
    GpmState state;
    EXPECT_EQ(nvml_gpm_read(nvml, nullptr, &state).status[0], NVML_ERROR_FUNCTION_NOT_FOUND)
        << "a driver without the counters";
    nvml.nvmlGpmQueryDeviceSupport = Support;
    nvml.nvmlGpmSampleAlloc = Alloc;
    nvml.nvmlGpmSampleFree = Free;
    nvml.nvmlGpmSampleGet = Take;
    nvml.nvmlGpmMetricsGet = Measure;
    // The first read starts the interval; later ones measure from the sample before.
    EXPECT_EQ(nvml_gpm_read(nvml, nullptr, &state).status[0], NVML_ERROR_NOT_FOUND);
    EXPECT_EQ(g_gpm.supportVersion, 1u) << "the plain version, not an encoded one";
    for (int read = 0; read < 3; ++read) {
        const GpmReading reading = nvml_gpm_read(nvml, nullptr, &state);
        EXPECT_TRUE(g_gpm.olderFirst) << read;
        EXPECT_EQ(g_gpm.numMetrics, kGpmMetricCount);
        for (uint32_t m = 0; m < kGpmMetricCount; ++m) {
            if (kGpmMetricIds[m] == 60) {
                EXPECT_EQ(reading.status[m], NVML_ERROR_NOT_SUPPORTED) << "fails alone";
                continue;
            }
            EXPECT_EQ(reading.status[m], NVML_SUCCESS) << m;
            EXPECT_DOUBLE_EQ(reading.value[m], kGpmMetricIds[m] + 0.5);
        }
    }
    EXPECT_EQ(g_gpm.supportCalls, 1) << "asked once";
    EXPECT_EQ(g_gpm.allocated, 2);
    // A failed sample fails the read and starts the interval again.
    g_gpm.sampleStatus = NVML_ERROR_GPU_IS_LOST;
    EXPECT_EQ(nvml_gpm_read(nvml, nullptr, &state).status[3], NVML_ERROR_GPU_IS_LOST);
    g_gpm.sampleStatus = NVML_SUCCESS;
    EXPECT_EQ(nvml_gpm_read(nvml, nullptr, &state).status[3], NVML_ERROR_NOT_FOUND);
    EXPECT_EQ(nvml_gpm_read(nvml, nullptr, &state).status[3], NVML_SUCCESS);
    nvml_gpm_free(nvml, &state);
    EXPECT_EQ(g_gpm.freed, 2);
    // A GPU older than the counters: every metric says so, and nothing is allocated.
    g_gpm.supported = false;
    GpmState older;
    EXPECT_EQ(nvml_gpm_read(nvml, nullptr, &older).status[6], NVML_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(g_gpm.allocated, 2);
}

}  // namespace
