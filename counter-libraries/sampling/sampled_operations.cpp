#include "sampled_operations.h"

#include "background_sampler.h"

int32_t SampledCheck(const SampledLibrary& library, int32_t index) {
    if (!library.started) return kSampledNotStarted;
    if (index < 0 || static_cast<uint32_t>(index) >= library.counters) return kSampledBadArgument;
    return 0;
}

int32_t SampledGetNumCounters(SampledLibrary& library, uint32_t* count) {
    std::lock_guard<std::mutex> guard(library.lock);
    if (!library.started) return kSampledNotStarted;
    if (count == nullptr) return kSampledBadArgument;
    *count = library.counters;
    return 0;
}

int32_t SampledAddCounter(SampledLibrary& library, int32_t index) {
    std::lock_guard<std::mutex> guard(library.lock);
    if (int32_t status = SampledCheck(library, index)) return status;
    sampler_want(static_cast<size_t>(index));
    return 0;
}

int32_t SampledRemoveAllCounters(SampledLibrary& library) {
    std::lock_guard<std::mutex> guard(library.lock);
    if (!library.started) return kSampledNotStarted;
    sampler_want_none();
    return 0;
}

int32_t SampledSample(SampledLibrary& library, uint32_t timeoutMs, uint32_t* count) {
    std::lock_guard<std::mutex> guard(library.lock);
    if (!library.started) return kSampledNotStarted;
    sampler_publish(timeoutMs);
    if (count != nullptr) *count = 0;
    return 0;
}

int32_t SampledGetCounterValue(SampledLibrary& library, int32_t index, uint64_t* value,
                               uint64_t* cycle) {
    std::lock_guard<std::mutex> guard(library.lock);
    if (int32_t status = SampledCheck(library, index)) return status;
    if (value == nullptr || cycle == nullptr) return kSampledBadArgument;
    const CounterReading reading = sampler_published(static_cast<size_t>(index), kSampledNotAdded);
    if (reading.status != 0) return reading.status;
    *value = reading.value;
    *cycle = reading.cycle;
    return 0;
}
