// A stand-in for the driver's management library, for the tests: GPUs, names and values
// from a scenario file named by ZARMITE_NVML_SCENARIO, read again at every nvmlInit_v2.
// Lines (G is a GPU's index, "*" every GPU):
//   gpus N                      how many GPUs the driver reports (default 1; at most 8
//                               have handles)
//   init-fails STATUS           nvmlInit_v2 returns STATUS
//   count-fails STATUS          nvmlDeviceGetCount_v2 returns STATUS
//   name G TEXT                 the device name (default "Stand-in GPU G")
//   name-unterminated G         the name fills the caller's buffer with no terminator
//   set G METRIC V [V2 V3 V4]   utilization GPU MEM | encoder | decoder | graphics | sm |
//                               memclock | video | temperature | power | fan |
//                               memory TOTAL FREE USED RESERVED (bytes) | pcie-rx | pcie-tx
//   unsupported G METRIC        that query returns NOT_SUPPORTED (3)
//   refuse-handle G STATUS      nvmlDeviceGetHandleByIndex_v2 returns STATUS
//   pci G ADDRESS               the PCI address nvmlDeviceGetHandleByPciBusId_v2 finds G at
//   lost-while G PATH           every query of G returns GPU_IS_LOST (15) while PATH exists
//   delay METRIC MS             each call of that query takes MS milliseconds
//   block G METRIC PATH         that query of G (METRIC "handle": its handle request)
//                               does not return while PATH exists
//   null-handle G               the handle request succeeds with a null handle
//   no-memory-v2                nvmlDeviceGetMemoryInfo_v2 returns FUNCTION_NOT_FOUND
//   process G PID BYTES KIND [PATH]  a process running KIND (compute or graphics) work on
//                               G with BYTES of its memory (-1: not available), listed
//                               only while PATH exists where one is given
//   process-use G PID SM ENC DEC     each call for samples gives one of the process's,
//                               stamped now (none at all: "not found", as the driver says)
//   mig G                       G is partitioned: per-process use is not supported
//   set G reasons BITS          the clocks' event reasons now (default 0)
//   set G energy MJ             energy at the start, mJ; it grows by the power as time goes
//   set G ecc CORRECTED UNCORRECTED | remap PENDING FAILED | replays N | memtemp C
//   gpm G V0 ... V8             the GPM metrics' values between any two samples
//   gpm-fails G ID STATUS       GPM metric ID measures STATUS instead
//   unsupported G gpm           the GPU does not measure GPM (isSupportedDevice 0);
//                               other new queries: unsupported G energy, ecc, ...
//   xid G CODE COUNT            COUNT XID events of CODE wait on the GPU's event set
//   old-driver                  every entry point newer than the process queries says
//                               FUNCTION_NOT_FOUND, the clocks' reasons under their newer
//                               name too (the older one answers)
//   record PATH                 appends a line per call to PATH
// A call that is delayed or blocked holds no lock that other queries need, as a driver
// serves devices at once; nvmlShutdown waits for every call in progress, as a driver's
// teardown does.
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace {

typedef int nvmlReturn_t;
constexpr int kMaxGpus = 8;

enum Metric {
    kUtilization,
    kEncoder,
    kDecoder,
    kGraphics,
    kSm,
    kMemClock,
    kVideo,
    kTemperature,
    kPower,
    kFan,
    kMemory,
    kPcieRx,
    kPcieTx,
    kName,
    kHandle,
    kProcesses,
    kReasons,
    kEnergy,
    kEcc,
    kRemap,
    kReplays,
    kMemTemp,
    kGpm,
    kEvents,
    kMetricCount
};
const char* const kMetricNames[kMetricCount] = {
    "utilization", "encoder", "decoder", "graphics", "sm",      "memclock", "video",  "temperature",
    "power",       "fan",     "memory",  "pcie-rx",  "pcie-tx", "name",     "handle", "processes",
    "reasons",     "energy",  "ecc",     "remap",    "replays", "memtemp",  "gpm",    "events"};
constexpr int kGpmMetrics = 9;

constexpr int kMaxProcesses = 16;
struct Process {
    unsigned int pid;
    unsigned long long bytes;
    bool graphics;
    char onlyWhile[300];
};
struct ProcessUse {
    unsigned int pid, sm, enc, dec;
};

struct Gpu {
    char name[128];
    char pci[32];
    bool nameUnterminated;
    unsigned long long values[kMetricCount][4];
    bool unsupported[kMetricCount];
    int refuseHandle;
    bool nullHandle;
    char lostWhile[600];
    char blockWhile[kMetricCount][600];
    Process processes[kMaxProcesses];
    int processCount;
    ProcessUse uses[kMaxProcesses];
    int useCount;
    bool mig;
    double gpm[kGpmMetrics];
    unsigned int gpmFailId, gpmFailStatus;
    unsigned long long xidCode, xidLeft;  // events waiting on its set
};

struct Scenario {
    unsigned long gpus;
    int initFails;
    int countFails;
    Gpu gpu[kMaxGpus];
    int delayMs[kMetricCount];
    bool noMemoryV2;
    bool oldDriver;
    char record[600];
};

std::mutex g_lock;
std::shared_mutex g_driverLock;  // shared by every call, whole by nvmlShutdown
Scenario g_scenario;
bool g_started = false;
int g_handles[kMaxGpus];  // a device handle points at its index
struct timeval g_startedAt;

int MetricOf(const char* name) {
    for (int m = 0; m < kMetricCount; ++m)
        if (strcmp(name, kMetricNames[m]) == 0) return m;
    return -1;
}

void Defaults(Scenario* s) {
    memset(s, 0, sizeof *s);
    s->gpus = 1;
    for (int g = 0; g < kMaxGpus; ++g) {
        Gpu& gpu = s->gpu[g];
        snprintf(gpu.name, sizeof gpu.name, "Stand-in GPU %d", g);
        // Every metric's, in its order: a missing row would shift the rest.
        const unsigned long long defaults[][4] = {{40ull + g, 20, 0, 0},
                                                  {5, 0, 0, 0},
                                                  {6, 0, 0, 0},
                                                  {1500, 0, 0, 0},
                                                  {1400, 0, 0, 0},
                                                  {5001, 0, 0, 0},
                                                  {1200, 0, 0, 0},
                                                  {55, 0, 0, 0},
                                                  {123456, 0, 0, 0},
                                                  {30, 0, 0, 0},
                                                  {8ull << 30, 6ull << 30, 1ull << 30, 1ull << 30},
                                                  {1000, 0, 0, 0},
                                                  {2000, 0, 0, 0},
                                                  {0, 0, 0, 0},
                                                  {0, 0, 0, 0},
                                                  {0, 0, 0, 0},
                                                  {0, 0, 0, 0},
                                                  {5000000, 0, 0, 0},
                                                  {2, 0, 0, 0},
                                                  {0, 0, 0, 0},
                                                  {3, 0, 0, 0},
                                                  {71, 0, 0, 0},
                                                  {0, 0, 0, 0},
                                                  {0, 0, 0, 0}};
        static_assert(sizeof defaults == sizeof gpu.values, "a row a metric");
        memcpy(gpu.values, defaults, sizeof defaults);
        const double gpm[kGpmMetrics] = {62.5, 31.25, 12, 0.5, 40, 3, 27, 100, 50};
        memcpy(gpu.gpm, gpm, sizeof gpm);
    }
}

// Applies `line` to every GPU it names.
template <typename Apply>
void ForGpus(const char* which, Apply apply) {
    if (strcmp(which, "*") == 0) {
        for (int g = 0; g < kMaxGpus; ++g) apply(g_scenario.gpu[g]);
    } else {
        const int g = atoi(which);
        if (g >= 0 && g < kMaxGpus) apply(g_scenario.gpu[g]);
    }
}

void ReadScenario() {
    Defaults(&g_scenario);
    const char* path = getenv("ZARMITE_NVML_SCENARIO");
    FILE* file = path != nullptr ? fopen(path, "r") : nullptr;
    if (file == nullptr) return;
    char line[700];
    while (fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        char word[64] = "", which[600] = "", arg[600] = "";
        int fields = sscanf(line, "%63s %599s %599[^\n]", word, which, arg);
        if (fields < 1) continue;
        Scenario& s = g_scenario;
        if (strcmp(word, "gpus") == 0) s.gpus = strtoul(which, nullptr, 10);
        if (strcmp(word, "init-fails") == 0) s.initFails = atoi(which);
        if (strcmp(word, "count-fails") == 0) s.countFails = atoi(which);
        if (strcmp(word, "no-memory-v2") == 0) s.noMemoryV2 = true;
        if (strcmp(word, "old-driver") == 0) s.oldDriver = true;
        if (strcmp(word, "gpm") == 0) {
            double v[kGpmMetrics];
            if (sscanf(arg, "%lf %lf %lf %lf %lf %lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3],
                       &v[4], &v[5], &v[6], &v[7], &v[8]) == kGpmMetrics)
                ForGpus(which, [&](Gpu& gpu) { memcpy(gpu.gpm, v, sizeof v); });
        }
        if (strcmp(word, "gpm-fails") == 0) {
            unsigned int id = 0, status = 0;
            if (sscanf(arg, "%u %u", &id, &status) == 2)
                ForGpus(which, [&](Gpu& gpu) {
                    gpu.gpmFailId = id;
                    gpu.gpmFailStatus = status;
                });
        }
        if (strcmp(word, "xid") == 0) {
            unsigned long long code = 0, count = 0;
            if (sscanf(arg, "%llu %llu", &code, &count) == 2)
                ForGpus(which, [&](Gpu& gpu) {
                    gpu.xidCode = code;
                    gpu.xidLeft = count;
                });
        }
        if (strcmp(word, "record") == 0) snprintf(s.record, sizeof s.record, "%s", which);
        if (strcmp(word, "delay") == 0) {
            const int m = MetricOf(which);
            if (m >= 0) s.delayMs[m] = atoi(arg);
        }
        if (strcmp(word, "name") == 0)
            ForGpus(which, [&](Gpu& gpu) { snprintf(gpu.name, sizeof gpu.name, "%s", arg); });
        if (strcmp(word, "pci") == 0)
            ForGpus(which, [&](Gpu& gpu) { snprintf(gpu.pci, sizeof gpu.pci, "%s", arg); });
        if (strcmp(word, "name-unterminated") == 0)
            ForGpus(which, [&](Gpu& gpu) { gpu.nameUnterminated = true; });
        if (strcmp(word, "null-handle") == 0)
            ForGpus(which, [&](Gpu& gpu) { gpu.nullHandle = true; });
        if (strcmp(word, "block") == 0) {
            char metric[32] = "", blockPath[600] = "";
            const int m = sscanf(arg, "%31s %599s", metric, blockPath) == 2 ? MetricOf(metric) : -1;
            if (m >= 0)
                ForGpus(which, [&](Gpu& gpu) {
                    snprintf(gpu.blockWhile[m], sizeof gpu.blockWhile[m], "%s", blockPath);
                });
        }
        if (strcmp(word, "refuse-handle") == 0)
            ForGpus(which, [&](Gpu& gpu) { gpu.refuseHandle = atoi(arg); });
        if (strcmp(word, "lost-while") == 0)
            ForGpus(which,
                    [&](Gpu& gpu) { snprintf(gpu.lostWhile, sizeof gpu.lostWhile, "%s", arg); });
        if (strcmp(word, "mig") == 0) ForGpus(which, [&](Gpu& gpu) { gpu.mig = true; });
        if (strcmp(word, "process") == 0) {
            Process process{};
            char kind[16] = "";
            long long bytes = 0;
            if (sscanf(arg, "%u %lld %15s %299s", &process.pid, &bytes, kind, process.onlyWhile) >=
                3) {
                process.bytes = bytes < 0 ? ~0ULL : static_cast<unsigned long long>(bytes);
                process.graphics = strcmp(kind, "graphics") == 0;
                ForGpus(which, [&](Gpu& gpu) {
                    if (gpu.processCount < kMaxProcesses)
                        gpu.processes[gpu.processCount++] = process;
                });
            }
        }
        if (strcmp(word, "process-use") == 0) {
            ProcessUse use{};
            if (sscanf(arg, "%u %u %u %u", &use.pid, &use.sm, &use.enc, &use.dec) == 4)
                ForGpus(which, [&](Gpu& gpu) {
                    if (gpu.useCount < kMaxProcesses) gpu.uses[gpu.useCount++] = use;
                });
        }
        if (strcmp(word, "unsupported") == 0) {
            const int m = MetricOf(arg);
            if (m >= 0) ForGpus(which, [&](Gpu& gpu) { gpu.unsupported[m] = true; });
        }
        if (strcmp(word, "set") == 0) {
            char metric[32] = "";
            unsigned long long v[4] = {0, 0, 0, 0};
            const int got =
                sscanf(arg, "%31s %llu %llu %llu %llu", metric, &v[0], &v[1], &v[2], &v[3]);
            const int m = MetricOf(metric);
            if (m >= 0 && got >= 2)
                ForGpus(which, [&](Gpu& gpu) { memcpy(gpu.values[m], v, sizeof v); });
        }
    }
    fclose(file);
}

void Record(const char* format, ...) {
    if (g_scenario.record[0] == '\0') return;
    FILE* file = fopen(g_scenario.record, "a");
    if (file == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    vfprintf(file, format, arguments);
    va_end(arguments);
    fputc('\n', file);
    fclose(file);
}

// The GPU a handle names, or null; `status` says why there is none.
Gpu* GpuOf(void* device, int metric, nvmlReturn_t* status) {
    *status = 0;
    if (!g_started) {
        *status = 1;  // NVML_ERROR_UNINITIALIZED
        return nullptr;
    }
    int* handle = static_cast<int*>(device);
    if (handle < g_handles || handle >= g_handles + kMaxGpus ||
        static_cast<unsigned long>(*handle) >= g_scenario.gpus) {
        *status = 2;  // NVML_ERROR_INVALID_ARGUMENT
        return nullptr;
    }
    Gpu* gpu = &g_scenario.gpu[*handle];
    Record("%s %d", kMetricNames[metric], *handle);
    if (gpu->lostWhile[0] != '\0' && access(gpu->lostWhile, F_OK) == 0) {
        *status = 15;  // NVML_ERROR_GPU_IS_LOST
        return nullptr;
    }
    if (gpu->unsupported[metric]) {
        *status = 3;  // NVML_ERROR_NOT_SUPPORTED
        return nullptr;
    }
    return gpu;
}

// Takes the time the scenario gives a call of `metric` on GPU `index`: its delay, and as
// long as its block's file exists. No lock is held meanwhile.
void Pause(int index, int metric) {
    int delayMs;
    std::string blockWhile;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        delayMs = g_scenario.delayMs[metric];
        if (index >= 0 && index < kMaxGpus) blockWhile = g_scenario.gpu[index].blockWhile[metric];
    }
    if (delayMs > 0) usleep(static_cast<useconds_t>(delayMs) * 1000);
    while (!blockWhile.empty() && access(blockWhile.c_str(), F_OK) == 0) usleep(2000);
}

int IndexOf(void* device) {
    int* handle = static_cast<int*>(device);
    return handle >= g_handles && handle < g_handles + kMaxGpus
               ? static_cast<int>(handle - g_handles)
               : -1;
}

// A field value as the driver fills it in.
struct nvmlFieldValue {
    unsigned int fieldId, scopeId;
    long long timestamp, latencyUsec;
    int valueType;
    nvmlReturn_t nvmlReturn;
    unsigned long long value;
};

// Answers an unsigned query of one metric.
nvmlReturn_t One(void* device, int metric, unsigned int* out) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    Pause(IndexOf(device), metric);
    std::lock_guard<std::mutex> guard(g_lock);
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, metric, &status);
    if (gpu == nullptr) return status;
    if (out == nullptr) return 2;
    *out = static_cast<unsigned int>(gpu->values[metric][0]);
    return 0;
}

}  // namespace

