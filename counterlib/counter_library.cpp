#include "counter_library.h"

#include "platform.h"

namespace {

COUNTER_TABLE_ENTRY Unbound(size_t position) {
    return {reinterpret_cast<CounterEntry>(NotBoundEntry), kCounterIdentifiers[position]};
}

const CounterLibraryLoader kPlatformLoader = {plat_library_open, plat_library_symbol};
const CounterLibraryLoader* g_loader = &kPlatformLoader;

template <typename Function>
Function EntryAs(size_t position) {
    return reinterpret_cast<Function>(g_counterTable[position].entry);
}

}  // namespace

COUNTER_TABLE_ENTRY g_counterTable[kCounterTableSize] = {
    Unbound(0),  Unbound(1),  Unbound(2),  Unbound(3),  Unbound(4),  Unbound(5),  Unbound(6),
    Unbound(7),  Unbound(8),  Unbound(9),  Unbound(10), Unbound(11), Unbound(12), Unbound(13),
    Unbound(14), Unbound(15), Unbound(16), Unbound(17), Unbound(18), Unbound(19), Unbound(20),
    Unbound(21), Unbound(22), Unbound(23), Unbound(24), Unbound(25), Unbound(26), Unbound(27),
    Unbound(28), Unbound(29), Unbound(30),
};

int32_t g_bindStatus = 0;

int32_t COUNTER_CALL NotBoundEntry() {
    return kStatusNotBound;
}

void SetCounterLibraryLoader(const CounterLibraryLoader* loader) {
    g_loader = loader != nullptr ? loader : &kPlatformLoader;
}

static int32_t BindOnce() {
    // The handle is never released: the library stays loaded for the life of the process,
    // and each bind adds one reference.
    void* library = g_loader->open(kCounterLibraryFileName);
    if (library == nullptr) return kStatusLoadFailed;

    auto query =
        reinterpret_cast<CounterQueryEntry>(g_loader->symbol(library, kCounterQueryEntryName));
    if (query == nullptr) return kStatusNoQueryEntry;

    auto initialize = reinterpret_cast<int32_t(COUNTER_CALL*)()>(query(kInitializeIdentifier));
    if (initialize == nullptr) return kStatusNoQueryEntry;
    int32_t initialized = initialize();
    if (initialized < 0) return initialized;

    for (COUNTER_TABLE_ENTRY& slot : g_counterTable) {
        CounterEntry entry = query(slot.identifier);
        if (entry != nullptr) slot.entry = entry;
    }
    return 0;
}

int32_t BindCounterLibrary() {
    g_bindStatus = BindOnce();
    return g_bindStatus;
}

int32_t Shutdown() {
    return EntryAs<int32_t(COUNTER_CALL*)()>(kShutdownPosition)();
}

int32_t GetNumCounters(uint32_t* count) {
    return EntryAs<int32_t(COUNTER_CALL*)(uint32_t*)>(kGetNumCountersPosition)(count);
}

int32_t GetCounterName(int32_t index, char* buffer, uint32_t* length) {
    return EntryAs<int32_t(COUNTER_CALL*)(int32_t, char*, uint32_t*)>(kGetCounterNamePosition)(
        index, buffer, length);
}

int32_t GetCounterDescription(int32_t index, char* buffer, uint32_t* length) {
    return EntryAs<int32_t(COUNTER_CALL*)(int32_t, char*, uint32_t*)>(
        kGetCounterDescriptionPosition)(index, buffer, length);
}

int32_t GetCounterAttribute(int32_t index, int32_t attribute, uint64_t* value) {
    return EntryAs<int32_t(COUNTER_CALL*)(int32_t, int32_t, uint64_t*)>(
        kGetCounterAttributePosition)(index, attribute, value);
}

int32_t AddCounter(int32_t index) {
    return EntryAs<int32_t(COUNTER_CALL*)(int32_t)>(kAddCounterPosition)(index);
}

int32_t RemoveAllCounters() {
    return EntryAs<int32_t(COUNTER_CALL*)()>(kRemoveAllCountersPosition)();
}

int32_t Sample(void* reserved, uint32_t* count) {
    return EntryAs<int32_t(COUNTER_CALL*)(void*, uint32_t*)>(kSamplePosition)(reserved, count);
}

int32_t GetCounterValue(int32_t index, int32_t reserved, uint64_t* value, uint64_t* cycle) {
    return EntryAs<int32_t(COUNTER_CALL*)(int32_t, int32_t, uint64_t*, uint64_t*)>(
        kGetCounterValuePosition)(index, reserved, value, cycle);
}
