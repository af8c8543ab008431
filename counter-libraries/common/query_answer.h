// What our counter libraries share at their boundary: the query entry's answer, built from
// a library's table of operations, and how an operation hands out a text.
#pragma once

#include <cstdint>
#include <string>

#include "counter_library.h"

// A library's operations, each cast to the untyped entry the query returns.
struct CounterOperations {
    CounterEntry initialize;
    CounterEntry shutdown;
    CounterEntry getNumCounters;
    CounterEntry getCounterName;
    CounterEntry getCounterDescription;
    CounterEntry getCounterAttribute;
    CounterEntry addCounter;
    CounterEntry removeAllCounters;
    CounterEntry sample;
    CounterEntry getCounterValue;
};

template <typename Function>
CounterEntry AsCounterEntry(Function function) {
    return reinterpret_cast<CounterEntry>(function);
}

// The entry for `identifier`: the library's operation, an operation that does nothing for
// the identifiers this system never calls, and null for an identifier that is unknown.
CounterEntry AnswerQuery(const CounterOperations& operations, uint32_t identifier);

// Copies a text as the vendor's library does: cut to the buffer with a terminator, the
// length written back being what the whole text needs. `badArgument` for a buffer of none.
int32_t CopyCounterText(const std::string& text, char* buffer, uint32_t* length,
                        int32_t badArgument);