#define STAND_IN extern "C" __attribute__((visibility("default")))

STAND_IN nvmlReturn_t nvmlInit_v2() {
    std::lock_guard<std::mutex> guard(g_lock);
    ReadScenario();
    Record("nvmlInit_v2");
    if (g_scenario.initFails != 0) return g_scenario.initFails;
    g_started = true;
    gettimeofday(&g_startedAt, nullptr);
    return 0;
}

STAND_IN nvmlReturn_t nvmlShutdown() {
    std::unique_lock<std::shared_mutex> driver(g_driverLock);
    std::lock_guard<std::mutex> guard(g_lock);
    Record("nvmlShutdown");
    g_started = false;
    return 0;
}

STAND_IN nvmlReturn_t nvmlDeviceGetCount_v2(unsigned int* count) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_started) return 1;
    if (g_scenario.countFails != 0) return g_scenario.countFails;
    *count = static_cast<unsigned int>(g_scenario.gpus);
    return 0;
}

STAND_IN nvmlReturn_t nvmlDeviceGetHandleByIndex_v2(unsigned int index, void** device) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    Pause(index < kMaxGpus ? static_cast<int>(index) : -1, kHandle);
    std::lock_guard<std::mutex> guard(g_lock);
    Record("handle %u", index);
    if (!g_started) return 1;
    if (index >= g_scenario.gpus || index >= kMaxGpus) return 2;
    Gpu& gpu = g_scenario.gpu[index];
    if (gpu.refuseHandle != 0) return gpu.refuseHandle;
    if (gpu.nullHandle) {
        *device = nullptr;
        return 0;
    }
    if (gpu.lostWhile[0] != '\0' && access(gpu.lostWhile, F_OK) == 0) return 15;
    g_handles[index] = static_cast<int>(index);
    *device = &g_handles[index];
    return 0;
}

