#include <cstring>

#include "counter_library.h"
#include "plat_export.h"
#include "simulation.h"

namespace {

// The sampling set as one bit per counter, allocated on first use and never freed.
uint8_t* g_added = nullptr;
uint64_t g_sampleNumber = 0;  // number of the last sample taken; 0 before the first

bool ValidCounter(int32_t index) {
    return index >= 0 && static_cast<uint32_t>(index) < sim_scenario().counterCount;
}

bool IsAdded(int32_t index) {
    return g_added != nullptr && ValidCounter(index) && (g_added[index / 8] & (1u << (index % 8)));
}

int32_t CopyText(const char* text, char* buffer, uint32_t* length) {
    if (buffer == nullptr || length == nullptr || *length == 0) return kSimBadArgument;
    size_t size = strlen(text);
    if (size < *length) {
        memcpy(buffer, text, size + 1);
    } else if (sim_scenario().unterminatedTexts) {
        memcpy(buffer, text, *length);
    } else {
        memcpy(buffer, text, *length - 1);
        buffer[*length - 1] = '\0';
    }
    *length = static_cast<uint32_t>(size + 1);
    return 0;
}

int32_t COUNTER_CALL SimInitialize() {
    sim_record("Initialize");
    return sim_failure(kSimInitialize, -1);
}

int32_t COUNTER_CALL SimShutdown() {
    sim_record("Shutdown");
    return sim_failure(kSimShutdown, -1);
}

int32_t COUNTER_CALL SimGetNumCounters(uint32_t* count) {
    sim_record("GetNumCounters");
    if (int32_t status = sim_failure(kSimGetNumCounters, -1)) return status;
    if (count == nullptr) return kSimBadArgument;
    *count = sim_scenario().counterCount;
    return 0;
}

int32_t GetText(SimOperation operation, int32_t index, char* buffer, uint32_t* length) {
    sim_record("%s %d", sim_operation_name(operation), index);
    if (int32_t status = sim_failure(operation, index)) return status;
    if (!ValidCounter(index)) return kSimBadCounter;
    char scratch[32];
    SimCounterInfo info = sim_counter_info(index, scratch, sizeof scratch);
    return CopyText(operation == kSimGetCounterName ? info.name : info.description, buffer, length);
}

int32_t COUNTER_CALL SimGetCounterName(int32_t index, char* buffer, uint32_t* length) {
    return GetText(kSimGetCounterName, index, buffer, length);
}

int32_t COUNTER_CALL SimGetCounterDescription(int32_t index, char* buffer, uint32_t* length) {
    return GetText(kSimGetCounterDescription, index, buffer, length);
}

int32_t COUNTER_CALL SimGetCounterAttribute(int32_t index, int32_t attribute, uint64_t* value) {
    sim_record("GetCounterAttribute %d %d", index, attribute);
    if (int32_t status = sim_failure(kSimGetCounterAttribute, index)) return status;
    if (!ValidCounter(index) || value == nullptr) return kSimBadCounter;
    if (attribute != kCounterKindAttribute) return kSimBadArgument;
    char scratch[32];
    *value = sim_counter_info(index, scratch, sizeof scratch).raw ? 1 : 0;
    return 0;
}

int32_t COUNTER_CALL SimAddCounter(int32_t index) {
    sim_record("AddCounter %d", index);
    if (int32_t status = sim_failure(kSimAddCounter, index)) return status;
    if (!ValidCounter(index)) return kSimBadCounter;
    if (g_added == nullptr) g_added = new uint8_t[sim_scenario().counterCount / 8 + 1]();
    g_added[index / 8] = static_cast<uint8_t>(g_added[index / 8] | (1u << (index % 8)));
    return 0;
}

int32_t COUNTER_CALL SimRemoveAllCounters() {
    sim_record("RemoveAllCounters");
    if (int32_t status = sim_failure(kSimRemoveAllCounters, -1)) return status;
    if (g_added != nullptr) memset(g_added, 0, sim_scenario().counterCount / 8 + 1);
    return 0;
}

int32_t COUNTER_CALL SimSample(void* reserved, uint32_t* count) {
    (void)reserved;
    sim_record("Sample");
    if (int32_t status = sim_failure(kSimSample, -1)) return status;
    ++g_sampleNumber;
    sim_clients_sampled(g_sampleNumber);
    if (count != nullptr) *count = 0;
    return 0;
}

int32_t COUNTER_CALL SimGetCounterValue(int32_t index, int32_t reserved, uint64_t* value,
                                        uint64_t* cycle) {
    (void)reserved;
    sim_record("GetCounterValue %d", index);
    if (int32_t status = sim_failure(kSimGetCounterValue, index)) return status;
    if (!IsAdded(index)) return kSimNotAdded;
    if (g_sampleNumber == 0) return kSimNothingSampled;
    if (value == nullptr || cycle == nullptr) return kSimBadArgument;
    sim_counter_reading(index, g_sampleNumber, value, cycle);
    return 0;
}

// The positions that this system never calls still answer, with an operation that
// accepts any argument list and does nothing.
int32_t COUNTER_CALL SimUnused() {
    return 0;
}

template <typename Function>
CounterEntry AsEntry(Function function) {
    return reinterpret_cast<CounterEntry>(function);
}

CounterEntry Lookup(uint32_t identifier) {
    switch (identifier) {
        case 0x38A4618F:
            return AsEntry(SimInitialize);
        case 0x8E91D6F1:
            return AsEntry(SimShutdown);
        case 0xA2933EEA:
            return AsEntry(SimGetNumCounters);
        case 0xC6802424:
            return AsEntry(SimGetCounterName);
        case 0x57FC239E:
            return AsEntry(SimGetCounterDescription);
        case 0x4565C505:
            return AsEntry(SimGetCounterAttribute);
        case 0xCD4624B6:
            return AsEntry(SimAddCounter);
        case 0xCBA836E1:
            return AsEntry(SimRemoveAllCounters);
        case 0x35E5552F:
            return AsEntry(SimSample);
        case 0x1E0D2A02:
            return AsEntry(SimGetCounterValue);
    }
    for (uint32_t known : kCounterIdentifiers) {
        if (known == identifier) return AsEntry(SimUnused);
    }
    return nullptr;
}

}  // namespace

uint64_t sim_sample_number() {
    return g_sampleNumber;
}

extern "C" PLAT_EXPORT CounterEntry COUNTER_CALL NVPMQueryInterface(uint32_t identifier) {
    sim_record("query 0x%08X", identifier);
    if (sim_identifier_refused(identifier)) return nullptr;
    return Lookup(identifier);
}
