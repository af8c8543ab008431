#pragma once

#include <cstdint>

// Values returned in place of a reading.
constexpr float kNoSourceValue = 3.4028235e38f;  // no source at that position
constexpr float kBindFailedValue = 0.1f;
constexpr float kAddFailedValue = 0.2f;  // also for an ID that names no counter
constexpr float kSampleFailedValue = 0.3f;
constexpr float kValueFailedValue = 0.4f;

// One reading of the source at `index`: binds the library, adds the counter, samples it,
// and turns value and cycle into a raw count or a percentage with the source's value
// modification applied. Failures come back as the values above.
float SampleSource(uint32_t index);

// The value modification `modType` with operand `factor` applied to reading `x`, on 32-bit
// floats. Types outside 1 to 6 return `x`.
float ApplyModification(int32_t modType, float factor, float x);