STAND_IN nvmlReturn_t nvmlDeviceGetHandleByPciBusId_v2(const char* busId, void** device) {
    unsigned int index = kMaxGpus;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        Record("handle %s", busId);
        for (unsigned int g = 0; g < kMaxGpus && g < g_scenario.gpus; ++g)
            if (g_scenario.gpu[g].pci[0] != '\0' && strcasecmp(g_scenario.gpu[g].pci, busId) == 0)
                index = g;
    }
    if (index == kMaxGpus) return 6;  // NVML_ERROR_NOT_FOUND
    return nvmlDeviceGetHandleByIndex_v2(index, device);
}

STAND_IN nvmlReturn_t nvmlDeviceGetName(void* device, char* name, unsigned int length) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    Pause(IndexOf(device), kName);
    std::lock_guard<std::mutex> guard(g_lock);
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, kName, &status);
    if (gpu == nullptr) return status;
    if (length == 0) return 7;  // NVML_ERROR_INSUFFICIENT_SIZE
    if (gpu->nameUnterminated) {
        memset(name, 'N', length);
        return 0;
    }
    snprintf(name, length, "%s", gpu->name);
    return 0;
}

STAND_IN nvmlReturn_t nvmlDeviceGetUtilizationRates(void* device, unsigned int* rates) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    Pause(IndexOf(device), kUtilization);
    std::lock_guard<std::mutex> guard(g_lock);
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, kUtilization, &status);
    if (gpu == nullptr) return status;
    rates[0] = static_cast<unsigned int>(gpu->values[kUtilization][0]);
    rates[1] = static_cast<unsigned int>(gpu->values[kUtilization][1]);
    return 0;
}

