// The counter library's query entry and operations, answered from Windows' own GPU
// performance counters. Counter a * 16 + m is metric m of adapter a (adapter_counters.h),
// adapters in DXGI's order, or in ascending LUID order where DXGI does not answer. One
// collection on the background sampler's thread serves every counter.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "adapter_counters.h"
#include "background_sampler.h"
#include "counter_library.h"
#include "gpu_counters.h"
#include "gpu_instances.h"
#include "plat_export.h"
#include "query_answer.h"
#include "sampled_operations.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kDefaultPeriodMs = 1000;

struct Adapter {
    AdapterLuid luid;
    std::string name;
    AdapterTotals totals;
};

// Never destroyed: a host may exit while the sampler reads.
struct Library {
    SampledLibrary core;  // the lock, whether started, the count
    bool exiting = false;
    // Fixed from Initialize to Shutdown; the sampler's thread takes a copy under its own
    // lock (a Sample waiting for a reading holds the operations' lock).
    std::mutex adaptersLock;
    std::vector<Adapter> adapters;
    Clock::time_point baseline;  // when the rates' first collection was taken
    uint32_t periodMs = kDefaultPeriodMs;
    bool firstReading = true;  // the sampler's thread alone reads and writes it
};

Library& State() {
    static Library* library = new Library;
    return *library;
}

uint32_t CounterCount(const Library& library) {
    return static_cast<uint32_t>(library.adapters.size()) * kAdapterMetrics;
}

// One collection for every counter. The first waits out a period after the baseline, so
// that the rates cover a real interval.
void ReadAll(void*, const uint8_t*, size_t count, CounterReading* out) {
    Library& library = State();
    if (library.firstReading) {
        library.firstReading = false;
        const auto due = library.baseline + std::chrono::milliseconds(library.periodMs);
        const auto now = Clock::now();
        if (due > now &&
            !sampler_sleep(static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count())))
            return;
    }
    std::vector<Adapter> adapters;
    {
        std::lock_guard<std::mutex> guard(library.adaptersLock);
        adapters = library.adapters;
    }
    PlatGpuCollection collection;
    const bool collected = plat_gpu_counters_collect(collection);
    for (size_t a = 0; a < adapters.size() && a * kAdapterMetrics + kAdapterMetrics <= count; ++a) {
        CounterReading* readings = out + a * kAdapterMetrics;
        if (!collected) {
            for (uint32_t m = 0; m < kAdapterMetrics; ++m)
                readings[m] = CounterReading{kCollectionFailed, 0, 0};
            continue;
        }
        const Adapter& adapter = adapters[a];
        adapter_readings(
            LoadOf(adapter.luid, collection.engines, collection.dedicated, collection.shared),
            adapter.totals, readings);
        // A memory counter the system lacks fails its value instead of reading 0.
        if (!collection.haveDedicated) readings[6] = CounterReading{kNoSuchValue, 0, 0};
        if (!collection.haveShared) readings[7] = CounterReading{kNoSuchValue, 0, 0};
    }
}

std::string LuidName(const AdapterLuid& luid) {
    char text[48];
    snprintf(text, sizeof text, "LUID 0x%08X_0x%08X", luid.high, luid.low);
    return text;
}

// DXGI's adapters where it answers; otherwise those the baseline collection names.
void FindAdapters(Library& library) {
    std::lock_guard<std::mutex> guard(library.adaptersLock);
    library.adapters.clear();
    std::vector<PlatGpuAdapter> found;
    // DXGI that answers with no hardware adapter (a headless system) is no answer either.
    if (plat_gpu_adapters(found) && !found.empty()) {
        for (const PlatGpuAdapter& a : found)
            library.adapters.push_back(
                Adapter{{a.luidHigh, a.luidLow}, a.description, {false, 0, 0}});
    } else {
        PlatGpuCollection collection;
        plat_gpu_counters_collect(collection);
        std::vector<CounterItem> memory = collection.dedicated;
        memory.insert(memory.end(), collection.shared.begin(), collection.shared.end());
        for (const AdapterLuid& luid : AdaptersNamed(collection.engines, memory))
            library.adapters.push_back(Adapter{luid, LuidName(luid), {false, 0, 0}});
    }
    for (Adapter& adapter : library.adapters) {
        adapter.totals.known =
            plat_gpu_segment_sizes(adapter.luid.high, adapter.luid.low,
                                   &adapter.totals.dedicatedBytes, &adapter.totals.sharedBytes);
    }
}

