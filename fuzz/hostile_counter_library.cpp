#include "hostile_counter_library.h"

#include "counter_library.h"

namespace {

FuzzInput* g_input = nullptr;
int g_token = 0;

int32_t COUNTER_CALL Initialize() {
    return g_input->Status();
}
int32_t COUNTER_CALL Status() {
    return g_input->Status();
}

int32_t COUNTER_CALL NumCounters(uint32_t* count) {
    *count = g_input->Take<uint8_t>();  // a large count only makes the probe's loops long
    return g_input->Status();
}

// Writes what the input says, up to the capacity the caller announced, terminated or not,
// and claims any length back.
int32_t COUNTER_CALL Text(int32_t, char* buffer, uint32_t* length) {
    g_input->Bytes(buffer, *length);
    *length = g_input->Take<uint32_t>();
    return g_input->Status();
}

int32_t COUNTER_CALL Attribute(int32_t, int32_t, uint64_t* value) {
    *value = g_input->Take<uint64_t>();
    return g_input->Status();
}

int32_t COUNTER_CALL Add(int32_t) {
    return g_input->Status();
}

int32_t COUNTER_CALL TakeSample(void*, uint32_t* count) {
    *count = g_input->Take<uint32_t>();
    return g_input->Status();
}

int32_t COUNTER_CALL Value(int32_t, int32_t, uint64_t* value, uint64_t* cycle) {
    *value = g_input->Take<uint64_t>();
    *cycle = g_input->Take<uint8_t>() % 3 == 0 ? 0 : g_input->Take<uint64_t>();
    return g_input->Status();
}

template <typename Function>
CounterEntry AsEntry(Function function) {
    return reinterpret_cast<CounterEntry>(function);
}

CounterEntry COUNTER_CALL Query(uint32_t identifier) {
    if (g_input->Take<uint8_t>() % 16 == 0) return nullptr;  // an identifier it does not know
    switch (identifier) {
        case kCounterIdentifiers[kInitializePosition]:
            return AsEntry(Initialize);
        case kCounterIdentifiers[kGetNumCountersPosition]:
            return AsEntry(NumCounters);
        case kCounterIdentifiers[kGetCounterNamePosition]:
        case kCounterIdentifiers[kGetCounterDescriptionPosition]:
            return AsEntry(Text);
        case kCounterIdentifiers[kGetCounterAttributePosition]:
            return AsEntry(Attribute);
        case kCounterIdentifiers[kAddCounterPosition]:
            return AsEntry(Add);
        case kCounterIdentifiers[kSamplePosition]:
            return AsEntry(TakeSample);
        case kCounterIdentifiers[kGetCounterValuePosition]:
            return AsEntry(Value);
        default:
            return AsEntry(Status);  // Shutdown, RemoveAllCounters, the unused ones
    }
}

void* Open(const char*) {
    return g_input->Take<uint8_t>() % 32 == 0 ? nullptr : &g_token;
}

CounterEntry Symbol(void*, const char*) {
    return g_input->Take<uint8_t>() % 32 == 0 ? nullptr : AsEntry(Query);
}

const CounterLibraryLoader kHostileLoader = {Open, Symbol};

}  // namespace

void UseHostileCounterLibrary(FuzzInput* input) {
    static FuzzInput nothing(nullptr, 0);
    g_input = input != nullptr ? input : &nothing;
    SetCounterLibraryLoader(&kHostileLoader);
}