STAND_IN nvmlReturn_t nvmlDeviceGetEncoderUtilization(void* device, unsigned int* value,
                                                      unsigned int* period) {
    *period = 100000;
    return One(device, kEncoder, value);
}

STAND_IN nvmlReturn_t nvmlDeviceGetDecoderUtilization(void* device, unsigned int* value,
                                                      unsigned int* period) {
    *period = 100000;
    return One(device, kDecoder, value);
}

STAND_IN nvmlReturn_t nvmlDeviceGetClockInfo(void* device, int type, unsigned int* mhz) {
    const int metrics[4] = {kGraphics, kSm, kMemClock, kVideo};
    if (type < 0 || type > 3) return 2;
    return One(device, metrics[type], mhz);
}

STAND_IN nvmlReturn_t nvmlDeviceGetTemperature(void* device, int sensor, unsigned int* celsius) {
    if (sensor != 0) return 2;
    return One(device, kTemperature, celsius);
}

STAND_IN nvmlReturn_t nvmlDeviceGetPowerUsage(void* device, unsigned int* milliwatts) {
    return One(device, kPower, milliwatts);
}

STAND_IN nvmlReturn_t nvmlDeviceGetFanSpeed(void* device, unsigned int* percent) {
    return One(device, kFan, percent);
}

