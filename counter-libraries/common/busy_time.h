// A GPU's own busy figure (a share of time, read now and then) kept as engine time that
// only grows, as the clients' entry hands it out (GpuDevice): each reading counts for the
// time since the one before it.
#pragma once

#include <algorithm>
#include <cstdint>

#include "gpu_clients.h"

struct BusyTime {
    uint64_t busyNs = 0;
    uint64_t lastAtNs = 0;  // 0: no reading yet, or the last one failed
    bool known = false;
};

// Adds a reading of `share` (0 to 1, clamped) taken at `atNs` on a clock that only grows.
// A failed reading (`ok` false) counts no time: the next one starts the interval anew.
inline void busy_time_add(BusyTime* time, bool ok, double share, uint64_t atNs) {
    if (!ok) {
        time->lastAtNs = 0;
        return;
    }
    share = std::min(1.0, std::max(0.0, share));
    if (time->lastAtNs != 0 && atNs > time->lastAtNs)
        time->busyNs += static_cast<uint64_t>(share * static_cast<double>(atNs - time->lastAtNs));
    time->lastAtNs = atNs;
    time->known = true;
}

inline GpuDevice busy_time_device(const BusyTime& time, uint32_t gpu, uint64_t scanNs) {
    return GpuDevice{gpu, time.known ? 1u : 0u, time.busyNs, scanNs, 0, 0, 0};
}
