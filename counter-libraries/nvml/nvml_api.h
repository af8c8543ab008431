// The few types and entry points of the driver's management library (NVML) that this
// counter library uses, declared here from the library's published interface: no SDK
// header is needed, and nothing is linked. Entry points are resolved at run time.
#pragma once

#include <cstdint>

typedef int nvmlReturn_t;
typedef struct nvmlDevice_st* nvmlDevice_t;

constexpr nvmlReturn_t NVML_SUCCESS = 0;
constexpr nvmlReturn_t NVML_ERROR_UNINITIALIZED = 1;
constexpr nvmlReturn_t NVML_ERROR_INVALID_ARGUMENT = 2;
constexpr nvmlReturn_t NVML_ERROR_NOT_SUPPORTED = 3;
constexpr nvmlReturn_t NVML_ERROR_TIMEOUT = 10;
constexpr nvmlReturn_t NVML_ERROR_LIBRARY_NOT_FOUND = 12;
constexpr nvmlReturn_t NVML_ERROR_FUNCTION_NOT_FOUND = 13;
constexpr nvmlReturn_t NVML_ERROR_GPU_IS_LOST = 15;
constexpr nvmlReturn_t NVML_ERROR_ARGUMENT_VERSION_MISMATCH = 25;
constexpr nvmlReturn_t NVML_ERROR_UNKNOWN = 999;

struct nvmlUtilization_t {
    unsigned int gpu;
    unsigned int memory;
};

struct nvmlMemory_t {
    unsigned long long total;
    unsigned long long free;
    unsigned long long used;  // includes memory the driver reserves
};

struct nvmlMemory_v2_t {
    unsigned int version;
    unsigned long long total;
    unsigned long long reserved;
    unsigned long long free;
    unsigned long long used;
};
constexpr unsigned int nvmlMemory_v2 = 0x02000028;  // size 40, version 2
static_assert(sizeof(nvmlMemory_v2_t) == 40, "NVML's memory information v2");

enum nvmlClockType_t {
    NVML_CLOCK_GRAPHICS = 0,
    NVML_CLOCK_SM = 1,
    NVML_CLOCK_MEM = 2,
    NVML_CLOCK_VIDEO = 3
};
enum nvmlTemperatureSensors_t { NVML_TEMPERATURE_GPU = 0 };
enum nvmlPcieUtilCounter_t { NVML_PCIE_UTIL_TX_BYTES = 0, NVML_PCIE_UTIL_RX_BYTES = 1 };

// Buffer size the driver's device names fit in.
constexpr unsigned int kNvmlDeviceNameBufferSize = 96;

struct NvmlFunctions {
    nvmlReturn_t (*nvmlInit_v2)();
    nvmlReturn_t (*nvmlShutdown)();
    nvmlReturn_t (*nvmlDeviceGetCount_v2)(unsigned int* count);
    nvmlReturn_t (*nvmlDeviceGetHandleByIndex_v2)(unsigned int index, nvmlDevice_t* device);
    // By the PCI address, "0000:03:00.0" as the kernel writes it.
    nvmlReturn_t (*nvmlDeviceGetHandleByPciBusId_v2)(const char* busId, nvmlDevice_t* device);
    nvmlReturn_t (*nvmlDeviceGetName)(nvmlDevice_t device, char* name, unsigned int length);
    nvmlReturn_t (*nvmlDeviceGetUtilizationRates)(nvmlDevice_t device, nvmlUtilization_t* rates);
    nvmlReturn_t (*nvmlDeviceGetEncoderUtilization)(nvmlDevice_t device, unsigned int* value,
                                                    unsigned int* periodUs);
    nvmlReturn_t (*nvmlDeviceGetDecoderUtilization)(nvmlDevice_t device, unsigned int* value,
                                                    unsigned int* periodUs);
    nvmlReturn_t (*nvmlDeviceGetClockInfo)(nvmlDevice_t device, nvmlClockType_t type,
                                           unsigned int* mhz);
    nvmlReturn_t (*nvmlDeviceGetTemperature)(nvmlDevice_t device, nvmlTemperatureSensors_t sensor,
                                             unsigned int* celsius);
    nvmlReturn_t (*nvmlDeviceGetPowerUsage)(nvmlDevice_t device, unsigned int* milliwatts);
    nvmlReturn_t (*nvmlDeviceGetFanSpeed)(nvmlDevice_t device, unsigned int* percent);
    nvmlReturn_t (*nvmlDeviceGetMemoryInfo)(nvmlDevice_t device, nvmlMemory_t* memory);
    nvmlReturn_t (*nvmlDeviceGetMemoryInfo_v2)(nvmlDevice_t device, nvmlMemory_v2_t* memory);
    nvmlReturn_t (*nvmlDeviceGetPcieThroughput)(nvmlDevice_t device, nvmlPcieUtilCounter_t counter,
                                                unsigned int* kilobytesPerSecond);
};
