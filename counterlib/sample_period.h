// ZARMITE_SAMPLE_PERIOD_MS: the period at which our counter libraries over real drivers
// take their readings, where it is set. Read in one place, so that the libraries take it
// and the probe and the host say when it is not something they can take.
#pragma once

#include <cstdint>

constexpr const char kSamplePeriodVariable[] = "ZARMITE_SAMPLE_PERIOD_MS";
constexpr uint32_t kMaxSamplePeriodMs = 60000;

enum class SamplePeriod { kUnset, kValid, kInvalid };

// What the variable says: unset (or empty), a whole number of milliseconds from 1 to
// 60,000 (in `ms`), or anything else, which the libraries pass over for their own period.
SamplePeriod SamplePeriodSetting(uint32_t* ms);

// The warning a program gives where the variable is set to something it cannot take; ""
// where there is none to give.
const char* SamplePeriodWarning();
