#include "nvml_driver.h"

#include <mutex>

#include "platform.h"

namespace {

template <typename Function>
void Resolve(void* library, const char* name, Function* out) {
    *out = reinterpret_cast<Function>(plat_library_symbol(library, name));
}

bool Load(NvmlFunctions* functions) {
    void* library = plat_library_open("libnvidia-ml.so.1");
    if (library == nullptr) library = plat_library_open("libnvidia-ml.so");
    if (library == nullptr) return false;
    Resolve(library, "nvmlInit_v2", &functions->nvmlInit_v2);
    Resolve(library, "nvmlShutdown", &functions->nvmlShutdown);
    Resolve(library, "nvmlDeviceGetCount_v2", &functions->nvmlDeviceGetCount_v2);
    Resolve(library, "nvmlDeviceGetHandleByIndex_v2", &functions->nvmlDeviceGetHandleByIndex_v2);
    Resolve(library, "nvmlDeviceGetHandleByPciBusId_v2",
            &functions->nvmlDeviceGetHandleByPciBusId_v2);
    Resolve(library, "nvmlDeviceGetName", &functions->nvmlDeviceGetName);
    Resolve(library, "nvmlDeviceGetUtilizationRates", &functions->nvmlDeviceGetUtilizationRates);
    Resolve(library, "nvmlDeviceGetEncoderUtilization",
            &functions->nvmlDeviceGetEncoderUtilization);
    Resolve(library, "nvmlDeviceGetDecoderUtilization",
            &functions->nvmlDeviceGetDecoderUtilization);
    Resolve(library, "nvmlDeviceGetClockInfo", &functions->nvmlDeviceGetClockInfo);
    Resolve(library, "nvmlDeviceGetTemperature", &functions->nvmlDeviceGetTemperature);
    Resolve(library, "nvmlDeviceGetPowerUsage", &functions->nvmlDeviceGetPowerUsage);
    Resolve(library, "nvmlDeviceGetFanSpeed", &functions->nvmlDeviceGetFanSpeed);
    Resolve(library, "nvmlDeviceGetMemoryInfo", &functions->nvmlDeviceGetMemoryInfo);
    Resolve(library, "nvmlDeviceGetMemoryInfo_v2", &functions->nvmlDeviceGetMemoryInfo_v2);
    Resolve(library, "nvmlDeviceGetPcieThroughput", &functions->nvmlDeviceGetPcieThroughput);
    Resolve(library, "nvmlDeviceGetProcessUtilization",
            &functions->nvmlDeviceGetProcessUtilization);
    Resolve(library, "nvmlDeviceGetComputeRunningProcesses_v3",
            &functions->nvmlDeviceGetComputeRunningProcesses_v3);
    Resolve(library, "nvmlDeviceGetComputeRunningProcesses_v2",
            &functions->nvmlDeviceGetComputeRunningProcesses_v2);
    Resolve(library, "nvmlDeviceGetComputeRunningProcesses",
            &functions->nvmlDeviceGetComputeRunningProcesses);
    Resolve(library, "nvmlDeviceGetGraphicsRunningProcesses_v3",
            &functions->nvmlDeviceGetGraphicsRunningProcesses_v3);
    Resolve(library, "nvmlDeviceGetGraphicsRunningProcesses_v2",
            &functions->nvmlDeviceGetGraphicsRunningProcesses_v2);
    Resolve(library, "nvmlDeviceGetGraphicsRunningProcesses",
            &functions->nvmlDeviceGetGraphicsRunningProcesses);
    Resolve(library, "nvmlDeviceGetMigMode", &functions->nvmlDeviceGetMigMode);
    Resolve(library, "nvmlDeviceGetCurrentClocksEventReasons",
            &functions->nvmlDeviceGetCurrentClocksEventReasons);
    Resolve(library, "nvmlDeviceGetCurrentClocksThrottleReasons",
            &functions->nvmlDeviceGetCurrentClocksThrottleReasons);
    Resolve(library, "nvmlDeviceGetTotalEnergyConsumption",
            &functions->nvmlDeviceGetTotalEnergyConsumption);
    Resolve(library, "nvmlDeviceGetTotalEccErrors", &functions->nvmlDeviceGetTotalEccErrors);
    Resolve(library, "nvmlDeviceGetRemappedRows", &functions->nvmlDeviceGetRemappedRows);
    Resolve(library, "nvmlDeviceGetPcieReplayCounter", &functions->nvmlDeviceGetPcieReplayCounter);
    Resolve(library, "nvmlGpmQueryDeviceSupport", &functions->nvmlGpmQueryDeviceSupport);
    Resolve(library, "nvmlGpmSampleAlloc", &functions->nvmlGpmSampleAlloc);
    Resolve(library, "nvmlGpmSampleFree", &functions->nvmlGpmSampleFree);
    Resolve(library, "nvmlGpmSampleGet", &functions->nvmlGpmSampleGet);
    Resolve(library, "nvmlGpmMetricsGet", &functions->nvmlGpmMetricsGet);
    Resolve(library, "nvmlEventSetCreate", &functions->nvmlEventSetCreate);
    Resolve(library, "nvmlDeviceRegisterEvents", &functions->nvmlDeviceRegisterEvents);
    Resolve(library, "nvmlEventSetWait_v2", &functions->nvmlEventSetWait_v2);
    Resolve(library, "nvmlEventSetFree", &functions->nvmlEventSetFree);
    Resolve(library, "nvmlDeviceGetFieldValues", &functions->nvmlDeviceGetFieldValues);
    if (functions->nvmlInit_v2 == nullptr || functions->nvmlShutdown == nullptr ||
        functions->nvmlDeviceGetCount_v2 == nullptr ||
        functions->nvmlDeviceGetHandleByIndex_v2 == nullptr) {
        plat_library_close(library);
        return false;
    }
    return true;  // kept loaded: the sampler may still be inside it at process exit
}

}  // namespace

const NvmlFunctions* nvml_driver() {
    static NvmlFunctions functions{};
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] { loaded = Load(&functions); });
    return loaded ? &functions : nullptr;
}
