#include "query_answer.h"

#include <cstring>

namespace {

// Accepts any argument list and does nothing: the C calling convention leaves the
// arguments to the caller.
int32_t COUNTER_CALL Unused() {
    return 0;
}

}  // namespace

CounterEntry AnswerQuery(const CounterOperations& operations, uint32_t identifier) {
    const struct {
        size_t position;
        CounterEntry entry;
    } known[] = {
        {kInitializePosition, operations.initialize},
        {kShutdownPosition, operations.shutdown},
        {kGetNumCountersPosition, operations.getNumCounters},
        {kGetCounterNamePosition, operations.getCounterName},
        {kGetCounterDescriptionPosition, operations.getCounterDescription},
        {kGetCounterAttributePosition, operations.getCounterAttribute},
        {kAddCounterPosition, operations.addCounter},
        {kRemoveAllCountersPosition, operations.removeAllCounters},
        {kSamplePosition, operations.sample},
        {kGetCounterValuePosition, operations.getCounterValue},
    };
    for (const auto& operation : known) {
        if (kCounterIdentifiers[operation.position] == identifier) return operation.entry;
    }
    for (uint32_t other : kCounterIdentifiers) {
        if (other == identifier) return AsCounterEntry(Unused);
    }
    return nullptr;
}

int32_t CopyCounterText(const std::string& text, char* buffer, uint32_t* length,
                        int32_t badArgument) {
    if (buffer == nullptr || length == nullptr || *length == 0) return badArgument;
    const size_t size = text.size() < *length - 1 ? text.size() : *length - 1;
    memcpy(buffer, text.data(), size);
    buffer[size] = '\0';
    *length = static_cast<uint32_t>(text.size() + 1);
    return 0;
}
