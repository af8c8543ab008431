// Counter numbers of a library whose GPUs each have a first block of metrics and a later
// one: on a machine of N GPUs, metric m of GPU g is counter g * first + m while m is in
// the first block, and N * first + g * later + (m - first) beyond it. Counters that
// configurations already name keep their numbers when the later metrics come.
#pragma once

#include <cstdint>

struct CounterNumbering {
    uint32_t first;  // metrics a GPU, numbered GPU by GPU from 0
    uint32_t later;  // metrics a GPU, numbered after every GPU's first block
};

inline uint32_t numbering_counters(const CounterNumbering& n, uint32_t gpus) {
    return gpus * (n.first + n.later);
}

inline uint32_t numbering_counter(const CounterNumbering& n, uint32_t gpus, uint32_t gpu,
                                  uint32_t metric) {
    return metric < n.first ? gpu * n.first + metric
                            : gpus * n.first + gpu * n.later + (metric - n.first);
}

// The GPU and metric of `counter`; false for a counter beyond the GPUs'.
inline bool numbering_metric(const CounterNumbering& n, uint32_t gpus, uint32_t counter,
                             uint32_t* gpu, uint32_t* metric) {
    if (n.first == 0 || counter >= numbering_counters(n, gpus)) return false;
    if (counter < gpus * n.first) {
        *gpu = counter / n.first;
        *metric = counter % n.first;
        return true;
    }
    if (n.later == 0) return false;
    const uint32_t later = counter - gpus * n.first;
    *gpu = later / n.later;
    *metric = n.first + later % n.later;
    return true;
}
