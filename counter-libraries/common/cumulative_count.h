// A driver's cumulative figure (energy, error counts, replays) made into a count that
// never goes back: the driver's own may start again (a driver reloaded, a GPU reset) or
// wrap at 32 bits, and a count a host or Prometheus reads as one that only grows must not
// follow it down. Plain data, for every counter library.
#pragma once

#include <cstdint>

struct CumulativeCount {
    bool started = false;
    uint64_t lastRaw = 0;  // the driver's last figure
    uint64_t total = 0;    // what was counted: the first figure, then every growth
};

// Takes the driver's figure now; the count so far. A figure below the last is growth from
// 0 (counted in full); the count stops at the largest value rather than wrap.
inline uint64_t cumulative_take(CumulativeCount* count, uint64_t raw) {
    const uint64_t grew = !count->started         ? raw
                          : raw >= count->lastRaw ? raw - count->lastRaw
                                                  : raw;
    count->started = true;
    count->lastRaw = raw;
    count->total = grew > UINT64_MAX - count->total ? UINT64_MAX : count->total + grew;
    return count->total;
}
