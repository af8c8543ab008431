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
    // The binding asks for every identifier on every bind, and the plug-in binds before
    // every poll: one pass over the identifiers, then the position's operation.
    size_t position = 0;
    while (position < kCounterTableSize && kCounterIdentifiers[position] != identifier) ++position;
    switch (position) {
        case kInitializePosition:
            return operations.initialize;
        case kShutdownPosition:
            return operations.shutdown;
        case kGetNumCountersPosition:
            return operations.getNumCounters;
        case kGetCounterNamePosition:
            return operations.getCounterName;
        case kGetCounterDescriptionPosition:
            return operations.getCounterDescription;
        case kGetCounterAttributePosition:
            return operations.getCounterAttribute;
        case kAddCounterPosition:
            return operations.addCounter;
        case kRemoveAllCountersPosition:
            return operations.removeAllCounters;
        case kSamplePosition:
            return operations.sample;
        case kGetCounterValuePosition:
            return operations.getCounterValue;
        case kCounterTableSize:
            return nullptr;  // an identifier that is unknown
        default:
            return AsCounterEntry(Unused);
    }
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
