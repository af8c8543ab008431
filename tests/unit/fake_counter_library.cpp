#include "fake_counter_library.h"

#include <cstring>

#include "counter_library.h"

namespace {

FakeCounterLibrary* g_fake = nullptr;
int g_libraryToken = 0;

int32_t Failure(const char* operation) {
    auto found = g_fake->failures.find(operation);
    return found == g_fake->failures.end() ? 0 : found->second;
}

const FakeCounter* CounterAt(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= g_fake->counters.size()) return nullptr;
    return &g_fake->counters[static_cast<size_t>(index)];
}

int32_t COUNTER_CALL FakeInitialize() {
    g_fake->calls.push_back("Initialize");
    return g_fake->initializeResult;
}

int32_t COUNTER_CALL FakeShutdown() {
    g_fake->calls.push_back("Shutdown");
    return Failure("Shutdown");
}

int32_t COUNTER_CALL FakeGetNumCounters(uint32_t* count) {
    g_fake->calls.push_back("GetNumCounters");
    if (int32_t status = Failure("GetNumCounters")) return status;
    *count = static_cast<uint32_t>(g_fake->counters.size());
    return 0;
}

int32_t CopyText(const std::string& text, char* buffer, uint32_t* length) {
    if (g_fake->textsUnterminated) {
        for (uint32_t i = 0; i < *length; ++i)
            buffer[i] = text.empty() ? 'x' : text[i % text.size()];
    } else {
        size_t size = text.size() < *length ? text.size() : *length - 1;
        memcpy(buffer, text.data(), size);
        buffer[size] = '\0';
    }
    *length = static_cast<uint32_t>(text.size() + 1);
    return 0;
}

int32_t COUNTER_CALL FakeGetCounterName(int32_t index, char* buffer, uint32_t* length) {
    g_fake->calls.push_back("GetCounterName " + std::to_string(index) + " " +
                            std::to_string(*length));
    if (int32_t status = Failure("GetCounterName")) return status;
    const FakeCounter* counter = CounterAt(index);
    return counter == nullptr ? 1 : CopyText(counter->name, buffer, length);
}

int32_t COUNTER_CALL FakeGetCounterDescription(int32_t index, char* buffer, uint32_t* length) {
    g_fake->calls.push_back("GetCounterDescription " + std::to_string(index) + " " +
                            std::to_string(*length));
    if (int32_t status = Failure("GetCounterDescription")) return status;
    const FakeCounter* counter = CounterAt(index);
    return counter == nullptr ? 1 : CopyText(counter->description, buffer, length);
}

int32_t COUNTER_CALL FakeGetCounterAttribute(int32_t index, int32_t attribute, uint64_t* value) {
    g_fake->calls.push_back("GetCounterAttribute " + std::to_string(index) + " " +
                            std::to_string(attribute));
    if (int32_t status = Failure("GetCounterAttribute")) return status;
    const FakeCounter* counter = CounterAt(index);
    if (counter == nullptr) return 1;
    *value = counter->kind;
    return 0;
}

int32_t COUNTER_CALL FakeAddCounter(int32_t index) {
    g_fake->calls.push_back("AddCounter " + std::to_string(index));
    if (int32_t status = Failure("AddCounter")) return status;
    if (CounterAt(index) == nullptr) return 1;
    g_fake->added.insert(index);
    return 0;
}

int32_t COUNTER_CALL FakeRemoveAllCounters() {
    g_fake->calls.push_back("RemoveAllCounters");
    g_fake->added.clear();
    return Failure("RemoveAllCounters");
}

int32_t COUNTER_CALL FakeSample(void* reserved, uint32_t* count) {
    g_fake->calls.push_back(reserved == nullptr ? "Sample" : "Sample non-null");
    (void)count;
    if (int32_t status = Failure("Sample")) return status;
    ++g_fake->samples;
    return 0;
}

int32_t COUNTER_CALL FakeGetCounterValue(int32_t index, int32_t reserved, uint64_t* value,
                                         uint64_t* cycle) {
    g_fake->calls.push_back("GetCounterValue " + std::to_string(index) + " " +
                            std::to_string(reserved));
    if (int32_t status = Failure("GetCounterValue")) return status;
    const FakeCounter* counter = CounterAt(index);
    if (counter == nullptr || g_fake->added.count(index) == 0) return 2;
    *value = counter->value;
    *cycle = counter->cycle;
    return 0;
}

template <typename Function>
CounterEntry AsEntry(Function function) {
    return reinterpret_cast<CounterEntry>(function);
}

CounterEntry COUNTER_CALL FakeQuery(uint32_t identifier) {
    g_fake->queries.push_back(identifier);
    if (g_fake->refusedIdentifiers.count(identifier) != 0) return nullptr;
    switch (identifier) {
        case 0x38A4618F:
            return AsEntry(FakeInitialize);
        case 0x8E91D6F1:
            return AsEntry(FakeShutdown);
        case 0xA2933EEA:
            return AsEntry(FakeGetNumCounters);
        case 0xC6802424:
            return AsEntry(FakeGetCounterName);
        case 0x57FC239E:
            return AsEntry(FakeGetCounterDescription);
        case 0x4565C505:
            return AsEntry(FakeGetCounterAttribute);
        case 0xCD4624B6:
            return AsEntry(FakeAddCounter);
        case 0xCBA836E1:
            return AsEntry(FakeRemoveAllCounters);
        case 0x35E5552F:
            return AsEntry(FakeSample);
        case 0x1E0D2A02:
            return AsEntry(FakeGetCounterValue);
        default:
            return nullptr;
    }
}

void* FakeOpen(const char* fileName) {
    if (strcmp(fileName, kCounterLibraryFileName) != 0 || g_fake->loadFails) return nullptr;
    ++g_fake->loads;
    return &g_libraryToken;
}

CounterEntry FakeSymbol(void* library, const char* name) {
    if (library != &g_libraryToken || strcmp(name, kCounterQueryEntryName) != 0 ||
        g_fake->lacksQueryEntry) {
        return nullptr;
    }
    return AsEntry(FakeQuery);
}

const CounterLibraryLoader kFakeLoader = {FakeOpen, FakeSymbol};

}  // namespace

void UnbindCounterTable() {
    for (COUNTER_TABLE_ENTRY& slot : g_counterTable) slot.entry = AsEntry(NotBoundEntry);
    g_bindStatus = 0;
}

FakeCounterLibrary::FakeCounterLibrary() {
    UnbindCounterTable();
    g_fake = this;
    SetCounterLibraryLoader(&kFakeLoader);
}

FakeCounterLibrary::~FakeCounterLibrary() {
    SetCounterLibraryLoader(nullptr);
    UnbindCounterTable();
    g_fake = nullptr;
}

int FakeCounterLibrary::CountCalls(const std::string& prefix) const {
    int count = 0;
    for (const std::string& call : calls) count += call.compare(0, prefix.size(), prefix) == 0;
    return count;
}
