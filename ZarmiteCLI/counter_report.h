// What the probe prints about one counter. Every outcome of the library becomes a line.
#pragma once

#include <cstdint>

#include "probe_io.h"

// The name and description lines.
void PrintCounterInfo(const ProbeIo& io, int32_t index);
// The kind line: raw or percent.
void PrintCounterType(const ProbeIo& io, int32_t index);
// Takes one sample and prints the value line.
void PrintCounterSample(const ProbeIo& io, int32_t index);
