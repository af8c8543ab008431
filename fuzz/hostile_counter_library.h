// A counter library in process whose every answer comes from the fuzz input: statuses,
// counts, texts (unterminated, or claiming any length), values, cycles, attributes, and
// which identifiers the query entry knows.
#pragma once

#include "fuzz_input.h"

// Makes `input` the source of every answer and installs the library as the binding's
// loader. The input must outlive the calls; null detaches it, and every answer is 0.
void UseHostileCounterLibrary(FuzzInput* input);
