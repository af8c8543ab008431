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
constexpr nvmlReturn_t NVML_ERROR_NO_PERMISSION = 4;
constexpr nvmlReturn_t NVML_ERROR_NOT_FOUND = 6;
constexpr nvmlReturn_t NVML_ERROR_INSUFFICIENT_SIZE = 7;
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

// One process's use of a GPU in one of the driver's samples: percentages of the sample's
// time; the timestamp in microseconds of the CPU's clock.
struct nvmlProcessUtilizationSample_t {
    unsigned int pid;
    unsigned long long timeStamp;
    unsigned int smUtil;
    unsigned int memUtil;
    unsigned int encUtil;
    unsigned int decUtil;
};

// A process running on a GPU: the first layout, and the later one (versions 2 and 3).
struct nvmlProcessInfo_v1_t {
    unsigned int pid;
    unsigned long long usedGpuMemory;  // bytes, or NVML_VALUE_NOT_AVAILABLE
};
struct nvmlProcessInfo_t {
    unsigned int pid;
    unsigned long long usedGpuMemory;
    unsigned int gpuInstanceId;
    unsigned int computeInstanceId;
};
constexpr unsigned long long NVML_VALUE_NOT_AVAILABLE = ~0ULL;
constexpr unsigned int NVML_DEVICE_MIG_ENABLE = 1;

typedef nvmlReturn_t (*nvmlRunningProcesses_t)(nvmlDevice_t device, unsigned int* count,
                                               nvmlProcessInfo_t* infos);
typedef nvmlReturn_t (*nvmlRunningProcesses_v1_t)(nvmlDevice_t device, unsigned int* count,
                                                  nvmlProcessInfo_v1_t* infos);

// Which count of memory errors: corrected or not; since the driver loaded (volatile) or
// over the board's life (aggregate).
enum nvmlMemoryErrorType_t {
    NVML_MEMORY_ERROR_TYPE_CORRECTED = 0,
    NVML_MEMORY_ERROR_TYPE_UNCORRECTED = 1
};
enum nvmlEccCounterType_t { NVML_VOLATILE_ECC = 0, NVML_AGGREGATE_ECC = 1 };

// Why the clocks are held down: the bits of the clocks event (formerly throttle) reasons.
constexpr unsigned long long nvmlClocksEventReasonSwPowerCap = 0x4;
constexpr unsigned long long nvmlClocksEventReasonHwSlowdown = 0x8;
constexpr unsigned long long nvmlClocksEventReasonSyncBoost = 0x10;
constexpr unsigned long long nvmlClocksEventReasonSwThermalSlowdown = 0x20;
constexpr unsigned long long nvmlClocksEventReasonHwThermalSlowdown = 0x40;
constexpr unsigned long long nvmlClocksEventReasonHwPowerBrakeSlowdown = 0x80;

// GPU Performance Monitoring: samples of the SMs' own counters, an opaque handle each; the
// metrics between two samples. Both records' versions are the plain number 1, and the
// driver reads as many metrics as `numMetrics` says: the array is declared at the size a
// caller fills, never at the size of some header's maximum (which grew while the version
// stayed 1).
typedef struct nvmlGpmSample_st* nvmlGpmSample_t;
struct nvmlGpmSupport_t {
    unsigned int version;
    unsigned int isSupportedDevice;
};
struct nvmlGpmMetric_t {
    unsigned int metricId;
    nvmlReturn_t nvmlReturn;  // this metric's own status: not 0, its value is not valid
    double value;
    struct {
        char* shortName;
        char* longName;
        char* unit;
    } metricInfo;
};
constexpr unsigned int NVML_GPM_SUPPORT_VERSION = 1;
constexpr unsigned int NVML_GPM_METRICS_GET_VERSION = 1;
template <unsigned int Count>
struct nvmlGpmMetricsGet_t {
    unsigned int version;
    unsigned int numMetrics;
    nvmlGpmSample_t sample1;  // the older
    nvmlGpmSample_t sample2;  // the newer
    nvmlGpmMetric_t metrics[Count];
};
// A field value: the driver fills in the value and status of each field asked for by its
// id. The value is an 8-byte union whose member `valueType` names.
constexpr unsigned int NVML_FI_DEV_MEMORY_TEMP = 82;
enum nvmlValueType_t {
    NVML_VALUE_TYPE_DOUBLE = 0,
    NVML_VALUE_TYPE_UNSIGNED_INT = 1,
    NVML_VALUE_TYPE_UNSIGNED_LONG = 2,
    NVML_VALUE_TYPE_UNSIGNED_LONG_LONG = 3,
    NVML_VALUE_TYPE_SIGNED_LONG_LONG = 4,
    NVML_VALUE_TYPE_SIGNED_INT = 5,
};
union nvmlValue_t {
    double dVal;
    int siVal;
    unsigned int uiVal;
    unsigned long ulVal;
    unsigned long long ullVal;
    signed long long sllVal;
};
struct nvmlFieldValue_t {
    unsigned int fieldId;
    unsigned int scopeId;
    long long timestamp;
    long long latencyUsec;
    nvmlValueType_t valueType;
    nvmlReturn_t nvmlReturn;
    nvmlValue_t value;
};

