// Who uses an adapter, from one collection of Windows' per-process GPU counters: the
// running time of each process's engines ("GPU Engine" instances
// pid_<p>_luid_..._eng_<e>_engtype_<type>, cumulative, in 100 ns) and its memory ("GPU
// Process Memory" instances pid_<p>_luid_..._phys_<n>, in bytes). Pure, so that made-up
// instance lists test it on any platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gpu_clients.h"
#include "gpu_instances.h"

struct ProcessUse {
    uint32_t pid;
    // Engine time by class in nanoseconds, divided by the adapter's engines of the class.
    uint64_t busyNs[kGpuEngineClasses];
    uint64_t dedicatedBytes;
    uint64_t sharedBytes;
};

// The engine class of an engine type: 3D graphics, Compute compute, Copy copy, VideoDecode,
// VideoEncode, VideoProcessing (enhance); a vendor's own type is other.
uint32_t windows_engine_class(const std::string& engineType);

// The processes that the items name on `adapter`, in ascending pid order. Items whose
// status is not valid, and values below 0 or not finite, are passed over.
std::vector<ProcessUse> ProcessUsesOf(const AdapterLuid& adapter,
                                      const std::vector<CounterItem>& runningTime,
                                      const std::vector<CounterItem>& dedicated,
                                      const std::vector<CounterItem>& shared);
