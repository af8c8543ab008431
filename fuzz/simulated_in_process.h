// The simulated counter library, linked into the fuzz target, reached through the binding
// without loading anything: the fastest way to the plug-in's own code.
#pragma once

#include <cstdint>

#include "counter_library.h"

extern "C" CounterEntry COUNTER_CALL NVPMQueryInterface(uint32_t identifier);

// Makes the binding use the linked-in simulated library.
inline void UseSimulatedInProcess() {
    static int token = 0;
    static const CounterLibraryLoader loader = {
        [](const char*) -> void* { return &token; },
        [](void*, const char*) { return reinterpret_cast<CounterEntry>(NVPMQueryInterface); }};
    SetCounterLibraryLoader(&loader);
}

// The most sources a fuzz input has polled: enough to reach every path of a poll.
constexpr uint32_t kMaxSourcesPolled = 64;