void EndLocked(Library& library) {
    if (!library.core.started) return;
    sampler_stop();
    plat_gpu_counters_close();
    std::lock_guard<std::mutex> guard(library.adaptersLock);
    library.adapters.clear();
    library.core.started = false;
    library.core.counters = 0;
}

// At exit nothing more is read, and pdh.dll, which may already be gone, is not called:
// the system frees the query with the process.
void EndAtExit() {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    if (library.core.started) sampler_stop_at_exit();
    library.core.started = false;
    library.exiting = true;
}

int32_t COUNTER_CALL GpuInitialize() {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    if (library.exiting) return kGpuCountersNoQuery;
    if (library.core.started) return 0;  // the plug-in starts the library before every poll
    const int32_t opened = plat_gpu_counters_open();
    if (opened != 0) return opened;
    FindAdapters(library);
    // The rates' baseline is the collection taken last: the open's, or FindAdapters' own.
    library.baseline = Clock::now();
    library.periodMs = sampler_period_ms(kDefaultPeriodMs);
    library.firstReading = true;
    if (!sampler_start(CounterCount(library), library.periodMs, ReadAll, nullptr)) {
        plat_gpu_counters_close();
        std::lock_guard<std::mutex> adaptersGuard(library.adaptersLock);
        library.adapters.clear();
        return kGpuCountersNoQuery;
    }
    static std::once_flag registered;
    std::call_once(registered, [] { atexit(EndAtExit); });
    library.core.counters = CounterCount(library);
    library.core.started = true;
    return 0;
}

int32_t COUNTER_CALL GpuShutdown() {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    EndLocked(library);
    return 0;
}

int32_t COUNTER_CALL GpuGetNumCounters(uint32_t* count) {
    return SampledGetNumCounters(State().core, count);
}

int32_t CounterText(int32_t index, bool description, char* buffer, uint32_t* length) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    if (int32_t status = SampledCheck(library.core, index)) return status;
    const uint32_t adapter = static_cast<uint32_t>(index) / kAdapterMetrics;
    const uint32_t metric = static_cast<uint32_t>(index) % kAdapterMetrics;
    if (!description)
        return CopyCounterText(adapter_counter_name(adapter, metric), buffer, length,
                               kSampledBadArgument);
    return CopyCounterText(std::string(adapter_metric(metric).meaning) + " (GPU " +
                               std::to_string(adapter) + ", " + library.adapters[adapter].name +
                               ")",
                           buffer, length, kSampledBadArgument);
}

int32_t COUNTER_CALL GpuGetCounterName(int32_t index, char* buffer, uint32_t* length) {
    return CounterText(index, false, buffer, length);
}

int32_t COUNTER_CALL GpuGetCounterDescription(int32_t index, char* buffer, uint32_t* length) {
    return CounterText(index, true, buffer, length);
}

int32_t COUNTER_CALL GpuGetCounterAttribute(int32_t index, int32_t attribute, uint64_t* value) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.core.lock);
    if (int32_t status = SampledCheck(library.core, index)) return status;
    if (attribute != kCounterKindAttribute || value == nullptr) return kSampledBadArgument;
    *value = adapter_metric(static_cast<uint32_t>(index) % kAdapterMetrics).percent ? 0 : 1;
    return 0;
}

int32_t COUNTER_CALL GpuAddCounter(int32_t index) {
    return SampledAddCounter(State().core, index);
}

int32_t COUNTER_CALL GpuRemoveAllCounters() {
    return SampledRemoveAllCounters(State().core);
}

int32_t COUNTER_CALL GpuSample(void*, uint32_t* count) {
    // The first Sample waits for the first pair of collections, about one period.
    return SampledSample(State().core, 2 * State().periodMs + 1000, count);
}

int32_t COUNTER_CALL GpuGetCounterValue(int32_t index, int32_t, uint64_t* value, uint64_t* cycle) {
    return SampledGetCounterValue(State().core, index, value, cycle);
}

const CounterOperations kOperations = {
    AsCounterEntry(GpuInitialize),
    AsCounterEntry(GpuShutdown),
    AsCounterEntry(GpuGetNumCounters),
    AsCounterEntry(GpuGetCounterName),
    AsCounterEntry(GpuGetCounterDescription),
    AsCounterEntry(GpuGetCounterAttribute),
    AsCounterEntry(GpuAddCounter),
    AsCounterEntry(GpuRemoveAllCounters),
    AsCounterEntry(GpuSample),
    AsCounterEntry(GpuGetCounterValue),
};

}  // namespace

extern "C" PLAT_EXPORT CounterEntry COUNTER_CALL NVPMQueryInterface(uint32_t identifier) {
    return AnswerQuery(kOperations, identifier);
}