STAND_IN nvmlReturn_t nvmlDeviceGetMemoryInfo(void* device, unsigned long long* memory) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    Pause(IndexOf(device), kMemory);
    std::lock_guard<std::mutex> guard(g_lock);
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, kMemory, &status);
    if (gpu == nullptr) return status;
    // v1: total, free, used, where used includes the reserved memory.
    memory[0] = gpu->values[kMemory][0];
    memory[1] = gpu->values[kMemory][1];
    memory[2] = gpu->values[kMemory][2] + gpu->values[kMemory][3];
    return 0;
}

struct MemoryV2 {
    unsigned int version;
    unsigned long long total, reserved, free, used;
};

STAND_IN nvmlReturn_t nvmlDeviceGetMemoryInfo_v2(void* device, MemoryV2* memory) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_scenario.noMemoryV2) return 13;  // NVML_ERROR_FUNCTION_NOT_FOUND
    }
    Pause(IndexOf(device), kMemory);
    std::lock_guard<std::mutex> guard(g_lock);
    if (memory->version != 0x02000028) return 25;  // NVML_ERROR_ARGUMENT_VERSION_MISMATCH
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, kMemory, &status);
    if (gpu == nullptr) return status;
    memory->total = gpu->values[kMemory][0];
    memory->free = gpu->values[kMemory][1];
    memory->used = gpu->values[kMemory][2];
    memory->reserved = gpu->values[kMemory][3];
    return 0;
}

