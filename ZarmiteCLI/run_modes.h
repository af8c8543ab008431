#pragma once

#include <cstdint>

#include "probe_io.h"

// The probe from start to end: binds the counter library, reports the number of counters
// and runs list, sweep or single mode by its arguments. Always ends through Shutdown;
// returns the exit status: 0 for every run that reaches its end, 1 for one that ended
// early because its output could not be written.
int RunProbe(int argc, const char* const* argv, const ProbeIo& io);

// One past the last counter index that list and sweep mode visit for a library of
// `count` counters: at most the largest signed 32-bit index is reached.
uint32_t ProbeCounterEnd(uint32_t count);
