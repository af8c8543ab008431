// Windows' own GPU counters and adapters, for the counter library that reads them: the
// "GPU Engine" and "GPU Adapter Memory" performance counters through PDH, the hardware
// adapters through DXGI, their memory segment sizes through D3DKMT. Every system library
// is loaded at run time, so an older or different system fails cleanly. Implemented for
// Windows only; the records are plain, so the code that reads them is tested anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Statuses of opening the counters.
constexpr int32_t kGpuCountersNoPdh = -20;          // pdh.dll missing, or an entry point of it
constexpr int32_t kGpuCountersNoGpuCounters = -21;  // the system publishes no GPU counters
constexpr int32_t kGpuCountersNoQuery = -22;        // a query could not be opened or collected

// One item of a wildcard counter: the instance's name (UTF-8), its value as a double, and
// whether its status was valid data.
struct PlatCounterItem {
    std::string instance;
    double value;
    bool valid;
};

struct PlatGpuAdapter {
    uint32_t luidHigh;
    uint32_t luidLow;
    std::string description;  // UTF-8
};

// Opens a query over the engine utilisation and the dedicated and shared memory usage
// counters, and the per-process running time and memory counters, by their English names, and takes
// a first collection (the rates' baseline). 0, or one of the statuses above.
int32_t plat_gpu_counters_open();
// What one collection read. A memory counter that the system lacks has no items and is
// marked missing.
struct PlatGpuCollection {
    std::vector<PlatCounterItem> engines;
    std::vector<PlatCounterItem> dedicated;
    std::vector<PlatCounterItem> shared;
    bool haveDedicated;
    bool haveShared;
    // Per process: each engine's running time (cumulative, 100 ns), and the dedicated and
    // shared memory in use; empty where the system lacks the counter.
    std::vector<PlatCounterItem> runningTime;
    std::vector<PlatCounterItem> processDedicated;
    std::vector<PlatCounterItem> processShared;
};
// Takes a collection and reads the three counters' items. False when the collection failed.
bool plat_gpu_counters_collect(PlatGpuCollection& out);
void plat_gpu_counters_close();

// DXGI's hardware adapters, in its order, software adapters left out. False when DXGI does
// not answer.
bool plat_gpu_adapters(std::vector<PlatGpuAdapter>& out);
// An adapter's dedicated video memory and shared system memory, from its segment sizes.
// False where the system does not answer.
bool plat_gpu_segment_sizes(uint32_t luidHigh, uint32_t luidLow, uint64_t* dedicated,
                            uint64_t* shared);

// Who a process is: its image's file name (UTF-8), its user ("DOMAIN\\name", or the SID
// where the account cannot be named) and when it was created (100 ns since 1601). False
// where the system will not open the process (a protected one, or another session's).
bool plat_process_identity(uint32_t pid, std::string* name, std::string* user, uint64_t* created);