STAND_IN nvmlReturn_t nvmlDeviceGetPcieThroughput(void* device, int counter, unsigned int* value) {
    if (counter != 0 && counter != 1) return 2;
    return One(device, counter == 1 ? kPcieRx : kPcieTx, value);
}

struct ProcessSample {
    unsigned int pid;
    unsigned long long timeStamp;
    unsigned int smUtil, memUtil, encUtil, decUtil;
};

STAND_IN nvmlReturn_t nvmlDeviceGetProcessUtilization(void* device, ProcessSample* samples,
                                                      unsigned int* count,
                                                      unsigned long long lastSeen) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    Pause(IndexOf(device), kProcesses);
    std::lock_guard<std::mutex> guard(g_lock);
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, kProcesses, &status);
    if (gpu == nullptr) return status;
    if (count == nullptr) return 2;
    if (gpu->mig) return 3;  // NVML_ERROR_NOT_SUPPORTED
    struct timeval now;
    gettimeofday(&now, nullptr);
    const unsigned long long stamp =
        static_cast<unsigned long long>(now.tv_sec) * 1000000ULL + now.tv_usec;
    if (gpu->useCount == 0 || stamp <= lastSeen) return 6;  // NVML_ERROR_NOT_FOUND
    const unsigned int needed = static_cast<unsigned int>(gpu->useCount);
    if (samples == nullptr || *count < needed) {
        *count = needed;
        return 7;  // NVML_ERROR_INSUFFICIENT_SIZE
    }
    for (unsigned int i = 0; i < needed; ++i)
        samples[i] = ProcessSample{gpu->uses[i].pid, stamp,           gpu->uses[i].sm, 0,
                                   gpu->uses[i].enc, gpu->uses[i].dec};
    *count = needed;
    return 0;
}

namespace {

struct ProcessInfo {
    unsigned int pid;
    unsigned long long usedGpuMemory;
    unsigned int gpuInstanceId, computeInstanceId;
};
struct ProcessInfoV1 {
    unsigned int pid;
    unsigned long long usedGpuMemory;
};

// The processes of one kind, in either layout.
template <typename Info>
nvmlReturn_t Running(void* device, unsigned int* count, Info* infos, bool graphics) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    Pause(IndexOf(device), kProcesses);
    std::lock_guard<std::mutex> guard(g_lock);
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, kProcesses, &status);
    if (gpu == nullptr) return status;
    if (count == nullptr) return 2;
    unsigned int listed = 0;
    for (int i = 0; i < gpu->processCount; ++i) {
        const Process& process = gpu->processes[i];
        if (process.graphics != graphics) continue;
        if (process.onlyWhile[0] != '\0' && access(process.onlyWhile, F_OK) != 0) continue;
        if (infos != nullptr && listed < *count) {
            infos[listed] = Info{};
            infos[listed].pid = process.pid;
            infos[listed].usedGpuMemory = process.bytes;
        }
        ++listed;
    }
    const bool fits = infos != nullptr && listed <= *count;
    *count = listed;
    return fits || listed == 0 ? 0 : 7;
}

}  // namespace

STAND_IN nvmlReturn_t nvmlDeviceGetComputeRunningProcesses_v3(void* device, unsigned int* count,
                                                              ProcessInfo* infos) {
    return Running(device, count, infos, false);
}

STAND_IN nvmlReturn_t nvmlDeviceGetGraphicsRunningProcesses_v3(void* device, unsigned int* count,
                                                               ProcessInfo* infos) {
    return Running(device, count, infos, true);
}

STAND_IN nvmlReturn_t nvmlDeviceGetComputeRunningProcesses(void* device, unsigned int* count,
                                                           ProcessInfoV1* infos) {
    return Running(device, count, infos, false);
}

STAND_IN nvmlReturn_t nvmlDeviceGetGraphicsRunningProcesses(void* device, unsigned int* count,
                                                            ProcessInfoV1* infos) {
    return Running(device, count, infos, true);
}

STAND_IN nvmlReturn_t nvmlDeviceGetMigMode(void* device, unsigned int* current,
                                           unsigned int* pending) {
    std::lock_guard<std::mutex> guard(g_lock);
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, kProcesses, &status);
    if (gpu == nullptr) return status;
    if (!gpu->mig) return 3;  // a GPU that cannot be partitioned
    *current = *pending = 1;
    return 0;
}

