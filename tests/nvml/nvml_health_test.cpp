// An NVIDIA GPU's health and limits from the driver's answers as a fake driver table gives
// them: the clocks' reasons under either name, each figure's own failure, an old driver.
#include "nvml_health.h"

#include <gtest/gtest.h>

namespace {

struct FakeHealth {
    nvmlReturn_t newName = NVML_SUCCESS;  // of the newer name of the clocks' reasons
    unsigned long long reasons = 0;
    nvmlReturn_t ecc = NVML_SUCCESS;
    unsigned int pending = 0, failed = 0;
};
FakeHealth g_health;

nvmlReturn_t EventReasons(nvmlDevice_t, unsigned long long* reasons) {
    *reasons = g_health.reasons;
    return g_health.newName;
}
nvmlReturn_t ThrottleReasons(nvmlDevice_t, unsigned long long* reasons) {
    *reasons = g_health.reasons;
    return NVML_SUCCESS;
}
nvmlReturn_t Energy(nvmlDevice_t, unsigned long long* millijoules) {
    *millijoules = 123456;
    return NVML_SUCCESS;
}
nvmlReturn_t Ecc(nvmlDevice_t, nvmlMemoryErrorType_t type, nvmlEccCounterType_t counter,
                 unsigned long long* count) {
    *count = counter == NVML_VOLATILE_ECC ? 10 + type : 999;
    return g_health.ecc;
}
nvmlReturn_t Remapped(nvmlDevice_t, unsigned int* corrected, unsigned int* uncorrected,
                      unsigned int* pending, unsigned int* failed) {
    *corrected = *uncorrected = 1;
    *pending = g_health.pending;
    *failed = g_health.failed;
    return NVML_SUCCESS;
}
nvmlReturn_t Replays(nvmlDevice_t, unsigned int* replays) {
    *replays = 7;
    return NVML_SUCCESS;
}

TEST(NvmlHealth, LimitsUnderEitherNameAndEachFigureFailingAlone) {
    NvmlFunctions nvml{};
    // A driver without any of these: every figure says so, none is a made-up 0.
    NvmlHealth health = nvml_read_health(nvml, nullptr);
    EXPECT_EQ(health.limitsStatus, NVML_ERROR_FUNCTION_NOT_FOUND);
    EXPECT_EQ(health.energyStatus, NVML_ERROR_FUNCTION_NOT_FOUND);
    EXPECT_EQ(health.eccStatus[1], NVML_ERROR_FUNCTION_NOT_FOUND);
    EXPECT_EQ(health.replaysStatus, NVML_ERROR_FUNCTION_NOT_FOUND);
    nvml.nvmlDeviceGetCurrentClocksEventReasons = EventReasons;
    nvml.nvmlDeviceGetCurrentClocksThrottleReasons = ThrottleReasons;
    nvml.nvmlDeviceGetTotalEnergyConsumption = Energy;
    nvml.nvmlDeviceGetTotalEccErrors = Ecc;
    nvml.nvmlDeviceGetRemappedRows = Remapped;
    nvml.nvmlDeviceGetPcieReplayCounter = Replays;
    const struct {
        unsigned long long reasons;
        bool power, thermal, other;
    } cases[] = {{0x1 | 0x2 | 0x100, false, false, false},  // idle, application and display
                 {0x4, true, false, false},                 // software power cap
                 {0x80, true, false, false},                // hardware power brake
                 {0x20, false, true, false},                // software thermal
                 {0x40 | 0x8, false, true, true},           // hardware thermal and slowdown
                 {0x10, false, false, true}};               // sync boost
    for (const auto& c : cases) {
        g_health.reasons = c.reasons;
        health = nvml_read_health(nvml, nullptr);
        ASSERT_EQ(health.limitsStatus, NVML_SUCCESS);
        EXPECT_EQ(health.powerLimited, c.power) << c.reasons;
        EXPECT_EQ(health.thermalLimited, c.thermal) << c.reasons;
        EXPECT_EQ(health.otherLimited, c.other) << c.reasons;
    }
    // A driver whose newer name is there but not its function: the older one answers.
    g_health.newName = NVML_ERROR_FUNCTION_NOT_FOUND;
    g_health.reasons = 0x4;
    EXPECT_TRUE(nvml_read_health(nvml, nullptr).powerLimited);
    nvml.nvmlDeviceGetCurrentClocksEventReasons = nullptr;
    EXPECT_TRUE(nvml_read_health(nvml, nullptr).powerLimited);
    // The counts since the driver loaded; a board without ECC fails those alone.
    g_health.pending = 1;
    health = nvml_read_health(nvml, nullptr);
    EXPECT_EQ(health.energyMillijoules, 123456u);
    EXPECT_EQ(health.ecc[0], 10u);
    EXPECT_EQ(health.ecc[1], 11u);
    EXPECT_TRUE(health.remapPending && !health.remapFailed);
    EXPECT_EQ(health.replays, 7u);
    g_health.ecc = NVML_ERROR_NOT_SUPPORTED;
    health = nvml_read_health(nvml, nullptr);
    EXPECT_EQ(health.eccStatus[0], NVML_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(health.energyStatus, NVML_SUCCESS);
}

}  // namespace
