// The counter library over every GPU on Linux: AMD, Intel and the other GPUs whose drivers
// publish their state in the kernel's files (sysfs, hwmon, the clients' fdinfo), and
// NVIDIA's through the driver's management library, numbered together by PCI address.
// The counters are the NVML counter library's, numbered, named and kinded alike
// (metrics.h), whatever the GPU's make.
#include "drm_gpu_driver.h"
#include "gpu_drivers.h"
#include "metrics.h"
#include "nvml_api.h"
#include "nvml_gpu_driver.h"
#include "plat_export.h"

namespace {

// Files are quick to read; clients' engine time is measured over the period.
constexpr uint32_t kDefaultPeriodMs = 1000;

std::string Name(uint32_t gpu, uint32_t metric) {
    return "gpu" + std::to_string(gpu) + "_" + metric_info(metric).name;
}

bool Percent(uint32_t metric) {
    return metric_info(metric).percent;
}

bool Cumulative(uint32_t metric) {
    return metric_info(metric).cumulative;
}

const GpuDriver* const kDrivers[] = {&kNvmlGpuDriver, &kDrmGpuDriver};

const GpuMachine kMachine = {
    drm_find,   kDrivers,
    2,          kGpuNumbering,
    Name,       Percent,
    Cumulative, kDefaultPeriodMs,
    1000,  // late: a file the kernel takes this long to answer is stuck
    4,          -NVML_ERROR_UNINITIALIZED,
};

}  // namespace

extern "C" PLAT_EXPORT CounterEntry COUNTER_CALL NVPMQueryInterface(uint32_t identifier) {
    return GpuDriversQueryInterface(kMachine, identifier);
}

// Who uses the GPUs: for now those the kernel's files tell of, not NVIDIA's.
extern "C" PLAT_EXPORT int32_t COUNTER_CALL ZarmiteGpuClients(GpuClients* snapshot) {
    return GpuDriversClients(snapshot);
}
