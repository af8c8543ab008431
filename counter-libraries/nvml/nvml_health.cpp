#include "nvml_health.h"

namespace {

constexpr unsigned long long kPower =
    nvmlClocksEventReasonSwPowerCap | nvmlClocksEventReasonHwPowerBrakeSlowdown;
constexpr unsigned long long kThermal =
    nvmlClocksEventReasonSwThermalSlowdown | nvmlClocksEventReasonHwThermalSlowdown;
constexpr unsigned long long kOther =
    nvmlClocksEventReasonHwSlowdown | nvmlClocksEventReasonSyncBoost;

// The reasons under the newer name; under the older one where the driver has no newer.
nvmlReturn_t ClocksReasons(const NvmlFunctions& nvml, nvmlDevice_t device,
                           unsigned long long* reasons) {
    nvmlReturn_t status = NVML_ERROR_FUNCTION_NOT_FOUND;
    if (nvml.nvmlDeviceGetCurrentClocksEventReasons != nullptr)
        status = nvml.nvmlDeviceGetCurrentClocksEventReasons(device, reasons);
    if (status == NVML_ERROR_FUNCTION_NOT_FOUND &&
        nvml.nvmlDeviceGetCurrentClocksThrottleReasons != nullptr)
        status = nvml.nvmlDeviceGetCurrentClocksThrottleReasons(device, reasons);
    return status;
}

// The memory's temperature from its field; a value of a type or size no temperature has
// fails.
nvmlReturn_t MemoryTemperature(const NvmlFunctions& nvml, nvmlDevice_t device, uint64_t* c) {
    if (nvml.nvmlDeviceGetFieldValues == nullptr) return NVML_ERROR_FUNCTION_NOT_FOUND;
    nvmlFieldValue_t field{};
    field.fieldId = NVML_FI_DEV_MEMORY_TEMP;
    nvmlReturn_t status = nvml.nvmlDeviceGetFieldValues(device, 1, &field);
    if (status == NVML_SUCCESS) status = field.nvmlReturn;
    if (status != NVML_SUCCESS) return status;
    double value = -1;
    switch (field.valueType) {
        case NVML_VALUE_TYPE_DOUBLE:
            value = field.value.dVal;
            break;
        case NVML_VALUE_TYPE_UNSIGNED_INT:
            value = field.value.uiVal;
            break;
        case NVML_VALUE_TYPE_UNSIGNED_LONG_LONG:
            value = static_cast<double>(field.value.ullVal);
            break;
        case NVML_VALUE_TYPE_SIGNED_LONG_LONG:
            value = static_cast<double>(field.value.sllVal);
            break;
        case NVML_VALUE_TYPE_SIGNED_INT:
            value = field.value.siVal;
            break;
        default:
            break;
    }
    if (!(value >= 0 && value <= 200)) return NVML_ERROR_UNKNOWN;
    *c = static_cast<uint64_t>(value);
    return NVML_SUCCESS;
}

}  // namespace

NvmlHealth nvml_read_health(const NvmlFunctions& nvml, nvmlDevice_t device) {
    NvmlHealth health;
    unsigned long long reasons = 0;
    health.limitsStatus = ClocksReasons(nvml, device, &reasons);
    if (health.limitsStatus == NVML_SUCCESS) {
        health.powerLimited = (reasons & kPower) != 0;
        health.thermalLimited = (reasons & kThermal) != 0;
        health.otherLimited = (reasons & kOther) != 0;
    }
    if (nvml.nvmlDeviceGetTotalEnergyConsumption != nullptr)
        health.energyStatus =
            nvml.nvmlDeviceGetTotalEnergyConsumption(device, &health.energyMillijoules);
    if (nvml.nvmlDeviceGetTotalEccErrors != nullptr) {
        const nvmlMemoryErrorType_t types[2] = {NVML_MEMORY_ERROR_TYPE_CORRECTED,
                                                NVML_MEMORY_ERROR_TYPE_UNCORRECTED};
        for (int t = 0; t < 2; ++t)
            health.eccStatus[t] = nvml.nvmlDeviceGetTotalEccErrors(
                device, types[t], NVML_VOLATILE_ECC, &health.ecc[t]);
    }
    if (nvml.nvmlDeviceGetRemappedRows != nullptr) {
        unsigned int corrected = 0, uncorrected = 0, pending = 0, failed = 0;
        health.remapStatus =
            nvml.nvmlDeviceGetRemappedRows(device, &corrected, &uncorrected, &pending, &failed);
        health.remapPending = pending != 0;
        health.remapFailed = failed != 0;
    }
    if (nvml.nvmlDeviceGetPcieReplayCounter != nullptr)
        health.replaysStatus = nvml.nvmlDeviceGetPcieReplayCounter(device, &health.replays);
    health.memoryTemperatureStatus = MemoryTemperature(nvml, device, &health.memoryTemperatureC);
    return health;
}
