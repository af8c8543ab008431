#pragma once

#include "probe_io.h"

// The probe from start to end: binds the counter library, reports the number of counters
// and runs list, sweep or single mode by its arguments. Always ends through Shutdown;
// returns the exit status, 0 for every run that reaches its end.
int RunProbe(int argc, const char* const* argv, const ProbeIo& io);