// The driver's events: a set to register a GPU's events in, and each event as the set
// gives it. XID critical errors are the driver's error codes (13, 31, 48, 79, ...; 999:
// unknown). A wait with a timeout of 0 only takes what is there; TIMEOUT: nothing was.
typedef struct nvmlEventSet_st* nvmlEventSet_t;
constexpr unsigned long long nvmlEventTypeXidCriticalError = 0x8;
struct nvmlEventData_t {
    nvmlDevice_t device;
    unsigned long long eventType;
    unsigned long long eventData;
    unsigned int gpuInstanceId;
    unsigned int computeInstanceId;
};

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
    // Who uses a GPU: the samples newer than `lastSeen` (a null buffer asks for the count),
    // the processes running compute and graphics work (the newest layout the driver has),
    // and whether the GPU is partitioned (MIG), which leaves per-process use unknown.
    nvmlReturn_t (*nvmlDeviceGetProcessUtilization)(nvmlDevice_t device,
                                                    nvmlProcessUtilizationSample_t* samples,
                                                    unsigned int* count,
                                                    unsigned long long lastSeen);
    nvmlRunningProcesses_t nvmlDeviceGetComputeRunningProcesses_v3;
    nvmlRunningProcesses_t nvmlDeviceGetComputeRunningProcesses_v2;
    nvmlRunningProcesses_v1_t nvmlDeviceGetComputeRunningProcesses;
    nvmlRunningProcesses_t nvmlDeviceGetGraphicsRunningProcesses_v3;
    nvmlRunningProcesses_t nvmlDeviceGetGraphicsRunningProcesses_v2;
    nvmlRunningProcesses_v1_t nvmlDeviceGetGraphicsRunningProcesses;
    nvmlReturn_t (*nvmlDeviceGetMigMode)(nvmlDevice_t device, unsigned int* current,
                                         unsigned int* pending);
    // The GPU's health and why it is slow; each may be missing from an older driver. The
    // clocks' reasons are the same function under its newer and its older name.
    nvmlReturn_t (*nvmlDeviceGetCurrentClocksEventReasons)(nvmlDevice_t device,
                                                           unsigned long long* reasons);
    nvmlReturn_t (*nvmlDeviceGetCurrentClocksThrottleReasons)(nvmlDevice_t device,
                                                              unsigned long long* reasons);
    nvmlReturn_t (*nvmlDeviceGetTotalEnergyConsumption)(nvmlDevice_t device,
                                                        unsigned long long* millijoules);
    nvmlReturn_t (*nvmlDeviceGetTotalEccErrors)(nvmlDevice_t device, nvmlMemoryErrorType_t type,
                                                nvmlEccCounterType_t counter,
                                                unsigned long long* count);
    nvmlReturn_t (*nvmlDeviceGetRemappedRows)(nvmlDevice_t device, unsigned int* corrected,
                                              unsigned int* uncorrected, unsigned int* pending,
                                              unsigned int* failed);
    nvmlReturn_t (*nvmlDeviceGetPcieReplayCounter)(nvmlDevice_t device, unsigned int* replays);
    nvmlReturn_t (*nvmlGpmQueryDeviceSupport)(nvmlDevice_t device, nvmlGpmSupport_t* support);
    nvmlReturn_t (*nvmlGpmSampleAlloc)(nvmlGpmSample_t* sample);
    nvmlReturn_t (*nvmlGpmSampleFree)(nvmlGpmSample_t sample);
    nvmlReturn_t (*nvmlGpmSampleGet)(nvmlDevice_t device, nvmlGpmSample_t sample);
    nvmlReturn_t (*nvmlGpmMetricsGet)(void* metricsGet);  // an nvmlGpmMetricsGet_t<N>
    nvmlReturn_t (*nvmlEventSetCreate)(nvmlEventSet_t* set);
    nvmlReturn_t (*nvmlDeviceRegisterEvents)(nvmlDevice_t device, unsigned long long types,
                                             nvmlEventSet_t set);
    nvmlReturn_t (*nvmlEventSetWait_v2)(nvmlEventSet_t set, nvmlEventData_t* data,
                                        unsigned int timeoutMs);
    nvmlReturn_t (*nvmlEventSetFree)(nvmlEventSet_t set);
    nvmlReturn_t (*nvmlDeviceGetFieldValues)(nvmlDevice_t device, int count,
                                             nvmlFieldValue_t* values);
};
