// What an NVIDIA GPU's driver says of its health and of why it is slow: the reasons its
// clocks are held down now, the energy it has used, its memory errors and remapped rows,
// its PCIe replays and its memory's temperature. Each figure comes with the driver's own status, so
// that one the driver lacks (an older driver, a board without ECC) fails alone.
#pragma once

#include <cstdint>

#include "nvml_api.h"

struct NvmlHealth {
    // Software power cap or hardware power brake; software or hardware thermal slowdown;
    // hardware slowdown or sync boost. Idle, application clocks and the display clock are
    // not limits.
    nvmlReturn_t limitsStatus = NVML_ERROR_FUNCTION_NOT_FOUND;
    bool powerLimited = false, thermalLimited = false, otherLimited = false;
    nvmlReturn_t energyStatus = NVML_ERROR_FUNCTION_NOT_FOUND;
    unsigned long long energyMillijoules = 0;  // since the driver loaded
    nvmlReturn_t eccStatus[2] = {NVML_ERROR_FUNCTION_NOT_FOUND, NVML_ERROR_FUNCTION_NOT_FOUND};
    unsigned long long ecc[2] = {0, 0};  // corrected, uncorrected: since the driver loaded
    nvmlReturn_t remapStatus = NVML_ERROR_FUNCTION_NOT_FOUND;
    bool remapPending = false, remapFailed = false;
    nvmlReturn_t replaysStatus = NVML_ERROR_FUNCTION_NOT_FOUND;
    unsigned int replays = 0;
    nvmlReturn_t memoryTemperatureStatus = NVML_ERROR_FUNCTION_NOT_FOUND;
    uint64_t memoryTemperatureC = 0;  // where the board has a sensor on its memory
};

NvmlHealth nvml_read_health(const NvmlFunctions& nvml, nvmlDevice_t device);