// What came after the first drivers: GPM, the driver's events, field values, the GPU's
// health. Each says FUNCTION_NOT_FOUND on an old driver, as a missing entry point would.
namespace {

constexpr nvmlReturn_t kFunctionNotFound = 13;

// A query of the GPU's health: its values under the lock, after the scenario's pause.
template <typename Answer>
nvmlReturn_t Health(void* device, int metric, Answer answer) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    Pause(IndexOf(device), metric);
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_scenario.oldDriver) return kFunctionNotFound;
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, metric, &status);
    if (gpu == nullptr) return status;
    return answer(*gpu);
}

// An opaque sample: whose, and when it was taken.
struct GpmSample {
    unsigned int magic;
    int gpu;  // -1 until taken
    unsigned long long serial;
};
constexpr unsigned int kSampleMagic = 0x5A4D5053;
unsigned long long g_serial = 0;

struct GpmMetric {
    unsigned int metricId;
    nvmlReturn_t nvmlReturn;
    double value;
    void* info[3];
};
struct GpmMetricsGet {
    unsigned int version;
    unsigned int numMetrics;
    GpmSample* sample1;
    GpmSample* sample2;
    GpmMetric metrics[1];  // numMetrics of them: the caller's array
};

struct EventSet {
    int gpus[kMaxGpus];  // registered for XID critical errors
};
struct EventData {
    void* device;
    unsigned long long eventType, eventData;
    unsigned int gpuInstanceId, computeInstanceId;
};

}  // namespace

STAND_IN nvmlReturn_t nvmlDeviceGetCurrentClocksEventReasons(void* device,
                                                             unsigned long long* reasons) {
    return Health(device, kReasons, [&](Gpu& gpu) {
        *reasons = gpu.values[kReasons][0];
        return 0;
    });
}

STAND_IN nvmlReturn_t nvmlDeviceGetCurrentClocksThrottleReasons(void* device,
                                                                unsigned long long* reasons) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    std::lock_guard<std::mutex> guard(g_lock);
    nvmlReturn_t status;
    Gpu* gpu = GpuOf(device, kReasons, &status);
    if (gpu == nullptr) return status;
    *reasons = gpu->values[kReasons][0];
    return 0;
}

STAND_IN nvmlReturn_t nvmlDeviceGetTotalEnergyConsumption(void* device,
                                                          unsigned long long* millijoules) {
    return Health(device, kEnergy, [&](Gpu& gpu) {
        struct timeval now;
        gettimeofday(&now, nullptr);
        const long long ms =
            (now.tv_sec - g_startedAt.tv_sec) * 1000LL + (now.tv_usec - g_startedAt.tv_usec) / 1000;
        // The power (mW) for the time since the start.
        *millijoules = gpu.values[kEnergy][0] +
                       gpu.values[kPower][0] * static_cast<unsigned long long>(ms) / 1000;
        return 0;
    });
}

STAND_IN nvmlReturn_t nvmlDeviceGetTotalEccErrors(void* device, int type, int counter,
                                                  unsigned long long* count) {
    if ((type != 0 && type != 1) || counter != 0) return 2;  // volatile counts only
    return Health(device, kEcc, [&](Gpu& gpu) {
        *count = gpu.values[kEcc][type];
        return 0;
    });
}

STAND_IN nvmlReturn_t nvmlDeviceGetRemappedRows(void* device, unsigned int* corrected,
                                                unsigned int* uncorrected, unsigned int* pending,
                                                unsigned int* failed) {
    return Health(device, kRemap, [&](Gpu& gpu) {
        *corrected = *uncorrected = 0;
        *pending = static_cast<unsigned int>(gpu.values[kRemap][0]);
        *failed = static_cast<unsigned int>(gpu.values[kRemap][1]);
        return 0;
    });
}

STAND_IN nvmlReturn_t nvmlDeviceGetPcieReplayCounter(void* device, unsigned int* replays) {
    return Health(device, kReplays, [&](Gpu& gpu) {
        *replays = static_cast<unsigned int>(gpu.values[kReplays][0]);
        return 0;
    });
}

STAND_IN nvmlReturn_t nvmlDeviceGetFieldValues(void* device, int count, nvmlFieldValue* values) {
    if (count < 0 || values == nullptr) return 2;
    return Health(device, kMemTemp, [&](Gpu& gpu) {
        for (int i = 0; i < count; ++i) {
            values[i].valueType = 1;  // unsigned int
            values[i].nvmlReturn = values[i].fieldId == 82 ? 0 : 3;
            values[i].value = gpu.values[kMemTemp][0];
        }
        return 0;
    });
}

