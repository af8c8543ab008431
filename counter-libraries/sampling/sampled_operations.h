// The operations that every counter library over the background sampler answers alike:
// the count, the sampling set, the sample and a counter's value. Each library keeps one
// SampledLibrary and answers these through it; what differs (starting, the texts, the
// kinds) stays the library's own.
#pragma once

#include <cstdint>
#include <mutex>

// Statuses of these operations.
constexpr int32_t kSampledNotStarted = 1;
constexpr int32_t kSampledBadArgument = 2;
constexpr int32_t kSampledNotAdded = 2;

struct SampledLibrary {
    std::mutex lock;  // the library's operations, one at a time
    bool started = false;
    uint32_t counters = 0;  // from the start to the end
};

// 0 for a counter of a started library, otherwise its status. The lock is held.
int32_t SampledCheck(const SampledLibrary& library, int32_t index);

int32_t SampledGetNumCounters(SampledLibrary& library, uint32_t* count);
int32_t SampledAddCounter(SampledLibrary& library, int32_t index);
int32_t SampledRemoveAllCounters(SampledLibrary& library);
// Publishes the latest reading, waiting at most `timeoutMs` for the first one of counters
// added since the last.
int32_t SampledSample(SampledLibrary& library, uint32_t timeoutMs, uint32_t* count);
int32_t SampledGetCounterValue(SampledLibrary& library, int32_t index, uint64_t* value,
                               uint64_t* cycle);
