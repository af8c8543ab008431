// zarmite-nvml-direct: what the driver's own queries cost when called directly, the floor
// against which a poll through the plug-in is compared on real hardware. Times each query
// on GPU 0 (median of the calls) and prints it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "nvml_driver.h"

namespace {

template <typename Call>
double MedianUs(int calls, Call call) {
    std::vector<double> times;
    for (int i = 0; i < calls; ++i) {
        const auto start = std::chrono::steady_clock::now();
        call();
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    const NvmlFunctions* nvml = nvml_driver();
    if (nvml == nullptr) {
        fprintf(stderr, "zarmite-nvml-direct: no driver library\n");
        return 1;
    }
    if (nvmlReturn_t status = nvml->nvmlInit_v2()) {
        fprintf(stderr, "zarmite-nvml-direct: nvmlInit_v2 failed with %d\n", status);
        return 1;
    }
    nvmlDevice_t device = nullptr;
    if (nvml->nvmlDeviceGetHandleByIndex_v2(0, &device) != NVML_SUCCESS) {
        fprintf(stderr, "zarmite-nvml-direct: no GPU 0\n");
        nvml->nvmlShutdown();
        return 1;
    }
    unsigned int value = 0;
    nvmlUtilization_t rates{};
    if (nvml->nvmlDeviceGetUtilizationRates != nullptr)
        printf("utilisation query: %.2f us\n",
               MedianUs(200, [&] { nvml->nvmlDeviceGetUtilizationRates(device, &rates); }));
    if (nvml->nvmlDeviceGetTemperature != nullptr)
        printf("temperature query: %.2f us\n", MedianUs(200, [&] {
                   nvml->nvmlDeviceGetTemperature(device, NVML_TEMPERATURE_GPU, &value);
               }));
    if (nvml->nvmlDeviceGetPowerUsage != nullptr)
        printf("power query: %.2f us\n",
               MedianUs(50, [&] { nvml->nvmlDeviceGetPowerUsage(device, &value); }));
    if (nvml->nvmlDeviceGetPcieThroughput != nullptr)
        printf("PCIe receive query: %.2f us\n", MedianUs(10, [&] {
                   nvml->nvmlDeviceGetPcieThroughput(device, NVML_PCIE_UTIL_RX_BYTES, &value);
               }));
    nvml->nvmlShutdown();
    return 0;
}