STAND_IN nvmlReturn_t nvmlGpmQueryDeviceSupport(void* device, unsigned int* support) {
    std::shared_lock<std::shared_mutex> driver(g_driverLock);
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_scenario.oldDriver) return kFunctionNotFound;
    if (support[0] != 1) return 25;  // the version is the plain 1
    nvmlReturn_t status;
    int index = IndexOf(device);
    Gpu* gpu = GpuOf(device, kProcesses, &status);
    if (gpu == nullptr) return status;
    Record("gpm-support %d", index);
    support[1] = gpu->unsupported[kGpm] ? 0 : 1;
    return 0;
}

STAND_IN nvmlReturn_t nvmlGpmSampleAlloc(GpmSample** sample) {
    if (sample == nullptr) return 2;
    *sample = new GpmSample{kSampleMagic, -1, 0};
    return 0;
}

STAND_IN nvmlReturn_t nvmlGpmSampleFree(GpmSample* sample) {
    if (sample == nullptr || sample->magic != kSampleMagic) return 2;
    sample->magic = 0;
    delete sample;
    return 0;
}

STAND_IN nvmlReturn_t nvmlGpmSampleGet(void* device, GpmSample* sample) {
    if (sample == nullptr || sample->magic != kSampleMagic) return 2;
    return Health(device, kGpm, [&](Gpu&) {
        sample->gpu = IndexOf(device);
        sample->serial = ++g_serial;
        return 0;
    });
}

// Measures between two samples of one GPU, the older first; writes no metric beyond the
// caller's numMetrics.
STAND_IN nvmlReturn_t nvmlGpmMetricsGet(GpmMetricsGet* get) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_scenario.oldDriver) return kFunctionNotFound;
    if (get == nullptr || get->version != 1) return 25;
    if (get->numMetrics == 0 || get->numMetrics > 98) return 2;
    GpmSample* older = get->sample1;
    GpmSample* newer = get->sample2;
    if (older == nullptr || newer == nullptr || older->magic != kSampleMagic ||
        newer->magic != kSampleMagic || older->gpu < 0 || older->gpu != newer->gpu ||
        older->serial >= newer->serial)
        return 2;
    const Gpu& gpu = g_scenario.gpu[older->gpu];
    const unsigned int ids[kGpmMetrics] = {2, 3, 5, 11, 12, 13, 10, 60, 61};
    for (unsigned int m = 0; m < get->numMetrics; ++m) {
        GpmMetric& metric = get->metrics[m];
        metric.nvmlReturn = 3;
        metric.value = 0;
        for (int i = 0; i < kGpmMetrics; ++i)
            if (metric.metricId == ids[i]) {
                metric.nvmlReturn = 0;
                metric.value = gpu.gpm[i];
            }
        if (metric.metricId == gpu.gpmFailId && gpu.gpmFailStatus != 0) {
            metric.nvmlReturn = static_cast<nvmlReturn_t>(gpu.gpmFailStatus);
            metric.value = 0;
        }
    }
    return 0;
}

STAND_IN nvmlReturn_t nvmlEventSetCreate(EventSet** set) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_scenario.oldDriver) return kFunctionNotFound;
    }
    if (set == nullptr) return 2;
    *set = new EventSet{};
    return 0;
}

STAND_IN nvmlReturn_t nvmlDeviceRegisterEvents(void* device, unsigned long long types,
                                               EventSet* set) {
    if (set == nullptr || (types & 0x8) == 0) return 2;
    return Health(device, kEvents, [&](Gpu&) {
        set->gpus[IndexOf(device)] = 1;
        return 0;
    });
}

// Hands out one waiting event a call. Only a wait of 0 is answered: a reader that waits
// on a driver's events is a fault here, recorded as such.
STAND_IN nvmlReturn_t nvmlEventSetWait_v2(EventSet* set, EventData* data, unsigned int timeoutMs) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (set == nullptr || data == nullptr) return 2;
    if (timeoutMs != 0) Record("event wait of %u ms", timeoutMs);
    for (int g = 0; g < kMaxGpus; ++g) {
        Gpu& gpu = g_scenario.gpu[g];
        if (set->gpus[g] == 0 || gpu.xidLeft == 0) continue;
        --gpu.xidLeft;
        *data = EventData{&g_handles[g], 0x8, gpu.xidCode, 0, 0};
        return 0;
    }
    return 10;  // NVML_ERROR_TIMEOUT: nothing waits
}

STAND_IN nvmlReturn_t nvmlEventSetFree(EventSet* set) {
    delete set;
    return 0;
}
