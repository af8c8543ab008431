// Windows' GPU performance counters, read as data: the instance names of the "GPU Engine"
// and "GPU Adapter Memory" counter sets, and what one collection of them comes to per
// adapter. Pure, so that made-up instance lists test it on any platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gpu_counters.h"

// An adapter's locally unique identifier, both halves.
struct AdapterLuid {
    uint32_t high;
    uint32_t low;
};
bool operator==(const AdapterLuid& a, const AdapterLuid& b);
bool operator<(const AdapterLuid& a, const AdapterLuid& b);

// "pid_<p>_luid_0x<hi>_0x<lo>_phys_<n>_eng_<e>_engtype_<type>" (engines) or
// "luid_0x<hi>_0x<lo>_phys_<n>" (memory). Parts that are missing stay 0 or empty.
struct GpuInstance {
    AdapterLuid luid;
    uint32_t phys;
    uint32_t engine;
    std::string engineType;
};
// False for a name that carries no LUID.
bool ParseGpuInstance(const std::string& name, GpuInstance* out);

// One item of a counter array: the instance's name and its value, valid or not.
using CounterItem = PlatCounterItem;

// The engine types reported apart, matched by the start of the type's name.
enum EngineKind {
    kKind3D,
    kKindCopy,
    kKindVideoDecode,
    kKindVideoEncode,
    kKindCompute,
    kKindCount
};

struct AdapterLoad {
    double busy;              // the busiest engine of any type
    double kind[kKindCount];  // the busiest engine of each type; 0 where it has none
    double dedicatedBytes;
    double sharedBytes;
    bool seen;  // the collection named this adapter
};

// What one collection comes to for `adapter`: an engine's load is the sum over the
// processes that use it, clamped to 0-100; items whose status is not valid are skipped.
AdapterLoad LoadOf(const AdapterLuid& adapter, const std::vector<CounterItem>& engines,
                   const std::vector<CounterItem>& dedicated,
                   const std::vector<CounterItem>& shared);

// The adapters that the items name, in ascending LUID order.
std::vector<AdapterLuid> AdaptersNamed(const std::vector<CounterItem>& engines,
                                       const std::vector<CounterItem>& memory);
